// Pixel surfaces and the seam between the drawing layer and the window system.
#pragma once

#include "platform/wintypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// 32-bit pixels 0x00RRGGBB (the high byte is ignored), rows top-down, `stride` pixels apart.
class Surface {
public:
    Surface() = default;
    Surface(int width, int height, uint32_t fill = 0x000000);
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return width_; }
    uint32_t* pixels() { return pixels_.data(); }
    const uint32_t* pixels() const { return pixels_.data(); }
    uint32_t* row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
    const uint32_t* row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
    uint32_t at(int x, int y) const { return row(y)[x]; }

    // New size; the contents become `fill`. Negative sizes count as 0. False when the
    // pixels cannot be allocated (the surface is then empty).
    bool Resize(int width, int height, uint32_t fill = 0x000000);
    void Fill(uint32_t xrgb);

    // Bumped by every drawing call that reaches this surface, so a display can tell
    // whether it has to present again.
    uint64_t generation() const { return generation_.load(std::memory_order_relaxed); }
    void Touch() { generation_.fetch_add(1, std::memory_order_relaxed); }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
    std::atomic<uint64_t> generation_{0};
};

// Every drawing call holds this lock; whoever reads or resizes a surface that DCs draw
// into (the compositor, a screenshot) holds it too. Recursive. CreateSurfaceDC,
// SetSurfaceDCGeometry, GetDC and CreateBitmapFromSurface never wait for it, so the window
// system may call them while it holds its own locks (and take this one before its own).
std::recursive_mutex& GdiMutex();

inline uint32_t XrgbFromColorref(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline COLORREF ColorrefFromXrgb(uint32_t p) {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

// A DC that draws into `surface`: DC point (0, 0) is surface point `origin`, and nothing is
// drawn outside `clip` (surface coordinates; it is also cut to the surface). A window DC:
// DeleteDC or ReleaseDC frees it. NULL surface: a DC that measures but draws nothing.
HDC CreateSurfaceDC(std::shared_ptr<Surface> surface, POINT origin, const RECT& clip);
// Moves a surface DC (the window moved, resized or was hidden: an empty clip). FALSE when
// `hdc` is not a surface DC.
BOOL SetSurfaceDCGeometry(HDC hdc, POINT origin, const RECT& clip);
// The surface a DC draws into (its selected bitmap's for a memory DC), or null.
std::shared_ptr<Surface> SurfaceOfDC(HDC hdc);
// A bitmap's pixels (monochrome bitmaps hold 0x000000 and 0xFFFFFF), or null.
std::shared_ptr<Surface> SurfaceOfBitmap(HBITMAP bitmap);
// A colour bitmap that wraps an existing surface (a decoded picture, a window's buffer).
HBITMAP CreateBitmapFromSurface(std::shared_ptr<Surface> surface);

// How GetDC and ReleaseDC reach the window system. getDC returns a DC made with
// CreateSurfaceDC for the window's client area (hwnd NULL: the whole screen), or NULL.
// releaseDC is told before ReleaseDC deletes such a DC.
struct WindowDCHooks {
    std::function<HDC(HWND)> getDC;
    std::function<void(HWND, HDC)> releaseDC;
};
void SetWindowDCHooks(WindowDCHooks hooks);

// PNG files of surfaces (screenshots, the skin). False on failure.
bool WritePng(const Surface& surface, const std::string& path);

}  // namespace platform
