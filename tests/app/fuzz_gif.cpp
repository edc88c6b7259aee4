// libFuzzer target: any bytes given to the GIF decoder decode or fail cleanly, in bounded
// time, and what it decodes lies on the logical screen.
#include <cstddef>
#include <cstdint>

#include "gif.h"
#include "platform/gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GifPlayer gif;
    if (LoadGifData(&gif, data, size) != 1) return 0;
    // Enough calls to go round a short animation more than once.
    for (int i = 0; i < 64; ++i) {
        if (NextGifFrame(&gif) != 1) continue;
        if (gif.frameLeft + gif.frameWidth > gif.screenWidth || gif.frameTop + gif.frameHeight > gif.screenHeight ||
            gif.framePixels.size() != static_cast<size_t>(gif.rowStride) * gif.frameHeight)
            __builtin_trap();
    }
    // The shell loader's first frame and the player's drawing, on small screens (large ones
    // only cost time here).
    if (static_cast<int64_t>(gif.screenWidth) * gif.screenHeight > 256 * 256) return 0;
    if (auto s = DecodeGifFirstFrame(data, size))
        if (s->width() != gif.screenWidth || s->height() != gif.screenHeight) __builtin_trap();

    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP screen = CreateBitmap(gif.screenWidth, gif.screenHeight, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, screen);
    InitGif(&gif, dc);
    if (LoadGifData(&gif, data, size) == 1) {
        GifCanvas canvas;
        if (BeginGifCanvas(&gif, &canvas) == 0)
            for (int i = 0; i < 16; ++i) ShowGifFrame(&gif, &canvas, i == 8);
        EndGifCanvas(&gif, &canvas);
    }
    SelectObject(dc, old);
    DeleteObject(screen);
    DeleteDC(dc);
    return 0;
}
