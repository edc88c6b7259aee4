// The process entry: the display and program options, then the program's own entry.
#include <cstdio>
#include <cstdlib>
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

bool AcceptApiHost(const std::string& host) {
    if (SetApiHost(platform::Utf8ToWide(host).c_str()) == 0) return true;
    std::fprintf(stderr, "Lumeo: not a host name or address with an optional port: %s\n%s", host.c_str(), kUsage);
    return false;
}
}

int main(int argc, char** argv) {
    platform::ui::DisplayOptions options = platform::ui::ParseDisplayOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "Lumeo: %s\n%s", options.error.c_str(), kUsage);
        return 2;
    }
    std::wstring commandLine;
    // The variable is checked as the option is, the option then winning over it.
    if (const char* env = std::getenv("LUMEO_API_HOST"); env && *env && !AcceptApiHost(env)) return 2;
    for (size_t i = 0; i < options.rest.size(); ++i) {
        const std::string& a = options.rest[i];
        if (a == "--api-host") {
            if (i + 1 >= options.rest.size()) {
                std::fprintf(stderr, "Lumeo: --api-host needs a value\n%s", kUsage);
                return 2;
            }
            if (!AcceptApiHost(options.rest[++i])) return 2;
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
    platform::ui::ReportHeadlessMessageBoxes("Lumeo");
    RegisterResources();
    FillWindowTables();
    int code = WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, commandLine.data(), SW_SHOW);
    platform::ui::StopDisplay();
    // Thumbnail or list downloads may still hang on a slow server: end without waiting.
    ExitProcess(static_cast<UINT>(code));
}
