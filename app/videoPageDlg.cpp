#include "videoPageDlg.h"

#include <cwchar>

#include "audioPageDlg.h"
#include "driverPage.h"
#include "lumeo.h"
#include "registry.h"
#include "platform/commctrl.h"

namespace {

const DriverPageKind kVideoPage = {
    true, IDC_VIDEO_DRIVER_FIRST, L"视频驱动", L"not enough memory : vDriverNum=%d", L"GetVideoDriverReg failed",
    L"SetVideoDriverReg failed", GetVideoDriverReg, SetVideoDriverReg, CallSetVideoOutput,
};
DriverPage g_videoPage;

int SheetCallback(HWND sheet, UINT msg, LPARAM lParam) {
    switch (msg) {
    case PSCB_INITIALIZED: {
        // The page tabs go to the bottom, above the soft keys.
        HWND tabs = GetDlgItem(sheet, IDC_PROPSHEET_TABCONTROL);
        if (tabs) SetWindowLongW(tabs, GWL_STYLE, GetWindowLongW(tabs, GWL_STYLE) | TCS_BOTTOM);
        return 0;
    }
    case PSCB_GETVERSION: return 526;
    case PSCB_GETTITLE: {
        // The title buffer holds 256 bytes.
        auto* title = reinterpret_cast<wchar_t*>(lParam);
        std::wcsncpy(title, L"设置", 256 / sizeof(wchar_t) - 1);
        title[256 / sizeof(wchar_t) - 1] = 0;
        return 1;
    }
    default: return 0;
    }
}

}  // namespace

INT_PTR VideoPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DriverPageProc(kVideoPage, g_videoPage, hwnd, msg, wParam, lParam);
}

int ShowPropertySheet(HWND owner, int, int, LPARAM) {
    PROPSHEETPAGEW pages[2] = {};
    const int templates[2] = {IDD_VIDEO_PAGE, IDD_AUDIO_PAGE};
    const DLGPROC procs[2] = {VideoPageDlgProc, AudioPageDlgProc};
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof(PROPSHEETPAGEW);
        pages[i].dwFlags = 0;
        pages[i].hInstance = g_hInst;
        pages[i].pszTemplate = MAKEINTRESOURCEW(templates[i]);
        pages[i].pfnDlgProc = procs[i];
        pages[i].lParam = reinterpret_cast<LPARAM>(owner);
    }
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(PROPSHEETHEADERW);
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_MAXIMIZE;
    header.hwndParent = owner;
    header.hInstance = g_hInst;
    header.pszCaption = L"";
    header.nPages = 2;
    header.nStartPage = 0;
    header.ppsp = pages;
    header.pfnCallback = SheetCallback;
    PropertySheetW(&header);
    return 0;
}
