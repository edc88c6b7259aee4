// Leaving while something loads: exit chosen behind the wait dialog of a list load that
// the server holds, and during the connection wait of the start. The program runs
// in-process on a headless screen against the sample service.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "connMgr.h"
#include "download.h"
#include "entryGlobals.h"
#include "helpers.h"
#include "listView.h"
#include "lumeo.h"
#include "program.h"
#include "serviceFolder.h"
#include "skin.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/connmgr.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

HWND WaitDialog() {
    HWND d = nullptr;
    OnUi([&] { d = g_hWaitDlg; });
    return d;
}

std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Asked(const std::string& target) {
    for (auto& line : Service().Requests())
        if (line.rfind("GET ", 0) == 0 && line.find(target) != std::string::npos) return true;
    return false;
}

// How the user chooses exit behind the wait dialog.
enum class Way { SoftKey, BarTap, Menu, CtrlZero };

struct ExitCase {
    const char* name;
    Way way;
};
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ExitDuringLoad : public testing::TestWithParam<ExitCase> {};

void ChooseExit(Way way) {
    switch (way) {
    case Way::SoftKey:
        // 退出 is the left soft key of the list pages' bar.
        platform::ui::InjectVirtualKey(VK_TSOFT1, false);
        break;
    case Way::BarTap: {
        int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
        int bar = platform::ui::SoftKeyBarHeight();
        platform::ui::InjectPenDown(w / 4, h - bar / 2);
        platform::ui::InjectPenUp(w / 4, h - bar / 2);
        break;
    }
    case Way::Menu: {
        // 菜单, then its last row, 退出.
        platform::ui::InjectVirtualKey(VK_TSOFT2, false);
        HWND menu = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (menu = FindWindowW(L"#PopupMenu", nullptr)) != nullptr; }, 10000))
            << "菜单 opened no menu";
        RECT r;
        GetWindowRect(menu, &r);
        platform::ui::InjectPenDown((r.left + r.right) / 2, r.bottom - 8);
        platform::ui::InjectPenUp((r.left + r.right) / 2, r.bottom - 8);
        break;
    }
    case Way::CtrlZero:
        platform::ui::InjectVirtualKey('0', true);
        break;
    }
}

// A list whose answer the service holds: exit, confirmed, ends the program at once, the
// answer still held; nothing of the list is kept once it comes.
TEST_P(ExitDuringLoad, EndsTheProgramAtOnce) {
    const ExitCase& c = GetParam();
    ServiceFolder f;
    std::thread user;
    std::atomic<bool> ended{false};
    std::vector<std::string> xmlAtExit;
    int code = RunProgram(480, 800, [&] {
        f.Adopt();
        ASSERT_EQ(InitThread(&g_hMainWndParam), 0u);
        Idle();
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring& text, const std::wstring&, UINT) {
            return text == L"确定要退出吗？" ? IDYES : IDOK;
        });
        // Whatever happens here, the held answer is let go and the program ends.
        struct LetGo {
            ~LetGo() {
                Service().Get("/control/release?count=10");
                if (IsWindow(g_hFrame)) PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
            }
        } letGo;
        Service().QueueFault("delay:600000", 10, "cid=92");
        user = std::thread([] { OnUi([] { SwitchChannel(112, 0, &g_skin); }); });
        ASSERT_TRUE(WaitFor([] { return WaitDialog() != nullptr; })) << "no wait dialog";
        ASSERT_TRUE(WaitFor([] { return Asked("cid=92"); })) << "the list was never asked for";
        platform::ui::WaitForIdle(5000);
        platform::ui::ClearMessageBoxHistory();
        xmlAtExit = Files(f.Path("Xml"));

        ChooseExit(c.way);
        EXPECT_TRUE(WaitFor([] { return !IsWindow(g_hFrame); }, 10000)) << "the program did not end during the load";
        ended = !IsWindow(g_hFrame);
        auto boxes = platform::ui::MessageBoxHistory();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"确定要退出吗？");
        EXPECT_TRUE(DownloadsInFlight() > 0) << "the program waited for the load";
    });
    EXPECT_EQ(code, 0);
    if (user.joinable()) user.join();
    Service().Get("/control/release?count=10");
    EXPECT_TRUE(WaitFor([] { return DownloadsInFlight() == 0; })) << "the load did not end";
    EXPECT_TRUE(ended);
    EXPECT_EQ(Files(f.Path("Xml")), xmlAtExit) << "the held list was kept after exit";
}

INSTANTIATE_TEST_SUITE_P(Ways, ExitDuringLoad,
                         testing::Values(ExitCase{"SoftKey", Way::SoftKey}, ExitCase{"BarTap", Way::BarTap},
                                         ExitCase{"Menu", Way::Menu}, ExitCase{"CtrlZero", Way::CtrlZero}),
                         [](const testing::TestParamInfo<ExitCase>& i) { return std::string(i.param.name); });

// Behind the wait dialog the other commands of its bar and menu do nothing: the list shown
// and the page stay, and the load ends as it would.
TEST(WaitDialog, OnlyExitActsBehindIt) {
    ServiceFolder f;
    int code = RunProgram(480, 800, [&] {
        f.Adopt();
        ASSERT_EQ(InitThread(&g_hMainWndParam), 0u);
        Idle();
        HWND page = nullptr;
        VideoList* shown = nullptr;
        OnUi([&] {
            page = g_curPage;
            shown = g_curList;
        });
        Service().QueueFault("delay:600000", 1, "cid=92");
        std::thread user([] { OnUi([] { SwitchChannel(112, 0, &g_skin); }); });
        struct LetGo {
            std::thread& user;
            ~LetGo() {
                Service().Get("/control/release?count=1");
                if (user.joinable()) user.join();
            }
        } letGo{user};
        ASSERT_TRUE(WaitFor([] { return WaitDialog() != nullptr; }));
        ASSERT_TRUE(WaitFor([] { return Asked("cid=92"); }));
        // As the dialog's bar and menu, and the frame's own keys, send them.
        for (int id : {IDM_TAB_CLASSIFY, IDM_TAB_SEARCH, IDM_HELP, IDM_ABOUT, IDM_DETAIL, IDM_PLAY}) {
            PostMessageW(WaitDialog(), WM_COMMAND, id, 0);
            PostMessageW(g_hFrame, WM_COMMAND, id, 0);
        }
        platform::ui::WaitForIdle(5000);
        OnUi([&] {
            EXPECT_EQ(g_curPage, page);
            EXPECT_EQ(g_curList, shown);
            EXPECT_NE(g_hWaitDlg, nullptr);
        });
        Service().Get("/control/release?count=1");
        user.join();
        Idle();
        OnUi([&] { EXPECT_EQ(g_curList, &g_listOriginal) << "the load ended as it would"; });
        PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(code, 0);
}

// The held pause of the start's connection wait, and its end (a minute at most).
HANDLE g_connecting, g_letGo;

// Exit chosen while the start waits for the connection: once the wait is over the init
// thread goes no further, not even to its next status text.
TEST(StartUp, ExitDuringTheConnectionWaitStopsTheInitThreadThere) {
    ServiceFolder f;
    g_connecting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_letGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The first destination fails; the pause before the next one is held, which then connects.
    platform::ConnMgrConfigure(L"dest=Internet,connect=fail;dest=Internet 2;conn=Wi-Fi,type=2,subtype=2,status=32");
    SetConnMgrSleep([](DWORD) {
        SetEvent(g_connecting);
        WaitForSingleObject(g_letGo, 60000);
    });
    HANDLE init = nullptr;
    std::wstring textAtExit;
    int code = RunProgram(480, 800, [&] {
        f.Adopt();
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring& text, const std::wstring&, UINT) {
            return text == L"确定要退出吗？" ? IDYES : IDNO;
        });
        struct LetGo {
            ~LetGo() { SetEvent(g_letGo); }
        } letGo;
        init = CreateThread(nullptr, 0, InitThread, &g_hMainWndParam, 0, nullptr);
        ASSERT_NE(init, nullptr);
        ASSERT_EQ(WaitForSingleObject(g_connecting, 30000), WAIT_OBJECT_0) << "the connection wait was never reached";
        OnUi([&] { textAtExit = g_startupText.str(); });
        PostMessageW(g_hFrame, WM_COMMAND, IDM_EXIT, 0);
        ASSERT_TRUE(WaitFor([] { return !IsWindow(g_hFrame); })) << "the program did not end during the wait";
    });
    EXPECT_EQ(code, 0);
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(WaitForSingleObject(init, 30000), WAIT_OBJECT_0) << "the init thread did not end";
    CloseHandle(init);
    SetConnMgrSleep(nullptr);
    CloseHandle(g_connecting);
    CloseHandle(g_letGo);
    EXPECT_EQ(textAtExit, L"正在连接澜映,请稍候 ...");
    EXPECT_EQ(g_startupText.str(), textAtExit) << "the init thread went on after the connection wait";
    EXPECT_EQ(f.LogCount("Can't create directory"), 0);
}

}  // namespace
