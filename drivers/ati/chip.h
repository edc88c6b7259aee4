// The simulated chip's state, shared by the driver's source files. One chip per process;
// every entry point takes the chip lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ace_ddi.h"

namespace ati {

// A memory pool of one kind: first fit over a fixed budget.
class Arena {
public:
    void Reset(size_t size);
    size_t size() const { return size_; }
    // Offset of a new block, or -1.
    long long Alloc(size_t bytes);
    void Free(size_t offset);
    size_t Used() const;
    size_t LargestFree() const;
    uint8_t* At(size_t offset) { return bytes_.data() + offset; }
    bool Empty() const { return used_.empty(); }

private:
    size_t size_ = 0;
    std::vector<uint8_t> bytes_;
    std::map<size_t, size_t> used_;  // offset -> size
};

enum ArenaId { kInternal, kExternal, kDisplay, kArenas };

// A block of memory that one or more surfaces view; freed with its last view.
struct Block {
    ArenaId arena;
    size_t offset;
    size_t bytes;
    int views = 0;
};

struct Surface {
    AhiSurf handle = 0;
    int width = 0, height = 0, format = 0;
    int pitch = 0;        // bytes per row of the first plane
    int kind = 0;         // AHI_MEM_*
    bool display = false; // the display surface itself
    std::shared_ptr<Block> block;
    int locks = 0;

    bool Yuv() const { return format == AHI_FMT_YUV420; }
    int Planes() const { return Yuv() ? 3 : 1; }
    size_t Bytes() const;
};

// One plane of a surface as the blitter and the engine see it.
struct PlaneView {
    uint8_t* base = nullptr;
    int width = 0, height = 0, pitch = 0, bytesPerPixel = 1;
};

struct Context {
    AhiContext record{};
    int rop = 0;
    AhiSurf src = 0, dst = 0;
    int srcPlane = 0, dstPlane = 0;
};

struct Engine {
    AhiIdct handle = 0;
    Context* context = nullptr;
    int rounding = 1;
    int sequenceBase = 0;
    bool inFrame = false;
    int sequence = 0;
    AhiSurf target = 0, forward = 0, backward = 0;
    int lastMb = -1, block = 0;
};

struct Config {
    std::string name = "ATI Imageon 3200";
    std::string version = "1.29";
    uint32_t word[43] = {};
    int devices = 1;
    int enumSkip = 0;
    bool enumSkipAll = false;
    int initResult = 0;
    int openResult = 0;
    bool openFault = false;
    int idctOpenResult = 0;
    int frameStartResult = 0;  // what AhiIDCTFrameStart answers, 0: its own result
    int lockFail = 0;  // plane selector whose lock fails; -1 every plane
    size_t mem64 = 512 * 1024, mem32 = 2 * 1024 * 1024, offscreen = 512 * 1024;
    int screenWidth = 240, screenHeight = 320;
    int orientation = 0, mirror = 0, modeFormat = AHI_FMT_RGB565;
    bool clockManual = false;
    bool statusStuck = false;
    bool log = true;
};

struct Chip {
    std::recursive_mutex lock;
    Config config;
    int initDepth = 0;
    long long inits = 0, terms = 0, opens = 0, errors = 0, foundCalls = 0, vblankWaits = 0, idles = 0;
    // Refused calls that would have decoded into the surface on screen or shown a decode target.
    long long screenFaults = 0;
    long long framesStarted = 0, blocksDecoded = 0;
    std::string clientVersion;
    Arena arenas[kArenas];
    std::map<AhiSurf, Surface> surfaces;
    AhiSurf nextHandle = 0x1000;
    AhiSurf displaySurface = 0;
    std::vector<std::unique_ptr<Context>> contexts;
    std::unique_ptr<Engine> engine;
    // The overlay.
    bool overlayOn = false;
    AhiSurf overlaySurface = 0;
    AhiOverlayPos overlayPos{};
    // Residuals of the blocks decoded since the last frame start.
    std::vector<int16_t> residuals;
    std::vector<AhiCoefGroup> lastGroups;
    // The call log.
    std::vector<std::string> log;
};

Chip& TheChip();
// The register block (static, AHI_REG_BLOCK_SIZE bytes, 32-bit words).
uint32_t* Registers();

// Helpers under the chip lock.
Surface* FindSurface(Chip& c, AhiSurf handle);
bool PlaneOf(Chip& c, const Surface& s, int plane, PlaneView* view);
Context* FindContext(Chip& c, AhiContext* record);
// Appends a line to the call log ("name(args) = result") and counts refusals.
int Logged(Chip& c, int result, const char* format, ...) __attribute__((format(printf, 3, 4)));

// The IDCT engine's reset (chip.cpp calls it on AhiSimReset and AhiDevClose).
void EngineDrop(Chip& c);
// Whether the overlay scans out the surface's memory now.
bool ScannedOut(Chip& c, AhiSurf surface);
// Counts a call refused because of the surface on screen; gives AHI_ERR_STATE.
int ScreenFault(Chip& c);
// Whether the surface's memory is the target of the engine's open frame.
bool OpenTarget(Chip& c, AhiSurf surface);

}  // namespace ati
