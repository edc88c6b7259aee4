#include "program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "detailPage.h"
#include "download.h"
#include "listview.h"
#include "lumeo.h"
#include "pictures.h"
#include "skin.h"
#include "tools.h"
#include "platform/gdi.h"
#include "platform/ui.h"

void FillWindowTables();

namespace apptest {
namespace {

std::function<void()> g_driver;
HWND g_helper;
const UINT kRun = WM_APP + 77;

LRESULT HelperProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == kRun) {
        (*reinterpret_cast<std::function<void()>*>(l))();
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

DWORD DriverThread(LPVOID) {
    // The first screen is up once the frame's creation has been painted.
    Idle();
    g_driver();
    return 0;
}

}  // namespace

int RunProgram(int width, int height, std::function<void()> driver) {
    // The program's window classes stay registered once it has run, so a second run in the
    // same process would not start and its checks would pass unseen: ctest runs each test
    // in a process of its own.
    static int runs = 0;
    if (runs++ > 0) {
        ADD_FAILURE() << "the program runs once per process; run this test alone (ctest does)";
        return -1;
    }
    // Each run has its own registry of running frames (tests/environment.cpp), so parallel
    // tests, and a Lumeo the user has open, do not see each other.
    std::string screen = std::to_string(width) + "x" + std::to_string(height);
    const char* argv[] = {"Lumeo", "--headless", "--screen", screen.c_str()};
    platform::ui::DisplayOptions options = platform::ui::ParseDisplayOptions(4, argv);
    EXPECT_TRUE(options.error.empty()) << options.error;
    EXPECT_EQ(platform::ui::StartDisplay(options), 0);

    WNDCLASSW wc{};
    wc.lpfnWndProc = HelperProc;
    wc.lpszClassName = L"AppTestHelper";
    RegisterClassW(&wc);
    g_helper = CreateWindowExW(0, L"AppTestHelper", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);

    g_driver = std::move(driver);
    g_initThreadProc = DriverThread;
    RegisterResources();
    FillWindowTables();
    int code = WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, nullptr, SW_SHOW);
    // A related-videos load, thumbnails or any other download may outlive the program's
    // windows, waiting on the network or on a "not connected" message box; the program's own
    // end would cut them off, a test waits for them (answering such a box) before the
    // process's globals go.
    platform::ui::SetMessageBoxHook([](HWND, const std::wstring&, const std::wstring&, UINT) { return IDOK; });
    auto working = [] { return RelVideoThreadsRunning() > 0 || PictureThreadsRunning() > 0 || DownloadsInFlight() > 0; };
    for (int i = 0; i < 3000 && working(); ++i) {
        if (i % 50 == 0) platform::ui::AnswerNextMessageBox(IDOK);
        Sleep(10);
    }
    platform::ui::SetMessageBoxHook(nullptr);
    platform::ui::StopDisplay();
    return code;
}

void OnUi(std::function<void()> fn) { SendMessageW(g_helper, kRun, 0, reinterpret_cast<LPARAM>(&fn)); }

bool WaitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (done()) return true;
        Sleep(10);
    }
    return false;
}

bool WaitOnUi(const std::function<bool()>& done, int ms) {
    return WaitFor([&] {
        bool ok = false;
        OnUi([&] { ok = done(); });
        return ok;
    }, ms);
}

void FinishInit() {
    // From here list loads can start: they fail at once, and the box that says so is answered.
    platform::ui::SetMessageBoxHook([](HWND, const std::wstring& text, const std::wstring&, UINT) {
        return text == L"无法连接网络，请检查网络设置。" ? IDOK : 0;
    });
    SendMessageW(g_hMainWnd, WM_INIT_DONE, 0, 0);
    Idle();
}

void Idle() {
    platform::ui::WaitForIdle(5000);
    // A list load behind the wait dialog is work in progress too.
    for (int i = 0; i < 1000; ++i) {
        HWND dialog = nullptr;
        OnUi([&] { dialog = g_hWaitDlg; });
        if (!dialog) break;
        usleep(5000);
        platform::ui::WaitForIdle(5000);
    }
}

void TapIn(HWND hwnd, int x, int y) {
    POINT p{x, y};
    ClientToScreen(hwnd, &p);
    platform::ui::InjectPenDown(p.x, p.y);
    platform::ui::InjectPenUp(p.x, p.y);
    Idle();
}

COLORREF PicturePixel(HBITMAP picture, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, picture);
    COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return c;
}

COLORREF ScreenPixelIn(HWND hwnd, int x, int y) {
    POINT p{x, y};
    ClientToScreen(hwnd, &p);
    return platform::ui::ScreenPixel(p.x, p.y);
}

namespace {

// A point of tab k where its current and normal pictures differ.
bool PointWhereTabLooksDiffer(int k, POINT* out) {
    SIZE size = BitmapSize(g_skin.tabBtn[3 * k + 1]);
    for (int y = size.cy / 4; y < size.cy; y += 2)
        for (int x = size.cx / 4; x < size.cx; x += 2)
            if (PicturePixel(g_skin.tabBtn[3 * k + 1], x, y) != PicturePixel(g_skin.tabBtn[3 * k + 2], x, y)) {
                *out = POINT{x, y};
                return true;
            }
    return false;
}

}  // namespace

int TabLook(int k) {
    int look = 0;
    OnUi([&] {
        POINT p;
        if (!PointWhereTabLooksDiffer(k, &p)) return;
        COLORREF shown = ScreenPixelIn(g_hTabBtn[k], p.x, p.y);
        if (shown == PicturePixel(g_skin.tabBtn[3 * k + 1], p.x, p.y)) look = 1;
        if (shown == PicturePixel(g_skin.tabBtn[3 * k + 2], p.x, p.y)) look = 2;
    });
    return look;
}

void Command(HWND hwnd, int id) {
    PostMessageW(hwnd, WM_COMMAND, static_cast<WPARAM>(id), 0);
    Idle();
}

std::vector<VideoList*> AllLists() {
    return {&g_listSearch,         &g_listHot,             &g_listNews,           &g_listOriginal,
            &g_listMusic,          &g_listSport,           &g_listFunny,          &g_listMostPlayedToday,
            &g_listMostPlayedWeek, &g_listMostPlayedMonth, &g_listMostFavToday,   &g_listMostFavWeek,
            &g_listMostFavMonth,   &g_listMostCommentToday, &g_listMostCommentWeek, &g_listMostCommentMonth};
}

void ResetLists() {
    for (VideoList* l : AllLists()) {
        l->items.clear();
        l->pageItems.clear();
        l->pagesLoaded = 0;
        l->total = l->maxTotal;
    }
    g_curList = g_pendingList = nullptr;
    g_initDone = 0;
}

}  // namespace apptest
