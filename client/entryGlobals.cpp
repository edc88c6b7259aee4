#include "entryGlobals.h"

wchar_t g_appDir[APP_DIR_LEN];
int g_running = 1;
CRITICAL_SECTION g_csRunning;
CRITICAL_SECTION g_csXml;
HWND g_hSearchEdit = nullptr;

bool ProgramClosing() {
    platform::CsLock lock(&g_csRunning);
    return g_running != 1;
}
