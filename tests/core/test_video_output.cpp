// The core's video-output services: the overlay and face bases, surfaces, the blitter,
// geometry and the display queries.
#include <sys/stat.h>
#include <utime.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/overlay.h"
#include "core/testing.h"

namespace {

VideoFormat Yuv420(int w, int h) {
    VideoFormat f{};
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    f.pixel.flags = PF_FOURCC | PF_PLANAR;
    f.pixel.fourcc = FOURCC('I', '4', '2', '0');
    f.pixel.bitCount = 8;
    f.pitch = DefaultPitch(&f);
    return f;
}

VideoFormat Rgb565(int w, int h) {
    VideoFormat f{};
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    DefaultRGB(&f.pixel, 16, 5, 6, 5, 0, 0, 0);
    f.pitch = DefaultPitch(&f);
    return f;
}

uint8_t At(void* plane, int pitch, int x, int y) { return static_cast<uint8_t*>(plane)[y * pitch + x]; }
uint16_t At16(void* plane, int pitch, int x, int y) {
    uint16_t v;
    memcpy(&v, static_cast<uint8_t*>(plane) + y * pitch + 2 * x, 2);
    return v;
}

// --- Records and the overlay base ---

TEST(VideoRecords, SizesAreTheStoredOnes) {
    EXPECT_EQ(sizeof(VideoFormat), 48u);
    EXPECT_EQ(sizeof(VideoFormatEx), 72u);
    EXPECT_EQ(sizeof(IdctBackupRecord), 504u);
    EXPECT_EQ(offsetof(Overlay, idctFace), 12 * sizeof(void*));
    EXPECT_EQ(offsetof(IdctFace, position), 11 * sizeof(void*));
    EXPECT_EQ(offsetof(IdctFace, inter), 16 * sizeof(void*));
}

// A plug-in overlay that logs its slot calls.
struct TestOverlay {
    Overlay base;
    std::vector<std::string>* log;
    int initResult;
};
std::vector<std::string> g_log;

int TestInit(void* self) {
    auto* o = static_cast<TestOverlay*>(self);
    o->log->push_back("init");
    return o->initResult;
}
int TestDone(void* self) {
    static_cast<TestOverlay*>(self)->log->push_back("done");
    return 0;
}
int TestUpdate(void* self) {
    static_cast<TestOverlay*>(self)->log->push_back("update");
    return 0;
}
int TestShow(void* self, int) {
    static_cast<TestOverlay*>(self)->log->push_back("show");
    return 0;
}
int TestCreate(void* self) {
    auto* o = static_cast<TestOverlay*>(self);
    o->base.initOutput = TestInit;
    o->base.doneOutput = TestDone;
    o->base.updateOutput = TestUpdate;
    o->base.showOverlay = TestShow;
    o->log = &g_log;
    return 0;
}

class OverlayBase : public ::testing::Test {
protected:
    void SetUp() override {
        static const NodeClassDef def = {NODE_CLASS_SIZE(sizeof(TestOverlay), NODE_FLAGS_OVERLAY),
                                         FOURCC('T', 'O', 'V', 'L'), OVERLAY_CLASS, 100, TestCreate, nullptr};
        NodeRegisterClass(&def);
        o = static_cast<TestOverlay*>(NodeCreate(FOURCC('T', 'O', 'V', 'L')));
        ASSERT_NE(o, nullptr);
        g_log.clear();
    }
    void TearDown() override {
        NodeDelete(o);
        NodeUnRegisterClass(FOURCC('T', 'O', 'V', 'L'));
    }
    int Set(int id, const void* data, int size) { return o->base.node.setParam(o, id, data, size); }
    TestOverlay* o = nullptr;
};

TEST_F(OverlayBase, DerivedClassGetsTheBaseFields) {
    EXPECT_EQ(NodeClassId(o), FOURCC('T', 'O', 'V', 'L'));
    EXPECT_EQ(o->base.fx.scaleX, 0x10000);
    EXPECT_EQ(o->base.fx.scaleY, 0x10000);
    EXPECT_EQ(o->base.colorKey, COLORKEY_NONE);
    uint32_t key = 0;
    EXPECT_EQ(o->base.node.getParam(o, OVERLAY_COLORKEY, &key, sizeof(key)), 0);
    EXPECT_EQ(key, COLORKEY_NONE);
    EXPECT_EQ(o->base.node.getParam(o, 0x4242, &key, sizeof(key)), ERR_INVALID_PARAM);
    // The base's parameters, then the end of its list.
    ParamInfo info{};
    int n = 0;
    while (o->base.node.enumParams(o, n, &info) == 0) ++n;
    EXPECT_EQ(n, OVERLAY_PARAM_COUNT);
    EXPECT_EQ(OverlayEnum(o, 0, &info), 0);
    EXPECT_EQ(info.id, OVERLAY_OUTPUT);
}

TEST_F(OverlayBase, OutputFormatReinitialisesTheOutput) {
    VideoFormat f = Yuv420(176, 144);
    EXPECT_EQ(Set(OVERLAY_OUTPUT, &f, sizeof(f)), 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"init"}));
    VideoFormatEx wide{};
    memset(&wide, 0x55, sizeof(wide));
    ASSERT_EQ(o->base.node.getParam(o, OVERLAY_OUTPUT, &wide, sizeof(wide)), 0);
    EXPECT_EQ(wide.format.width, 176);
    EXPECT_EQ(wide.extra[0], 0);  // a 48-byte set is widened with zeros
    EXPECT_EQ(wide.extra[5], 0);

    EXPECT_EQ(Set(OVERLAY_OUTPUT, &wide, sizeof(wide)), 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"init", "done", "init"}));
    int visible = 1;
    EXPECT_EQ(Set(OVERLAY_VISIBLE, &visible, sizeof(visible)), 0);
    EXPECT_EQ(o->base.visible, 1);
    EXPECT_EQ(g_log.back(), "update");
    EXPECT_EQ(Set(OVERLAY_OUTPUT, nullptr, 0), 0);  // empty: only done
    EXPECT_EQ(g_log, (std::vector<std::string>{"init", "done", "init", "update", "done"}));
    EXPECT_EQ(Set(OVERLAY_OUTPUT, &f, 20), ERR_INVALID_PARAM);  // neither form
}

TEST_F(OverlayBase, ReleaseAndFailedInitLeaveNothingToUndo) {
    VideoFormat f = Yuv420(64, 64);
    ASSERT_EQ(Set(OVERLAY_OUTPUT, &f, sizeof(f)), 0);
    EXPECT_EQ(Set(OVERLAY_RELEASE, nullptr, 0), 0);  // the plug-in runs doneOutput itself
    o->initResult = ERR_DEVICE_ERROR;
    EXPECT_EQ(Set(OVERLAY_OUTPUT, &f, sizeof(f)), ERR_DEVICE_ERROR);
    int visible = 1;
    EXPECT_EQ(Set(OVERLAY_VISIBLE, &visible, sizeof(visible)), 0);  // stored, no update
    EXPECT_EQ(Set(OVERLAY_OUTPUT, nullptr, 0), 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"init", "init"}));
}

TEST_F(OverlayBase, UpdateShowCallsNoSlotAndUpdateFxDoes) {
    VideoFormat f = Yuv420(64, 64);
    ASSERT_EQ(Set(OVERLAY_OUTPUT, &f, sizeof(f)), 0);
    o->base.visible = 1;
    o->base.colorKey = 0x200020;
    g_log.clear();
    OverlayUpdateShow(o, 1);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(o->base.shown, 1);
    EXPECT_EQ(o->base.keyShown, 1);
    OverlayUpdateFX(o, 0x1E, 1);
    EXPECT_EQ(o->base.fx.flags & 0x1E, 0x1E);
    EXPECT_EQ(g_log, (std::vector<std::string>{"update"}));
}

// A plug-in overlay with a destroy of its own, which needs its output released first.
void LoggingDestroy(void*) { g_log.push_back("destroy"); }

TEST(OverlayDelete, AnInitialisedOutputIsReleasedBeforeTheDestroys) {
    static const NodeClassDef def = {NODE_CLASS_SIZE(sizeof(TestOverlay), NODE_FLAGS_OVERLAY),
                                     FOURCC('T', 'O', 'V', 'D'), OVERLAY_CLASS, 100, TestCreate, LoggingDestroy};
    NodeRegisterClass(&def);
    struct Case {
        bool init;
        std::vector<std::string> log;
    } cases[] = {{true, {"init", "done", "destroy"}}, {false, {"destroy"}}};
    for (const auto& c : cases) {
        auto* o = static_cast<TestOverlay*>(NodeCreate(FOURCC('T', 'O', 'V', 'D')));
        ASSERT_NE(o, nullptr);
        g_log.clear();
        if (c.init) {
            VideoFormat f = Yuv420(64, 64);
            ASSERT_EQ(o->base.node.setParam(o, OVERLAY_OUTPUT, &f, sizeof(f)), 0);
        }
        NodeDelete(o);
        EXPECT_EQ(g_log, c.log);
    }
    NodeUnRegisterClass(FOURCC('T', 'O', 'V', 'D'));
}

// --- Geometry ---

TEST(AnyAlign, ScaleIsClampedToTheCallersRange) {
    struct Case {
        VRect dst, src;
        int xAlign, yAlign, minScale, maxScale;
        int scaleX, scaleY;
    } cases[] = {
        {{0, 0, 320, 240}, {0, 0, 160, 120}, 2, 1, 0x8000, 0x100000, 0x20000, 0x20000},
        {{0, 0, 320, 320}, {0, 0, 10, 10}, 2, 1, 0x8000, 0x100000, 0x100000, 0x100000},  // 32 -> 16
        {{0, 0, 10, 10}, {0, 0, 100, 100}, 2, 1, 0x8000, 0x100000, 0x8000, 0x8000},      // 0.1 -> 0.5
        {{0, 0, 320, 320}, {0, 0, 20, 20}, 2, 2, 0x4000, 0x80000, 0x80000, 0x80000},     // 16 -> 8
        {{0, 0, 10, 10}, {0, 0, 100, 100}, 2, 2, 0x4000, 0x80000, 0x4000, 0x4000},       // 0.1 -> 0.25
        {{0, 0, 102, 100}, {0, 0, 100, 100}, 2, 1, 0x8000, 0x100000, 66846, 0x10000},     // 1.02 is no 1
    };
    for (const auto& c : cases) {
        VRect dst = c.dst, src = c.src;
        VideoEffects fx{};
        AnyAlign(&dst, &src, &fx, c.xAlign, c.yAlign, c.minScale, c.maxScale);
        EXPECT_EQ(fx.scaleX, c.scaleX) << c.dst.width << "/" << c.src.width;
        EXPECT_EQ(fx.scaleY, c.scaleY) << c.dst.height << "/" << c.src.height;
        // A clamped scale sizes the dst.
        if (fx.scaleX != (static_cast<int64_t>(c.dst.width) << 16) / c.src.width) {
            int sized = static_cast<int>(static_cast<int64_t>(src.width) * fx.scaleX >> 16);
            EXPECT_LE(dst.width, sized);
            EXPECT_GT(dst.width, sized - c.xAlign);  // rounded to the alignment
        }
    }
    VRect dst{3, 5, 101, 61}, src{1, 1, 51, 31};
    VideoEffects fx{};
    AnyAlign(&dst, &src, &fx, 2, 2, 0x4000, 0x80000);
    for (int v : {dst.x, dst.y, dst.width, dst.height, src.x, src.y, src.width, src.height}) EXPECT_EQ(v % 2, 0);
}

TEST(Directions, CombineAsTurns) {
    const int cw = DIR_SWAPXY | DIR_MIRRORX;   // a quarter turn clockwise
    const int ccw = DIR_SWAPXY | DIR_MIRRORY;  // and back
    EXPECT_EQ(CombineDir(0, cw, cw), DIR_MIRRORX | DIR_MIRRORY);
    EXPECT_EQ(CombineDir(0, cw, ccw), 0);
    EXPECT_EQ(CombineDir(cw, cw, 0), 0);
    for (int d = 0; d < 8; ++d) {
        EXPECT_EQ(CombineDir(d, d, 0), 0) << d;
        EXPECT_EQ(CombineDir(0, d, 0), d) << d;
    }
}

TEST(Directions, VirtualAndPhysicalRectsRoundTrip) {
    VideoFormat screen = Rgb565(240, 320);
    for (int d = 0; d < 8; ++d) {
        screen.direction = d;
        VRect v{10, 20, 30, 40}, p{}, back{};
        VirtToPhy(&v, &p, &screen);
        PhyToVirt(&p, &back, &screen);
        EXPECT_TRUE(EqRect(&v, &back)) << d;
        // The whole virtual screen is the whole panel.
        VRect all{0, 0, (d & DIR_SWAPXY) ? 320 : 240, (d & DIR_SWAPXY) ? 240 : 320};
        VRect panel{0, 0, 240, 320};
        VirtToPhy(&all, &p, &screen);
        EXPECT_TRUE(EqRect(&p, &panel)) << d;
    }
    int a = 1, b = 2;
    SwapInt(&a, &b);
    EXPECT_EQ(a * 10 + b, 21);
}

// --- Surfaces ---

TEST(Surfaces, RotateTurnsAndMirrors) {
    // 3 x 2 pixels 1..6 in rows.
    VideoFormat src = Rgb565(3, 2);
    void* sp[3];
    ASSERT_EQ(SurfaceAlloc(sp, &src), 0);
    for (int i = 0; i < 6; ++i) {
        uint16_t v = static_cast<uint16_t>(i + 1);
        memcpy(static_cast<uint8_t*>(sp[0]) + (i / 3) * src.pitch + 2 * (i % 3), &v, 2);
    }
    struct Case {
        int dir;
        int w, h;
        std::vector<int> rows;
    } cases[] = {
        {DIR_SWAPXY | DIR_MIRRORX, 2, 3, {4, 1, 5, 2, 6, 3}},  // clockwise
        {DIR_SWAPXY | DIR_MIRRORY, 2, 3, {3, 6, 2, 5, 1, 4}},  // anticlockwise
        {DIR_MIRRORX, 3, 2, {3, 2, 1, 6, 5, 4}},
        {DIR_MIRRORX | DIR_MIRRORY, 3, 2, {6, 5, 4, 3, 2, 1}},
    };
    for (const auto& c : cases) {
        VideoFormat dst = Rgb565(c.w, c.h);
        void* dp[3];
        ASSERT_EQ(SurfaceAlloc(dp, &dst), 0);
        SurfaceRotate(&src, &dst, sp, dp, c.dir);
        std::vector<int> got;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) got.push_back(At16(dp[0], dst.pitch, x, y));
        EXPECT_EQ(got, c.rows) << c.dir;
        SurfaceFree(dp);
        EXPECT_EQ(dp[0], nullptr);
    }
    SurfaceFree(sp);
}

TEST(Surfaces, PlanarRotateMovesChromaWithLuma) {
    VideoFormat src = Yuv420(4, 2), dst = Yuv420(2, 4);
    void* sp[3];
    void* dp[3];
    ASSERT_EQ(SurfaceAlloc(sp, &src), 0);
    ASSERT_EQ(SurfaceAlloc(dp, &dst), 0);
    static_cast<uint8_t*>(sp[0])[3] = 200;          // luma (3, 0)
    static_cast<uint8_t*>(sp[1])[1] = 77;           // U of the right half
    SurfaceRotate(&src, &dst, sp, dp, DIR_SWAPXY | DIR_MIRRORX);
    EXPECT_EQ(At(dp[0], dst.pitch, 1, 3), 200);     // clockwise: (3, 0) -> (1, 3)
    EXPECT_EQ(At(dp[1], dst.pitch / 2, 0, 1), 77);  // chroma (1, 0) -> (0, 1)
    SurfaceFree(sp);
    SurfaceFree(dp);
}

TEST(Surfaces, FillColorIsBlack) {
    VideoFormat f = Yuv420(32, 16);
    void* p[3];
    ASSERT_EQ(SurfaceAlloc(p, &f), 0);
    memset(p[0], 0x11, static_cast<size_t>(f.pitch) * 16);
    FillColor(&f, p, nullptr, nullptr, 8, 0x008080);
    EXPECT_EQ(At(p[0], f.pitch, 31, 15), 0);
    EXPECT_EQ(At(p[1], f.pitch / 2, 15, 7), 128);
    EXPECT_EQ(At(p[2], f.pitch / 2, 0, 0), 128);
    SurfaceFree(p);

    VideoFormat r = Rgb565(5, 3);
    ASSERT_EQ(SurfaceAlloc(p, &r), 0);
    memset(p[0], 0xFF, static_cast<size_t>(r.pitch) * 3);
    VRect part{1, 1, 3, 1};
    FillColor(&r, p, nullptr, &part, 16, 0);
    EXPECT_EQ(At16(p[0], r.pitch, 1, 1), 0);
    EXPECT_EQ(At16(p[0], r.pitch, 3, 1), 0);
    EXPECT_EQ(At16(p[0], r.pitch, 4, 1), 0xFFFF);
    EXPECT_EQ(At16(p[0], r.pitch, 1, 0), 0xFFFF);
    SurfaceFree(p);
}

TEST(Surfaces, CopyAppliesTheBrightnessChange) {
    VideoFormat f = Yuv420(16, 2);
    void* a[3];
    void* b[3];
    ASSERT_EQ(SurfaceAlloc(a, &f), 0);
    ASSERT_EQ(SurfaceAlloc(b, &f), 0);
    auto* y = static_cast<uint8_t*>(a[0]);
    y[0] = 100;
    y[1] = 250;
    y[2] = 3;
    static_cast<uint8_t*>(a[1])[0] = 90;
    VideoEffects fx{};
    fx.brightness = 8;
    SurfaceCopy(&f, &f, a, b, &fx);
    EXPECT_EQ(At(b[0], f.pitch, 0, 0), 108);
    EXPECT_EQ(At(b[0], f.pitch, 1, 0), 255);
    EXPECT_EQ(At(b[1], f.pitch / 2, 0, 0), 90);  // chroma unchanged
    fx.brightness = -8;
    SurfaceCopy(&f, &f, a, b, &fx);
    EXPECT_EQ(At(b[0], f.pitch, 2, 0), 0);
    SurfaceFree(a);
    SurfaceFree(b);
}

TEST(PixelFormats, RgbMasksAndPlanarKinds) {
    PixelFormat p{};
    DefaultRGB(&p, 16, 5, 6, 5, 0, 0, 0);
    EXPECT_EQ(p.mask[0], 0xF800u);
    EXPECT_EQ(p.mask[1], 0x07E0u);
    EXPECT_EQ(p.mask[2], 0x001Fu);
    PixelFormat q{};
    q.mask[0] = 0xF800;
    q.mask[1] = 0x07E0;
    q.mask[2] = 0x001F;
    FillInfo(&q);
    EXPECT_EQ(q.bitCount, 16);
    EXPECT_TRUE(q.flags & PF_RGB);

    VideoFormat screen = Rgb565(240, 320);
    EXPECT_EQ(RGBToFormat(0x200020, &screen), 0x2004u);  // R 4 << 11, B 4
    EXPECT_EQ(RGBToFormat(0xFFFFFF, &screen), 0xFFFFu);
    EXPECT_EQ(RGBToFormat(0x2F0027, &screen, 1), 0x280020u);

    struct Case {
        fourcc_t fourcc;
        bool planar, is420, is422;
        int xs, ys;
    } cases[] = {
        {FOURCC('I', '4', '2', '0'), true, true, false, 1, 1},
        {FOURCC('Y', 'V', '1', '2'), true, true, false, 1, 1},
        {FOURCC('Y', 'V', '1', '6'), true, false, true, 1, 0},
        {FOURCC('I', 'M', 'C', '4'), true, true, false, 1, 1},
        {FOURCC('Y', 'U', 'Y', 'V'), false, false, false, 0, 0},
    };
    for (const auto& c : cases) {
        PixelFormat f{};
        f.flags = PF_FOURCC;
        f.fourcc = c.fourcc;
        int xs = 0, ys = 0;
        EXPECT_EQ(PlanarYUV(&f, &xs, &ys) != 0, c.planar);
        EXPECT_EQ(PlanarYUV420(&f), c.is420);
        EXPECT_EQ(PlanarYUV422(&f), c.is422);
        EXPECT_EQ(xs, c.xs);
        EXPECT_EQ(ys, c.ys);
    }
}

// IMC4: the luma plane, then U and V side by side below it, each row at the luma pitch.
TEST(Surfaces, Imc4KeepsChromaSideBySideAtTheLumaPitch) {
    VideoFormat f = Yuv420(40, 6);
    f.pixel.fourcc = FOURCC('I', 'M', 'C', '4');
    f.pitch = DefaultPitch(&f);
    ASSERT_EQ(f.pitch, 48);
    void* p[3];
    ASSERT_EQ(SurfaceAlloc(p, &f), 0);
    auto* base = static_cast<uint8_t*>(p[0]);
    EXPECT_EQ(static_cast<uint8_t*>(p[1]), base + 48 * 6);
    EXPECT_EQ(static_cast<uint8_t*>(p[2]), base + 48 * 6 + 24);
    FillColor(&f, p, nullptr, nullptr, 8, 0x10A0C0);
    // Chroma row 2 of V, column 19, lies at luma end + 2 rows of the luma pitch + 24 + 19.
    EXPECT_EQ(base[48 * 6 + 2 * 48 + 24 + 19], 0xC0);
    EXPECT_EQ(base[48 * 6 + 2 * 48 + 19], 0xA0);
    EXPECT_EQ(base[48 * 5 + 39], 0x10);

    // An I420 picture copied in and blitted in lands at the same bytes.
    VideoFormat s = Yuv420(40, 6);
    void* sp[3];
    ASSERT_EQ(SurfaceAlloc(sp, &s), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 20; ++x) {
            static_cast<uint8_t*>(sp[1])[y * s.pitch / 2 + x] = static_cast<uint8_t>(10 * y + x);
            static_cast<uint8_t*>(sp[2])[y * s.pitch / 2 + x] = static_cast<uint8_t>(100 + 10 * y + x);
        }
    SurfaceCopy(&s, &f, sp, p, nullptr);
    EXPECT_EQ(base[48 * 6 + 2 * 48 + 7], 27);
    EXPECT_EQ(base[48 * 6 + 1 * 48 + 24 + 19], 129);
    memset(base, 0, 48 * 9);
    Blitter* b = BlitCreate(&f, &s, nullptr);
    ASSERT_NE(b, nullptr);
    int pitches[3] = {s.pitch, s.pitch / 2, s.pitch / 2};
    BlitImage(b, p, sp, pitches, -1, -1);
    BlitRelease(b);
    EXPECT_EQ(base[48 * 6 + 2 * 48 + 7], 27);
    EXPECT_EQ(base[48 * 6 + 1 * 48 + 24 + 19], 129);
    EXPECT_EQ(base[48 * 6 + 0 * 48 + 24], 100);
    SurfaceFree(sp);
    SurfaceFree(p);
}

// --- Blitter ---

TEST(Blitter, YuvToRgb565FollowsBt601) {
    struct Yuv {
        int y, u, v;
    } colours[] = {{235, 128, 128}, {16, 128, 128}, {81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {126, 128, 128}};
    for (const auto& c : colours) {
        VideoFormat sf = Yuv420(16, 2), df = Rgb565(16, 2);
        void* s[3];
        void* d[3];
        ASSERT_EQ(SurfaceAlloc(s, &sf), 0);
        ASSERT_EQ(SurfaceAlloc(d, &df), 0);
        FillColor(&sf, s, nullptr, nullptr, 8,
                  static_cast<uint32_t>(c.y << 16 | c.u << 8 | c.v));
        Blitter* b = BlitCreate(&df, &sf, nullptr);
        ASSERT_NE(b, nullptr);
        int pitches[3] = {sf.pitch, sf.pitch / 2, sf.pitch / 2};
        BlitImage(b, d, s, pitches, -1, -1);
        BlitRelease(b);
        auto clamp = [](double v) { return v < 0 ? 0.0 : v > 255 ? 255.0 : v; };
        double r = clamp(1.164 * (c.y - 16) + 1.596 * (c.v - 128));
        double g = clamp(1.164 * (c.y - 16) - 0.813 * (c.v - 128) - 0.391 * (c.u - 128));
        double bl = clamp(1.164 * (c.y - 16) + 2.018 * (c.u - 128));
        uint16_t px = At16(d[0], df.pitch, 7, 1);
        EXPECT_NEAR((px >> 11) & 31, r / 255 * 31, 1.0) << c.y << "," << c.u << "," << c.v;
        EXPECT_NEAR((px >> 5) & 63, g / 255 * 63, 1.0) << c.y << "," << c.u << "," << c.v;
        EXPECT_NEAR(px & 31, bl / 255 * 31, 1.0) << c.y << "," << c.u << "," << c.v;
        SurfaceFree(s);
        SurfaceFree(d);
    }
}

TEST(Blitter, ScalesIntoTheAlignedRect) {
    VideoFormat sf = Yuv420(16, 16), df = Yuv420(64, 64);
    void* s[3];
    void* d[3];
    ASSERT_EQ(SurfaceAlloc(s, &sf), 0);
    ASSERT_EQ(SurfaceAlloc(d, &df), 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) static_cast<uint8_t*>(s[0])[y * sf.pitch + x] = static_cast<uint8_t>(x < 8 ? 50 : 200);
    Blitter* b = BlitCreate(&df, &sf, nullptr);
    ASSERT_NE(b, nullptr);
    VRect dr{16, 16, 32, 32}, sr{0, 0, 16, 16};
    BlitAlign(b, &dr, &sr);
    int pitches[3] = {sf.pitch, sf.pitch / 2, sf.pitch / 2};
    BlitImage(b, d, s, pitches, -1, -1);
    BlitRelease(b);
    EXPECT_EQ(At(d[0], df.pitch, 15, 20), 0);    // outside the rect: untouched
    EXPECT_EQ(At(d[0], df.pitch, 16, 20), 50);   // left half of the picture
    EXPECT_EQ(At(d[0], df.pitch, 31, 20), 50);
    EXPECT_EQ(At(d[0], df.pitch, 32, 20), 200);  // right half, doubled
    EXPECT_EQ(At(d[0], df.pitch, 47, 47), 200);
    EXPECT_EQ(At(d[0], df.pitch, 48, 47), 0);
    // Rects that run past the surfaces are cut to them.
    b = BlitCreate(&df, &sf, nullptr);
    VRect over{48, 48, 40, 40}, srcOver{-4, -4, 40, 40};
    BlitAlign(b, &over, &srcOver);
    BlitImage(b, d, s, pitches, -1, -1);
    BlitRelease(b);
    EXPECT_EQ(At(d[0], df.pitch, 63, 63), 200);
    SurfaceFree(s);
    SurfaceFree(d);
}

// --- The IDCT face base ---

// A face of two 16 x 16 buffers.
struct TestFace {
    IdctFace face;
    VideoFormat format;
    int params[5];  // width, height, count, show, spare
    int frames[2];
    std::vector<uint8_t> buffers[2];
};

int FaceGet(void* self, int id, void* data, int size) {
    auto* f = static_cast<TestFace*>(self);
    if (id == IDCT_FORMAT && size >= 48) return memcpy(data, &f->format, 48), 0;
    int v;
    if (id == IDCT_WIDTH) v = f->params[0];
    else if (id == IDCT_HEIGHT) v = f->params[1];
    else if (id == IDCT_COUNT) v = f->params[2];
    else if (id == IDCT_SHOW) v = f->params[3];
    else if (id >= IDCT_FRAME_NUMBER && id < IDCT_FRAME_NUMBER + 2) v = f->frames[id - IDCT_FRAME_NUMBER];
    else return ERR_INVALID_PARAM;
    memcpy(data, &v, sizeof(v));
    return 0;
}
int FaceSet(void* self, int id, const void* data, int size) {
    auto* f = static_cast<TestFace*>(self);
    if (id == IDCT_FORMAT && size == 48) return memcpy(&f->format, data, 48), 0;
    int v;
    memcpy(&v, data, sizeof(v));
    if (id == IDCT_WIDTH) f->params[0] = v;
    else if (id == IDCT_HEIGHT) f->params[1] = v;
    else if (id == IDCT_COUNT) f->params[2] = v;
    else if (id == IDCT_SHOW) f->params[3] = v;
    else if (id >= IDCT_FRAME_NUMBER && id < IDCT_FRAME_NUMBER + 2) f->frames[id - IDCT_FRAME_NUMBER] = v;
    else return ERR_INVALID_PARAM;
    return 0;
}
int FaceLock(void* self, int index, Planes planes, int* brightness, VideoFormat* format) {
    auto* f = static_cast<TestFace*>(self);
    uint8_t* m = f->buffers[index].data();
    planes[0] = m;
    planes[1] = m + 256;
    planes[2] = m + 256 + 64;
    *brightness = 0;
    *format = f->format;
    return 0;
}
int FaceUnlock(void*, int) { return 0; }

TEST(IdctBase, BackupAndRestoreThroughTheFaceSlots) {
    TestFace f{};
    f.face.getParam = FaceGet;
    f.face.setParam = FaceSet;
    f.face.lockBuffer = FaceLock;
    f.face.unlockBuffer = FaceUnlock;
    f.format = Yuv420(16, 16);
    int saved[5] = {16, 16, 2, 1, 0};
    memcpy(f.params, saved, sizeof(saved));
    f.frames[0] = 7;
    f.frames[1] = 8;
    for (int i = 0; i < 2; ++i) {
        f.buffers[i].resize(384);
        for (size_t k = 0; k < 384; ++k) f.buffers[i][k] = static_cast<uint8_t>(k * (i + 3));
    }
    auto pictures = f.buffers[0];
    auto pictures1 = f.buffers[1];
    IdctBackupRecord r;
    ASSERT_EQ(IDCTBackup(&f, &r), 0);
    // The face is re-initialised and loses everything.
    memset(f.params, 0, sizeof(f.params));
    f.frames[0] = f.frames[1] = -1;
    for (auto& b : f.buffers) std::fill(b.begin(), b.end(), 0);
    ASSERT_EQ(IDCTRestore(&f, &r), 0);
    EXPECT_EQ(0, memcmp(f.params, saved, sizeof(saved)));
    EXPECT_EQ(f.frames[0], 7);
    EXPECT_EQ(f.frames[1], 8);
    EXPECT_EQ(f.buffers[0], pictures);
    EXPECT_EQ(f.buffers[1], pictures1);

    ParamInfo info{};
    bool has82 = false;
    for (int i = 0; IDCTEnum(&f, i, &info) == 0; ++i) has82 |= info.id == IDCT_OWNER_INFO;
    EXPECT_TRUE(has82);
}

// --- Display ---

TEST(Display, SettingsAndRecords) {
    VideoFormat d = Rgb565(480, 640);
    core::SetDesktop(&d);
    VideoFormat got{};
    QueryDesktop(&got);
    EXPECT_EQ(got.width, 480);
    EXPECT_EQ(got.height, 640);
    core::SetDesktop(nullptr);
    QueryDesktop(&got);
    EXPECT_GT(got.width, 0);
    EXPECT_EQ(got.pixel.mask[1], 0x07E0u);

    core::SetPlatformValue(25, 500);
    EXPECT_EQ(QueryPlatform(25), 500);
    core::SetOrientation(true, DIR_SWAPXY);
    EXPECT_EQ(GetOrientation(), DIR_SWAPXY);
    core::SetOrientation(false, 0);

    core::ClearVideoLogs();
    VRect v{1, 2, 3, 4};
    WinInvalidate(&v, 1);
    WaitDisable(1);
    WaitDisable(0);
    ASSERT_EQ(core::InvalidatedRects().size(), 1u);
    EXPECT_TRUE(EqRect(&core::InvalidatedRects()[0], &v));
    EXPECT_EQ(core::WaitDisableLog(), (std::vector<int>{1, 0}));

    VideoFormat s = Rgb565(320, 240);
    s.direction = DIR_SWAPXY;
    AdjustOrientation(&s, 0);
    EXPECT_EQ(s.width, 240);
    EXPECT_EQ(s.height, 320);
}

TEST(Display, FileDateIsTheLocalModificationDay) {
    std::string path = ::testing::TempDir() + "/filedate-" + std::to_string(getpid()) + ".bin";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    struct tm t {};
    t.tm_year = 2004 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 5;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    struct utimbuf times {};
    times.actime = times.modtime = mktime(&t);
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(FileDate(wide.c_str()), 20041205);
    EXPECT_EQ(FileDate(L"/nonexistent/filedate.bin"), 0);
    remove(path.c_str());
}

int FakePages(const void*, uint8_t** start, uint8_t** end, int) {
    static uint8_t area[64];
    *start = area;
    *end = area + 64;
    return 0;
}

TEST(Display, CodeFindPagesHoldsTheAddress) {
    uint8_t* start = nullptr;
    uint8_t* end = nullptr;
    auto* code = reinterpret_cast<const uint8_t*>(&FakePages);
    ASSERT_EQ(CodeFindPages(code, &start, &end, 0), 0);
    EXPECT_LE(start, code);
    EXPECT_GT(end, code);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(start) % 4096, 0u);
    int onStack = 0;
    EXPECT_EQ(CodeFindPages(&onStack, &start, &end, 0), ERR_INVALID_PARAM);  // not code
    core::SetCodeFindPagesHook(FakePages);
    ASSERT_EQ(CodeFindPages(code, &start, &end, 0), 0);
    EXPECT_EQ(end - start, 64);
    core::SetCodeFindPagesHook(nullptr);
}

}  // namespace
