// The HTTP byte stream against loopback servers: ranges, seeking, retries, reconnects.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "http_server.h"
#include "platform/wininet.h"
#include "raw_server.h"
#include "stream_fixture.h"

using testing_support::ClosedPort;
using testing_support::HttpServer;
using testing_support::Pattern;
using testing_support::RawServer;
using testing_support::Sink;
using testing_support::StreamTest;

namespace {

constexpr size_t kSize = 300000;

struct Seen {
    std::mutex mu;
    std::vector<std::string> paths, ranges, agents, icy, pragmas, custom;
    void Add(const httplib::Request& req) {
        std::lock_guard<std::mutex> g(mu);
        paths.push_back(req.path);
        ranges.push_back(req.get_header_value("Range"));
        agents.push_back(req.get_header_value("User-Agent"));
        icy.push_back(req.get_header_value("Icy-MetaData"));
        pragmas.push_back(req.get_header_value("Pragma"));
        custom.push_back(req.get_header_value("X-Extra"));
    }
    size_t Count() {
        std::lock_guard<std::mutex> g(mu);
        return paths.size();
    }
};

class HttpStreamTest : public StreamTest {
protected:
    void SetUp() override {
        auto& s = http.server();
        s.Get("/seekable.flv", [this](const httplib::Request& req, httplib::Response& res) {
            seen.Add(req);
            res.set_header("Accept-Ranges", "bytes");
            res.set_content_provider(kSize, "video/x-flv", [](size_t offset, size_t length, httplib::DataSink& sink) {
                std::string part = Pattern(offset, std::min<size_t>(length, 50000));
                sink.write(part.data(), part.size());
                return true;
            });
        });
        s.Get("/live.flv", [this](const httplib::Request& req, httplib::Response& res) {
            seen.Add(req);
            res.set_chunked_content_provider("video/x-flv", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= kSize) {
                    sink.done();
                    return true;
                }
                std::string part = Pattern(offset, std::min<size_t>(kSize - offset, 7000));
                sink.write(part.data(), part.size());
                return true;
            });
        });
        s.Get(R"(/status/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            seen.Add(req);
            res.status = std::stoi(req.matches[1]);
            res.set_content("<html>error page</html>", "text/html");
        });
        http.Start();
        StreamTest::SetUp();
    }
    HttpServer http;
    Seen seen;
};

TEST_F(HttpStreamTest, FirstOpenSendsTheAgentAndFixedHeadersAndReadsTheBody) {
    platform::SetWininetCallLog(true);
    platform::TakeWininetCallLog();
    ASSERT_EQ(Open(http.url("/seekable.flv")), 0);
    EXPECT_EQ(Seek(1000, 0), 1000);  // a reopen does not go online again
    EXPECT_EQ(Seek(0, 0), 0);
    auto log = platform::TakeWininetCallLog();
    platform::SetWininetCallLog(false);
    EXPECT_EQ(std::count(log.begin(), log.end(), "InternetGoOnlineW url=" + http.url("/seekable.flv")), 1);
    auto isOpenUrl = [](const std::string& line) { return line.rfind("InternetOpenUrlW", 0) == 0; };
    ASSERT_EQ(std::count_if(log.begin(), log.end(), isOpenUrl), 2);
    EXPECT_EQ(Length(), static_cast<int>(kSize));
    tchar type[64];
    ASSERT_EQ(stream->base.node.getParam(stream, HttpContentType, type, sizeof(type)), 0);
    EXPECT_EQ(std::wstring(type), L"VIDEO/X-FLV");
    tchar base[512];
    ASSERT_EQ(stream->base.node.getParam(stream, HttpBaseUrl, base, sizeof(base)), 0);
    EXPECT_EQ(std::wstring(base), http.wurl(""));
    EXPECT_TRUE(ReadBytes(kSize, 10000) == Pattern(0, kSize));
    char c;
    EXPECT_EQ(Read(&c, 1), 0);
    ASSERT_EQ(seen.Count(), 2u);
    EXPECT_EQ(seen.agents[0], "NSPlayer/10.0.0.3802");
    EXPECT_EQ(seen.icy[0], "1");
    EXPECT_EQ(seen.pragmas[0],
              "no-cache,rate=1.000000,stream-time=0,stream-offset=4294967295:4294967295,request-context=1,"
              "max-duration=2147492981");
    EXPECT_EQ(seen.ranges[0], "");
}

TEST_F(HttpStreamTest, SeekableStreamSeeksWithARange) {
    ASSERT_EQ(Open(http.url("/seekable.flv")), 0);
    EXPECT_EQ(Seek(200000, 0), 200000);
    EXPECT_TRUE(ReadBytes(5000) == Pattern(200000, 5000));
    EXPECT_EQ(Length(), static_cast<int>(kSize));
    // From the end, then backwards far enough not to restart from 0.
    EXPECT_EQ(Seek(-100000, 2), 200000);
    EXPECT_EQ(Seek(70000, 0), 70000);
    EXPECT_TRUE(ReadBytes(3000) == Pattern(70000, 3000));
    // Past the end: refused without asking the server.
    EXPECT_EQ(Seek(kSize + 1, 0), -1);
    ASSERT_EQ(seen.Count(), 4u);
    EXPECT_EQ(seen.ranges[1], "bytes=200000-");
    EXPECT_EQ(seen.ranges[2], "bytes=200000-");
    EXPECT_EQ(seen.ranges[3], "bytes=70000-");
    // The reconnects carry the extra headers too.
    EXPECT_EQ(seen.icy[3], "1");
}

TEST_F(HttpStreamTest, StreamThatCannotSeekReadsForwardAndRestartsBackward) {
    ASSERT_EQ(Open(http.url("/live.flv")), 0);
    EXPECT_EQ(Length(), ERR_INVALID_PARAM);  // chunked, no Content-Length
    EXPECT_EQ(Seek(100, 1), 100);
    EXPECT_EQ(seen.Count(), 1u);
    EXPECT_TRUE(ReadBytes(900) == Pattern(100, 900));
    EXPECT_EQ(Seek(5000, 0), 5000);
    EXPECT_EQ(seen.Count(), 1u);
    // Back to 1000: from the start again, discarding 1000 bytes.
    EXPECT_EQ(Seek(1000, 0), 1000);
    EXPECT_EQ(seen.Count(), 2u);
    EXPECT_EQ(seen.ranges[1], "");
    EXPECT_TRUE(ReadBytes(2000) == Pattern(1000, 2000));
    // Far ahead, then back to 100000: not reachable.
    EXPECT_EQ(ReadBytes(150000 - 3000).size(), 147000u);
    EXPECT_EQ(Seek(100000, 0), -1);
    EXPECT_EQ(Seek(0, 2), -1);  // no length
    EXPECT_EQ(seen.Count(), 2u);
}

TEST_F(HttpStreamTest, ExtraHeadersMakeTheNextSeekReconnect) {
    ASSERT_EQ(Open(http.url("/seekable.flv")), 0);
    EXPECT_EQ(ReadBytes(1234).size(), 1234u);
    const tchar extra[] = L"X-Extra: asf\n";
    ASSERT_EQ(stream->base.node.setParam(stream, HttpExtraHeaders, extra, sizeof(extra)), 0);
    tchar back[64];
    ASSERT_EQ(stream->base.node.getParam(stream, HttpExtraHeaders, back, sizeof(back)), 0);
    EXPECT_EQ(std::wstring(back), extra);
    EXPECT_EQ(Seek(0, 1), 1234);
    ASSERT_EQ(seen.Count(), 2u);
    EXPECT_EQ(seen.custom[1], "asf");
    EXPECT_EQ(seen.ranges[1], "bytes=1234-");
    EXPECT_EQ(seen.icy[1], "");  // the extra headers replaced the fixed ones
    // The flag is cleared: the same seek again asks nothing.
    EXPECT_EQ(Seek(0, 1), 1234);
    EXPECT_EQ(seen.Count(), 2u);
    EXPECT_TRUE(ReadBytes(100) == Pattern(1234, 100));
}

TEST_F(HttpStreamTest, ErrorStatusesAreRetriedOrFailAsRuled) {
    struct Case {
        int status;
        size_t requests;
        int shownId;  // 0: nothing shown
        bool withUrl;
    } cases[] = {
        {503, 6, -16, true}, {500, 6, -16, true}, {403, 6, -16, true}, {408, 6, -16, true},
        {401, 6, -19, false}, {404, 1, -8, true}, {410, 1, -8, true},
    };
    for (const auto& c : cases) {
        size_t before = seen.Count();
        core::ClearShownErrors();
        core::ClearSleepLog();
        std::string url = http.url("/status/" + std::to_string(c.status));
        EXPECT_EQ(Open(url), ERR_OPEN_FAILED) << c.status;
        EXPECT_EQ(seen.Count() - before, c.requests) << c.status;
        auto shown = core::ShownErrors();
        ASSERT_EQ(shown.size(), 1u) << c.status;
        EXPECT_EQ(shown[0].messageClass, ERR_CLASS);
        EXPECT_EQ(shown[0].id, c.shownId) << c.status;
        if (c.withUrl) {
            EXPECT_EQ(shown[0].argument, std::wstring(url.begin(), url.end())) << c.status;
        }
        // Retries wait 200 ms each.
        auto sleeps = core::SleepLog();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 200), static_cast<long>(c.requests - 1)) << c.status;
    }
    // Silent: the same failure, nothing shown.
    int on = 1;
    ASSERT_EQ(stream->base.node.setParam(stream, HttpSilent, &on, sizeof(on)), 0);
    core::ClearShownErrors();
    EXPECT_EQ(Open(http.url("/status/404")), ERR_OPEN_FAILED);
    EXPECT_TRUE(core::ShownErrors().empty());
}

TEST_F(HttpStreamTest, UpperCaseMmsIsAskedForOverHttp) {
    std::string url = http.url("/seekable.flv");
    std::string mms = "MMS://" + url.substr(7);
    ASSERT_EQ(Open(mms), 0);
    ASSERT_EQ(seen.Count(), 1u);
    EXPECT_EQ(seen.paths[0], "/seekable.flv");
    tchar got[512];
    ASSERT_EQ(stream->base.node.getParam(stream, HttpUrl, got, sizeof(got)), 0);
    EXPECT_EQ(std::wstring(got), std::wstring(url.begin(), url.end()));
}

TEST_F(StreamTest, ConnectFailureTriesBothAccessTypesThenShowsTheError) {
    ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    const int port = closed.port();
    struct Case {
        std::string url;
        int id;
        std::wstring argument;
    } cases[] = {
        {"MMS://127.0.0.1:" + std::to_string(port) + "/x.asf", -13, L"MMS"},
        {"http://127.0.0.1:" + std::to_string(port) + "/x.flv", -16,
         L"http://127.0.0.1:" + std::to_wstring(port) + L"/x.flv"},
    };
    for (const auto& c : cases) {
        core::ClearShownErrors();
        platform::SetWininetCallLog(true);
        platform::TakeWininetCallLog();
        EXPECT_EQ(Open(c.url), ERR_OPEN_FAILED);
        auto log = platform::TakeWininetCallLog();
        platform::SetWininetCallLog(false);
        std::vector<std::string> opens;
        for (auto& line : log)
            if (line.rfind("InternetOpenW", 0) == 0) opens.push_back(line);
        ASSERT_EQ(opens.size(), 2u);
        EXPECT_EQ(opens[0], "InternetOpenW access=1 flags=0x10000000 agent=NSPlayer/10.0.0.3802");
        EXPECT_EQ(opens[1], "InternetOpenW access=0 flags=0x10000000 agent=NSPlayer/10.0.0.3802");
        auto shown = core::ShownErrors();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].id, c.id);
        EXPECT_EQ(shown[0].argument, c.argument);
    }
}

// A connection dropped at 30000 bytes, and what the reconnect is answered with: the bytes
// read are the resource's own at every offset, to its end or up to a read that fails.
TEST_F(StreamTest, DroppedConnectionResumesAtThePositionOrFails) {
    const size_t total = 100000, first = 30000;
    const std::string head200 = "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\n";
    auto partial = [&](size_t from) {
        return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(total - from) +
               "\r\nContent-Range: bytes " + std::to_string(from) + "-" + std::to_string(total - 1) + "/" +
               std::to_string(total) + "\r\n\r\n" + Pattern(from, total - from);
    };
    auto rangeStart = [](const std::string& request) -> size_t {
        size_t at = request.find("Range: bytes=");
        return at == std::string::npos ? 0 : std::stoul(request.substr(at + 13));
    };
    auto chunked = [](const std::string& body, bool last) {
        std::string out;
        for (size_t at = 0; at < body.size(); at += 5000) {
            char size[16];
            std::snprintf(size, sizeof(size), "%zx\r\n", std::min<size_t>(5000, body.size() - at));
            out += size + body.substr(at, 5000) + "\r\n";
        }
        return last ? out + "0\r\n\r\n" : out;
    };
    const std::string length = "Content-Length: " + std::to_string(total) + "\r\n";
    struct Case {
        const char* name;
        std::string first;                                    // the answer dropped at 30000
        std::function<std::string(const std::string&)> then;  // the answer to the reconnect
        bool whole;                                           // every byte arrives
        const char* range;                                    // what the reconnect asks for
    } cases[] = {
        {"206 from the position", head200 + "Accept-Ranges: bytes\r\n" + length + "\r\n" + Pattern(0, first),
         [&](const std::string& r) { return partial(rangeStart(r)); }, true, "Range: bytes=30000-\r\n"},
        {"200 to the range", head200 + length + "\r\n" + Pattern(0, first),
         [&](const std::string&) { return head200 + length + "\r\n" + Pattern(0, total); }, true,
         "Range: bytes=30000-\r\n"},
        {"206 from further on", head200 + "Accept-Ranges: bytes\r\n" + length + "\r\n" + Pattern(0, first),
         [&](const std::string& r) { return partial(rangeStart(r) + 100); }, false, "Range: bytes=30000-\r\n"},
        {"206 without a range", head200 + "Accept-Ranges: bytes\r\n" + length + "\r\n" + Pattern(0, first),
         [&](const std::string&) {
             return "HTTP/1.1 206 Partial Content\r\nContent-Length: 70000\r\n\r\n" + Pattern(first, total - first);
         },
         false, "Range: bytes=30000-\r\n"},
        // No length: nothing tells that the start again is the same resource.
        {"chunked, the start again",
         head200 + "Transfer-Encoding: chunked\r\n\r\n" + chunked(Pattern(0, first), false),
         [&](const std::string&) {
             return head200 + "Transfer-Encoding: chunked\r\n\r\n" + chunked(Pattern(0, total), true);
         },
         false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server([&](int fd, const std::string& request, int index) {
            RawServer::SendAll(fd, index == 0 ? c.first : c.then(request));
        }, 4);
        ASSERT_EQ(Open(server.url("/v.flv")), 0);
        std::string body;
        std::vector<char> buf(8192);
        int failures = 0, last = 0;
        for (int guard = 0; guard < 1000 && body.size() < total && failures < 3; ++guard) {
            last = Read(buf.data(), 8192);
            if (last < 0) {
                ++failures;
                continue;
            }
            if (last == 0) break;
            body.append(buf.data(), static_cast<size_t>(last));
        }
        EXPECT_GE(body.size(), first);
        EXPECT_TRUE(body == Pattern(0, body.size())) << "bytes from the wrong offset";
        if (c.whole) {
            EXPECT_EQ(body.size(), total);
            EXPECT_LE(failures, 2);
        } else {
            EXPECT_EQ(body.size(), first);
            EXPECT_EQ(last, -1);
        }
        auto requests = server.requests();
        ASSERT_GE(requests.size(), 2u);
        if (c.range) EXPECT_NE(requests[1].find(c.range), std::string::npos) << requests[1];
        else EXPECT_EQ(requests[1].find("Range:"), std::string::npos) << requests[1];
    }
}

TEST_F(HttpStreamTest, DataAvailableReportsWaitingCountAndEnd) {
    ASSERT_EQ(Open(http.url("/seekable.flv")), 0);
    int n = 0;
    for (int guard = 0; guard < 2000 && n == 0; ++guard) {
        n = stream->base.dataAvailable(stream);
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(n, 0);
    EXPECT_EQ(ReadBytes(kSize, 65536).size(), kSize);
    int end = 0;
    for (int guard = 0; guard < 2000 && end == 0; ++guard) {
        end = stream->base.dataAvailable(stream);
        if (end == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(end, -1);
}

TEST_F(StreamTest, DestroyWithAReadOutstandingReturnsCleanly) {
    std::atomic<bool> release{false};
    RawServer server([&](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nabc");
        for (int i = 0; i < 300 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }, 2);
    ASSERT_EQ(Open(server.url("/stall")), 0);
    char buf[16];
    ASSERT_EQ(Read(buf, 3), 3);
    // Waits of 180 "seconds" take 180 ms: the read gives up with the operation still due.
    core::SetTimeFreq(1);
    EXPECT_EQ(Read(buf, 16), -1);
    NodeDelete(stream);
    stream = nullptr;
    release = true;
}

}  // namespace
