// Window rules and message delivery: what DefWindowProcW destroys and what it leaves, child
// placement, the order messages come out of a queue, SendMessageW across threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/gdi.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

// Every message of interest a test window sees, as "name:hwnd-tag".
std::vector<std::string> g_log;
std::atomic<DWORD> g_procThread{0};

std::string Tag(HWND h) {
    wchar_t buf[32] = {0};
    GetWindowTextW(h, buf, 32);
    std::string s;
    for (wchar_t* p = buf; *p; ++p) s += static_cast<char>(*p);
    return s;
}

LRESULT CALLBACK_Log(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: g_log.push_back("create:" + Tag(h)); return 0;
    case WM_DESTROY: g_log.push_back("destroy:" + Tag(h)); return 0;
    case WM_NCDESTROY: g_log.push_back("ncdestroy:" + Tag(h)); return 0;
    case WM_USER + 1:
        g_procThread = GetCurrentThreadId();
        return static_cast<LRESULT>(wParam * 2);
    case WM_USER + 2:
    case WM_USER + 3:
    case WM_USER + 4: g_log.push_back("user" + std::to_string(msg - WM_USER) + ":" + Tag(h)); return 0;
    case WM_TIMER: g_log.push_back("timer:" + Tag(h)); KillTimer(h, wParam); return 0;
    case WM_PAINT: {
        g_log.push_back("paint:" + Tag(h));
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        EndPaint(h, &ps);
        return 0;
    }
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

class Windows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = CALLBACK_Log;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"TestLog";
        ASSERT_NE(RegisterClassW(&wc), 0);
        platform::ui::SetScreenSize(480, 800);
    }
    void SetUp() override { g_log.clear(); }
    void TearDown() override {
        for (HWND h : made_)
            if (IsWindow(h)) DestroyWindow(h);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND Make(const wchar_t* tag, DWORD style, HWND parent = nullptr, int x = CW_USEDEFAULT, int y = CW_USEDEFAULT,
              int w = CW_USEDEFAULT, int h = CW_USEDEFAULT) {
        HWND r = CreateWindowExW(0, L"TestLog", tag, style, x, y, w, h, parent, nullptr, nullptr, nullptr);
        made_.push_back(r);
        return r;
    }
    // Runs the queue until it has nothing left but paint work.
    static void Drain() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE) && m.message != WM_PAINT) DispatchMessageW(&m);
    }
    std::vector<HWND> made_;
};

TEST_F(Windows, CloseDestroysTheWindowAndItsChildrenParentFirst) {
    HWND frame = Make(L"F", WS_VISIBLE);
    HWND child = Make(L"C", WS_VISIBLE, frame);
    HWND grandchild = Make(L"G", WS_VISIBLE, child);
    g_log.clear();
    SendMessageW(frame, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(grandchild));
    std::vector<std::string> want{"destroy:F", "destroy:C", "destroy:G", "ncdestroy:G", "ncdestroy:C", "ncdestroy:F"};
    EXPECT_EQ(g_log, want);
}

TEST_F(Windows, DestroyMessageFromTheProgramDestroysNothing) {
    HWND frame = Make(L"F", WS_VISIBLE);
    HWND child = Make(L"C", WS_VISIBLE, frame);
    g_log.clear();
    SendMessageW(frame, WM_DESTROY, 0, 0);
    PostMessageW(child, WM_DESTROY, 0, 0);
    Drain();
    EXPECT_TRUE(IsWindow(frame));
    EXPECT_TRUE(IsWindow(child));
    EXPECT_EQ(g_log, (std::vector<std::string>{"destroy:F", "destroy:C"}));
    // DestroyWindow of a child leaves the parent.
    DestroyWindow(child);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(IsWindow(frame));
}

TEST_F(Windows, ParentAndVisibleAloneMakesAChildInClientCoordinates) {
    HWND frame = Make(L"F", WS_VISIBLE);
    RECT fr;
    GetWindowRect(frame, &fr);
    // A top-level window with default placement gets the screen below the status bar.
    EXPECT_EQ(fr.left, 0);
    EXPECT_EQ(fr.top, platform::ui::StatusBarHeight());
    EXPECT_EQ(fr.right, 480);
    EXPECT_EQ(fr.bottom, 800);
    HWND page = Make(L"P", WS_VISIBLE, frame);  // default placement for a child: nothing
    RECT pr;
    GetWindowRect(page, &pr);
    EXPECT_EQ(pr.right - pr.left, 0);
    ASSERT_TRUE(MoveWindow(page, 10, 20, 100, 50, FALSE));
    EXPECT_EQ(GetParent(page), frame);
    EXPECT_EQ(GetWindow(page, GW_OWNER), nullptr);
    GetWindowRect(page, &pr);
    EXPECT_EQ(pr.left, 10);
    EXPECT_EQ(pr.top, fr.top + 20);
    RECT cr;
    GetClientRect(page, &cr);
    EXPECT_EQ(cr.right, 100);
    EXPECT_EQ(cr.bottom, 50);
    POINT p{5, 5};
    ClientToScreen(page, &p);
    EXPECT_EQ(p.x, 15);
    EXPECT_EQ(p.y, fr.top + 25);
    // Hiding the parent hides the child from view; its own style stays.
    ShowWindow(frame, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(page));
    EXPECT_TRUE(GetWindowLongW(page, GWL_STYLE) & WS_VISIBLE);
}

TEST_F(Windows, QueueOrderPostedInOrderThenQuitThenTimersThenPaint) {
    HWND a = Make(L"A", WS_VISIBLE);
    Drain();
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);  // first paint
    g_log.clear();
    SetTimer(a, 7, 10, nullptr);
    InvalidateRect(a, nullptr, FALSE);
    PostMessageW(a, WM_USER + 2, 0, 0);
    PostMessageW(a, WM_USER + 3, 0, 0);
    PostQuitMessage(3);
    PostMessageW(a, WM_USER + 4, 0, 0);
    Sleep(30);
    std::vector<UINT> order;
    while (GetMessageW(&m, nullptr, 0, 0)) {
        order.push_back(m.message);
        DispatchMessageW(&m);
    }
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.wParam, 3u);
    // Posted messages keep their order, and the quit comes after all of them.
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 2, WM_USER + 3, WM_USER + 4}));
    // Then the due timer, then the paint.
    order.clear();
    for (int i = 0; i < 2 && GetMessageW(&m, nullptr, 0, 0); ++i) {
        order.push_back(m.message);
        DispatchMessageW(&m);
    }
    EXPECT_EQ(order, (std::vector<UINT>{WM_TIMER, WM_PAINT}));
}

TEST_F(Windows, PaintRepeatsOnlyUntilValidated) {
    HWND a = Make(L"A", WS_VISIBLE);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
    RECT part{0, 0, 10, 10};
    InvalidateRect(a, &part, FALSE);
    RECT u;
    EXPECT_TRUE(GetUpdateRect(a, &u, FALSE));
    EXPECT_TRUE(EqualRect(&u, &part));
    // UpdateWindow paints at once, synchronously.
    g_log.clear();
    UpdateWindow(a);
    EXPECT_EQ(g_log, (std::vector<std::string>{"paint:A"}));
    EXPECT_FALSE(GetUpdateRect(a, &u, FALSE));
    EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
}

// A picture thread may invalidate a window while it paints: that area is painted again,
// even when it equals the area the paint began with.
std::atomic<int> g_dirtiedPaints{0};
LRESULT DirtiedWhilePainting(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_PAINT) return DefWindowProcW(h, msg, wParam, lParam);
    PAINTSTRUCT ps;
    BeginPaint(h, &ps);
    if (g_dirtiedPaints++ == 0) std::thread([h] { InvalidateRect(h, nullptr, FALSE); }).join();
    EndPaint(h, &ps);
    return 0;
}

TEST_F(Windows, AnAreaMadeDirtyWhileAWindowPaintsIsPaintedAgain) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DirtiedWhilePainting;
    wc.lpszClassName = L"TestDirtied";
    RegisterClassW(&wc);
    HWND a = CreateWindowExW(0, L"TestDirtied", L"A", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    made_.push_back(a);
    MSG m;
    for (int i = 0; i < 100 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageW(&m);
    EXPECT_EQ(g_dirtiedPaints.load(), 2);
    RECT u;
    EXPECT_FALSE(GetUpdateRect(a, &u, FALSE));
}

TEST_F(Windows, SendFromAnotherThreadRunsOnTheWindowsThreadWhileTheSenderWaits) {
    HWND a = Make(L"A", WS_VISIBLE);
    DWORD ui = GetCurrentThreadId();
    std::atomic<LRESULT> result{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = SendMessageW(a, WM_USER + 1, 21, 0);
        done = true;
    });
    // The worker waits until this thread looks at its queue.
    Sleep(50);
    EXPECT_FALSE(done.load());
    MSG m;
    while (!done) {
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
        Sleep(1);
    }
    worker.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(g_procThread.load(), ui);
}

TEST_F(Windows, TwoThreadsSendingToEachOtherDoNotLock) {
    // Thread B owns a window; its handler sends back to A's window while A waits for it.
    HWND a = Make(L"A", WS_VISIBLE);
    std::atomic<HWND> b{nullptr};
    std::atomic<bool> stop{false};
    static std::atomic<HWND> s_back{nullptr};
    s_back = a;
    std::thread owner([&] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            if (msg == WM_USER + 9) return SendMessageW(s_back, WM_USER + 1, wp + 1, 0) + 1;
            return DefWindowProcW(h, msg, wp, lp);
        };
        wc.lpszClassName = L"TestBounce";
        RegisterClassW(&wc);
        b = CreateWindowExW(0, L"TestBounce", L"B", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        MSG m;
        while (!stop) {
            if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
            else Sleep(1);
        }
        DestroyWindow(b);
    });
    while (!b) Sleep(1);
    // A's handler doubles: (4 + 1) * 2 + 1.
    EXPECT_EQ(SendMessageW(b, WM_USER + 9, 4, 0), 11);
    stop = true;
    owner.join();
}

TEST_F(Windows, UpdateWindowFromAWorkerPaintsOnTheWindowsThreadBeforeReturning) {
    HWND a = Make(L"A", WS_VISIBLE);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    g_log.clear();
    std::atomic<bool> done{false};
    size_t paintsWhenDone = 0;
    std::thread worker([&] {
        InvalidateRect(a, nullptr, FALSE);
        UpdateWindow(a);  // as the thumbnail threads do
        paintsWhenDone = std::count(g_log.begin(), g_log.end(), "paint:A");
        done = true;
    });
    while (!done) {
        // Only sent messages run here: the paint reaches this thread as one.
        PeekMessageW(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        Sleep(1);
    }
    worker.join();
    EXPECT_EQ(paintsWhenDone, 1u);
    EXPECT_FALSE(PeekMessageW(&m, a, WM_PAINT, WM_PAINT, PM_NOREMOVE));  // nothing left to paint
}

TEST_F(Windows, RegisteredMessagesShareOneIdPerName) {
    UINT a = RegisterWindowMessageW(L"CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG");
    UINT b = RegisterWindowMessageW(L"connmgr_status_change_notification_msg");
    UINT c = RegisterWindowMessageW(L"Another");
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(a, 0xFFFFu);
    EXPECT_EQ(a, b);  // names compare without case
    EXPECT_NE(a, c);
    SetLastError(0);
    EXPECT_EQ(RegisterWindowMessageW(L""), 0u);
    EXPECT_NE(GetLastError(), 0u);
}

TEST_F(Windows, PostedMessagesReachAnObserverAndBadHandlesFail) {
    HWND a = Make(L"A", WS_VISIBLE);
    g_log.clear();
    std::vector<UINT> seen;
    platform::ui::SetPostObserver([&](HWND h, UINT msg, WPARAM, LPARAM) {
        seen.push_back(msg);
        return h == reinterpret_cast<HWND>(0x4444);  // swallow only the fake handle's
    });
    EXPECT_TRUE(PostMessageW(a, WM_USER + 2, 0, 0));
    EXPECT_TRUE(PostMessageW(reinterpret_cast<HWND>(0x4444), WM_USER + 3, 0, 0));
    platform::ui::SetPostObserver(nullptr);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 2, WM_USER + 3}));
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x4444), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    Drain();
    EXPECT_EQ(g_log, (std::vector<std::string>{"user2:A"}));
}

TEST_F(Windows, SubclassingSeesMessagesFirstAndChainsOn) {
    HWND a = Make(L"A", WS_VISIBLE);
    static WNDPROC s_old = nullptr;
    s_old = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        a, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            if (msg == WM_USER + 1) return 1000 + CallWindowProcW(s_old, h, msg, wp, lp);
            return CallWindowProcW(s_old, h, msg, wp, lp);
        })));
    ASSERT_EQ(s_old, &CALLBACK_Log);
    EXPECT_EQ(SendMessageW(a, WM_USER + 1, 5, 0), 1010);
}

TEST_F(Windows, MetricsFollowTheScreenAndItsTurn) {
    platform::ui::SetScreenSize(800, 480);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
    // The orientation query of the display follows each turn: 0, 90, 180, 270 degrees.
    auto query = [] {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        mode.dmFields = DM_DISPLAYORIENTATION;
        EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr), DISP_CHANGE_SUCCESSFUL);
        return mode.dmDisplayOrientation;
    };
    DWORD before = query();
    std::vector<DWORD> seen;
    for (int i = 0; i < 4; ++i) {
        platform::ui::RotateScreen();
        seen.push_back(query());
    }
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    // Four quarter turns from where it stood.
    std::vector<DWORD> order{DMDO_0, DMDO_90, DMDO_180, DMDO_270};
    auto at = std::find(order.begin(), order.end(), before) - order.begin();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], order[static_cast<size_t>((at + 1 + i) % 4)]);
    platform::ui::RotateScreen();
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 800);
    platform::ui::SetScreenSize(480, 800);
}

}  // namespace
