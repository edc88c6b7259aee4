// The 2700G output object (class 270G) and its IDCT face (class 270I).
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/frame.h"

#define G270_CLASS FOURCC('2', '7', '0', 'G')
#define I270_CLASS FOURCC('2', '7', '0', 'I')
#define IMC4_FOURCC FOURCC('I', 'M', 'C', '4')

namespace framelane {

constexpr int kMaxFrames = 6;

// Own parameters of 270G.
constexpr int kParamOldDriver = 0x200;
constexpr int kParamRotateInCopy = 0x201;
constexpr int kParamCloseMediaPlayer = 0x202;

// Results of the driver.
constexpr int kDriverLost = 5;

using ChipFrame = void*;

// The entry points of "PVRVADD.DLL", in the order they are looked up.
struct Driver {
    int (*frameDimensions)(int height, int width);
    int (*frameAllocate)(ChipFrame* frames, int count);
    int (*frameFree)(ChipFrame* frames, int count);
    int (*beginFrame)(ChipFrame target, int flags);
    int (*endFrame)(int flags);
    int (*setReferenceFrameAddress)(int which, ChipFrame frame);
    int (*fcFrameAllocate)(ChipFrame* frames, int count);
    int (*frameConvert)(ChipFrame destination, ChipFrame source);
    int (*frameBeginAccess)(ChipFrame frame, void** planes, int* pitch, int flags);
    int (*frameEndAccess)(ChipFrame frame);
    int (*writeIZZBlock)(const uint32_t* pairs, int count);
    int (*writeIZZData)(const uint32_t* pairs, int count);
    int (*setIZZMode)(int mode);
    int (*writeResidualDifferenceData)(const int16_t* samples, int count);
    int (*writeMCCmdData)(uint32_t word);
    int (*initialise)(int flags);
    int (*deinitialise)();
    int (*reset)(int flags);
    int (*vdispInitialise)(int flags);
    int (*vdispDeinitialise)();
    int (*overlaySetAttributes)(const void* attributes, ChipFrame frame, int word);
    int (*overlayFlipSurface)(ChipFrame frame, int flags);
    int (*overlayContrast)(int value);
    int (*overlayGamma)(int value);
    int (*overlayBrightness)(int value);
    int (*overlaySetColorspaceConversion)(const void* conversion);
};
constexpr int kDriverEntries = sizeof(Driver) / sizeof(void*);
static_assert(kDriverEntries == 26, "the driver has 26 entry points");
extern const char* const kDriverNames[kDriverEntries];

// The overlay attribute record the chip reads (40 bytes, little-endian).
struct Attributes {
    uint16_t magic;  // 0x77
    uint16_t dstTop;
    uint16_t dstLeft;
    uint16_t dstBottom;
    uint16_t dstRight;
    uint16_t srcLeft;
    uint16_t srcTop;
    uint16_t srcRight;
    uint16_t srcBottom;
    uint16_t zero1;
    uint32_t one;
    uint32_t colorKey;
    uint32_t visible;
    uint32_t zero2;
    uint16_t rotation;
    uint16_t zero3;
};
static_assert(sizeof(Attributes) == 40, "the attribute record is 40 bytes");

// The colour conversion record: R from Y, U, V; G from Y, U, V; B from Y, U, V.
struct ColorConversion {
    int16_t coeff[9];
    int16_t zero;
};
static_assert(sizeof(ColorConversion) == 20, "the colour conversion record is 20 bytes");

// A motion vector record of the decoder: six x, y pairs (luma 0-3, U, V).
struct Vectors {
    int16_t v[6][2];
};

struct Output;

// The face sub-record: the core's face slots, then framelane's own fields.
struct Face {
    IdctFace slots;
    int mode;            // 0x40 when the mode parameter was set at frameStart, else 0
    int block;           // block counter within the macroblock
    int px, py;          // the macroblock's position in the frame (after rotation)
    int ux, uy;          // and upright
    uint32_t interHeader;
    uint32_t intraHeader[2];
    uint32_t chroma[4];  // forward U, V, backward U, V coordinate words
    int chromaSet[4];
    int width, height;   // planned frame width and height minus 16 (upright)
    uint32_t pairs[64];
    int idctWidth, idctHeight;
    int modeParam;       // face parameter 80
    int rotation;        // 0-3
    int twoReferences;   // the routines of frames with a backward reference
    int is422;
};

// Saved pictures of a face backup, kept until they are restored or replaced.
struct SavedPicture {
    void* planes[3];
    VideoFormat format;
};

// The 270G object: the core's overlay record, then framelane's own fields.
struct Output {
    Overlay base;
    int oldDriver;
    int dropAtOnce;
    Driver drv;
    HMODULE module;

    // The display facts from the frame-buffer query.
    const volatile uint32_t* scanLine;  // 0: none
    int verticalTotal;
    int lastUsableLine;
    int linesPerMs;
    int refreshPeriod;
    int queryDirection;

    int planWidth, planHeight;  // rounded up to 16, minus 16 (upright)
    Attributes lastAttributes;
    int firstShow;
    int reflip;
    int driverUp;
    int displayUp;
    int inInit;
    int is422;
    int idctBuffers;
    int framesToRestore;
    int lastShowTick;
    int lastFlipTick;
    VideoFormat frameFormat;  // direction: the frame rotation
    int frameRotation;        // -1: none yet
    int overlayRotation;
    int layoutChanged;

    int fxBrightness, fxContrast, fxSaturation, fxAdjust[3];
    int colourApplied;

    ChipFrame frames[kMaxFrames];
    int frameNumber[kMaxFrames];
    int frameCount;
    int showFrames, extraFrames;
    int current, previous, showIndex, heldBack;  // current: the frame shown last, -1 none yet
    int decoding;  // the frame begun and not yet ended, -1 none

    int rotateInCopy;        // 0x201
    int closeMediaPlayer;    // 0x202
    int mediaPlayerAsked;    // asked once to close; not again
    int idctMode;

    SavedPicture saved[kMaxFrames];
    int backupSerial;   // names the backup whose pictures are kept
    int backupPending;
    Face face;
};

inline Output* OwnerOf(void* face) {
    return reinterpret_cast<Output*>(static_cast<char*>(face) - offsetof(Output, face));
}

// overlay.cpp
int Create(void* object);
void Destroy(void* object);
int DriverLost(Output* o);                 // re-initialises after a result of 5; 0 when up again
int FrameAccess(Output* o, int index, void* planes[3], int* pitch);  // with the driver-loss retry
// Frames for showing and extra ones; a count that cannot be had changes nothing.
int SetFrameCount(Output* o, int show, int extra, int minimum);
int FrameShowTiming(Output* o, int timeNow, int frameTime);  // 0 show, -1 refuse
void Flip(Output* o, int index);
int ElapsedMs(int fromTick);
void TurnRect(VRect* r, int direction, int width, int height);
int RotationIndex(int direction);

// idct.cpp
void FaceSetUp(Output* o);
void ChooseRoutines(Output* o);
void FreeSaved(Output* o);

}  // namespace framelane
