// LMUpdate: takes the downloaded package from its command line, waits for the main program
// to end, hands the package to the system's installer and ends.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

#define IDS_APP_TITLE 1
#define IDC_LMUPDATE 2
#define IDI_LMUPDATE 101
#define IDR_MENU 102
#define IDS_OK 103
#define IDS_HELP 104
#define IDA_LMUPDATE 2
#define IDM_OK 40000
#define IDM_HELP 40001
#define IDM_HELP_ABOUT 40002

#define UPDATER_PATH_LEN 256
#define UPDATER_LOG_DIR_LEN 512
#define UPDATER_WAIT_MS 3000

// The command line as the program received it.
extern CStringW g_cmd;
extern HINSTANCE g_hInst;

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
// The window whose creation does the job, then the message loop; the quit code.
int RunUpdater(HINSTANCE instance, int showCommand);
BOOL InitInstance(HINSTANCE instance, int showCommand);
LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The log in "..\Log\" beside the updater's folder. 0, or -1 when it cannot be set up.
int SetUpLog();
// 0 when the folder was made or already exists, else -1 (the code in g_errno).
int MyCreateDirectory(const wchar_t* dirPath);
// Strings, icon and accelerators of the program.
void RegisterResources();
