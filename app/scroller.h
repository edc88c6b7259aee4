// Kinetic scrolling of a list: its geometry, one drag or glide at a time, and which items
// are in view. Two instances, one per orientation.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"
#include "platform/gdi.h"

class Scroller {
public:
    // Leaves every field unset: the globals are laid out by ReInit after each list load.
    Scroller() {}
    Scroller(int xLimit, int yLimit, int viewWidth, int viewHeight, int itemWidth, int itemHeight, int direction,
             COLORREF backColour, int itemCount);
    ~Scroller() {}

    int InitScroller(int xLimit, int yLimit, int viewWidth, int viewHeight, int itemWidth, int itemHeight,
                     int direction, COLORREF backColour, int itemCount);
    int ReInit(int xLimit, int yLimit, int viewWidth, int viewHeight, int itemWidth, int itemHeight, int direction,
               COLORREF backColour, int itemCount);

    void PenDown(HWND hwnd, POINT* pt);
    void PenMove(HWND hwnd, POINT* pt, int* atStart, int* atEnd);
    int PenUp(HWND hwnd, POINT* pt, int* atStart, int* atEnd);
    int HitTest(POINT* pt, RECT* cell);
    void GetItemRect(int index, RECT* cell);
    int GetFirstVisible();
    int GetLastVisible();
    int GetItemsPerView();
    int ScrollTo(int index);
    int OnTimer(HWND hwnd, UINT_PTR timerId, int* atStart, int* atEnd);
    void StopScroll(HWND hwnd);
    void ResetActive() { active = 0; }
    void DrawScrollBar(HDC hdc);
    void SetItemCount(int n);

    int GetViewWidth() const { return viewWidth; }
    int GetViewHeight() const { return viewHeight; }
    int GetItemCount() const { return itemCount; }
    COLORREF GetBackColour() const { return backColour; }
    int GetItemWidth() const { return itemWidth; }
    int GetItemHeight() const { return itemHeight; }
    int GetDirection() const { return direction; }
    int IsActive() const { return active; }

    int direction;  // 1: items run along x, 2: along y
    COLORREF backColour;
    int itemCount;
    int viewWidth, viewHeight;
    int xLimit, yLimit;
    int itemWidth, itemHeight;
    int offsetX, offsetY;
    POINT downPoint, curPoint, lastPoint;
    DWORD downTime, upTime, lastMoveTime, moveTime;
    double velocityX, velocityY;
    double accelX, accelY;
    double targetX, targetY;
    double duration;
    int isTap;
    int minOffsetX, minOffsetY;
    int steps, stepIndex;
    int dragX, dragY;
    int active;

private:
    bool Horizontal() const { return direction == 1; }
    int& Offset() { return Horizontal() ? offsetX : offsetY; }
    int ItemLength() const { return Horizontal() ? itemWidth : itemHeight; }
    int ViewLength() const { return Horizontal() ? viewWidth : viewHeight; }
    int ContentLength() const { return ItemLength() * itemCount; }
    int MinOffset() const { return Horizontal() ? minOffsetX : minOffsetY; }
    double& Velocity() { return Horizontal() ? velocityX : velocityY; }
    double& Accel() { return Horizontal() ? accelX : accelY; }
    double& Target() { return Horizontal() ? targetX : targetY; }
    void WrapPoint(POINT* pt) const;
};

extern Scroller g_scrollerPortrait;
extern Scroller g_scrollerLandscape;

// The millisecond clock the scroller reads; tests put their own in its place.
using ScrollerClock = DWORD (*)();
void SetScrollerClock(ScrollerClock clock);
