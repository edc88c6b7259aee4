// An ordinary HTTP server on 127.0.0.1 (free port) for the tests, on cpp-httplib.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace testing_support {

class HttpServer {
public:
    HttpServer() {
        port_ = server_.bind_to_any_port("127.0.0.1");
    }
    ~HttpServer() { Stop(); }
    httplib::Server& server() { return server_; }
    // Call after the routes are set.
    void Start() {
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 500 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    void Stop() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::wstring wurl(const std::string& path) const {
        std::string u = url(path);
        return std::wstring(u.begin(), u.end());
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

// A deterministic byte pattern, so any slip in position shows.
inline char PatternByte(size_t pos) { return static_cast<char>((pos * 7 + pos / 251) & 0xFF); }
inline std::string Pattern(size_t from, size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = PatternByte(from + i);
    return s;
}

}  // namespace testing_support
