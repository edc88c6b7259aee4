#include "paint.h"

#include <algorithm>
#include <cmath>

namespace skin {

Colour Hex(uint32_t rgb) { return Colour{static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>(rgb & 0xFF)}; }

Colour Colour::Mix(Colour o, double t) const {
    auto m = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
    return Colour{m(r, o.r), m(g, o.g), m(b, o.b)};
}

Colour Colour::Scale(double f) const {
    if (f <= 1.0) {
        auto s = [f](int v) { return static_cast<int>(std::lround(v * f)); };
        return Colour{s(r), s(g), s(b)};
    }
    return Mix(Colour{255, 255, 255}, std::min(f - 1.0, 1.0));
}

Shape RoundBox(double l, double t, double r, double b, double radius) {
    const double cx = (l + r) / 2, cy = (t + b) / 2, hx = (r - l) / 2, hy = (b - t) / 2;
    radius = std::min({radius, hx, hy});
    return [=](double x, double y) {
        double qx = std::abs(x - cx) - (hx - radius), qy = std::abs(y - cy) - (hy - radius);
        double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
        return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
    };
}

Shape Circle(double cx, double cy, double r) {
    return [=](double x, double y) { return std::hypot(x - cx, y - cy) - r; };
}

Shape Ring(double cx, double cy, double r, double w) {
    return [=](double x, double y) { return std::abs(std::hypot(x - cx, y - cy) - r) - w; };
}

Shape Capsule(Pt a, Pt b, double w) {
    return [=](double x, double y) {
        double px = x - a.x, py = y - a.y, bx = b.x - a.x, by = b.y - a.y;
        double len = bx * bx + by * by;
        double h = len > 0 ? std::clamp((px * bx + py * by) / len, 0.0, 1.0) : 0.0;
        return std::hypot(px - bx * h, py - by * h) - w;
    };
}

Shape Polygon(std::vector<Pt> v) {
    return [v](double x, double y) {
        double d = 1e18;
        bool inside = false;
        for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
            double ex = v[j].x - v[i].x, ey = v[j].y - v[i].y, wx = x - v[i].x, wy = y - v[i].y;
            double len = ex * ex + ey * ey;
            double h = len > 0 ? std::clamp((wx * ex + wy * ey) / len, 0.0, 1.0) : 0.0;
            d = std::min(d, std::hypot(wx - ex * h, wy - ey * h));
            if (((v[i].y > y) != (v[j].y > y)) && (x < (v[j].x - v[i].x) * (y - v[i].y) / (v[j].y - v[i].y) + v[i].x))
                inside = !inside;
        }
        return inside ? -d : d;
    };
}

Shape Union(Shape a, Shape b) {
    return [a, b](double x, double y) { return std::min(a(x, y), b(x, y)); };
}
Shape Subtract(Shape a, Shape b) {
    return [a, b](double x, double y) { return std::max(a(x, y), -b(x, y)); };
}
Shape Outline(Shape s, double w) {
    return [s, w](double x, double y) { return std::abs(s(x, y)) - w; };
}

Picture::Picture(int w, int h, Colour fill) : surface(std::make_shared<Surface>(w, h, fill.px())) {}

void Picture::Fill(Colour c) { surface->Fill(c.px()); }

void Picture::Blend(int x, int y, Colour c, double a) {
    if (x < 0 || y < 0 || x >= w() || y >= h() || a <= 0) return;
    uint32_t& p = surface->row(y)[x];
    if (a >= 1) {
        p = c.px();
        return;
    }
    Colour d{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)};
    p = d.Mix(c, a).px();
}

void Picture::FillRect(double l, double t, double r, double b, Colour c) { Draw(RoundBox(l, t, r, b, 0), c); }

void Picture::VGradient(int l, int t, int r, int b, Colour top, Colour bottom) {
    for (int y = std::max(t, 0); y < std::min(b, h()); ++y) {
        Colour c = top.Mix(bottom, b - t > 1 ? double(y - t) / (b - t - 1) : 0.0);
        for (int x = std::max(l, 0); x < std::min(r, w()); ++x) surface->row(y)[x] = c.px();
    }
}

void Picture::Draw(const Shape& s, Colour c, double opacity) {
    for (int y = 0; y < h(); ++y)
        for (int x = 0; x < w(); ++x) {
            double d = s(x + 0.5, y + 0.5);
            if (d < 0.5) Blend(x, y, c, std::clamp(0.5 - d, 0.0, 1.0) * opacity);
        }
}

void Picture::DrawGradient(const Shape& s, Colour top, Colour bottom, double y0, double y1) {
    for (int y = 0; y < h(); ++y) {
        Colour c = top.Mix(bottom, std::clamp((y + 0.5 - y0) / std::max(y1 - y0, 1.0), 0.0, 1.0));
        for (int x = 0; x < w(); ++x) {
            double d = s(x + 0.5, y + 0.5);
            if (d < 0.5) Blend(x, y, c, std::clamp(0.5 - d, 0.0, 1.0));
        }
    }
}

namespace {
HFONT MakeFont(int height, bool bold) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    LOGFONTW sys{};
    GetObjectW(GetStockObject(SYSTEM_FONT), sizeof sys, &sys);
    std::copy(sys.lfFaceName, sys.lfFaceName + LF_FACESIZE, lf.lfFaceName);
    return CreateFontIndirectW(&lf);
}
}  // namespace

void Picture::Text(const wchar_t* text, RECT r, int height, bool bold, Colour c, UINT flags) {
    HDC dc = platform::CreateSurfaceDC(surface, POINT{0, 0}, RECT{0, 0, w(), h()});
    HFONT f = MakeFont(height, bold);
    HGDIOBJ old = SelectObject(dc, f);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(c.r, c.g, c.b));
    DrawTextW(dc, text, -1, &r, flags | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(f);
    DeleteDC(dc);
}

int Picture::TextWidth(const wchar_t* text, int height, bool bold) {
    HDC dc = platform::CreateSurfaceDC(nullptr, POINT{0, 0}, RECT{0, 0, 0, 0});
    HFONT f = MakeFont(height, bold);
    HGDIOBJ old = SelectObject(dc, f);
    SIZE sz{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &sz);
    SelectObject(dc, old);
    DeleteObject(f);
    DeleteDC(dc);
    return sz.cx;
}

void Picture::Paste(const Picture& piece, int x, int y) {
    for (int yy = 0; yy < piece.h(); ++yy)
        for (int xx = 0; xx < piece.w(); ++xx)
            if (x + xx >= 0 && x + xx < w() && y + yy >= 0 && y + yy < h())
                surface->row(y + yy)[x + xx] = piece.surface->row(yy)[xx];
}

}  // namespace skin
