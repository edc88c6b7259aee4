// The process entry: the display as the starting program left it in the environment, and
// the command line the starter handed over.
#include <cstdio>
#include <string>

#include "LMUpdate.h"
#include "platform/codepage.h"
#include "platform/ui.h"

int main(int argc, char** argv) {
    // The starter passes the whole command line as one argument; by hand it may come in pieces.
    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
    std::wstring commandLine = platform::Utf8ToWide(line);

    platform::ui::DisplayOptions options = platform::ui::ParseDisplayOptions(1, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "LMUpdate: %s\n", options.error.c_str());
        return 2;
    }
    if (platform::ui::StartDisplay(options) != 0) return 1;
    platform::ui::ReportHeadlessMessageBoxes("LMUpdate");
    RegisterResources();
    int code = WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, commandLine.data(), SW_SHOW);
    platform::ui::StopDisplay();
    return code;
}
