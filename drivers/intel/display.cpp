// The display side: the overlay's attributes, flips and colour settings, and the scan-out
// that composites the desktop and the overlay.
#include <cmath>
#include <cstring>

#include "chip.h"

using namespace pvr;

namespace {

const VDISP_COLORSPACE kDefaultColor = {{298, 0, 409, 298, -100, -208, 298, 516, 0}, 0};

uint8_t Clamp8(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// Bilinear sample of a plane at (x, y), positions of sample centres, edges repeated
// within the rectangle [x0, x1) x [y0, y1).
double Sample(const uint8_t* p, int pitch, double x, double y, int x0, int y0, int x1, int y1) {
    auto clampi = [](int v, int lo, int hi) { return v < lo ? lo : v >= hi ? hi - 1 : v; };
    int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    double fx = x - ix, fy = y - iy;
    int xa = clampi(ix, x0, x1), xb = clampi(ix + 1, x0, x1);
    int ya = clampi(iy, y0, y1), yb = clampi(iy + 1, y0, y1);
    auto at = [&](int xx, int yy) { return static_cast<double>(p[static_cast<ptrdiff_t>(yy) * pitch + xx]); };
    return (at(xa, ya) * (1 - fx) + at(xb, ya) * fx) * (1 - fy) + (at(xa, yb) * (1 - fx) + at(xb, yb) * fx) * fy;
}

void Rgb565To888(uint16_t p, uint8_t* out) {
    int r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
    out[0] = static_cast<uint8_t>((r << 3) | (r >> 2));
    out[1] = static_cast<uint8_t>((g << 2) | (g >> 4));
    out[2] = static_cast<uint8_t>((b << 3) | (b >> 2));
}

bool Ready(Chip& c) { return c.vdispInitialised; }

// The panel picture: width x height x 3.
void ComposePanel(Chip& c, std::vector<uint8_t>& out) {
    const Display& d = c.display;
    out.assign(static_cast<size_t>(d.panelWidth) * d.panelHeight * 3, 0);
    for (int y = 0; y < d.panelHeight; ++y)
        for (int x = 0; x < d.panelWidth; ++x) {
            uint16_t p;
            memcpy(&p, c.window + static_cast<size_t>(y) * d.pitch + static_cast<size_t>(x) * 2, 2);
            Rgb565To888(p, &out[(static_cast<size_t>(y) * d.panelWidth + x) * 3]);
        }
    const Overlay& o = c.overlay;
    if (!c.vdispInitialised || !o.attributesSet || !o.attributes.visible) return;
    uintptr_t shown = o.shown ? o.shown : o.attributeFrame;
    auto it = c.frames.find(shown);
    if (it == c.frames.end()) return;
    const Frame& f = it->second;
    const VDISP_ATTRIBUTES& a = o.attributes;
    int sl = a.srcLeft, st = a.srcTop, sr = std::min<int>(a.srcRight, f.width), sb = std::min<int>(a.srcBottom, f.height);
    int dl = a.dstLeft, dt = a.dstTop, dr = a.dstRight, db = a.dstBottom;
    int sw = sr - sl, sh = sb - st, dw = dr - dl, dh = db - dt;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    bool turned = a.rotation == 90 || a.rotation == 270;
    int tw = turned ? sh : sw, th = turned ? sw : sh;
    const VDISP_COLORSPACE& cc = o.colorSet ? o.color : kDefaultColor;
    double gain = o.contrast / 128.0, lift = o.brightness - 128;
    for (int y = std::max(dt, 0); y < std::min(db, d.panelHeight); ++y)
        for (int x = std::max(dl, 0); x < std::min(dr, d.panelWidth); ++x) {
            if (a.keyEnable == 1) {
                uint16_t p;
                memcpy(&p, c.window + static_cast<size_t>(y) * d.pitch + static_cast<size_t>(x) * 2, 2);
                if (p != static_cast<uint16_t>(a.key)) continue;
            }
            // Position in the turned picture, then back in the frame.
            double u = (x - dl + 0.5) * tw / dw - 0.5, v = (y - dt + 0.5) * th / dh - 0.5;
            double sx, sy;
            switch (a.rotation) {
                case 90: sx = sw - 1 - v, sy = u; break;
                case 180: sx = sw - 1 - u, sy = sh - 1 - v; break;
                case 270: sx = v, sy = sh - 1 - u; break;
                default: sx = u, sy = v;
            }
            double Y = Sample(f.Y(), f.pitch, sl + sx, st + sy, sl, st, sr, sb);
            // Chroma samples sit between two luma samples.
            double cx = (sl + sx - 0.5) / 2, cy = (st + sy - 0.5) / 2;
            int cx0 = sl / 2, cy0 = st / 2, cx1 = (sr + 1) / 2, cy1 = (sb + 1) / 2;
            double U = Sample(f.U(), f.pitch, cx, cy, cx0, cy0, cx1, cy1);
            double V = Sample(f.V(), f.pitch, cx, cy, cx0, cy0, cx1, cy1);
            double yy = (Y - 16) * gain + lift, uu = U - 128, vv = V - 128;
            uint8_t* px = &out[(static_cast<size_t>(y) * d.panelWidth + x) * 3];
            for (int k = 0; k < 3; ++k)
                px[k] = Clamp8((cc.coeff[3 * k] * yy + cc.coeff[3 * k + 1] * uu + cc.coeff[3 * k + 2] * vv) / 256.0);
        }
}

}  // namespace

extern "C" {

int VDISP_Initialise(int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = M24VA_OK;
    if (!EnsureWindow(c)) {
        r = M24VA_OUT_OF_MEMORY;
    } else if (c.vdispFailures > 0) {
        --c.vdispFailures;
        r = M24VA_DEVICE_BUSY;
    } else {
        c.vdispInitialised = true;
        StartClock(c);
    }
    Log(c, "VDISP_Initialise(%d) = %d", flags, r);
    return r;
}

int VDISP_Deinitialise(void) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    c.vdispInitialised = false;
    c.overlay.attributes.visible = 0;
    c.overlay.shown = 0;
    StopClock(c);
    Log(c, "VDISP_Deinitialise() = 0");
    return M24VA_OK;
}

int VDISP_OverlaySetAttributes(const void* record, M24VA_FRAME frame, int word) {
    auto* a = static_cast<const VDISP_ATTRIBUTES*>(record);
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Frame* f = FindFrame(c, frame);
    int r = M24VA_OK;
    const Display& d = c.display;
    if (!Ready(c)) r = M24VA_NOT_INITIALISED;
    else if (c.attributeFailures > 0) --c.attributeFailures, r = M24VA_DEVICE_BUSY;
    else if (!a || a->magic != 0x77 || !f || f->kind != MemoryKind::Local) r = M24VA_INVALID_PARAM;
    else if (a->rotation != 0 && a->rotation != 90 && a->rotation != 180 && a->rotation != 270) r = M24VA_INVALID_PARAM;
    else if (a->srcLeft >= a->srcRight || a->srcTop >= a->srcBottom || a->srcRight > f->width || a->srcBottom > f->height)
        r = M24VA_INVALID_PARAM;
    else if (a->dstLeft >= a->dstRight || a->dstTop >= a->dstBottom || a->dstRight > d.panelWidth || a->dstBottom > d.panelHeight)
        r = M24VA_INVALID_PARAM;
    else if (a->visible && c.engine.frameOpen && (c.overlay.shown ? c.overlay.shown : f->handle) == c.engine.target)
        r = ScreenFault(c, "attributes would show frame #%lx while it is decoded", static_cast<unsigned long>(c.engine.target));
    else {
        c.overlay.attributes = *a;
        c.overlay.attributesSet = true;
        c.overlay.attributeFrame = f->handle;
        ++c.attributeSends;
    }
    if (a)
        Log(c, "VDISP_OverlaySetAttributes({dst %d,%d-%d,%d src %d,%d-%d,%d key %u:0x%X visible %u rotation %u}, #%lx, %d) = %d",
            a->dstLeft, a->dstTop, a->dstRight, a->dstBottom, a->srcLeft, a->srcTop, a->srcRight, a->srcBottom,
            a->keyEnable, a->key, a->visible, a->rotation, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(frame)),
            word, r);
    else
        Log(c, "VDISP_OverlaySetAttributes(null) = %d", r);
    return r;
}

int VDISP_OverlayFlipSurface(M24VA_FRAME frame, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    Frame* f = FindFrame(c, frame);
    int r = M24VA_OK;
    if (!Ready(c)) r = M24VA_NOT_INITIALISED;
    else if (!f || f->kind != MemoryKind::Local) r = M24VA_INVALID_PARAM;
    else if (c.engine.frameOpen && f->handle == c.engine.target)
        r = ScreenFault(c, "frame #%lx flipped while it is decoded", static_cast<unsigned long>(f->handle));
    else {
        c.overlay.shown = f->handle;
        ++c.flips;
    }
    Log(c, "VDISP_OverlayFlipSurface(#%lx, %d) = %d", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(frame)), flags, r);
    return r;
}

namespace {

int SetLevel(const char* name, int value, int Overlay::*field) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = !Ready(c) ? M24VA_NOT_INITIALISED : value < 0 || value > 255 ? M24VA_INVALID_PARAM : M24VA_OK;
    if (r == M24VA_OK) c.overlay.*field = value;
    Log(c, "%s(%d) = %d", name, value, r);
    return r;
}

}  // namespace

int VDISP_OverlayContrast(int value) { return SetLevel("VDISP_OverlayContrast", value, &Overlay::contrast); }
int VDISP_OverlayBrightness(int value) { return SetLevel("VDISP_OverlayBrightness", value, &Overlay::brightness); }
#ifndef PVR_WITHOUT_GAMMA  // the build that lacks an entry point
int VDISP_OverlayGamma(int value) { return SetLevel("VDISP_OverlayGamma", value, &Overlay::gamma); }
#endif

int VDISP_OverlaySetColorspaceConversion(const void* record) {
    auto* conversion = static_cast<const VDISP_COLORSPACE*>(record);
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    int r = !Ready(c) ? M24VA_NOT_INITIALISED : conversion ? M24VA_OK : M24VA_INVALID_PARAM;
    for (int i = 0; r == M24VA_OK && i < 9; ++i)
        if (conversion->coeff[i] < -1024 || conversion->coeff[i] > 1023) r = M24VA_INVALID_PARAM;
    if (r == M24VA_OK) {
        c.overlay.color = *conversion;
        c.overlay.colorSet = true;
    }
    if (conversion)
        Log(c, "VDISP_OverlaySetColorspaceConversion({%d %d %d, %d %d %d, %d %d %d}) = %d", conversion->coeff[0],
            conversion->coeff[1], conversion->coeff[2], conversion->coeff[3], conversion->coeff[4], conversion->coeff[5],
            conversion->coeff[6], conversion->coeff[7], conversion->coeff[8], r);
    return r;
}

int PVRSim_Attributes(VDISP_ATTRIBUTES* out) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    if (!out || !c.overlay.attributesSet) return -1;
    *out = c.overlay.attributes;
    return 0;
}

int PVRSim_ColorConversion(VDISP_COLORSPACE* out) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    if (!out || !c.overlay.colorSet) return -1;
    *out = c.overlay.color;
    return 0;
}

M24VA_FRAME PVRSim_ShownFrame(void) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    return reinterpret_cast<M24VA_FRAME>(c.overlay.shown);
}

int PVRSim_ScanOut(uint8_t* rgb, int width, int height, int logical) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    if (!rgb || !EnsureWindow(c)) return -1;
    const Display& d = c.display;
    if (logical ? (width != d.width || height != d.height) : (width != d.panelWidth || height != d.panelHeight)) return -1;
    std::vector<uint8_t> panel;
    ComposePanel(c, panel);
    if (!logical) {
        memcpy(rgb, panel.data(), panel.size());
        return 0;
    }
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            int px = x, py = y;
            switch (d.rotation) {
                case 90: px = d.panelWidth - 1 - y, py = x; break;
                case 180: px = d.panelWidth - 1 - x, py = d.panelHeight - 1 - y; break;
                case 270: px = y, py = d.panelHeight - 1 - x; break;
                default: break;
            }
            memcpy(rgb + (static_cast<size_t>(y) * d.width + x) * 3, &panel[(static_cast<size_t>(py) * d.panelWidth + px) * 3], 3);
        }
    return 0;
}

}  // extern "C"
