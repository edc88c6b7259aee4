// Common controls: the progress bar and the property sheet.
#pragma once

#include "platform/winuser.h"

#define PROGRESS_CLASSW L"msctls_progress32"
#define PBS_SMOOTH 0x01
#define PBS_VERTICAL 0x04
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)

struct PBRANGE {
    int iLow;
    int iHigh;
};

// Tab control styles (the property sheet's tab strip).
#define TCS_BOTTOM 0x0002

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_TAB_CLASSES 0x00000008
void InitCommonControls();
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc);

// Property sheets.
struct PROPSHEETPAGEW;
using LPFNPSPCALLBACKW = UINT (*)(HWND, UINT, PROPSHEETPAGEW*);
struct PROPSHEETPAGEW {
    DWORD dwSize;
    DWORD dwFlags;
    HINSTANCE hInstance;
    LPCWSTR pszTemplate;  // or a DLGTEMPLATE* with PSP_DLGINDIRECT
    HICON hIcon;
    LPCWSTR pszTitle;
    DLGPROC pfnDlgProc;
    LPARAM lParam;
    LPFNPSPCALLBACKW pfnCallback;
    UINT* pcRefParent;
};
using LPCPROPSHEETPAGEW = const PROPSHEETPAGEW*;
using PFNPROPSHEETCALLBACK = int (*)(HWND, UINT, LPARAM);
struct PROPSHEETHEADERW {
    DWORD dwSize;
    DWORD dwFlags;
    HWND hwndParent;
    HINSTANCE hInstance;
    HICON hIcon;
    LPCWSTR pszCaption;
    UINT nPages;
    UINT nStartPage;
    LPCPROPSHEETPAGEW ppsp;
    PFNPROPSHEETCALLBACK pfnCallback;
};
using LPCPROPSHEETHEADERW = const PROPSHEETHEADERW*;

#define PSP_DEFAULT 0x0000
#define PSP_DLGINDIRECT 0x0001
#define PSP_USETITLE 0x0008
#define PSH_DEFAULT 0x0000
#define PSH_PROPTITLE 0x0001
#define PSH_PROPSHEETPAGE 0x0008
#define PSH_USECALLBACK 0x0100
#define PSH_MAXIMIZE 0x2000
#define PSCB_INITIALIZED 1
#define PSCB_PRECREATE 2
#define PSCB_GETVERSION 3
#define PSCB_GETTITLE 4
#define PSCB_GETLINKTEXT 5
#define PSN_FIRST (0U - 200U)
#define PSN_SETACTIVE (PSN_FIRST - 0)
#define PSN_KILLACTIVE (PSN_FIRST - 1)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSN_RESET (PSN_FIRST - 3)
#define PSNRET_NOERROR 0
// The sheet's tab control.
#define IDC_PROPSHEET_TABCONTROL 0x3020

// Shows the sheet modally; returns 1 when closed with OK, 0 when cancelled, -1 on failure.
INT_PTR PropertySheetW(LPCPROPSHEETHEADERW header);
