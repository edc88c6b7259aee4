// CPU surfaces, pixel formats and the CPU blitter.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/overlay.h"
#include "core/testing.h"

namespace {

// Surfaces of SurfaceAlloc not yet freed, for the tests of what the plug-ins keep.
std::atomic<int> g_surfacesHeld{0};

int MaskBits(uint32_t m) { return __builtin_popcount(m); }
int MaskLow(uint32_t m) { return m ? __builtin_ctz(m) : 0; }

uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

bool IsRgb16(const VideoFormat* f) { return (f->pixel.flags & PF_RGB) && f->pixel.bitCount == 16; }

int PitchOf(const VideoFormat* f) { return f->pitch > 0 ? f->pitch : DefaultPitch(f); }

// IMC4 keeps U and V side by side below the luma, their rows at the luma pitch.
bool IsImc4(const PixelFormat* p) { return (p->flags & PF_FOURCC) && p->fourcc == FOURCC('I', 'M', 'C', '4'); }

int ChromaPitch(const PixelFormat* p, int lumaPitch, int xShift) { return IsImc4(p) ? lumaPitch : lumaPitch >> xShift; }

// Pitches of the planes of a format.
void FormatPitches(const VideoFormat* f, int out[3]) {
    int xs = 0, ys = 0;
    out[0] = PitchOf(f);
    if (PlanarYUV(&f->pixel, &xs, &ys))
        out[1] = out[2] = ChromaPitch(&f->pixel, out[0], xs);
    else
        out[1] = out[2] = 0;
}

// BT.601, studio range: Y 16-235, U/V 16-240 around 128.
uint16_t YuvTo565(int y, int u, int v) {
    int c = 298 * (y - 16), d = u - 128, e = v - 128;
    int r = Clamp8((c + 409 * e + 128) >> 8);
    int g = Clamp8((c - 100 * d - 208 * e + 128) >> 8);
    int b = Clamp8((c + 516 * d + 128) >> 8);
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

uint16_t Brighten565(uint16_t p, int d) {
    int r = ((p >> 11) & 31) << 3, g = ((p >> 5) & 63) << 2, b = (p & 31) << 3;
    r = Clamp8(r + d);
    g = Clamp8(g + d);
    b = Clamp8(b + d);
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// Where the point (x, y) of a w x h picture goes when turned by dir (the turned picture
// is h x w when dir swaps the axes).
void Turn(int dir, int w, int h, int x, int y, int* ox, int* oy) {
    int tw = w, th = h;
    if (dir & DIR_SWAPXY) {
        std::swap(x, y);
        std::swap(tw, th);
    }
    if (dir & DIR_MIRRORX) x = tw - 1 - x;
    if (dir & DIR_MIRRORY) y = th - 1 - y;
    *ox = x;
    *oy = y;
}

}  // namespace

int PlanarYUV(const PixelFormat* p, int* xShift, int* yShift) {
    if (!p || !(p->flags & PF_FOURCC)) return 0;
    int xs, ys;
    switch (p->fourcc) {
        case FOURCC('I', '4', '2', '0'):
        case FOURCC('I', 'Y', 'U', 'V'):
        case FOURCC('Y', 'V', '1', '2'):
        case FOURCC('I', 'M', 'C', '4'):
            xs = 1, ys = 1;
            break;
        case FOURCC('Y', 'V', '1', '6'):
        case FOURCC('I', '4', '2', '2'):
            xs = 1, ys = 0;
            break;
        case FOURCC('I', '4', '4', '4'):
            xs = 0, ys = 0;
            break;
        default:
            if (!(p->flags & PF_PLANAR)) return 0;
            xs = 1, ys = 1;  // an unnamed planar FourCC: 4:2:0
    }
    if (xShift) *xShift = xs;
    if (yShift) *yShift = ys;
    return 1;
}

bool PlanarYUV420(const PixelFormat* p) {
    int xs = 0, ys = 0;
    return PlanarYUV(p, &xs, &ys) && xs == 1 && ys == 1;
}

bool PlanarYUV422(const PixelFormat* p) {
    int xs = 0, ys = 0;
    return PlanarYUV(p, &xs, &ys) && xs == 1 && ys == 0;
}

int DefaultPitch(const VideoFormat* f) {
    if (!f || f->width <= 0) return 0;
    if (PlanarYUV(&f->pixel)) return (f->width + 15) & ~15;
    int bits = f->pixel.bitCount > 0 ? f->pixel.bitCount : 8;
    return ((f->width * bits + 7) / 8 + 3) & ~3;
}

int SurfaceAlloc(Planes planes, const VideoFormat* f) {
    planes[0] = planes[1] = planes[2] = nullptr;
    if (!f || f->width <= 0 || f->height <= 0) return ERR_INVALID_PARAM;
    int pitch[3];
    FormatPitches(f, pitch);
    int xs = 0, ys = 0;
    bool planar = PlanarYUV(&f->pixel, &xs, &ys);
    size_t luma = static_cast<size_t>(pitch[0]) * f->height;
    size_t chroma = planar ? static_cast<size_t>(pitch[1]) * ((f->height + (1 << ys) - 1) >> ys) : 0;
    bool sideBySide = planar && IsImc4(&f->pixel);
    auto* mem = static_cast<uint8_t*>(calloc(1, luma + (sideBySide ? chroma : 2 * chroma)));
    if (!mem) return ERR_OUT_OF_MEMORY;
    ++g_surfacesHeld;
    planes[0] = mem;
    if (sideBySide) {
        planes[1] = mem + luma;
        planes[2] = mem + luma + pitch[0] / 2;
    } else if (planar) {
        planes[1] = mem + luma;
        planes[2] = mem + luma + chroma;
    }
    return 0;
}

void SurfaceFree(Planes planes) {
    if (planes[0]) --g_surfacesHeld;
    free(planes[0]);
    planes[0] = planes[1] = planes[2] = nullptr;
}

void FillColor(const VideoFormat* f, Planes planes, const int* pitches, const VRect* rect, int bits,
               uint32_t value) {
    int pitch[3];
    if (pitches)
        std::copy(pitches, pitches + 3, pitch);
    else
        FormatPitches(f, pitch);
    VRect r = rect ? *rect : VRect{0, 0, f->width, f->height};
    int xs = 0, ys = 0;
    if (PlanarYUV(&f->pixel, &xs, &ys)) {
        (void)bits;  // 8 bits per plane element
        uint8_t v[3] = {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value)};
        for (int p = 0; p < 3; ++p) {
            if (!planes[p]) continue;
            int sx = p ? xs : 0, sy = p ? ys : 0;
            for (int y = r.y >> sy; y < (r.y + r.height) >> sy; ++y)
                memset(static_cast<uint8_t*>(planes[p]) + static_cast<ptrdiff_t>(y) * pitch[p] + (r.x >> sx), v[p],
                       static_cast<size_t>(r.width >> sx));
        }
        return;
    }
    int bytes = (bits > 0 ? bits : f->pixel.bitCount) / 8;
    if (bytes <= 0 || !planes[0]) return;
    for (int y = r.y; y < r.y + r.height; ++y) {
        uint8_t* row = static_cast<uint8_t*>(planes[0]) + static_cast<ptrdiff_t>(y) * pitch[0];
        for (int x = r.x; x < r.x + r.width; ++x)
            for (int b = 0; b < bytes; ++b) row[x * bytes + b] = static_cast<uint8_t>(value >> (8 * b));
    }
}

void FillInfo(PixelFormat* p) {
    uint32_t all = p->mask[0] | p->mask[1] | p->mask[2] | p->mask[3];
    if (!all) return;
    p->flags |= PF_RGB;
    if (p->bitCount <= 0) {
        int top = 32 - __builtin_clz(all);
        p->bitCount = top <= 8 ? 8 : top <= 16 ? 16 : top <= 24 ? 24 : 32;
    }
}

void DefaultRGB(PixelFormat* p, int bitCount, int rBits, int gBits, int bBits, int rPos, int gPos, int bPos) {
    *p = PixelFormat{};
    p->flags = PF_RGB;
    p->bitCount = bitCount;
    if (!bPos) bPos = 0;
    if (!gPos) gPos = bPos + bBits;
    if (!rPos) rPos = gPos + gBits;
    auto mask = [](int bits, int pos) { return bits <= 0 ? 0u : ((1u << bits) - 1u) << pos; };
    p->mask[0] = mask(rBits, rPos);
    p->mask[1] = mask(gBits, gPos);
    p->mask[2] = mask(bBits, bPos);
}

uint32_t RGBToFormat(uint32_t rgb, const VideoFormat* f, int as24) {
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        uint32_t m = f->pixel.mask[c];
        int bits = MaskBits(m);
        uint32_t comp = (rgb >> (16 - 8 * c)) & 0xFF;
        if (!bits) continue;
        uint32_t q = bits >= 8 ? comp << (bits - 8) : comp >> (8 - bits);
        if (as24)
            out |= (bits >= 8 ? q >> (bits - 8) : q << (8 - bits)) << (16 - 8 * c);
        else
            out |= (q << MaskLow(m)) & m;
    }
    return out;
}

void SurfaceCopy(const VideoFormat* sf, const VideoFormat* df, Planes src, Planes dst, const VideoEffects* fx) {
    int d = fx ? fx->brightness : 0;
    int sp[3], dp[3];
    FormatPitches(sf, sp);
    FormatPitches(df, dp);
    int w = std::min(sf->width, df->width), h = std::min(sf->height, df->height);
    int sxs = 0, sys = 0, dxs = 0, dys = 0;
    bool sPlanar = PlanarYUV(&sf->pixel, &sxs, &sys), dPlanar = PlanarYUV(&df->pixel, &dxs, &dys);
    if (sPlanar && dPlanar) {
        for (int p = 0; p < 3; ++p) {
            int sx = p ? sxs : 0, sy = p ? sys : 0, dx = p ? dxs : 0, dy = p ? dys : 0;
            int pw = std::min(w >> sx, w >> dx), ph = std::min(h >> sy, h >> dy);
            for (int y = 0; y < ph; ++y) {
                auto* s = static_cast<const uint8_t*>(src[p]) + static_cast<ptrdiff_t>(y) * sp[p];
                auto* o = static_cast<uint8_t*>(dst[p]) + static_cast<ptrdiff_t>(y) * dp[p];
                if (p == 0 && d)
                    for (int x = 0; x < pw; ++x) o[x] = Clamp8(s[x] + d);
                else
                    memcpy(o, s, static_cast<size_t>(pw));
            }
        }
        return;
    }
    if (sPlanar && IsRgb16(df)) {
        Blitter* b = BlitCreate(df, sf, fx);
        if (!b) return;
        VRect r{0, 0, w, h};
        BlitAlign(b, &r, &r);
        BlitImage(b, dst, src, sp, -1, -1);
        BlitRelease(b);
        return;
    }
    if (sPlanar || dPlanar || sf->pixel.bitCount != df->pixel.bitCount) return;  // no such conversion
    int bytes = sf->pixel.bitCount / 8;
    for (int y = 0; y < h; ++y) {
        auto* s = static_cast<const uint8_t*>(src[0]) + static_cast<ptrdiff_t>(y) * sp[0];
        auto* o = static_cast<uint8_t*>(dst[0]) + static_cast<ptrdiff_t>(y) * dp[0];
        if (d && IsRgb16(sf)) {
            for (int x = 0; x < w; ++x) {
                uint16_t px;
                memcpy(&px, s + 2 * x, 2);
                px = Brighten565(px, d);
                memcpy(o + 2 * x, &px, 2);
            }
        } else {
            memcpy(o, s, static_cast<size_t>(w) * bytes);
        }
    }
}

void SurfaceRotate(const VideoFormat* sf, const VideoFormat* df, Planes src, Planes dst, int dir) {
    int sp[3], dp[3];
    FormatPitches(sf, sp);
    FormatPitches(df, dp);
    int xs = 0, ys = 0;
    bool planar = PlanarYUV(&sf->pixel, &xs, &ys);
    int nPlanes = planar ? 3 : 1;
    int bytes = planar ? 1 : std::max(1, sf->pixel.bitCount / 8);
    for (int p = 0; p < nPlanes; ++p) {
        int sx = p ? xs : 0, sy = p ? ys : 0;
        int w = sf->width >> sx, h = sf->height >> sy;
        // The dst plane: the dst's size at the same shifts.
        int dw = df->width >> sx, dh = df->height >> sy;
        if ((dir & DIR_SWAPXY) && planar && p) dw = df->width >> sy, dh = df->height >> sx;
        for (int y = 0; y < h; ++y) {
            auto* s = static_cast<const uint8_t*>(src[p]) + static_cast<ptrdiff_t>(y) * sp[p];
            for (int x = 0; x < w; ++x) {
                int ox, oy;
                Turn(dir, w, h, x, y, &ox, &oy);
                if (ox >= dw || oy >= dh) continue;
                memcpy(static_cast<uint8_t*>(dst[p]) + static_cast<ptrdiff_t>(oy) * dp[p] + ox * bytes, s + x * bytes,
                       static_cast<size_t>(bytes));
            }
        }
    }
}

// --- Blitter ---

struct Blitter {
    VideoFormat dst;
    VideoFormat src;
    VideoEffects fx;
    VRect dstRect;
    VRect srcRect;
};

Blitter* BlitCreate(const VideoFormat* dstFormat, const VideoFormat* srcFormat, const VideoEffects* fx) {
    if (!dstFormat || !srcFormat || !PlanarYUV(&srcFormat->pixel)) return nullptr;
    if (!PlanarYUV(&dstFormat->pixel) && !IsRgb16(dstFormat)) return nullptr;
    auto* b = new (std::nothrow) Blitter{};
    if (!b) return nullptr;
    b->dst = *dstFormat;
    b->src = *srcFormat;
    if (fx) b->fx = *fx;
    b->dstRect = {0, 0, dstFormat->width, dstFormat->height};
    b->srcRect = {0, 0, srcFormat->width, srcFormat->height};
    return b;
}

namespace {

// The part of r inside a w x h surface.
VRect Clip(const VRect& r, int w, int h) {
    int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    int x1 = std::min(r.x + r.width, w), y1 = std::min(r.y + r.height, h);
    return VRect{x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
}

}  // namespace

void BlitAlign(Blitter* b, const VRect* dst, const VRect* src) {
    if (!b) return;
    if (dst) b->dstRect = Clip(*dst, b->dst.width, b->dst.height);
    if (src) b->srcRect = Clip(*src, b->src.width, b->src.height);
}

void BlitImage(Blitter* b, Planes dst, Planes src, const int* srcPitches, int dstPitch, int dstChromaPitch) {
    if (!b || !dst[0] || !src[0] || !srcPitches) return;
    int sxs = 0, sys = 0, dxs = 0, dys = 0;
    PlanarYUV(&b->src.pixel, &sxs, &sys);
    bool yuvOut = PlanarYUV(&b->dst.pixel, &dxs, &dys);
    int dp[3];
    FormatPitches(&b->dst, dp);
    if (dstPitch >= 0) dp[0] = dstPitch;
    dp[1] = dp[2] = dstChromaPitch >= 0 ? dstChromaPitch : ChromaPitch(&b->dst.pixel, dp[0], dxs);
    const VRect& dr = b->dstRect;
    const VRect& sr = b->srcRect;
    int dir = b->fx.direction;
    // The source extent that maps onto the dst rect, in the dst's axes.
    int sw = (dir & DIR_SWAPXY) ? sr.height : sr.width, sh = (dir & DIR_SWAPXY) ? sr.width : sr.height;
    if (dr.width <= 0 || dr.height <= 0 || sw <= 0 || sh <= 0) return;
    int bright = b->fx.brightness;
    auto sample = [&](int plane, int tx, int ty) -> int {
        // tx, ty: position in the turned source (dst axes), undone to the source's own.
        int w = sw, h = sh, x = tx, y = ty;
        if (dir & DIR_MIRRORX) x = w - 1 - x;
        if (dir & DIR_MIRRORY) y = h - 1 - y;
        if (dir & DIR_SWAPXY) std::swap(x, y);
        x += sr.x;
        y += sr.y;
        int sx = plane ? sxs : 0, sy = plane ? sys : 0;
        return static_cast<const uint8_t*>(src[plane])[static_cast<ptrdiff_t>(y >> sy) * srcPitches[plane] + (x >> sx)];
    };
    for (int y = 0; y < dr.height; ++y) {
        int ty = static_cast<int>(static_cast<int64_t>(y) * sh / dr.height);
        for (int x = 0; x < dr.width; ++x) {
            int tx = static_cast<int>(static_cast<int64_t>(x) * sw / dr.width);
            int Y = Clamp8(sample(0, tx, ty) + bright);
            int X = dr.x + x, Yp = dr.y + y;
            if (yuvOut) {
                static_cast<uint8_t*>(dst[0])[static_cast<ptrdiff_t>(Yp) * dp[0] + X] = static_cast<uint8_t>(Y);
                if ((X & ((1 << dxs) - 1)) == 0 && (Yp & ((1 << dys) - 1)) == 0) {
                    for (int p = 1; p < 3; ++p)
                        if (dst[p])
                            static_cast<uint8_t*>(dst[p])[static_cast<ptrdiff_t>(Yp >> dys) * dp[p] + (X >> dxs)] =
                                static_cast<uint8_t>(sample(p, tx, ty));
                }
            } else {
                uint16_t px = YuvTo565(Y, sample(1, tx, ty), sample(2, tx, ty));
                memcpy(static_cast<uint8_t*>(dst[0]) + static_cast<ptrdiff_t>(Yp) * dp[0] + 2 * X, &px, 2);
            }
        }
    }
}

void BlitRelease(Blitter* b) { delete b; }

int core::SurfacesHeld() { return g_surfacesHeld.load(); }
