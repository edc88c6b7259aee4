// Frames made by ffmpeg pushed through the 270G overlay into the simulated chip, and the
// chip's scan-out compared with ffmpeg's own RGB pictures of the same frames.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "helpers.h"
#include "platform/image.h"
#include "platform/surface.h"

namespace fltest {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Data(const char* name) { return std::string(LUMEO_TEST_SOURCE_DIR) + "/tests/data/video/" + name; }

std::shared_ptr<platform::Surface> Png(const char* name) {
    auto bytes = ReadFile(Data(name));
    return platform::DecodePng(bytes.data(), bytes.size());
}

// The frame as ffmpeg wrote it: planar 4:2:0 or 4:2:2, 160 x 120.
struct RawFrame {
    std::vector<uint8_t> bytes;
    void* planes[3];
    int pitches[3];
    explicit RawFrame(const char* name, bool is422) : bytes(ReadFile(Data(name))) {
        size_t luma = 160 * 120, chroma = is422 ? luma / 2 : luma / 4;
        EXPECT_EQ(bytes.size(), luma + 2 * chroma) << name;
        bytes.resize(luma + 2 * chroma);
        planes[0] = bytes.data();
        planes[1] = bytes.data() + luma;
        planes[2] = bytes.data() + luma + chroma;
        pitches[0] = 160;
        pitches[1] = pitches[2] = 80;
    }
};

// PSNR of the scan-out's viewport against the reference, over the three colours.
double Psnr(const std::vector<uint8_t>& rgb, int screenW, const VRect& at, const platform::Surface& ref) {
    EXPECT_EQ(ref.width(), at.width);
    EXPECT_EQ(ref.height(), at.height);
    double sum = 0;
    for (int y = 0; y < at.height; ++y)
        for (int x = 0; x < at.width; ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(at.y + y) * screenW + at.x + x) * 3];
            uint32_t q = ref.at(x, y);
            int d[3] = {p[0] - static_cast<int>((q >> 16) & 255), p[1] - static_cast<int>((q >> 8) & 255),
                        p[2] - static_cast<int>(q & 255)};
            for (int c : d) sum += c * c;
        }
    double mse = sum / (3.0 * at.width * at.height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Every screen pixel outside the rectangle still shows the desktop's grey.
int ChangedOutside(const std::vector<uint8_t>& rgb, int screenW, int screenH, const VRect& r) {
    int changed = 0;
    for (int y = 0; y < screenH; ++y)
        for (int x = 0; x < screenW; ++x) {
            if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) continue;
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * screenW + x) * 3];
            if (p[0] != 0x84 || p[1] != 0x82 || p[2] != 0x84) ++changed;  // 0x8410 widened
        }
    return changed;
}

constexpr unsigned kGrey565 = 0x8410;

class Pictures : public Output {
protected:
    // The desktop grey with the viewport in the key colour, as the player paints it.
    static void KeyedDesktop(int x, int y, int width, int height) {
        PVRSim_FillDesktop(0, 0, 800, 480, kGrey565);
        PVRSim_FillDesktop(x, y, width, height, kKey565);
    }
};

TEST_F(Pictures, FramesShowAsFfmpegConvertsAndScalesThem) {
    struct Case {
        const char* what;
        const char* raw;
        bool is422;
        int direction;  // the effects' turn
        VRect viewport;
        const char* reference;
        double minPsnr;
    } cases[] = {
        {"4:2:0 unscaled", "frame-160x120.i420", false, 0, {200, 100, 160, 120}, "frame-160x120.png", 45},
        // The frames hold 4:2:0: every other chroma row of a 4:2:2 picture is dropped.
        {"4:2:2 unscaled", "frame-160x120.yv16", true, 0, {200, 100, 160, 120}, "frame-422-160x120.png", 33},
        {"4:2:0 doubled", "frame-160x120.i420", false, 0, {300, 40, 320, 240}, "frame-scaled-320x240.png", 45},
        {"4:2:0 by 1.5", "frame-160x120.i420", false, 0, {10, 10, 240, 180}, "frame-scaled-240x180.png", 45},
        {"turned left", "frame-160x120.i420", false, DIR_SWAPXY | DIR_MIRRORY, {400, 120, 180, 240},
         "frame-left-180x240.png", 45},
        {"turned right", "frame-160x120.i420", false, DIR_SWAPXY | DIR_MIRRORX, {400, 120, 180, 240},
         "frame-right-180x240.png", 45},
        {"half a turn", "frame-160x120.i420", false, DIR_MIRRORX | DIR_MIRRORY, {100, 200, 320, 240},
         "frame-half-320x240.png", 45},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PVRSim_Reset();
        Screen(800, 480);
        ASSERT_NE(Create(), nullptr);
        KeyedDesktop(c.viewport.x, c.viewport.y, c.viewport.width, c.viewport.height);
        VideoEffects fx{};
        fx.scaleX = fx.scaleY = 0x10000;
        fx.direction = c.direction;
        ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        ASSERT_EQ(Start(Yuv(160, 120, c.is422 ? FOURCC('Y', 'V', '1', '6') : FOURCC('I', '4', '2', '0'))), 0);
        ASSERT_EQ(Viewport(c.viewport.x, c.viewport.y, c.viewport.width, c.viewport.height), 0);
        ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
        RawFrame frame(c.raw, c.is422);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(O()->blitFrame(O(), frame.planes, frame.pitches), 0);
        auto rgb = ScanOut();
        auto ref = Png(c.reference);
        ASSERT_NE(ref, nullptr);
        EXPECT_GE(Psnr(rgb, 800, c.viewport, *ref), c.minPsnr);
        EXPECT_EQ(ChangedOutside(rgb, 800, 480, c.viewport), 0);
        NodeDelete(object);
        object = nullptr;
        EXPECT_EQ(SimGet("frames"), 0);
        EXPECT_EQ(SimGet("m24va_initialised"), 0);
    }
}

// On a screen laid on its panel turned, the picture still shows upright, whether the frames
// are written turned or the overlay turns them (IDCT frames with option 0x201 off).
TEST_F(Pictures, TurnedScreensShowThePictureUpright) {
    struct Case {
        const char* what;
        int direction;  // of the screen record, as VirtToPhy lays it on the panel
        int panel;      // the simulated panel's turn
        bool overlayTurns;
    } cases[] = {
        {"a quarter, frames turned", DIR_SWAPXY | DIR_MIRRORX, 270, false},
        {"the other quarter, frames turned", DIR_SWAPXY | DIR_MIRRORY, 90, false},
        {"half, frames turned", DIR_MIRRORX | DIR_MIRRORY, 180, false},
        {"a quarter, the overlay turns", DIR_SWAPXY | DIR_MIRRORX, 270, true},
        {"half, the overlay turns", DIR_MIRRORX | DIR_MIRRORY, 180, true},
    };
    const VRect view{100, 50, 320, 240};
    RawFrame frame("frame-160x120.i420", false);
    auto ref = Png("frame-scaled-320x240.png");
    ASSERT_NE(ref, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PVRSim_Reset();
        PVRSim_Set("panel_rotation", c.panel);
        bool turned = c.direction & DIR_SWAPXY;
        VideoFormat screen = Rgb565Screen(turned ? 480 : 800, turned ? 800 : 480);
        screen.direction = c.direction;
        core::SetDesktop(&screen);
        ASSERT_NE(Create(), nullptr);
        KeyedDesktop(view.x, view.y, view.width, view.height);
        if (c.overlayTurns) {
            // IDCT frames stay upright; the decoder's picture is written into one.
            ASSERT_EQ(Set(0x201, 0), 0);
            IdctFace* f = O()->idctFace;
            int w = 160, h = 120;
            f->setParam(f, IDCT_WIDTH, &w, sizeof(w));
            f->setParam(f, IDCT_HEIGHT, &h, sizeof(h));
            VideoFormat v = Yuv(160, 120);
            ASSERT_EQ(f->setParam(f, IDCT_FORMAT, &v, sizeof(v)), 0);
            ASSERT_EQ(Viewport(view.x, view.y, view.width, view.height), 0);
            ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
            int previous;
            ASSERT_EQ(f->frameStart(f, 1, &previous, 1, -1, -1, 1, 0), 0);
            M24VA_Reset(0);
            void* planes[3];
            int brightness;
            VideoFormat fmt{};
            ASSERT_EQ(f->lockBuffer(f, 1, planes, &brightness, &fmt), 0);
            ASSERT_EQ(fmt.width, 160);  // upright
            for (int p = 0; p < 3; ++p)
                for (int y = 0; y < (p ? 60 : 120); ++y)
                    memcpy(static_cast<uint8_t*>(planes[p]) + y * fmt.pitch,
                           static_cast<uint8_t*>(frame.planes[p]) + y * frame.pitches[p], p ? 80 : 160);
            f->unlockBuffer(f, 1);
            IdctFrameEnd end{0, 1000};  // on time
            ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
        } else {
            ASSERT_EQ(Start(Yuv(160, 120)), 0);
            ASSERT_EQ(Viewport(view.x, view.y, view.width, view.height), 0);
            ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
            ASSERT_EQ(O()->blitFrame(O(), frame.planes, frame.pitches), 0);
        }
        VDISP_ATTRIBUTES a{};
        ASSERT_EQ(PVRSim_Attributes(&a), 0);
        EXPECT_EQ(a.rotation != 0, c.overlayTurns);
        auto rgb = ScanOut();
        EXPECT_GE(Psnr(rgb, 800, view, *ref), 45);
        EXPECT_EQ(ChangedOutside(rgb, 800, 480, view), 0);
        NodeDelete(object);
        object = nullptr;
    }
}

// A viewport that runs past the screen shows the part of the picture that lies on it.
TEST_F(Pictures, ViewportPastTheScreenIsCut) {
    ASSERT_NE(Create(), nullptr);
    KeyedDesktop(640, 300, 160, 180);
    ASSERT_EQ(Start(Yuv(160, 120)), 0);
    // 320 x 240 at (640, 300): only its top-left 160 x 180 lies on the screen.
    ASSERT_EQ(Viewport(640, 300, 320, 240), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    RawFrame frame("frame-160x120.i420", false);
    ASSERT_EQ(O()->blitFrame(O(), frame.planes, frame.pitches), 0);
    VDISP_ATTRIBUTES a{};
    ASSERT_EQ(PVRSim_Attributes(&a), 0);
    EXPECT_EQ(a.dstRight, 800);
    EXPECT_EQ(a.dstBottom, 480);
    EXPECT_EQ(a.srcRight - a.srcLeft, 80);
    EXPECT_EQ(a.srcBottom - a.srcTop, 90);
    auto rgb = ScanOut();
    auto ref = Png("frame-scaled-320x240.png");
    ASSERT_NE(ref, nullptr);
    platform::Surface part(160, 180);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 160; ++x) part.row(y)[x] = ref->at(x, y);
    EXPECT_GE(Psnr(rgb, 800, VRect{640, 300, 160, 180}, part), 30);
    EXPECT_EQ(ChangedOutside(rgb, 800, 480, VRect{640, 300, 160, 180}), 0);
}

// Pixels of the screen the overlay shows (where the desktop holds the key colour and the
// scan-out shows anything else).
int OverlayPixels(const std::vector<uint8_t>& rgb) {
    int n = 0;
    for (size_t i = 0; i < rgb.size(); i += 3)
        if (rgb[i] != 0x21 || rgb[i + 1] != 0 || rgb[i + 2] != 0x21) ++n;  // 0x2004 widened
    return n;
}

// A viewport moved wholly off the screen, past any edge, hides the overlay; so does hiding
// it there; it shows again once back.
TEST_F(Pictures, AViewportOffTheScreenHidesTheOverlay) {
    struct Case {
        const char* edge;
        VRect viewport;
    } cases[] = {
        {"right", {900, 100, 200, 150}},   {"bottom", {100, 500, 200, 150}}, {"left", {-300, 100, 200, 150}},
        {"top", {100, -300, 200, 150}},    {"right, 70000 wide", {900, 0, 70000, 100}},
        {"left, 70000 wide", {-70100, 0, 70000, 100}},
    };
    ASSERT_NE(Create(), nullptr);
    PVRSim_FillDesktop(0, 0, 800, 480, kKey565);
    ASSERT_EQ(Start(Yuv(160, 120)), 0);
    RawFrame frame("frame-160x120.i420", false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        ASSERT_EQ(Viewport(100, 100, 160, 120), 0);
        ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
        ASSERT_EQ(O()->blitFrame(O(), frame.planes, frame.pitches), 0);
        ASSERT_EQ(SimGet("overlay_visible"), 1);
        ASSERT_GT(OverlayPixels(ScanOut()), 10000);
        // Moved off while shown.
        EXPECT_EQ(Viewport(c.viewport.x, c.viewport.y, c.viewport.width, c.viewport.height), 0);
        EXPECT_EQ(SimGet("overlay_visible"), 0);
        EXPECT_EQ(OverlayPixels(ScanOut()), 0);
        // Shown there, then hidden there.
        EXPECT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
        EXPECT_EQ(SimGet("overlay_visible"), 0);
        EXPECT_EQ(Set(OVERLAY_VISIBLE, 0), 0);
        EXPECT_EQ(SimGet("overlay_visible"), 0);
        EXPECT_EQ(OverlayPixels(ScanOut()), 0);
    }
}

// A hide the chip refuses is reported, and the output knows the overlay is still up: the
// next hide is sent again and hides it.
TEST_F(Pictures, ARefusedHideIsReportedAndTriedAgain) {
    ASSERT_NE(Create(), nullptr);
    PVRSim_FillDesktop(0, 0, 800, 480, kKey565);
    ASSERT_EQ(Start(Yuv(160, 120)), 0);
    ASSERT_EQ(Viewport(100, 100, 160, 120), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    RawFrame frame("frame-160x120.i420", false);
    ASSERT_EQ(O()->blitFrame(O(), frame.planes, frame.pitches), 0);
    ASSERT_GT(OverlayPixels(ScanOut()), 10000);
    ASSERT_EQ(PVRSim_Set("attribute_failures", 2), 0);
    EXPECT_EQ(Set(OVERLAY_VISIBLE, 0), ERR_DEVICE_ERROR);
    EXPECT_EQ(SimGet("overlay_visible"), 1);
    EXPECT_EQ(Set(OVERLAY_VISIBLE, 0), 0);
    EXPECT_EQ(SimGet("overlay_visible"), 0);
    EXPECT_EQ(OverlayPixels(ScanOut()), 0);
}

// ffmpeg's output of `args` as raw bytes; empty when it fails.
std::vector<uint8_t> Ffmpeg(const std::string& args) {
    std::string cmd = "ffmpeg -nostdin -v error " + args + " -f rawvideo - 2>/dev/null";
    std::vector<uint8_t> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.insert(out.end(), buf, buf + n);
    if (pclose(p) != 0) out.clear();
    return out;
}

// PSNR of the luma of the scan-out's viewport against raw RGB rows of its size. The luma
// alone: ffmpeg scales the chroma of an odd-sized picture as if it covered one luma column
// and row more.
double LumaPsnr(const std::vector<uint8_t>& rgb, int screenW, const VRect& at, const std::vector<uint8_t>& ref) {
    EXPECT_EQ(ref.size(), static_cast<size_t>(at.width) * at.height * 3);
    if (ref.size() != static_cast<size_t>(at.width) * at.height * 3) return 0;
    auto luma = [](const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; };
    double sum = 0;
    for (int y = 0; y < at.height; ++y)
        for (int x = 0; x < at.width; ++x) {
            double d = luma(&rgb[(static_cast<size_t>(at.y + y) * screenW + at.x + x) * 3]) -
                       luma(&ref[(static_cast<size_t>(y) * at.width + x) * 3]);
            sum += d * d;
        }
    double mse = sum / (static_cast<double>(at.width) * at.height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The picture as the decoder leaves it in an IDCT frame turned by `direction`: the
// macroblocks fill the 16-rounded frame, which is turned as a whole.
void WriteDecoded(IdctFace* f, int index, int direction, const std::vector<uint8_t>& yuv, int w, int h) {
    void* planes[3] = {};
    int brightness;
    VideoFormat fmt{};
    ASSERT_EQ(f->lockBuffer(f, index, planes, &brightness, &fmt), 0);
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int canvasW = (w + 15) / 16 * 16, canvasH = (h + 15) / 16 * 16;
    for (int plane = 0; plane < 3; ++plane) {
        const int pw = plane ? cw : w, ph = plane ? ch : h;
        const uint8_t* from = yuv.data() + (plane ? w * h + (plane - 1) * cw * ch : 0);
        int tw = plane ? canvasW / 2 : canvasW, th = plane ? canvasH / 2 : canvasH;
        if (direction & DIR_SWAPXY) std::swap(tw, th);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                int fx = x, fy = y;
                if (direction & DIR_SWAPXY) std::swap(fx, fy);
                if (direction & DIR_MIRRORX) fx = tw - 1 - fx;
                if (direction & DIR_MIRRORY) fy = th - 1 - fy;
                static_cast<uint8_t*>(planes[plane])[static_cast<ptrdiff_t>(fy) * fmt.pitch + fx] = from[y * pw + x];
            }
    }
    f->unlockBuffer(f, index);
}

// A picture of any size, odd or even, shows in every direction of the effects as ffmpeg
// turns and scales it, blitted into the frames or decoded into them (turned by the four
// rotations the decoder's writers have); an odd size scores as well as its even neighbour.
TEST_F(Pictures, OddSizesShowAsTheirEvenNeighboursInEveryDirection) {
    // ffmpeg's filters for the direction flags (1 exchanges the axes, 2 mirrors left-right,
    // 4 top-bottom).
    const char* turns[8] = {"null", "transpose=cclock_flip", "hflip", "transpose=clock", "vflip", "transpose=cclock",
                            "hflip,vflip", "transpose=clock_flip"};
    struct Size {
        int w, h;
    } sizes[] = {{318, 238}, {319, 239}};
    struct Mode {
        const char* name;
        bool decoded;
        std::vector<int> directions;
    } modes[] = {{"blitted", false, {0, 1, 2, 3, 4, 5, 6, 7}},
                 {"decoded", true, {0, DIR_SWAPXY | DIR_MIRRORY, DIR_MIRRORX | DIR_MIRRORY, DIR_SWAPXY | DIR_MIRRORX}}};
    double scores[2][2][8] = {};
    for (int k = 0; k < 2; ++k) {
        const int w = sizes[k].w, h = sizes[k].h, cw = (w + 1) / 2, ch = (h + 1) / 2;
        std::string size = std::to_string(w) + "x" + std::to_string(h);
        // The same softened picture cut to the size (the test source itself makes even sizes).
        auto yuv = Ffmpeg("-f lavfi -i testsrc2=size=320x240:rate=10,format=rgb24,crop=" + std::to_string(w) + ":" +
                          std::to_string(h) + ":0:0,gblur=sigma=1.5 -frames:v 1 -pix_fmt yuv420p");
        ASSERT_EQ(yuv.size(), static_cast<size_t>(w * h + 2 * cw * ch)) << "ffmpeg";
        void* planes[3] = {yuv.data(), yuv.data() + w * h, yuv.data() + w * h + cw * ch};
        int pitches[3] = {w, cw, cw};
        std::string tmp = ::testing::TempDir() + "framelane-odd-" + std::to_string(getpid()) + ".yuv";
        {
            FILE* f = fopen(tmp.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            fwrite(yuv.data(), 1, yuv.size(), f);
            fclose(f);
        }
        for (int m = 0; m < 2; ++m)
            for (int d : modes[m].directions) {
                SCOPED_TRACE(size + " " + modes[m].name + " direction " + std::to_string(d));
                bool swap = d & DIR_SWAPXY;
                const VRect view{40, 40, swap ? 300 : 400, swap ? 400 : 300};
                auto ref = Ffmpeg("-f rawvideo -pix_fmt yuv420p -s " + size + " -i " + tmp + " -vf " + turns[d] +
                                  ",scale=" + std::to_string(view.width) + ":" + std::to_string(view.height) +
                                  ":flags=bilinear,format=rgb24 -frames:v 1");
                ASSERT_FALSE(ref.empty()) << "ffmpeg";
                PVRSim_Reset();
                Screen(800, 480);
                ASSERT_NE(Create(), nullptr);
                KeyedDesktop(view.x, view.y, view.width, view.height);
                VideoEffects fx{};
                fx.scaleX = fx.scaleY = 0x10000;
                fx.direction = d;
                ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
                if (modes[m].decoded) {
                    IdctFace* f = O()->idctFace;
                    int wv = w, hv = h;
                    f->setParam(f, IDCT_WIDTH, &wv, sizeof(wv));
                    f->setParam(f, IDCT_HEIGHT, &hv, sizeof(hv));
                    VideoFormat v = Yuv(w, h);
                    ASSERT_EQ(f->setParam(f, IDCT_FORMAT, &v, sizeof(v)), 0);
                    ASSERT_EQ(Viewport(view.x, view.y, view.width, view.height), 0);
                    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
                    int previous;
                    ASSERT_EQ(f->frameStart(f, 1, &previous, 1, -1, -1, 1, 0), 0);
                    ASSERT_EQ(f->endChipFrame(f), 0);
                    WriteDecoded(f, 1, d, yuv, w, h);
                    IdctFrameEnd end{0, 1000};
                    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
                } else {
                    ASSERT_EQ(Start(Yuv(w, h)), 0);
                    ASSERT_EQ(Viewport(view.x, view.y, view.width, view.height), 0);
                    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
                    ASSERT_EQ(O()->blitFrame(O(), planes, pitches), 0);
                }
                auto rgb = ScanOut();
                scores[m][k][d] = LumaPsnr(rgb, 800, view, ref);
                EXPECT_EQ(ChangedOutside(rgb, 800, 480, view), 0);
                NodeDelete(object);
                object = nullptr;
            }
        remove(tmp.c_str());
    }
    for (int m = 0; m < 2; ++m)
        for (int d : modes[m].directions) {
            SCOPED_TRACE(std::string(modes[m].name) + " direction " + std::to_string(d));
            EXPECT_GE(scores[m][0][d], 40);
            EXPECT_GE(scores[m][1][d], scores[m][0][d] - 3);
        }
}

// The overlay covers every pixel of a viewport of odd place and size, down to a 1x1 picture
// in a 1x1 viewport: none keeps the key colour.
TEST_F(Pictures, EveryPixelOfTheViewportShowsThePicture) {
    struct Case {
        const char* what;
        int w, h;  // the picture
        VRect view;
    } cases[] = {
        {"odd place and size", 160, 120, {41, 31, 201, 151}},
        {"odd size, even place", 160, 120, {40, 30, 161, 121}},
        {"1x1 in 1x1", 1, 1, {50, 50, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PVRSim_Reset();
        Screen(800, 480);
        ASSERT_NE(Create(), nullptr);
        KeyedDesktop(c.view.x, c.view.y, c.view.width, c.view.height);
        ASSERT_EQ(Start(Yuv(c.w, c.h)), 0);
        ASSERT_EQ(Viewport(c.view.x, c.view.y, c.view.width, c.view.height), 0);
        ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
        // A mid-grey picture: Y 128, no colour.
        std::vector<uint8_t> y(static_cast<size_t>(c.w * c.h), 128), uv(static_cast<size_t>((c.w + 1) / 2 * ((c.h + 1) / 2)), 128);
        void* planes[3] = {y.data(), uv.data(), uv.data()};
        int pitches[3] = {c.w, (c.w + 1) / 2, (c.w + 1) / 2};
        ASSERT_EQ(O()->blitFrame(O(), planes, pitches), 0);
        auto rgb = ScanOut();
        int keyed = 0;
        for (int j = c.view.y; j < c.view.y + c.view.height; ++j)
            for (int i = c.view.x; i < c.view.x + c.view.width; ++i) {
                const uint8_t* p = &rgb[(static_cast<size_t>(j) * 800 + i) * 3];
                if (std::abs(p[1] - static_cast<int>(std::lround((128 - 16) * 298 / 256.0))) > 1) ++keyed;
            }
        EXPECT_EQ(keyed, 0);
        EXPECT_EQ(ChangedOutside(rgb, 800, 480, c.view), 0);
        NodeDelete(object);
        object = nullptr;
    }
}

}  // namespace
}  // namespace fltest
