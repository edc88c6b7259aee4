#include "listView.h"

#include "download.h"
#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "pictures.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "waitDlg.h"

HMENU g_listViewPopup;
SHACTIVATEINFO g_listViewActivate;
int g_listViewWidth, g_listViewHeight;
int g_listAtStart, g_listAtEnd;
int g_lastPaintOrientation = -1;

namespace {

const wchar_t kEmptyText[] = L"暂无视频，请稍候重试。";
const wchar_t kMoreText[] = L"\r\n读取更多视频\r\n……";
const UINT kRowText = DT_WORDBREAK | DT_NOCLIP | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS;

HMENU g_listViewMenu;  // the loaded resource; its first pop-up is g_listViewPopup
// The pen went down on a row here and has not lifted yet. A hold (whose lift the popup
// menu swallows) and a drag cut short by the wait dialog leave it clear, so a stray move
// or lift of that gesture neither scrolls nor taps.
bool g_penTracked;
// Set while this window runs the load-more dialog.
bool g_loadingMore;

// A memory bitmap kept from one paint to the next: a glide repaints twenty times a second,
// and a fresh bitmap of the whole view each time costs more than painting its rows.
class KeptBuffer {
public:
    HDC Get(HDC like, int w, int h) {
        if (!dc_ || w != w_ || h != h_) {
            Release();
            dc_ = CreateCompatibleDC(like);
            bmp_ = CreateCompatibleBitmap(like, w, h);
            old_ = SelectObject(dc_, bmp_);
            w_ = w;
            h_ = h;
        }
        return dc_;
    }
    void Release() {
        if (!dc_) return;
        SelectObject(dc_, old_);
        DeleteObject(bmp_);
        DeleteDC(dc_);
        dc_ = nullptr;
        bmp_ = nullptr;
        w_ = h_ = 0;
    }

private:
    HDC dc_ = nullptr;
    HBITMAP bmp_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int w_ = 0, h_ = 0;
};
KeptBuffer g_windowBuffer, g_viewBuffer;

Scroller* CurrentScroller() { return g_orientation == 1 ? &g_scrollerPortrait : &g_scrollerLandscape; }

const RowLayout& LayoutOf(int orientation) { return orientation == 1 ? g_skin.portrait : g_skin.landscape; }

// Rows sit side by side only in landscape with columns; elsewhere one under another.
bool ColumnsIn(int orientation) { return orientation != 1 && g_skin.landscapeColumns; }

int ItemCount(VideoList* list) { return list ? static_cast<int>(GetItems(list).size()) : 0; }

POINT PointOf(LPARAM lParam) { return POINT{LOWORD(lParam), HIWORD(lParam)}; }

bool WaitDialogUp() { return g_hWaitDlg != nullptr || g_loadingMore; }

RECT Offset(const LayoutRect& r, int dx, int dy) { return RECT{r.x + dx, r.y + dy, r.x + dx + r.w, r.y + dy + r.h}; }

// Title, duration and publisher of one row; dx, dy place the row's own coordinates.
void DrawRowTexts(HDC dc, const RowLayout& layout, const VideoItem& item, int dx, int dy) {
    RECT r = Offset(layout.titleRect, dx, dy);
    DrawTextW(dc, item.title.GetString(), -1, &r, kRowText);
    r = Offset(layout.durationRect, dx, dy);
    DrawTextW(dc, item.duration.GetString(), -1, &r, kRowText);
    if (g_skin.showPublisher) {
        CStringW publisher = CStringW(L"发布:") + item.user;
        r = Offset(layout.publisherRect, dx, dy);
        DrawTextW(dc, publisher.GetString(), -1, &r, kRowText);
    }
}

void DrawRowThumbnail(HDC dc, const RowLayout& layout, const VideoItem& item, int index, int dx, int dy) {
    // Held while drawn: a picture thread may evict it meanwhile.
    HBITMAP picture = HoldPicture(&g_downloader, item.vid.GetString());
    int x = layout.thumbPos.x + dx, y = layout.thumbPos.y + dy;
    PaintThumbnail(dc, g_skin.thumbFramePen, LIST_FRAME_COLOUR, picture, x - 1, y - 1, g_skin.thumbWidth + 2,
                   g_skin.thumbHeight + 2, x, y, g_skin.thumbWidth, g_skin.thumbHeight, index);
    ReleasePicture(&g_downloader, picture);
}

void Line(HDC dc, int x1, int y1, int x2, int y2) {
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

// ---- The window ----

int ListViewCreateControls() {
    g_listViewMenu = LoadMenuW(g_hInst, L"IDR_MENU_LV");
    g_listViewPopup = g_listViewMenu ? GetSubMenu(g_listViewMenu, 0) : nullptr;
    return 0;
}

int LoadPictures(Scroller* scroller) {
    if (!g_curList) return 0;
    return LoadPicture(&g_downloader, GetItems(g_curList), 1, scroller, GetRssType(g_curList));
}

// The next page under the wait dialog. The scroll stops and the pen is let go first: no
// tick or move of this gesture may reach the list while the dialog runs.
int LoadMore(HWND hwnd, Scroller* scroller) {
    if (!g_curList) return 0;
    if (!IsComplete(g_curList)) {
        scroller->StopScroll(hwnd);
        if (GetCapture() == hwnd) ReleaseCapture();
        g_penTracked = false;
    }
    g_loadingMore = true;
    int result = ShowDlgBox(hwnd, 2, kMoreText);
    g_loadingMore = false;
    if (result != 0) {
        LOG(LOG_WARNING, L"ShowDlgBox failed");
        return -1;
    }
    return 0;
}

LRESULT OnPaint(HWND hwnd) {
    Scroller* scroller = CurrentScroller();
    if (g_orientation != g_lastPaintOrientation) {
        g_lastPaintOrientation = g_orientation;
        Scroller* other = scroller == &g_scrollerPortrait ? &g_scrollerLandscape : &g_scrollerPortrait;
        // A glide of the other orientation ends here: its ticks would reach this scroller.
        if (other->IsActive()) other->StopScroll(hwnd);
        int index = other->GetFirstVisible();
        int last = scroller->GetItemCount() - scroller->GetItemsPerView();
        if (index > last) index = last;
        scroller->ScrollTo(index);
        if (LoadPictures(scroller) != 0) LOG(LOG_WARNING, L"LoadPicture failed");
    }
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    int w = g_listViewWidth > 0 ? g_listViewWidth : 1, h = g_listViewHeight > 0 ? g_listViewHeight : 1;
    PaintListViewWindow(dc, 0, 0, w, h, scroller, g_orientation);
    EndPaint(hwnd, &ps);
    return 0;
}

LRESULT OnPenDown(HWND hwnd, LPARAM lParam) {
    Scroller* scroller = CurrentScroller();
    POINT pt = PointOf(lParam);
    SHRGINFO hold{};
    hold.cbSize = sizeof(hold);
    hold.hwndClient = hwnd;
    hold.ptDown = pt;
    hold.dwFlags = SHRG_RETURNCMD;
    if (SHRecognizeGesture(&hold) == GN_CONTEXTMENU) {
        g_penTracked = false;
        POINT hit = pt;
        RECT cell;
        int index = scroller->HitTest(&hit, &cell);
        if (index >= 0 && index < ItemCount(g_curList)) {
            g_curVideo = GetItems(g_curList)[static_cast<size_t>(index)];
            POINT screen = pt;
            ClientToScreen(hwnd, &screen);
            if (g_listViewPopup) TrackPopupMenu(g_listViewPopup, 0, screen.x, screen.y, 0, hwnd, nullptr);
        }
        return 0;
    }
    g_penTracked = true;
    scroller->PenDown(hwnd, &pt);
    return 0;
}

LRESULT OnPenMove(HWND hwnd, LPARAM lParam) {
    if (!g_penTracked || WaitDialogUp()) return 0;
    Scroller* scroller = CurrentScroller();
    POINT pt = PointOf(lParam);
    scroller->PenMove(hwnd, &pt, &g_listAtStart, &g_listAtEnd);
    if (g_listAtEnd) {
        scroller->ResetActive();
        return LoadMore(hwnd, scroller);
    }
    return 0;
}

LRESULT OnPenUp(HWND hwnd, LPARAM lParam) {
    if (!g_penTracked || WaitDialogUp()) return 0;
    g_penTracked = false;
    Scroller* scroller = CurrentScroller();
    POINT pt = PointOf(lParam);
    POINT up = pt;
    if (scroller->PenUp(hwnd, &up, &g_listAtStart, &g_listAtEnd) != 1) return 0;
    POINT hit = pt;
    RECT cell;
    int index = scroller->HitTest(&hit, &cell);
    if (index < 0 || index >= ItemCount(g_curList)) return 0;
    PaintPressedRow(hwnd, &cell, index, scroller == &g_scrollerPortrait ? 1 : 2);
    g_curVideo = GetItems(g_curList)[static_cast<size_t>(index)];
    g_dtlOpenMode = 1;
    g_dtlViewMode = 1;
    if (ShowDtlInfo(hwnd) != 0) LOG(LOG_WARNING, L"ShowDtlInfo failed.");
    return 0;
}

LRESULT OnTick(HWND hwnd, WPARAM timerId) {
    Scroller* scroller = CurrentScroller();
    // A glide does not run on under a wait dialog: the list may be replaced meanwhile.
    if (WaitDialogUp()) {
        scroller->StopScroll(hwnd);
        return 0;
    }
    int ended = scroller->OnTimer(hwnd, timerId, &g_listAtStart, &g_listAtEnd);
    if (g_listAtEnd && g_curList && !IsComplete(g_curList)) {
        scroller->StopScroll(hwnd);
        if (LoadMore(hwnd, scroller) != 0) return -1;
    }
    if (ended) {
        if (LoadPictures(scroller) != 0) LOG(LOG_WARNING, L"LoadPicture failed");
        InvalidateRect(g_hListView, nullptr, FALSE);
        UpdateWindow(g_hListView);
    }
    return 0;
}

}  // namespace

LRESULT ListViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        g_listViewActivate = SHACTIVATEINFO{};
        g_listViewActivate.cbSize = 12;
        g_lastPaintOrientation = -1;
        g_penTracked = false;
        g_loadingMore = false;
        if (ListViewCreateControls() != 0) return CreateControlsFailed();
        return 0;
    case WM_DESTROY:
        g_windowBuffer.Release();
        g_viewBuffer.Release();
        if (g_listViewMenu) DestroyMenu(g_listViewMenu);
        g_listViewMenu = nullptr;
        g_listViewPopup = nullptr;
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    case WM_SIZE:
        g_listViewWidth = LOWORD(lParam);
        g_listViewHeight = HIWORD(lParam);
        return 0;
    case WM_ACTIVATE:
        SHHandleWMActivate(hwnd, wParam, lParam, &g_listViewActivate, 0);
        return 0;
    case WM_SETTINGCHANGE:
        SHHandleWMSettingChange(hwnd, wParam, lParam, &g_listViewActivate);
        return 0;
    case WM_PAINT:
        return OnPaint(hwnd);
    case WM_COMMAND:
        if (OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam), lParam) == 1) return 0;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_LBUTTONDOWN:
        return OnPenDown(hwnd, lParam);
    case WM_MOUSEMOVE:
        return OnPenMove(hwnd, lParam);
    case WM_LBUTTONUP:
        return OnPenUp(hwnd, lParam);
    case WM_TIMER:
        return OnTick(hwnd, wParam);
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

// ---- Painters ----

void PaintListViewWindow(HDC dc, int x, int y, int w, int h, Scroller* scroller, int orientation) {
    HDC mem = g_windowBuffer.Get(dc, w, h);
    // Before the first layout the scroller's view is smaller than the window.
    if (scroller->GetViewWidth() < w || scroller->GetViewHeight() < h) {
        RECT all{0, 0, w, h};
        HBRUSH back = CreateSolidBrush(RGB(0xEF, 0xEF, 0xEF));
        FillRect(mem, &all, back);
        DeleteObject(back);
    }
    if (PaintListView(mem, scroller, g_curList, orientation, kEmptyText) != 0) LOG(LOG_WARNING, L"PaintListView failed");
    BitBlt(dc, x, y, w, h, mem, 0, 0, SRCCOPY);
}

int PaintListView(HDC hdc, Scroller* scroller, VideoList* list, int orientation, const wchar_t* emptyText) {
    int viewW = scroller->GetViewWidth(), viewH = scroller->GetViewHeight();
    if (viewW <= 0 || viewH <= 0) return 0;
    HDC mem = g_viewBuffer.Get(hdc, viewW, viewH);
    HFONT font = CreateFontIndirectW(&g_skin.fonts[0]);
    HGDIOBJ oldFont = SelectObject(mem, font);
    SetTextColor(mem, RGB(0, 0, 0));
    SetBkMode(mem, TRANSPARENT);
    HDC arrowDc = nullptr;
    HGDIOBJ oldArrow = nullptr;
    SIZE arrow{0, 0};
    if (g_skin.hasArrow) {
        arrowDc = CreateCompatibleDC(hdc);
        oldArrow = SelectObject(arrowDc, g_skin.arrow[0]);
        arrow = BitmapSize(g_skin.arrow[0]);
    }

    COLORREF back = scroller->GetBackColour();
    HPEN backPen = CreatePen(PS_SOLID, 1, back);
    HBRUSH backBrush = CreateSolidBrush(back);
    HGDIOBJ oldPen = SelectObject(mem, backPen);
    HGDIOBJ oldBrush = SelectObject(mem, backBrush);
    Rectangle(mem, 0, 0, viewW, viewH);

    int count = ItemCount(list);
    if (count > 0) {
        const RowLayout& layout = LayoutOf(orientation);
        bool columns = ColumnsIn(orientation);
        int cellW = layout.rowRect.w, cellH = layout.rowRect.h;
        HPEN separator = CreatePen(PS_SOLID, 1, LIST_SEPARATOR_COLOUR);
        std::vector<VideoItem>& items = GetItems(list);
        int first = scroller->GetFirstVisible(), last = scroller->GetLastVisible(), n = scroller->GetItemsPerView();
        for (int k = 0; k < n; ++k) {
            int index = first + k;
            if (index < 0 || index > last || index >= count) continue;
            const VideoItem& item = items[static_cast<size_t>(index)];
            RECT cell;
            scroller->GetItemRect(index, &cell);
            int dx = columns ? cell.left : 0, dy = columns ? 0 : cell.top;
            SelectObject(mem, separator);
            if (columns)
                Line(mem, cell.left + cellW - 1, cell.top, cell.left + cellW - 1, cell.top + cellH);
            else
                Line(mem, cell.left, cell.top + cellH - 1, cell.left + cellW, cell.top + cellH - 1);
            SelectObject(mem, backPen);
            if (arrowDc)
                BitBlt(mem, layout.arrowPos.x + dx, layout.arrowPos.y + dy, arrow.cx, arrow.cy, arrowDc, 0, 0, SRCCOPY);
            DrawRowTexts(mem, layout, item, dx, dy);
            DrawRowThumbnail(mem, layout, item, index, dx, dy);
        }
        SelectObject(mem, backPen);
        DeleteObject(separator);
    } else if (emptyText) {
        RECT all{0, 0, viewW, viewH};
        DrawTextW(mem, emptyText, -1, &all, DT_CENTER | DT_VCENTER | DT_NOCLIP | DT_NOPREFIX);
    }
    if (scroller->IsActive()) scroller->DrawScrollBar(mem);

    BitBlt(hdc, 0, 0, viewW, viewH, mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldPen);
    SelectObject(mem, oldBrush);
    SelectObject(mem, oldFont);
    DeleteObject(backPen);
    DeleteObject(backBrush);
    DeleteObject(font);
    if (arrowDc) {
        SelectObject(arrowDc, oldArrow);
        DeleteDC(arrowDc);
    }
    return 0;
}

void PaintPressedRow(HWND hwnd, RECT* cell, int index, int orientation) {
    if (!g_curList || index < 0 || index >= ItemCount(g_curList)) return;
    const VideoItem& item = GetItems(g_curList)[static_cast<size_t>(index)];
    const RowLayout& layout = LayoutOf(orientation);
    int w = cell->right - cell->left, h = cell->bottom - cell->top;
    if (w <= 0 || h <= 0) return;
    HDC window = GetDC(hwnd);
    HDC mem = CreateCompatibleDC(window);
    HBITMAP bmp = CreateCompatibleBitmap(window, w, h);
    HGDIOBJ oldBmp = SelectObject(mem, bmp);
    HPEN pen = CreatePen(PS_SOLID, 1, LIST_PRESSED_COLOUR);
    HBRUSH brush = CreateSolidBrush(LIST_PRESSED_COLOUR);
    HPEN separator = CreatePen(PS_SOLID, 1, LIST_SEPARATOR_COLOUR);
    HGDIOBJ oldPen = SelectObject(mem, pen);
    HGDIOBJ oldBrush = SelectObject(mem, brush);
    Rectangle(mem, 0, 0, w, h);
    SelectObject(mem, separator);
    Line(mem, layout.rowRect.x, layout.rowRect.y + h, layout.rowRect.x + w, layout.rowRect.y + h);
    SelectObject(mem, pen);
    if (g_skin.hasArrow && g_skin.arrow[1]) {
        HDC arrowDc = CreateCompatibleDC(window);
        HGDIOBJ oldArrow = SelectObject(arrowDc, g_skin.arrow[1]);
        SIZE a = BitmapSize(g_skin.arrow[1]);
        BitBlt(mem, layout.arrowPos.x, layout.arrowPos.y, a.cx, a.cy, arrowDc, 0, 0, SRCCOPY);
        SelectObject(arrowDc, oldArrow);
        DeleteDC(arrowDc);
    }
    HFONT font = CreateFontIndirectW(&g_skin.fonts[0]);
    HGDIOBJ oldFont = SelectObject(mem, font);
    SetTextColor(mem, RGB(0, 0, 0));
    SetBkMode(mem, TRANSPARENT);
    DrawRowTexts(mem, layout, item, 0, 0);
    DrawRowThumbnail(mem, layout, item, index, 0, 0);
    BitBlt(window, cell->left, cell->top, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldPen);
    SelectObject(mem, oldBrush);
    SelectObject(mem, oldBmp);
    DeleteObject(font);
    DeleteObject(pen);
    DeleteObject(brush);
    DeleteObject(separator);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hwnd, window);
}

void PaintThumbnail(HDC hdc, int penWidth, COLORREF frameColour, HBITMAP picture, int frameX, int frameY, int frameW,
                    int frameH, int x, int y, int w, int h, int index) {
    HPEN pen = CreatePen(PS_SOLID, penWidth, frameColour);
    HGDIOBJ oldPen = SelectObject(hdc, pen);
    Rectangle(hdc, frameX, frameY, frameX + frameW, frameY + frameH);
    SelectObject(hdc, oldPen);
    DeleteObject(pen);

    BITMAP info{};
    if (picture && GetObjectW(picture, sizeof(info), &info) != 0 && info.bmWidth > 0 && info.bmHeight > 0 && w > 0 &&
        h > 0) {
        // Fill the rectangle; the picture's excess to the right or bottom is cut.
        double sx = static_cast<double>(w) / info.bmWidth, sy = static_cast<double>(h) / info.bmHeight;
        double scale = sx > sy ? sx : sy;
        HDC src = CreateCompatibleDC(hdc);
        HGDIOBJ old = SelectObject(src, picture);
        StretchBlt(hdc, x, y, w, h, src, 0, 0, static_cast<int>(w / scale), static_cast<int>(h / scale), SRCCOPY);
        SelectObject(src, old);
        DeleteDC(src);
    }

    if (index != -1 && g_curList && IsRanking(g_curList) == 1 && picture != g_skin.picBk && g_skin.rankNumBk) {
        SIZE badge = BitmapSize(g_skin.rankNumBk);
        int by = y + h - badge.cy;
        HDC src = CreateCompatibleDC(hdc);
        HGDIOBJ old = SelectObject(src, g_skin.rankNumBk);
        BitBlt(hdc, x, by, badge.cx, badge.cy, src, 0, 0, SRCCOPY);
        SelectObject(src, old);
        DeleteDC(src);
        wchar_t number[16];
        _snwprintf(number, 16, L"%d", index + 1);
        number[15] = 0;
        HFONT font = CreateFontIndirectW(&g_skin.fonts[3]);
        HGDIOBJ oldFont = SelectObject(hdc, font);
        SetTextColor(hdc, RGB(255, 255, 255));
        RECT r{x, by, x + badge.cx, by + badge.cy};
        DrawTextW(hdc, number, -1, &r, DT_CENTER | DT_VCENTER | DT_NOPREFIX);
        SetTextColor(hdc, RGB(0, 0, 0));
        SelectObject(hdc, oldFont);
        DeleteObject(font);
    }
}

void RepaintThumbnail(HDC hdc, int index, int orientation) {
    if (!g_curList || index < 0 || index >= ItemCount(g_curList)) return;
    Scroller* scroller = orientation == 1 ? &g_scrollerPortrait : &g_scrollerLandscape;
    RECT cell;
    scroller->GetItemRect(index, &cell);
    if (IsRectEmpty(&cell)) return;
    bool columns = ColumnsIn(orientation);
    DrawRowThumbnail(hdc, LayoutOf(orientation), GetItems(g_curList)[static_cast<size_t>(index)], index,
                     columns ? cell.left : 0, columns ? 0 : cell.top);
}

void SetStartupText(const CStringW& text) {
    HWND stup = g_hStupWnd;
    // The screen paints the text on its own thread; only that thread changes it.
    if (stup && IsWindow(stup) && GetWindowThreadProcessId(stup, nullptr) != GetCurrentThreadId()) {
        SendMessageW(stup, WM_STARTUP_TEXT, 0, reinterpret_cast<LPARAM>(&text));
        return;
    }
    g_startupText = text;
    if (!stup) return;
    const LayoutRect& r = g_skin.startupTextRect;
    RECT area{r.x, r.y, r.x + r.w, r.y + g_skin.startupTextHeight};
    InvalidateRect(stup, &area, FALSE);
    UpdateWindow(stup);
}
