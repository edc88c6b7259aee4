// The page windows that do not have a file of their own yet. Each paints the page's
// background and title bar; what a page shows of its own comes with that page.
#include "lumeo.h"
#include "tools.h"

void PaintPageBackground(HWND hwnd, HDC dc);

namespace {

LRESULT PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool forwardsCommands) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        PaintPageBackground(hwnd, dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_COMMAND:
        if (forwardsCommands && OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam), lParam) == 1) return 0;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_DESTROY:
        // Losing any page ends the program.
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

LRESULT DtlWndProc(HWND h, UINT m, WPARAM w, LPARAM l) { return PageProc(h, m, w, l, true); }
