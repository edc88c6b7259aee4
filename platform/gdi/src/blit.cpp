// Blits and raster operations between DCs, and device-independent bitmaps.
#include "internal.h"

#include "platform/lasterror.h"

#include <cstring>
#include <vector>

using namespace platform;
using namespace platform::gdi;

namespace {

// The truth table of a three-operand raster operation over pattern, source and destination.
inline uint32_t Rop3(unsigned code, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (!(code & (1u << i))) continue;
        r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    }
    return r & 0xFFFFFFu;
}

inline bool UsesSource(unsigned code) { return ((code >> 2) & 0x33) != (code & 0x33); }
inline bool UsesPattern(unsigned code) { return ((code >> 4) & 0x0F) != (code & 0x0F); }

// Source pixels as the destination sees them (the colour/monochrome conversions).
struct SourceMap {
    enum Mode { Same, MonoToColour, ColourToMono, NearestMono } mode = Same;
    uint32_t fg = 0, bg = 0xFFFFFF;  // MonoToColour: 0 -> fg (text colour), 1 -> bg
    uint32_t key = 0xFFFFFF;         // ColourToMono: key -> 1
    uint32_t operator()(uint32_t s) const {
        switch (mode) {
        case MonoToColour: return (s & 0xFFFFFF) ? bg : fg;
        case ColourToMono: return ((s & 0xFFFFFF) == key) ? 0xFFFFFFu : 0u;
        case NearestMono: return MonoOf(s);
        default: return s & 0xFFFFFFu;
        }
    }
};

SourceMap MapFor(const DC& dest, const DC* src) {
    SourceMap m;
    if (!src) {
        // Device-independent pixels onto a monochrome bitmap: the nearer of black and white.
        if (IsMonoDC(dest)) m.mode = SourceMap::NearestMono;
        return m;
    }
    bool dm = IsMonoDC(dest), sm = IsMonoDC(*src);
    if (sm && !dm) {
        m.mode = SourceMap::MonoToColour;
        m.fg = XrgbFromColorref(dest.textColour);
        m.bg = XrgbFromColorref(dest.bkColour);
    } else if (!sm && dm) {
        m.mode = SourceMap::ColourToMono;
        m.key = XrgbFromColorref(src->bkColour);
    }
    return m;
}

template <class Op>
void RunRow(uint32_t* d, const uint32_t* s, const int* xmap, int n, const SourceMap& map, Op op) {
    for (int i = 0; i < n; ++i) {
        uint32_t sv = s ? map(s[xmap ? xmap[i] : i]) : 0;
        d[i] = op(sv, d[i] & 0xFFFFFFu);
    }
}

// Combines one destination row with its source row under a raster operation.
void BlendRow(unsigned code, uint32_t pat, uint32_t* d, const uint32_t* s, const int* xmap, int n, const SourceMap& map) {
    switch (code) {
    case 0xCC: RunRow(d, s, xmap, n, map, [](uint32_t sv, uint32_t) { return sv; }); break;
    case 0x88: RunRow(d, s, xmap, n, map, [](uint32_t sv, uint32_t dv) { return sv & dv; }); break;
    case 0xEE: RunRow(d, s, xmap, n, map, [](uint32_t sv, uint32_t dv) { return sv | dv; }); break;
    case 0x66: RunRow(d, s, xmap, n, map, [](uint32_t sv, uint32_t dv) { return sv ^ dv; }); break;
    case 0x33: RunRow(d, s, xmap, n, map, [](uint32_t sv, uint32_t) { return ~sv & 0xFFFFFFu; }); break;
    case 0x22: RunRow(d, s, xmap, n, map, [](uint32_t sv, uint32_t dv) { return ~sv & dv; }); break;
    case 0x00: RunRow(d, nullptr, nullptr, n, map, [](uint32_t, uint32_t) { return 0u; }); break;
    case 0xFF: RunRow(d, nullptr, nullptr, n, map, [](uint32_t, uint32_t) { return 0xFFFFFFu; }); break;
    case 0xF0: RunRow(d, nullptr, nullptr, n, map, [pat](uint32_t, uint32_t) { return pat; }); break;
    default:
        RunRow(d, s, xmap, n, map, [code, pat](uint32_t sv, uint32_t dv) { return Rop3(code, pat, sv, dv); });
        break;
    }
}

uint32_t PatternOf(const DC& dc, const Target& t) {
    if (!dc.brush || dc.brush->style == BS_NULL) return t.mono ? 0xFFFFFFu : 0u;
    return t.Pixel(dc.brush->colour);
}

// The general blit: destination rectangle (x, y, w, h) in DC coordinates from the source
// rectangle (sx, sy, sw, sh) of `src` (a surface in its own pixel coordinates), nearest
// neighbour when the sizes differ. Negative sizes mirror.
BOOL Blit(DC& dest, int x, int y, int w, int h, const Surface* src, const DC* srcDC, int sx, int sy, int sw, int sh,
          DWORD rop) {
    const unsigned code = (rop >> 16) & 0xFF;
    Target t = TargetOf(dest);
    bool mirrorX = false, mirrorY = false;
    if (w < 0) { x += w; w = -w; mirrorX = !mirrorX; }
    if (h < 0) { y += h; h = -h; mirrorY = !mirrorY; }
    if (sw < 0) { sx += sw; sw = -sw; mirrorX = !mirrorX; }
    if (sh < 0) { sy += sh; sh = -sh; mirrorY = !mirrorY; }
    if (w == 0 || h == 0) return TRUE;
    const bool needSource = UsesSource(code);
    if (needSource && (!src || sw == 0 || sh == 0)) return needSource && !src ? FALSE : TRUE;
    if (t.empty()) return TRUE;
    const uint32_t pat = UsesPattern(code) ? PatternOf(dest, t) : 0;
    const SourceMap map = MapFor(dest, srcDC);

    // Surface rectangle of the destination, cut to the clip.
    const int X0 = x + t.dx, Y0 = y + t.dy;
    const int cx0 = std::max(X0, static_cast<int>(t.clip.left)), cx1 = std::min(X0 + w, static_cast<int>(t.clip.right));
    const int cy0 = std::max(Y0, static_cast<int>(t.clip.top)), cy1 = std::min(Y0 + h, static_cast<int>(t.clip.bottom));
    if (cx0 >= cx1 || cy0 >= cy1) return TRUE;

    if (!needSource) {
        for (int Y = cy0; Y < cy1; ++Y)
            BlendRow(code, pat, t.surface->row(Y) + cx0, nullptr, nullptr, cx1 - cx0, map);
        t.surface->Touch();
        return TRUE;
    }

    // Source column and row of every destination pixel; -1 where the source has none.
    auto sample = [](int i, int n, int sn, bool mirror) {
        int k = static_cast<int>((static_cast<int64_t>(i) * sn) / n);
        return mirror ? sn - 1 - k : k;
    };
    std::vector<int> xs(cx1 - cx0);
    for (int X = cx0; X < cx1; ++X) {
        int s = sx + sample(X - X0, w, sw, mirrorX);
        xs[X - cx0] = (s >= 0 && s < src->width()) ? s : -1;
    }
    const bool contiguous = w == sw && !mirrorX;
    const bool plainCopy = contiguous && code == 0xCC && map.mode == SourceMap::Same;
    // Runs of destination pixels that have a source pixel: the same in every row.
    struct Run {
        int begin, end;
    };
    std::vector<Run> runs;
    for (int i = 0, n = cx1 - cx0; i < n;) {
        if (xs[i] < 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < n && xs[j] >= 0) ++j;
        runs.push_back(Run{i, j});
        i = j;
    }
    // Overlapping copies within one surface read from a snapshot of the source rows.
    std::vector<uint32_t> snapshot;
    const bool sameSurface = src == t.surface;
    for (int Y = cy0; Y < cy1; ++Y) {
        int syy = sy + sample(Y - Y0, h, sh, mirrorY);
        if (syy < 0 || syy >= src->height()) continue;
        const uint32_t* srow = src->row(syy);
        if (sameSurface) {
            snapshot.assign(srow, srow + src->width());
            srow = snapshot.data();
        }
        uint32_t* drow = t.surface->row(Y) + cx0;
        for (const Run& r : runs) {
            if (plainCopy)
                std::memcpy(drow + r.begin, srow + xs[r.begin], sizeof(uint32_t) * (r.end - r.begin));
            else if (contiguous)
                BlendRow(code, pat, drow + r.begin, srow + xs[r.begin], nullptr, r.end - r.begin, map);
            else
                BlendRow(code, pat, drow + r.begin, srow, xs.data() + r.begin, r.end - r.begin, map);
        }
    }
    t.surface->Touch();
    return TRUE;
}

}  // namespace

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
    std::lock_guard lock(GdiMutex());
    auto d = LookupDC(dest);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<DC> s = src ? LookupDC(src) : nullptr;
    if (src && !s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Surface> surface;
    int ox = 0, oy = 0;
    if (s) {
        surface = SurfaceOf(*s);
        Target st = TargetOf(*s);
        ox = st.dx;
        oy = st.dy;
        if (!surface) {
            // A DC that draws nowhere reads as nothing.
            return TRUE;
        }
    }
    return Blit(*d, x, y, width, height, surface.get(), s.get(), srcX + ox, srcY + oy, width, height, rop);
}

BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth,
                int srcHeight, DWORD rop) {
    std::lock_guard lock(GdiMutex());
    auto d = LookupDC(dest);
    std::shared_ptr<DC> s = src ? LookupDC(src) : nullptr;
    if (!d || (src && !s)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Surface> surface;
    int ox = 0, oy = 0;
    if (s) {
        surface = SurfaceOf(*s);
        if (!surface) return TRUE;
        Target st = TargetOf(*s);
        ox = st.dx;
        oy = st.dy;
    }
    return Blit(*d, x, y, width, height, surface.get(), s.get(), srcX + ox, srcY + oy, srcWidth, srcHeight, rop);
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
    std::lock_guard lock(GdiMutex());
    auto d = LookupDC(hdc);
    if (!d) return FALSE;
    if (UsesSource((rop >> 16) & 0xFF)) return FALSE;
    return Blit(*d, x, y, width, height, nullptr, nullptr, 0, 0, 0, 0, rop);
}

int StretchDIBits(HDC hdc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth, int srcHeight,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
    if (!bits || !info || usage != DIB_RGB_COLORS) return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biPlanes != 1 ||
        h.biCompression != BI_RGB)
        return 0;
    const int bpp = h.biBitCount;
    if (bpp != 8 && bpp != 24 && bpp != 32 && bpp != 1 && bpp != 4) return 0;
    const int64_t W = h.biWidth, H = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    if (W * H > kMaxBitmapPixels) return 0;
    const bool topDown = h.biHeight < 0;
    const size_t stride = ((static_cast<size_t>(W) * bpp + 31) / 32) * 4;
    int colours = 0;
    if (bpp <= 8) {
        colours = h.biClrUsed ? static_cast<int>(std::min<DWORD>(h.biClrUsed, 1u << bpp)) : (1 << bpp);
    }
    const RGBQUAD* table = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const uint8_t*>(info) + h.biSize);
    auto entry = [&](unsigned i) -> uint32_t {
        if (static_cast<int>(i) >= colours) return 0;
        const RGBQUAD& q = table[i];
        return (static_cast<uint32_t>(q.rgbRed) << 16) | (q.rgbGreen << 8) | q.rgbBlue;
    };
    // Decode the whole picture, top row first; the blit then treats it as any source.
    Surface pic;
    if (!pic.Resize(static_cast<int>(W), static_cast<int>(H))) return 0;
    const auto* base = static_cast<const uint8_t*>(bits);
    for (int64_t row = 0; row < H; ++row) {
        const uint8_t* r = base + stride * (topDown ? row : H - 1 - row);
        uint32_t* d = pic.row(static_cast<int>(row));
        for (int64_t c = 0; c < W; ++c) {
            switch (bpp) {
            case 1: d[c] = entry((r[c >> 3] >> (7 - (c & 7))) & 1); break;
            case 4: d[c] = entry((c & 1) ? (r[c >> 1] & 15) : (r[c >> 1] >> 4)); break;
            case 8: d[c] = entry(r[c]); break;
            case 24: d[c] = r[3 * c] | (r[3 * c + 1] << 8) | (r[3 * c + 2] << 16); break;
            default: d[c] = r[4 * c] | (r[4 * c + 1] << 8) | (r[4 * c + 2] << 16); break;
            }
        }
    }
    // Source coordinates of a bottom-up picture count rows from its bottom.
    int top = topDown ? srcY : static_cast<int>(H) - srcY - srcHeight;
    std::lock_guard lock(GdiMutex());
    auto d = LookupDC(hdc);
    if (!d) return 0;
    if (!Blit(*d, x, y, width, height, &pic, nullptr, srcX, top, srcWidth, srcHeight, rop)) return 0;
    return std::abs(srcHeight);
}
