// The 2700G IDCT face (class 270I): frames for the decoder and the writers of the chip's
// command words and coefficient pairs, one set for each rotation of the frames.
#include <algorithm>
#include <cstring>

#include "g270.h"
#include "plugin/scans.h"

namespace framelane {

namespace {

// Where the zig-zag steps of a 4:2:2 chroma block go (64: not sent).
const uint8_t kChroma422Target[64] = {
    0,  1,  16, 32, 17, 2,  3,  18, 33, 48, 64, 49, 34, 19, 4,  5,  20, 35, 50, 64, 64, 64,
    64, 64, 51, 36, 21, 6,  7,  22, 37, 52, 64, 64, 64, 64, 64, 64, 64, 64, 53, 38, 23, 39,
    54, 64, 64, 64, 64, 64, 64, 64, 64, 55, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
};

// The per-block command words by rotation: intra, then inter, blocks 0-5.
const uint32_t kIntraWords[4][6] = {
    {0x10000002, 0x1000000A, 0x10000022, 0x1000002A, 0x10000002, 0x10000002},
    {0x10000022, 0x10000002, 0x1000002A, 0x1000000A, 0x10000002, 0x10000002},
    {0x1000002A, 0x10000022, 0x1000000A, 0x10000002, 0x10000002, 0x10000002},
    {0x1000000A, 0x1000002A, 0x10000002, 0x10000022, 0x10000002, 0x10000002},
};
const uint32_t kInterWords[4][6] = {
    {0x10000000, 0x10000008, 0x10000020, 0x10000028, 0x10000000, 0x10000000},
    {0x10000020, 0x10000000, 0x10000028, 0x10000008, 0x10000000, 0x10000000},
    {0x10000028, 0x10000020, 0x10000008, 0x10000000, 0x10000000, 0x10000000},
    {0x10000008, 0x10000028, 0x10000000, 0x10000020, 0x10000000, 0x10000000},
};

constexpr uint32_t kMarker = 0x8000000;
constexpr uint32_t kForward = 0xC;
constexpr uint32_t kBackwardWithForward = 0x9;
constexpr uint32_t kBackwardAlone = 0xD;

Face* F(void* face) { return static_cast<Face*>(face); }

bool Swaps(int direction) { return direction & DIR_SWAPXY; }

void Word(Output* o, uint32_t w) { o->drv.writeMCCmdData(w); }

uint32_t Coordinate(uint32_t reference, int x, int y) {
    // Each field keeps its 14 bits: a position left of or above the frame stays out of
    // the reference bits.
    return reference << 28 | (static_cast<uint32_t>(y) & 0x3FFF) << 14 | (static_cast<uint32_t>(x) & 0x3FFF);
}

// Where a block of `size` samples whose upright top-left lies at (x, y) (in units of the
// word: half pixels) lies in a frame turned by rotation R; `W`, `H` are the planned frame
// width and height minus 16 at the word's scale and `grow` the difference of the block's
// size from 16 samples at that scale.
template <int R>
void Turn(int x, int y, int W, int H, int grow, int* fx, int* fy) {
    switch (R) {
        case 1: *fx = y, *fy = W + grow - x; break;
        case 2: *fx = W + grow - x, *fy = H + grow - y; break;
        case 3: *fx = H + grow - y, *fy = x; break;
        default: *fx = x, *fy = y;
    }
}

// A coefficient at raster index i with value v, as the block turned by R holds it.
template <int R>
uint32_t Pair(int i, int v) {
    int row = i >> 3, col = i & 7, pos = i;
    bool negate = false;
    if (R == 1) pos = col * 8 + row, negate = col & 1;
    if (R == 2) negate = (row + col) & 1;
    if (R == 3) pos = col * 8 + row, negate = row & 1;
    if (negate) v = v == -32768 ? 32767 : -v;
    return static_cast<uint32_t>(pos * 2) | static_cast<uint32_t>(static_cast<uint16_t>(v)) << 16;
}

int Count(int count) { return count < 0 ? 0 : count > 64 ? 64 : count; }

// The pairs of the non-zero coefficients among the first `count` of the scan; a block
// without any is the single pair {1, 0}.
template <int R>
void SendBlock(Output* o, const int16_t* coeffs, int count, const uint8_t* scan) {
    Face& f = o->face;
    int n = 0;
    for (int k = 0; k < Count(count); ++k) {
        int i = scan[k];
        if (coeffs[i]) f.pairs[n++] = Pair<R>(i, coeffs[i]);
    }
    if (n == 0) f.pairs[n++] = 1;
    f.pairs[n - 1] |= 1;
    o->drv.writeIZZBlock(f.pairs, n);
}

void SetHeaders(Face& f, int fx, int fy) {
    uint32_t p = static_cast<uint32_t>(fy) << 11 | static_cast<uint32_t>(fx);
    f.interHeader = 0x1D000000 | p;
    f.intraHeader[0] = f.intraHeader[1] = (0x35000000 | p) >> 1;
}

template <int R>
void Position(void* face, int x, int y) {
    Face& f = *F(face);
    f.ux = 16 * x, f.uy = 16 * y;
    Turn<R>(f.ux, f.uy, f.width, f.height, 0, &f.px, &f.py);
    SetHeaders(f, f.px, f.py);
    f.block = 0;
    for (int& s : f.chromaSet) s = 0;
}

// The luma word of a 16x16 prediction and the chroma words, from a vector record.
template <int R>
uint32_t LumaWord(const Face& f, uint32_t reference, int vx, int vy, int bx, int by, int size) {
    int x, y;
    Turn<R>(2 * (f.ux + bx) + vx, 2 * (f.uy + by) + vy, 2 * f.width, 2 * f.height, 2 * (16 - size), &x, &y);
    return Coordinate(reference, x, y);
}

template <int R>
void PrepareChroma(Face& f, const Vectors* v, uint32_t reference, int slot) {
    for (int c = 0; c < 2; ++c) {
        int x, y;
        Turn<R>(f.ux + v->v[4 + c][0], f.uy + v->v[4 + c][1], f.width, f.height, 0, &x, &y);
        f.chroma[slot + c] = Coordinate(reference, x, y);
        f.chromaSet[slot + c] = 1;
    }
}

template <int R>
void Skipped(void* face, int x, int y, int backward) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    Position<R>(face, x, y);
    uint32_t r = backward ? 0x10000000 : 0;
    uint32_t luma = r | 0xC0000000 | (static_cast<uint32_t>(2 * f.py) & 0x3FFF) << 14 | (static_cast<uint32_t>(2 * f.px) & 0x3FFF);
    uint32_t chroma = (luma & 0xF0000000) | (static_cast<uint32_t>(f.py) & 0x3FFF) << 14 | (static_cast<uint32_t>(f.px) & 0x3FFF);
    for (uint32_t w : {0x28u, kMarker, luma, f.interHeader, 0x15u, kMarker, chroma, f.intraHeader[0], 0x16u, kMarker,
                       chroma, f.intraHeader[1]})
        Word(o, w);
}

// One vector a macroblock; with `both`, the frame has a backward reference.
template <int R, bool Both>
void OneVector(void* face, const void* forward, const void* backward) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    auto* fw = static_cast<const Vectors*>(forward);
    auto* bw = Both ? static_cast<const Vectors*>(backward) : nullptr;
    for (int& s : f.chromaSet) s = 0;
    if (!fw && !bw) return;  // no vectors: nothing is predicted (an intra macroblock)
    Word(o, static_cast<uint32_t>(f.mode) | 0x28);
    Word(o, kMarker);
    if (fw) {
        PrepareChroma<R>(f, fw, kForward, 0);
        Word(o, LumaWord<R>(f, kForward, fw->v[0][0], fw->v[0][1], 0, 0, 16));
    }
    if (bw) {
        uint32_t ref = fw ? kBackwardWithForward : kBackwardAlone;
        PrepareChroma<R>(f, bw, ref, 2);
        Word(o, LumaWord<R>(f, ref, bw->v[0][0], bw->v[0][1], 0, 0, 16));
    }
}

// The marker of source block b names the destination block it has in the turned frame.
template <int R>
uint32_t MarkerOf(int b) {
    uint32_t w = kInterWords[R][b];
    return kMarker | ((w & 0x08) ? 0x40 : 0) | ((w & 0x20) ? 0x10 : 0);
}

template <int R>
void FourVectorSet(Output* o, const Vectors* v, uint32_t reference) {
    const Face& f = o->face;
    for (int b = 0; b < 4; ++b) {
        Word(o, MarkerOf<R>(b));
        Word(o, LumaWord<R>(f, reference, v->v[b][0], v->v[b][1], (b & 1) * 8, (b >> 1) * 8, 8));
    }
}

template <int R, bool Both>
void FourVectors(void* face, const void* forward, const void* backward) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    auto* fw = static_cast<const Vectors*>(forward);
    auto* bw = Both ? static_cast<const Vectors*>(backward) : nullptr;
    for (int& s : f.chromaSet) s = 0;
    if (!fw && !bw) return;
    Word(o, static_cast<uint32_t>(f.mode) | 0x14);
    if (fw) PrepareChroma<R>(f, fw, kForward, 0);
    if (bw) PrepareChroma<R>(f, bw, fw ? kBackwardWithForward : kBackwardAlone, 2);
    if (fw) FourVectorSet<R>(o, fw, kForward);
    if (bw) FourVectorSet<R>(o, bw, fw ? kBackwardWithForward : kBackwardAlone);
}

void AfterBlock(Output* o, int block) {
    Face& f = o->face;
    if (block == 3) Word(o, f.interHeader);
    if (block == 4 || block == 5) Word(o, f.intraHeader[block - 4]);
}

template <int R>
void Intra(void* face, const int16_t* coeffs, int count, int scanKind) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    int k = f.block;
    if (k > 5 || !coeffs) return;
    if (k == 0) Word(o, 0x28);
    if (k == 4) Word(o, 0x15);
    if (k == 5) Word(o, 0x16);
    Word(o, kIntraWords[R][k]);
    SendBlock<R>(o, coeffs, count, plugin::kScans[scanKind >= 0 && scanKind <= 2 ? scanKind : 0]);
    AfterBlock(o, k);
    f.block = k + 1;
}

template <int R, bool Both>
void Inter(void* face, const int16_t* coeffs, int count) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    int k = f.block;
    if (k > 5) return;
    if (k >= 4) {
        int c = k - 4;
        Word(o, static_cast<uint32_t>(f.mode) | 0x14 | static_cast<uint32_t>(k - 3));
        Word(o, kMarker);
        if (f.chromaSet[c]) Word(o, f.chroma[c]);
        if (Both && f.chromaSet[2 + c]) Word(o, f.chroma[2 + c]);
    }
    if (count != 0 && coeffs) {
        Word(o, kInterWords[R][k]);
        SendBlock<R>(o, coeffs, count, plugin::kScans[0]);
    }
    AfterBlock(o, k);
    f.block = k + 1;
}

// --- 4:2:2 pictures: intra only, upright frames ---

void Position422(void* face, int x, int y) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    f.ux = f.px = 16 * x;
    f.uy = f.py = 8 * y;
    uint32_t p = static_cast<uint32_t>(f.py) << 11 | static_cast<uint32_t>(f.px);
    f.interHeader = 0x1B000000 | p;
    f.intraHeader[0] = f.intraHeader[1] = (0x31000000 | p) >> 1;
    f.block = 0;
    Word(o, 0);
}

void Intra422(void* face, const int16_t* coeffs, int count, int scanKind) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    int k = f.block;
    if (k > 3 || !coeffs) return;
    if (k < 2) {
        Word(o, k == 0 ? 0x10000002 : 0x1000000A);
        SendBlock<0>(o, coeffs, count, plugin::kScans[scanKind >= 0 && scanKind <= 2 ? scanKind : 0]);
        if (k == 1) Word(o, f.interHeader);
    } else {
        Word(o, static_cast<uint32_t>(k - 1));
        Word(o, 0x10000002);
        int n = 0;
        for (int s = 0; s < Count(count); ++s) {
            int i = plugin::kScans[0][s], target = kChroma422Target[s];
            if (target < 64 && coeffs[i]) f.pairs[n++] = Pair<0>(target, coeffs[i]);
        }
        if (n == 0) f.pairs[n++] = 1;
        f.pairs[n - 1] |= 1;
        o->drv.writeIZZBlock(f.pairs, n);
        Word(o, f.intraHeader[k - 2]);
    }
    f.block = k + 1;
}

// --- The routine table: kinds by rotations ---

struct Routines {
    void (*vectorA[2])(void*, const void*, const void*);
    void (*vectorB[2])(void*, const void*, const void*);
    void (*inter[2])(void*, const int16_t*, int);
    void (*position)(void*, int, int);
    void (*skipped)(void*, int, int, int);
    void (*intra)(void*, const int16_t*, int, int);
};

template <int R>
constexpr Routines RoutinesOf() {
    return Routines{{OneVector<R, false>, OneVector<R, true>},
                    {FourVectors<R, false>, FourVectors<R, true>},
                    {Inter<R, false>, Inter<R, true>},
                    Position<R>,
                    Skipped<R>,
                    Intra<R>};
}

const Routines kRoutines[4] = {RoutinesOf<0>(), RoutinesOf<1>(), RoutinesOf<2>(), RoutinesOf<3>()};

// --- The face's slots ---

bool ValidIndex(const Output* o, int i) { return i >= 0 && i < o->frameCount && o->frames[i]; }

// Two indexes trade their frames; the roles name pictures, so they follow.
void Exchange(Output* o, int a, int b) {
    std::swap(o->frames[a], o->frames[b]);
    std::swap(o->frameNumber[a], o->frameNumber[b]);
    for (int* role : {&o->current, &o->previous, &o->heldBack, &o->decoding}) {
        if (*role == a) *role = b;
        else if (*role == b) *role = a;
    }
}

int FrameStart(void* face, int frame, int* previous, int target, int forward, int backward, int show, int) {
    Output* o = OwnerOf(face);
    if (!o->driverUp) return ERR_DEVICE_ERROR;
    if (!ValidIndex(o, target) || (forward != -1 && !ValidIndex(o, forward)) ||
        (backward != -1 && !ValidIndex(o, backward)) || show < -1 || show >= o->frameCount)
        return ERR_INVALID_PARAM;
    // The frame on screen is never written into, nor, when another can be had, the one
    // shown before it: another frame trades places with the target.
    int exchanged = -1;
    if (target == o->current || target == o->previous) {
        auto freeFrame = [&](int i) {
            return i != o->current && i != o->previous && i != forward && i != backward && i != show;
        };
        int pick = -1;
        for (int i = 0; i < o->frameCount && pick < 0; ++i)
            if (freeFrame(i)) pick = i;
        if (pick < 0) {
            // One frame more than are held (a count of 1 already holds two).
            int count = o->frameCount;
            if (SetFrameCount(o, count + 1 - o->extraFrames, o->extraFrames, count) == 0 && o->frameCount > count)
                pick = count;
            else if (o->heldBack >= 0 && ValidIndex(o, o->heldBack) && o->heldBack != o->current &&
                     o->heldBack != forward && o->heldBack != backward && o->heldBack != show)
                pick = o->heldBack;  // a late frame nothing refers to any more
        }
        if (pick >= 0 && pick != target) {
            Exchange(o, target, pick);
            exchanged = pick;
        } else if (target == o->current) {
            return ERR_OUT_OF_MEMORY;  // nothing to decode into but the frame on screen
        }
    }
    int r = 0;
    bool restarted = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        r = o->drv.beginFrame(o->frames[target], 1);
        if (r == 0 && forward >= 0) r = o->drv.setReferenceFrameAddress(1, o->frames[forward]);
        if (r == 0 && backward >= 0) r = o->drv.setReferenceFrameAddress(2, o->frames[backward]);
        if (r != 0 && r != kDriverLost) o->drv.endFrame(1);
        if (r != kDriverLost || attempt) break;
        restarted = true;
        if (DriverLost(o) != 0 || !ValidIndex(o, target)) break;
    }
    if (r != 0) {
        // A refused frame leaves the frames as they were (a restarted driver has new ones).
        if (exchanged >= 0 && !restarted) Exchange(o, target, exchanged);
        return ERR_DEVICE_ERROR;
    }
    if (o->heldBack == target) o->heldBack = -1;  // its picture is being overwritten
    o->decoding = target;
    o->face.twoReferences = backward >= 0;
    ChooseRoutines(o);
    o->showIndex = show;
    if (previous) *previous = o->frameNumber[target];
    o->frameNumber[target] = frame;
    o->face.mode = o->face.modeParam ? 0x40 : 0;
    o->face.block = 0;
    o->drv.setIZZMode(3);
    return 0;
}

int FrameEnd(void* face, int timeNow, IdctFrameEnd* frame) {
    Output* o = OwnerOf(face);
    if (!ValidIndex(o, o->showIndex)) return ERR_NO_FRAME;
    int frameTime = frame ? frame->frameTime : -1;
    if (FrameShowTiming(o, timeNow, frameTime) != 0) {
        // A refused repeat of the frame on screen holds nothing back.
        if (o->showIndex != o->current) o->heldBack = o->showIndex;
        return ERR_READ;
    }
    if (frameTime >= 0) o->base.lastShownTime = frameTime;
    if (frameTime != -2) ++o->base.shownFrames;
    int index = o->showIndex;
    if (index != o->current) o->previous = o->current;
    o->current = index;
    if (o->heldBack == index) o->heldBack = -1;  // shown after all
    if (frameTime < 0 && timeNow >= 0 && ElapsedMs(o->lastFlipTick) < 16) {
        o->reflip = 1;
        return 0;
    }
    if (o->lastAttributes.visible) Flip(o, index);
    return 0;
}

int CountFrame(void* face, int* counter, int flag) {
    Output* o = OwnerOf(face);
    if (flag) ++o->base.droppedFrames;
    if (!counter || *counter) ++o->base.shownFrames;
    return 0;
}

int ResetReferences(void* face) {
    Output* o = OwnerOf(face);
    for (int& n : o->frameNumber) n = -1;
    return 0;
}

int LockBuffer(void* face, int index, Planes planes, int* brightness, VideoFormat* format) {
    Output* o = OwnerOf(face);
    if (planes) planes[0] = planes[1] = planes[2] = nullptr;
    if (!ValidIndex(o, index) || !planes) return ERR_INVALID_PARAM;
    int pitch = 0;
    if (FrameAccess(o, index, planes, &pitch) != 0) return ERR_DEVICE_ERROR;
    if (brightness) *brightness = 0;
    if (format) {
        *format = o->frameFormat;
        format->pitch = pitch;
    }
    return 0;
}

int UnlockBuffer(void* face, int index) {
    Output* o = OwnerOf(face);
    if (!ValidIndex(o, index)) return ERR_INVALID_PARAM;
    o->drv.frameEndAccess(o->frames[index]);
    return 0;
}

int EndChipFrame(void* face) {
    Output* o = OwnerOf(face);
    if (!o->driverUp) return ERR_DEVICE_ERROR;
    o->decoding = -1;
    return o->drv.endFrame(1) == 0 ? 0 : ERR_DEVICE_ERROR;
}

// The output format: the video format, with width and height swapped when its direction
// swaps the axes otherwise than the frames do.
VideoFormat OutputFormat(const Output* o) {
    VideoFormat f = o->base.format.format;
    if (Swaps(f.direction) != Swaps(o->frameRotation)) std::swap(f.width, f.height);
    return f;
}

// --- Backup and restore (face parameter 89) ---

constexpr int32_t kBackupMagic = 0x32373042;  // identifies this plug-in's records

int Backup(Output* o, IdctBackupRecord* r) {
    FreeSaved(o);
    *r = IdctBackupRecord{};
    r->format = o->base.format.format;  // as it was set, to set it again
    r->width = o->face.idctWidth;
    r->height = o->face.idctHeight;
    r->count = o->frameCount;
    r->showIndex = o->showIndex;
    r->spare[0] = kBackupMagic;
    auto owner = reinterpret_cast<uintptr_t>(o);
    r->spare[1] = static_cast<int32_t>(owner & 0xFFFFFFFF);
    r->spare[2] = static_cast<int32_t>(static_cast<uint64_t>(owner) >> 32);
    r->spare[3] = ++o->backupSerial;
    o->backupPending = 1;
    for (int i = 0; i < o->frameCount; ++i) {
        r->frameNumber[i] = o->frameNumber[i];
        SavedPicture& s = o->saved[i];
        s.format = o->frameFormat;
        s.format.pitch = DefaultPitch(&s.format);
        if (SurfaceAlloc(s.planes, &s.format) != 0) {
            FreeSaved(o);
            *r = IdctBackupRecord{};
            return ERR_OUT_OF_MEMORY;
        }
        void* planes[3];
        int pitch = 0;
        if (FrameAccess(o, i, planes, &pitch) == 0) {
            VideoFormat from = o->frameFormat;
            from.pitch = pitch;
            SurfaceCopy(&from, &s.format, planes, s.planes, nullptr);
            o->drv.frameEndAccess(o->frames[i]);
        } else {
            FillColor(&s.format, s.planes, nullptr, nullptr, 8, 0x008080);  // black
        }
        r->picture[i] = i + 1;
    }
    return 0;
}

int SetFace(void* face, int id, const void* data, int size);

int Restore(Output* o, const IdctBackupRecord* r) {
    auto owner = reinterpret_cast<uintptr_t>(o);
    // Only the pictures of this object's last backup, once.
    bool ours = r->spare[0] == kBackupMagic && static_cast<uint32_t>(r->spare[1]) == (owner & 0xFFFFFFFF) &&
                static_cast<uint32_t>(r->spare[2]) == static_cast<uint32_t>(static_cast<uint64_t>(owner) >> 32) &&
                r->spare[3] == o->backupSerial && o->backupPending;
    if (!ours) return ERR_INVALID_PARAM;
    if (r->count < 0 || r->count > kMaxFrames) {
        FreeSaved(o);
        return ERR_INVALID_PARAM;
    }
    o->face.idctWidth = r->width;
    o->face.idctHeight = r->height;
    o->framesToRestore = r->count;
    int e = SetFace(&o->face, IDCT_FORMAT, &r->format, sizeof(r->format));
    o->framesToRestore = 0;
    for (int i = 0; e == 0 && i < r->count && i < o->frameCount; ++i) {
        o->frameNumber[i] = r->frameNumber[i];
        SavedPicture& s = o->saved[i];
        if (!r->picture[i] || !s.planes[0]) continue;
        void* planes[3];
        int pitch = 0;
        if (FrameAccess(o, i, planes, &pitch) == 0) {
            VideoFormat to = o->frameFormat;
            to.pitch = pitch;
            SurfaceRotate(&s.format, &to, s.planes, planes, CombineDir(s.format.direction, o->frameRotation, 0));
            o->drv.frameEndAccess(o->frames[i]);
        }
    }
    if (e == 0) o->showIndex = r->showIndex >= 0 && r->showIndex < o->frameCount ? r->showIndex : -1;
    FreeSaved(o);
    return e;
}

// --- Face parameters ---

int EnumFace(void* face, int index, ParamInfo* out) {
    int r = IDCTEnum(face, index, out);
    if (r == 0 && out && out->id == IDCT_OWNER_INFO) out->flags |= 1;
    return r;
}

template <class T>
int Put(void* data, int size, const T& value) {
    if (!data || size < static_cast<int>(sizeof(T))) return ERR_INVALID_PARAM;
    memcpy(data, &value, sizeof(T));
    return 0;
}

struct OwnerInfo {
    void* owner;
    int32_t size;
};

int GetFace(void* face, int id, void* data, int size) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    switch (id) {
        case IDCT_OWNER: return Put(data, size, static_cast<void*>(o));
        case IDCT_ONE: return Put(data, size, 1);
        case IDCT_MODE: return Put(data, size, f.modeParam);
        case IDCT_FORMAT:
            if (!o->driverUp) return ERR_INVALID_PARAM;
            return Put(data, size, OutputFormat(o));
        case IDCT_OWNER_INFO: return Put(data, size, OwnerInfo{o, 32});
        case IDCT_COUNT: return Put(data, size, o->frameCount);
        case IDCT_SHOW: return Put(data, size, o->showIndex);
        case IDCT_WIDTH: return Put(data, size, f.idctWidth);
        case IDCT_HEIGHT: return Put(data, size, f.idctHeight);
        case IDCT_BACKUP:
            if (!data || size != static_cast<int>(sizeof(IdctBackupRecord))) return ERR_INVALID_PARAM;
            return Backup(o, static_cast<IdctBackupRecord*>(data));
        case IDCT_ZERO: return Put(data, size, 0);
        case IDCT_FORMAT_COPY: {
            if (!o->driverUp) return ERR_INVALID_PARAM;
            VideoFormatEx ex{};
            ex.format = OutputFormat(o);
            return Put(data, size, ex);
        }
        case IDCT_ZERO2: return Put(data, size, 0);
        default:
            if (id >= IDCT_FRAME_NUMBER && id < IDCT_FRAME_NUMBER + o->frameCount)
                return Put(data, size, o->frameNumber[id - IDCT_FRAME_NUMBER]);
            return ERR_INVALID_PARAM;
    }
}

int SetFace(void* face, int id, const void* data, int size) {
    Output* o = OwnerOf(face);
    Face& f = *F(face);
    int32_t v = 0;
    bool isInt = data && size == static_cast<int>(sizeof(int32_t));
    if (isInt) memcpy(&v, data, sizeof(v));
    switch (id) {
        case IDCT_END_NO_PICTURE: {
            IdctFrameEnd end{0, -2};
            return FrameEnd(face, -1, &end);
        }
        case IDCT_NOTHING_TO_SHOW:
            o->showIndex = -1;
            return 0;
        case IDCT_MODE:
            if (!isInt) return ERR_INVALID_PARAM;
            f.modeParam = v != 0;
            return 0;
        case IDCT_FORMAT: {
            if (!data || (size != static_cast<int>(sizeof(VideoFormat)) && size != static_cast<int>(sizeof(VideoFormatEx))))
                return ERR_INVALID_PARAM;
            VideoFormatEx ex{};
            memcpy(&ex, data, static_cast<size_t>(size));
            o->idctMode = 1;
            int r = OverlaySet(o, OVERLAY_OUTPUT, &ex, sizeof(ex));
            if (r != 0) OverlaySet(o, OVERLAY_OUTPUT, nullptr, 0);
            return r;
        }
        case IDCT_COUNT:
            if (!isInt) return ERR_INVALID_PARAM;
            return SetFrameCount(o, v, 0, 0);
        case IDCT_SHOW:
            if (!isInt) return ERR_INVALID_PARAM;
            o->showIndex = v >= 0 && v < o->frameCount ? v : -1;
            return 0;
        case IDCT_WIDTH:
        case IDCT_HEIGHT:
            if (!isInt || v < 0 || v > 2048) return ERR_INVALID_PARAM;
            (id == IDCT_WIDTH ? f.idctWidth : f.idctHeight) = v;
            return 0;
        case IDCT_BACKUP:
            if (!data || size != static_cast<int>(sizeof(IdctBackupRecord))) return ERR_INVALID_PARAM;
            return Restore(o, static_cast<const IdctBackupRecord*>(data));
        case IDCT_ZERO:
            return isInt && v == 0 ? 0 : ERR_INVALID_PARAM;
        default:
            if (isInt && id >= IDCT_FRAME_NUMBER && id < IDCT_FRAME_NUMBER + o->frameCount) {
                o->frameNumber[id - IDCT_FRAME_NUMBER] = v;
                return 0;
            }
            return ERR_INVALID_PARAM;
    }
}

}  // namespace

void ChooseRoutines(Output* o) {
    Face& f = o->face;
    IdctFace& s = f.slots;
    f.is422 = o->is422;
    if (f.is422) {
        s.position = Position422;
        s.intra = Intra422;
        s.skipped = nullptr;
        s.vectorA = s.vectorB = nullptr;
        s.inter = nullptr;
        return;
    }
    f.rotation = o->frameRotation < 0 ? 0 : RotationIndex(o->frameRotation);
    const Routines& r = kRoutines[f.rotation];
    int both = f.twoReferences ? 1 : 0;
    s.vectorA = r.vectorA[both];
    s.vectorB = r.vectorB[both];
    s.inter = r.inter[both];
    s.position = r.position;
    s.skipped = r.skipped;
    s.intra = r.intra;
}

void FreeSaved(Output* o) {
    for (auto& s : o->saved) SurfaceFree(s.planes);
    o->backupPending = 0;
}

void FaceSetUp(Output* o) {
    IdctFace& s = o->face.slots;
    s.classId = I270_CLASS;
    s.enumParams = EnumFace;
    s.getParam = GetFace;
    s.setParam = SetFace;
    s.frameEnd = FrameEnd;
    s.countFrame = CountFrame;
    s.resetReferences = ResetReferences;
    s.lockBuffer = LockBuffer;
    s.unlockBuffer = UnlockBuffer;
    s.frameStart = FrameStart;
    s.endChipFrame = EndChipFrame;
    ChooseRoutines(o);
}

}  // namespace framelane
