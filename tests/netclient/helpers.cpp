#include "helpers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <httplib.h>

#include "log.h"
#include "platform/codepage.h"

namespace fs = std::filesystem;

namespace nettest {

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "lumeo-net-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::wstring TempDir::wpath() const { return platform::Utf8ToWide(path_); }

std::string TempDir::Read(const std::string& relative) const { return ReadAll(path_ + "/" + relative); }

bool TempDir::Exists(const std::string& relative) const { return fs::exists(path_ + "/" + relative); }

void TempDir::Write(const std::string& relative, const std::string& bytes) const {
    fs::create_directories(fs::path(path_ + "/" + relative).parent_path());
    std::ofstream(path_ + "/" + relative, std::ios::binary) << bytes;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string StartLog(const TempDir& dir) {
    fs::create_directories(dir.path() + "/Log");
    InitLog((dir.wpath() + L"\\Log\\").c_str(), L"Lumeo", 4);
    return dir.path() + "/Log/Lumeo_log_0.txt";
}

int CountInLog(const std::string& logPath, const std::string& text) {
    std::istringstream in(ReadAll(logPath));
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos) ++n;
    return n;
}

SampleService::SampleService(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> all = {SAMPLE_SERVICE_PATH, "--port", "0", "--lifetime", "900"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, n);
    }
    close(out[0]);
    const std::string prefix = "listening 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) throw std::runtime_error("sample service did not start: " + line);
    port_ = std::atoi(line.c_str() + prefix.size());
}

SampleService::~SampleService() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string SampleService::Get(const std::string& target) const {
    httplib::Client c("127.0.0.1", port_);
    auto r = c.Get(target.c_str());
    return r ? r->body : std::string();
}

void SampleService::QueueFault(const std::string& mode, int count, const std::string& match) const {
    auto enc = [](const std::string& v) {
        std::string o;
        for (unsigned char c : v) {
            if (std::isalnum(c) || c == '-' || c == '_' || c == '.') o += static_cast<char>(c);
            else {
                char b[4];
                std::snprintf(b, sizeof b, "%%%02X", c);
                o += b;
            }
        }
        return o;
    };
    Get("/control/fault?mode=" + enc(mode) + "&count=" + std::to_string(count) + "&match=" + enc(match));
}

std::vector<std::string> SampleService::Requests() const {
    std::vector<std::string> out;
    std::istringstream in(Get("/control/requests"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<SampleService::Drop> SampleService::Drops() const {
    std::vector<Drop> out;
    std::istringstream in(Get("/control/drops"));
    for (std::string line; std::getline(in, line);) {
        size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        out.push_back({std::stoul(line.substr(0, blank)), line.substr(blank + 1)});
    }
    return out;
}

}  // namespace nettest
