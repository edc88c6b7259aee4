// The audio page of the output-driver settings sheet.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

INT_PTR AudioPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
