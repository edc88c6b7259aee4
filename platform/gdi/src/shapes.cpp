// Pens, brushes and figures, with the platform's pixel rules: a figure covers
// left..right-1 and top..bottom-1 and its outline lies inside it.
#include "internal.h"

#include <cmath>
#include <vector>

using namespace platform;
using namespace platform::gdi;

namespace {

void FillSpanClipped(const Target& t, int x0, int x1, int y, uint32_t pixel) {
    if (y < t.clip.top || y >= t.clip.bottom) return;
    x0 = std::max(x0, static_cast<int>(t.clip.left));
    x1 = std::min(x1, static_cast<int>(t.clip.right));
    if (x0 >= x1) return;
    uint32_t* r = t.surface->row(y);
    std::fill(r + x0, r + x1, pixel);
}

// Fills surface rectangle [x0, x1) x [y0, y1).
void FillBox(const Target& t, int x0, int y0, int x1, int y1, uint32_t pixel) {
    y0 = std::max(y0, static_cast<int>(t.clip.top));
    y1 = std::min(y1, static_cast<int>(t.clip.bottom));
    for (int y = y0; y < y1; ++y) FillSpanClipped(t, x0, x1, y, pixel);
}

void PlotPen(const Target& t, int x, int y, int width, uint32_t pixel) {
    if (width <= 1) {
        if (x >= t.clip.left && x < t.clip.right && y >= t.clip.top && y < t.clip.bottom) t.surface->row(y)[x] = pixel;
        return;
    }
    int a = (width - 1) / 2;
    FillBox(t, x - a, y - a, x - a + width, y - a + width, pixel);
}

bool HasPen(const DC& dc) { return dc.pen && dc.pen->style != PS_NULL; }
bool HasBrush(const DC& dc) { return dc.brush && dc.brush->style != BS_NULL; }

// Horizontal extent [x0, x1) of a rounded rectangle [l, r) x [t, b) with corner radii
// (rx, ry) in row y, sampled at the pixel centres; false when the row is outside.
bool RoundSpan(double l, double t, double r, double b, double rx, double ry, int y, int* x0, int* x1) {
    double cy = y + 0.5;
    if (cy < t || cy > b || r <= l) return false;
    double inset = 0;
    if (rx > 0 && ry > 0) {
        double dy = 0;
        if (cy < t + ry) dy = t + ry - cy;
        else if (cy > b - ry) dy = cy - (b - ry);
        if (dy > 0) {
            double q = 1.0 - (dy * dy) / (ry * ry);
            if (q < 0) return false;
            inset = rx - rx * std::sqrt(q);
        }
    }
    // Pixel x is inside when its centre x + 0.5 lies in [l + inset, r - inset].
    *x0 = static_cast<int>(std::ceil(l + inset - 0.5));
    *x1 = static_cast<int>(std::floor(r - inset - 0.5)) + 1;
    return *x0 < *x1;
}

// Draws a figure of rounded corners (radii 0: a rectangle; half the size: an ellipse).
BOOL DrawFigure(HDC hdc, int left, int top, int right, int bottom, double rx, double ry) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    Target t = TargetOf(*dc);
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (t.empty()) return TRUE;
    const bool pen = HasPen(*dc), brush = HasBrush(*dc);
    // Without a pen the figure is one pixel narrower and lower, as on the platform.
    const int shrink = pen ? 0 : 1;
    const double l = left + t.dx, tp = top + t.dy, r = right + t.dx - shrink, b = bottom + t.dy - shrink;
    rx = std::min(rx, (r - l) / 2);
    ry = std::min(ry, (b - tp) / 2);
    const int w = pen ? std::max(dc->pen->width, 1) : 0;
    const uint32_t penPixel = pen ? t.Pixel(dc->pen->colour) : 0;
    const uint32_t brushPixel = brush ? t.Pixel(dc->brush->colour) : 0;
    const int y0 = std::max(static_cast<int>(tp), static_cast<int>(t.clip.top));
    const int y1 = std::min(static_cast<int>(b), static_cast<int>(t.clip.bottom));
    for (int y = y0; y < y1; ++y) {
        int ox0, ox1;
        if (!RoundSpan(l, tp, r, b, rx, ry, y, &ox0, &ox1)) continue;
        if (!pen) {
            FillSpanClipped(t, ox0, ox1, y, brushPixel);
            continue;
        }
        int ix0, ix1;
        bool inner = RoundSpan(l + w, tp + w, r - w, b - w, std::max(rx - w, 0.0), std::max(ry - w, 0.0), y, &ix0, &ix1);
        if (!inner) {
            FillSpanClipped(t, ox0, ox1, y, penPixel);
            continue;
        }
        FillSpanClipped(t, ox0, ix0, y, penPixel);
        FillSpanClipped(t, ix1, ox1, y, penPixel);
        if (brush) FillSpanClipped(t, ix0, ix1, y, brushPixel);
    }
    t.surface->Touch();
    return TRUE;
}

// Bresenham from (x0, y0) towards (x1, y1), the end point left out.
void DrawLine(const Target& t, int x0, int y0, int x1, int y1, int width, uint32_t pixel) {
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        PlotPen(t, x0, y0, width, pixel);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

}  // namespace

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    return DrawFigure(hdc, left, top, right, bottom, 0, 0);
}

BOOL RoundRect(HDC hdc, int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
    return DrawFigure(hdc, left, top, right, bottom, std::max(ellipseWidth, 0) / 2.0, std::max(ellipseHeight, 0) / 2.0);
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    return DrawFigure(hdc, left, top, right, bottom, std::abs(right - left) / 2.0, std::abs(bottom - top) / 2.0);
}

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT previous) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    if (previous) *previous = dc->position;
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    Target t = TargetOf(*dc);
    if (!t.empty() && HasPen(*dc)) {
        DrawLine(t, dc->position.x + t.dx, dc->position.y + t.dy, x + t.dx, y + t.dy, dc->pen->width,
                 t.Pixel(dc->pen->colour));
        t.surface->Touch();
    }
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
    if (!points || count < 2) return FALSE;
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    POINT saved = dc->position;
    dc->position = points[0];
    for (int i = 1; i < count; ++i) LineTo(hdc, points[i].x, points[i].y);
    dc->position = saved;  // Polyline does not move the current position
    return TRUE;
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    if (!rect) return 0;
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    auto b = LookupAs<Brush>(brush, Kind::Brush);
    if (!dc || !b) return 0;
    Target t = TargetOf(*dc);
    if (t.empty() || b->style == BS_NULL) return 1;
    FillBox(t, rect->left + t.dx, rect->top + t.dy, rect->right + t.dx, rect->bottom + t.dy, t.Pixel(b->colour));
    t.surface->Touch();
    return 1;
}

int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    if (!rect) return 0;
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    auto b = LookupAs<Brush>(brush, Kind::Brush);
    if (!dc || !b) return 0;
    Target t = TargetOf(*dc);
    if (t.empty() || b->style == BS_NULL || IsRectEmpty(rect)) return 1;
    const uint32_t p = t.Pixel(b->colour);
    const int l = rect->left + t.dx, tp = rect->top + t.dy, r = rect->right + t.dx, bt = rect->bottom + t.dy;
    FillBox(t, l, tp, r, tp + 1, p);
    FillBox(t, l, bt - 1, r, bt, p);
    FillBox(t, l, tp, l + 1, bt, p);
    FillBox(t, r - 1, tp, r, bt, p);
    t.surface->Touch();
    return 1;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF colour) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return CLR_INVALID;
    Target t = TargetOf(*dc);
    x += t.dx;
    y += t.dy;
    if (t.empty() || x < t.clip.left || x >= t.clip.right || y < t.clip.top || y >= t.clip.bottom) return CLR_INVALID;
    uint32_t p = t.Pixel(colour);
    t.surface->row(y)[x] = p;
    t.surface->Touch();
    return ColorrefFromXrgb(p);
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return CLR_INVALID;
    Target t = TargetOf(*dc);
    x += t.dx;
    y += t.dy;
    if (t.empty() || x < t.clip.left || x >= t.clip.right || y < t.clip.top || y >= t.clip.bottom) return CLR_INVALID;
    return ColorrefFromXrgb(t.surface->row(y)[x] & 0xFFFFFFu);
}
