// The program's entry, its frame window and the commands every page forwards.
#pragma once

#include <string>

#include "platform/windows.h"
#include "platform/winuser.h"

// One row of a window-class table; one window is created per row.
struct WndClassDef {
    UINT classStyle;
    WNDPROC wndProc;
    HBRUSH background;
    const wchar_t* className;
    DWORD exStyle;
    DWORD style;
};

#define STARTUP_WINDOW_COUNT 2
#define PAGE_WINDOW_COUNT 8
#define LIST_VIEW_WINDOW_COUNT 1
extern WndClassDef g_startupWindows[STARTUP_WINDOW_COUNT];
extern WndClassDef g_pageWindows[PAGE_WINDOW_COUNT];
extern WndClassDef g_listViewWindows[LIST_VIEW_WINDOW_COUNT];

extern HINSTANCE g_hInst;
extern HWND g_hFrame;
extern CRITICAL_SECTION g_csPlay;
extern int g_playBusy;
extern int g_clientWidth, g_clientHeight;
extern int g_dtlOpenMode, g_dtlViewMode;

// Resource ids.
#define IDS_APP_TITLE 101
#define IDS_EXIT 104
#define IDS_MENU 105
#define IDS_LIST 106
#define IDS_BACK 108
#define IDC_LUMEO 201
#define IDI_LUMEO 301
#define IDR_MENU_MAIN 401
#define IDR_MENU_EXIT 501
#define IDR_MENU_DETAIL 503
#define IDA_LUMEO 201

// Soft-key bars.
#define IDB_STARTUP 501
#define IDB_LIST 502
#define IDB_DETAIL 503
#define IDB_HELP 504
#define IDB_HELP_TEXT 505
#define IDB_SETTINGS 506

// Commands.
#define IDM_TAB_HOT 32773
#define IDM_TAB_CLASSIFY 32772
#define IDM_TAB_SEARCH 32774
#define IDM_TAB_RANK 32775
#define IDM_HELP 40009
#define IDM_EXIT 40010
#define IDM_DETAIL 40012
#define IDM_NONE 40014
#define IDM_MENU 40001
#define IDM_ABOUT 40020
#define IDM_SETTINGS 40021
#define IDM_CANCEL 40023
#define IDM_DETAIL_BACK 40024
#define IDM_HELP_BACK 40025
#define IDM_HELP_TEXT_BACK 40026
#define IDM_PLAY 40027
#define IDM_DETAIL_PLAY 40028

// Tab buttons and the detail page's PLAY button.
#define IDC_TAB_HOT 118
#define IDC_TAB_CLASSIFY 119
#define IDC_TAB_SEARCH 120
#define IDC_TAB_RANK 121
#define IDC_DETAIL_PLAY 116

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
int MyInitialize();
BOOL InitInstance(HINSTANCE instance, int showCommand);
ATOM MyRegisterClass(HINSTANCE instance, LPCWSTR className);
int UninitInstance();
LRESULT FrameWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
int OnCommand(HWND hwnd, int id, int code, LPARAM lParam);

// The program's string, menu, accelerator and soft-key bar tables.
void RegisterResources();

// What the program still has under way before it waits for the user, in a few words (start-up,
// a list load, thumbnails, related videos, downloads, a play being started); empty when
// nothing. Read from another thread: the headless script's `wait idle` asks it.
std::string ProgramBusy();
