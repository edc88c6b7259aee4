// The output-driver settings sheet: its video page and the sheet itself.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

#define IDD_VIDEO_PAGE 144
#define IDD_AUDIO_PAGE 145
#define IDC_VIDEO_DRIVER_FIRST 800
#define IDC_AUDIO_DRIVER_FIRST 900

// Shows the sheet "设置" with the video and audio pages over `owner`; 0 once it has closed.
int ShowPropertySheet(HWND owner, int id, int code, LPARAM lParam);
INT_PTR VideoPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
