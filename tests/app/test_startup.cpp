// The start of the program: what the user can do while the init thread works, exit chosen
// while it works, and starts whose windows cannot all be made. The program runs in-process
// on a headless screen.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "connMgr.h"
#include "entryGlobals.h"
#include "helpers.h"
#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "pictures.h"
#include "program.h"
#include "programRun.h"
#include "serviceFolder.h"
#include "skin.h"
#include "testcore.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/codepage.h"
#include "platform/connmgr.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

// The screen as a PNG file's bytes.
std::string Screen(const nettest::TempDir& dir) {
    std::string path = dir.path() + "/screen.png";
    EXPECT_TRUE(platform::ui::SaveScreenshot(path));
    return nettest::ReadAll(path);
}

// Commands of the keys, the menus and the pages (posted to the frame as they would come).
const int kCommands[] = {IDM_TAB_CLASSIFY, IDM_TAB_SEARCH, IDM_TAB_RANK, IDM_HELP,        IDM_ABOUT,   IDM_DETAIL,
                         IDM_SETTINGS,     IDM_DETAIL_BACK, IDM_HELP_BACK, IDM_HELP_TEXT_BACK, IDM_PLAY, IDM_DETAIL_PLAY,
                         IDM_TAB_HOT};

// While the home list is on its way, every key and command but exit and rotation is
// without effect: the start-up screen stays as it is, and when the start ends the home list
// shows with 推荐 as the current tab, loaded once.
TEST(StartUp, BeforeItEndsOnlyExitAndRotationAct) {
    ServiceFolder f;
    Service().QueueFault("delay:60000", 1, "getTopVideos");
    bool driven = false;
    int code = RunProgram(480, 800, [&] {
        driven = true;
        f.Adopt();
        HANDLE init = CreateThread(nullptr, 0, InitThread, &g_hMainWndParam, 0, nullptr);
        ASSERT_NE(init, nullptr);
        // The init thread waits for the home list from here on.
        ASSERT_TRUE(WaitFor([] { return !RequestsTo(Service(), "/openapi-common/getTopVideos").empty(); }));
        Idle();

        // Rotation acts: the start-up screen takes the new size, and back.
        platform::ui::RotateScreen();
        Idle();
        OnUi([] {
            EXPECT_EQ(g_orientation, 2);
            RECT rc;
            GetClientRect(g_hStupWnd, &rc);
            EXPECT_EQ(rc.right, 800);
        });
        platform::ui::RotateScreen();
        Idle();
        OnUi([] { EXPECT_EQ(g_orientation, 1); });

        std::string before = Screen(f.dir);
        for (char k = '1'; k <= '9'; ++k) {
            platform::ui::InjectKey(std::string("ctrl+") + k);
            Idle();
        }
        for (const char* k : {"soft1", "up", "down", "left", "right", "enter", "back"}) {
            platform::ui::InjectKey(k);
            Idle();
        }
        platform::ui::InjectText(L"abc");
        Idle();
        for (int id : kCommands) Command(g_hFrame, id);
        for (int tab = IDC_TAB_HOT; tab <= IDC_TAB_RANK; ++tab) Command(g_hMainWnd, tab);
        OnUi([] {
            EXPECT_TRUE(IsWindowVisible(g_hStupWnd));
            EXPECT_FALSE(IsWindowVisible(g_hMainWnd));
            EXPECT_EQ(g_menuBar.nToolBarId, static_cast<UINT>(IDB_STARTUP));
            EXPECT_EQ(g_curPage, nullptr);
            EXPECT_EQ(g_hWaitDlg, nullptr);
            EXPECT_EQ(g_initDone, 0);
        });
        EXPECT_TRUE(Screen(f.dir) == before) << "the start-up screen changed";
        EXPECT_EQ(RequestsTo(Service(), "/openapi-common/getTopVideos").size(), 1u);

        // Exit acts: it asks (the box is answered OK here, which is no yes: the program stays).
        platform::ui::ClearMessageBoxHistory();
        platform::ui::InjectKey("ctrl+0");
        Idle();
        auto boxes = platform::ui::MessageBoxHistory();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"确定要退出吗？");

        Service().Get("/control/release?count=1");
        EXPECT_EQ(WaitForSingleObject(init, 30000), WAIT_OBJECT_0);
        DWORD result = 1;
        GetExitCodeThread(init, &result);
        CloseHandle(init);
        EXPECT_EQ(result, 0u);
        Idle();
        OnUi([] {
            EXPECT_EQ(g_initDone, 1);
            EXPECT_TRUE(IsWindowVisible(g_hMainWnd));
            EXPECT_FALSE(IsWindowVisible(g_hStupWnd));
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, static_cast<UINT>(IDB_LIST));
            EXPECT_EQ(g_curList, &g_listHot);
            EXPECT_FALSE(g_listHot.items.empty());
            EXPECT_EQ(g_curTab, IDC_TAB_HOT);
            EXPECT_EQ(g_prevTab, 0);
        });
        EXPECT_EQ(TabLook(0), 2);
        for (int k = 1; k < 4; ++k) EXPECT_EQ(TabLook(k), 1) << k;
        EXPECT_EQ(RequestsTo(Service(), "/openapi-common/getTopVideos").size(), 1u);
        PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(driven);
    EXPECT_EQ(code, 0);
}

struct CreationCase {
    const char* name;
    const wchar_t* failingClass;  // the first window of this class cannot be made
    std::vector<std::string> logged;  // the lines the failure leaves, in order
    bool startupScreen;  // the start-up screen was made before the failure
};

void PrintTo(const CreationCase& c, std::ostream* os) { *os << c.name; }

class FailedCreation : public testing::TestWithParam<CreationCase> {};

// A window that cannot be made ends the start there: its line is logged, no later window is
// made, the init thread never starts, and the program ends normally.
TEST_P(FailedCreation, EndsTheStartWithItsLineAndNoFurtherStep) {
    const CreationCase& c = GetParam();
    nettest::TempDir dir;
    std::string logPath;
    std::atomic<int> refused{0};
    platform::ui::SetWindowCreationFault([&](const std::wstring& cls) {
        // The program's first window is its frame, made once it has set its log up: from
        // here the log goes to this test's own folder.
        if (cls == L"澜映") logPath = nettest::StartLog(dir);
        if (cls != c.failingClass || refused > 0) return false;
        ++refused;
        return true;
    });
    bool driven = false;
    int code = RunProgram(480, 800, [&] { driven = true; });
    platform::ui::SetWindowCreationFault(nullptr);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(refused.load(), 1);
    EXPECT_FALSE(driven) << "the init thread started";
    EXPECT_FALSE(g_hMainWnd && IsWindow(g_hMainWnd)) << "the main window was made";
    EXPECT_EQ(g_hStupWnd != nullptr, c.startupScreen);
    std::string log = nettest::ReadAll(logPath);
    size_t at = 0;
    for (const std::string& line : c.logged) {
        at = log.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << "\n" << log;
        if (at == std::string::npos) break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, FailedCreation,
    testing::Values(
        CreationCase{"SoftKeyBar", L"#MenuBar", {"SHCreateMenuBar Failed : errno=8", "MyCreateMenu Failed"}, false},
        CreationCase{"ProgressBar", L"msctls_progress32",
                     {"CreateWindow failed.", "CreateControls failed", "CreateWindow failed.", "CreateControls failed"},
                     false},
        CreationCase{"ListView", L"ListViewWnd",
                     {"CreateWindow failed.", "CreateControls failed", "CreateWindow failed.", "CreateControls failed"},
                     true},
        CreationCase{"HelpText", L"edit", {"CreateWindow failed.", "CreateControls failed"}, true}),
    [](const testing::TestParamInfo<CreationCase>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// ---- Exit while the start is under way ----

// Where the start is held when exit is chosen.
enum class Hold { Connection, SearchHistory, Request };

struct ExitCase {
    const char* name;
    Hold hold;
    const char* held;    // Request: the requests the service holds back (their target holds this)
    bool offersUpdate;   // the version answer offers an update, which asks the user
    bool cachesKept;     // the stage comes before the caches are emptied
    bool afterStart;     // the start has ended (home list shown, player core running) at exit
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ExitDuringStart : public testing::TestWithParam<ExitCase> {};

// A held step: the thread that reaches it says so and waits until the test lets it go.
struct Gate {
    HANDLE reached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE open = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> taken{false};
    void Hold() {
        if (taken.exchange(true)) return;
        SetEvent(reached);
        WaitForSingleObject(open, INFINITE);
    }
    ~Gate() {
        CloseHandle(reached);
        CloseHandle(open);
    }
};
Gate* g_gate;

// Exit confirmed while a stage of the start is held: the frame ends at once, with the stage
// still held; once it is let go nothing more happens: the thread ends, no further request
// reaches the service, no box asks anything, the caches stay, and nothing touches what the
// frame released (the sanitizer tree reports any use of the released skin).
TEST_P(ExitDuringStart, EndsAtOnceAndNothingFollows) {
    const ExitCase& c = GetParam();
    ServiceFolder f;
    std::unique_ptr<nettest::SampleService> offering;
    if (c.offersUpdate)
        offering = std::make_unique<nettest::SampleService>(std::vector<std::string>{"--update-type", "2"});
    nettest::SampleService& service = offering ? *offering : Service();
    // What an earlier run left in the caches.
    f.dir.Write("Xml/recommend_1.xml", "<channel/>");
    f.dir.Write("Image/lv0.jpg", "picture");

    // The player core the program finds, and what it was asked.
    std::string coreDir = std::string(TESTCORE_DIR) + "/full";
    setenv("LUMEO_DLL_PATH", coreDir.c_str(), 1);
    HMODULE coreModule = LoadLibraryW(platform::Utf8ToWide(coreDir + "/interface.plg").c_str());
    ASSERT_NE(coreModule, nullptr);
    TestCoreControl* core = reinterpret_cast<TestCoreProc>(GetProcAddress(coreModule, "TestCore"))();

    Gate gate;
    g_gate = &gate;
    switch (c.hold) {
    case Hold::Connection:
        // The first destination fails; the pause before the next one is held, which then connects.
        platform::ConnMgrConfigure(
            L"dest=Internet,connect=fail;dest=Internet 2;conn=Wi-Fi,type=2,subtype=2,status=32");
        SetConnMgrSleep([](DWORD) { g_gate->Hold(); });
        break;
    case Hold::SearchHistory:
        platform::SetRegistryReadHook([](const std::wstring& name) {
            if (name == L"SearchWord_0") g_gate->Hold();
        });
        break;
    case Hold::Request:
        service.QueueFault("delay:600000", 50, c.held);
        break;
    }

    HANDLE init = nullptr;
    size_t requestsAtExit = 0, boxesAtExit = 0;
    int coreStartsAtExit = 0;
    int code = RunProgram(480, 800, [&] {
        f.Adopt();
        SetApiHost(platform::Utf8ToWide(service.host()).c_str());
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring& text, const std::wstring&, UINT) {
            return text == L"确定要退出吗？" ? IDYES : IDNO;
        });
        // Whatever happens here, the held stage is let go at the end.
        struct LetGo {
            Gate& gate;
            nettest::SampleService& service;
            ~LetGo() {
                SetEvent(gate.open);
                service.Get("/control/release?count=50");
            }
        } letGo{gate, service};
        init = CreateThread(nullptr, 0, InitThread, &g_hMainWndParam, 0, nullptr);
        ASSERT_NE(init, nullptr);
        if (c.hold == Hold::Request)
            ASSERT_TRUE(WaitFor([&] { return !RequestsTo(service, c.held).empty(); })) << "never asked for " << c.held;
        else
            ASSERT_EQ(WaitForSingleObject(gate.reached, 30000), WAIT_OBJECT_0) << "the stage was never reached";
        if (c.afterStart) {
            ASSERT_EQ(WaitForSingleObject(init, 30000), WAIT_OBJECT_0);
            ASSERT_TRUE(WaitFor([&] { return core->mainRunning == 1; }));
        }
        // Each thumbnail thread's request has reached the service: on a busy machine one sent
        // before the exit could otherwise be seen only after it.
        if (c.hold == Hold::Request && std::string(c.held) == "/img/") {
            ASSERT_TRUE(WaitFor([&] {
                return RequestsTo(service, c.held).size() >= static_cast<size_t>(PictureThreadsRunning());
            })) << "a thumbnail thread never asked for its picture";
        }

        // 退出, as the soft key and the menu send it to the frame, answered yes.
        platform::ui::ClearMessageBoxHistory();
        PostMessageW(g_hFrame, WM_COMMAND, IDM_EXIT, 0);
        ASSERT_TRUE(WaitFor([] { return !IsWindow(g_hFrame); })) << "the program did not end while the stage was held";
        auto boxes = platform::ui::MessageBoxHistory();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"确定要退出吗？");
        requestsAtExit = RequestsTo(service, "/").size();
        coreStartsAtExit = core->mainCalls;
        boxesAtExit = boxes.size();
    });
    EXPECT_EQ(code, 0);
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(WaitForSingleObject(init, 30000), WAIT_OBJECT_0) << "the init thread did not end";
    CloseHandle(init);
    EXPECT_TRUE(WaitFor([] { return PictureThreadsRunning() == 0; })) << "thumbnail threads did not end";
    SetConnMgrSleep(nullptr);
    platform::SetRegistryReadHook(nullptr);

    std::vector<std::string> requests = RequestsTo(service, "/");
    for (size_t i = requestsAtExit; i < requests.size(); ++i) ADD_FAILURE() << "after exit: " << requests[i];
    auto boxes = platform::ui::MessageBoxHistory();
    for (size_t i = boxesAtExit; i < boxes.size(); ++i)
        ADD_FAILURE() << "asked after exit: " << platform::WideToUtf8(boxes[i].text);
    if (c.cachesKept) {
        EXPECT_TRUE(f.dir.Exists("Xml/recommend_1.xml")) << "the answer cache was emptied after exit";
        EXPECT_TRUE(f.dir.Exists("Image/lv0.jpg")) << "the thumbnail cache was emptied after exit";
    }
    EXPECT_EQ(core->mainCalls, coreStartsAtExit) << "the player core was started after exit";
    // A core started before the exit runs until it is told to end.
    core->endMain = 1;
    EXPECT_TRUE(WaitFor([&] { return core->mainRunning == 0; }));
    FreeLibrary(coreModule);
    unsetenv("LUMEO_DLL_PATH");
}

INSTANTIATE_TEST_SUITE_P(
    Stages, ExitDuringStart,
    testing::Values(ExitCase{"Connection", Hold::Connection, "", false, true, false},
                    ExitCase{"SearchHistory", Hold::SearchHistory, "", false, true, false},
                    ExitCase{"UpdateCheck", Hold::Request, "/openapi-common/getVersionInfo", true, true, false},
                    ExitCase{"HomeList", Hold::Request, "/openapi-common/getTopVideos", false, false, false},
                    ExitCase{"Thumbnails", Hold::Request, "/img/", false, false, true}),
    [](const testing::TestParamInfo<ExitCase>& i) { return std::string(i.param.name); });

}  // namespace
