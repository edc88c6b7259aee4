// Speed of the list view: one frame of a glide over the list page of each of the ten screen
// forms with every thumbnail cached, painted as the list view paints it on each tick of the
// scroller (the rows into the view's bitmap, that into the window's, that onto the screen).
// Besides the mean, each form reports the median and the 99th percentile of its frames, by
// the painting thread's processor time (what a frame costs) and by the clock (what it took
// on this machine, with whatever else ran meanwhile).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "download.h"
#include "entryGlobals.h"
#include "listView.h"
#include "listview.h"
#include "lumeo.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "platform/ui.h"

namespace {

constexpr int kCount = 100;

struct Form {
    int width, height;  // the screen as it is held
    int skin;           // InitSkin's index of the screen size
    const wchar_t* prefix;
};

const Form kForms[] = {
    {800, 480, 1, L"def_800_480_"}, {480, 800, 1, L"def_800_480_"}, {640, 480, 2, L"def_640_480_"},
    {480, 640, 2, L"def_640_480_"}, {480, 320, 4, L"def_480_320_"}, {320, 480, 4, L"def_480_320_"},
    {400, 240, 5, L"def_400_240_"}, {240, 400, 5, L"def_400_240_"}, {320, 240, 3, L"def_320_240_"},
    {240, 320, 3, L"def_320_240_"},
};

HBITMAP Thumbnail(HDC like, int seed) {
    // 120 x 90 as the service sends them: a picture with some detail, not one colour.
    HBITMAP b = CreateCompatibleBitmap(like, 120, 90);
    HDC dc = CreateCompatibleDC(like);
    HGDIOBJ old = SelectObject(dc, b);
    for (int band = 0; band < 6; ++band) {
        HBRUSH br = CreateSolidBrush(RGB((seed * 37 + band * 40) & 255, (seed * 11 + band * 25) & 255, 160));
        RECT r{band * 20, 0, band * 20 + 20, 90};
        FillRect(dc, &r, br);
        DeleteObject(br);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    return b;
}

// The list and its cached thumbnails, made once; the skin and layout of one form at a time.
class Page {
public:
    bool Show(const Form& f) {
        if (&f == shown_) return ok_;
        shown_ = &f;
        platform::ui::SetScreenSize(f.width, f.height);
        std::wcsncpy(g_appDir, platform::Utf8ToWide(LUMEO_DIST).c_str(), APP_DIR_LEN - 1);
        ReleaseSkin(&g_skin);
        ok_ = InitSkin(&g_skin, f.skin, L"Def", f.prefix) == 0;
        if (!ok_) {
            std::fprintf(stderr, "no skin under %s\n", platform::WideToUtf8(g_appDir).c_str());
            return false;
        }
        // The main window's client area between the status and the soft-key bars; the pass
        // at 0 x 0 first forgets the size of the form before.
        LayoutMainWindow(0, 0);
        LayoutMainWindow(f.width, f.height - platform::ui::StatusBarHeight() - platform::ui::SoftKeyBarHeight());
        SetPictureStock(&g_downloader, g_skin.emptyPic, g_skin.picBk);
        screen_ = std::make_shared<platform::Surface>(f.width, f.height, 0xFFFFFF);
        if (screenDc_) DeleteDC(screenDc_);
        screenDc_ = platform::CreateSurfaceDC(screen_, POINT{0, 0}, RECT{0, 0, f.width, f.height});
        if (g_listHot.items.empty()) Fill();
        const RowLayout& p = g_skin.portrait;
        const RowLayout& q = g_skin.landscape;
        g_scrollerPortrait.ReInit(g_skin.shortSide, g_skin.longSide, p.listRect.w, p.listRect.h, p.rowRect.w,
                                  p.rowRect.h, 2, RGB(0xEF, 0xEF, 0xEF), kCount);
        g_scrollerLandscape.ReInit(g_skin.longSide, g_skin.shortSide, q.listRect.w, q.listRect.h, q.rowRect.w,
                                   q.rowRect.h, g_skin.landscapeColumns ? 1 : 2, RGB(0xEF, 0xEF, 0xEF), kCount);
        return true;
    }
    HDC screen() const { return screenDc_; }

private:
    void Fill() {
        VideoList& list = g_listHot;
        for (int i = 0; i < kCount; ++i) {
            VideoItem v;
            wchar_t vid[16];
            std::swprintf(vid, 16, L"bench%03d", i);
            v.vid = vid;
            v.title = L"澜映独家：城市夜景延时摄影，带你看遍不一样的灯火辉煌";
            v.duration = L"03:25";
            v.user = L"澜映官方频道";
            list.items.push_back(v);
            AddPicture(&g_downloader, Thumbnail(screenDc_, i), vid, 1);
        }
        list.total = kCount;
        g_curList = &list;
    }

    const Form* shown_ = nullptr;
    bool ok_ = false;
    std::shared_ptr<platform::Surface> screen_;
    HDC screenDc_ = nullptr;
};

Page& ThePage() {
    static Page page;
    return page;
}

double ThreadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t at = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

// One tick of a glide: the offset moves on, the scroll bar shows, the page is repainted.
void GlideFrame(benchmark::State& state, const Form& form) {
    Page& page = ThePage();
    if (!page.Show(form)) {
        state.SkipWithError("the skin did not load");
        return;
    }
    int orientation = g_orientation;
    Scroller& s = orientation == 1 ? g_scrollerPortrait : g_scrollerLandscape;
    const LayoutRect& view = (orientation == 1 ? g_skin.portrait : g_skin.landscape).listRect;
    s.active = 1;
    std::vector<double> cpu, wall;
    cpu.reserve(4096);
    wall.reserve(4096);
    for (auto _ : state) {
        double c0 = ThreadMs();
        auto w0 = std::chrono::steady_clock::now();
        int& offset = s.direction == 1 ? s.offsetX : s.offsetY;
        offset -= 37;
        if (offset < (s.direction == 1 ? s.minOffsetX : s.minOffsetY)) offset = 0;
        PaintListViewWindow(page.screen(), view.x, view.y, view.w, view.h, &s, orientation);
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
        cpu.push_back(ThreadMs() - c0);
    }
    s.active = 0;
    state.counters["median_ms"] = Percentile(cpu, 0.5);
    state.counters["p99_ms"] = Percentile(cpu, 0.99);
    state.counters["wall_median_ms"] = Percentile(wall, 0.5);
    state.counters["wall_p99_ms"] = Percentile(wall, 0.99);
}

int Register() {
    for (const Form& f : kForms) {
        std::string name = "GlideFrame/" + std::to_string(f.width) + "x" + std::to_string(f.height);
        benchmark::RegisterBenchmark(name.c_str(), [&f](benchmark::State& s) { GlideFrame(s, f); })
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}
const int g_registered = Register();

}  // namespace

BENCHMARK_MAIN();
