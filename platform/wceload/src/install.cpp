// wceload: the phone's package installer, as a small program of this machine.
//
//     wceload "<program folder>\Update\<package>.CAB"
//
// Reads the package as a Microsoft cabinet and checks it whole (structure, sizes, block
// checksums) before anything is installed; then installs its files into the program
// folder, the folder that holds the package's Update folder, each member at its path
// relative to it. Members that would land outside (absolute paths, "..", a link leading
// out) refuse the whole package. Files are replaced by rename, and a failure part-way
// puts the old files back. A running Lumeo of that folder is given a bounded time to end
// first. Each run appends one line to Log\wceload.txt in the program folder.
// Exit status 0 when installed, 1 when refused.
#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// Far more than a package of the program holds; a cabinet claiming more is refused.
constexpr size_t kMaxMembers = 4096;
constexpr unsigned long long kMaxBytes = 1ull << 30;
// How long a running Lumeo is given to end; LUMEO_WCELOAD_WAIT (seconds) changes it.
constexpr int kDefaultWaitSeconds = 30;

struct Member {
    std::string name;      // as the cabinet has it, for messages
    std::string relative;  // cleaned, '/'-separated, inside the program folder
    std::string staged;    // its checked bytes, waiting in the staging folder
    std::string backup;    // the replaced file (a hard link), or "" for a new file
};

std::string Errno(int err) { return std::strerror(err); }

bool IsDir(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// The member's path inside the program folder; false with the reason when it has none.
bool CleanName(const std::string& name, std::string* out, std::string* why) {
    if (name.empty()) {
        *why = "a member has no name";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            *why = "member name with control characters";
            return false;
        }
    }
    if (name[0] == '\\' || name[0] == '/' || (name.size() >= 2 && name[1] == ':')) {
        *why = "absolute member path: " + name;
        return false;
    }
    std::string cleaned;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            *why = "member path with \"..\": " + name;
            return false;
        }
        if (!cleaned.empty()) cleaned += '/';
        cleaned += part;
    }
    if (cleaned.empty()) {
        *why = "member without a file name: " + name;
        return false;
    }
    *out = cleaned;
    return true;
}

bool Inside(const std::string& root, const std::string& path) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// Every folder on the way to the member that exists must be a folder inside the program
// folder once links are followed; the member itself must not be a folder.
bool CheckTarget(const std::string& root, const Member& m, std::string* why) {
    std::string path = root;
    size_t start = 0;
    for (;;) {
        size_t end = m.relative.find('/', start);
        bool last = end == std::string::npos;
        path += "/" + m.relative.substr(start, last ? std::string::npos : end - start);
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return true;  // the rest is made on installing
            *why = "cannot look at " + path + ": " + Errno(errno);
            return false;
        }
        if (last) {
            if (S_ISDIR(st.st_mode)) {
                *why = "member would replace a folder: " + m.name;
                return false;
            }
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path.c_str(), resolved) || !Inside(root, resolved)) {
                *why = "member leads out of the program folder through a link: " + m.name;
                return false;
            }
            if (!IsDir(resolved)) {
                *why = "member path runs through a file: " + m.name;
                return false;
            }
        } else if (!S_ISDIR(st.st_mode)) {
            *why = "member path runs through a file: " + m.name;
            return false;
        }
        start = end + 1;
    }
}

// Reads the whole cabinet into the staging folder; nothing of the program folder changes.
bool Stage(const std::string& package, const std::string& staging, std::vector<Member>* members, std::string* why) {
    struct archive* a = archive_read_new();
    archive_read_support_format_cab(a);
    struct Closer {
        struct archive* a;
        ~Closer() { archive_read_free(a); }
    } closer{a};
    if (archive_read_open_filename(a, package.c_str(), 64 * 1024) != ARCHIVE_OK) {
        *why = std::string("not a cabinet: ") + (archive_error_string(a) ? archive_error_string(a) : "unreadable");
        return false;
    }
    std::set<std::string> seen;
    unsigned long long total = 0;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        struct archive_entry* e = nullptr;
        int r = archive_read_next_header(a, &e);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            *why = std::string("damaged cabinet: ") + (archive_error_string(a) ? archive_error_string(a) : "bad header");
            return false;
        }
        if (members->size() >= kMaxMembers) {
            *why = "more than " + std::to_string(kMaxMembers) + " members";
            return false;
        }
        const char* raw = archive_entry_pathname_utf8(e);
        if (!raw) {
            *why = "a member name cannot be read";
            return false;
        }
        Member m;
        m.name = raw;
        if (!CleanName(m.name, &m.relative, why)) return false;
        if (archive_entry_filetype(e) != AE_IFREG) {
            *why = "member is not a file: " + m.name;
            return false;
        }
        if (!seen.insert(m.relative).second) {
            *why = "member appears twice: " + m.name;
            return false;
        }
        m.staged = staging + "/m" + std::to_string(members->size());
        int fd = ::open(m.staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            *why = "cannot stage " + m.name + ": " + Errno(errno);
            return false;
        }
        bool ok = true;
        for (;;) {
            la_ssize_t n = archive_read_data(a, buf.data(), buf.size());
            if (n == 0) break;
            if (n < 0) {
                *why = std::string("damaged cabinet: ") + (archive_error_string(a) ? archive_error_string(a) : "bad data");
                ok = false;
                break;
            }
            total += static_cast<unsigned long long>(n);
            if (total > kMaxBytes) {
                *why = "members larger than " + std::to_string(kMaxBytes >> 20) + " MiB in all";
                ok = false;
                break;
            }
            for (la_ssize_t off = 0; ok && off < n;) {
                ssize_t w = ::write(fd, buf.data() + off, static_cast<size_t>(n - off));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    *why = "cannot stage " + m.name + ": " + Errno(errno);
                    ok = false;
                }
                off += w > 0 ? w : 0;
            }
            if (!ok) break;
        }
        if (::close(fd) != 0 && ok) {
            *why = "cannot stage " + m.name + ": " + Errno(errno);
            ok = false;
        }
        if (!ok) return false;
        members->push_back(std::move(m));
    }
    if (members->empty()) {
        *why = "the cabinet holds no files";
        return false;
    }
    return true;
}

// Processes whose program is <root>/Lumeo.
bool LumeoRunning(const std::string& root) {
    std::string exe = root + "/Lumeo";
    DIR* d = ::opendir("/proc");
    if (!d) return false;
    bool found = false;
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end || pid <= 0 || pid == ::getpid()) continue;
        char buf[PATH_MAX];
        ssize_t n = ::readlink(("/proc/" + std::string(e->d_name) + "/exe").c_str(), buf, sizeof buf - 1);
        if (n <= 0) continue;
        std::string target(buf, static_cast<size_t>(n));
        const std::string deleted = " (deleted)";
        if (target.size() > deleted.size() && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
            target.resize(target.size() - deleted.size());
        if (target == exe) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

int WaitSeconds() {
    if (const char* v = std::getenv("LUMEO_WCELOAD_WAIT"); v && *v) {
        char* end = nullptr;
        long s = std::strtol(v, &end, 10);
        if (!*end && s >= 0 && s <= 3600) return static_cast<int>(s);
    }
    return kDefaultWaitSeconds;
}

// Installs the staged members; on a failure the files already replaced get their old
// bytes back and the folders made are removed.
bool Install(const std::string& root, const std::string& staging, std::vector<Member>& members, std::string* why) {
    std::vector<std::string> madeDirs;
    size_t done = 0;
    bool ok = true;
    for (; done < members.size() && ok; ++done) {
        Member& m = members[done];
        std::string target = root + "/" + m.relative;
        for (size_t at = m.relative.find('/'); at != std::string::npos; at = m.relative.find('/', at + 1)) {
            std::string dir = root + "/" + m.relative.substr(0, at);
            if (::mkdir(dir.c_str(), 0755) == 0) madeDirs.push_back(dir);
            else if (errno != EEXIST) {
                *why = "cannot make folder " + dir + ": " + Errno(errno);
                ok = false;
                break;
            }
        }
        if (!ok) break;
        mode_t mode = 0644;
        const std::string ext = ".exe";
        if (m.relative.size() > ext.size() && Lower(m.relative.substr(m.relative.size() - ext.size())) == ext)
            mode = 0755;
        struct stat old{};
        if (::lstat(target.c_str(), &old) == 0) {
            // A replaced file keeps its permissions (a program stays runnable).
            if (S_ISREG(old.st_mode)) mode = old.st_mode & 0777;
            m.backup = staging + "/b" + std::to_string(done);
            if (::link(target.c_str(), m.backup.c_str()) != 0) {
                *why = "cannot keep the old " + m.relative + ": " + Errno(errno);
                m.backup.clear();
                ok = false;
                break;
            }
        }
        ::chmod(m.staged.c_str(), mode);
        if (::rename(m.staged.c_str(), target.c_str()) != 0) {
            *why = "cannot install " + m.relative + ": " + Errno(errno);
            ok = false;
            break;
        }
    }
    if (ok) return true;
    // The member that failed changed nothing; undo those before it.
    for (size_t i = done; i-- > 0;) {
        const Member& m = members[i];
        std::string target = root + "/" + m.relative;
        if (!m.backup.empty()) ::rename(m.backup.c_str(), target.c_str());
        else ::unlink(target.c_str());
    }
    for (auto it = madeDirs.rbegin(); it != madeDirs.rend(); ++it) ::rmdir(it->c_str());
    return false;
}

void RemoveTree(const std::string& dir) {
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            ::unlink((dir + "/" + e->d_name).c_str());
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

std::string Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void AppendLog(const std::string& root, const std::string& line) {
    std::string dir = root + "/Log";
    ::mkdir(dir.c_str(), 0755);
    int fd = ::open((dir + "/wceload.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "wceload: cannot write %s/wceload.txt: %s\n", dir.c_str(), Errno(errno).c_str());
        return;
    }
    std::string text = line + "\n";
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::fprintf(stderr, "wceload: cannot write %s/wceload.txt\n", dir.c_str());
    ::close(fd);
}

// Checks and installs `package` into `root`; the count of files or the reason.
bool Run(const std::string& root, const std::string& updateDir, const std::string& package, size_t* count,
         std::string* why) {
    // One installation at a time in a program folder.
    int lock = ::open(updateDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) {
        *why = "cannot open " + updateDir + ": " + Errno(errno);
        return false;
    }
    struct LockCloser {
        int fd;
        ~LockCloser() { ::close(fd); }
    } lockCloser{lock};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(WaitSeconds());
    while (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            *why = "another installation is running";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    std::string tmpl = root + "/.wceload-XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        *why = "cannot make a staging folder in " + root + ": " + Errno(errno);
        return false;
    }
    struct Cleanup {
        std::string dir;
        ~Cleanup() { RemoveTree(dir); }
    } cleanup{tmpl};

    std::vector<Member> members;
    if (!Stage(package, tmpl, &members, why)) return false;
    for (const Member& m : members)
        if (!CheckTarget(root, m, why)) return false;

    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(WaitSeconds());
    while (LumeoRunning(root)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            *why = "Lumeo is still running";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (!Install(root, tmpl, members, why)) return false;
    *count = members.size();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // member names come as UTF-8
    if (argc < 2) {
        std::fprintf(stderr, "usage: wceload \"PACKAGE\"  (a cabinet in a program folder's Update folder)\n");
        return 1;
    }
    // The updater passes the quoted path as one argument; by hand it may come in pieces.
    std::string given;
    for (int i = 1; i < argc; ++i) given += (i > 1 ? " " : "") + std::string(argv[i]);
    if (given.size() >= 2 && given.front() == '"' && given.back() == '"') given = given.substr(1, given.size() - 2);
    std::string package = platform::ToNativePath(platform::Utf8ToWide(given).c_str());

    auto slash = package.find_last_of('/');
    std::string updateDir = slash == std::string::npos ? "." : package.substr(0, slash);
    auto up = updateDir.find_last_of('/');
    std::string updateName = up == std::string::npos ? updateDir : updateDir.substr(up + 1);
    std::string parent = up == std::string::npos ? "." : (up == 0 ? "/" : updateDir.substr(0, up));
    char resolved[PATH_MAX];
    struct stat st{};
    if (given.empty() || Lower(updateName) != "update" || !::realpath(parent.c_str(), resolved) ||
        ::stat(package.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "wceload: %s: refused: not a package file in a program folder's Update folder\n",
                     given.c_str());
        return 1;
    }
    std::string root = resolved;

    size_t count = 0;
    std::string why;
    bool ok = Run(root, updateDir, package, &count, &why);
    std::string line = Now() + " " + given + ": " + (ok ? "installed " + std::to_string(count) + " files"
                                                        : "refused: " + why);
    AppendLog(root, line);
    if (!ok) std::fprintf(stderr, "wceload: %s\n", line.c_str());
    return ok ? 0 : 1;
}
