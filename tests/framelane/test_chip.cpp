// The simulated 2700G chip on its own: memory, the command engine, the overlay and its
// scan-out, the raw frame buffer and registers, fault injection.
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pvrvadd.h"

namespace {

long long Get(const char* name) {
    long long v = -12345;
    EXPECT_EQ(PVRSim_Get(name, &v), 0) << name;
    return v;
}

std::string LastError() {
    char text[256];
    PVRSim_LastError(text, sizeof(text));
    return text;
}

struct Planes {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int pitch;
};

Planes Access(M24VA_FRAME f) {
    void* p[3] = {};
    int pitch = 0;
    EXPECT_EQ(M24VA_FrameBeginAccess(f, p, &pitch, 1), M24VA_OK);
    EXPECT_EQ(M24VA_FrameEndAccess(f), M24VA_OK);
    return Planes{static_cast<uint8_t*>(p[0]), static_cast<uint8_t*>(p[1]), static_cast<uint8_t*>(p[2]), pitch};
}

class Chip : public ::testing::Test {
protected:
    void SetUp() override { PVRSim_Reset(); }
    void TearDown() override { PVRSim_Reset(); }

    // Initialised engine with `n` frames of w x h.
    std::vector<M24VA_FRAME> Frames(int n, int w, int h) {
        EXPECT_EQ(M24VA_Initialise(0), M24VA_OK);
        EXPECT_EQ(M24VA_FrameDimensions(h, w), M24VA_OK);
        EXPECT_EQ(M24VA_SetIZZMode(3), M24VA_OK);
        std::vector<M24VA_FRAME> f(static_cast<size_t>(n));
        for (auto& x : f) EXPECT_EQ(M24VA_FrameAllocate(&x, 1), M24VA_OK);
        return f;
    }
};

uint32_t Pair(int index, int value, bool last) {
    return static_cast<uint32_t>(index * 2 | (last ? 1 : 0)) | static_cast<uint32_t>(static_cast<uint16_t>(value)) << 16;
}

// --- Memory ---

TEST_F(Chip, FramesComeFromTheBudgetInTheImc4Layout) {
    ASSERT_EQ(M24VA_Initialise(0), M24VA_OK);
    ASSERT_EQ(M24VA_FrameDimensions(240, 320), M24VA_OK);
    M24VA_FRAME f = nullptr;
    ASSERT_EQ(M24VA_FrameAllocate(&f, 1), M24VA_OK);
    Planes p = Access(f);
    EXPECT_GE(p.pitch, 320);
    EXPECT_EQ(p.u, p.y + p.pitch * 240);
    EXPECT_EQ(p.v, p.u + p.pitch / 2);
    long long one = Get("local_memory_used");
    EXPECT_GE(one, p.pitch * 240 * 3 / 2);

    // A budget of three frames: the fourth is refused and leaves nothing behind.
    ASSERT_EQ(PVRSim_Set("local_memory", one * 3), 0);
    M24VA_FRAME two[2] = {};
    ASSERT_EQ(M24VA_FrameAllocate(two, 2), M24VA_OK);
    M24VA_FRAME more[2] = {};
    EXPECT_EQ(M24VA_FrameAllocate(more, 2), M24VA_OUT_OF_MEMORY);
    EXPECT_EQ(Get("frames"), 3);
    EXPECT_EQ(Get("local_memory_used"), one * 3);
    EXPECT_EQ(M24VA_FrameFree(two, 2), M24VA_OK);
    EXPECT_EQ(M24VA_FrameAllocate(more, 2), M24VA_OK);
    EXPECT_EQ(M24VA_FrameFree(more, 2), M24VA_OK);
    EXPECT_EQ(M24VA_FrameFree(&f, 1), M24VA_OK);
    EXPECT_EQ(Get("local_memory_used"), 0);
    // Freed handles are refused afterwards.
    void* planes[3];
    int pitch = 0;
    EXPECT_EQ(M24VA_FrameBeginAccess(f, planes, &pitch, 1), M24VA_INVALID_PARAM);

    // System-memory frames have their own budget.
    ASSERT_EQ(PVRSim_Set("system_memory", 1000), 0);
    EXPECT_EQ(M24VA_FCFrameAllocate(&f, 1), M24VA_OUT_OF_MEMORY);
    ASSERT_EQ(PVRSim_Set("system_memory", 1 << 20), 0);
    ASSERT_EQ(M24VA_FCFrameAllocate(&f, 1), M24VA_OK);
    EXPECT_GT(Get("system_memory_used"), 0);
    EXPECT_EQ(M24VA_Deinitialise(), M24VA_OK);  // takes what was left with it
    EXPECT_EQ(Get("frames"), 0);
    EXPECT_EQ(Get("system_memory_used"), 0);
}

TEST_F(Chip, CallsNeedTheDriverStarted) {
    M24VA_FRAME f = nullptr;
    EXPECT_EQ(M24VA_FrameDimensions(32, 32), M24VA_NOT_INITIALISED);
    EXPECT_EQ(M24VA_FrameAllocate(&f, 1), M24VA_NOT_INITIALISED);
    EXPECT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_NOT_INITIALISED);
    EXPECT_EQ(VDISP_OverlayBrightness(128), M24VA_NOT_INITIALISED);
    ASSERT_EQ(M24VA_Initialise(0), M24VA_OK);
    EXPECT_EQ(M24VA_FrameAllocate(&f, 1), M24VA_INVALID_PARAM);  // no dimensions yet
    EXPECT_EQ(M24VA_FrameDimensions(15, 32), M24VA_INVALID_PARAM);
    EXPECT_EQ(M24VA_FrameDimensions(32, 4096), M24VA_INVALID_PARAM);
    EXPECT_EQ(M24VA_SetIZZMode(2), M24VA_INVALID_PARAM);
}

// --- The command engine ---

// The reference inverse DCT in double precision.
void ReferenceIdct(const double in[64], double out[64]) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
                    s += cu * cv / 4 * in[v * 8 + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                         std::cos((2 * y + 1) * v * M_PI / 16);
                }
            out[y * 8 + x] = s;
        }
}

TEST_F(Chip, IntraSectionsWriteTheInverseTransform) {
    auto f = Frames(1, 32, 32);
    ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
    // Luma at (16, 16): block 0 a DC of 800 (samples 100), block 1 a cosine pattern,
    // blocks 2 and 3 empty.
    ASSERT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002), M24VA_OK);
    uint32_t dc = Pair(0, 800, true);
    ASSERT_EQ(M24VA_WriteIZZBlock(&dc, 1), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1000000A), M24VA_OK);
    uint32_t pattern[3] = {Pair(0, 1024, false), Pair(1, -150, false), Pair(17, 90, true)};
    ASSERT_EQ(M24VA_WriteIZZBlock(pattern, 3), M24VA_OK);
    uint32_t empty = 1;
    for (uint32_t cmd : {0x10000022u, 0x1000002Au}) {
        ASSERT_EQ(M24VA_WriteMCCmdData(cmd), M24VA_OK);
        ASSERT_EQ(M24VA_WriteIZZBlock(&empty, 1), M24VA_OK);
    }
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1D000000 | 16 << 11 | 16), M24VA_OK);
    // U at chroma (8, 0): a DC of 8 * 200; V at chroma (0, 8): an empty block (0).
    ASSERT_EQ(M24VA_WriteMCCmdData(0x15), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002), M24VA_OK);
    uint32_t udc = Pair(0, 1600, true);
    ASSERT_EQ(M24VA_WriteIZZBlock(&udc, 1), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1A800000 | 0 << 11 | 8), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x16), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002), M24VA_OK);
    ASSERT_EQ(M24VA_WriteIZZBlock(&empty, 1), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1A800000 | 8 << 11 | 0), M24VA_OK);
    ASSERT_EQ(M24VA_EndFrame(1), M24VA_OK) << LastError();
    EXPECT_EQ(Get("frames_decoded"), 1);

    Planes p = Access(f[0]);
    EXPECT_EQ(p.y[16 * p.pitch + 16], 100);
    EXPECT_EQ(p.y[23 * p.pitch + 23], 100);
    double in[64] = {}, out[64];
    in[0] = 1024, in[1] = -150, in[17] = 90;
    ReferenceIdct(in, out);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_NEAR(p.y[(16 + y) * p.pitch + 24 + x], out[y * 8 + x], 0.5 + 1e-9) << x << "," << y;
    EXPECT_EQ(p.y[31 * p.pitch + 31], 0);  // the empty block 3
    EXPECT_EQ(p.u[0 * p.pitch + 8], 200);
    EXPECT_EQ(p.u[7 * p.pitch + 15], 200);
    EXPECT_EQ(p.u[0 * p.pitch + 7], 0xCD);  // not written
    EXPECT_EQ(p.v[8 * p.pitch + 0], 0);
}

TEST_F(Chip, PredictionsCopyAndAverageTheReferences) {
    auto f = Frames(3, 32, 32);
    Planes a = Access(f[0]), b = Access(f[1]), t = Access(f[2]);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            a.y[y * a.pitch + x] = static_cast<uint8_t>(x * 4 + y);
            b.y[y * b.pitch + x] = 200;
        }
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) a.u[y * a.pitch + x] = a.v[y * a.pitch + x] = 60, b.u[y * b.pitch + x] = b.v[y * b.pitch + x] = 61;
    ASSERT_EQ(M24VA_BeginFrame(f[2], 1), M24VA_OK);
    ASSERT_EQ(M24VA_SetReferenceFrameAddress(1, f[0]), M24VA_OK);
    ASSERT_EQ(M24VA_SetReferenceFrameAddress(2, f[1]), M24VA_OK);
    // Luma (0, 0) from the forward frame at (3, 2) plus half a pixel across, rounded up.
    ASSERT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x8000000), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0xC0000000 | 4 << 14 | 7), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1D000000), M24VA_OK);
    // U (0, 0): both references averaged; V: backward alone, past the top-left edge.
    ASSERT_EQ(M24VA_WriteMCCmdData(0x15), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x8000000), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0xC0000000), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x90000000), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1A800000), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x16), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x8000000), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0xD0000000 | (0x4000 - 6) << 14 | (0x4000 - 6)), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1A800000), M24VA_OK);
    ASSERT_EQ(M24VA_EndFrame(1), M24VA_OK) << LastError();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            int l = (x + 3) * 4 + y + 2, r = (x + 4) * 4 + y + 2;
            ASSERT_EQ(t.y[y * t.pitch + x], (l + r + 1) / 2) << x << "," << y;
        }
    EXPECT_EQ(t.u[0], 61);  // (60 + 61 + 1) / 2
    EXPECT_EQ(t.v[5 * t.pitch + 5], 61);
}

TEST_F(Chip, WordsOutOfPlaceAreRefused) {
    struct Case {
        const char* what;
        std::vector<uint32_t> words;  // 0xFFFFFFFF: hand an empty coefficient block
        const char* error;
    } cases[] = {
        {"unknown word", {0x12345678}, "unknown command word 0x12345678"},
        {"unknown select", {0x33}, "unknown command word"},
        {"marker outside a section", {0x8000000}, "outside a predicted section"},
        {"coordinate without marker", {0x28, 0xC0000000}, "without a marker"},
        {"three coordinates", {0x28, 0x8000000, 0xC0000000, 0x90000000, 0x90000000}, "without a marker"},
        {"backward after nothing", {0x28, 0x8000000, 0x90000000}, "without a forward one"},
        {"four-vector offset in a 16x16 section", {0x28, 0x8000040}, "offset this section does not take"},
        {"chroma block offset", {0x15, 0x10000008}, "offset this section does not take"},
        {"block twice", {0x28, 0x10000002, 0xFFFFFFFF, 0x10000002}, "given twice"},
        {"inter block without prediction", {0x28, 0x10000000}, "without a prediction"},
        {"word instead of coefficients", {0x28, 0x10000002, 0x1D000000}, "coefficients belong"},
        {"header of the other kind", {0x28, 0x10000002, 0xFFFFFFFF, 0x1A800000}, "does not close"},
        {"header outside the frame", {0x28, 0x10000002, 0xFFFFFFFF, 0x1D000000 | 0 << 11 | 24}, "outside"},
        {"select inside a section", {0x28, 0x15}, "while a section is open"},
        {"block with neither", {0x28, 0x10000002, 0xFFFFFFFF, 0x1D000000}, "neither prediction nor residual"},
        {"inter block in 4:2:2", {0x00, 0x10000000}, "4:2:2"},
    };
    for (const auto& c : cases) {
        PVRSim_Reset();
        auto f = Frames(3, 32, 32);
        ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
        ASSERT_EQ(M24VA_SetReferenceFrameAddress(1, f[1]), M24VA_OK);
        ASSERT_EQ(M24VA_SetReferenceFrameAddress(2, f[2]), M24VA_OK);
        int last = M24VA_OK;
        for (uint32_t w : c.words) {
            uint32_t empty = 1;
            last = w == 0xFFFFFFFF ? M24VA_WriteIZZBlock(&empty, 1) : M24VA_WriteMCCmdData(w);
        }
        EXPECT_EQ(last, M24VA_BAD_COMMAND) << c.what;
        EXPECT_NE(LastError().find(c.error), std::string::npos) << c.what << ": " << LastError();
        // The rest of the frame is refused too, and the frame ends failed.
        EXPECT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_BAD_COMMAND) << c.what;
        EXPECT_EQ(M24VA_EndFrame(1), M24VA_BAD_COMMAND) << c.what;
    }
}

TEST_F(Chip, CoefficientBlocksAreChecked) {
    struct Case {
        const char* what;
        std::vector<uint32_t> pairs;
        const char* error;
    } cases[] = {
        {"no last flag", {Pair(0, 5, false)}, "without its last pair"},
        {"last flag early", {Pair(0, 5, true), Pair(1, 5, true)}, "before the block's end"},
        {"position repeated", {Pair(3, 5, false), Pair(3, 6, true)}, "repeats position 3"},
        {"position past 63", {0x0081}, "names position 64"},
    };
    for (const auto& c : cases) {
        PVRSim_Reset();
        auto f = Frames(1, 16, 16);
        ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
        ASSERT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_OK);
        ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002), M24VA_OK);
        EXPECT_EQ(M24VA_WriteIZZBlock(c.pairs.data(), static_cast<int>(c.pairs.size())), M24VA_BAD_COMMAND) << c.what;
        EXPECT_NE(LastError().find(c.error), std::string::npos) << c.what << ": " << LastError();
    }
    // Coefficients in pieces end at the last flag; samples may stand for coefficients.
    PVRSim_Reset();
    auto f = Frames(1, 16, 16);
    ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002), M24VA_OK);
    uint32_t first[2] = {Pair(0, 80, false), Pair(5, 0, false)};
    uint32_t second[1] = {Pair(9, 0, true)};
    ASSERT_EQ(M24VA_WriteIZZData(first, 2), M24VA_OK);
    ASSERT_EQ(M24VA_WriteIZZData(second, 1), M24VA_OK);
    int16_t samples[64];
    for (int i = 0; i < 64; ++i) samples[i] = static_cast<int16_t>(i);
    for (uint32_t cmd : {0x1000000Au, 0x10000022u, 0x1000002Au}) {
        ASSERT_EQ(M24VA_WriteMCCmdData(cmd), M24VA_OK);
        ASSERT_EQ(M24VA_WriteResidualDifferenceData(samples, 64), M24VA_OK);
    }
    ASSERT_EQ(M24VA_WriteMCCmdData(0x1D000000), M24VA_OK) << LastError();
    // 65 pairs are refused, and nothing of the section is written.
    ASSERT_EQ(M24VA_WriteMCCmdData(0x15), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002), M24VA_OK);
    std::vector<uint32_t> many(65);
    for (int i = 0; i < 65; ++i) many[static_cast<size_t>(i)] = Pair(i % 64, 1, i == 64);
    EXPECT_EQ(M24VA_WriteIZZBlock(many.data(), 65), M24VA_BAD_COMMAND);
    Planes p = Access(f[0]);
    EXPECT_EQ(p.y[0], 10);
    EXPECT_EQ(p.y[8 + 7 * p.pitch + 7], 63);
    EXPECT_EQ(p.u[0], 0xCD);  // a new frame's memory as the chip leaves it
}

// --- The overlay and the scan-out ---

VDISP_ATTRIBUTES Attributes(int l, int t, int r, int b, int sl, int st, int sr, int sb, int rotation) {
    VDISP_ATTRIBUTES a{};
    a.magic = 0x77;
    a.dstLeft = static_cast<uint16_t>(l), a.dstTop = static_cast<uint16_t>(t);
    a.dstRight = static_cast<uint16_t>(r), a.dstBottom = static_cast<uint16_t>(b);
    a.srcLeft = static_cast<uint16_t>(sl), a.srcTop = static_cast<uint16_t>(st);
    a.srcRight = static_cast<uint16_t>(sr), a.srcBottom = static_cast<uint16_t>(sb);
    a.keyEnable = 1;
    a.key = 0x2004;
    a.visible = 1;
    a.rotation = static_cast<uint16_t>(rotation);
    return a;
}

std::vector<uint8_t> ScanOut(bool logical = true) {
    long long w = Get(logical ? "screen_width" : "screen_width"), h = Get("screen_height");
    long long rot = Get("panel_rotation");
    if (!logical && (rot == 90 || rot == 270)) std::swap(w, h);
    std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3));
    EXPECT_EQ(PVRSim_ScanOut(rgb.data(), static_cast<int>(w), static_cast<int>(h), logical), 0);
    return rgb;
}

// A grey frame whose four quadrants hold Y 40, 90, 140, 190 (U = V = 128).
M24VA_FRAME QuadrantFrame(int w, int h) {
    M24VA_FRAME f = nullptr;
    EXPECT_EQ(M24VA_Initialise(0), M24VA_OK);
    EXPECT_EQ(M24VA_FrameDimensions(h, w), M24VA_OK);
    EXPECT_EQ(M24VA_FrameAllocate(&f, 1), M24VA_OK);
    Planes p = Access(f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.y[y * p.pitch + x] = static_cast<uint8_t>(40 + 50 * ((x >= w / 2) + 2 * (y >= h / 2)));
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) p.u[y * p.pitch + x] = p.v[y * p.pitch + x] = 128;
    return f;
}

// The grey the overlay makes of a luma value with the default conversion.
int Grey(int y) { return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, 298.0 * (y - 16) / 256)))); }

TEST_F(Chip, OverlayShowsThroughTheKeyScaledAndTurned) {
    ASSERT_EQ(PVRSim_Set("screen_width", 320), 0);
    ASSERT_EQ(PVRSim_Set("screen_height", 240), 0);
    PVRSim_FillDesktop(0, 0, 320, 240, 0xFFFF);
    PVRSim_FillDesktop(100, 50, 80, 60, 0x2004);  // the key where the overlay may show
    M24VA_FRAME f = QuadrantFrame(32, 32);
    ASSERT_EQ(VDISP_Initialise(0), M24VA_OK);
    struct Case {
        int rotation;
        int topLeft, topRight, bottomLeft;  // quadrant index of the picture seen there
    } cases[] = {
        {0, 0, 1, 2},
        {90, 1, 3, 0},   // anticlockwise: the top-right quadrant comes to the top left
        {180, 3, 2, 1},
        {270, 2, 0, 3},
    };
    for (const auto& c : cases) {
        // Destination 80 x 64 at (100, 50); the key covers only its 80 x 60 top part.
        VDISP_ATTRIBUTES a = Attributes(100, 50, 180, 114, 0, 0, 32, 32, c.rotation);
        ASSERT_EQ(VDISP_OverlaySetAttributes(&a, f, 1), M24VA_OK);
        ASSERT_EQ(VDISP_OverlayFlipSurface(f, 0), M24VA_OK);
        auto rgb = ScanOut();
        auto at = [&](int x, int y) { return rgb[(static_cast<size_t>(y) * 320 + x) * 3 + 1]; };
        auto quadrant = [](int q) { return Grey(40 + 50 * q); };
        EXPECT_NEAR(at(105, 55), quadrant(c.topLeft), 1) << c.rotation;
        EXPECT_NEAR(at(175, 55), quadrant(c.topRight), 1) << c.rotation;
        EXPECT_NEAR(at(105, 100), quadrant(c.bottomLeft), 1) << c.rotation;
        EXPECT_EQ(at(99, 55), 255) << c.rotation;   // outside the destination
        EXPECT_EQ(at(105, 112), 255) << c.rotation; // inside it but not keyed
    }
    // Hidden: the desktop alone.
    VDISP_ATTRIBUTES hidden = Attributes(100, 50, 180, 114, 0, 0, 32, 32, 0);
    hidden.visible = 0;
    ASSERT_EQ(VDISP_OverlaySetAttributes(&hidden, f, 0), M24VA_OK);
    auto rgb = ScanOut();
    EXPECT_EQ(rgb[(55 * 320 + 105) * 3], 0x21);  // the key colour 0x2004 widened: R 4 << 3 | 4 >> 2
}

TEST_F(Chip, AttributesAreChecked) {
    M24VA_FRAME f = QuadrantFrame(32, 32);
    VDISP_ATTRIBUTES a = Attributes(0, 0, 16, 16, 0, 0, 16, 16, 0);
    EXPECT_EQ(VDISP_OverlaySetAttributes(&a, f, 1), M24VA_NOT_INITIALISED);
    ASSERT_EQ(VDISP_Initialise(0), M24VA_OK);
    struct Case {
        const char* what;
        void (*change)(VDISP_ATTRIBUTES&);
    } cases[] = {
        {"magic", [](VDISP_ATTRIBUTES& x) { x.magic = 0x76; }},
        {"rotation", [](VDISP_ATTRIBUTES& x) { x.rotation = 45; }},
        {"source past the frame", [](VDISP_ATTRIBUTES& x) { x.srcRight = 33; }},
        {"empty source", [](VDISP_ATTRIBUTES& x) { x.srcBottom = x.srcTop; }},
        {"destination past the screen", [](VDISP_ATTRIBUTES& x) { x.dstRight = 801; }},
    };
    for (const auto& c : cases) {
        VDISP_ATTRIBUTES b = a;
        c.change(b);
        EXPECT_EQ(VDISP_OverlaySetAttributes(&b, f, 1), M24VA_INVALID_PARAM) << c.what;
    }
    EXPECT_EQ(VDISP_OverlaySetAttributes(&a, f, 1), M24VA_OK);
    EXPECT_EQ(VDISP_OverlaySetAttributes(&a, reinterpret_cast<M24VA_FRAME>(0x999), 1), M24VA_INVALID_PARAM);
    EXPECT_EQ(Get("attribute_sends"), 1);
    VDISP_COLORSPACE cs = {{300, 0, 1024, 0, 0, 0, 0, 0, 0}, 0};
    EXPECT_EQ(VDISP_OverlaySetColorspaceConversion(&cs), M24VA_INVALID_PARAM);
    cs.coeff[2] = 1023;
    EXPECT_EQ(VDISP_OverlaySetColorspaceConversion(&cs), M24VA_OK);
    EXPECT_EQ(VDISP_OverlayContrast(256), M24VA_INVALID_PARAM);
}

// The frame the overlay scans out is never a decode target: a frame begun into it, a flip
// to the frame being decoded and visible attributes that would scan it out are refused.
TEST_F(Chip, TheFrameOnScreenIsNoDecodeTarget) {
    auto f = Frames(2, 32, 32);
    ASSERT_EQ(VDISP_Initialise(0), M24VA_OK);
    VDISP_ATTRIBUTES a = Attributes(0, 0, 32, 32, 0, 0, 32, 32, 0);
    VDISP_ATTRIBUTES hidden = a;
    hidden.visible = 0;
    // Hidden, any frame may be decoded; shown, the one on screen may not.
    ASSERT_EQ(VDISP_OverlaySetAttributes(&hidden, f[0], 0), M24VA_OK);
    ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
    ASSERT_EQ(M24VA_EndFrame(1), M24VA_OK);
    ASSERT_EQ(VDISP_OverlaySetAttributes(&a, f[0], 1), M24VA_OK);
    EXPECT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_INVALID_PARAM);
    EXPECT_NE(LastError().find("on screen"), std::string::npos) << LastError();
    EXPECT_EQ(Get("screen_faults"), 1);
    ASSERT_EQ(M24VA_BeginFrame(f[1], 1), M24VA_OK);
    // While f[1] is decoded it cannot go on screen, by a flip or by the attributes.
    EXPECT_EQ(VDISP_OverlayFlipSurface(f[1], 0), M24VA_INVALID_PARAM);
    EXPECT_EQ(PVRSim_ShownFrame(), nullptr);
    EXPECT_EQ(VDISP_OverlaySetAttributes(&hidden, f[1], 0), M24VA_OK);  // hidden: nothing shown
    EXPECT_EQ(VDISP_OverlaySetAttributes(&a, f[1], 1), M24VA_INVALID_PARAM);
    EXPECT_EQ(Get("overlay_visible"), 0);
    EXPECT_EQ(Get("screen_faults"), 3);
    // Flipped to another frame, the attributes may go with any.
    EXPECT_EQ(VDISP_OverlayFlipSurface(f[0], 0), M24VA_OK);
    EXPECT_EQ(VDISP_OverlaySetAttributes(&a, f[1], 1), M24VA_OK);
    EXPECT_EQ(PVRSim_ShownFrame(), f[0]);
    EXPECT_EQ(Get("command_errors"), 3);
    // Ended, it may go on screen.
    M24VA_Reset(0);
    EXPECT_EQ(VDISP_OverlayFlipSurface(f[1], 0), M24VA_OK);
    EXPECT_EQ(Get("screen_faults"), 3);
}

// --- Frame buffer, registers, faults ---

TEST_F(Chip, RawFrameBufferAddressesTheScreenAsSeen) {
    for (int rotation : {0, 90, 180, 270}) {
        PVRSim_Reset();
        ASSERT_EQ(PVRSim_Set("panel_rotation", rotation), 0);
        PVR_RAW_FRAMEBUFFER r{};
        ASSERT_EQ(DrvEscape(PVR_ESCAPE_RAW_FRAMEBUFFER, 0, nullptr, sizeof(r), &r), 1);
        EXPECT_EQ(r.width, 800);
        EXPECT_EQ(r.height, 480);
        EXPECT_EQ(r.bitsPerPixel, 16);
        // A pixel written through the record appears at that place of the screen.
        uint16_t red = 0xF800;
        memcpy(static_cast<uint8_t*>(r.frame) + 700 * r.xStride + 20 * r.yStride, &red, 2);
        auto rgb = ScanOut();
        EXPECT_EQ(rgb[(20 * 800 + 700) * 3], 255) << rotation;
        EXPECT_EQ(rgb[(20 * 800 + 699) * 3], 0) << rotation;
        // The register block lies at the frame's megabyte plus 0x3FE0000.
        auto window = reinterpret_cast<uintptr_t>(r.frame) & ~static_cast<uintptr_t>(0xFFFFF);
        auto reg = [&](size_t off) { return *reinterpret_cast<volatile uint32_t*>(window + off); };
        EXPECT_EQ(reg(0x3FE0FF0) & 0xFFFFFF, 0x727189u) << rotation;
        int rows = rotation == 90 || rotation == 270 ? 800 : 480;
        EXPECT_EQ(reg(0x3FE216C) - reg(0x3FE2168), static_cast<uint32_t>(rows));
        EXPECT_GE(reg(0x3FE2164) & 0xFFF, reg(0x3FE216C) & 0xFFF);
    }
    char small[8];
    EXPECT_EQ(DrvEscape(PVR_ESCAPE_RAW_FRAMEBUFFER, 0, nullptr, sizeof(small), small), -1);
    EXPECT_EQ(DrvEscape(0x1234, 0, nullptr, 64, small), 0);
}

TEST_F(Chip, ScanLineRunsWithTheDisplay) {
    PVR_RAW_FRAMEBUFFER r{};
    ASSERT_EQ(DrvEscape(PVR_ESCAPE_RAW_FRAMEBUFFER, 0, nullptr, sizeof(r), &r), 1);
    auto window = reinterpret_cast<uintptr_t>(r.frame) & ~static_cast<uintptr_t>(0xFFFFF);
    auto line = [&] { return *reinterpret_cast<volatile uint32_t*>(window + 0x3FE2308) & 0xFFF; };
    ASSERT_EQ(VDISP_Initialise(0), M24VA_OK);
    uint32_t first = line(), seen = first;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen == first && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        seen = line();
    }
    EXPECT_NE(seen, first);
    EXPECT_LT(seen, static_cast<uint32_t>(Get("vertical_total")));
    ASSERT_EQ(PVRSim_Set("scanline", 123), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(line(), 123u);
    ASSERT_EQ(VDISP_Deinitialise(), M24VA_OK);
}

TEST_F(Chip, FaultsAreInjected) {
    ASSERT_EQ(PVRSim_Set("init_failures", 2), 0);
    EXPECT_EQ(M24VA_Initialise(0), M24VA_DEVICE_BUSY);
    EXPECT_EQ(M24VA_Initialise(0), M24VA_DEVICE_BUSY);
    EXPECT_EQ(M24VA_Initialise(0), M24VA_OK);
    ASSERT_EQ(PVRSim_Set("vdisp_failures", 1), 0);
    EXPECT_EQ(VDISP_Initialise(0), M24VA_DEVICE_BUSY);
    EXPECT_EQ(VDISP_Initialise(0), M24VA_OK);

    // Refused frame starts and attribute sends.
    {
        ASSERT_EQ(M24VA_FrameDimensions(32, 32), M24VA_OK);
        M24VA_FRAME h = nullptr;
        ASSERT_EQ(M24VA_FrameAllocate(&h, 1), M24VA_OK);
        ASSERT_EQ(PVRSim_Set("begin_failures", 1), 0);
        EXPECT_EQ(M24VA_BeginFrame(h, 1), M24VA_DEVICE_BUSY);
        EXPECT_EQ(M24VA_BeginFrame(h, 1), M24VA_OK);
        M24VA_Reset(0);
        VDISP_ATTRIBUTES a = Attributes(0, 0, 16, 16, 0, 0, 16, 16, 0);
        ASSERT_EQ(PVRSim_Set("attribute_failures", 1), 0);
        EXPECT_EQ(VDISP_OverlaySetAttributes(&a, h, 1), M24VA_DEVICE_BUSY);
        EXPECT_EQ(Get("overlay_visible"), 0);
        EXPECT_EQ(VDISP_OverlaySetAttributes(&a, h, 1), M24VA_OK);
        EXPECT_EQ(M24VA_FrameFree(&h, 1), M24VA_OK);
    }

    // Losing the state: frame calls give 5 until the driver is started again.
    ASSERT_EQ(M24VA_FrameDimensions(32, 32), M24VA_OK);
    M24VA_FRAME f = nullptr, g = nullptr;
    ASSERT_EQ(M24VA_FrameAllocate(&f, 1), M24VA_OK);
    ASSERT_EQ(PVRSim_Set("lose_after", 1), 0);
    void* p[3];
    int pitch;
    EXPECT_EQ(M24VA_FrameBeginAccess(f, p, &pitch, 1), M24VA_OK);
    EXPECT_EQ(M24VA_FrameEndAccess(f), M24VA_OK);
    EXPECT_EQ(M24VA_FrameBeginAccess(f, p, &pitch, 1), M24VA_LOST);
    EXPECT_EQ(M24VA_FrameAllocate(&g, 1), M24VA_LOST);
    EXPECT_EQ(M24VA_Initialise(0), M24VA_LOST);
    EXPECT_EQ(M24VA_FrameFree(&f, 1), M24VA_OK);
    EXPECT_EQ(M24VA_Deinitialise(), M24VA_OK);
    EXPECT_EQ(M24VA_Initialise(0), M24VA_OK);
    EXPECT_EQ(M24VA_FrameDimensions(32, 32), M24VA_OK);
    EXPECT_EQ(M24VA_FrameAllocate(&g, 1), M24VA_OK);

    char log[4096];
    PVRSim_Log(log, sizeof(log));
    EXPECT_NE(std::string(log).find("M24VA_Initialise(0) = 6\nM24VA_Initialise(0) = 6\nM24VA_Initialise(0) = 0\n"),
              std::string::npos)
        << log;
    EXPECT_NE(std::string(log).find("M24VA_FrameBeginAccess(#"), std::string::npos);
}

}  // namespace

namespace {

// The test interface the probe uses with every simulated chip.
TEST_F(Chip, CommonTestInterface) {
    EXPECT_EQ(SimChipActive(), 0);
    ASSERT_EQ(SimChipScreen(320, 240), 0);
    ASSERT_EQ(PVRSim_Set("panel_rotation", 270), 0);
    std::vector<uint16_t> desk(330 * 240, 0x1234);
    desk[10 * 330 + 300] = 0xF800;
    ASSERT_EQ(SimChipDesktop(desk.data(), 330, 1), 0);
    std::vector<uint8_t> rgb(320 * 240 * 3);
    ASSERT_EQ(SimChipScanOut(rgb.data(), 320, 240), 0);
    EXPECT_EQ(rgb[(10 * 320 + 300) * 3], 255);  // where it was written, as the user sees it
    std::vector<uint16_t> back(320 * 240);
    ASSERT_EQ(SimChipDesktop(back.data(), 320, 0), 0);
    EXPECT_EQ(back[10 * 320 + 300], 0xF800);
    EXPECT_EQ(back[0], 0x1234);
    EXPECT_EQ(SimChipDesktop(back.data(), 100, 0), -1);

    // Residuals of the blocks of the frame, limited to -256..255.
    auto f = Frames(1, 16, 16);
    EXPECT_EQ(SimChipActive(), 1);
    ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
    ASSERT_EQ(M24VA_WriteMCCmdData(0x28), M24VA_OK);
    uint32_t blocks[4] = {Pair(0, 800, true), Pair(0, -4000, true), Pair(0, 2400, true), 1};
    for (int b = 0; b < 4; ++b) {
        ASSERT_EQ(M24VA_WriteMCCmdData(0x10000002 | (b & 1) * 8 | (b >> 1) * 0x20), M24VA_OK);
        ASSERT_EQ(M24VA_WriteIZZBlock(&blocks[b], 1), M24VA_OK);
    }
    int16_t r[3 * 64];
    EXPECT_EQ(SimChipResiduals(r, 3), 4);
    EXPECT_EQ(r[0], 100);
    EXPECT_EQ(r[64 + 5], -256);   // -500
    EXPECT_EQ(r[128 + 63], 255);  // 300
    ASSERT_EQ(M24VA_BeginFrame(f[0], 1), M24VA_OK);
    EXPECT_EQ(SimChipResiduals(nullptr, 0), 0);
}

}  // namespace

namespace {

// A program that ends with the display started ends normally.
TEST(ChipExit, EndingWithTheDisplayStartedIsClean) {
    EXPECT_EXIT(
        {
            VDISP_Initialise(0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
