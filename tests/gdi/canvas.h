// A memory DC with a white colour bitmap, for drawing tests.
#pragma once

#include "platform/gdi.h"

struct Canvas {
    HDC screen = nullptr;
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    int width, height;
    Canvas(int w, int h, COLORREF fill = RGB(255, 255, 255)) : width(w), height(h) {
        screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bmp = CreateCompatibleBitmap(screen, w, h);
        old = SelectObject(dc, bmp);
        Fill(fill);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    void Fill(COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        RECT r{0, 0, width, height};
        FillRect(dc, &r, b);
        DeleteObject(b);
    }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
    // Rows and columns that hold a pixel other than `bg` (-1 when none).
    RECT Ink(COLORREF bg = RGB(255, 255, 255)) const {
        RECT r{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (at(x, y) != bg) {
                    r.left = x < r.left ? x : r.left;
                    r.top = y < r.top ? y : r.top;
                    r.right = x > r.right ? x : r.right;
                    r.bottom = y > r.bottom ? y : r.bottom;
                }
        if (r.right < 0) r = RECT{-1, -1, -1, -1};
        return r;
    }
    bool RowHasInk(int y, COLORREF bg = RGB(255, 255, 255)) const {
        for (int x = 0; x < width; ++x)
            if (at(x, y) != bg) return true;
        return false;
    }
};
