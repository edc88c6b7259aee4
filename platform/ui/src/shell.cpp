// Shell entries: the input panel, tap-and-hold recognition, the activation helpers and the
// entries called by ordinal.
#include <cmath>

#include "draw.h"
#include "platform/aygshell.h"
#include "platform/commctrl.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

struct Sip {
    std::mutex mu;
    bool on = false;
    HWND panel = nullptr;
    std::vector<std::pair<HWND, int>> shrunk;  // windows made shorter, and by how much
} g_sip;

LRESULT PanelProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, RGB(0xD5, 0xD9, 0xE0));
        FillSolid(dc, RECT{c.left, c.top, c.right, c.top + 1}, kEdge);
        Text(dc, L"输入", c, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, kEdge, UiFont(UiTextHeight()));
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

}  // namespace

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

BOOL SipShowIM(DWORD flags) {
    bool on = (flags & SIPF_ON) != 0;
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = PanelProc;
        wc.lpszClassName = L"#InputPanel";
        RegisterClassW(&wc);
    });
    std::vector<std::pair<HWND, int>> resize;
    HWND panel = nullptr;
    {
        std::lock_guard lk(g_sip.mu);
        if (g_sip.on == on) return TRUE;
        g_sip.on = on;
        if (!on) {
            resize.swap(g_sip.shrunk);
            for (auto& r : resize) r.second = -r.second;
            panel = g_sip.panel;
            g_sip.panel = nullptr;
        }
    }
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    int bar = platform::ui::SoftKeyBarHeight();
    int ph = sh / 3;
    if (on) {
        // The panel sits above the soft-key bar; full-width windows reaching into it shrink.
        int panelTop = sh - bar - ph;
        {
            std::lock_guard lk(M().mu);
            for (HWND t : M().topLevel) {
                auto w = FindLocked(t);
                if (!w || w->remote || !(w->style & WS_VISIBLE) || w->cls->system) continue;
                if (w->rect.left <= 0 && w->rect.right >= sw && w->rect.bottom > panelTop && w->rect.top < panelTop)
                    resize.emplace_back(t, w->rect.bottom - panelTop);
            }
        }
        panel = CreateWindowExW(WS_EX_TOPMOST, L"#InputPanel", L"", WS_POPUP, 0, panelTop, sw, ph, nullptr, nullptr,
                                nullptr, nullptr);
        if (panel) ShowWindow(panel, SW_SHOWNA);
        std::lock_guard lk(g_sip.mu);
        g_sip.panel = panel;
        g_sip.shrunk = resize;
    } else if (panel && IsWindow(panel)) {
        if (Find(panel)->threadId == GetCurrentThreadId()) DestroyWindow(panel);
        else PostMessageW(panel, WM_CLOSE, 0, 0);
    }
    for (auto& [h, by] : resize) {
        RECT r;
        if (!GetWindowRect(h, &r)) continue;
        MoveWindow(h, r.left, r.top, r.right - r.left, r.bottom - r.top - by, TRUE);
    }
    // As on the phone, top-level windows hear of the panel's change.
    std::vector<HWND> tops;
    {
        std::lock_guard lk(M().mu);
        for (HWND t : M().topLevel)
            if (auto w = FindLocked(t); w && !w->remote && !w->cls->system) tops.push_back(t);
    }
    for (HWND t : tops) PostMessageW(t, WM_SETTINGCHANGE, SPI_SETSIPINFO, 0);
    return TRUE;
}

DWORD SHRecognizeGesture(SHRGINFO* info) {
    if (!info || !info->hwndClient) return 0;
    auto q = CurrentQueue();
    uint64_t start = NowMs();
    int slop = GetSystemMetrics(SM_CXDRAG);
    HWND target = info->hwndClient;
    for (;;) {
        DispatchIncomingSent();
        {
            std::unique_lock lk(q->mu);
            // Look at the pen messages that came after the press, and leave them queued.
            for (auto& m : q->posted) {
                if (m.message == WM_LBUTTONUP) return 0;
                if (m.message == WM_MOUSEMOVE && m.hwnd == target) {
                    int x = static_cast<SHORT>(LOWORD(m.lParam)), y = static_cast<SHORT>(HIWORD(m.lParam));
                    if (std::abs(x - info->ptDown.x) > slop || std::abs(y - info->ptDown.y) > slop) return 0;
                }
            }
            bool down;
            HWND penTarget;
            lk.unlock();
            PenState(&down, &penTarget);
            if (!down) {
                // Lifted, and the lift went to another window (or nowhere).
                std::lock_guard again(q->mu);
                bool upQueued = false;
                for (auto& m : q->posted) upQueued = upQueued || m.message == WM_LBUTTONUP;
                if (!upQueued) return 0;
            }
            if (NowMs() - start >= 500) return GN_CONTEXTMENU;
            lk.lock();
            q->cv.wait_for(lk, std::chrono::milliseconds(10));
        }
    }
}

BOOL SHHandleWMActivate(HWND, WPARAM, LPARAM, SHACTIVATEINFO*, DWORD) { return TRUE; }
BOOL SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO*) { return TRUE; }

void SHOrdinal9() {}
BOOL SHOrdinal332(HWND, int, int, int) { return TRUE; }

void* SHGetOrdinal(int ordinal) {
    switch (ordinal) {
    case 9: return reinterpret_cast<void*>(&SHOrdinal9);
    case 40: return reinterpret_cast<void*>(&SHRecognizeGesture);
    case 83: return reinterpret_cast<void*>(&SHHandleWMSettingChange);
    case 84: return reinterpret_cast<void*>(&SHHandleWMActivate);
    case 332: return reinterpret_cast<void*>(&SHOrdinal332);
    default: return nullptr;
    }
}

void InitCommonControls() {}
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return TRUE; }
