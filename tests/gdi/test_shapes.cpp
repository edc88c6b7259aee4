// Figures, lines and fills land on the pixels the platform's rules name.
#include "platform/gdi.h"
#include "platform/surface.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

// A memory DC holding a white colour bitmap.
struct Canvas {
    HDC screen = nullptr;
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    Canvas(int w, int h) {
        screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bmp = CreateCompatibleBitmap(screen, w, h);
        old = SelectObject(dc, bmp);
        RECT r{0, 0, w, h};
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
};

TEST(Shapes, RectangleCoversLeftToRightMinusOneWithOnePixelPen) {
    Canvas c(20, 20);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HBRUSH brush = CreateSolidBrush(kBlue);
    HGDIOBJ op = SelectObject(c.dc, pen), ob = SelectObject(c.dc, brush);
    ASSERT_TRUE(Rectangle(c.dc, 2, 3, 10, 8));
    EXPECT_EQ(c.at(2, 3), kRed);
    EXPECT_EQ(c.at(9, 7), kRed);   // right-1, bottom-1: the outline
    EXPECT_EQ(c.at(10, 5), kWhite);  // right edge excluded
    EXPECT_EQ(c.at(5, 8), kWhite);   // bottom edge excluded
    EXPECT_EQ(c.at(3, 4), kBlue);
    EXPECT_EQ(c.at(8, 6), kBlue);
    EXPECT_EQ(c.at(1, 3), kWhite);
    SelectObject(c.dc, op);
    SelectObject(c.dc, ob);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
}

}  // namespace
