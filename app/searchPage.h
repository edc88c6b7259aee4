// The search page: the search box with its 搜索 button, and the remembered search words
// with their 清空 button.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"
#include "tools.h"

#define IDC_SEARCH_EDIT 104
#define IDC_SEARCH 124
#define IDC_SEARCH_CLEAR 125
#define SEARCH_TEXT_LIMIT 200

extern const ButtonDef g_searchButtons[2];
extern HWND g_hSearchBtn[2];
// The search box's procedure before SearchEditProc took its place.
extern WNDPROC g_hOldSearchEditProc;

// The search box: focus selects the whole text and opens the input panel; Enter searches.
LRESULT SearchEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
