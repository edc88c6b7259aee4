// The 270I face: the command writers decoded by the simulated chip against a CPU decoder,
// every rotation of the frames, the IEEE 1180 accuracy procedure, the face's parameters.
#include <cinttypes>
#include <cstdio>
#include <map>

#include "face.h"

namespace fltest {
namespace {

// The command words written since the log was last cleared.
std::vector<uint32_t> Words() {
    std::vector<uint32_t> w;
    std::string log = SimLog();
    for (size_t at = log.find("M24VA_WriteMCCmdData(0x"); at != std::string::npos;
         at = log.find("M24VA_WriteMCCmdData(0x", at + 1))
        w.push_back(static_cast<uint32_t>(std::stoul(log.substr(at + 21, 10), nullptr, 16)));
    return w;
}

// The first pair of every coefficient block written since the log was last cleared.
std::vector<std::pair<int, uint32_t>> Blocks() {
    std::vector<std::pair<int, uint32_t>> b;
    std::string log = SimLog();
    for (size_t at = log.find("M24VA_WriteIZZBlock("); at != std::string::npos; at = log.find("M24VA_WriteIZZBlock(", at + 1)) {
        int n = 0;
        unsigned first = 0;
        sscanf(log.c_str() + at, "M24VA_WriteIZZBlock(%d: 0x%X", &n, &first);
        b.emplace_back(n, first);
    }
    return b;
}

std::string LastError() {
    char text[256];
    PVRSim_LastError(text, sizeof(text));
    return text;
}

class Face : public Output {
protected:
    IdctFace* f = nullptr;
    int mbw = 0, mbh = 0;

    // An IDCT output of w x h with the effects turned by `direction` and `frames` frames.
    void Open(int w, int h, int direction = 0, int frames = 4, fourcc_t fourcc = FOURCC('I', '4', '2', '0')) {
        ASSERT_NE(Create(), nullptr);
        f = O()->idctFace;
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(NodeClassId(f), I270_CLASS);
        if (direction) {
            VideoEffects fx{};
            fx.scaleX = fx.scaleY = 0x10000;
            fx.direction = direction;
            ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        }
        ASSERT_EQ(SetFace(IDCT_WIDTH, w), 0);
        ASSERT_EQ(SetFace(IDCT_HEIGHT, h), 0);
        VideoFormat v = Yuv(w, h, fourcc);
        ASSERT_EQ(f->setParam(f, IDCT_FORMAT, &v, sizeof(v)), 0) << SimLog();
        ASSERT_EQ(SetFace(IDCT_COUNT, frames), 0);
        mbw = w / 16, mbh = h / 16;
    }
    int SetFace(int id, int value) { return f->setParam(f, id, &value, sizeof(value)); }
    int GetFace(int id) {
        int v = -999;
        EXPECT_EQ(f->getParam(f, id, &v, sizeof(v)), 0) << id;
        return v;
    }
    // Decodes a script into frame `target` through the face.
    void Decode(const std::vector<Macroblock>& mbs, int target, int fwd, int bwd, bool roundDown = false) {
        ASSERT_EQ(SetFace(IDCT_MODE, roundDown ? 1 : 0), 0);
        int previous = -7;
        ASSERT_EQ(f->frameStart(f, 100 + target, &previous, target, fwd, bwd, target, 0), 0);
        Feed(f, mbs, mbw);
        ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
    }
    // A frame read back, turned upright again (`direction` undone).
    Yuv420 Read(int index, int direction = 0) {
        void* planes[3] = {};
        int brightness = -1;
        VideoFormat fmt{};
        EXPECT_EQ(f->lockBuffer(f, index, planes, &brightness, &fmt), 0);
        EXPECT_EQ(fmt.pixel.fourcc, FOURCC('I', 'M', 'C', '4'));
        Yuv420 up(mbw * 16, mbh * 16);
        for (int plane = 0; plane < 3; ++plane) {
            auto* base = static_cast<const uint8_t*>(planes[plane]);
            int w = up.W(plane), h = up.H(plane);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    // Where the upright sample lies in the turned frame.
                    int fx = x, fy = y, tw = w, th = h;
                    if (direction & DIR_SWAPXY) std::swap(fx, fy), std::swap(tw, th);
                    if (direction & DIR_MIRRORX) fx = tw - 1 - fx;
                    if (direction & DIR_MIRRORY) fy = th - 1 - fy;
                    up.At(plane, x, y) = base[static_cast<ptrdiff_t>(fy) * fmt.pitch + fx];
                }
        }
        f->unlockBuffer(f, index);
        return up;
    }
    // Samples that differ from the CPU decode by more than `tolerance`, and by any.
    std::pair<int, int> Compare(const Yuv420& chip, const Yuv420& cpu, int tolerance) {
        int far = 0, any = 0;
        for (int p = 0; p < 3; ++p)
            for (size_t i = 0; i < chip.p[p].size(); ++i) {
                int d = std::abs(chip.p[p][i] - cpu.p[p][i]);
                if (d > tolerance) ++far;
                if (d) ++any;
            }
        return {far, any};
    }
};

// --- Motion-compensation scripts against the CPU decoder ---

TEST_F(Face, ScriptsDecodeAsTheCpuDecodes) {
    Open(64, 48);
    Scripts s(1180);
    int n = mbw * mbh;
    // Two intra pictures: the references.
    std::vector<Macroblock> intraA, intraB;
    for (int i = 0; i < n; ++i) intraA.push_back(s.Intra(i % 2 == 0)), intraB.push_back(s.Intra(i % 3 == 0));
    Yuv420 a(64, 48), b(64, 48);
    CpuDecoder::Frame(intraA, mbw, nullptr, nullptr, false, a);
    CpuDecoder::Frame(intraB, mbw, nullptr, nullptr, false, b);
    Decode(intraA, 0, -1, -1);
    Decode(intraB, 1, -1, -1);
    auto [farA, anyA] = Compare(Read(0), a, 1);
    auto [farB, anyB] = Compare(Read(1), b, 1);
    EXPECT_EQ(farA + farB, 0);
    EXPECT_LT(anyA + anyB, 20);  // rounding ties of the double-precision reference only

    struct Case {
        const char* what;
        bool backwardRef;
        bool roundDown;
        Macroblock (*make)(Scripts&);
    } cases[] = {
        {"one vector, whole pixels", false, false,
         [](Scripts& r) { return r.Inter(Macroblock::OneVector, true, false, false, false, true); }},
        {"one vector, half pixels, rounding up", false, false,
         [](Scripts& r) { return r.Inter(Macroblock::OneVector, true, false, true, false, true); }},
        {"one vector, half pixels, rounding down", false, true,
         [](Scripts& r) { return r.Inter(Macroblock::OneVector, true, false, true, false, true); }},
        {"four vectors, half pixels", false, false,
         [](Scripts& r) { return r.Inter(Macroblock::FourVectors, true, false, true, false, true); }},
        {"four vectors, rounding down", false, true,
         [](Scripts& r) { return r.Inter(Macroblock::FourVectors, true, false, true, false, false); }},
        {"skipped", false, false, [](Scripts&) { Macroblock m; m.kind = Macroblock::Skipped; return m; }},
        {"intra in a predicted picture", false, false, [](Scripts& r) { return r.Intra(false); }},
        {"bidirectional", true, false,
         [](Scripts& r) { return r.Inter(Macroblock::OneVector, true, true, true, false, true); }},
        {"backward only", true, false,
         [](Scripts& r) { return r.Inter(Macroblock::OneVector, false, true, true, false, true); }},
        {"four vectors, both directions", true, false,
         [](Scripts& r) { return r.Inter(Macroblock::FourVectors, true, true, true, false, false); }},
        {"four vectors, backward only", true, true,
         [](Scripts& r) { return r.Inter(Macroblock::FourVectors, false, true, true, false, false); }},
        {"skipped from the backward picture", true, false, [](Scripts&) {
             Macroblock m;
             m.kind = Macroblock::Skipped;
             m.backward = true;
             return m;
         }},
        {"inter residuals with AC", false, false,
         [](Scripts& r) { return r.Inter(Macroblock::OneVector, true, false, true, true, false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Macroblock> mbs;
        for (int i = 0; i < n; ++i) mbs.push_back(c.make(s));
        Yuv420 want(64, 48);
        CpuDecoder::Frame(mbs, mbw, &a, &b, c.roundDown, want);
        Decode(mbs, 2, 0, c.backwardRef ? 1 : -1, c.roundDown);
        auto [far, any] = Compare(Read(2), want, 1);
        EXPECT_EQ(far, 0);
        EXPECT_LT(any, 20);
        EXPECT_EQ(SimGet("command_errors"), 0) << LastError();
    }
}

// Every rotation of the frames decodes to the same picture, turned.
TEST_F(Face, EveryRotationDecodesTheSamePicture) {
    Scripts s(7);
    int n = 4 * 3;
    std::vector<Macroblock> intra, pframe, bframe;
    for (int i = 0; i < n; ++i) intra.push_back(s.Intra(true));
    for (int i = 0; i < n; ++i) {
        Macroblock::Kind kinds[] = {Macroblock::OneVector, Macroblock::FourVectors, Macroblock::Skipped, Macroblock::Intra};
        Macroblock::Kind k = kinds[i % 4];
        pframe.push_back(k == Macroblock::Intra ? s.Intra(true)
                         : k == Macroblock::Skipped ? Macroblock{Macroblock::Skipped}
                                                    : s.Inter(k, true, false, true, true, true));
        bool fw = i % 3 != 1, bw = i % 3 != 0;
        bframe.push_back(s.Inter(i % 2 ? Macroblock::FourVectors : Macroblock::OneVector, fw, bw, true, true, true));
    }
    // Upright first, then the three turns.
    Yuv420 upright[3];
    for (int direction : {0, DIR_SWAPXY | DIR_MIRRORY, DIR_MIRRORX | DIR_MIRRORY, DIR_SWAPXY | DIR_MIRRORX}) {
        SCOPED_TRACE(direction);
        PVRSim_Reset();
        if (object) NodeDelete(object);
        object = nullptr;
        Open(64, 48, direction);
        Decode(intra, 0, -1, -1);
        Decode(pframe, 1, 0, -1, true);
        Decode(bframe, 2, 0, 1);
        EXPECT_EQ(SimGet("command_errors"), 0) << LastError();
        // The frames are turned as the effects ask.
        VideoFormat fmt{};
        void* planes[3];
        int brightness;
        ASSERT_EQ(f->lockBuffer(f, 0, planes, &brightness, &fmt), 0);
        f->unlockBuffer(f, 0);
        EXPECT_EQ(fmt.width, direction & DIR_SWAPXY ? 48 : 64);
        for (int i = 0; i < 3; ++i) {
            Yuv420 got = Read(i, direction);
            if (direction == 0)
                upright[i] = got;
            else
                EXPECT_TRUE(got == upright[i]) << "frame " << i;
        }
    }
}

// --- 4:2:2 pictures ---

// A unit of a 4:2:2 picture: 16 x 8 samples as two luma blocks side by side, then one block
// of each chroma plane over the same area (half the width, all the rows).
struct Unit422 {
    int16_t coeffs[4][64] = {};  // raster order
    int counts[4] = {};          // coefficients in scan order that the decoder hands over
    int scan = 0;                // the luma blocks' scan; chroma blocks use the zig-zag
};

// The inverse DCT of the first `count` coefficients along `scan`, at column x and row y
// (rows may lie between two of the block's), from the vertical frequencies below `bands`.
double Sample(const int16_t* c, int count, const int* scan, double x, double y, int bands) {
    double s = 0;
    for (int k = 0; k < std::clamp(count, 0, 64); ++k) {
        int i = scan[k], u = i % 8, v = i / 8;
        if (v >= bands || !c[i]) continue;
        double cu = u ? 0.5 : std::sqrt(0.125), cv = v ? 0.5 : std::sqrt(0.125);
        s += c[i] * cu * cv * std::cos((2 * x + 1) * u * M_PI / 16) * std::cos((2 * y + 1) * v * M_PI / 16);
    }
    return s;
}

// A 4:2:2 picture as the 4:2:0 frames keep it: the luma as decoded; each chroma row of the
// frame stands for two rows of the block and is the block sampled between them from its
// four lowest vertical frequencies (all that half as many rows can carry).
Yuv420 Cpu422(const std::vector<Unit422>& units, int w, int h) {
    Yuv420 out(w, h);
    int perRow = w / 16;
    auto put = [&](int plane, int x, int y, double v) {
        out.At(plane, x, y) = static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
    };
    for (size_t n = 0; n < units.size(); ++n) {
        const Unit422& u = units[n];
        int ux = static_cast<int>(n) % perRow, uy = static_cast<int>(n) / perRow;
        for (int b = 0; b < 2; ++b)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    put(0, 16 * ux + 8 * b + x, 8 * uy + y, Sample(u.coeffs[b], u.counts[b], ScanOf(u.scan), x, y, 8));
        for (int b = 2; b < 4; ++b)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 8; ++x)
                    put(b - 1, 8 * ux + x, 4 * uy + y, Sample(u.coeffs[b], u.counts[b], ZigZag(), x, 2 * y + 0.5, 4));
    }
    return out;
}

TEST_F(Face, Pictures422DecodeAsTheCpuDecodes) {
    const int w = 64, h = 32;
    Open(w, h, 0, 2, FOURCC('Y', 'V', '1', '6'));
    Scripts s(422);
    std::vector<Unit422> units(static_cast<size_t>(w / 16 * (h / 8)));
    for (size_t n = 0; n < units.size(); ++n) {
        Unit422& u = units[n];
        u.scan = static_cast<int>(n % 3);
        for (int b = 0; b < 4; ++b) {
            const int* scan = b < 2 ? ScanOf(u.scan) : ZigZag();
            int16_t* c = u.coeffs[b];
            c[0] = static_cast<int16_t>(8 * (b < 2 ? s.Rand(4, 28) : s.Rand(12, 20)));
            // Coefficients along the scan, among them chroma ones of more vertical detail than
            // the frames keep.
            int count = 1;
            for (int k = 1; k < 40; ++k)
                if (s.Rand(0, 3) == 0) {
                    c[scan[k]] = static_cast<int16_t>(s.Rand(-30, 30));
                    count = k + 1;
                }
            u.counts[b] = count;
        }
        if (n % 5 == 2) {
            // An empty luma block and an empty chroma block.
            std::fill(u.coeffs[1], u.coeffs[1] + 64, 0);
            std::fill(u.coeffs[3], u.coeffs[3] + 64, 0);
            u.counts[1] = u.counts[3] = 0;
        }
    }
    int previous;
    ASSERT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 0), 0);
    // Intra pictures only.
    EXPECT_EQ(f->inter, nullptr);
    EXPECT_EQ(f->skipped, nullptr);
    EXPECT_EQ(f->vectorA, nullptr);
    EXPECT_EQ(f->vectorB, nullptr);
    for (size_t n = 0; n < units.size(); ++n) {
        f->position(f, static_cast<int>(n) % (w / 16), static_cast<int>(n) / (w / 16));
        for (int b = 0; b < 4; ++b) f->intra(f, units[n].coeffs[b], units[n].counts[b], units[n].scan);
    }
    ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
    EXPECT_EQ(SimGet("command_errors"), 0) << LastError();
    auto [far, any] = Compare(Read(0), Cpu422(units, w, h), 1);
    EXPECT_EQ(far, 0);
    EXPECT_LT(any, 20);  // rounding ties of the double-precision reference only
}

// --- What the writers hand the chip ---

TEST_F(Face, EmptyBlocksSignsAndReferenceBits) {
    Open(64, 48, DIR_SWAPXY | DIR_MIRRORY);  // frames turned a quarter: rotation 1
    int previous;
    ASSERT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 0), 0);
    f->position(f, 0, 0);
    PVRSim_ClearLog();
    int16_t zero[64] = {}, one[64] = {};
    one[1] = 5;  // row 0, column 1
    f->intra(f, zero, 0, 0);
    f->intra(f, one, 2, 0);
    auto blocks = Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], std::make_pair(1, 0x00000001u));  // an empty intra block: the pair {1, 0}
    EXPECT_EQ(blocks[1], std::make_pair(1, 0xFFFB0011u));  // position field 16 (+ last), value -5
    EXPECT_EQ(one[1], 5);                                  // the caller's block is left as it was
    for (int b = 2; b < 6; ++b) f->intra(f, zero, 0, 0);
    ASSERT_EQ(f->endChipFrame(f), 0) << LastError();

    // Inter: an empty luma block writes nothing; a B-frame macroblock with only a
    // backward vector uses reference bits 0xD.
    ASSERT_EQ(f->frameStart(f, 2, &previous, 1, 0, 2, 1, 0), 0);
    Vectors back{};
    back.v[0][0] = -6, back.v[0][1] = -6;  // up and left of the frame: the fields stay 14 bits
    f->position(f, 0, 0);
    PVRSim_ClearLog();
    f->vectorA(f, nullptr, nullptr);  // no vectors: nothing to predict
    f->vectorB(f, nullptr, nullptr);
    EXPECT_TRUE(Words().empty());
    f->vectorA(f, nullptr, &back);
    auto words = Words();
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], 0x28u);
    EXPECT_EQ(words[1], 0x8000000u);
    EXPECT_EQ(words[2] >> 28, 0xDu);
    PVRSim_ClearLog();
    f->inter(f, zero, 0);
    EXPECT_TRUE(Words().empty());
    EXPECT_TRUE(Blocks().empty());
    for (int b = 1; b < 6; ++b) f->inter(f, zero, 0);
    ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
}

TEST_F(Face, ModeParameterRoundsDownFromTheNextFrame) {
    Open(32, 32);
    int previous;
    Vectors v{};
    v.v[0][0] = 1;
    for (int mode : {1, 0}) {
        ASSERT_EQ(SetFace(IDCT_MODE, mode), 0);
        EXPECT_EQ(GetFace(IDCT_MODE), mode);
        ASSERT_EQ(f->frameStart(f, 3, &previous, 1, 0, -1, 1, 0), 0);
        f->position(f, 1, 1);
        PVRSim_ClearLog();
        f->vectorA(f, &v, nullptr);
        auto words = Words();
        ASSERT_EQ(words.size(), 3u);
        EXPECT_EQ(words[0], mode ? 0x68u : 0x28u);
        // The luma word of macroblock (1, 1): half pixels 33, 32, forward.
        EXPECT_EQ(words[2], 0xC0000000u | 32u << 14 | 33u);
        M24VA_Reset(0);
    }
}

// --- The face's parameters ---

TEST_F(Face, ParametersAndIndexesAreChecked) {
    Open(64, 48, 0, 3);
    void* owner = nullptr;
    ASSERT_EQ(f->getParam(f, IDCT_OWNER, &owner, sizeof(owner)), 0);
    EXPECT_EQ(owner, object);
    struct {
        void* owner;
        int32_t size;
    } info{};
    ASSERT_EQ(f->getParam(f, IDCT_OWNER_INFO, &info, sizeof(info)), 0);
    EXPECT_EQ(info.owner, object);
    EXPECT_EQ(info.size, 32);
    EXPECT_EQ(GetFace(IDCT_ONE), 1);
    EXPECT_EQ(GetFace(IDCT_COUNT), 3);
    EXPECT_EQ(GetFace(IDCT_WIDTH), 64);
    EXPECT_EQ(GetFace(IDCT_HEIGHT), 48);
    EXPECT_EQ(GetFace(IDCT_ZERO), 0);
    EXPECT_EQ(GetFace(IDCT_ZERO2), 0);
    EXPECT_EQ(SetFace(IDCT_ZERO, 0), 0);
    EXPECT_EQ(SetFace(IDCT_ZERO, 1), ERR_INVALID_PARAM);
    VideoFormat fmt{};
    ASSERT_EQ(f->getParam(f, IDCT_FORMAT, &fmt, sizeof(fmt)), 0);
    EXPECT_EQ(fmt.width, 64);
    EXPECT_EQ(fmt.pixel.fourcc, FOURCC('I', '4', '2', '0'));
    VideoFormatEx ex{};
    ASSERT_EQ(f->getParam(f, IDCT_FORMAT_COPY, &ex, sizeof(ex)), 0);
    EXPECT_EQ(ex.format.height, 48);
    // Show index and frame numbers by index; out of range is refused.
    EXPECT_EQ(SetFace(IDCT_SHOW, 2), 0);
    EXPECT_EQ(GetFace(IDCT_SHOW), 2);
    EXPECT_EQ(SetFace(IDCT_SHOW, 3), 0);
    EXPECT_EQ(GetFace(IDCT_SHOW), -1);
    EXPECT_EQ(SetFace(IDCT_FRAME_NUMBER + 2, 77), 0);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 2), 77);
    int v;
    EXPECT_EQ(f->getParam(f, IDCT_FRAME_NUMBER + 3, &v, sizeof(v)), ERR_INVALID_PARAM);
    EXPECT_EQ(SetFace(IDCT_FRAME_NUMBER + 3, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(f->getParam(f, 4000, &v, sizeof(v)), ERR_INVALID_PARAM);
    int previous;
    EXPECT_EQ(f->frameStart(f, 1, &previous, 3, -1, -1, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(f->frameStart(f, 1, &previous, 0, 5, -1, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 9, 0), ERR_INVALID_PARAM);
    void* planes[3] = {&v, &v, &v};
    int brightness;
    EXPECT_EQ(f->lockBuffer(f, 3, planes, &brightness, &fmt), ERR_INVALID_PARAM);
    EXPECT_EQ(planes[0], nullptr);
    // frameStart hands back the previous frame number and resets clear them all.
    ASSERT_EQ(f->frameStart(f, 55, &previous, 2, -1, -1, 2, 0), 0);
    EXPECT_EQ(previous, 77);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 2), 55);
    M24VA_Reset(0);
    ASSERT_EQ(f->resetReferences(f), 0);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 2), -1);
    // The counters of the base record.
    int before = O()->droppedFrames, shown = O()->shownFrames;
    int zero = 0, one = 1;
    f->countFrame(f, &zero, 1);
    f->countFrame(f, &one, 0);
    f->countFrame(f, nullptr, 0);
    EXPECT_EQ(O()->droppedFrames, before + 1);
    EXPECT_EQ(O()->shownFrames, shown + 2);
    // The base parameters come first, and kind 82 is flagged.
    ParamInfo p{};
    bool flagged = false;
    for (int i = 0; f->enumParams(f, i, &p) == 0 && i < 50; ++i)
        if (p.id == IDCT_OWNER_INFO) flagged = p.flags & 1;
    EXPECT_TRUE(flagged);
    // Without the driver the output format is not there.
    ASSERT_EQ(Set(OVERLAY_RELEASE, 1), 0);
    EXPECT_EQ(f->getParam(f, IDCT_FORMAT, &fmt, sizeof(fmt)), ERR_INVALID_PARAM);
    EXPECT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 0), ERR_DEVICE_ERROR);
}

// The writers go on where the decoder writes into the frame on screen: another frame is
// taken, the one shown is not touched.
TEST_F(Face, TheFrameOnScreenIsNotWrittenInto) {
    Open(32, 32, 0, 3);
    Scripts s(3);
    std::vector<Macroblock> one, two;
    for (int i = 0; i < 4; ++i) one.push_back(s.Intra(false)), two.push_back(s.Intra(false));
    Decode(one, 0, -1, -1);
    IdctFrameEnd end{0, -1};
    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);  // frame 0 goes on screen
    Yuv420 shown = Read(0);
    Decode(two, 0, -1, -1);                    // the decoder asks for frame 0 again
    Yuv420 want(32, 32);
    CpuDecoder::Frame(two, mbw, nullptr, nullptr, false, want);
    EXPECT_EQ(Compare(Read(0), want, 1).first, 0);  // index 0 now names a fresh frame
    // The picture on screen is still there, in another frame.
    bool found = false;
    for (int i = 0; i < GetFace(IDCT_COUNT); ++i) found = found || Read(i) == shown;
    EXPECT_TRUE(found);
}

// The frame a decode starts into, as the chip was told it.
M24VA_FRAME BegunFrame() {
    std::string log = SimLog();
    size_t at = log.rfind("M24VA_BeginFrame(#");
    if (at == std::string::npos) return nullptr;
    return reinterpret_cast<M24VA_FRAME>(std::stoul(log.substr(at + 18), nullptr, 16));
}

// On a shown output, the frame on screen and the one taken off it last are never decoded
// into, whatever index the decoder names; an update of the output meanwhile shows the same
// frame again, not the one being decoded.
TEST_F(Face, ADecodeNeverTargetsTheFrameOnScreen) {
    Open(32, 32, 0, 3);
    ASSERT_EQ(Viewport(0, 0, 32, 32), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    Scripts s(21);
    struct Step {
        int target, forward;
    } steps[] = {{0, -1}, {0, -1}, {1, 0}, {1, -1}, {2, 1}, {0, 2}, {0, -1}};
    M24VA_FRAME shownBefore = nullptr;
    int time = 1000;
    for (const Step& step : steps) {
        SCOPED_TRACE(time);
        M24VA_FRAME shown = PVRSim_ShownFrame();
        std::vector<Macroblock> mbs;
        for (int i = 0; i < 4; ++i) mbs.push_back(s.Intra(false));
        PVRSim_ClearLog();
        int previous;
        ASSERT_EQ(f->frameStart(f, time, &previous, step.target, step.forward, -1, step.target, 0), 0);
        M24VA_FRAME target = BegunFrame();
        ASSERT_NE(target, nullptr);
        EXPECT_NE(target, shown);
        EXPECT_NE(target, shownBefore);
        // Moved while the frame is decoded: the overlay is shown again with the frame it had.
        ASSERT_EQ(Viewport(time / 1000 % 2 * 2, 0, 32, 32), 0);
        EXPECT_EQ(PVRSim_ShownFrame(), shown);
        Feed(f, mbs, mbw);
        ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
        IdctFrameEnd end{0, time};
        ASSERT_EQ(f->frameEnd(f, time, &end), 0);
        EXPECT_EQ(PVRSim_ShownFrame(), target);
        shownBefore = shown;
        time += 1000;
    }
}

// With no other frame to be had, a decode into the frame on screen is refused and the
// frames stay as they were.
TEST_F(Face, NoFrameToDecodeIntoIsRefused) {
    Open(32, 32, 0, 2);
    ASSERT_EQ(Viewport(0, 0, 32, 32), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    // No memory for a third frame.
    ASSERT_EQ(PVRSim_Set("local_memory", SimGet("local_memory_used")), 0);
    Scripts s(4);
    std::vector<Macroblock> mbs;
    for (int i = 0; i < 4; ++i) mbs.push_back(s.Intra(false));
    Decode(mbs, 0, -1, -1);
    IdctFrameEnd end{0, 1000};
    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
    Decode(mbs, 1, -1, -1);
    end.frameTime = 2000;
    ASSERT_EQ(f->frameEnd(f, 2000, &end), 0);
    M24VA_FRAME shown = PVRSim_ShownFrame();
    Yuv420 picture = Read(1);
    int previous;
    // Frame 1 is on screen and frame 0 is the reference.
    EXPECT_EQ(f->frameStart(f, 7, &previous, 1, 0, -1, 1, 0), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(PVRSim_ShownFrame(), shown);
    EXPECT_TRUE(Read(1) == picture);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 0), 100);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 1), 101);
    EXPECT_EQ(GetFace(IDCT_COUNT), 2);
}

struct RefusedCountCase {
    const char* name;
    int count;   // asked when the output opens (1 and 2 both hold two frames)
    int room;    // frames' worth of memory free while `asked` is refused
    int asked;   // 0: nothing is refused
};

void PrintTo(const RefusedCountCase& c, std::ostream* os) { *os << c.name; }

class RefusedCount : public Face, public testing::WithParamInterface<RefusedCountCase> {};

// A frame count that cannot be had leaves the frames, their numbers and pictures and the
// memory as they were; the next decode that needs a frame more than are held gets exactly
// one more, where the memory holds one.
TEST_P(RefusedCount, ChangesNothingAndTheNextGrowthTakesOneFrame) {
    const RefusedCountCase& c = GetParam();
    Open(32, 32, 0, c.count);
    ASSERT_EQ(Viewport(0, 0, 32, 32), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    const int held = GetFace(IDCT_COUNT);
    ASSERT_EQ(held, 2);
    const long long used = SimGet("local_memory_used");
    const long long frameBytes = used / held;
    // A picture in frame 0, on screen; frame 1 stays black.
    ASSERT_EQ(PVRSim_Set("local_memory", used), 0);
    Scripts s(8);
    std::vector<Macroblock> mbs;
    for (int i = 0; i < 4; ++i) mbs.push_back(s.Intra(false));
    Decode(mbs, 0, -1, -1);
    IdctFrameEnd end{0, 1000};
    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
    ASSERT_EQ(GetFace(IDCT_COUNT), held);
    M24VA_FRAME shown = PVRSim_ShownFrame();
    Yuv420 pictures[2] = {Read(0), Read(1)};

    if (c.asked) {
        ASSERT_EQ(PVRSim_Set("local_memory", used + c.room * frameBytes), 0);
        EXPECT_EQ(SetFace(IDCT_COUNT, c.asked), ERR_OUT_OF_MEMORY);
        EXPECT_EQ(GetFace(IDCT_COUNT), held);
        EXPECT_EQ(SimGet("frames"), held);
        EXPECT_EQ(SimGet("local_memory_used"), used);
        EXPECT_EQ(PVRSim_ShownFrame(), shown);
        EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 0), 100);
        EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 1), -1);
        for (int i = 0; i < 2; ++i) EXPECT_TRUE(Read(i) == pictures[i]) << i;
    }

    // Room for one frame more: a decode into the frame on screen, with the other frame as
    // its reference, goes into a new frame.
    ASSERT_EQ(PVRSim_Set("local_memory", used + frameBytes), 0);
    PVRSim_ClearLog();
    int previous = -7;
    ASSERT_EQ(f->frameStart(f, 7, &previous, 0, 1, -1, 0, 0), 0);
    EXPECT_EQ(GetFace(IDCT_COUNT), held + 1);
    EXPECT_EQ(SimGet("frames"), held + 1);
    M24VA_FRAME target = BegunFrame();
    EXPECT_NE(target, nullptr);
    EXPECT_NE(target, shown);
    Feed(f, mbs, mbw);
    ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
    EXPECT_EQ(PVRSim_ShownFrame(), shown);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 0), 7);
    bool kept = false;
    for (int i = 1; i < held + 1; ++i) kept = kept || (Read(i) == pictures[0] && GetFace(IDCT_FRAME_NUMBER + i) == 100);
    EXPECT_TRUE(kept) << "the picture on screen was written over";
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RefusedCount,
    testing::Values(RefusedCountCase{"NoRoomForAny", 2, 0, 4}, RefusedCountCase{"RoomForOneOfTwo", 2, 1, 4},
                    RefusedCountCase{"CountOfOneNoRoom", 1, 0, 3}, RefusedCountCase{"CountOfOneNothingRefused", 1, 0, 0}),
    [](const testing::TestParamInfo<RefusedCountCase>& i) { return std::string(i.param.name); });

// The Y plane of a frame as the chip hands it out: the same plane, the same frame.
void* PlaneOf(M24VA_FRAME frame) {
    void* planes[3] = {};
    int pitch = 0;
    if (!frame || M24VA_FrameBeginAccess(frame, planes, &pitch, 1) != 0) return nullptr;
    M24VA_FrameEndAccess(frame);
    return planes[0];
}

// The output with the chip's picture on screen and the frame begun last named by the
// face's indexes.
class Frames : public Face {
protected:
    void* PlaneAt(int index) {
        void* planes[3] = {};
        int brightness;
        VideoFormat fmt{};
        if (f->lockBuffer(f, index, planes, &brightness, &fmt) != 0) return nullptr;
        f->unlockBuffer(f, index);
        return planes[0];
    }
    int IndexOf(M24VA_FRAME frame) {
        void* plane = PlaneOf(frame);
        for (int i = 0; plane && i < GetFace(IDCT_COUNT); ++i)
            if (PlaneAt(i) == plane) return i;
        return -1;
    }
    int ShownIndex() { return IndexOf(PVRSim_ShownFrame()); }
    // A shown output of 32 x 32 with `frames` frames and no memory for another.
    void OpenShown(int frames) {
        Open(32, 32, 0, frames);
        ASSERT_EQ(Viewport(0, 0, 32, 32), 0);
        ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
        ASSERT_EQ(PVRSim_Set("local_memory", SimGet("local_memory_used")), 0);
    }
};

// A stream with B-frames decoded as an MPEG-4 decoder hands it over: I0 P3 B1 B2 P6 in
// three frames, B1 late. Every frame begun lies off screen, and what goes on screen is the
// picture the decoder named, in the frame it was decoded into.
TEST_F(Frames, LateBFramesHoldNothingOnScreenBack) {
    OpenShown(3);
    Scripts s(26);
    const int n = mbw * mbh;
    struct Step {
        const char* name;
        int number, target, forward, backward, show;
        int late;     // the frame's lateness in ticks
        int showing;  // the picture frameEnd shows (its number), -1 none
    } steps[] = {
        {"I0", 0, 0, -1, -1, -1, 0, -1}, {"P3", 3, 1, 0, -1, 0, 0, 0},   {"B1", 1, 2, 0, 1, 2, 700, -1},
        {"B2", 2, 2, 0, 1, 2, 0, 2},     {"P6", 6, 0, 1, -1, 1, 0, 3},
    };
    std::map<int, Yuv420> pictures;   // by number
    std::map<int, void*> decodedInto; // the chip's frame of each picture
    int time = 10000;
    for (const Step& st : steps) {
        SCOPED_TRACE(st.name);
        std::vector<Macroblock> mbs;
        for (int i = 0; i < n; ++i)
            mbs.push_back(st.forward < 0 ? s.Intra(true)
                                         : s.Inter(Macroblock::OneVector, true, st.backward >= 0, true, false, false));
        auto numberAt = [&](int index) { return index < 0 ? -1 : GetFace(IDCT_FRAME_NUMBER + index); };
        const Yuv420* fwd = st.forward < 0 ? nullptr : &pictures[numberAt(st.forward)];
        const Yuv420* bwd = st.backward < 0 ? nullptr : &pictures[numberAt(st.backward)];
        Yuv420 want(32, 32);
        CpuDecoder::Frame(mbs, mbw, fwd, bwd, false, want);
        M24VA_FRAME shown = PVRSim_ShownFrame();
        PVRSim_ClearLog();
        int previous;
        ASSERT_EQ(f->frameStart(f, st.number, &previous, st.target, st.forward, st.backward, st.show, 0), 0) << LastError();
        M24VA_FRAME begun = BegunFrame();
        EXPECT_NE(begun, shown);
        Feed(f, mbs, mbw);
        ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
        pictures[st.number] = want;
        decodedInto[st.number] = PlaneOf(begun);
        IdctFrameEnd end{0, time - st.late};
        int r = f->frameEnd(f, time, &end);
        EXPECT_EQ(r, st.showing >= 0 ? 0 : st.show < 0 ? ERR_NO_FRAME : ERR_READ);
        if (st.showing >= 0) {
            int at = ShownIndex();
            ASSERT_GE(at, 0);
            EXPECT_EQ(PlaneOf(PVRSim_ShownFrame()), decodedInto[st.showing]);
            EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + at), st.showing);
            EXPECT_EQ(Compare(Read(at), pictures[st.showing], 1).first, 0);
        }
        time += 1000;
    }
    EXPECT_EQ(SimGet("command_errors"), 0) << LastError();
}

// The decoder names the held-back frame to show while it starts a frame into the one on
// screen: nothing is free, so the start is refused and the held-back picture is what the
// frame's end shows.
TEST_F(Frames, TheHeldBackFrameToShowIsNotDecodedInto) {
    OpenShown(3);
    Scripts s(62);
    std::vector<Macroblock> mbs[4];
    for (auto& m : mbs)
        for (int i = 0; i < mbw * mbh; ++i) m.push_back(s.Intra(true));
    int previous;
    auto decode = [&](int k, int target, int forward, int backward, int show) {
        ASSERT_EQ(f->frameStart(f, k, &previous, target, forward, backward, show, 0), 0) << LastError();
        Feed(f, mbs[k], mbw);
        ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
    };
    decode(0, 0, -1, -1, 0);
    IdctFrameEnd end{0, 1000};
    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
    decode(1, 1, 0, -1, 0);
    decode(2, 2, 0, 1, 2);
    end.frameTime = 2000;
    ASSERT_EQ(f->frameEnd(f, 2700, &end), ERR_READ);  // late: frame 2 is held back
    Yuv420 late = Read(2);
    M24VA_FRAME shown = PVRSim_ShownFrame();
    ASSERT_EQ(ShownIndex(), 0);
    EXPECT_EQ(f->frameStart(f, 3, &previous, 0, 1, -1, 2, 0), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(PVRSim_ShownFrame(), shown);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + i), i);
    end.frameTime = 3000;
    ASSERT_EQ(f->frameEnd(f, 3000, &end), 0);
    EXPECT_EQ(ShownIndex(), 2);
    EXPECT_TRUE(Read(2) == late);
}

// A refused start leaves every index with its frame, number and picture, and the frame on
// screen where it was; the next start goes off screen again.
TEST_F(Frames, ARefusedStartUndoesTheExchange) {
    OpenShown(3);
    Scripts s(5);
    std::vector<Macroblock> mbs;
    for (int i = 0; i < mbw * mbh; ++i) mbs.push_back(s.Intra(true));
    Decode(mbs, 0, -1, -1);
    IdctFrameEnd end{0, 1000};
    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
    Decode(mbs, 1, 0, -1);
    end.frameTime = 2000;
    ASSERT_EQ(f->frameEnd(f, 2000, &end), 0);
    ASSERT_EQ(ShownIndex(), 1);
    void* planes[3] = {PlaneAt(0), PlaneAt(1), PlaneAt(2)};
    M24VA_FRAME shown = PVRSim_ShownFrame();
    ASSERT_EQ(PVRSim_Set("begin_failures", 1), 0);
    int previous;
    // Index 1 is on screen: the start trades it for index 2, then the chip refuses it.
    EXPECT_EQ(f->frameStart(f, 9, &previous, 1, 0, -1, 1, 0), ERR_DEVICE_ERROR);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(PlaneAt(i), planes[i]) << i;
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 0), 100);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 1), 101);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + 2), -1);
    EXPECT_EQ(PVRSim_ShownFrame(), shown);
    PVRSim_ClearLog();
    ASSERT_EQ(f->frameStart(f, 9, &previous, 1, 0, -1, 1, 0), 0);
    EXPECT_NE(BegunFrame(), shown);
    EXPECT_EQ(PlaneOf(BegunFrame()), planes[2]);
    ASSERT_EQ(f->endChipFrame(f), 0);
}

// Before anything was shown no frame is the one on screen: each index is decoded into as
// it is. Shown while the decoder writes frame 0, the overlay takes another frame, and frame
// 0 goes on screen when its end shows it.
TEST_F(Frames, NothingIsCurrentUntilTheFirstShow) {
    Open(32, 32, 0, 3);
    Scripts s(77);
    std::vector<Macroblock> mbs[3];
    for (auto& m : mbs)
        for (int i = 0; i < mbw * mbh; ++i) m.push_back(s.Intra(true));
    void* planes[3] = {PlaneAt(0), PlaneAt(1), PlaneAt(2)};
    int previous;
    for (int i : {1, 2, 0}) {
        PVRSim_ClearLog();
        ASSERT_EQ(f->frameStart(f, 50 + i, &previous, i, -1, -1, 0, 0), 0);
        EXPECT_EQ(PlaneOf(BegunFrame()), planes[i]) << i;
        Feed(f, mbs[i], mbw);
        if (i) {
            ASSERT_EQ(f->endChipFrame(f), 0);
        }
    }
    // Frame 0 is still open: the first show.
    ASSERT_EQ(Viewport(0, 0, 32, 32), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    EXPECT_EQ(SimGet("overlay_visible"), 1);
    EXPECT_NE(PVRSim_ShownFrame(), nullptr);
    EXPECT_NE(PlaneOf(PVRSim_ShownFrame()), planes[0]);
    ASSERT_EQ(f->endChipFrame(f), 0) << LastError();
    IdctFrameEnd end{0, 1000};
    ASSERT_EQ(f->frameEnd(f, 1000, &end), 0);
    EXPECT_EQ(PlaneOf(PVRSim_ShownFrame()), planes[0]);
    Yuv420 want(32, 32);
    CpuDecoder::Frame(mbs[0], mbw, nullptr, nullptr, false, want);
    EXPECT_EQ(Compare(Read(0), want, 1).first, 0);
}

// A quarter turn of the effects while a paused IDCT picture is shown turns the frames and
// keeps that picture on screen, and the index to show still names it.
TEST_F(Frames, AQuarterTurnKeepsThePictureOnScreen) {
    Open(32, 32, 0, 3);
    ASSERT_EQ(Viewport(0, 0, 32, 32), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    Scripts s(12);
    Yuv420 pictures[3];
    int previous;
    for (int i = 0; i < 3; ++i) {
        std::vector<Macroblock> mbs;
        for (int k = 0; k < mbw * mbh; ++k) mbs.push_back(s.Intra(true));
        ASSERT_EQ(f->frameStart(f, 10 + i, &previous, i, -1, -1, i, 0), 0);
        Feed(f, mbs, mbw);
        ASSERT_EQ(f->endChipFrame(f), 0);
        IdctFrameEnd end{0, 1000 * (i + 1)};
        ASSERT_EQ(f->frameEnd(f, 1000 * (i + 1), &end), 0);
    }
    for (int i = 0; i < 3; ++i) pictures[i] = Read(i);
    ASSERT_EQ(ShownIndex(), 2);
    ASSERT_EQ(GetFace(IDCT_SHOW), 2);
    const int turn = DIR_SWAPXY | DIR_MIRRORY;
    VideoEffects fx = O()->fx;
    fx.direction = turn;
    ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
    EXPECT_EQ(SimGet("overlay_visible"), 1);
    EXPECT_EQ(GetFace(IDCT_SHOW), 2);
    int at = ShownIndex();
    ASSERT_EQ(at, 2);
    EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + at), 12);
    EXPECT_TRUE(Read(at, turn) == pictures[2]);
    // The chip turns nothing: the frame holds the picture turned.
    VDISP_ATTRIBUTES a{};
    ASSERT_EQ(PVRSim_Attributes(&a), 0);
    EXPECT_EQ(a.rotation, 0);
}

// Backup and restore keep every frame's picture and number, across a turn of the frames.
TEST_F(Face, BackupAndRestoreKeepThePictures) {
    Open(64, 48, 0, 3);
    Scripts s(11);
    std::vector<Yuv420> pictures;
    for (int i = 0; i < 3; ++i) {
        std::vector<Macroblock> mbs;
        for (int k = 0; k < 12; ++k) mbs.push_back(s.Intra(true));
        Decode(mbs, i, -1, -1);
        pictures.push_back(Read(i));
    }
    ASSERT_EQ(SetFace(IDCT_SHOW, 1), 0);
    IdctBackupRecord record{};
    ASSERT_EQ(f->getParam(f, IDCT_BACKUP, &record, sizeof(record)), 0);
    EXPECT_EQ(record.count, 3);
    EXPECT_EQ(record.showIndex, 1);
    EXPECT_EQ(record.frameNumber[2], 102);
    // Turning the frames (the effects ask for a quarter turn) keeps the pictures too.
    const int turn = DIR_SWAPXY | DIR_MIRRORY;
    VideoEffects fx = O()->fx;
    fx.direction = turn;
    ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Read(i, turn) == pictures[static_cast<size_t>(i)]) << "turned frame " << i;
    // The output made anew, then restored from the upright backup.
    ASSERT_EQ(f->setParam(f, IDCT_BACKUP, &record, sizeof(record)), 0);
    EXPECT_EQ(GetFace(IDCT_COUNT), 3);
    EXPECT_EQ(GetFace(IDCT_SHOW), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Read(i, turn) == pictures[static_cast<size_t>(i)]) << "restored frame " << i;
        EXPECT_EQ(GetFace(IDCT_FRAME_NUMBER + i), 100 + i);
    }
    // A record restored twice, or one that is not this object's, is refused.
    EXPECT_EQ(f->setParam(f, IDCT_BACKUP, &record, sizeof(record)), ERR_INVALID_PARAM);
    ASSERT_EQ(f->getParam(f, IDCT_BACKUP, &record, sizeof(record)), 0);
    record.spare[1] ^= 0x10;
    EXPECT_EQ(f->setParam(f, IDCT_BACKUP, &record, sizeof(record)), ERR_INVALID_PARAM);
}

// --- The IEEE 1180 procedure through the face ---

// The standard's generator of random integers in [-low, high].
struct IeeeRandom {
    long seed = 1;
    long Next(long low, long high) {
        static const double z = static_cast<double>(0x7fffffff);
        seed = (seed * 1103515245 + 12345) & 0xffffffffL;
        long i = seed & 0x7ffffffeL;
        double x = i / z;
        x *= (low + high + 1);
        long j = static_cast<long>(x);
        return j - low;
    }
};

TEST_F(Face, InverseDctMeetsIeee1180) {
    // 40 x 30 macroblocks a frame: 7200 blocks; three passes each shift the samples by
    // 0, 128 and 256 through the DC so that 8-bit frames carry -256..255 exactly.
    const int w = 640, h = 480;
    Open(w, h, 0, 4);
    PVRSim_Set("log", 0);
    const int blocksPerFrame = (w / 16) * (h / 16) * 6;
    struct Range {
        long low, high;
        int sign;
    } ranges[] = {{256, 255, 1}, {5, 5, 1}, {300, 300, 1}, {256, 255, -1}, {5, 5, -1}, {300, 300, -1}};
    for (const auto& r : ranges) {
        SCOPED_TRACE(std::to_string(r.low) + "," + std::to_string(r.high) + " sign " + std::to_string(r.sign));
        IeeeRandom rnd;
        const int total = 10000;
        std::vector<std::array<int16_t, 64>> coeffs(total);
        std::vector<std::array<int, 64>> reference(total);
        for (int k = 0; k < total; ++k) {
            double block[64], dct[64], back[64];
            for (double& v : block) v = static_cast<double>(rnd.Next(r.low, r.high) * r.sign);
            DoubleFdct(block, dct);
            double rounded[64];
            for (int i = 0; i < 64; ++i) {
                double c = std::clamp(std::floor(dct[i] + 0.5), -2048.0, 2047.0);
                coeffs[static_cast<size_t>(k)][static_cast<size_t>(i)] = static_cast<int16_t>(c);
                rounded[i] = c;
            }
            DoubleIdct(rounded, back);
            for (int i = 0; i < 64; ++i)
                reference[static_cast<size_t>(k)][static_cast<size_t>(i)] =
                    static_cast<int>(std::clamp(std::floor(back[i] + 0.5), -256.0, 255.0));
        }
        // The chip's samples of every block, shifted by 0, 128 and 256.
        std::vector<std::array<int, 64>> got(total);
        std::vector<std::array<uint8_t, 64>> pass[3];
        for (int shift = 0; shift < 3; ++shift) {
            pass[shift].resize(total);
            for (int first = 0; first < total; first += blocksPerFrame) {
                std::vector<Macroblock> mbs((w / 16) * (h / 16));
                for (int k = first; k < std::min(first + blocksPerFrame, total); ++k) {
                    Macroblock& m = mbs[static_cast<size_t>((k - first) / 6)];
                    int b = (k - first) % 6;
                    std::copy(coeffs[static_cast<size_t>(k)].begin(), coeffs[static_cast<size_t>(k)].end(), m.coeffs[b]);
                    m.coeffs[b][0] = static_cast<int16_t>(m.coeffs[b][0] + 1024 * shift);
                    m.counts[b] = 64;
                }
                Decode(mbs, 0, -1, -1);
                Yuv420 frame = Read(0);
                for (int k = first; k < std::min(first + blocksPerFrame, total); ++k) {
                    int mb = (k - first) / 6, b = (k - first) % 6;
                    int mx = mb % (w / 16) * 16, my = mb / (w / 16) * 16;
                    int plane = b < 4 ? 0 : b - 3;
                    int bx = plane ? mx / 2 : mx + (b & 1) * 8, by = plane ? my / 2 : my + (b >> 1) * 8;
                    for (int i = 0; i < 64; ++i)
                        pass[shift][static_cast<size_t>(k)][static_cast<size_t>(i)] = frame.At(plane, bx + i % 8, by + i / 8);
                }
            }
        }
        for (int k = 0; k < total; ++k)
            for (int i = 0; i < 64; ++i) {
                int a = pass[0][static_cast<size_t>(k)][static_cast<size_t>(i)];
                int b = pass[2][static_cast<size_t>(k)][static_cast<size_t>(i)];
                int c = pass[1][static_cast<size_t>(k)][static_cast<size_t>(i)];
                got[static_cast<size_t>(k)][static_cast<size_t>(i)] = c > 0 && c < 255 ? c - 128 : c == 0 ? b - 256 : a;
            }
        // The measures of the standard.
        int peak = 0;
        double sumErr[64] = {}, sumSq[64] = {};
        for (int k = 0; k < total; ++k)
            for (int i = 0; i < 64; ++i) {
                int e = got[static_cast<size_t>(k)][static_cast<size_t>(i)] - reference[static_cast<size_t>(k)][static_cast<size_t>(i)];
                peak = std::max(peak, std::abs(e));
                sumErr[i] += e;
                sumSq[i] += e * e;
            }
        double worstMse = 0, worstMean = 0, overallMse = 0, overallMean = 0;
        for (int i = 0; i < 64; ++i) {
            worstMse = std::max(worstMse, sumSq[i] / total);
            worstMean = std::max(worstMean, std::abs(sumErr[i]) / total);
            overallMse += sumSq[i];
            overallMean += sumErr[i];
        }
        overallMse /= 64.0 * total;
        overallMean = std::abs(overallMean) / (64.0 * total);
        EXPECT_LE(peak, 1);
        EXPECT_LE(worstMse, 0.06);
        EXPECT_LE(overallMse, 0.02);
        EXPECT_LE(worstMean, 0.015);
        EXPECT_LE(overallMean, 0.0015);
    }
    // All-zero coefficients give all-zero samples.
    std::vector<Macroblock> zero((w / 16) * (h / 16));
    for (auto& m : zero)
        for (int& c : m.counts) c = 64;
    Decode(zero, 0, -1, -1);
    Yuv420 z = Read(0);
    EXPECT_EQ(*std::max_element(z.p[0].begin(), z.p[0].end()), 0);
}

}  // namespace
}  // namespace fltest
