// The list page and its list view run whole on a headless screen: rows painted with the
// colours and geometry of the skin, dragging, flicks, rotation, tap, tap-and-hold, the empty
// list, the period tabs of the rankings, the channel and ranking pages, the start-up status.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "download.h"
#include "drawnRows.h"
#include "listPages.h"
#include "listView.h"
#include "listview.h"
#include "lumeo.h"
#include "program.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/image.h"
#include "platform/ui.h"

#include <unistd.h>
#include <cstdio>

using namespace apptest;

namespace {

const COLORREF kBack = RGB(239, 239, 239);
const COLORREF kSeparator = RGB(102, 186, 246);
const COLORREF kPressed = RGB(163, 213, 250);
const COLORREF kFrame = RGB(0, 140, 240);

std::atomic<DWORD> g_now{1000};
DWORD FakeClock() { return g_now.load(); }

bool Dark(COLORREF c) { return GetRValue(c) < 110 && GetGValue(c) < 110 && GetBValue(c) < 110; }

// The screen as one picture, for counting many pixels at once.
class Snapshot {
public:
    Snapshot() {
        std::string path = testing::TempDir() + "/lists-snapshot-" + std::to_string(getpid()) + ".png";
        EXPECT_TRUE(platform::ui::SaveScreenshot(path));
        bmp_ = SHLoadImageFile(platform::Utf8ToWide(path).c_str());
        EXPECT_NE(bmp_, nullptr);
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bmp_);
        std::remove(path.c_str());
    }
    ~Snapshot() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bmp_);
    }
    // The pixel at a screen point as 0xRRGGBB; -1 outside the screen.
    int Rgb(int x, int y) const {
        if (x < 0 || y < 0 || x >= platform::ui::ScreenWidth() || y >= platform::ui::ScreenHeight()) return -1;
        COLORREF c = GetPixel(dc_, x, y);
        return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
    // Dark (text) pixels inside a rectangle of a window's client area.
    int DarkIn(HWND hwnd, int x, int y, int w, int h) {
        POINT o{x, y};
        ClientToScreen(hwnd, &o);
        int n = 0;
        for (int yy = o.y; yy < o.y + h; ++yy)
            for (int xx = o.x; xx < o.x + w; ++xx)
                if (Dark(GetPixel(dc_, xx, yy))) ++n;
        return n;
    }

private:
    HBITMAP bmp_;
    HDC dc_;
    HGDIOBJ old_;
};

int DarkPixels(int x, int y, int w, int h) { return Snapshot().DarkIn(g_hListView, x, y, w, h); }

COLORREF At(int x, int y) { return ScreenPixelIn(g_hListView, x, y); }

void Fill(VideoList* list, int count) {
    list->items.clear();
    list->pageItems.clear();
    for (int i = 0; i < count; ++i) {
        VideoItem v;
        wchar_t vid[16];
        swprintf(vid, 16, L"v%03d", i);
        v.vid = vid;
        v.title = L"城市夜景延时摄影，带你看遍不一样的灯火辉煌";
        v.duration = L"03:25";
        v.user = L"澜映官方";
        list->items.push_back(v);
    }
    list->total = count;
    list->pagesLoaded = count > 0 ? (count + 9) / 10 : 0;
}

// Both scrollers laid out for the current list as after a list load.
void LayOut() {
    int n = g_curList ? static_cast<int>(g_curList->items.size()) : 0;
    const RowLayout& p = g_skin.portrait;
    const RowLayout& q = g_skin.landscape;
    g_scrollerPortrait.ReInit(g_skin.shortSide, g_skin.longSide, p.listRect.w, p.listRect.h, p.rowRect.w, p.rowRect.h,
                              2, RGB(0xEF, 0xEF, 0xEF), n);
    g_scrollerLandscape.ReInit(g_skin.longSide, g_skin.shortSide, q.listRect.w, q.listRect.h, q.rowRect.w,
                               q.rowRect.h, g_skin.landscapeColumns ? 1 : 2, RGB(0xEF, 0xEF, 0xEF), n);
}

// Makes `list` current with `count` items, laid out and painted.
void Show(VideoList* list, int count) {
    OnUi([&] {
        Fill(list, count);
        g_curList = list;
        LayOut();
        InvalidateRect(g_hListWnd, nullptr, FALSE);
        InvalidateRect(g_hListView, nullptr, FALSE);
    });
    Idle();
}

Scroller& Current() { return g_orientation == 1 ? g_scrollerPortrait : g_scrollerLandscape; }
const RowLayout& RowsNow() { return g_orientation == 1 ? g_skin.portrait : g_skin.landscape; }
bool Columns() { return g_orientation != 1 && g_skin.landscapeColumns; }

RECT Cell(int index) {
    RECT r;
    Current().GetItemRect(index, &r);
    return r;
}

POINT Screen(int x, int y) {
    POINT p{x, y};
    ClientToScreen(g_hListView, &p);
    return p;
}

void PenDown(int x, int y) {
    POINT p = Screen(x, y);
    platform::ui::InjectPenDown(p.x, p.y);
}
void PenMove(int x, int y) {
    POINT p = Screen(x, y);
    platform::ui::InjectPenMove(p.x, p.y);
    Idle();
}
void PenUp(int x, int y) {
    POINT p = Screen(x, y);
    platform::ui::InjectPenUp(p.x, p.y);
    Idle();
}

void CloseProgram() { PostMessageW(g_hFrame, WM_CLOSE, 0, 0); }

struct ScreenCase {
    int width, height;
};
std::string Name(const testing::TestParamInfo<ScreenCase>& i) {
    return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
}
class RowPainting : public testing::TestWithParam<ScreenCase> {};

TEST_P(RowPainting, SeparatorFrameThumbnailTextAndArrowAtTheirPlaces) {
    ScreenCase c = GetParam();
    RunProgram(c.width, c.height, [&] {
        FinishInit();
        Show(&g_listHot, 30);
        OnUi([&] {
            const RowLayout& L = RowsNow();
            int cw = L.rowRect.w, ch = L.rowRect.h;
            int shown = 0;
            for (int i = 0; i < 2; ++i) {
                RECT cell = Cell(i);
                // Small screens show less than two whole rows.
                if (cell.bottom > Current().GetViewHeight() || cell.right > Current().GetViewWidth()) continue;
                ++shown;
                int dx = Columns() ? cell.left : 0, dy = Columns() ? 0 : cell.top;
                SCOPED_TRACE(i);
                // The separator closes each row: at the bottom, or at the right of a column.
                if (Columns()) {
                    EXPECT_EQ(At(cell.left + cw - 1, cell.top + 3), kSeparator);
                    EXPECT_EQ(At(cell.left + cw - 2, cell.top + 3), kBack);
                } else {
                    EXPECT_EQ(At(cell.left + 3, cell.top + ch - 1), kSeparator);
                    EXPECT_EQ(At(cell.left + 3, cell.top + ch - 2), kBack);
                }
                // The frame just outside the picture, and the background picture while no
                // thumbnail is cached (it has the thumbnail's size: copied pixel for pixel).
                int tx = L.thumbPos.x + dx, ty = L.thumbPos.y + dy;
                EXPECT_EQ(At(tx - 1, ty + g_skin.thumbHeight / 2), kFrame);
                EXPECT_EQ(At(tx + g_skin.thumbWidth / 2, ty - 1), kFrame);
                for (POINT p : {POINT{1, 1}, POINT{g_skin.thumbWidth / 2, g_skin.thumbHeight / 2},
                                POINT{g_skin.thumbWidth - 2, g_skin.thumbHeight - 2}})
                    EXPECT_EQ(At(tx + p.x, ty + p.y), PicturePixel(g_skin.picBk, p.x, p.y));
                // Title and duration are written; the publisher line only where the skin shows it.
                const LayoutRect& t = L.titleRect;
                EXPECT_GT(DarkPixels(t.x + dx, t.y + dy, t.w, t.h), 20);
                const LayoutRect& d = L.durationRect;
                EXPECT_GT(DarkPixels(d.x + dx, d.y + dy, d.w, d.h), 5);
                if (g_skin.showPublisher) {
                    const LayoutRect& p = L.publisherRect;
                    EXPECT_GT(DarkPixels(p.x + dx, p.y + dy, p.w, p.h), 5);
                }
                if (g_skin.hasArrow) {
                    SIZE a = BitmapSize(g_skin.arrow[0]);
                    int ax = L.arrowPos.x + dx, ay = L.arrowPos.y + dy;
                    EXPECT_EQ(At(ax + a.cx / 2, ay + a.cy / 2), PicturePixel(g_skin.arrow[0], a.cx / 2, a.cy / 2));
                }
            }
            EXPECT_GE(shown, 1);
        });
        OnUi([&] {
            std::string shot = testing::TempDir() + "/lists-" + std::to_string(c.width) + "x" + std::to_string(c.height) + ".png";
            platform::ui::SaveScreenshot(shot);
        });
        CloseProgram();
    });
}

INSTANTIATE_TEST_SUITE_P(Screens, RowPainting,
                         testing::Values(ScreenCase{480, 800}, ScreenCase{800, 480}, ScreenCase{320, 240},
                                         ScreenCase{240, 320}, ScreenCase{400, 240}),
                         Name);

// ---- What every screen form shows of its rows ----

HBITMAP TwoColours(int w, int h, bool sideBySide, COLORREF first, COLORREF second) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP b = CreateBitmap(w, h, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, b);
    HBRUSH a = CreateSolidBrush(first), z = CreateSolidBrush(second);
    RECT one = sideBySide ? RECT{0, 0, w / 2, h} : RECT{0, 0, w, h / 2};
    RECT two = sideBySide ? RECT{w / 2, 0, w, h} : RECT{0, h / 2, w, h};
    FillRect(dc, &one, a);
    FillRect(dc, &two, z);
    DeleteObject(a);
    DeleteObject(z);
    SelectObject(dc, old);
    DeleteDC(dc);
    return b;
}

struct FormCase {
    int width, height;
    int textHeight;    // the cell of the row font: the skin's base font height of the size
    bool publisher;    // the rows write the publisher (the large screens)
    bool columns;      // landscape rows stand side by side (the large screens)
};
void PrintTo(const FormCase& c, std::ostream* os) { *os << c.width << "x" << c.height; }
bool Whitish(int rgb) { return rgb >= 0 && ((rgb >> 16) & 255) >= 200 && ((rgb >> 8) & 255) >= 200 && (rgb & 255) >= 200; }
std::string FormName(const testing::TestParamInfo<FormCase>& i) {
    return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
}
class DrawnRows : public testing::TestWithParam<FormCase> {};

// Each row that shows whole keeps its thumbnail frame clear of its separators, wears its
// rank badge, and writes title, duration (and publisher) on lines of their own: every run
// of inked screen rows is at most one text line high, and none reaches a separator.
TEST_P(DrawnRows, ThumbnailsKeepInsideTheirRowsWithTheirBadgesAndTextLinesStayApart) {
    FormCase c = GetParam();
    RunProgram(c.width, c.height, [&] {
        FinishInit();
        OnUi([] {
            for (int i = 0; i < 12; ++i) {
                wchar_t vid[16];
                swprintf(vid, 16, L"v%03d", i);
                AddPicture(&g_downloader, TwoColours(120, 90, true, RGB(0, 200, 0), RGB(0, 160, 0)), vid, 1);
            }
        });
        Show(&g_listMostFavToday, 12);
        [&] {  // the screen is read, and let go before the program ends
            Snapshot shot;
            DrawnList list = ReadList([&](int x, int y) { return shot.Rgb(x, y); }, c.width, c.height, c.columns,
                                      0x008CF0);
            ASSERT_GE(list.top, 0) << "no list on the screen";
            ASSERT_FALSE(list.rows.empty()) << "no whole row";
            for (size_t i = 0; i < list.rows.size(); ++i) {
                const DrawnRow& row = list.rows[i];
                SCOPED_TRACE("row " + std::to_string(i));
                ASSERT_FALSE(row.frame.empty());
                EXPECT_TRUE(FrameInsideRow(list, row, c.columns))
                    << "frame " << Describe(row.frame) << " in cell " << Describe(row.cell) << ", list top " << list.top;
                // The rank number, white on its badge inside the frame.
                int white = 0;
                for (int y = row.frame.top; y <= row.frame.bottom; ++y)
                    for (int x = row.frame.left; x <= row.frame.right; ++x) white += Whitish(shot.Rgb(x, y)) ? 1 : 0;
                EXPECT_GT(white, 3) << "no rank badge";
                EXPECT_GE(row.lines.size(), c.publisher ? 3u : 2u);
                for (const Band& b : row.lines) EXPECT_LE(b.size(), c.textHeight) << "lines run into each other at " << b.first;
                EXPECT_FALSE(row.inkOnSeparator);
                if (!row.lines.empty()) {
                    EXPECT_LT(row.lines.back().last, row.cell.bottom) << "text reaches the separator";
                }
            }
        }();
        CloseProgram();
    });
}

INSTANTIATE_TEST_SUITE_P(Forms, DrawnRows,
                         testing::Values(FormCase{800, 480, 23, true, true}, FormCase{480, 800, 23, true, false},
                                         FormCase{640, 480, 20, true, true}, FormCase{480, 640, 20, true, false},
                                         FormCase{480, 320, 20, false, false}, FormCase{320, 480, 20, false, false},
                                         FormCase{400, 240, 17, false, false}, FormCase{240, 400, 17, false, false},
                                         FormCase{320, 240, 14, false, false}, FormCase{240, 320, 14, false, false}),
                         FormName);

// ---- Dragging, flicks and rotation ----

struct FakeTime {
    FakeTime() {
        g_now = 1000;
        SetScrollerClock(FakeClock);
    }
    ~FakeTime() { SetScrollerClock(nullptr); }
};

bool TimerRunning(HWND hwnd) {
    if (!KillTimer(hwnd, 1)) return false;
    SetTimer(hwnd, 1, 50, nullptr);
    return true;
}

TEST(ListView, ADragMovesTheRowsWithThePenAndShowsTheScrollBarOnlyMeanwhile) {
    FakeTime time;
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listHot, 30);
        int rowH = 0, viewW = 0, viewH = 0, perView = 0;
        OnUi([&] {
            rowH = g_scrollerPortrait.GetItemHeight();
            viewW = g_scrollerPortrait.GetViewWidth();
            viewH = g_scrollerPortrait.GetViewHeight();
            perView = g_scrollerPortrait.GetItemsPerView();
            EXPECT_EQ(At(3, 3 * rowH - 1), kSeparator);
            EXPECT_EQ(At(viewW - 3, viewH / 2), kBack);
        });
        // 40 pixels up every 400 ms: each move is applied; 200 pixels in 2 s is a slow release.
        const int x = 200, y0 = 400;
        PenDown(x, y0);
        PenMove(x, y0 - 40);
        for (int k = 2; k <= 5; ++k) {
            g_now += 400;
            PenMove(x, y0 - 40 * k);
        }
        OnUi([&] {
            EXPECT_EQ(GetCapture(), g_hListView);
            EXPECT_EQ(g_scrollerPortrait.offsetY, -200);
            EXPECT_EQ(g_scrollerPortrait.IsActive(), 1);
            // The scroll bar: thumb length max(perView x view / count, view / 4), placed by
            // the first visible row.
            int length = std::max(perView * viewH / 30, viewH / 4);
            int first = std::min(200 / rowH, 30 - perView + 1);
            int start = first * (viewH - length) / (30 - perView + 1);
            EXPECT_EQ(At(viewW - 3, start + length / 2), RGB(206, 206, 206));
            EXPECT_EQ(At(viewW - 8, start + length / 2), RGB(102, 102, 102));
            EXPECT_EQ(At(viewW - 7, start + length / 2), RGB(255, 255, 255));
        });
        g_now += 400;
        PenUp(x, y0 - 200);
        EXPECT_TRUE(WaitOnUi([] { return g_scrollerPortrait.IsActive() == 0; }));
        Idle();
        OnUi([&] {
            EXPECT_NE(GetCapture(), g_hListView);
            EXPECT_EQ(g_scrollerPortrait.offsetY, -200);
            EXPECT_FALSE(TimerRunning(g_hListView));
            // Row 2's separator moved up with the pen; the scroll bar is gone.
            EXPECT_EQ(At(3, 3 * rowH - 1 - 200), kSeparator);
            EXPECT_EQ(At(3, 3 * rowH - 1), kBack);
            EXPECT_EQ(At(viewW - 3, viewH / 2), kBack);
        });
        CloseProgram();
    });
}

TEST(ListView, AFlickGlidesOnAfterThePenLiftsAndStopsWhereItsSpeedRunsOut) {
    FakeTime time;
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listHot, 100);
        // 100 pixels up in 100 ms: v = 30 x -100 / 100 = -30, a = 0.15, T = 200 ms, so the
        // glide ends at -100 - 30 x 200 + 0.15 x 200^2 / 2 = -3100.
        const int x = 200, y0 = 400;
        PenDown(x, y0);
        PenMove(x, y0 - 50);
        g_now += 100;
        PenMove(x, y0 - 100);
        PenUp(x, y0 - 100);
        EXPECT_TRUE(WaitOnUi([] { return g_scrollerPortrait.IsActive() == 0; }));
        Idle();
        OnUi([] {
            EXPECT_EQ(g_scrollerPortrait.offsetY, -3100);
            EXPECT_EQ(g_scrollerPortrait.GetFirstVisible(), 3100 / g_scrollerPortrait.GetItemHeight());
            EXPECT_FALSE(TimerRunning(g_hListView));
            int rowH = g_scrollerPortrait.GetItemHeight();
            int k = 3100 / rowH + 1;  // the first row whose separator is on screen
            EXPECT_EQ(At(3, (k + 1) * rowH - 1 - 3100), kSeparator);
        });
        CloseProgram();
    });
}

TEST(ListView, RotationKeepsTheFirstRowOrEndsOnTheLastPage) {
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listHot, 30);
        OnUi([] {
            EXPECT_EQ(g_scrollerPortrait.ScrollTo(12), 0);
            InvalidateRect(g_hListView, nullptr, FALSE);
        });
        Idle();
        platform::ui::RotateScreen();
        Idle();
        OnUi([] {
            ASSERT_EQ(g_orientation, 2);
            EXPECT_EQ(g_scrollerLandscape.GetFirstVisible(), 12);
            // Columns side by side: row 12's column starts at the left edge.
            int cw = g_skin.landscape.rowRect.w;
            EXPECT_EQ(At(cw - 1, 3), kSeparator);
            EXPECT_EQ(At(cw - 2, 3), kBack);
            // Near the end the portrait list stops on its last page.
            EXPECT_EQ(g_scrollerLandscape.ScrollTo(27), 0);
        });
        platform::ui::RotateScreen();
        Idle();
        OnUi([] {
            ASSERT_EQ(g_orientation, 1);
            EXPECT_EQ(g_scrollerPortrait.GetFirstVisible(), 30 - g_scrollerPortrait.GetItemsPerView());
        });
        CloseProgram();
    });
}

// ---- Tap and tap-and-hold ----

HWND VisiblePopup() {
    HWND h = FindWindowW(L"#PopupMenu", nullptr);
    return h && IsWindowVisible(h) ? h : nullptr;
}

TEST(ListView, ATapOnARowChoosesItAndOpensTheDetailPageModes) {
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listHot, 5);
        int y = 0;
        OnUi([&] {
            g_curVideo = VideoItem{};
            g_dtlOpenMode = g_dtlViewMode = 0;
            RECT cell = Cell(3);
            y = (cell.top + cell.bottom) / 2;
        });
        PenDown(100, y);
        PenUp(100, y);
        OnUi([] {
            EXPECT_EQ(g_curVideo.vid, L"v003");
            EXPECT_EQ(g_dtlOpenMode, 1);
            EXPECT_EQ(g_dtlViewMode, 1);
            EXPECT_NE(GetCapture(), g_hListView);
        });
        // Below the last row nothing is chosen.
        OnUi([&] {
            g_curVideo = VideoItem{};
            g_dtlOpenMode = 0;
            y = Cell(4).bottom + 20;
        });
        PenDown(100, y);
        PenUp(100, y);
        OnUi([] {
            EXPECT_EQ(g_curVideo.vid, L"");
            EXPECT_EQ(g_dtlOpenMode, 0);
        });
        CloseProgram();
    });
}

TEST(ListView, HoldOnARowOpensItsPopupAtThePenAndTheCommandReachesTheProgram) {
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listHot, 3);
        int y = 0;
        OnUi([&] {
            g_curVideo = VideoItem{};
            g_dtlOpenMode = 0;
            RECT cell = Cell(2);
            y = (cell.top + cell.bottom) / 2;
        });
        POINT screen = Screen(120, y);
        PenDown(120, y);
        EXPECT_TRUE(WaitOnUi([] { return VisiblePopup() != nullptr; }));
        OnUi([&] {
            EXPECT_EQ(g_curVideo.vid, L"v002");
            RECT r;
            GetWindowRect(VisiblePopup(), &r);
            EXPECT_EQ(r.left, screen.x);
            EXPECT_EQ(r.top, screen.y);
        });
        // "查看详情(&2)": the list view hands the command on, which opens the detail page.
        platform::ui::InjectText(L"2");
        EXPECT_TRUE(WaitOnUi([] { return VisiblePopup() == nullptr; }));
        PenUp(120, y);
        EXPECT_TRUE(WaitOnUi([] { return g_dtlOpenMode == 1; }));
        // The lift of the hold is no tap, and no drag follows it.
        OnUi([] {
            EXPECT_EQ(g_scrollerPortrait.IsActive(), 0);
            EXPECT_NE(GetCapture(), g_hListView);
        });

        // A hold on empty space opens nothing (back on the list page: the detail page has
        // a menu of its own).
        Command(g_hFrame, IDM_DETAIL_BACK);
        OnUi([&] {
            g_curVideo = VideoItem{};
            y = Cell(2).bottom + 30;
        });
        PenDown(120, y);
        Sleep(900);
        OnUi([] { EXPECT_EQ(VisiblePopup(), nullptr); });
        PenUp(120, y);
        OnUi([] { EXPECT_EQ(g_curVideo.vid, L""); });
        CloseProgram();
    });
}

TEST(ListView, PressedRowIsDrawnAtOnceAndStaysUntilTheNextPaint) {
    RunProgram(800, 480, [] {
        FinishInit();
        Show(&g_listHot, 10);
        OnUi([] {
            RECT cell = Cell(1);
            PaintPressedRow(g_hListView, &cell, 1, 2);
            const RowLayout& L = g_skin.landscape;
            int tx = cell.left + L.thumbPos.x, ty = L.thumbPos.y;
            EXPECT_EQ(At(cell.left + 2, 2), kPressed);
            EXPECT_EQ(At(tx - 1, ty + 10), kFrame);
            EXPECT_EQ(At(tx + 3, ty + 3), PicturePixel(g_skin.picBk, 3, 3));
            EXPECT_GT(DarkPixels(cell.left + L.titleRect.x, L.titleRect.y, L.titleRect.w, L.titleRect.h), 20);
            // The arrow's pressed piece.
            SIZE a = BitmapSize(g_skin.arrow[1]);
            int ax = cell.left + L.arrowPos.x, ay = L.arrowPos.y;
            EXPECT_EQ(At(ax + a.cx / 2, ay + a.cy / 2), PicturePixel(g_skin.arrow[1], a.cx / 2, a.cy / 2));
            // Its neighbours keep the normal look.
            EXPECT_EQ(At(Cell(0).left + 2, 2), kBack);
            EXPECT_EQ(At(Cell(2).left + 2, 2), kBack);
            InvalidateRect(g_hListView, nullptr, FALSE);
        });
        Idle();
        OnUi([] { EXPECT_EQ(At(Cell(1).left + 2, 2), kBack); });
        CloseProgram();
    });
}

// ---- Thumbnails ----

// A picture of w x h whose halves (left and right, or top and bottom) have two colours.

TEST(ListView, ThumbnailsFillTheirPlaceAndLoseTheirExcessAtTheRightOrBottom) {
    RunProgram(480, 800, [] {
        FinishInit();
        const COLORREF red = RGB(220, 0, 0), blue = RGB(0, 0, 220), green = RGB(0, 200, 0), yellow = RGB(230, 230, 0);
        OnUi([&] {
            // On this screen thumbnails are 112 x 84. A wide 160 x 90 picture is scaled by
            // max(112/160, 84/90): its left 120 columns fill the place, so its left half
            // (red) reaches x = 74 and the rest of the right half is cut. A tall 90 x 160
            // one shows only its top 67 rows: all of its top half.
            ASSERT_EQ(g_skin.thumbWidth, 112);
            ASSERT_EQ(g_skin.thumbHeight, 84);
            AddPicture(&g_downloader, TwoColours(160, 90, true, red, blue), L"v000", 1);
            AddPicture(&g_downloader, TwoColours(90, 160, false, green, yellow), L"v001", 1);
        });
        Show(&g_listHot, 3);
        OnUi([&] {
            const RowLayout& L = g_skin.portrait;
            int tx = L.thumbPos.x, ty0 = Cell(0).top + L.thumbPos.y, ty1 = Cell(1).top + L.thumbPos.y;
            EXPECT_EQ(At(tx + 1, ty0 + 40), red);
            EXPECT_EQ(At(tx + 65, ty0 + 40), red);
            EXPECT_EQ(At(tx + 80, ty0 + 40), blue);
            EXPECT_EQ(At(tx + 110, ty0 + 82), blue);
            EXPECT_EQ(At(tx - 1, ty0 + 40), kFrame);
            EXPECT_EQ(At(tx + 112 + 1, ty0 + 40), kBack);
            EXPECT_EQ(At(tx + 50, ty1 + 1), green);
            EXPECT_EQ(At(tx + 50, ty1 + 82), green);
            // A row whose picture is not cached shows the background picture.
            int ty2 = Cell(2).top + L.thumbPos.y;
            EXPECT_EQ(At(tx + 5, ty2 + 5), PicturePixel(g_skin.picBk, 5, 5));
        });
        CloseProgram();
    });
}

TEST(ListView, RankingRowsWithTheirPictureWearTheirRankBadge) {
    RunProgram(480, 800, [] {
        FinishInit();
        OnUi([] {
            for (const wchar_t* vid : {L"v000", L"v002"})
                AddPicture(&g_downloader, TwoColours(112, 84, true, RGB(0, 200, 0), RGB(0, 200, 0)), vid, 1);
        });
        Show(&g_listMostFavToday, 4);
        OnUi([] {
            const RowLayout& L = g_skin.portrait;
            SIZE badge = BitmapSize(g_skin.rankNumBk);
            ASSERT_GT(badge.cy, 4);
            for (int i = 0; i < 3; ++i) {
                SCOPED_TRACE(i);
                int tx = L.thumbPos.x, by = Cell(i).top + L.thumbPos.y + g_skin.thumbHeight - badge.cy;
                if (i == 1) {  // no picture yet: no badge
                    EXPECT_EQ(At(tx + 1, by + 1), PicturePixel(g_skin.picBk, 1, g_skin.thumbHeight - badge.cy + 1));
                    continue;
                }
                EXPECT_EQ(At(tx + 1, by + 1), PicturePixel(g_skin.rankNumBk, 1, 1));
                EXPECT_EQ(At(tx + badge.cx + 2, by + 1), RGB(0, 200, 0));
                // The number, index + 1, in white.
                int white = 0;
                for (int y = by; y < by + badge.cy; ++y)
                    for (int x = tx; x < tx + badge.cx; ++x) white += At(x, y) == RGB(255, 255, 255) ? 1 : 0;
                EXPECT_GT(white, 5);
            }
        });
        CloseProgram();
    });
}

// ---- The empty list, rankings and the period tabs ----

TEST(ListView, AnEmptyListShowsItsTextCentredAndNoScrollBar) {
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listHot, 0);
        OnUi([] {
            Scroller& s = g_scrollerPortrait;
            int w = s.GetViewWidth(), h = s.GetViewHeight();
            // "暂无视频，请稍候重试。" in one line around the middle; corners and edges plain.
            EXPECT_GT(DarkPixels(w / 4, h / 2 - 15, w / 2, 30), 50);
            EXPECT_EQ(DarkPixels(0, 0, w, h / 2 - 20), 0);
            EXPECT_EQ(DarkPixels(0, h / 2 + 20, w, h / 2 - 20), 0);
            EXPECT_EQ(At(w - 3, h / 2), kBack);
            EXPECT_EQ(At(0, 0), kBack);
        });
        CloseProgram();
    });
}

COLORREF PagePixel(int x, int y) { return ScreenPixelIn(g_hListWnd, x, y); }

TEST(ListPage, RankingsShowThePeriodTabsWithTheCurrentOneOpenIntoTheList) {
    RunProgram(480, 800, [] {
        FinishInit();
        Show(&g_listMostPlayedWeek, 10);
        OnUi([] {
            int top = g_skin.periodTop, h = g_skin.periodHeight, w = g_skin.periodTabWidth;
            RECT page;
            GetClientRect(g_hListWnd, &page);
            // The last tab ends periodMetric6 before the right edge.
            EXPECT_EQ(g_skin.periodPos[2] + w, page.right - g_skin.periodMetric6);
            for (int i = 0; i < 3; ++i) {
                int x = g_skin.periodPos[i];
                SCOPED_TRACE(i);
                EXPECT_EQ(PagePixel(x, top + h / 2), RGB(0, 0, 0));
                EXPECT_EQ(PagePixel(x + w - 1, top + h / 2), RGB(0, 0, 0));
                EXPECT_EQ(PagePixel(x + w / 2, top), RGB(0, 0, 0));
                if (i == 1) {  // this week
                    EXPECT_EQ(PagePixel(x + 3, top + 3), RGB(255, 255, 255));
                    EXPECT_EQ(PagePixel(x + 3, top + h - 1), RGB(255, 255, 255));
                } else {
                    EXPECT_EQ(PagePixel(x + 3, top + 3), RGB(0xD1, 0xE9, 0xFC));
                    EXPECT_EQ(PagePixel(x + 3, top + h - 1), RGB(0, 0, 0));
                }
                // The caption in the middle.
                EXPECT_GT(Snapshot().DarkIn(g_hListWnd, x + 2, top + 2, w - 4, h - 4), 10);
            }
            // A ranking row whose picture is not there yet shows no rank badge.
            const RowLayout& L = g_skin.portrait;
            int tx = L.thumbPos.x, ty = L.thumbPos.y, th = g_skin.thumbHeight;
            EXPECT_EQ(At(tx + 2, ty + th - 3), PicturePixel(g_skin.picBk, 2, th - 3));
        });
        // Other lists have no tabs.
        Show(&g_listNews, 10);
        OnUi([] {
            int x = g_skin.periodPos[1] + 3, y = g_skin.periodTop + 3;
            EXPECT_EQ(PagePixel(x, y), PicturePixel(g_skin.innerTitleBar, 0, y));
        });
        CloseProgram();
    });
}

// ---- Channel and ranking pages ----

struct PageCase {
    int width, height;
};
class ButtonPages : public testing::TestWithParam<PageCase> {};

TEST_P(ButtonPages, ButtonsSitOnTheirGridAndShowTheirNormalPictures) {
    PageCase c = GetParam();
    RunProgram(c.width, c.height, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_CLASSIFY);
        OnUi([] {
            RECT page;
            GetClientRect(g_hClassifyWnd, &page);
            int W = page.right, P = page.bottom, T = BitmapSize(g_skin.innerTitleBar).cy;
            SIZE b = BitmapSize(g_skin.channelBtn[0]);
            bool portrait = g_orientation == 1;
            int cols = portrait ? g_skin.mainMetric3 : g_skin.mainMetric5;
            int rows = portrait ? g_skin.mainMetric4 : g_skin.mainMetric6;
            int gx = (W - cols * b.cx) / (cols + 1), gy = (P - T - rows * b.cy) / (rows + 1);
            for (int k = 0; k < 6; ++k) {
                SCOPED_TRACE(k);
                int col = portrait ? k % 3 : k, row = portrait ? k / 3 : 0;
                POINT at{gx + col * (b.cx + gx), T + gy + row * (b.cy + gy)};
                RECT r;
                GetWindowRect(g_hChannelBtn[k], &r);
                POINT origin{r.left, r.top};
                ScreenToClient(g_hClassifyWnd, &origin);
                EXPECT_EQ(origin.x, at.x);
                EXPECT_EQ(origin.y, at.y);
                EXPECT_EQ(r.right - r.left, b.cx);
                HBITMAP normal = g_skin.channelBtn[k == 5 ? 10 : 2 * k + 1];
                EXPECT_EQ(ScreenPixelIn(g_hChannelBtn[k], b.cx / 2, b.cy / 2), PicturePixel(normal, b.cx / 2, b.cy / 2));
            }
            // The page's own blue between the buttons.
            EXPECT_EQ(ScreenPixelIn(g_hClassifyWnd, 1, P - 2), RGB(0x2C, 0x5B, 0x81));
        });
        Command(g_hFrame, IDM_TAB_RANK);
        OnUi([] {
            RECT page;
            GetClientRect(g_hRankWnd, &page);
            int W = page.right, P = page.bottom, T = BitmapSize(g_skin.innerTitleBar).cy;
            SIZE b = BitmapSize(g_skin.rankBtn[0]);
            int x0, gx, y;
            if (g_orientation == 1) {
                gx = (W - g_skin.mainMetric3 * b.cx) / (g_skin.mainMetric3 + 1);
                x0 = gx;
                y = T + (P - T - g_skin.mainMetric4 * b.cy) / (g_skin.mainMetric4 + 1);
            } else {
                gx = b.cx / 2;
                x0 = (W - 3 * b.cx - 2 * gx) / 2;
                y = T + (P - T - b.cy) / 2;
            }
            for (int k = 0; k < 3; ++k) {
                SCOPED_TRACE(k);
                RECT r;
                GetWindowRect(g_hRankBtn[k], &r);
                POINT origin{r.left, r.top};
                ScreenToClient(g_hRankWnd, &origin);
                EXPECT_EQ(origin.x, x0 + k * (b.cx + gx));
                EXPECT_EQ(origin.y, y);
                EXPECT_EQ(ScreenPixelIn(g_hRankBtn[k], b.cx / 2, b.cy / 2),
                          PicturePixel(g_skin.rankBtn[2 * k + 1], b.cx / 2, b.cy / 2));
            }
        });
        CloseProgram();
    });
}

INSTANTIATE_TEST_SUITE_P(Screens, ButtonPages,
                         testing::Values(PageCase{480, 800}, PageCase{800, 480}, PageCase{240, 320},
                                         PageCase{400, 240}),
                         [](const testing::TestParamInfo<PageCase>& i) {
                             return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
                         });

TEST(ListPage, RecommendedOnTheChannelPageMakesTheHomeTabCurrentAndShowsTheListPage) {
    RunProgram(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_CLASSIFY);
        Command(g_hClassifyWnd, RSS_HOT);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_curTab, IDC_TAB_HOT);
            EXPECT_EQ(g_prevTab, IDC_TAB_CLASSIFY);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        // Another channel leaves the tabs as they are.
        Command(g_hFrame, IDM_TAB_CLASSIFY);
        Command(g_hClassifyWnd, RSS_MUSIC);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_curTab, IDC_TAB_CLASSIFY);
        });
        Command(g_hFrame, IDM_TAB_RANK);
        Command(g_hRankWnd, RSS_MOST_COMMENT);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_curTab, IDC_TAB_RANK);
        });
        CloseProgram();
    });
}

// ---- The start-up screen's status line ----

int DarkInStatus() {
    const LayoutRect& r = g_skin.startupTextRect;
    return Snapshot().DarkIn(g_hStupWnd, r.x, r.y, r.w, r.h);
}

TEST(StartupText, AnotherThreadsTextIsSetByTheInterfaceThreadAndShown) {
    RunProgram(480, 800, [] {
        int before = 0;
        OnUi([&] { before = DarkInStatus(); });
        EXPECT_GT(before, 20);
        // While the interface thread is busy the text stays as it is: the writer waits.
        std::atomic<bool> entered{false}, release{false}, written{false};
        std::thread holder([&] {
            OnUi([&] {
                entered = true;
                while (!release) Sleep(5);
            });
        });
        while (!entered) Sleep(5);
        std::thread writer([&] {
            SetStartupText(L"正在启动 TouchFlo ...");
            written = true;
        });
        Sleep(100);
        EXPECT_FALSE(written);
        release = true;
        holder.join();
        writer.join();
        OnUi([&] {
            EXPECT_EQ(g_startupText, L"正在启动 TouchFlo ...");
            int after = DarkInStatus();
            EXPECT_GT(after, 20);
            EXPECT_NE(after, before);
        });
        CloseProgram();
    });
}

}  // namespace
