#include "pending.h"

#include "log.h"
#include "skin.h"

// The init thread of this build has nothing to start: the start-up screen stays until the
// program is closed.
DWORD InitThread(LPVOID) {
    LOG(LOG_WARNING, L"InitThread: not in this build");
    return 1;
}

int SwitchChannel(int, int, Skin*) { return -1; }
int ShowDlgBox(HWND, int, const wchar_t*) { return -1; }

