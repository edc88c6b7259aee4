// Handles, device contexts, stock objects, bitmaps and selection.
#include "internal.h"

#include "platform/lasterror.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

Surface::Surface(int width, int height, uint32_t fill) { Resize(width, height, fill); }

bool Surface::Resize(int width, int height, uint32_t fill) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    try {
        pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
    } catch (const std::bad_alloc&) {
        pixels_.clear();
        pixels_.shrink_to_fit();
        width_ = height_ = 0;
        Touch();
        return false;
    }
    width_ = width;
    height_ = height;
    Touch();
    return true;
}

void Surface::Fill(uint32_t xrgb) {
    std::fill(pixels_.begin(), pixels_.end(), xrgb);
    Touch();
}

std::recursive_mutex& GdiMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace platform

namespace platform::gdi {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
    std::unordered_map<const Object*, uintptr_t> handles;
    uintptr_t next = 0x40000;
};

Table& table() {
    static Table t;
    return t;
}

struct Hooks {
    std::mutex mutex;
    WindowDCHooks hooks;
};

Hooks& hooks() {
    static Hooks h;
    return h;
}

std::shared_ptr<Object> stockObjects[DEFAULT_GUI_FONT + 1];

template <class T>
std::shared_ptr<T> MakeStock(int index) {
    auto o = std::make_shared<T>();
    o->stock = true;
    stockObjects[index] = o;
    AddObject(o);
    return o;
}

void MakeStockObjects() {
    const COLORREF brushes[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
    for (int i = WHITE_BRUSH; i <= BLACK_BRUSH; ++i) MakeStock<Brush>(i)->colour = brushes[i];
    MakeStock<Brush>(NULL_BRUSH)->style = BS_NULL;
    MakeStock<Pen>(WHITE_PEN)->colour = 0xFFFFFF;
    MakeStock<Pen>(BLACK_PEN)->colour = 0x000000;
    MakeStock<Pen>(NULL_PEN)->style = PS_NULL;
    auto sys = SystemFont();
    sys->stock = true;
    stockObjects[SYSTEM_FONT] = sys;
    stockObjects[DEFAULT_GUI_FONT] = sys;
    AddObject(sys);
}

std::shared_ptr<Bitmap> DefaultBitmap() {
    auto b = std::make_shared<Bitmap>();
    b->mono = true;
    b->bpp = 1;
    b->surface = std::make_shared<Surface>(1, 1, 0x000000);
    return b;
}

void InitDefaults(DC& dc) {
    InitStock();
    dc.pen = std::static_pointer_cast<Pen>(stockObjects[BLACK_PEN]);
    dc.brush = std::static_pointer_cast<Brush>(stockObjects[WHITE_BRUSH]);
    dc.font = std::static_pointer_cast<Font>(stockObjects[SYSTEM_FONT]);
    dc.pen->selections++;
    dc.brush->selections++;
    dc.font->selections++;
}

void ReleaseSelections(DC& dc) {
    if (dc.pen) dc.pen->selections--;
    if (dc.brush) dc.brush->selections--;
    if (dc.font) dc.font->selections--;
    if (dc.bitmap) dc.bitmap->selections--;
    dc.pen.reset();
    dc.brush.reset();
    dc.font.reset();
    dc.bitmap.reset();
}

void RemoveObject(const Object* o) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.handles.find(o);
    if (it == t.handles.end()) return;
    t.objects.erase(it->second);
    t.handles.erase(it);
}

bool DeleteDCLocked(HDC hdc) {
    auto dc = LookupDC(hdc);
    if (!dc) return false;
    ReleaseSelections(*dc);
    RemoveObject(dc.get());
    return true;
}

RECT Intersect(RECT a, RECT b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

}  // namespace

void InitStock() {
    static std::once_flag once;
    std::call_once(once, MakeStockObjects);
}

std::mutex& TableMutex() { return table().mutex; }

uint32_t MonoOf(uint32_t xrgb) {
    unsigned r = (xrgb >> 16) & 0xFF, g = (xrgb >> 8) & 0xFF, b = xrgb & 0xFF;
    return (r * 30 + g * 59 + b * 11) >= 128 * 100 ? 0xFFFFFFu : 0u;
}

uint32_t Target::Pixel(COLORREF c) const {
    uint32_t p = XrgbFromColorref(c) & 0xFFFFFFu;
    return mono ? MonoOf(p) : p;
}

std::shared_ptr<Object> Lookup(const void* handle) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<DC> LookupDC(HDC hdc) { return LookupAs<DC>(hdc, Kind::DC); }

void* AddObject(std::shared_ptr<Object> object) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    uintptr_t h = t.next;
    t.next += 4;
    t.handles[object.get()] = h;
    t.objects[h] = std::move(object);
    return reinterpret_cast<void*>(h);
}

void* HandleOf(const Object* object) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.handles.find(object);
    return it == t.handles.end() ? nullptr : reinterpret_cast<void*>(it->second);
}

std::shared_ptr<Surface> SurfaceOf(const DC& dc) {
    if (dc.memory) return dc.bitmap ? dc.bitmap->surface : nullptr;
    return dc.surface;
}

bool IsMonoDC(const DC& dc) { return dc.memory && dc.bitmap && dc.bitmap->mono; }

Target TargetOf(const DC& dc) {
    Target t;
    auto s = SurfaceOf(dc);
    if (!s) return t;
    t.surface = s.get();
    t.mono = IsMonoDC(dc);
    RECT bounds{0, 0, s->width(), s->height()};
    if (dc.memory) {
        t.dx = dc.viewport.x;
        t.dy = dc.viewport.y;
        t.clip = bounds;
    } else {
        std::lock_guard lock(TableMutex());
        t.dx = dc.origin.x + dc.viewport.x;
        t.dy = dc.origin.y + dc.viewport.y;
        t.clip = Intersect(bounds, dc.clip);
    }
    if (dc.hasUserClip) {
        RECT u = dc.userClip;
        OffsetRect(&u, t.dx, t.dy);
        t.clip = Intersect(t.clip, u);
    }
    return t;
}

}  // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

namespace platform {

// These seam calls never wait for GdiMutex(): the window system makes and moves DCs
// while holding its own locks, and takes GdiMutex() before them when it composites.
HDC CreateSurfaceDC(std::shared_ptr<Surface> surface, POINT origin, const RECT& clip) {
    auto dc = std::make_shared<DC>();
    dc->surface = std::move(surface);
    dc->origin = origin;
    dc->clip = clip;
    dc->windowDC = true;
    InitDefaults(*dc);
    return static_cast<HDC>(AddObject(dc));
}

BOOL SetSurfaceDCGeometry(HDC hdc, POINT origin, const RECT& clip) {
    auto dc = LookupDC(hdc);
    if (!dc || dc->memory) return FALSE;
    std::lock_guard lock(TableMutex());
    dc->origin = origin;
    dc->clip = clip;
    return TRUE;
}

std::shared_ptr<Surface> SurfaceOfDC(HDC hdc) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    return dc ? SurfaceOf(*dc) : nullptr;
}

std::shared_ptr<Surface> SurfaceOfBitmap(HBITMAP bitmap) {
    std::lock_guard lock(GdiMutex());
    auto b = LookupAs<Bitmap>(bitmap, Kind::Bitmap);
    return b ? b->surface : nullptr;
}

HBITMAP CreateBitmapFromSurface(std::shared_ptr<Surface> surface) {
    if (!surface) return nullptr;
    auto b = std::make_shared<Bitmap>();
    b->surface = std::move(surface);
    return static_cast<HBITMAP>(AddObject(b));
}

void SetWindowDCHooks(WindowDCHooks h) {
    std::lock_guard lock(hooks().mutex);
    hooks().hooks = std::move(h);
}

}  // namespace platform

HDC CreateCompatibleDC(HDC hdc) {
    std::lock_guard lock(GdiMutex());
    if (hdc && !LookupDC(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto dc = std::make_shared<DC>();
    dc->memory = true;
    InitDefaults(*dc);
    dc->bitmap = DefaultBitmap();
    dc->bitmap->selections++;
    return static_cast<HDC>(AddObject(dc));
}

BOOL DeleteDC(HDC hdc) {
    std::lock_guard lock(GdiMutex());
    if (!DeleteDCLocked(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HDC GetDC(HWND hwnd) {
    std::function<HDC(HWND)> get;
    {
        std::lock_guard lock(hooks().mutex);
        get = hooks().hooks.getDC;
    }
    // The window system takes its own locks: call it without any of ours.
    HDC hdc = get ? get(hwnd) : nullptr;
    if (!hdc) {
        if (get && hwnd) return nullptr;
        // No window system (or no screen DC from it): a DC that measures text and draws nowhere.
        hdc = CreateSurfaceDC(nullptr, POINT{0, 0}, RECT{0, 0, 0, 0});
    }
    if (auto dc = LookupDC(hdc)) {
        std::lock_guard lock(TableMutex());
        dc->hwnd = hwnd;
    }
    return hdc;
}

int ReleaseDC(HWND hwnd, HDC hdc) {
    std::function<void(HWND, HDC)> release;
    {
        auto dc = LookupDC(hdc);
        if (!dc || dc->memory || !dc->windowDC) return 0;
        std::lock_guard lock(hooks().mutex);
        release = hooks().hooks.releaseDC;
    }
    if (release) release(hwnd, hdc);
    std::lock_guard lock(GdiMutex());
    return DeleteDCLocked(hdc) ? 1 : 0;
}

int GetDeviceCaps(HDC hdc, int index) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return 0;
    auto s = SurfaceOf(*dc);
    switch (index) {
    case HORZRES: return s ? s->width() : 0;
    case VERTRES: return s ? s->height() : 0;
    case BITSPIXEL: return IsMonoDC(*dc) ? 1 : 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    default: return 0;
    }
}

HGDIOBJ GetStockObject(int object) {
    InitStock();
    if (object < 0 || object > DEFAULT_GUI_FONT || !stockObjects[object]) return nullptr;
    return HandleOf(stockObjects[object].get());
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    auto o = Lookup(object);
    if (!dc || !o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto swap = [&](auto& slot) -> HGDIOBJ {
        using T = typename std::decay_t<decltype(slot)>::element_type;
        auto prev = slot;
        slot = std::static_pointer_cast<T>(o);
        slot->selections++;
        if (!prev) return nullptr;
        prev->selections--;
        return HandleOf(prev.get());
    };
    switch (o->kind) {
    case Kind::Pen: return swap(dc->pen);
    case Kind::Brush: return swap(dc->brush);
    case Kind::Font: return swap(dc->font);
    case Kind::Bitmap: {
        // A bitmap lives in one memory DC at a time; the 1x1 default comes back as a handle.
        auto b = std::static_pointer_cast<Bitmap>(o);
        if (!dc->memory || (b->selections > 0 && b != dc->bitmap)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        auto prev = dc->bitmap;
        if (prev == b) return object;
        HGDIOBJ prevHandle = prev ? HandleOf(prev.get()) : nullptr;
        if (prev && !prevHandle) prevHandle = AddObject(prev);
        dc->bitmap = b;
        b->selections++;
        if (prev) prev->selections--;
        return prevHandle;
    }
    case Kind::DC: break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return nullptr;
    switch (type) {
    case OBJ_PEN: return HandleOf(dc->pen.get());
    case OBJ_BRUSH: return HandleOf(dc->brush.get());
    case OBJ_FONT: return HandleOf(dc->font.get());
    case OBJ_BITMAP:
        if (!dc->bitmap) return nullptr;
        if (void* h = HandleOf(dc->bitmap.get())) return h;
        return AddObject(dc->bitmap);
    default: return nullptr;
    }
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard lock(GdiMutex());
    auto o = Lookup(object);
    if (!o || o->kind == Kind::DC) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (o->stock) return TRUE;
    if (o->selections > 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RemoveObject(o.get());
    return TRUE;
}

DWORD GetObjectType(HGDIOBJ object) {
    std::lock_guard lock(GdiMutex());
    auto o = Lookup(object);
    if (!o) return 0;
    switch (o->kind) {
    case Kind::Pen: return OBJ_PEN;
    case Kind::Brush: return OBJ_BRUSH;
    case Kind::Font: return OBJ_FONT;
    case Kind::Bitmap: return OBJ_BITMAP;
    case Kind::DC: return std::static_pointer_cast<DC>(o)->memory ? OBJ_MEMDC : OBJ_DC;
    }
    return 0;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID out) {
    std::lock_guard lock(GdiMutex());
    auto o = Lookup(object);
    if (!o) return 0;
    auto give = [&](const auto& record) -> int {
        const int n = static_cast<int>(sizeof(record));
        if (!out) return n;
        if (size < n) return 0;
        std::memcpy(out, &record, n);
        return n;
    };
    switch (o->kind) {
    case Kind::Bitmap: {
        auto& b = static_cast<Bitmap&>(*o);
        BITMAP bm{};
        bm.bmType = 0;
        bm.bmWidth = b.surface ? b.surface->width() : 0;
        bm.bmHeight = b.surface ? b.surface->height() : 0;
        bm.bmPlanes = static_cast<WORD>(b.planes);
        bm.bmBitsPixel = static_cast<WORD>(b.bpp);
        bm.bmWidthBytes = ((bm.bmWidth * b.bpp + 15) / 16) * 2;
        bm.bmBits = nullptr;
        return give(bm);
    }
    case Kind::Pen: {
        auto& p = static_cast<Pen&>(*o);
        LOGPEN lp{static_cast<UINT>(p.style), POINT{p.width, 0}, p.colour};
        return give(lp);
    }
    case Kind::Brush: {
        auto& b = static_cast<Brush&>(*o);
        LOGBRUSH lb{static_cast<UINT>(b.style), b.colour, 0};
        return give(lb);
    }
    case Kind::Font: return give(static_cast<Font&>(*o).lf);
    case Kind::DC: break;
    }
    return 0;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc || width < 0 || height < 0) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (static_cast<int64_t>(width) * height > kMaxBitmapPixels) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto b = std::make_shared<Bitmap>();
    // As on the platform: compatible with what the DC draws on, so a fresh memory DC
    // (holding its 1x1 monochrome bitmap) gives a monochrome bitmap.
    b->mono = IsMonoDC(*dc);
    b->bpp = b->mono ? 1 : 32;
    b->surface = std::make_shared<Surface>();
    if (!b->surface->Resize(width, height, 0x000000)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<HBITMAP>(AddObject(b));
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    std::lock_guard lock(GdiMutex());
    if (width < 0 || height < 0 || planes != 1 ||
        (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (static_cast<int64_t>(width) * height > kMaxBitmapPixels) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto b = std::make_shared<Bitmap>();
    b->mono = bitsPerPixel == 1;
    b->bpp = static_cast<int>(bitsPerPixel);
    b->planes = 1;
    b->surface = std::make_shared<Surface>();
    if (!b->surface->Resize(width, height, 0x000000)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (bits) {
        // Rows of the platform's device-dependent format: padded to 16 bits.
        const auto* p = static_cast<const uint8_t*>(bits);
        const size_t rowBytes = ((static_cast<size_t>(width) * bitsPerPixel + 15) / 16) * 2;
        for (int y = 0; y < height; ++y) {
            const uint8_t* r = p + rowBytes * y;
            uint32_t* d = b->surface->row(y);
            for (int x = 0; x < width; ++x) {
                switch (bitsPerPixel) {
                case 1: d[x] = (r[x >> 3] & (0x80 >> (x & 7))) ? 0xFFFFFFu : 0u; break;
                case 8: d[x] = r[x] * 0x010101u; break;
                case 16: {
                    unsigned v = r[2 * x] | (r[2 * x + 1] << 8);
                    unsigned rr = (v >> 11) & 31, gg = (v >> 5) & 63, bb = v & 31;
                    d[x] = ((rr * 255 / 31) << 16) | ((gg * 255 / 63) << 8) | (bb * 255 / 31);
                    break;
                }
                case 24: d[x] = r[3 * x] | (r[3 * x + 1] << 8) | (r[3 * x + 2] << 16); break;
                default: d[x] = (r[4 * x] | (r[4 * x + 1] << 8) | (r[4 * x + 2] << 16)); break;
                }
            }
        }
    }
    return static_cast<HBITMAP>(AddObject(b));
}

HPEN CreatePen(int style, int width, COLORREF colour) {
    std::lock_guard lock(GdiMutex());
    if (style != PS_SOLID && style != PS_DASH && style != PS_DOT && style != PS_NULL && style != PS_INSIDEFRAME) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto p = std::make_shared<Pen>();
    p->style = style;
    p->width = std::max(width, 1);
    p->colour = colour & 0xFFFFFF;
    return static_cast<HPEN>(AddObject(p));
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    std::lock_guard lock(GdiMutex());
    auto b = std::make_shared<Brush>();
    b->colour = colour & 0xFFFFFF;
    return static_cast<HBRUSH>(AddObject(b));
}

COLORREF SetTextColor(HDC hdc, COLORREF colour) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return CLR_INVALID;
    COLORREF prev = dc->textColour;
    dc->textColour = colour & 0xFFFFFF;
    return prev;
}

COLORREF GetTextColor(HDC hdc) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    return dc ? dc->textColour : CLR_INVALID;
}

COLORREF SetBkColor(HDC hdc, COLORREF colour) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return CLR_INVALID;
    COLORREF prev = dc->bkColour;
    dc->bkColour = colour & 0xFFFFFF;
    return prev;
}

COLORREF GetBkColor(HDC hdc) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    return dc ? dc->bkColour : CLR_INVALID;
}

int SetBkMode(HDC hdc, int mode) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int prev = dc->bkMode;
    dc->bkMode = mode;
    return prev;
}

int GetBkMode(HDC hdc) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    return dc ? dc->bkMode : 0;
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return 0;
    RECT r{left, top, right, bottom};
    dc->userClip = dc->hasUserClip ? Intersect(dc->userClip, r) : r;
    dc->hasUserClip = true;
    return IsRectEmpty(&dc->userClip) ? 1 /* NULLREGION */ : 2 /* SIMPLEREGION */;
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT previous) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    if (previous) *previous = dc->viewport;
    dc->viewport = POINT{x, y};
    return TRUE;
}

namespace {

using DrvEscapeProc = int (*)(int, int, const void*, int, void*);

int CollectLibraries(dl_phdr_info* info, size_t, void* data) {
    if (info->dlpi_name && *info->dlpi_name) static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
    return 0;
}

// The loaded library that exports DrvEscape (looked up after the walk: dlopen must not
// run under the walk's lock).
DrvEscapeProc FindDrvEscape() {
    std::vector<std::string> names;
    dl_iterate_phdr(CollectLibraries, &names);
    for (const auto& name : names) {
        void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!h) continue;
        auto proc = reinterpret_cast<DrvEscapeProc>(dlsym(h, "DrvEscape"));
        dlclose(h);  // the library stays loaded: its own loader holds it
        if (proc) return proc;
    }
    return nullptr;
}

}  // namespace

int ExtEscape(HDC hdc, int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output) {
    if (!hdc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    // The display driver is whichever loaded library answers escapes.
    DrvEscapeProc proc = FindDrvEscape();
    if (!proc) return 0;
    return proc(escape, inputSize, input, outputSize, output);
}
