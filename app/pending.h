// Entry points of the parts that come with other pages: playback and the settings sheet.
// Until those land each reports that it is not there (the callers log the failure as they
// would any other).
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"
#include "update.h"  // checkUpdate, called by the init thread

int BeginPlayVideo(HWND hwnd);
int ShowPropertySheet(HWND hwnd, int id, int code, LPARAM lParam);
// No player core in this build: the thread ends at once.
DWORD PlayerThread(LPVOID commandLine);
