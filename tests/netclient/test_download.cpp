// The download manager against the sample service on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "clientenv.h"
#include "connMgr.h"
#include "download.h"
#include "log.h"
#include "phoneInfo.h"
#include "platform/codepage.h"
#include "platform/connmgr.h"
#include "platform/wininet.h"
#include "raw_server.h"

namespace {

using nettest::ClientEnv;

const std::string kTop = "/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=1&rt=1&f=8&seg=1&rp=1";

// Takes the download manager's waits for an empty pool: each is recorded and, while the
// gate is closed, holds its caller until the test opens it (at most a minute, so a broken
// test cannot hang).
class SleepGate {
public:
    explicit SleepGate(bool open) : open_(open) {
        current_ = this;
        SetDownloadSleep(Hook);
    }
    ~SleepGate() {
        SetDownloadSleep(nullptr);
        current_ = nullptr;
    }
    void Open() {
        std::lock_guard<std::mutex> l(m_);
        open_ = true;
        cv_.notify_all();
    }
    std::vector<DWORD> Sleeps() {
        std::lock_guard<std::mutex> l(m_);
        return sleeps_;
    }

private:
    static void Hook(DWORD ms) {
        SleepGate& g = *current_;
        std::unique_lock<std::mutex> l(g.m_);
        g.sleeps_.push_back(ms);
        if (!g.cv_.wait_for(l, std::chrono::minutes(1), [&] { return g.open_; })) g.open_ = true;
    }
    static inline SleepGate* current_ = nullptr;
    std::mutex m_;
    std::condition_variable cv_;
    bool open_;
    std::vector<DWORD> sleeps_;
};

struct DownloadTest : ::testing::Test {
    ClientEnv& env = ClientEnv::Get();
    void SetUp() override { env.Begin(); }
    void TearDown() override { env.End(); }

    size_t FreeSessions() {
        EnterCriticalSection(&g_downloader.csPool);
        size_t n = g_downloader.sessions.size();
        LeaveCriticalSection(&g_downloader.csPool);
        return n;
    }
    // The request block (request line and header lines) of the last request containing `text`.
    std::vector<std::string> LastRequest(const std::string& text) {
        std::vector<std::string> block, found;
        for (auto& line : env.service().Requests()) {
            if (line.rfind("GET ", 0) == 0) {
                if (!block.empty() && block[0].find(text) != std::string::npos) found = block;
                block.clear();
            }
            block.push_back(line);
        }
        if (!block.empty() && block[0].find(text) != std::string::npos) found = block;
        return found;
    }
    // A folder of the program folder of this test's own, empty.
    void FreshFolder(const std::string& relative) {
        std::filesystem::remove_all(env.dir().path() + "/" + relative);
        std::filesystem::create_directories(env.dir().path() + "/" + relative);
    }
    // The names in a folder of the program folder, sorted.
    std::vector<std::string> FilesIn(const std::string& relative) {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(env.dir().path() + "/" + relative))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Header(const std::vector<std::string>& block, const std::string& name) {
        for (auto& l : block)
            if (l.rfind("  " + name + ": ", 0) == 0) return l.substr(name.size() + 4);
        return "<absent>";
    }
};

TEST_F(DownloadTest, PoolHoldsTwentySessions) { EXPECT_EQ(FreeSessions(), 20u); }

TEST_F(DownloadTest, FileAndMemoryTargetsReceiveTheWholeBody) {
    std::string expected = env.service().Get(kTop);
    ASSERT_GT(expected.size(), 5000u) << "several read chunks";
    std::wstring file = env.Path("Xml/whole.xml");
    CStringA none;
    ASSERT_EQ(Download(&g_downloader, env.WUrl(kTop).c_str(), nullptr, file.c_str(), 0, none, 1), 0);
    EXPECT_EQ(env.dir().Read("Xml/whole.xml"), expected);
    EXPECT_TRUE(none.empty());

    std::string segment = env.service().Get("/media/x/1/seg3.mp4");
    ASSERT_GT(segment.size(), 10000u);
    ASSERT_EQ(Download(&g_downloader, env.WUrl("/media/x/1/seg3.mp4").c_str(), L"", env.Path("seg.mp4").c_str(), 1,
                       none, 0),
              0);
    EXPECT_EQ(env.dir().Read("seg.mp4"), segment);

    CStringA body;
    ASSERT_EQ(Download(&g_downloader, env.WUrl(kTop).c_str(), nullptr, nullptr, 0, body, 1), 0);
    EXPECT_EQ(body, expected);

    // An empty body gives success and an empty file.
    env.dir().Write("empty.bin", "old content");
    ASSERT_EQ(Download(&g_downloader, env.WUrl(kTop + "&fault=status:204").c_str(), nullptr,
                       env.Path("empty.bin").c_str(), 1, none, 0),
              0);
    EXPECT_TRUE(env.dir().Exists("empty.bin"));
    EXPECT_EQ(env.dir().Read("empty.bin"), "");
    EXPECT_EQ(FreeSessions(), 20u);
}

TEST_F(DownloadTest, HeaderTexts) {
    CStringA body;
    ASSERT_EQ(Download(&g_downloader, env.WUrl(kTop + "&h=0").c_str(), nullptr, nullptr, 0, body, 0), 0);
    auto plain = LastRequest("&h=0");
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(Header(plain, "Accept"), "*/*");
    EXPECT_EQ(Header(plain, "User-Agent"), "Lumeo Client: Windows Mobile; Windows Phone") << "the session's agent";

    wchar_t phone[512];
    ASSERT_EQ(GetPhoneInfo(phone, 512), 0);
    ASSERT_EQ(Download(&g_downloader, env.WUrl(kTop + "&h=1").c_str(), nullptr, nullptr, 0, body, 1), 0);
    auto withAgent = LastRequest("&h=1");
    EXPECT_EQ(Header(withAgent, "Accept"), "*/*");
    EXPECT_EQ(Header(withAgent, "User-Agent"), platform::WideToUtf8(phone));
}

TEST_F(DownloadTest, UrlTemplateTakesTheQueryOnlyInItsOneDirective) {
    struct Case {
        const wchar_t* templ;
        const wchar_t* query;
        const wchar_t* url;
    } cases[] = {
        {L"http://h/s?keyword=%s&pg=1", L"a b", L"http://h/s?keyword=a b&pg=1"},
        {L"http://h/s?keyword=%s&pg=1", nullptr, L"http://h/s?keyword=&pg=1"},
        {L"http://h/s?keyword=%s&pg=1", L"", L"http://h/s?keyword=&pg=1"},
        {L"http://h/img/a%20b%d%x%%.jpg", nullptr, L"http://h/img/a%20b%d%x%%.jpg"},
        {L"http://h/img/a%20b.jpg?k=%s", L"v", L"http://h/img/a%20b.jpg?k=v"},
        {L"http://h/%s/%s", L"x", L"http://h/x/%s"},
        {L"http://h/plain", L"ignored", L"http://h/plain"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatUrlTemplate(c.templ, c.query), CStringW(c.url)) << c.templ;

    // A server's own URL goes out byte for byte.
    CStringA body;
    std::string target = "/img/lv3f2a0000%20%25s%d.jpg?x=%41";
    Download(&g_downloader, env.WUrl(target).c_str(), nullptr, nullptr, 1, body, 0);
    auto seen = env.RequestsWith("/img/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "GET " + target);
}

TEST_F(DownloadTest, QueryIsPercentEncodedUtf8AndBounded) {
    std::string search = "/openapi-common/searchVideos?pid=4f7be1c09a2d6e53&keyword=%s&pg=1&pz=10&rt=1&f=8&seg=1&rp=1";
    CStringA body;
    ASSERT_EQ(Download(&g_downloader, env.WUrl(search).c_str(), L"猫咪 幕后", nullptr, 0, body, 1), 0);
    auto seen = env.RequestsWith("searchVideos");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find("keyword=%E7%8C%AB%E5%92%AA+%E5%B9%95%E5%90%8E&pg=1"), std::string::npos) << seen[0];
    EXPECT_NE(body.find("<total>1</total>"), std::string::npos) << "the service found the one video";

    // 170 Chinese characters are 510 bytes, but 1530 once encoded; 200 Latin letters fit.
    std::wstring longChinese(170, L'猫');
    std::wstring tooLongAnsi(171, L'猫');
    std::wstring latin(200, L'a');
    int before = env.LogCount("Utf8UrlEncode failed.");
    EXPECT_EQ(Download(&g_downloader, env.WUrl(search).c_str(), longChinese.c_str(), nullptr, 0, body, 1),
              DOWNLOAD_BAD_QUERY);
    EXPECT_EQ(Download(&g_downloader, env.WUrl(search).c_str(), tooLongAnsi.c_str(), nullptr, 0, body, 1),
              DOWNLOAD_BAD_QUERY);
    EXPECT_EQ(env.LogCount("Utf8UrlEncode failed."), before + 2);
    EXPECT_EQ(env.RequestsWith("searchVideos").size(), 1u) << "refused queries send nothing";
    EXPECT_EQ(Download(&g_downloader, env.WUrl(search).c_str(), latin.c_str(), nullptr, 0, body, 1), 0);
    EXPECT_EQ(env.RequestsWith("keyword=" + std::string(200, 'a') + "&").size(), 1u);
    EXPECT_EQ(FreeSessions(), 20u);
}

TEST_F(DownloadTest, FailuresGiveTheSessionBack) {
    CStringA body;
    std::wstring file = env.Path("fail.bin");
    int failedOpen = env.LogCount("InternetOpenUrl failed");
    // Nobody listens on port 1 of this machine.
    EXPECT_EQ(Download(&g_downloader, L"http://127.0.0.1:1/x", nullptr, file.c_str(), 1, body, 0), -1);
    EXPECT_EQ(env.LogCount("InternetOpenUrl failed : errno=12029"), failedOpen + 1);
    EXPECT_EQ(env.LogCount("Url=http://127.0.0.1:1/x"), 1);

    EXPECT_EQ(Download(&g_downloader, env.WUrl(kTop).c_str(), nullptr, env.Path("no/such/dir/f.xml").c_str(), 0,
                       body, 0),
              -1);
    EXPECT_GE(env.LogCount("failed to open file : "), 1);

    // A connection dropped in the middle of the body: the file keeps what it held before,
    // and nothing of the part that came stays beside it.
    std::string whole = env.service().Get(kTop);
    FreshFolder("Drop");
    env.dir().Write("Drop/fail.bin", "earlier answer");
    EXPECT_EQ(Download(&g_downloader, env.WUrl(kTop + "&fault=drop").c_str(), nullptr, env.Path("Drop/fail.bin").c_str(),
                       1, body, 0),
              -1);
    EXPECT_GE(env.LogCount("InternetReadFile return FALSE : errno="), 1);
    auto drops = env.service().Drops();
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].target, kTop + "&fault=drop");
    EXPECT_GT(drops[0].sent, 0u) << "part of the body had come";
    EXPECT_LT(drops[0].sent, whole.size());
    EXPECT_EQ(env.dir().Read("Drop/fail.bin"), "earlier answer");
    EXPECT_EQ(FilesIn("Drop"), std::vector<std::string>{"fail.bin"});
    EXPECT_EQ(FreeSessions(), 20u);
}

// Only a success answer is a download: an error page, or a redirection that was not
// followed (the service sends no Location), goes nowhere an answer is kept, neither into
// the file (nor beside it) nor into the text.
TEST_F(DownloadTest, ErrorAnswersAreFailedDownloads) {
    struct Case {
        const char* fault;
        int result;
    } cases[] = {
        {"status:400", -1}, {"status:403", -1}, {"status:404", -1}, {"status:500", -1}, {"status:503", -1},
        {"status:301", -1}, {"status:302", -1}, {"status:303", -1}, {"status:307", -1},
        {"status:304", -1},  // no body either
        {"status:399", -1},
        {"status:204", 0},  // a success without a body
        {"status:299", 0},
        {"", 0},
    };
    FreshFolder("Answers");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string target = kTop + (*c.fault ? std::string("&fault=") + c.fault : std::string());
        const std::string line = "HTTP error answer : status=" + std::string(*c.fault ? c.fault + 7 : "") +
                                 ", Url=http://" + env.host() + target;
        int anyLogged = env.LogCount("HTTP error answer : status="), logged = env.LogCount(line);
        env.dir().Write("Answers/answer.xml", "earlier answer");
        CStringA none;
        EXPECT_EQ(Download(&g_downloader, env.WUrl(target).c_str(), nullptr, env.Path("Answers/answer.xml").c_str(),
                           0, none, 0),
                  c.result);
        EXPECT_EQ(FilesIn("Answers"), std::vector<std::string>{"answer.xml"});
        CStringA text = "kept";
        EXPECT_EQ(Download(&g_downloader, env.WUrl(target).c_str(), nullptr, nullptr, 0, text, 0), c.result);
        if (c.result != 0) {
            EXPECT_EQ(env.dir().Read("Answers/answer.xml"), "earlier answer");
            EXPECT_EQ(text, "kept");
            EXPECT_EQ(env.LogCount(line), logged + 2);
        } else {
            EXPECT_EQ(env.dir().Read("Answers/answer.xml"), env.service().Get(target));
            EXPECT_EQ(text, "kept" + env.service().Get(target));
            EXPECT_EQ(env.LogCount("HTTP error answer : status="), anyLogged);
        }
    }
    EXPECT_EQ(FreeSessions(), 20u);
}

TEST_F(DownloadTest, TheTwentyFirstRequestWaitsForASession) {
    SleepGate gate(false);
    // Threads of this test, joined on every way out; the service's delays and the gate are
    // released first so that none of them is left waiting.
    struct Threads {
        ClientEnv& env;
        SleepGate& gate;
        std::vector<std::thread> all;
        ~Threads() {
            env.service().Get("/control/release?count=100");
            gate.Open();
            for (auto& t : all)
                if (t.joinable()) t.join();
        }
    } threads{env, gate, {}};
    // A minute bounds each wait; the service holds the twenty until the test releases them.
    auto waitUntil = [](auto done) {
        for (int i = 0; i < 6000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };

    for (int i = 0; i < 20; ++i) {
        threads.all.emplace_back([&, i] {
            CStringA body;
            std::string t = kTop + "&fault=delay:60000&n=" + std::to_string(i);
            EXPECT_EQ(Download(&g_downloader, env.WUrl(t).c_str(), nullptr, nullptr, 0, body, 0), 0);
        });
    }
    ASSERT_TRUE(waitUntil([&] { return FreeSessions() == 0; })) << "all twenty sessions are in use";
    std::atomic<int> result{1};
    threads.all.emplace_back([&] {
        CStringA body;
        result = Download(&g_downloader, env.WUrl(kTop + "&n=21").c_str(), nullptr, nullptr, 0, body, 0);
    });
    ASSERT_TRUE(waitUntil([&] { return !gate.Sleeps().empty() || result.load() != 1; }));
    EXPECT_EQ(gate.Sleeps(), std::vector<DWORD>{100}) << "the 21st found the pool empty and waits";
    EXPECT_EQ(result.load(), 1);
    EXPECT_TRUE(env.RequestsWith("&n=21").empty()) << "it has sent nothing while it waits";

    // One slow answer comes; its session is back before the 21st polls again.
    env.service().Get("/control/release?count=1");
    ASSERT_TRUE(waitUntil([&] { return FreeSessions() == 1; }));
    gate.Open();
    threads.all.back().join();
    EXPECT_EQ(result.load(), 0) << "it went on once a session came back";
    EXPECT_EQ(env.RequestsWith("&n=21").size(), 1u);
    EXPECT_EQ(gate.Sleeps(), std::vector<DWORD>{100}) << "one poll of 100 ms";
    EXPECT_EQ(FreeSessions(), 1u) << "the other nineteen are still in flight";

    env.service().Get("/control/release?count=19");
    for (auto& t : threads.all)
        if (t.joinable()) t.join();
    EXPECT_EQ(FreeSessions(), 20u);
    EXPECT_EQ(env.LogCount("Get HINTERNET timeout"), 0);
}

TEST_F(DownloadTest, AnEmptyPoolFailsAfterTwentySeconds) {
    std::deque<HINTERNET> taken;
    EnterCriticalSection(&g_downloader.csPool);
    taken.swap(g_downloader.sessions);
    LeaveCriticalSection(&g_downloader.csPool);
    CStringA body;
    {
        SleepGate gate(true);
        EXPECT_EQ(Download(&g_downloader, env.WUrl(kTop).c_str(), nullptr, nullptr, 0, body, 0), -1);
        EXPECT_EQ(gate.Sleeps(), std::vector<DWORD>(200, 100)) << "200 polls 100 ms apart";
    }
    EXPECT_EQ(env.LogCount("Get HINTERNET timeout: 20s"), 1);
    EXPECT_TRUE(env.RequestsWith("getTopVideos").empty());
    EnterCriticalSection(&g_downloader.csPool);
    g_downloader.sessions.swap(taken);
    LeaveCriticalSection(&g_downloader.csPool);
}

TEST_F(DownloadTest, DownloadExReconnectsOnceAndRetries) {
    // A cut answer and an error answer fail alike.
    for (const char* fault : {"drop", "status:500"}) {
        SCOPED_TRACE(fault);
        env.Reset();
        std::remove((env.dir().path() + "/ex.xml").c_str());
        env.service().QueueFault(fault, 1, "getTopVideos");
        platform::ConnMgrResetCounts();
        CStringA body;
        int failed = env.LogCount("): Download failed."), errors = env.LogCount("ERROR");
        EXPECT_EQ(
            DownloadEx(&g_downloader, env.WUrl(kTop).c_str(), nullptr, env.Path("ex.xml").c_str(), 0, 1, body, 1), 0);
        EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 1) << "one reconnect";
        EXPECT_EQ(env.RequestsWith("getTopVideos").size(), 2u);
        EXPECT_EQ(env.dir().Read("ex.xml"), env.service().Get(kTop));
        EXPECT_EQ(env.LogCount("): Download failed."), failed + 1);
        EXPECT_EQ(env.LogCount("ERROR"), errors + 1) << "logged at ERROR";
        EXPECT_TRUE(env.Boxes().empty());

        // Both tries fail: the box only when asked, and no answer is kept.
        std::remove((env.dir().path() + "/ex.xml").c_str());
        env.service().QueueFault(fault, 2, "getTopVideos");
        EXPECT_EQ(
            DownloadEx(&g_downloader, env.WUrl(kTop).c_str(), nullptr, env.Path("ex.xml").c_str(), 0, 1, body, 0), -1);
        EXPECT_TRUE(env.Boxes().empty());
        env.service().QueueFault(fault, 2, "getTopVideos");
        EXPECT_EQ(
            DownloadEx(&g_downloader, env.WUrl(kTop).c_str(), nullptr, env.Path("ex.xml").c_str(), 0, 1, body, 1), -1);
        EXPECT_FALSE(env.dir().Exists("ex.xml"));
        auto boxes = env.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"无法连接网络，请检查网络设置。");
        EXPECT_EQ(boxes[0].caption, L"提示");
        EXPECT_EQ(boxes[0].type, 0x40u);
        EXPECT_EQ(FreeSessions(), 20u);
    }
}

// A transfer of another thread still under way on a session that is back in the pool (its
// answer held by the service) holds up no download that takes the session.
TEST_F(DownloadTest, ADownloadDoesNotWaitForAnotherTransferOnItsSession) {
    // One session stays in the pool, so the download takes the one with the held transfer.
    std::deque<HINTERNET> others;
    HINTERNET shared;
    EnterCriticalSection(&g_downloader.csPool);
    shared = g_downloader.sessions.front();
    others.assign(g_downloader.sessions.begin() + 1, g_downloader.sessions.end());
    g_downloader.sessions.resize(1);
    LeaveCriticalSection(&g_downloader.csPool);
    HINTERNET held = nullptr;
    std::thread other([&] {
        held = InternetOpenUrlW(shared, env.WUrl(kTop + "&fault=delay:60000&n=held").c_str(), nullptr, 0, 0, 0);
    });
    // Whatever happens, the held answer comes and the pool gets its sessions back.
    struct Restore {
        ClientEnv& env;
        std::thread& other;
        std::deque<HINTERNET>& others;
        ~Restore() {
            env.service().Get("/control/release?count=1");
            if (other.joinable()) other.join();
            EnterCriticalSection(&g_downloader.csPool);
            for (HINTERNET s : others) g_downloader.sessions.push_back(s);
            LeaveCriticalSection(&g_downloader.csPool);
        }
    } restore{env, other, others};
    for (int i = 0; i < 6000 && env.RequestsWith("&n=held").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(env.RequestsWith("&n=held").size(), 1u) << "the held transfer is under way";

    auto download = std::async(std::launch::async, [&] {
        CStringA body;
        return Download(&g_downloader, env.WUrl(kTop + "&n=quick").c_str(), nullptr, env.Path("quick.xml").c_str(), 0,
                        body, 0);
    });
    // A generous bound that only a download stuck behind the held answer reaches.
    bool returned = download.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    env.service().Get("/control/release?count=1");
    other.join();
    EXPECT_TRUE(returned) << "the download waited for the held answer";
    EXPECT_EQ(download.get(), 0);
    EXPECT_EQ(env.dir().Read("quick.xml"), env.service().Get(kTop));
    EXPECT_EQ(FreeSessions(), 1u) << "its session is back";
    ASSERT_NE(held, nullptr);
    InternetCloseHandle(held);
}

// A query too long to encode is not a network failure: no reconnect, no retry and no
// "not connected" box, which would send the user to check a network that works.
TEST_F(DownloadTest, DownloadExGivesUpAtOnceOnAQueryThatCannotBeEncoded) {
    std::string search = "/openapi-common/searchVideos?pid=4f7be1c09a2d6e53&keyword=%s&pg=1&pz=10&rt=1&f=8&seg=1&rp=1";
    std::wstring tooLong(171, L'猫');
    platform::ConnMgrResetCounts();
    CStringA body;
    EXPECT_EQ(DownloadEx(&g_downloader, env.WUrl(search).c_str(), tooLong.c_str(), nullptr, 0, 1, body, 1), -1);
    EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 0);
    EXPECT_TRUE(env.Boxes().empty());
    EXPECT_TRUE(env.RequestsWith("searchVideos").empty());
    EXPECT_EQ(FreeSessions(), 20u);
}

TEST_F(DownloadTest, DownloadExOffline) {
    ASSERT_TRUE(platform::ConnMgrConfigure(L"offline"));
    CStringA body;
    int cant = env.LogCount("Can't connect");
    EXPECT_EQ(DownloadEx(&g_downloader, L"http://127.0.0.1:1/x", nullptr, nullptr, 1, 0, body, 0), -1);
    EXPECT_TRUE(env.Boxes().empty()) << "never a box when not asked, also offline";
    EXPECT_EQ(DownloadEx(&g_downloader, L"http://127.0.0.1:1/x", nullptr, nullptr, 1, 0, body, 1), -1);
    EXPECT_EQ(env.Boxes().size(), 1u);
    EXPECT_EQ(env.LogCount("Can't connect"), cant + 2);
}

}  // namespace

namespace {

// The pool's sessions with another receive time-out for as long as this lives, set as the
// download manager sets its own.
struct PoolTimeout {
    explicit PoolTimeout(DWORD ms) { Set(ms); }
    ~PoolTimeout() { Set(DOWNLOAD_TIMEOUT_MS); }
    static void Set(DWORD ms) {
        EnterCriticalSection(&g_downloader.csPool);
        for (HINTERNET s : g_downloader.sessions) {
            EXPECT_TRUE(InternetSetOptionW(s, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof(ms)));
            EXPECT_TRUE(InternetSetOptionW(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof(ms)));
        }
        LeaveCriticalSection(&g_downloader.csPool);
    }
};

using testing_support::RawServer;

// The whole of a load is bounded by the sessions' receive time-out, counted from the
// request, however the server trickles its bytes: a silent server, header lines or body
// bytes that come one by one. It is not tried again, no part file stays, and the log says
// what failed, each line one line.
TEST_F(DownloadTest, ALoadIsBoundedAsAWholeHoweverTheBytesTrickle) {
    struct Case {
        const char* name;
        const char* head;    // sent at once
        const char* repeat;  // then sent every 300 ms until the client has gone
        const char* logged;  // besides the time-out's own line
    } cases[] = {
        {"silent", "", "", "InternetOpenUrl failed : errno=12002, msg=The operation timed out, Url=http://127.0.0.1:"},
        {"header lines", "HTTP/1.1 200 OK\r\n", "X-Wait: 1\r\n",
         "InternetOpenUrl failed : errno=12002, msg=The operation timed out, Url=http://127.0.0.1:"},
        {"body bytes", "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n<channel>", "x",
         ""},
        {"long body bytes", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "x", ""},
    };
    FreshFolder("Xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> gone{false};
        RawServer server(
            [&](int fd, const std::string&, int) {
                if (*c.head && !RawServer::SendAll(fd, c.head)) return;
                // At most a minute, so that a broken test cannot hang.
                for (int i = 0; i < 200 && !gone; ++i) {
                    if (*c.repeat && !RawServer::SendAll(fd, c.repeat)) return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
            },
            4);
        PoolTimeout bound(1500);
        const std::string timeout = "Download timeout: 1500ms, Url=" + server.url("/list.xml");
        const int logged = env.LogCount(c.logged), timeouts = env.LogCount(timeout);
        CStringA body;
        auto start = std::chrono::steady_clock::now();
        int r = DownloadEx(&g_downloader, platform::Utf8ToWide(server.url("/list.xml")).c_str(), nullptr,
                           env.Path("Xml/recommend_1.xml").c_str(), 0, 1, body, 0);
        auto took = std::chrono::steady_clock::now() - start;
        gone = true;
        EXPECT_EQ(r, -1);
        EXPECT_LT(took, std::chrono::seconds(20)) << "not bounded by the time-out";
        EXPECT_EQ(server.requests().size(), 1u) << "a load that timed out is not tried again";
        EXPECT_TRUE(FilesIn("Xml").empty());
        EXPECT_EQ(env.LogCount(timeout), timeouts + 1);
        if (*c.logged) {
            EXPECT_EQ(env.LogCount(c.logged), logged + 1);
        }
        EXPECT_EQ(FreeSessions(), 20u);
    }
}

// A redirection without a Location is no list, picture or package: nothing of it is kept.
TEST_F(DownloadTest, ARedirectionThatIsNotFollowedKeepsNothing) {
    struct Case {
        std::string target, folder, file;
    } cases[] = {
        {kTop, "Xml", "recommend_1.xml"},
        {"/img/lv3f2a0000.jpg", "Image", "lv3f2a0000.jpg"},
        {"/packages/Lumeo_v1.01.16.00001.CAB", "Update", "Lumeo_v1.01.16.00001.CAB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        FreshFolder(c.folder);
        ASSERT_FALSE(env.service().Get(c.target).empty());
        env.service().QueueFault("status:302", 2, c.target);
        const int logged = env.LogCount("HTTP error answer : status=302, Url=http://" + env.host() + c.target);
        CStringA body;
        EXPECT_EQ(DownloadEx(&g_downloader, env.WUrl(c.target).c_str(), nullptr,
                             env.Path(c.folder + "/" + c.file).c_str(), 1, 0, body, 0),
                  -1);
        EXPECT_TRUE(FilesIn(c.folder).empty());
        EXPECT_EQ(env.LogCount("HTTP error answer : status=302, Url=http://" + env.host() + c.target), logged + 2)
            << "both tries named";
    }
}

// The request is closed before its session is back in the pool, where another thread may
// take it at once: while the pool is held, the request of a finished download is closed.
TEST_F(DownloadTest, TheRequestIsClosedBeforeTheSessionGoesBack) {
    platform::SetWininetCallLog(true);
    platform::TakeWininetCallLog();
    std::atomic<int> result{1};
    std::thread download([&] {
        CStringA body;
        result = Download(&g_downloader, env.WUrl(kTop + "&fault=delay:60000&n=closed").c_str(), nullptr, nullptr, 0,
                          body, 0);
    });
    bool released = false;
    struct Join {
        ClientEnv& env;
        std::thread& t;
        bool& released;
        ~Join() {
            if (!released) env.service().Get("/control/release?count=1");
            if (t.joinable()) t.join();
            platform::SetWininetCallLog(false);
        }
    } join{env, download, released};
    auto waitUntil = [](auto done) {
        for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };
    ASSERT_TRUE(waitUntil([&] { return !env.RequestsWith("&n=closed").empty(); }));
    bool closed = false;
    EnterCriticalSection(&g_downloader.csPool);
    env.service().Get("/control/release?count=1");
    released = true;
    std::vector<std::string> calls;
    closed = waitUntil([&] {
        for (auto& line : platform::TakeWininetCallLog()) calls.push_back(line);
        return std::find(calls.begin(), calls.end(), "InternetCloseHandle request") != calls.end();
    });
    LeaveCriticalSection(&g_downloader.csPool);
    EXPECT_TRUE(closed) << "the request was still open when the session was given back";
    download.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(FreeSessions(), 20u);
}

}  // namespace
