// The simulated Intel 2700G driver library "PVRVADD.DLL": video memory frames in the IMC4
// layout, the video overlay, an IDCT and motion-compensation engine driven by command
// words and coefficient pairs, the display's raw frame buffer with its registers, and
// test entry points (PVRSim_*) that configure the chip and read it back.
//
// Every call may come from any thread; the calls take turns on one lock.
//
// ---- Memory ----
// The chip sees a 64 MB window aligned to 1 MB: the display's frame buffer at its start,
// local video memory (frames, default budget 8 MB) after the first megabyte, and the
// register block at window + 0x3FE0000. Frames made by M24VA_FCFrameAllocate take system
// memory instead (default budget 8 MB). A frame is IMC4: the Y plane (pitch x height),
// then height / 2 rows at the same pitch holding U in the left half and V in the right.
//
// ---- Registers (32-bit words at window + offset) ----
//   0x3FE0FF0  chip id, low 24 bits 0x727189
//   0x3FE2164  vertical total (lines of a refresh, low 12 bits)
//   0x3FE2168  first visible line
//   0x3FE216C  last visible line
//   0x3FE2308  the line being scanned (low 12 bits), driven by the clock at 60 Hz while
//              the display is initialised, unless a test freezes it
//
// ---- Command stream (M24VA_WriteMCCmdData, one word a call) ----
// Between M24VA_BeginFrame and M24VA_EndFrame the engine reads sections. A section starts
// with a select word, may give predictions, then residual blocks, and ends with the header
// word that names where its result goes. Words:
//
//   0x28 | rc      luma section, 16x16, one prediction (or none: intra)
//   0x14 | rc      luma section, four 8x8 predictions
//   0x15 | rc      U section, 8x8          0x16 | rc   V section, 8x8
//   0x00           4:2:2 luma section, 16x8 (intra only)
//   0x01, 0x02     4:2:2 U and V sections, 8x4 (intra only)
//       rc = 0x40 rounds half-pixel interpolation down; without it, up.
//   0x08000000 | o prediction marker: the next word(s) are the coordinates of the
//                  prediction of the destination block at offset o (0; in four-vector
//                  luma sections also 0x40 = x + 8, 0x10 = y + 8, 0x50 = both)
//   coordinate     bit 31 set: bits 28-31 the reference (0xC forward, 0x9 backward after a
//                  forward one, 0xD backward alone), bits 14-27 y, bits 0-13 x, both
//                  14-bit two's complement, in half pixels of the plane (luma: half luma
//                  pixels; chroma: half chroma pixels). A marker takes one forward and/or
//                  one backward coordinate; with both the prediction is their average.
//                  Samples outside the reference frame repeat its edge.
//   0x10000000 | b residual block: b = 0x02 intra (no prediction), 0x08 x + 8,
//                  0x20 y + 8 within the section; the next call must hand the block's
//                  coefficients (M24VA_WriteIZZBlock, M24VA_WriteIZZData or
//                  M24VA_WriteResidualDifferenceData)
//   0x1D000000 | y << 11 | x          header of a 4:2:0 luma section at (x, y)
//   0x1A800000 | y << 11 | x          header of a 4:2:0 chroma section at chroma (x, y)
//   0x1B000000 | y << 11 | x          header of a 4:2:2 luma section
//   0x18800000 | y << 11 | x          header of a 4:2:2 chroma section
// (x: bits 0-10; y: bits 11-23 of luma headers, 11-22 of chroma headers.) A block of the
// section without a residual takes the prediction as it is. Any other word, a word out of
// place, a position outside the target frame or a missing reference refuses the word
// (M24VA_BAD_COMMAND) and every following word until the next M24VA_BeginFrame;
// PVRSim_LastError says why.
//
// ---- The picture on screen ----
// The frame the overlay scans out (the one flipped last, or before any flip the one the
// visible attributes were set with) is never a decode target: M24VA_BeginFrame into it, a
// flip to the frame being decoded, and visible attributes that would scan it out are
// refused with M24VA_INVALID_PARAM, said by PVRSim_LastError and counted in
// "screen_faults" (and "command_errors").
//
// ---- Coefficient pairs (IZZ mode 3) ----
// A pair is a 32-bit word: bits 0-15 twice the raster index (row x 8 + column) of the
// coefficient, bit 0 set on the block's last pair; bits 16-31 the signed value. A block
// has 1 to 64 pairs, each position once. The block's samples are the inverse DCT of the
// coefficients, rounded to the nearest integer (halves up), added to the prediction (not
// for intra blocks) and limited to 0-255.
#pragma once

#include <stdint.h>

#include "../simchip.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PVR_API __attribute__((visibility("default")))

typedef void* M24VA_FRAME;

// Results.
#define M24VA_OK 0
#define M24VA_INVALID_PARAM 1
#define M24VA_OUT_OF_MEMORY 2
#define M24VA_NOT_INITIALISED 3
#define M24VA_BAD_COMMAND 4
#define M24VA_LOST 5         // the driver lost its state: free, deinitialise, start again
#define M24VA_DEVICE_BUSY 6  // the chip is held by another program

// Overlay attributes (40 bytes, little-endian).
typedef struct {
    uint16_t magic;  // 0x77
    uint16_t dstTop;
    uint16_t dstLeft;
    uint16_t dstBottom;
    uint16_t dstRight;
    uint16_t srcLeft;
    uint16_t srcTop;
    uint16_t srcRight;
    uint16_t srcBottom;
    uint16_t reserved1;
    uint32_t keyEnable;  // 1: the overlay shows where the desktop holds the key colour
    uint32_t key;        // in the screen's pixel format
    uint32_t visible;
    uint32_t reserved2;
    uint16_t rotation;   // 0, 90, 180 or 270: the picture is turned that far anticlockwise
    uint16_t reserved3;
} VDISP_ATTRIBUTES;

// Colour conversion: R from Y, U, V; G from Y, U, V; B from Y, U, V in 1/256, applied to
// Y - 16, U - 128 and V - 128; then two zero bytes.
typedef struct {
    int16_t coeff[9];
    int16_t reserved;
} VDISP_COLORSPACE;

// The raw frame buffer (display escape 0x20001): pixel (x, y) of the screen as the user
// sees it lies at frame + x * xStride + y * yStride.
#define PVR_ESCAPE_RAW_FRAMEBUFFER 0x00020001
#define PVR_FORMAT_565 1
typedef struct {
    uint16_t format;
    uint16_t bitsPerPixel;
    void* frame;
    int32_t xStride;
    int32_t yStride;
    int32_t width;
    int32_t height;
} PVR_RAW_FRAMEBUFFER;

// ---- The driver's entry points ----
PVR_API int M24VA_Initialise(int flags);
PVR_API int M24VA_Deinitialise(void);
PVR_API int M24VA_Reset(int flags);  // abandons the frame being decoded
PVR_API int M24VA_FrameDimensions(int height, int width);  // of the frames allocated next
PVR_API int M24VA_FrameAllocate(M24VA_FRAME* frames, int count);
PVR_API int M24VA_FCFrameAllocate(M24VA_FRAME* frames, int count);  // in system memory
PVR_API int M24VA_FrameFree(M24VA_FRAME* frames, int count);
PVR_API int M24VA_FrameConvert(M24VA_FRAME destination, M24VA_FRAME source);  // copies the picture
PVR_API int M24VA_FrameBeginAccess(M24VA_FRAME frame, void** planes /* Y, U, V */, int* pitch, int flags);
PVR_API int M24VA_FrameEndAccess(M24VA_FRAME frame);
PVR_API int M24VA_BeginFrame(M24VA_FRAME target, int flags);
PVR_API int M24VA_EndFrame(int flags);
PVR_API int M24VA_SetReferenceFrameAddress(int which /* 1 forward, 2 backward */, M24VA_FRAME frame);
PVR_API int M24VA_SetIZZMode(int mode);  // 3: pairs as above
PVR_API int M24VA_WriteIZZBlock(const uint32_t* pairs, int count);  // a whole block
PVR_API int M24VA_WriteIZZData(const uint32_t* pairs, int count);   // part of a block, until its last pair
PVR_API int M24VA_WriteResidualDifferenceData(const int16_t* samples, int count);  // 64 samples, rows
PVR_API int M24VA_WriteMCCmdData(uint32_t word);

PVR_API int VDISP_Initialise(int flags);
PVR_API int VDISP_Deinitialise(void);
// `attributes`: a VDISP_ATTRIBUTES record; `word`: the visible flag when the caller hands
// one, else 0.
PVR_API int VDISP_OverlaySetAttributes(const void* attributes, M24VA_FRAME frame, int word);
PVR_API int VDISP_OverlayFlipSurface(M24VA_FRAME frame, int flags);
PVR_API int VDISP_OverlayContrast(int value);    // 128: unchanged; the luma gain is value / 128
PVR_API int VDISP_OverlayBrightness(int value);  // 128: unchanged; value - 128 is added to luma
PVR_API int VDISP_OverlayGamma(int value);       // kept; the scan-out does not apply it
PVR_API int VDISP_OverlaySetColorspaceConversion(const void* conversion);  // a VDISP_COLORSPACE

// The display driver's escape: 0x20001 fills a PVR_RAW_FRAMEBUFFER (outSize at least its
// size) and returns 1; other escapes return 0, a short buffer -1.
PVR_API int DrvEscape(int escape, int inSize, const void* in, int outSize, void* out);

// ---- Test entry points ----
// Back to power-on: everything freed, settings to their defaults, logs cleared.
PVR_API void PVRSim_Reset(void);
// Settings (0, or -1 for an unknown name or a bad value):
//   "init_failures" N       the next N M24VA_Initialise calls give M24VA_DEVICE_BUSY
//   "begin_failures" N      the next N M24VA_BeginFrame calls give M24VA_DEVICE_BUSY
//   "attribute_failures" N  the next N VDISP_OverlaySetAttributes calls give M24VA_DEVICE_BUSY
//   "vdisp_failures" N      the next N VDISP_Initialise calls give M24VA_DEVICE_BUSY
//   "lose_after" N          after N more frame calls the chip loses its state (-1: never)
//   "local_memory" BYTES    budget of video memory (at most 48 MB)
//   "system_memory" BYTES   budget of system memory
//   "screen_width", "screen_height"  the screen as the user sees it (default 800 x 480;
//                           the frame buffer holds at most 1 MB)
//   "panel_rotation" D      0, 90, 180, 270: how the panel is turned against that screen
//   "registers" M           1 present, 0 absent (no chip id), 2 unreadable
//   "scanline" L            -1: driven by the clock; else frozen at line L
//   "vertical_total", "first_visible", "last_visible"   display timing (defaults from the panel)
//   "log" 0|1               keeps the call log (default 1)
PVR_API int PVRSim_Set(const char* name, long long value);
// Read-back (0, or -1 for an unknown name): "m24va_initialised", "vdisp_initialised",
// "frames" (allocated), "local_memory_used", "system_memory_used", "flips",
// "attribute_sends", "overlay_visible", "brightness", "contrast", "gamma", "lost",
// "izz_mode", "frames_decoded", "command_errors", "screen_faults", and every setting above.
PVR_API int PVRSim_Get(const char* name, long long* value);
// The call log, one "Name(arguments) = result" a line. Copies what fits (NUL-ended) and
// returns the length of the whole text.
PVR_API int PVRSim_Log(char* buffer, int size);
PVR_API void PVRSim_ClearLog(void);
// Why the last word or block was refused ("" when none).
PVR_API int PVRSim_LastError(char* buffer, int size);
// The attribute record and colour conversion last set: 0, or -1 when none was.
PVR_API int PVRSim_Attributes(VDISP_ATTRIBUTES* out);
PVR_API int PVRSim_ColorConversion(VDISP_COLORSPACE* out);
// The frame the overlay scans out (0 = none).
PVR_API M24VA_FRAME PVRSim_ShownFrame(void);
// Paints a rectangle of the screen (as the user sees it) with an RGB 5-6-5 colour.
PVR_API int PVRSim_FillDesktop(int x, int y, int width, int height, unsigned color);
// Composites the desktop and the overlay into 8-bit RGB rows (width x 3 bytes): the screen
// as the user sees it (logical 1) or the panel as it scans (0). The size must be that of
// the chosen view. 0, or -1.
PVR_API int PVRSim_ScanOut(uint8_t* rgb, int width, int height, int logical);

#ifdef __cplusplus
}
#endif
