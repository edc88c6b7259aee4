// The simulated chip: memory, surfaces, devices, the display and its overlay, the register
// block with its scan line, the scan-out, and the test-only entry points.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "chip.h"

namespace ati {

// --- Arena ---

void Arena::Reset(size_t size) {
    size_ = size;
    bytes_.assign(size, 0);
    used_.clear();
}

long long Arena::Alloc(size_t bytes) {
    if (bytes == 0) return -1;
    bytes = (bytes + 63) & ~static_cast<size_t>(63);
    size_t at = 0;
    for (const auto& [offset, length] : used_) {
        if (offset >= at && offset - at >= bytes) break;
        at = std::max(at, offset + length);
    }
    if (at + bytes > size_) return -1;
    used_[at] = bytes;
    return static_cast<long long>(at);
}

void Arena::Free(size_t offset) { used_.erase(offset); }

size_t Arena::Used() const {
    size_t n = 0;
    for (const auto& u : used_) n += u.second;
    return n;
}

size_t Arena::LargestFree() const {
    size_t at = 0, best = 0;
    for (const auto& [offset, length] : used_) {
        if (offset > at) best = std::max(best, offset - at);
        at = std::max(at, offset + length);
    }
    if (size_ > at) best = std::max(best, size_ - at);
    return best;
}

size_t Surface::Bytes() const {
    if (!Yuv()) return static_cast<size_t>(pitch) * height;
    size_t chroma = static_cast<size_t>(pitch / 2) * ((height + 1) / 2);
    return static_cast<size_t>(pitch) * height + 2 * chroma;
}

namespace {

alignas(64) uint32_t g_registers[AHI_REG_BLOCK_SIZE / 4];

// The 60 Hz scan line: 525 lines a frame, the visible ones first.
std::atomic<bool> g_clockRun{false};
std::thread g_clockThread;

constexpr int kLines = 525;
constexpr int kFrameMicros = 16667;

void StoreStatus(uint32_t value) { __atomic_store_n(&g_registers[AHI_REG_STATUS / 4], value, __ATOMIC_RELEASE); }

uint32_t StatusAt(int line, int visibleLines) {
    uint32_t v = static_cast<uint32_t>(line) & 0x3FF;
    if (line >= visibleLines) v |= AHI_STATUS_VBLANK;
    return v;
}

void ClockLoop(int visibleLines, bool stuck) {
    using namespace std::chrono;
    auto start = steady_clock::now();
    while (g_clockRun.load()) {
        if (!stuck) {
            long long us = duration_cast<microseconds>(steady_clock::now() - start).count() % kFrameMicros;
            StoreStatus(StatusAt(static_cast<int>(us * kLines / kFrameMicros), visibleLines));
        }
        std::this_thread::sleep_for(microseconds(100));
    }
}

// A clock still running at unload or exit is stopped before its thread object goes.
struct ClockStop {
    ~ClockStop();
} g_clockStop;

int VisibleLines(const Config& cfg) { return std::min(cfg.screenHeight, kLines - 45); }

void StopClock() {
    if (!g_clockRun.exchange(false)) return;
    if (g_clockThread.joinable()) g_clockThread.join();
}

ClockStop::~ClockStop() { StopClock(); }

void StartClock(Chip& c) {
    if (c.config.clockManual || g_clockRun.load()) return;
    g_clockRun = true;
    g_clockThread = std::thread(ClockLoop, VisibleLines(c.config), c.config.statusStuck);
}

size_t ScreenBytes(const Config& cfg) { return static_cast<size_t>(cfg.screenWidth) * cfg.screenHeight * 2; }

uint16_t kDesktopGrey = 0x8410;

// The display memory: the visible screen at offset 0, the off-screen part after it.
void MakeDisplay(Chip& c) {
    for (auto it = c.surfaces.begin(); it != c.surfaces.end();)
        it = it->second.block && it->second.block->arena == kDisplay ? c.surfaces.erase(it) : std::next(it);
    c.arenas[kDisplay].Reset(ScreenBytes(c.config) + c.config.offscreen);
    long long at = c.arenas[kDisplay].Alloc(ScreenBytes(c.config));
    Surface s;
    s.handle = c.nextHandle;
    c.nextHandle += 0x10;
    s.width = c.config.screenWidth;
    s.height = c.config.screenHeight;
    s.format = AHI_FMT_RGB565;
    s.pitch = s.width * 2;
    s.kind = AHI_MEM_DISPLAY;
    s.display = true;
    s.block = std::make_shared<Block>(Block{kDisplay, static_cast<size_t>(at), ScreenBytes(c.config), 1});
    auto* px = reinterpret_cast<uint16_t*>(c.arenas[kDisplay].At(0));
    std::fill(px, px + static_cast<size_t>(s.width) * s.height, kDesktopGrey);
    c.displaySurface = s.handle;
    c.surfaces[s.handle] = s;
}

void ResetRegisters() {
    std::memset(g_registers, 0, sizeof(g_registers));
    // Other bits of the display control stay as the driver set them.
    g_registers[AHI_REG_DISPCNTL / 4] = 0x00A10006;
    StoreStatus(0);
}

void ResetChip(Chip& c) {
    StopClock();
    c.config = Config{};
    c.config.word[1] = 0x57441002;
    c.config.word[6] = 1;
    for (int i = 7; i <= 10; ++i) c.config.word[i] = 0x100 * i;
    c.initDepth = 0;
    c.inits = c.terms = c.opens = c.errors = c.foundCalls = c.vblankWaits = c.idles = c.screenFaults = 0;
    c.framesStarted = c.blocksDecoded = 0;
    c.clientVersion.clear();
    c.surfaces.clear();
    c.contexts.clear();
    c.engine.reset();
    c.overlayOn = false;
    c.overlaySurface = 0;
    c.overlayPos = AhiOverlayPos{};
    c.residuals.clear();
    c.lastGroups.clear();
    c.log.clear();
    c.arenas[kInternal].Reset(c.config.mem64);
    c.arenas[kExternal].Reset(c.config.mem32);
    MakeDisplay(c);
    ResetRegisters();
}

Chip& Make() {
    static Chip chip;
    ResetChip(chip);
    return chip;
}

int FormatBits(int format) { return format == AHI_FMT_YUV420 ? 12 : 16; }

bool KnownFormat(int format) {
    return format == AHI_FMT_YUV420 || format == AHI_FMT_RGB565 || format == AHI_FMT_RGB555 ||
           format == AHI_FMT_RGB444;
}

// Pitch of a new surface: luma rows of 16-pixel multiples, 16-bit rows of 16-byte multiples,
// so that a view with the sides exchanged fits the same memory when the sides are aligned.
int PitchFor(int width, int format) {
    if (format == AHI_FMT_YUV420) return (width + 15) & ~15;
    return (width * 2 + 15) & ~15;
}

const char* Str(const char* s) { return s ? s : "(null)"; }

Context* Ctx(Chip& c, AhiContext* record) { return FindContext(c, record); }

// YUV (studio range) to RGB 8-8-8.
inline uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void YuvToRgb(int y, int u, int v, uint8_t* out) {
    int c = 298 * (y - 16), d = u - 128, e = v - 128;
    out[0] = Clip((c + 409 * e + 128) >> 8);
    out[1] = Clip((c - 100 * d - 208 * e + 128) >> 8);
    out[2] = Clip((c + 516 * d + 128) >> 8);
}

void Rgb565ToRgb(uint16_t p, uint8_t* out) {
    int r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
    out[0] = static_cast<uint8_t>((r << 3) | (r >> 2));
    out[1] = static_cast<uint8_t>((g << 2) | (g >> 4));
    out[2] = static_cast<uint8_t>((b << 3) | (b >> 2));
}

bool InScreen(const Config& cfg, int l, int t, int r, int b) {
    return l >= 0 && t >= 0 && r <= cfg.screenWidth && b <= cfg.screenHeight && l < r && t < b;
}

int CheckPosition(Chip& c, const Surface& s, const AhiOverlayPos& p) {
    if (!InScreen(c.config, p.dstLeft, p.dstTop, p.dstRight, p.dstBottom)) return AHI_ERR_PARAM;
    if (p.srcLeft < 0 || p.srcTop < 0 || p.srcRight > s.width || p.srcBottom > s.height || p.srcLeft >= p.srcRight ||
        p.srcTop >= p.srcBottom)
        return AHI_ERR_PARAM;
    // The overlay shows its source 1:1.
    if (p.srcRight - p.srcLeft != p.dstRight - p.dstLeft || p.srcBottom - p.srcTop != p.dstBottom - p.dstTop)
        return AHI_ERR_PARAM;
    if (p.mirror & ~(AHI_MIRROR_X | AHI_MIRROR_Y)) return AHI_ERR_PARAM;
    if (!s.Yuv() && s.format != AHI_FMT_RGB565) return AHI_ERR_PARAM;
    return AHI_OK;
}

void FillInfo(const Chip& c, AhiDevInfo* info) {
    std::memset(info, 0, sizeof(*info));
    std::snprintf(info->name, sizeof(info->name), "%s", c.config.name.c_str());
    std::snprintf(info->version, sizeof(info->version), "%s", c.config.version.c_str());
    std::memcpy(info->word, c.config.word, sizeof(info->word));
}

}  // namespace

Chip& TheChip() {
    static Chip& chip = Make();
    return chip;
}

uint32_t* Registers() { return g_registers; }

Surface* FindSurface(Chip& c, AhiSurf handle) {
    auto it = c.surfaces.find(handle);
    return it == c.surfaces.end() ? nullptr : &it->second;
}

bool PlaneOf(Chip& c, const Surface& s, int plane, PlaneView* v) {
    uint8_t* base = c.arenas[s.block->arena].At(s.block->offset);
    if (!s.Yuv()) {
        if (plane != 0) return false;
        *v = PlaneView{base, s.width, s.height, s.pitch, 2};
        return true;
    }
    int cw = (s.width + 1) / 2, ch = (s.height + 1) / 2, cp = s.pitch / 2;
    size_t luma = static_cast<size_t>(s.pitch) * s.height;
    switch (plane) {
        case 0:
        case AHI_PLANE_Y: *v = PlaneView{base, s.width, s.height, s.pitch, 1}; return true;
        case AHI_PLANE_U: *v = PlaneView{base + luma, cw, ch, cp, 1}; return true;
        case AHI_PLANE_V: *v = PlaneView{base + luma + static_cast<size_t>(cp) * ch, cw, ch, cp, 1}; return true;
        default: return false;
    }
}

bool ScannedOut(Chip& c, AhiSurf surface) {
    Surface* s = FindSurface(c, surface);
    Surface* shown = c.overlayOn ? FindSurface(c, c.overlaySurface) : nullptr;
    return s && shown && s->block == shown->block;
}

int ScreenFault(Chip& c) {
    ++c.screenFaults;
    return AHI_ERR_STATE;
}

Context* FindContext(Chip& c, AhiContext* record) {
    for (auto& ctx : c.contexts)
        if (&ctx->record == record) return ctx.get();
    return nullptr;
}

int Logged(Chip& c, int result, const char* format, ...) {
    if (result == AHI_ERR_PARAM || result == AHI_ERR_STATE) ++c.errors;
    if (!c.config.log) return result;
    char line[512];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
    if (n < 0) return result;
    std::string s(line);
    s += " = " + std::to_string(result);
    if (c.log.size() >= 200000) c.log.erase(c.log.begin(), c.log.begin() + 100000);
    c.log.push_back(std::move(s));
    return result;
}

}  // namespace ati

using namespace ati;

// The routine the driver calls itself after a termination on the real part. Its first word
// reads as a register-save entry and the two marker words follow it, so that a client
// scanning the driver's code finds it; the jump skips the words that are not code here.
extern "C" __attribute__((visibility("hidden"), used)) void AtiPowerRoutineBody() {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    ++c.foundCalls;
    Logged(c, 0, "power routine()");
}
#if defined(__x86_64__)
__asm__(
    ".text\n"
    ".p2align 4\n"
    ".globl AtiPowerRoutine\n"
    ".hidden AtiPowerRoutine\n"
    ".type AtiPowerRoutine, @function\n"
    "AtiPowerRoutine:\n"
    "  .byte 0xEB, 0x02, 0x2D, 0xE9\n"
    "  jmp AtiPowerRoutineBody@PLT\n"
    "  .p2align 2\n"
    "  .long 0xE3A06A06\n"
    "  .long 0xE3866002\n"
    ".size AtiPowerRoutine, .-AtiPowerRoutine\n");
#endif

// --- Driver and devices ---

int AhiInit(int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    int r = c.config.initResult;
    if (r == 0) {
        ++c.initDepth;
        ++c.inits;
    }
    return Logged(c, r, "AhiInit(%d)", flags);
}

int AhiTerm(void) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (c.initDepth == 0) return Logged(c, AHI_ERR_STATE, "AhiTerm()");
    --c.initDepth;
    ++c.terms;
    return Logged(c, 0, "AhiTerm()");
}

int AhiDevEnum(AhiDev* device, AhiDevInfo* info, int index) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (c.initDepth == 0) return Logged(c, AHI_ERR_STATE, "AhiDevEnum(%d)", index);
    if (!device || !info || index < 0) return Logged(c, AHI_ERR_PARAM, "AhiDevEnum(%d)", index);
    int r;
    if (c.config.enumSkipAll || index < c.config.enumSkip) {
        r = AHI_ERR_SKIP;
    } else if (index < c.config.enumSkip + c.config.devices) {
        *device = static_cast<AhiDev>(index + 1);
        FillInfo(c, info);
        r = AHI_OK;
    } else {
        r = AHI_ERR_NODEVICE;
    }
    return Logged(c, r, "AhiDevEnum(%d)", index);
}

int AhiDevOpen(AhiContext** context, AhiDev device, const char* client, int flags) {
    Chip& c = TheChip();
    bool fault;
    {
        std::lock_guard<std::recursive_mutex> g(c.lock);
        Logged(c, 0, "AhiDevOpen(%d, \"%s\", %d) begins", static_cast<int>(device), Str(client), flags);
        fault = c.config.openFault;
    }
    // A driver that faults on opening: the access fault comes with no lock held.
    if (fault) raise(SIGSEGV);
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!context) return Logged(c, AHI_ERR_PARAM, "AhiDevOpen");
    *context = nullptr;
    if (c.initDepth == 0) return Logged(c, AHI_ERR_STATE, "AhiDevOpen");
    if (device < 1 || device > static_cast<AhiDev>(c.config.enumSkip + c.config.devices) ||
        device <= static_cast<AhiDev>(c.config.enumSkip))
        return Logged(c, AHI_ERR_PARAM, "AhiDevOpen");
    if (c.config.openResult != 0) return Logged(c, c.config.openResult, "AhiDevOpen");
    auto ctx = std::make_unique<Context>();
    ctx->record.word[0] = 0x41484943;  // "CIHA"
    ctx->record.word[1] = device;
    ctx->record.word[AHI_CONTEXT_REGS] = reinterpret_cast<uintptr_t>(g_registers);
    *context = &ctx->record;
    c.contexts.push_back(std::move(ctx));
    ++c.opens;
    if (c.contexts.size() == 1) StartClock(c);
    return Logged(c, AHI_OK, "AhiDevOpen -> context %zu", c.contexts.size());
}

int AhiDevClose(AhiContext* context) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    auto it = std::find_if(c.contexts.begin(), c.contexts.end(), [&](auto& p) { return &p->record == context; });
    if (it == c.contexts.end()) return Logged(c, AHI_ERR_PARAM, "AhiDevClose");
    if (c.engine && c.engine->context == it->get()) EngineDrop(c);
    c.contexts.erase(it);
    if (c.contexts.empty()) {
        StopClock();
        c.overlayOn = false;
        c.overlaySurface = 0;
    }
    return Logged(c, AHI_OK, "AhiDevClose");
}

int AhiDevClientVersion(AhiContext* context, const char* version) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context)) return Logged(c, AHI_ERR_PARAM, "AhiDevClientVersion");
    c.clientVersion = Str(version);
    return Logged(c, AHI_OK, "AhiDevClientVersion(\"%s\")", Str(version));
}

// --- Display ---

int AhiDispModeGet(AhiContext* context, AhiDispMode* mode) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context) || !mode) return Logged(c, AHI_ERR_PARAM, "AhiDispModeGet");
    bool turned = c.config.orientation & 1;
    // The mode's sides are the screen as the user holds it.
    mode->width = turned ? c.config.screenHeight : c.config.screenWidth;
    mode->height = turned ? c.config.screenWidth : c.config.screenHeight;
    mode->format = c.config.modeFormat;
    mode->refresh = 60;
    mode->orientation = c.config.orientation;
    mode->mirror = c.config.mirror;
    return Logged(c, AHI_OK, "AhiDispModeGet -> %dx%d fmt %d or %d mirror %d", mode->width, mode->height,
                  mode->format, mode->orientation, mode->mirror);
}

int AhiDispModeEnum(AhiContext* context, AhiDispMode* mode, int index) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context) || !mode) return Logged(c, AHI_ERR_PARAM, "AhiDispModeEnum");
    if (index < 0 || index > 3) return Logged(c, AHI_ERR_NODEVICE, "AhiDispModeEnum(%d)", index);
    bool turned = index & 1;
    *mode = AhiDispMode{turned ? c.config.screenHeight : c.config.screenWidth,
                        turned ? c.config.screenWidth : c.config.screenHeight, c.config.modeFormat, 60, index, 0};
    return Logged(c, AHI_OK, "AhiDispModeEnum(%d)", index);
}

int AhiDispSurfGet(AhiContext* context, AhiSurf* surface) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context) || !surface) return Logged(c, AHI_ERR_PARAM, "AhiDispSurfGet");
    *surface = c.displaySurface;
    return Logged(c, AHI_OK, "AhiDispSurfGet -> %#lx", static_cast<unsigned long>(c.displaySurface));
}

int AhiDispWaitVBlank(AhiContext* context, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context)) return Logged(c, AHI_ERR_PARAM, "AhiDispWaitVBlank");
    ++c.vblankWaits;
    if (g_clockRun.load() && !c.config.statusStuck) {
        // Until the next blank starts, at most a frame and a bit.
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
        auto inBlank = [] { return __atomic_load_n(&g_registers[AHI_REG_STATUS / 4], __ATOMIC_ACQUIRE) & AHI_STATUS_VBLANK; };
        while (inBlank() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::microseconds(100));
        while (!inBlank() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return Logged(c, AHI_OK, "AhiDispWaitVBlank(%d)", flags);
}

int AhiDispOverlayCaps(AhiContext* context, AhiOverlayCapsRec* caps) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context) || !caps) return Logged(c, AHI_ERR_PARAM, "AhiDispOverlayCaps");
    if (c.config.word[6] == 0) return Logged(c, AHI_ERR_DEVICE, "AhiDispOverlayCaps");
    *caps = AhiOverlayCapsRec{(1 << AHI_FMT_YUV420) | (1 << AHI_FMT_RGB565), 8, 8, 2048, 2048, 0};
    return Logged(c, AHI_OK, "AhiDispOverlayCaps");
}

int AhiDispOverlayState(AhiContext* context, int on, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context)) return Logged(c, AHI_ERR_PARAM, "AhiDispOverlayState(%d, %d)", on, flags);
    if (on && c.config.word[6] == 0) return Logged(c, AHI_ERR_DEVICE, "AhiDispOverlayState(%d, %d)", on, flags);
    // A frame the engine is decoding is never scanned out.
    if (on && OpenTarget(c, c.overlaySurface))
        return Logged(c, ScreenFault(c), "AhiDispOverlayState(%d, %d): a decode target", on, flags);
    c.overlayOn = on != 0;
    return Logged(c, AHI_OK, "AhiDispOverlayState(%d, %d)", on, flags);
}

int AhiDispOverlayPos(AhiContext* context, const AhiOverlayPos* p, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, c.overlaySurface);
    if (!Ctx(c, context) || !p || !s) return Logged(c, AHI_ERR_PARAM, "AhiDispOverlayPos(%d)", flags);
    int r = CheckPosition(c, *s, *p);
    if (r == AHI_OK) c.overlayPos = *p;
    return Logged(c, r, "AhiDispOverlayPos(%d)", flags);
}

int AhiDispOverlaySurf(AhiContext* context, AhiSurf surface, const AhiOverlayPos* p, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, surface);
    const char* fmt = "AhiDispOverlaySurf(%#lx, dst %d,%d-%d,%d src %d,%d-%d,%d key %#x/%#x mirror %d, %d)";
    auto log = [&](int r) {
        return p ? Logged(c, r, fmt, static_cast<unsigned long>(surface), p->dstLeft, p->dstTop, p->dstRight,
                          p->dstBottom, p->srcLeft, p->srcTop, p->srcRight, p->srcBottom, p->keyValue, p->keyMask,
                          p->mirror, flags)
                 : Logged(c, r, "AhiDispOverlaySurf(%#lx, null)", static_cast<unsigned long>(surface));
    };
    if (!Ctx(c, context) || !p || !s) return log(AHI_ERR_PARAM);
    if (c.config.word[6] == 0) return log(AHI_ERR_DEVICE);
    // A frame the engine is decoding is never scanned out.
    if (c.overlayOn && OpenTarget(c, surface)) return log(ScreenFault(c));
    int r = CheckPosition(c, *s, *p);
    if (r == AHI_OK) {
        c.overlaySurface = surface;
        c.overlayPos = *p;
    }
    return log(r);
}

// --- Surfaces ---

int AhiSurfGetLargestFreeBlockSize(AhiContext* context, int kind, uint32_t* size) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!Ctx(c, context) || !size || (kind != AHI_MEM_INTERNAL && kind != AHI_MEM_EXTERNAL))
        return Logged(c, AHI_ERR_PARAM, "AhiSurfGetLargestFreeBlockSize(%d)", kind);
    *size = static_cast<uint32_t>(c.arenas[kind == AHI_MEM_INTERNAL ? kInternal : kExternal].LargestFree());
    return Logged(c, AHI_OK, "AhiSurfGetLargestFreeBlockSize(%d) -> %u", kind, *size);
}

int AhiSurfAlloc(AhiContext* context, AhiSurf* surface, const AhiSize* size, int format, int kind) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (surface) *surface = 0;
    if (!Ctx(c, context) || !surface || !size || !KnownFormat(format) || size->width <= 0 || size->height <= 0 ||
        size->width > 2048 || size->height > 2048 || (kind != AHI_MEM_INTERNAL && kind != AHI_MEM_EXTERNAL))
        return Logged(c, AHI_ERR_PARAM, "AhiSurfAlloc(%dx%d, %d, %d)", size ? size->width : 0,
                      size ? size->height : 0, format, kind);
    Surface s;
    s.width = size->width;
    s.height = size->height;
    s.format = format;
    s.pitch = PitchFor(s.width, format);
    s.kind = kind;
    ArenaId arena = kind == AHI_MEM_INTERNAL ? kInternal : kExternal;
    long long at = c.arenas[arena].Alloc(s.Bytes());
    if (at < 0) return Logged(c, AHI_ERR_MEMORY, "AhiSurfAlloc(%dx%d, %d, %d)", s.width, s.height, format, kind);
    s.block = std::make_shared<Block>(Block{arena, static_cast<size_t>(at), s.Bytes(), 1});
    s.handle = c.nextHandle;
    c.nextHandle += 0x10;
    c.surfaces[s.handle] = s;
    *surface = s.handle;
    return Logged(c, AHI_OK, "AhiSurfAlloc(%dx%d, %d, %d) -> %#lx", s.width, s.height, format, kind,
                  static_cast<unsigned long>(s.handle));
}

int AhiSurfReuse(AhiContext* context, AhiSurf* surface, AhiSurf base, const AhiSize* size, int format, int flags) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (surface) *surface = 0;
    Surface* b = FindSurface(c, base);
    const char* fmt = "AhiSurfReuse(%#lx, %dx%d, %d, %d)";
    int w = size ? size->width : 0, h = size ? size->height : 0;
    if (!Ctx(c, context) || !surface || !b || !KnownFormat(format) || w <= 0 || h <= 0 || w > 2048 || h > 2048)
        return Logged(c, AHI_ERR_PARAM, fmt, static_cast<unsigned long>(base), w, h, format, flags);
    Surface s;
    s.width = w;
    s.height = h;
    s.format = format;
    s.pitch = PitchFor(w, format);
    if (b->display) {
        // Off-screen display memory.
        long long at = c.arenas[kDisplay].Alloc(s.Bytes());
        if (at < 0) return Logged(c, AHI_ERR_MEMORY, fmt, static_cast<unsigned long>(base), w, h, format, flags);
        s.block = std::make_shared<Block>(Block{kDisplay, static_cast<size_t>(at), s.Bytes(), 0});
        s.kind = AHI_MEM_DISPLAY;
    } else {
        // Another view of the base's memory.
        if (s.Bytes() > b->block->bytes)
            return Logged(c, AHI_ERR_MEMORY, fmt, static_cast<unsigned long>(base), w, h, format, flags);
        s.block = b->block;
        s.kind = b->kind;
    }
    ++s.block->views;
    s.handle = c.nextHandle;
    c.nextHandle += 0x10;
    c.surfaces[s.handle] = s;
    *surface = s.handle;
    return Logged(c, AHI_OK, "AhiSurfReuse(%#lx, %dx%d, %d, %d) -> %#lx", static_cast<unsigned long>(base), w, h,
                  format, flags, static_cast<unsigned long>(s.handle));
}

int AhiSurfFree(AhiContext* context, AhiSurf surface) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, surface);
    if (!Ctx(c, context) || !s || s->display)
        return Logged(c, AHI_ERR_PARAM, "AhiSurfFree(%#lx)", static_cast<unsigned long>(surface));
    if (c.overlaySurface == surface) {
        // Freed while on screen: the overlay loses its picture.
        if (c.overlayOn) ++c.errors;
        c.overlaySurface = 0;
    }
    if (c.engine && (c.engine->target == surface || c.engine->forward == surface || c.engine->backward == surface)) {
        c.engine->target = c.engine->forward = c.engine->backward = 0;
        c.engine->inFrame = false;
        ++c.errors;
    }
    std::shared_ptr<Block> block = s->block;
    c.surfaces.erase(surface);
    if (--block->views == 0) c.arenas[block->arena].Free(block->offset);
    return Logged(c, AHI_OK, "AhiSurfFree(%#lx)", static_cast<unsigned long>(surface));
}

int AhiSurfLock(AhiContext* context, AhiSurf surface, void** pointer, int plane) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (pointer) *pointer = nullptr;
    Surface* s = FindSurface(c, surface);
    PlaneView v;
    if (!Ctx(c, context) || !s || !pointer || !PlaneOf(c, *s, plane, &v))
        return Logged(c, AHI_ERR_PARAM, "AhiSurfLock(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
    if (c.config.lockFail == -1 || (c.config.lockFail != 0 && c.config.lockFail == plane))
        return Logged(c, AHI_ERR_DEVICE, "AhiSurfLock(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
    ++s->locks;
    *pointer = v.base;
    return Logged(c, AHI_OK, "AhiSurfLock(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
}

int AhiSurfUnlock(AhiContext* context, AhiSurf surface, int plane) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, surface);
    if (!Ctx(c, context) || !s || s->locks <= 0)
        return Logged(c, AHI_ERR_STATE, "AhiSurfUnlock(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
    --s->locks;
    return Logged(c, AHI_OK, "AhiSurfUnlock(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
}

int AhiSurfInfo(AhiContext* context, AhiSurf surface, AhiSurfInfoRec* info) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, surface);
    if (!Ctx(c, context) || !s || !info)
        return Logged(c, AHI_ERR_PARAM, "AhiSurfInfo(%#lx)", static_cast<unsigned long>(surface));
    *info = AhiSurfInfoRec{s->width, s->height, s->pitch, FormatBits(s->format), s->format, s->kind};
    return Logged(c, AHI_OK, "AhiSurfInfo(%#lx)", static_cast<unsigned long>(surface));
}

int AhiSurfPlaneInfo(AhiContext* context, AhiSurf surface, AhiSurfInfoRec* info, int plane) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, surface);
    PlaneView v;
    if (!Ctx(c, context) || !s || !info || !PlaneOf(c, *s, plane, &v))
        return Logged(c, AHI_ERR_PARAM, "AhiSurfPlaneInfo(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
    *info = AhiSurfInfoRec{v.width, v.height, v.pitch, v.bytesPerPixel * 8, s->format, s->kind};
    return Logged(c, AHI_OK, "AhiSurfPlaneInfo(%#lx, %#x)", static_cast<unsigned long>(surface), plane);
}

// --- Test-only entry points ---

void AhiSimReset(void) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    ResetChip(c);
}

namespace {

bool ArenaSetting(Chip& c, ArenaId id, long long value) {
    if (value < 0 || !c.arenas[id].Empty()) return false;
    c.arenas[id].Reset(static_cast<size_t>(value));
    return true;
}

}  // namespace

// Settings: device_id, word0 ... word42, devices, enum_skip, enum_skip_all, init_result,
// open_result, open_fault, idct_open_result, frame_start_result, lock_fail, mem64, mem32,
// offscreen, screen_width, screen_height, orientation, mirror, mode_format, clock_manual,
// scanline, status_stuck, log.
int AhiSimSet(const char* name, long long value) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!name) return -1;
    std::string n = name;
    Config& cfg = c.config;
    int v = static_cast<int>(value);
    if (n == "device_id") {
        cfg.word[1] = static_cast<uint32_t>(value);
    } else if (n.rfind("word", 0) == 0) {
        int i = std::atoi(n.c_str() + 4);
        if (i < 0 || i >= 43) return -1;
        cfg.word[i] = static_cast<uint32_t>(value);
    } else if (n == "devices") {
        cfg.devices = v;
    } else if (n == "enum_skip") {
        cfg.enumSkip = v;
    } else if (n == "enum_skip_all") {
        cfg.enumSkipAll = v != 0;
    } else if (n == "init_result") {
        cfg.initResult = v;
    } else if (n == "open_result") {
        cfg.openResult = v;
    } else if (n == "open_fault") {
        cfg.openFault = v != 0;
    } else if (n == "idct_open_result") {
        cfg.idctOpenResult = v;
    } else if (n == "frame_start_result") {
        cfg.frameStartResult = v;
    } else if (n == "lock_fail") {
        cfg.lockFail = v;
    } else if (n == "mem64") {
        if (!ArenaSetting(c, kInternal, value)) return -1;
        cfg.mem64 = static_cast<size_t>(value);
    } else if (n == "mem32") {
        if (!ArenaSetting(c, kExternal, value)) return -1;
        cfg.mem32 = static_cast<size_t>(value);
    } else if (n == "offscreen" || n == "screen_width" || n == "screen_height") {
        if (!c.contexts.empty() || value < 0 || (n != "offscreen" && (value < 16 || value > 2048))) return -1;
        for (auto& [h, s] : c.surfaces)
            if (!s.display && s.block->arena == kDisplay) return -1;
        if (n == "offscreen") cfg.offscreen = static_cast<size_t>(value);
        if (n == "screen_width") cfg.screenWidth = v;
        if (n == "screen_height") cfg.screenHeight = v;
        MakeDisplay(c);
    } else if (n == "orientation") {
        cfg.orientation = v & 3;
    } else if (n == "mirror") {
        cfg.mirror = v & 3;
    } else if (n == "mode_format") {
        cfg.modeFormat = v;
    } else if (n == "clock_manual") {
        cfg.clockManual = v != 0;
        if (cfg.clockManual) StopClock();
        else if (!c.contexts.empty()) StartClock(c);
    } else if (n == "scanline") {
        if (!cfg.clockManual) return -1;
        StoreStatus(StatusAt(v, VisibleLines(cfg)));
    } else if (n == "status_stuck") {
        cfg.statusStuck = v != 0;
        if (g_clockRun.load()) {
            StopClock();
            StartClock(c);
        }
    } else if (n == "log") {
        cfg.log = v != 0;
    } else {
        return -1;
    }
    return 0;
}

int AhiSimSetText(const char* name, const char* text) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!name || !text) return -1;
    std::string n = name;
    if (n == "version") c.config.version = text;
    else if (n == "name") c.config.name = text;
    else return -1;
    return 0;
}

// Read-back: inits, terms, init_depth, opens, contexts, errors, screen_faults, found_calls, vblank_waits,
// idles, surfaces, used64, used32, used_offscreen, free64, free32, overlay_on,
// overlay_surface, display_surface, idct_open, rounding, frames_started, blocks, reg414,
// reg54c, client_version_set, screen_width, screen_height.
long long AhiSimGet(const char* name) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!name) return -1;
    std::string n = name;
    if (n == "inits") return c.inits;
    if (n == "terms") return c.terms;
    if (n == "init_depth") return c.initDepth;
    if (n == "opens") return c.opens;
    if (n == "contexts") return static_cast<long long>(c.contexts.size());
    if (n == "errors") return c.errors;
    if (n == "screen_faults") return c.screenFaults;
    if (n == "found_calls") return c.foundCalls;
    if (n == "vblank_waits") return c.vblankWaits;
    if (n == "idles") return c.idles;
    if (n == "surfaces") return static_cast<long long>(c.surfaces.size()) - 1;  // but the display surface
    if (n == "used64") return static_cast<long long>(c.arenas[kInternal].Used());
    if (n == "used32") return static_cast<long long>(c.arenas[kExternal].Used());
    if (n == "used_offscreen")
        return static_cast<long long>(c.arenas[kDisplay].Used()) - static_cast<long long>(ScreenBytes(c.config) + 63) / 64 * 64;
    if (n == "free64") return static_cast<long long>(c.arenas[kInternal].LargestFree());
    if (n == "free32") return static_cast<long long>(c.arenas[kExternal].LargestFree());
    if (n == "overlay_on") return c.overlayOn ? 1 : 0;
    if (n == "overlay_surface") return static_cast<long long>(c.overlaySurface);
    if (n == "display_surface") return static_cast<long long>(c.displaySurface);
    if (n == "idct_open") return c.engine ? 1 : 0;
    if (n == "rounding") return c.engine ? c.engine->rounding : -1;
    if (n == "frames_started") return c.framesStarted;
    if (n == "blocks") return c.blocksDecoded;
    if (n == "reg414") return __atomic_load_n(&g_registers[AHI_REG_DISPCNTL / 4], __ATOMIC_ACQUIRE);
    if (n == "reg54c") return __atomic_load_n(&g_registers[AHI_REG_STATUS / 4], __ATOMIC_ACQUIRE);
    if (n == "client_version_set") return c.clientVersion == "1.29.031201.07700" ? 1 : 0;
    if (n == "screen_width") return c.config.screenWidth;
    if (n == "screen_height") return c.config.screenHeight;
    return -1;
}

int AhiSimCallLog(char* buffer, int size) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    std::string all;
    for (const auto& line : c.log) all += line + "\n";
    if (buffer && size > 0) {
        size_t n = std::min(all.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, all.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(all.size());
}

void AhiSimClearLog(void) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    c.log.clear();
}

namespace {

int CopyPlane(AhiSurf surface, int plane, uint8_t* out, const uint8_t* in, int pitch) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    Surface* s = FindSurface(c, surface);
    PlaneView v;
    if (!s || !PlaneOf(c, *s, plane, &v) || pitch < v.width * v.bytesPerPixel) return -1;
    size_t row = static_cast<size_t>(v.width) * v.bytesPerPixel;
    for (int y = 0; y < v.height; ++y) {
        uint8_t* p = v.base + static_cast<size_t>(y) * v.pitch;
        if (out) std::memcpy(out + static_cast<size_t>(y) * pitch, p, row);
        if (in) std::memcpy(p, in + static_cast<size_t>(y) * pitch, row);
    }
    return 0;
}

}  // namespace

int AhiSimSurfRead(AhiSurf surface, int plane, uint8_t* out, int pitch) {
    return out ? CopyPlane(surface, plane, out, nullptr, pitch) : -1;
}

int AhiSimSurfWrite(AhiSurf surface, int plane, const uint8_t* in, int pitch) {
    return in ? CopyPlane(surface, plane, nullptr, in, pitch) : -1;
}

AhiSurf AhiSimOverlay(AhiOverlayPos* position) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    if (!c.overlayOn) return 0;
    if (position) *position = c.overlayPos;
    return c.overlaySurface;
}

int SimChipScreen(int width, int height) {
    if (AhiSimSet("screen_width", width) != 0) return -1;
    return AhiSimSet("screen_height", height);
}

int SimChipActive(void) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    return c.contexts.empty() ? 0 : 1;
}

int SimChipDesktop(uint16_t* pixels, int stride, int write) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    int w = c.config.screenWidth, h = c.config.screenHeight;
    if (!pixels || stride < w) return -1;
    auto* screen = reinterpret_cast<uint16_t*>(c.arenas[kDisplay].At(0));
    for (int y = 0; y < h; ++y) {
        uint16_t* row = screen + static_cast<size_t>(y) * w;
        uint16_t* other = pixels + static_cast<size_t>(y) * stride;
        if (write) std::memcpy(row, other, static_cast<size_t>(w) * 2);
        else std::memcpy(other, row, static_cast<size_t>(w) * 2);
    }
    return 0;
}

int SimChipScanOut(uint8_t* rgb, int width, int height) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    int w = c.config.screenWidth, h = c.config.screenHeight;
    if (!rgb || width != w || height != h) return -1;
    const auto* screen = reinterpret_cast<const uint16_t*>(c.arenas[kDisplay].At(0));
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) Rgb565ToRgb(screen[i], rgb + 3 * i);
    Surface* s = FindSurface(c, c.overlaySurface);
    if (!c.overlayOn || !s) return 0;
    const AhiOverlayPos& p = c.overlayPos;
    bool direct = (__atomic_load_n(&g_registers[AHI_REG_DISPCNTL / 4], __ATOMIC_ACQUIRE) & 7) == 2;
    PlaneView Y, U, V;
    PlaneOf(c, *s, s->Yuv() ? AHI_PLANE_Y : 0, &Y);
    if (s->Yuv()) {
        PlaneOf(c, *s, AHI_PLANE_U, &U);
        PlaneOf(c, *s, AHI_PLANE_V, &V);
    }
    int dw = p.dstRight - p.dstLeft, dh = p.dstBottom - p.dstTop;
    for (int y = 0; y < dh; ++y) {
        int sy = p.srcTop + ((p.mirror & AHI_MIRROR_Y) ? dh - 1 - y : y);
        for (int x = 0; x < dw; ++x) {
            size_t at = static_cast<size_t>(p.dstTop + y) * w + (p.dstLeft + x);
            if (!direct && (screen[at] & p.keyMask) != (p.keyValue & p.keyMask)) continue;
            int sx = p.srcLeft + ((p.mirror & AHI_MIRROR_X) ? dw - 1 - x : x);
            if (s->Yuv()) {
                YuvToRgb(Y.base[static_cast<size_t>(sy) * Y.pitch + sx], U.base[static_cast<size_t>(sy / 2) * U.pitch + sx / 2],
                         V.base[static_cast<size_t>(sy / 2) * V.pitch + sx / 2], rgb + 3 * at);
            } else {
                uint16_t px;
                std::memcpy(&px, Y.base + static_cast<size_t>(sy) * Y.pitch + 2 * sx, 2);
                Rgb565ToRgb(px, rgb + 3 * at);
            }
        }
    }
    return 0;
}

int SimChipResiduals(int16_t* blocks, int maxBlocks) {
    Chip& c = TheChip();
    std::lock_guard<std::recursive_mutex> g(c.lock);
    int n = static_cast<int>(c.residuals.size() / 64);
    if (blocks && maxBlocks > 0)
        std::memcpy(blocks, c.residuals.data(), static_cast<size_t>(std::min(n, maxBlocks)) * 64 * sizeof(int16_t));
    return n;
}
