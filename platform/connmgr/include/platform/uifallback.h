// The few window-system calls the network side makes. The window system defines them;
// tests and tools built without it link the library platform_uifallback, where message
// boxes are answered by a hook that tests can watch, registered message ids come from a
// small name table, and a window is only a handle with a text.
#pragma once

#include "platform/wintypes.h"

#ifndef MB_OK
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONINFORMATION 0x00000040L
#endif
#ifndef IDOK
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#endif

UINT RegisterWindowMessageW(LPCWSTR name);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// Without the window system a window is only a handle with a text.
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int maxCount);

namespace platform {

// Answers message boxes shown while no window system is linked. Null: every box is
// answered IDOK at once.
using MessageBoxHook = int (*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace platform
