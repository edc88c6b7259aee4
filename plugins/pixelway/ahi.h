// pixelway: the AHI_ overlay output and its AHII IDCT face on the ATI 3200 chip, driven
// through the chip's driver library "ACE_DDI.DLL" (entry points looked up by name).
#pragma once

#include <cstdint>

#include "core/common.h"
#include "plugin/frame.h"

#define AHI_CLASS FOURCC('A', 'H', 'I', '_')
#define AHII_CLASS FOURCC('A', 'H', 'I', 'I')

namespace pixelway {

// --- The driver's records, as the driver lays them out ---

using AhiHandle = uintptr_t;  // devices, surfaces and the IDCT engine
struct AhiContext;            // pointer-sized words; word 7 the register block

struct DeviceInfo {
    char name[80];
    char version[80];
    uint32_t word[43];
};
static_assert(sizeof(DeviceInfo) == 332, "the device description is 332 bytes");

struct DisplayMode {
    int32_t width, height, format, refresh, orientation, mirror;
};

struct AhiSize {
    int32_t width, height;
};
struct AhiRect {
    int32_t left, top, right, bottom;
};
struct AhiPoint {
    int32_t x, y;
};
struct SurfInfo {
    int32_t width, height, pitch, bitCount, format, kind;
};

// The overlay position record, 13 words.
struct OverlayPos {
    int32_t dstLeft, dstTop, dstRight, dstBottom;
    int32_t srcLeft, srcTop, srcRight, srcBottom;
    uint32_t keyValue, keyMask;
    int32_t zero1;
    int32_t mirror;
    int32_t zero2;
};
static_assert(sizeof(OverlayPos) == 52, "the position record is 13 words");

// A group of up to four run-level coefficients, 12 bytes.
struct CoefGroup {
    uint8_t run[4];
    int16_t level[4];
};
static_assert(sizeof(CoefGroup) == 12, "a coefficient group is 12 bytes");

struct IdctOpenRecord {
    uint32_t size, caps, maxWidth, maxHeight, reserved[4];
};

// The 38 entry points, in the order they are looked up.
struct Driver {
    int (*AhiInit)(int);
    int (*AhiTerm)();
    int (*AhiDevEnum)(AhiHandle*, DeviceInfo*, int);
    int (*AhiDevOpen)(AhiContext**, AhiHandle, const char*, int);
    int (*AhiDevClose)(AhiContext*);
    int (*AhiDevClientVersion)(AhiContext*, const char*);
    int (*AhiDispModeGet)(AhiContext*, DisplayMode*);
    int (*AhiDispModeEnum)(AhiContext*, DisplayMode*, int);
    int (*AhiDispSurfGet)(AhiContext*, AhiHandle*);
    int (*AhiSurfGetLargestFreeBlockSize)(AhiContext*, int, uint32_t*);
    int (*AhiSurfAlloc)(AhiContext*, AhiHandle*, const AhiSize*, int, int);
    int (*AhiSurfReuse)(AhiContext*, AhiHandle*, AhiHandle, const AhiSize*, int, int);
    int (*AhiSurfFree)(AhiContext*, AhiHandle);
    int (*AhiSurfLock)(AhiContext*, AhiHandle, void**, int);
    int (*AhiSurfUnlock)(AhiContext*, AhiHandle, int);
    int (*AhiSurfInfo)(AhiContext*, AhiHandle, SurfInfo*);
    int (*AhiSurfPlaneInfo)(AhiContext*, AhiHandle, SurfInfo*, int);
    int (*AhiDrawRopSet)(AhiContext*, int);
    int (*AhiDrawSurfSrcSet)(AhiContext*, AhiHandle, int);
    int (*AhiDrawSurfDstSet)(AhiContext*, AhiHandle, int);
    int (*AhiDrawIdle)(AhiContext*, int);
    int (*AhiDispWaitVBlank)(AhiContext*, int);
    int (*AhiDrawBitBlt)(AhiContext*, const AhiRect*, const AhiPoint*);
    int (*AhiDrawStretchBlt)(AhiContext*, const AhiRect*, const AhiRect*, int);
    int (*AhiDrawRotateBlt)(AhiContext*, const AhiRect*, const AhiPoint*, int, int, int);
    int (*AhiDispOverlayCaps)(AhiContext*, void*);
    int (*AhiDispOverlayState)(AhiContext*, int, int);
    int (*AhiDispOverlayPos)(AhiContext*, const OverlayPos*, int);
    int (*AhiDispOverlaySurf)(AhiContext*, AhiHandle, const OverlayPos*, int);
    int (*AhiIDCTOpen)(AhiContext*, AhiHandle*, int, IdctOpenRecord*);
    int (*AhiIDCTClose)(AhiHandle);
    int (*AhiIDCTPropGet)(AhiHandle, int, void*, int);
    int (*AhiIDCTPropSet)(AhiHandle, int, const void*, int);
    int (*AhiIDCTFrameStart)(AhiHandle, AhiHandle, AhiHandle, AhiHandle, int, int);
    int (*AhiIDCTFrameEnd)(AhiHandle, int);
    int (*AhiIDCTMComp8x8)(AhiHandle, const CoefGroup*, int, const uint32_t*, const uint32_t*, int, int);
    int (*AhiIDCTMComp)(AhiHandle, const uint32_t*, const uint32_t*, int, int);
    int (*AhiIDCT8x8)(AhiHandle, const CoefGroup*, int, int, int);
};

// Driver constants.
#define AHI_NO_MORE_DEVICES 5
#define AHI_FORMAT_RGB565 5
#define AHI_FORMAT_YUV420 9
#define AHI_KIND_INTERNAL 64
#define AHI_KIND_EXTERNAL 32
#define AHI_KIND_REUSED (-4)  // display memory reused
#define AHI_PLANE_Y 0x10000000
#define AHI_PLANE_U 0x20000000
#define AHI_PLANE_V 0x40000000
#define AHI_ROP_SRCCOPY 0xCCCC
#define AHI_DEVICE_3200 0x57441002u
#define AHI_REG_DISPCNTL 0x414
#define AHI_REG_STATUS 0x54C
#define AHI_STATUS_VBLANK 0x400u

// --- The object ---

// One surface of the overlay table: frame buffers 0-5, intermediate scaling surfaces 6, 7.
struct SurfEntry {
    AhiHandle surface;
    AhiHandle partner;  // frame buffers: the same memory with the sides exchanged
    int kind;           // 64, 32, or AHI_KIND_REUSED
    int frame;          // frame number held, -1 none
    int pitch;
    int partnerPitch;
};
#define FRAME_BUFFERS 6
#define TABLE_SIZE 8

struct Ahi;

// The IDCT face (class AHII), inside the overlay object.
struct Face {
    IdctFace base;  // class, slots, per-macroblock routines
    Ahi* owner;
    int (*MComp8x8)(AhiHandle, const CoefGroup*, int, const uint32_t*, const uint32_t*, int, int);
    int (*MComp)(AhiHandle, const uint32_t*, const uint32_t*, int, int);
    int (*Idct8x8)(AhiHandle, const CoefGroup*, int, int, int);
    AhiHandle idct;          // 0 = closed
    int dcOffset;            // eight times the brightness
    int mbPerRow;
    int mbIndex;
    int block;               // within the macroblock, 0-5
    int forwardAt, backwardAt;  // the current vector of each set, -1 = none
    uint32_t forward[6], backward[6];
    CoefGroup groups[16];
    // The held-back block of the rotated routines.
    int16_t heldCoefs[64];
    int heldCount;
    int heldScan;            // -1 = nothing held
    bool heldInter;
    uint32_t zeroVectors[6];
    int width, height;       // IDCT picture size
    int sequence;
    int sequenceProperty;    // handed to the chip as property 2
    int property3;           // the inverse of face parameter 80
    int lastTime;
};

struct Ahi {
    Overlay base;

    Driver drv;
    HMODULE module;
    AhiContext* context;  // null = no device open
    AhiHandle display;
    DeviceInfo device;
    DisplayMode mode;

    // The frame buffers' format (direction, scale, size rounded to 16, pitch, pixel format).
    VideoFormat surf;
    int surfKind;  // the driver's format code
    int xShift, yShift;
    int planes[3];
    VideoEffects blitFx;

    SurfEntry table[TABLE_SIZE];
    int wanted;     // at least 1
    int allocated;  // frame buffers allocated
    int inUse;      // buffers serving frames
    int heldBack;   // -1 none
    int onScreen;
    int showNext;
    int shownBefore;
    bool flipNext;
    OverlayPos pos;
    AhiHandle shownSurface;  // the surface the overlay was last given

    VRect dstRect;  // physical, on the screen
    VRect srcRect;  // in the frame buffer
    int rgbWidth, rgbHeight;  // the RGB path's surface
    int rgbHalf;    // the RGB path blits at half size

    bool idctMode;
    bool faceSetting;
    bool rotated;      // the display is turned a quarter
    bool firstAlloc;
    bool reuse;
    bool scaling;      // through intermediate surfaces
    bool stretch;
    bool shrink;
    bool secondMode;
    bool coversScreen;
    int intermediates;  // 0-2
    int nextIntermediate;
    bool shown512;
    bool termPending;
    bool holdDriver;   // option 0x116
    bool switchedOn;   // the register switch's last state
    bool growing;      // the face grows the buffer count by one
    bool yuvPath;
    void (*found)();   // the driver routine the code scan found
    bool opt110, opt113, opt114, opt115;

    Face face;
};

// overlay.cpp
void Terminate(Ahi* a);
int ReadDisplayMode(Ahi* a);
int Done(void* self);
int OverlayCreate(void* self);
void OverlayDestroy(void* self);

// surfaces.cpp
int AllocEntry(Ahi* a, int index, int kind, int width, int height);
void FreeEntry(Ahi* a, int index);
void FreeAll(Ahi* a);
int AdjustCount(Ahi* a, int wanted, int inUse);
void ExchangeSurfaces(SurfEntry* a, SurfEntry* b);
int LockPlanes(Ahi* a, AhiHandle surface, void* planes[3]);
void UnlockPlanes(Ahi* a, AhiHandle surface, int count);
int CopyPlanes(Ahi* a, AhiHandle from, AhiHandle to, int width, int height);
int RegisterSwitch(Ahi* a, bool on);
void Hide(Ahi* a);

// show.cpp
int BlitYuv(void* self, Planes src, const int* srcPitches);
int BlitRgb(void* self, Planes src, const int* srcPitches);
int UpdateYuv(void* self);
int UpdateRgb(void* self);
int ShowOverlay(void* self, int show);
int Showing(Ahi* a, int asked);
int CopyToIntermediate(Ahi* a, int buffer, bool late);
int ShowSurface(Ahi* a, AhiHandle surface);
int MakeBlitter(Ahi* a);
VideoFormat BufferFormat(const Ahi* a, const SurfEntry& e);

// face.cpp
void FaceSetUp(Ahi* a);
void ChooseRoutines(Ahi* a);
int BrightnessChange(Ahi* a);
extern const NodeClassDef kFaceClass;

}  // namespace pixelway
