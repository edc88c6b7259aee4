// The player core's binding: the video driver by phone model, the play request's bytes,
// the play command with its watch on the play counter, and loading the core.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connMgr.h"
#include "log_capture.h"
#include "lumeo.h"
#include "parseXML.h"
#include "player.h"
#include "registry.h"
#include "testcore.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/device.h"
#include "platform/module.h"
#include "platform/ui.h"

namespace {

// A core inside the test: entry points set by hand, answers chosen per test.
struct FakeCore {
    std::mutex lock;
    PlayerInfo info{};
    int infoResult = 0;
    int playResult = 0;
    bool countRises = true;
    std::atomic<int> count{0};
    std::atomic<int> infoQueries{0};
    std::atomic<int> countQueries{0};
    std::vector<int> video, audio;
    std::vector<std::u16string> requests;
};
FakeCore* g_fake;

// The play watch's waits, recorded instead of slept; the count rises at the wait numbered
// g_riseAtSleep (1 is the first), when that is set.
std::mutex g_sleepLock;
std::vector<DWORD> g_sleeps;
size_t g_riseAtSleep = 0;
void RecordSleep(DWORD ms) {
    size_t n;
    {
        std::lock_guard<std::mutex> g(g_sleepLock);
        g_sleeps.push_back(ms);
        n = g_sleeps.size();
    }
    if (n == g_riseAtSleep) ++g_fake->count;
    std::this_thread::yield();
}
std::vector<DWORD> Sleeps() {
    std::lock_guard<std::mutex> g(g_sleepLock);
    return g_sleeps;
}

int FakeInfo(PlayerInfo* info) {
    ++g_fake->infoQueries;
    *info = g_fake->info;
    return g_fake->infoResult;
}
int FakeCount(int* count) {
    ++g_fake->countQueries;
    *count = g_fake->count;
    return 0;
}
int FakeVideo(int i) {
    std::lock_guard<std::mutex> g(g_fake->lock);
    g_fake->video.push_back(i);
    return 0;
}
int FakeAudio(int i) {
    std::lock_guard<std::mutex> g(g_fake->lock);
    g_fake->audio.push_back(i);
    return 0;
}
int FakePlay(const char16_t* block) {
    {
        std::lock_guard<std::mutex> g(g_fake->lock);
        g_fake->requests.emplace_back(block, PLAY_REQUEST_CHARS);
    }
    if (g_fake->playResult == 0 && g_fake->countRises) ++g_fake->count;
    return g_fake->playResult;
}

void SetNames(DriverSlot* slots, int32_t* count, const std::vector<std::u16string>& names) {
    for (size_t i = 0; i < names.size() && i < DRIVER_SLOTS; ++i) {
        slots[i] = DriverSlot{};
        names[i].copy(slots[i].name, DRIVER_NAME_CHARS - 1);
    }
    *count = static_cast<int32_t>(names.size());
}

class Binding : public LoggedFolder {
protected:
    void SetUp() override {
        LoggedFolder::SetUp();
        g_fake = &fake;
        platform::SetRegistryFile(Native("user/registry.db"));
        InitializeCriticalSection(&g_csPlay);
        g_playBusy = 0;
        g_lastPlayCount = 0;
        g_driverChosen = 0;
        g_dtlViewMode = 1;
        g_hKeyDriver = nullptr;
        g_playerInfo = PlayerInfo{};
        g_connMgr.connected = 1;
        platform::SetOemInfoText(L"Linux");
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring&, const std::wstring&, UINT) { return IDOK; });
        platform::ui::ClearMessageBoxHistory();
        {
            std::lock_guard<std::mutex> g(g_sleepLock);
            g_sleeps.clear();
        }
        g_riseAtSleep = 0;
        SetPlayCheckSleep(RecordSleep);
        Install();
    }
    void TearDown() override {
        Remove();
        SetPlayCheckSleep(nullptr);
        if (g_hKeyDriver) MyCloseReg(g_hKeyDriver);
        g_hKeyDriver = nullptr;
        platform::ui::SetMessageBoxHook(nullptr);
        platform::SetOemInfoText(std::nullopt);
        platform::SetRegistryFile("");
        LoggedFolder::TearDown();
    }
    static void Install() {
        FuncGetPlayerInfo = FakeInfo;
        FuncGetPlayCount = FakeCount;
        FuncSetVideoOutput = FakeVideo;
        FuncSetAudioOutput = FakeAudio;
        FuncPlayVideo = FakePlay;
    }
    static void Remove() {
        FuncGetPlayerInfo = nullptr;
        FuncGetPlayCount = nullptr;
        FuncSetVideoOutput = nullptr;
        FuncSetAudioOutput = nullptr;
        FuncPlayVideo = nullptr;
        FuncMain = nullptr;
    }
    void OpenDriverKey() { ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_DRIVER, &g_hKeyDriver), 0); }
    // Waits (bounded) until the play-check thread has let go of the busy flag and told
    // the detail page that the playback started.
    bool BusyClears(int seconds) {
        for (int i = 0; i < seconds * 100; ++i) {
            EnterCriticalSection(&g_csPlay);
            int busy = g_playBusy;
            LeaveCriticalSection(&g_csPlay);
            if (!busy && g_dtlViewMode == 2) return true;
            usleep(10000);
        }
        return false;
    }
    FakeCore fake;
};

// ---- The video driver chosen at the first play ----

struct DriverCase {
    const wchar_t* oem;
    std::vector<std::u16string> drivers;
    int expected;  // the slot sent to the core; -1: nothing sent
};

TEST_F(Binding, SetDriverChoosesByPhoneModelThenGdiThenTheFrameBuffer) {
    const DriverCase cases[] = {
        {L"HTC Touch Diamond", {u"DirectDraw", u"GDI"}, 1},
        {L"htc", {u"DirectDraw", u"GDI"}, 1},  // Latin letters in any case
        {L"DOPOD D810", {u"Overlay", u"Windows gdi"}, 1},
        {L"T5388W", {u"RAW帧缓冲", u"ATI", u"GDI Fast"}, 2},
        {L"Topaz", {u"DirectDraw"}, 0},                // its row finds nothing: slot 0
        {L"HTC", {u"ATI", u"RAW帧缓冲"}, 1},           // its row finds nothing: the frame buffer
        {L"Linux", {u"DirectDraw", u"RAW帧缓冲"}, 1},  // no row: no GDI, the frame buffer
        {L"Linux", {u"DirectDraw", u"Overlay", u"GDI"}, 2},
        {L"Linux", {u"A", u"B"}, 0},
        {L"Linux", {}, -1},                             // no driver to choose
    };
    for (const DriverCase& c : cases) {
        SCOPED_TRACE(platform::WideToUtf8(c.oem) + " / " + std::to_string(c.drivers.size()) + " drivers");
        fake.video.clear();
        SetNames(fake.info.videoDrivers, &fake.info.videoDriverCount, c.drivers);
        platform::SetOemInfoText(c.oem);
        ClearLog();
        EXPECT_EQ(SetDriver(), 0);
        EXPECT_EQ(fake.video, c.expected < 0 ? std::vector<int>{} : std::vector<int>{c.expected});
        EXPECT_TRUE(fake.audio.empty());
        // The choice is logged with the device text it was made for.
        std::string oem = platform::WideToUtf8(c.oem);
        std::string line = "no video driver to choose for the device \"" + oem + "\"";
        if (c.expected >= 0) {
            const std::u16string& name = c.drivers[c.expected];
            line = "video driver " + std::to_string(c.expected) + " \"" +
                   platform::WideToUtf8(std::wstring(name.begin(), name.end())) + "\" for the device \"" + oem + "\"";
        }
        EXPECT_TRUE(Logged(line)) << line << "\n" << LogText();
    }
}

TEST_F(Binding, SetDriverKeepsWithinTheRecordTheCoreFilled) {
    // A count beyond the 16 slots and a name that fills its slot without a terminator.
    SetNames(fake.info.videoDrivers, &fake.info.videoDriverCount, {u"A", u"B"});
    for (int i = 2; i < DRIVER_SLOTS; ++i) fake.info.videoDrivers[i].name[0] = u'x';
    for (char16_t& c : fake.info.videoDrivers[DRIVER_SLOTS - 1].name) c = u'y';
    // Read on past the last slot, the record would go on "GD" and then "I" (the count).
    fake.info.reserved1 = 0x00440047;
    fake.info.videoDriverCount = 0x49;
    EXPECT_EQ(SetDriver(), 0);
    EXPECT_EQ(fake.video, std::vector<int>{0});
    EXPECT_EQ(DriverName(fake.info.videoDrivers[DRIVER_SLOTS - 1]), CStringW(std::wstring(34, L'y')));
    fake.info.videoDriverCount = -3;
    EXPECT_EQ(VideoDriverCount(fake.info), 0);
}

TEST_F(Binding, SetDriverFailsWhenTheCoreCannotListItsDrivers) {
    fake.infoResult = -1;
    EXPECT_EQ(SetDriver(), -1);
    EXPECT_TRUE(fake.video.empty());
    EXPECT_TRUE(Logged("FuncGetPlayerInfo failed"));
}

TEST_F(Binding, TheUsersStoredChoiceWinsOverThePhoneModel) {
    OpenDriverKey();
    SetNames(fake.info.videoDrivers, &fake.info.videoDriverCount, {u"DirectDraw", u"GDI"});
    SetNames(fake.info.audioDrivers, &fake.info.audioDriverCount, {u"WaveOut", u"Bluetooth"});
    platform::SetOemInfoText(L"HTC");
    ASSERT_EQ(SetVideoDriverReg(g_hKeyDriver, 0), 0);
    ASSERT_EQ(SetAudioDriverReg(g_hKeyDriver, 1), 0);
    EXPECT_EQ(SetDriver(), 0);
    EXPECT_EQ(fake.video, std::vector<int>{0});
    EXPECT_EQ(fake.audio, std::vector<int>{1});
    // A stored slot the core no longer offers is not sent: the phone's default is.
    fake.video.clear();
    fake.audio.clear();
    ASSERT_EQ(SetVideoDriverReg(g_hKeyDriver, 2), 0);
    ASSERT_EQ(SetAudioDriverReg(g_hKeyDriver, 2), 0);
    EXPECT_EQ(SetDriver(), 0);
    EXPECT_EQ(fake.video, std::vector<int>{1});
    EXPECT_TRUE(fake.audio.empty());
}

// ---- The play request ----

Segment Seg(DWORD size, DWORD seconds, const wchar_t* url) {
    Segment s;
    s.size = size;
    s.seconds = seconds;
    s.url = url;
    return s;
}

// The block as its strings, read up to the first empty one.
std::vector<std::u16string> Strings(const char16_t* block) {
    std::vector<std::u16string> out;
    size_t at = 0;
    while (at < PLAY_REQUEST_CHARS && block[at]) {
        std::u16string s;
        while (at < PLAY_REQUEST_CHARS && block[at]) s += block[at++];
        ++at;
        out.push_back(s);
    }
    return out;
}

struct RequestCase {
    const char* name;
    std::vector<Segment> segments;
    std::vector<std::u16string> after;  // the strings after the duration and the title
};

TEST_F(Binding, ThePlayRequestListsTheSegmentsWithRunningSums) {
    const RequestCase cases[] = {
        {"one segment", {Seg(1000000, 180, L"http://h/1.flv")}, {u"1", u"1000000", u"0", u"0", u"http://h/1.flv"}},
        {"three segments",
         {Seg(100, 10, L"http://h/a"), Seg(200, 20, L"http://h/b"), Seg(300, 30, L"http://h/c")},
         {u"3", u"600", u"0", u"100", u"300", u"0", u"10", u"30", u"http://h/a", u"http://h/b", u"http://h/c"}},
        {"no segment", {}, {u"0", u"0"}},
        // Signed 32-bit decimals; sums wrap modulo 2^32.
        {"sums past 2^31",
         {Seg(3000000000u, 4294967295u, L"u1"), Seg(1294967301u, 2, L"u2")},
         {u"2", u"5", u"0", u"-1294967296", u"0", u"-1", u"u1", u"u2"}},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake.requests.clear();
        VideoItem v;
        v.duration = L"03:00";
        v.title = L"城市早高峰";
        v.stream = c.segments;
        v.streamMp4 = {Seg(1, 1, L"mp4")};
        ASSERT_EQ(callPlayer(v, 1), 0);
        ASSERT_EQ(fake.requests.size(), 1u);
        std::vector<std::u16string> expected = {u"03:00", u"城市早高峰"};
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(Strings(fake.requests[0].data()), expected);
    }
}

TEST_F(Binding, ThePlayRequestTakesTheChosenListAndRefusesOthers) {
    VideoItem v;
    v.duration = L"1";
    v.title = L"t";
    v.stream = {Seg(1, 1, L"flv")};
    v.streamMp4 = {Seg(2, 2, L"mp4")};
    v.stream3gp = {Seg(3, 3, L"3gp")};
    ASSERT_EQ(callPlayer(v, 2), 0);
    ASSERT_EQ(callPlayer(v, 3), 0);
    ASSERT_EQ(fake.requests.size(), 2u);
    EXPECT_EQ(Strings(fake.requests[0].data()).back(), u"mp4");
    EXPECT_EQ(Strings(fake.requests[1].data()).back(), u"3gp");
    EXPECT_EQ(callPlayer(v, 4), -1);
    EXPECT_EQ(callPlayer(v, 0), -1);
    EXPECT_EQ(fake.requests.size(), 2u);
    EXPECT_TRUE(Logged("unknown videoType : 4"));
    // A core that refuses the request.
    fake.playResult = -1;
    EXPECT_EQ(callPlayer(v, 1), -1);
    EXPECT_TRUE(Logged("FuncPlayVideo failed"));
    // Without the core the request is built and not sent.
    Remove();
    v.title = L"built";
    EXPECT_EQ(callPlayer(v, 1), 0);
    EXPECT_EQ(fake.requests.size(), 3u);
    EXPECT_EQ(Strings(g_playRequest)[1], u"built");
}

TEST_F(Binding, ARequestIsSentOnlyWhenEveryStringFitsTheBlock) {
    // duration "d", the title, "1", "5", "0", "0" and the url "u": 13 units besides the
    // title's own, terminators counted. The title begins with a character that takes two
    // UTF-16 units.
    auto video = [](int titleUnits) {
        VideoItem v;
        v.duration = L"d";
        v.title = std::wstring(L"\U0001F3AC") + std::wstring(static_cast<size_t>(titleUnits - 2), L'x');
        v.stream = {Seg(5, 0, L"u")};
        return v;
    };
    ASSERT_EQ(callPlayer(video(PLAY_REQUEST_CHARS - 13), 1), 0);
    ASSERT_EQ(fake.requests.size(), 1u);
    const std::u16string& full = fake.requests[0];
    EXPECT_EQ(full[2], 0xD83C);
    EXPECT_EQ(full[3], 0xDFAC);
    EXPECT_EQ(full[PLAY_REQUEST_CHARS - 11], 0);  // the title's end
    EXPECT_EQ(full.substr(PLAY_REQUEST_CHARS - 10), std::u16string(u"1\0" u"5\0" u"0\0" u"0\0" u"u\0", 10));
    EXPECT_EQ(full[PLAY_REQUEST_CHARS - 1], 0);
    // One unit more does not fit: nothing is sent and the block is left as it was.
    std::u16string before(g_playRequest, PLAY_REQUEST_CHARS);
    EXPECT_EQ(callPlayer(video(PLAY_REQUEST_CHARS - 12), 1), -1);
    EXPECT_EQ(fake.requests.size(), 1u);
    EXPECT_EQ(std::u16string(g_playRequest, PLAY_REQUEST_CHARS), before);
    // A request too long by its number of segments alone.
    VideoItem many;
    for (int i = 0; i < 2000; ++i) many.stream.push_back(Seg(1, 1, L"u"));
    EXPECT_EQ(callPlayer(many, 1), -1);
    EXPECT_EQ(fake.requests.size(), 1u);
    // A short request after a long one: the rest of the block is zero.
    VideoItem small;
    small.stream = {Seg(1, 1, L"u")};
    ASSERT_EQ(callPlayer(small, 1), 0);
    const std::u16string& next = fake.requests.back();
    EXPECT_EQ(next.find_first_not_of(u'\0', 12), std::u16string::npos);
}

// ---- The play command and its watch ----

TEST_F(Binding, OfflinePlayIsRefusedWithAMessage) {
    g_connMgr.connected = 0;
    g_curVideo.stream = {Seg(1, 1, L"u")};
    EXPECT_EQ(BeginPlayVideo(nullptr), -1);
    auto boxes = platform::ui::MessageBoxHistory();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"无法连接网络");
    EXPECT_EQ(boxes[0].caption, L"通知");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(Logged("GetConnectStatus return FALSE."));
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(fake.infoQueries, 0);
}

TEST_F(Binding, APlayChoosesTheDriverOnceAndTheWatchClearsBusyWhenTheCountRises) {
    SetNames(fake.info.videoDrivers, &fake.info.videoDriverCount, {u"DirectDraw", u"GDI"});
    g_curVideo = VideoItem{};
    g_curVideo.title = L"t";
    g_curVideo.stream = {Seg(1, 1, L"u")};
    for (int play = 1; play <= 2; ++play) {
        SCOPED_TRACE(play);
        g_playBusy = 1;
        g_dtlViewMode = 1;
        ASSERT_EQ(BeginPlayVideo(nullptr), 0);
        ASSERT_TRUE(BusyClears(10));
        EXPECT_EQ(g_lastPlayCount, play);
        EXPECT_EQ(g_dtlViewMode, 2);
        EXPECT_EQ(fake.requests.size(), static_cast<size_t>(play));
    }
    EXPECT_EQ(g_driverChosen, 1);
    EXPECT_EQ(fake.infoQueries, 1);
    EXPECT_EQ(fake.video, std::vector<int>{1});
}

TEST_F(Binding, AFailedDriverChoiceDoesNotStopThePlayButAFailedRequestDoes) {
    fake.infoResult = -1;
    g_curVideo = VideoItem{};
    g_curVideo.stream = {Seg(1, 1, L"u")};
    g_playBusy = 1;
    ASSERT_EQ(BeginPlayVideo(nullptr), 0);
    EXPECT_TRUE(Logged("SetDriver failed"));
    ASSERT_TRUE(BusyClears(10));
    // The driver is not asked for again in this run.
    fake.playResult = -1;
    g_playBusy = 1;
    EXPECT_EQ(BeginPlayVideo(nullptr), -1);
    EXPECT_TRUE(Logged("callPlayer failed."));
    EXPECT_EQ(fake.infoQueries, 1);
}

TEST_F(Binding, WithoutACoreTheWatchEndsAfterItsFirstSecond) {
    Remove();
    g_curVideo = VideoItem{};
    g_curVideo.stream = {Seg(1, 1, L"u")};
    g_playBusy = 1;
    ASSERT_EQ(BeginPlayVideo(nullptr), 0);
    ASSERT_TRUE(BusyClears(10));
    EXPECT_EQ(Sleeps(), std::vector<DWORD>{1000});  // no count to poll
    EXPECT_EQ(g_lastPlayCount, 0);
    EXPECT_EQ(g_dtlViewMode, 2);
}

TEST_F(Binding, ACountThatNeverRisesIsPolled120TimesThenBusyClears) {
    fake.countRises = false;
    g_curVideo = VideoItem{};
    g_curVideo.stream = {Seg(1, 1, L"u")};
    g_playBusy = 1;
    ASSERT_EQ(BeginPlayVideo(nullptr), 0);
    ASSERT_TRUE(BusyClears(10));
    // 1 s, then 120 polls each followed by 500 ms: about 61 s.
    std::vector<DWORD> want(121, 500);
    want[0] = 1000;
    EXPECT_EQ(Sleeps(), want);
    EXPECT_EQ(fake.countQueries, 120);
    EXPECT_EQ(g_lastPlayCount, 0);
    EXPECT_EQ(g_dtlViewMode, 2);
}

TEST_F(Binding, TheWatchEndsAtThePollThatSeesTheCountRise) {
    fake.countRises = false;
    g_curVideo = VideoItem{};
    g_curVideo.stream = {Seg(1, 1, L"u")};
    g_playBusy = 1;
    g_riseAtSleep = 3;  // during the wait after the second poll
    ASSERT_EQ(BeginPlayVideo(nullptr), 0);
    ASSERT_TRUE(BusyClears(10));
    EXPECT_EQ(Sleeps(), (std::vector<DWORD>{1000, 500, 500}));
    EXPECT_EQ(fake.countQueries, 3);
    EXPECT_EQ(g_lastPlayCount, 1);
    EXPECT_EQ(g_dtlViewMode, 2);
}

// ---- Loading the core ----

std::string CoreDir(const char* variant) { return std::string(TESTCORE_DIR) + "/" + variant; }

class Loading : public Binding {
protected:
    void SetUp() override {
        Binding::SetUp();
        Remove();
        runtime_ = Native("run");
        std::filesystem::create_directories(runtime_);
        setenv("LUMEO_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("LUMEO_DLL_PATH");
        unsetenv("LUMEO_RUNTIME_DIR");
        if (core_) FreeLibrary(core_);
        Binding::TearDown();
    }
    // Picks the core variant that Player finds, and its control record.
    TestCoreControl* UseCore(const char* variant) {
        setenv("LUMEO_DLL_PATH", CoreDir(variant).c_str(), 1);
        core_ = LoadLibraryW(platform::Utf8ToWide(CoreDir(variant) + "/interface.plg").c_str());
        if (!core_) return nullptr;
        auto proc = reinterpret_cast<TestCoreProc>(GetProcAddress(core_, "TestCore"));
        return proc ? proc() : nullptr;
    }
    HANDLE StartPlayer() { return CreateThread(nullptr, 0, PlayerThread, const_cast<wchar_t*>(L""), 0, nullptr); }
    static bool Until(const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i) usleep(10000);
        return done();
    }
    std::string runtime_;
    HMODULE core_ = nullptr;
};

TEST_F(Loading, RunsTheCoresMainAndLetsGoOfEverythingWhenItEnds) {
    TestCoreControl* core = UseCore("full");
    ASSERT_NE(core, nullptr);
    HANDLE thread = StartPlayer();
    ASSERT_TRUE(Until([&] { return core->mainRunning.load() == 1; }));
    EXPECT_EQ(std::wstring(core->appName), L"澜映");
    EXPECT_EQ(std::wstring(core->version), L"v1.01.15.06007");
    EXPECT_EQ(core->mode, 3);
    EXPECT_EQ(std::wstring(core->commandLine), L"");
    // The other entry points work from this thread while Main runs.
    EXPECT_TRUE(CallSetVideoOutput(1));
    EXPECT_EQ(core->videoOutput, 1);
    EXPECT_TRUE(CallSetAudioOutput(0));
    EXPECT_EQ(core->audioOutput, 0);
    PlayerInfo info;
    int result = -1;
    ASSERT_TRUE(CallGetPlayerInfo(&info, &result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(DriverName(info.videoDrivers[1]), L"GDI");
    // A second core would find the name taken while this one runs.
    HANDLE again = CreateMutexW(nullptr, FALSE, L"澜映");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(again);
    // Calls go on from another thread while the core ends.
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread caller([&] {
        while (!stop) {
            int count;
            if (CallGetPlayCount(&count)) ++calls;
        }
    });
    EXPECT_TRUE(Until([&] { return calls.load() > 0; }));
    core->endMain = 1;
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    stop = true;
    caller.join();
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
    EXPECT_EQ(core->mainCalls, 1);
    int count;
    EXPECT_FALSE(CallGetPlayCount(&count));
    EXPECT_EQ(FuncMain.load(), nullptr);
    EXPECT_EQ(FuncPlayVideo.load(), nullptr);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"澜映");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(mutex);
}

// A core that runs already shows its window: a new start of the player finds it, brings
// the window that takes input to the front (the core's own, or the last of the windows it
// waits on), hands it a non-empty command line and loads nothing.
struct WindowCase {
    int chain;
    const wchar_t* commandLine;
};

void PrintTo(const WindowCase& c, std::ostream* out) { *out << "chain " << c.chain; }

class CoreWindow : public Loading, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(CoreWindow, IsFoundBroughtToTheFrontAndGivenTheCommandLine) {
    const WindowCase& c = GetParam();
    TestCoreControl* core = UseCore("window");
    ASSERT_NE(core, nullptr);
    core->chain = c.chain;
    HANDLE thread = StartPlayer();
    ASSERT_TRUE(Until([&] { return core->windowsUp.load() == 1; }));
    MainProc running = FuncMain.load();
    ASSERT_NE(running, nullptr);

    EXPECT_EQ(FindPlayerWindow(L""), 1);  // found, nothing to hand over
    EXPECT_EQ(core->copies, 0);
    EXPECT_EQ(Player(c.commandLine), 0);
    EXPECT_EQ(core->mainCalls, 1) << "no second core";
    EXPECT_EQ(FuncMain.load(), running);
    EXPECT_EQ(GetForegroundWindow(), static_cast<HWND>(core->reached));
    ASSERT_EQ(core->copies, 1);
    // The command line as UTF-16 with its terminator, to the core's own window, which is
    // also the message's wParam.
    std::u16string text = platform::WideToUtf16(c.commandLine);
    EXPECT_EQ(core->copyDwData, 0u);
    EXPECT_EQ(core->copyBytes, (text.size() + 1) * 2);
    EXPECT_EQ(core->copyWParam, reinterpret_cast<uintptr_t>(core->target));
    std::u16string got(reinterpret_cast<const char16_t*>(core->copied), text.size() + 1);
    EXPECT_EQ(got, text + u'\0');

    core->endMain = 1;
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(FindPlayerWindow(L"x"), 0) << "its window went with the core";
}

// The core's window itself; a disabled one waiting on one window; on a line of three.
INSTANTIATE_TEST_SUITE_P(Walks, CoreWindow,
                         testing::Values(WindowCase{0, L"http://127.0.0.1/a.flv"}, WindowCase{1, L"播放 列表"},
                                         WindowCase{3, L"x"}),
                         [](const testing::TestParamInfo<WindowCase>& i) { return "Chain" + std::to_string(i.param.chain); });

struct MissingCase {
    const char* variant;
    const char* line;
    int usable;  // entry points resolved before the missing one
};

void PrintTo(const MissingCase& c, std::ostream* out) { *out << c.variant; }

// The module and the name stay taken for the rest of the run: one case per process.
class MissingEntry : public Loading, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingEntry, KeepsTheEntryPointsBeforeItAndNeverRunsMain) {
    const MissingCase& c = GetParam();
    TestCoreControl* core = UseCore(c.variant);
    ASSERT_NE(core, nullptr);
    HANDLE thread = StartPlayer();
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(Logged(c.line));
    EXPECT_TRUE(Logged("Player failed"));
    EXPECT_EQ(core->mainCalls, 0);
    const bool set[] = {FuncGetPlayerInfo.load() != nullptr, FuncGetPlayCount.load() != nullptr,
                        FuncSetVideoOutput.load() != nullptr, FuncSetAudioOutput.load() != nullptr,
                        FuncPlayVideo.load() != nullptr,      FuncMain.load() != nullptr};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(set[i], i < c.usable) << "entry point " << i;
    if (c.usable >= 3) {
        EXPECT_TRUE(CallSetVideoOutput(1));
        EXPECT_EQ(core->videoOutput, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cores, MissingEntry,
                         ::testing::Values(MissingCase{"without-getplayerinfo", "can't load FuncGetPlayerInfo function", 0},
                                           MissingCase{"without-setaudiooutput", "can't load FuncSetAudioOutput function", 3},
                                           MissingCase{"without-main", "can't load FuncMain function", 5}),
                         [](const ::testing::TestParamInfo<MissingCase>& i) {
                             std::string name = i.param.variant;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

TEST_F(Loading, NoCoreLeavesTheEntryPointsAbsentAndSaysNothing) {
    setenv("LUMEO_DLL_PATH", Native("nothing-here").c_str(), 1);
    HANDLE thread = StartPlayer();
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FuncGetPlayerInfo.load(), nullptr);
    EXPECT_FALSE(Logged("Player failed"));
    // The name is free again.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"澜映");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(mutex);
}

TEST_F(Loading, ACoreRunningInAnotherProcessIsLeftAlone) {
    TestCoreControl* core = UseCore("full");
    ASSERT_NE(core, nullptr);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CreateMutexW(nullptr, FALSE, L"澜映");
        char ok = 'y';
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    HANDLE thread = StartPlayer();
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(core->mainCalls, 0);
    EXPECT_EQ(FuncGetPlayerInfo.load(), nullptr);
    // Once that process is gone (even by a crash), the core loads again.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    thread = StartPlayer();
    ASSERT_TRUE(Until([&] { return core->mainRunning.load() == 1; }));
    core->endMain = 1;
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
