#include "driverPage.h"

#include <new>

#include "log.h"
#include "lumeo.h"
#include "registry.h"

namespace {

void FreeButtons(DriverPage& page) {
    delete[] page.buttons;
    page.buttons = nullptr;
    page.driverNum = 0;
}

void Store(const DriverPageKind& kind, int index) {
    if (kind.setChoice(g_hKeyDriver, index) != 0) LOG(LOG_WARNING, kind.writeLog);
}

int InitPage(const DriverPageKind& kind, DriverPage& page, HWND hwnd) {
    FreeButtons(page);
    int result = 0;
    if (CallGetPlayerInfo(&page.info, &result) && result != 0) {
        LOG(LOG_WARNING, L"FuncGetPlayerInfo failed");
        return 1;
    }
    int n = kind.video ? VideoDriverCount(page.info) : AudioDriverCount(page.info);
    page.buttons = new (std::nothrow) HWND[n > 0 ? n : 1]();
    if (!page.buttons) {
        LOG(LOG_ERROR, kind.memoryLog, n);
        return 1;
    }
    page.driverNum = n;
    LONG units = GetDialogBaseUnits();
    page.baseX = LOWORD(units);
    page.baseY = HIWORD(units);
    const DriverSlot* slots = kind.video ? page.info.videoDrivers : page.info.audioDrivers;
    for (int i = 0; i < n; ++i) {
        CStringW text = DriverName(slots[i]);
        if (kind.video && text.Find(L"DirectDraw") >= 0) text += L"(不推荐)";
        page.buttons[i] = CreateWindowExW(0, L"button", text, WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 20,
                                          20 + (2 * i + 1) * page.baseY, 20 * page.baseX, 7 * page.baseY / 4, hwnd,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kind.firstId + i)), g_hInst,
                                          nullptr);
    }
    page.group = CreateWindowExW(0, L"button", kind.groupText, WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 10, 10,
                                 25 * page.baseX, 7 * page.baseY * (n + 2) / 4, hwnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(900 + n)), g_hInst, nullptr);
    int chosen = kind.video ? -1 : 0;
    if (kind.getChoice(g_hKeyDriver, chosen) != 0) LOG(LOG_WARNING, kind.readLog);
    if (kind.video && chosen == -1) {
        // Nothing chosen yet: the first GDI driver, chosen for the user at once.
        chosen = 0;
        for (int i = 0; i < n; ++i) {
            CStringW name = DriverName(slots[i]);
            if (name.MakeUpper().Find(L"GDI") >= 0) {
                chosen = i;
                kind.send(i);
                Store(kind, i);
                break;
            }
        }
    }
    // A stored choice the core no longer offers marks nothing.
    if (chosen >= 0 && chosen < n) PostMessageW(page.buttons[chosen], BM_SETCHECK, BST_CHECKED, 0);
    return 1;
}

}  // namespace

INT_PTR DriverPageProc(const DriverPageKind& kind, DriverPage& page, HWND hwnd, UINT msg, WPARAM wParam,
                       LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: return InitPage(kind, page, hwnd);
    case WM_COMMAND: {
        int i = LOWORD(wParam) - kind.firstId;
        if (i >= 0 && i < page.driverNum) {
            kind.send(i);
            Store(kind, i);
            return 1;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    case WM_NOTIFY: return 0;
    case WM_CLOSE:
        if (!kind.video) return 0;
        FreeButtons(page);
        EndDialog(hwnd, 1);
        return 1;
    case WM_DESTROY:
        // The sheet closes its pages by destroying them.
        FreeButtons(page);
        return 0;
    default: return 0;
    }
}
