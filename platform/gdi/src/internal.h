// The drawing layer's objects behind the handles.
#pragma once

#include "platform/gdi.h"
#include "platform/surface.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace platform::gdi {

class SizedFont;

// Bitmaps larger than this many pixels are refused (128 MB of pixels).
constexpr int64_t kMaxBitmapPixels = 32LL * 1024 * 1024;

enum class Kind { Pen, Brush, Font, Bitmap, DC };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    bool stock = false;
    std::atomic<int> selections{0};  // DCs that hold it selected
};

struct Pen : Object {
    Pen() : Object(Kind::Pen) {}
    int style = PS_SOLID;
    int width = 1;
    COLORREF colour = 0;
};

struct Brush : Object {
    Brush() : Object(Kind::Brush) {}
    int style = BS_SOLID;
    COLORREF colour = 0;
};

struct Font : Object {
    Font() : Object(Kind::Font) {}
    LOGFONTW lf{};
    std::shared_ptr<SizedFont> sized;
};

struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    std::shared_ptr<Surface> surface;
    bool mono = false;
    int planes = 1;
    int bpp = 32;
};

struct DC : Object {
    DC() : Object(Kind::DC) {}
    bool memory = false;
    // Window and screen DCs draw into a surface at an origin, inside a clip (surface
    // coordinates); memory DCs into their selected bitmap.
    std::shared_ptr<Surface> surface;
    POINT origin{0, 0};     // under TableMutex(): the window system moves DCs without GdiMutex()
    RECT clip{0, 0, 0, 0};  // under TableMutex()
    bool windowDC = false;
    HWND hwnd = nullptr;    // under TableMutex()
    std::shared_ptr<Bitmap> bitmap;
    std::shared_ptr<Pen> pen;
    std::shared_ptr<Brush> brush;
    std::shared_ptr<Font> font;
    COLORREF textColour = 0x000000;
    COLORREF bkColour = 0xFFFFFF;
    int bkMode = OPAQUE;
    POINT position{0, 0};
    POINT viewport{0, 0};
    bool hasUserClip = false;
    RECT userClip{0, 0, 0, 0};  // DC coordinates
};

// Where a drawing call lands: DC coordinates plus (dx, dy) are surface coordinates;
// nothing outside `clip` (surface coordinates, within the surface) is touched.
struct Target {
    Surface* surface = nullptr;
    int dx = 0;
    int dy = 0;
    RECT clip{0, 0, 0, 0};
    bool mono = false;
    bool empty() const { return !surface || clip.right <= clip.left || clip.bottom <= clip.top; }
    // A colour as this target stores it.
    uint32_t Pixel(COLORREF c) const;
};

// Handle table. Its lock is the innermost of the layer: held only inside these calls and
// around a surface DC's origin and clip, never while calling out.
std::mutex& TableMutex();
std::shared_ptr<Object> Lookup(const void* handle);
std::shared_ptr<DC> LookupDC(HDC hdc);
template <class T>
std::shared_ptr<T> LookupAs(const void* handle, Kind kind) {
    auto o = Lookup(handle);
    if (!o || o->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(o);
}
void* AddObject(std::shared_ptr<Object> object);
void* HandleOf(const Object* object);

Target TargetOf(const DC& dc);
std::shared_ptr<Surface> SurfaceOf(const DC& dc);
bool IsMonoDC(const DC& dc);

// Creates the stock objects once (safe without GdiMutex()).
void InitStock();

// The system font (cell height 16 px) and its face name.
std::shared_ptr<Font> SystemFont();
const wchar_t* SystemFaceName();
std::shared_ptr<SizedFont> ResolveFont(const LOGFONTW& lf);

uint32_t MonoOf(uint32_t xrgb);

}  // namespace platform::gdi
