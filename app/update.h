// The update check at start-up: a newer version is offered (or required), its package
// downloaded and the updater started.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

#define UPDATE_PATH_LEN 512
#define UPDATE_CMD_TYPE 1

// Results: 0 no update or skipped, -1 a step failed (logged), -2 the user declined a
// compulsory update (the program ends), -3 the updater runs (the program ends).
// `owner` owns the message boxes; progress and status go to the start-up screen.
int checkUpdate(HWND owner, const wchar_t* appDir);
