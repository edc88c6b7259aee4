// Anti-aliased shapes, gradients and text on surfaces, for drawing the skin.
#pragma once

#include "platform/gdi.h"
#include "platform/surface.h"

#include <functional>
#include <memory>
#include <vector>

namespace skin {

using platform::Surface;

struct Colour {
    int r, g, b;
    uint32_t px() const { return (static_cast<uint32_t>(r) << 16) | (g << 8) | b; }
    Colour Mix(Colour o, double t) const;  // t = 0: this, 1: o
    Colour Scale(double f) const;          // darker below 1, lighter towards white above 1
};
Colour Hex(uint32_t rgb);

struct Pt {
    double x, y;
};

// Signed distance in pixels: negative inside the shape.
using Shape = std::function<double(double x, double y)>;

Shape RoundBox(double left, double top, double right, double bottom, double radius);
Shape Circle(double cx, double cy, double r);
Shape Ring(double cx, double cy, double r, double halfWidth);
Shape Capsule(Pt a, Pt b, double halfWidth);
Shape Polygon(std::vector<Pt> points);
Shape Union(Shape a, Shape b);
Shape Subtract(Shape a, Shape b);
Shape Outline(Shape s, double halfWidth);

class Picture {
public:
    Picture(int w, int h, Colour fill);
    int w() const { return surface->width(); }
    int h() const { return surface->height(); }

    void Fill(Colour c);
    void FillRect(double l, double t, double r, double b, Colour c);
    void VGradient(int l, int t, int r, int b, Colour top, Colour bottom);
    // Fills a shape, optionally with a vertical gradient over [y0, y1).
    void Draw(const Shape& s, Colour c, double opacity = 1.0);
    void DrawGradient(const Shape& s, Colour top, Colour bottom, double y0, double y1);
    // Text centred in the rectangle (flags add to DT_SINGLELINE | DT_NOPREFIX).
    void Text(const wchar_t* text, RECT r, int height, bool bold, Colour c, UINT flags = DT_CENTER | DT_VCENTER);
    int TextWidth(const wchar_t* text, int height, bool bold);
    // Copies `piece` with its top-left corner at (x, y).
    void Paste(const Picture& piece, int x, int y);
    bool Save(const std::string& path) const { return platform::WritePng(*surface, path); }

    std::shared_ptr<Surface> surface;

private:
    void Blend(int x, int y, Colour c, double a);
};

}  // namespace skin
