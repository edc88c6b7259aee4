#include "lumeo.h"

#include <cstdio>

#include "connMgr.h"
#include "detailPage.h"
#include "download.h"
#include "entryGlobals.h"
#include "files.h"
#include "gif.h"
#include "listview.h"
#include "log.h"
#include "pictures.h"
#include "player.h"
#include "videoPageDlg.h"
#include "registry.h"
#include "skin.h"
#include "tools.h"
#include "platform/aygshell.h"
#include "platform/gdi.h"
#include "platform/ui.h"
#include "platform/wceload.h"

HINSTANCE g_hInst;
HWND g_hFrame;
CRITICAL_SECTION g_csPlay;
int g_playBusy;
int g_clientWidth, g_clientHeight;
int g_dtlOpenMode, g_dtlViewMode;
VideoItem g_curVideo;
std::vector<VideoItem> g_relVideos;

#define WINDOW_ROW(proc, name) {CS_HREDRAW | CS_VREDRAW, proc, nullptr, name, 0, WS_VISIBLE}
WndClassDef g_startupWindows[STARTUP_WINDOW_COUNT] = {
    WINDOW_ROW(StupWndProc, L"StupWnd"),
    WINDOW_ROW(MainWndProc, L"MainWnd"),
};
WndClassDef g_pageWindows[PAGE_WINDOW_COUNT] = {
    WINDOW_ROW(ListWndProc, L"ListWnd"),         WINDOW_ROW(DtlWndProc, L"DtlWnd"),
    WINDOW_ROW(HlpttWndProc, L"HlpttWnd"),       WINDOW_ROW(HlpinfWndProc, L"HlpinfWnd"),
    WINDOW_ROW(AboutWndProc, L"AboutWnd"),       WINDOW_ROW(ClassifyWndProc, L"ClassifyWnd"),
    WINDOW_ROW(SearchWndProc, L"SearchWnd"),     WINDOW_ROW(RankWndProc, L"RankWnd"),
};
WndClassDef g_listViewWindows[LIST_VIEW_WINDOW_COUNT] = {
    WINDOW_ROW(ListViewWndProc, L"ListViewWnd"),
};
#undef WINDOW_ROW

namespace {
// The process's status at its end: not 0 when the program could not do what it was started for.
int g_exitStatus = 0;

// The tables take the stock white brush once the drawing layer is up, before WinMain.
struct TableBrushes {
    static void Fill() {
        HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        for (auto& r : g_startupWindows) r.background = white;
        for (auto& r : g_pageWindows) r.background = white;
        for (auto& r : g_listViewWindows) r.background = white;
    }
};
}  // namespace

void FillWindowTables() { TableBrushes::Fill(); }

int MyInitialize() {
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetModuleFileNameW(nullptr, g_appDir, APP_DIR_LEN);
    g_appDir[APP_DIR_LEN - 1] = 0;
    // A cut path names another folder: no log, cache or setting may go there.
    bool cut = n == 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    if (wchar_t* slash = wcsrchr(g_appDir, L'\\')) *slash = 0;
    InitializeCriticalSection(&g_csPlay);
    InitializeCriticalSection(&g_csXml);
    InitializeCriticalSection(&g_csRunning);
    if (cut) {
        g_appDir[0] = 0;
        return -1;
    }
    // An update cut short (a kill, a flat battery) is finished or undone before any of the
    // program's files is read.
    platform::RecoverInstalls(g_appDir);
    RegisterGifDecoder();
    wchar_t logDir[512];
    _snwprintf(logDir, 512, L"%s\\Log\\", g_appDir);
    logDir[511] = 0;
    MyCreateDirectory(logDir);
    InitLog(logDir, L"Lumeo", 3);
    return 0;
}

int UninitInstance() {
    // A worker still waiting on the network holds or will take these locks until the process
    // ends, which it does without waiting for it: they are left to the process then.
    if (platform::RunningThreadCount() > 0) return 0;
    DeleteCriticalSection(&g_csPlay);
    DeleteCriticalSection(&g_csXml);
    DeleteCriticalSection(&g_csRunning);
    return 0;
}

ATOM MyRegisterClass(HINSTANCE instance, LPCWSTR className) {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = FrameWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LUMEO));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = className;
    return RegisterClassW(&wc);
}

BOOL InitInstance(HINSTANCE instance, int showCommand) {
    g_hInst = instance;
    SHOrdinal9();
    wchar_t title[100], className[100];
    LoadStringW(instance, IDS_APP_TITLE, title, 100);
    LoadStringW(instance, IDC_LUMEO, className, 100);

    HWND running = FindWindowW(className, title);
    if (running) {
        bool front = SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(running) | 1));
        std::fputs(front ? "Lumeo is already running and was brought to the front\n" : "Lumeo is already running\n",
                   stderr);
        // A scripted run did not run its script: that is no success.
        if (platform::ui::DisplayHasScript()) g_exitStatus = 1;
        return FALSE;
    }
    if (!MyRegisterClass(instance, className)) {
        LOG(LOG_WARNING, L"MyRegisterClass failed.");
        return FALSE;
    }
    // Other starts of the program find this frame.
    platform::ui::PublishWindowClass(className);
    g_hFrame = CreateWindowExW(0x40000000, className, title, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!g_hFrame) {
        LOG(LOG_WARNING, L"CreateWindow failed.");
        return FALSE;
    }
    ShowWindow(g_hFrame, showCommand);
    UpdateWindow(g_hFrame);
    return TRUE;
}

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    if (MyInitialize() != 0) {
        LOG(LOG_WARNING, L"MyInitialize failed.");
        return 0;
    }
    if (!InitInstance(instance, showCommand)) return g_exitStatus;
    HACCEL accel = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_LUMEO));
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        if (!TranslateAcceleratorW(msg.hwnd, accel, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    UninitInstance();
    return static_cast<int>(msg.wParam);
}

namespace {

struct SkinChoice {
    int longSide, shortSide, index;
    const wchar_t* prefix;
};
const SkinChoice kSkins[] = {
    {800, 480, 1, L"def_800_480_"}, {640, 480, 2, L"def_640_480_"}, {320, 240, 3, L"def_320_240_"},
    {480, 320, 4, L"def_480_320_"}, {400, 240, 5, L"def_400_240_"},
};

void FrameCreate(HWND hwnd) {
    // The frame's handle is known from here on: the soft-key bar is made for it below.
    g_hFrame = hwnd;
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    int lng = cx > cy ? cx : cy, sht = cx > cy ? cy : cx;
    const SkinChoice* choice = nullptr;
    for (const auto& s : kSkins)
        if (s.longSide == lng && s.shortSide == sht) choice = &s;
    if (!choice) {
        wchar_t text[512];
        _snwprintf(text, 512, L"目前尚不支持分辨率为 %d*%d 的手机，请耐心等待升级版本。", cy, cx);
        text[511] = 0;
        LOG(LOG_WARNING, L"not support %d*%d screen.", cy, cx);
        MessageBoxW(hwnd, text, L"Message", MB_OK);
        g_exitStatus = 1;
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
        return;
    }
    if (InitSkin(&g_skin, choice->index, L"Def", choice->prefix) != 0) {
        LOG(LOG_WARNING, L"InitSkin failed");
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
        return;
    }
    SetPictureStock(&g_downloader, g_skin.emptyPic, g_skin.picBk);
    SetOrientation();
    InitConnection(&g_connMgr, hwnd);
    if (MyCreateMenu(&g_menuBar, &g_hFrame, IDB_STARTUP) != 0) {
        LOG(LOG_WARNING, L"MyCreateMenu Failed");
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
        return;
    }
    if (g_menuBar.hwndMB) {
        RECT frame, bar;
        GetWindowRect(hwnd, &frame);
        GetWindowRect(g_menuBar.hwndMB, &bar);
        MoveWindow(hwnd, frame.left, frame.top, frame.right - frame.left,
                   (frame.bottom - frame.top) - (bar.bottom - bar.top), FALSE);
    }
    if (CreateControls(hwnd) != 0) {
        LOG(LOG_WARNING, L"CreateControls failed");
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
    }
}

void FrameDestroy() {
    // A failed start destroys the frame once and its dying children ask again: once is all.
    static bool done = false;
    if (done) return;
    done = true;
    // Cleared first: the init thread hands the keys and the search history over only under
    // this lock while the flag is set, so nothing reaches what is released below.
    EnterCriticalSection(&g_csRunning);
    g_running = 0;
    LeaveCriticalSection(&g_csRunning);
    SetPictureStock(&g_downloader, nullptr, nullptr);
    ReleaseSkin(&g_skin);
    DestroyMenuBar(&g_menuBar);
    HKEY* keys[] = {&g_hKeySearchWord, &g_hKeyFullScreen, &g_hKeyDriver, &g_hKeyIgnoreVersion};
    for (HKEY* k : keys) {
        if (*k) {
            MyCloseReg(*k);
            *k = nullptr;
        }
    }
    StopGif(&g_dtlGif);
    PostQuitMessage(g_exitStatus);
}

}  // namespace

LRESULT FrameWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (HandleConnectionMsg(&g_connMgr, msg, wParam) == 0) return 0;
    switch (msg) {
    case WM_CREATE:
        FrameCreate(hwnd);
        return 0;
    case WM_DESTROY:
        FrameDestroy();
        return 0;
    case WM_SIZE:
        g_clientWidth = LOWORD(lParam);
        g_clientHeight = HIWORD(lParam);
        // A turn resizes the frame before it is announced; the pages laid out on this size
        // (when the frame is next painted) need the orientation that goes with it.
        if (g_skin.shortSide) SetOrientation();
        return 0;
    case WM_PAINT: {
        MoveWindow(g_hStupWnd, 0, 0, g_clientWidth, g_clientHeight, FALSE);
        MoveWindow(g_hMainWnd, 0, 0, g_clientWidth, g_clientHeight, FALSE);
        // Nothing of the frame's own shows: validating ends the paint.
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SETTINGCHANGE:
        if (wParam == SETTINGCHANGE_RESET) {
            SetOrientation();
            if (g_initDone == 1 && SetFullScreenDirReg(g_hKeyFullScreen) != 0)
                LOG(LOG_WARNING, L"SetFullScreenDirReg failed");
        }
        return 0;
    case WM_COMMAND:
        if (OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam), lParam) == 1) return 0;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

namespace {

void ChangeBar(HWND* owner, int barId) {
    if (MyChangeMenu(&g_menuBar, owner, barId, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
}

bool IsHelpOrAbout(HWND page) { return page && (page == g_hAboutWnd || page == g_hHlpttWnd || page == g_hHlpinfWnd); }

// Help and About keep the first page they were opened from, and its bar, as the way back.
void OpenHelpPage(HWND page) {
    HWND before = g_curPage;
    UINT barBefore = g_menuBar.nToolBarId;
    HWND previous = SwitchPage(page);
    if (before != page && !IsHelpOrAbout(previous)) {
        g_returnBar = static_cast<int>(barBefore);
        g_returnPage = previous;
    }
    ChangeBar(&g_hFrame, IDB_HELP);
}

void Play(HWND hwnd) {
    EnterCriticalSection(&g_csPlay);
    if (g_playBusy != 0) {
        LeaveCriticalSection(&g_csPlay);
        return;
    }
    g_playBusy = 1;
    LeaveCriticalSection(&g_csPlay);
    g_dtlOpenMode = 1;
    g_dtlViewMode = 1;
    if (BeginPlayVideo(hwnd) != 0) {
        LOG(LOG_WARNING, L"BeginPlayVideo failed.");
        EnterCriticalSection(&g_csPlay);
        g_playBusy = 0;
        LeaveCriticalSection(&g_csPlay);
    }
}

// The ids OnCommand handles below.
bool IsOwnCommand(int id) {
    switch (id) {
    case IDM_TAB_HOT: case IDM_TAB_CLASSIFY: case IDM_TAB_SEARCH: case IDM_TAB_RANK: case IDM_HELP: case IDM_ABOUT:
    case IDM_EXIT: case IDM_DETAIL: case IDM_SETTINGS: case IDM_CANCEL: case IDM_DETAIL_BACK: case IDM_HELP_BACK:
    case IDM_HELP_TEXT_BACK: case IDM_PLAY: case IDM_DETAIL_PLAY:
        return true;
    default:
        return false;
    }
}

}  // namespace

int OnCommand(HWND hwnd, int id, int code, LPARAM lParam) {
    // Until the start-up has finished only exit acts: the pages, the lists and the tab state
    // belong to the init thread until then.
    if (g_initDone != 1 && id != IDM_EXIT) return IsOwnCommand(id) ? 1 : 0;
    // Behind the wait dialog only exit acts as well: the lists belong to its worker.
    if (g_hWaitDlg && id != IDM_EXIT) return IsOwnCommand(id) ? 1 : 0;
    switch (id) {
    case IDM_TAB_HOT: PostMessageW(g_hMainWnd, WM_COMMAND, IDC_TAB_HOT, 0); return 1;
    case IDM_TAB_CLASSIFY: PostMessageW(g_hMainWnd, WM_COMMAND, IDC_TAB_CLASSIFY, 0); return 1;
    case IDM_TAB_SEARCH: PostMessageW(g_hMainWnd, WM_COMMAND, IDC_TAB_SEARCH, 0); return 1;
    case IDM_TAB_RANK: PostMessageW(g_hMainWnd, WM_COMMAND, IDC_TAB_RANK, 0); return 1;
    case IDM_HELP: OpenHelpPage(g_hHlpttWnd); return 1;
    case IDM_ABOUT: OpenHelpPage(g_hAboutWnd); return 1;
    case IDM_EXIT: {
        int answer = MessageBoxW(hwnd, L"确定要退出吗？", L"提示", MB_YESNO | MB_ICONQUESTION);
        if (answer == IDYES || answer == 0) SendMessageW(hwnd, WM_CLOSE, 0, 0);
        return 1;
    }
    case IDM_DETAIL:
        g_dtlOpenMode = 1;
        g_dtlViewMode = 1;
        if (ShowDtlInfo(hwnd) != 0) LOG(LOG_WARNING, L"ShowDtlInfo failed.");
        return 1;
    case IDM_SETTINGS: {
        SHMENUBARINFO saved = g_menuBar;
        ChangeBar(&g_hMainWnd, IDB_SETTINGS);
        if (ShowPropertySheet(hwnd, id, code, lParam) != 0) LOG(LOG_WARNING, L"ShowPropertySheet failed");
        HWND owner = saved.hwndParent;
        ChangeBar(&owner, static_cast<int>(saved.nToolBarId));
        return 1;
    }
    case IDM_CANCEL: return 1;
    case IDM_DETAIL_BACK:
        SwitchPage(g_hListWnd);
        ChangeBar(&g_hFrame, IDB_LIST);
        return 1;
    case IDM_HELP_BACK:
        SwitchPage(g_returnPage);
        ChangeBar(&g_hFrame, g_returnBar);
        return 1;
    case IDM_HELP_TEXT_BACK:
        SwitchPage(g_hHlpttWnd);
        ChangeBar(&g_hFrame, IDB_HELP);
        return 1;
    case IDM_PLAY: Play(hwnd); return 1;
    case IDM_DETAIL_PLAY: PostMessageW(g_hDtlWnd, WM_COMMAND, IDC_DETAIL_PLAY, 0); return 1;
    default: return 0;
    }
}

namespace {
// A flag the user-interface thread writes, read from another thread.
template <class T>
T Peek(const T& v) {
    return __atomic_load_n(&v, __ATOMIC_ACQUIRE);
}
}  // namespace

std::string ProgramBusy() {
    if (Peek(g_initDone) != 1) return "start-up";
    if (Peek(g_hWaitDlg)) return "a list loading behind the wait dialog";
    if (int n = PictureThreadsRunning()) return std::to_string(n) + " thumbnail threads";
    if (RelVideoThreadsRunning() > 0) return "related videos loading";
    if (int n = DownloadsInFlight()) return std::to_string(n) + " downloads";
    // Cleared once the core reports the first packet, or when the watch gives up.
    if (Peek(g_playBusy)) return "a play being started";
    return "";
}
