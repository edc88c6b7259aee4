// Video output: the overlay base (class OVLA), the IDCT face base (class IDCT), the
// format, effect and rect records, CPU surfaces, the CPU blitter, geometry and display
// queries.
//
// Direction flags (video, screen and effect directions): DIR_SWAPXY exchanges the axes,
// then DIR_MIRRORX / DIR_MIRRORY mirror the (exchanged) picture.
#pragma once

#include <cstdint>

#include "core/node.h"

#define DIR_SWAPXY 1
#define DIR_MIRRORX 2
#define DIR_MIRRORY 4

// Pixel format flags.
#define PF_RGB 0x01
#define PF_PALETTE 0x02
#define PF_FOURCC 0x04
#define PF_PLANAR 0x08  // with PF_FOURCC: planar YUV (Y, U, V planes)

struct PixelFormat {
    uint32_t flags;
    fourcc_t fourcc;
    int32_t bitCount;     // bits per pixel (RGB, palette) or of the luma plane (planar: 8)
    uint32_t mask[4];     // R, G, B, A (RGB formats)
};

// Video or surface format: 12 32-bit words (48 bytes).
struct VideoFormat {
    int32_t direction;    // DIR_* flags
    int32_t aspect;       // pixel aspect or scale, 16.16 (0x10000 = 1)
    int32_t width;
    int32_t height;
    int32_t pitch;        // bytes per row of the first plane; 0 = DefaultPitch
    PixelFormat pixel;
};
static_assert(sizeof(VideoFormat) == 48, "the video format is 48 bytes");

// The 72-byte output-format form: the 48-byte format and six words the core keeps zero
// when it widens a 48-byte one.
struct VideoFormatEx {
    VideoFormat format;
    int32_t extra[6];
};
static_assert(sizeof(VideoFormatEx) == 72, "the output format is 72 bytes");

// A rectangle: position and size.
struct VRect {
    int x;
    int y;
    int width;
    int height;
};

// Output effects.
struct VideoEffects {
    int32_t flags;       // FX_* flags (plug-ins add their own blit flags)
    int32_t scaleX;      // 16.16, written by AnyAlign
    int32_t scaleY;
    int32_t brightness;  // added to luma (or to each colour), -128..127
    int32_t contrast;
    int32_t saturation;
    int32_t direction;   // DIR_* flags applied on top of the video's
    int32_t rgbAdjust[3];
};
#define FX_STRETCH_SMOOTH 0x101  // either bit asks for smooth stretching

// Three plane pointers (Y, U, V; RGB: one plane) and their pitches.
using Planes = void* [3];
using Pitches = int[3];

// --- The IDCT face ---

struct IdctFrameEnd {
    int drop;
    int frameTime;
};

// Face record: word 0 the face's FourCC (the owner's create sets it), words 1-10 the
// face slots, words 11-16 the per-macroblock routines, then the plug-in's fields.
struct IdctFace {
    uintptr_t classId;                                                  // 0
    int (*enumParams)(void* face, int index, ParamInfo* out);          // 1
    int (*getParam)(void* face, int id, void* data, int size);         // 2
    int (*setParam)(void* face, int id, const void* data, int size);   // 3
    int (*frameEnd)(void* face, int timeNow, IdctFrameEnd* frame);     // 4
    int (*countFrame)(void* face, int* counter, int flag);             // 5
    int (*resetReferences)(void* face);                                 // 6
    int (*lockBuffer)(void* face, int index, Planes planes, int* brightness, VideoFormat* format);  // 7
    int (*unlockBuffer)(void* face, int index);                         // 8
    int (*frameStart)(void* face, int frame, int* previous, int target, int forward, int backward,
                      int show, int noWait);                            // 9
    int (*endChipFrame)(void* face);                                    // 10
    void (*position)(void* face, int x, int y);                         // 11
    void (*skipped)(void* face, int x, int y, int backward);            // 12
    void (*vectorA)(void* face, const void* forward, const void* backward);  // 13
    void (*vectorB)(void* face, const void* forward, const void* backward);  // 14
    void (*intra)(void* face, const int16_t* coeffs, int count, int scanKind);  // 15
    void (*inter)(void* face, const int16_t* coeffs, int count);       // 16
};

// Face parameter ids.
#define IDCT_OWNER 11          // get: the owning object
#define IDCT_ONE 21            // get: 1
#define IDCT_END_NO_PICTURE 22 // set: end the frame without a picture
#define IDCT_NOTHING_TO_SHOW 23
#define IDCT_MODE 80           // decoding-mode bit
#define IDCT_FORMAT 81         // output format: get 48 bytes, set 48 (widened) or 72
#define IDCT_OWNER_INFO 82     // {owner, 32}
#define IDCT_COUNT 83          // buffer count
#define IDCT_SHOW 86           // show index
#define IDCT_WIDTH 87
#define IDCT_HEIGHT 88
#define IDCT_BACKUP 89         // get: IDCTBackup, set: IDCTRestore
#define IDCT_ZERO 91
#define IDCT_FORMAT_COPY 0x10052  // 72-byte format copy
#define IDCT_ZERO2 0x20052
#define IDCT_FRAME_NUMBER 4096    // + buffer index: frame number held by that buffer

// The backup record: 504 bytes of 32-bit words. Pictures are kept by the core and named
// by handles, so the record holds no pointers.
#define IDCT_BACKUP_BUFFERS 32
struct IdctBackupRecord {
    VideoFormat format;
    int32_t width;
    int32_t height;
    int32_t count;
    int32_t showIndex;
    int32_t frameNumber[IDCT_BACKUP_BUFFERS];
    int32_t picture[IDCT_BACKUP_BUFFERS];  // handles, 0 = none
    int32_t spare[46];
};
static_assert(sizeof(IdctBackupRecord) == 504, "the backup record is 504 bytes");

// The base parameters of a face (enumerated first); the plug-in's table follows at
// index IDCT_PARAM_COUNT.
#define IDCT_PARAM_COUNT 8
int IDCTEnum(void* face, int index, ParamInfo* out);
// Saves the face's state through its own slots; the pictures are copied to system memory.
int IDCTBackup(void* face, IdctBackupRecord* record);
// Restores a saved state and releases the saved pictures. Result 0 or the first failure.
int IDCTRestore(void* face, const IdctBackupRecord* record);

// --- The overlay base ---

struct Blitter;

// Slot order and base fields of an overlay object. Classes deriving from OVLA put their
// fields after this record.
struct Overlay {
    Node node;                                                         // words 0-3
    int (*initOutput)(void* self);                                     // 4
    int (*doneOutput)(void* self);                                     // 5
    int (*blitFrame)(void* self, Planes src, const int* srcPitches);   // 6
    int (*updateOutput)(void* self);                                   // 7
    int (*showOverlay)(void* self, int show);                          // 8
    int (*refreshDisplayMode)(void* self);                             // 9
    void* coreWord10;                                                  // 10
    void* coreWord11;                                                  // 11
    IdctFace* idctFace;                                                // 12

    VideoEffects fx;
    VideoFormatEx format;   // the video format of the frames (0x10020)
    VideoFormat screen;     // the screen surface
    VRect viewport;
    VRect dst;
    VRect src;
    int visible;
    int fullScreen;
    uint32_t colorKey;      // COLORKEY_NONE when none
    Blitter* blitter;
    int available;
    int overlay;            // colour-keyed overlay (1) or blit to the screen (0)
    int repeat;             // a repeated frame time is accepted
    int lastShownTime;
    int lastCurrentTime;
    int droppedFrames;      // countFrame's first counter
    int shownFrames;        // countFrame's second counter
    int fullyVisible;       // the output is not covered by other windows
    int initialised;        // initOutput succeeded and doneOutput has not run since
    int shown;              // OverlayUpdateShow's state: visible and initialised
    int keyShown;           // shown with a colour key
};
#define COLORKEY_NONE 0xFFFFFFFFu

// Base parameter ids.
#define OVERLAY_RELEASE 9          // set: release request (the plug-in then runs doneOutput)
#define OVERLAY_OUTPUT 0x10020     // VideoFormat (48) or VideoFormatEx (72); empty set: done
#define OVERLAY_VISIBLE 0x10021    // int
#define OVERLAY_FULLSCREEN 0x10022 // int
#define OVERLAY_VIEWPORT 0x10023   // VRect
#define OVERLAY_EFFECTS 0x10024    // VideoEffects
#define OVERLAY_COLORKEY 0x10025   // uint32 (get only)
#define OVERLAY_REPEAT 0x10026     // int
#define OVERLAY_FULLYVISIBLE 0x10027  // int
#define OVERLAY_DROPPED 0x10028    // int (get only)
#define OVERLAY_SHOWN 0x10029      // int (get only)
// The base parameters come first in enumParams; the plug-in's table follows at index
// OVERLAY_PARAM_COUNT.
#define OVERLAY_PARAM_COUNT 10

int OverlayEnum(void* object, int index, ParamInfo* out);
int OverlayGet(void* object, int id, void* data, int size);
int OverlaySet(void* object, int id, const void* data, int size);
// Sets (value != 0) or clears the effect flags `flagMask`, resets the scales for AnyAlign
// to recompute, and runs updateOutput when the output is initialised.
void OverlayUpdateFX(void* object, int flagMask, int value);
// Updates the base's shown and colour-key state. Calls none of the object's slots.
void OverlayUpdateShow(void* object, int changed);

// --- Surfaces ---

// Bytes per row of the first plane: planar formats 16-byte rows, RGB 4-byte rows.
int DefaultPitch(const VideoFormat* format);
// Allocates a zeroed system-memory surface of the format (planar: three planes, the
// chroma pitch the luma pitch shifted; "IMC4": U and V side by side below the luma, their
// rows at the luma pitch). Returns 0 or ERR_OUT_OF_MEMORY / ERR_INVALID_PARAM.
int SurfaceAlloc(Planes planes, const VideoFormat* format);
void SurfaceFree(Planes planes);
// Copies the overlapping part; fx->brightness (fx may be null) is added to luma (YUV) or
// to each colour (RGB 5-6-5). Planar YUV to RGB 5-6-5 converts.
void SurfaceCopy(const VideoFormat* srcFormat, const VideoFormat* dstFormat, Planes src, Planes dst,
                 const VideoEffects* fx);
// Copies src into dst turned by the direction flags `dir` (dst has the turned size).
void SurfaceRotate(const VideoFormat* srcFormat, const VideoFormat* dstFormat, Planes src, Planes dst,
                   int dir);
// Fills the rect (null: all) with a colour. Planar YUV: value = 0xYYUUVV, `bits` per
// plane element (8). RGB: value is a `bits`-bit pixel. pitches null: from the format.
void FillColor(const VideoFormat* format, Planes planes, const int* pitches, const VRect* rect, int bits,
               uint32_t value);
// Completes a pixel format from its masks: the RGB flag and, when 0, the bit count.
void FillInfo(PixelFormat* pixel);
// An RGB format of `bitCount` bits with r/g/b bits from the top down (R highest, B at
// bit 0); rPos/gPos/bPos, when not 0, give the lowest bit of the channel instead.
void DefaultRGB(PixelFormat* pixel, int bitCount, int rBits, int gBits, int bBits, int rPos, int gPos, int bPos);
// A 0xRRGGBB colour in the layout of the format's masks. With `as24` set the result is
// instead the colour as the format keeps it, widened back to 0xRRGGBB (low bits zero).
uint32_t RGBToFormat(uint32_t rgb, const VideoFormat* format, int as24 = 0);

// --- Formats ---

// Non-zero for planar YUV; the chroma shifts when xShift/yShift are given.
int PlanarYUV(const PixelFormat* pixel, int* xShift = nullptr, int* yShift = nullptr);
bool PlanarYUV420(const PixelFormat* pixel);
bool PlanarYUV422(const PixelFormat* pixel);

// --- Blitter: planar YUV to planar YUV or RGB 5-6-5, nearest-neighbour scaling, the
// effects' direction and brightness. ---

Blitter* BlitCreate(const VideoFormat* dstFormat, const VideoFormat* srcFormat, const VideoEffects* fx);
// The rects of the following BlitImage calls (dst in dst pixels, src in src pixels).
void BlitAlign(Blitter* blitter, const VRect* dst, const VRect* src);
// dstPitch / dstChromaPitch -1: from the dst format (chroma: luma pitch shifted; IMC4: the
// luma pitch).
void BlitImage(Blitter* blitter, Planes dst, Planes src, const int* srcPitches, int dstPitch, int dstChromaPitch);
void BlitRelease(Blitter* blitter);

// --- Geometry ---

// Scales dst/src per axis into fx->scaleX/scaleY (16.16), clamped to [minScale, maxScale];
// when clamped the dst shrinks or grows about its centre. Positions are rounded down to
// multiples of xAlign / yAlign, sizes too. With fx->direction swapping axes, dst width
// pairs with src height.
void AnyAlign(VRect* dst, VRect* src, VideoEffects* fx, int xAlign, int yAlign, int minScale, int maxScale);
// Virtual (as seen, after the format's direction) to physical rect, and back.
void VirtToPhy(const VRect* virt, VRect* phys, const VideoFormat* format);
void PhyToVirt(const VRect* phys, VRect* virt, const VideoFormat* format);
// The direction that undoes a, then applies b, then c.
int CombineDir(int a, int b, int c);
bool EqRect(const VRect* a, const VRect* b);
void SwapInt(int* a, int* b);
// Exchanges the record's width and height when its direction swaps the axes (physical
// and virtual sizes); the pitch becomes the default one. `mode` is kept for callers (0).
void AdjustOrientation(VideoFormat* format, int mode);
// The screen direction: the tests' setting, else the context's orientation hook, else 0.
int GetOrientation();

// --- Display ---

// Fills a screen record from the desktop: size, RGB 5-6-5, scale 1, direction GetOrientation().
void QueryDesktop(VideoFormat* screen);
// A platform number (id 25: the platform's version); 0 when unknown.
int QueryPlatform(int id);
void WinInvalidate(const VRect* rect, int erase);
void WaitDisable(int disable);
// The file's modification date in local time as yyyymmdd, or 0 when it cannot be read.
int FileDate(const tchar* path);
// The bounds of the executable mapping that holds `address`. 0, or ERR_INVALID_PARAM.
int CodeFindPages(const void* address, uint8_t** start, uint8_t** end, int flags);
