// Showing frames: the rectangles, the intermediate scaling surfaces, the colour key and
// the position record on the YUV overlay path; the blit into video memory on the RGB
// path; turning held frames when the picture's axes change.
//
// Directions: the frame buffers hold the picture turned by surf.direction (relative to the
// upright picture); the screen must show it turned by the video's direction followed by
// the effects' direction. The chip's blitter turns the buffers when the axes differ; the
// overlay mirrors what is left.
#include <algorithm>
#include <cstring>

#include "ahi.h"

namespace pixelway {
namespace {

bool Smooth(const Ahi* a) { return (a->base.fx.flags & FX_STRETCH_SMOOTH) != 0; }

int VideoDirection(const Ahi* a) { return a->idctMode ? 0 : a->base.format.format.direction; }

// The direction the screen must show.
int Wanted(const Ahi* a) { return CombineDir(0, VideoDirection(a), a->base.fx.direction); }

// What the overlay still has to mirror.
int Remaining(const Ahi* a) { return CombineDir(a->surf.direction, Wanted(a), 0); }

// The picture's size in the frame buffers.
void PictureSize(const Ahi* a, int* w, int* h) {
    const VideoFormat& v = a->base.format.format;
    *w = a->idctMode ? std::min(v.width, a->face.width) : v.width;
    *h = a->idctMode ? std::min(v.height, a->face.height) : v.height;
    if (*w <= 0) *w = a->face.width;
    if (*h <= 0) *h = a->face.height;
    if ((a->surf.direction ^ VideoDirection(a)) & DIR_SWAPXY) std::swap(*w, *h);
}

int ScreenWidth(const Ahi* a) { return a->base.screen.width; }
int ScreenHeight(const Ahi* a) { return a->base.screen.height; }

// Clips dst to the screen and cuts src in proportion (mirrored where the overlay mirrors).
void Clip(VRect* dst, VRect* src, int screenW, int screenH, int mirror) {
    if (dst->width <= 0 || dst->height <= 0) return;
    int cutL = std::max(0, -dst->x), cutT = std::max(0, -dst->y);
    int cutR = std::max(0, dst->x + dst->width - screenW), cutB = std::max(0, dst->y + dst->height - screenH);
    if (!cutL && !cutT && !cutR && !cutB) return;
    if (cutL + cutR >= dst->width || cutT + cutB >= dst->height) {
        *dst = VRect{0, 0, 0, 0};
        return;
    }
    auto part = [](int cut, int srcSize, int dstSize) {
        return static_cast<int>(static_cast<int64_t>(cut) * srcSize / dstSize);
    };
    int sl = part(cutL, src->width, dst->width), sr = part(cutR, src->width, dst->width);
    int st = part(cutT, src->height, dst->height), sb = part(cutB, src->height, dst->height);
    if (mirror & DIR_MIRRORX) std::swap(sl, sr);
    if (mirror & DIR_MIRRORY) std::swap(st, sb);
    dst->x += cutL;
    dst->y += cutT;
    dst->width -= cutL + cutR;
    dst->height -= cutT + cutB;
    src->x += sl;
    src->y += st;
    src->width = std::max(1, src->width - sl - sr);
    src->height = std::max(1, src->height - st - sb);
}

// The YUV path's rectangles and scale.
void YuvRects(Ahi* a) {
    VRect dst, src;
    if (a->base.viewport.width <= 0 || a->base.viewport.height <= 0) {
        // Nowhere to show yet.
        a->dstRect = a->srcRect = VRect{0, 0, 0, 0};
        a->stretch = a->shrink = false;
        return;
    }
    VirtToPhy(&a->base.viewport, &dst, &a->base.screen);
    int pw, ph;
    PictureSize(a, &pw, &ph);
    src = VRect{0, 0, pw, ph};
    VideoEffects fx = a->blitFx;
    fx.direction = Remaining(a);
    VRect wantedDst = dst;
    AnyAlign(&dst, &src, &fx, 2, 1, 0x8000, 0x100000);
    if (fx.scaleX == fx.scaleY && fx.scaleX >= 64225 && fx.scaleX <= 67501) {
        // Near enough to 1: shown unscaled, centred where the picture was to go.
        fx.scaleX = fx.scaleY = 0x10000;
        dst.x = wantedDst.x + (wantedDst.width - src.width) / 2;
        dst.y = wantedDst.y + (wantedDst.height - src.height) / 2;
        dst.x &= ~1;
        dst.width = src.width;
        dst.height = src.height;
    }
    a->stretch = fx.scaleX != 0x10000 || fx.scaleY != 0x10000;
    a->shrink = fx.scaleX < 0x10000 || fx.scaleY < 0x10000;
    if (Smooth(a) && a->stretch) {
        if (src.width > 2) {
            src.x += 1;
            src.width -= 2;
        }
        if (src.height > 2) {
            src.y += 1;
            src.height -= 2;
        }
    }
    Clip(&dst, &src, ScreenWidth(a), ScreenHeight(a), fx.direction);
    a->dstRect = dst;
    a->srcRect = src;
    bool covers = dst.x == 0 && dst.y == 0 && dst.width == ScreenWidth(a) && dst.height == ScreenHeight(a);
    if (covers != a->coversScreen) {
        a->coversScreen = covers;
        a->base.overlay = covers ? 0 : 1;
        a->wanted = FRAME_BUFFERS;
    }
}

AhiRect Ltrb(const VRect& r) { return AhiRect{r.x, r.y, r.x + r.width, r.y + r.height}; }

// A rectangle of a plane at the chroma shifts.
AhiRect Shifted(const VRect& r, int sx, int sy) {
    return AhiRect{r.x >> sx, r.y >> sy, (r.x + r.width + (1 << sx) - 1) >> sx, (r.y + r.height + (1 << sy) - 1) >> sy};
}

void FreeIntermediates(Ahi* a) {
    for (int i = FRAME_BUFFERS; i < TABLE_SIZE; ++i) FreeEntry(a, i);
    a->intermediates = 0;
    a->scaling = false;
}

// Intermediate surfaces at the destination size.
void MakeIntermediates(Ahi* a) {
    int want = a->opt115 ? 2 : 1;
    int w = a->dstRect.width, h = a->dstRect.height;
    for (int i = FRAME_BUFFERS; i < TABLE_SIZE; ++i) {
        SurfEntry& e = a->table[i];
        if (!e.surface) continue;
        AhiSurfInfoRec info{};
        a->drv.AhiSurfInfo(a->context, e.surface, &info);
        if (info.width != w || info.height != h || i - FRAME_BUFFERS >= want) FreeEntry(a, i);
    }
    int kind = a->secondMode ? AHI_MEM_INTERNAL : a->table[0].kind == AHI_MEM_INTERNAL ? -2 : -1;
    int n = 0;
    for (int i = FRAME_BUFFERS; i < FRAME_BUFFERS + want; ++i) {
        if (!a->table[i].surface && (w <= 0 || h <= 0 || AllocEntry(a, i, kind, w, h) != 0)) break;
        ++n;
    }
    a->intermediates = n;
    if (n < 2) a->nextIntermediate = 0;
    a->scaling = n > 0;
}

uint32_t KeyMask(const VideoFormat& screen) {
    return screen.pixel.mask[0] | screen.pixel.mask[1] | screen.pixel.mask[2];
}

// The position record for a surface shown at the destination, from (srcX, srcY).
void FillPosition(Ahi* a, int srcX, int srcY) {
    AhiOverlayPos& p = a->pos;
    const VRect& d = a->dstRect;
    p.dstLeft = d.x;
    p.dstTop = d.y;
    p.dstRight = d.x + d.width;
    p.dstBottom = d.y + d.height;
    p.srcLeft = srcX;
    p.srcTop = srcY;
    p.srcRight = srcX + d.width;
    p.srcBottom = srcY + d.height;
    uint32_t key = a->base.colorKey;
    if (key == COLORKEY_NONE) {
        p.keyValue = p.keyMask = 0;
    } else if (key == 0) {
        p.keyValue = 0;
        p.keyMask = 15;
    } else {
        p.keyValue = RGBToFormat(key, &a->base.screen);
        p.keyMask = KeyMask(a->base.screen);
    }
    p.reserved1 = p.reserved2 = 0;
    int m = Remaining(a);
    p.mirror = ((m & DIR_MIRRORX) ? 2 : 0) | ((m & DIR_MIRRORY) ? 1 : 0);
}

bool ValidBuffer(const Ahi* a, int i) { return i >= 0 && i < a->allocated && i < FRAME_BUFFERS && a->table[i].surface; }

int ShowOnce(Ahi* a, int asked) {
    int wanted = a->wanted;
    AdjustCount(a, wanted, a->inUse);
    int reached = a->allocated;
    if (a->stretch) MakeIntermediates(a);
    else FreeIntermediates(a);
    uint32_t key = 0x200020;
    if (a->reuse || a->surfKind != AHI_FMT_YUV420) key = COLORKEY_NONE;
    else if (a->base.fullScreen) key = 0;
    a->base.colorKey = key;
    OverlayUpdateShow(a, 1);
    if (key != COLORKEY_NONE) WinInvalidate(&a->base.viewport, 1);
    int r = 0;
    if (a->dstRect.width > 0 && a->dstRect.height > 0 && ValidBuffer(a, a->onScreen)) {
        if (a->scaling) {
            r = CopyToIntermediate(a, a->onScreen, false);
        } else {
            // Without an intermediate surface the overlay shows the buffer 1:1.
            if (a->stretch) {
                a->dstRect.width = std::min(a->dstRect.width, a->srcRect.width);
                a->dstRect.height = std::min(a->dstRect.height, a->srcRect.height);
            }
            FillPosition(a, a->srcRect.x, a->srcRect.y);
            ShowSurface(a, a->table[a->onScreen].surface);
        }
    }
    a->drv.AhiDispOverlayState(a->context, a->base.visible ? 1 : 0, 0);
    if (RegisterSwitch(a, a->base.visible && a->base.fullScreen && a->yuvPath) != 0) r = ERR_DEVICE_ERROR;
    if (reached != wanted && reached < 2 && !a->growing && !a->shown512) {
        a->shown512 = true;
        ShowError(AHI_CLASS, AHI_CLASS, 512);
    }
    if (r != 0) return r;
    return reached >= asked ? 0 : ERR_OUT_OF_MEMORY;
}

// Turns the held frames when the picture's axes change: each buffer's memory is viewed
// with its sides exchanged and its frame is turned into the spare buffer, which then takes
// its place.
void Rotate(Ahi* a) {
    Hide(a);
    FreeIntermediates(a);
    int spare = a->heldBack >= 0 ? a->heldBack : 0;
    bool haveSpare = ValidBuffer(a, spare);
    VideoFormat oldFormat{};
    void* saved[3] = {};
    if (haveSpare) {
        oldFormat = BufferFormat(a, a->table[spare]);
        void* planes[3];
        if (LockPlanes(a, a->table[spare].surface, planes) == 0) {
            VideoFormat plain = oldFormat;
            plain.pitch = 0;
            if (SurfaceAlloc(saved, &plain) == 0) SurfaceCopy(&oldFormat, &plain, planes, saved, nullptr);
            UnlockPlanes(a, a->table[spare].surface, a->yuvPath ? 3 : 1);
            oldFormat = plain;
        }
    }
    a->surf.direction = CombineDir(0, a->surf.direction, DIR_SWAPXY);
    std::swap(a->surf.width, a->surf.height);
    a->surf.pitch = DefaultPitch(&a->surf);
    for (int i = 0; i < a->allocated; ++i) {
        SurfEntry& e = a->table[i];
        std::swap(e.surface, e.partner);
        std::swap(e.pitch, e.partnerPitch);
    }
    ChooseRoutines(a);
    int count = a->yuvPath ? 3 : 1;
    for (int i = 0; haveSpare && i < a->allocated; ++i) {
        if (i == spare) continue;
        bool ok = true;
        for (int p = 0; p < count && ok; ++p) {
            int sx = p ? a->xShift : 0, sy = p ? a->yShift : 0;
            AhiRect r{0, 0, (a->surf.width + (1 << sx) - 1) >> sx, (a->surf.height + (1 << sy) - 1) >> sy};
            AhiPoint at{0, 0};
            a->drv.AhiDrawSurfSrcSet(a->context, a->table[i].partner, a->planes[p]);
            a->drv.AhiDrawSurfDstSet(a->context, a->table[spare].surface, a->planes[p]);
            ok = a->drv.AhiDrawRotateBlt(a->context, &r, &at, 1, 1, 0) == 0;
        }
        if (ok) ExchangeSurfaces(&a->table[i], &a->table[spare]);
    }
    if (saved[0]) {
        void* planes[3];
        if (LockPlanes(a, a->table[spare].surface, planes) == 0) {
            VideoFormat now = BufferFormat(a, a->table[spare]);
            SurfaceRotate(&oldFormat, &now, saved, planes, DIR_SWAPXY);
            UnlockPlanes(a, a->table[spare].surface, count);
        }
        SurfaceFree(saved);
    }
    if (a->heldBack >= 0) a->showNext = a->heldBack;
}

// Display memory reused while the output is fully visible again goes back. The reused
// buffer leaves from the end of the table; a picture that must stay moves first, by its
// index, into video memory: a spare buffer's, or one made now. A frame the decoder holds
// that has nowhere to go keeps the display memory until it has.
void ReleaseReused(Ahi* a) {
    for (int i = FRAME_BUFFERS; i < TABLE_SIZE; ++i)
        if (a->table[i].surface && a->table[i].kind == AHI_KIND_REUSED) FreeEntry(a, i);
    int r = -1;
    for (int i = 0; i < a->allocated && r < 0; ++i)
        if (a->table[i].kind == AHI_KIND_REUSED) r = i;
    if (r < 0) return;
    // The pictures that matter: the decoder's frames, else the one shown.
    auto kept = [a](int i) { return a->idctMode ? i < a->inUse : i == a->onScreen; };
    if (kept(r)) {
        int home = -1;
        for (int i = a->allocated - 1; i >= 0 && home < 0; --i)
            if (i != r && !kept(i)) home = i;
        if (home < 0 && a->allocated < FRAME_BUFFERS &&
            AllocEntry(a, a->allocated, a->idctMode ? -3 : -1, a->surf.width, a->surf.height) == 0)
            home = a->allocated++;
        if (home >= 0) {
            CopyPlanes(a, a->table[r].surface, a->table[home].surface, a->surf.width, a->surf.height);
            ExchangeSurfaces(&a->table[r], &a->table[home]);
            r = home;
        } else if (a->idctMode) {
            return;
        }
    }
    // Past every kept buffer now: to the end, and freed.
    int last = a->allocated - 1;
    if (r != last) ExchangeSurfaces(&a->table[r], &a->table[last]);
    FreeEntry(a, last);
    --a->allocated;
}

}  // namespace

VideoFormat BufferFormat(const Ahi* a, const SurfEntry& e) {
    VideoFormat f = a->surf;
    f.pitch = e.pitch;
    return f;
}

int MakeBlitter(Ahi* a) {
    if (a->base.blitter) BlitRelease(a->base.blitter);
    a->base.blitter = nullptr;
    const VideoFormat& video = a->base.format.format;
    if (a->idctMode || !a->table[0].surface) return 0;
    VideoFormat dst = BufferFormat(a, a->table[0]);
    VRect from{0, 0, video.width, video.height};
    VRect to;
    if (a->yuvPath) {
        a->blitFx.direction = CombineDir(video.direction, a->surf.direction, 0);
        int pw, ph;
        PictureSize(a, &pw, &ph);
        to = VRect{0, 0, pw, ph};
    } else {
        dst.width = a->rgbWidth;
        dst.height = a->rgbHeight;
        to = VRect{0, 0, a->srcRect.width, a->srcRect.height};
    }
    a->base.blitter = BlitCreate(&dst, &video, &a->blitFx);
    if (!a->base.blitter) return ERR_NOT_SUPPORTED;
    BlitAlign(a->base.blitter, &to, &from);
    return 0;
}

int ShowSurface(Ahi* a, AhiHandle surface) {
    a->shownSurface = surface;
    return a->drv.AhiDispOverlaySurf(a->context, surface, &a->pos, 0);
}

int CopyToIntermediate(Ahi* a, int buffer, bool late) {
    if (!a->scaling || !ValidBuffer(a, buffer)) return ERR_INVALID_PARAM;
    int which = a->intermediates == 2 ? a->nextIntermediate : 0;
    if (late && a->intermediates == 2) which = a->nextIntermediate;
    SurfEntry& to = a->table[FRAME_BUFFERS + which];
    if (!to.surface) return ERR_INVALID_PARAM;
    VRect whole{0, 0, a->dstRect.width, a->dstRect.height};
    int mode = Smooth(a) ? 5 : 1;
    // U and V first, then Y.
    static const int kOrder[3] = {1, 2, 0};
    int count = a->yuvPath ? 3 : 1;
    for (int n = 0; n < 3; ++n) {
        int p = count == 3 ? kOrder[n] : 0;
        if (count == 1 && n > 0) break;
        int sx = p ? a->xShift : 0, sy = p ? a->yShift : 0;
        AhiRect d = Shifted(whole, sx, sy), s = Shifted(a->srcRect, sx, sy);
        a->drv.AhiDrawSurfSrcSet(a->context, a->table[buffer].surface, a->planes[p]);
        a->drv.AhiDrawSurfDstSet(a->context, to.surface, a->planes[p]);
        if (a->shrink) a->drv.AhiDrawIdle(a->context, 0);
        int r;
        if (a->stretch) {
            r = a->drv.AhiDrawStretchBlt(a->context, &d, &s, mode);
        } else {
            AhiPoint at{s.left, s.top};
            r = a->drv.AhiDrawBitBlt(a->context, &d, &at);
        }
        if (r != 0) return ERR_DEVICE_ERROR;
    }
    FillPosition(a, 0, 0);
    ShowSurface(a, to.surface);
    if (a->intermediates == 2) a->nextIntermediate ^= 1;
    return 0;
}

int Showing(Ahi* a, int asked) {
    if (!a->face.idct && a->rotated && a->stretch) {
        a->secondMode = true;
        int r = ShowOnce(a, asked);
        a->secondMode = false;
        if (!(a->stretch && !a->scaling)) return r;
    }
    return ShowOnce(a, asked);
}

int UpdateYuv(void* self) {
    auto* a = static_cast<Ahi*>(self);
    if (!a->context) return 0;
    if ((Wanted(a) ^ a->surf.direction) & DIR_SWAPXY) Rotate(a);
    if (a->reuse && a->base.fullyVisible) ReleaseReused(a);
    a->blitFx = a->base.fx;
    a->blitFx.scaleX = a->blitFx.scaleY = 0x10000;
    if (a->idctMode) BrightnessChange(a);
    YuvRects(a);
    int r = Showing(a, a->idctMode ? std::max(a->inUse, 1) : 1);
    MakeBlitter(a);
    return r;
}

int ShowOverlay(void* self, int show) {
    auto* a = static_cast<Ahi*>(self);
    if (show) return UpdateYuv(self);
    Hide(a);
    return 0;
}

int BlitYuv(void* self, Planes src, const int* srcPitches) {
    auto* a = static_cast<Ahi*>(self);
    if (!a->context || !ValidBuffer(a, a->showNext)) return ERR_INVALID_PARAM;
    SurfEntry& e = a->table[a->showNext];
    a->drv.AhiDrawIdle(a->context, 0);
    void* planes[3];
    if (LockPlanes(a, e.surface, planes) != 0) return ERR_DEVICE_ERROR;
    BlitImage(a->base.blitter, planes, src, srcPitches, e.pitch, e.pitch >> a->xShift);
    UnlockPlanes(a, e.surface, 3);
    if (a->scaling) return CopyToIntermediate(a, a->showNext, false);
    return 0;
}

// --- RGB path ---

int UpdateRgb(void* self) {
    auto* a = static_cast<Ahi*>(self);
    if (!a->context) return 0;
    const VideoFormat& video = a->base.format.format;
    for (int attempt = a->rgbHalf; attempt < 2; ++attempt) {
        a->blitFx = a->base.fx;
        a->blitFx.direction = a->base.fx.direction;
        int blitScale = attempt ? 0x8000 : 0x10000;
        a->blitFx.scaleX = a->blitFx.scaleY = blitScale;
        VRect dst, src;
        VirtToPhy(&a->base.viewport, &dst, &a->base.screen);
        bool swap = a->blitFx.direction & DIR_SWAPXY;
        int sw = swap ? video.height : video.width, sh = swap ? video.width : video.height;
        src = VRect{0, 0, attempt ? std::max(1, sw / 2) : sw, attempt ? std::max(1, sh / 2) : sh};
        VideoEffects fx = a->blitFx;
        fx.direction = 0;
        VRect wantedDst = dst;
        AnyAlign(&dst, &src, &fx, 2, 1, 0x8000, 0x100000);
        bool one = fx.scaleX >= 61441 && fx.scaleX <= 69631 && fx.scaleY >= 61441 && fx.scaleY <= 69631;
        a->stretch = !one && dst.width != src.width && dst.height != src.height;
        a->shrink = a->stretch && (fx.scaleX < 0x10000 || fx.scaleY < 0x10000);
        if (!a->stretch) {
            // Centred, 1:1.
            dst.x = (wantedDst.x + (wantedDst.width - src.width) / 2) & ~1;
            dst.y = wantedDst.y + (wantedDst.height - src.height) / 2;
            dst.width = src.width;
            dst.height = src.height;
        }
        int w = (src.width + 7) & ~7, h = (src.height + 7) & ~7;
        SurfEntry& e = a->table[0];
        if (e.surface && (a->rgbWidth != w || a->rgbHeight != h)) {
            FreeEntry(a, 0);
            a->allocated = 0;
        }
        if (!e.surface) {
            if (AllocEntry(a, 0, -1, w, h) != 0) continue;
            a->allocated = 1;
        }
        a->rgbWidth = w;
        a->rgbHeight = h;
        a->rgbHalf = attempt;
        a->showNext = a->onScreen = 0;
        // The whole picture goes into the surface; the screen takes the part it can show.
        a->srcRect = src;
        int r = MakeBlitter(a);
        Clip(&dst, &src, ScreenWidth(a), ScreenHeight(a), 0);
        a->dstRect = dst;
        a->srcRect = src;
        return r;
    }
    return ERR_OUT_OF_MEMORY;
}

int BlitRgb(void* self, Planes src, const int* srcPitches) {
    auto* a = static_cast<Ahi*>(self);
    if (!a->context || !a->table[0].surface) return ERR_INVALID_PARAM;
    SurfEntry& e = a->table[0];
    void* plane[3] = {};
    if (a->drv.AhiSurfLock(a->context, e.surface, &plane[0], 0) != 0 || !plane[0]) return ERR_DEVICE_ERROR;
    BlitImage(a->base.blitter, plane, src, srcPitches, e.pitch, -1);
    a->drv.AhiSurfUnlock(a->context, e.surface, 0);
    if (!a->base.visible || a->dstRect.width <= 0 || a->dstRect.height <= 0) return 0;
    a->drv.AhiDrawSurfSrcSet(a->context, e.surface, 0);
    a->drv.AhiDrawSurfDstSet(a->context, a->display, 0);
    AhiRect d = Ltrb(a->dstRect);
    int r;
    if (a->stretch) {
        AhiRect s = Ltrb(a->srcRect);
        r = a->drv.AhiDrawStretchBlt(a->context, &d, &s, Smooth(a) ? 5 : 1);
    } else {
        AhiPoint at{a->srcRect.x, a->srcRect.y};
        r = a->drv.AhiDrawBitBlt(a->context, &d, &at);
    }
    return r == 0 ? 0 : ERR_DEVICE_ERROR;
}

}  // namespace pixelway
