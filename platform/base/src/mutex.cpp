// Mutexes. A named mutex exists across processes through a lock file in the runtime
// folder: every process with a handle holds a shared lock on it, so the name is taken
// while any of them lives and is free again once the last lets go or dies.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/sync.h"

namespace platform {
namespace {

class Mutex : public KernelObject {
public:
    ~Mutex() override {
        if (fd_ >= 0) close(fd_);  // drops this process's hold on the name
    }
    bool Waitable() const override { return true; }
    bool Wait(DWORD ms) override {
        DWORD me = GetCurrentThreadId();
        std::unique_lock<std::mutex> g(m_);
        auto free = [&] { return count_ == 0 || owner_ == me; };
        if (ms == INFINITE) cv_.wait(g, free);
        else if (!cv_.wait_for(g, std::chrono::milliseconds(ms), free)) return false;
        owner_ = me;
        ++count_;
        return true;
    }
    bool Release() {
        std::lock_guard<std::mutex> g(m_);
        if (count_ == 0 || owner_ != GetCurrentThreadId()) return false;
        if (--count_ == 0) cv_.notify_one();
        return true;
    }
    int fd_ = -1;

private:
    std::mutex m_;
    std::condition_variable cv_;
    DWORD owner_ = 0;
    int count_ = 0;
};

struct Names {
    std::mutex lock;
    std::map<std::wstring, std::weak_ptr<Mutex>> byName;
};

Names& NameTable() {
    static auto* t = new Names;  // outlives the program's static objects
    return *t;
}

// The lock file of a name: its UTF-8 bytes in hex, so any name makes a file name.
std::string LockPath(const std::wstring& name) {
    std::string utf8 = WideToUtf8(name), hex;
    char b[3];
    for (unsigned char c : utf8) {
        std::snprintf(b, sizeof(b), "%02x", c);
        hex += b;
    }
    return RuntimeDirectory() + "/mutex-" + hex;
}

// Opens the name's lock file and holds it shared. Sets *existed when another process
// held it already. -1 on failure.
int HoldName(const std::wstring& name, bool* existed) {
    std::string path = LockPath(name);
    // The gate makes the test and the hold one step for all processes.
    int gate = open((RuntimeDirectory() + "/mutexes.gate").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (gate < 0) return -1;
    flock(gate, LOCK_EX);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        *existed = flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (flock(fd, LOCK_SH) != 0) {
            close(fd);
            fd = -1;
        }
    }
    close(gate);
    return fd;
}

}  // namespace
}  // namespace platform

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    using platform::Mutex;
    std::shared_ptr<Mutex> m;
    bool existed = false;
    if (name && *name) {
        platform::Names& t = platform::NameTable();
        std::lock_guard<std::mutex> g(t.lock);
        m = t.byName[name].lock();
        existed = m != nullptr;
        if (!m) {
            m = std::make_shared<Mutex>();
            m->fd_ = platform::HoldName(name, &existed);
            if (m->fd_ < 0) {
                t.byName.erase(name);
                SetLastError(ERROR_ACCESS_DENIED);
                return nullptr;
            }
            t.byName[name] = m;
        }
    } else {
        m = std::make_shared<Mutex>();
    }
    // As on the phone, an existing mutex is not taken for the caller.
    if (initialOwner && !existed) m->Wait(INFINITE);
    HANDLE h = platform::RegisterHandle(m);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto m = platform::LookupAs<platform::Mutex>(mutex);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!m->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
