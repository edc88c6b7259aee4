// Dialogs from templates (modal and modeless), the dialog class, and the property sheet.
#include <algorithm>
#include <cstring>

#include "draw.h"
#include "platform/codepage.h"
#include "platform/commctrl.h"
#include "platform/lasterror.h"
#include "resources.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

// Dialog base units of a font: the average width of the Latin letters (rounded) and the
// height of its cell. Four horizontal and eight vertical dialog units make one of each.
struct BaseUnits {
    int x = 1, y = 1;
    int DluX(int v) const { return v * x / 4; }
    int DluY(int v) const { return v * y / 8; }
};

struct DialogState : ControlState {
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    HWND sheet = nullptr;  // a property page's sheet
    BaseUnits units;       // of the dialog's font
};

thread_local DLGPROC t_pendingProc = nullptr;
thread_local BaseUnits t_pendingUnits;

std::shared_ptr<DialogState> DlgOf(HWND h) {
    auto w = Find(h);
    return w ? std::dynamic_pointer_cast<DialogState>(w->control) : nullptr;
}

// Reads the template's words after the fixed part. Texts are UTF-16.
struct Reader {
    const BYTE* p;
    WORD Word() {
        WORD w = static_cast<WORD>(p[0] | (p[1] << 8));
        p += 2;
        return w;
    }
    DWORD Dword() {
        DWORD lo = Word();
        return lo | (static_cast<DWORD>(Word()) << 16);
    }
    // A name: 0 = none, 0xFFFF + ordinal, or a text.
    std::wstring Name(WORD* ordinal) {
        *ordinal = 0;
        WORD first = Word();
        if (first == 0) return L"";
        if (first == 0xFFFF) {
            *ordinal = Word();
            return L"";
        }
        std::u16string s(1, static_cast<char16_t>(first));
        for (WORD c; (c = Word()) != 0;) s.push_back(static_cast<char16_t>(c));
        return platform::Utf16ToWide(s);
    }
    void AlignDword(const BYTE* base) {
        while ((p - base) % 4) ++p;
    }
};

struct ParsedItem {
    DWORD style, exStyle;
    short x, y, cx, cy;
    WORD id;
    std::wstring cls, title;
};

struct Parsed {
    DWORD style, exStyle;
    short x, y, cx, cy;
    std::wstring title;
    WORD fontSize = 0;
    std::vector<ParsedItem> items;
};

Parsed Parse(const DLGTEMPLATE* t) {
    Parsed d{};
    DLGTEMPLATE h;
    std::memcpy(&h, t, sizeof h);
    d.style = h.style;
    d.exStyle = h.dwExtendedStyle;
    d.x = h.x;
    d.y = h.y;
    d.cx = h.cx;
    d.cy = h.cy;
    auto* base = reinterpret_cast<const BYTE*>(t);
    Reader r{base + sizeof h};
    WORD ord;
    r.Name(&ord);  // menu
    r.Name(&ord);  // class
    d.title = r.Name(&ord);
    if (d.style & DS_SETFONT) {
        d.fontSize = r.Word();
        r.Name(&ord);
    }
    for (WORD i = 0; i < h.cdit; ++i) {
        r.AlignDword(base);
        ParsedItem it{};
        it.style = r.Dword();
        it.exStyle = r.Dword();
        it.x = static_cast<short>(r.Word());
        it.y = static_cast<short>(r.Word());
        it.cx = static_cast<short>(r.Word());
        it.cy = static_cast<short>(r.Word());
        it.id = r.Word();
        it.cls = r.Name(&ord);
        if (ord) {
            static const wchar_t* atoms[] = {L"button", L"edit", L"static", L"listbox", L"scrollbar", L"combobox"};
            it.cls = ord >= 0x80 && ord <= 0x85 ? atoms[ord - 0x80] : L"static";
        }
        it.title = r.Name(&ord);
        WORD extra = r.Word();
        r.p += extra;
        d.items.push_back(it);
    }
    return d;
}

BaseUnits UnitsOf(HFONT font) {
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{0, 0};
    TEXTMETRICW tm{};
    GetTextExtentPoint32W(dc, kLetters, 52, &size);
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    DeleteDC(dc);
    BaseUnits u;
    u.x = std::max(1, static_cast<int>((size.cx / 26 + 1) / 2));
    u.y = std::max(1, static_cast<int>(tm.tmHeight));
    return u;
}

// Controls without a font of their own draw with the system's dialog font.
BaseUnits SystemUnits() { return UnitsOf(UiFont(UiTextHeight())); }

HWND CreateFromTemplate(HINSTANCE inst, const DLGTEMPLATE* t, HWND owner, DLGPROC proc, LPARAM param, bool forceChild,
                        const RECT* place) {
    if (!t) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Parsed d = Parse(t);
    // The template is laid out in units of its own font, or of the system's.
    HFONT font = d.fontSize ? UiFont(std::max(10, UiTextHeight() * d.fontSize / 9)) : nullptr;
    BaseUnits units = font ? UnitsOf(font) : SystemUnits();
    int w = units.DluX(d.cx), h = units.DluY(d.cy);
    int x = units.DluX(d.x), y = units.DluY(d.y);
    DWORD style = d.style;
    if (forceChild) style = (style & ~WS_POPUP) | WS_CHILD;
    if (place) {
        x = place->left;
        y = place->top;
        w = place->right - place->left;
        h = place->bottom - place->top;
    } else if ((style & DS_CENTER) || !owner) {
        int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
        w = std::min(w, sw);
        h = std::min(h, sh);
        x = (sw - w) / 2;
        y = (sh - h) / 2;
    } else if (!(style & WS_CHILD)) {
        POINT p{x, y};
        ClientToScreen(owner, &p);
        x = p.x;
        y = p.y;
    }
    t_pendingProc = proc;
    t_pendingUnits = units;
    HWND dlg = CreateWindowExW(d.exStyle, L"#32770", d.title.c_str(), style & ~WS_VISIBLE, x, y, w, h, owner, nullptr,
                               inst, nullptr);
    t_pendingProc = nullptr;
    if (!dlg) return nullptr;
    HWND first = nullptr;
    for (auto& it : d.items) {
        HWND c = CreateWindowExW(it.exStyle, it.cls.c_str(), it.title.c_str(), it.style | WS_CHILD, units.DluX(it.x),
                                 units.DluY(it.y), units.DluX(it.cx), units.DluY(it.cy), dlg,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(it.id)), inst, nullptr);
        if (c && font) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        if (c && !first) first = c;
    }
    if (font) SendMessageW(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    if (SendMessageW(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && !forceChild) SetFocus(first ? first : dlg);
    if (!IsWindow(dlg)) return nullptr;
    if (style & WS_VISIBLE) ShowWindow(dlg, SW_SHOW);
    return dlg;
}

// The owner is disabled before the dialog exists and enabled again before it goes.
bool DisableOwner(HWND owner) {
    HWND top = owner ? TopLevelOf(owner) : nullptr;
    if (!top || !IsWindowEnabled(top)) return false;
    EnableWindow(top, FALSE);
    return true;
}

INT_PTR RunModal(HWND dlg, HWND owner, bool disabled) {
    auto s = DlgOf(dlg);
    HWND top = owner ? TopLevelOf(owner) : nullptr;
    if (!IsWindowVisible(dlg) && !s->ended) ShowWindow(dlg, SW_SHOW);
    while (s && !s->ended && IsWindow(dlg)) {
        if (!ModalPump()) break;
    }
    if (disabled) EnableWindow(top, TRUE);
    INT_PTR r = s ? s->result : -1;
    if (IsWindow(dlg)) DestroyWindow(dlg);
    if (top && IsWindow(top)) SetActiveWindow(top);
    return r;
}

}  // namespace

LRESULT DialogClassProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = DlgOf(h);
    if (!s && msg == WM_NCCREATE) {
        if (auto w = Find(h)) {
            auto st = std::make_shared<DialogState>();
            st->proc = t_pendingProc;
            st->units = t_pendingUnits;
            w->control = st;
            w->extra[DWLP_DLGPROC / sizeof(LRESULT)] = reinterpret_cast<LONG_PTR>(st->proc);
            s = st;
        }
    }
    auto proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrW(h, DWLP_DLGPROC));
    if (proc) {
        INT_PTR r = proc(h, msg, wParam, lParam);
        if (r) {
            switch (msg) {
            case WM_INITDIALOG:
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORBTN:
            case WM_CTLCOLORDLG:
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORMSGBOX: return r;
            default: return IsWindow(h) ? GetWindowLongPtrW(h, DWLP_MSGRESULT) : 0;
            }
        }
    }
    if (msg == WM_NCCREATE) return TRUE;
    return DefDlgProcW(h, msg, wParam, lParam);
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

LRESULT DefDlgProcW(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE:
        // A dialog is closed by its procedure (EndDialog); the default asks it to cancel.
        PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_INITDIALOG: return 0;
    default: return DefWindowProcW(dlg, msg, wParam, lParam);
    }
}

HWND CreateDialogIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW t, HWND owner, DLGPROC proc, LPARAM param) {
    return CreateFromTemplate(inst, t, owner, proc, param, false, nullptr);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW t, HWND owner, DLGPROC proc, LPARAM param) {
    if (!t) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    bool disabled = DisableOwner(owner);
    HWND dlg = CreateFromTemplate(inst, t, owner, proc, param, false, nullptr);
    if (!dlg) {
        if (disabled) EnableWindow(TopLevelOf(owner), TRUE);
        if (!GetLastError()) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return RunModal(dlg, owner, disabled);
}

BOOL EndDialog(HWND dlg, INT_PTR result) {
    auto s = DlgOf(dlg);
    if (!s) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (s->sheet) return EndDialog(s->sheet, result);  // a page ends its sheet
    s->ended = true;
    s->result = result;
    PostMessageW(dlg, WM_NULL, 0, 0);
    return TRUE;
}

LONG GetDialogBaseUnits() {
    BaseUnits u = SystemUnits();
    return MAKELONG(u.x, u.y);
}

BOOL MapDialogRect(HWND dlg, LPRECT r) {
    if (!r) return FALSE;
    auto s = DlgOf(dlg);
    if (!s) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const BaseUnits& u = s->units;
    *r = RECT{u.DluX(r->left), u.DluY(r->top), u.DluX(r->right), u.DluY(r->bottom)};
    return TRUE;
}

BOOL IsDialogMessageW(HWND dlg, LPMSG msg) {
    (void)dlg;
    (void)msg;
    return FALSE;  // keyboard navigation between controls is not needed
}

// ---- Property sheet ----

namespace platform::ui::detail {

namespace {

struct Page {
    PROPSHEETPAGEW psp;
    const DLGTEMPLATE* tmpl = nullptr;
    std::wstring title;
    HWND hwnd = nullptr;
    RECT tab{};
};

struct SheetState : DialogState {
    std::vector<Page> pages;
    int current = -1;
    std::wstring title;
    RECT titleRc{}, okRc{}, pageRc{};
    HWND tabs = nullptr;
    HINSTANCE inst = nullptr;
    bool okDown = false;
};

std::shared_ptr<SheetState> SheetOf(HWND h) {
    auto w = Find(h);
    return w ? std::dynamic_pointer_cast<SheetState>(w->control) : nullptr;
}

void Notify(HWND sheet, HWND page, UINT code) {
    if (!page) return;
    NMHDR n{sheet, 0, code};
    SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
}

void LayoutSheet(HWND sheet, const std::shared_ptr<SheetState>& s) {
    RECT c;
    GetClientRect(sheet, &c);
    int t = UiTextHeight();
    s->titleRc = RECT{0, 0, c.right, t * 2};
    s->okRc = RECT{c.right - t * 4, 0, c.right, t * 2};
    bool bottom = s->tabs && (GetWindowLongW(s->tabs, GWL_STYLE) & TCS_BOTTOM);
    int th = t * 2;
    RECT tabRc = bottom ? RECT{0, c.bottom - th, c.right, c.bottom} : RECT{0, s->titleRc.bottom, c.right, s->titleRc.bottom + th};
    s->pageRc = bottom ? RECT{0, s->titleRc.bottom, c.right, c.bottom - th} : RECT{0, tabRc.bottom, c.right, c.bottom};
    if (s->tabs) MoveWindow(s->tabs, tabRc.left, tabRc.top, tabRc.right - tabRc.left, tabRc.bottom - tabRc.top, TRUE);
    int n = static_cast<int>(s->pages.size());
    for (int i = 0; i < n; ++i) {
        auto& p = s->pages[static_cast<size_t>(i)];
        p.tab = RECT{c.right * i / n, 0, c.right * (i + 1) / n, th};
        if (p.hwnd)
            MoveWindow(p.hwnd, s->pageRc.left, s->pageRc.top, s->pageRc.right - s->pageRc.left,
                       s->pageRc.bottom - s->pageRc.top, TRUE);
    }
    InvalidateRect(sheet, nullptr, TRUE);
}

void ShowPage(HWND sheet, const std::shared_ptr<SheetState>& s, int i) {
    if (i < 0 || i >= static_cast<int>(s->pages.size()) || i == s->current) return;
    if (s->current >= 0) {
        auto& old = s->pages[static_cast<size_t>(s->current)];
        Notify(sheet, old.hwnd, PSN_KILLACTIVE);
        if (old.hwnd) ShowWindow(old.hwnd, SW_HIDE);
    }
    auto& p = s->pages[static_cast<size_t>(i)];
    if (!p.hwnd) {
        p.hwnd = CreateFromTemplate(p.psp.hInstance ? p.psp.hInstance : s->inst, p.tmpl, sheet, p.psp.pfnDlgProc,
                                    reinterpret_cast<LPARAM>(&p.psp), true, &s->pageRc);
        if (auto ps = DlgOf(p.hwnd)) ps->sheet = sheet;
    }
    s->current = i;
    if (p.hwnd) {
        ShowWindow(p.hwnd, SW_SHOW);
        Notify(sheet, p.hwnd, PSN_SETACTIVE);
    }
    if (s->tabs) InvalidateRect(s->tabs, nullptr, FALSE);
}

void CloseSheet(HWND sheet, const std::shared_ptr<SheetState>& s, bool ok) {
    for (auto& p : s->pages) Notify(sheet, p.hwnd, ok ? PSN_APPLY : PSN_RESET);
    s->ended = true;
    s->result = ok ? 1 : 0;
    PostMessageW(sheet, WM_NULL, 0, 0);
}

LRESULT TabsProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND sheet = GetParent(h);
    auto s = SheetOf(sheet);
    if (!s) return DefWindowProcW(h, msg, wParam, lParam);
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, kFaint);
        int t = UiTextHeight();
        for (size_t i = 0; i < s->pages.size(); ++i) {
            auto& p = s->pages[i];
            bool cur = static_cast<int>(i) == s->current;
            if (cur) FillSolid(dc, p.tab, RGB(255, 255, 255));
            Frame(dc, p.tab, kEdge);
            Text(dc, p.title, p.tab, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, cur ? kAccent : kText,
                 UiFont(t, cur));
        }
        EndPaint(h, &ps);
        return 0;
    }
    case WM_LBUTTONUP: {
        POINT p{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
        for (size_t i = 0; i < s->pages.size(); ++i)
            if (PtInRect(&s->pages[i].tab, p)) ShowPage(sheet, s, static_cast<int>(i));
        return 0;
    }
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

LRESULT SheetProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = SheetOf(h);
    if (!s) return DefWindowProcW(h, msg, wParam, lParam);
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, RGB(255, 255, 255));
        FillSolid(dc, s->titleRc, kAccent);
        int t = UiTextHeight();
        RECT tr = s->titleRc;
        tr.left += t / 2;
        Text(dc, s->title, tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, RGB(255, 255, 255), UiFont(t, true));
        if (s->okDown) FillSolid(dc, s->okRc, kAccentDark);
        Text(dc, L"确定", s->okRc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, RGB(255, 255, 255),
             UiFont(t, true));
        EndPaint(h, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN:
        s->okDown = PtInRect(&s->okRc, POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))});
        InvalidateRect(h, &s->okRc, FALSE);
        return 0;
    case WM_LBUTTONUP: {
        bool hit = s->okDown && PtInRect(&s->okRc, POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))});
        s->okDown = false;
        InvalidateRect(h, &s->okRc, FALSE);
        if (hit) CloseSheet(h, s, true);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) CloseSheet(h, s, false);
        else if (wParam == VK_RETURN) CloseSheet(h, s, true);
        return 0;
    case WM_CLOSE: CloseSheet(h, s, false); return 0;
    case WM_SIZE: LayoutSheet(h, s); return 0;
    case WM_SETTINGCHANGE: return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

}  // namespace

}  // namespace platform::ui::detail

INT_PTR PropertySheetW(LPCPROPSHEETHEADERW header) {
    if (!header || !header->ppsp || header->nPages == 0 || header->nPages > 64) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = SheetProc;
        wc.lpszClassName = L"#PropSheet";
        RegisterClassW(&wc);
        wc.lpfnWndProc = TabsProc;
        wc.lpszClassName = L"#PropSheetTabs";
        RegisterClassW(&wc);
    });
    auto s = std::make_shared<SheetState>();
    s->inst = header->hInstance;
    s->title = header->pszCaption ? header->pszCaption : L"";
    for (UINT i = 0; i < header->nPages; ++i) {
        Page p;
        p.psp = header->ppsp[i];
        if (p.psp.dwFlags & PSP_DLGINDIRECT) {
            p.tmpl = reinterpret_cast<const DLGTEMPLATE*>(p.psp.pszTemplate);
        } else {
            HRSRC r = FindResourceW(p.psp.hInstance, p.psp.pszTemplate, RT_DIALOG);
            p.tmpl = r ? static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(p.psp.hInstance, r))) : nullptr;
        }
        if (!p.tmpl) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return -1;
        }
        p.title = (p.psp.dwFlags & PSP_USETITLE) && p.psp.pszTitle ? p.psp.pszTitle : Parse(p.tmpl).title;
        s->pages.push_back(p);
    }
    bool callback = (header->dwFlags & PSH_USECALLBACK) && header->pfnCallback;
    if (callback) {
        header->pfnCallback(nullptr, PSCB_GETVERSION, 0);
        wchar_t title[256] = {0};
        if (header->pfnCallback(nullptr, PSCB_GETTITLE, reinterpret_cast<LPARAM>(title)) && title[0]) s->title = title;
    }
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    int bar = platform::ui::StatusBarHeight();
    int bottom = sh - platform::ui::SoftKeyBarHeight();
    HWND owner = header->hwndParent ? TopLevelOf(header->hwndParent) : nullptr;
    HWND sheet = CreateWindowExW(0, L"#PropSheet", s->title.c_str(), WS_POPUP, 0, bar, sw, bottom - bar, owner, nullptr,
                                 header->hInstance, nullptr);
    if (!sheet) return -1;
    Find(sheet)->control = s;
    s->tabs = CreateWindowExW(0, L"#PropSheetTabs", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, sheet,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_PROPSHEET_TABCONTROL)),
                              header->hInstance, nullptr);
    LayoutSheet(sheet, s);
    ShowPage(sheet, s, static_cast<int>(std::min<UINT>(header->nStartPage, header->nPages - 1)));
    if (callback) header->pfnCallback(sheet, PSCB_INITIALIZED, 0);
    LayoutSheet(sheet, s);  // the callback may have moved the tabs to the bottom
    ShowWindow(sheet, SW_SHOW);
    SetFocus(sheet);
    return RunModal(sheet, header->hwndParent, DisableOwner(header->hwndParent));
}
