// Frames made by ffmpeg (tools/fixtures/make-video-out.sh) through the AHI_ overlay into the simulated chip, at the chip's
// surface kinds and memory kinds, unscaled, scaled and turned, against ffmpeg's own RGB
// pictures of the same frame.
#include <png.h>

#include <functional>

#include "fixture.h"

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Picture ReadPng(const std::string& path) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    p.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) p = Picture{};
    return p;
}

std::string Data(const std::string& name) { return std::string(LUMEO_TEST_SOURCE_DIR) + "/tests/data/video/" + name; }

// The desktop under the output: 16-pixel squares of two greys, and its RGB as scanned out.
uint16_t DesktopAt(int x, int y) { return ((x / 16 + y / 16) & 1) ? 0x4208 : 0x8410; }
void Rgb(uint16_t p, uint8_t out[3]) {
    int r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    out[0] = static_cast<uint8_t>((r << 3) | (r >> 2));
    out[1] = static_cast<uint8_t>((g << 2) | (g >> 4));
    out[2] = static_cast<uint8_t>((b << 3) | (b >> 2));
}

// PSNR bounds: unscaled frames differ from ffmpeg's conversion only in rounding (over 40 dB,
// 36 through RGB 5-6-5); scaled ones also in where nearest or bilinear sampling falls on a
// softened picture (28 dB, 26 through RGB 5-6-5). A picture off by a pixel, turned the wrong
// way or with its chroma misplaced falls far below.
struct Case {
    const char* name;
    std::function<void()> configure;  // the chip's settings
    VRect viewport;                   // as the user sees the screen
    int direction;
    bool smooth;
    const char* expected;
    double minPsnr;
    bool fullyVisible = true;
    int orientation = 0;
    const char* clip = "clip-96x64.yuv";
    int clipWidth = 96, clipHeight = 64;
};

class OverlayOutput : public AhiTest {
protected:
    // Pushes the clip through and returns the physical screen.
    std::vector<uint8_t> Run(const Case& c, VRect* physical) {
        Sim().Screen(c.orientation & 1 ? 240 : 320, c.orientation & 1 ? 320 : 240);
        Sim().Set("orientation", c.orientation);
        if (c.configure) c.configure();
        int w = Sim().Width(), h = Sim().Height();
        std::vector<uint16_t> desk(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) desk[static_cast<size_t>(y) * w + x] = DesktopAt(x, y);
        Sim().Desktop(desk.data(), w, 1);
        Create();
        VideoFormat f = I420(c.clipWidth, c.clipHeight);
        EXPECT_EQ(o->node.setParam(o, OVERLAY_OUTPUT, &f, sizeof(f)), 0);
        EXPECT_EQ(SetInt(OVERLAY_FULLYVISIBLE, c.fullyVisible), 0);
        EXPECT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &c.viewport, sizeof(c.viewport)), 0);
        VideoEffects fx = o->fx;
        fx.direction = c.direction;
        if (c.smooth) fx.flags |= FX_STRETCH_SMOOTH;
        EXPECT_EQ(o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        EXPECT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
        // The physical rectangle of the viewport (orientation 1: the user's x runs up the
        // physical y axis from the bottom).
        VRect v = c.viewport;
        *physical = c.orientation == 1 ? VRect{v.y, h - v.x - v.width, v.height, v.width} : v;
        // What the window system does: the viewport painted in the key colour.
        if (o->colorKey != COLORKEY_NONE) {
            uint16_t key = static_cast<uint16_t>(RGBToFormat(o->colorKey, &o->screen));
            for (int y = physical->y; y < physical->y + physical->height; ++y)
                for (int x = physical->x; x < physical->x + physical->width; ++x) desk[static_cast<size_t>(y) * w + x] = key;
            Sim().Desktop(desk.data(), w, 1);
        }
        auto clip = ReadFile(Data(c.clip));
        size_t frame = static_cast<size_t>(c.clipWidth) * c.clipHeight * 3 / 2;
        EXPECT_GT(clip.size(), 0u);
        EXPECT_EQ(clip.size() % frame, 0u);
        for (size_t at = 0; at + frame <= clip.size(); at += frame) {
            std::vector<uint8_t> one(clip.begin() + static_cast<long>(at), clip.begin() + static_cast<long>(at + frame));
            EXPECT_EQ(Blit(one, c.clipWidth, c.clipHeight), 0);
        }
        return Sim().Screenshot();
    }
};

TEST_F(OverlayOutput, ShowsTheFrameAsFfmpegDoesAndNothingElse) {
    auto internalOnly = [] { Sim().Set("mem32", 0); };
    auto externalOnly = [] { Sim().Set("mem64", 0); };
    auto noVideoMemory = [] {
        Sim().Set("mem64", 0);
        Sim().Set("mem32", 0);
    };
    auto noOverlay = [] { Sim().Set("word6", 0); };
    const Case cases[] = {
        {"yuv unscaled", nullptr, {40, 30, 96, 64}, 0, false, "clip-96x64.png", 40},
        {"yuv internal memory", internalOnly, {40, 30, 96, 64}, 0, false, "clip-96x64.png", 40},
        {"yuv external memory", externalOnly, {40, 30, 96, 64}, 0, false, "clip-96x64.png", 40},
        {"yuv display memory", noVideoMemory, {40, 30, 96, 64}, 0, false, "clip-96x64.png", 40, false},
        {"yuv scaled", nullptr, {10, 20, 160, 120}, 0, false, "clip-96x64-160x120-neighbor.png", 28},
        {"yuv scaled smooth", nullptr, {10, 20, 160, 120}, 0, true, "clip-96x64-160x120-bilinear.png", 28},
        {"yuv scaled internal", internalOnly, {10, 20, 160, 120}, 0, false, "clip-96x64-160x120-neighbor.png", 28},
        {"yuv dir 1", nullptr, {40, 30, 64, 96}, 1, false, "clip-96x64-dir1.png", 40},
        {"yuv dir 2", nullptr, {40, 30, 96, 64}, 2, false, "clip-96x64-dir2.png", 40},
        {"yuv dir 3", nullptr, {40, 30, 64, 96}, 3, false, "clip-96x64-dir3.png", 40},
        {"yuv dir 4", nullptr, {40, 30, 96, 64}, 4, false, "clip-96x64-dir4.png", 40},
        {"yuv dir 5", nullptr, {40, 30, 64, 96}, 5, false, "clip-96x64-dir5.png", 40},
        {"yuv dir 6", nullptr, {40, 30, 96, 64}, 6, false, "clip-96x64-dir6.png", 40},
        {"yuv dir 7", nullptr, {40, 30, 64, 96}, 7, false, "clip-96x64-dir7.png", 40},
        {"yuv dir 3 scaled", nullptr, {100, 20, 120, 200}, 3, false, "clip-96x64-dir3-120x200-neighbor.png", 28},
        {"yuv turned screen", nullptr, {40, 30, 96, 64}, 5, false, "clip-96x64-dir5.png", 40, true, 1},
        {"yuv turned screen scaled", nullptr, {40, 30, 160, 120}, 5, false, "clip-96x64-dir5-120x160-neighbor.png", 28,
         true, 1},
        {"yuv size not of 16", nullptr, {40, 30, 100, 60}, 0, false, "clip-100x60.png", 40, true, 0,
         "clip-100x60.yuv", 100, 60},
        {"yuv size not of 16 turned", nullptr, {40, 30, 60, 100}, 3, false, "clip-100x60-dir3.png", 40, true, 0,
         "clip-100x60.yuv", 100, 60},
        {"rgb unscaled", noOverlay, {40, 30, 96, 64}, 0, false, "clip-96x64.png", 36},
        {"rgb scaled", noOverlay, {10, 20, 160, 120}, 0, false, "clip-96x64-160x120-neighbor.png", 26},
        {"rgb dir 3", noOverlay, {40, 30, 64, 96}, 3, false, "clip-96x64-dir3.png", 36},
        {"rgb dir 6", noOverlay, {40, 30, 96, 64}, 6, false, "clip-96x64-dir6.png", 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        VRect r;
        auto screen = Run(c, &r);
        Picture want = ReadPng(Data(c.expected));
        ASSERT_FALSE(want.rgb.empty());
        ASSERT_EQ(want.width, r.width);
        ASSERT_EQ(want.height, r.height);
        int w = Sim().Width(), h = Sim().Height();
        std::vector<uint8_t> got;
        for (int y = r.y; y < r.y + r.height; ++y)
            got.insert(got.end(), screen.begin() + (static_cast<long>(y) * w + r.x) * 3,
                       screen.begin() + (static_cast<long>(y) * w + r.x + r.width) * 3);
        EXPECT_GE(Psnr(got, want.rgb), c.minPsnr);
        // Outside the viewport the desktop is untouched.
        int changed = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) continue;
                uint8_t d[3];
                Rgb(DesktopAt(x, y), d);
                changed += memcmp(d, &screen[(static_cast<size_t>(y) * w + x) * 3], 3) != 0;
            }
        EXPECT_EQ(changed, 0);
        EXPECT_EQ(Sim().Get("errors"), 0) << Sim().Log();
    }
}

}  // namespace

namespace {

// Edges of the scaling and of the screen.
class OverlayGeometry : public OverlayOutput {
protected:
    void StartAt(int w, int h, VRect viewport, int direction = 0) {
        Sim().Screen(320, 240);
        Create();
        VideoFormat f = I420(w, h);
        ASSERT_EQ(o->node.setParam(o, OVERLAY_OUTPUT, &f, sizeof(f)), 0);
        ASSERT_EQ(SetInt(OVERLAY_FULLYVISIBLE, 1), 0);
        ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &viewport, sizeof(viewport)), 0);
        VideoEffects fx = o->fx;
        fx.direction = direction;
        ASSERT_EQ(o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
        PaintKey();
    }
};

TEST_F(OverlayGeometry, ScaleNearOneIsShownUnscaledOnlyWhenBothAxesAgree) {
    struct Case {
        VRect viewport;
        bool stretched;
        AhiOverlayPos pos;  // dst and src corners
    } cases[] = {
        // 1.02 both ways: unscaled, centred, the source inside the frame buffer.
        {{10, 10, 102, 51}, false, {10, 10, 110, 60, 0, 0, 100, 50, 0, 0, 0, 0, 0}},
        // 1.02 one way, 1.0 the other: stretched through an intermediate surface.
        {{10, 10, 102, 50}, true, {10, 10, 112, 60, 0, 0, 102, 50, 0, 0, 0, 0, 0}},
        // Exactly 1.
        {{10, 10, 100, 50}, false, {10, 10, 110, 60, 0, 0, 100, 50, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.viewport.width * 1000 + c.viewport.height);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        StartAt(100, 50, c.viewport);
        std::vector<uint8_t> frame(100 * 50 * 3 / 2, 100);
        Sim().ClearLog();
        ASSERT_EQ(Blit(frame, 100, 50), 0);
        EXPECT_EQ(!Sim().Calls("AhiDrawStretchBlt").empty(), c.stretched);
        AhiOverlayPos p{};
        ASSERT_NE(Sim().Overlay(&p), 0u);
        EXPECT_EQ((std::vector<int>{p.dstLeft, p.dstTop, p.dstRight, p.dstBottom, p.srcLeft, p.srcTop, p.srcRight, p.srcBottom}),
                  (std::vector<int>{c.pos.dstLeft, c.pos.dstTop, c.pos.dstRight, c.pos.dstBottom, c.pos.srcLeft,
                                    c.pos.srcTop, c.pos.srcRight, c.pos.srcBottom}));
        EXPECT_EQ(Sim().Get("errors"), 0);
    }
}

TEST_F(OverlayGeometry, ViewportsPastTheScreenAreClippedWithTheirSource) {
    struct Case {
        VRect viewport;
        int direction;
        AhiOverlayPos pos;
    } cases[] = {
        {{-20, -10, 96, 64}, 0, {0, 0, 76, 54, 20, 10, 96, 64, 0, 0, 0, 0, 0}},
        // Twice the size, a quarter of it on the screen: the source cut in proportion.
        {{200, 150, 192, 128}, 0, {200, 150, 320, 240, 0, 0, 120, 90, 0, 0, 0, 0, 0}},
        // Mirrored left-right: the cut comes off the source's right.
        {{-20, 30, 96, 64}, 2, {0, 30, 76, 94, 0, 0, 76, 64, 0, 0, 0, 2, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.viewport.x);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        StartAt(96, 64, c.viewport, c.direction);
        auto clip = ReadFile(Data("clip-96x64.yuv"));
        ASSERT_EQ(Blit(std::vector<uint8_t>(clip.end() - 9216, clip.end()), 96, 64), 0);
        AhiOverlayPos p{};
        ASSERT_NE(Sim().Overlay(&p), 0u);
        EXPECT_EQ((std::vector<int>{p.dstLeft, p.dstTop, p.dstRight, p.dstBottom, p.srcLeft, p.srcTop, p.srcRight,
                                    p.srcBottom, p.mirror}),
                  (std::vector<int>{c.pos.dstLeft, c.pos.dstTop, c.pos.dstRight, c.pos.dstBottom, c.pos.srcLeft,
                                    c.pos.srcTop, c.pos.srcRight, c.pos.srcBottom, c.pos.mirror}));
        EXPECT_EQ(Sim().Get("errors"), 0);
    }
    // What shows of the mirrored picture is its own right-hand part.
    std::vector<uint8_t> shot = Sim().Screenshot();
    Picture want = ReadPng(Data("clip-96x64-dir2.png"));
    std::vector<uint8_t> got, part;
    for (int y = 0; y < 64; ++y) {
        got.insert(got.end(), shot.begin() + ((30 + y) * 320) * 3, shot.begin() + ((30 + y) * 320 + 76) * 3);
        part.insert(part.end(), want.rgb.begin() + (y * 96 + 20) * 3, want.rgb.begin() + (y * 96 + 96) * 3);
    }
    EXPECT_GE(Psnr(got, part), 40);
}

}  // namespace
