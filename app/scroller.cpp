#include "scroller.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

Scroller g_scrollerPortrait;
Scroller g_scrollerLandscape;

namespace {
ScrollerClock g_clock = GetTickCount;

const UINT_PTR kTimerId = 1;
const UINT kTickMs = 50;
// Releases slower than this glide back or stop; the value is the double just above 5.1.
const double kSlowRelease = 5.1000000000000005;
const double kFriction = 0.005 * 30;

int Trunc(double v) {
    if (!std::isfinite(v)) return 0;
    if (v > 2147483647.0) return 2147483647;
    if (v < -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}
}  // namespace

void SetScrollerClock(ScrollerClock clock) { g_clock = clock ? clock : GetTickCount; }

Scroller::Scroller(int xLimit_, int yLimit_, int viewWidth_, int viewHeight_, int itemWidth_, int itemHeight_,
                   int direction_, COLORREF backColour_, int itemCount_) {
    InitScroller(xLimit_, yLimit_, viewWidth_, viewHeight_, itemWidth_, itemHeight_, direction_, backColour_,
                 itemCount_);
}

int Scroller::InitScroller(int xLimit_, int yLimit_, int viewWidth_, int viewHeight_, int itemWidth_,
                           int itemHeight_, int direction_, COLORREF backColour_, int itemCount_) {
    xLimit = xLimit_;
    yLimit = yLimit_;
    viewWidth = viewWidth_;
    viewHeight = viewHeight_;
    itemWidth = itemWidth_;
    itemHeight = itemHeight_;
    direction = direction_;
    backColour = backColour_;
    itemCount = itemCount_;
    offsetX = offsetY = 0;
    active = 0;
    minOffsetX = viewWidth - itemWidth * itemCount;
    minOffsetY = viewHeight - itemHeight * itemCount;
    return 0;
}

int Scroller::ReInit(int xLimit_, int yLimit_, int viewWidth_, int viewHeight_, int itemWidth_, int itemHeight_,
                     int direction_, COLORREF backColour_, int itemCount_) {
    this->~Scroller();
    new (this) Scroller();
    return InitScroller(xLimit_, yLimit_, viewWidth_, viewHeight_, itemWidth_, itemHeight_, direction_,
                        backColour_, itemCount_);
}

// Pen coordinates come as 16-bit words: above the screen's limit they are negative values.
void Scroller::WrapPoint(POINT* pt) const {
    if (pt->x > xLimit) pt->x -= 65536;
    if (pt->y > yLimit) pt->y -= 65536;
}

void Scroller::PenDown(HWND hwnd, POINT* pt) {
    if (active == 1) return;
    downTime = lastMoveTime = g_clock();
    downPoint = lastPoint = *pt;
    SetCapture(hwnd);
    isTap = 1;
    velocityX = velocityY = 0;
    accelX = accelY = 0;
    active = 1;
}

void Scroller::PenMove(HWND hwnd, POINT* pt, int* atStart, int* atEnd) {
    moveTime = g_clock();
    *atStart = *atEnd = 0;
    WrapPoint(pt);
    curPoint = *pt;
    dragX = pt->x - lastPoint.x;
    dragY = pt->y - lastPoint.y;
    int delta = Horizontal() ? dragX : dragY;
    if (std::abs(delta) < 30 && moveTime - lastMoveTime < 50) return;

    isTap = 0;
    int content = ContentLength(), view = ViewLength();
    if (content > view) {
        int& offset = Offset();
        offset = std::clamp(offset + delta, -content, view);
        if (offset >= 1) *atStart = 1;
        if (offset < view - content) *atEnd = 1;
    }
    lastMoveTime = moveTime;
    lastPoint = curPoint;
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
}

int Scroller::PenUp(HWND hwnd, POINT* pt, int* atStart, int* atEnd) {
    WrapPoint(pt);
    curPoint = *pt;
    upTime = g_clock();
    ReleaseCapture();
    *atStart = *atEnd = 0;
    if (isTap == 1) {
        active = 0;
        return 1;
    }
    int content = ContentLength(), view = ViewLength();
    if (content < view) {
        active = 0;
        return 0;
    }
    dragX = curPoint.x - downPoint.x;
    dragY = curPoint.y - downPoint.y;
    DWORD t = upTime - downTime;
    if (t == 0) {
        active = 0;
        return 0;
    }
    double& v = Velocity();
    double& a = Accel();
    double& target = Target();
    int offset = Offset();
    int minOffset = MinOffset();
    v = 30.0 * (Horizontal() ? dragX : dragY) / static_cast<double>(t);

    if (v < kSlowRelease && !(v <= -kSlowRelease && content > view)) {
        if (offset >= minOffset && offset <= 0) {
            target = offset;
            steps = 1;  // one tick that only repaints
        } else {
            if (offset > 0) {
                target = 0;
                *atStart = 1;
            } else {
                target = minOffset;
                *atEnd = 1;
            }
            steps = std::abs(Trunc(target) - offset) / 50 + 1;
            v = 2.0 * (target - offset) / (steps * 50.0);
            a = -v / (steps * 50.0);
        }
        stepIndex = 0;
        SetTimer(hwnd, kTimerId, kTickMs, nullptr);
        return 0;
    }

    a = (v > 0 ? -1.0 : 1.0) * kFriction;
    duration = -v / a;
    steps = std::max(1, Trunc(duration / 50.0));
    stepIndex = 0;
    target = Trunc(offset + v * duration + a * duration * duration / 2.0);
    if (target >= minOffset && target <= 0) {
        SetTimer(hwnd, kTimerId, kTickMs, nullptr);
        return 0;
    }
    if (target > 0) {
        target = 0;
        duration = (view - offset) / v;
        *atStart = 1;
    } else {
        target = minOffset;
        duration = std::fabs((minOffset - view - offset) / v);
        *atEnd = 1;
    }
    steps = std::max(1, Trunc(duration / 50.0));
    // A glide of no time lands on the end at its one step.
    a = duration > 0 ? 2.0 * ((target - offset) - v * duration) / (duration * duration) : 0.0;
    SetTimer(hwnd, kTimerId, kTickMs, nullptr);
    return 0;
}

int Scroller::HitTest(POINT* pt, RECT* cell) {
    WrapPoint(pt);
    int len = ItemLength();
    if (len <= 0 || itemCount <= 0) return -1;
    int offset = Offset();
    int first = std::max(0, -offset / len);
    int last = std::min(itemCount - 1, (ViewLength() - offset) / len);
    int base = offset + first * len;
    int coord = Horizontal() ? pt->x : pt->y;
    int k = (coord - base) / len;
    int index = first + k;
    if (coord < base || index < first || index > last) return -1;
    if (cell) {
        if (Horizontal())
            SetRect(cell, base + k * len, 0, base + (k + 1) * len, itemHeight);
        else
            SetRect(cell, 0, base + k * len, itemWidth, base + (k + 1) * len);
    }
    return index;
}

void Scroller::GetItemRect(int index, RECT* cell) {
    if (index < 0 || index >= itemCount) {
        SetRectEmpty(cell);
        return;
    }
    if (Horizontal()) {
        cell->left = offsetX + index * itemWidth;
        cell->right = cell->left + itemWidth;
        cell->top = 0;
        cell->bottom = itemHeight;
    } else {
        cell->left = 0;
        cell->right = itemWidth;
        cell->top = offsetY + index * itemHeight;
        cell->bottom = cell->top + itemHeight;
    }
}

int Scroller::GetFirstVisible() {
    int len = ItemLength();
    if (len == 0) return 0;
    int first = -Offset() / len;
    return first < 0 ? 0 : first;
}

int Scroller::GetLastVisible() {
    int len = ItemLength();
    if (itemCount == 0 || len == 0) return 0;
    return std::min(itemCount - 1, (ViewLength() - Offset()) / len);
}

int Scroller::GetItemsPerView() {
    int len = ItemLength();
    if (len == 0) return 0;
    return ViewLength() / len + 2;
}

int Scroller::ScrollTo(int index) {
    if (index < 0 || index >= itemCount) return -1;
    Offset() = -(index * ItemLength());
    return 0;
}

int Scroller::OnTimer(HWND hwnd, UINT_PTR timerId, int* atStart, int* atEnd) {
    if (timerId != kTimerId) return 0;
    int ended = 0;
    if (stepIndex < steps) {
        int& offset = Offset();
        double& v = Velocity();
        double a = Accel();
        if (stepIndex >= steps - 1) {
            offset = Trunc(Target());
            KillTimer(hwnd, kTimerId);
            active = 0;
            ended = 1;
        } else {
            int d = Trunc(v * 50 + a * 2500 / 2);
            v += 50 * a;
            offset += d;
            if (Horizontal())
                dragX = d;
            else
                dragY = d;
        }
        int content = ContentLength(), view = ViewLength();
        *atStart = offset >= 1 ? 1 : 0;
        *atEnd = (content >= view && offset < view - content) ? 1 : 0;
        stepIndex += 1;
        InvalidateRect(hwnd, nullptr, FALSE);
        UpdateWindow(hwnd);
    }
    return ended;
}

void Scroller::StopScroll(HWND hwnd) {
    KillTimer(hwnd, kTimerId);
    active = 0;
}

void Scroller::SetItemCount(int n) {
    if (n < 0) return;
    if (n < itemCount) {
        int end = ViewLength() - ItemLength() * n;
        if (end > Offset()) Offset() = end;
    }
    itemCount = n;
    minOffsetX = viewWidth - itemWidth * itemCount;
    minOffsetY = viewHeight - itemHeight * itemCount;
}

void Scroller::DrawScrollBar(HDC hdc) {
    int perView = GetItemsPerView();
    if (itemCount == 0 || itemCount < perView) return;
    int view = ViewLength();
    int length = std::max(perView * view / itemCount, view / 4);
    int first = std::min(GetFirstVisible(), itemCount - perView + 1);
    int start = first * (view - length) / (itemCount - perView + 1);

    HPEN framePen = CreatePen(PS_SOLID, 1, RGB(102, 102, 102));
    HPEN barPen = CreatePen(PS_SOLID, 1, RGB(206, 206, 206));
    HBRUSH barBrush = CreateSolidBrush(RGB(206, 206, 206));
    HGDIOBJ oldPen = SelectObject(hdc, framePen);
    HGDIOBJ oldBrush = SelectObject(hdc, GetStockObject(WHITE_BRUSH));
    if (Horizontal())
        RoundRect(hdc, start, viewHeight - 8, start + length, viewHeight, 4, 4);
    else
        RoundRect(hdc, viewWidth - 8, start, viewWidth, start + length, 4, 4);
    SelectObject(hdc, barPen);
    SelectObject(hdc, barBrush);
    if (Horizontal())
        Rectangle(hdc, start + 2, viewHeight - 5, start + length - 1, viewHeight - 2);
    else
        Rectangle(hdc, viewWidth - 5, start + 2, viewWidth - 1, start + length - 2);
    SelectObject(hdc, oldPen);
    SelectObject(hdc, oldBrush);
    DeleteObject(framePen);
    DeleteObject(barPen);
    DeleteObject(barBrush);
}
