// The IDCT and motion-compensation engine. A frame is decoded into a planar 4:2:0 target
// from up to two references; each macroblock comes as six 8x8 blocks (four luma, U, V),
// each the prediction of its vectors (none: intra) plus the inverse DCT of its
// coefficients. The inverse DCT is separable fixed point (cosines in 14 bits).
//
// A trait of the part with device id 0x57441002: when a block's forward vector sits half
// a pel off on both axes, its engine takes 2 off the DC coefficient before the transform.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "chip.h"

using namespace ati;

namespace {

constexpr uint32_t kFlawedDevice = 0x57441002;

struct Scans {
    uint8_t zigzag[64], altH[64], altV[64], zigzagT[64];
};

uint8_t Transposed(int i) { return static_cast<uint8_t>((i % 8) * 8 + i / 8); }

Scans MakeScans() {
    Scans s{};
    // Zig-zag: the anti-diagonals in turn, odd ones walked down-left, even ones up-right.
    int n = 0;
    for (int d = 0; d < 15; ++d) {
        for (int k = 0; k <= d; ++k) {
            int row = (d % 2) ? k : d - k, col = d - row;
            if (row < 8 && col < 8) s.zigzag[n++] = static_cast<uint8_t>(row * 8 + col);
        }
    }
    static const uint8_t kAltV[64] = {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                      41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                      51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                      53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};
    for (int i = 0; i < 64; ++i) {
        s.altV[i] = kAltV[i];
        s.altH[i] = Transposed(kAltV[i]);
        s.zigzagT[i] = Transposed(s.zigzag[i]);
    }
    return s;
}

const Scans& TheScans() {
    static const Scans s = MakeScans();
    return s;
}

struct Cosines {
    int32_t c[8][8];  // c[u][x] = round(16384 * C(u) / 2 * cos((2x + 1) u pi / 16))
};

const Cosines& TheCosines() {
    static const Cosines k = [] {
        Cosines t{};
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x) {
                double cu = u == 0 ? std::sqrt(0.5) : 1.0;
                t.c[u][x] = static_cast<int32_t>(std::lround(16384.0 * cu / 2.0 * std::cos((2 * x + 1) * u * M_PI / 16.0)));
            }
        return t;
    }();
    return k;
}

// Coefficients in raster order to residuals clamped to -256..255.
void InverseDct(const int32_t in[64], int16_t out[64]) {
    const Cosines& k = TheCosines();
    int64_t rows[64];
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            int64_t sum = 0;
            for (int u = 0; u < 8; ++u) sum += static_cast<int64_t>(k.c[u][x]) * in[v * 8 + u];
            rows[v * 8 + x] = (sum + 4) >> 3;  // 2^11 of precision kept
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int64_t sum = 0;
            for (int v = 0; v < 8; ++v) sum += static_cast<int64_t>(k.c[v][y]) * rows[v * 8 + x];
            int64_t r = (sum + (int64_t{1} << 24)) >> 25;
            out[y * 8 + x] = static_cast<int16_t>(std::clamp<int64_t>(r, -256, 255));
        }
}

// Unpacks the groups into raster order by the scan; false when a run passes the block.
bool Unpack(const AhiCoefGroup* groups, int count, const uint8_t* scan, int32_t out[64]) {
    std::memset(out, 0, 64 * sizeof(int32_t));
    int at = 0;
    // Run byte and level word of the n-th coefficient of a group.
    static const int kRun[4] = {3, 2, 1, 0};
    static const int kLevel[4] = {1, 0, 3, 2};
    for (int g = 0; g < count; ++g) {
        for (int n = 0; n < 4; ++n) {
            int run = groups[g].run[kRun[n]];
            if (run == 0xFF) break;
            at += run;
            if (at >= 64) return false;
            out[scan[at]] = groups[g].level[kLevel[n]];
            ++at;
        }
    }
    return true;
}

const uint8_t* ScanFor(int bits) {
    const Scans& s = TheScans();
    switch (bits) {
        case AHI_SCAN_ZIGZAG: return s.zigzag;
        case AHI_SCAN_ALTH: return s.altH;
        case AHI_SCAN_ALTV: return s.altV;
        case AHI_SCAN_ZIGZAG_T: return s.zigzagT;
        default: return nullptr;
    }
}

Engine* FindEngine(Chip& c, AhiIdct handle) { return c.engine && c.engine->handle == handle ? c.engine.get() : nullptr; }

// Where block `block` (0-5) of macroblock `mb` lies: its plane and top-left corner.
struct BlockPlace {
    int plane;
    int x, y;
};

bool Place(const Surface& target, int mb, int block, BlockPlace* p) {
    int perRow = target.width / 16, rows = target.height / 16;
    if (mb < 0 || perRow <= 0 || mb >= perRow * rows || block < 0 || block > 5) return false;
    int mx = mb % perRow, my = mb / perRow;
    if (block < 4) *p = BlockPlace{AHI_PLANE_Y, mx * 16 + (block & 1) * 8, my * 16 + (block >> 1) * 8};
    else *p = BlockPlace{block == 4 ? AHI_PLANE_U : AHI_PLANE_V, mx * 8, my * 8};
    return true;
}

// The 8x8 prediction from one reference plane at a vector in quarter pels.
void Predict(const PlaneView& ref, int x0, int y0, uint32_t vector, int rounding, int out[64]) {
    int vx = static_cast<int16_t>(vector & 0xFFFF), vy = static_cast<int16_t>(vector >> 16);
    int hx = vx >> 1, hy = vy >> 1;  // half pels
    int ix = hx >> 1, iy = hy >> 1, fx = hx & 1, fy = hy & 1;
    int rc = rounding ? 0 : 1;
    auto at = [&](int x, int y) -> int {
        x = std::clamp(x, 0, ref.width - 1);
        y = std::clamp(y, 0, ref.height - 1);
        return ref.base[static_cast<size_t>(y) * ref.pitch + x];
    };
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            int x = x0 + i + ix, y = y0 + j + iy;
            int a = at(x, y);
            int v;
            if (fx && fy) v = (a + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1) + 2 - rc) >> 2;
            else if (fx) v = (a + at(x + 1, y) + 1 - rc) >> 1;
            else if (fy) v = (a + at(x, y + 1) + 1 - rc) >> 1;
            else v = a;
            out[j * 8 + i] = v;
        }
}

bool HalfBoth(uint32_t vector) { return (vector & 0x2) && (vector & 0x20000); }

// Decodes one block into the target. 0 or an error.
int Decode(Chip& c, Engine& e, const AhiCoefGroup* groups, int count, const uint32_t* forward, const uint32_t* backward,
           int mb, int scanBits, bool intra) {
    if (!e.inFrame) return AHI_ERR_STATE;
    Surface* target = FindSurface(c, e.target);
    if (!target) return AHI_ERR_STATE;
    if (ScannedOut(c, e.target)) return ScreenFault(c);
    if (count < 0 || count > AHI_MAX_GROUPS || (count > 0 && !groups)) return AHI_ERR_PARAM;
    c.lastGroups.assign(groups, groups + count);
    // Without coefficients the scan is not looked at.
    const uint8_t* scan = count > 0 ? ScanFor(scanBits) : TheScans().zigzag;
    if (!scan) return AHI_ERR_PARAM;
    // The block counter follows the macroblock index.
    if (mb != e.lastMb) {
        e.lastMb = mb;
        e.block = 0;
    } else if (++e.block > 5) {
        return AHI_ERR_STATE;
    }
    BlockPlace place;
    if (!Place(*target, mb, e.block, &place)) return AHI_ERR_PARAM;
    int32_t coef[64];
    if (!Unpack(groups, count, scan, coef)) return AHI_ERR_PARAM;
    if (!intra && forward && HalfBoth(*forward) && c.config.word[1] == kFlawedDevice) coef[0] -= 2;
    int16_t residual[64];
    InverseDct(coef, residual);
    if (c.residuals.size() < 65536 * 64) c.residuals.insert(c.residuals.end(), residual, residual + 64);
    int pred[64] = {};
    if (!intra && (forward || backward)) {
        int fwd[64], bwd[64];
        PlaneView ref;
        Surface* fs = forward ? FindSurface(c, e.forward) : nullptr;
        Surface* bs = backward ? FindSurface(c, e.backward) : nullptr;
        if ((forward && !fs) || (backward && !bs)) return AHI_ERR_STATE;
        if (fs && PlaneOf(c, *fs, place.plane, &ref)) Predict(ref, place.x, place.y, *forward, e.rounding, fwd);
        if (bs && PlaneOf(c, *bs, place.plane, &ref)) Predict(ref, place.x, place.y, *backward, e.rounding, bwd);
        for (int i = 0; i < 64; ++i) pred[i] = fs && bs ? (fwd[i] + bwd[i] + 1) >> 1 : fs ? fwd[i] : bwd[i];
    }
    PlaneView out;
    PlaneOf(c, *target, place.plane, &out);
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            out.base[static_cast<size_t>(place.y + j) * out.pitch + place.x + i] =
                static_cast<uint8_t>(std::clamp(pred[j * 8 + i] + residual[j * 8 + i], 0, 255));
    ++c.blocksDecoded;
    return AHI_OK;
}

bool SameFrame(const Surface& a, const Surface& b) {
    return a.Yuv() && b.Yuv() && a.width == b.width && a.height == b.height;
}

}  // namespace

void ati::EngineDrop(Chip& c) { c.engine.reset(); }

bool ati::OpenTarget(Chip& c, AhiSurf surface) {
    if (!c.engine || !c.engine->inFrame) return false;
    Surface* s = FindSurface(c, surface);
    Surface* t = FindSurface(c, c.engine->target);
    return s && t && s->block == t->block;
}

int AhiIDCTOpen(AhiContext* context, AhiIdct* idct, int flags, AhiIdctOpenRec* record) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (idct) *idct = 0;
    Context* ctx = FindContext(c, context);
    if (!ctx || !idct) return Logged(c, AHI_ERR_PARAM, "AhiIDCTOpen(%d)", flags);
    if (c.config.word[6] == 0) return Logged(c, AHI_ERR_DEVICE, "AhiIDCTOpen(%d)", flags);
    if (c.config.idctOpenResult != 0) return Logged(c, c.config.idctOpenResult, "AhiIDCTOpen(%d)", flags);
    if (c.engine) return Logged(c, AHI_ERR_STATE, "AhiIDCTOpen(%d): already open", flags);
    c.engine = std::make_unique<Engine>();
    c.engine->handle = reinterpret_cast<AhiIdct>(c.engine.get());
    c.engine->context = ctx;
    *idct = c.engine->handle;
    if (record) {
        record->caps = 3;
        record->maxWidth = 2048;
        record->maxHeight = 2048;
    }
    return Logged(c, AHI_OK, "AhiIDCTOpen(%d)", flags);
}

int AhiIDCTClose(AhiIdct idct) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!FindEngine(c, idct)) return Logged(c, AHI_ERR_PARAM, "AhiIDCTClose");
    EngineDrop(c);
    return Logged(c, AHI_OK, "AhiIDCTClose");
}

int AhiIDCTPropGet(AhiIdct idct, int property, void* value, int size) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Engine* e = FindEngine(c, idct);
    if (!e || !value || size != 4) return Logged(c, AHI_ERR_PARAM, "AhiIDCTPropGet(%d)", property);
    int32_t v;
    if (property == AHI_IDCT_PROP_SEQUENCE) v = e->sequenceBase;
    else if (property == AHI_IDCT_PROP_ROUNDING) v = e->rounding;
    else return Logged(c, AHI_ERR_PARAM, "AhiIDCTPropGet(%d)", property);
    std::memcpy(value, &v, 4);
    return Logged(c, AHI_OK, "AhiIDCTPropGet(%d) -> %d", property, v);
}

int AhiIDCTPropSet(AhiIdct idct, int property, const void* value, int size) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Engine* e = FindEngine(c, idct);
    if (!e || !value || size != 4) return Logged(c, AHI_ERR_PARAM, "AhiIDCTPropSet(%d)", property);
    int32_t v;
    std::memcpy(&v, value, 4);
    if (property == AHI_IDCT_PROP_SEQUENCE) e->sequenceBase = v;
    else if (property == AHI_IDCT_PROP_ROUNDING) e->rounding = v ? 1 : 0;
    else return Logged(c, AHI_ERR_PARAM, "AhiIDCTPropSet(%d, %d)", property, v);
    return Logged(c, AHI_OK, "AhiIDCTPropSet(%d, %d)", property, v);
}

int AhiIDCTFrameStart(AhiIdct idct, AhiSurf target, AhiSurf forward, AhiSurf backward, int sequence, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    const char* fmt = "AhiIDCTFrameStart(%#lx, %#lx, %#lx, %d, %d)";
    auto log = [&](int r) {
        return Logged(c, r, fmt, static_cast<unsigned long>(target), static_cast<unsigned long>(forward),
                      static_cast<unsigned long>(backward), sequence, flags);
    };
    Engine* e = FindEngine(c, idct);
    Surface* t = FindSurface(c, target);
    if (!e || !t || !t->Yuv() || t->width % 16 || t->height % 16) return log(AHI_ERR_PARAM);
    for (AhiSurf ref : {forward, backward}) {
        if (!ref) continue;
        Surface* r = FindSurface(c, ref);
        if (!r || !SameFrame(*t, *r)) return log(AHI_ERR_PARAM);
    }
    if (sequence < e->sequenceBase) return log(AHI_ERR_STATE);
    // The surface on screen is never decoded into: the picture would change while shown.
    if (ScannedOut(c, target)) return log(ScreenFault(c));
    if (c.config.frameStartResult) return log(c.config.frameStartResult);
    e->inFrame = true;
    e->sequence = sequence;
    e->target = target;
    e->forward = forward;
    e->backward = backward;
    e->lastMb = -1;
    e->block = 0;
    c.residuals.clear();
    ++c.framesStarted;
    return log(AHI_OK);
}

int AhiIDCTFrameEnd(AhiIdct idct, int sequence) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Engine* e = FindEngine(c, idct);
    if (!e || !e->inFrame || sequence != e->sequence) return Logged(c, AHI_ERR_STATE, "AhiIDCTFrameEnd(%d)", sequence);
    e->inFrame = false;
    return Logged(c, AHI_OK, "AhiIDCTFrameEnd(%d)", sequence);
}

int AhiIDCTMComp8x8(AhiIdct idct, const AhiCoefGroup* groups, int count, const uint32_t* forward,
                    const uint32_t* backward, int mb, int scan) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Engine* e = FindEngine(c, idct);
    int r = e ? Decode(c, *e, groups, count, forward, backward, mb, scan, false) : AHI_ERR_PARAM;
    return Logged(c, r, "AhiIDCTMComp8x8(%d groups, fwd %#x, bwd %#x, mb %d, %d)", count,
                  forward ? *forward : 0xFFFFFFFFu, backward ? *backward : 0xFFFFFFFFu, mb, scan);
}

int AhiIDCTMComp(AhiIdct idct, const uint32_t* forward, const uint32_t* backward, int mb, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Engine* e = FindEngine(c, idct);
    int r = e ? AHI_OK : AHI_ERR_PARAM;
    for (int b = 0; b < 6 && r == AHI_OK; ++b)
        r = Decode(c, *e, nullptr, 0, forward ? forward + b : nullptr, backward ? backward + b : nullptr, mb,
                   AHI_SCAN_ZIGZAG, false);
    return Logged(c, r, "AhiIDCTMComp(mb %d, %d)", mb, flags);
}

int AhiIDCT8x8(AhiIdct idct, const AhiCoefGroup* groups, int count, int mb, int scan) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Engine* e = FindEngine(c, idct);
    int r = e ? Decode(c, *e, groups, count, nullptr, nullptr, mb, scan, true) : AHI_ERR_PARAM;
    return Logged(c, r, "AhiIDCT8x8(%d groups, mb %d, %d)", count, mb, scan);
}

int AhiSimLastGroups(AhiCoefGroup* groups, int max) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    int n = static_cast<int>(c.lastGroups.size());
    if (groups && max > 0) std::copy(c.lastGroups.begin(), c.lastGroups.begin() + std::min(n, max), groups);
    return n;
}
