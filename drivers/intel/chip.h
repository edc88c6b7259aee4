// The simulated chip's state, shared by the driver's sources.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pvrvadd.h"

namespace pvr {

constexpr uintptr_t kMB = 1u << 20;
constexpr size_t kWindowSize = 0x4000000;       // what the chip addresses
constexpr size_t kRegisterOffset = 0x3FE0000;
constexpr size_t kRegisterSize = 0x3000;
constexpr size_t kHeapOffset = kMB;             // local video memory starts here
constexpr size_t kMaxLocalMemory = 48 * kMB;
constexpr size_t kFrameBufferMax = kMB;         // the frame pointer must stay in the first megabyte
constexpr size_t kChipIdOffset = 0x3FE0FF0;
constexpr size_t kVerticalTotalOffset = 0x3FE2164;
constexpr size_t kFirstVisibleOffset = 0x3FE2168;
constexpr size_t kLastVisibleOffset = 0x3FE216C;
constexpr size_t kScanLineOffset = 0x3FE2308;
constexpr uint32_t kChipId = 0x01727189;

enum class MemoryKind { Local, System };

struct Frame {
    uintptr_t handle;
    MemoryKind kind;
    int width;
    int height;
    int pitch;
    uint8_t* base;   // Y plane; U at base + pitch * height, V half a pitch to the right
    size_t offset;   // in the heap (local memory)
    size_t bytes;
    int accesses;

    uint8_t* Y() const { return base; }
    uint8_t* U() const { return base + static_cast<size_t>(pitch) * height; }
    uint8_t* V() const { return U() + pitch / 2; }
};

// First-fit allocator over a range of local video memory.
class Heap {
public:
    void Reset(size_t budget);
    // Offset of a block of `bytes` (rounded up to 4 KB), or SIZE_MAX.
    size_t Allocate(size_t bytes);
    void Free(size_t offset);
    // False when blocks in use lie beyond the new budget.
    bool SetBudget(size_t budget);
    size_t Used() const { return used_; }
    size_t Budget() const { return budget_; }

private:
    size_t budget_ = 0;
    size_t used_ = 0;
    std::map<size_t, size_t> blocks_;  // offset -> bytes
};

// The engine's open section (between a select word and its header).
enum class Section { None, Luma16, Luma8, ChromaU, ChromaV, Luma422, ChromaU422, ChromaV422 };

struct Prediction {
    bool forward = false;
    bool backward = false;
    int fx = 0, fy = 0;  // half pixels
    int bx = 0, by = 0;
};

struct Engine {
    bool frameOpen = false;
    uintptr_t target = 0;
    uintptr_t forward = 0;
    uintptr_t backward = 0;
    bool failed = false;   // a word was refused: the rest of the frame is
    Section section = Section::None;
    bool roundDown = false;
    Prediction pred[4];    // per destination 8x8 block (sections with one prediction use [0])
    int marker = -1;       // block index of the open marker, -1 none
    int markerWords = 0;   // coordinates given after it
    bool hasResidual[4] = {};
    bool intra[4] = {};
    int16_t residual[4][64] = {};
    int pendingBlock = -1; // a block command waits for its coefficients
    int pendingPairs = 0;  // pairs of it received through WriteIZZData
    int32_t pendingCoeffs[64] = {};
    bool pendingSeen[64] = {};
    std::vector<int16_t> residuals;  // of the frame, 64 a block, for the test interface
};

struct Display {
    int width = 800;          // the screen as the user sees it
    int height = 480;
    int rotation = 0;         // panel against that screen
    int panelWidth = 800;     // as it scans
    int panelHeight = 480;
    int pitch = 1600;
    int registersMode = 1;
    int verticalTotal = 0;    // 0: from the panel
    int firstVisible = -1;
    int lastVisible = -1;
    int frozenLine = -1;
};

struct Overlay {
    bool attributesSet = false;
    VDISP_ATTRIBUTES attributes{};
    uintptr_t attributeFrame = 0;
    uintptr_t shown = 0;
    bool colorSet = false;
    VDISP_COLORSPACE color{};
    int brightness = 128;
    int contrast = 128;
    int gamma = 0;
};

struct Chip {
    std::mutex lock;
    uint8_t* window = nullptr;   // 1 MB aligned
    uint8_t* mapping = nullptr;
    size_t mappingSize = 0;
    Heap heap;
    size_t systemBudget = 8 * kMB;
    size_t systemUsed = 0;
    Display display;
    Overlay overlay;
    Engine engine;
    std::map<uintptr_t, Frame> frames;
    uintptr_t nextHandle = 0x1000;
    int frameWidth = 0;
    int frameHeight = 0;
    int izzMode = 0;

    bool m24vaInitialised = false;
    bool vdispInitialised = false;
    bool lost = false;
    int initFailures = 0;
    int vdispFailures = 0;
    int beginFailures = 0;
    int attributeFailures = 0;
    long long loseAfter = -1;

    long long flips = 0;
    long long attributeSends = 0;
    long long framesDecoded = 0;
    long long commandErrors = 0;
    long long screenFaults = 0;  // calls that would have decoded into the picture on screen

    bool logOn = true;
    std::vector<std::string> log;
    std::string lastError;

    // The scan-line clock.
    std::thread clock;
    std::atomic<bool> clockRun{false};

    ~Chip();  // a program may end with the display started: the clock stops first
};

Chip& TheChip();

// Makes sure the window is mapped and the registers hold the display's values (lock held).
bool EnsureWindow(Chip& c);
void ApplyDisplay(Chip& c);
void StartClock(Chip& c);
void StopClock(Chip& c);
void WriteRegister(Chip& c, size_t offset, uint32_t value);

// Frames (lock held).
Frame* FindFrame(Chip& c, M24VA_FRAME handle);
void FreeFrame(Chip& c, uintptr_t handle);
void FreeAllFrames(Chip& c);

// The call log (lock held).
void Log(Chip& c, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Counts a frame call for the lose-after fault; true when the chip has lost its state.
bool FrameCallLost(Chip& c);

// The frame the overlay scans out now (0: none; lock held).
uintptr_t OnScreen(const Chip& c);
// A refused call: its reason (PVRSim_LastError) and the error count (lock held).
void CountRefusal(Chip& c, const char* format, va_list ap);
// Refuses a call that would put the frame being decoded on screen, or decode into the one
// there: says why (PVRSim_LastError), counts it and gives M24VA_INVALID_PARAM (lock held).
int ScreenFault(Chip& c, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The engine (lock held).
void EngineReset(Engine& e);
int EngineWord(Chip& c, uint32_t word);
int EngineBlock(Chip& c, const uint32_t* pairs, int count, bool partial);
int EngineSamples(Chip& c, const int16_t* samples, int count);
// The exact inverse DCT: `coeffs` in raster order to samples.
void InverseDct(const int32_t coeffs[64], int32_t out[64]);

}  // namespace pvr
