// Starting another program: the shell's ShellExecuteEx on this machine's process start.
#pragma once

#include <string>

#include "platform/wintypes.h"

#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_FLAG_NO_UI 0x00000400

#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_NO_ASSOCIATION 1155L

// hInstApp after a failed start.
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31

struct SHELLEXECUTEINFOW {
    DWORD cbSize;  // sizeof(SHELLEXECUTEINFOW)
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;        // "Open" (any case) or null
    LPCWSTR lpFile;        // the program, a phone path
    LPCWSTR lpParameters;  // handed over verbatim as the program's one argument
    LPCWSTR lpDirectory;   // working folder, or null
    int nShow;
    HINSTANCE hInstApp;
    LPVOID lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;  // with SEE_MASK_NOCLOSEPROCESS: the started process, waitable
};
using LPSHELLEXECUTEINFOW = SHELLEXECUTEINFOW*;

// Starts lpFile. The program gets the standard streams and nothing else of this process,
// and this process's environment with the display settings of this run (so its windows
// appear where ours do). Ended programs are reaped. FALSE with the last error set
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT,
// ERROR_NO_ASSOCIATION for another verb, ERROR_INVALID_PARAMETER for a bad record).
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);

// STILL_ACTIVE while the process runs, then its exit status (128 + signal when killed).
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

namespace platform {

// A variable that programs started from here get in place of this process's own;
// a null value removes it from their environment. The display sets its mode this way.
void SetChildEnvironment(const std::string& name, const char* value);

}  // namespace platform
