// The program run whole on a headless screen: screen sizes and skins, the window tree, tabs
// and pages, help and About, the layout pass, exit and the message for unknown screens.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <filesystem>
#include <fstream>

#include "entryGlobals.h"
#include "lumeo.h"
#include "program.h"
#include "skin.h"
#include "tools.h"
#include "platform/aygshell.h"
#include "platform/device.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

struct ScreenCase {
    int width, height;
    int index;
    const wchar_t* prefix;
    int orientation;
};

std::string Name(const testing::TestParamInfo<ScreenCase>& i) {
    return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
}

const ScreenCase kScreens[] = {
    {800, 480, 1, L"def_800_480_", 2}, {480, 800, 1, L"def_800_480_", 1}, {640, 480, 2, L"def_640_480_", 2},
    {480, 640, 2, L"def_640_480_", 1}, {320, 240, 3, L"def_320_240_", 2}, {240, 320, 3, L"def_320_240_", 1},
    {480, 320, 4, L"def_480_320_", 2}, {320, 480, 4, L"def_480_320_", 1}, {400, 240, 5, L"def_400_240_", 2},
    {240, 400, 5, L"def_400_240_", 1},
};

HWND Pages(int i) {
    HWND pages[] = {g_hListWnd,  g_hDtlWnd,      g_hHlpttWnd,  g_hHlpinfWnd,
                    g_hAboutWnd, g_hClassifyWnd, g_hSearchWnd, g_hRankWnd};
    return pages[i];
}

void CloseProgram() { PostMessageW(g_hFrame, WM_CLOSE, 0, 0); }

class Screens : public testing::TestWithParam<ScreenCase> {};

TEST_P(Screens, SkinWindowsAndWhatIsShownBeforeAndAfterStartUp) {
    const ScreenCase c = GetParam();
    int code = RunProgram(c.width, c.height, [&] {
        OnUi([&] {
            EXPECT_EQ(g_skin.longSide, std::max(c.width, c.height));
            EXPECT_EQ(g_skin.shortSide, std::min(c.width, c.height));
            std::wstring tabs = g_skin.imagePath[SKIN_BOTTOM_BTN];
            EXPECT_NE(tabs.find(std::wstring(L"\\Res\\Skin\\Def\\") + c.prefix + L"bottomBtn.png"), std::wstring::npos);
            EXPECT_EQ(g_skin.imagePath[SKIN_ARROW][0] != 0, c.index <= 2);
            EXPECT_EQ(g_orientation, c.orientation);
            // The start-up screen alone, with bar 501.
            EXPECT_EQ(GetParent(g_hStupWnd), g_hFrame);
            EXPECT_EQ(GetParent(g_hMainWnd), g_hFrame);
            EXPECT_TRUE(IsWindowVisible(g_hStupWnd));
            EXPECT_FALSE(IsWindowVisible(g_hMainWnd));
            EXPECT_EQ(GetParent(g_hProgress), g_hStupWnd);
            for (int i = 0; i < 8; ++i) EXPECT_EQ(GetParent(Pages(i)), g_hMainWnd) << i;
            for (HWND t : g_hTabBtn) EXPECT_EQ(GetParent(t), g_hMainWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 501u);
            EXPECT_TRUE(IsWindow(g_menuBar.hwndMB));
            // The start-up screen's blue outline.
            RECT rc;
            GetClientRect(g_hStupWnd, &rc);
            EXPECT_EQ(ScreenPixelIn(g_hStupWnd, 0, rc.bottom / 2), RGB(0x33, 0x99, 0xFF));
            EXPECT_EQ(ScreenPixelIn(g_hStupWnd, rc.right / 2, 1), RGB(255, 255, 255));
        });
        FinishInit();
        OnUi([&] {
            EXPECT_TRUE(IsWindowVisible(g_hMainWnd));
            EXPECT_FALSE(IsWindowVisible(g_hStupWnd));
            for (int i = 0; i < 8; ++i) EXPECT_EQ(IsWindowVisible(Pages(i)) != 0, i == 0) << i;
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
            EXPECT_EQ(g_initDone, 1);
            // The page fills the space between the upper bar and the tab bar.
            RECT main, page;
            GetClientRect(g_hMainWnd, &main);
            GetWindowRect(g_hListWnd, &page);
            int logoHeight = BitmapSize(g_skin.pgrmLogo).cy;
            EXPECT_EQ(page.bottom - page.top, main.bottom - logoHeight - g_skin.mainMetric1);
            EXPECT_EQ(page.right - page.left, main.right);
            // Upper bar at the top left, the tab bar's own colour where no tab covers it.
            EXPECT_EQ(ScreenPixelIn(g_hMainWnd, 0, 0), PicturePixel(g_skin.pgrmUpBar, 0, 0));
            int y = main.bottom - g_skin.mainMetric1;
            if (g_skin.tabRect[0].y > y) {
                EXPECT_EQ(ScreenPixelIn(g_hMainWnd, 2, y), RGB(0x8B, 0xCC, 0xED));
            }
            if (g_skin.tabRect[0].x > 0) {
                EXPECT_EQ(ScreenPixelIn(g_hMainWnd, 0, main.bottom - 2), RGB(0x8B, 0xCC, 0xED));
            }
            // The title bar on top of the page.
            EXPECT_EQ(ScreenPixelIn(g_hListWnd, 5, 1), PicturePixel(g_skin.innerTitleBar, 5, 1));
        });
        EXPECT_EQ(TabLook(0), 2);
        for (int k = 1; k < 4; ++k) EXPECT_EQ(TabLook(k), 1) << k;
        CloseProgram();
    });
    EXPECT_EQ(code, 0);
}

INSTANTIATE_TEST_SUITE_P(AllSizes, Screens, testing::ValuesIn(kScreens), Name);

TEST(Program, PortraitOf800x480HasTwentyThreePixelLinesAndATitleBandOf46) {
    RunProgram(480, 800, [] {
        OnUi([] {
            EXPECT_EQ(g_skin.lineHeight, 23);
            EXPECT_EQ(g_skin.titleBand, 46);
            EXPECT_EQ(g_skin.fonts[0].lfHeight, 23);
            EXPECT_EQ(g_skin.fonts[1].lfWeight, 700);
            EXPECT_EQ(g_skin.fonts[7].lfHeight, 46);
            EXPECT_EQ(g_skin.fonts[9].lfHeight, 34);
        });
        CloseProgram();
    });
}

// A worker that still runs when the program ends keeps its locks: the process ends without
// waiting for it, and a lock deleted under it would be used after it is gone.
TEST(Program, TheEndKeepsTheLocksWhileAWorkerStillRuns) {
    InitializeCriticalSection(&g_csPlay);
    InitializeCriticalSection(&g_csXml);
    InitializeCriticalSection(&g_csRunning);
    struct Gate {
        HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } gate;
    HANDLE worker = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* g = static_cast<Gate*>(p);
            EnterCriticalSection(&g_csXml);
            SetEvent(g->entered);
            WaitForSingleObject(g->release, 10000);
            LeaveCriticalSection(&g_csXml);
            return 0;
        },
        &gate, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    ASSERT_EQ(WaitForSingleObject(gate.entered, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(UninitInstance(), 0);
    EXPECT_NE(g_csXml.impl, nullptr);
    EXPECT_FALSE(TryEnterCriticalSection(&g_csXml)) << "still the worker's";
    SetEvent(gate.release);
    ASSERT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
    CloseHandle(worker);
    for (int i = 0; i < 500 && platform::RunningThreadCount() > 0; ++i) Sleep(10);
    // With no worker left the end deletes them.
    EXPECT_EQ(UninitInstance(), 0);
    EXPECT_EQ(g_csXml.impl, nullptr);
    EXPECT_EQ(g_csPlay.impl, nullptr);
    CloseHandle(gate.entered);
    CloseHandle(gate.release);
}

TEST(Program, UnsupportedScreenShowsItsSizeHeightFirstAndEndsWithoutWindows) {
    struct Case {
        int w, h;
        const wchar_t* size;
    } cases[] = {{240, 240, L"240*240"}};
    for (const Case& c : cases) {
        platform::ui::ClearMessageBoxHistory();
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring&, const std::wstring&, UINT) { return IDOK; });
        bool driven = false;
        int code = RunProgram(c.w, c.h, [&] { driven = true; });
        platform::ui::SetMessageBoxHook(nullptr);
        EXPECT_NE(code, 0) << "a refused screen is no success";
        EXPECT_FALSE(driven);
        auto boxes = platform::ui::MessageBoxHistory();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, std::wstring(L"目前尚不支持分辨率为 ") + c.size + L" 的手机，请耐心等待升级版本。");
        EXPECT_EQ(boxes[0].caption, L"Message");
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
        EXPECT_EQ(g_menuBar.hwndMB, nullptr);
        EXPECT_EQ(g_hStupWnd, nullptr);
        EXPECT_EQ(g_hMainWnd, nullptr);
        EXPECT_EQ(GetWindow(g_hFrame, GW_CHILD), nullptr);
    }
}

TEST(Program, TabsSwitchPagesAndRedrawTheCurrentTab) {
    RunProgram(480, 800, [] {
        FinishInit();
        auto tapTab = [](int k) {
            HWND tab = nullptr;
            OnUi([&] { tab = g_hTabBtn[k]; });
            RECT r;
            GetClientRect(tab, &r);
            TapIn(tab, r.right / 2, r.bottom / 2);
        };
        tapTab(1);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hClassifyWnd);
            EXPECT_EQ(g_prevPage, g_hListWnd);
            EXPECT_TRUE(IsWindowVisible(g_hClassifyWnd));
            EXPECT_FALSE(IsWindowVisible(g_hListWnd));
            EXPECT_EQ(g_curTab, 119);
            EXPECT_EQ(g_prevTab, 118);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        EXPECT_EQ(TabLook(0), 1);
        EXPECT_EQ(TabLook(1), 2);
        // The current tab again: still current, the previous tab as it was.
        tapTab(1);
        OnUi([] {
            EXPECT_EQ(g_curTab, 119);
            EXPECT_EQ(g_prevTab, 119);
            EXPECT_EQ(g_curPage, g_hClassifyWnd);
        });
        EXPECT_EQ(TabLook(1), 2);
        EXPECT_EQ(TabLook(0), 1);
        // The menu's commands reach the tabs through the main window.
        Command(g_hFrame, IDM_TAB_RANK);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hRankWnd);
            EXPECT_EQ(g_curTab, 121);
        });
        EXPECT_EQ(TabLook(3), 2);
        EXPECT_EQ(TabLook(1), 1);
        // Ctrl+3, the accelerator of the 搜索 tab.
        platform::ui::InjectKey("ctrl+3");
        Idle();
        OnUi([] { EXPECT_EQ(g_curPage, g_hSearchWnd); });
        // The home tab shows the list page and loads its list behind the wait dialog; a
        // load that fails (no server here) still makes the tab current.
        Command(g_hFrame, IDM_TAB_HOT);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_curTab, 118);
            EXPECT_EQ(g_prevTab, 120);
            EXPECT_EQ(g_hWaitDlg, nullptr);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        // Commands that no window handles change nothing.
        Command(g_hFrame, IDM_NONE);
        Command(g_hFrame, IDM_MENU);
        Command(g_hFrame, IDM_CANCEL);
        OnUi([] { EXPECT_EQ(g_curPage, g_hListWnd); });
        CloseProgram();
    });
}

TEST(Program, HelpAndAboutReturnWhereTheyWereOpenedWithThatBar) {
    RunProgram(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        Command(g_hFrame, IDM_HELP);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hHlpttWnd);
            EXPECT_TRUE(IsWindowVisible(g_hHlpttWnd));
            EXPECT_EQ(g_menuBar.nToolBarId, 504u);
        });
        // Ctrl+5 opens About and Ctrl+6 help, whatever the menu's access keys say.
        platform::ui::InjectKey("ctrl+5");
        Idle();
        OnUi([] { EXPECT_EQ(g_curPage, g_hAboutWnd); });
        platform::ui::InjectKey("ctrl+6");  // help again from About
        Idle();
        Command(g_hFrame, IDM_HELP);  // and help while it is shown
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hHlpttWnd);
            EXPECT_EQ(g_returnPage, g_hSearchWnd);
            EXPECT_EQ(g_returnBar, 502);
        });
        // Back is the left soft key of bar 504.
        platform::ui::InjectKey("soft1");
        Idle();
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hSearchWnd);
            EXPECT_TRUE(IsWindowVisible(g_hSearchWnd));
            EXPECT_FALSE(IsWindowVisible(g_hHlpttWnd));
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
            EXPECT_EQ(g_curTab, 120);
        });
        // From the detail page (opened as its command does), back returns there with bar 503.
        OnUi([] {
            SwitchPage(g_hDtlWnd);
            MyChangeMenu(&g_menuBar, &g_hFrame, IDB_DETAIL, 0);
        });
        Command(g_hFrame, IDM_ABOUT);
        OnUi([] { EXPECT_EQ(g_curPage, g_hAboutWnd); });
        Command(g_hFrame, IDM_HELP_BACK);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hDtlWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 503u);
        });
        Command(g_hFrame, IDM_DETAIL_BACK);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        CloseProgram();
    });
}

TEST(Program, RotationRelaysOutTheInputPanelOpeningDoesNotAndClosingDoes) {
    RunProgram(480, 800, [] {
        FinishInit();
        int before = 0;
        OnUi([&] {
            before = g_layoutCount;
            EXPECT_EQ(g_orientation, 1);
            EXPECT_EQ(g_skin.pageRect.w, 480);
        });
        platform::ui::RotateScreen();
        Idle();
        OnUi([&] {
            EXPECT_EQ(g_layoutCount, before + 1);
            EXPECT_EQ(g_orientation, 2);
            EXPECT_EQ(g_skin.pageRect.w, 800);
            RECT page;
            GetWindowRect(g_hListWnd, &page);
            EXPECT_EQ(page.right - page.left, 800);
            before = g_layoutCount;
        });
        OnUi([] { SipShowIM(SIPF_ON); });
        Idle();
        int pageHeight = 0;
        OnUi([&] {
            EXPECT_EQ(g_layoutCount, before);
            pageHeight = g_skin.pageRect.h;
        });
        OnUi([] { SipShowIM(SIPF_OFF); });
        Idle();
        OnUi([&] {
            EXPECT_EQ(g_layoutCount, before + 1);
            EXPECT_EQ(g_skin.pageRect.h, pageHeight);
            before = g_layoutCount;
            // A new width with the same height keeps the layout.
            RECT rc;
            GetClientRect(g_hMainWnd, &rc);
            EXPECT_EQ(LayoutMainWindow(rc.right - 10, rc.bottom), 0);
            EXPECT_EQ(g_layoutCount, before);
            LayoutMainWindow(rc.right, rc.bottom);
        });
        CloseProgram();
    });
}

TEST(Program, ExitAnsweredNoKeepsTheProgramAndYesEndsIt) {
    std::vector<int> answers{IDNO, IDYES};
    size_t next = 0;
    platform::ui::ClearMessageBoxHistory();
    platform::ui::SetMessageBoxHook([&](HWND, const std::wstring&, const std::wstring&, UINT) {
        return next < answers.size() ? answers[next++] : IDYES;
    });
    bool frameAfterNo = false;
    int code = RunProgram(480, 800, [&] {
        // The right soft key of the start-up bar is 退出.
        platform::ui::InjectKey("soft2");
        Idle();
        OnUi([&] { frameAfterNo = IsWindow(g_hFrame) && IsWindowVisible(g_hStupWnd); });
        platform::ui::InjectKey("soft2");
    });
    platform::ui::SetMessageBoxHook(nullptr);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(frameAfterNo);
    auto boxes = platform::ui::MessageBoxHistory();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& b : boxes) {
        EXPECT_EQ(b.text, L"确定要退出吗？");
        EXPECT_EQ(b.caption, L"提示");
        EXPECT_EQ(b.type, 0x24u);
    }
    EXPECT_FALSE(IsWindow(g_hFrame));
}

TEST(Program, SettingChangesOtherThanResetChangeNothing) {
    RunProgram(480, 800, [] {
        OnUi([] {
            g_orientation = 7;
            SendMessageW(g_hFrame, WM_SETTINGCHANGE, 0x1234, 0);
            EXPECT_EQ(g_orientation, 7);
            SendMessageW(g_hFrame, WM_SETTINGCHANGE, SETTINGCHANGE_RESET, 0);
            EXPECT_EQ(g_orientation, 1);
            // Ids the soft keys carry but no window handles go to the default procedure.
            EXPECT_EQ(OnCommand(g_hFrame, IDM_NONE, 0, 0), 0);
            EXPECT_EQ(OnCommand(g_hFrame, IDM_MENU, 0, 0), 0);
        });
        CloseProgram();
    });
}

TEST(Tools, DisplayOrientationQueryAnswersTheDisplaysTurn) {
    platform::SetDisplayOrientation(DMDO_0);
    EXPECT_EQ(QueryDisplayOrientation(), DMDO_0);
    platform::SetDisplayOrientation(DMDO_90);
    EXPECT_EQ(QueryDisplayOrientation(), DMDO_90);
}

// The built program linked into `folder`, with the skin beside it, run with a runtime folder
// and registry of its own under `base` and this process's environment but for LUMEO_*.
class ProgramCopy {
public:
    ProgramCopy(const std::string& base, const std::string& folder) : path_(folder + "/Lumeo") {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::create_hard_link(std::string(LUMEO_DIST) + "/Lumeo", path_, ec);
        if (ec) fs::copy_file(std::string(LUMEO_DIST) + "/Lumeo", path_);
        fs::create_directory_symlink(std::string(LUMEO_DIST) + "/Res", folder + "/Res");
        vars_ = {"LUMEO_RUNTIME_DIR=" + base + "/run", "LUMEO_REGISTRY_FILE=" + base + "/reg.db", "LUMEO_HEADLESS=1"};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("LUMEO_", 0) != 0) vars_.push_back(*e);
    }
    // Runs it with `args`: true if it ended by itself within a minute (else it is killed).
    bool Run(std::vector<std::string> args, int* status) {
        std::vector<char*> argv{path_.data()}, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& v : vars_) envp.push_back(v.data());
        envp.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, path_.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
        bool ended = false;
        for (int i = 0; i < 6000 && !ended; ++i) {
            ended = waitpid(pid, status, WNOHANG) == pid;
            if (!ended) usleep(10 * 1000);
        }
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, status, 0);
        }
        return ended;
    }

private:
    std::string path_;
    std::vector<std::string> vars_;
};

// A second start finds the running frame, brings it forward and ends without going on to
// a frame of its own. The first start is this process's; the second, the built program run
// from a folder of its own, must end by itself.
TEST(Program, SecondStartEndsAndLeavesTheFirstInFront) {
    namespace fs = std::filesystem;
    std::string base = testing::TempDir() + "/lumeo-second-" + std::to_string(getpid());
    fs::create_directories(base);
    setenv("LUMEO_RUNTIME_DIR", (base + "/run").c_str(), 1);
    ProgramCopy second(base, base);

    int before = -1, after = -1, status = 0;
    bool ended = false;
    HWND front = nullptr, frame = nullptr;
    EXPECT_EQ(RunProgram(480, 800, [&] {
        before = platform::ui::ForegroundRequestsReceived();
        ended = second.Run({"--api-host", "127.0.0.1:1"}, &status);
        after = platform::ui::ForegroundRequestsReceived();
        OnUi([&] {
            front = GetForegroundWindow();
            frame = g_hFrame;
        });
        CloseProgram();
    }), 0);
    ASSERT_TRUE(ended) << "the second start did not end by itself";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, 1) << "the first start was asked once to come to the front";
    EXPECT_NE(frame, nullptr);
    EXPECT_EQ(front, frame);
    // It went no further than the check: no start-up of its own made the program's folders.
    EXPECT_FALSE(fs::exists(base + "/Xml"));
    EXPECT_FALSE(fs::exists(base + "/Image"));
    std::error_code ec;
    fs::remove_all(base, ec);
}

// A program folder whose path does not fit the program's buffer would be cut to name some
// other folder: the program then ends without making or writing anything there.
TEST(Program, AFolderPathTooLongToHoldIsNotCutToAnotherFolder) {
    namespace fs = std::filesystem;
    std::string base = testing::TempDir() + "/lumeo-long-" + std::to_string(getpid());
    // The cut falls inside the inner folder's name, so the outer folder is what remains.
    std::string outer = base + "/" + std::string(200, 'a');
    std::string folder = outer + "/" + std::string(100, 'b');
    fs::create_directories(folder);
    ProgramCopy program(base, folder);
    fs::create_directory_symlink(std::string(LUMEO_DIST) + "/Res", outer + "/Res");  // a skin to find there
    std::string script = base + "/script.txt";
    std::ofstream(script) << "wait idle\nquit\n";
    int status = 0;
    EXPECT_TRUE(program.Run({"--script", script, "--api-host", "127.0.0.1:1"}, &status));
    std::vector<std::string> made;
    for (auto& e : fs::directory_iterator(outer))
        if (e.path() != folder && e.path().filename() != "Res") made.push_back(e.path().filename().string());
    EXPECT_TRUE(made.empty()) << made.front();
    EXPECT_FALSE(fs::exists(folder + "/Log"));
    std::error_code ec;
    fs::remove_all(base, ec);
}

}  // namespace
