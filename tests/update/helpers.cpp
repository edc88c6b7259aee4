#include "helpers.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/files.h"

extern char** environ;

namespace fs = std::filesystem;

namespace updtest {

TempTree::TempTree() {
    std::string templ = (fs::temp_directory_path() / "lumeo-update-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempTree::~TempTree() {
    // A program ending just now may still add a file while the folder is being removed.
    for (int i = 0; i < 5 && fs::exists(path_); ++i) {
        std::error_code ec;
        fs::remove_all(path_, ec);
        if (ec) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::wstring TempTree::Phone(const std::string& relative) const { return platform::FromNativePath(At(relative)); }

std::string TempTree::Read(const std::string& relative) const { return ReadAll(At(relative)); }

bool TempTree::Exists(const std::string& relative) const {
    std::error_code ec;
    return fs::symlink_status(At(relative), ec).type() != fs::file_type::not_found;
}

void TempTree::Write(const std::string& relative, const std::string& bytes, int mode) const {
    fs::create_directories(fs::path(At(relative)).parent_path());
    std::ofstream(At(relative), std::ios::binary | std::ios::trunc) << bytes;
    chmod(At(relative).c_str(), static_cast<mode_t>(mode));
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string rel = fs::relative(it->path(), dir).string();
        if (it->is_symlink()) out[rel] = "-> " + fs::read_symlink(it->path()).string();
        else if (it->is_regular_file()) out[rel] = ReadAll(it->path().string());
        else if (it->is_directory()) out[rel + "/"] = "";
    }
    return out;
}

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, bool ownGroup) {
    std::vector<std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (auto& x : env) replaced = replaced || x.substr(0, x.find('=')) == name;
        if (!replaced) all.push_back(entry);
    }
    for (auto& x : env)
        if (x.find('=') != std::string::npos) all.push_back(x);
    std::vector<char*> envp, argv;
    for (auto& a : all) envp.push_back(a.data());
    envp.push_back(nullptr);
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (ownGroup) setpgid(0, 0);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (ownGroup && pid > 0) setpgid(pid, pid);  // before the caller can signal the group
    return pid;
}

int WaitExit(pid_t pid, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void KillGroup(pid_t leader) {
    if (leader <= 0) return;
    kill(-leader, SIGKILL);
    int status = 0;
    waitpid(leader, &status, 0);  // ours, unless already reaped
    // The others are reaped by whoever adopted them; wait (bounded) until none is left.
    WaitFor(5000, [leader] { return kill(-leader, 0) != 0 && errno == ESRCH; });
}

bool Running(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

bool WaitFor(int ms, const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool MakeCab(const std::string& dir, const std::vector<std::string>& names, const std::string& cab, bool compress) {
    std::string cmd = "cd '" + dir + "' && gcab -c " + (compress ? "-z " : "") + "'" + cab + "'";
    for (auto& n : names) cmd += " '" + n + "'";
    std::string out = Shell(cmd + " && echo made");
    return out.size() >= 5 && out.compare(out.size() - 5, 5, "made\n") == 0;
}

bool Patch(std::string& bytes, const std::string& from, const std::string& to) {
    size_t at = bytes.find(from);
    if (at == std::string::npos || from.size() != to.size()) return false;
    bytes.replace(at, from.size(), to);
    return true;
}

}  // namespace updtest
