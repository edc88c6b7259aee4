// The kinetic scroller's edge cases, with the numbers its behaviour is defined by.
#include <gtest/gtest.h>

#include "scroller.h"
#include "platform/ui.h"

namespace {

DWORD g_now = 1000;
DWORD FakeClock() { return g_now; }

LRESULT Plain(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

class ScrollerTest : public testing::Test {
protected:
    void SetUp() override {
        platform::ui::SetScreenSize(480, 800);
        static bool registered = false;
        if (!registered) {
            WNDCLASSW wc{};
            wc.lpfnWndProc = Plain;
            wc.lpszClassName = L"ScrollerTestWnd";
            ASSERT_NE(RegisterClassW(&wc), 0);
            registered = true;
        }
        hwnd = CreateWindowExW(0, L"ScrollerTestWnd", L"", WS_VISIBLE, 0, 0, 480, 300, nullptr, nullptr, nullptr,
                               nullptr);
        ASSERT_NE(hwnd, nullptr);
        g_now = 1000;
        SetScrollerClock(FakeClock);
    }
    void TearDown() override {
        SetScrollerClock(nullptr);
        DestroyWindow(hwnd);
    }
    // A vertical list in a 300-pixel view with 60-pixel rows.
    void Layout(int count) { s.InitScroller(480, 800, 480, 300, 480, 60, 2, RGB(239, 239, 239), count); }
    void Down(int y) {
        POINT p{10, y};
        s.PenDown(hwnd, &p);
    }
    void Move(int y, int* atStart = nullptr, int* atEnd = nullptr) {
        int a, b;
        POINT p{10, y};
        s.PenMove(hwnd, &p, atStart ? atStart : &a, atEnd ? atEnd : &b);
    }
    int Up(int y, int* atStart, int* atEnd) {
        POINT p{10, y};
        return s.PenUp(hwnd, &p, atStart, atEnd);
    }
    bool TimerRunning() {
        // KillTimer answers whether there was one; put it back when there was.
        if (!KillTimer(hwnd, 1)) return false;
        SetTimer(hwnd, 1, 50, nullptr);
        return true;
    }
    HWND hwnd = nullptr;
    Scroller s;
};

TEST_F(ScrollerTest, SmallQuickMovesWaitUntilThirtyPixelsOrFiftyMilliseconds) {
    Layout(30);
    Down(200);
    g_now += 10;
    Move(171);  // 29 pixels within 50 ms: not applied
    EXPECT_EQ(s.offsetY, 0);
    EXPECT_EQ(s.isTap, 1);
    g_now += 10;
    Move(170);  // 30 pixels: applied
    EXPECT_EQ(s.offsetY, -30);
    EXPECT_EQ(s.isTap, 0);
    g_now += 50;
    Move(169);  // 1 pixel after 50 ms: applied
    EXPECT_EQ(s.offsetY, -31);
}

TEST_F(ScrollerTest, TapReturnsOneAndStartsNoTimer) {
    Layout(30);
    Down(100);
    g_now += 20;
    Move(105);
    int atStart = -1, atEnd = -1;
    EXPECT_EQ(Up(105, &atStart, &atEnd), 1);
    EXPECT_EQ(s.IsActive(), 0);
    EXPECT_FALSE(TimerRunning());
    EXPECT_EQ(atStart, 0);
    EXPECT_EQ(atEnd, 0);
}

TEST_F(ScrollerTest, ListsThatFitDoNotMoveButOneAsLongAsTheViewStillStartsTheTimer) {
    struct Case {
        int count;
        bool timer;
    } cases[] = {{3, false}, {5, true}};  // 180 and 300 pixels of rows in a 300-pixel view
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        Layout(c.count);
        Down(200);
        g_now += 60;
        Move(100);
        EXPECT_EQ(s.offsetY, 0);
        int atStart, atEnd;
        g_now += 10;
        EXPECT_EQ(Up(100, &atStart, &atEnd), 0);
        EXPECT_EQ(TimerRunning(), c.timer);
        KillTimer(hwnd, 1);
    }
}

TEST_F(ScrollerTest, SlowReleasePastTheStartSpringsBackInThreeTicks) {
    Layout(30);
    Down(100);
    g_now += 60;
    int atStart = 0, atEnd = 0;
    Move(200, &atStart, &atEnd);  // pulled 100 pixels down
    EXPECT_EQ(s.offsetY, 100);
    EXPECT_EQ(atStart, 1);
    g_now += 10000;  // a slow release
    EXPECT_EQ(Up(200, &atStart, &atEnd), 0);
    EXPECT_EQ(atStart, 1);
    EXPECT_EQ(s.steps, 3);
    EXPECT_TRUE(TimerRunning());
    int ended = 0, ticks = 0;
    while (!ended && ticks < 10) {
        ended = s.OnTimer(hwnd, 1, &atStart, &atEnd);
        ++ticks;
    }
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(s.offsetY, 0);
    EXPECT_EQ(s.IsActive(), 0);
    EXPECT_FALSE(TimerRunning());
}

TEST_F(ScrollerTest, FlingAtSixPixelsPerTickGivesOneStepOfFortyMilliseconds) {
    Layout(30);
    s.offsetY = -600;
    Down(200);
    g_now += 60;
    Move(180);  // 20 pixels up in 100 ms: v = 30 x -20 / 100 = -6
    g_now += 40;
    int atStart, atEnd;
    EXPECT_EQ(Up(180, &atStart, &atEnd), 0);
    EXPECT_DOUBLE_EQ(s.velocityY, -6.0);
    EXPECT_DOUBLE_EQ(s.accelY, 0.15);
    EXPECT_DOUBLE_EQ(s.duration, 40.0);
    EXPECT_EQ(s.steps, 1);
    EXPECT_TRUE(TimerRunning());
    EXPECT_EQ(s.OnTimer(hwnd, 1, &atStart, &atEnd), 1);
    // offset + v T + a T^2 / 2 = -620 - 240 + 120
    EXPECT_EQ(s.offsetY, -740);
}

// A fling whose glide would run past an end stops at that end: the glide's time becomes the
// time to reach it, its slowing is chosen to arrive there, and the end is flagged. In a
// 600-pixel view of 30 rows (the end at offset -1200), released at v = -6 just 100 pixels
// before the end (and its mirror at the start): the free glide would stop 20 pixels past
// it. T = 700 / 6 ms (the end, and a view beyond it), two ticks, a = 2 (100 - 700) / T^2.
TEST_F(ScrollerTest, AFlingPastAnEndStopsThere) {
    struct Case {
        const char* name;
        int from, to;  // the pen's y; 20 pixels either way
        int startOffset;
        int releaseOffset, target, firstTick;
        int atStartOnRelease, atEndOnRelease, atStartAfterTick, atEndAfterTick;
    } cases[] = {
        {"past the end", 200, 180, -1080, -1100, -1200, -1289, 0, 1, 0, 1},
        {"past the start", 200, 220, -120, -100, 0, 89, 1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.InitScroller(480, 800, 480, 600, 480, 60, 2, RGB(239, 239, 239), 30);
        s.offsetY = c.startOffset;
        Down(c.from);
        g_now += 60;
        Move(c.to);
        EXPECT_EQ(s.offsetY, c.releaseOffset);
        g_now += 40;  // 20 pixels in 100 ms: |v| = 30 x 20 / 100 = 6
        int atStart = -1, atEnd = -1;
        EXPECT_EQ(Up(c.to, &atStart, &atEnd), 0);
        EXPECT_EQ(atStart, c.atStartOnRelease);
        EXPECT_EQ(atEnd, c.atEndOnRelease);
        EXPECT_DOUBLE_EQ(s.targetY, c.target);
        EXPECT_NEAR(s.duration, 700.0 / 6, 1e-9);
        EXPECT_EQ(s.steps, 2);
        // a = 2 ((target - offset) - v T) / T^2 = -+1200 / (700/6)^2
        double a = 1200.0 / ((700.0 / 6) * (700.0 / 6));
        EXPECT_NEAR(s.accelY, c.target == 0 ? -a : a, 1e-12);
        EXPECT_TRUE(TimerRunning());
        // First tick: d = trunc(v 50 + a 2500 / 2); the list is still short of where it stops.
        EXPECT_EQ(s.OnTimer(hwnd, 1, &atStart, &atEnd), 0);
        EXPECT_EQ(s.offsetY, c.firstTick);
        EXPECT_EQ(atStart, c.atStartAfterTick);
        EXPECT_EQ(atEnd, c.atEndAfterTick);
        // The last tick lands on the end and the glide is over.
        EXPECT_EQ(s.OnTimer(hwnd, 1, &atStart, &atEnd), 1);
        EXPECT_EQ(s.offsetY, c.target);
        EXPECT_EQ(atStart, 0);
        EXPECT_EQ(atEnd, 0);
        EXPECT_EQ(s.IsActive(), 0);
        EXPECT_FALSE(TimerRunning());
        g_now += 1000;
    }
}

TEST_F(ScrollerTest, VisibleRangeItemsPerViewAndScrollTo) {
    Layout(30);
    EXPECT_EQ(s.GetItemsPerView(), 7);  // 300 / 60 + 2
    EXPECT_EQ(s.GetFirstVisible(), 0);
    EXPECT_EQ(s.GetLastVisible(), 5);
    EXPECT_EQ(s.ScrollTo(30), -1);
    EXPECT_EQ(s.offsetY, 0);
    EXPECT_EQ(s.ScrollTo(-1), -1);
    EXPECT_EQ(s.ScrollTo(29), 0);
    EXPECT_EQ(s.offsetY, -1740);
    EXPECT_EQ(s.GetFirstVisible(), 29);
    EXPECT_EQ(s.GetLastVisible(), 29);
    s.offsetY = 50;  // pulled past the start
    EXPECT_EQ(s.GetFirstVisible(), 0);

    Scroller empty(480, 800, 480, 300, 480, 0, 2, 0, 0);
    EXPECT_EQ(empty.GetItemsPerView(), 0);
    EXPECT_EQ(empty.GetFirstVisible(), 0);
    EXPECT_EQ(empty.GetLastVisible(), 0);
}

TEST_F(ScrollerTest, HitTestAndItemRectsOnBothAxes) {
    Layout(30);
    s.offsetY = -90;
    RECT cell;
    POINT p{5, 40};  // 130 pixels into the rows: item 2
    EXPECT_EQ(s.HitTest(&p, &cell), 2);
    EXPECT_EQ(cell.top, 30);
    EXPECT_EQ(cell.bottom, 90);
    EXPECT_EQ(cell.right, 480);
    RECT r;
    s.GetItemRect(2, &r);
    EXPECT_TRUE(EqualRect(&r, &cell));
    s.GetItemRect(30, &r);
    EXPECT_TRUE(IsRectEmpty(&r));
    // A point above the screen arrives as a large 16-bit value and lies before the list.
    s.offsetY = 0;
    POINT above{5, 65536 - 20};
    EXPECT_EQ(s.HitTest(&above, &cell), -1);

    Scroller h(800, 480, 800, 300, 150, 300, 1, 0, 10);
    h.offsetX = -100;
    POINT q{60, 10};  // 160 into the columns: item 1
    EXPECT_EQ(h.HitTest(&q, &cell), 1);
    EXPECT_EQ(cell.left, 50);
    EXPECT_EQ(cell.right, 200);
    EXPECT_EQ(cell.top, 0);
    EXPECT_EQ(cell.bottom, 300);
}

TEST_F(ScrollerTest, ShorterCountMovesTheEndToTheViewsEndAndGrowingKeepsTheOffset) {
    Layout(30);
    s.ScrollTo(25);  // offset -1500
    s.SetItemCount(10);
    EXPECT_EQ(s.offsetY, 300 - 600);
    EXPECT_EQ(s.minOffsetY, -300);
    s.SetItemCount(40);
    EXPECT_EQ(s.offsetY, -300);
    EXPECT_EQ(s.minOffsetY, 300 - 2400);
    s.SetItemCount(-1);
    EXPECT_EQ(s.GetItemCount(), 40);
}

// The scroll bar of 30 rows, 7 per view, in a 300-pixel view is 75 pixels long.
TEST_F(ScrollerTest, ScrollBarThumbLengthAndPlace) {
    Layout(30);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateBitmap(480, 300, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT all{0, 0, 480, 300};
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    FillRect(dc, &all, black);
    s.DrawScrollBar(dc);
    // The outline's grey runs from the top down to pixel 74 at the right edge's column.
    EXPECT_EQ(GetPixel(dc, 476, 0), RGB(102, 102, 102));
    EXPECT_EQ(GetPixel(dc, 476, 74), RGB(102, 102, 102));
    EXPECT_EQ(GetPixel(dc, 476, 75), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 477, 30), RGB(206, 206, 206));
    EXPECT_EQ(GetPixel(dc, 470, 30), RGB(0, 0, 0));

    // Scrolled to the last page the thumb ends at the view's end.
    FillRect(dc, &all, black);
    s.offsetY = s.minOffsetY;
    s.DrawScrollBar(dc);
    EXPECT_EQ(GetPixel(dc, 476, 299), RGB(102, 102, 102));
    EXPECT_EQ(GetPixel(dc, 476, 224), RGB(0, 0, 0));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteObject(black);
    DeleteDC(dc);
}

}  // namespace
