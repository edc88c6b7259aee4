// The overlay's surfaces: allocation by memory kind with a view of each frame buffer with
// its sides exchanged, the wanted count, plane locks and copies, and the chip's register
// switch between the keyed and the direct overlay.
#include <algorithm>
#include <cstring>

#include "ahi.h"

namespace pixelway {
namespace {

VideoFormat SurfaceFormat(const Ahi* a, int width, int height, int pitch) {
    VideoFormat f = a->surf;
    f.width = width;
    f.height = height;
    f.pitch = pitch;
    return f;
}

// Black: Y 0 and U, V 128, or RGB 0.
void FillBlack(Ahi* a, AhiHandle surface, int width, int height, int pitch) {
    void* planes[3] = {};
    if (LockPlanes(a, surface, planes) != 0) return;
    VideoFormat f = SurfaceFormat(a, width, height, pitch);
    int pitches[3] = {pitch, pitch >> a->xShift, pitch >> a->xShift};
    if (a->yuvPath) FillColor(&f, planes, pitches, nullptr, 8, 0x008080);
    else FillColor(&f, planes, pitches, nullptr, 16, 0);
    UnlockPlanes(a, surface, a->yuvPath ? 3 : 1);
}

int PitchOf(Ahi* a, AhiHandle surface) {
    AhiSurfInfoRec info{};
    return a->drv.AhiSurfInfo(a->context, surface, &info) == 0 ? info.pitch : 0;
}

}  // namespace

int LockPlanes(Ahi* a, AhiHandle surface, void* planes[3]) {
    int count = a->yuvPath ? 3 : 1;
    planes[0] = planes[1] = planes[2] = nullptr;
    for (int p = 0; p < count; ++p) {
        if (a->drv.AhiSurfLock(a->context, surface, &planes[p], a->planes[p]) != 0 || !planes[p]) {
            UnlockPlanes(a, surface, p);
            planes[0] = planes[1] = planes[2] = nullptr;
            return ERR_DEVICE_ERROR;
        }
    }
    return 0;
}

void UnlockPlanes(Ahi* a, AhiHandle surface, int count) {
    for (int p = 0; p < count; ++p) a->drv.AhiSurfUnlock(a->context, surface, a->planes[p]);
}

int CopyPlanes(Ahi* a, AhiHandle from, AhiHandle to, int width, int height) {
    int count = a->yuvPath ? 3 : 1;
    for (int p = 0; p < count; ++p) {
        int sx = p ? a->xShift : 0, sy = p ? a->yShift : 0;
        AhiRect r{0, 0, (width + (1 << sx) - 1) >> sx, (height + (1 << sy) - 1) >> sy};
        AhiPoint at{0, 0};
        a->drv.AhiDrawSurfSrcSet(a->context, from, a->planes[p]);
        a->drv.AhiDrawSurfDstSet(a->context, to, a->planes[p]);
        if (a->drv.AhiDrawBitBlt(a->context, &r, &at) != 0) return ERR_DEVICE_ERROR;
    }
    return 0;
}

void ExchangeSurfaces(SurfEntry* x, SurfEntry* y) {
    std::swap(x->surface, y->surface);
    std::swap(x->partner, y->partner);
    std::swap(x->kind, y->kind);
    std::swap(x->pitch, y->pitch);
    std::swap(x->partnerPitch, y->partnerPitch);
}

int AllocEntry(Ahi* a, int index, int kind, int width, int height) {
    if (index < 0 || index >= TABLE_SIZE) return ERR_INVALID_PARAM;
    int kinds[2] = {kind, 0};
    switch (kind) {
        case -3:
            kinds[0] = (index & 1) ? AHI_MEM_INTERNAL : AHI_MEM_EXTERNAL;
            kinds[1] = (index & 1) ? AHI_MEM_EXTERNAL : AHI_MEM_INTERNAL;
            break;
        case -1: kinds[0] = AHI_MEM_INTERNAL, kinds[1] = AHI_MEM_EXTERNAL; break;
        case -2: kinds[0] = AHI_MEM_EXTERNAL, kinds[1] = AHI_MEM_INTERNAL; break;
        default: break;
    }
    AhiSize size{width, height};
    AhiHandle s = 0;
    int got = 0;
    for (int k : kinds) {
        if (!k) continue;
        s = 0;
        a->drv.AhiSurfAlloc(a->context, &s, &size, a->surfKind, k);
        if (s) {
            got = k;
            break;
        }
    }
    if (!s && !a->base.fullyVisible && a->opt113 && !a->rotated && !a->reuse) {
        a->drv.AhiSurfReuse(a->context, &s, a->display, &size, a->surfKind, 0);
        if (s) {
            got = AHI_KIND_REUSED;
            a->reuse = true;
            WaitDisable(1);
        }
    }
    if (!s) return ERR_OUT_OF_MEMORY;
    SurfEntry e{s, 0, got, -1, PitchOf(a, s), 0};
    if (index < FRAME_BUFFERS) {
        AhiSize turned{height, width};
        a->drv.AhiSurfReuse(a->context, &e.partner, s, &turned, a->surfKind, 0);
        if (!e.partner) {
            a->drv.AhiSurfFree(a->context, s);
            if (got == AHI_KIND_REUSED) {
                a->reuse = false;
                WaitDisable(0);
            }
            return ERR_OUT_OF_MEMORY;
        }
        e.partnerPitch = PitchOf(a, e.partner);
    }
    e.frame = a->table[index].frame;
    a->table[index] = e;
    FillBlack(a, s, width, height, e.pitch);
    return 0;
}

// Whether the overlay was last given this entry's memory.
bool Shown(const Ahi* a, const SurfEntry& e) {
    return e.surface && (e.surface == a->shownSurface || e.partner == a->shownSurface);
}

void FreeEntry(Ahi* a, int index) {
    SurfEntry& e = a->table[index];
    if (Shown(a, e)) {
        // The overlay must not scan out memory that is given back.
        a->drv.AhiDispOverlayState(a->context, 0, 0);
        a->shownSurface = 0;
    }
    if (e.partner) a->drv.AhiSurfFree(a->context, e.partner);
    if (e.surface) a->drv.AhiSurfFree(a->context, e.surface);
    if (e.surface && e.kind == AHI_KIND_REUSED) {
        a->reuse = false;
        WaitDisable(0);
    }
    e = SurfEntry{0, 0, 0, -1, 0, 0};
}

void FreeAll(Ahi* a) {
    for (int i = 0; i < TABLE_SIZE; ++i) FreeEntry(a, i);
    a->allocated = 0;
    a->intermediates = 0;
    a->scaling = false;
}

int AdjustCount(Ahi* a, int wanted, int inUse) {
    wanted = std::clamp(wanted, 1, FRAME_BUFFERS);
    // The path's memory kind: the IDCT frames alternate between internal and external
    // memory, the other paths take internal memory first.
    int kind = a->yuvPath && a->idctMode ? -3 : -1;
    if (a->secondMode) kind = AHI_MEM_EXTERNAL;
    int w = a->surf.width, h = a->surf.height;
    int growKind = kind;
    if (a->idctMode) {
        // Internal memory first. When it cannot hold the frames in use they start again in
        // both kinds, unless they hold pictures already: those stay, the rest comes from both.
        while (a->allocated < wanted && AllocEntry(a, a->allocated, AHI_MEM_INTERNAL, w, h) == 0) ++a->allocated;
        if (a->allocated < wanted && a->allocated < inUse && a->yuvPath) {
            if (!a->pictures) {
                for (int i = 0; i < FRAME_BUFFERS; ++i) FreeEntry(a, i);
                a->allocated = 0;
            }
        } else {
            growKind = 0;  // what the internal memory gave is kept
        }
    }
    if (growKind)
        while (a->allocated < wanted && AllocEntry(a, a->allocated, growKind, w, h) == 0) ++a->allocated;
    if (a->allocated < wanted) wanted = std::max(a->allocated, 1);
    // Shrinking: keep the two memory kinds balanced among the buffers that stay.
    bool shrunk = a->allocated > wanted;
    while (a->allocated > wanted) {
        int i = a->allocated - 1;
        if (kind == -3) {
            int n64 = 0, n32 = 0;
            for (int k = 0; k < wanted; ++k) {
                n64 += a->table[k].kind == AHI_MEM_INTERNAL;
                n32 += a->table[k].kind == AHI_MEM_EXTERNAL;
            }
            int scarce = n64 < n32 ? AHI_MEM_INTERNAL : n32 < n64 ? AHI_MEM_EXTERNAL : 0;
            int other = scarce == AHI_MEM_INTERNAL ? AHI_MEM_EXTERNAL : AHI_MEM_INTERNAL;
            if (scarce && a->table[i].kind == scarce) {
                for (int k = 0; k < wanted; ++k) {
                    // The buffer on screen keeps its memory: the overlay would lose it.
                    if (a->table[k].kind != other || Shown(a, a->table[k])) continue;
                    CopyPlanes(a, a->table[k].surface, a->table[i].surface, w, h);
                    ExchangeSurfaces(&a->table[k], &a->table[i]);
                    break;
                }
            }
        }
        FreeEntry(a, i);
        --a->allocated;
    }
    if (shrunk) {
        for (int* role : {&a->onScreen, &a->shownBefore, &a->showNext, &a->heldBack})
            if (*role >= a->allocated) *role = -1;
    }
    a->wanted = wanted;
    return a->allocated;
}

// Switches the chip's display control between the keyed overlay (6) and the overlay shown
// directly (2), at the start of a vertical blank. Only the 3200 part with option 0x114.
int RegisterSwitch(Ahi* a, bool on) {
    if (a->device.word[1] != AHI_DEVICE_3200 || !a->opt114 || !a->context) return 0;
    if (on == a->switchedOn) return 0;
    auto* regs = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t*>(a->context)[7]);
    if (!regs) return ERR_DEVICE_ERROR;
    if (on && !a->reuse && a->display) {
        void* p = nullptr;
        if (a->drv.AhiSurfLock(a->context, a->display, &p, 0) == 0 && p) {
            VideoFormat f = a->base.screen;
            f.pitch = PitchOf(a, a->display);
            FillColor(&f, &p, nullptr, nullptr, 16, 0);
            a->drv.AhiSurfUnlock(a->context, a->display, 0);
        }
    }
    auto* status = reinterpret_cast<uint32_t*>(regs + AHI_REG_STATUS);
    auto* control = reinterpret_cast<uint32_t*>(regs + AHI_REG_DISPCNTL);
    // Into the blank and out of it again, each wait bounded.
    int budget = std::max(1, GetTimeFreq() / 5);
    for (bool blank : {true, false}) {
        int start = GetTimeTick();
        while (((__atomic_load_n(status, __ATOMIC_ACQUIRE) & AHI_STATUS_VBLANK) != 0) != blank)
            if (GetTimeTick() - start > budget) return ERR_DEVICE_ERROR;
    }
    uint32_t v = __atomic_load_n(control, __ATOMIC_ACQUIRE);
    __atomic_store_n(control, (v & ~7u) | (on ? 2u : 6u), __ATOMIC_RELEASE);
    a->switchedOn = on;
    return 0;
}

void Hide(Ahi* a) {
    if (!a->context) return;
    RegisterSwitch(a, false);
    a->drv.AhiDispOverlayState(a->context, 0, 0);
    a->drv.AhiDispWaitVBlank(a->context, 0);
}

}  // namespace pixelway
