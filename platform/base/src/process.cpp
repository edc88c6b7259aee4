#include "platform/shellapi.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/sync.h"

extern char** environ;

namespace platform {
namespace {

class Process : public KernelObject {
public:
    bool Waitable() const override { return true; }
    bool Wait(DWORD ms) override {
        std::unique_lock<std::mutex> g(m_);
        auto ended = [&] { return ended_; };
        if (ms == INFINITE) cv_.wait(g, ended);
        else if (!cv_.wait_for(g, std::chrono::milliseconds(ms), ended)) return false;
        return true;
    }
    void End(DWORD code) {
        std::lock_guard<std::mutex> g(m_);
        ended_ = true;
        exitCode_ = code;
        cv_.notify_all();
    }
    DWORD ExitCode() {
        std::lock_guard<std::mutex> g(m_);
        return ended_ ? exitCode_ : STILL_ACTIVE;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool ended_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

struct ChildEnv {
    std::mutex lock;
    std::map<std::string, std::optional<std::string>> overrides;
};

ChildEnv& Env() {
    static auto* env = new ChildEnv;  // usable from any thread at any time
    return *env;
}

// This process's environment with the overrides applied.
std::vector<std::string> ChildEnvironment() {
    ChildEnv& e = Env();
    std::lock_guard<std::mutex> g(e.lock);
    std::vector<std::string> out;
    for (char** p = environ; p && *p; ++p) {
        const char* eq = std::strchr(*p, '=');
        std::string name = eq ? std::string(*p, eq - *p) : std::string(*p);
        if (!e.overrides.count(name)) out.emplace_back(*p);
    }
    for (auto& [name, value] : e.overrides)
        if (value) out.push_back(name + "=" + *value);
    return out;
}

bool IsOpenVerb(LPCWSTR verb) {
    if (!verb || !*verb) return true;
    const wchar_t* open = L"open";
    for (; *verb && *open; ++verb, ++open)
        if (static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*verb))) != *open) return false;
    return !*verb && !*open;
}

DWORD StartError(int err) {
    switch (err) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return ERROR_ACCESS_DENIED;
        case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
        default: return ErrnoToWin32(err);
    }
}

int ShellCode(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND: return SE_ERR_FNF;
        case ERROR_PATH_NOT_FOUND: return SE_ERR_PNF;
        case ERROR_ACCESS_DENIED: return SE_ERR_ACCESSDENIED;
        case ERROR_NO_ASSOCIATION: return SE_ERR_NOASSOC;
        default: return SE_ERR_OOM;
    }
}

BOOL Refuse(SHELLEXECUTEINFOW* info, DWORD err) {
    if (info) {
        info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(ShellCode(err)));
        info->hProcess = nullptr;
    }
    SetLastError(err);
    return FALSE;
}

}  // namespace

void SetChildEnvironment(const std::string& name, const char* value) {
    ChildEnv& e = Env();
    std::lock_guard<std::mutex> g(e.lock);
    e.overrides[name] = value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace platform

using namespace platform;

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOW) || !info->lpFile || !*info->lpFile)
        return Refuse(info, ERROR_INVALID_PARAMETER);
    if (!IsOpenVerb(info->lpVerb)) return Refuse(info, ERROR_NO_ASSOCIATION);

    std::string file = ToNativePath(info->lpFile);
    struct stat st{};
    if (::stat(file.c_str(), &st) != 0) {
        DWORD err = StartError(errno);
        // A missing file in a missing folder names the folder, as the phone does.
        if (errno == ENOENT) {
            auto slash = file.find_last_of('/');
            struct stat dir{};
            if (slash != std::string::npos && slash > 0 && ::stat(file.substr(0, slash).c_str(), &dir) != 0)
                err = ERROR_PATH_NOT_FOUND;
        }
        return Refuse(info, err);
    }
    if (S_ISDIR(st.st_mode)) return Refuse(info, ERROR_ACCESS_DENIED);

    std::vector<std::string> args{file};
    if (info->lpParameters) args.push_back(WideToUtf8(info->lpParameters));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = ChildEnvironment();
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Only the standard streams go to the new program.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string dir;
    if (info->lpDirectory && *info->lpDirectory) {
        dir = ToNativePath(info->lpDirectory);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    }
    pid_t pid = 0;
    int err = posix_spawn(&pid, file.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) return Refuse(info, StartError(err));

    auto process = std::make_shared<Process>();
    // The reaper owns its reference: the process ends in the table even when the caller
    // never asked for a handle.
    std::thread([process, pid] {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid, &status, 0);
        } while (r < 0 && errno == EINTR);
        DWORD code = 0;
        if (r == pid && WIFEXITED(status)) code = static_cast<DWORD>(WEXITSTATUS(status));
        else if (r == pid && WIFSIGNALED(status)) code = 128u + static_cast<DWORD>(WTERMSIG(status));
        process->End(code);
    }).detach();

    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(42));
    info->hProcess = (info->fMask & SEE_MASK_NOCLOSEPROCESS) ? RegisterHandle(process) : nullptr;
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE h, DWORD* exitCode) {
    auto process = LookupAs<Process>(h);
    if (!process || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = process->ExitCode();
    return TRUE;
}
