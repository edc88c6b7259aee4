// The WinINet layer in asynchronous mode, as a byte stream uses it: pending operations
// that complete to the status callback on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "platform/lasterror.h"
#include "platform/wininet.h"
#include "raw_server.h"

using testing_support::ClosedPort;
using testing_support::HttpServer;
using testing_support::Pattern;
using testing_support::RawServer;

namespace {

// What the callback saw, keyed by the context it was given.
struct Waiter {
    std::mutex mu;
    std::condition_variable cv;
    struct Event {
        DWORD status;
        DWORD_PTR result;
        DWORD error;
        std::thread::id thread;
    };
    std::vector<Event> events;
    size_t taken = 0;

    // The next REQUEST_COMPLETE (bounded wait).
    bool Next(Event& e, int ms = 10000) {
        std::unique_lock<std::mutex> lock(mu);
        if (!cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return taken < events.size(); })) return false;
        e = events[taken++];
        return true;
    }
    size_t Count() {
        std::lock_guard<std::mutex> g(mu);
        return events.size();
    }
};

void Callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    auto* w = reinterpret_cast<Waiter*>(context);
    EXPECT_EQ(length, sizeof(INTERNET_ASYNC_RESULT));
    auto* r = static_cast<INTERNET_ASYNC_RESULT*>(info);
    std::lock_guard<std::mutex> g(w->mu);
    w->events.push_back({status, r->dwResult, r->dwError, std::this_thread::get_id()});
    w->cv.notify_all();
}

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class Async : public ::testing::Test {
protected:
    void SetUp() override {
        session = InternetOpenW(L"NSPlayer/10.0.0.3802", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                INTERNET_FLAG_ASYNC);
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(InternetSetStatusCallbackW(session, Callback), nullptr);
    }
    void TearDown() override {
        if (session) InternetCloseHandle(session);
    }

    // Opens and waits for the completion; returns the request handle or null (error in `error`).
    HINTERNET Open(const std::string& url, const wchar_t* headers = nullptr, DWORD* error = nullptr) {
        HINTERNET r = InternetOpenUrlW(session, W(url).c_str(), headers, 0xFFFFFFFFu, INTERNET_FLAG_NO_CACHE_WRITE,
                                       reinterpret_cast<DWORD_PTR>(&waiter));
        if (r) return r;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        Waiter::Event e{};
        EXPECT_TRUE(waiter.Next(e));
        EXPECT_NE(e.thread, std::this_thread::get_id());
        if (error) *error = e.error;
        return reinterpret_cast<HINTERNET>(e.result);
    }

    // One read of `n` bytes, waiting for the completion when it goes pending.
    bool Read(HINTERNET req, char* buf, DWORD n, DWORD& got, DWORD& error) {
        got = 0xDEAD;
        if (InternetReadFile(req, buf, n, &got)) {
            error = 0;
            return true;
        }
        error = GetLastError();
        if (error != ERROR_IO_PENDING) return false;
        ++pendingReads;
        Waiter::Event e{};
        EXPECT_TRUE(waiter.Next(e));
        error = e.error;
        return e.result == TRUE;
    }

    std::string ReadAll(HINTERNET req, DWORD chunk, DWORD* lastError = nullptr) {
        std::string body;
        std::vector<char> buf(chunk);
        for (int guard = 0; guard < 100000; ++guard) {
            DWORD got, error;
            if (!Read(req, buf.data(), chunk, got, error)) {
                if (lastError) *lastError = error;
                return body;
            }
            if (got == 0) break;
            body.append(buf.data(), got);
        }
        if (lastError) *lastError = 0;
        return body;
    }

    HINTERNET session = nullptr;
    Waiter waiter;
    int pendingReads = 0;
};

class AsyncHttp : public Async {
protected:
    void SetUp() override {
        auto& s = http.server();
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Accept-Ranges", "bytes");
            res.set_content_provider(2000000, "video/x-flv", [](size_t offset, size_t length, httplib::DataSink& sink) {
                std::string part = Pattern(offset, std::min<size_t>(length, 30000));
                sink.write(part.data(), part.size());
                return true;
            });
        });
        s.Get("/pragma", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Pragma", "no-cache");
            res.set_header("Pragma", "features=\"broadcast\"");
            res.set_content("x", "application/x-mms-framed");
        });
        s.Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/pragma"); });
        http.Start();
        Async::SetUp();
    }
    HttpServer http;
};

TEST_F(AsyncHttp, OpenAndReadsCompleteToTheCallbackWithTheBody) {
    HINTERNET req = Open(http.url("/big"));
    ASSERT_NE(req, nullptr);
    DWORD status = 0, len = sizeof(status);
    ASSERT_TRUE(HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr));
    EXPECT_EQ(status, 200u);
    // Large reads outrun what the layer holds, so some go pending; the bytes stay in order.
    std::string body = ReadAll(req, 100000);
    EXPECT_EQ(body.size(), 2000000u);
    EXPECT_TRUE(body == Pattern(0, 2000000));
    EXPECT_TRUE(InternetCloseHandle(req));
}

TEST_F(AsyncHttp, HeaderQueriesAsAStreamMakesThem) {
    HINTERNET req = Open(http.url("/moved"));
    ASSERT_NE(req, nullptr);
    wchar_t buf[512];
    DWORD len = sizeof(buf);
    ASSERT_TRUE(InternetQueryOptionW(req, INTERNET_OPTION_URL, buf, &len));
    EXPECT_EQ(std::wstring(buf), W(http.url("/pragma")));
    len = sizeof(buf);
    ASSERT_TRUE(HttpQueryInfoW(req, HTTP_QUERY_CONTENT_TYPE, buf, &len, nullptr));
    EXPECT_EQ(std::wstring(buf), L"application/x-mms-framed");
    EXPECT_EQ(len, std::wcslen(buf) * sizeof(wchar_t));
    // Pragma by index, then "not found" at the end.
    std::vector<std::wstring> pragmas;
    DWORD index = 0;
    for (int guard = 0; guard < 10; ++guard) {
        len = sizeof(buf);
        if (!HttpQueryInfoW(req, HTTP_QUERY_PRAGMA, buf, &len, &index)) break;
        pragmas.push_back(buf);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    ASSERT_EQ(pragmas.size(), 2u);
    EXPECT_EQ(pragmas[0], L"no-cache");
    EXPECT_EQ(pragmas[1], L"features=\"broadcast\"");
    // Raw headers: the status line, CR LF lines, a blank line at the end.
    len = sizeof(buf);
    ASSERT_TRUE(HttpQueryInfoW(req, HTTP_QUERY_RAW_HEADERS_CRLF, buf, &len, nullptr));
    std::wstring raw(buf);
    EXPECT_EQ(raw.rfind(L"HTTP/1.1 200 OK\r\n", 0), 0u) << std::string(raw.begin(), raw.end());
    EXPECT_NE(raw.find(L"\r\nPragma: no-cache\r\n"), std::wstring::npos);
    EXPECT_EQ(raw.substr(raw.size() - 4), L"\r\n\r\n");
    // A short buffer reports the bytes needed, terminator included.
    DWORD small = 4;
    EXPECT_FALSE(HttpQueryInfoW(req, HTTP_QUERY_RAW_HEADERS_CRLF, buf, &small, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small, (raw.size() + 1) * sizeof(wchar_t));
    // Headers the answer lacks.
    len = sizeof(buf);
    EXPECT_FALSE(HttpQueryInfoW(req, HTTP_QUERY_ACCEPT_RANGES, buf, &len, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    InternetCloseHandle(req);

    req = Open(http.url("/big"));
    ASSERT_NE(req, nullptr);
    len = sizeof(buf);
    ASSERT_TRUE(HttpQueryInfoW(req, HTTP_QUERY_ACCEPT_RANGES, buf, &len, nullptr));
    EXPECT_EQ(std::wstring(buf), L"bytes");
    DWORD length = 0;
    len = sizeof(length);
    ASSERT_TRUE(HttpQueryInfoW(req, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &len, nullptr));
    EXPECT_EQ(length, 2000000u);
    InternetCloseHandle(req);
}

TEST_F(AsyncHttp, DataAvailableCountsThenZeroAtTheEnd) {
    HINTERNET req = Open(http.url("/pragma"));
    ASSERT_NE(req, nullptr);
    DWORD avail = 0xDEAD;
    if (!InternetQueryDataAvailable(req, &avail, 0, 0)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        Waiter::Event e{};
        ASSERT_TRUE(waiter.Next(e));
        EXPECT_EQ(e.result, static_cast<DWORD_PTR>(TRUE));
    }
    EXPECT_EQ(avail, 1u);
    char c[4];
    DWORD got, error;
    ASSERT_TRUE(Read(req, c, 4, got, error));
    EXPECT_EQ(got, 1u);
    avail = 0xDEAD;
    if (!InternetQueryDataAvailable(req, &avail, 0, 0)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        Waiter::Event e{};
        ASSERT_TRUE(waiter.Next(e));
    }
    EXPECT_EQ(avail, 0u);
    InternetCloseHandle(req);
}

TEST_F(Async, ReadGoesPendingUntilTheBytesArriveAndCountsBeforeTheCallback) {
    std::atomic<bool> more{false};
    RawServer server([&](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + Pattern(0, 10));
        for (int i = 0; i < 500 && !more; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RawServer::SendAll(fd, Pattern(10, 90));
    }, 1);
    HINTERNET req = Open(server.url("/a"));
    ASSERT_NE(req, nullptr);
    char buf[100];
    DWORD got = 0xDEAD;
    ASSERT_FALSE(InternetReadFile(req, buf, 100, &got));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    more = true;
    Waiter::Event e{};
    ASSERT_TRUE(waiter.Next(e));
    EXPECT_EQ(e.result, static_cast<DWORD_PTR>(TRUE));
    EXPECT_EQ(got, 100u);
    EXPECT_TRUE(std::string(buf, 100) == Pattern(0, 100));
    DWORD error;
    ASSERT_TRUE(Read(req, buf, 100, got, error));
    EXPECT_EQ(got, 0u);
    InternetCloseHandle(req);
}

TEST_F(Async, ConnectFailureCompletesWithNoHandleAndTheError) {
    ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    DWORD error = 0;
    HINTERNET req = Open(closed.url(), nullptr, &error);
    EXPECT_EQ(req, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
}

TEST_F(Async, DroppedConnectionFailsTheReadAsNotConnected) {
    RawServer server([](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 50000\r\n\r\n" + Pattern(0, 7000));
    }, 1);
    HINTERNET req = Open(server.url("/a.flv"));
    ASSERT_NE(req, nullptr);
    DWORD error = 0;
    std::string body = ReadAll(req, 4096, &error);
    EXPECT_TRUE(body == Pattern(0, 7000));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_CONNECTED));
    InternetCloseHandle(req);
}

TEST_F(Async, IcyAnswerReachesTheReaderWhole) {
    const std::string answer = "ICY 200 OK\r\nicy-name: Radio One\r\nicy-metaint: 16000\r\n\r\n" + Pattern(0, 20000);
    RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, answer); }, 1);
    HINTERNET req = Open(server.url("/live"), L"Icy-MetaData:1\nPragma: no-cache\n");
    ASSERT_NE(req, nullptr);
    DWORD status, len = sizeof(status);
    EXPECT_FALSE(HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    EXPECT_EQ(ReadAll(req, 3000), answer);
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find("\r\nIcy-MetaData:1\r\nPragma: no-cache\r\n"), std::string::npos);
    EXPECT_NE(seen[0].find("\r\nUser-Agent: NSPlayer/10.0.0.3802\r\n"), std::string::npos);
    InternetCloseHandle(req);
}

TEST_F(Async, ClosingTheSessionCancelsAPendingReadBeforeItReturns) {
    std::atomic<bool> release{false};
    RawServer server([&](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nabc");
        for (int i = 0; i < 200 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }, 1);
    HINTERNET req = Open(server.url("/stall"));
    ASSERT_NE(req, nullptr);
    char buf[100];
    DWORD got = 0xDEAD;
    ASSERT_FALSE(InternetReadFile(req, buf, sizeof(buf), &got));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    size_t before = waiter.Count();
    EXPECT_TRUE(InternetCloseHandle(req));
    EXPECT_TRUE(InternetCloseHandle(session));
    session = nullptr;
    // The cancellation came before the close returned, and nothing comes after it.
    EXPECT_EQ(waiter.Count(), before + 1);
    Waiter::Event e{};
    ASSERT_TRUE(waiter.Next(e, 0));
    EXPECT_EQ(e.result, static_cast<DWORD_PTR>(FALSE));
    EXPECT_EQ(e.error, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
    release = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(waiter.Count(), before + 1);
}

TEST(WininetModule, GoOnlineCanBeHiddenAndCallsAreLogged) {
    using GoOnline = BOOL (*)(LPCWSTR, HWND, DWORD);
    auto fn = reinterpret_cast<GoOnline>(platform::GetWininetExport("InternetGoOnlineW"));
    ASSERT_NE(fn, nullptr);
    platform::SetWininetCallLog(true);
    platform::TakeWininetCallLog();
    EXPECT_TRUE(fn(L"http://127.0.0.1/", nullptr, 0));
    HINTERNET s = InternetOpenW(L"A", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    InternetCloseHandle(s);
    auto log = platform::TakeWininetCallLog();
    platform::SetWininetCallLog(false);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "InternetGoOnlineW url=http://127.0.0.1/");
    EXPECT_EQ(log[1], "InternetOpenW access=0 flags=0x10000000 agent=A");
    EXPECT_EQ(log[2], "InternetCloseHandle session");
    platform::SetWininetExportHidden("InternetGoOnlineW", true);
    EXPECT_EQ(platform::GetWininetExport("InternetGoOnlineW"), nullptr);
    platform::SetWininetExportHidden("InternetGoOnlineW", false);
    EXPECT_NE(platform::GetWininetExport("InternetGoOnlineW"), nullptr);
    EXPECT_EQ(platform::GetWininetExport("NoSuchEntry"), nullptr);
}

}  // namespace
