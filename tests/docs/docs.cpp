#include "docs.h"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace docs {

namespace fs = std::filesystem;

std::string SourceDir() { return LUMEO_TEST_SOURCE_DIR; }
std::string TreeDir() { return LUMEO_DOCS_TREE_DIR; }

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

bool IsFence(const std::string& line) {
    size_t lead = line.find_first_not_of(' ');
    return lead != std::string::npos && lead <= 3 && line.compare(lead, 3, "```") == 0;
}

// One expected line against one output line: literal text, with "…" for any text.
bool Matches(const std::string& expected, const std::string& line) {
    const std::string any = "…";
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = expected.find(any, from)) != std::string::npos; from = at + any.size())
        parts.push_back(expected.substr(from, at - from));
    parts.push_back(expected.substr(from));
    if (parts.size() == 1) return expected == line;
    if (line.compare(0, parts.front().size(), parts.front()) != 0) return false;
    size_t pos = parts.front().size();
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
        size_t at = line.find(parts[i], pos);
        if (at == std::string::npos) return false;
        pos = at + parts[i].size();
    }
    const std::string& last = parts.back();
    return line.size() >= pos + last.size() && line.compare(line.size() - last.size(), last.size(), last) == 0;
}

// The program folder is copied with its files linked, not shared, so that what a run writes
// into it (logs, caches, an installed update) stays in the sandbox. What earlier runs left in
// the tree's folder is not copied.
void MirrorDist(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from)) {
        std::string name = e.path().filename().string();
        fs::path target = to / name;
        if (e.is_directory()) {
            if (name == "Log" || name == "Xml" || name == "Image") continue;
            if (name == "Res") {
                fs::create_directory_symlink(e.path(), target);
                continue;
            }
            if (name == "Update") {
                fs::create_directories(target);
                if (fs::exists(e.path() / "LMUpdate.exe")) fs::create_hard_link(e.path() / "LMUpdate.exe", target / "LMUpdate.exe");
                continue;
            }
            MirrorDist(e.path(), target);
        } else if (e.is_regular_file()) {
            std::error_code ec;
            fs::create_hard_link(e.path(), target, ec);
            if (ec) fs::copy_file(e.path(), target);
        }
    }
}

}  // namespace

std::string ReadSource(const std::string& relative) { return ReadFile(SourceDir() + "/" + relative); }

std::vector<Block> Blocks(const std::string& page) {
    std::vector<Block> out;
    std::vector<std::string> lines = Lines(ReadSource(page));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!IsFence(lines[i])) continue;
        Block b;
        b.page = page;
        b.line = static_cast<int>(i + 1);
        b.info = Trim(Trim(lines[i]).substr(3));
        for (++i; i < lines.size() && !IsFence(lines[i]); ++i) b.lines.push_back(lines[i]);
        out.push_back(std::move(b));
    }
    return out;
}

std::vector<Span> InlineCode(const std::string& page) {
    std::vector<Span> out;
    std::vector<std::string> lines = Lines(ReadSource(page));
    bool inBlock = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsFence(lines[i])) {
            inBlock = !inBlock;
            continue;
        }
        if (inBlock) continue;
        const std::string& l = lines[i];
        for (size_t at = l.find('`'); at != std::string::npos;) {
            size_t ticks = l.find_first_not_of('`', at) - at;
            std::string fence(ticks, '`');
            size_t end = l.find(fence, at + ticks);
            if (end == std::string::npos) break;
            out.push_back({static_cast<int>(i + 1), Trim(l.substr(at + ticks, end - at - ticks))});
            at = l.find('`', end + ticks);
        }
    }
    return out;
}

bool HoldsInOrder(const std::string& output, const std::vector<std::string>& expected, std::string* why) {
    std::vector<std::string> got = Lines(output);
    size_t at = 0;
    for (const std::string& e : expected) {
        std::string want = Trim(e);
        while (at < got.size() && !Matches(want, Trim(got[at]))) ++at;
        if (at == got.size()) {
            if (why) *why = "no line \"" + want + "\" (in this order)";
            return false;
        }
        ++at;
    }
    return true;
}

int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool Listening(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return up;
}

Sandbox::Sandbox() {
    std::string templ = (fs::temp_directory_path() / "lumeo-docs-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
    fs::path root(path_), tree(TreeDir());
    // build/normal: this tree, entry by entry, with a program folder of the sandbox's own.
    fs::create_directories(root / "build" / "normal");
    for (const auto& e : fs::directory_iterator(tree)) {
        std::string name = e.path().filename().string();
        if (name == "dist") MirrorDist(e.path(), root / "build" / "normal" / "dist");
        else fs::create_symlink(e.path(), root / "build" / "normal" / name);
    }
    for (const char* source : {"docs", "tests", "tools", "scripts"})
        fs::create_directory_symlink(fs::path(SourceDir()) / source, root / source);
    fs::create_directories(root / "home");
    fs::create_directories(root / "run");
}

Sandbox::~Sandbox() {
    for (int group : groups_) kill(-group, SIGKILL);
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string Sandbox::Read(const std::string& relative) const { return ReadFile(path_ + "/" + relative); }

int Sandbox::Run(const std::string& script, const std::map<std::string, std::string>& env, int limitMs,
                 std::string* output, bool leaveRunning) const {
    // A file of its own per run: what an earlier run left running may still write to its own.
    std::string n = std::to_string(runs_++);
    std::string scriptFile = path_ + "/.block" + n + ".sh", outFile = path_ + "/.block" + n + ".out";
    std::ofstream(scriptFile) << "set -e\n"
                              << (leaveRunning ? "" : "trap 'rc=$?; set +e; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; exit $rc' EXIT\n")
                              << script << "\n";
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        size_t eq = kv.find('=');
        if (eq == std::string::npos) continue;
        std::string k = kv.substr(0, eq);
        if (k.rfind("LUMEO_", 0) == 0 || k.rfind("BENCHMARK_", 0) == 0 || k == "DISPLAY" || k == "WAYLAND_DISPLAY" ||
            k == "XDG_RUNTIME_DIR" || k == "XDG_DATA_HOME" || k == "HOME")
            continue;
        vars[k] = kv.substr(eq + 1);
    }
    vars["HOME"] = path_ + "/home";
    vars["LUMEO_RUNTIME_DIR"] = path_ + "/run";
    for (const auto& [k, v] : env) vars[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : vars) envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string bash = "/bin/bash";
    std::vector<char*> argv = {bash.data(), scriptFile.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, path_.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, bash.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (spawned != 0) return -2;

    auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(limitMs)) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended && leaveRunning) {
        groups_.push_back(pid);
    } else {
        kill(-pid, SIGKILL);  // the group: what the script started and left
    }
    if (!ended) waitpid(pid, &status, 0);
    if (output) *output = ReadFile(outFile);
    if (!ended) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace docs
