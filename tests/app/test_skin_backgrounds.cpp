// The skin's two-piece buttons, both pieces, on every size: outside their rounded shape
// they show the colour of the page each sits on, so no box shows around them.
#include <gtest/gtest.h>

#include <string>

#include "programRun.h"

namespace {

TEST(SkinBackgrounds, ButtonCornersShowThePageTheyAreDrawnOn) {
    struct Button {
        const char* file;
        int page;  // 0xRRGGBB
    } buttons[] = {
        {"srchBtn.png", 0x2C5B81},    // the search page
        {"srchClear.png", 0xD8E6F2},  // the strip under the search history
        {"dtlBtn.png", 0xEFEFEF},     // the detail page
    };
    const char* sizes[] = {"def_800_480_", "def_640_480_", "def_320_240_", "def_480_320_", "def_400_240_"};
    for (const char* size : sizes)
        for (const Button& b : buttons) {
            std::string file = std::string(size) + b.file;
            SCOPED_TRACE(file);
            apptest::Shot strip(std::string(LUMEO_TEST_DIST_DIR) + "/Res/Skin/Def/" + file);
            ASSERT_TRUE(strip.ok());
            // Two pieces side by side; the strip's width and height read back from its corners.
            int w = 0, h = 0;
            while (strip.At(w, 0) >= 0) ++w;
            while (strip.At(0, h) >= 0) ++h;
            for (int piece = 0; piece < 2; ++piece) {
                int left = piece * w / 2, right = (piece + 1) * w / 2 - 1;
                for (int x : {left, right})
                    for (int y : {0, h - 1}) EXPECT_EQ(strip.At(x, y), b.page) << "piece " << piece << " at " << x << "," << y;
            }
        }
}

}  // namespace
