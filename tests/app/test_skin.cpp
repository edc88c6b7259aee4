// The skin's own functions: cutting strips, the constants of a screen index, loading the
// files of a size and failing cleanly when one is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

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

}  // namespace
