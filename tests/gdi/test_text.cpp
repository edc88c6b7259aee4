// Text layout: wrapping (Latin at blanks, Chinese between characters), ellipsis, the
// line rules of DT_EDITCONTROL and DT_NOCLIP, placement, and font metrics.
#include "canvas.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);

struct TextCanvas : Canvas {
    HFONT font = nullptr;
    HGDIOBJ oldFont = nullptr;
    TextCanvas(int w, int h, int height = 20, int weight = FW_NORMAL, bool underline = false) : Canvas(w, h) {
        LOGFONTW lf{};
        lf.lfHeight = height;
        lf.lfWeight = weight;
        lf.lfUnderline = underline;
        lf.lfCharSet = DEFAULT_CHARSET;
        font = CreateFontIndirectW(&lf);
        oldFont = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
    }
    ~TextCanvas() {
        SelectObject(dc, oldFont);
        DeleteObject(font);
    }
    int Extent(const wchar_t* s) {
        SIZE sz{};
        GetTextExtentPoint32W(dc, s, static_cast<int>(wcslen(s)), &sz);
        return sz.cx;
    }
    int LineHeight() {
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        return tm.tmHeight;
    }
    // Lines and width DT_CALCRECT reports for a rectangle `width` wide.
    RECT Calc(const wchar_t* s, int width, UINT flags) {
        RECT r{0, 0, width, 1000};
        DrawTextW(dc, s, -1, &r, flags | DT_CALCRECT);
        return r;
    }
    bool SameAs(TextCanvas& other) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (at(x, y) != other.at(x, y)) return false;
        return true;
    }
};

const wchar_t kTen[] = L"一二三四五六七八九十";

TEST(DrawText, ChineseBreaksBetweenCharacters) {
    TextCanvas c(400, 200);
    const int cjk = c.Extent(L"中"), lh = c.LineHeight();
    ASSERT_GT(cjk, 0);
    EXPECT_EQ(c.Extent(L"中文"), 2 * cjk);
    // Four characters fit a line, not five: 4 + 4 + 2.
    RECT r = c.Calc(kTen, 5 * cjk - 1, DT_WORDBREAK | DT_NOPREFIX);
    EXPECT_EQ(r.bottom, 3 * lh);
    EXPECT_EQ(r.right, 4 * cjk);
    // The drawn text fills three line bands.
    RECT box{0, 0, 5 * cjk - 1, 200};
    DrawTextW(c.dc, kTen, -1, &box, DT_WORDBREAK | DT_NOPREFIX);
    EXPECT_TRUE(c.RowHasInk(lh / 2));
    EXPECT_TRUE(c.RowHasInk(2 * lh + lh / 2));
    EXPECT_FALSE(c.RowHasInk(3 * lh + lh / 2));
}

TEST(DrawText, ClosingPunctuationDoesNotStartALine) {
    TextCanvas c(400, 200);
    const int cjk = c.Extent(L"中"), lh = c.LineHeight();
    ASSERT_EQ(c.Extent(L"，"), cjk);
    // Two characters per line: "中文" / "，中" would start a line with the comma, so
    // "文" moves down with it.
    RECT r = c.Calc(L"中文，中", 2 * cjk, DT_WORDBREAK | DT_NOPREFIX);
    EXPECT_EQ(r.bottom, 3 * lh);
}

TEST(DrawText, LatinBreaksAtBlanksAndCutsOverlongWords) {
    TextCanvas c(400, 200);
    const int lh = c.LineHeight();
    const int two = c.Extent(L"alpha beta");
    RECT r = c.Calc(L"alpha beta gamma", two + 2, DT_WORDBREAK);
    EXPECT_EQ(r.bottom, 2 * lh);
    EXPECT_EQ(r.right, two);
    // "beta" is not split although "alpha be" would fit a narrower line.
    const int narrow = c.Extent(L"alpha be");
    r = c.Calc(L"alpha beta", narrow, DT_WORDBREAK);
    EXPECT_EQ(r.bottom, 2 * lh);
    EXPECT_EQ(r.right, c.Extent(L"alpha"));
    // A word wider than the line is cut where it stops fitting.
    r = c.Calc(L"internationalization", c.Extent(L"interna"), DT_WORDBREAK | DT_EDITCONTROL);
    EXPECT_GE(r.bottom, 3 * lh);
    EXPECT_LE(r.right, c.Extent(L"interna"));
    // Mixed text: Latin words keep together, Chinese breaks anywhere.
    r = c.Calc(L"播放Lumeo视频", c.Extent(L"播放Lumeo"), DT_WORDBREAK);
    EXPECT_EQ(r.bottom, 2 * lh);
    r = c.Calc(L"播放Lumeo视频", c.Extent(L"播放Lumeo") - 1, DT_WORDBREAK);
    EXPECT_EQ(r.bottom, 3 * lh);
    EXPECT_EQ(r.right, c.Extent(L"Lumeo视"));
}

TEST(DrawText, HardBreaksAndCalcRect) {
    TextCanvas c(400, 200);
    const int lh = c.LineHeight();
    RECT r = c.Calc(L"a\r\nbbb\r\ncc", 0, 0);
    EXPECT_EQ(r.bottom, 3 * lh);
    EXPECT_EQ(r.right, c.Extent(L"bbb"));
    r = c.Calc(L"a\r\nbbb", 0, DT_SINGLELINE);
    EXPECT_EQ(r.bottom, lh);
    EXPECT_EQ(r.right, c.Extent(L"abbb"));
    // Prefix processing: "&&" shows one ampersand, "&F" underlines F.
    EXPECT_EQ(c.Calc(L"&File", 0, DT_SINGLELINE).right, c.Extent(L"File"));
    EXPECT_EQ(c.Calc(L"&&", 0, DT_SINGLELINE).right, c.Extent(L"&"));
    EXPECT_EQ(c.Calc(L"&File", 0, DT_SINGLELINE | DT_NOPREFIX).right, c.Extent(L"&File"));
    // Nothing is drawn while calculating.
    EXPECT_EQ(c.Ink().left, -1);
}

TEST(DrawText, EndEllipsisOnOneLine) {
    const int W = 400, H = 40;
    TextCanvas a(W, H), b(W, H);
    const int cjk = a.Extent(L"中"), ell = a.Extent(L"…");
    const int width = 5 * cjk;
    int keep = 0;
    while ((keep + 1) * cjk + ell <= width) ++keep;
    std::wstring expected = std::wstring(kTen, keep) + L"…";
    RECT r{0, 0, width, H};
    DrawTextW(a.dc, kTen, -1, &r, DT_END_ELLIPSIS | DT_NOPREFIX | DT_SINGLELINE);
    RECT r2{0, 0, W, H};
    DrawTextW(b.dc, expected.c_str(), -1, &r2, DT_NOPREFIX | DT_SINGLELINE);
    EXPECT_TRUE(a.SameAs(b)) << "expected " << keep << " characters and the ellipsis";
    EXPECT_LT(a.Ink().right, width);
    // Text that fits is left alone.
    TextCanvas c(W, H), d(W, H);
    RECT r3{0, 0, width, H}, r4{0, 0, W, H};
    DrawTextW(c.dc, L"一二", -1, &r3, DT_END_ELLIPSIS | DT_NOPREFIX);
    DrawTextW(d.dc, L"一二", -1, &r4, DT_NOPREFIX);
    EXPECT_TRUE(c.SameAs(d));
}

TEST(DrawText, WordBreakWithEllipsisEndsTheLastVisibleLine) {
    const int W = 300, H = 120;
    TextCanvas a(W, H), b(W, H);
    const int cjk = a.Extent(L"中"), ell = a.Extent(L"…"), lh = a.LineHeight();
    const int width = 4 * cjk;
    int keep = 0;
    while ((keep + 1) * cjk + ell <= width) ++keep;
    // Two whole lines fit (and a part of a third, which DT_EDITCONTROL hides).
    RECT r{0, 0, width, 2 * lh + lh / 2};
    DrawTextW(a.dc, kTen, -1, &r, 0xA910);
    std::wstring expected = std::wstring(kTen, 4) + L"\r\n" + std::wstring(kTen + 4, keep) + L"…";
    RECT r2{0, 0, W, H};
    DrawTextW(b.dc, expected.c_str(), -1, &r2, DT_NOPREFIX);
    EXPECT_TRUE(a.SameAs(b));
    EXPECT_FALSE(a.RowHasInk(2 * lh + lh / 2 - 1));
}

TEST(DrawText, EditControlHidesAPartlyVisibleLastLine) {
    TextCanvas a(200, 200), b(200, 200);
    const int lh = a.LineHeight();
    const wchar_t* text = L"一\r\n二\r\n三";
    RECT r{0, 0, 200, 2 * lh + lh / 2};
    DrawTextW(a.dc, text, -1, &r, DT_EDITCONTROL | DT_NOPREFIX);
    DrawTextW(b.dc, text, -1, &r, DT_NOPREFIX);
    bool aThird = false, bThird = false;
    for (int y = 2 * lh; y < 2 * lh + lh / 2; ++y) {
        aThird |= a.RowHasInk(y);
        bThird |= b.RowHasInk(y);
    }
    EXPECT_FALSE(aThird);
    EXPECT_TRUE(bThird) << "without DT_EDITCONTROL the third line shows, clipped";
    for (int y = 2 * lh + lh / 2; y < 200; ++y) EXPECT_FALSE(b.RowHasInk(y)) << "clipped at the rectangle";
}

TEST(DrawText, NoClipDrawsOutsideTheRectangle) {
    TextCanvas a(300, 40), b(300, 40);
    const int cjk = a.Extent(L"中");
    RECT r{0, 0, 2 * cjk, 40};
    DrawTextW(a.dc, kTen, -1, &r, DT_SINGLELINE | DT_NOPREFIX);
    DrawTextW(b.dc, kTen, -1, &r, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    EXPECT_LT(a.Ink().right, 2 * cjk);
    EXPECT_GT(b.Ink().right, 5 * cjk);
}

TEST(DrawText, CentringHorizontallyAndVertically) {
    struct { UINT flags; const char* name; } cases[] = {
        {DT_CENTER | DT_VCENTER | DT_SINGLELINE, "single line"},
        {0x0805, "centred badge without DT_SINGLELINE"},
        {0x0905, "centred empty-list text without DT_SINGLELINE"},
    };
    for (auto& k : cases) {
        TextCanvas c(120, 90);
        RECT r{10, 10, 110, 80};
        DrawTextW(c.dc, L"中", -1, &r, k.flags);
        RECT ink = c.Ink();
        ASSERT_GE(ink.left, 0) << k.name;
        EXPECT_NEAR((ink.left + ink.right) / 2.0, 60, 3) << k.name;
        EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 45, 4) << k.name;
    }
    TextCanvas c(120, 90);
    RECT r{10, 10, 110, 80};
    DrawTextW(c.dc, L"中", -1, &r, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE);
    RECT ink = c.Ink();
    EXPECT_GT(ink.left, 80);
    EXPECT_GT(ink.top, 50);
}

TEST(DrawText, OpaqueModeFillsOnlyTheCharacterCells) {
    TextCanvas c(200, 60);
    const int cjk = c.Extent(L"中"), lh = c.LineHeight();
    SetBkMode(c.dc, OPAQUE);
    SetBkColor(c.dc, RGB(0xA3, 0xD6, 0xFA));
    RECT r{0, 0, 200, 60};
    DrawTextW(c.dc, L"中", -1, &r, DT_NOPREFIX);
    EXPECT_EQ(c.at(0, 0), RGB(0xA3, 0xD6, 0xFA));
    EXPECT_EQ(c.at(cjk - 1, lh - 1), RGB(0xA3, 0xD6, 0xFA));
    EXPECT_EQ(c.at(cjk, 0), kWhite);
    EXPECT_EQ(c.at(0, lh), kWhite);
}

TEST(DrawText, TextColourAndBadInput) {
    TextCanvas c(100, 40);
    SetTextColor(c.dc, RGB(255, 0, 0));
    RECT r{0, 0, 100, 40};
    DrawTextW(c.dc, L"中", -1, &r, DT_NOPREFIX);
    bool red = false;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x) red |= c.at(x, y) == RGB(255, 0, 0);
    EXPECT_TRUE(red);
    EXPECT_EQ(DrawTextW(c.dc, L"x", -1, nullptr, 0), 0);
    EXPECT_EQ(DrawTextW(nullptr, L"x", -1, &r, 0), 0);
    EXPECT_EQ(DrawTextW(c.dc, nullptr, -1, &r, 0), 0);
    // Characters the font lacks, stray surrogates and controls draw without harm.
    const wchar_t odd[] = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x1F600), 0x7, L'b', 0};
    EXPECT_GT(DrawTextW(c.dc, odd, -1, &r, DT_WORDBREAK), 0);
}

TEST(Fonts, HeightsWeightsAndTheSystemFace) {
    {
        TextCanvas c(10, 10, 23);
        EXPECT_EQ(c.LineHeight(), 23) << "a positive height is the cell height";
    }
    {
        TextCanvas c(10, 10, -20);
        EXPECT_GT(c.LineHeight(), 20) << "a negative height is the character height";
    }
    LOGFONTW sys{};
    ASSERT_EQ(GetObjectW(GetStockObject(SYSTEM_FONT), sizeof sys, &sys), static_cast<int>(sizeof sys));
    EXPECT_NE(sys.lfFaceName[0], 0);
    // Bold and underlined text leaves more ink than the plain one.
    auto inkCount = [](int weight, bool underline) {
        TextCanvas c(200, 40, 23, weight, underline);
        RECT r{0, 0, 200, 40};
        DrawTextW(c.dc, L"粗体Bold", -1, &r, DT_NOPREFIX);
        int n = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 200; ++x) n += c.at(x, y) != kWhite;
        return n;
    };
    const int plain = inkCount(FW_NORMAL, false);
    EXPECT_GT(inkCount(FW_BOLD, false), plain);
    EXPECT_GT(inkCount(FW_NORMAL, true), plain);
    TextCanvas n(10, 10, 23), b(10, 10, 23, FW_BOLD);
    EXPECT_GE(b.Extent(L"Bold"), n.Extent(L"Bold"));
}

}  // namespace
