// The list page (the current list under its title and, for rankings, the period tabs), the
// channel page and the ranking page.
#include "listPages.h"

#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "skin.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/gdi.h"

const ButtonDef g_channelButtons[6] = {
    {BS_OWNERDRAW, L"资讯", RSS_NEWS},  {BS_OWNERDRAW, L"原创", RSS_ORIGINAL}, {BS_OWNERDRAW, L"音乐", RSS_MUSIC},
    {BS_OWNERDRAW, L"体育", RSS_SPORT}, {BS_OWNERDRAW, L"搞笑", RSS_FUNNY},    {BS_OWNERDRAW, L"推荐", RSS_HOT},
};
const ButtonDef g_rankButtons[3] = {
    {BS_OWNERDRAW, L"最受播放", RSS_MOST_PLAYED},
    {BS_OWNERDRAW, L"最多收藏", RSS_MOST_FAV},
    {BS_OWNERDRAW, L"最多评论", RSS_MOST_COMMENT},
};
HWND g_hChannelBtn[6];
HWND g_hRankBtn[3];

namespace {

const COLORREF kPageColour = RGB(0x2C, 0x5B, 0x81);
const COLORREF kPeriodColour = RGB(0xD1, 0xE9, 0xFC);

int g_listW, g_listH, g_classifyW, g_classifyH, g_rankW, g_rankH;

// A memory bitmap of the page's size, copied to the window in one blit when it goes.
struct PageBuffer {
    HDC window, dc;
    HBITMAP bmp;
    HGDIOBJ old;
    int w, h;
    PageBuffer(HDC target, int width, int height)
        : window(target), w(width > 0 ? width : 1), h(height > 0 ? height : 1) {
        dc = CreateCompatibleDC(target);
        bmp = CreateCompatibleBitmap(target, w, h);
        old = SelectObject(dc, bmp);
    }
    ~PageBuffer() {
        BitBlt(window, 0, 0, w, h, dc, 0, 0, SRCCOPY);
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
};

void FillWith(HDC dc, int w, int h, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, brush);
    Rectangle(dc, 0, 0, w, h);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void BlitPicture(HDC dc, HBITMAP picture, int x, int y) {
    if (!picture) return;
    SIZE size = BitmapSize(picture);
    HDC src = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(src, picture);
    BitBlt(dc, x, y, size.cx, size.cy, src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
}

// The shared title bar of the inner pages with the page's title in bold white.
void PaintTitleBar(HDC dc, int w, const wchar_t* title) {
    HBITMAP bar = g_skin.innerTitleBar;
    if (bar) {
        SIZE size = BitmapSize(bar);
        HDC src = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(src, bar);
        StretchBlt(dc, 0, 0, w, size.cy, src, 0, 0, size.cx, size.cy, SRCCOPY);
        SelectObject(src, old);
        DeleteDC(src);
    }
    HFONT font = CreateFontIndirectW(&g_skin.fonts[1]);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    const LayoutRect& t = g_skin.titleRect;
    RECT r{t.x, t.y, t.x + t.w, t.y + t.h};
    DrawTextW(dc, title, -1, &r, DT_NOPREFIX);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void MoveTo(HWND hwnd, const LayoutRect& r) {
    if (!hwnd) return;
    RECT now;
    GetWindowRect(hwnd, &now);
    POINT origin{now.left, now.top};
    ScreenToClient(GetParent(hwnd), &origin);
    if (origin.x == r.x && origin.y == r.y && now.right - now.left == r.w && now.bottom - now.top == r.h) return;
    MoveWindow(hwnd, r.x, r.y, r.w, r.h, TRUE);
}

int CreateButtons(HWND page, const ButtonDef* rows, int count, HWND* handles) {
    for (int k = 0; k < count; ++k) {
        handles[k] = CreateWindowExW(0x100, L"button", rows[k].caption,
                                     static_cast<DWORD>(rows[k].style) | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, page,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(rows[k].id)), g_hInst, nullptr);
        if (!handles[k]) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return -1;
        }
    }
    return 0;
}

// What every page does on these messages, with the result in `result`; false when the
// message is the page's own.
bool CommonPageMessage(HWND hwnd, UINT msg, LPARAM lParam, int (*createControls)(HWND), int* w, int* h,
                       LRESULT* result) {
    *result = 0;
    switch (msg) {
    case WM_CREATE:
        if (createControls(hwnd) != 0) *result = CreateControlsFailed();
        return true;
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return true;
    case WM_SIZE:
        *w = LOWORD(lParam);
        *h = HIWORD(lParam);
        return true;
    default:
        return false;
    }
}

void LogIfFailed(int result, const wchar_t* text) {
    if (result != 0) LOG(LOG_WARNING, L"%s", text);
}

// A channel or ranking button opens its list on the list page.
void OpenList(int rssType, int period) {
    SwitchPage(g_hListWnd);
    LogIfFailed(MyChangeMenu(&g_menuBar, &g_hFrame, IDB_LIST, 0), L"MyChangeMenu Failed");
    LogIfFailed(SwitchChannel(rssType, period, &g_skin), L"SwitchChannel Failed");
}

// ---- List page ----

int ListCreateControls(HWND page) {
    const WndClassDef& row = g_listViewWindows[0];
    WNDCLASSW wc{}, existing;
    wc.style = row.classStyle;
    wc.lpfnWndProc = row.wndProc;
    wc.hInstance = g_hInst;
    wc.hbrBackground = row.background;
    wc.lpszClassName = row.className;
    if (!GetClassInfoW(g_hInst, row.className, &existing) && !RegisterClassW(&wc)) {
        LOG(LOG_WARNING, L"CreateWindow failed.");
        return -1;
    }
    g_hListView = CreateWindowExW(row.exStyle, row.className, L"", row.style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, page, nullptr, g_hInst, nullptr);
    if (!g_hListView) {
        LOG(LOG_WARNING, L"CreateWindow failed.");
        return -1;
    }
    return 0;
}

void ListMoveControls() { MoveTo(g_hListView, g_orientation == 1 ? g_skin.portrait.listRect : g_skin.landscape.listRect); }

bool IsRankingList() { return g_curList && IsRanking(g_curList) != 0; }

void PaintPeriodTabs(HDC dc) {
    int period = GetPeriod(g_curList);
    int top = g_skin.periodTop, height = g_skin.periodHeight, width = g_skin.periodTabWidth;
    HPEN black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HPEN white = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
    HBRUSH current = CreateSolidBrush(RGB(255, 255, 255));
    HBRUSH other = CreateSolidBrush(kPeriodColour);
    HFONT font = CreateFontIndirectW(&g_skin.fonts[1]);
    HGDIOBJ oldPen = SelectObject(dc, black), oldBrush = SelectObject(dc, other), oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    for (int i = 0; i < g_skin.periodCount && g_skin.periodPos; ++i) {
        int x = g_skin.periodPos[i];
        SelectObject(dc, black);
        if (period == i + 1) {
            SelectObject(dc, current);
            Rectangle(dc, x, top, x + width, top + height);
            // The current tab opens into the white list below it.
            SelectObject(dc, white);
            MoveToEx(dc, x, top + height - 1, nullptr);
            LineTo(dc, x + width, top + height - 1);
        } else {
            SelectObject(dc, other);
            Rectangle(dc, x, top, x + width, top + height);
        }
        RECT r{x, top, x + width, top + height};
        if (g_skin.periodCaption)
            DrawTextW(dc, g_skin.periodCaption[i].GetString(), -1, &r, DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldFont);
    DeleteObject(black);
    DeleteObject(white);
    DeleteObject(current);
    DeleteObject(other);
    DeleteObject(font);
}

LRESULT ListPaint(HWND hwnd) {
    ListMoveControls();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        PageBuffer b(dc, g_listW, g_listH);
        FillWith(b.dc, b.w, b.h, RGB(255, 255, 255));
        PaintTitleBar(b.dc, b.w, g_curList ? GetTitle(g_curList).GetString() : L"");
        if (IsRankingList()) PaintPeriodTabs(b.dc);
    }
    EndPaint(hwnd, &ps);
    return 0;
}

void ListPenDown(LPARAM lParam) {
    if (!IsRankingList()) return;
    int x = static_cast<SHORT>(LOWORD(lParam)), y = static_cast<SHORT>(HIWORD(lParam));
    int top = g_skin.periodTop, height = g_skin.periodHeight, width = g_skin.periodTabWidth;
    for (int i = 0; i < g_skin.periodCount && g_skin.periodPos; ++i) {
        int left = g_skin.periodPos[i];
        if (x >= left && x <= left + width && y >= top && y <= top + height) {
            LogIfFailed(SwitchChannel(GetRssType(g_curList), i + 1, &g_skin), L"SwitchChannel Failed");
            return;
        }
    }
}

// ---- Channel and ranking pages ----

int ChannelCreateControls(HWND page) { return CreateButtons(page, g_channelButtons, 6, g_hChannelBtn); }
int RankCreateControls(HWND page) { return CreateButtons(page, g_rankButtons, 3, g_hRankBtn); }

int ChannelRow(int id) {
    for (int k = 0; k < 6; ++k)
        if (g_channelButtons[k].id == id) return k;
    return -1;
}

int RankRow(int id) {
    for (int k = 0; k < 3; ++k)
        if (g_rankButtons[k].id == id) return k;
    return -1;
}

// Pictures of a button by its look: the last channel's pieces lie the other way round.
HBITMAP ChannelPicture(int row, bool pressed) {
    if (row == 5) return g_skin.channelBtn[pressed ? 11 : 10];
    return g_skin.channelBtn[pressed ? 2 * row : 2 * row + 1];
}
HBITMAP RankPicture(int row, bool pressed) { return g_skin.rankBtn[pressed ? 2 * row : 2 * row + 1]; }

LRESULT ButtonPagePaint(HWND hwnd, int w, int h, const wchar_t* title, HWND* buttons, const LayoutRect* rects,
                        int count) {
    for (int k = 0; k < count; ++k) MoveTo(buttons[k], rects[k]);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        PageBuffer b(dc, w, h);
        FillWith(b.dc, b.w, b.h, kPageColour);
        PaintTitleBar(b.dc, b.w, title);
    }
    EndPaint(hwnd, &ps);
    return 0;
}

}  // namespace

LRESULT ListWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (LRESULT r; CommonPageMessage(hwnd, msg, lParam, ListCreateControls, &g_listW, &g_listH, &r)) return r;
    switch (msg) {
    case WM_PAINT:
        return ListPaint(hwnd);
    case WM_LBUTTONDOWN:
        ListPenDown(lParam);
        return 0;
    case WM_COMMAND:
        if (OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam), lParam) == 1) return 0;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT ClassifyWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (LRESULT r; CommonPageMessage(hwnd, msg, lParam, ChannelCreateControls, &g_classifyW, &g_classifyH, &r))
        return r;
    switch (msg) {
    case WM_PAINT:
        return ButtonPagePaint(hwnd, g_classifyW, g_classifyH, L"视频分类", g_hChannelBtn, g_skin.channelBtnRect, 6);
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        int row = di ? ChannelRow(static_cast<int>(di->CtlID)) : -1;
        if (row < 0) return DefWindowProcW(hwnd, msg, wParam, lParam);
        BlitPicture(di->hDC, ChannelPicture(row, (di->itemState & ODS_SELECTED) != 0), 0, 0);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (ChannelRow(id) < 0) return DefWindowProcW(hwnd, msg, wParam, lParam);
        if (id == RSS_HOT) {
            // 推荐 is also a tab: it becomes the current one.
            g_prevTab = g_curTab;
            g_curTab = IDC_TAB_HOT;
            DRAWITEMSTRUCT di{};
            di.CtlID = IDC_TAB_HOT;
            SendMessageW(g_hMainWnd, WM_DRAWITEM, IDC_TAB_HOT, reinterpret_cast<LPARAM>(&di));
        }
        OpenList(id, 0);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT RankWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (LRESULT r; CommonPageMessage(hwnd, msg, lParam, RankCreateControls, &g_rankW, &g_rankH, &r)) return r;
    switch (msg) {
    case WM_PAINT:
        return ButtonPagePaint(hwnd, g_rankW, g_rankH, L"排行榜", g_hRankBtn, g_skin.rankBtnRect, 3);
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        int row = di ? RankRow(static_cast<int>(di->CtlID)) : -1;
        if (row < 0) return DefWindowProcW(hwnd, msg, wParam, lParam);
        BlitPicture(di->hDC, RankPicture(row, (di->itemState & ODS_SELECTED) != 0), 0, 0);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (RankRow(id) < 0) return DefWindowProcW(hwnd, msg, wParam, lParam);
        // A ranking always opens on today.
        OpenList(id, 1);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
