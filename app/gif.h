// Animated GIF pictures (GIF87a and GIF89a): a decoder of their frames and a player that
// shows them in a loop on its own thread, straight onto a window's device context.
//
// The player thread touches only its own GifPlayer and `dc`; StopGif returns once it has
// let go of both. PlayGif, StopGif and LoadGif may be called from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi.h"
#include "platform/surface.h"
#include "platform/sync.h"
#include "platform/windows.h"

#define GIF_DEFAULT_DELAY 50  // milliseconds, for a frame whose delay is 0
#define GIF_STATE_IDLE 0
#define GIF_STATE_STOP 1      // asked to stop
#define GIF_STATE_STOPPED 2
#define GIF_STATE_RUNNING 5
// Logical screens (and so frames) larger than this many pixels are refused.
#define GIF_MAX_PIXELS (2048 * 2048)
#define GIF_MAX_CODES 4096

// GIF89a disposal methods as kept in `disposal` (the packed byte AND 0x1C).
#define GIF_DISPOSE_NONE 0
#define GIF_DISPOSE_LEAVE 4
#define GIF_DISPOSE_BACKGROUND 8
#define GIF_DISPOSE_PREVIOUS 12

struct GifPlayer {
    GifPlayer();
    ~GifPlayer();
    GifPlayer(const GifPlayer&) = delete;
    GifPlayer& operator=(const GifPlayer&) = delete;

    HDC dc = nullptr;              // the owning window's DC: where frames are shown
    std::atomic<int32_t> paused{0};  // non-zero: the thread shows the last frame again
    // The current image, as its descriptor placed it on the logical screen.
    int32_t frameLeft = 0, frameTop = 0, frameWidth = 0, frameHeight = 0;
    int32_t rowStride = 0;         // frame width rounded up to a multiple of 4
    // The graphic control extension in force for the next image.
    int32_t disposal = 0;          // GIF_DISPOSE_*
    int32_t transparent = 0;
    int32_t transparentIndex = 0;
    int32_t delay = 0;             // hundredths of a second; 0: defaultDelay
    int32_t defaultDelay = GIF_DEFAULT_DELAY;
    // The colour the current frame's transparent pixels have in its bitmap: one that no
    // other entry of its colour table has, so that masking by colour masks exactly them.
    COLORREF transparentColour = 0;
    std::vector<uint8_t> globalColours;  // 3 bytes per entry
    int32_t globalColourCount = 0;
    std::vector<uint8_t> data;     // the file after its header and global colour table
    int32_t dataSize = 0;
    size_t readPos = 0;            // the block parser's position in `data`
    int32_t consumed = 0;
    std::atomic<int32_t> state{GIF_STATE_IDLE};  // GIF_STATE_*
    HBITMAP canvas = nullptr;      // the composed logical screen
    int32_t screenWidth = 0, screenHeight = 0;
    std::atomic<int32_t> drawX{0}, drawY{0};  // where the logical screen goes on `dc`
    int32_t playing = 0;           // 1 between PlayGif and StopGif

    // The decoded frame: a DIB header with 256 colours and the 8-bit pixels, top-down,
    // rowStride bytes a row.
    struct FrameInfo {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } frameInfo{};
    std::vector<uint8_t> framePixels;
    int32_t frameColourCount = 0;
    int32_t frameDisposal = 0;     // the disposal, transparency and delay of the decoded frame
    int32_t frameTransparent = 0;
    int32_t frameTransparentIndex = 0;
    int32_t frameDelay = 0;

    // LZW state of the image being decoded.
    struct Lzw {
        uint32_t bits = 0;          // bit buffer, least significant bit first
        int32_t bitCount = 0;
        int32_t codeWidth = 0, initialWidth = 0;
        int32_t blockLeft = 0;      // bytes left in the current data sub-block
        bool blocksEnded = false;   // the image's data sub-blocks are used up
        int32_t row = 0, column = 0, pass = 0;
        int64_t pixelsLeft = 0;
        uint16_t suffix[GIF_MAX_CODES];
        uint16_t prefix[GIF_MAX_CODES];
        uint16_t length[GIF_MAX_CODES];
        uint8_t stack[GIF_MAX_CODES];
    };
    std::unique_ptr<Lzw> lzw;

    CRITICAL_SECTION lock;  // PlayGif, StopGif and LoadGif, one at a time
};

extern GifPlayer g_dtlGif;   // the detail page's "relVideo.gif"
extern GifPlayer g_waitGif;  // the wait dialog's "dlg.gif"

// Resets the player (stopping it first) and gives it the DC it draws on.
void InitGif(GifPlayer* gif, HDC dc);
// Loads a GIF file (stopping the player first). 1, or 0 when the file is missing, is not a
// GIF87a or GIF89a file, ends inside its header or colour table, or its logical screen is
// empty or larger than GIF_MAX_PIXELS.
int LoadGif(GifPlayer* gif, const wchar_t* path);
// The same from bytes in memory.
int LoadGifData(GifPlayer* gif, const uint8_t* bytes, size_t size);
void SetGifPosition(GifPlayer* gif, int x, int y);
void SetGifPaused(GifPlayer* gif, int flag);
// Starts the animation thread when the player has a DC and a file and is not running.
void PlayGif(GifPlayer* gif);
// Stops the animation thread and waits until it has ended; at once when none runs.
void StopGif(GifPlayer* gif);

// The block parser: decodes the next image into frameInfo and framePixels, with its
// rectangle in frameLeft..frameHeight. 1 when there is a frame; 0 when the next image is
// broken or there is none (the parser then stands after it, or at the start of the data
// once the data ended). The data is walked past its end at most once per call.
int NextGifFrame(GifPlayer* gif);

// The first frame of a GIF file in memory on its logical screen, transparent parts white;
// null when there is none. The shell's image loader uses it for ".gif" pictures.
std::shared_ptr<platform::Surface> DecodeGifFirstFrame(const uint8_t* bytes, size_t size);
void RegisterGifDecoder();

// The animation thread's drawing, one frame a call, apart from its timing.
struct GifCanvas {
    HDC frameDC = nullptr, canvasDC = nullptr, lastDC = nullptr, backDC = nullptr, savedDC = nullptr,
        maskDC = nullptr;
    HBITMAP last = nullptr;        // the frame shown last (repeated while paused)
    HBITMAP background = nullptr;  // what `dc` showed under the animation when it started
    HBITMAP saved = nullptr;       // the canvas under a frame that restores it afterwards
    HGDIOBJ oldCanvas = nullptr, oldLast = nullptr, oldBack = nullptr, oldSaved = nullptr;
    int32_t shownDisposal = GIF_DISPOSE_LEAVE;  // the disposal of the frame on show
    RECT shownRect{0, 0, 0, 0};
};
// Makes the DCs and the canvas, which starts as what `dc` shows at (drawX, drawY). 0 or -1.
int BeginGifCanvas(GifPlayer* gif, GifCanvas* c);
// Disposes of the frame on show, draws the next one and shows the canvas on `dc`; while
// paused, shows the last frame again. Returns the frame's time in milliseconds.
int ShowGifFrame(GifPlayer* gif, GifCanvas* c, bool paused);
void EndGifCanvas(GifPlayer* gif, GifCanvas* c);
