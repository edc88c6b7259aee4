// Pop-up menus (TrackPopupMenu and the soft-key bar's drop-down) and the soft-key bar.
#include <algorithm>

#include "draw.h"
#include "platform/aygshell.h"
#include "platform/lasterror.h"
#include "resources.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

struct PopupState : ControlState {
    std::shared_ptr<Menu> menu;
    std::vector<RECT> rows;
    int hot = -1;
    bool downSeen = false;
    bool done = false;
    UINT result = 0;
};

template <class T>
std::shared_ptr<T> StateAs(HWND h) {
    auto w = Find(h);
    return w ? std::dynamic_pointer_cast<T>(w->control) : nullptr;
}

POINT PointOf(LPARAM lp) { return POINT{static_cast<SHORT>(LOWORD(lp)), static_cast<SHORT>(HIWORD(lp))}; }

int RowAt(const std::shared_ptr<PopupState>& s, POINT p) {
    for (size_t i = 0; i < s->rows.size(); ++i)
        if (PtInRect(&s->rows[i], p)) return static_cast<int>(i);
    return -1;
}

bool Choosable(const std::shared_ptr<PopupState>& s, int i) {
    if (i < 0 || i >= static_cast<int>(s->menu->items.size())) return false;
    auto& it = s->menu->items[static_cast<size_t>(i)];
    return !it.separator && !it.grayed && !it.sub;
}

void Choose(HWND h, const std::shared_ptr<PopupState>& s, int i) {
    s->result = Choosable(s, i) ? s->menu->items[static_cast<size_t>(i)].id : 0;
    s->done = true;
    PostMessageW(h, WM_NULL, 0, 0);
}

// The access key of an item: the character after '&'.
wchar_t AccessKey(const std::wstring& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == L'&' && text[i + 1] != L'&') return static_cast<wchar_t>(std::towlower(text[i + 1]));
    return 0;
}

LRESULT PopupProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = StateAs<PopupState>(h);
    if (!s) return DefWindowProcW(h, msg, wParam, lParam);
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, RGB(255, 255, 255));
        Frame(dc, c, kEdge);
        int t = UiTextHeight();
        for (size_t i = 0; i < s->rows.size(); ++i) {
            auto& it = s->menu->items[i];
            RECT r = s->rows[i];
            if (it.separator) {
                int y = (r.top + r.bottom) / 2;
                FillSolid(dc, RECT{r.left + t / 2, y, r.right - t / 2, y + 1}, kEdge);
                continue;
            }
            bool hot = static_cast<int>(i) == s->hot;
            if (hot) FillSolid(dc, r, kAccent);
            RECT tr{r.left + t / 2, r.top, r.right - t / 2, r.bottom};
            Text(dc, it.text, tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE,
                 it.grayed ? kEdge : hot ? RGB(255, 255, 255) : kText, UiFont(t));
        }
        EndPaint(h, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN: {
        RECT c;
        GetClientRect(h, &c);
        POINT p = PointOf(lParam);
        if (!PtInRect(&c, p)) {
            Choose(h, s, -1);  // a tap elsewhere closes the menu
            return 0;
        }
        s->downSeen = true;
        s->hot = RowAt(s, p);
        InvalidateRect(h, nullptr, FALSE);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (s->downSeen) {
            int hot = RowAt(s, PointOf(lParam));
            if (hot != s->hot) {
                s->hot = hot;
                InvalidateRect(h, nullptr, FALSE);
            }
        }
        return 0;
    case WM_LBUTTONUP:
        // The lift of the press that opened the menu chooses nothing.
        if (!s->downSeen) return 0;
        s->downSeen = false;
        if (int i = RowAt(s, PointOf(lParam)); Choosable(s, i)) Choose(h, s, i);
        return 0;
    case WM_KEYDOWN: {
        int n = static_cast<int>(s->menu->items.size());
        if (wParam == VK_DOWN || wParam == VK_UP) {
            int step = wParam == VK_DOWN ? 1 : -1;
            int i = s->hot;
            for (int k = 0; k < n; ++k) {
                i = (i + step + n) % n;
                if (Choosable(s, i)) break;
            }
            s->hot = i;
            InvalidateRect(h, nullptr, FALSE);
        } else if (wParam == VK_RETURN) {
            if (Choosable(s, s->hot)) Choose(h, s, s->hot);
        } else if (wParam == VK_ESCAPE || wParam == VK_TSOFT1 || wParam == VK_TSOFT2) {
            Choose(h, s, -1);
        }
        return 0;
    }
    case WM_CHAR: {
        auto c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wParam)));
        for (size_t i = 0; i < s->menu->items.size(); ++i)
            if (AccessKey(s->menu->items[i].text) == c && Choosable(s, static_cast<int>(i))) {
                Choose(h, s, static_cast<int>(i));
                break;
            }
        return 0;
    }
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != h && !s->done) Choose(h, s, -1);
        return 0;
    case WM_CLOSE: Choose(h, s, -1); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

// ---- The soft-key bar ----

struct BarButton {
    UINT command = 0;
    std::wstring label;
    bool dropDown = false;
    int popupIndex = -1;
    RECT rc{};
};

struct BarState : ControlState {
    HWND owner = nullptr;  // receives the commands
    HMENU menu = nullptr;
    std::vector<BarButton> buttons;
    int pressed = -1;
};

void Layout(const std::shared_ptr<BarState>& s, int w, int h) {
    int n = static_cast<int>(s->buttons.size());
    for (int i = 0; i < n; ++i) s->buttons[static_cast<size_t>(i)].rc = RECT{w * i / n, 0, w * (i + 1) / n, h};
}

void Activate(HWND bar, const std::shared_ptr<BarState>& s, int i) {
    if (i < 0 || i >= static_cast<int>(s->buttons.size())) return;
    BarButton b = s->buttons[static_cast<size_t>(i)];
    HWND owner = s->owner;
    if (b.dropDown) {
        auto menu = MenuFromHandle(s->menu);
        std::shared_ptr<Menu> sub;
        if (menu && b.popupIndex >= 0 && b.popupIndex < static_cast<int>(menu->items.size()))
            sub = menu->items[static_cast<size_t>(b.popupIndex)].sub;
        if (sub) {
            RECT r;
            GetWindowRect(bar, &r);
            UINT id = RunPopupMenu(sub, r.right, r.top, bar, true);
            if (id) PostMessageW(owner, WM_COMMAND, MAKEWPARAM(id, 0), 0);
            return;
        }
    }
    PostMessageW(owner, WM_COMMAND, MAKEWPARAM(b.command, 0), 0);
}

LRESULT BarProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = StateAs<BarState>(h);
    if (!s) return DefWindowProcW(h, msg, wParam, lParam);
    switch (msg) {
    case WM_SIZE: Layout(s, LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, RGB(0x2B, 0x30, 0x3A));
        int t = UiTextHeight();
        for (size_t i = 0; i < s->buttons.size(); ++i) {
            auto& b = s->buttons[i];
            if (static_cast<int>(i) == s->pressed) FillSolid(dc, b.rc, kAccentDark);
            Text(dc, b.label, b.rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, RGB(255, 255, 255),
                 UiFont(t, true));
            if (b.dropDown && !b.label.empty()) {
                // A small upward triangle after the label: this key opens a menu.
                int tw = TextSize(UiFont(t, true), b.label).cx;
                int x = (b.rc.left + b.rc.right + tw) / 2 + t / 3, cy = (b.rc.top + b.rc.bottom) / 2;
                int half = std::max(3, t / 4);
                for (int row = 0; row < half; ++row)
                    FillSolid(dc, RECT{x + half - row - 1, cy - half / 2 + row, x + half + row + 1, cy - half / 2 + row + 1},
                              RGB(255, 255, 255));
            }
        }
        if (s->buttons.size() == 2) {
            int x = s->buttons[0].rc.right;
            FillSolid(dc, RECT{x, c.top + c.bottom / 4, x + 1, c.bottom - c.bottom / 4}, RGB(0x60, 0x68, 0x78));
        }
        EndPaint(h, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN:
        for (size_t i = 0; i < s->buttons.size(); ++i)
            if (PtInRect(&s->buttons[i].rc, PointOf(lParam))) s->pressed = static_cast<int>(i);
        SetCapture(h);
        InvalidateRect(h, nullptr, FALSE);
        return 0;
    case WM_LBUTTONUP: {
        int was = s->pressed;
        s->pressed = -1;
        if (GetCapture() == h) ReleaseCapture();
        InvalidateRect(h, nullptr, FALSE);
        if (was >= 0 && PtInRect(&s->buttons[static_cast<size_t>(was)].rc, PointOf(lParam))) Activate(h, s, was);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_TSOFT1) Activate(h, s, 0);
        else if (wParam == VK_TSOFT2) Activate(h, s, static_cast<int>(s->buttons.size()) - 1);
        else if (s->owner) PostMessageW(s->owner, msg, wParam, lParam);  // other keys belong to the program
        return 0;
    case WM_DESTROY:
        if (s->menu) DestroyMenu(s->menu);
        s->menu = nullptr;
        return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

}  // namespace

void RegisterMenuClasses() {
    struct Def {
        const wchar_t* name;
        WNDPROC proc;
    };
    for (const Def& d : {Def{L"#PopupMenu", PopupProc}, Def{L"#MenuBar", BarProc}}) {
        const wchar_t* name = d.name;
        WNDPROC proc = d.proc;
        auto c = std::make_shared<WndClass>();
        c->name = name;
        c->wc.lpfnWndProc = proc;
        c->wc.lpszClassName = c->name.c_str();
        c->system = true;
        std::lock_guard lk(M().mu);
        M().classes[Lower(c->name)] = c;
    }
}

UINT RunPopupMenu(const std::shared_ptr<Menu>& menu, int x, int y, HWND owner, bool alignBottom) {
    if (!menu || menu->items.empty()) return 0;
    auto s = std::make_shared<PopupState>();
    s->menu = menu;
    int t = UiTextHeight();
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    int width = sw / 2, height = 0;
    for (auto& it : menu->items) {
        if (!it.separator) width = std::max<int>(width, TextSize(UiFont(t), it.text).cx + 2 * t);
        int rh = it.separator ? t / 2 : t * 2;
        s->rows.push_back(RECT{1, 1 + height, 0, 1 + height + rh});
        height += rh;
    }
    width = std::min(width, sw);
    height = std::min(height + 2, sh);
    for (auto& r : s->rows) r.right = width - 1;
    if (alignBottom) {
        x -= width;
        y -= height;
    }
    x = std::clamp(x, 0, std::max(0, sw - width));
    y = std::clamp(y, 0, std::max(0, sh - height));
    HWND top = owner ? TopLevelOf(owner) : nullptr;
    HWND h = CreateWindowExW(WS_EX_TOPMOST, L"#PopupMenu", L"", WS_POPUP, x, y, width, height, top, nullptr, nullptr,
                             nullptr);
    if (!h) return 0;
    Find(h)->control = s;
    HWND oldFocus = GetFocus();
    ShowWindow(h, SW_SHOW);
    SetFocus(h);
    SetCapture(h);
    while (!s->done && IsWindow(h)) {
        if (!ModalPump()) break;
    }
    if (GetCapture() == h) ReleaseCapture();
    if (IsWindow(h)) DestroyWindow(h);
    if (oldFocus && IsWindow(oldFocus)) SetFocus(oldFocus);
    return s->result;
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, void*) {
    auto m = MenuFromHandle(menu);
    if (!m) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    UINT id = RunPopupMenu(m, x, y, owner, (flags & TPM_BOTTOMALIGN) != 0);
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(id);
    if (id && owner) PostMessageW(owner, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    return TrackPopupMenuEx(menu, flags, x, y, owner, nullptr);
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
    if (!info || !info->hwndParent || !IsWindow(info->hwndParent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hwndMB = nullptr;
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(info->nToolBarId), RT_RCDATA);
    if (!res) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return FALSE;
    }
    auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
    size_t size = SizeofResource(nullptr, res);
    auto word = [&](size_t i) -> int { return 2 * i + 1 < size ? bytes[2 * i] | (bytes[2 * i + 1] << 8) : -1; };
    int menuId = word(0), count = word(1);
    if (menuId < 0 || count < 0 || size < static_cast<size_t>(4 + count * 14)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    auto s = std::make_shared<BarState>();
    s->owner = info->hwndParent;
    if (menuId) s->menu = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(menuId));
    for (int b = 0; b < count; ++b) {
        size_t at = 2 + static_cast<size_t>(b) * 7;
        BarButton bb;
        bb.command = static_cast<UINT>(word(at + 1));
        int style = word(at + 3);
        int stringId = word(at + 4);
        int popup = word(at + 6);
        bb.dropDown = (style & TBSTYLE_DROPDOWN) != 0;
        bb.popupIndex = popup == 0xFFFF ? -1 : popup;
        wchar_t text[100];
        if (LoadStringW(info->hInstRes, static_cast<UINT>(stringId), text, 100) > 0) bb.label = text;
        s->buttons.push_back(bb);
    }
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    int bar = platform::ui::SoftKeyBarHeight();
    HWND owner = TopLevelOf(info->hwndParent);
    // The bar never becomes the active window: keys stay with the program's windows.
    HWND h = CreateWindowExW(WS_EX_NOACTIVATE, L"#MenuBar", L"", WS_POPUP, 0, sh - bar, sw, bar, owner, nullptr,
                             info->hInstRes, nullptr);
    if (!h) {
        if (s->menu) DestroyMenu(s->menu);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Find(h)->control = s;
    Layout(s, sw, bar);
    if (!(info->dwFlags & SHCMBF_HIDDEN)) ShowWindow(h, SW_SHOWNA);
    info->hwndMB = h;
    return TRUE;
}
