// Entry points of the parts that come with the pages: the detail page, playback and the
// settings sheet. Until those land each reports that it is not there (the callers log the
// failure as they would any other).
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

int ShowDtlInfo(HWND hwnd);
int BeginPlayVideo(HWND hwnd);
int ShowPropertySheet(HWND hwnd, int id, int code, LPARAM lParam);
// Nothing to update: 0, the result the init thread goes on after.
int checkUpdate(HWND owner, const wchar_t* appDir);
// No player core in this build: the thread ends at once.
DWORD PlayerThread(LPVOID commandLine);
