// The built-in classes: "button" (owner-drawn, push, auto radio, group box), "static",
// "msctls_progress32", and their registration with the edit and dialog classes.
#include <algorithm>

#include "draw.h"
#include "platform/commctrl.h"
#include "wm.h"

namespace platform::ui::detail {

void RegisterMenuClasses();

namespace {

struct ButtonState : ControlState {
    bool pressed = false;  // pen down on it and still inside
    bool tracking = false;
    int check = BST_UNCHECKED;
};

struct ProgressState : ControlState {
    int lo = 0, hi = 100, pos = 0, step = 10;
};

template <class T>
std::shared_ptr<T> StateOf(HWND h) {
    auto w = Find(h);
    if (!w) return nullptr;
    auto s = std::dynamic_pointer_cast<T>(w->control);
    if (!s) {
        s = std::make_shared<T>();
        w->control = s;
    }
    return s;
}

DWORD StyleOf(HWND h) { return static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)); }

HFONT FontOf(HWND h) {
    auto f = reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0));
    return f ? f : UiFont(UiTextHeight());
}

std::wstring TextOf(HWND h) {
    int n = GetWindowTextLengthW(h);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(h, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

POINT PointOf(LPARAM lp) { return POINT{static_cast<SHORT>(LOWORD(lp)), static_cast<SHORT>(HIWORD(lp))}; }

void SendDrawItem(HWND h, HDC dc, UINT action, bool pressed) {
    HWND parent = GetParent(h);
    if (!parent) return;
    DRAWITEMSTRUCT di{};
    di.CtlType = ODT_BUTTON;
    di.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
    di.itemAction = action;
    di.itemState = pressed ? ODS_SELECTED : 0;
    if (!IsWindowEnabled(h)) di.itemState |= ODS_DISABLED;
    if (GetFocus() == h) di.itemState |= ODS_FOCUS;
    di.hwndItem = h;
    di.hDC = dc;
    GetClientRect(h, &di.rcItem);
    SendMessageW(parent, WM_DRAWITEM, di.CtlID, reinterpret_cast<LPARAM>(&di));
}

void RedrawOwnerDrawn(HWND h, bool pressed) {
    HDC dc = GetDC(h);
    SendDrawItem(h, dc, ODA_SELECT, pressed);
    ReleaseDC(h, dc);
}

void PaintButton(HWND h, HDC dc, const std::shared_ptr<ButtonState>& s) {
    RECT c;
    GetClientRect(h, &c);
    std::wstring text = TextOf(h);
    HFONT font = FontOf(h);
    int t = UiTextHeight();
    switch (StyleOf(h) & BS_TYPEMASK) {
    case BS_GROUPBOX: {
        SIZE sz = TextSize(font, text);
        int mid = sz.cy / 2;
        RECT frame{c.left, c.top + mid, c.right, c.bottom};
        Frame(dc, frame, kEdge);
        if (!text.empty()) {
            RECT cap{c.left + t / 2, c.top, c.left + t / 2 + sz.cx + t / 2, c.top + sz.cy};
            FillSolid(dc, cap, RGB(255, 255, 255));
            Text(dc, text, cap, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX, kText, font);
        }
        break;
    }
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: {
        FillSolid(dc, c, RGB(255, 255, 255));
        int d = std::min<int>(c.bottom - c.top, t) - 2;
        int y = (c.bottom - c.top - d) / 2;
        RECT mark{c.left + 1, y, c.left + 1 + d, y + d};
        bool radio = (StyleOf(h) & BS_TYPEMASK) == BS_RADIOBUTTON || (StyleOf(h) & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
        HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
        HPEN edge = CreatePen(PS_SOLID, 1, s->pressed ? kAccent : kEdge);
        HGDIOBJ ob = SelectObject(dc, white), op = SelectObject(dc, edge);
        if (radio) Ellipse(dc, mark.left, mark.top, mark.right, mark.bottom);
        else Rectangle(dc, mark.left, mark.top, mark.right, mark.bottom);
        SelectObject(dc, ob);
        SelectObject(dc, op);
        DeleteObject(white);
        DeleteObject(edge);
        if (s->check == BST_CHECKED) {
            RECT dot = mark;
            InflateRect(&dot, -d / 4, -d / 4);
            HBRUSH fill = CreateSolidBrush(kAccent);
            HPEN pen = CreatePen(PS_SOLID, 1, kAccent);
            ob = SelectObject(dc, fill);
            op = SelectObject(dc, pen);
            if (radio) Ellipse(dc, dot.left, dot.top, dot.right, dot.bottom);
            else Rectangle(dc, dot.left, dot.top, dot.right, dot.bottom);
            SelectObject(dc, ob);
            SelectObject(dc, op);
            DeleteObject(fill);
            DeleteObject(pen);
        }
        RECT label{mark.right + t / 3, c.top, c.right, c.bottom};
        Text(dc, text, label, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS, kText, font);
        break;
    }
    default: {
        FillSolid(dc, c, RGB(255, 255, 255));
        RoundBox(dc, c, s->pressed ? kAccentDark : kFaint, kEdge, t / 2);
        Text(dc, text, c, DT_CENTER | DT_VCENTER | DT_SINGLELINE, s->pressed ? RGB(255, 255, 255) : kText, font);
        break;
    }
    }
}

bool IsRadio(HWND h) {
    DWORD t = StyleOf(h) & BS_TYPEMASK;
    return t == BS_AUTORADIOBUTTON || t == BS_RADIOBUTTON;
}

// Radio buttons of one group: siblings between WS_GROUP boundaries around `h`.
void UncheckGroup(HWND h) {
    HWND parent = GetParent(h);
    std::vector<HWND> sibs;
    {
        std::lock_guard lk(M().mu);
        if (auto pw = FindLocked(parent)) sibs = pw->children;
    }
    auto at = std::find(sibs.begin(), sibs.end(), h);
    if (at == sibs.end()) return;
    size_t i = static_cast<size_t>(at - sibs.begin());
    size_t first = i;
    while (first > 0 && !(StyleOf(sibs[first]) & WS_GROUP)) --first;
    for (size_t k = first; k < sibs.size(); ++k) {
        if (k > first && (StyleOf(sibs[k]) & WS_GROUP)) break;
        if (sibs[k] != h && (StyleOf(sibs[k]) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
            SendMessageW(sibs[k], BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

void Click(HWND h, const std::shared_ptr<ButtonState>& s) {
    DWORD type = StyleOf(h) & BS_TYPEMASK;
    if (type == BS_AUTORADIOBUTTON) {
        UncheckGroup(h);
        s->check = BST_CHECKED;
        InvalidateRect(h, nullptr, FALSE);
    } else if (type == BS_AUTOCHECKBOX) {
        s->check = s->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        InvalidateRect(h, nullptr, FALSE);
    }
    HWND parent = GetParent(h);
    if (parent) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), BN_CLICKED), reinterpret_cast<LPARAM>(h));
}

}  // namespace

LRESULT ButtonProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = StateOf<ButtonState>(h);
    if (!s) return 0;
    bool owner = (StyleOf(h) & BS_TYPEMASK) == BS_OWNERDRAW;
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        if (owner) SendDrawItem(h, dc, ODA_DRAWENTIRE, s->pressed);
        else PaintButton(h, dc, s);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONDOWN:
        if ((StyleOf(h) & BS_TYPEMASK) == BS_GROUPBOX) return 0;
        s->pressed = s->tracking = true;
        SetCapture(h);
        if (owner) RedrawOwnerDrawn(h, true); else InvalidateRect(h, nullptr, FALSE);
        return 0;
    case WM_MOUSEMOVE: {
        if (!s->tracking) return 0;
        RECT c;
        GetClientRect(h, &c);
        bool inside = PtInRect(&c, PointOf(lParam));
        if (inside != s->pressed) {
            s->pressed = inside;
            if (owner) RedrawOwnerDrawn(h, inside); else InvalidateRect(h, nullptr, FALSE);
        }
        return 0;
    }
    case WM_LBUTTONUP: {
        if (!s->tracking) return 0;
        RECT c;
        GetClientRect(h, &c);
        bool inside = PtInRect(&c, PointOf(lParam));
        s->tracking = false;
        s->pressed = false;
        if (GetCapture() == h) ReleaseCapture();
        if (owner) RedrawOwnerDrawn(h, false); else InvalidateRect(h, nullptr, FALSE);
        if (inside) Click(h, s);
        return 0;
    }
    case WM_CAPTURECHANGED:
        if (s->tracking && reinterpret_cast<HWND>(lParam) != h) {
            s->tracking = false;
            if (s->pressed) {
                s->pressed = false;
                if (owner) RedrawOwnerDrawn(h, false); else InvalidateRect(h, nullptr, FALSE);
            }
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN && (StyleOf(h) & BS_TYPEMASK) != BS_GROUPBOX) Click(h, s);
        return 0;
    case BM_CLICK: Click(h, s); return 0;
    case BM_GETCHECK: return s->check;
    case BM_SETCHECK:
        s->check = static_cast<int>(wParam);
        if (s->check == BST_CHECKED && IsRadio(h) && (StyleOf(h) & BS_TYPEMASK) == BS_AUTORADIOBUTTON) UncheckGroup(h);
        InvalidateRect(h, nullptr, FALSE);
        return 0;
    case BM_GETSTATE: return s->check | (s->pressed ? BST_PUSHED : 0);
    case BM_SETSTATE:
        s->pressed = wParam != 0;
        if (owner) RedrawOwnerDrawn(h, s->pressed); else InvalidateRect(h, nullptr, FALSE);
        return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

LRESULT StaticProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        Text(dc, TextOf(h), c, DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL, kText, FontOf(h));
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

LRESULT ProgressProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = StateOf<ProgressState>(h);
    if (!s) return 0;
    auto clamp = [&] { s->pos = std::clamp(s->pos, std::min(s->lo, s->hi), std::max(s->lo, s->hi)); };
    auto redraw = [&] { InvalidateRect(h, nullptr, FALSE); };
    switch (msg) {
    case PBM_SETRANGE: {
        LRESULT old = MAKELONG(s->lo, s->hi);
        s->lo = LOWORD(lParam);
        s->hi = HIWORD(lParam);
        clamp();
        redraw();
        return old;
    }
    case PBM_SETRANGE32: {
        LRESULT old = MAKELONG(s->lo, s->hi);
        s->lo = static_cast<int>(wParam);
        s->hi = static_cast<int>(lParam);
        clamp();
        redraw();
        return old;
    }
    case PBM_GETRANGE: {
        if (auto* r = reinterpret_cast<PBRANGE*>(lParam)) *r = PBRANGE{s->lo, s->hi};
        return wParam ? s->lo : s->hi;
    }
    case PBM_SETPOS: {
        int old = s->pos;
        s->pos = static_cast<int>(static_cast<INT_PTR>(wParam));
        clamp();
        redraw();
        return old;
    }
    case PBM_DELTAPOS: {
        int old = s->pos;
        s->pos += static_cast<int>(static_cast<INT_PTR>(wParam));
        clamp();
        redraw();
        return old;
    }
    case PBM_SETSTEP: {
        int old = s->step;
        s->step = static_cast<int>(static_cast<INT_PTR>(wParam));
        return old;
    }
    case PBM_STEPIT: {
        int old = s->pos;
        s->pos += s->step;
        // Stepping past the end starts again from the beginning, as the control does.
        if (s->pos > std::max(s->lo, s->hi)) s->pos = std::min(s->lo, s->hi) + (s->pos - std::max(s->lo, s->hi));
        clamp();
        redraw();
        return old;
    }
    case PBM_GETPOS: return s->pos;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, RGB(255, 255, 255));
        Frame(dc, c, kEdge);
        int span = s->hi - s->lo;
        int inner = std::max<int>(0, c.right - c.left - 2);
        int filled = span > 0 ? static_cast<int>(static_cast<long long>(inner) * (s->pos - s->lo) / span) : 0;
        if (StyleOf(h) & PBS_SMOOTH) {
            FillSolid(dc, RECT{c.left + 1, c.top + 1, c.left + 1 + filled, c.bottom - 1}, kAccent);
        } else {
            int block = std::max<int>(4, (c.bottom - c.top) * 2 / 3);
            for (int x = 0; x + block / 2 <= filled; x += block + 2)
                FillSolid(dc, RECT{c.left + 1 + x, c.top + 2, c.left + 1 + std::min(x + block, filled), c.bottom - 2},
                          kAccent);
        }
        EndPaint(h, &ps);
        return 0;
    }
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

void RegisterSystemClasses() {
    struct Def {
        const wchar_t* name;
        WNDPROC proc;
        bool white;
    };
    const Def defs[] = {{L"button", ButtonProc, false},
                        {L"static", StaticProc, true},
                        {L"edit", EditProc, false},
                        {PROGRESS_CLASSW, ProgressProc, false},
                        {L"#32770", DialogClassProc, true}};
    for (auto& d : defs) {
        auto c = std::make_shared<WndClass>();
        c->name = d.name;
        c->wc.lpfnWndProc = d.proc;
        c->wc.lpszClassName = c->name.c_str();
        c->wc.style = CS_HREDRAW | CS_VREDRAW;
        c->wc.cbWndExtra = DLGWINDOWEXTRA;
        c->wc.hbrBackground = d.white ? static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)) : nullptr;
        c->system = true;
        std::lock_guard lk(M().mu);
        M().classes[Lower(c->name)] = c;
    }
    RegisterMenuClasses();
}

}  // namespace platform::ui::detail
