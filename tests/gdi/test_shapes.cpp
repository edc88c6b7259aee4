// Figures, lines and fills land on the pixels the platform's rules name.
#include "canvas.h"
#include "platform/surface.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

struct Tools {
    HDC dc;
    HPEN pen;
    HBRUSH brush;
    HGDIOBJ oldPen, oldBrush;
    Tools(HDC d, HPEN p, HBRUSH b) : dc(d), pen(p), brush(b) {
        oldPen = SelectObject(dc, pen);
        oldBrush = SelectObject(dc, brush);
    }
    ~Tools() {
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(pen);
        DeleteObject(brush);
    }
};

TEST(Shapes, RectangleWithOnePixelPenCoversLeftToRightMinusOne) {
    Canvas c(20, 20);
    Tools t(c.dc, CreatePen(PS_SOLID, 1, kRed), CreateSolidBrush(kBlue));
    ASSERT_TRUE(Rectangle(c.dc, 2, 3, 10, 8));
    struct { int x, y; COLORREF want; } cases[] = {
        {2, 3, kRed}, {9, 3, kRed}, {2, 7, kRed}, {9, 7, kRed}, {5, 3, kRed}, {9, 5, kRed},
        {10, 5, kWhite}, {5, 8, kWhite}, {1, 3, kWhite}, {2, 2, kWhite},
        {3, 4, kBlue}, {8, 6, kBlue},
    };
    for (auto& k : cases) EXPECT_EQ(c.at(k.x, k.y), k.want) << k.x << "," << k.y;
}

TEST(Shapes, WidePenStaysInsideTheFigure) {
    Canvas c(20, 20);
    Tools t(c.dc, CreatePen(PS_SOLID, 2, kRed), CreateSolidBrush(kBlue));
    Rectangle(c.dc, 4, 4, 12, 12);
    EXPECT_EQ(c.at(3, 6), kWhite);
    EXPECT_EQ(c.at(4, 6), kRed);
    EXPECT_EQ(c.at(5, 6), kRed);
    EXPECT_EQ(c.at(6, 6), kBlue);
    EXPECT_EQ(c.at(9, 9), kBlue);
    EXPECT_EQ(c.at(10, 9), kRed);
    EXPECT_EQ(c.at(11, 11), kRed);
    EXPECT_EQ(c.at(12, 11), kWhite);
}

TEST(Shapes, NullPenAndNullBrush) {
    Canvas c(20, 20);
    {
        HGDIOBJ old = SelectObject(c.dc, GetStockObject(NULL_PEN));
        HBRUSH b = CreateSolidBrush(kBlue);
        HGDIOBJ ob = SelectObject(c.dc, b);
        // Without a pen the figure is brush only, one pixel narrower and lower.
        Rectangle(c.dc, 2, 2, 6, 6);
        EXPECT_EQ(c.at(2, 2), kBlue);
        EXPECT_EQ(c.at(4, 4), kBlue);
        EXPECT_EQ(c.at(5, 4), kWhite);
        EXPECT_EQ(c.at(4, 5), kWhite);
        SelectObject(c.dc, ob);
        SelectObject(c.dc, old);
        DeleteObject(b);
    }
    Tools t(c.dc, CreatePen(PS_SOLID, 1, kRed), static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
    Rectangle(c.dc, 10, 10, 16, 16);
    EXPECT_EQ(c.at(10, 10), kRed);
    EXPECT_EQ(c.at(12, 12), kWhite);  // hollow
}

TEST(Shapes, RoundRectCutsItsCorners) {
    Canvas c(30, 30);
    Tools t(c.dc, CreatePen(PS_SOLID, 1, kRed), CreateSolidBrush(kBlue));
    RoundRect(c.dc, 0, 0, 20, 12, 8, 8);
    EXPECT_EQ(c.at(0, 0), kWhite);
    EXPECT_EQ(c.at(19, 11), kWhite);
    EXPECT_EQ(c.at(10, 0), kRed);
    EXPECT_EQ(c.at(0, 6), kRed);
    EXPECT_EQ(c.at(19, 6), kRed);
    EXPECT_EQ(c.at(10, 11), kRed);
    EXPECT_EQ(c.at(10, 6), kBlue);
    EXPECT_EQ(c.at(20, 6), kWhite);
}

TEST(Shapes, LineToLeavesOutItsEndPoint) {
    Canvas c(20, 20);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ old = SelectObject(c.dc, pen);
    struct { int x0, y0, x1, y1; } lines[] = {{2, 2, 10, 2}, {2, 5, 2, 12}, {12, 12, 18, 18}, {18, 2, 12, 2}};
    for (auto& l : lines) {
        c.Fill(kWhite);
        POINT prev;
        MoveToEx(c.dc, l.x0, l.y0, &prev);
        ASSERT_TRUE(LineTo(c.dc, l.x1, l.y1));
        EXPECT_EQ(c.at(l.x0, l.y0), kRed);
        EXPECT_EQ(c.at(l.x1, l.y1), kWhite) << "end point drawn";
        int mx = (l.x0 + l.x1) / 2, my = (l.y0 + l.y1) / 2;
        EXPECT_EQ(c.at(mx, my), kRed);
        RECT ink = c.Ink();
        int dx = l.x1 > l.x0 ? 1 : (l.x1 < l.x0 ? -1 : 0), dy = l.y1 > l.y0 ? 1 : (l.y1 < l.y0 ? -1 : 0);
        // the last pixel drawn is one step short of the end
        EXPECT_EQ(c.at(l.x1 - dx, l.y1 - dy), kRed);
        (void)ink;
    }
    SelectObject(c.dc, old);
    DeleteObject(pen);
}

TEST(Shapes, FillRectExcludesRightAndBottomAndIgnoresThePen) {
    Canvas c(10, 10);
    HBRUSH b = CreateSolidBrush(kBlue);
    RECT r{1, 1, 4, 3};
    FillRect(c.dc, &r, b);
    EXPECT_EQ(c.at(1, 1), kBlue);
    EXPECT_EQ(c.at(3, 2), kBlue);
    EXPECT_EQ(c.at(4, 2), kWhite);
    EXPECT_EQ(c.at(3, 3), kWhite);
    RECT empty{5, 5, 5, 9};
    FillRect(c.dc, &empty, b);
    EXPECT_EQ(c.at(5, 5), kWhite);
    DeleteObject(b);
}

// A window DC draws at its origin inside the surface and never outside its clip.
TEST(Shapes, SurfaceDCDrawsAtItsOriginInsideItsClip) {
    auto s = std::make_shared<platform::Surface>(40, 40, 0xFFFFFF);
    HDC dc = platform::CreateSurfaceDC(s, POINT{10, 20}, RECT{10, 20, 30, 30});
    ASSERT_NE(dc, nullptr);
    HBRUSH b = CreateSolidBrush(kBlue);
    RECT r{-5, -5, 100, 100};
    FillRect(dc, &r, b);
    EXPECT_EQ(s->at(10, 20), 0x0000FFu);
    EXPECT_EQ(s->at(29, 29), 0x0000FFu);
    EXPECT_EQ(s->at(30, 29), 0xFFFFFFu);
    EXPECT_EQ(s->at(9, 25), 0xFFFFFFu);
    EXPECT_EQ(s->at(15, 30), 0xFFFFFFu);
    EXPECT_EQ(GetPixel(dc, 0, 0), kBlue);
    // Moved (the window moved): the same DC now lands elsewhere.
    ASSERT_TRUE(platform::SetSurfaceDCGeometry(dc, POINT{0, 0}, RECT{0, 0, 5, 5}));
    HBRUSH red = CreateSolidBrush(kRed);
    FillRect(dc, &r, red);
    EXPECT_EQ(s->at(4, 4), 0xFF0000u);
    EXPECT_EQ(s->at(5, 5), 0xFFFFFFu);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
    DeleteObject(b);
    DeleteObject(red);
}

TEST(Shapes, WindowDCsComeFromTheWindowSystem) {
    auto s = std::make_shared<platform::Surface>(8, 8, 0xFFFFFF);
    HWND wnd = reinterpret_cast<HWND>(0x1234);
    int released = 0;
    platform::SetWindowDCHooks({[&](HWND h) { return h == wnd ? platform::CreateSurfaceDC(s, POINT{2, 2}, RECT{2, 2, 8, 8}) : nullptr; },
                                [&](HWND h, HDC) { released += h == wnd; }});
    HDC dc = GetDC(wnd);
    ASSERT_NE(dc, nullptr);
    SetPixel(dc, 0, 0, kRed);
    EXPECT_EQ(s->at(2, 2), 0xFF0000u);
    EXPECT_EQ(ReleaseDC(wnd, dc), 1);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID) << "a released DC is gone";
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x9999)), nullptr);
    platform::SetWindowDCHooks({});
}

}  // namespace
