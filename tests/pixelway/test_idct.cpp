// The AHII face: decoding scripts through the face and the simulated chip against the
// CPU decoder of idct_reference, every direction, the chip's coefficient format, and the
// face's parameters, frame handling and brightness re-render.
#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <thread>

#include "fixture.h"
#include "idct_reference.h"

namespace {

constexpr int W = 64, H = 48;  // 4 x 3 macroblocks

class IdctTest : public AhiTest {
protected:
    // An IDCT output of W x H with `buffers` frame buffers, shown unscaled.
    void StartIdct(int buffers = 3, int direction = 0) {
        Sim().Screen(320, 240);
        Create();
        ASSERT_NE(face(), nullptr);
        ASSERT_EQ(SetFace(IDCT_WIDTH, W), 0);
        ASSERT_EQ(SetFace(IDCT_HEIGHT, H), 0);
        VideoFormat f = I420(W, H);
        ASSERT_EQ(face()->setParam(face(), IDCT_FORMAT, &f, sizeof(f)), 0);
        ASSERT_EQ(SetInt(OVERLAY_FULLYVISIBLE, 1), 0);
        bool turned = direction & DIR_SWAPXY;
        VRect v{40, 30, turned ? H : W, turned ? W : H};
        ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
        VideoEffects fx = o->fx;
        fx.direction = direction;
        ASSERT_EQ(o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
        if (buffers) {
            ASSERT_EQ(SetFace(IDCT_COUNT, buffers), 0);
        }
    }
    int SetFace(int id, int v) { return face()->setParam(face(), id, &v, sizeof(v)); }
    int SetBrightness(int brightness) {
        VideoEffects fx = o->fx;
        fx.brightness = brightness;
        return o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx));
    }
    int GetFace(int id, int* v) { return face()->getParam(face(), id, v, sizeof(*v)); }

    // Hands a picture to the face as a decoder does.
    int Run(const ref::Picture& pic, int frame, int rounding = 0) {
        int r = Begin(pic, frame, rounding);
        if (r != 0) return r;
        Send(pic, 0, pic.mbs.size());
        return face()->endChipFrame(face());
    }
    int Begin(const ref::Picture& pic, int frame, int rounding = 0) {
        IdctFace* f = face();
        EXPECT_EQ(SetFace(IDCT_MODE, rounding), 0);
        int previous = 0;
        return f->frameStart(f, frame, &previous, pic.target, pic.forward, pic.backward, pic.target, 1);
    }
    // Macroblocks [from, to) of a picture whose frame is open.
    void Send(const ref::Picture& pic, size_t from, size_t to) {
        IdctFace* f = face();
        for (size_t m = from; m < to; ++m) {
            const ref::Macroblock& mb = pic.mbs[m];
            int x = static_cast<int>(m) % (W / 16), y = static_cast<int>(m) / (W / 16);
            if (mb.kind == ref::Macroblock::Skipped) {
                f->skipped(f, x, y, mb.backwardSkip);
                continue;
            }
            f->position(f, x, y);
            f->vectorA(f, mb.kind == ref::Macroblock::Inter && mb.hasForward ? mb.forward.data() : nullptr,
                       mb.kind == ref::Macroblock::Inter && mb.hasBackward ? mb.backward.data() : nullptr);
            for (const ref::Block& b : mb.blocks) {
                if (mb.kind == ref::Macroblock::Intra) f->intra(f, b.coef.data(), b.count, b.scan);
                else f->inter(f, b.coef.data(), b.count);
            }
        }
    }

    // A frame buffer as it is held (with the sides exchanged when the output is turned).
    ref::Frame Buffer(int index) {
        Planes planes = {};
        int brightness = 0;
        VideoFormat fmt{};
        EXPECT_EQ(face()->lockBuffer(face(), index, planes, &brightness, &fmt), 0);
        ref::Frame out(fmt.width, fmt.height);
        if (!planes[0]) return out;
        for (int p = 0; p < 3; ++p) {
            int pitch = p ? fmt.pitch / 2 : fmt.pitch;
            for (int y = 0; y < out.p[p].height; ++y)
                std::memcpy(&out.p[p](0, y), static_cast<uint8_t*>(planes[p]) + static_cast<size_t>(y) * pitch,
                            static_cast<size_t>(out.p[p].width));
        }
        face()->unlockBuffer(face(), index);
        return out;
    }

    // The picture the overlay scans out now.
    ref::Frame OnScreen() {
        ref::Frame out(W, H);
        AhiSurf shown = Sim().Overlay(nullptr);
        const int planes[3] = {AHI_PLANE_Y, AHI_PLANE_U, AHI_PLANE_V};
        for (int p = 0; p < 3; ++p) EXPECT_EQ(Sim().SurfRead(shown, planes[p], out.p[p].px.data(), out.p[p].width), 0);
        return out;
    }
};

// A frame with its luma raised by n, as a change of brightness by n makes it.
ref::Frame Brighter(ref::Frame f, int n) {
    for (auto& v : f.p[0].px) v = static_cast<uint8_t>(std::min(255, v + n));
    return f;
}

// A call the player makes on its video thread, while the decoding thread waits.
int FromVideoThread(const std::function<int()>& call) {
    int r = 0;
    std::thread t([&] { r = call(); });
    t.join();
    return r;
}

// --- Scripts ---

int Mbs() { return (W / 16) * (H / 16); }

ref::Picture IntraPicture(std::mt19937& rng, int target) {
    ref::Picture p;
    p.target = target;
    std::uniform_int_distribution<int> scan(0, 2), dc(-200, 200);
    for (int m = 0; m < Mbs(); ++m) {
        ref::Macroblock mb;
        for (auto& b : mb.blocks) {
            b = ref::RandomBlock(rng, scan(rng), 60);
            b.coef[0] = static_cast<int16_t>(1024 + dc(rng));
            b.count = std::max(b.count, 1);
        }
        p.mbs.push_back(mb);
    }
    return p;
}

struct Motion {
    bool half = false;       // half-pel vectors
    bool four = false;       // a vector per luma block
    double skipped = 0;      // share of skipped macroblocks
    bool residual = false;   // DC residuals
    bool forward = true, backward = false;
    bool ac = false;         // residuals with AC coefficients (the chip may be one off)
};

ref::Picture InterPicture(std::mt19937& rng, int target, int fwd, int bwd, const Motion& m) {
    ref::Picture p;
    p.target = target;
    p.forward = fwd;
    p.backward = bwd;
    std::uniform_int_distribution<int> full(-6, 6), dcStep(0, 12), dcSign(0, 2);
    std::bernoulli_distribution skip(m.skipped), odd(0.5);
    auto vector = [&](int scale) {
        int x = full(rng) * 2 / scale, y = full(rng) * 2 / scale;
        if (m.half) {
            x += odd(rng) ? 1 : 0;
            y += odd(rng) ? 1 : 0;
        }
        return ref::Vec(x, y);
    };
    for (int i = 0; i < Mbs(); ++i) {
        ref::Macroblock mb;
        if (skip(rng)) {
            mb.kind = ref::Macroblock::Skipped;
            mb.backwardSkip = !m.forward;
            p.mbs.push_back(mb);
            continue;
        }
        mb.kind = ref::Macroblock::Inter;
        mb.hasForward = m.forward;
        mb.hasBackward = m.backward;
        for (auto* set : {&mb.forward, &mb.backward}) {
            uint32_t one = vector(1);
            for (int b = 0; b < 4; ++b) (*set)[static_cast<size_t>(b)] = m.four ? vector(1) : one;
            (*set)[4] = vector(2);
            (*set)[5] = vector(2);
        }
        for (auto& b : mb.blocks) {
            // Residuals a DCT computes exactly: multiples of 8, and 8k + 4 above 0 (a half).
            int k = dcStep(rng), sign = dcSign(rng);
            b = m.residual ? ref::DcBlock(sign == 0 ? 8 * k + 4 : sign == 1 ? 8 * k : -8 * k) : ref::DcBlock(0);
            if (m.ac) b = ref::RandomBlock(rng, 0, 20);
        }
        p.mbs.push_back(mb);
    }
    return p;
}

// --- Decoding ---

struct Sequence {
    const char* name;
    Motion p;         // the P picture from buffer 0 into 1
    int pRounding;
    Motion b;         // the B picture from 0 and 1 into 2
};

const Sequence kSequences[] = {
    {"one full-pel vector", {}, 0, {false, false, 0, false, true, true}},
    {"one half-pel vector, rounding 0", {true}, 0, {true, false, 0, false, true, true}},
    {"four half-pel vectors, rounding 1", {true, true}, 1, {true, true, 0, false, true, true}},
    {"skipped macroblocks", {true, false, 0.5}, 0, {true, false, 0.5, false, false, true}},
    {"residuals on half-pel prediction", {true, true, 0, true}, 1, {true, true, 0, true, true, true}},
    {"backward only", {true}, 0, {true, true, 0.3, true, false, true}},
};

TEST_F(IdctTest, ScriptsDecodeAsTheReferenceDecoderDoes) {
    for (const Sequence& s : kSequences) {
        SCOPED_TRACE(s.name);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        StartIdct(3);
        std::mt19937 rng(7);
        ref::Picture i = IntraPicture(rng, 0);
        ASSERT_EQ(Run(i, 1), 0);
        ref::Frame f0 = Buffer(0);
        // Intra blocks with AC: the chip's fixed point may be one off the double IDCT.
        EXPECT_LE(ref::MaxDiff(f0, ref::Decode(i, nullptr, nullptr, 0, W, H)), 1);
        ref::Picture p = InterPicture(rng, 1, 0, -1, s.p);
        ASSERT_EQ(Run(p, 2, s.pRounding), 0);
        ref::Frame f1 = Buffer(1);
        EXPECT_EQ(ref::MaxDiff(f1, ref::Decode(p, &f0, nullptr, s.pRounding, W, H)), 0);
        ref::Picture b = InterPicture(rng, 2, s.b.forward ? 0 : -1, 1, s.b);
        ASSERT_EQ(Run(b, 3, 0), 0);
        EXPECT_EQ(ref::MaxDiff(Buffer(2), ref::Decode(b, &f0, &f1, 0, W, H)), 0);
        EXPECT_EQ(Sim().Get("errors"), 0) << Sim().Log();
    }
}

TEST_F(IdctTest, EveryDirectionDecodesTheSamePictureTurnedBack) {
    auto decodeAll = [&](int direction) {
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        StartIdct(3, direction);
        std::mt19937 rng(11);
        ref::Picture i = IntraPicture(rng, 0);
        ref::Picture p = InterPicture(rng, 1, 0, -1, Motion{true, true, 0.25, true, true, false, true});
        ref::Picture b = InterPicture(rng, 2, 0, 1, Motion{true, true, 0.25, true, true, true, true});
        EXPECT_EQ(Run(i, 1), 0);
        EXPECT_EQ(Run(p, 2, 1), 0);
        EXPECT_EQ(Run(b, 3, 0), 0);
        EXPECT_EQ(Sim().Get("errors"), 0);
        return std::vector<ref::Frame>{Buffer(0), Buffer(1), Buffer(2)};
    };
    std::vector<ref::Frame> upright = decodeAll(0);
    for (int d = 1; d < 8; ++d) {
        SCOPED_TRACE(d);
        std::vector<ref::Frame> got = decodeAll(d);
        VideoFormat held{};
        ASSERT_EQ(face()->getParam(face(), IDCT_FORMAT, &held, sizeof(held)), 0);
        EXPECT_EQ(held.width, d & DIR_SWAPXY ? H : W);
        for (size_t k = 0; k < got.size(); ++k) {
            ref::Frame back = d & DIR_SWAPXY ? ref::Transposed(got[k]) : got[k];
            EXPECT_LE(ref::MaxDiff(back, upright[k]), 1) << "frame " << k;
        }
    }
}

TEST_F(IdctTest, TurnedOutputSendsTheLumaBlocksInTheOrder0213) {
    StartIdct(2, DIR_SWAPXY);
    ref::Picture p;
    ref::Macroblock mb;
    for (int b = 0; b < 6; ++b) mb.blocks[static_cast<size_t>(b)] = ref::DcBlock(8 * (b + 1));
    p.mbs.assign(static_cast<size_t>(Mbs()), mb);
    ASSERT_EQ(Run(p, 1), 0);
    std::vector<int16_t> res(static_cast<size_t>(Mbs()) * 6 * 64);
    ASSERT_EQ(Sim().Residuals(res.data(), Mbs() * 6), Mbs() * 6);
    for (int b = 0; b < 6; ++b) EXPECT_EQ(res[static_cast<size_t>(b) * 64], (std::vector<int>{1, 3, 2, 4, 5, 6})[static_cast<size_t>(b)]);
}

// --- The chip's coefficient format ---

TEST_F(IdctTest, CoefficientsReachTheChipAsRunLevelGroups) {
    StartIdct(2);
    IdctFace* f = face();
    int previous;
    ASSERT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 1), 0);
    f->position(f, 0, 0);
    f->vectorA(f, nullptr, nullptr);
    // Chroma blocks (no brightness offset): 64 non-zero coefficients, then five in the
    // zig-zag at positions 0, 1, 3, 6 and 10.
    int16_t all[64], five[64] = {};
    for (int i = 0; i < 64; ++i) all[i] = static_cast<int16_t>(i + 1);
    const uint8_t zz[] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32};
    int16_t values[] = {7, -3, 100, -1, 2};
    int at[] = {0, 1, 3, 6, 10};
    for (int k = 0; k < 5; ++k) five[zz[at[k]]] = values[k];
    for (int b = 0; b < 4; ++b) f->intra(f, all, 64, 0);
    AhiCoefGroup g[16];
    ASSERT_EQ(Sim().LastGroups(g, 16), 16);
    // Runs 0 throughout; the first four in the zig-zag are raster positions 0, 1, 8, 16.
    EXPECT_EQ((std::vector<int>{g[0].run[3], g[0].run[2], g[0].run[1], g[0].run[0]}), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ((std::vector<int>{g[0].level[1], g[0].level[0], g[0].level[3], g[0].level[2]}),
              (std::vector<int>{1, 2, 9, 17}));
    EXPECT_EQ(g[15].level[2], 64);
    f->intra(f, five, 11, 0);
    ASSERT_EQ(Sim().LastGroups(g, 16), 2);
    // First group: runs 0, 0, 1, 2 (bytes 3, 2, 1, 0); levels 7, -3, 100, -1.
    EXPECT_EQ((std::vector<int>{g[0].run[3], g[0].run[2], g[0].run[1], g[0].run[0]}), (std::vector<int>{0, 0, 1, 2}));
    EXPECT_EQ((std::vector<int>{g[0].level[1], g[0].level[0], g[0].level[3], g[0].level[2]}),
              (std::vector<int>{7, -3, 100, -1}));
    // Second group: one coefficient after a run of 3, then three 0xFF run bytes.
    EXPECT_EQ((std::vector<int>{g[1].run[3], g[1].run[2], g[1].run[1], g[1].run[0]}),
              (std::vector<int>{3, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(g[1].level[1], 2);
    EXPECT_EQ(f->endChipFrame(f), 0);
}

TEST_F(IdctTest, IntraLumaCarriesTheBrightnessAndTheCallersBlockStaysAsItWas) {
    StartIdct(2);
    VideoEffects fx = o->fx;
    fx.brightness = 5;
    ASSERT_EQ(o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
    IdctFace* f = face();
    int previous;
    ASSERT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 1), 0);
    f->position(f, 0, 0);
    f->vectorA(f, nullptr, nullptr);
    int16_t empty[64] = {}, block[64] = {}, big[64] = {};
    block[0] = 800;
    big[0] = 32760;
    int16_t copy[64], bigCopy[64];
    std::memcpy(copy, block, sizeof(block));
    std::memcpy(bigCopy, big, sizeof(big));
    AhiCoefGroup g[16];
    // A luma block without coefficients is still sent: its DC is the offset, 8 x 5.
    f->intra(f, empty, 0, 0);
    ASSERT_EQ(Sim().LastGroups(g, 16), 1);
    EXPECT_EQ(g[0].run[3], 0);
    EXPECT_EQ(g[0].level[1], 40);
    EXPECT_EQ(g[0].run[2], 0xFF);
    f->intra(f, block, 2, 0);
    ASSERT_EQ(Sim().LastGroups(g, 16), 1);
    EXPECT_EQ(g[0].level[1], 840);
    EXPECT_EQ(0, std::memcmp(copy, block, sizeof(block)));
    // The offset is added to a copy, saturated.
    f->intra(f, big, 1, 0);
    ASSERT_EQ(Sim().LastGroups(g, 16), 1);
    EXPECT_EQ(g[0].level[1], 32767);
    EXPECT_EQ(0, std::memcmp(bigCopy, big, sizeof(big)));
    f->intra(f, empty, 0, 0);
    // Chroma: no offset, nothing to send.
    f->intra(f, empty, 0, 0);
    EXPECT_EQ(Sim().LastGroups(g, 16), 0);
    f->intra(f, empty, 0, 0);
    std::vector<int16_t> res(6 * 64);
    ASSERT_EQ(Sim().Residuals(res.data(), 6), 6);
    EXPECT_EQ(res[0], 5);
    EXPECT_EQ(res[64], 105);
    EXPECT_EQ(res[2 * 64], 255);
    EXPECT_EQ(res[4 * 64], 0);
    // A count past 64 sends no coefficients and reads nothing past the block.
    ASSERT_EQ(f->frameStart(f, 2, &previous, 1, -1, -1, 1, 1), 0);
    f->position(f, 1, 0);
    f->vectorA(f, nullptr, nullptr);
    f->intra(f, block, 65, 0);
    EXPECT_EQ(Sim().LastGroups(g, 16), 0);
    EXPECT_EQ(0, std::memcmp(copy, block, sizeof(block)));
}

TEST_F(IdctTest, HalfPelFixCorrectsThe3200AndOnlyThere) {
    struct Case {
        uint32_t device;
        int fix;  // -1: the default
        int defaultFix;
        bool exact;
    } cases[] = {
        {0x57441002, -1, 1, true},
        {0x57441002, 0, 1, false},
        {0x12345678, -1, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fix);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        Sim().Set("device_id", c.device);
        StartIdct(2);
        int fix = -1;
        ASSERT_EQ(GetInt(0x110, &fix), 0);
        EXPECT_EQ(fix, c.defaultFix);
        if (c.fix >= 0) {
            ASSERT_EQ(SetInt(0x110, c.fix), 0);
        }
        std::mt19937 rng(3);
        ref::Picture i = IntraPicture(rng, 0);
        ASSERT_EQ(Run(i, 1), 0);
        ref::Frame f0 = Buffer(0);
        // Every block half a pel off on both axes, with a residual of a half.
        ref::Picture p = InterPicture(rng, 1, 0, -1, Motion{});
        for (auto& mb : p.mbs) {
            mb.forward.fill(ref::Vec(3, -5));
            for (auto& b : mb.blocks) b = ref::DcBlock(8 * 10 + 4);
        }
        ASSERT_EQ(Run(p, 2), 0);
        int diff = ref::MaxDiff(Buffer(1), ref::Decode(p, &f0, nullptr, 0, W, H));
        if (c.exact) EXPECT_EQ(diff, 0);
        else EXPECT_GT(diff, 0);
    }
}

// --- Frames ---

TEST_F(IdctTest, LateFramesAreDroppedAtTheEdgesTheTimingGives) {
    struct Case {
        bool twoIntermediates;
        int late;
        int result;
    } cases[] = {
        {false, 654, 0}, {false, 655, ERR_READ}, {true, 655, 0}, {true, 786, 0}, {true, 787, ERR_READ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.late);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        Sim().Screen(320, 240);
        Create();
        ASSERT_EQ(SetInt(0x115, c.twoIntermediates), 0);
        ASSERT_EQ(SetFace(IDCT_WIDTH, W), 0);
        ASSERT_EQ(SetFace(IDCT_HEIGHT, H), 0);
        VideoFormat f = I420(W, H);
        ASSERT_EQ(face()->setParam(face(), IDCT_FORMAT, &f, sizeof(f)), 0);
        // Scaled, so that frames go through the intermediate surfaces.
        VRect v{0, 0, 160, 120};
        ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
        ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
        ASSERT_EQ(SetFace(IDCT_COUNT, 2), 0);
        IdctFace* fc = face();
        int previous;
        ASSERT_EQ(fc->frameStart(fc, 1, &previous, 0, -1, -1, 0, 1), 0);
        ASSERT_EQ(fc->endChipFrame(fc), 0);
        IdctFrameEnd rec{0, 1000};
        int shown = o->shownFrames;
        EXPECT_EQ(fc->frameEnd(fc, 1000 + c.late, &rec), c.result);
        EXPECT_EQ(o->shownFrames, shown + (c.result == 0 ? 1 : 0));
    }
}

TEST_F(IdctTest, FrameEndRefusesNothingToShowAndRepeatedTimes) {
    StartIdct(2);
    IdctFace* f = face();
    int previous;
    ASSERT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 1), 0);
    ASSERT_EQ(f->endChipFrame(f), 0);
    IdctFrameEnd rec{0, 500};
    EXPECT_EQ(f->frameEnd(f, 500, &rec), 0);
    EXPECT_EQ(f->frameEnd(f, 510, &rec), ERR_READ);  // the same frame time again
    ASSERT_EQ(SetInt(OVERLAY_REPEAT, 1), 0);
    EXPECT_EQ(f->frameEnd(f, 510, &rec), 0);
    ASSERT_EQ(SetFace(IDCT_NOTHING_TO_SHOW, 0), 0);
    EXPECT_EQ(f->frameEnd(f, 520, &rec), ERR_NO_FRAME);
    // Showing: the overlay takes the buffer decoded last.
    AhiOverlayPos pos{};
    EXPECT_NE(Sim().Overlay(&pos), 0u);
}

TEST_F(IdctTest, TargetOnScreenTradesPlacesWithAFreeBuffer) {
    StartIdct(3);
    IdctFace* f = face();
    int previous = 0;
    IdctFrameEnd rec{0, 100};
    // Frame 10 into buffer 0, shown.
    ASSERT_EQ(f->frameStart(f, 10, &previous, 0, -1, -1, 0, 1), 0);
    EXPECT_EQ(previous, -1);
    ASSERT_EQ(f->endChipFrame(f), 0);
    ASSERT_EQ(f->frameEnd(f, 100, &rec), 0);
    AhiSurf shown = Sim().Overlay(nullptr);
    // Frame 11 into buffer 0 again, with buffer 0 on screen: another buffer's memory is
    // decoded into, and frame 10 stays where it is shown.
    ASSERT_EQ(f->frameStart(f, 11, &previous, 0, -1, -1, -1, 1), 0);
    int frame = 0;
    ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + 0, &frame), 0);
    EXPECT_EQ(frame, 11);
    int elsewhere = 0;
    for (int i = 1; i < 3; ++i) {
        ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + i, &frame), 0);
        elsewhere += frame == 10;
    }
    EXPECT_EQ(elsewhere, 1);
    EXPECT_EQ(Sim().Overlay(nullptr), shown);
    EXPECT_EQ(f->endChipFrame(f), 0);
    ASSERT_EQ(f->resetReferences(f), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + i, &frame), 0);
        EXPECT_EQ(frame, -1);
    }
}

// Frames held by the decoder: their pictures, by buffer index, and their numbers.
struct Held {
    std::vector<ref::Frame> pictures;
    std::vector<int> numbers;
};

// Another client of the chip's video memory, through the driver's own entry points.
class OtherClient {
public:
    OtherClient() {
        Look(&init_, "AhiInit");
        Look(&term_, "AhiTerm");
        Look(&enumerate_, "AhiDevEnum");
        Look(&open_, "AhiDevOpen");
        Look(&close_, "AhiDevClose");
        Look(&alloc_, "AhiSurfAlloc");
        Look(&free_, "AhiSurfFree");
    }
    ~OtherClient() { Give(); }
    // A planar surface of w x h in memory of `kind`.
    bool Take(int w, int h, int kind) {
        AhiDev device = 0;
        AhiDevInfo info{};
        if (init_(0) != 0) return false;
        started_ = true;
        if (enumerate_(&device, &info, 0) != 0 || open_(&context_, device, "QUELM", 2) != 0) return false;
        AhiSize size{w, h};
        return alloc_(context_, &surface_, &size, AHI_FMT_YUV420, kind) == 0 && surface_;
    }
    void Give() {
        if (surface_) free_(context_, surface_);
        if (context_) close_(context_);
        if (started_) term_();
        surface_ = 0;
        context_ = nullptr;
        started_ = false;
    }

private:
    template <typename T>
    void Look(T* slot, const char* name) {
        *slot = reinterpret_cast<T>(dlsym(Sim().module, name));
        ASSERT_NE(*slot, nullptr) << name;
    }
    decltype(&::AhiInit) init_ = nullptr;
    decltype(&::AhiTerm) term_ = nullptr;
    decltype(&::AhiDevEnum) enumerate_ = nullptr;
    decltype(&::AhiDevOpen) open_ = nullptr;
    decltype(&::AhiDevClose) close_ = nullptr;
    decltype(&::AhiSurfAlloc) alloc_ = nullptr;
    decltype(&::AhiSurfFree) free_ = nullptr;
    AhiContext* context_ = nullptr;
    AhiSurf surface_ = 0;
    bool started_ = false;
};

constexpr long long kBuffer = W * H * 3 / 2;  // one frame buffer of the chip

class HeldFramesTest : public IdctTest {
protected:
    // Decodes a picture and shows it, as a decoder does.
    void Show(const ref::Picture& pic, int frame) {
        ASSERT_EQ(Run(pic, frame), 0);
        IdctFrameEnd rec{0, 1000 * frame};
        ASSERT_EQ(face()->frameEnd(face(), 1000 * frame, &rec), 0);
    }
    Held Hold(int count) {
        Held h;
        for (int k = 0; k < count; ++k) {
            h.pictures.push_back(Buffer(k));
            int n = 0;
            EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + k, &n), 0);
            h.numbers.push_back(n);
        }
        return h;
    }
    void ExpectHeld(const Held& h) {
        int count = 0;
        ASSERT_EQ(GetFace(IDCT_COUNT, &count), 0);
        EXPECT_EQ(count, static_cast<int>(h.numbers.size()));
        for (size_t k = 0; k < h.numbers.size(); ++k) {
            int n = 0;
            EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + static_cast<int>(k), &n), 0);
            EXPECT_EQ(n, h.numbers[k]) << "buffer " << k;
            EXPECT_EQ(ref::MaxDiff(Buffer(static_cast<int>(k)), h.pictures[k]), 0) << "buffer " << k;
        }
    }
};

// While a window covers part of the output, a third buffer comes from display memory;
// once the output is fully visible again that memory goes back to the display, but not
// at the cost of a decoded frame.
TEST_F(HeldFramesTest, DecodedFramesOutliveTheReturnOfDisplayMemory) {
    struct Case {
        const char* what;
        bool memoryFreed;  // video memory that another client held is given back meanwhile
    } cases[] = {{"no video memory to move into", false}, {"video memory given back meanwhile", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        core::ClearVideoLogs();
        Sim().Screen(320, 240);
        ASSERT_EQ(Sim().Set("mem64", (c.memoryFreed ? 3 : 2) * kBuffer), 0);
        ASSERT_EQ(Sim().Set("mem32", 0), 0);
        OtherClient other;
        if (c.memoryFreed) {
            ASSERT_TRUE(other.Take(W, H, AHI_MEM_INTERNAL));
        }
        Create();
        ASSERT_EQ(SetFace(IDCT_WIDTH, W), 0);
        ASSERT_EQ(SetFace(IDCT_HEIGHT, H), 0);
        VideoFormat f = I420(W, H);
        ASSERT_EQ(face()->setParam(face(), IDCT_FORMAT, &f, sizeof(f)), 0);
        VRect v{40, 30, W, H};
        ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
        ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
        ASSERT_EQ(SetFace(IDCT_COUNT, 3), 0);
        ASSERT_GT(Sim().Get("used_offscreen"), 0);
        std::mt19937 rng(13);
        for (int k = 0; k < 3; ++k) Show(IntraPicture(rng, k), 10 + k);
        Held held = Hold(3);
        if (c.memoryFreed) other.Give();
        EXPECT_EQ(SetInt(OVERLAY_FULLYVISIBLE, 1), 0);
        ExpectHeld(held);
        // Display memory goes back as soon as video memory can take its picture.
        EXPECT_EQ(Sim().Get("used_offscreen") == 0, c.memoryFreed);
        EXPECT_EQ(core::WaitDisableLog().back(), c.memoryFreed ? 0 : 1);
        // The decoder goes on from the frames it holds.
        ref::Frame reference = Buffer(2);
        ref::Picture p = InterPicture(rng, 0, 2, -1, Motion{true});
        ASSERT_EQ(Run(p, 13), 0);
        EXPECT_EQ(ref::MaxDiff(Buffer(0), ref::Decode(p, &reference, nullptr, 0, W, H)), 0);
        EXPECT_EQ(Sim().Get("errors"), 0);
    }
}

// A buffer count that cannot be had changes nothing: the count, the buffers and the frames
// they hold stay as they were.
TEST_F(HeldFramesTest, ARefusedCountChangesNothing) {
    ASSERT_EQ(Sim().Set("mem64", 2 * kBuffer), 0);
    ASSERT_EQ(Sim().Set("mem32", 0), 0);
    StartIdct(2);
    std::mt19937 rng(17);
    Show(IntraPicture(rng, 0), 10);
    Show(IntraPicture(rng, 1), 11);
    Held held = Hold(2);
    long long surfaces = Sim().Get("surfaces");
    EXPECT_EQ(SetFace(IDCT_COUNT, 3), ERR_OUT_OF_MEMORY);
    ExpectHeld(held);
    EXPECT_EQ(Sim().Get("surfaces"), surfaces);
    IdctFace* fc = face();
    int previous;
    EXPECT_EQ(fc->frameStart(fc, 12, &previous, 2, -1, -1, 2, 1), ERR_INVALID_PARAM);
    ExpectHeld(held);
    ref::Picture p = InterPicture(rng, 0, 1, -1, Motion{true});
    ASSERT_EQ(Run(p, 12), 0);
    EXPECT_EQ(ref::MaxDiff(Buffer(0), ref::Decode(p, &held.pictures[1], nullptr, 0, W, H)), 0);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

// A frame start the chip refuses leaves the frames as they were, the one on screen too.
TEST_F(HeldFramesTest, ARefusedFrameStartChangesNothing) {
    StartIdct(3);
    std::mt19937 rng(19);
    Show(IntraPicture(rng, 0), 10);
    Show(IntraPicture(rng, 1), 11);
    Held held = Hold(3);
    AhiSurf shown = Sim().Overlay(nullptr);
    IdctFace* fc = face();
    int previous = 0;
    ASSERT_EQ(Sim().Set("frame_start_result", AHI_ERR_STATE), 0);
    // Buffer 1 is on screen: the decode would go into another buffer's memory.
    EXPECT_EQ(fc->frameStart(fc, 12, &previous, 1, 0, -1, 1, 1), ERR_DEVICE_ERROR);
    ASSERT_EQ(Sim().Set("frame_start_result", 0), 0);
    ExpectHeld(held);
    EXPECT_EQ(Sim().Overlay(nullptr), shown);
    // Accepted, it goes into another buffer's memory and frame 11 stays on screen.
    ASSERT_EQ(fc->frameStart(fc, 12, &previous, 1, 0, -1, 1, 1), 0);
    EXPECT_EQ(Sim().Overlay(nullptr), shown);
    int frame = 0;
    ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + 2, &frame), 0);
    EXPECT_EQ(frame, 11);
    EXPECT_EQ(fc->endChipFrame(fc), 0);
}

// When the decoder asks fewer buffers, those it gives up go back; the memory kinds of the
// buffers it keeps end balanced, one of each, with their frames.
TEST_F(HeldFramesTest, AShrinkingCountKeepsTheMemoryKindsBalanced) {
    ASSERT_EQ(Sim().Set("mem64", 2 * kBuffer), 0);
    ASSERT_EQ(Sim().Set("mem32", 4 * kBuffer), 0);
    StartIdct(2);
    std::mt19937 rng(23);
    Show(IntraPicture(rng, 0), 10);
    Show(IntraPicture(rng, 1), 11);
    Held held = Hold(2);
    // Two more buffers: internal memory is full, they come from external memory.
    ASSERT_EQ(SetFace(IDCT_COUNT, 4), 0);
    EXPECT_EQ(Sim().Get("used64"), 2 * kBuffer);
    EXPECT_EQ(Sim().Get("used32"), 2 * kBuffer);
    ASSERT_EQ(SetFace(IDCT_COUNT, 2), 0);
    ExpectHeld(held);
    EXPECT_EQ(Sim().Get("used64"), kBuffer);
    EXPECT_EQ(Sim().Get("used32"), kBuffer);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

// A refused count frees nothing, also when what fails comes after the buffers given up
// would go: here the switch to the direct overlay, whose status register stands still.
TEST_F(HeldFramesTest, ARefusedShrinkFreesNothing) {
    StartIdct(4);
    std::mt19937 rng(29);
    for (int k = 0; k < 4; ++k) Show(IntraPicture(rng, k), 10 + k);
    ASSERT_EQ(Sim().Set("status_stuck", 1), 0);
    EXPECT_EQ(SetInt(OVERLAY_FULLSCREEN, 1), ERR_DEVICE_ERROR);
    Held held = Hold(4);
    AhiSurf shown = Sim().Overlay(nullptr);
    ASSERT_EQ(ref::MaxDiff(OnScreen(), held.pictures[3]), 0);  // frame 13
    EXPECT_EQ(SetFace(IDCT_COUNT, 2), ERR_OUT_OF_MEMORY);
    ExpectHeld(held);
    EXPECT_EQ(Sim().Overlay(nullptr), shown);
    EXPECT_EQ(ref::MaxDiff(OnScreen(), held.pictures[3]), 0);
    // The decoder goes on with the buffers it has.
    ref::Picture p = InterPicture(rng, 3, 2, -1, Motion{true});
    ASSERT_EQ(Run(p, 14), 0);
    EXPECT_EQ(ref::MaxDiff(Buffer(3), ref::Decode(p, &held.pictures[2], nullptr, 0, W, H)), 0);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

// A brightness change between frames makes every held frame again through a spare buffer;
// the frame on screen is never written while it is shown, whichever buffer holds it.
TEST_F(HeldFramesTest, BrightnessBetweenFramesNeverWritesTheFrameOnScreen) {
    for (bool spare : {true, false}) {
        for (int onScreen = 0; onScreen < 3; ++onScreen) {
            SCOPED_TRACE(std::string(spare ? "a spare buffer" : "no spare") + ", buffer " + std::to_string(onScreen) +
                         " on screen");
            NodeDelete(o);
            o = nullptr;
            Sim().Reset();
            if (!spare) Sim().Set("mem32", 0), Sim().Set("mem64", 3 * (kBuffer + 64));
            StartIdct(3);
            std::mt19937 rng(31);
            for (int k = 0; k < 3; ++k) ASSERT_EQ(Run(IntraPicture(rng, k), 20 + k), 0);
            ASSERT_EQ(SetFace(IDCT_SHOW, onScreen), 0);
            IdctFrameEnd rec{0, 1000};
            ASSERT_EQ(face()->frameEnd(face(), 1000, &rec), 0);
            Held held = Hold(3);
            ASSERT_EQ(ref::MaxDiff(OnScreen(), held.pictures[static_cast<size_t>(onScreen)]), 0);
            EXPECT_EQ(FromVideoThread([&] { return SetBrightness(12); }), 0);
            for (auto& picture : held.pictures) picture = Brighter(picture, 12);
            ExpectHeld(held);
            EXPECT_EQ(ref::MaxDiff(OnScreen(), held.pictures[static_cast<size_t>(onScreen)]), 0);
            EXPECT_EQ(Sim().Get("errors"), 0);
        }
    }
}

// A brightness change while the decoder has a frame open waits for the frame's end: the
// frame is decoded whole, then made brighter with the others, and the next frame predicts
// from it.
TEST_F(HeldFramesTest, BrightnessWithinAFrameWaitsForItsEnd) {
    StartIdct(3);
    std::mt19937 rng(37);
    Show(IntraPicture(rng, 0), 20);
    ref::Frame f0 = Buffer(0);
    ref::Picture p = InterPicture(rng, 1, 0, -1, Motion{true, true, 0.25, true});
    ASSERT_EQ(Begin(p, 21), 0);
    Send(p, 0, p.mbs.size() / 2);
    EXPECT_EQ(FromVideoThread([&] { return SetBrightness(12); }), 0);
    Send(p, p.mbs.size() / 2, p.mbs.size());
    EXPECT_EQ(face()->endChipFrame(face()), 0);
    IdctFrameEnd rec{0, 21000};
    EXPECT_EQ(face()->frameEnd(face(), 21000, &rec), 0);
    ref::Frame f1 = Buffer(1);
    EXPECT_EQ(ref::MaxDiff(f1, Brighter(ref::Decode(p, &f0, nullptr, 0, W, H), 12)), 0);
    EXPECT_EQ(ref::MaxDiff(Buffer(0), Brighter(f0, 12)), 0);
    EXPECT_EQ(ref::MaxDiff(OnScreen(), f1), 0);
    ref::Picture q = InterPicture(rng, 2, 1, -1, Motion{true});
    ASSERT_EQ(Run(q, 22), 0);
    EXPECT_EQ(ref::MaxDiff(Buffer(2), ref::Decode(q, &f1, nullptr, 0, W, H)), 0);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

TEST_F(IdctTest, BrightnessReDecodesTheBuffersInUse) {
    for (int spare : {1, 0}) {
        SCOPED_TRACE(spare);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        // Without a spare the memory holds only the buffers in use.
        if (!spare) Sim().Set("mem32", 0), Sim().Set("mem64", 3 * (W * H * 3 / 2 + 64));
        StartIdct(3);
        std::mt19937 rng(5);
        std::vector<ref::Frame> before;
        std::vector<int> frames;
        for (int k = 0; k < 3; ++k) {
            ref::Picture i = IntraPicture(rng, k);
            ASSERT_EQ(Run(i, 20 + k), 0);
        }
        for (int k = 0; k < 3; ++k) {
            before.push_back(Buffer(k));
            int frame;
            ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + k, &frame), 0);
            frames.push_back(frame);
        }
        ASSERT_EQ(SetBrightness(12), 0);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(ref::MaxDiff(Buffer(k), Brighter(before[static_cast<size_t>(k)], 12)), 0) << k;
            int frame;
            ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + k, &frame), 0);
            EXPECT_EQ(frame, frames[static_cast<size_t>(k)]);
        }
        EXPECT_EQ(Sim().Get("errors"), 0);
    }
}

// --- Parameters ---

TEST_F(IdctTest, FaceParametersAnswerAsTheirTableSays) {
    StartIdct(3);
    IdctFace* f = face();
    void* owner = nullptr;
    ASSERT_EQ(f->getParam(f, IDCT_OWNER, &owner, sizeof(owner)), 0);
    EXPECT_EQ(owner, o);
    struct {
        void* owner;
        int32_t n;
    } info{};
    ASSERT_EQ(f->getParam(f, IDCT_OWNER_INFO, &info, sizeof(info)), 0);
    EXPECT_EQ(info.owner, o);
    EXPECT_EQ(info.n, 32);
    int v = 0;
    struct Get {
        int id, value;
    } gets[] = {{IDCT_ONE, 1}, {IDCT_COUNT, 3}, {IDCT_WIDTH, W}, {IDCT_HEIGHT, H}, {IDCT_ZERO, 0},
                {IDCT_ZERO2, 0}, {IDCT_MODE, 0}};
    for (const auto& g : gets) {
        EXPECT_EQ(GetFace(g.id, &v), 0) << g.id;
        EXPECT_EQ(v, g.value) << g.id;
    }
    // The decoding-mode bit goes to the chip inverted.
    EXPECT_EQ(Sim().Get("rounding"), 1);
    ASSERT_EQ(SetFace(IDCT_MODE, 1), 0);
    EXPECT_EQ(Sim().Get("rounding"), 0);
    ASSERT_EQ(GetFace(IDCT_MODE, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(SetFace(IDCT_ZERO, 0), 0);
    EXPECT_EQ(SetFace(IDCT_ZERO, 1), ERR_INVALID_PARAM);
    ASSERT_EQ(SetFace(IDCT_SHOW, 2), 0);
    ASSERT_EQ(GetFace(IDCT_SHOW, &v), 0);
    EXPECT_EQ(v, 2);
    ASSERT_EQ(SetFace(IDCT_SHOW, 3), 0);  // past the count: none
    ASSERT_EQ(GetFace(IDCT_SHOW, &v), 0);
    EXPECT_EQ(v, -1);
    VideoFormatEx copy{};
    ASSERT_EQ(f->getParam(f, IDCT_FORMAT_COPY, &copy, sizeof(copy)), 0);
    EXPECT_EQ(copy.format.width, W);
    EXPECT_EQ(copy.format.pixel.fourcc, FOURCC('I', '4', '2', '0'));
    // Ids the face does not know, and indexes out of range.
    EXPECT_EQ(GetFace(4000, &v), ERR_INVALID_PARAM);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 6, &v), ERR_INVALID_PARAM);
    EXPECT_EQ(SetFace(IDCT_FRAME_NUMBER + 99, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(SetFace(IDCT_COUNT, 7), ERR_INVALID_PARAM);
    EXPECT_EQ(SetFace(IDCT_COUNT, 0), ERR_INVALID_PARAM);
    Planes planes = {o, o, o};
    EXPECT_EQ(f->lockBuffer(f, 3, planes, nullptr, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(planes[0], nullptr);
    EXPECT_EQ(f->lockBuffer(f, -1, planes, nullptr, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(f->unlockBuffer(f, 5), ERR_INVALID_PARAM);
    int previous;
    EXPECT_EQ(f->frameStart(f, 1, &previous, 3, -1, -1, 0, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(f->frameStart(f, 1, &previous, 0, 7, -1, 0, 1), ERR_INVALID_PARAM);
    // The face's enumeration marks parameter 82.
    ParamInfo p{};
    bool marked = false;
    for (int i = 0; f->enumParams(f, i, &p) == 0; ++i)
        if (p.id == IDCT_OWNER_INFO) marked = p.flags & 1;
    EXPECT_TRUE(marked);
}

TEST_F(IdctTest, WithoutAnEngineTheFaceRefuses) {
    Sim().Screen(320, 240);
    Create();
    IdctFace* f = face();
    ASSERT_NE(f, nullptr);
    int previous, v = -1;
    EXPECT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 1), ERR_DEVICE_ERROR);
    EXPECT_EQ(GetFace(IDCT_COUNT, &v), 0);
    EXPECT_EQ(v, 0);
    VideoFormatEx copy;
    EXPECT_EQ(f->getParam(f, IDCT_FORMAT_COPY, &copy, sizeof(copy)), ERR_INVALID_PARAM);
    EXPECT_EQ(SetFace(IDCT_MODE, 1), ERR_INVALID_PARAM);
}

TEST_F(IdctTest, BackupAndRestoreKeepTheFramesAndTheirNumbers) {
    StartIdct(3);
    std::mt19937 rng(9);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Run(IntraPicture(rng, k), 30 + k), 0);
    std::vector<ref::Frame> before = {Buffer(0), Buffer(1), Buffer(2)};
    std::vector<int> numbers(3);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + k, &numbers[static_cast<size_t>(k)]), 0);
    IdctBackupRecord saved{};
    ASSERT_EQ(face()->getParam(face(), IDCT_BACKUP, &saved, sizeof(saved)), 0);
    EXPECT_EQ(saved.count, 3);
    // A fresh output, then the saved state back.
    NodeDelete(o);
    o = nullptr;
    Create();
    ASSERT_EQ(SetInt(OVERLAY_FULLYVISIBLE, 1), 0);
    VRect v{40, 30, W, H};
    ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
    ASSERT_EQ(face()->setParam(face(), IDCT_BACKUP, &saved, sizeof(saved)), 0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ref::MaxDiff(Buffer(k), before[static_cast<size_t>(k)]), 0) << k;
        int frame;
        ASSERT_EQ(GetFace(IDCT_FRAME_NUMBER + k, &frame), 0);
        EXPECT_EQ(frame, numbers[static_cast<size_t>(k)]);
    }
    EXPECT_EQ(face()->setParam(face(), IDCT_BACKUP, &saved, 100), ERR_INVALID_PARAM);
}

}  // namespace
