// Programs started from a running display show their windows as it does.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/shellapi.h"
#include "platform/sync.h"
#include "platform/ui.h"

namespace {

std::string StartedSees(const std::string& dir) {
    std::string script = dir + "/env.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s %s' \"$LUMEO_HEADLESS\" \"$LUMEO_SCREEN\" > '" << dir << "/env.txt'\n";
    chmod(script.c_str(), 0755);
    std::wstring file = platform::FromNativePath(script);
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpFile = file.c_str();
    if (!ShellExecuteExW(&sei)) return "not started";
    WaitForSingleObject(sei.hProcess, 20000);
    CloseHandle(sei.hProcess);
    std::ifstream in(dir + "/env.txt");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(StartedPrograms, InheritTheDisplayModeAndTheCurrentScreen) {
    char tmpl[] = "/tmp/lumeo-children-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    unsetenv("LUMEO_HEADLESS");
    unsetenv("LUMEO_SCREEN");
    const char* argv[] = {"Lumeo", "--headless", "--screen", "480x640"};
    auto o = platform::ui::ParseDisplayOptions(4, argv);
    ASSERT_EQ(platform::ui::StartDisplay(o), 0);
    EXPECT_EQ(StartedSees(dir), "1 480x640");
    platform::ui::RotateScreen();
    EXPECT_EQ(StartedSees(dir), "1 640x480");
    platform::ui::StopDisplay();
    std::filesystem::remove_all(dir);
}

}  // namespace
