// Speed of the list view: one frame of a glide over the 800 x 480 list page with every
// thumbnail cached, painted as the list view paints it on each tick of the scroller (the
// rows into a bitmap of the view, that into the window's bitmap, that onto the screen).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cwchar>
#include <memory>

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

// The skin, the layout and a cached list of the 800 x 480 screen, made once.
struct Page {
    std::shared_ptr<platform::Surface> screen;
    HDC screenDc = nullptr;

    Page() {
        platform::ui::SetScreenSize(800, 480);
        std::wcsncpy(g_appDir, platform::Utf8ToWide(LUMEO_DIST).c_str(), APP_DIR_LEN - 1);
        if (InitSkin(&g_skin, 1, L"Def", L"def_800_480_") != 0) {
            std::fprintf(stderr, "no skin under %s\n", platform::WideToUtf8(g_appDir).c_str());
            return;
        }
        LayoutMainWindow(800, 480 - platform::ui::StatusBarHeight() - platform::ui::SoftKeyBarHeight());
        SetPictureStock(&g_downloader, g_skin.emptyPic, g_skin.picBk);
        screen = std::make_shared<platform::Surface>(800, 480, 0xFFFFFF);
        screenDc = platform::CreateSurfaceDC(screen, POINT{0, 0}, RECT{0, 0, 800, 480});
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
            AddPicture(&g_downloader, Thumbnail(screenDc, i), vid, 1);
        }
        list.total = kCount;
        g_curList = &list;
        const RowLayout& p = g_skin.portrait;
        const RowLayout& q = g_skin.landscape;
        g_scrollerPortrait.ReInit(480, 800, p.listRect.w, p.listRect.h, p.rowRect.w, p.rowRect.h, 2,
                                  RGB(0xEF, 0xEF, 0xEF), kCount);
        g_scrollerLandscape.ReInit(800, 480, q.listRect.w, q.listRect.h, q.rowRect.w, q.rowRect.h,
                                   g_skin.landscapeColumns ? 1 : 2, RGB(0xEF, 0xEF, 0xEF), kCount);
    }
};

Page& ThePage() {
    static Page page;
    return page;
}

// One tick of a glide: the offset moves on, the scroll bar shows, the page is repainted.
void BM_GlideFrame(benchmark::State& state) {
    Page& page = ThePage();
    if (!page.screenDc) {
        state.SkipWithError("the skin did not load");
        return;
    }
    int orientation = static_cast<int>(state.range(0));
    Scroller& s = orientation == 1 ? g_scrollerPortrait : g_scrollerLandscape;
    const LayoutRect& view = (orientation == 1 ? g_skin.portrait : g_skin.landscape).listRect;
    s.active = 1;
    for (auto _ : state) {
        int& offset = s.direction == 1 ? s.offsetX : s.offsetY;
        offset -= 37;
        if (offset < (s.direction == 1 ? s.minOffsetX : s.minOffsetY)) offset = 0;
        HDC mem = CreateCompatibleDC(page.screenDc);
        HBITMAP bmp = CreateCompatibleBitmap(page.screenDc, view.w, view.h);
        HGDIOBJ old = SelectObject(mem, bmp);
        PaintListView(mem, &s, g_curList, orientation, L"暂无视频，请稍候重试。");
        BitBlt(page.screenDc, view.x, view.y, view.w, view.h, mem, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
    }
    s.active = 0;
}
BENCHMARK(BM_GlideFrame)->Arg(2)->Arg(1)->ArgName("orientation")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
