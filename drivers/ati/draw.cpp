// The blitter: copies, stretches and turns one plane at a time, from the source set with
// AhiDrawSurfSrcSet to the destination set with AhiDrawSurfDstSet. Blits finish before
// the call returns; AhiDrawIdle only counts.
#include <algorithm>
#include <cstring>
#include <vector>

#include "chip.h"

using namespace ati;

namespace {

struct Planes {
    PlaneView src, dst;
};

// The two planes of the blit, or an error.
int Prepare(Chip& c, Context* ctx, Planes* p) {
    if (!ctx) return AHI_ERR_PARAM;
    if (ctx->rop != AHI_ROP_SRCCOPY) return AHI_ERR_STATE;
    Surface* s = FindSurface(c, ctx->src);
    Surface* d = FindSurface(c, ctx->dst);
    if (!s || !d) return AHI_ERR_STATE;
    if (!PlaneOf(c, *s, ctx->srcPlane, &p->src) || !PlaneOf(c, *d, ctx->dstPlane, &p->dst)) return AHI_ERR_PARAM;
    if (p->src.bytesPerPixel != p->dst.bytesPerPixel) return AHI_ERR_PARAM;
    return AHI_OK;
}

bool Inside(const PlaneView& v, int l, int t, int r, int b) {
    return l >= 0 && t >= 0 && r <= v.width && b <= v.height && l < r && t < b;
}

uint8_t* Px(const PlaneView& v, int x, int y) {
    return v.base + static_cast<size_t>(y) * v.pitch + static_cast<size_t>(x) * v.bytesPerPixel;
}

// A copy of the source rectangle, so that overlapping blits read what was there before.
std::vector<uint8_t> Snapshot(const PlaneView& v, int l, int t, int w, int h) {
    size_t row = static_cast<size_t>(w) * v.bytesPerPixel;
    std::vector<uint8_t> out(row * h);
    for (int y = 0; y < h; ++y) std::memcpy(out.data() + row * y, Px(v, l, t + y), row);
    return out;
}

// Bilinear sample of one channel at 16.16 position (fx, fy) of a w x h picture.
int Bilinear(const std::vector<uint8_t>& pic, int w, int h, int bpp, int channel, int64_t fx, int64_t fy) {
    auto value = [&](int x, int y) -> int {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
        const uint8_t* p = pic.data() + (static_cast<size_t>(y) * w + x) * bpp;
        if (bpp == 1) return p[0];
        uint16_t v;
        std::memcpy(&v, p, 2);
        switch (channel) {
            case 0: return (v >> 11) & 31;
            case 1: return (v >> 5) & 63;
            default: return v & 31;
        }
    };
    int x0 = static_cast<int>(fx >> 16), y0 = static_cast<int>(fy >> 16);
    int ax = static_cast<int>(fx & 0xFFFF), ay = static_cast<int>(fy & 0xFFFF);
    int64_t top = static_cast<int64_t>(value(x0, y0)) * (65536 - ax) + static_cast<int64_t>(value(x0 + 1, y0)) * ax;
    int64_t bottom =
        static_cast<int64_t>(value(x0, y0 + 1)) * (65536 - ax) + static_cast<int64_t>(value(x0 + 1, y0 + 1)) * ax;
    int64_t v = top * (65536 - ay) + bottom * ay;
    return static_cast<int>((v + (int64_t{1} << 31)) >> 32);
}

}  // namespace

int AhiDrawRopSet(AhiContext* context, int rop) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Context* ctx = FindContext(c, context);
    if (!ctx) return Logged(c, AHI_ERR_PARAM, "AhiDrawRopSet(%#x)", rop);
    ctx->rop = rop;
    return Logged(c, AHI_OK, "AhiDrawRopSet(%#x)", rop);
}

int AhiDrawSurfSrcSet(AhiContext* context, AhiSurf surface, int plane) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Context* ctx = FindContext(c, context);
    if (!ctx || !FindSurface(c, surface))
        return Logged(c, AHI_ERR_PARAM, "AhiDrawSurfSrcSet(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
    ctx->src = surface;
    ctx->srcPlane = plane;
    return Logged(c, AHI_OK, "AhiDrawSurfSrcSet(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
}

int AhiDrawSurfDstSet(AhiContext* context, AhiSurf surface, int plane) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Context* ctx = FindContext(c, context);
    if (!ctx || !FindSurface(c, surface))
        return Logged(c, AHI_ERR_PARAM, "AhiDrawSurfDstSet(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
    ctx->dst = surface;
    ctx->dstPlane = plane;
    return Logged(c, AHI_OK, "AhiDrawSurfDstSet(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
}

int AhiDrawIdle(AhiContext* context, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!FindContext(c, context)) return Logged(c, AHI_ERR_PARAM, "AhiDrawIdle(%d)", flags);
    ++c.idles;
    return Logged(c, AHI_OK, "AhiDrawIdle(%d)", flags);
}

int AhiDrawBitBlt(AhiContext* context, const AhiRect* dst, const AhiPoint* src) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    const char* fmt = "AhiDrawBitBlt(%d,%d-%d,%d from %d,%d)";
    if (!dst || !src) return Logged(c, AHI_ERR_PARAM, "AhiDrawBitBlt(null)");
    Planes p;
    int r = Prepare(c, FindContext(c, context), &p);
    int w = dst->right - dst->left, h = dst->bottom - dst->top;
    if (r == AHI_OK && (!Inside(p.dst, dst->left, dst->top, dst->right, dst->bottom) ||
                        !Inside(p.src, src->x, src->y, src->x + w, src->y + h)))
        r = AHI_ERR_PARAM;
    if (r == AHI_OK) {
        std::vector<uint8_t> pic = Snapshot(p.src, src->x, src->y, w, h);
        size_t row = static_cast<size_t>(w) * p.src.bytesPerPixel;
        for (int y = 0; y < h; ++y) std::memcpy(Px(p.dst, dst->left, dst->top + y), pic.data() + row * y, row);
    }
    return Logged(c, r, fmt, dst->left, dst->top, dst->right, dst->bottom, src->x, src->y);
}

int AhiDrawStretchBlt(AhiContext* context, const AhiRect* dst, const AhiRect* src, int mode) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    const char* fmt = "AhiDrawStretchBlt(%d,%d-%d,%d from %d,%d-%d,%d, %d)";
    if (!dst || !src) return Logged(c, AHI_ERR_PARAM, "AhiDrawStretchBlt(null)");
    Planes p;
    int r = Prepare(c, FindContext(c, context), &p);
    if (r == AHI_OK && mode != AHI_STRETCH_NEAREST && mode != AHI_STRETCH_SMOOTH) r = AHI_ERR_PARAM;
    if (r == AHI_OK && (!Inside(p.dst, dst->left, dst->top, dst->right, dst->bottom) ||
                        !Inside(p.src, src->left, src->top, src->right, src->bottom)))
        r = AHI_ERR_PARAM;
    if (r == AHI_OK) {
        int dw = dst->right - dst->left, dh = dst->bottom - dst->top;
        int sw = src->right - src->left, sh = src->bottom - src->top;
        int bpp = p.src.bytesPerPixel;
        std::vector<uint8_t> pic = Snapshot(p.src, src->left, src->top, sw, sh);
        for (int y = 0; y < dh; ++y) {
            for (int x = 0; x < dw; ++x) {
                uint8_t* out = Px(p.dst, dst->left + x, dst->top + y);
                if (mode == AHI_STRETCH_NEAREST) {
                    // The source pixel under the destination pixel's centre.
                    int sx = static_cast<int>((2 * static_cast<int64_t>(x) + 1) * sw / (2 * dw));
                    int sy = static_cast<int>((2 * static_cast<int64_t>(y) + 1) * sh / (2 * dh));
                    std::memcpy(out, pic.data() + (static_cast<size_t>(sy) * sw + sx) * bpp, static_cast<size_t>(bpp));
                    continue;
                }
                // Pixel centres: (x + 0.5) * sw / dw - 0.5, in 16.16.
                int64_t fx = ((2 * static_cast<int64_t>(x) + 1) * sw * 65536 / dw - 65536) / 2;
                int64_t fy = ((2 * static_cast<int64_t>(y) + 1) * sh * 65536 / dh - 65536) / 2;
                fx = std::max<int64_t>(fx, 0);
                fy = std::max<int64_t>(fy, 0);
                if (bpp == 1) {
                    *out = static_cast<uint8_t>(Bilinear(pic, sw, sh, 1, 0, fx, fy));
                } else {
                    uint16_t v = static_cast<uint16_t>((Bilinear(pic, sw, sh, 2, 0, fx, fy) << 11) |
                                                       (Bilinear(pic, sw, sh, 2, 1, fx, fy) << 5) |
                                                       Bilinear(pic, sw, sh, 2, 2, fx, fy));
                    std::memcpy(out, &v, 2);
                }
            }
        }
    }
    return Logged(c, r, fmt, dst->left, dst->top, dst->right, dst->bottom, src->left, src->top, src->right,
                  src->bottom, mode);
}

int AhiDrawRotateBlt(AhiContext* context, const AhiRect* dst, const AhiPoint* src, int rotation, int mirror,
                     int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    const char* fmt = "AhiDrawRotateBlt(%d,%d-%d,%d from %d,%d, %d, %d, %d)";
    if (!dst || !src) return Logged(c, AHI_ERR_PARAM, "AhiDrawRotateBlt(null)");
    Planes p;
    int r = Prepare(c, FindContext(c, context), &p);
    rotation &= 3;
    int dw = dst->right - dst->left, dh = dst->bottom - dst->top;
    // The source has the destination's sides, exchanged by an odd number of quarter turns.
    int sw = (rotation & 1) ? dh : dw, sh = (rotation & 1) ? dw : dh;
    if (r == AHI_OK && (!Inside(p.dst, dst->left, dst->top, dst->right, dst->bottom) ||
                        !Inside(p.src, src->x, src->y, src->x + sw, src->y + sh)))
        r = AHI_ERR_PARAM;
    if (r == AHI_OK) {
        int bpp = p.src.bytesPerPixel;
        std::vector<uint8_t> pic = Snapshot(p.src, src->x, src->y, sw, sh);
        for (int y = 0; y < dh; ++y) {
            for (int x = 0; x < dw; ++x) {
                // Undo the mirror, then the turns one at a time: a clockwise quarter turn
                // of a w x h picture sends (i, j) to (h - 1 - j, i).
                int u = mirror ? dw - 1 - x : x, v = y;
                int w = dw, h = dh;
                for (int k = 0; k < rotation; ++k) {
                    int i = v, j = w - 1 - u;  // the point before this turn, in an h x w picture
                    u = i;
                    v = j;
                    std::swap(w, h);
                }
                std::memcpy(Px(p.dst, dst->left + x, dst->top + y), pic.data() + (static_cast<size_t>(v) * sw + u) * bpp,
                            static_cast<size_t>(bpp));
            }
        }
    }
    return Logged(c, r, fmt, dst->left, dst->top, dst->right, dst->bottom, src->x, src->y, rotation, mirror, flags);
}
