// The skin's own functions: cutting strips, the constants of a screen index, loading the
// files of a size and failing cleanly when one is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <png.h>

#include "entryGlobals.h"
#include "log.h"
#include "skin.h"
#include "platform/ui.h"

namespace {

class SkinTest : public testing::Test {
protected:
    void SetUp() override {
        dir = testing::TempDir() + "/skin-test-" + std::to_string(getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/Log");
        ASSERT_EQ(InitLog(platform::Utf8ToWide(dir + "/Log/").c_str(), L"Lumeo", 3), 0);
    }
    std::string LogText() {
        std::ifstream in(platform::ToNativePath(g_logPath));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The program folder: the build's, whose skin the generator drew.
    void UseProgramFolder(const std::string& folder) {
        std::wstring w = platform::Utf8ToWide(folder);
        wcsncpy(g_appDir, w.c_str(), APP_DIR_LEN - 1);
    }
    std::string dir;
};

TEST_F(SkinTest, SplitBmpCutsEqualPiecesFromTheLeftAndRefusesBadCounts) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP strip = CreateBitmap(100, 4, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, strip);
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < 4; ++y) SetPixel(dc, x, y, RGB(x, 0, 0));
    SelectObject(dc, old);

    HBITMAP pieces[MAX_DISTBMP_NUM] = {};
    ASSERT_EQ(SplitBmp(strip, pieces, 3), 0);
    int lefts[] = {0, 33, 66};
    for (int i = 0; i < 3; ++i) {
        SIZE size = BitmapSize(pieces[i]);
        EXPECT_EQ(size.cx, 33);
        EXPECT_EQ(size.cy, 4);
        old = SelectObject(dc, pieces[i]);
        EXPECT_EQ(GetPixel(dc, 0, 0), RGB(lefts[i], 0, 0));
        EXPECT_EQ(GetPixel(dc, 32, 3), RGB(lefts[i] + 32, 0, 0));
        SelectObject(dc, old);
        DeleteObject(pieces[i]);
    }
    ASSERT_EQ(SplitBmp(strip, pieces, 50), 0);
    EXPECT_EQ(BitmapSize(pieces[49]).cx, 2);
    for (HBITMAP& p : pieces) {
        if (p) DeleteObject(p);
        p = nullptr;
    }
    EXPECT_EQ(SplitBmp(strip, pieces, 51), -1);
    EXPECT_EQ(SplitBmp(strip, pieces, 0), -1);
    EXPECT_EQ(pieces[0], nullptr);
    std::string log = LogText();
    EXPECT_NE(log.find("distNum <= 0 || distNum > MAX_DISTBMP_NUM: 51"), std::string::npos);
    EXPECT_NE(log.find("distNum <= 0 || distNum > MAX_DISTBMP_NUM: 0"), std::string::npos);
    DeleteObject(strip);
    DeleteDC(dc);
}

TEST_F(SkinTest, OnlyTheFiveScreenIndicesHaveConstants) {
    platform::ui::SetScreenSize(480, 800);
    for (int index : {0, 6}) {
        Skin s{};
        EXPECT_EQ(InitParam(&s, index), -1);
        EXPECT_EQ(s.longSide, 800);
        EXPECT_EQ(s.shortSide, 480);
        EXPECT_NE(LogText().find("Unknown screen size : " + std::to_string(index)), std::string::npos);
    }
    Skin s{};
    ASSERT_EQ(InitParam(&s, 5), 0);
    EXPECT_EQ(s.textHeight, 17);
    EXPECT_EQ(s.thumbFramePen, 1);
    EXPECT_DOUBLE_EQ(s.fontFactor1, 5.0 / 3.0);
    EXPECT_EQ(s.waitMetric9, 210);
    EXPECT_EQ(s.waitMetric10, 95);
    EXPECT_EQ(s.periodCaption[2], CStringW(L"本月"));
    EXPECT_EQ(s.searchHistory[0], CStringW(L""));
    ReleaseSkin(&s);
}

TEST_F(SkinTest, SmallScreensNeitherNameNorLoadTheArrowAndReleaseTwiceIsHarmless) {
    platform::ui::SetScreenSize(320, 240);
    UseProgramFolder(LUMEO_DIST);
    Skin& s = g_skin;
    ASSERT_EQ(InitSkin(&s, 3, L"Def", L"def_320_240_"), 0);
    EXPECT_EQ(s.imagePath[SKIN_ARROW][0], 0);
    EXPECT_EQ(s.arrow[0], nullptr);
    EXPECT_NE(std::wstring(s.imagePath[SKIN_STUP_LOGO]).find(L"\\Res\\Skin\\Def\\def_320_240_stupLogo.png"),
              std::wstring::npos);
    EXPECT_NE(std::wstring(s.imagePath[SKIN_DLG_GIF]).find(L"def_320_240_dlg.gif"), std::wstring::npos);
    // Every piece is a twelfth, a sixth or a half of its strip.
    SIZE tab = BitmapSize(s.tabBtn[0]);
    EXPECT_GT(tab.cx, 0);
    for (HBITMAP b : s.tabBtn) EXPECT_EQ(BitmapSize(b).cx, tab.cx);
    for (HBITMAP b : s.channelBtn) EXPECT_NE(b, nullptr);
    for (HBITMAP b : s.rankBtn) EXPECT_NE(b, nullptr);
    EXPECT_NE(s.rankNumBk, nullptr);
    EXPECT_EQ(s.arrowStrip, nullptr);
    EXPECT_EQ(s.tabStrip, nullptr);
    ReleaseSkin(&s);
    EXPECT_EQ(s.tabBtn[5], nullptr);
    EXPECT_EQ(s.periodPos, nullptr);
    ReleaseSkin(&s);
}

TEST_F(SkinTest, AMissingOrBrokenSkinFileStopsInitSkinWithItsPath) {
    platform::ui::SetScreenSize(800, 480);
    std::string folder = dir + "/prog";
    std::string skin = folder + "/Res/Skin/Def";
    std::filesystem::create_directories(skin);
    std::string dist = LUMEO_DIST;
    for (auto& e : std::filesystem::directory_iterator(dist + "/Res/Skin/Def"))
        if (e.path().filename().string().rfind("def_800_480_", 0) == 0)
            std::filesystem::copy_file(e.path(), skin + "/" + e.path().filename().string());
    {
        std::ofstream broken(skin + "/def_800_480_picBk.png", std::ios::trunc);
        broken << "\x89PNG\r\n\x1a\n broken";
    }
    std::filesystem::remove(skin + "/def_800_480_rankBtn.png");
    UseProgramFolder(folder);

    Skin s{};
    EXPECT_EQ(InitSkin(&s, 1, L"Def", L"def_800_480_"), -1);
    std::string log = LogText();
    EXPECT_NE(log.find("SHLoadImageFile failed : path="), std::string::npos);
    EXPECT_NE(log.find("def_800_480_rankBtn.png"), std::string::npos);
    EXPECT_NE(log.find("InitPicture failed"), std::string::npos);
    ReleaseSkin(&s);

    std::filesystem::copy_file(dist + "/Res/Skin/Def/def_800_480_rankBtn.png", skin + "/def_800_480_rankBtn.png");
    Skin t{};
    EXPECT_EQ(InitSkin(&t, 1, L"Def", L"def_800_480_"), -1);
    EXPECT_NE(LogText().find("def_800_480_picBk.png"), std::string::npos);
    ReleaseSkin(&t);
    ReleaseSkin(&t);
}

TEST(FileNameOffset, PositionAfterTheLastSeparator) {
    struct Case {
        const wchar_t* path;
        int offset;
    } cases[] = {{L"\\Program Files\\Lumeo\\Lumeo.exe", 21}, {L"C:name.txt", 2}, {L"a/b\\c", 4},
                 {L"plain.png", 0},                       {L"dir\\", 4},       {nullptr, 0}};
    for (const Case& c : cases) EXPECT_EQ(FileNameOffset(c.path), c.offset) << (c.path ? platform::WideToUtf8(c.path) : "null");
}

// ---- The constants of every screen index, as the skin's table gives them ----

// Index 1 800x480, 2 640x480, 3 320x240, 4 480x320, 5 400x240.
struct IntRow {
    const char* name;
    int Skin::*field;
    int value[5];
};
struct RealRow {
    const char* name;
    double Skin::*field;
    double value[5];
};

const IntRow kIntTable[] = {
    {"textHeight", &Skin::textHeight, {23, 20, 14, 20, 17}},
    {"hasArrow", &Skin::hasArrow, {1, 1, 0, 0, 0}},
    {"showPublisher", &Skin::showPublisher, {1, 1, 0, 0, 0}},
    {"landscapeColumns", &Skin::landscapeColumns, {1, 1, 0, 0, 0}},
    {"showRelatedCaption", &Skin::showRelatedCaption, {1, 1, 0, 0, 0}},
    {"wideDetail", &Skin::wideDetail, {1, 1, 0, 0, 0}},
    {"startupMetric1", &Skin::startupMetric1, {177, 108, 52, 100, 100}},
    {"startupMetric2", &Skin::startupMetric2, {68, 68, 28, 52, 52}},
    {"startupTextHeight", &Skin::startupTextHeight, {23, 20, 14, 20, 17}},
    {"mainMetric1", &Skin::mainMetric1, {73, 60, 49, 55, 50}},
    {"titleMetric1", &Skin::titleMetric1, {10, 10, 5, 10, 8}},
    {"titleMetric2", &Skin::titleMetric2, {120, 120, 80, 100, 80}},
    {"titleTextHeight", &Skin::titleTextHeight, {23, 20, 14, 20, 17}},
    {"thumbFramePen", &Skin::thumbFramePen, {2, 2, 2, 2, 1}},
    {"rowMetric1", &Skin::rowMetric1, {8, 8, 5, 5, 5}},
    {"rowMetric2", &Skin::rowMetric2, {3, 3, 0, 0, 0}},
    {"rowMetric3", &Skin::rowMetric3, {2, 2, 2, 0, 0}},
    {"thumbWidth", &Skin::thumbWidth, {112, 104, 46, 80, 56}},
    {"thumbHeight", &Skin::thumbHeight, {84, 78, 35, 60, 42}},
    {"mainMetric2", &Skin::mainMetric2, {4, 6, 0, 0, 0}},
    {"periodMetric1", &Skin::periodMetric1, {7, 6, 5, 5, 4}},
    {"periodMetric2", &Skin::periodMetric2, {7, 6, 4, 4, 3}},
    {"periodMetric3", &Skin::periodMetric3, {101, 95, 53, 79, 62}},
    {"periodMetric4", &Skin::periodMetric4, {150, 147, 45, 45, 45}},
    {"periodMetric5", &Skin::periodMetric5, {10, 10, 5, 10, 5}},
    {"periodMetric6", &Skin::periodMetric6, {10, 10, 4, 4, 4}},
    {"periodCount", &Skin::periodCount, {3, 3, 3, 3, 3}},
    {"periodTabWidth", &Skin::periodTabWidth, {80, 80, 53, 70, 53}},
    {"detailMetric1", &Skin::detailMetric1, {5, 2, 5, 7, 8}},
    {"detailMetric2", &Skin::detailMetric2, {2, 2, 2, 2, 2}},
    {"relatedRowsPortrait", &Skin::relatedRowsPortrait, {5, 4, 3, 3, 5}},
    {"relatedRowsLandscape", &Skin::relatedRowsLandscape, {4, 4, 2, 2, 3}},
    {"helpMetric1", &Skin::helpMetric1, {15, 15, 15, 15, 15}},
    {"helpMetric2", &Skin::helpMetric2, {15, 15, 15, 15, 15}},
    {"helpMetric3", &Skin::helpMetric3, {15, 15, 15, 15, 15}},
    {"mainMetric3", &Skin::mainMetric3, {3, 3, 3, 3, 3}},
    {"mainMetric4", &Skin::mainMetric4, {3, 3, 2, 2, 2}},
    {"mainMetric5", &Skin::mainMetric5, {6, 6, 6, 6, 6}},
    {"mainMetric6", &Skin::mainMetric6, {1, 1, 1, 1, 1}},
    {"searchHistoryCount", &Skin::searchHistoryCount, {3, 3, 3, 3, 3}},
    {"searchMetric1", &Skin::searchMetric1, {1, 1, 1, 1, 1}},
    {"mainMetric7", &Skin::mainMetric7, {10, 10, 10, 10, 10}},
    {"mainMetric8", &Skin::mainMetric8, {3, 3, 3, 3, 3}},
    {"mainMetric9", &Skin::mainMetric9, {1, 1, 1, 1, 1}},
    {"waitMetric1", &Skin::waitMetric1, {100, 100, 52, 62, 67}},
    {"waitMetric2", &Skin::waitMetric2, {120, 120, 55, 99, 70}},
    {"mainMetric10", &Skin::mainMetric10, {8, 8, 8, 8, 8}},
    {"waitMetric3", &Skin::waitMetric3, {70, 70, 30, 30, 15}},
    {"waitMetric4", &Skin::waitMetric4, {250, 170, 100, 125, 125}},
    {"waitMetric5", &Skin::waitMetric5, {340, 340, 180, 260, 210}},
    {"waitMetric6", &Skin::waitMetric6, {175, 175, 80, 136, 95}},
    {"waitMetric7", &Skin::waitMetric7, {230, 150, 70, 110, 95}},
    {"waitMetric8", &Skin::waitMetric8, {140, 140, 80, 70, 70}},
    {"waitMetric9", &Skin::waitMetric9, {340, 340, 180, 260, 210}},
    {"waitMetric10", &Skin::waitMetric10, {175, 175, 80, 136, 95}},
};

const RealRow kRealTable[] = {
    {"fontFactor1", &Skin::fontFactor1, {2.0, 2.0, 2.0, 2.0, 5.0 / 3}},
    {"fontFactor2", &Skin::fontFactor2, {1.0, 1.0, 0.8, 0.8, 0.8}},
    {"fontFactor3", &Skin::fontFactor3, {0.6, 0.6, 0.6, 0.6, 0.6}},
    {"fontFactor4", &Skin::fontFactor4, {2.0, 2.0, 4.0 / 3, 4.0 / 3, 4.0 / 3}},
    {"fontFactor5", &Skin::fontFactor5, {1.0, 1.0, 1.0, 1.0, 1.0}},
    {"fontFactor6", &Skin::fontFactor6, {3.5, 3.5, 2.5, 2.5, 2.5}},
    {"fontFactor7", &Skin::fontFactor7, {3.5, 3.5, 3.5, 3.5, 3.5}},
    {"mainScale", &Skin::mainScale, {1.5, 1.5, 1.25, 1.25, 1.25}},
};

TEST_F(SkinTest, EveryScreenIndexHasTheConstantsOfTheTable) {
    const SIZE screens[] = {{800, 480}, {640, 480}, {320, 240}, {480, 320}, {400, 240}};
    for (int index = 1; index <= 5; ++index) {
        SCOPED_TRACE("index " + std::to_string(index));
        // Portrait: the sides are the larger and the smaller of the two.
        platform::ui::SetScreenSize(screens[index - 1].cy, screens[index - 1].cx);
        Skin s{};
        ASSERT_EQ(InitParam(&s, index), 0);
        EXPECT_EQ(s.longSide, screens[index - 1].cx);
        EXPECT_EQ(s.shortSide, screens[index - 1].cy);
        for (const IntRow& r : kIntTable) EXPECT_EQ(s.*r.field, r.value[index - 1]) << r.name;
        // The table gives 1.6667 and 1.3333 for the thirds.
        for (const RealRow& r : kRealTable) EXPECT_NEAR(s.*r.field, r.value[index - 1], 5e-5) << r.name;
        EXPECT_EQ(s.mainColour, RGB(0, 68, 117));
        ASSERT_NE(s.periodCaption, nullptr);
        EXPECT_EQ(s.periodCaption[0], CStringW(L"今日"));
        EXPECT_EQ(s.periodCaption[1], CStringW(L"本周"));
        EXPECT_EQ(s.periodCaption[2], CStringW(L"本月"));
        EXPECT_NE(s.periodPos, nullptr);
        ReleaseSkin(&s);
    }
}

// ---- The pieces of each strip, against the strip files' own columns ----

// A PNG read with libpng, as 0xRRGGBB.
struct Png {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    explicit Png(const std::string& path) {
        png_image img{};
        img.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&img, path.c_str())) return;
        img.format = PNG_FORMAT_RGB;
        rgb.resize(PNG_IMAGE_SIZE(img));
        if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) return;
        width = static_cast<int>(img.width);
        height = static_cast<int>(img.height);
    }
    int At(int x, int y) const {
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
        return (p[0] << 16) | (p[1] << 8) | p[2];
    }
    // Piece i of `count`, its columns as the strip lays them out, row by row.
    std::vector<int> Piece(int i, int count) const {
        std::vector<int> out;
        int w = width / count;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < w; ++x) out.push_back(At(width * i / count + x, y));
        return out;
    }
};

std::vector<int> PixelsOf(HBITMAP b) {
    std::vector<int> out;
    SIZE size = BitmapSize(b);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, b);
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            out.push_back((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
        }
    SelectObject(dc, old);
    DeleteDC(dc);
    return out;
}

struct SkinSize {
    int index, width, height;
    const char* prefix;
};

void PrintTo(const SkinSize& z, std::ostream* out) { *out << z.prefix; }

class SkinPieces : public SkinTest, public testing::WithParamInterface<SkinSize> {};

TEST_P(SkinPieces, EachButtonHoldsThePiecesOfItsStripInTheSkinsOrder) {
    const SkinSize& z = GetParam();
    platform::ui::SetScreenSize(z.width, z.height);
    UseProgramFolder(LUMEO_DIST);
    Skin& s = g_skin;
    ASSERT_EQ(InitSkin(&s, z.index, L"Def", CStringW(platform::Utf8ToWide(z.prefix).c_str())), 0) << LogText();
    struct Expect {
        const char* file;
        int count;
        std::vector<HBITMAP> pictures;
        std::vector<int> pieces;  // the strip's piece each picture holds, in picture order
    };
    std::vector<Expect> expects = {
        {"bottomBtn.png", 12, {s.tabBtn, s.tabBtn + 12}, {1, 0, 2, 4, 3, 5, 7, 6, 8, 10, 9, 11}},
        {"rankBtn.png", 6, {s.rankBtn, s.rankBtn + 6}, {1, 0, 3, 2, 5, 4}},
        // Channel button 5 keeps its two pieces the other way round.
        {"ClassifyBtn.png", 12, {s.channelBtn, s.channelBtn + 12}, {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 10, 11}},
        {"srchBtn.png", 2, {s.searchBtn, s.searchBtn + 2}, {1, 0}},
        {"srchClear.png", 2, {s.searchClearBtn, s.searchClearBtn + 2}, {1, 0}},
        {"dtlBtn.png", 2, {s.detailBtn, s.detailBtn + 2}, {1, 0}},
    };
    if (s.hasArrow) expects.push_back({"lumeoArrow.png", 2, {s.arrow, s.arrow + 2}, {0, 1}});
    std::string folder = std::string(LUMEO_DIST) + "/Res/Skin/Def/" + z.prefix;
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.file);
        Png strip(folder + e.file);
        ASSERT_GT(strip.width, 0);
        std::vector<std::vector<int>> pieces;
        for (int i = 0; i < e.count; ++i) pieces.push_back(strip.Piece(i, e.count));
        for (int i = 0; i < e.count; ++i)
            for (int j = i + 1; j < e.count; ++j)
                ASSERT_NE(pieces[i], pieces[j]) << "pieces " << i << " and " << j << " look alike: their order cannot be told";
        for (size_t k = 0; k < e.pictures.size(); ++k)
            EXPECT_EQ(PixelsOf(e.pictures[k]), pieces[static_cast<size_t>(e.pieces[k])]) << "picture " << k;
    }
    ReleaseSkin(&s);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SkinPieces,
                         testing::Values(SkinSize{1, 800, 480, "def_800_480_"}, SkinSize{2, 640, 480, "def_640_480_"},
                                         SkinSize{3, 320, 240, "def_320_240_"}, SkinSize{4, 480, 320, "def_480_320_"},
                                         SkinSize{5, 400, 240, "def_400_240_"}),
                         [](const testing::TestParamInfo<SkinSize>& i) { return std::string(i.param.prefix).substr(4, 7); });

}  // namespace
