// The WinINet layer used synchronously, as the download manager uses it, against
// loopback servers.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "http_server.h"
#include "platform/lasterror.h"
#include "platform/wininet.h"
#include "platform/winsock.h"
#include "raw_server.h"

using testing_support::ClosedPort;
using testing_support::HttpServer;
using testing_support::Pattern;
using testing_support::RawServer;

namespace {

struct Inet {
    HINTERNET h;
    explicit Inet(HINTERNET handle) : h(handle) {}
    ~Inet() {
        if (h) InternetCloseHandle(h);
    }
    operator HINTERNET() const { return h; }
};

HINTERNET OpenSession(const wchar_t* agent = L"Lumeo Client: Windows Mobile; Windows Phone") {
    HINTERNET s = InternetOpenW(agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_NE(s, nullptr);
    DWORD t = 120000;
    EXPECT_TRUE(InternetSetOptionW(s, INTERNET_OPTION_SEND_TIMEOUT, &t, sizeof(t)));
    EXPECT_TRUE(InternetSetOptionW(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &t, sizeof(t)));
    return s;
}

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Reads the whole body in `chunk`-byte reads; `sizes` gets every read's count.
std::string ReadAll(HINTERNET req, DWORD chunk, std::vector<DWORD>* sizes = nullptr, DWORD* error = nullptr) {
    std::string body;
    std::vector<char> buf(chunk);
    for (int guard = 0; guard < 1000000; ++guard) {
        DWORD got = 12345;
        if (!InternetReadFile(req, buf.data(), chunk, &got)) {
            if (error) *error = GetLastError();
            return body;
        }
        if (sizes) sizes->push_back(got);
        if (got == 0) break;
        body.append(buf.data(), got);
    }
    if (error) *error = 0;
    return body;
}

std::wstring QueryText(HINTERNET req, DWORD level, DWORD* index = nullptr) {
    wchar_t buf[1024];
    DWORD len = sizeof(buf);
    if (!HttpQueryInfoW(req, level, buf, &len, index)) return L"<absent>";
    return std::wstring(buf, len / sizeof(wchar_t));
}

class SyncHttp : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = http.server();
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            const size_t size = 3 * 1024 * 1024 + 123;
            res.set_content_provider(size, "application/octet-stream",
                                     [](size_t offset, size_t length, httplib::DataSink& sink) {
                                         std::string part = Pattern(offset, std::min<size_t>(length, 65536));
                                         sink.write(part.data(), part.size());
                                         return true;
                                     });
        });
        s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 100000) {
                    sink.done();
                    return true;
                }
                std::string part = Pattern(offset, 10000);
                sink.write(part.data(), part.size());
                return true;
            });
        });
        s.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
            std::string text = "UA=" + req.get_header_value("User-Agent") + "\n";
            text += "Accept=" + req.get_header_value("Accept") + "\n";
            text += "Probe=" + req.get_header_value("X-Probe") + "\n";
            res.set_content(text, "text/plain");
        });
        s.Get("/port", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(std::to_string(req.remote_port), "text/plain");
        });
        s.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "text/plain"); });
        s.Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/final?x=1"); });
        s.Get("/final", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("arrived", "text/plain");
        });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<html>no such page</html>", "text/html");
        });
        s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            res.set_content("late", "text/plain");
        });
        http.Start();
    }
    HttpServer http;
};

TEST_F(SyncHttp, BodyComesInTheCallersChunksAndEndsWithZero) {
    Inet s(OpenSession());
    Inet req(InternetOpenUrlW(s, http.wurl("/big").c_str(), L"Accept: */*\r\n\r\n", 15, 0, 0));
    ASSERT_NE(req.h, nullptr);
    std::vector<DWORD> sizes;
    std::string body = ReadAll(req, 2047, &sizes);
    const size_t size = 3 * 1024 * 1024 + 123;
    ASSERT_EQ(body.size(), size);
    EXPECT_TRUE(body == Pattern(0, size));
    // Every read is full but the last before the end, then one 0.
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_EQ(sizes.back(), 0u);
    for (size_t i = 0; i + 2 < sizes.size(); ++i) ASSERT_EQ(sizes[i], 2047u) << i;
    EXPECT_EQ(sizes[sizes.size() - 2], size % 2047);
    DWORD got = 99;
    char c;
    EXPECT_TRUE(InternetReadFile(req, &c, 1, &got));
    EXPECT_EQ(got, 0u);
}

TEST_F(SyncHttp, ChunkedAnswerReadsToTheEnd) {
    Inet s(OpenSession());
    Inet req(InternetOpenUrlW(s, http.wurl("/chunked").c_str(), nullptr, 0, 0, 0));
    ASSERT_NE(req.h, nullptr);
    std::string body = ReadAll(req, 4096);
    EXPECT_EQ(body.size(), 100000u);
    EXPECT_TRUE(body == Pattern(0, 100000));
    EXPECT_EQ(QueryText(req, HTTP_QUERY_CONTENT_LENGTH), L"<absent>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
}

TEST_F(SyncHttp, RequestHeadersAndAgentAreSentAsGiven) {
    struct Case {
        const wchar_t* headers;
        DWORD length;
        std::string expected;
    } cases[] = {
        {L"Accept: */*\r\nUser-Agent: Phone/1.0 (X)\r\n", 0xFFFFFFFFu, "UA=Phone/1.0 (X)\nAccept=*/*\nProbe=\n"},
        {L"Accept: */*\r\n\r\n", 15, "UA=Lumeo Client: Windows Mobile; Windows Phone\nAccept=*/*\nProbe=\n"},
        // LF-separated lines, as a byte stream sends them.
        {L"X-Probe: bytes=10-\nAccept: text/plain\n", 0xFFFFFFFFu,
         "UA=Lumeo Client: Windows Mobile; Windows Phone\nAccept=text/plain\nProbe=bytes=10-\n"},
    };
    Inet s(OpenSession());
    for (const auto& c : cases) {
        std::wstring h = c.headers;
        DWORD len = c.length == 0xFFFFFFFFu ? c.length : static_cast<DWORD>(h.size());
        Inet req(InternetOpenUrlW(s, http.wurl("/echo").c_str(), c.headers, len, 0, 0));
        ASSERT_NE(req.h, nullptr);
        EXPECT_EQ(ReadAll(req, 2047), c.expected);
    }
}

TEST_F(SyncHttp, RedirectsAreFollowedAndAnErrorPageIsAnOrdinaryBody) {
    Inet s(OpenSession());
    {
        Inet req(InternetOpenUrlW(s, http.wurl("/moved").c_str(), nullptr, 0, 0, 0));
        ASSERT_NE(req.h, nullptr);
        EXPECT_EQ(ReadAll(req, 2047), "arrived");
        wchar_t url[512];
        DWORD len = sizeof(url);
        ASSERT_TRUE(InternetQueryOptionW(req, INTERNET_OPTION_URL, url, &len));
        EXPECT_EQ(std::wstring(url), http.wurl("/final?x=1"));
        DWORD status = 0, slen = sizeof(status);
        ASSERT_TRUE(HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &slen, nullptr));
        EXPECT_EQ(status, 200u);
    }
    Inet req(InternetOpenUrlW(s, http.wurl("/missing").c_str(), nullptr, 0, 0, 0));
    ASSERT_NE(req.h, nullptr);
    EXPECT_EQ(ReadAll(req, 2047), "<html>no such page</html>");
    EXPECT_EQ(QueryText(req, HTTP_QUERY_STATUS_CODE), L"404");
}

TEST_F(SyncHttp, EmptyBodyFirstReadIsZero) {
    Inet s(OpenSession());
    Inet req(InternetOpenUrlW(s, http.wurl("/empty").c_str(), nullptr, 0, 0, 0));
    ASSERT_NE(req.h, nullptr);
    char buf[2048];
    DWORD got = 7;
    EXPECT_TRUE(InternetReadFile(req, buf, 2047, &got));
    EXPECT_EQ(got, 0u);
}

TEST_F(SyncHttp, SessionKeepsItsConnectionBetweenRequests) {
    auto port = [&](HINTERNET session) {
        Inet req(InternetOpenUrlW(session, http.wurl("/port").c_str(), nullptr, 0, 0, 0));
        EXPECT_NE(req.h, nullptr);
        return ReadAll(req, 2047);
    };
    Inet a(OpenSession());
    Inet b(OpenSession());
    std::string first = port(a);
    EXPECT_EQ(port(a), first);
    EXPECT_EQ(port(a), first);
    EXPECT_NE(port(b), first);
}

TEST_F(SyncHttp, StalledAnswerTimesOut) {
    Inet s(OpenSession());
    DWORD t = 200;
    ASSERT_TRUE(InternetSetOptionW(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &t, sizeof(t)));
    HINTERNET req = InternetOpenUrlW(s, http.wurl("/slow").c_str(), nullptr, 0, 0, 0);
    EXPECT_EQ(req, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
}

// A route whose answer waits until the test lets it go (a minute at most, so that a broken
// test cannot hang), and that tells when a request has reached it.
class HeldAnswer {
public:
    void Install(httplib::Server& server, const std::string& path) {
        server.Get(path, [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock<std::mutex> l(m_);
            ++arrived_;
            cv_.notify_all();
            cv_.wait_for(l, std::chrono::minutes(1), [&] { return released_; });
            res.set_content("late", "text/plain");
        });
    }
    bool AwaitArrival() {
        std::unique_lock<std::mutex> l(m_);
        return cv_.wait_for(l, std::chrono::minutes(1), [&] { return arrived_ > 0; });
    }
    void Release() {
        std::lock_guard<std::mutex> l(m_);
        released_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int arrived_ = 0;
    bool released_ = false;
};

// Threads share a session the way the download manager's pool hands it on: one thread's
// answer that does not come holds up nothing another thread does with the session.
class SyncSharedSession : public ::testing::Test {
protected:
    void SetUp() override {
        held.Install(http.server(), "/held");
        http.server().Get("/quick", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("quick", "text/plain");
        });
        http.Start();
    }
    void TearDown() override {
        held.Release();
        if (other.joinable()) other.join();
    }
    // Another thread opens the held answer on `session`; returns once the server has it.
    void StartHeld(HINTERNET session) {
        other = std::thread([this, session] {
            stalled = InternetOpenUrlW(session, http.wurl("/held").c_str(), nullptr, 0, 0, 0);
            stalledError = GetLastError();
        });
        ASSERT_TRUE(held.AwaitArrival());
    }
    // Whether `work` ends while the held answer is still held; a generous bound that only
    // a thread stuck behind the held answer reaches.
    template <class Work>
    static bool EndsMeanwhile(std::future<Work>& work) {
        return work.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    }
    HttpServer http;
    HeldAnswer held;
    std::thread other;
    HINTERNET stalled = nullptr;
    DWORD stalledError = 0;
};

TEST_F(SyncSharedSession, RequestsOpenReadAndCloseWhileAnotherThreadsAnswerIsHeld) {
    Inet s(OpenSession());
    HINTERNET first = InternetOpenUrlW(s, http.wurl("/quick").c_str(), nullptr, 0, 0, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ReadAll(first, 2047), "quick");
    ASSERT_NO_FATAL_FAILURE(StartHeld(s));

    // The first request is closed only now, and a second one comes and goes.
    auto meanwhile = std::async(std::launch::async, [&] {
        std::string out = InternetCloseHandle(first) ? "closed " : "not closed ";
        HINTERNET next = InternetOpenUrlW(s, http.wurl("/quick").c_str(), nullptr, 0, 0, 0);
        if (!next) return out + "open failed";
        out += ReadAll(next, 2047);
        InternetCloseHandle(next);
        return out;
    });
    bool ended = EndsMeanwhile(meanwhile);
    held.Release();
    other.join();
    EXPECT_TRUE(ended) << "waited for the held answer";
    EXPECT_EQ(meanwhile.get(), "closed quick");
    ASSERT_NE(stalled, nullptr) << stalledError;
    EXPECT_EQ(ReadAll(stalled, 2047), "late") << "the held request goes on as before";
    InternetCloseHandle(stalled);
}

TEST_F(SyncSharedSession, ClosingTheSessionCancelsAnOpenThatWaits) {
    HINTERNET s = OpenSession();
    ASSERT_NO_FATAL_FAILURE(StartHeld(s));
    auto closing = std::async(std::launch::async, [&] { return InternetCloseHandle(s); });
    bool ended = EndsMeanwhile(closing);
    if (ended) other.join();
    held.Release();
    if (other.joinable()) other.join();
    EXPECT_TRUE(ended) << "waited for the held answer";
    EXPECT_TRUE(closing.get());
    EXPECT_EQ(stalled, nullptr);
    EXPECT_EQ(stalledError, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
    if (stalled) InternetCloseHandle(stalled);
}

TEST(SyncFailures, ErrorsCarryWinInetCodesAndTexts) {
    ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    Inet s(OpenSession());
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(closed.port()) + L"/x";
    EXPECT_EQ(InternetOpenUrlW(s, url.c_str(), nullptr, 0, 0, 0), nullptr);
    DWORD code = GetLastError();
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
    wchar_t text[256];
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, 256, nullptr), 0u);
    EXPECT_EQ(std::wstring(text), L"A connection with the server could not be established\r\n");
    DWORD err = 0, len = 511;
    wchar_t why[512];
    ASSERT_TRUE(InternetGetLastResponseInfoW(&err, why, &len));
    EXPECT_EQ(err, code);
    EXPECT_GT(len, 0u);
    EXPECT_EQ(std::wcslen(why), len);

    EXPECT_EQ(InternetOpenUrlW(s, L"ftp://127.0.0.1/x", nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
    char buf[4];
    DWORD got;
    EXPECT_FALSE(InternetReadFile(reinterpret_cast<HINTERNET>(0x1234), buf, 4, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(InternetCloseHandle(reinterpret_cast<HINTERNET>(0x1234)));
    DWORD shortValue = 5;
    EXPECT_FALSE(InternetSetOptionW(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &shortValue, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_BAD_OPTION_LENGTH));
}

TEST(SyncFailures, ConnectionDroppedMidBodyFailsTheReadAfterTheBytesThatCame) {
    RawServer server([](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nContent-Type: video/x-flv\r\n\r\n" +
                                   Pattern(0, 5000));
    });
    Inet s(OpenSession());
    Inet req(InternetOpenUrlW(s, W(server.url("/v.flv")).c_str(), nullptr, 0, 0, 0));
    ASSERT_NE(req.h, nullptr);
    DWORD error = 0;
    std::string body = ReadAll(req, 2047, nullptr, &error);
    EXPECT_TRUE(body == Pattern(0, 5000));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INTERNET_CONNECTION_ABORTED));
}

TEST(SyncFailures, HostileAnswersFailCleanly) {
    struct Case {
        const char* name;
        std::string answer;
        DWORD error;
    } cases[] = {
        {"endless headers", "HTTP/1.1 200 OK\r\n" + std::string(400000, 'a'), ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"many header lines",
         [] {
             std::string a = "HTTP/1.1 200 OK\r\n";
             for (int i = 0; i < 20000; ++i) a += "X-Filler-" + std::to_string(i) + ": some value here\r\n";
             return a + "\r\nbody";
         }(),
         ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"closed without answer", "", ERROR_HTTP_INVALID_SERVER_RESPONSE},
    };
    for (const auto& c : cases) {
        RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, c.answer); }, 1);
        Inet s(OpenSession());
        HINTERNET req = InternetOpenUrlW(s, W(server.url("/")).c_str(), nullptr, 0, 0, 0);
        EXPECT_EQ(req, nullptr) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        if (req) InternetCloseHandle(req);
    }
}

TEST(SyncIcy, StatusLineWithoutHttpComesAsTheBody) {
    const std::string answer = "ICY 200 OK\r\nicy-name: Radio\r\nicy-metaint: 16000\r\n\r\n" + Pattern(0, 3000);
    RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, answer); }, 1);
    Inet s(OpenSession());
    Inet req(InternetOpenUrlW(s, W(server.url("/stream")).c_str(), L"Icy-MetaData:1\n", 0xFFFFFFFFu, 0, 0));
    ASSERT_NE(req.h, nullptr);
    EXPECT_EQ(QueryText(req, HTTP_QUERY_STATUS_CODE), L"<absent>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    EXPECT_EQ(ReadAll(req, 1000), answer);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_NE(server.requests()[0].find("Icy-MetaData:1\r\n"), std::string::npos);
}

// The failure tests rely on it: connections refused, and the port nobody else's while it lives.
TEST(ClosedPortHelper, RefusesConnectionsAndKeepsThePort) {
    ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(closed.port()));
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(client, 0);
    EXPECT_NE(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
    ::close(client);
    // A server binding as the loopback servers do cannot take it.
    int other = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(other, 0);
    int on = 1;
    ::setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    EXPECT_NE(::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_EQ(errno, EADDRINUSE);
    ::close(other);
}

TEST(Winsock, StartupAndCleanupAreCounted) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
}

}  // namespace

namespace {

// Redirections go on to http and https only: to any other scheme the redirection itself is
// the answer, and nothing is asked of the other server.
TEST(SyncRedirects, OnlyToHttpAndHttps) {
    RawServer other([](int, const std::string&, int) {}, 4);
    struct Case {
        std::string location;
        bool followed;
    } cases[] = {
        {"ftp://127.0.0.1:" + std::to_string(other.port()) + "/Lumeo.CAB", false},
        {"FTP://127.0.0.1:" + std::to_string(other.port()) + "/Lumeo.CAB", false},
        {"file:///etc/passwd", false},
        {"/final", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        RawServer server(
            [&](int fd, const std::string& head, int) {
                if (head.rfind("GET /final", 0) == 0)
                    RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\narrived");
                else
                    RawServer::SendAll(fd, "HTTP/1.1 302 Found\r\nLocation: " + c.location +
                                               "\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved");
            },
            2);
        Inet s(OpenSession());
        Inet req(InternetOpenUrlW(s, W(server.url("/start")).c_str(), nullptr, 0, 0, 0));
        ASSERT_NE(req.h, nullptr) << GetLastError();
        DWORD error = 1;
        std::string body = ReadAll(req, 2047, nullptr, &error);
        EXPECT_EQ(error, 0u) << "the answer ends as an answer";
        if (c.followed) {
            EXPECT_EQ(QueryText(req, HTTP_QUERY_STATUS_CODE), L"200");
            EXPECT_EQ(body, "arrived");
        } else {
            EXPECT_EQ(QueryText(req, HTTP_QUERY_STATUS_CODE), L"302");
            EXPECT_EQ(QueryText(req, HTTP_QUERY_LOCATION), W(c.location));
            EXPECT_EQ(server.requests().size(), 1u);
        }
    }
    EXPECT_TRUE(other.requests().empty()) << "the ftp server was asked";
}

// The wait for an answer's headers is bounded from the request: header lines that trickle
// in restart no clock.
TEST(SyncTimeouts, TrickledHeadersTimeOutFromTheRequest) {
    std::atomic<bool> done{false};
    RawServer server(
        [&](int fd, const std::string&, int) {
            if (!RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\n")) return;
            // A line every 100 ms, for at most a minute, until the client has gone.
            for (int i = 0; i < 600 && !done; ++i) {
                if (!RawServer::SendAll(fd, "X-Line: " + std::to_string(i) + "\r\n")) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        },
        1);
    Inet s(OpenSession());
    DWORD t = 500;
    ASSERT_TRUE(InternetSetOptionW(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &t, sizeof(t)));
    auto start = std::chrono::steady_clock::now();
    HINTERNET req = InternetOpenUrlW(s, W(server.url("/")).c_str(), nullptr, 0, 0, 0);
    DWORD code = GetLastError();
    auto took = std::chrono::steady_clock::now() - start;
    done = true;
    EXPECT_EQ(req, nullptr);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    EXPECT_LT(took, std::chrono::seconds(30)) << "not bounded by the time-out";
    if (req) InternetCloseHandle(req);
}

}  // namespace
