#include "tools.h"

#include <cstdio>

#include "listView.h"
#include "lumeo.h"
#include "waitDlg.h"
#include "skin.h"
#include "log.h"
#include "platform/commctrl.h"
#include "platform/device.h"
#include "platform/gdi.h"

HWND g_hStupWnd, g_hMainWnd, g_hProgress;
HWND g_hListWnd, g_hDtlWnd, g_hHlpttWnd, g_hHlpinfWnd, g_hAboutWnd, g_hClassifyWnd, g_hSearchWnd, g_hRankWnd;
HWND g_hTabBtn[4];
VideoList* g_curList;
VideoList* g_pendingList;
HWND g_hWaitDlg;
HWND g_hListView;
HWND g_curPage, g_prevPage;
HWND g_returnPage;
int g_returnBar;
int g_curTab, g_prevTab;
int g_initDone;
int g_orientation = -1;
SHMENUBARINFO g_menuBar;
CStringW g_startupText;
int g_relLoading;
HWND g_hMainWndParam;
LPTHREAD_START_ROUTINE g_initThreadProc = InitThread;

const ButtonDef g_tabButtons[4] = {
    {BS_OWNERDRAW, L"推荐", IDC_TAB_HOT},
    {BS_OWNERDRAW, L"分类", IDC_TAB_CLASSIFY},
    {BS_OWNERDRAW, L"搜索", IDC_TAB_SEARCH},
    {BS_OWNERDRAW, L"排行", IDC_TAB_RANK},
};

// ---- Soft-key bars ----

int MyCreateMenu(SHMENUBARINFO* bar, HWND* parent, int barId) {
    *bar = SHMENUBARINFO{};
    bar->cbSize = 36;
    bar->hwndParent = *parent;
    bar->nToolBarId = static_cast<UINT>(barId);
    bar->hInstRes = g_hInst;
    if (!SHCreateMenuBar(bar)) {
        bar->hwndMB = nullptr;
        g_errno = GetLastError();
        LOG(LOG_WARNING, L"SHCreateMenuBar Failed : errno=%d, msg=%s", static_cast<int>(g_errno), GetErrorMsg(g_errno));
        return -1;
    }
    return 0;
}

void DestroyMenuBar(SHMENUBARINFO* bar) {
    if (bar->hwndMB) {
        DestroyWindow(bar->hwndMB);
        bar->hwndMB = nullptr;
    }
}

int MyChangeMenu(SHMENUBARINFO* bar, HWND* parent, int barId, int) {
    DestroyMenuBar(bar);
    if (MyCreateMenu(bar, parent, barId) != 0) {
        LOG(LOG_WARNING, L"MyCreateMenu Failed");
        return -1;
    }
    return 0;
}

// ---- Page model ----

HWND SwitchPage(HWND page) {
    if (page != g_curPage) {
        if (g_curPage && g_curPage == g_hDtlWnd) g_relLoading = 0;
        ShowWindow(page, SW_SHOW);
        UpdateWindow(page);
        ShowWindow(g_curPage, SW_HIDE);
        UpdateWindow(g_curPage);
        g_prevPage = g_curPage;
        g_curPage = page;
    }
    return g_prevPage;
}

void SetOrientation() { g_orientation = GetSystemMetrics(SM_CXSCREEN) == g_skin.shortSide ? 1 : 2; }

int QueryDisplayOrientation() {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);  // the record as this platform lays it out
    mode.dmFields = DM_DISPLAYORIENTATION;
    if (ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr) != 0) return -1;
    return static_cast<int>(mode.dmDisplayOrientation);
}

void LogExeTime(const wchar_t* file, int line) {
    static int first = 1;
    static DWORD start = 0;
    wchar_t text[1024];
    DWORD now = GetTickCount();
    if (first) {
        first = 0;
        start = now;
        _snwprintf(text, 1024, L"%s(%d) : Begin=%lu Milliseconds", file, line, static_cast<unsigned long>(start));
    } else {
        _snwprintf(text, 1024, L"%s(%d) : ExeTime=%d Milliseconds", file, line, static_cast<int>(now - start));
        start = now;
    }
    text[1023] = 0;
    LOG(LOG_DEBUG, L"%s", text);
    std::printf("%s\n", platform::WideToUtf8(text).c_str());
}

// ---- Helpers for painting ----

void DrawPicture(HDC dc, HBITMAP picture, int x, int y, int w, int h) {
    if (!picture) return;
    SIZE size = BitmapSize(picture);
    HDC src = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(src, picture);
    if (w > 0)
        StretchBlt(dc, x, y, w, h, src, 0, 0, size.cx, size.cy, SRCCOPY);
    else
        BitBlt(dc, x, y, size.cx, size.cy, src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
}

BackBuffer::BackBuffer(HDC target, int width, int height) : window(target), w(width), h(height) {
    dc = CreateCompatibleDC(target);
    bmp = CreateCompatibleBitmap(target, w > 0 ? w : 1, h > 0 ? h : 1);
    old = SelectObject(dc, bmp);
}

BackBuffer::~BackBuffer() {
    BitBlt(window, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

void FillSolidRect(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Rectangle(dc, left, top, right, bottom);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void DrawPageTitle(HDC dc, int width, const wchar_t* title) {
    SIZE t = BitmapSize(g_skin.innerTitleBar);
    DrawPicture(dc, g_skin.innerTitleBar, 0, 0, width, t.cy);
    HFONT font = CreateFontIndirectW(&g_skin.fonts[1]);
    HGDIOBJ oldFont = SelectObject(dc, font);
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColour = SetTextColor(dc, RGB(255, 255, 255));
    const LayoutRect& r = g_skin.titleRect;
    RECT rc{r.x, r.y, r.x + r.w, r.y + r.h};
    DrawTextW(dc, title, -1, &rc, DT_NOPREFIX);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

namespace {

ATOM RegisterFromRow(const WndClassDef& row) {
    WNDCLASSW wc{};
    wc.style = row.classStyle;
    wc.lpfnWndProc = row.wndProc;
    wc.hInstance = g_hInst;
    wc.hbrBackground = row.background;
    wc.lpszClassName = row.className;
    WNDCLASSW existing;
    if (GetClassInfoW(g_hInst, row.className, &existing)) return 1;
    return RegisterClassW(&wc);
}

HWND CreateFromRow(const WndClassDef& row, HWND parent) {
    if (!RegisterFromRow(row)) return nullptr;
    return CreateWindowExW(row.exStyle, row.className, L"", row.style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, nullptr, g_hInst, nullptr);
}


}  // namespace


// ---- Start-up screen ----

namespace {
RECT g_progressRect;
int g_stupWidth, g_stupHeight;

LRESULT StupPaint(HWND hwnd) {
    MoveWindow(g_hProgress, g_progressRect.left, g_progressRect.top, g_progressRect.right - g_progressRect.left,
               g_progressRect.bottom - g_progressRect.top, TRUE);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        int W = g_stupWidth, H = g_stupHeight;
        BackBuffer b(dc, W, H);
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(0x33, 0x99, 0xFF));
        HGDIOBJ oldPen = SelectObject(b.dc, pen);
        HGDIOBJ oldBrush = SelectObject(b.dc, GetStockObject(WHITE_BRUSH));
        Rectangle(b.dc, 0, 0, W, H);
        SelectObject(b.dc, oldPen);
        SelectObject(b.dc, oldBrush);
        DeleteObject(pen);
        SIZE logo = BitmapSize(g_skin.stupLogo);
        int m = g_orientation == 1 ? g_skin.startupMetric1 : g_skin.startupMetric2;
        DrawPicture(b.dc, g_skin.stupLogo, (W - logo.cx) / 2, m);
        HFONT font = CreateFontIndirectW(&g_skin.fonts[0]);
        HGDIOBJ oldFont = SelectObject(b.dc, font);
        SetBkMode(b.dc, TRANSPARENT);
        SetTextColor(b.dc, RGB(0, 0, 0));
        const LayoutRect& t = g_skin.startupTextRect;
        RECT tr{t.x, t.y, t.x + t.w, t.y + t.h};
        DrawTextW(b.dc, g_startupText.GetString(), -1, &tr, DT_LEFT | DT_NOPREFIX);
        SelectObject(b.dc, oldFont);
        DeleteObject(font);
    }
    EndPaint(hwnd, &ps);
    return 0;
}
}  // namespace

LRESULT StupWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        g_hProgress = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0, hwnd,
                                      nullptr, g_hInst, nullptr);
        if (!g_hProgress) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return CreateControlsFailed();
        }
        SendMessageW(g_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
        SendMessageW(g_hProgress, PBM_SETSTEP, 10, 0);
        return 0;
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    case WM_SIZE: {
        int W = LOWORD(lParam), H = HIWORD(lParam);
        g_stupWidth = W;
        g_stupHeight = H;
        SIZE logo = BitmapSize(g_skin.stupLogo);
        int lw = logo.cx, lh = logo.cy, t = g_skin.startupTextHeight;
        int m = g_orientation == 1 ? g_skin.startupMetric1 : g_skin.startupMetric2;
        int g = H - 2 * m - lh - t - 3 * t / 2;
        if (lh < g) g = lh;
        // A screen too low for the margins gets no gap rather than a status line over the logo.
        if (g < 0) g = 0;
        LayoutRect& r = g_skin.startupTextRect;
        r.x = (W - lw) / 2;
        r.y = m + lh + g;
        r.w = W - 2 * r.x;
        r.h = t;
        int py = r.y + 3 * t / 2;
        SetRect(&g_progressRect, r.x, py, r.x + lw, py + 3 * t / 2);
        return 0;
    }
    case WM_PAINT:
        return StupPaint(hwnd);
    case WM_STARTUP_TEXT:
        SetStartupText(*reinterpret_cast<const CStringW*>(lParam));
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT CreateControlsFailed() {
    LOG(LOG_WARNING, L"CreateControls failed");
    return -1;
}

int CreateControls(HWND frame) {
    HWND created[STARTUP_WINDOW_COUNT] = {};
    for (int i = 0; i < STARTUP_WINDOW_COUNT; ++i) {
        created[i] = CreateFromRow(g_startupWindows[i], frame);
        if (!created[i]) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return -1;
        }
        if (i == 0) g_hStupWnd = created[0];
        else g_hMainWnd = created[1];
    }
    ShowWindow(g_hMainWnd, SW_HIDE);
    g_startupText = L"正在连接澜映,请稍候...";
    return 0;
}

// ---- Main window ----

namespace {

int MainCreateControls(HWND hwnd) {
    for (int k = 0; k < 4; ++k) {
        g_hTabBtn[k] = CreateWindowExW(0x100, L"button", g_tabButtons[k].caption,
                                       static_cast<DWORD>(g_tabButtons[k].style) | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                       hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(g_tabButtons[k].id)),
                                       g_hInst, nullptr);
        if (!g_hTabBtn[k]) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return -1;
        }
    }
    HWND* handles[PAGE_WINDOW_COUNT] = {&g_hListWnd,  &g_hDtlWnd,      &g_hHlpttWnd,  &g_hHlpinfWnd,
                                        &g_hAboutWnd, &g_hClassifyWnd, &g_hSearchWnd, &g_hRankWnd};
    HWND pages[PAGE_WINDOW_COUNT] = {};
    for (int i = 0; i < PAGE_WINDOW_COUNT; ++i) {
        pages[i] = CreateFromRow(g_pageWindows[i], hwnd);
        if (!pages[i]) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return -1;
        }
    }
    for (int i = 1; i < PAGE_WINDOW_COUNT; ++i) ShowWindow(pages[i], SW_HIDE);
    for (int i = 0; i < PAGE_WINDOW_COUNT; ++i) *handles[i] = pages[i];
    return 0;
}

void MainMoveControls() {
    const LayoutRect& p = g_skin.pageRect;
    HWND pages[PAGE_WINDOW_COUNT] = {g_hListWnd,  g_hDtlWnd,      g_hHlpttWnd,  g_hHlpinfWnd,
                                     g_hAboutWnd, g_hClassifyWnd, g_hSearchWnd, g_hRankWnd};
    for (HWND page : pages) MoveWindow(page, p.x, p.y, p.w, p.h, TRUE);
    for (int k = 0; k < 4; ++k) {
        const LayoutRect& t = g_skin.tabRect[k];
        MoveWindow(g_hTabBtn[k], t.x, t.y, t.w, t.h, TRUE);
    }
}

int g_mainWidth, g_mainHeight;

LRESULT MainPaint(HWND hwnd) {
    MainMoveControls();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        RECT rc;
        GetClientRect(hwnd, &rc);
        int W = rc.right, H = rc.bottom;
        BackBuffer b(dc, W, H);
        FillRect(b.dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SIZE bar = BitmapSize(g_skin.pgrmUpBar);
        DrawPicture(b.dc, g_skin.pgrmUpBar, 0, 0, W, bar.cy);
        SIZE logo = BitmapSize(g_skin.pgrmLogo);
        DrawPicture(b.dc, g_skin.pgrmLogo, W / 2 - logo.cx / 2, 0);
        int tabBar = g_skin.mainMetric1;
        COLORREF c = RGB(0x8B, 0xCC, 0xED);
        HPEN pen = CreatePen(PS_SOLID, 1, c);
        HBRUSH brush = CreateSolidBrush(c);
        HGDIOBJ oldPen = SelectObject(b.dc, pen);
        HGDIOBJ oldBrush = SelectObject(b.dc, brush);
        Rectangle(b.dc, 0, H - tabBar, W, H);
        SelectObject(b.dc, oldPen);
        SelectObject(b.dc, oldBrush);
        DeleteObject(pen);
        DeleteObject(brush);
    }
    EndPaint(hwnd, &ps);
    return 0;
}

bool IsTabId(int id) { return id >= IDC_TAB_HOT && id <= IDC_TAB_RANK; }

void DrawTab(HWND hwnd, int row, int picture) {
    HWND button = GetDlgItem(hwnd, IDC_TAB_HOT + row);
    HBITMAP pic = g_skin.tabBtn[picture];
    if (!button || !pic) return;
    HDC dc = GetDC(button);
    DrawPicture(dc, pic, 0, 0);
    ReleaseDC(button, dc);
}

LRESULT MainDrawItem(HWND hwnd, const DRAWITEMSTRUCT* di) {
    int id = static_cast<int>(di->CtlID);
    int k = id - IDC_TAB_HOT;
    if (g_curTab != g_prevTab && IsTabId(g_prevTab)) {
        int j = g_prevTab - IDC_TAB_HOT;
        DrawTab(hwnd, j, 3 * j + 1);
    }
    int picture;
    if (di->itemState & ODS_SELECTED) picture = 3 * k;
    else if (id == g_curTab) picture = 3 * k + 2;
    else picture = 3 * k + 1;
    DrawTab(hwnd, k, picture);
    return TRUE;
}

void MainCommand(HWND hwnd, int id) {
    if (id == IDC_TAB_HOT) {
        SwitchPage(g_hListWnd);
        if (MyChangeMenu(&g_menuBar, &g_hFrame, IDB_LIST, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
        if (SwitchChannel(123, 0, &g_skin) != 0) {
            LOG(LOG_WARNING, L"SwitchChannel Failed");
            return;
        }
    } else {
        HWND page = id == IDC_TAB_CLASSIFY ? g_hClassifyWnd : id == IDC_TAB_SEARCH ? g_hSearchWnd : g_hRankWnd;
        SwitchPage(page);
        if (MyChangeMenu(&g_menuBar, &g_hFrame, IDB_LIST, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
    }
    g_prevTab = g_curTab;
    g_curTab = id;
    DRAWITEMSTRUCT di{};
    di.CtlID = static_cast<UINT>(id);
    SendMessageW(hwnd, WM_DRAWITEM, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&di));
}

}  // namespace

LRESULT MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: {
        if (MainCreateControls(hwnd) != 0) return CreateControlsFailed();
        g_hMainWndParam = hwnd;
        HANDLE thread = g_initThreadProc ? CreateThread(nullptr, 0, g_initThreadProc, &g_hMainWndParam, 0, nullptr)
                                         : nullptr;
        if (!thread) {
            LOG(LOG_ERROR, L"InitThread Create failed");
            SendMessageW(g_hFrame, WM_DESTROY, 0, 0);
            return 0;
        }
        CloseHandle(thread);
        return 0;
    }
    case WM_INIT_DONE:
        // The tab state is this thread's alone: the home tab is current with the home list.
        g_prevTab = 0;
        g_curTab = IDC_TAB_HOT;
        g_initDone = 1;
        ShowWindow(g_hMainWnd, SW_SHOW);
        UpdateWindow(g_hMainWnd);
        ShowWindow(g_hStupWnd, SW_HIDE);
        UpdateWindow(g_hStupWnd);
        SwitchPage(g_hListWnd);
        if (MyChangeMenu(&g_menuBar, &g_hFrame, IDB_LIST, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
        return 0;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (OnCommand(hwnd, id, HIWORD(wParam), lParam) == 1) return 0;
        if (IsTabId(id)) {
            // The tabs act only once the start-up has finished.
            if (g_initDone == 1) MainCommand(hwnd, id);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (di && IsTabId(static_cast<int>(di->CtlID))) return MainDrawItem(hwnd, di);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    case WM_SIZE:
        g_mainWidth = LOWORD(lParam);
        g_mainHeight = HIWORD(lParam);
        LayoutMainWindow(g_mainWidth, g_mainHeight);
        return 0;
    case WM_PAINT:
        return MainPaint(hwnd);
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
