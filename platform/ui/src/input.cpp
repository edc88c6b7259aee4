// Input from the display (or the script) to the windows' queues: the pen, keys and text;
// key state; rotation; and the idle test scripts wait on.
#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

std::atomic<uint8_t> g_keyDown[256];

struct Pen {
    std::mutex mu;
    bool down = false;
    HWND target = nullptr;  // where the press went, for the moves and the lift
} g_pen;

LPARAM ClientLParam(HWND h, int x, int y) {
    POINT p{x, y};
    ScreenToClient(h, &p);
    // 16-bit halves: points left of or above the window arrive as two's complement.
    return MAKELPARAM(static_cast<WORD>(p.x & 0xFFFF), static_cast<WORD>(p.y & 0xFFFF));
}

// The window that takes input at this point: capture first, then the window under the
// pen, unless a modal window has disabled its top-level window.
HWND PenTarget(int x, int y) {
    HWND cap = GetCapture();
    if (cap) return cap;
    HWND h = WindowFromScreenPoint(POINT{x, y});
    if (!h) return nullptr;
    std::lock_guard lk(M().mu);
    auto w = FindLocked(h);
    if (!w || !IsEnabledChain(w)) return nullptr;
    // The soft-key bar serves its owner: while a modal window has disabled that, the bar
    // takes no taps either.
    auto top = w;
    while (top && top->parent) top = FindLocked(top->parent);
    if (top && top->cls->name == L"#MenuBar" && top->owner) {
        auto owner = FindLocked(top->owner);
        if (owner && (owner->style & WS_DISABLED)) return nullptr;
    }
    return h;
}

void PostInput(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, int sx, int sy) {
    auto w = Find(h);
    if (!w) return;
    auto q = w->queue;
    MSG m{h, msg, wParam, lParam, GetTickCount(), POINT{sx, sy}};
    std::lock_guard lk(q->mu);
    q->posted.push_back(m);
    q->Wake();
}

bool ClassIs(HWND h, const wchar_t* name) {
    auto w = Find(h);
    return w && w->cls->name == name;
}

// Keys go to the focus window; with no focus (or a hidden one) to the active window.
HWND KeyTarget() {
    // An open pop-up menu takes every key, also in the moment between its making and its focus.
    {
        std::lock_guard lk(M().mu);
        for (auto it = M().topLevel.rbegin(); it != M().topLevel.rend(); ++it) {
            auto w = FindLocked(*it);
            if (w && !w->remote && !w->destroying && w->cls->name == L"#PopupMenu") return *it;
        }
    }
    HWND f = GetFocus();
    if (f && IsWindowVisible(f)) {
        // Not behind a modal window, which has disabled the focus's top-level window.
        std::lock_guard lk(M().mu);
        auto w = FindLocked(f);
        if (w && IsEnabledChain(w)) return f;
    }
    // A window disabled behind a modal one takes no keys, even while still the active one.
    HWND a = GetActiveWindow();
    if (a && IsWindowVisible(a) && IsWindowEnabled(a)) return a;
    std::lock_guard lk(M().mu);
    for (auto it = M().topLevel.rbegin(); it != M().topLevel.rend(); ++it) {
        auto w = FindLocked(*it);
        if (w && !w->remote && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED)) return *it;
    }
    return nullptr;
}

HWND VisibleMenuBar() {
    std::lock_guard lk(M().mu);
    for (auto it = M().topLevel.rbegin(); it != M().topLevel.rend(); ++it) {
        auto w = FindLocked(*it);
        if (w && (w->style & WS_VISIBLE) && w->cls->name == L"#MenuBar") return *it;
    }
    return nullptr;
}

}  // namespace

void NoteKeyMessage(const MSG& m) {
    if (m.message == WM_KEYDOWN) g_keyDown[m.wParam & 0xFF] = 1;
    if (m.message == WM_KEYUP) g_keyDown[m.wParam & 0xFF] = 0;
}

void ScreenChanged() {
    // As on the phone after a turn: full-width windows take the new width and keep their
    // distance to the top and bottom edges (bars along the bottom keep their height), the
    // rest is centred again; then every
    // top-level window hears WM_SETTINGCHANGE.
    int sw, sh;
    std::vector<std::pair<HWND, RECT>> moves;
    std::vector<HWND> tops;
    {
        std::lock_guard lk(M().mu);
        sw = M().screenW;
        sh = M().screenH;
        int ow = sh, oh = sw;  // the sides before the turn
        for (HWND t : M().topLevel) {
            auto w = FindLocked(t);
            if (!w || w->remote) continue;
            tops.push_back(t);
            RECT r = w->rect;
            RECT n;
            int width = r.right - r.left, height = r.bottom - r.top;
            if (r.left <= 0 && r.right >= ow) {
                int below = oh - r.bottom;
                if (r.top > oh / 2) {
                    // A bar along the bottom (soft keys, input panel) keeps its height.
                    n = RECT{0, sh - below - height, sw, sh - below};
                } else {
                    n = RECT{0, r.top, sw, std::max<LONG>(r.top, sh - below)};
                }
            } else {
                width = std::min(width, sw);
                height = std::min(height, sh);
                n = RECT{(sw - width) / 2, (sh - height) / 2, (sw - width) / 2 + width, (sh - height) / 2 + height};
            }
            moves.emplace_back(t, n);
        }
    }
    for (auto& [h, r] : moves) MoveWindow(h, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    for (HWND h : tops)
        if (IsWindow(h)) SendMessageW(h, WM_SETTINGCHANGE, SETTINGCHANGE_RESET, 0);
}

void PenState(bool* down, HWND* target) {
    std::lock_guard lk(g_pen.mu);
    *down = g_pen.down;
    *target = g_pen.target;
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

SHORT GetKeyState(int vk) { return g_keyDown[vk & 0xFF] ? static_cast<SHORT>(0x8000) : 0; }
SHORT GetAsyncKeyState(int vk) { return GetKeyState(vk); }

namespace platform::ui {

void InjectPenDown(int x, int y) {
    HWND h = PenTarget(x, y);
    {
        std::lock_guard lk(g_pen.mu);
        g_pen.down = true;
        g_pen.target = h;
    }
    if (h) PostInput(h, WM_LBUTTONDOWN, MK_LBUTTON, ClientLParam(h, x, y), x, y);
}

void InjectPenMove(int x, int y) {
    HWND h = GetCapture();
    if (!h) {
        std::lock_guard lk(g_pen.mu);
        h = g_pen.target;
    }
    if (!h) h = PenTarget(x, y);
    if (h) PostInput(h, WM_MOUSEMOVE, MK_LBUTTON, ClientLParam(h, x, y), x, y);
}

void InjectPenUp(int x, int y) {
    HWND h = GetCapture();
    {
        std::lock_guard lk(g_pen.mu);
        if (!h) h = g_pen.target && IsWindow(g_pen.target) ? PenTarget(x, y) : PenTarget(x, y);
        g_pen.down = false;
        g_pen.target = nullptr;
    }
    if (h) PostInput(h, WM_LBUTTONUP, 0, ClientLParam(h, x, y), x, y);
}

void InjectVirtualKey(UINT vk, bool ctrl) {
    HWND h = KeyTarget();
    // The soft keys belong to the soft-key bar, unless a box, menu or dialog is in front.
    if ((vk == VK_TSOFT1 || vk == VK_TSOFT2) && h) {
        HWND top = TopLevelOf(h);
        if (!ClassIs(top, L"#MessageBox") && !ClassIs(top, L"#PopupMenu") && !ClassIs(top, L"#32770")) {
            if (HWND bar = VisibleMenuBar()) h = bar;
        }
    }
    if (!h) return;
    if (ctrl) PostInput(h, WM_KEYDOWN, VK_CONTROL, 1, 0, 0);
    PostInput(h, WM_KEYDOWN, vk, 1, 0, 0);
    PostInput(h, WM_KEYUP, vk, LPARAM(1) | (LPARAM(3) << 30), 0, 0);
    if (ctrl) PostInput(h, WM_KEYUP, VK_CONTROL, LPARAM(1) | (LPARAM(3) << 30), 0, 0);
}

void InjectText(const std::wstring& text) {
    HWND h = KeyTarget();
    if (!h) return;
    for (wchar_t c : text) PostInput(h, WM_CHAR, static_cast<WPARAM>(c), 1, 0, 0);
}

namespace detail {

namespace {
// The threads' queues as they are now, each looked at under its own lock afterwards.
std::vector<std::shared_ptr<ThreadQueue>> AllQueues() {
    std::vector<std::shared_ptr<ThreadQueue>> queues;
    std::lock_guard lk(M().mu);
    for (auto& [id, q] : M().queues) queues.push_back(q);
    return queues;
}
}  // namespace

bool QueuesQuiet() {
    auto queues = AllQueues();
    for (auto& q : queues) {
        std::lock_guard lk(q->mu);
        if (q->busy || !q->posted.empty() || !q->sent.empty()) return false;
    }
    for (auto& q : queues) {
        HWND p;
        if (FindPaintWindow(q->threadId, nullptr, &p)) return false;
    }
    return true;
}

bool WindowTimersSet() {
    for (auto& q : AllQueues()) {
        std::lock_guard lk(q->mu);
        for (auto& t : q->timers)
            if (t.hwnd && !t.system) return true;
    }
    return false;
}

}  // namespace detail

bool WaitForIdle(DWORD ms) {
    uint64_t end = NowMs() + ms;
    int calm = 0;
    while (NowMs() < end) {
        // Idle twice in a row, a little apart, so work handed between threads is seen.
        calm = QueuesQuiet() ? calm + 1 : 0;
        if (calm >= 3) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace platform::ui
