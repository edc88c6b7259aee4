// ACE_DDI.DLL: the ATI 3200 display driver library, simulated. Its entry points, records
// and constants, and the test-only entry points that configure the simulated chip and
// read it back.
//
// The chip: two kinds of video memory (64 internal, 32 external) with budgets, display
// memory (the visible screen, RGB 5-6-5, and an off-screen part that AhiSurfReuse hands
// out), a blitter working plane by plane, one overlay with a colour key and mirroring, an
// IDCT and motion-compensation engine, and a register block whose status word follows a
// 60 Hz scan line. Every call is logged.
#pragma once

#include <stdint.h>

#include "../simchip.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AHI_API __attribute__((visibility("default")))

typedef uintptr_t AhiDev;      // a device found by AhiDevEnum
typedef uintptr_t AhiSurf;     // a surface, 0 = none
typedef uintptr_t AhiIdct;     // an IDCT engine, 0 = none
typedef struct AhiContext AhiContext;

// Results.
#define AHI_OK 0
#define AHI_ERR_PARAM 1      // bad handle, rectangle or argument
#define AHI_ERR_STATE 2      // not initialised, not open, wrong sequence
#define AHI_ERR_MEMORY 3     // memory of the kind asked is exhausted
#define AHI_ERR_DEVICE 4     // the device failed (fault injection)
#define AHI_ERR_NODEVICE 5   // AhiDevEnum: no more devices
#define AHI_ERR_SKIP 6       // AhiDevEnum: nothing usable at this index

// The driver context: pointer-sized words. Word 7 holds the address of the chip's register
// block (AHI_REG_* byte offsets).
struct AhiContext {
    uintptr_t word[16];
};
#define AHI_CONTEXT_REGS 7
#define AHI_REG_DISPCNTL 0x414    // display control: low 3 bits 6 = keyed overlay, 2 = overlay direct
#define AHI_REG_STATUS 0x54C      // bits 0-9 the scan line, bit 0x400 in vertical blank
#define AHI_STATUS_VBLANK 0x400
#define AHI_REG_BLOCK_SIZE 0x1000

// Device description, 332 bytes.
typedef struct {
    char name[80];
    char version[80];    // "major.minor"
    uint32_t word[43];   // 1: device id; 6: > 0 when the chip has the YUV overlay and the IDCT engine
} AhiDevInfo;

// Display mode.
typedef struct {
    int32_t width;
    int32_t height;
    int32_t format;       // AHI_FMT_*
    int32_t refresh;      // Hz
    int32_t orientation;  // 0-3, quarter turns
    int32_t mirror;       // 1, 2: mirror flags
} AhiDispMode;

// Surface formats.
#define AHI_FMT_RGB444 3
#define AHI_FMT_RGB555 4
#define AHI_FMT_RGB565 5
#define AHI_FMT_YUV420 9    // planar: Y, then U and V at half size each way

// Memory kinds.
#define AHI_MEM_INTERNAL 64
#define AHI_MEM_EXTERNAL 32
#define AHI_MEM_DISPLAY 1   // AhiSurfInfo's kind of the display surface and of off-screen surfaces

// Plane selectors (0 = the single plane of an RGB surface).
#define AHI_PLANE_Y 0x10000000
#define AHI_PLANE_U 0x20000000
#define AHI_PLANE_V 0x40000000

typedef struct {
    int32_t width;
    int32_t height;
} AhiSize;

typedef struct {
    int32_t left, top, right, bottom;  // right and bottom exclusive
} AhiRect;

typedef struct {
    int32_t x, y;
} AhiPoint;

// AhiSurfInfo / AhiSurfPlaneInfo.
typedef struct {
    int32_t width;
    int32_t height;
    int32_t pitch;
    int32_t bitCount;
    int32_t format;
    int32_t kind;
} AhiSurfInfoRec;

// The overlay position record, 13 words.
typedef struct {
    int32_t dstLeft, dstTop, dstRight, dstBottom;
    int32_t srcLeft, srcTop, srcRight, srcBottom;
    uint32_t keyValue;   // colour key in the display format
    uint32_t keyMask;    // 0: no key (the overlay shows everywhere in its rectangle)
    int32_t reserved1;
    int32_t mirror;      // AHI_MIRROR_*
    int32_t reserved2;
} AhiOverlayPos;
#define AHI_MIRROR_Y 1   // top-bottom
#define AHI_MIRROR_X 2   // left-right

typedef struct {
    int32_t formats;      // bit per AHI_FMT_* the overlay shows
    int32_t minWidth, minHeight;
    int32_t maxWidth, maxHeight;
    int32_t scales;       // 0: the overlay shows its source 1:1
} AhiOverlayCapsRec;

// Blit raster operations and stretch modes.
#define AHI_ROP_SRCCOPY 0xCCCC
#define AHI_STRETCH_NEAREST 1
#define AHI_STRETCH_SMOOTH 5

// IDCT engine. A coefficient group holds up to four run-level pairs in 12 bytes:
// bytes 0-3 runs (byte 3 first ... byte 0 fourth, 0xFF after the last), then the levels as
// signed 16-bit words: bytes 6-7 first, 4-5 second, 10-11 third, 8-9 fourth. A run counts
// the zero coefficients in scan order before its coefficient.
typedef struct {
    uint8_t run[4];
    int16_t level[4];
} AhiCoefGroup;
#define AHI_MAX_GROUPS 16

// Scan bits of AhiIDCT8x8 (the last argument): 1 zig-zag, 2 alternate-horizontal,
// 4 alternate-vertical, 8 zig-zag of the transposed block. AhiIDCTMComp8x8 takes 1.
#define AHI_SCAN_ZIGZAG 1
#define AHI_SCAN_ALTH 2
#define AHI_SCAN_ALTV 4
#define AHI_SCAN_ZIGZAG_T 8

// Motion vectors: one 32-bit word per block, x in the low and y in the high 16 bits,
// signed, in quarter pels (the engine interpolates to half a pel: bit 1 of each half).
// Properties: 2 the frame sequence base, 3 rounding (1: halves round up; 0: down).
#define AHI_IDCT_PROP_SEQUENCE 2
#define AHI_IDCT_PROP_ROUNDING 3

typedef struct {
    uint32_t size;        // the caller sets sizeof
    uint32_t caps;        // filled: bit 0 motion compensation, bit 1 whole-macroblock prediction
    uint32_t maxWidth;
    uint32_t maxHeight;
    uint32_t reserved[4];
} AhiIdctOpenRec;

// --- The driver's entry points ---

AHI_API int AhiInit(int flags);
AHI_API int AhiTerm(void);
AHI_API int AhiDevEnum(AhiDev* device, AhiDevInfo* info, int index);
AHI_API int AhiDevOpen(AhiContext** context, AhiDev device, const char* client, int flags);
AHI_API int AhiDevClose(AhiContext* context);
AHI_API int AhiDevClientVersion(AhiContext* context, const char* version);
AHI_API int AhiDispModeGet(AhiContext* context, AhiDispMode* mode);
AHI_API int AhiDispModeEnum(AhiContext* context, AhiDispMode* mode, int index);
AHI_API int AhiDispSurfGet(AhiContext* context, AhiSurf* surface);
AHI_API int AhiSurfGetLargestFreeBlockSize(AhiContext* context, int kind, uint32_t* size);
AHI_API int AhiSurfAlloc(AhiContext* context, AhiSurf* surface, const AhiSize* size, int format, int kind);
AHI_API int AhiSurfReuse(AhiContext* context, AhiSurf* surface, AhiSurf base, const AhiSize* size, int format,
                         int flags);
AHI_API int AhiSurfFree(AhiContext* context, AhiSurf surface);
AHI_API int AhiSurfLock(AhiContext* context, AhiSurf surface, void** pointer, int plane);
AHI_API int AhiSurfUnlock(AhiContext* context, AhiSurf surface, int plane);
AHI_API int AhiSurfInfo(AhiContext* context, AhiSurf surface, AhiSurfInfoRec* info);
AHI_API int AhiSurfPlaneInfo(AhiContext* context, AhiSurf surface, AhiSurfInfoRec* info, int plane);
AHI_API int AhiDrawRopSet(AhiContext* context, int rop);
AHI_API int AhiDrawSurfSrcSet(AhiContext* context, AhiSurf surface, int plane);
AHI_API int AhiDrawSurfDstSet(AhiContext* context, AhiSurf surface, int plane);
AHI_API int AhiDrawIdle(AhiContext* context, int flags);
AHI_API int AhiDispWaitVBlank(AhiContext* context, int flags);
AHI_API int AhiDrawBitBlt(AhiContext* context, const AhiRect* dst, const AhiPoint* src);
AHI_API int AhiDrawStretchBlt(AhiContext* context, const AhiRect* dst, const AhiRect* src, int mode);
// Turns the source into the destination rectangle: `rotation` quarter turns clockwise,
// then a left-right mirror when `mirror` is set (1, 1: the transpose).
AHI_API int AhiDrawRotateBlt(AhiContext* context, const AhiRect* dst, const AhiPoint* src, int rotation, int mirror,
                             int flags);
AHI_API int AhiDispOverlayCaps(AhiContext* context, AhiOverlayCapsRec* caps);
AHI_API int AhiDispOverlayState(AhiContext* context, int on, int flags);
AHI_API int AhiDispOverlayPos(AhiContext* context, const AhiOverlayPos* position, int flags);
AHI_API int AhiDispOverlaySurf(AhiContext* context, AhiSurf surface, const AhiOverlayPos* position, int flags);
AHI_API int AhiIDCTOpen(AhiContext* context, AhiIdct* idct, int flags, AhiIdctOpenRec* record);
AHI_API int AhiIDCTClose(AhiIdct idct);
AHI_API int AhiIDCTPropGet(AhiIdct idct, int property, void* value, int size);
AHI_API int AhiIDCTPropSet(AhiIdct idct, int property, const void* value, int size);
AHI_API int AhiIDCTFrameStart(AhiIdct idct, AhiSurf target, AhiSurf forward, AhiSurf backward, int sequence,
                              int flags);
AHI_API int AhiIDCTFrameEnd(AhiIdct idct, int sequence);
// One 8x8 block of macroblock `mb` (raster index in the target): prediction from the
// references by the vectors given (null: that reference is not used; neither: intra)
// plus the residual of the groups. The blocks of a macroblock come in order: luma
// top-left, top-right, bottom-left, bottom-right, then U and V.
AHI_API int AhiIDCTMComp8x8(AhiIdct idct, const AhiCoefGroup* groups, int count, const uint32_t* forward,
                            const uint32_t* backward, int mb, int scan);
// The prediction of a whole macroblock (six vectors a direction), without residual.
AHI_API int AhiIDCTMComp(AhiIdct idct, const uint32_t* forward, const uint32_t* backward, int mb, int flags);
AHI_API int AhiIDCT8x8(AhiIdct idct, const AhiCoefGroup* groups, int count, int mb, int scan);

// --- Test-only entry points ---

// Back to the defaults: every context, surface and engine released, the log cleared,
// the configuration reset.
AHI_API void AhiSimReset(void);
// Configuration by name (see chip.cpp for the list): 0, or -1 for an unknown name.
AHI_API int AhiSimSet(const char* name, long long value);
AHI_API int AhiSimSetText(const char* name, const char* text);
// Read-back by name; -1 for an unknown name.
AHI_API long long AhiSimGet(const char* name);
// The call log, one call a line ("AhiSurfAlloc(...) = 0"): copies at most size - 1 bytes
// and a terminating zero; returns the full length.
AHI_API int AhiSimCallLog(char* buffer, int size);
AHI_API void AhiSimClearLog(void);
// The bytes of a plane of a surface, row by row at `pitch` (plane selectors as above).
AHI_API int AhiSimSurfRead(AhiSurf surface, int plane, uint8_t* out, int pitch);
AHI_API int AhiSimSurfWrite(AhiSurf surface, int plane, const uint8_t* in, int pitch);
// The coefficient groups of the last block the engine was given, as given; returns their
// number (at most `max` are copied).
AHI_API int AhiSimLastGroups(AhiCoefGroup* groups, int max);
// The surface the overlay shows (0 when off) and its position record.
AHI_API AhiSurf AhiSimOverlay(AhiOverlayPos* position);

#ifdef __cplusplus
}
#endif
