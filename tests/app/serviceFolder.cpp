#include "serviceFolder.h"

#include <cstdlib>

#include "entryGlobals.h"
#include "listview.h"
#include "lumeo.h"
#include "program.h"
#include "platform/codepage.h"
#include "platform/connmgr.h"
#include "platform/format.h"
#include "platform/ui.h"

namespace apptest {

nettest::SampleService& Service() {
    static auto* s = new nettest::SampleService();
    return *s;
}

ServiceFolder::ServiceFolder() {
    setenv("LUMEO_REGISTRY_FILE", (dir.path() + "/registry.db").c_str(), 1);
    Service().Get("/control/reset");
    ResetLists();
    platform::ConnMgrConfigure(L"");
}

void ServiceFolder::Adopt() {
    platform::CopyCut(g_appDir, APP_DIR_LEN, dir.wpath());
    log = nettest::StartLog(dir);
    SetApiHost(platform::Utf8ToWide(Service().host()).c_str());
    platform::ui::SetMessageBoxHook([](HWND, const std::wstring&, const std::wstring&, UINT) { return IDOK; });
}

}  // namespace apptest
