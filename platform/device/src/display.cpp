#include "platform/device.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

DWORD InitialOrientation() {
    const char* v = std::getenv("LUMEO_DISPLAY_ORIENTATION");
    if (!v) return DMDO_0;
    if (!std::strcmp(v, "90")) return DMDO_90;
    if (!std::strcmp(v, "180")) return DMDO_180;
    if (!std::strcmp(v, "270")) return DMDO_270;
    return DMDO_0;
}

std::atomic<DWORD>& Orientation() {
    static std::atomic<DWORD>* o = new std::atomic<DWORD>(InitialOrientation());
    return *o;
}

std::atomic<bool> g_queryFails{false};

}  // namespace

LONG ChangeDisplaySettingsEx(LPCWSTR, DEVMODEW* mode, HWND, DWORD flags, LPVOID) {
    if (!(flags & CDS_TEST)) return DISP_CHANGE_FAILED;  // this display is turned by its user only
    if (!mode || mode->dmSize < offsetof(DEVMODEW, dmDisplayOrientation) + sizeof(DWORD)) return DISP_CHANGE_BADPARAM;
    if (g_queryFails) return DISP_CHANGE_FAILED;
    if (mode->dmFields & DM_DISPLAYQUERYORIENTATION) {
        mode->dmDisplayOrientation = DMDO_0 | DMDO_90 | DMDO_180 | DMDO_270;
        return DISP_CHANGE_SUCCESSFUL;
    }
    if (mode->dmFields & DM_DISPLAYORIENTATION) {
        mode->dmDisplayOrientation = Orientation();
        return DISP_CHANGE_SUCCESSFUL;
    }
    return DISP_CHANGE_BADMODE;
}

namespace platform {
void SetDisplayOrientation(DWORD dmdo) { Orientation() = dmdo; }
DWORD GetDisplayOrientation() { return Orientation(); }
void SetDisplayQueryFails(bool failing) { g_queryFails = failing; }
}  // namespace platform
