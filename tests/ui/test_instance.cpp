// One instance across processes: a frame published by another process is found by class
// and title, brought to the front (with the low bit set, as the program passes it) and
// sent WM_COPYDATA; once that process ends, it is found no more and its socket is gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/codepage.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

TEST(SingleInstance, FrameOfAnotherProcessIsFoundAndReached) {
    std::string dir = testing::TempDir() + "/ui_runtime-" + std::to_string(getpid());
    struct Gone {
        std::string path;
        ~Gone() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } gone{dir};
    setenv("LUMEO_RUNTIME_DIR", dir.c_str(), 1);
    auto sockets = [&] {
        int n = 0;
        for (auto& e : std::filesystem::directory_iterator(dir)) n += e.path().extension() == ".sock";
        return n;
    };
    // The socket of a process that was killed, with a number no process can have.
    std::filesystem::create_directories(dir);
    std::string stale = dir + "/999999999.sock";
    { std::ofstream touch(stale); }
    EXPECT_EQ(FindWindowW(L"澜映", L"澜映"), nullptr);
    FILE* child = popen(("LUMEO_RUNTIME_DIR=" + dir + " " + LUMEO_INSTANCE_HELPER).c_str(), "r");
    ASSERT_NE(child, nullptr);
    char line[256] = {0};
    ASSERT_NE(fgets(line, sizeof line, child), nullptr);
    EXPECT_STREQ(line, "ready\n");
    EXPECT_FALSE(std::filesystem::exists(stale)) << "a stale socket stays";
    EXPECT_EQ(sockets(), 1) << "the helper's own";
    EXPECT_EQ(FindWindowW(L"澜映", L"别的"), nullptr);  // the title must match too
    HWND other = FindWindowW(L"澜映", L"澜映");
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(other) | 1)));
    std::string bytes = platform::WideToUtf16LeBytes(L"type=1");
    bytes.append(2, '\0');
    COPYDATASTRUCT cds{0, static_cast<DWORD>(bytes.size()), bytes.data()};
    SetLastError(0);
    EXPECT_EQ(SendMessageW(other, WM_COPYDATA, reinterpret_cast<WPARAM>(other), reinterpret_cast<LPARAM>(&cds)), 1)
        << GetLastError();
    ASSERT_NE(fgets(line, sizeof line, child), nullptr);
    EXPECT_STREQ(line, "foreground 1 copied type=1\n");
    EXPECT_EQ(pclose(child), 0);
    // Its window is gone with it, and so is its socket.
    EXPECT_EQ(FindWindowW(L"澜映", L"澜映"), nullptr);
    EXPECT_EQ(sockets(), 0);
}

}  // namespace
