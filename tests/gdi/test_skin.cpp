// The generated default skin: every file of every screen size, strips that cut into their
// pieces, looks that differ, and sizes that fit each screen's layout constants.
#include "platform/gdi.h"
#include "platform/image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Screen {
    const char* prefix;
    int shortSide, longSide, textHeight, tabBar, tabGap, thumbW, thumbH;
    int waitX, waitY, waitW, waitH;
    double rowFactor, historyFont, searchFont, editFactor;
};

// The skin's layout constants of the five screen sizes.
const Screen kScreens[] = {
    {"def_800_480_", 480, 800, 23, 73, 2, 112, 84, 100, 120, 340, 175, 1.0, 2.0, 2.0, 3.5},
    {"def_640_480_", 480, 640, 20, 60, 2, 104, 78, 100, 120, 340, 175, 1.0, 2.0, 2.0, 3.5},
    {"def_320_240_", 240, 320, 14, 49, 2, 46, 35, 52, 55, 180, 80, 0.8, 4.0 / 3, 2.0, 2.5},
    {"def_480_320_", 320, 480, 20, 55, 0, 80, 60, 62, 99, 260, 136, 0.8, 4.0 / 3, 2.0, 2.5},
    {"def_400_240_", 240, 400, 17, 50, 0, 56, 42, 67, 70, 210, 95, 0.8, 4.0 / 3, 5.0 / 3, 2.5},
};

struct File {
    const char* name;
    int pieces;  // 0: an animation
};

const File kFiles[] = {
    {"dlg.gif", 0},        {"relVideo.gif", 0},      {"lumeoArrow.png", 2}, {"bottomBtn.png", 12},
    {"ClassifyBtn.png", 12}, {"dtlBtn.png", 2},      {"emptyPic.png", 1},   {"picBk.png", 1},
    {"innerTitleBar.png", 1}, {"pgrmLogo.png", 1},   {"pgrmUpBar.png", 1},  {"rankBtn.png", 6},
    {"rankNumbk.png", 1},  {"srchBtn.png", 2},       {"srchClear.png", 2}, {"stupLogo.png", 1},
};

std::string SkinDir() { return LUMEO_SKIN_DIR; }

struct Loaded {
    HBITMAP bmp = nullptr;
    int w = 0, h = 0;
    explicit Loaded(const std::string& path) {
        std::wstring wide(path.begin(), path.end());
        bmp = SHLoadImageFile(wide.c_str());
        if (!bmp) return;
        BITMAP bm{};
        GetObjectW(bmp, sizeof bm, &bm);
        w = bm.bmWidth;
        h = bm.bmHeight;
    }
    ~Loaded() {
        if (bmp) DeleteObject(bmp);
    }
    // Mean difference per channel between two pieces of a strip cut in `count`.
    double Difference(int count, int a, int b) const {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bmp);
        const int pw = w / count;
        double sum = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < pw; ++x) {
                COLORREF p = GetPixel(dc, a * pw + x, y), q = GetPixel(dc, b * pw + x, y);
                sum += std::abs(GetRValue(p) - GetRValue(q)) + std::abs(GetGValue(p) - GetGValue(q)) +
                       std::abs(GetBValue(p) - GetBValue(q));
            }
        SelectObject(dc, old);
        DeleteDC(dc);
        return sum / (3.0 * pw * h);
    }
};

struct Gif {
    bool ok = false;
    int w = 0, h = 0, frames = 0;
    bool loops = false;
};

// Walks the blocks of a GIF89a file.
Gif ReadGif(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), {});
    Gif g;
    if (d.size() < 13 || std::string(d.begin(), d.begin() + 6) != "GIF89a") return g;
    g.w = d[6] | (d[7] << 8);
    g.h = d[8] | (d[9] << 8);
    size_t i = 13;
    if (d[10] & 0x80) i += 3u << ((d[10] & 7) + 1);
    auto skipBlocks = [&]() {
        while (i < d.size() && d[i] != 0) i += d[i] + 1;
        ++i;
    };
    while (i < d.size()) {
        if (d[i] == 0x3B) {
            g.ok = true;
            return g;
        }
        if (d[i] == 0x21 && i + 2 < d.size()) {
            if (d[i + 1] == 0xFF && i + 14 < d.size() && std::string(d.begin() + i + 3, d.begin() + i + 14) == "NETSCAPE2.0")
                g.loops = true;
            i += 2;
            skipBlocks();
        } else if (d[i] == 0x2C && i + 10 < d.size()) {
            int l = d[i + 1] | (d[i + 2] << 8), t = d[i + 3] | (d[i + 4] << 8);
            int w = d[i + 5] | (d[i + 6] << 8), h = d[i + 7] | (d[i + 8] << 8);
            if (l + w > g.w || t + h > g.h) return g;
            int packed = d[i + 9];
            i += 10;
            if (packed & 0x80) i += 3u << ((packed & 7) + 1);
            ++i;  // LZW minimum code size
            skipBlocks();
            ++g.frames;
        } else {
            return g;
        }
    }
    return g;
}

TEST(Skin, EveryFileOfEveryScreenSizeLoadsAndCutsEvenly) {
    for (const Screen& s : kScreens) {
        for (const File& f : kFiles) {
            const std::string path = SkinDir() + s.prefix + f.name;
            if (f.pieces == 0) {
                Gif g = ReadGif(path);
                EXPECT_TRUE(g.ok) << path;
                EXPECT_GE(g.frames, 2) << path;
                EXPECT_TRUE(g.loops) << path;
                continue;
            }
            Loaded p(path);
            ASSERT_NE(p.bmp, nullptr) << path;
            EXPECT_GT(p.h, 0) << path;
            EXPECT_EQ(p.w % f.pieces, 0) << path << " is " << p.w << " wide";
        }
    }
}

TEST(Skin, PressedNormalAndCurrentLooksDiffer) {
    const double visible = 8.0;  // mean difference per channel, out of 255
    for (const Screen& s : kScreens) {
        const std::string dir = SkinDir() + s.prefix;
        Loaded tabs(dir + "bottomBtn.png");
        for (int k = 0; k < 4; ++k) {
            EXPECT_GT(tabs.Difference(12, 3 * k, 3 * k + 1), visible) << s.prefix << " tab " << k;
            EXPECT_GT(tabs.Difference(12, 3 * k, 3 * k + 2), visible) << s.prefix << " tab " << k;
            EXPECT_GT(tabs.Difference(12, 3 * k + 1, 3 * k + 2), visible) << s.prefix << " tab " << k;
        }
        struct { const char* name; int count; } pairs[] = {
            {"ClassifyBtn.png", 12}, {"rankBtn.png", 6}, {"srchBtn.png", 2}, {"srchClear.png", 2}, {"dtlBtn.png", 2},
            {"lumeoArrow.png", 2}};
        for (auto& p : pairs) {
            Loaded strip(dir + p.name);
            for (int k = 0; k < p.count / 2; ++k)
                EXPECT_GT(strip.Difference(p.count, 2 * k, 2 * k + 1), visible) << s.prefix << p.name << " " << k;
        }
        Loaded channels(dir + "ClassifyBtn.png");
        for (int k = 1; k < 6; ++k) EXPECT_GT(channels.Difference(12, 0, 2 * k), visible) << "channel " << k;
        Loaded empty(dir + "emptyPic.png"), missing(dir + "picBk.png");
        ASSERT_EQ(empty.w, missing.w);
        // The two thumbnails side by side: cut a two-piece strip out of them.
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, empty.bmp);
        COLORREF a = GetPixel(dc, 1, 1);
        SelectObject(dc, missing.bmp);
        COLORREF b = GetPixel(dc, 1, 1);
        SelectObject(dc, old);
        DeleteDC(dc);
        EXPECT_NE(a, b) << s.prefix << " failed and missing thumbnails look alike";
    }
}

TEST(Skin, PicturesFitTheLayoutOfTheirScreen) {
    for (const Screen& s : kScreens) {
        const std::string dir = SkinDir() + s.prefix;
        SCOPED_TRACE(s.prefix);
        Loaded tabs(dir + "bottomBtn.png");
        const int tw = tabs.w / 12;
        EXPECT_LE(4 * tw + 3 * s.tabGap, s.shortSide);
        EXPECT_LE(tabs.h, s.tabBar);
        Loaded channels(dir + "ClassifyBtn.png");
        EXPECT_LE(6 * (channels.w / 12), s.longSide);
        EXPECT_LE(3 * (channels.w / 12), s.shortSide);
        Loaded ranks(dir + "rankBtn.png");
        EXPECT_LE(4 * (ranks.w / 6), s.longSide);
        EXPECT_LE(3 * (ranks.w / 6), s.shortSide);
        for (const char* name : {"emptyPic.png", "picBk.png"}) {
            Loaded t(dir + name);
            EXPECT_EQ(t.w, s.thumbW) << name;
            EXPECT_EQ(t.h, s.thumbH) << name;
        }
        Loaded title(dir + "innerTitleBar.png");
        EXPECT_GT(title.h, s.textHeight);
        Loaded logo(dir + "pgrmLogo.png"), bar(dir + "pgrmUpBar.png");
        EXPECT_EQ(logo.h, bar.h) << "the logo sits on the upper bar";
        EXPECT_LE(logo.w, s.shortSide);
        Loaded stup(dir + "stupLogo.png");
        EXPECT_LE(stup.w, s.shortSide);
        // Search box and button across the short side; the history rows and the box's
        // text fit the button's height.
        Loaded search(dir + "srchBtn.png");
        const int bw = search.w / 2, bh = search.h;
        EXPECT_LE(static_cast<int>(bw * s.editFactor) + bw + 1, s.shortSide);
        EXPECT_GE(static_cast<int>(bh * s.rowFactor), static_cast<int>(s.textHeight * s.historyFont));
        EXPECT_GE(bh - 2, static_cast<int>(s.textHeight * s.searchFont));
        Gif wait = ReadGif(dir + "dlg.gif");
        EXPECT_LE(s.waitX + wait.w, s.waitW);
        EXPECT_LE(s.waitY + wait.h, s.waitH);
        Gif related = ReadGif(dir + "relVideo.gif");
        EXPECT_EQ(related.w, 137);
        EXPECT_EQ(related.h, 20);
    }
}

}  // namespace
