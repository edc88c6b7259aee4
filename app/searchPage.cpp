// The search page: the search box with its 搜索 button, and the remembered search words
// with their 清空 button.
#include "searchPage.h"

#include <algorithm>

#include "entryGlobals.h"
#include "lumeo.h"
#include "log.h"
#include "registry.h"
#include "skin.h"
#include "waitDlg.h"
#include "platform/aygshell.h"
#include "platform/gdi.h"

const ButtonDef g_searchButtons[2] = {
    {BS_OWNERDRAW, L"搜索", IDC_SEARCH},
    {BS_OWNERDRAW, L"清空", IDC_SEARCH_CLEAR},
};
HWND g_hSearchBtn[2];
WNDPROC g_hOldSearchEditProc;

namespace {

int g_searchWidth, g_searchHeight;

int CreateSearchControls(HWND page) {
    for (int i = 0; i < 2; ++i) {
        const ButtonDef& row = g_searchButtons[i];
        g_hSearchBtn[i] = CreateWindowExW(0x100, L"button", row.caption,
                                          static_cast<DWORD>(row.style) | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, page,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), g_hInst, nullptr);
        if (!g_hSearchBtn[i]) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return -1;
        }
    }
    g_hSearchEdit = CreateWindowExW(0, L"edit", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 0, 0, page,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SEARCH_EDIT)), g_hInst, nullptr);
    if (!g_hSearchEdit) {
        LOG(LOG_WARNING, L"CreateWindow failed.");
        return -1;
    }
    SendMessageW(g_hSearchEdit, EM_LIMITTEXT, SEARCH_TEXT_LIMIT, 0);
    g_hOldSearchEditProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_hSearchEdit, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SearchEditProc)));
    return 0;
}

int MoveSearchControls() {
    const SearchLayout& l = g_skin.search;
    int m = g_skin.searchMetric1;
    // The box sits inside the one-pixel frame that the page draws around it.
    MoveWindow(g_hSearchEdit, l.editX, l.editY, l.editWidth - m, l.editHeight - m, FALSE);
    MoveWindow(g_hSearchBtn[0], l.button.x, l.button.y, l.button.w, l.button.h, FALSE);
    int away = l.historyShown ? 0 : 2000;
    MoveWindow(g_hSearchBtn[1], l.clear.x + away, l.clear.y, l.clear.w, l.clear.h, FALSE);
    return 0;
}

// While the input panel is open the frame ends at the panel's top and the pages keep their
// size beneath it: the search page is laid out on the part that still shows. Closing the
// panel lays the whole window out again.
void FitAboveThePanel() {
    const LayoutRect& p = g_skin.pageRect;
    int shown = std::min(p.h, g_clientHeight - p.y);
    if (shown <= 0) return;
    LayoutSearchPage(g_skin, p.w, shown);
    InvalidateRect(g_hSearchWnd, nullptr, FALSE);
}

RECT HistoryRect() {
    const LayoutRect& b = g_skin.search.history;
    return RECT{b.x, b.y, b.x + b.w, b.y + b.h};
}

void PaintHistory(HDC dc) {
    const Skin& s = g_skin;
    const SearchLayout& l = s.search;
    int m = s.searchMetric1, n = s.searchHistoryCount, R = l.rowHeight;
    const LayoutRect& box = l.history;
    FillSolidRect(dc, box.x, box.y, box.x + box.w, box.y + box.h, RGB(0xEF, 0xEF, 0xEF));
    HPEN linePen = CreatePen(PS_SOLID, 1, RGB(0x66, 0xBA, 0xF6));
    HGDIOBJ oldPen = SelectObject(dc, linePen);
    for (int i = 1; i < n; ++i) {
        int y = box.y + m + R * i - 1;
        MoveToEx(dc, box.x + m, y, nullptr);
        LineTo(dc, box.x + box.w - m, y);
    }
    SelectObject(dc, oldPen);
    DeleteObject(linePen);
    FillSolidRect(dc, box.x + m, box.y + m + R * n, box.x + box.w - m, box.y + box.h - m, RGB(0xD8, 0xE6, 0xF2));
    if (s.hasArrow)
        for (int i = 0; i < n; ++i) DrawPicture(dc, s.arrow[0], l.arrow.x, l.arrow.y + R * i);

    SetBkMode(dc, TRANSPARENT);
    HFONT labelFont = CreateFontIndirectW(&s.fonts[1]);
    HGDIOBJ oldFont = SelectObject(dc, labelFont);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT label{l.label.x, l.label.y, l.label.x + l.label.w, l.label.y + l.label.h};
    DrawTextW(dc, L"搜索历史", -1, &label, DT_NOPREFIX);
    HFONT rowFont = CreateFontIndirectW(&s.fonts[8]);
    SelectObject(dc, rowFont);
    SetTextColor(dc, RGB(0, 0, 0));
    for (int i = 0; i < n && s.searchHistory; ++i) {
        const LayoutRect& t = l.rowText;
        RECT r{t.x, t.y + R * i, t.x + t.w, t.y + R * i + t.h};
        DrawTextW(dc, s.searchHistory[i].GetString(), -1, &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX | DT_NOCLIP);
    }
    SelectObject(dc, oldFont);
    DeleteObject(labelFont);
    DeleteObject(rowFont);
}

void PaintSearch(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        const SearchLayout& l = g_skin.search;
        int W = g_searchWidth, H = g_searchHeight, m = g_skin.searchMetric1;
        BackBuffer b(dc, W, H);
        FillSolidRect(b.dc, 0, 0, W, H, RGB(0x2C, 0x5B, 0x81));
        DrawPageTitle(b.dc, W, L"搜索");
        HPEN framePen = CreatePen(PS_SOLID, 1, RGB(0x00, 0x44, 0x75));
        HGDIOBJ oldPen = SelectObject(b.dc, framePen);
        HGDIOBJ oldBrush = SelectObject(b.dc, GetStockObject(NULL_BRUSH));
        Rectangle(b.dc, l.editX - m, l.editY - m, l.editX + l.editWidth, l.editY + l.editHeight);
        SelectObject(b.dc, oldBrush);
        SelectObject(b.dc, oldPen);
        DeleteObject(framePen);
        if (l.historyShown) PaintHistory(b.dc);
    }
    EndPaint(hwnd, &ps);
}

void Search(HWND) {
    if (GetWindowTextLengthW(g_hSearchEdit) == 0) return;
    SwitchPage(g_hListWnd);
    if (MyChangeMenu(&g_menuBar, &g_hFrame, IDB_LIST, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
    if (SwitchChannel(124, 0, &g_skin) != 0) LOG(LOG_WARNING, L"SwitchChannel Failed");
}

void ClearHistory(HWND hwnd) {
    if (!g_skin.search.historyShown) return;
    SetWindowTextW(g_hSearchEdit, L"");
    for (int i = 0; i < g_skin.searchHistoryCount && g_skin.searchHistory; ++i) g_skin.searchHistory[i] = L"";
    RECT box = HistoryRect();
    InvalidateRect(hwnd, &box, FALSE);
    UpdateWindow(hwnd);
    if (ClearSearchWordReg(g_hKeySearchWord) != 0) LOG(LOG_WARNING, L"ClearSearchWordReg failed");
}

void HistoryTapped(HWND hwnd, int x, int y) {
    const Skin& s = g_skin;
    const SearchLayout& l = s.search;
    if (!l.historyShown || l.rowHeight <= 0 || !s.searchHistory) return;
    const LayoutRect& box = l.history;
    // The strip of the 清空 button below the rows is no row.
    int bottom = box.y + box.h - 2 * s.rowMetric3 - l.clear.h;
    if (x < box.x || x > box.x + box.w || y < box.y || y > bottom) return;
    int row = (y - box.y - s.searchMetric1) / l.rowHeight;
    if (row < 0 || row >= s.searchHistoryCount) return;
    SetWindowTextW(g_hSearchEdit, s.searchHistory[row].GetString());
    PostMessageW(hwnd, WM_COMMAND, IDC_SEARCH, 0);
}

LRESULT DrawButton(const DRAWITEMSTRUCT* di) {
    const HBITMAP* pictures = di->CtlID == IDC_SEARCH ? g_skin.searchBtn : g_skin.searchClearBtn;
    DrawPicture(di->hDC, pictures[(di->itemState & ODS_SELECTED) ? 0 : 1], 0, 0);
    return TRUE;
}

}  // namespace

LRESULT SearchEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SETFOCUS:
        PostMessageW(hwnd, EM_SETSEL, 0, -1);
        SipShowIM(SIPF_ON);
        FitAboveThePanel();
        break;
    case WM_KILLFOCUS:
        SipShowIM(SIPF_OFF);
        break;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            PostMessageW(g_hSearchWnd, WM_COMMAND, IDC_SEARCH, 0);
            SetFocus(g_hFrame);
            SipShowIM(SIPF_OFF);
            return 0;
        }
        break;
    default:
        break;
    }
    return CallWindowProcW(g_hOldSearchEditProc, hwnd, msg, wParam, lParam);
}

LRESULT SearchWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        if (CreateSearchControls(hwnd) != 0) return CreateControlsFailed();
        return 0;
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    case WM_SIZE:
        g_searchWidth = LOWORD(lParam);
        g_searchHeight = HIWORD(lParam);
        return 0;
    case WM_SETFOCUS:
        SetFocus(g_hSearchEdit);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SEARCH: Search(hwnd); return 0;
        case IDC_SEARCH_CLEAR: ClearHistory(hwnd); return 0;
        default: return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
    case WM_LBUTTONDOWN:
        HistoryTapped(hwnd, static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam)));
        return 0;
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (di && (di->CtlID == IDC_SEARCH || di->CtlID == IDC_SEARCH_CLEAR)) return DrawButton(di);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    case WM_PAINT:
        if (MoveSearchControls() != 0) {
            LOG(LOG_WARNING, L"MoveControls failed");
            SendMessageW(hwnd, WM_DESTROY, 0, 0);
            return 0;
        }
        PaintSearch(hwnd);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
