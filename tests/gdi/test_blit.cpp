// Objects, bitmaps, blits and raster operations.
#include "canvas.h"
#include "platform/surface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

TEST(Objects, NewMemoryDCHoldsTheDefaults) {
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetTextColor(dc), kBlack);
    EXPECT_EQ(GetBkColor(dc), kWhite);
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    BITMAP bm{};
    ASSERT_EQ(GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 1);
    EXPECT_EQ(bm.bmHeight, 1);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    // Compatible with the monochrome bitmap it holds.
    HBITMAP mono = CreateCompatibleBitmap(dc, 4, 4);
    ASSERT_EQ(GetObjectW(mono, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmBitsPixel, 1);
    DeleteObject(mono);
    EXPECT_TRUE(DeleteDC(dc));
}

TEST(Objects, SelectionRulesAndDeletion) {
    HDC screen = GetDC(nullptr);
    HDC a = CreateCompatibleDC(screen), b = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 5, 3);
    BITMAP bm{};
    GetObjectW(bmp, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    HGDIOBJ old = SelectObject(a, bmp);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(SelectObject(b, bmp), nullptr) << "a bitmap lives in one DC at a time";
    EXPECT_FALSE(DeleteObject(bmp)) << "selected objects are not deleted";
    EXPECT_EQ(SelectObject(a, old), bmp);
    EXPECT_TRUE(DeleteObject(bmp));
    EXPECT_FALSE(DeleteObject(bmp)) << "a deleted handle is gone";
    EXPECT_EQ(SelectObject(a, bmp), nullptr);
    EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));
    EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(1, 2, 3));
    LOGPEN lp{};
    ASSERT_EQ(GetObjectW(pen, sizeof lp, &lp), static_cast<int>(sizeof lp));
    EXPECT_EQ(lp.lopnWidth.x, 2);
    EXPECT_EQ(lp.lopnColor, RGB(1, 2, 3));
    DeleteObject(pen);
    DeleteDC(a);
    DeleteDC(b);
    ReleaseDC(nullptr, screen);
}

TEST(Objects, BadSizesFailCleanly) {
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 4), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 100000, 100000), nullptr);
    EXPECT_EQ(CreateBitmap(4, 4, 1, 7, nullptr), nullptr);
    EXPECT_EQ(CreateBitmap(4, 4, 2, 1, nullptr), nullptr);
    HBITMAP zero = CreateCompatibleBitmap(screen, 0, 0);
    ASSERT_NE(zero, nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, zero);
    EXPECT_TRUE(BitBlt(dc, 0, 0, 10, 10, screen, 0, 0, SRCCOPY));
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(DrawTextW(dc, L"x", -1, &r, 0) > 0, true);
    SelectObject(dc, old);
    DeleteObject(zero);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

// Every two-operand raster operation on the four combinations of source and destination bits.
TEST(Blit, RasterOperationsFollowTheirTruthTables) {
    const uint32_t S = 0x00F0CC, D = 0x00AAAA;  // per channel: all four bit pairs occur
    struct { DWORD rop; uint32_t want; const char* name; } ops[] = {
        {SRCCOPY, S, "SRCCOPY"},
        {SRCAND, S & D, "SRCAND"},
        {SRCPAINT, S | D, "SRCPAINT"},
        {SRCINVERT, S ^ D, "SRCINVERT"},
        {NOTSRCCOPY, ~S & 0xFFFFFF, "NOTSRCCOPY"},
        {SRCERASE, S & ~D & 0xFFFFFF, "SRCERASE"},
        {NOTSRCERASE, ~(S | D) & 0xFFFFFF, "NOTSRCERASE"},
        {MERGEPAINT, (~S | D) & 0xFFFFFF, "MERGEPAINT"},
        {0x00220326, D & ~S & 0xFFFFFF, "DSna"},
        {DSTINVERT, ~D & 0xFFFFFF, "DSTINVERT"},
        {BLACKNESS, 0, "BLACKNESS"},
        {WHITENESS, 0xFFFFFF, "WHITENESS"},
    };
    for (auto& op : ops) {
        Canvas src(2, 2, platform::ColorrefFromXrgb(S));
        Canvas dst(2, 2, platform::ColorrefFromXrgb(D));
        ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 1, 1, src.dc, 0, 0, op.rop)) << op.name;
        EXPECT_EQ(dst.at(0, 0), platform::ColorrefFromXrgb(op.want)) << op.name;
        EXPECT_EQ(dst.at(1, 1), platform::ColorrefFromXrgb(D)) << op.name << " outside the rectangle";
    }
}

TEST(Blit, PatternOperationsUseTheSelectedBrush) {
    const uint32_t P = 0x3366FF, D = 0x00AAAA;
    Canvas dst(2, 2, platform::ColorrefFromXrgb(D));
    HBRUSH b = CreateSolidBrush(platform::ColorrefFromXrgb(P));
    HGDIOBJ old = SelectObject(dst.dc, b);
    PatBlt(dst.dc, 0, 0, 1, 1, PATINVERT);
    EXPECT_EQ(dst.at(0, 0), platform::ColorrefFromXrgb(P ^ D));
    PatBlt(dst.dc, 1, 1, 1, 1, PATCOPY);
    EXPECT_EQ(dst.at(1, 1), platform::ColorrefFromXrgb(P));
    SelectObject(dst.dc, old);
    DeleteObject(b);
}

// The transparency recipe of animated pictures: a mask from the transparent colour, AND
// onto the canvas, the inverted mask ANDed onto the frame, the frame ORed onto the canvas.
TEST(Blit, MonochromeMaskComposesATransparentFrame) {
    const COLORREF key = RGB(0, 255, 0), ink = RGB(200, 10, 30), canvasColour = RGB(20, 40, 60);
    Canvas frame(4, 1, key);
    SetPixel(frame.dc, 1, 0, ink);
    SetPixel(frame.dc, 2, 0, ink);
    Canvas canvas(4, 1, canvasColour);

    HDC maskDC = CreateCompatibleDC(frame.dc);
    HBITMAP mask = CreateBitmap(4, 1, 1, 1, nullptr);
    HGDIOBJ oldMask = SelectObject(maskDC, mask);
    SetBkColor(frame.dc, key);
    ASSERT_TRUE(BitBlt(maskDC, 0, 0, 4, 1, frame.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(maskDC, 0, 0), kWhite) << "the key colour becomes 1";
    EXPECT_EQ(GetPixel(maskDC, 1, 0), kBlack);

    // Mono to colour: 1 -> destination background, 0 -> destination text colour.
    SetBkColor(canvas.dc, kWhite);
    SetTextColor(canvas.dc, kBlack);
    BitBlt(canvas.dc, 0, 0, 4, 1, maskDC, 0, 0, SRCAND);
    SetBkColor(frame.dc, kWhite);
    SetTextColor(frame.dc, kBlack);
    BitBlt(frame.dc, 0, 0, 4, 1, maskDC, 0, 0, 0x00220326);
    BitBlt(canvas.dc, 0, 0, 4, 1, frame.dc, 0, 0, SRCPAINT);

    EXPECT_EQ(canvas.at(0, 0), canvasColour);
    EXPECT_EQ(canvas.at(1, 0), ink);
    EXPECT_EQ(canvas.at(2, 0), ink);
    EXPECT_EQ(canvas.at(3, 0), canvasColour);
    SelectObject(maskDC, oldMask);
    DeleteObject(mask);
    DeleteDC(maskDC);
}

TEST(Blit, MonochromeSourceTakesTheDestinationColours) {
    // 1 bpp bits, rows padded to 16 bits: 1010 0000, 0101 0000.
    const uint8_t bits[] = {0xA0, 0x00, 0x50, 0x00};
    HBITMAP mono = CreateBitmap(4, 2, 1, 1, bits);
    ASSERT_NE(mono, nullptr);
    HDC m = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(m, mono);
    Canvas dst(4, 2);
    SetTextColor(dst.dc, RGB(255, 0, 0));
    SetBkColor(dst.dc, RGB(0, 0, 255));
    BitBlt(dst.dc, 0, 0, 4, 2, m, 0, 0, SRCCOPY);
    EXPECT_EQ(dst.at(0, 0), RGB(0, 0, 255));
    EXPECT_EQ(dst.at(1, 0), RGB(255, 0, 0));
    EXPECT_EQ(dst.at(0, 1), RGB(255, 0, 0));
    EXPECT_EQ(dst.at(1, 1), RGB(0, 0, 255));
    SelectObject(m, old);
    DeleteObject(mono);
    DeleteDC(m);
}

TEST(Blit, BlitsAreClippedToBothSurfaces) {
    Canvas src(4, 4, RGB(1, 2, 3));
    Canvas dst(6, 6);
    ASSERT_TRUE(BitBlt(dst.dc, 3, 3, 10, 10, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(dst.at(2, 2), kWhite);
    EXPECT_EQ(dst.at(3, 3), RGB(1, 2, 3));
    EXPECT_EQ(dst.at(5, 5), RGB(1, 2, 3));
    dst.Fill(kWhite);
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 6, 6, src.dc, -2, -2, SRCCOPY));
    EXPECT_EQ(dst.at(1, 1), kWhite) << "no source there";
    EXPECT_EQ(dst.at(2, 2), RGB(1, 2, 3));
    EXPECT_EQ(dst.at(5, 5), RGB(1, 2, 3));
}

TEST(Blit, OverlappingCopyWithinOneBitmap) {
    Canvas c(6, 1);
    for (int x = 0; x < 6; ++x) SetPixel(c.dc, x, 0, RGB(x * 10, 0, 0));
    BitBlt(c.dc, 1, 0, 5, 1, c.dc, 0, 0, SRCCOPY);
    for (int x = 1; x < 6; ++x) EXPECT_EQ(c.at(x, 0), RGB((x - 1) * 10, 0, 0)) << x;
}

TEST(Blit, StretchBltTakesTheNearestPixel) {
    Canvas src(4, 2);
    const COLORREF cols[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(9, 9, 9)};
    for (int x = 0; x < 4; ++x) {
        SetPixel(src.dc, x, 0, cols[x]);
        SetPixel(src.dc, x, 1, cols[3 - x]);
    }
    Canvas up(8, 4);
    ASSERT_TRUE(StretchBlt(up.dc, 0, 0, 8, 4, src.dc, 0, 0, 4, 2, SRCCOPY));
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(up.at(x, 0), cols[x / 2]);
        EXPECT_EQ(up.at(x, 1), cols[x / 2]);
        EXPECT_EQ(up.at(x, 3), cols[3 - x / 2]);
    }
    Canvas down(2, 1);
    StretchBlt(down.dc, 0, 0, 2, 1, src.dc, 0, 0, 4, 2, SRCCOPY);
    EXPECT_EQ(down.at(0, 0), cols[0]);
    EXPECT_EQ(down.at(1, 0), cols[2]);
    // A crop from the corner scaled onto a rectangle: the thumbnail case.
    Canvas crop(6, 3);
    StretchBlt(crop.dc, 0, 0, 6, 3, src.dc, 0, 0, 2, 1, SRCCOPY);
    EXPECT_EQ(crop.at(0, 0), cols[0]);
    EXPECT_EQ(crop.at(2, 2), cols[0]);
    EXPECT_EQ(crop.at(3, 0), cols[1]);
    EXPECT_EQ(crop.at(5, 2), cols[1]);
}

std::vector<uint8_t> Dib8(int w, int h, bool topDown, BITMAPINFO** info) {
    const size_t header = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
    static std::vector<uint8_t> infoBytes;
    infoBytes.assign(header, 0);
    auto* bi = reinterpret_cast<BITMAPINFO*>(infoBytes.data());
    bi->bmiHeader.biSize = 40;
    bi->bmiHeader.biWidth = w;
    bi->bmiHeader.biHeight = topDown ? -h : h;
    bi->bmiHeader.biPlanes = 1;
    bi->bmiHeader.biBitCount = 8;
    bi->bmiHeader.biCompression = BI_RGB;
    bi->bmiHeader.biClrUsed = 256;
    bi->bmiHeader.biClrImportant = 256;
    auto* pal = reinterpret_cast<RGBQUAD*>(infoBytes.data() + sizeof(BITMAPINFOHEADER));
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7, 0};
    *info = bi;
    const int stride = (w + 3) & ~3;
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * h, 0xEE);  // padding bytes hold junk
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bits[static_cast<size_t>(y) * stride + x] = static_cast<uint8_t>(y * 16 + x);
    return bits;
}

TEST(Blit, StretchDIBitsPaintsPalettedRows) {
    for (bool topDown : {true, false}) {
        BITMAPINFO* bi = nullptr;
        auto bits = Dib8(3, 2, topDown, &bi);
        Canvas c(3, 2);
        ASSERT_EQ(StretchDIBits(c.dc, 0, 0, 3, 2, 0, 0, 3, 2, bits.data(), bi, DIB_RGB_COLORS, SRCCOPY), 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                int stored = topDown ? y : 1 - y;  // bottom-up pictures store the bottom row first
                int index = stored * 16 + x;
                EXPECT_EQ(c.at(x, y), RGB(7, 255 - index, index)) << x << "," << y << " topDown=" << topDown;
            }
    }
    {
        // Onto a monochrome bitmap: each pixel becomes the nearer of black and white.
        BITMAPINFO* bi = nullptr;
        auto bits = Dib8(3, 1, true, &bi);
        auto* pal = reinterpret_cast<RGBQUAD*>(reinterpret_cast<uint8_t*>(bi) + sizeof(BITMAPINFOHEADER));
        pal[0] = RGBQUAD{10, 10, 10, 0};
        pal[1] = RGBQUAD{250, 250, 250, 0};
        pal[2] = RGBQUAD{200, 220, 240, 0};
        HDC m = CreateCompatibleDC(nullptr);
        HBITMAP mono = CreateBitmap(3, 1, 1, 1, nullptr);
        HGDIOBJ old = SelectObject(m, mono);
        ASSERT_EQ(StretchDIBits(m, 0, 0, 3, 1, 0, 0, 3, 1, bits.data(), bi, DIB_RGB_COLORS, SRCCOPY), 1);
        EXPECT_EQ(GetPixel(m, 0, 0), kBlack);
        EXPECT_EQ(GetPixel(m, 1, 0), kWhite);
        EXPECT_EQ(GetPixel(m, 2, 0), kWhite);
        SelectObject(m, old);
        DeleteObject(mono);
        DeleteDC(m);
    }
    BITMAPINFO* bi = nullptr;
    auto bits = Dib8(3, 2, true, &bi);
    Canvas c(3, 2);
    bi->bmiHeader.biBitCount = 5;
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 3, 2, 0, 0, 3, 2, bits.data(), bi, DIB_RGB_COLORS, SRCCOPY), 0);
    bi->bmiHeader.biBitCount = 8;
    bi->bmiHeader.biWidth = 0;
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 3, 2, 0, 0, 3, 2, bits.data(), bi, DIB_RGB_COLORS, SRCCOPY), 0);
}

}  // namespace
