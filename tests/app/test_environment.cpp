// The in-process program under test sees the environment its test sets, none of the user's:
// with odd LUMEO_* values in the shell, and another Lumeo frame running in the runtime folder
// those values name, the in-process tests still start and pass.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string RunShell(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    *status = pclose(p);
    return out;
}

TEST(Environment, TheUsersLumeoValuesDoNotReachTheProgramUnderTest) {
    std::string dir = testing::TempDir() + "/lumeo-userenv-" + std::to_string(getpid());
    fs::remove_all(dir);
    fs::create_directories(dir + "/run");
    // A frame of another Lumeo, published in the user's runtime folder while the tests run.
    FILE* other = popen(("LUMEO_RUNTIME_DIR='" + dir + "/run' '" LUMEO_INSTANCE_HELPER "'").c_str(), "r");
    ASSERT_NE(other, nullptr);
    char ready[64] = {};
    ASSERT_NE(fgets(ready, sizeof ready, other), nullptr);
    ASSERT_EQ(std::string(ready), "ready\n");

    // What a user's shell may hold (docs/using.md's variables), none of it this test's.
    std::string odd = "LUMEO_RUNTIME_DIR='" + dir + "/run' LUMEO_REGISTRY_FILE='" + dir +
                      "/no/such/folder/registry.db' LUMEO_SCREEN=123x45 LUMEO_HEADLESS=0 LUMEO_API_HOST=192.0.2.1:9 "
                      "LUMEO_CONNMGR='dest=Work,connect=fail' LUMEO_CONNMGR_FILE=/no/such/file LUMEO_OS_VERSION=1.2.3 "
                      "LUMEO_PLATFORM_TYPE=Odd LUMEO_PLATFORM_TYPE_DENIED=1 LUMEO_OEM_INFO=Odd "
                      "LUMEO_MACHINE_ID_FILE=/no/such/file LUMEO_DISPLAY_ORIENTATION=90 LUMEO_DLL_PATH=/no/such/folder "
                      "LUMEO_WINDOWS_DIR=/no/such/folder LUMEO_WCELOAD_WAIT=0 LUMEO_WININET_NO_GOONLINE=1";
    std::string self = fs::read_symlink("/proc/self/exe").string();
    for (const char* test : {"Program.TabsSwitchPagesAndRedrawTheCurrentTab", "Program.ExitAnsweredNoKeepsTheProgramAndYesEndsIt",
                             "Tools.DisplayOrientationQueryAnswersTheDisplaysTurn"}) {
        int status = -1;
        std::string out = RunShell("env " + odd + " '" + self + "' --gtest_filter=" + test, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test << ":\n" << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << test << ":\n" << out;
    }
    pclose(other);
    fs::remove_all(dir);
}

}  // namespace
