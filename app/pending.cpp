#include "pending.h"

#include "log.h"

// The init thread of this build has nothing to start: the start-up screen stays until the
// program is closed.
DWORD InitThread(LPVOID) {
    LOG(LOG_WARNING, L"InitThread: not in this build");
    return 1;
}

int SwitchChannel(int, int, Skin*) { return -1; }
int ShowDtlInfo(HWND) { return -1; }
int checkUpdate(HWND, const wchar_t*) { return 0; }

#include "lumeo.h"
#include "tools.h"

// The list view window is made by the list page; until both land it only forwards the
// commands of its pop-up menu.
LRESULT ListViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COMMAND && OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam), lParam) == 1) return 0;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
