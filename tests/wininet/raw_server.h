// A loopback server that answers with exact bytes, for answers an ordinary HTTP server
// will not give (ICY status lines, dropped connections, broken headers). It listens on
// 127.0.0.1 on a free port, serves at most `maxConnections` connections and stops by itself.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class RawServer {
public:
    // The handler gets the request's head (up to the blank line) and the connection's
    // socket; the connection is closed when it returns.
    using Handler = std::function<void(int fd, const std::string& request, int index)>;

    explicit RawServer(Handler handler, int maxConnections = 16) : handler_(std::move(handler)), max_(maxConnections) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        ::listen(fd_, 16);
        socklen_t len = sizeof(a);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~RawServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> g(mu_);
        return requests_;
    }

    static bool SendAll(int fd, const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }

private:
    void Run() {
        int served = 0;
        while (!stop_ && served < max_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            std::string head;
            char buf[4096];
            // Bounded: the request head, for at most 5 s.
            for (int waited = 0; head.find("\r\n\r\n") == std::string::npos && waited < 100;) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 50) <= 0) {
                    ++waited;
                    if (stop_) break;
                    continue;
                }
                ssize_t n = ::recv(c, buf, sizeof(buf), 0);
                if (n <= 0) break;
                head.append(buf, static_cast<size_t>(n));
                if (head.size() > 65536) break;
            }
            {
                std::lock_guard<std::mutex> g(mu_);
                requests_.push_back(head);
            }
            handler_(c, head, served);
            ::shutdown(c, SHUT_RDWR);
            ::close(c);
            ++served;
        }
    }

    Handler handler_;
    int max_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A port on 127.0.0.1 that refuses connections for as long as this object lives: bound
// and never listening, so no other test running beside it can take the port meanwhile.
class ClosedPort {
public:
    ClosedPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof(a);
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~ClosedPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    int port() const { return port_; }  // 0 when no port could be bound
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace testing_support
