// pixelway: the AHI_ overlay output and its AHII IDCT face on the ATI 3200 chip, driven
// through the chip's driver library "ACE_DDI.DLL" (entry points looked up by name).
#pragma once

#include <cstdint>
#include <mutex>

#include "ace_ddi.h"
#include "core/common.h"
#include "plugin/frame.h"

#define AHI_CLASS FOURCC('A', 'H', 'I', '_')
#define AHII_CLASS FOURCC('A', 'H', 'I', 'I')

namespace pixelway {

// The driver's records, entry points and constants are those of its interface header.
static_assert(sizeof(AhiDevInfo) == 332, "the device description is 332 bytes");
static_assert(sizeof(AhiOverlayPos) == 52, "the position record is 13 words");
static_assert(sizeof(AhiCoefGroup) == 12, "a coefficient group is 12 bytes");
using AhiHandle = uintptr_t;  // devices, surfaces and the IDCT engine

// The 38 entry points, in the order they are looked up.
struct Driver {
    decltype(&::AhiInit) AhiInit;
    decltype(&::AhiTerm) AhiTerm;
    decltype(&::AhiDevEnum) AhiDevEnum;
    decltype(&::AhiDevOpen) AhiDevOpen;
    decltype(&::AhiDevClose) AhiDevClose;
    decltype(&::AhiDevClientVersion) AhiDevClientVersion;
    decltype(&::AhiDispModeGet) AhiDispModeGet;
    decltype(&::AhiDispModeEnum) AhiDispModeEnum;
    decltype(&::AhiDispSurfGet) AhiDispSurfGet;
    decltype(&::AhiSurfGetLargestFreeBlockSize) AhiSurfGetLargestFreeBlockSize;
    decltype(&::AhiSurfAlloc) AhiSurfAlloc;
    decltype(&::AhiSurfReuse) AhiSurfReuse;
    decltype(&::AhiSurfFree) AhiSurfFree;
    decltype(&::AhiSurfLock) AhiSurfLock;
    decltype(&::AhiSurfUnlock) AhiSurfUnlock;
    decltype(&::AhiSurfInfo) AhiSurfInfo;
    decltype(&::AhiSurfPlaneInfo) AhiSurfPlaneInfo;
    decltype(&::AhiDrawRopSet) AhiDrawRopSet;
    decltype(&::AhiDrawSurfSrcSet) AhiDrawSurfSrcSet;
    decltype(&::AhiDrawSurfDstSet) AhiDrawSurfDstSet;
    decltype(&::AhiDrawIdle) AhiDrawIdle;
    decltype(&::AhiDispWaitVBlank) AhiDispWaitVBlank;
    decltype(&::AhiDrawBitBlt) AhiDrawBitBlt;
    decltype(&::AhiDrawStretchBlt) AhiDrawStretchBlt;
    decltype(&::AhiDrawRotateBlt) AhiDrawRotateBlt;
    decltype(&::AhiDispOverlayCaps) AhiDispOverlayCaps;
    decltype(&::AhiDispOverlayState) AhiDispOverlayState;
    decltype(&::AhiDispOverlayPos) AhiDispOverlayPos;
    decltype(&::AhiDispOverlaySurf) AhiDispOverlaySurf;
    decltype(&::AhiIDCTOpen) AhiIDCTOpen;
    decltype(&::AhiIDCTClose) AhiIDCTClose;
    decltype(&::AhiIDCTPropGet) AhiIDCTPropGet;
    decltype(&::AhiIDCTPropSet) AhiIDCTPropSet;
    decltype(&::AhiIDCTFrameStart) AhiIDCTFrameStart;
    decltype(&::AhiIDCTFrameEnd) AhiIDCTFrameEnd;
    decltype(&::AhiIDCTMComp8x8) AhiIDCTMComp8x8;
    decltype(&::AhiIDCTMComp) AhiIDCTMComp;
    decltype(&::AhiIDCT8x8) AhiIDCT8x8;
};

// The chip and its registers.
#define AHI_KIND_REUSED (-4)  // display memory reused
#define AHI_DEVICE_3200 0x57441002u
#define AHI_NO_MORE_DEVICES AHI_ERR_NODEVICE

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
    AhiHandle idct;          // 0 = closed
    int dcOffset;            // eight times the brightness
    int mbPerRow;
    int mbIndex;
    int block;               // within the macroblock, 0-5
    int forwardAt, backwardAt;  // the current vector of each set, -1 = none
    uint32_t forward[6], backward[6];
    AhiCoefGroup groups[16];
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
    // The decoder's frames (decoding thread) against the brightness re-render (video
    // thread): a change asked while a frame is open waits for the frame's end.
    std::mutex lock;
    bool frameOpen;          // from a frame start until the chip's frame end
    int wantedOffset;        // the DC offset asked last
};

struct Ahi {
    Overlay base;

    Driver drv;
    HMODULE module;
    AhiContext* context;  // null = no device open
    AhiHandle display;
    AhiDevInfo device;
    AhiDispMode mode;

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
    AhiOverlayPos pos;
    AhiHandle shownSurface;  // the surface the overlay was last given

    VRect dstRect;  // physical, on the screen
    VRect srcRect;  // in the frame buffer
    int rgbWidth, rgbHeight;  // the RGB path's surface
    int rgbHalf;    // the RGB path blits at half size

    bool idctMode;
    bool faceSetting;
    bool rotated;      // the display is turned a quarter
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
    bool pictures;     // the frame buffers hold the decoder's pictures
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
bool Shown(const Ahi* a, const SurfEntry& e);
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
void FaceDestroy(Ahi* a);
void FaceClose(Ahi* a);
void ChooseRoutines(Ahi* a);
int BrightnessChange(Ahi* a);
extern const NodeClassDef kFaceClass;

}  // namespace pixelway
