// The AHII face: the decoder hands it each macroblock's vectors and each 8x8 block's
// coefficients, and the chip's IDCT engine decodes them into the overlay's frame buffers.
// When the frame buffers hold the picture with its axes exchanged, the routines hand the
// chip the transposed blocks at the transposed macroblock positions.
#include <algorithm>
#include <cstring>
#include <new>

#include "ahi.h"
#include "plugin/scans.h"

namespace pixelway {

const NodeClassDef kFaceClass = {NODE_CLASS_SIZE(0, NODE_FLAGS_IDCT), AHII_CLASS, IDCT_CLASS, 1050, nullptr, nullptr};

namespace {

// The zig-zag of the transposed block, for frames that hold the picture with its axes exchanged.
const uint8_t kTransposedZigzag[64] = {
    0,  8,  1,  2,  9,  16, 24, 17, 10, 3,  4,  11, 18, 25, 32, 40, 33, 26, 19, 12, 5,  6,
    13, 20, 27, 34, 41, 48, 56, 49, 42, 35, 28, 21, 14, 7,  15, 22, 29, 36, 43, 50, 57, 58,
    51, 44, 37, 30, 23, 31, 38, 45, 52, 59, 60, 53, 46, 39, 47, 54, 61, 62, 55, 63};

// The scans by table: the decoder's three, then the transposed zig-zag.
const uint8_t* const kTables[4] = {plugin::kScans[0], plugin::kScans[1], plugin::kScans[2], kTransposedZigzag};

// For n coefficients in zig-zag order (1-64), the count up to the end of the anti-diagonal
// that holds the n-th: the same coefficients in the transposed block's zig-zag.
const uint8_t kDiagonalEnd[64] = {1,  3,  3,  6,  6,  6,  10, 10, 10, 10, 15, 15, 15, 15, 15, 21,
                                  21, 21, 21, 21, 21, 28, 28, 28, 28, 28, 28, 28, 36, 36, 36, 36,
                                  36, 36, 36, 36, 43, 43, 43, 43, 43, 43, 43, 49, 49, 49, 49, 49,
                                  49, 54, 54, 54, 54, 54, 58, 58, 58, 58, 61, 61, 61, 63, 63, 64};

constexpr int kLateTicks = 655;
constexpr int kLateAllowance = 131;

Face* F(void* f) { return static_cast<Face*>(f); }

int16_t Saturate(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

// Packs the non-zero coefficients among the first `count` positions of the scan into
// groups of four run-level pairs. Returns the number of groups.
int Pack(const int16_t* coefs, int count, const uint8_t* scan, AhiCoefGroup* out) {
    static const int kLevel[4] = {1, 0, 3, 2};
    int groups = 0, n = 0, run = 0;
    for (int i = 0; i < count; ++i) {
        int v = coefs[scan[i]];
        if (!v) {
            ++run;
            continue;
        }
        AhiCoefGroup& g = out[groups];
        if (n == 0) g = AhiCoefGroup{{0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}};
        g.run[3 - n] = static_cast<uint8_t>(run);
        g.level[kLevel[n]] = static_cast<int16_t>(v);
        run = 0;
        if (++n == 4) {
            ++groups;
            n = 0;
        }
    }
    return groups + (n ? 1 : 0);
}

void Copy(const int16_t* coefs, int16_t out[64]) {
    if (coefs) std::memcpy(out, coefs, 64 * sizeof(int16_t));
    else std::memset(out, 0, 64 * sizeof(int16_t));
}

uint32_t Upright(uint32_t w) { return (w & ~0x8000u) << 1; }
uint32_t Turned(uint32_t w) { return ((w << 17) | (w >> 15)) & ~0x10001u; }

Driver& Drv(Face* f) { return f->owner->drv; }

// --- Sending blocks to the chip ---

void SendIntra(Face* f, int16_t* c, int count, int table, int scanBits) {
    int n = count >= 1 && count <= 64 ? Pack(c, count, kTables[table], f->groups) : 0;
    Drv(f).AhiIDCT8x8(f->idct, f->groups, n, f->mbIndex, scanBits);
}

void SendInter(Face* f, int16_t* c, int count, int table) {
    const uint32_t* fwd = f->forwardAt >= 0 && f->forwardAt < 6 ? &f->forward[f->forwardAt] : nullptr;
    const uint32_t* bwd = f->backwardAt >= 0 && f->backwardAt < 6 ? &f->backward[f->backwardAt] : nullptr;
    // The chip rounds a forward prediction at half a pel on both axes low by 2 in DC.
    if (f->owner->opt110 && fwd && (*fwd & 0x2) && (*fwd & 0x20000)) {
        if (count < 1) {
            count = 1;
            c[0] = 2;
        } else {
            c[0] = Saturate(c[0] + 2);
        }
    }
    int n = count >= 1 && count <= 64 ? Pack(c, count, kTables[table], f->groups) : 0;
    Drv(f).AhiIDCTMComp8x8(f->idct, f->groups, n, fwd, bwd, f->mbIndex, 1);
    if (fwd) ++f->forwardAt;
    if (bwd) ++f->backwardAt;
}

// The next block of the macroblock, or -1 once six were sent.
int NextBlock(Face* f) { return f->block < 6 ? f->block++ : -1; }

// An intra block's coefficients with the brightness offset on luma DC.
int IntraCopy(Face* f, int block, const int16_t* coefs, int count, int16_t c[64]) {
    Copy(coefs, c);
    if (block < 4) {
        if (count < 1) {
            count = 1;
            c[0] = Saturate(f->dcOffset);
        } else {
            c[0] = Saturate(c[0] + f->dcOffset);
        }
    }
    return count;
}

void Flush(Face* f) {
    if (f->heldScan < 0) return;
    int scan = f->heldScan;
    f->heldScan = -1;
    if (f->heldInter) SendInter(f, f->heldCoefs, f->heldCount, scan);
    else SendIntra(f, f->heldCoefs, f->heldCount, scan & 3, 1 << (scan >> 2));
}

// --- Upright routines ---

void PositionUp(void* face, int x, int y) {
    Face* f = F(face);
    Flush(f);
    f->mbIndex = x + y * f->mbPerRow;
    f->block = 0;
    f->forwardAt = f->backwardAt = -1;
}

void SkippedAt(Face* f, int index, int backward) {
    for (int k = 0; k < 6; ++k)
        Drv(f).AhiIDCTMComp8x8(f->idct, nullptr, 0, backward ? nullptr : &f->zeroVectors[k],
                               backward ? &f->zeroVectors[k] : nullptr, index, 0);
}

void SkippedUp(void* face, int x, int y, int backward) {
    Face* f = F(face);
    Flush(f);
    SkippedAt(f, x + y * f->mbPerRow, backward);
}

void Convert(const void* set, uint32_t out[6], int* at, uint32_t (*conv)(uint32_t), bool turned) {
    if (!set) {
        *at = -1;
        return;
    }
    const auto* v = static_cast<const uint32_t*>(set);
    for (int k = 0; k < 6; ++k) out[k] = conv(v[k]);
    if (turned) std::swap(out[1], out[2]);
    *at = 0;
}

void VectorsUp(void* face, const void* forward, const void* backward) {
    Face* f = F(face);
    Convert(forward, f->forward, &f->forwardAt, Upright, false);
    Convert(backward, f->backward, &f->backwardAt, Upright, false);
}

void IntraUp(void* face, const int16_t* coefs, int count, int scanKind) {
    Face* f = F(face);
    int block = NextBlock(f);
    if (block < 0) return;
    if (scanKind < 0 || scanKind > 2) scanKind = 0;
    int16_t c[64];
    count = IntraCopy(f, block, coefs, count, c);
    SendIntra(f, c, count, scanKind, 1 << scanKind);
}

void InterUp(void* face, const int16_t* coefs, int count) {
    Face* f = F(face);
    if (NextBlock(f) < 0) return;
    int16_t c[64];
    Copy(coefs, c);
    SendInter(f, c, count, 0);
}

// --- Rotated routines ---

void PositionTurned(void* face, int x, int y) {
    Face* f = F(face);
    Flush(f);
    f->mbIndex = y + x * f->mbPerRow;
    f->block = 0;
    f->forwardAt = f->backwardAt = -1;
}

void SkippedTurned(void* face, int x, int y, int backward) {
    Face* f = F(face);
    Flush(f);
    SkippedAt(f, y + x * f->mbPerRow, backward);
}

void VectorsTurned(void* face, const void* forward, const void* backward) {
    Face* f = F(face);
    Convert(forward, f->forward, &f->forwardAt, Turned, true);
    Convert(backward, f->backward, &f->backwardAt, Turned, true);
}

int RaisedCount(int count) { return count >= 1 && count <= 64 ? kDiagonalEnd[count - 1] : count; }

// Block 1 waits for block 2, so that the chip receives the luma blocks as 0, 2, 1, 3.
void SendTurned(Face* f, int block, int16_t* c, int count, int table, bool inter) {
    if (block == 1) {
        std::memcpy(f->heldCoefs, c, sizeof(f->heldCoefs));
        f->heldCount = count;
        f->heldInter = inter;
        f->heldScan = table;  // intra: table | chip scan << 2
        return;
    }
    if (inter) SendInter(f, c, count, table);
    else SendIntra(f, c, count, table & 3, 1 << (table >> 2));
    if (block == 2) Flush(f);
}

void IntraTurned(void* face, const int16_t* coefs, int count, int scanKind) {
    Face* f = F(face);
    int block = NextBlock(f);
    if (block < 0) return;
    if (scanKind < 0 || scanKind > 2) scanKind = 0;
    int16_t c[64];
    count = IntraCopy(f, block, coefs, count, c);
    // Zig-zag: the transposed block's zig-zag, told to the chip as zig-zag; the alternate
    // scans are each other's transposes.
    int table = scanKind == 0 ? 3 : scanKind;
    int chip = scanKind == 0 ? 0 : 3 - scanKind;
    if (scanKind == 0) count = RaisedCount(count);
    SendTurned(f, block, c, count, table | (chip << 2), false);
}

void InterTurned(void* face, const int16_t* coefs, int count) {
    Face* f = F(face);
    int block = NextBlock(f);
    if (block < 0) return;
    int16_t c[64];
    Copy(coefs, c);
    SendTurned(f, block, c, RaisedCount(count), 3, true);
}

// --- Face slots ---

Ahi* Owner(void* face) { return F(face)->owner; }

// The decoder's buffer count, which is also the count wanted. One that cannot be had
// changes nothing: the buffers made for it go again; the count, the buffers and their
// frames stay as they were. Buffers given up are freed only once the update has
// succeeded, since a freed frame cannot be brought back.
int SetCount(Ahi* a, int count) {
    int inUse = a->inUse, wanted = a->wanted, allocated = a->allocated;
    a->inUse = count;
    a->wanted = std::max(count, allocated);
    if (UpdateYuv(a) == 0 && a->allocated >= count) {
        if (a->allocated > count) AdjustCount(a, count, count);
        a->wanted = count;
        return 0;
    }
    for (int i = a->allocated - 1; i >= allocated; --i) FreeEntry(a, i);
    a->allocated = std::min(a->allocated, allocated);
    a->inUse = inUse;
    a->wanted = wanted;
    return ERR_OUT_OF_MEMORY;
}

bool ValidIndex(Ahi* a, int i) { return i >= 0 && i < a->inUse && i < a->allocated && a->table[i].surface; }

// One more buffer for the decoder: a free one already allocated, or a new one.
bool Grow(Ahi* a) {
    if (a->inUse >= FRAME_BUFFERS) return false;
    if (a->allocated <= a->inUse) {
        a->growing = true;
        int kind = a->yuvPath ? -3 : -1;
        int r = AllocEntry(a, a->allocated, kind, a->surf.width, a->surf.height);
        a->growing = false;
        if (r != 0) return false;
        ++a->allocated;
        a->wanted = std::max(a->wanted, a->allocated);
    }
    ++a->inUse;
    return true;
}

void SwapRoles(Ahi* a, int x, int y) {
    ExchangeSurfaces(&a->table[x], &a->table[y]);
    std::swap(a->table[x].frame, a->table[y].frame);
    for (int* role : {&a->onScreen, &a->shownBefore}) {
        if (*role == x) *role = y;
        else if (*role == y) *role = x;
    }
}

void ReRender(Ahi* a);

int FrameStart(void* face, int frame, int* previous, int target, int forward, int backward, int show, int noWait) {
    Face* f = F(face);
    Ahi* a = f->owner;
    std::lock_guard<std::mutex> g(f->lock);
    // A frame left open (the decoder went on without its end) is over now, and a brightness
    // change asked meanwhile is made before the next one.
    f->frameOpen = false;
    if (!f->idct) return ERR_DEVICE_ERROR;
    ReRender(a);
    if (!ValidIndex(a, target) || (forward != -1 && !ValidIndex(a, forward)) ||
        (backward != -1 && !ValidIndex(a, backward)) || show < -1 || show >= a->inUse)
        return ERR_INVALID_PARAM;
    // A frame the chip refuses leaves the table as it was: the exchange below is undone.
    int inUse = a->inUse;
    int exchanged = -1;
    if (!a->scaling && (target == a->onScreen || target == a->shownBefore)) {
        auto busy = [&](int i) {
            return i == a->onScreen || i == a->shownBefore || i == forward || i == backward || i == show;
        };
        int free = -1;
        for (int i = 0; i < a->inUse && free < 0; ++i)
            if (!busy(i)) free = i;
        if (free < 0 && Grow(a)) free = a->inUse - 1;
        if (free < 0 && a->shownBefore >= 0 && a->shownBefore != target && a->shownBefore != forward &&
            a->shownBefore != backward) {
            if (!noWait) a->drv.AhiDispWaitVBlank(a->context, 0);
            free = a->shownBefore;
        }
        if (free >= 0 && free != target) {
            SwapRoles(a, free, target);
            exchanged = free;
        }
    }
    if (a->drv.AhiIDCTFrameStart(f->idct, a->table[target].surface, forward >= 0 ? a->table[forward].surface : 0,
                                 backward >= 0 ? a->table[backward].surface : 0, f->sequence, 0) != 0) {
        if (exchanged >= 0) SwapRoles(a, exchanged, target);
        a->inUse = inUse;  // a buffer grown for it stays as a spare
        return ERR_DEVICE_ERROR;
    }
    a->flipNext = target == show;
    a->showNext = show;
    if (previous) *previous = a->table[target].frame;
    a->table[target].frame = frame;
    a->pictures = true;
    f->mbPerRow = a->surf.width / 16;
    f->heldScan = -1;
    f->block = 0;
    f->frameOpen = true;
    return 0;
}

int EndChipFrame(void* face) {
    Face* f = F(face);
    std::lock_guard<std::mutex> g(f->lock);
    if (!f->idct) return ERR_DEVICE_ERROR;
    Flush(f);
    int r = Drv(f).AhiIDCTFrameEnd(f->idct, f->sequence);
    ++f->sequence;
    f->frameOpen = false;
    // A brightness change asked during the frame: the frame has the old offset throughout,
    // and is now brightened with the others.
    ReRender(f->owner);
    return r == 0 ? 0 : ERR_DEVICE_ERROR;
}

int FrameEnd(void* face, int timeNow, IdctFrameEnd* rec) {
    Face* f = F(face);
    Ahi* a = f->owner;
    if (a->showNext < 0 || !ValidIndex(a, a->showNext)) return ERR_NO_FRAME;
    int time = rec ? rec->frameTime : -1;
    bool late = false;
    if (time < 0) {
        f->lastTime = timeNow;
    } else {
        if (!a->base.repeat && time == f->lastTime) return ERR_READ;
        int lateness = timeNow - time;
        if (lateness >= kLateTicks) {
            if (a->intermediates == 2 && a->scaling && lateness <= kLateTicks + kLateAllowance) late = true;
            else return ERR_READ;
        }
        f->lastTime = time;
    }
    if (time != -2) ++a->base.shownFrames;
    a->shownBefore = a->onScreen;
    a->onScreen = a->showNext;
    if (!a->scaling) {
        if (a->flipNext) a->drv.AhiDrawIdle(a->context, 0);
        if (a->dstRect.width > 0 && a->dstRect.height > 0)
            ShowSurface(a, a->table[a->onScreen].surface);
    } else if (rec && rec->drop) {
        ++a->base.droppedFrames;
    } else {
        CopyToIntermediate(a, a->onScreen, late);
    }
    return 0;
}

int CountFrame(void* face, int* counter, int flag) {
    Ahi* a = Owner(face);
    if (flag) ++a->base.droppedFrames;
    if (!counter || *counter) ++a->base.shownFrames;
    return 0;
}

int ResetReferences(void* face) {
    Ahi* a = Owner(face);
    for (int i = 0; i < FRAME_BUFFERS; ++i) a->table[i].frame = -1;
    return 0;
}

int LockBuffer(void* face, int index, Planes planes, int* brightness, VideoFormat* format) {
    Ahi* a = Owner(face);
    if (!a->context || !ValidIndex(a, index)) {
        if (planes) planes[0] = planes[1] = planes[2] = nullptr;
        return ERR_INVALID_PARAM;
    }
    a->drv.AhiDrawIdle(a->context, 0);
    void* p[3];
    if (LockPlanes(a, a->table[index].surface, p) != 0) {
        if (planes) planes[0] = planes[1] = planes[2] = nullptr;
        return ERR_DEVICE_ERROR;
    }
    if (planes) std::copy(p, p + 3, planes);
    a->pictures = true;  // the decoder may write into it
    if (brightness) *brightness = a->base.fx.brightness;
    if (format) *format = BufferFormat(a, a->table[index]);
    return 0;
}

int UnlockBuffer(void* face, int index) {
    Ahi* a = Owner(face);
    if (!a->context || !ValidIndex(a, index)) return ERR_INVALID_PARAM;
    UnlockPlanes(a, a->table[index].surface, 3);
    return 0;
}

// The video format as the frame buffers hold it.
VideoFormatEx OutputFormat(const Ahi* a) {
    VideoFormatEx f = a->base.format;
    if ((f.format.direction ^ a->surf.direction) & DIR_SWAPXY) std::swap(f.format.width, f.format.height);
    return f;
}

int GetParam(void* face, int id, void* data, int size) {
    Face* f = F(face);
    Ahi* a = f->owner;
    auto putInt = [&](int32_t v) {
        if (!data || size < 4) return ERR_INVALID_PARAM;
        std::memcpy(data, &v, 4);
        return 0;
    };
    switch (id) {
        case IDCT_OWNER:
            if (!data || size < static_cast<int>(sizeof(void*))) return ERR_INVALID_PARAM;
            std::memcpy(data, &a, sizeof(void*));
            return 0;
        case IDCT_ONE: return putInt(1);
        case IDCT_MODE: return putInt(f->property3 ? 0 : 1);
        case IDCT_FORMAT: {
            if (!data || size < static_cast<int>(sizeof(VideoFormat))) return ERR_INVALID_PARAM;
            VideoFormatEx o = OutputFormat(a);
            std::memcpy(data, &o.format, sizeof(VideoFormat));
            return 0;
        }
        case IDCT_OWNER_INFO: {
            struct {
                void* owner;
                int32_t size;
            } info{a, 32};
            if (!data || size < static_cast<int>(sizeof(info))) return ERR_INVALID_PARAM;
            std::memcpy(data, &info, sizeof(info));
            return 0;
        }
        case IDCT_COUNT: return putInt(f->idct ? a->inUse : 0);
        case IDCT_SHOW: return putInt(a->showNext);
        case IDCT_WIDTH: return putInt(f->width);
        case IDCT_HEIGHT: return putInt(f->height);
        case IDCT_BACKUP:
            if (!data || size < static_cast<int>(sizeof(IdctBackupRecord))) return ERR_INVALID_PARAM;
            return IDCTBackup(face, static_cast<IdctBackupRecord*>(data));
        case IDCT_ZERO: return putInt(0);
        case IDCT_FORMAT_COPY: {
            if (!f->idct || !data || size < static_cast<int>(sizeof(VideoFormatEx))) return ERR_INVALID_PARAM;
            VideoFormatEx o = OutputFormat(a);
            std::memcpy(data, &o, sizeof(o));
            return 0;
        }
        case IDCT_ZERO2: return putInt(0);
        default:
            if (id >= IDCT_FRAME_NUMBER && id < IDCT_FRAME_NUMBER + FRAME_BUFFERS)
                return putInt(a->table[id - IDCT_FRAME_NUMBER].frame);
            return ERR_INVALID_PARAM;
    }
}

int SetParam(void* face, int id, const void* data, int size) {
    Face* f = F(face);
    Ahi* a = f->owner;
    int32_t v = 0;
    bool isInt = data && size == 4;
    if (isInt) std::memcpy(&v, data, 4);
    switch (id) {
        case IDCT_END_NO_PICTURE: {
            IdctFrameEnd rec{0, -2};
            return FrameEnd(face, f->lastTime, &rec);
        }
        case IDCT_NOTHING_TO_SHOW: a->showNext = -1; return 0;
        case IDCT_MODE:
            if (!isInt) return ERR_INVALID_PARAM;
            if (!f->idct) return ERR_INVALID_PARAM;
            f->property3 = v ? 0 : 1;
            return a->drv.AhiIDCTPropSet(f->idct, 3, &f->property3, 4) == 0 ? 0 : ERR_DEVICE_ERROR;
        case IDCT_FORMAT: {
            VideoFormatEx wide{};
            if (!data || (size != static_cast<int>(sizeof(VideoFormat)) && size != static_cast<int>(sizeof(VideoFormatEx))))
                return ERR_INVALID_PARAM;
            std::memcpy(&wide, data, static_cast<size_t>(size));
            a->faceSetting = true;
            int r = a->base.node.setParam(a, OVERLAY_OUTPUT, &wide, sizeof(wide));
            if (r != 0) a->base.node.setParam(a, OVERLAY_OUTPUT, nullptr, 0);
            return r;
        }
        case IDCT_COUNT:
            if (!isInt || v < 1 || v > FRAME_BUFFERS) return ERR_INVALID_PARAM;
            if (!f->idct) return ERR_OUT_OF_MEMORY;
            return SetCount(a, v);
        case IDCT_SHOW:
            if (!isInt) return ERR_INVALID_PARAM;
            a->showNext = v < 0 || v >= a->inUse ? -1 : v;
            return 0;
        case IDCT_WIDTH:
        case IDCT_HEIGHT:
            if (!isInt || v < 0 || v > 2048) return ERR_INVALID_PARAM;
            (id == IDCT_WIDTH ? f->width : f->height) = v;
            return 0;
        case IDCT_BACKUP:
            if (!data || size != static_cast<int>(sizeof(IdctBackupRecord))) return ERR_INVALID_PARAM;
            return IDCTRestore(face, static_cast<const IdctBackupRecord*>(data));
        case IDCT_ZERO: return isInt && v == 0 ? 0 : ERR_INVALID_PARAM;
        default:
            if (id >= IDCT_FRAME_NUMBER && id < IDCT_FRAME_NUMBER + FRAME_BUFFERS && isInt) {
                a->table[id - IDCT_FRAME_NUMBER].frame = v;
                return 0;
            }
            return ERR_INVALID_PARAM;
    }
}

int EnumParams(void* face, int index, ParamInfo* out) {
    int r = IDCTEnum(face, index, out);
    if (r == 0 && out && out->id == IDCT_OWNER_INFO) out->flags |= 1;
    return r;
}

}  // namespace

void FaceSetUp(Ahi* a) {
    Face& f = a->face;
    new (&f.lock) std::mutex;
    f.base.classId = AHII_CLASS;
    f.base.enumParams = EnumParams;
    f.base.getParam = GetParam;
    f.base.setParam = SetParam;
    f.base.frameEnd = FrameEnd;
    f.base.countFrame = CountFrame;
    f.base.resetReferences = ResetReferences;
    f.base.lockBuffer = LockBuffer;
    f.base.unlockBuffer = UnlockBuffer;
    f.base.frameStart = FrameStart;
    f.base.endChipFrame = EndChipFrame;
    f.owner = a;
    f.heldScan = -1;
    f.forwardAt = f.backwardAt = -1;
    f.property3 = 1;
    f.lastTime = -1;
    ChooseRoutines(a);
}

void ChooseRoutines(Ahi* a) {
    Face& f = a->face;
    Flush(&f);
    bool turned = a->surf.direction & DIR_SWAPXY;
    f.base.position = turned ? PositionTurned : PositionUp;
    f.base.skipped = turned ? SkippedTurned : SkippedUp;
    f.base.vectorA = f.base.vectorB = turned ? VectorsTurned : VectorsUp;
    f.base.intra = turned ? IntraTurned : IntraUp;
    f.base.inter = turned ? InterTurned : InterUp;
    f.mbPerRow = a->surf.width / 16;
}

void FaceDestroy(Ahi* a) { a->face.lock.~mutex(); }

// The engine closes: no frame stays open.
void FaceClose(Ahi* a) {
    Face& f = a->face;
    std::lock_guard<std::mutex> g(f.lock);
    if (f.idct) a->drv.AhiIDCTClose(f.idct);
    f.idct = 0;
    f.frameOpen = false;
}

namespace {

// The brightness change asked last, applied between frames (face lock held): the buffers in
// use are decoded again from themselves with the change as a DC offset on luma, through a
// spare buffer. The surface on screen is never decoded into: once its buffer's picture is
// made again elsewhere the overlay moves to it, and only then is the old memory reused.
void ReRender(Ahi* a) {
    Face& f = a->face;
    int d = f.wantedOffset - f.dcOffset;
    f.dcOffset = f.wantedOffset;
    if (!d || !f.idct || a->inUse < 1 || !a->table[0].surface) return;
    // The first extra buffer, else the first buffer in use off screen, whose picture is
    // saved and put back brightened by the processor.
    int spare = -1;
    if (a->allocated > a->inUse && !Shown(a, a->table[a->inUse])) spare = a->inUse;
    for (int i = 0; i < a->inUse && spare < 0; ++i)
        if (a->table[i].surface && !Shown(a, a->table[i])) spare = i;
    if (spare < 0) return;  // a single buffer, on screen: the frames to come carry the change
    VideoFormat savedFormat{};
    void* saved[3] = {};
    if (spare < a->inUse) {
        void* planes[3];
        if (LockPlanes(a, a->table[spare].surface, planes) == 0) {
            VideoFormat now = BufferFormat(a, a->table[spare]);
            savedFormat = now;
            savedFormat.pitch = 0;
            if (SurfaceAlloc(saved, &savedFormat) == 0) SurfaceCopy(&now, &savedFormat, planes, saved, nullptr);
            UnlockPlanes(a, a->table[spare].surface, 3);
        }
    }
    AhiCoefGroup dc{{0xFF, 0xFF, 0xFF, 0}, {0, Saturate(d), 0, 0}};
    int macroblocks = (a->surf.width / 16) * (a->surf.height / 16);
    for (int b = 0; b < a->inUse; ++b) {
        if (b == spare || !a->table[b].surface) continue;
        if (a->drv.AhiIDCTFrameStart(f.idct, a->table[spare].surface, a->table[b].surface, 0, f.sequence, 0) != 0)
            continue;  // this buffer keeps its picture as it was
        for (int mb = 0; mb < macroblocks; ++mb) {
            for (int k = 0; k < 4; ++k) a->drv.AhiIDCTMComp8x8(f.idct, &dc, 1, &f.zeroVectors[k], nullptr, mb, 1);
            for (int k = 4; k < 6; ++k) a->drv.AhiIDCTMComp8x8(f.idct, nullptr, 0, &f.zeroVectors[k], nullptr, mb, 1);
        }
        int r = a->drv.AhiIDCTFrameEnd(f.idct, f.sequence);
        ++f.sequence;
        if (r != 0) continue;
        bool shown = Shown(a, a->table[b]);
        ExchangeSurfaces(&a->table[b], &a->table[spare]);
        if (shown) {
            // The new picture on screen before the old memory takes the next one.
            ShowSurface(a, a->table[b].surface);
            a->drv.AhiDispWaitVBlank(a->context, 0);
        }
    }
    if (saved[0]) {
        void* planes[3];
        if (LockPlanes(a, a->table[spare].surface, planes) == 0) {
            VideoFormat now = BufferFormat(a, a->table[spare]);
            VideoEffects fx{};
            fx.brightness = d / 8;
            SurfaceCopy(&savedFormat, &now, saved, planes, &fx);
            UnlockPlanes(a, a->table[spare].surface, 3);
        }
        SurfaceFree(saved);
    }
}

}  // namespace

// A change of brightness in IDCT mode (video thread). While the decoder has a frame open
// the engine is its: the re-render waits for the frame's end.
int BrightnessChange(Ahi* a) {
    Face& f = a->face;
    std::lock_guard<std::mutex> g(f.lock);
    f.wantedOffset = 8 * a->base.fx.brightness;
    if (!f.frameOpen) ReRender(a);
    return 0;
}

}  // namespace pixelway
