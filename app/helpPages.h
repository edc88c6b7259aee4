// The help topic list, the help text page and the About page.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"
#include "tools.h"

// The topics' titles and texts, in topic order.
extern const wchar_t* const g_helpTitles[HELP_TOPIC_COUNT];
extern const wchar_t* const g_helpTexts[HELP_TOPIC_COUNT];
// The two text boxes' procedures before ReadOnlyTextProc took their place.
extern WNDPROC g_hOldHelpTextProc, g_hOldAboutTextProc;

// Ignores every key; everything else (scrolling and selecting by pen) goes to the box.
LRESULT ReadOnlyTextProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
