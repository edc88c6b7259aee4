// The video engine: frames in video and system memory, and the IDCT and motion
// compensation that the command words and coefficient pairs drive.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chip.h"

namespace pvr {

namespace {

constexpr int kMaxFrameSide = 2048;

// The inverse DCT as one table of the products of the row and column bases, scaled by
// 2^30 and rounded. Built from a basis that is exactly mirror-symmetric, so a block turned
// or mirrored in the coefficient domain gives exactly the turned or mirrored samples.
struct DctTable {
    int32_t basis[64][64];  // [sample][coefficient]
    DctTable() {
        double c[8][8];  // c[x][u]
        for (int u = 0; u < 8; ++u) {
            double scale = u == 0 ? std::sqrt(0.125) : 0.5;
            for (int x = 0; x < 4; ++x) {
                c[x][u] = scale * std::cos((2 * x + 1) * u * M_PI / 16);
                c[7 - x][u] = (u & 1) ? -c[x][u] : c[x][u];
            }
        }
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u)
                        basis[y * 8 + x][v * 8 + u] =
                            static_cast<int32_t>(std::llround(c[y][v] * c[x][u] * 1073741824.0));
    }
};

const DctTable& Table() {
    static const DctTable t;
    return t;
}

int Refuse(Chip& c, const char* format, ...) __attribute__((format(printf, 2, 3)));
int Refuse(Chip& c, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    CountRefusal(c, format, ap);
    va_end(ap);
    c.engine.failed = true;
    return M24VA_BAD_COMMAND;
}

int SignExtend14(uint32_t v) { return (v & 0x2000) ? static_cast<int>(v) - 0x4000 : static_cast<int>(v); }

uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

struct Plane {
    const uint8_t* data;
    int width;
    int height;
    int pitch;
    int At(int x, int y) const {
        x = x < 0 ? 0 : x >= width ? width - 1 : x;
        y = y < 0 ? 0 : y >= height ? height - 1 : y;
        return data[static_cast<ptrdiff_t>(y) * pitch + x];
    }
};

// Plane 0 Y, 1 U, 2 V of a frame.
Plane PlaneOf(const Frame& f, int plane) {
    if (plane == 0) return Plane{f.Y(), f.width, f.height, f.pitch};
    return Plane{plane == 1 ? f.U() : f.V(), f.width / 2, f.height / 2, f.pitch};
}

// An 8x8 prediction at half-pixel position (hx, hy).
void Predict(const Plane& p, int hx, int hy, bool roundDown, int out[64]) {
    int x0 = hx >> 1, y0 = hy >> 1;
    bool h = hx & 1, v = hy & 1;
    int r = roundDown ? 0 : 1;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int a = p.At(x0 + x, y0 + y);
            int value;
            if (h && v)
                value = (a + p.At(x0 + x + 1, y0 + y) + p.At(x0 + x, y0 + y + 1) + p.At(x0 + x + 1, y0 + y + 1) + 1 + r) >> 2;
            else if (h)
                value = (a + p.At(x0 + x + 1, y0 + y) + r) >> 1;
            else if (v)
                value = (a + p.At(x0 + x, y0 + y + 1) + r) >> 1;
            else
                value = a;
            out[y * 8 + x] = value;
        }
}

bool IsLuma(Section s) { return s == Section::Luma16 || s == Section::Luma8 || s == Section::Luma422; }
bool Is422(Section s) { return s == Section::Luma422 || s == Section::ChromaU422 || s == Section::ChromaV422; }
int PlaneOfSection(Section s) {
    return IsLuma(s) ? 0 : (s == Section::ChromaU || s == Section::ChromaU422) ? 1 : 2;
}
int BlocksOf(Section s) { return s == Section::Luma16 || s == Section::Luma8 ? 4 : s == Section::Luma422 ? 2 : 1; }

void ClearSection(Engine& e) {
    e.section = Section::None;
    e.roundDown = false;
    for (auto& p : e.pred) p = Prediction{};
    e.marker = -1;
    e.markerWords = 0;
    for (int i = 0; i < 4; ++i) e.hasResidual[i] = e.intra[i] = false;
    e.pendingBlock = -1;
    e.pendingPairs = 0;
}

// The prediction of block k of the open section (null when it has none).
bool BlockPrediction(Chip& c, int k, int out[64]) {
    Engine& e = c.engine;
    const Prediction& p = e.section == Section::Luma8 ? e.pred[k] : e.pred[0];
    if (!p.forward && !p.backward) return false;
    int plane = PlaneOfSection(e.section);
    // Within a 16x16 prediction the block sits at its offset.
    int ox = 0, oy = 0;
    if (e.section == Section::Luma16) ox = (k & 1) * 16, oy = (k >> 1) * 16;
    int f[64], b[64];
    if (p.forward) Predict(PlaneOf(c.frames[e.forward], plane), p.fx + ox, p.fy + oy, e.roundDown, f);
    if (p.backward) Predict(PlaneOf(c.frames[e.backward], plane), p.bx + ox, p.by + oy, e.roundDown, b);
    for (int i = 0; i < 64; ++i)
        out[i] = p.forward && p.backward ? (f[i] + b[i] + 1) >> 1 : p.forward ? f[i] : b[i];
    return true;
}

int CommitSection(Chip& c, uint32_t word, bool lumaHeader, bool header422) {
    Engine& e = c.engine;
    if (e.section == Section::None) return Refuse(c, "header 0x%08X without a section", word);
    if (IsLuma(e.section) != lumaHeader || Is422(e.section) != header422)
        return Refuse(c, "header 0x%08X does not close the open section", word);
    if (e.marker >= 0 && e.markerWords == 0) return Refuse(c, "marker without coordinates before header 0x%08X", word);
    int x = static_cast<int>(word & 0x7FF);
    int y = static_cast<int>((word >> 11) & (lumaHeader ? 0x1FFF : 0xFFF));
    Frame& t = c.frames[e.target];
    int plane = PlaneOfSection(e.section);
    int pw = plane ? t.width / 2 : t.width, ph = plane ? t.height / 2 : t.height;
    int w = lumaHeader ? 16 : 8;
    int h = e.section == Section::Luma422 ? 8 : e.section == Section::ChromaU422 || e.section == Section::ChromaV422 ? 4 : w;
    if (x + w > pw || y + h > ph) return Refuse(c, "header 0x%08X lies outside the %dx%d target", word, t.width, t.height);
    uint8_t* base = plane == 0 ? t.Y() : plane == 1 ? t.U() : t.V();
    for (int k = 0; k < BlocksOf(e.section); ++k) {
        int pred[64] = {};
        bool predicted = !e.intra[k] && BlockPrediction(c, k, pred);
        if (!predicted && !e.hasResidual[k]) return Refuse(c, "block %d has neither prediction nor residual", k);
        int bx = x + (k & 1) * 8, by = y + (k >> 1) * 8;
        int rows = std::min(8, h);
        for (int r = 0; r < rows; ++r)
            for (int s = 0; s < 8; ++s) {
                int v = pred[r * 8 + s] + (e.hasResidual[k] ? e.residual[k][r * 8 + s] : 0);
                base[static_cast<ptrdiff_t>(by + r) * t.pitch + bx + s] = Clamp8(v);
            }
    }
    ClearSection(e);
    return M24VA_OK;
}

int Select(Chip& c, uint32_t word) {
    Engine& e = c.engine;
    if (e.section != Section::None) return Refuse(c, "select 0x%02X while a section is open", word);
    uint32_t base = word & ~0x40u;
    bool rc = word & 0x40;
    Section s;
    if (base == 0x28) s = Section::Luma16;
    else if (base == 0x14) s = Section::Luma8;
    else if (base == 0x15) s = Section::ChromaU;
    else if (base == 0x16) s = Section::ChromaV;
    else if (word == 0) s = Section::Luma422;
    else if (word == 1) s = Section::ChromaU422;
    else if (word == 2) s = Section::ChromaV422;
    else return Refuse(c, "unknown command word 0x%08X", word);
    ClearSection(e);
    e.section = s;
    e.roundDown = rc;
    return M24VA_OK;
}

bool BlocksStarted(const Engine& e) {
    for (int i = 0; i < 4; ++i)
        if (e.hasResidual[i] || e.intra[i]) return true;
    return false;
}

int Marker(Chip& c, uint32_t word) {
    Engine& e = c.engine;
    if (e.section == Section::None || Is422(e.section)) return Refuse(c, "marker 0x%08X outside a predicted section", word);
    if (BlocksStarted(e)) return Refuse(c, "marker 0x%08X after a residual block", word);
    if (e.marker >= 0 && e.markerWords == 0) return Refuse(c, "marker 0x%08X follows a marker without coordinates", word);
    uint32_t o = word & 0xFF;
    int block;
    if (o == 0) block = 0;
    else if (e.section == Section::Luma8 && o == 0x40) block = 1;
    else if (e.section == Section::Luma8 && o == 0x10) block = 2;
    else if (e.section == Section::Luma8 && o == 0x50) block = 3;
    else return Refuse(c, "marker 0x%08X has an offset this section does not take", word);
    e.marker = block;
    e.markerWords = 0;
    return M24VA_OK;
}

int Coordinate(Chip& c, uint32_t word) {
    Engine& e = c.engine;
    if (e.marker < 0 || e.markerWords >= 2) return Refuse(c, "coordinate 0x%08X without a marker", word);
    Prediction& p = e.pred[e.marker];
    int x = SignExtend14(word & 0x3FFF), y = SignExtend14((word >> 14) & 0x3FFF);
    switch (word >> 28) {
        case 0xC:
            if (p.forward || p.backward || e.markerWords) return Refuse(c, "second forward coordinate 0x%08X", word);
            if (!e.forward) return Refuse(c, "coordinate 0x%08X names a forward reference that is not set", word);
            p.forward = true, p.fx = x, p.fy = y;
            break;
        case 0x9:
            if (!p.forward || p.backward) return Refuse(c, "backward coordinate 0x%08X without a forward one", word);
            if (!e.backward) return Refuse(c, "coordinate 0x%08X names a backward reference that is not set", word);
            p.backward = true, p.bx = x, p.by = y;
            break;
        case 0xD:
            if (p.forward || p.backward || e.markerWords) return Refuse(c, "lone backward coordinate 0x%08X after another", word);
            if (!e.backward) return Refuse(c, "coordinate 0x%08X names a backward reference that is not set", word);
            p.backward = true, p.bx = x, p.by = y;
            break;
        default:
            return Refuse(c, "coordinate 0x%08X names no reference", word);
    }
    ++e.markerWords;
    return M24VA_OK;
}

int BlockCommand(Chip& c, uint32_t word) {
    Engine& e = c.engine;
    if (e.section == Section::None) return Refuse(c, "block 0x%08X outside a section", word);
    if (e.marker >= 0 && e.markerWords == 0) return Refuse(c, "block 0x%08X after a marker without coordinates", word);
    uint32_t b = word & 0xFF;
    if (b & ~0x2Au) return Refuse(c, "unknown command word 0x%08X", word);
    bool x8 = b & 0x08, y8 = b & 0x20, intra = b & 0x02;
    int k;
    if (e.section == Section::Luma16 || e.section == Section::Luma8) k = (y8 ? 2 : 0) + (x8 ? 1 : 0);
    else if (e.section == Section::Luma422 && !y8) k = x8 ? 1 : 0;
    else if (!x8 && !y8) k = 0;
    else return Refuse(c, "block 0x%08X has an offset this section does not take", word);
    if (e.hasResidual[k] || e.intra[k]) return Refuse(c, "block 0x%08X given twice", word);
    if (Is422(e.section) && !intra) return Refuse(c, "inter block 0x%08X in a 4:2:2 section", word);
    if (!intra) {
        const Prediction& p = e.section == Section::Luma8 ? e.pred[k] : e.pred[0];
        if (!p.forward && !p.backward) return Refuse(c, "inter block 0x%08X without a prediction", word);
    }
    e.intra[k] = intra;
    e.pendingBlock = k;
    e.pendingPairs = 0;
    memset(e.pendingCoeffs, 0, sizeof(e.pendingCoeffs));
    memset(e.pendingSeen, 0, sizeof(e.pendingSeen));
    return M24VA_OK;
}

void KeepResidual(Engine& e, const int16_t* r) {
    for (int i = 0; i < 64; ++i) e.residuals.push_back(static_cast<int16_t>(std::clamp<int>(r[i], -256, 255)));
}

void FinishBlock(Engine& e) {
    int32_t out[64];
    InverseDct(e.pendingCoeffs, out);
    for (int i = 0; i < 64; ++i) e.residual[e.pendingBlock][i] = static_cast<int16_t>(std::clamp<int32_t>(out[i], -32768, 32767));
    e.hasResidual[e.pendingBlock] = true;
    KeepResidual(e, e.residual[e.pendingBlock]);
    e.pendingBlock = -1;
    e.pendingPairs = 0;
}

bool Ready(Chip& c) { return c.m24vaInitialised && !c.lost; }

}  // namespace

void EngineReset(Engine& e) {
    e.frameOpen = false;
    e.target = e.forward = e.backward = 0;
    e.failed = false;
    ClearSection(e);
}

void InverseDct(const int32_t coeffs[64], int32_t out[64]) {
    const DctTable& t = Table();
    int64_t sum[64] = {};
    for (int k = 0; k < 64; ++k) {
        int64_t f = coeffs[k];
        if (!f) continue;
        for (int i = 0; i < 64; ++i) sum[i] += f * t.basis[i][k];
    }
    for (int i = 0; i < 64; ++i) out[i] = static_cast<int32_t>((sum[i] + (int64_t{1} << 29)) >> 30);
}

int EngineWord(Chip& c, uint32_t word) {
    Engine& e = c.engine;
    if (!Ready(c)) return c.lost ? M24VA_LOST : M24VA_NOT_INITIALISED;
    if (!e.frameOpen) {
        c.lastError = "command word without a frame begun";
        ++c.commandErrors;
        return M24VA_BAD_COMMAND;
    }
    if (e.failed) return M24VA_BAD_COMMAND;
    if (e.pendingBlock >= 0) return Refuse(c, "command word 0x%08X where the block's coefficients belong", word);
    if (word & 0x80000000u) return Coordinate(c, word);
    if (word < 0x100) return Select(c, word);
    if ((word & 0xFFFFFF00u) == 0x08000000u) return Marker(c, word);
    if ((word & 0xFFFFFF00u) == 0x10000000u) return BlockCommand(c, word);
    if ((word >> 24) == 0x1D) return CommitSection(c, word, true, false);
    if ((word >> 24) == 0x1B) return CommitSection(c, word, true, true);
    if ((word >> 23) == 0x35) return CommitSection(c, word, false, false);
    if ((word >> 23) == 0x31) return CommitSection(c, word, false, true);
    return Refuse(c, "unknown command word 0x%08X", word);
}

int EngineBlock(Chip& c, const uint32_t* pairs, int count, bool partial) {
    Engine& e = c.engine;
    if (!Ready(c)) return c.lost ? M24VA_LOST : M24VA_NOT_INITIALISED;
    if (e.failed) return M24VA_BAD_COMMAND;
    if (!e.frameOpen) return Refuse(c, "coefficients without a frame");
    if (c.izzMode != 3) return Refuse(c, "coefficients before the pair mode is set");
    if (e.pendingBlock < 0) return Refuse(c, "coefficients without a block command");
    if (!pairs || count < 1 || e.pendingPairs + count > 64) return Refuse(c, "a block of %d pairs", e.pendingPairs + count);
    for (int i = 0; i < count; ++i) {
        uint32_t p = pairs[i];
        int position = static_cast<int>((p & 0xFFFF) >> 1);
        bool last = p & 1;
        if (position >= 64) return Refuse(c, "pair 0x%08X names position %d", p, position);
        if (e.pendingSeen[position]) return Refuse(c, "pair 0x%08X repeats position %d", p, position);
        if (last && i != count - 1) return Refuse(c, "pair 0x%08X: the last flag before the block's end", p);
        e.pendingSeen[position] = true;
        e.pendingCoeffs[position] = static_cast<int16_t>(p >> 16);
    }
    e.pendingPairs += count;
    bool ends = pairs[count - 1] & 1;
    if (!partial && !ends) return Refuse(c, "block without its last pair");
    if (ends) FinishBlock(e);
    return M24VA_OK;
}

int EngineSamples(Chip& c, const int16_t* samples, int count) {
    Engine& e = c.engine;
    if (!Ready(c)) return c.lost ? M24VA_LOST : M24VA_NOT_INITIALISED;
    if (e.failed) return M24VA_BAD_COMMAND;
    if (!e.frameOpen) return Refuse(c, "residual without a frame");
    if (e.pendingBlock < 0 || e.pendingPairs) return Refuse(c, "residual without a block command");
    if (!samples || count != 64) return Refuse(c, "a residual of %d samples", count);
    memcpy(e.residual[e.pendingBlock], samples, sizeof(e.residual[0]));
    e.hasResidual[e.pendingBlock] = true;
    KeepResidual(e, samples);
    e.pendingBlock = -1;
    return M24VA_OK;
}

}  // namespace pvr

using namespace pvr;

namespace {

// A frame handle as the log writes it (the calls hold the chip's lock).
struct Name {
    char text[32];
    explicit Name(uintptr_t h) { snprintf(text, sizeof(text), "#%lx", static_cast<unsigned long>(h)); }
};

int Allocate(Chip& c, M24VA_FRAME* frames, int count, MemoryKind kind) {
    if (!frames || count < 1 || count > 64) return M24VA_INVALID_PARAM;
    if (!c.m24vaInitialised) return M24VA_NOT_INITIALISED;
    if (FrameCallLost(c)) return M24VA_LOST;
    if (c.frameWidth <= 0 || c.frameHeight <= 0) return M24VA_INVALID_PARAM;
    int pitch = (c.frameWidth + 31) & ~31;
    size_t bytes = static_cast<size_t>(pitch) * c.frameHeight * 3 / 2;
    std::vector<uintptr_t> made;
    for (int i = 0; i < count; ++i) {
        Frame f{};
        f.handle = c.nextHandle;
        c.nextHandle += 0x10;
        f.kind = kind;
        f.width = c.frameWidth;
        f.height = c.frameHeight;
        f.pitch = pitch;
        f.bytes = bytes;
        if (kind == MemoryKind::Local) {
            size_t at = c.heap.Allocate(bytes);
            if (at == SIZE_MAX) break;
            f.offset = at;
            f.base = c.window + kHeapOffset + at;
            memset(f.base, 0xCD, bytes);  // what the memory holds is not the caller's picture
        } else {
            if (bytes > c.systemBudget - std::min(c.systemBudget, c.systemUsed)) break;
            f.base = static_cast<uint8_t*>(malloc(bytes));
            if (!f.base) break;
            memset(f.base, 0xCD, bytes);
            c.systemUsed += bytes;
        }
        c.frames[f.handle] = f;
        made.push_back(f.handle);
    }
    if (static_cast<int>(made.size()) < count) {
        for (uintptr_t h : made) FreeFrame(c, h);
        return M24VA_OUT_OF_MEMORY;
    }
    for (int i = 0; i < count; ++i) frames[i] = reinterpret_cast<M24VA_FRAME>(made[static_cast<size_t>(i)]);
    return M24VA_OK;
}

}  // namespace

extern "C" {

int M24VA_Initialise(int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = M24VA_OK;
    if (!EnsureWindow(c)) {
        r = M24VA_OUT_OF_MEMORY;
    } else if (c.lost) {
        r = M24VA_LOST;
    } else if (c.initFailures > 0) {
        --c.initFailures;
        r = M24VA_DEVICE_BUSY;
    } else {
        c.m24vaInitialised = true;
    }
    Log(c, "M24VA_Initialise(%d) = %d", flags, r);
    return r;
}

int M24VA_Deinitialise(void) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    // Frames the caller left behind go with the driver.
    FreeAllFrames(c);
    EngineReset(c.engine);
    c.m24vaInitialised = false;
    c.lost = false;
    c.izzMode = 0;
    Log(c, "M24VA_Deinitialise() = 0");
    return M24VA_OK;
}

int M24VA_Reset(int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = Ready(c) ? M24VA_OK : c.lost ? M24VA_LOST : M24VA_NOT_INITIALISED;
    if (r == M24VA_OK) EngineReset(c.engine);
    Log(c, "M24VA_Reset(%d) = %d", flags, r);
    return r;
}

int M24VA_FrameDimensions(int height, int width) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = M24VA_OK;
    if (!c.m24vaInitialised) r = M24VA_NOT_INITIALISED;
    else if (FrameCallLost(c)) r = M24VA_LOST;
    else if (width < 16 || height < 16 || width > kMaxFrameSide || height > kMaxFrameSide || (width | height) & 1) r = M24VA_INVALID_PARAM;
    else c.frameWidth = width, c.frameHeight = height;
    Log(c, "M24VA_FrameDimensions(%d, %d) = %d", height, width, r);
    return r;
}

int M24VA_FrameAllocate(M24VA_FRAME* frames, int count) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = Allocate(c, frames, count, MemoryKind::Local);
    Log(c, "M24VA_FrameAllocate(%s, %d) = %d", r == 0 ? Name(reinterpret_cast<uintptr_t>(frames[0])).text : "-", count, r);
    return r;
}

int M24VA_FCFrameAllocate(M24VA_FRAME* frames, int count) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = Allocate(c, frames, count, MemoryKind::System);
    Log(c, "M24VA_FCFrameAllocate(%s, %d) = %d", r == 0 ? Name(reinterpret_cast<uintptr_t>(frames[0])).text : "-", count, r);
    return r;
}

int M24VA_FrameFree(M24VA_FRAME* frames, int count) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = M24VA_OK;
    if (!frames || count < 0) {
        r = M24VA_INVALID_PARAM;
    } else {
        for (int i = 0; i < count; ++i) {
            if (!frames[i]) continue;
            if (!FindFrame(c, frames[i])) r = M24VA_INVALID_PARAM;
            FreeFrame(c, reinterpret_cast<uintptr_t>(frames[i]));
        }
    }
    Log(c, "M24VA_FrameFree(%s, %d) = %d", frames && count > 0 ? Name(reinterpret_cast<uintptr_t>(frames[0])).text : "-", count, r);
    return r;
}

int M24VA_FrameConvert(M24VA_FRAME destination, M24VA_FRAME source) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Frame* d = FindFrame(c, destination);
    Frame* s = FindFrame(c, source);
    int r = M24VA_OK;
    if (!c.m24vaInitialised) r = M24VA_NOT_INITIALISED;
    else if (FrameCallLost(c)) r = M24VA_LOST;
    else if (!d || !s || d == s) r = M24VA_INVALID_PARAM;
    else {
        int w = std::min(d->width, s->width), h = std::min(d->height, s->height);
        for (int y = 0; y < h; ++y) memcpy(d->Y() + static_cast<size_t>(y) * d->pitch, s->Y() + static_cast<size_t>(y) * s->pitch, static_cast<size_t>(w));
        for (int y = 0; y < h / 2; ++y) {
            memcpy(d->U() + static_cast<size_t>(y) * d->pitch, s->U() + static_cast<size_t>(y) * s->pitch, static_cast<size_t>(w / 2));
            memcpy(d->V() + static_cast<size_t>(y) * d->pitch, s->V() + static_cast<size_t>(y) * s->pitch, static_cast<size_t>(w / 2));
        }
    }
    Log(c, "M24VA_FrameConvert(%s, ...) = %d", Name(reinterpret_cast<uintptr_t>(destination)).text, r);
    return r;
}

int M24VA_FrameBeginAccess(M24VA_FRAME frame, void** planes, int* pitch, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Frame* f = FindFrame(c, frame);
    int r = M24VA_OK;
    if (!c.m24vaInitialised) r = M24VA_NOT_INITIALISED;
    else if (FrameCallLost(c)) r = M24VA_LOST;
    else if (!f || !planes || !pitch) r = M24VA_INVALID_PARAM;
    else {
        planes[0] = f->Y();
        planes[1] = f->U();
        planes[2] = f->V();
        *pitch = f->pitch;
        ++f->accesses;
    }
    Log(c, "M24VA_FrameBeginAccess(%s, %d) = %d", Name(reinterpret_cast<uintptr_t>(frame)).text, flags, r);
    return r;
}

int M24VA_FrameEndAccess(M24VA_FRAME frame) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Frame* f = FindFrame(c, frame);
    int r = f && f->accesses > 0 ? M24VA_OK : M24VA_INVALID_PARAM;
    if (r == M24VA_OK) --f->accesses;
    Log(c, "M24VA_FrameEndAccess(%s) = %d", Name(reinterpret_cast<uintptr_t>(frame)).text, r);
    return r;
}

int M24VA_BeginFrame(M24VA_FRAME target, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = M24VA_OK;
    Frame* t = FindFrame(c, target);
    if (!c.m24vaInitialised) r = M24VA_NOT_INITIALISED;
    else if (FrameCallLost(c)) r = M24VA_LOST;
    else if (!t || t->kind != MemoryKind::Local) r = M24VA_INVALID_PARAM;
    else if (c.beginFailures > 0) --c.beginFailures, r = M24VA_DEVICE_BUSY;
    else if (t->handle == OnScreen(c)) r = ScreenFault(c, "frame #%lx begun while it is on screen", static_cast<unsigned long>(t->handle));
    else {
        EngineReset(c.engine);
        c.engine.residuals.clear();
        c.engine.frameOpen = true;
        c.engine.target = t->handle;
        c.lastError.clear();
    }
    Log(c, "M24VA_BeginFrame(%s, %d) = %d", Name(reinterpret_cast<uintptr_t>(target)).text, flags, r);
    return r;
}

int M24VA_EndFrame(int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Engine& e = c.engine;
    int r = M24VA_OK;
    if (!Ready(c)) r = c.lost ? M24VA_LOST : M24VA_NOT_INITIALISED;
    else if (!e.frameOpen) r = M24VA_INVALID_PARAM;
    else if (e.failed) r = M24VA_BAD_COMMAND;
    else if (e.section != Section::None) r = Refuse(c, "frame ends inside a section");
    if (e.frameOpen && r == M24VA_OK) ++c.framesDecoded;
    if (r != M24VA_NOT_INITIALISED && r != M24VA_LOST) EngineReset(e);
    Log(c, "M24VA_EndFrame(%d) = %d", flags, r);
    return r;
}

int M24VA_SetReferenceFrameAddress(int which, M24VA_FRAME frame) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Engine& e = c.engine;
    Frame* f = FindFrame(c, frame);
    int r = M24VA_OK;
    if (!c.m24vaInitialised) r = M24VA_NOT_INITIALISED;
    else if (FrameCallLost(c)) r = M24VA_LOST;
    else if (!e.frameOpen || !f || (which != 1 && which != 2)) r = M24VA_INVALID_PARAM;
    else if (f->width != c.frames[e.target].width || f->height != c.frames[e.target].height) r = M24VA_INVALID_PARAM;
    else (which == 1 ? e.forward : e.backward) = f->handle;
    Log(c, "M24VA_SetReferenceFrameAddress(%d, %s) = %d", which, Name(reinterpret_cast<uintptr_t>(frame)).text, r);
    return r;
}

int M24VA_SetIZZMode(int mode) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = !c.m24vaInitialised ? M24VA_NOT_INITIALISED : mode == 3 ? M24VA_OK : M24VA_INVALID_PARAM;
    if (r == M24VA_OK) c.izzMode = mode;
    Log(c, "M24VA_SetIZZMode(%d) = %d", mode, r);
    return r;
}

int M24VA_WriteIZZBlock(const uint32_t* pairs, int count) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = EngineBlock(c, pairs, count, false);
    Log(c, "M24VA_WriteIZZBlock(%d: 0x%08X%s) = %d", count, pairs && count > 0 ? pairs[0] : 0, count > 1 ? " ..." : "", r);
    return r;
}

int M24VA_WriteIZZData(const uint32_t* pairs, int count) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = EngineBlock(c, pairs, count, true);
    Log(c, "M24VA_WriteIZZData(%d) = %d", count, r);
    return r;
}

int M24VA_WriteResidualDifferenceData(const int16_t* samples, int count) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = EngineSamples(c, samples, count);
    Log(c, "M24VA_WriteResidualDifferenceData(%d) = %d", count, r);
    return r;
}

int M24VA_WriteMCCmdData(uint32_t word) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = EngineWord(c, word);
    Log(c, "M24VA_WriteMCCmdData(0x%08X) = %d", word, r);
    return r;
}

}  // extern "C"
