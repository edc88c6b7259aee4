// The start-up worker and the list loaders against the sample service: the program runs
// in-process on a headless screen with a program folder of its own, and its real init
// thread, wait dialog and list loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "download.h"
#include "entryGlobals.h"
#include "helpers.h"
#include "listview.h"
#include "lumeo.h"
#include "program.h"
#include "serviceFolder.h"
#include "registry.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/codepage.h"
#include "platform/commctrl.h"
#include "platform/connmgr.h"
#include "platform/format.h"
#include "platform/ui.h"

using namespace apptest;
using nettest::SampleService;
using nettest::TempDir;

namespace {

const char kHotPage1[] = "/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=1&rt=1&f=8&seg=1&rp=1";

std::vector<std::string> Requests(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& line : Service().Requests())
        if (line.rfind("GET " + prefix, 0) == 0) out.push_back(line.substr(4));
    return out;
}

// The list requests, without the version check that may come first.
std::vector<std::string> ListRequests() {
    std::vector<std::string> out;
    for (auto& r : Requests("/openapi-common/"))
        if (r.find("getVersionInfo") == std::string::npos) out.push_back(r);
    return out;
}

using Folder = ServiceFolder;

// What the start-up screen showed: every progress position and every status text.
struct StartupSpy {
    std::vector<int> positions;
    std::vector<std::wstring> texts;
    WNDPROC progress = nullptr, startup = nullptr;
};
StartupSpy g_spy;

void NoteText() {
    std::wstring t = g_startupText.str();
    if (g_spy.texts.empty() || g_spy.texts.back() != t) g_spy.texts.push_back(t);
}

LRESULT ProgressSpy(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == PBM_SETPOS) {
        g_spy.positions.push_back(static_cast<int>(w));
        NoteText();
    }
    return CallWindowProcW(g_spy.progress, h, m, w, l);
}

LRESULT StartupWndSpy(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_PAINT) NoteText();
    return CallWindowProcW(g_spy.startup, h, m, w, l);
}

void InstallSpy() {
    OnUi([] {
        g_spy = StartupSpy{};
        g_spy.progress = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(g_hProgress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressSpy)));
        g_spy.startup = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(g_hStupWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StartupWndSpy)));
    });
}

// The init thread's run, as the main window starts it.
DWORD StartUp(Folder& f) {
    f.Adopt();
    InstallSpy();
    DWORD r = InitThread(&g_hMainWndParam);
    Idle();
    return r;
}

void CloseProgram() { PostMessageW(g_hFrame, WM_CLOSE, 0, 0); }

// One run of the program; its driver must have run and the program ended normally.
void RunAndEnd(int width, int height, const std::function<void()>& driver) {
    std::atomic<bool> driven{false}, finished{false};
    int code = RunProgram(width, height, [&] {
        driven = true;
        driver();
        finished = true;
    });
    EXPECT_TRUE(driven) << "the program did not start";
    EXPECT_EQ(code, 0);
    // The program can end before its driver does (a failed start-up ends it from there).
    for (int i = 0; driven && !finished && i < 1000; ++i) usleep(10 * 1000);
    EXPECT_TRUE(finished || !driven);
}

std::vector<std::string> Vids(VideoList* l) {
    std::vector<std::string> out;
    OnUi([&] {
        for (auto& v : GetItems(l)) out.push_back(platform::WideToUtf8(v.vid.str()));
    });
    return out;
}

std::vector<std::string> VidsOf(const std::string& answer) {
    std::vector<std::string> out;
    for (size_t at = 0; (at = answer.find("<vid>", at)) != std::string::npos;) {
        size_t end = answer.find("</vid>", at);
        out.push_back(answer.substr(at + 5, end - at - 5));
        at = end;
    }
    return out;
}

// The vids of the rows a portrait list view of the skin shows from its top.
std::vector<std::string> VisibleVids(VideoList* l) {
    std::vector<std::string> all = Vids(l);
    int rows = 0;
    OnUi([&] {
        int h = g_skin.portrait.rowRect.h;
        rows = h > 0 ? (g_skin.portrait.listRect.h + h - 1) / h : 0;
    });
    if (static_cast<int>(all.size()) > rows) all.resize(static_cast<size_t>(rows));
    return all;
}

// Waits (bounded) until no thumbnail of `vids` is on its way and each has its picture
// (or none can be had); true when all have one.
bool AwaitPictures(const std::vector<std::string>& vids) {
    bool all = false;
    for (int i = 0; i < 1000 && !all; ++i) {
        all = true;
        OnUi([&] {
            for (auto& v : vids) {
                std::wstring w = platform::Utf8ToWide(v);
                if (IsPicturePending(&g_downloader, w.c_str()) || GetPicture(&g_downloader, w.c_str()) == g_skin.picBk)
                    all = false;
            }
        });
        if (!all) usleep(10 * 1000);
    }
    Idle();
    return all;
}

int Switch(int kind, int period) {
    int r = 0;
    OnUi([&] { r = SwitchChannel(kind, period, &g_skin); });
    Idle();
    return r;
}

int More() {
    int r = 0;
    OnUi([&] { r = ShowDlgBox(nullptr, 2, WAIT_MORE_TEXT); });
    Idle();
    return r;
}

HWND WaitDialog() {
    HWND d = nullptr;
    OnUi([&] { d = g_hWaitDlg; });
    return d;
}

// Waits (bounded) until the wait dialog is up.
HWND AwaitDialog() {
    for (int i = 0; i < 500; ++i) {
        if (HWND d = WaitDialog()) return d;
        usleep(10 * 1000);
    }
    return nullptr;
}

const std::vector<std::wstring> kOnlineTexts = {L"正在连接澜映,请稍候 ...", L"正在初始化 ...", L"下载视频列表 ...",
                                                L"正在启动 TouchFlo ..."};
const std::vector<std::wstring> kOfflineTexts = {L"正在连接澜映,请稍候 ...", L"正在初始化 ...",
                                                 L"加载脱机视频列表 ...", L"正在启动 TouchFlo ..."};

// The texts shown after the one the start-up screen began with.
std::vector<std::wstring> ShownTexts() {
    std::vector<std::wstring> t = g_spy.texts;
    if (!t.empty() && t.front() == L"正在连接澜映,请稍候...") t.erase(t.begin());
    return t;
}

TEST(StartUp, OnlineRunsEveryStepInOrder) {
    Folder f;
    f.dir.Write("Xml/stale.xml", "old answer");
    f.dir.Write("Image/stale.jpg", "old picture");
    f.dir.Write("Image/notes.txt", "not a picture");
    {
        HKEY key = nullptr;
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, &key), 0);
        CStringW words[3] = {L"甲", L"乙", L""};
        ASSERT_EQ(SetSearchWordReg(key, words, 3), 0);
        MyCloseReg(key);
    }
    bool switchedEarly = true;
    RunAndEnd(480, 800, [&] {
        // Before start-up has finished no list can be switched.
        OnUi([&] { switchedEarly = SwitchChannel(111, 0, &g_skin) == 0; });
        EXPECT_EQ(StartUp(f), 0u);
        OnUi([&] {
            EXPECT_EQ(g_initDone, 1);
            EXPECT_TRUE(IsWindowVisible(g_hMainWnd));
            EXPECT_FALSE(IsWindowVisible(g_hStupWnd));
            EXPECT_EQ(g_curTab, IDC_TAB_HOT);
            EXPECT_EQ(g_prevTab, 0);
            EXPECT_EQ(g_curList, &g_listHot);
            EXPECT_NE(g_hKeySearchWord, nullptr);
            EXPECT_NE(g_hKeyFullScreen, nullptr);
            EXPECT_NE(g_hKeyDriver, nullptr);
            EXPECT_NE(g_hKeyIgnoreVersion, nullptr);
            ASSERT_EQ(g_skin.searchHistoryCount, 3);
            EXPECT_EQ(g_skin.searchHistory[0], L"甲");
            EXPECT_EQ(g_skin.searchHistory[1], L"乙");
            EXPECT_EQ(g_skin.searchHistory[2], L"");
            // Both scrollers laid out for the list and the skin's rows.
            EXPECT_EQ(g_scrollerPortrait.GetItemCount(), 10);
            EXPECT_EQ(g_scrollerLandscape.GetItemCount(), 10);
            EXPECT_EQ(g_scrollerPortrait.GetDirection(), 2);
            EXPECT_EQ(g_scrollerLandscape.GetDirection(), g_skin.landscapeColumns ? 1 : 2);
            EXPECT_EQ(g_scrollerPortrait.GetViewHeight(), g_skin.portrait.listRect.h);
            EXPECT_EQ(g_scrollerPortrait.GetItemHeight(), g_skin.portrait.rowRect.h);
            EXPECT_EQ(g_scrollerLandscape.GetViewWidth(), g_skin.landscape.listRect.w);
            EXPECT_EQ(g_scrollerPortrait.GetBackColour(), RGB(239, 239, 239));
        });
        // One thumbnail request for each row in sight, stored as served.
        std::vector<std::string> visible = VisibleVids(&g_listHot);
        ASSERT_FALSE(visible.empty());
        EXPECT_TRUE(AwaitPictures(visible));
        std::vector<std::string> asked;
        for (auto& r : Requests("/img/")) asked.push_back(r.substr(5, r.size() - 9));
        std::sort(asked.begin(), asked.end());
        std::sort(visible.begin(), visible.end());
        EXPECT_EQ(asked, visible);
        for (auto& v : visible) EXPECT_EQ(f.dir.Read("Image/" + v + ".jpg"), Service().Get("/img/" + v + ".jpg")) << v;
        // Shown again, the list asks for none of them a second time.
        size_t before = Requests("/img/").size();
        ASSERT_EQ(Switch(123, 0), 0);
        AwaitPictures(visible);
        EXPECT_EQ(Requests("/img/").size(), before);
        CloseProgram();
    });
    EXPECT_FALSE(switchedEarly);
    EXPECT_EQ(g_spy.positions, (std::vector<int>{0, 200, 400, 600, 800, 1000}));
    EXPECT_EQ(ShownTexts(), kOnlineTexts);
    // The caches were emptied before the home list came: pictures only, the answers all.
    EXPECT_FALSE(f.dir.Exists("Xml/stale.xml"));
    EXPECT_FALSE(f.dir.Exists("Image/stale.jpg"));
    EXPECT_TRUE(f.dir.Exists("Image/notes.txt"));
    EXPECT_EQ(ListRequests(), std::vector<std::string>{kHotPage1});
    EXPECT_EQ(f.dir.Read("Xml/recommend_1.xml"), Service().Get(kHotPage1));
    EXPECT_EQ(Vids(&g_listHot), VidsOf(Service().Get(kHotPage1)));
}

// Offline the home list comes from the answer cache, which stays as it is; without a
// cached answer the list is empty and start-up still completes.
class Offline : public testing::TestWithParam<bool> {};

TEST_P(Offline, StartUpReadsTheCacheAndKeepsIt) {
    const bool cached = GetParam();
    Folder f;
    std::string answer = Service().Get(kHotPage1);
    std::vector<std::string> vids = VidsOf(answer);
    if (cached) {
        f.dir.Write("Xml/recommend_1.xml", answer);
        // The first row's picture was kept by an earlier run.
        f.dir.Write("Image/" + vids[0] + ".jpg", Service().Get("/img/" + vids[0] + ".jpg"));
    }
    f.dir.Write("Image/kept.jpg", "picture of an earlier run");
    Service().Get("/control/reset");
    ASSERT_TRUE(platform::ConnMgrConfigure(L"offline"));
    RunAndEnd(480, 800, [&] {
        EXPECT_EQ(StartUp(f), 0u);
        OnUi([] {
            EXPECT_EQ(g_initDone, 1);
            EXPECT_TRUE(IsWindowVisible(g_hMainWnd));
            EXPECT_EQ(g_curList, &g_listHot);
            EXPECT_EQ(IsComplete(&g_listHot), 0) << "nothing loaded ends the list";
        });
        if (cached) {
            AwaitPictures({vids[0]});
            OnUi([&] {
                HBITMAP first = GetPicture(&g_downloader, platform::Utf8ToWide(vids[0]).c_str());
                EXPECT_NE(first, g_skin.picBk);
                EXPECT_NE(first, g_skin.emptyPic);
            });
            // Taken from its file, not asked for.
            EXPECT_TRUE(Requests("/img/" + vids[0]).empty());
        }
        CloseProgram();
    });
    EXPECT_EQ(g_spy.positions, (std::vector<int>{0, 250, 500, 750, 1000}));
    EXPECT_EQ(ShownTexts(), kOfflineTexts);
    EXPECT_TRUE(Requests("/openapi-common/").empty());
    EXPECT_EQ(Vids(&g_listHot), cached ? VidsOf(answer) : std::vector<std::string>{});
    EXPECT_EQ(f.dir.Read("Xml/recommend_1.xml"), cached ? answer : "");
    EXPECT_TRUE(f.dir.Exists("Image/kept.jpg"));
}

INSTANTIATE_TEST_SUITE_P(Cache, Offline, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Cached" : "NoCache"; });

struct FaultCase {
    const char* fault;
    int items;
    int complete;
    bool failed;
};

std::string FaultName(const testing::TestParamInfo<FaultCase>& i) {
    std::string n;
    for (const char* c = i.param.fault; *c; ++c) n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return n;
}

// Every fault of the service at start-up: a log line and an empty list, or the list the
// answer holds; start-up always completes and nothing is written outside the folder.
class StartUpFault : public testing::TestWithParam<FaultCase> {};

TEST_P(StartUpFault, LeavesAnEmptyOrPartialListAndStartUpGoesOn) {
    const FaultCase c = GetParam();
    Folder f;
    // The try and the retry after reconnecting.
    Service().QueueFault(c.fault, 2, "getTopVideos");
    RunAndEnd(480, 800, [&] {
        EXPECT_EQ(StartUp(f), 0u);
        OnUi([&] {
            EXPECT_EQ(g_initDone, 1);
            EXPECT_EQ(static_cast<int>(GetItems(&g_listHot).size()), c.items);
            EXPECT_EQ(IsComplete(&g_listHot), c.complete);
            EXPECT_EQ(g_scrollerPortrait.GetItemCount(), c.items);
        });
        // The thumbnails of the rows in sight have come (or failed) before anything is judged.
        EXPECT_TRUE(AwaitPictures(VisibleVids(&g_listHot)));
        CloseProgram();
    });
    EXPECT_EQ(f.LogCount("GetListViewXML failed") > 0, c.failed);
    for (const std::string& vid : Vids(&g_listHot)) {
        std::string name = vid.substr(vid.rfind('\\') + 1);
        EXPECT_FALSE(std::filesystem::exists(f.dir.path() + "/../" + name + ".jpg")) << vid;
        EXPECT_FALSE(std::filesystem::exists(f.dir.path() + "/" + name + ".jpg")) << vid;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, StartUpFault,
                         testing::Values(FaultCase{"drop", 0, 0, true}, FaultCase{"status:500", 0, 0, true},
                                         FaultCase{"status:404", 0, 0, true}, FaultCase{"malformed", 0, 0, true},
                                         FaultCase{"failstatus", 0, 0, true}, FaultCase{"empty", 0, 1, false},
                                         FaultCase{"nototal", 10, 1, false}, FaultCase{"badvid", 10, 0, false},
                                         FaultCase{"delay:300", 10, 0, false}),
                         FaultName);

TEST(StartUp, AFolderThatCannotBeMadeEndsTheProgram) {
    Folder f;
    // The program folder lies under a file: none of its folders can be made.
    f.dir.Write("file", "not a folder");
    std::wstring appDir = f.dir.wpath() + L"\\file\\Lumeo";
    DWORD result = 0;
    RunAndEnd(480, 800, [&] {
        f.Adopt();
        platform::CopyCut(g_appDir, APP_DIR_LEN, appDir);
        InstallSpy();
        result = InitThread(&g_hMainWndParam);
    });
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(f.LogCount("Can't create directory : " + platform::WideToUtf8(appDir) + "\\Image\\"), 1);
    EXPECT_TRUE(Requests("/openapi-common/").empty());
    EXPECT_EQ(g_spy.positions, (std::vector<int>{0, 200}));
}

class FileForAFolder : public testing::TestWithParam<const char*> {};

TEST_P(FileForAFolder, EndsTheProgram) {
    const std::string name = GetParam();
    Folder f;
    f.dir.Write(name, "not a folder");
    DWORD result = 0;
    RunAndEnd(480, 800, [&] {
        f.Adopt();
        InstallSpy();
        result = InitThread(&g_hMainWndParam);
        if (result != 1) CloseProgram();  // a start-up that went on
    });
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(f.LogCount("Can't create directory : " + f.dir.path() + "\\" + name + "\\"), 1);
    EXPECT_EQ(f.LogCount("Can't create directory : errno=183"), 1);
    EXPECT_TRUE(Requests("/openapi-common/").empty());
    EXPECT_EQ(f.dir.Read(name), "not a folder");
}

INSTANTIATE_TEST_SUITE_P(StartUp, FileForAFolder, testing::Values("Image", "Xml", "Res"),
                         [](const testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

struct KindCase {
    int kind, period;
    VideoList* list;
    const char* target;
};

// Every list kind and period: the list chosen, its address, the prompt, the scrollers.
TEST(WaitDialog, EveryKindAndPeriodLoadsItsList) {
    const KindCase cases[] = {
        {111, 0, &g_listNews, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=91&pg=1&pz=10&rt=1&f=8&seg=1&rp=1"},
        {112, 2, &g_listOriginal, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=92&pg=1&pz=10&rt=1&f=8&seg=1&rp=1"},
        {113, 0, &g_listMusic, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=95&pg=1&pz=10&rt=1&f=8&seg=1&rp=1"},
        {114, 0, &g_listSport, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=98&pg=1&pz=10&rt=1&f=8&seg=1&rp=1"},
        {115, 0, &g_listFunny, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=94&pg=1&pz=10&rt=1&f=8&seg=1&rp=1"},
        {126, 1, &g_listMostPlayedToday, "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=1&seg=1&rp=1"},
        {126, 2, &g_listMostPlayedWeek, "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=2&seg=1&rp=1"},
        {126, 0, &g_listMostPlayedMonth, "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=3&seg=1&rp=1"},
        {127, 1, &g_listMostCommentToday, "getVideosOrderByRel?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=1&seg=1&rp=1"},
        {127, 2, &g_listMostCommentWeek, "getVideosOrderByRel?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=2&seg=1&rp=1"},
        {127, 7, &g_listMostCommentMonth, "getVideosOrderByRel?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=3&seg=1&rp=1"},
        {128, 1, &g_listMostFavToday, "getVideosOrderByFav?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=1&seg=1&rp=1"},
        {128, 2, &g_listMostFavWeek, "getVideosOrderByFav?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=2&seg=1&rp=1"},
        {128, 3, &g_listMostFavMonth, "getVideosOrderByFav?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=3&seg=1&rp=1"},
    };
    Folder f;
    RunAndEnd(480, 800, [&] {
        ASSERT_EQ(StartUp(f), 0u);
        for (const KindCase& c : cases) {
            SCOPED_TRACE(c.target);
            Service().Get("/control/reset");
            ASSERT_EQ(Switch(c.kind, c.period), 0);
            EXPECT_EQ(ListRequests(), std::vector<std::string>{std::string("/openapi-common/") + c.target});
            std::vector<std::string> served = VidsOf(Service().Get(std::string("/openapi-common/") + c.target));
            EXPECT_EQ(Vids(c.list), served);
            int n = static_cast<int>(served.size());
            OnUi([&] {
                EXPECT_EQ(g_curList, c.list);
                EXPECT_EQ(g_hWaitDlg, nullptr);
                EXPECT_EQ(std::wstring(g_waitText), L"\r\n正在读取\r\n\"" + c.list->subTitle.str() + L"\"视频");
                EXPECT_EQ(g_scrollerPortrait.GetItemCount(), n);
                EXPECT_EQ(g_scrollerLandscape.GetItemCount(), n);
                EXPECT_EQ(g_scrollerPortrait.offsetY, 0);
            });
        }
        // The home list is held from start-up: shown again without a request.
        Service().Get("/control/reset");
        ASSERT_EQ(Switch(123, 0), 0);
        EXPECT_TRUE(ListRequests().empty());
        OnUi([] {
            EXPECT_EQ(g_curList, &g_listHot);
            EXPECT_EQ(std::wstring(g_waitText), L"\r\n正在读取\r\n\"热点推荐\"视频");
        });
        // Kinds that are no list: a log line and no dialog.
        for (int kind : {116, 117, 119, 120, 121, 122, 125, 110, 129, 0, -1}) {
            EXPECT_EQ(Switch(kind, 1), -1) << kind;
            EXPECT_EQ(f.LogCount(platform::WideToUtf8(platform::FormatW(L"unknown rssType=%d", kind))), 1) << kind;
        }
        EXPECT_TRUE(ListRequests().empty());
        OnUi([] { EXPECT_EQ(g_curList, &g_listHot); });
        CloseProgram();
    });
}

// The dialog sits at the skin's place for the orientation, a white box with a blue line,
// while its worker waits for a slow answer; a second dialog is never opened meanwhile.
class WaitPlace : public testing::TestWithParam<bool> {};

TEST_P(WaitPlace, ShowsAtTheSkinsPlaceAndOpensOnlyOnce) {
    {
        const bool portrait = GetParam();
        Folder f;
        RunAndEnd(portrait ? 480 : 800, portrait ? 800 : 480, [&] {
                ASSERT_EQ(StartUp(f), 0u);
            Service().Get("/control/reset");
            Service().QueueFault("delay:2500", 1, "cid=92");
            std::thread user([] { Switch(112, 0); });
            HWND dialog = AwaitDialog();
            ASSERT_NE(dialog, nullptr);
            platform::ui::WaitForIdle(5000);
            // Where the skin puts the box for an orientation, with its blue line and white inside.
            auto placed = [&](bool upright) {
                OnUi([&] {
                    int x = upright ? g_skin.waitMetric3 : g_skin.waitMetric7;
                    int y = upright ? g_skin.waitMetric4 : g_skin.waitMetric8;
                    int w = upright ? g_skin.waitMetric5 : g_skin.waitMetric9;
                    int h = upright ? g_skin.waitMetric6 : g_skin.waitMetric10;
                    RECT r;
                    GetWindowRect(dialog, &r);
                    EXPECT_EQ(r.left, x);
                    EXPECT_EQ(r.top, y);
                    EXPECT_EQ(r.right - r.left, w);
                    EXPECT_EQ(r.bottom - r.top, h);
                    EXPECT_EQ(platform::ui::ScreenPixel(x, y + h / 2), RGB(0x33, 0x99, 0xFF));
                    EXPECT_EQ(platform::ui::ScreenPixel(x + w - 1, y + h - 1), RGB(0x33, 0x99, 0xFF));
                    EXPECT_EQ(platform::ui::ScreenPixel(x + 3, y + h - 3), RGB(255, 255, 255));
                });
            };
            placed(portrait);
            // Turned while it is up, it moves to the other orientation's place.
            platform::ui::RotateScreen();
            platform::ui::WaitForIdle(5000);
            placed(!portrait);
            OnUi([&] {
                // Nothing else opens or switches while it is up.
                EXPECT_EQ(ShowDlgBox(nullptr, 2, WAIT_MORE_TEXT), 0);
                EXPECT_EQ(SwitchChannel(113, 0, &g_skin), -1);
                EXPECT_EQ(g_hWaitDlg, dialog);
                EXPECT_EQ(g_pendingList, &g_listOriginal);
            });
            user.join();
            OnUi([] {
                EXPECT_EQ(g_hWaitDlg, nullptr);
                EXPECT_EQ(g_curList, &g_listOriginal);
                EXPECT_TRUE(GetItems(&g_listMusic).empty());
            });
            EXPECT_EQ(ListRequests().size(), 1u);
            CloseProgram();
        });
            }
}

INSTANTIATE_TEST_SUITE_P(Orientation, WaitPlace, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Portrait" : "Landscape"; });

TEST(WaitDialog, SearchMovesTheWordToTheFrontAndShortensItsPrompt) {
    struct Case {
        const wchar_t* word;
        std::vector<std::wstring> history;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {L"丙", {L"丙", L"甲", L"乙"}, L"丙"},                          // the oldest moves to the front
        {L"丁", {L"丁", L"丙", L"甲"}, L"丁"},                          // a new word pushes the oldest out
        {L"丁", {L"丁", L"丙", L"甲"}, L"丁"},                          // the newest stays where it is
        {L"甲", {L"甲", L"丁", L"丙"}, L"甲"},
        {L"一二三四五六七八九", {L"一二三四五六七八九", L"甲", L"丁"}, L"一二三四五六七…"},
        {L"12345678", {L"12345678", L"一二三四五六七八九", L"甲"}, L"12345678"},
    };
    Folder f;
    {
        HKEY key = nullptr;
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, &key), 0);
        CStringW words[3] = {L"甲", L"乙", L"丙"};
        ASSERT_EQ(SetSearchWordReg(key, words, 3), 0);
        MyCloseReg(key);
    }
    RunAndEnd(480, 800, [&] {
        ASSERT_EQ(StartUp(f), 0u);
        OnUi([] {
            if (!g_hSearchEdit)
                g_hSearchEdit = CreateWindowExW(0, L"edit", L"", WS_CHILD, 0, 0, 100, 20, g_hSearchWnd, nullptr,
                                                g_hInst, nullptr);
        });
        for (const Case& c : cases) {
            SCOPED_TRACE(platform::WideToUtf8(c.word));
            Service().Get("/control/reset");
            OnUi([&] { SetWindowTextW(g_hSearchEdit, c.word); });
            ASSERT_EQ(Switch(124, 0), 0);
            OnUi([&] {
                EXPECT_EQ(g_curList, &g_listSearch);
                EXPECT_EQ(std::wstring(g_waitText), std::wstring(L"\r\n正在搜索：\r\n\"") + c.shown + L"\"");
                std::vector<std::wstring> shown, stored;
                CStringW read[3];
                EXPECT_EQ(GetSearchWordReg(g_hKeySearchWord, read, 3), 0);
                for (int i = 0; i < 3; ++i) {
                    shown.push_back(g_skin.searchHistory[i].str());
                    stored.push_back(read[i].str());
                }
                EXPECT_EQ(shown, c.history);
                EXPECT_EQ(stored, c.history);
            });
            auto seen = ListRequests();
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].rfind("/openapi-common/searchVideos?pid=4f7be1c09a2d6e53&keyword=", 0), 0u);
        }
        CloseProgram();
    });
}

// The next page past the end; a complete list asks for nothing; a failed page leaves the
// list as it was and is asked for again.
TEST(WaitDialog, NextPagesAppendUntilTheListIsComplete) {
    Folder f;
    RunAndEnd(480, 800, [&] {
        ASSERT_EQ(StartUp(f), 0u);
        Service().Get("/control/reset");
        EXPECT_EQ(More(), 0);
        EXPECT_EQ(ListRequests(),
                  std::vector<std::string>{"/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=2&rt=1&f=8&seg=1&rp=1"});
        OnUi([] {
            EXPECT_EQ(GetItems(&g_listHot).size(), 20u);
            EXPECT_EQ(g_scrollerPortrait.GetItemCount(), 20);
            EXPECT_EQ(g_scrollerLandscape.GetItemCount(), 20);
            EXPECT_EQ(std::wstring(g_waitText), L"\r\n读取更多视频\r\n……");
        });

        Service().Get("/control/reset");
        Service().QueueFault("drop", 2, "pg=3");
        EXPECT_EQ(More(), 0);
        OnUi([] {
            EXPECT_EQ(GetItems(&g_listHot).size(), 20u);
            EXPECT_EQ(IsComplete(&g_listHot), 0);
            EXPECT_EQ(g_scrollerPortrait.GetItemCount(), 20);
        });
        EXPECT_GE(f.LogCount("LengthenMe failed"), 1);
        EXPECT_EQ(More(), 0);
        OnUi([] { EXPECT_EQ(GetItems(&g_listHot).size(), 30u); });
        EXPECT_NE(ListRequests().back().find("&pg=3&"), std::string::npos);

        // A list whose answer gives no total is complete with its first page.
        Service().QueueFault("nototal", 1, "cid=98");
        ASSERT_EQ(Switch(114, 0), 0);
        Service().Get("/control/reset");
        OnUi([] { EXPECT_EQ(IsComplete(&g_listSport), 1); });
        EXPECT_EQ(More(), 0);
        EXPECT_TRUE(ListRequests().empty());
        OnUi([] { EXPECT_EQ(GetItems(&g_listSport).size(), 10u); });
        CloseProgram();
    });
}

// A first page that fails keeps the list shown before, and the list is tried again.
TEST(WaitDialog, FailedFirstPageKeepsThePreviousList) {
    const char* faults[] = {"drop", "status:503", "malformed", "failstatus"};
    Folder f;
    RunAndEnd(480, 800, [&] {
        ASSERT_EQ(StartUp(f), 0u);
        for (const char* fault : faults) {
            SCOPED_TRACE(fault);
            Service().QueueFault(fault, 2, "cid=94");
            EXPECT_EQ(Switch(115, 0), 0);
            Service().Get("/control/fault");
            OnUi([] {
                EXPECT_EQ(g_curList, &g_listHot);
                EXPECT_EQ(g_scrollerPortrait.GetItemCount(), 10);
                EXPECT_TRUE(GetItems(&g_listFunny).empty());
                EXPECT_EQ(IsComplete(&g_listFunny), 0);
            });
        }
        EXPECT_EQ(f.LogCount("ShowMe failed"), 4);
        EXPECT_EQ(Switch(115, 0), 0);
        OnUi([] {
            EXPECT_EQ(g_curList, &g_listFunny);
            EXPECT_EQ(GetItems(&g_listFunny).size(), 10u);
        });
        CloseProgram();
    });
}

// A wait dialog whose button the system cannot make starts no worker and closes at once as
// a failure; the list shown stays, and the next try loads as usual.
TEST(WaitDialog, WithoutAWorkerItClosesAsAFailure) {
    Folder f;
    int result = 0;
    RunAndEnd(480, 800, [&] {
        ASSERT_EQ(StartUp(f), 0u);
        Service().Get("/control/reset");
        platform::ui::FailWindowCreation(L"button", 1);
        result = Switch(115, 0);
        platform::ui::FailWindowCreation(L"button", 0);
        OnUi([] {
            EXPECT_EQ(g_hWaitDlg, nullptr);
            EXPECT_EQ(g_curList, &g_listHot);
            EXPECT_TRUE(GetItems(&g_listFunny).empty());
        });
        EXPECT_TRUE(ListRequests().empty()) << "no worker asked for the list";
        EXPECT_EQ(Switch(115, 0), 0);
        OnUi([] {
            EXPECT_EQ(g_curList, &g_listFunny);
            EXPECT_EQ(GetItems(&g_listFunny).size(), 10u);
        });
        CloseProgram();
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(f.LogCount("CreateWindow failed."), 1);
    EXPECT_EQ(f.LogCount("CreateControls failed"), 1);
    EXPECT_EQ(f.LogCount("DialogBox failed, ret=-1"), 1);
    EXPECT_EQ(f.LogCount("ShowDlgBox failed"), 1);
}

}  // namespace
