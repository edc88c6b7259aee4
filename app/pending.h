// Entry points of the parts that come with the pages: the init thread, the list loaders of
// the wait dialog, the detail page and the update check. Until those land each reports
// that it is not there (the callers log the failure as they would any other).
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

struct Skin;

DWORD InitThread(LPVOID param);
int SwitchChannel(int rssType, int period, Skin* skin);
int ShowDtlInfo(HWND hwnd);
// Nothing to update: 0, the result the init thread goes on after.
int checkUpdate(HWND owner, const wchar_t* appDir);
