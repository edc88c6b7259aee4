// Globals of the program's entry and pages that the data side reads. They belong to the
// entry (and the search page); they live here until those exist, so that the data side
// and its tests link on their own.
#pragma once

#include "platform/sync.h"
#include "platform/wintypes.h"

#define APP_DIR_LEN 256

// The program directory, without a trailing backslash.
extern wchar_t g_appDir[APP_DIR_LEN];
// 1 while the program runs; cleared under g_csRunning when the frame is destroyed.
extern int g_running;
extern CRITICAL_SECTION g_csRunning;
// Whether g_running has been cleared: a worker that sees it stops at its next step.
bool ProgramClosing();
// Held around every parse of an XML answer.
extern CRITICAL_SECTION g_csXml;
// The search page's edit box, whose text is the search keyword.
extern HWND g_hSearchEdit;
