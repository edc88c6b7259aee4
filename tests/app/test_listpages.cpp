// The list, channel and ranking pages and the list view against the sample service: every
// button and period tab asks for its list's exact address, a drag past the end loads the
// next page, and nothing of a gesture or a glide acts while a wait dialog is up.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "entryGlobals.h"
#include "helpers.h"
#include "listPages.h"
#include "listView.h"
#include "listview.h"
#include "lumeo.h"
#include "program.h"
#include "serviceFolder.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/codepage.h"
#include "platform/connmgr.h"
#include "platform/format.h"
#include "platform/ui.h"

using namespace apptest;
using nettest::SampleService;
using nettest::TempDir;

namespace {

// The list requests the service saw since its last reset.
std::vector<std::string> ListRequests() {
    std::vector<std::string> out;
    for (auto& line : Service().Requests())
        if (line.rfind("GET /openapi-common/", 0) == 0 && line.find("getVersionInfo") == std::string::npos)
            out.push_back(line.substr(std::string("GET /openapi-common/").size()));
    return out;
}

// A program folder of its own, started by the real init thread, online.
struct Folder : ServiceFolder {
    void StartUp() {
        Adopt();
        EXPECT_EQ(InitThread(&g_hMainWndParam), 0u);
        Idle();
        Service().Get("/control/reset");
    }
};

// After a tap that loads a list: the dialog has come and gone and `list` is shown.
bool Shows(VideoList* list) {
    return WaitOnUi([&] { return g_hWaitDlg == nullptr && g_curList == list; });
}

void TapCentre(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    TapIn(hwnd, r.right / 2, r.bottom / 2);
}

void TapPeriod(int i, int dx = -1, int dy = -1) {
    int x = 0, y = 0;
    OnUi([&] {
        x = g_skin.periodPos[i] + (dx < 0 ? g_skin.periodTabWidth / 2 : dx);
        y = g_skin.periodTop + (dy < 0 ? g_skin.periodHeight / 2 : dy);
    });
    TapIn(g_hListWnd, x, y);
}

void CloseProgram() { PostMessageW(g_hFrame, WM_CLOSE, 0, 0); }

// Runs `body` as the program's driver; the program is closed however the body ends.
void Drive(int width, int height, const std::function<void()>& body) {
    RunProgram(width, height, [&] {
        body();
        CloseProgram();
    });
}

std::string Address(const char* method, int pd) {
    return std::string(method) + "?pid=4f7be1c09a2d6e53&pg=1&pz=10&rt=1&f=8&pd=" + std::to_string(pd) + "&seg=1&rp=1";
}

TEST(ListPages, EveryChannelRankingAndPeriodAsksForItsExactAddress) {
    struct Channel {
        int row;
        VideoList* list;
        const char* cid;
    } channels[] = {{0, &g_listNews, "91"},  {1, &g_listOriginal, "92"}, {2, &g_listMusic, "95"},
                    {3, &g_listSport, "98"}, {4, &g_listFunny, "94"}};
    struct Ranking {
        int row;
        const char* method;
        VideoList* periods[3];
    } rankings[] = {
        {0, "getVideosOrderByPv", {&g_listMostPlayedToday, &g_listMostPlayedWeek, &g_listMostPlayedMonth}},
        {1, "getVideosOrderByFav", {&g_listMostFavToday, &g_listMostFavWeek, &g_listMostFavMonth}},
        {2, "getVideosOrderByRel", {&g_listMostCommentToday, &g_listMostCommentWeek, &g_listMostCommentMonth}},
    };
    Folder f;
    Drive(480, 800, [&] {
        f.StartUp();
        for (const Channel& c : channels) {
            SCOPED_TRACE(c.cid);
            Command(g_hFrame, IDM_TAB_CLASSIFY);
            Service().Get("/control/reset");
            TapCentre(g_hChannelBtn[c.row]);
            ASSERT_TRUE(Shows(c.list));
            EXPECT_EQ(ListRequests(), std::vector<std::string>{std::string("listChannelVideos?pid=4f7be1c09a2d6e53&cid=") +
                                                               c.cid + "&pg=1&pz=10&rt=1&f=8&seg=1&rp=1"});
            OnUi([] {
                EXPECT_EQ(g_curPage, g_hListWnd);
                EXPECT_EQ(g_curTab, IDC_TAB_CLASSIFY);
            });
            // Not a ranking: a tap where the period tabs would be does nothing.
            Service().Get("/control/reset");
            TapPeriod(1);
            Idle();
            EXPECT_TRUE(ListRequests().empty());
            OnUi([&] { EXPECT_EQ(g_curList, c.list); });
        }
        // 推荐 shows the home list, loaded at start-up, and makes its tab current.
        Command(g_hFrame, IDM_TAB_CLASSIFY);
        Service().Get("/control/reset");
        TapCentre(g_hChannelBtn[5]);
        ASSERT_TRUE(Shows(&g_listHot));
        EXPECT_TRUE(ListRequests().empty());
        OnUi([] { EXPECT_EQ(g_curTab, IDC_TAB_HOT); });

        for (const Ranking& r : rankings) {
            SCOPED_TRACE(r.method);
            Command(g_hFrame, IDM_TAB_RANK);
            Service().Get("/control/reset");
            TapCentre(g_hRankBtn[r.row]);
            ASSERT_TRUE(Shows(r.periods[0]));
            EXPECT_EQ(ListRequests(), std::vector<std::string>{Address(r.method, 1)});
            // 本月, then 本周 tapped on its right edge (the edges belong to the tab).
            Service().Get("/control/reset");
            TapPeriod(2);
            ASSERT_TRUE(Shows(r.periods[2]));
            int w = 0, h = 0;
            OnUi([&] {
                w = g_skin.periodTabWidth;
                h = g_skin.periodHeight;
            });
            TapPeriod(1, w, h - 1);
            ASSERT_TRUE(Shows(r.periods[1]));
            EXPECT_EQ(ListRequests(), (std::vector<std::string>{Address(r.method, 3), Address(r.method, 2)}));
            // The ranking page opens a ranking on today again, whatever was shown before.
            Command(g_hFrame, IDM_TAB_RANK);
            TapCentre(g_hRankBtn[r.row]);
            ASSERT_TRUE(Shows(r.periods[0]));
        }
    });
}

struct FakeTime {
    static std::atomic<DWORD>& Now() {
        static std::atomic<DWORD> now{1000};
        return now;
    }
    static DWORD Clock() { return Now().load(); }
    FakeTime() { SetScrollerClock(Clock); }
    ~FakeTime() { SetScrollerClock(nullptr); }
};

void Pen(void (*inject)(int, int), int x, int y) {
    POINT p{x, y};
    ClientToScreen(g_hListView, &p);
    inject(p.x, p.y);
}

bool TimerRunning(HWND hwnd) {
    if (!KillTimer(hwnd, 1)) return false;
    SetTimer(hwnd, 1, 50, nullptr);
    return true;
}

TEST(ListView, DraggingPastTheEndLoadsTheNextPageAndTheRestOfTheGestureDoesNothing) {
    Folder f;
    Drive(480, 800, [&] {
        f.StartUp();
        // The next page takes a while: the dialog stays up while the pen goes on.
        Service().QueueFault("delay:1500", 1, "pg=2");
        int x = 200, y = 0, rowH = 0;
        OnUi([&] {
            ASSERT_EQ(GetItems(&g_listHot).size(), 10u);
            ASSERT_EQ(IsComplete(&g_listHot), 0);
            y = g_scrollerPortrait.GetViewHeight() - 10;
            rowH = g_scrollerPortrait.GetItemHeight();
        });
        Pen(platform::ui::InjectPenDown, x, y);
        // (While the dialog is up the interface thread is inside it: no waiting for idle.)
        int offsetAtDialog = 1;
        for (int k = 1; k < 40 && offsetAtDialog == 1; ++k) {
            Pen(platform::ui::InjectPenMove, x, y - 40 * k);
            WaitOnUi([&] {
                if (g_hWaitDlg) offsetAtDialog = g_scrollerPortrait.offsetY;
                return g_hWaitDlg != nullptr || g_scrollerPortrait.offsetY == -40 * k;
            });
        }
        ASSERT_NE(offsetAtDialog, 1) << "no dialog";
        OnUi([&] {
            // Pulled just past the end of ten rows; the scroll has stopped and the pen is let go.
            EXPECT_LT(offsetAtDialog, g_scrollerPortrait.GetViewHeight() - 10 * rowH);
            EXPECT_EQ(g_scrollerPortrait.IsActive(), 0);
            EXPECT_NE(GetCapture(), g_hListView);
            EXPECT_FALSE(TimerRunning(g_hListView));
            EXPECT_EQ(std::wstring(g_waitText), L"\r\n读取更多视频\r\n……");
        });
        // The pen goes on under the dialog and lifts: none of it reaches the list.
        for (int k = 1; k <= 3; ++k) Pen(platform::ui::InjectPenMove, x, 40 * k);
        Pen(platform::ui::InjectPenUp, x, 120);
        usleep(300 * 1000);
        OnUi([&] {
            EXPECT_NE(g_hWaitDlg, nullptr) << "the dialog closed too early for this check";
            EXPECT_EQ(g_scrollerPortrait.offsetY, offsetAtDialog);
            EXPECT_EQ(g_scrollerPortrait.IsActive(), 0);
        });
        ASSERT_TRUE(WaitOnUi([] { return g_hWaitDlg == nullptr && GetItems(&g_listHot).size() == 20u; }));
        Idle();
        EXPECT_EQ(ListRequests(),
                  std::vector<std::string>{"getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=2&rt=1&f=8&seg=1&rp=1"});
        OnUi([] {
            EXPECT_EQ(g_scrollerPortrait.GetItemCount(), 20);
            EXPECT_EQ(g_scrollerLandscape.GetItemCount(), 20);
            EXPECT_EQ(g_curList, &g_listHot);
        });
    });
}

TEST(ListView, AListThatIsCompleteSpringsBackFromItsEndWithoutAsking) {
    FakeTime time;
    Folder f;
    Service().QueueFault("nototal", 1, "getTopVideos");
    Drive(480, 800, [&] {
        f.StartUp();
        int x = 200, y = 0, minOffset = 0;
        OnUi([&] {
            ASSERT_EQ(IsComplete(&g_listHot), 1);
            y = g_scrollerPortrait.GetViewHeight() - 10;
            minOffset = g_scrollerPortrait.minOffsetY;
        });
        // Pulled 100 pixels past the end, slowly, and let go.
        int total = -minOffset + 100;
        FakeTime::Now() = 1000;
        Pen(platform::ui::InjectPenDown, x, y);
        for (int moved = 40; moved < total + 40; moved += 40) {
            FakeTime::Now() += 500;
            Pen(platform::ui::InjectPenMove, x, y - std::min(moved, total));
            Idle();
        }
        OnUi([&] {
            EXPECT_EQ(g_scrollerPortrait.offsetY, minOffset - 100);
            EXPECT_EQ(g_hWaitDlg, nullptr);
        });
        FakeTime::Now() += 500;
        Pen(platform::ui::InjectPenUp, x, y - total);
        // Back to the end in three ticks.
        EXPECT_TRUE(WaitOnUi([&] { return g_scrollerPortrait.offsetY == minOffset; }));
        Idle();
        EXPECT_TRUE(ListRequests().empty());
    });
}

TEST(ListView, AGlideStopsWhenAWaitDialogComesUp) {
    FakeTime time;
    Folder f;
    Drive(800, 480, [&] {
        f.StartUp();
        // A long list, so that the glide has many ticks to run.
        OnUi([] {
            LockLists();
            std::vector<VideoItem>& items = GetItems(&g_listHot);
            while (items.size() < 100) items.push_back(items[items.size() % 10]);
            g_listHot.total = 100;
            InitTf();
            UnlockLists();
        });
        Service().QueueFault("delay:1500", 1, "cid=91");
        // 150 pixels to the left in 100 ms: v = -45 per tick, a glide of 300 ms.
        int y = 60, x0 = 600;
        FakeTime::Now() = 1000;
        Pen(platform::ui::InjectPenDown, x0, y);
        Pen(platform::ui::InjectPenMove, x0 - 75, y);
        Idle();
        FakeTime::Now() += 100;
        Pen(platform::ui::InjectPenMove, x0 - 150, y);
        Pen(platform::ui::InjectPenUp, x0 - 150, y);
        Idle();
        std::thread channel([] { OnUi([] { SwitchChannel(RSS_NEWS, 0, &g_skin); }); });
        int atDialog = 1, later = 2;
        bool glidingAtDialog = false;
        ASSERT_TRUE(WaitOnUi([&] {
            if (!g_hWaitDlg) return false;
            atDialog = g_scrollerLandscape.offsetX;
            glidingAtDialog = atDialog > g_scrollerLandscape.targetX;
            return true;
        }));
        usleep(400 * 1000);
        OnUi([&] {
            if (g_hWaitDlg) later = g_scrollerLandscape.offsetX;
            EXPECT_EQ(g_scrollerLandscape.IsActive(), 0);
            EXPECT_FALSE(TimerRunning(g_hListView));
        });
        EXPECT_TRUE(glidingAtDialog) << "the glide ended before the dialog came";
        EXPECT_EQ(later, atDialog);
        channel.join();
        OnUi([] {
            EXPECT_EQ(g_curList, &g_listNews);
            EXPECT_EQ(g_scrollerLandscape.offsetX, 0);
        });
    });
}

}  // namespace
