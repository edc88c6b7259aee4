// The chip's memory window, frames, display registers and scan-line clock, the display
// escape and the test entry points.
#include <sys/mman.h>

#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "chip.h"

namespace pvr {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kLogLimit = 200000;

std::atomic<uint32_t*> g_scanRegister{nullptr};
std::atomic<int> g_verticalTotal{0};

size_t RoundUp(size_t v, size_t a) { return (v + a - 1) / a * a; }

int DefaultVerticalTotal(const Display& d) { return d.verticalTotal > 0 ? d.verticalTotal : d.panelHeight + 24; }
int FirstVisible(const Display& d) { return d.firstVisible >= 0 ? d.firstVisible : 8; }
int LastVisible(const Display& d) { return d.lastVisible >= 0 ? d.lastVisible : 8 + d.panelHeight; }

void ClockLoop() {
    using namespace std::chrono;
    auto start = steady_clock::now();
    const auto period = nanoseconds(1000000000LL / 60);
    while (TheChip().clockRun.load()) {
        auto inFrame = (steady_clock::now() - start) % period;
        int total = g_verticalTotal.load();
        if (uint32_t* reg = g_scanRegister.load(); reg && total > 0) {
            auto line = static_cast<uint32_t>(inFrame.count() * total / period.count());
            __atomic_store_n(reg, line & 0xFFF, __ATOMIC_RELAXED);
        }
        std::this_thread::sleep_for(microseconds(250));
    }
}

}  // namespace

Chip::~Chip() { StopClock(*this); }

Chip& TheChip() {
    static Chip chip;
    return chip;
}

void Heap::Reset(size_t budget) {
    budget_ = budget;
    used_ = 0;
    blocks_.clear();
}

size_t Heap::Allocate(size_t bytes) {
    bytes = RoundUp(bytes, kPage);
    if (bytes == 0 || bytes > budget_ - used_) return SIZE_MAX;
    size_t at = 0;
    for (const auto& [offset, size] : blocks_) {
        if (offset - at >= bytes) break;
        at = offset + size;
    }
    if (at + bytes > budget_) return SIZE_MAX;
    blocks_[at] = bytes;
    used_ += bytes;
    return at;
}

bool Heap::SetBudget(size_t budget) {
    if (!blocks_.empty()) {
        auto last = std::prev(blocks_.end());
        if (last->first + last->second > budget) return false;
    }
    budget_ = budget;
    return true;
}

void Heap::Free(size_t offset) {
    auto it = blocks_.find(offset);
    if (it == blocks_.end()) return;
    used_ -= it->second;
    blocks_.erase(it);
}

bool EnsureWindow(Chip& c) {
    if (c.window) return true;
    size_t size = kWindowSize + kMB;
    void* m = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) return false;
    c.mapping = static_cast<uint8_t*>(m);
    c.mappingSize = size;
    c.window = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(m) + kMB - 1) & ~(kMB - 1));
    if (mprotect(c.window, kFrameBufferMax, PROT_READ | PROT_WRITE) != 0 ||
        mprotect(c.window + kHeapOffset, kMaxLocalMemory, PROT_READ | PROT_WRITE) != 0) {
        munmap(m, size);
        c.window = c.mapping = nullptr;
        return false;
    }
    if (c.heap.Budget() == 0) c.heap.Reset(8 * kMB);
    ApplyDisplay(c);
    return true;
}

void WriteRegister(Chip& c, size_t offset, uint32_t value) {
    if (!c.window || c.display.registersMode == 2) return;
    __atomic_store_n(reinterpret_cast<uint32_t*>(c.window + offset), value, __ATOMIC_RELAXED);
}

void ApplyDisplay(Chip& c) {
    Display& d = c.display;
    bool turned = d.rotation == 90 || d.rotation == 270;
    d.panelWidth = turned ? d.height : d.width;
    d.panelHeight = turned ? d.width : d.height;
    d.pitch = d.panelWidth * 2;
    if (!c.window) return;
    uint8_t* regs = c.window + kRegisterOffset;
    if (d.registersMode == 2) {
        g_scanRegister.store(nullptr);
        mprotect(regs, kRegisterSize, PROT_NONE);
        return;
    }
    mprotect(regs, kRegisterSize, PROT_READ | PROT_WRITE);
    WriteRegister(c, kChipIdOffset, d.registersMode == 1 ? kChipId : 0);
    WriteRegister(c, kVerticalTotalOffset, static_cast<uint32_t>(DefaultVerticalTotal(d)));
    WriteRegister(c, kFirstVisibleOffset, static_cast<uint32_t>(FirstVisible(d)));
    WriteRegister(c, kLastVisibleOffset, static_cast<uint32_t>(LastVisible(d)));
    g_verticalTotal.store(DefaultVerticalTotal(d));
    if (d.frozenLine >= 0) {
        g_scanRegister.store(nullptr);
        WriteRegister(c, kScanLineOffset, static_cast<uint32_t>(d.frozenLine));
    } else {
        g_scanRegister.store(reinterpret_cast<uint32_t*>(c.window + kScanLineOffset));
    }
}

void StartClock(Chip& c) {
    if (c.clockRun.load()) return;
    c.clockRun.store(true);
    c.clock = std::thread(ClockLoop);
}

void StopClock(Chip& c) {
    c.clockRun.store(false);
    if (c.clock.joinable()) c.clock.join();
}

Frame* FindFrame(Chip& c, M24VA_FRAME handle) {
    auto it = c.frames.find(reinterpret_cast<uintptr_t>(handle));
    return it == c.frames.end() ? nullptr : &it->second;
}

void FreeFrame(Chip& c, uintptr_t handle) {
    auto it = c.frames.find(handle);
    if (it == c.frames.end()) return;
    Frame& f = it->second;
    if (f.kind == MemoryKind::Local) {
        c.heap.Free(f.offset);
    } else {
        c.systemUsed -= f.bytes;
        free(f.base);
    }
    if (c.overlay.shown == handle) c.overlay.shown = 0;
    if (c.overlay.attributeFrame == handle) c.overlay.attributeFrame = 0;
    if (c.engine.target == handle || c.engine.forward == handle || c.engine.backward == handle) EngineReset(c.engine);
    c.frames.erase(it);
}

void FreeAllFrames(Chip& c) {
    while (!c.frames.empty()) FreeFrame(c, c.frames.begin()->first);
}

void Log(Chip& c, const char* format, ...) {
    if (!c.logOn) return;
    char line[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
    if (c.log.size() >= kLogLimit) c.log.erase(c.log.begin(), c.log.begin() + kLogLimit / 2);
    c.log.emplace_back(line);
}

bool FrameCallLost(Chip& c) {
    if (c.lost) return true;
    if (c.loseAfter == 0) {
        c.loseAfter = -1;
        c.lost = true;
        return true;
    }
    if (c.loseAfter > 0) --c.loseAfter;
    return false;
}

uintptr_t OnScreen(const Chip& c) {
    const Overlay& o = c.overlay;
    if (!c.vdispInitialised || !o.attributesSet || !o.attributes.visible) return 0;
    return o.shown ? o.shown : o.attributeFrame;
}

void CountRefusal(Chip& c, const char* format, va_list ap) {
    char text[200];
    vsnprintf(text, sizeof(text), format, ap);
    c.lastError = text;
    ++c.commandErrors;
}

int ScreenFault(Chip& c, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    CountRefusal(c, format, ap);
    va_end(ap);
    ++c.screenFaults;
    return M24VA_INVALID_PARAM;
}

}  // namespace pvr

using namespace pvr;

extern "C" {

int DrvEscape(int escape, int inSize, const void* in, int outSize, void* out) {
    (void)inSize;
    (void)in;
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    if (escape != PVR_ESCAPE_RAW_FRAMEBUFFER) return 0;
    if (!out || outSize < static_cast<int>(sizeof(PVR_RAW_FRAMEBUFFER))) return -1;
    if (!EnsureWindow(c)) return -1;
    const Display& d = c.display;
    PVR_RAW_FRAMEBUFFER r{};
    r.format = PVR_FORMAT_565;
    r.bitsPerPixel = 16;
    r.width = d.width;
    r.height = d.height;
    // Where the user's pixel (0, 0) lies in the panel and how x and y move through it.
    size_t origin = 0;
    switch (d.rotation) {
        case 90:  // user (x, y) at panel (panelWidth - 1 - y, x)
            origin = static_cast<size_t>(d.panelWidth - 1) * 2;
            r.xStride = d.pitch;
            r.yStride = -2;
            break;
        case 180:  // panel (panelWidth - 1 - x, panelHeight - 1 - y)
            origin = static_cast<size_t>(d.panelHeight - 1) * d.pitch + static_cast<size_t>(d.panelWidth - 1) * 2;
            r.xStride = -2;
            r.yStride = -d.pitch;
            break;
        case 270:  // panel (y, panelHeight - 1 - x)
            origin = static_cast<size_t>(d.panelHeight - 1) * d.pitch;
            r.xStride = -d.pitch;
            r.yStride = 2;
            break;
        default:
            r.xStride = 2;
            r.yStride = d.pitch;
    }
    r.frame = c.window + origin;
    memcpy(out, &r, sizeof(r));
    Log(c, "DrvEscape(0x%X) = 1", escape);
    return 1;
}

void PVRSim_Reset(void) {
    Chip& c = TheChip();
    StopClock(c);
    std::lock_guard<std::mutex> g(c.lock);
    FreeAllFrames(c);
    EngineReset(c.engine);
    c.heap.Reset(8 * kMB);
    c.systemBudget = 8 * kMB;
    c.systemUsed = 0;
    c.display = Display{};
    c.overlay = Overlay{};
    c.frameWidth = c.frameHeight = 0;
    c.izzMode = 0;
    c.m24vaInitialised = c.vdispInitialised = c.lost = false;
    c.initFailures = c.vdispFailures = 0;
    c.loseAfter = -1;
    c.flips = c.attributeSends = c.framesDecoded = c.commandErrors = c.screenFaults = 0;
    c.beginFailures = c.attributeFailures = 0;
    c.logOn = true;
    c.log.clear();
    c.lastError.clear();
    c.engine.residuals.clear();
    if (EnsureWindow(c)) {
        memset(c.window, 0, kFrameBufferMax);
        ApplyDisplay(c);
    }
}

int PVRSim_Set(const char* name, long long value) {
    if (!name) return -1;
    Chip& c = TheChip();
    std::string n = name;
    if (n == "scanline" && value < 0) {
        std::lock_guard<std::mutex> g(c.lock);
        c.display.frozenLine = -1;
        ApplyDisplay(c);
        return 0;
    }
    std::lock_guard<std::mutex> g(c.lock);
    if (!EnsureWindow(c)) return -1;
    Display d = c.display;
    auto fits = [](const Display& x) {
        return x.width >= 16 && x.height >= 16 && static_cast<size_t>(x.width) * x.height * 2 <= kFrameBufferMax;
    };
    if (n == "init_failures" && value >= 0) {
        c.initFailures = static_cast<int>(value);
    } else if (n == "vdisp_failures" && value >= 0) {
        c.vdispFailures = static_cast<int>(value);
    } else if (n == "begin_failures" && value >= 0) {
        c.beginFailures = static_cast<int>(value);
    } else if (n == "attribute_failures" && value >= 0) {
        c.attributeFailures = static_cast<int>(value);
    } else if (n == "lose_after" && value >= -1) {
        c.loseAfter = value;
    } else if (n == "local_memory" && value >= 0 && static_cast<size_t>(value) <= kMaxLocalMemory) {
        if (!c.heap.SetBudget(static_cast<size_t>(value))) return -1;  // frames lie beyond it
    } else if (n == "system_memory" && value >= 0) {
        c.systemBudget = static_cast<size_t>(value);
    } else if (n == "screen_width" || n == "screen_height") {
        (n == "screen_width" ? d.width : d.height) = static_cast<int>(value);
        if (!fits(d)) return -1;
        c.display.width = d.width;
        c.display.height = d.height;
        ApplyDisplay(c);
    } else if (n == "panel_rotation" && (value == 0 || value == 90 || value == 180 || value == 270)) {
        c.display.rotation = static_cast<int>(value);
        ApplyDisplay(c);
    } else if (n == "registers" && value >= 0 && value <= 2) {
        c.display.registersMode = static_cast<int>(value);
        ApplyDisplay(c);
    } else if (n == "scanline" && value < 4096) {
        c.display.frozenLine = static_cast<int>(value);
        ApplyDisplay(c);
    } else if (n == "vertical_total" && value >= 0 && value < 4096) {
        c.display.verticalTotal = static_cast<int>(value);
        ApplyDisplay(c);
    } else if (n == "first_visible" && value >= -1 && value < 4096) {
        c.display.firstVisible = static_cast<int>(value);
        ApplyDisplay(c);
    } else if (n == "last_visible" && value >= -1 && value < 4096) {
        c.display.lastVisible = static_cast<int>(value);
        ApplyDisplay(c);
    } else if (n == "log" && (value == 0 || value == 1)) {
        c.logOn = value != 0;
    } else {
        return -1;
    }
    return 0;
}

int PVRSim_Get(const char* name, long long* value) {
    if (!name || !value) return -1;
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    std::string n = name;
    long long frames = 0;
    for (const auto& [h, f] : c.frames) {
        (void)h;
        (void)f;
        ++frames;
    }
    const Display& d = c.display;
    const std::pair<const char*, long long> values[] = {
        {"m24va_initialised", c.m24vaInitialised},
        {"vdisp_initialised", c.vdispInitialised},
        {"frames", frames},
        {"local_memory_used", static_cast<long long>(c.heap.Used())},
        {"system_memory_used", static_cast<long long>(c.systemUsed)},
        {"flips", c.flips},
        {"attribute_sends", c.attributeSends},
        {"overlay_visible", c.overlay.attributesSet && c.overlay.attributes.visible ? 1 : 0},
        {"brightness", c.overlay.brightness},
        {"contrast", c.overlay.contrast},
        {"gamma", c.overlay.gamma},
        {"lost", c.lost},
        {"izz_mode", c.izzMode},
        {"frames_decoded", c.framesDecoded},
        {"command_errors", c.commandErrors},
        {"screen_faults", c.screenFaults},
        {"begin_failures", c.beginFailures},
        {"attribute_failures", c.attributeFailures},
        {"init_failures", c.initFailures},
        {"vdisp_failures", c.vdispFailures},
        {"lose_after", c.loseAfter},
        {"local_memory", static_cast<long long>(c.heap.Budget())},
        {"system_memory", static_cast<long long>(c.systemBudget)},
        {"screen_width", d.width},
        {"screen_height", d.height},
        {"panel_rotation", d.rotation},
        {"registers", d.registersMode},
        {"scanline", d.frozenLine},
        {"vertical_total", DefaultVerticalTotal(d)},
        {"first_visible", FirstVisible(d)},
        {"last_visible", LastVisible(d)},
        {"log", c.logOn},
    };
    for (const auto& [key, v] : values)
        if (n == key) {
            *value = v;
            return 0;
        }
    return -1;
}

int PVRSim_Log(char* buffer, int size) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    std::string all;
    for (const auto& line : c.log) {
        all += line;
        all += '\n';
    }
    if (buffer && size > 0) {
        size_t n = std::min(all.size(), static_cast<size_t>(size - 1));
        memcpy(buffer, all.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(std::min(all.size(), static_cast<size_t>(INT_MAX)));
}

void PVRSim_ClearLog(void) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    c.log.clear();
}

int PVRSim_LastError(char* buffer, int size) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    if (buffer && size > 0) snprintf(buffer, static_cast<size_t>(size), "%s", c.lastError.c_str());
    return static_cast<int>(c.lastError.size());
}

}  // extern "C"

namespace {

// The desktop pixel the user sees at (x, y).
uint8_t* DesktopPixel(Chip& c, int x, int y) {
    const Display& d = c.display;
    int px = x, py = y;
    switch (d.rotation) {
        case 90: px = d.panelWidth - 1 - y, py = x; break;
        case 180: px = d.panelWidth - 1 - x, py = d.panelHeight - 1 - y; break;
        case 270: px = y, py = d.panelHeight - 1 - x; break;
        default: break;
    }
    return c.window + static_cast<size_t>(py) * d.pitch + static_cast<size_t>(px) * 2;
}

}  // namespace

extern "C" {

int PVRSim_FillDesktop(int x, int y, int width, int height, unsigned color) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    if (!EnsureWindow(c)) return -1;
    const Display& d = c.display;
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, d.width), y1 = std::min(y + height, d.height);
    auto v = static_cast<uint16_t>(color);
    for (int j = y0; j < y1; ++j)
        for (int i = x0; i < x1; ++i) memcpy(DesktopPixel(c, i, j), &v, 2);
    return 0;
}

int SimChipScreen(int width, int height) {
    if (PVRSim_Set("screen_width", width) != 0) return -1;
    return PVRSim_Set("screen_height", height);
}

int SimChipActive(void) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    return c.m24vaInitialised || c.vdispInitialised ? 1 : 0;
}

int SimChipDesktop(uint16_t* pixels, int stride, int write) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    const Display& d = c.display;
    if (!pixels || stride < d.width || !EnsureWindow(c)) return -1;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            uint16_t* p = pixels + static_cast<size_t>(y) * stride + x;
            if (write)
                memcpy(DesktopPixel(c, x, y), p, 2);
            else
                memcpy(p, DesktopPixel(c, x, y), 2);
        }
    return 0;
}

int SimChipScanOut(uint8_t* rgb, int width, int height) { return PVRSim_ScanOut(rgb, width, height, 1); }

int SimChipResiduals(int16_t* blocks, int maxBlocks) {
    Chip& c = TheChip();
    std::lock_guard<std::mutex> g(c.lock);
    const auto& r = c.engine.residuals;
    int n = static_cast<int>(r.size() / 64);
    if (blocks && maxBlocks > 0) memcpy(blocks, r.data(), static_cast<size_t>(std::min(n, maxBlocks)) * 64 * sizeof(int16_t));
    return n;
}

}  // extern "C"
