// Rectangles, directions and the display queries of the video output.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "core/overlay.h"
#include "core/sys.h"
#include "core/testing.h"
#include "platform/files.h"

namespace {

// A direction as where it sends the unit axes: x goes to (xx, xy), y to (yx, yy).
struct Dir {
    int xx, xy, yx, yy;
};

Dir ToMatrix(int d) {
    Dir m{1, 0, 0, 1};
    if (d & DIR_SWAPXY) m = {0, 1, 1, 0};
    if (d & DIR_MIRRORX) m.xx = -m.xx, m.yx = -m.yx;
    if (d & DIR_MIRRORY) m.xy = -m.xy, m.yy = -m.yy;
    return m;
}

int FromMatrix(const Dir& m) {
    for (int d = 0; d < 8; ++d) {
        Dir c = ToMatrix(d);
        if (c.xx == m.xx && c.xy == m.xy && c.yx == m.yx && c.yy == m.yy) return d;
    }
    return 0;
}

// a then b.
Dir Then(const Dir& a, const Dir& b) {
    // image of x under a is (a.xx, a.xy); b maps (u, v) to u*(b.xx, b.xy) + v*(b.yx, b.yy).
    return {a.xx * b.xx + a.xy * b.yx, a.xx * b.xy + a.xy * b.yy, a.yx * b.xx + a.yy * b.yx,
            a.yx * b.xy + a.yy * b.yy};
}

Dir Inverse(const Dir& a) { return {a.xx, a.yx, a.xy, a.yy}; }  // orthogonal: the transpose

int RoundDown(int v, int align) { return align > 1 ? v - (((v % align) + align) % align) : v; }

struct VideoState {
    std::mutex lock;
    bool orientationSet = false;
    int orientation = 0;
    bool desktopSet = false;
    VideoFormat desktop{};
    std::map<int, int> platform;
    std::vector<VRect> invalidated;
    std::vector<int> waitDisable;
    int (*findPages)(const void*, uint8_t**, uint8_t**, int) = nullptr;
};

VideoState& State() {
    static auto* s = new VideoState;  // never destroyed: a player thread may use it while the process ends
    return *s;
}

}  // namespace

int CombineDir(int a, int b, int c) {
    return FromMatrix(Then(Then(Inverse(ToMatrix(a)), ToMatrix(b)), ToMatrix(c)));
}

bool EqRect(const VRect* a, const VRect* b) {
    return a->x == b->x && a->y == b->y && a->width == b->width && a->height == b->height;
}

void SwapInt(int* a, int* b) { std::swap(*a, *b); }

void VirtToPhy(const VRect* virt, VRect* phys, const VideoFormat* f) {
    VRect r = *virt;
    int d = f ? f->direction : 0;
    int vw = (d & DIR_SWAPXY) ? f->height : (f ? f->width : 0);
    int vh = (d & DIR_SWAPXY) ? f->width : (f ? f->height : 0);
    if (d & DIR_MIRRORX) r.x = vw - r.x - r.width;
    if (d & DIR_MIRRORY) r.y = vh - r.y - r.height;
    if (d & DIR_SWAPXY) {
        std::swap(r.x, r.y);
        std::swap(r.width, r.height);
    }
    *phys = r;
}

void PhyToVirt(const VRect* phys, VRect* virt, const VideoFormat* f) {
    VRect r = *phys;
    int d = f ? f->direction : 0;
    if (d & DIR_SWAPXY) {
        std::swap(r.x, r.y);
        std::swap(r.width, r.height);
    }
    int vw = (d & DIR_SWAPXY) ? f->height : (f ? f->width : 0);
    int vh = (d & DIR_SWAPXY) ? f->width : (f ? f->height : 0);
    if (d & DIR_MIRRORX) r.x = vw - r.x - r.width;
    if (d & DIR_MIRRORY) r.y = vh - r.y - r.height;
    *virt = r;
}

void AnyAlign(VRect* dst, VRect* src, VideoEffects* fx, int xAlign, int yAlign, int minScale, int maxScale) {
    xAlign = std::max(1, xAlign);
    yAlign = std::max(1, yAlign);
    src->x = RoundDown(src->x, xAlign);
    src->y = RoundDown(src->y, yAlign);
    src->width = std::max(RoundDown(src->width, xAlign), xAlign);
    src->height = std::max(RoundDown(src->height, yAlign), yAlign);
    bool swap = fx && (fx->direction & DIR_SWAPXY);
    int sw = swap ? src->height : src->width, sh = swap ? src->width : src->height;
    auto raw = [](int d, int s) { return s > 0 ? (static_cast<int64_t>(d) << 16) / s : 0x10000; };
    int64_t rx = raw(dst->width, sw), ry = raw(dst->height, sh);
    int sx = static_cast<int>(std::clamp<int64_t>(rx, minScale, maxScale));
    int sy = static_cast<int>(std::clamp<int64_t>(ry, minScale, maxScale));
    // A clamped scale: the dst takes the size the scale gives, about its centre.
    if (sx != rx) {
        int w = static_cast<int>((static_cast<int64_t>(sw) * sx) >> 16);
        dst->x += (dst->width - w) / 2;
        dst->width = w;
    }
    if (sy != ry) {
        int h = static_cast<int>((static_cast<int64_t>(sh) * sy) >> 16);
        dst->y += (dst->height - h) / 2;
        dst->height = h;
    }
    dst->x = RoundDown(dst->x, xAlign);
    dst->y = RoundDown(dst->y, yAlign);
    dst->width = RoundDown(dst->width, xAlign);
    dst->height = RoundDown(dst->height, yAlign);
    if (fx) {
        fx->scaleX = sx;
        fx->scaleY = sy;
    }
}

void AdjustOrientation(VideoFormat* f, int) {
    if (f->direction & DIR_SWAPXY) std::swap(f->width, f->height);
    f->pitch = DefaultPitch(f);
}

int GetOrientation() {
    auto& s = State();
    {
        std::lock_guard<std::mutex> g(s.lock);
        if (s.orientationSet) return s.orientation;
    }
    CoreContext* c = Context();
    return c && c->orientationHook ? c->orientationHook(c->orientationHookObject) : 0;
}

void QueryDesktop(VideoFormat* screen) {
    auto& s = State();
    {
        std::lock_guard<std::mutex> g(s.lock);
        if (s.desktopSet) {
            *screen = s.desktop;
            return;
        }
    }
    VideoFormat f{};
    f.width = 240;
    f.height = 320;
    f.aspect = 0x10000;
    DefaultRGB(&f.pixel, 16, 5, 6, 5, 0, 0, 0);
    f.pitch = DefaultPitch(&f);
    f.direction = GetOrientation();
    *screen = f;
}

int QueryPlatform(int id) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.platform.find(id);
    return it == s.platform.end() ? 0 : it->second;
}

void WinInvalidate(const VRect* rect, int) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.invalidated.push_back(rect ? *rect : VRect{});
}

void WaitDisable(int disable) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.waitDisable.push_back(disable);
}

int FileDate(const tchar* path) {
    if (!path) return 0;
    struct stat st;
    if (stat(platform::ToNativePath(path).c_str(), &st) != 0) return 0;
    struct tm t;
    time_t m = st.st_mtime;
    if (!localtime_r(&m, &t)) return 0;
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

namespace {

struct FindPages {
    uintptr_t address;
    uintptr_t start;
    uintptr_t end;
    bool found;
};

int FindPagesCallback(dl_phdr_info* info, size_t, void* data) {
    auto* f = static_cast<FindPages*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_X)) continue;
        uintptr_t lo = info->dlpi_addr + ph.p_vaddr, hi = lo + ph.p_memsz;
        if (f->address >= lo && f->address < hi) {
            uintptr_t page = 4096;
            f->start = lo & ~(page - 1);
            f->end = (hi + page - 1) & ~(page - 1);
            f->found = true;
            return 1;
        }
    }
    return 0;
}

}  // namespace

int CodeFindPages(const void* address, uint8_t** start, uint8_t** end, int flags) {
    auto& s = State();
    int (*hook)(const void*, uint8_t**, uint8_t**, int);
    {
        std::lock_guard<std::mutex> g(s.lock);
        hook = s.findPages;
    }
    if (hook) return hook(address, start, end, flags);
    FindPages f{reinterpret_cast<uintptr_t>(address), 0, 0, false};
    dl_iterate_phdr(FindPagesCallback, &f);
    if (!f.found) return ERR_INVALID_PARAM;
    *start = reinterpret_cast<uint8_t*>(f.start);
    *end = reinterpret_cast<uint8_t*>(f.end);
    return 0;
}

namespace core {

void SetOrientation(bool set, int direction) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.orientationSet = set;
    s.orientation = direction;
}

void SetDesktop(const VideoFormat* screen) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.desktopSet = screen != nullptr;
    if (screen) s.desktop = *screen;
}

void SetPlatformValue(int id, int value) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.platform[id] = value;
}

std::vector<VRect> InvalidatedRects() {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    return s.invalidated;
}

std::vector<int> WaitDisableLog() {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    return s.waitDisable;
}

void ClearVideoLogs() {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.invalidated.clear();
    s.waitDisable.clear();
}

void SetCodeFindPagesHook(int (*hook)(const void*, uint8_t**, uint8_t**, int)) {
    auto& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.findPages = hook;
}

}  // namespace core
