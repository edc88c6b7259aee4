// Drawing speed: a whole 800 x 480 list page painted into a memory bitmap and blitted to
// the screen, a screen of Chinese text, and the bare full-screen blit.
#include "platform/gdi.h"
#include "platform/surface.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

constexpr int kW = 800, kH = 480;

struct Screen {
    std::shared_ptr<platform::Surface> surface = std::make_shared<platform::Surface>(kW, kH, 0xFFFFFF);
    HDC dc = platform::CreateSurfaceDC(surface, POINT{0, 0}, RECT{0, 0, kW, kH});
    ~Screen() { DeleteDC(dc); }
};

HFONT Font(int height, int weight = FW_NORMAL) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    return CreateFontIndirectW(&lf);
}

HBITMAP Picture(HDC like, int w, int h, COLORREF c) {
    HBITMAP b = CreateCompatibleBitmap(like, w, h);
    HDC dc = CreateCompatibleDC(like);
    HGDIOBJ old = SelectObject(dc, b);
    HBRUSH br = CreateSolidBrush(c);
    RECT r{0, 0, w, h};
    FillRect(dc, &r, br);
    DeleteObject(br);
    SelectObject(dc, old);
    DeleteDC(dc);
    return b;
}

const wchar_t* const kTitles[] = {
    L"澜映独家：城市夜景延时摄影，带你看遍不一样的灯火辉煌",
    L"体育快讯 本周精彩进球集锦与赛后采访完整版",
    L"原创音乐现场 Live：民谣歌手的午后小型演唱会",
    L"搞笑短片合集第十二期，看完保证你笑出声来",
    L"资讯：新款手机评测，续航、拍照与系统流畅度全面对比",
};

// A list page as the program paints it: title bar, rows with thumbnail, frame, title,
// duration and publisher lines, separators and arrows; then one blit to the screen.
void BM_PaintListPage(benchmark::State& state) {
    Screen screen;
    HBITMAP titleBar = Picture(screen.dc, 16, 44, RGB(0, 68, 117));
    HBITMAP thumb = Picture(screen.dc, 160, 120, RGB(120, 160, 200));
    HBITMAP arrow = Picture(screen.dc, 16, 26, RGB(200, 200, 200));
    HDC pics = CreateCompatibleDC(screen.dc);
    for (auto _ : state) {
        HDC mem = CreateCompatibleDC(screen.dc);
        HBITMAP back = CreateCompatibleBitmap(screen.dc, kW, kH);
        HGDIOBJ oldBmp = SelectObject(mem, back);
        HPEN bgPen = CreatePen(PS_SOLID, 1, RGB(239, 239, 239));
        HBRUSH bg = CreateSolidBrush(RGB(239, 239, 239));
        HGDIOBJ oldPen = SelectObject(mem, bgPen), oldBrush = SelectObject(mem, bg);
        Rectangle(mem, 0, 0, kW, kH);
        HGDIOBJ oldPic = SelectObject(pics, titleBar);
        StretchBlt(mem, 0, 0, kW, 44, pics, 0, 0, 16, 44, SRCCOPY);
        HFONT bold = Font(23, FW_BOLD), normal = Font(23);
        HGDIOBJ oldFont = SelectObject(mem, bold);
        SetBkMode(mem, TRANSPARENT);
        SetTextColor(mem, RGB(255, 255, 255));
        RECT title{10, 10, 130, 33};
        DrawTextW(mem, L"热门推荐", -1, &title, DT_NOPREFIX);
        SelectObject(mem, normal);
        SetTextColor(mem, RGB(0, 0, 0));
        HPEN sep = CreatePen(PS_SOLID, 1, RGB(102, 186, 246)), frame = CreatePen(PS_SOLID, 2, RGB(0, 140, 240));
        for (int row = 0; row < 5; ++row) {
            const int y = 44 + row * 101;
            SelectObject(mem, sep);
            MoveToEx(mem, 0, y + 100, nullptr);
            LineTo(mem, kW, y + 100);
            SelectObject(mem, frame);
            Rectangle(mem, 7, y + 7, 7 + 114, y + 7 + 86);
            SelectObject(pics, thumb);
            StretchBlt(mem, 8, y + 8, 112, 84, pics, 0, 0, 160, 120, SRCCOPY);
            RECT t{132, y + 4, kW - 48, y + 50}, d{132, y + 53, kW - 48, y + 76}, p{132, y + 76, kW - 48, y + 99};
            DrawTextW(mem, kTitles[row], -1, &t, 0xA910);
            DrawTextW(mem, L"时长：03:25  播放：12345", -1, &d, 0xA900);
            DrawTextW(mem, L"发布：澜映官方频道", -1, &p, 0xA900);
            SelectObject(pics, arrow);
            BitBlt(mem, kW - 32, y + 37, 16, 26, pics, 0, 0, SRCCOPY);
        }
        BitBlt(screen.dc, 0, 0, kW, kH, mem, 0, 0, SRCCOPY);
        SelectObject(pics, oldPic);
        SelectObject(mem, oldFont);
        SelectObject(mem, oldPen);
        SelectObject(mem, oldBrush);
        SelectObject(mem, oldBmp);
        for (HGDIOBJ o : {static_cast<HGDIOBJ>(bgPen), static_cast<HGDIOBJ>(bg), static_cast<HGDIOBJ>(bold),
                          static_cast<HGDIOBJ>(normal), static_cast<HGDIOBJ>(sep), static_cast<HGDIOBJ>(frame),
                          static_cast<HGDIOBJ>(back)})
            DeleteObject(o);
        DeleteDC(mem);
    }
    DeleteDC(pics);
    DeleteObject(titleBar);
    DeleteObject(thumb);
    DeleteObject(arrow);
}
BENCHMARK(BM_PaintListPage)->Unit(benchmark::kMillisecond);

// A screen filled with wrapped Chinese text.
void BM_ChineseTextScreen(benchmark::State& state) {
    Screen screen;
    std::wstring text;
    while (text.size() < 1000) text += L"澜映视频客户端为你带来热门推荐、资讯、原创、音乐、体育与搞笑频道，以及每日每周每月的排行榜。";
    HFONT f = Font(static_cast<int>(state.range(0)));
    HGDIOBJ old = SelectObject(screen.dc, f);
    SetBkMode(screen.dc, TRANSPARENT);
    int64_t chars = 0;
    for (auto _ : state) {
        RECT r{0, 0, kW, kH};
        DrawTextW(screen.dc, text.c_str(), -1, &r, DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS);
        chars += static_cast<int64_t>(text.size());
    }
    state.counters["chars/s"] = benchmark::Counter(static_cast<double>(chars), benchmark::Counter::kIsRate);
    SelectObject(screen.dc, old);
    DeleteObject(f);
}
BENCHMARK(BM_ChineseTextScreen)->Arg(23)->Arg(14)->Unit(benchmark::kMillisecond);

void BM_FullScreenBlit(benchmark::State& state) {
    Screen screen;
    HBITMAP b = Picture(screen.dc, kW, kH, RGB(10, 20, 30));
    HDC mem = CreateCompatibleDC(screen.dc);
    HGDIOBJ old = SelectObject(mem, b);
    for (auto _ : state) BitBlt(screen.dc, 0, 0, kW, kH, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(b);
}
BENCHMARK(BM_FullScreenBlit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
