// The process entry: the display and program options, then the program's own entry.
#include <cstdio>
#include <string>

#include "listview.h"
#include "lumeo.h"
#include "platform/sync.h"
#include "platform/ui.h"

void FillWindowTables();

namespace {
const char kUsage[] =
    "usage: Lumeo [--screen WxH] [--headless] [--script FILE] [--api-host HOST[:PORT]]\n"
    "  (environment: LUMEO_SCREEN, LUMEO_HEADLESS, LUMEO_API_HOST)\n";
}

int main(int argc, char** argv) {
    platform::ui::DisplayOptions options = platform::ui::ParseDisplayOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "Lumeo: %s\n%s", options.error.c_str(), kUsage);
        return 2;
    }
    std::wstring commandLine;
    for (size_t i = 0; i < options.rest.size(); ++i) {
        const std::string& a = options.rest[i];
        if (a == "--api-host" && i + 1 < options.rest.size()) {
            const std::string& host = options.rest[++i];
            if (SetApiHost(platform::Utf8ToWide(host).c_str()) != 0) {
                std::fprintf(stderr, "Lumeo: not a host name or address with an optional port: %s\n%s", host.c_str(),
                             kUsage);
                return 2;
            }
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "Lumeo: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    platform::ui::SetIdleProbe(ProgramBusy);
    if (platform::ui::StartDisplay(options) != 0) return 1;
    RegisterResources();
    FillWindowTables();
    int code = WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, commandLine.data(), SW_SHOW);
    platform::ui::StopDisplay();
    // Thumbnail or list downloads may still hang on a slow server: end without waiting.
    ExitProcess(static_cast<UINT>(code));
}
