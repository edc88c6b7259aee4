// The phone shell: soft-key menu bar, input panel, tap-and-hold, activation helpers and
// the entries the program calls by ordinal.
#pragma once

#include "platform/winuser.h"

struct SHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;
    COLORREF clrBk;
};
using PSHMENUBARINFO = SHMENUBARINFO*;
#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010
// Soft-key bar records: buttons of these styles.
#define TBSTYLE_BUTTON 0x0000
#define TBSTYLE_DROPDOWN 0x0008
#define TBSTYLE_AUTOSIZE 0x0010
#define TBSTATE_ENABLED 0x04
#define I_IMAGENONE (-2)

// Creates the two-key bar of RCDATA record nToolBarId at the bottom of the screen; TRUE on
// success (hwndMB set), FALSE with the last error set.
BOOL SHCreateMenuBar(SHMENUBARINFO* info);

// Input panel.
#define SIPF_OFF 0x00000000
#define SIPF_ON 0x00000001
BOOL SipShowIM(DWORD flags);

// Tap-and-hold (shell ordinal 40).
struct SHRGINFO {
    DWORD cbSize;
    HWND hwndClient;
    POINT ptDown;  // client coordinates
    DWORD dwFlags;
};
using PSHRGINFO = SHRGINFO*;
#define SHRG_RETURNCMD 0x00000001
#define SHRG_NOTIFYPARENT 0x00000002
#define SHRG_LONGDELAY 0x00000008
#define GN_CONTEXTMENU 1000
// Watches the pen after a press: GN_CONTEXTMENU when it stays still for about half a second,
// 0 when it moves or lifts first. The press and later pen messages stay queued for the
// window's normal handling.
DWORD SHRecognizeGesture(SHRGINFO* info);

// Activation and setting-change helpers (shell ordinals 84 and 83).
struct SHACTIVATEINFO {
    DWORD cbSize;
    HWND hwndLastFocus;
    UINT fSipUp : 1;
    UINT fSipOnDeactivation : 1;
    UINT fActive : 1;
    UINT fReserved : 29;
};
BOOL SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info, DWORD flags);
BOOL SHHandleWMSettingChange(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);

// Entries called by ordinal whose role nothing relies on: 9 (no arguments) at start, and
// 332 (menu bar window, 1, 1, 1) after a modal dialog. Both do nothing here.
void SHOrdinal9();
BOOL SHOrdinal332(HWND menuBar, int a, int b, int c);
// The address of a shell entry by its ordinal (9, 40, 83, 84, 332), or NULL.
void* SHGetOrdinal(int ordinal);
