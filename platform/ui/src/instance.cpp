// The registry of running frames shared by this user's processes: one file per published
// top-level window (class, title, socket) in the runtime folder, and a unix socket per
// process on which foreground requests and WM_COPYDATA arrive.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "wm.h"

namespace platform::ui {

std::string RuntimeDirectory() { return platform::RuntimeDirectory(); }

}  // namespace platform::ui

namespace platform::ui::detail {

namespace {

struct Registry {
    std::mutex mu;
    std::set<std::wstring> published;  // lower-case class names
    std::string socketPath;
    int listenFd = -1;
    std::map<uintptr_t, std::string> files;  // announced window -> its file
    std::map<std::string, HWND> proxies;     // "socket handle" -> local proxy
};

Registry& Reg() {
    static auto* r = new Registry;
    return *r;
}

// Serialises writers and readers of the registry folder across processes.
struct FolderLock {
    int fd;
    FolderLock() {
        fd = open((RuntimeDirectory() + "/frames.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) flock(fd, LOCK_EX);
    }
    ~FolderLock() {
        if (fd >= 0) close(fd);
    }
};

bool ReadLine(int fd, std::string* line) {
    line->clear();
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c == '\n') return true;
        line->push_back(c);
        if (line->size() > 256) return false;
    }
    return false;
}

bool ReadAll(int fd, void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n) {
        ssize_t r = read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const void* buf, size_t n) {
    auto* p = static_cast<const char*>(buf);
    while (n) {
        ssize_t r = write(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

void Serve(int fd) {
    std::string line;
    if (!ReadLine(fd, &line)) return;
    std::istringstream in(line);
    std::string verb;
    unsigned long long handle = 0;
    in >> verb >> handle;
    HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
    LRESULT result = 0;
    if (verb == "FG") {
        CountForegroundRequest();
        result = IsWindow(h) ? SetForegroundWindow(h) : 0;
    } else if (verb == "CD") {
        unsigned long long wParam = 0, data = 0, size = 0;
        in >> wParam >> data >> size;
        if (size > (16u << 20)) return;  // a bounded payload
        std::vector<char> bytes(size);
        if (size && !ReadAll(fd, bytes.data(), size)) return;
        COPYDATASTRUCT cds{static_cast<ULONG_PTR>(data), static_cast<DWORD>(size), size ? bytes.data() : nullptr};
        if (IsWindow(h)) result = SendMessageW(h, WM_COPYDATA, static_cast<WPARAM>(wParam), reinterpret_cast<LPARAM>(&cds));
    }
    std::string reply = "OK " + std::to_string(static_cast<long long>(result)) + "\n";
    WriteAll(fd, reply.data(), reply.size());
}

// Removes the sockets of processes of this user that ended without removing theirs.
void RemoveStaleSockets(const std::string& dir) {
    std::vector<std::string> stale;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() <= 5 || n.compare(n.size() - 5, 5, ".sock") != 0) continue;
            std::string digits = n.substr(0, n.size() - 5);
            if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
            int pid = std::atoi(digits.c_str());
            if (pid > 0 && pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) stale.push_back(dir + "/" + n);
        }
        closedir(d);
    }
    for (auto& path : stale) unlink(path.c_str());
}

void EnsureListener() {
    auto& r = Reg();
    if (r.listenFd >= 0) return;
    RemoveStaleSockets(RuntimeDirectory());
    r.socketPath = RuntimeDirectory() + "/" + std::to_string(getpid()) + ".sock";
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (r.socketPath.size() >= sizeof addr.sun_path) {
        close(fd);
        return;
    }
    std::strcpy(addr.sun_path, r.socketPath.c_str());
    unlink(r.socketPath.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return;
    }
    r.listenFd = fd;
    std::thread([fd] {
        for (;;) {
            int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                if (errno == EINTR) continue;
                // Shut down once the last announced window went: the socket is ours to close.
                if (errno == EINVAL) close(fd);
                return;
            }
            timeval tv{5, 0};
            setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            Serve(c);
            close(c);
        }
    }).detach();
}

int Connect(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        close(fd);
        return -1;
    }
    std::strcpy(addr.sun_path, path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

// One request to another process; its result, or -1 when it cannot be reached.
long long Request(const std::string& path, const std::string& head, const void* payload, size_t size) {
    int fd = Connect(path);
    if (fd < 0) return -1;
    long long result = -1;
    if (WriteAll(fd, head.data(), head.size()) && (!size || WriteAll(fd, payload, size))) {
        std::string line;
        if (ReadLine(fd, &line) && line.rfind("OK ", 0) == 0) result = std::atoll(line.c_str() + 3);
    }
    close(fd);
    return result;
}

}  // namespace

void AnnounceWindow(const std::shared_ptr<Window>& w) {
    auto& r = Reg();
    std::lock_guard lk(r.mu);
    if (!r.published.count(Lower(w->cls->name))) return;
    EnsureListener();
    if (r.listenFd < 0) return;
    std::string file = RuntimeDirectory() + "/" + std::to_string(getpid()) + "-" +
                       std::to_string(reinterpret_cast<uintptr_t>(w->h)) + ".win";
    FolderLock lock;
    std::ofstream out(file, std::ios::trunc);
    out << getpid() << "\n" << reinterpret_cast<uintptr_t>(w->h) << "\n" << r.socketPath << "\n"
        << platform::WideToUtf8(w->cls->name) << "\n" << platform::WideToUtf8(w->text) << "\n";
    r.files[reinterpret_cast<uintptr_t>(w->h)] = file;
}

void WithdrawWindow(HWND h) {
    auto& r = Reg();
    std::lock_guard lk(r.mu);
    auto it = r.files.find(reinterpret_cast<uintptr_t>(h));
    if (it == r.files.end()) return;
    FolderLock lock;
    unlink(it->second.c_str());
    r.files.erase(it);
    // Nothing of this process can be reached any more: its socket goes too.
    if (r.files.empty() && r.listenFd >= 0) {
        unlink(r.socketPath.c_str());
        shutdown(r.listenFd, SHUT_RDWR);  // wakes the accepting thread, which closes it
        r.listenFd = -1;
    }
}

HWND FindRemoteWindow(const std::wstring& cls, const std::wstring* title) {
    std::string dir = RuntimeDirectory();
    std::vector<std::string> names;
    {
        FolderLock lock;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".win") == 0) names.push_back(n);
            }
            closedir(d);
        }
    }
    for (auto& n : names) {
        std::ifstream in(dir + "/" + n);
        std::string pidText, handleText, sock, c8, t8;
        if (!std::getline(in, pidText) || !std::getline(in, handleText) || !std::getline(in, sock) ||
            !std::getline(in, c8))
            continue;
        std::getline(in, t8);
        int pid = std::atoi(pidText.c_str());
        if (pid == getpid()) continue;
        if (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH)) {
            // Left behind by a process that ended without withdrawing it.
            FolderLock lock;
            unlink((dir + "/" + n).c_str());
            continue;
        }
        if (Lower(platform::Utf8ToWide(c8)) != Lower(cls)) continue;
        if (title && platform::Utf8ToWide(t8) != *title) continue;
        int probe = Connect(sock);
        if (probe < 0) continue;
        close(probe);
        std::string key = sock + " " + handleText;
        auto& r = Reg();
        std::lock_guard lk(r.mu);
        if (auto p = r.proxies.find(key); p != r.proxies.end() && IsWindow(p->second)) return p->second;
        auto w = std::make_shared<Window>();
        w->remote = true;
        w->remoteSocket = sock;
        w->cls = std::make_shared<WndClass>();
        w->cls->name = platform::Utf8ToWide(c8);
        w->text = platform::Utf8ToWide(t8);
        w->userData = static_cast<LONG_PTR>(std::strtoull(handleText.c_str(), nullptr, 10));
        w->queue = CurrentQueue();
        w->threadId = 0;
        std::lock_guard mk(M().mu);
        M().nextHandle += 4;
        w->h = reinterpret_cast<HWND>(M().nextHandle);
        M().windows[M().nextHandle] = w;
        r.proxies[key] = w->h;
        return w->h;
    }
    return nullptr;
}

bool RemoteForeground(const std::shared_ptr<Window>& w) {
    std::string head = "FG " + std::to_string(static_cast<unsigned long long>(w->userData)) + "\n";
    return Request(w->remoteSocket, head, nullptr, 0) > 0;
}

LRESULT RemoteCopyData(const std::shared_ptr<Window>& w, WPARAM wParam, const COPYDATASTRUCT* cds) {
    if (!cds) return 0;
    size_t size = cds->lpData ? cds->cbData : 0;
    std::string head = "CD " + std::to_string(static_cast<unsigned long long>(w->userData)) + " " +
                       std::to_string(static_cast<unsigned long long>(wParam)) + " " +
                       std::to_string(static_cast<unsigned long long>(cds->dwData)) + " " +
                       std::to_string(static_cast<unsigned long long>(size)) + "\n";
    long long r = Request(w->remoteSocket, head, cds->lpData, size);
    if (r < 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return static_cast<LRESULT>(r);
}

}  // namespace platform::ui::detail

void platform::ui::PublishWindowClass(const std::wstring& className) {
    auto& r = detail::Reg();
    std::lock_guard lk(r.mu);
    r.published.insert(detail::Lower(className));
}
