// The MMS-over-HTTP reader through the real HTTP stream of network.plg, against a
// loopback server that answers as a streaming server does: the first answer holds only
// the header chunk, and a request with a stream selection gets the data chunks.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "asf.h"
#include "flvasf_driver.h"

using namespace flvasf;

namespace {

// Serves a fixed number of connections on 127.0.0.1, each answered by `answer` from the
// request's number; it stops by itself after them or after a few idle seconds.
class ChunkServer {
public:
    ChunkServer(std::vector<uint8_t> body, bool pragma) : body_(std::move(body)), pragma_(pragma) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(fd_, 4) != 0) return;
        socklen_t len = sizeof(a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        headerEnd_ = 12 + (body_[2] | body_[3] << 8) - 8;
        thread_ = std::thread([this] { Run(); });
    }
    ~ChunkServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Run() {
        for (int served = 0, idle = 0; served < 6 && idle < 100 && !stop_;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                ++idle;
                continue;
            }
            int c = accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            idle = 0;
            Serve(c, served++);
            close(c);
        }
    }
    void Serve(int c, int number) {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 3000) <= 0) return;
            ssize_t n = recv(c, buf, sizeof(buf), 0);
            if (n <= 0) return;
            request.append(buf, static_cast<size_t>(n));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        // Without a stream selection only the header chunk is sent.
        bool selected = request.find("stream-switch-entry=") != std::string::npos;
        size_t length = number == 0 || !selected ? headerEnd_ : body_.size();
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/x-mms-framed\r\n";
        if (pragma_) head += "Pragma: no-cache,client-id=3\r\nPragma: features=\"broadcast\"\r\n";
        head += "Content-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
        std::string out = head + std::string(body_.begin(), body_.begin() + static_cast<long>(length));
        for (size_t at = 0; at < out.size();) {
            ssize_t n = send(c, out.data() + at, out.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return;
            at += static_cast<size_t>(n);
        }
    }

    std::vector<uint8_t> body_;
    bool pragma_;
    size_t headerEnd_ = 0;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

class RashHttp : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = DistDir() + "/network.plg";
        // Kept mapped after dlclose: the WinINet layer inside it keeps its sessions in globals.
        network_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(network_, nullptr) << dlerror();
        auto reg = reinterpret_cast<int (*)(int)>(dlsym(network_, "DLLRegister"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(528), 0);
        AsfRegister();
    }
    void TearDown() override {
        AsfUnRegister();
        if (network_) {
            auto unreg = reinterpret_cast<int (*)()>(dlsym(network_, "DLLUnRegister"));
            if (unreg) unreg();
            dlclose(network_);
        }
    }
    // An HTTP stream opened on the server's URL.
    Stream* OpenUrl(int port) {
        auto* s = static_cast<Stream*>(NodeCreate(HTTP_CLASS));
        if (!s) return nullptr;
        int silent = 1;
        s->node.setParam(s, HttpSilent, &silent, sizeof(silent));
        std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/live";
        if (s->node.setParam(s, HttpUrl, url.c_str(), static_cast<int>((url.size() + 1) * sizeof(tchar))) != 0) {
            NodeDelete(s);
            return nullptr;
        }
        return s;
    }
    void* network_ = nullptr;
};

TEST_F(RashHttp, HeaderAnswerThenStreamSelectionThroughThePragmaHeader) {
    Report report = LoadReport("asf/wmv2-wma2.asf");
    ChunkServer server(ReadFileBytes(DataPath("asf/wmv2-wma2.mms")), true);
    ASSERT_GT(server.port(), 0);
    Stream* s = OpenUrl(server.port());
    ASSERT_NE(s, nullptr);
    Opened o(RASH_CLASS, s);
    ASSERT_EQ(o.result(), ERR_NONE);
    // The open selected both streams at time 0: a second request carried the selection.
    std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    char expected[512];
    std::snprintf(expected, sizeof(expected),
                  "Pragma: no-cache,rate=1.000000,stream-time=0,stream-offset=4294967295:4294967295,"
                  "request-context=2,max-duration=0,xPlayStrm=1,xClientGUID={3300AD50-2C39-46c0-AE0A-132C%08X},"
                  "stream-switch-count=2,stream-switch-entry=ffff:1:0 ffff:2:0",
                  o.as<AsfReader>()->rash.clientNumber);
    EXPECT_NE(requests[1].find(expected), std::string::npos) << requests[1];
    EXPECT_EQ(requests[0].find("stream-switch-entry"), std::string::npos);
    // The data chunks give ffprobe's packets of the same streams.
    int last = 0;
    std::vector<Got> got = o.ReadAll(&last);
    EXPECT_EQ(last, ERR_END_OF_FILE);
    ASSERT_EQ(got.size(), report.packets.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].size, report.packets[i].Int("size")) << i;
        EXPECT_EQ(got[i].crc, report.packets[i].Get("data_hash")) << i;
        EXPECT_EQ(got[i].time, Ticks(report.packets[i].Int("pts"))) << i;
    }
}

TEST_F(RashHttp, AnswerWithoutPragmaCannotSelect) {
    ChunkServer server(ReadFileBytes(DataPath("asf/wmv2-wma2.mms")), false);
    ASSERT_GT(server.port(), 0);
    Stream* s = OpenUrl(server.port());
    ASSERT_NE(s, nullptr);
    Opened o(RASH_CLASS, s);
    EXPECT_EQ(o.result(), ERR_NOT_SUPPORTED);
    EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
