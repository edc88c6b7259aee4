// Window classes, creation and destruction, geometry, window words and text.
#include <algorithm>
#include <atomic>
#include <cwctype>

#include "platform/lasterror.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {

Manager& M() {
    // Built on first use and never destroyed: static objects of the program may still post
    // or send while the process exits.
    static Manager* m = new Manager;
    return *m;
}

std::wstring Lower(const std::wstring& s) {
    std::wstring r = s;
    for (auto& c : r) c = static_cast<wchar_t>(std::towlower(c));
    return r;
}

std::shared_ptr<Window> FindLocked(HWND h) {
    auto& m = M();
    auto it = m.windows.find(reinterpret_cast<uintptr_t>(h) & ~uintptr_t(1));
    return it == m.windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> Find(HWND h) {
    if (!h) return nullptr;
    std::lock_guard lk(M().mu);
    return FindLocked(h);
}

RECT ScreenRect(const std::shared_ptr<Window>& w) {
    RECT r = w->rect;
    HWND p = w->parent;
    while (p) {
        auto pw = FindLocked(p);
        if (!pw) break;
        OffsetRect(&r, pw->rect.left, pw->rect.top);
        p = pw->parent;
    }
    return r;
}

bool IsShown(const std::shared_ptr<Window>& w) {
    auto cur = w;
    while (cur) {
        if (!(cur->style & WS_VISIBLE)) return false;
        if (!cur->parent) return true;
        cur = FindLocked(cur->parent);
    }
    return false;
}

bool IsEnabledChain(const std::shared_ptr<Window>& w) {
    auto cur = w;
    while (cur) {
        if (cur->style & WS_DISABLED) return false;
        if (!cur->parent) return true;
        cur = FindLocked(cur->parent);
    }
    return false;
}

HWND TopLevelOf(HWND h) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(h);
    while (w && w->parent) w = FindLocked(w->parent);
    return w ? w->h : nullptr;
}

static HWND ChildAt(const std::shared_ptr<Window>& w, POINT local) {
    // local: in w's client coordinates; front-most child first.
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) {
        auto c = FindLocked(*it);
        if (!c || !(c->style & WS_VISIBLE)) continue;
        // Group boxes let the pen through to what they frame.
        if (c->cls->system && c->cls->name == L"button" && (c->style & BS_TYPEMASK) == BS_GROUPBOX) continue;
        if (PtInRect(&c->rect, local)) {
            POINT inner{local.x - c->rect.left, local.y - c->rect.top};
            return ChildAt(c, inner);
        }
    }
    return w->h;
}

HWND WindowFromScreenPoint(POINT pt) {
    auto& m = M();
    std::lock_guard lk(m.mu);
    for (auto it = m.topLevel.rbegin(); it != m.topLevel.rend(); ++it) {
        auto w = FindLocked(*it);
        if (!w || !(w->style & WS_VISIBLE) || w->remote) continue;
        if (PtInRect(&w->rect, pt)) return ChildAt(w, POINT{pt.x - w->rect.left, pt.y - w->rect.top});
    }
    return nullptr;
}

static std::shared_ptr<WndClass> FindClass(LPCWSTR name) {
    if (!name) return nullptr;
    if (IS_INTRESOURCE(name)) {
        // Atoms: classes are looked up by their registration order.
        auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        std::lock_guard lk(M().mu);
        for (auto& [k, c] : M().classes)
            if (static_cast<ATOM>(0xC000 + (std::hash<std::wstring>{}(k) & 0x3FFF)) == atom) return c;
        return nullptr;
    }
    std::lock_guard lk(M().mu);
    auto it = M().classes.find(Lower(name));
    return it == M().classes.end() ? nullptr : it->second;
}

static void EnsureSystemClasses() {
    static std::once_flag once;
    std::call_once(once, RegisterSystemClasses);
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

ATOM RegisterClassW(const WNDCLASSW* wc) {
    EnsureSystemClasses();
    if (!wc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto key = Lower(wc->lpszClassName);
    std::lock_guard lk(M().mu);
    auto& classes = M().classes;
    auto it = classes.find(key);
    if (it != classes.end() && !it->second->system) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto c = std::make_shared<WndClass>();
    c->name = wc->lpszClassName;
    c->wc = *wc;
    c->wc.lpszClassName = c->name.c_str();
    c->wc.lpszMenuName = nullptr;
    c->system = c->name[0] == L'#';  // the layer's own windows
    classes[key] = c;
    return static_cast<ATOM>(0xC000 + (std::hash<std::wstring>{}(key) & 0x3FFF));
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    if (!className || IS_INTRESOURCE(className)) return FALSE;
    std::lock_guard lk(M().mu);
    auto it = M().classes.find(Lower(className));
    if (it == M().classes.end() || it->second->system) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    M().classes.erase(it);
    return TRUE;
}

BOOL GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* wc) {
    EnsureSystemClasses();
    auto c = FindClass(className);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (wc) *wc = c->wc;
    return TRUE;
}

namespace platform::ui::detail {

// Top status bar and soft-key bar heights: 26 pixels on a 240-pixel short side, in proportion.
static int BarHeight() {
    auto& m = M();
    int shortSide = std::min(m.screenW, m.screenH);
    return std::max(16, 26 * shortSide / 240);
}

struct CreationFaults {
    std::mutex mu;
    platform::ui::WindowCreationFault fault;
};

CreationFaults& Faults() {
    static auto* f = new CreationFaults;
    return *f;
}

bool CreationRefused(const std::wstring& className) {
    platform::ui::WindowCreationFault fault;
    {
        std::lock_guard lk(Faults().mu);
        fault = Faults().fault;
    }
    return fault && fault(className);
}

}  // namespace platform::ui::detail

void platform::ui::SetWindowCreationFault(WindowCreationFault fault) {
    std::lock_guard lk(detail::Faults().mu);
    detail::Faults().fault = std::move(fault);
}

void platform::ui::FailWindowCreation(const std::wstring& className, int count) {
    if (count <= 0) {
        SetWindowCreationFault(nullptr);
        return;
    }
    auto left = std::make_shared<std::atomic<int>>(count);
    SetWindowCreationFault([name = detail::Lower(className), left](const std::wstring& cls) {
        return detail::Lower(cls) == name && left->fetch_sub(1) > 0;
    });
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID param) {
    EnsureSystemClasses();
    auto cls = FindClass(className);
    if (!cls) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    if (CreationRefused(cls->name)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::shared_ptr<Window> pw;
    if (parent) {
        pw = Find(parent);
        if (!pw || pw->remote) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
    }
    auto w = std::make_shared<Window>();
    w->cls = cls;
    w->proc = cls->wc.lpfnWndProc;
    w->text = windowName && !IS_INTRESOURCE(windowName) ? windowName : L"";
    w->style = style;
    w->exStyle = exStyle;
    w->instance = instance;
    w->threadId = GetCurrentThreadId();
    w->queue = CurrentQueue();
    w->extra.assign(static_cast<size_t>(std::max(0, cls->wc.cbWndExtra) + 7) / sizeof(LONG_PTR) + 3, 0);
    // A parent without WS_POPUP makes a child placed in the parent's client area, also when
    // WS_CHILD is missing (the program's windows are created so).
    bool child = pw && !(style & WS_POPUP);
    if (child) {
        w->parent = pw->h;
        w->id = reinterpret_cast<UINT_PTR>(menuOrId);
        if (x == CW_USEDEFAULT) x = y = 0;
        if (width == CW_USEDEFAULT) width = height = 0;
    } else {
        w->owner = pw ? TopLevelOf(pw->h) : nullptr;
        auto& m = M();
        int bar = BarHeight();
        if (x == CW_USEDEFAULT) {
            x = 0;
            y = bar;
        }
        if (width == CW_USEDEFAULT) {
            width = m.screenW;
            height = m.screenH - bar;
        }
    }
    w->rect = RECT{x, y, x + std::max(0, width), y + std::max(0, height)};
    {
        auto& m = M();
        std::lock_guard lk(m.mu);
        m.nextHandle += 4;
        w->h = reinterpret_cast<HWND>(m.nextHandle);
        m.windows[m.nextHandle] = w;
        if (child) {
            pw->children.push_back(w->h);
        } else {
            m.topLevel.push_back(w->h);
        }
    }
    // Created hidden; WS_VISIBLE is applied after WM_CREATE, as a show.
    DWORD visible = w->style & WS_VISIBLE;
    w->style &= ~WS_VISIBLE;
    CREATESTRUCTW cs{param, instance, menuOrId, parent, height, width, y, x, static_cast<LONG>(style),
                     windowName, className, exStyle};
    if (!CallProc(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        DestroyWindow(w->h);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!child) OnTopLevelResized(w);
    // Other processes find the window from here on, as they would while its creation runs.
    if (!child) AnnounceWindow(w);
    if (CallProc(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (IsWindow(w->h)) DestroyWindow(w->h);
        SetLastError(ERROR_CANCELLED);
        return nullptr;
    }
    if (!IsWindow(w->h)) return nullptr;
    w->created = true;
    LONG cw = w->rect.right - w->rect.left, ch = w->rect.bottom - w->rect.top;
    CallProc(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cw, ch));
    CallProc(w, WM_MOVE, 0, MAKELPARAM(w->rect.left, w->rect.top));
    if (visible && IsWindow(w->h)) ShowWindow(w->h, SW_SHOW);
    return IsWindow(w->h) ? w->h : nullptr;
}

namespace platform::ui::detail {

static void RemoveWindow(const std::shared_ptr<Window>& w) {
    auto& m = M();
    std::lock_guard lk(m.mu);
    if (w->parent) {
        if (auto pw = FindLocked(w->parent)) std::erase(pw->children, w->h);
    } else {
        std::erase(m.topLevel, w->h);
    }
    if (m.capture == w->h) m.capture = nullptr;
    if (m.focus == w->h) m.focus = nullptr;
    if (m.active == w->h) m.active = nullptr;
    m.windows.erase(reinterpret_cast<uintptr_t>(w->h));
    if (auto q = w->queue) {
        std::lock_guard ql(q->mu);
        std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == w->h; });
        std::erase_if(q->posted, [&](const MSG& msg) { return msg.hwnd == w->h; });
    }
}

}  // namespace platform::ui::detail

BOOL DestroyWindow(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w || w->remote) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (w->destroying) return TRUE;
    w->destroying = true;
    // Owned windows go first, as on the phone.
    std::vector<HWND> owned;
    {
        std::lock_guard lk(M().mu);
        for (HWND t : M().topLevel)
            if (auto tw = FindLocked(t); tw && tw->owner == w->h) owned.push_back(t);
    }
    for (HWND o : owned) DestroyWindow(o);
    if (w->style & WS_VISIBLE) ShowWindow(hwnd, SW_HIDE);
    {
        std::lock_guard lk(M().mu);
        auto& m = M();
        // Focus and capture inside the dying tree are dropped without notification.
        for (HWND* slot : {&m.focus, &m.capture}) {
            auto cur = FindLocked(*slot);
            while (cur) {
                if (cur->h == hwnd) {
                    *slot = nullptr;
                    break;
                }
                cur = cur->parent ? FindLocked(cur->parent) : nullptr;
            }
        }
    }
    WithdrawWindow(hwnd);
    // The window hears WM_DESTROY before its children; WM_NCDESTROY goes children first.
    CallProc(w, WM_DESTROY, 0, 0);
    std::vector<HWND> kids;
    {
        std::lock_guard lk(M().mu);
        kids = w->children;
    }
    for (HWND c : kids) DestroyWindow(c);
    CallProc(w, WM_NCDESTROY, 0, 0);
    RemoveWindow(w);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) != nullptr; }

BOOL IsWindowVisible(HWND hwnd) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(hwnd);
    return w && IsShown(w);
}

BOOL IsWindowEnabled(HWND hwnd) {
    auto w = Find(hwnd);
    return w && !(w->style & WS_DISABLED);
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    auto w = Find(hwnd);
    if (!w) return FALSE;
    bool wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable) w->style &= ~WS_DISABLED; else w->style |= WS_DISABLED;
    if (wasDisabled == !enable) return wasDisabled;
    if (!enable) {
        auto& m = M();
        std::lock_guard lk(m.mu);
        if (m.capture == hwnd) m.capture = nullptr;
    }
    SendMessageW(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

namespace {

bool CanActivateLocked(const std::shared_ptr<Window>& t) {
    return t && (t->style & WS_VISIBLE) && !(t->style & WS_DISABLED) && !t->remote && !(t->exStyle & WS_EX_NOACTIVATE);
}

// The window that becomes active when `gone` stops being so: its nearest owner that can,
// else the frontmost top-level window that can (never one that takes no activation).
HWND SuccessorLocked(const std::shared_ptr<Window>& gone) {
    int hops = 0;  // bounded, should owners ever form a ring
    for (auto o = FindLocked(gone->owner); o && o != gone && hops < 64; o = FindLocked(o->owner), ++hops)
        if (CanActivateLocked(o)) return o->h;
    auto& tl = M().topLevel;
    for (auto it = tl.rbegin(); it != tl.rend(); ++it)
        if (*it != gone->h && CanActivateLocked(FindLocked(*it))) return *it;
    return nullptr;
}

}  // namespace

BOOL ShowWindow(HWND hwnd, int cmd) {
    auto w = Find(hwnd);
    if (!w || w->remote) return FALSE;
    bool was = (w->style & WS_VISIBLE) != 0;
    bool show = cmd != SW_HIDE;
    if (was == show) return was;
    RECT screen;
    {
        std::lock_guard lk(M().mu);
        screen = ScreenRect(w);
    }
    if (show) {
        w->style |= WS_VISIBLE;
        UpdateDCGeometry(w);
        SendMessageW(hwnd, WM_SHOWWINDOW, TRUE, 0);
        InvalidateInternal(w, nullptr, true);
        if (!w->parent && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE && !(w->exStyle & WS_EX_NOACTIVATE)) {
            {
                std::lock_guard lk(M().mu);
                auto& tl = M().topLevel;
                std::erase(tl, hwnd);
                tl.push_back(hwnd);
            }
            SetActiveWindow(hwnd);
        }
    } else {
        SendMessageW(hwnd, WM_SHOWWINDOW, FALSE, 0);
        w->style &= ~WS_VISIBLE;
        UpdateDCGeometry(w);
        if (w->parent) InvalidateScreenArea(screen);
        auto& m = M();
        HWND activate = nullptr;
        {
            std::lock_guard lk(m.mu);
            if (m.active == hwnd) {
                m.active = nullptr;
                activate = SuccessorLocked(w);
            }
        }
        if (activate) SetActiveWindow(activate);
    }
    MarkScreenDirty();
    return was;
}

BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
    auto w = Find(hwnd);
    if (!w || w->remote) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    RECT old, oldScreen;
    {
        std::lock_guard lk(M().mu);
        old = w->rect;
        oldScreen = ScreenRect(w);
    }
    RECT r = old;
    if (!(flags & SWP_NOMOVE)) OffsetRect(&r, x - r.left, y - r.top);
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + std::max(0, cx);
        r.bottom = r.top + std::max(0, cy);
    }
    if (!(flags & SWP_NOZORDER) && !w->parent) {
        std::lock_guard lk(M().mu);
        auto& tl = M().topLevel;
        std::erase(tl, hwnd);
        if (after == HWND_BOTTOM) tl.insert(tl.begin(), hwnd); else tl.push_back(hwnd);
    }
    bool moved = r.left != old.left || r.top != old.top;
    bool sized = (r.right - r.left) != (old.right - old.left) || (r.bottom - r.top) != (old.bottom - old.top);
    {
        std::lock_guard lk(M().mu);
        w->rect = r;
    }
    if (moved || sized) {
        if (w->style & WS_VISIBLE) InvalidateScreenArea(oldScreen);
        if (!w->parent) OnTopLevelResized(w); else UpdateDCGeometry(w);
        // The window hears its new size before it is asked to paint at it.
        if (moved) SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
        if (sized) SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.right - r.left, r.bottom - r.top));
        if (!(flags & SWP_NOREDRAW) || sized) InvalidateInternal(w, nullptr, true);
        MarkScreenDirty();
    }
    if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOW);
    if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(hwnd);
    if (!w || !rect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = ScreenRect(w);
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(hwnd);
    if (!w || !rect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT pt) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(hwnd);
    if (!w || !pt) return FALSE;
    RECT r = ScreenRect(w);
    pt->x += r.left;
    pt->y += r.top;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT pt) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(hwnd);
    if (!w || !pt) return FALSE;
    RECT r = ScreenRect(w);
    pt->x -= r.left;
    pt->y -= r.top;
    return TRUE;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    std::wstring cls = className && !IS_INTRESOURCE(className) ? Lower(className) : L"";
    {
        std::lock_guard lk(M().mu);
        for (HWND t : M().topLevel) {
            auto w = FindLocked(t);
            if (!w || w->remote) continue;
            if (!cls.empty() && Lower(w->cls->name) != cls) continue;
            if (windowName && w->text != windowName) continue;
            return t;
        }
    }
    if (cls.empty()) return nullptr;
    std::wstring title = windowName ? windowName : L"";
    return FindRemoteWindow(className, windowName ? &title : nullptr);
}

namespace {
std::atomic<int> g_foregroundRequests{0};  // counted on the listener's thread
}

BOOL SetForegroundWindow(HWND hwnd) {
    auto w = Find(hwnd);  // the low bit (set by callers as a flag) is ignored
    if (!w) return FALSE;
    if (w->remote) return RemoteForeground(w) ? TRUE : FALSE;
    {
        std::lock_guard lk(M().mu);
        auto& tl = M().topLevel;
        HWND top = w->h;
        auto cur = w;
        while (cur && cur->parent) cur = FindLocked(cur->parent);
        if (cur) top = cur->h;
        std::erase(tl, top);
        tl.push_back(top);
        hwnd = top;
    }
    SetActiveWindow(hwnd);
    InvalidateInternal(Find(hwnd), nullptr, false);
    MarkScreenDirty();
    return TRUE;
}

namespace platform::ui {
int ForegroundRequestsReceived() { return g_foregroundRequests; }
namespace detail {
void CountForegroundRequest() { ++g_foregroundRequests; }
}  // namespace detail
}  // namespace platform::ui

HWND GetForegroundWindow() {
    std::lock_guard lk(M().mu);
    return M().active;
}

HWND GetActiveWindow() {
    std::lock_guard lk(M().mu);
    return M().active;
}

HWND SetActiveWindow(HWND hwnd) {
    auto w = Find(hwnd);
    HWND old;
    {
        std::lock_guard lk(M().mu);
        old = M().active;
        if (old == hwnd) return old;
        M().active = hwnd;
    }
    if (auto ow = Find(old)) SendMessageW(ow->h, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
    if (w) SendMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
    return old;
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
    if (!proc) return FALSE;
    std::vector<HWND> list;
    {
        std::lock_guard lk(M().mu);
        list.assign(M().topLevel.rbegin(), M().topLevel.rend());
    }
    for (HWND h : list)
        if (IsWindow(h) && !proc(h, lParam)) break;
    return TRUE;
}

HWND GetWindow(HWND hwnd, UINT cmd) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(hwnd);
    if (!w) return nullptr;
    auto& m = M();
    const std::vector<HWND>* siblings = &m.topLevel;
    if (w->parent) {
        auto pw = FindLocked(w->parent);
        if (!pw) return nullptr;
        siblings = &pw->children;
    }
    // Front to back, as the phone enumerates.
    std::vector<HWND> order(siblings->rbegin(), siblings->rend());
    auto it = std::find(order.begin(), order.end(), w->h);
    switch (cmd) {
    case GW_OWNER: return w->owner;
    case GW_CHILD: return w->children.empty() ? nullptr : w->children.back();
    case GW_HWNDFIRST: return order.empty() ? nullptr : order.front();
    case GW_HWNDLAST: return order.empty() ? nullptr : order.back();
    case GW_HWNDNEXT: return (it == order.end() || it + 1 == order.end()) ? nullptr : *(it + 1);
    case GW_HWNDPREV: return (it == order.end() || it == order.begin()) ? nullptr : *(it - 1);
    default: return nullptr;
    }
}

HWND GetParent(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w) return nullptr;
    return w->parent ? w->parent : w->owner;
}

HWND GetDesktopWindow() { return nullptr; }

HWND GetDlgItem(HWND dialog, int id) {
    std::lock_guard lk(M().mu);
    auto w = FindLocked(dialog);
    if (!w) return nullptr;
    for (HWND c : w->children)
        if (auto cw = FindLocked(c); cw && static_cast<int>(cw->id) == id) return c;
    SetLastError(ERROR_NOT_FOUND);
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
    auto w = Find(hwnd);
    return w ? static_cast<int>(w->id) : 0;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND c = GetDlgItem(dialog, id);
    return c ? SendMessageW(c, msg, wParam, lParam) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    for (int id = first; id <= last; ++id)
        SendDlgItemMessageW(dialog, id, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
}

HWND SetCapture(HWND hwnd) {
    auto& m = M();
    HWND old;
    {
        std::lock_guard lk(m.mu);
        old = m.capture;
        m.capture = FindLocked(hwnd) ? hwnd : nullptr;
    }
    if (old && old != hwnd) SendMessageW(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    return old;
}

BOOL ReleaseCapture() {
    auto& m = M();
    HWND old;
    {
        std::lock_guard lk(m.mu);
        old = m.capture;
        m.capture = nullptr;
    }
    if (old) SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetCapture() {
    std::lock_guard lk(M().mu);
    return M().capture;
}

HWND SetFocus(HWND hwnd) {
    auto& m = M();
    HWND old;
    {
        std::lock_guard lk(m.mu);
        if (hwnd && !FindLocked(hwnd)) return nullptr;
        old = m.focus;
        if (old == hwnd) return old;
        m.focus = hwnd;
    }
    if (old && IsWindow(old)) SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd && IsWindow(hwnd)) SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

HWND GetFocus() {
    std::lock_guard lk(M().mu);
    return M().focus;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    auto w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT: return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWL_ID: return static_cast<LONG_PTR>(w->id);
    case GWL_STYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
    case GWL_USERDATA: return w->userData;
    default:
        if (index >= 0 && static_cast<size_t>(index) / sizeof(LONG_PTR) < w->extra.size())
            return w->extra[static_cast<size_t>(index) / sizeof(LONG_PTR)];
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    auto w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = GetWindowLongPtrW(hwnd, index);
    switch (index) {
    case GWL_WNDPROC: w->proc = reinterpret_cast<WNDPROC>(value); break;
    case GWL_HINSTANCE: w->instance = reinterpret_cast<HINSTANCE>(value); break;
    case GWL_ID: w->id = static_cast<UINT_PTR>(value); break;
    case GWL_STYLE: {
        DWORD visible = w->style & WS_VISIBLE;
        w->style = (static_cast<DWORD>(value) & ~WS_VISIBLE) | visible;
        InvalidateInternal(w, nullptr, true);
        break;
    }
    case GWL_EXSTYLE: w->exStyle = static_cast<DWORD>(value); break;
    case GWL_USERDATA: w->userData = value; break;
    default:
        if (index >= 0 && static_cast<size_t>(index) / sizeof(LONG_PTR) < w->extra.size()) {
            w->extra[static_cast<size_t>(index) / sizeof(LONG_PTR)] = value;
            break;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return old;
}

LONG GetWindowLongW(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtrW(hwnd, index)); }

LONG SetWindowLongW(HWND hwnd, int index, LONG value) {
    // A procedure does not fit 32 bits here: subclassing goes through SetWindowLongPtrW.
    return static_cast<LONG>(SetWindowLongPtrW(hwnd, index, value));
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int capacity) {
    auto w = Find(hwnd);
    if (!w || !buffer || capacity <= 0) {
        if (buffer && capacity > 0) buffer[0] = 0;
        return 0;
    }
    std::wstring text;
    {
        std::lock_guard lk(M().mu);
        text = w->text;
    }
    int n = std::min(static_cast<int>(text.size()), capacity - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

int GetWindowTextLengthW(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w) return 0;
    std::lock_guard lk(M().mu);
    return static_cast<int>(w->text.size());
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
    if (!IsWindow(hwnd)) return FALSE;
    return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : L"")) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    auto w = Find(hwnd);
    if (!w) return 0;
    if (processId) *processId = GetCurrentProcessId();
    return w->threadId;
}

int GetSystemMetrics(int index) {
    auto& m = M();
    std::lock_guard lk(m.mu);
    switch (index) {
    case SM_CXSCREEN: return m.screenW;
    case SM_CYSCREEN: return m.screenH;
    case SM_CXFULLSCREEN: return m.screenW;
    case SM_CYFULLSCREEN: return m.screenH - 2 * BarHeight();
    case SM_CXVSCROLL:
    case SM_CYHSCROLL: return std::max(8, std::min(m.screenW, m.screenH) / 20);
    case SM_CYCAPTION:
    case SM_CYMENU: return BarHeight();
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXEDGE:
    case SM_CYEDGE:
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 2;
    case SM_CXICON:
    case SM_CYICON: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CXDRAG:
    case SM_CYDRAG:
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK: return std::max(4, std::min(m.screenW, m.screenH) / 48);
    default: return 0;
    }
}

namespace platform::ui {
int StatusBarHeight() {
    std::lock_guard lk(detail::M().mu);
    return detail::BarHeight();
}
int SoftKeyBarHeight() { return StatusBarHeight(); }
}  // namespace platform::ui
