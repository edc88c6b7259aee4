// Shared fixtures of the network client's tests: a temporary program folder, the log
// file's text, and the sample web service started on a free loopback port.
#pragma once

#include <string>
#include <vector>

namespace nettest {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::wstring wpath() const;  // the same, as wide text
    std::string Read(const std::string& relative) const;  // a file's bytes, "" when missing
    bool Exists(const std::string& relative) const;
    void Write(const std::string& relative, const std::string& bytes) const;

private:
    std::string path_;
};

// Sets the log up in `dir`/Log at level 4 and returns the current log file's path.
std::string StartLog(const TempDir& dir);
std::string ReadAll(const std::string& path);
// Lines of the log that contain `text`.
int CountInLog(const std::string& logPath, const std::string& text);

// The sample web service as a child process on 127.0.0.1:<port>.
class SampleService {
public:
    explicit SampleService(const std::vector<std::string>& args = {});
    ~SampleService();
    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    // GET on the service, e.g. "/control/fault?mode=drop&count=1"; the body.
    std::string Get(const std::string& target) const;
    // The next `count` requests whose target holds `match` get fault `mode`.
    void QueueFault(const std::string& mode, int count, const std::string& match) const;
    // The request lines the service has seen ("GET /target" and its header lines).
    std::vector<std::string> Requests() const;
    // The answers cut short by the drop fault: how many bytes of its body each sent before
    // the connection closed.
    struct Drop {
        size_t sent;
        std::string target;
    };
    std::vector<Drop> Drops() const;

private:
    int pid_ = -1;
    int port_ = 0;
};

}  // namespace nettest
