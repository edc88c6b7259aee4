#include "gif.h"

#include <vector>

#include "log.h"
#include "platform/files.h"

GifPlayer g_dtlGif;
GifPlayer g_waitGif;

namespace {

void FreeBitmap(HDC dc, HGDIOBJ old, HBITMAP* bitmap) {
    if (dc && old) SelectObject(dc, old);
    if (*bitmap) DeleteObject(*bitmap);
    *bitmap = nullptr;
}

void FreeDC(HDC* dc) {
    if (*dc) DeleteDC(*dc);
    *dc = nullptr;
}

int FrameTime(const GifPlayer* g, int delay) { return delay > 0 ? delay * 10 : g->defaultDelay; }

DWORD GifThreadProc(LPVOID param) {
    GifPlayer* g = static_cast<GifPlayer*>(param);
    GifCanvas c;
    if (BeginGifCanvas(g, &c) == 0) {
        bool paused = false;
        while (g->state.load() != GIF_STATE_STOP) {
            DWORD t0 = GetTickCount();
            DWORD time = static_cast<DWORD>(ShowGifFrame(g, &c, paused));
            while (GetTickCount() - t0 < time && g->state.load() != GIF_STATE_STOP) Sleep(10);
            paused = g->paused.load() != 0;
        }
    } else {
        LOG(LOG_WARNING, L"gif canvas failed");
    }
    EndGifCanvas(g, &c);
    // The last touch of the player: StopGif may free it from here on.
    g->state.store(GIF_STATE_STOPPED);
    return 0;
}

}  // namespace

GifPlayer::GifPlayer() {
    InitializeCriticalSection(&lock);
    // The drawing layer's handle table must outlive the players, which delete their canvas
    // when the program's static objects go: using it now builds it first.
    GetObjectType(nullptr);
}

GifPlayer::~GifPlayer() {
    StopGif(this);
    if (canvas) DeleteObject(canvas);
    DeleteCriticalSection(&lock);
}

void InitGif(GifPlayer* gif, HDC dc) {
    StopGif(gif);
    platform::CsLock lock(&gif->lock);
    gif->dc = dc;
    gif->paused = 0;
    gif->globalColours.clear();
    gif->globalColourCount = 0;
    gif->data.clear();
    gif->dataSize = 0;
    gif->readPos = 0;
    gif->consumed = 0;
    gif->screenWidth = gif->screenHeight = 0;
    if (gif->canvas) DeleteObject(gif->canvas);
    gif->canvas = nullptr;
    gif->state = GIF_STATE_IDLE;
    gif->defaultDelay = GIF_DEFAULT_DELAY;
    gif->drawX = gif->drawY = 0;
    gif->playing = 0;
}

int LoadGif(GifPlayer* gif, const wchar_t* path) {
    StopGif(gif);
    HANDLE file = path ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        LoadGifData(gif, nullptr, 0);
        return 0;
    }
    std::vector<uint8_t> bytes;
    DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok) {
        try {
            bytes.resize(size);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    DWORD read = 0;
    ok = ok && (size == 0 || (ReadFile(file, bytes.data(), size, &read, nullptr) && read == size));
    CloseHandle(file);
    return LoadGifData(gif, ok ? bytes.data() : nullptr, ok ? bytes.size() : 0);
}

void SetGifPosition(GifPlayer* gif, int x, int y) {
    gif->drawX = x;
    gif->drawY = y;
}


void SetGifPaused(GifPlayer* gif, int flag) { gif->paused = flag & 255; }

void PlayGif(GifPlayer* gif) {
    platform::CsLock lock(&gif->lock);
    if (!gif->dc || gif->screenWidth <= 0 || gif->state.load() == GIF_STATE_RUNNING || gif->playing == 1) return;
    gif->playing = 1;
    gif->readPos = 0;
    gif->consumed = 0;
    gif->disposal = gif->transparent = gif->transparentIndex = gif->delay = 0;
    gif->state = GIF_STATE_RUNNING;
    HANDLE thread = CreateThread(nullptr, 0, GifThreadProc, gif, 0, nullptr);
    if (!thread) {
        LOG(LOG_ERROR, L"CreateThread failed");
        // Nothing runs: StopGif must not wait for it.
        gif->state = GIF_STATE_STOPPED;
        gif->playing = 0;
        return;
    }
    CloseHandle(thread);
}

void StopGif(GifPlayer* gif) {
    platform::CsLock lock(&gif->lock);
    int32_t running = GIF_STATE_RUNNING;
    if (gif->state.compare_exchange_strong(running, GIF_STATE_STOP)) {
        // At most one frame's decoding and one 10 ms step.
        while (gif->state.load() != GIF_STATE_STOPPED) Sleep(1);
    }
    gif->playing = 0;
}

int BeginGifCanvas(GifPlayer* g, GifCanvas* c) {
    const int w = g->screenWidth, h = g->screenHeight;
    c->frameDC = CreateCompatibleDC(g->dc);
    c->canvasDC = CreateCompatibleDC(g->dc);
    c->lastDC = CreateCompatibleDC(g->dc);
    c->backDC = CreateCompatibleDC(g->dc);
    c->savedDC = CreateCompatibleDC(g->dc);
    c->maskDC = CreateCompatibleDC(g->dc);
    if (g->canvas) DeleteObject(g->canvas);
    g->canvas = CreateCompatibleBitmap(g->dc, w, h);
    c->last = CreateCompatibleBitmap(g->dc, w, h);
    c->background = CreateCompatibleBitmap(g->dc, w, h);
    if (!c->frameDC || !c->canvasDC || !c->lastDC || !c->backDC || !c->savedDC || !c->maskDC || !g->canvas ||
        !c->last || !c->background)
        return -1;
    c->oldCanvas = SelectObject(c->canvasDC, g->canvas);
    c->oldLast = SelectObject(c->lastDC, c->last);
    c->oldBack = SelectObject(c->backDC, c->background);
    // Transparent parts show the window beneath.
    BitBlt(c->canvasDC, 0, 0, w, h, g->dc, g->drawX, g->drawY, SRCCOPY);
    BitBlt(c->backDC, 0, 0, w, h, c->canvasDC, 0, 0, SRCCOPY);
    BitBlt(c->lastDC, 0, 0, w, h, c->canvasDC, 0, 0, SRCCOPY);
    // Masks turn into colour as black (0) and white (1).
    SetTextColor(c->canvasDC, RGB(0, 0, 0));
    SetBkColor(c->canvasDC, RGB(255, 255, 255));
    c->shownDisposal = GIF_DISPOSE_LEAVE;
    return 0;
}

int ShowGifFrame(GifPlayer* g, GifCanvas* c, bool paused) {
    const int w = g->screenWidth, h = g->screenHeight;
    if (paused) {
        BitBlt(g->dc, g->drawX, g->drawY, w, h, c->lastDC, 0, 0, SRCCOPY);
        return FrameTime(g, g->frameDelay);
    }
    const RECT& r = c->shownRect;
    if (c->shownDisposal == GIF_DISPOSE_BACKGROUND) {
        // The background of an animation is what it is drawn over.
        BitBlt(c->canvasDC, r.left, r.top, r.right - r.left, r.bottom - r.top, c->backDC, r.left, r.top, SRCCOPY);
    } else if (c->shownDisposal == GIF_DISPOSE_PREVIOUS && c->saved) {
        BitBlt(c->canvasDC, r.left, r.top, r.right - r.left, r.bottom - r.top, c->savedDC, 0, 0, SRCCOPY);
    }
    FreeBitmap(c->savedDC, c->oldSaved, &c->saved);
    c->oldSaved = nullptr;
    c->shownDisposal = GIF_DISPOSE_NONE;

    int time = g->defaultDelay;
    if (NextGifFrame(g)) {
        const int fl = g->frameLeft, ft = g->frameTop, fw = g->frameWidth, fh = g->frameHeight;
        if (g->frameDisposal == GIF_DISPOSE_PREVIOUS) {
            c->saved = CreateCompatibleBitmap(g->dc, fw, fh);
            c->oldSaved = c->saved ? SelectObject(c->savedDC, c->saved) : nullptr;
            if (c->oldSaved) BitBlt(c->savedDC, 0, 0, fw, fh, c->canvasDC, fl, ft, SRCCOPY);
            else FreeBitmap(nullptr, nullptr, &c->saved);
        }
        HBITMAP frame = CreateCompatibleBitmap(g->dc, fw, fh);
        HGDIOBJ oldFrame = frame ? SelectObject(c->frameDC, frame) : nullptr;
        if (oldFrame) {
            StretchDIBits(c->frameDC, 0, 0, fw, fh, 0, 0, fw, fh, g->framePixels.data(),
                          reinterpret_cast<const BITMAPINFO*>(&g->frameInfo), DIB_RGB_COLORS, SRCCOPY);
            HBITMAP mask = g->frameTransparent ? CreateBitmap(fw, fh, 1, 1, nullptr) : nullptr;
            HGDIOBJ oldMask = mask ? SelectObject(c->maskDC, mask) : nullptr;
            if (oldMask) {
                // Mask: 1 where the frame is transparent. Keep the canvas there, the frame
                // elsewhere.
                SetBkColor(c->frameDC, g->transparentColour);
                BitBlt(c->maskDC, 0, 0, fw, fh, c->frameDC, 0, 0, SRCCOPY);
                BitBlt(c->canvasDC, fl, ft, fw, fh, c->maskDC, 0, 0, SRCAND);
                SetTextColor(c->frameDC, RGB(0, 0, 0));
                SetBkColor(c->frameDC, RGB(255, 255, 255));
                BitBlt(c->frameDC, 0, 0, fw, fh, c->maskDC, 0, 0, 0x00220326);  // frame AND NOT mask
                BitBlt(c->canvasDC, fl, ft, fw, fh, c->frameDC, 0, 0, SRCPAINT);
                SelectObject(c->maskDC, oldMask);
            } else {
                BitBlt(c->canvasDC, fl, ft, fw, fh, c->frameDC, 0, 0, SRCCOPY);
            }
            if (mask) DeleteObject(mask);
            SelectObject(c->frameDC, oldFrame);
        }
        if (frame) DeleteObject(frame);
        c->shownDisposal = g->frameDisposal;
        c->shownRect = RECT{fl, ft, fl + fw, ft + fh};
        time = FrameTime(g, g->frameDelay);
    }
    BitBlt(g->dc, g->drawX, g->drawY, w, h, c->canvasDC, 0, 0, SRCCOPY);
    BitBlt(c->lastDC, 0, 0, w, h, c->canvasDC, 0, 0, SRCCOPY);
    return time;
}

void EndGifCanvas(GifPlayer* g, GifCanvas* c) {
    (void)g;
    FreeBitmap(c->savedDC, c->oldSaved, &c->saved);
    c->oldSaved = nullptr;
    if (c->canvasDC && c->oldCanvas) SelectObject(c->canvasDC, c->oldCanvas);
    FreeBitmap(c->lastDC, c->oldLast, &c->last);
    FreeBitmap(c->backDC, c->oldBack, &c->background);
    c->oldCanvas = c->oldLast = c->oldBack = nullptr;
    FreeDC(&c->frameDC);
    FreeDC(&c->canvasDC);
    FreeDC(&c->lastDC);
    FreeDC(&c->backDC);
    FreeDC(&c->savedDC);
    FreeDC(&c->maskDC);
}
