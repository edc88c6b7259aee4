// Starting programs, the phone's system folder and copies that stay runnable.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/shellapi.h"
#include "platform/sync.h"

namespace fs = std::filesystem;

namespace {

class Programs : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lumeo-process-XXXXXX";
        root_ = mkdtemp(tmpl);
    }
    void TearDown() override {
        unsetenv("LUMEO_WINDOWS_DIR");
        fs::remove_all(root_);
    }
    std::wstring Phone(const std::string& rel) const { return platform::FromNativePath(root_ + "/" + rel); }
    // A shell script; "$OUT" in `body` is a file beside it for what it reports.
    void Script(const std::string& rel, const std::string& body, int mode = 0755) const {
        fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
        std::ofstream(root_ + "/" + rel) << "#!/bin/sh\nOUT='" << root_ << "/out.txt'\n" << body << "\n";
        chmod((root_ + "/" + rel).c_str(), mode);
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(root_ + "/" + rel);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Starts the program and waits for its end; its exit code, or -1 when it did not start.
    long Start(const std::wstring& file, const wchar_t* parameters, DWORD* error = nullptr,
               const wchar_t* verb = L"Open") {
        SHELLEXECUTEINFOW sei{};
        sei.cbSize = sizeof sei;
        sei.fMask = SEE_MASK_NOCLOSEPROCESS;
        sei.lpVerb = verb;
        sei.lpFile = file.c_str();
        sei.lpParameters = parameters;
        sei.nShow = 1;
        if (!ShellExecuteExW(&sei)) {
            if (error) *error = GetLastError();
            EXPECT_EQ(sei.hProcess, nullptr);
            return -1;
        }
        EXPECT_NE(sei.hProcess, nullptr);
        EXPECT_EQ(WaitForSingleObject(sei.hProcess, 20000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(sei.hProcess, &code));
        CloseHandle(sei.hProcess);
        return static_cast<long>(code);
    }
    std::string root_;
};

TEST_F(Programs, ParametersArriveVerbatimAsOneArgument) {
    Script("prog.sh", "printf '%s|' \"$#\" \"$@\" > \"$OUT\"\nexit 7");
    const wchar_t* cases[] = {
        L"type=1|\\Program Files\\Lumeo\\Lumeo.exe|\\Program Files\\Lumeo\\Update\\Lumeo_1.2.CAB",
        L"\"C:\\a b\\c.CAB\"",
        L"  两个  空格 '引号' $HOME `x` ",
    };
    for (const wchar_t* p : cases) {
        EXPECT_EQ(Start(Phone("prog.sh"), p), 7);
        EXPECT_EQ(Read("out.txt"), "1|" + platform::WideToUtf8(p) + "|");
    }
    // Without parameters the program gets no argument.
    EXPECT_EQ(Start(Phone("prog.sh"), nullptr), 7);
    EXPECT_EQ(Read("out.txt"), "0|");
}

TEST_F(Programs, StartFailuresCarryTheirCodes) {
    Script("plain.txt", "exit 0", 0644);
    fs::create_directories(root_ + "/folder");
    Script("prog.sh", "exit 0");
    struct Case {
        std::wstring file;
        const wchar_t* verb;
        DWORD error;
    } cases[] = {
        {Phone("none.exe"), L"Open", ERROR_FILE_NOT_FOUND},
        {Phone("no/such/prog.exe"), L"Open", ERROR_PATH_NOT_FOUND},
        {Phone("plain.txt"), L"Open", ERROR_ACCESS_DENIED},
        {Phone("folder"), L"Open", ERROR_ACCESS_DENIED},
        {Phone("prog.sh"), L"print", ERROR_NO_ASSOCIATION},
        {L"", L"Open", ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        DWORD error = 0;
        EXPECT_EQ(Start(c.file, nullptr, &error, c.verb), -1) << platform::WideToUtf8(c.file);
        EXPECT_EQ(error, c.error) << platform::WideToUtf8(c.file);
    }
    // "open" in any case, or no verb, starts the program.
    EXPECT_EQ(Start(Phone("prog.sh"), nullptr, nullptr, L"OPEN"), 0);
    EXPECT_EQ(Start(Phone("prog.sh"), nullptr, nullptr, nullptr), 0);

    SHELLEXECUTEINFOW sei{};
    sei.cbSize = 60;  // a record of another layout
    std::wstring file = Phone("prog.sh");
    sei.lpFile = file.c_str();
    EXPECT_FALSE(ShellExecuteExW(&sei));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(Programs, OnlyTheStandardStreamsAreInherited) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);  // without close-on-exec
    Script("prog.sh", "if [ -e /proc/$$/fd/$1 ]; then echo open > \"$OUT\"; else echo closed > \"$OUT\"; fi\n"
                      "[ -e /proc/$$/fd/2 ] && echo err >> \"$OUT\"");
    EXPECT_EQ(Start(Phone("prog.sh"), std::to_wstring(fds[1]).c_str()), 0);
    EXPECT_EQ(Read("out.txt"), "closed\nerr\n");
    close(fds[0]);
    close(fds[1]);
}

TEST_F(Programs, EndedProgramsAreReapedWithoutAHandle) {
    Script("prog.sh", "echo $$ > \"$OUT\"");
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    std::wstring file = Phone("prog.sh");
    sei.lpFile = file.c_str();
    ASSERT_TRUE(ShellExecuteExW(&sei));
    EXPECT_EQ(sei.hProcess, nullptr);  // not asked for
    // Once it has ended, no process of that id is left (a zombie would stay until reaped).
    std::string pid;
    for (int i = 0; i < 200 && pid.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pid = Read("out.txt");
    }
    ASSERT_FALSE(pid.empty());
    pid.pop_back();
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gone = access(("/proc/" + pid).c_str(), F_OK) != 0;
    }
    EXPECT_TRUE(gone) << "process " << pid << " was not reaped";
}

TEST_F(Programs, RunningProgramReportsStillActive) {
    // Runs until told (or 20 s at most).
    Script("prog.sh", "i=0\nwhile [ ! -e \"$OUT.go\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\nexit 3");
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    std::wstring file = Phone("prog.sh");
    sei.lpFile = file.c_str();
    ASSERT_TRUE(ShellExecuteExW(&sei));
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(sei.hProcess, 100), WAIT_TIMEOUT);
    EXPECT_TRUE(GetExitCodeProcess(sei.hProcess, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    std::ofstream(root_ + "/out.txt.go") << "go";
    EXPECT_EQ(WaitForSingleObject(sei.hProcess, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(sei.hProcess, &code));
    EXPECT_EQ(code, 3u);
    CloseHandle(sei.hProcess);
}

TEST_F(Programs, ChildEnvironmentOverridesAndRemovals) {
    setenv("LUMEO_TEST_KEEP", "kept", 1);
    setenv("LUMEO_TEST_DROP", "dropped", 1);
    platform::SetChildEnvironment("LUMEO_TEST_SET", "所设");
    platform::SetChildEnvironment("LUMEO_TEST_DROP", nullptr);
    Script("prog.sh", "printf '%s,%s,%s' \"$LUMEO_TEST_KEEP\" \"${LUMEO_TEST_DROP-unset}\" \"$LUMEO_TEST_SET\" > \"$OUT\"");
    EXPECT_EQ(Start(Phone("prog.sh"), nullptr), 0);
    EXPECT_EQ(Read("out.txt"), "kept,unset,所设");
    EXPECT_STREQ(getenv("LUMEO_TEST_DROP"), "dropped");  // this process's own stays
}

TEST_F(Programs, SystemFolderMapsToWindowsDirectory) {
    unsetenv("LUMEO_WINDOWS_DIR");
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string beside = fs::path(std::string(exe, n)).parent_path().string() + "/Windows";
    struct Case {
        const wchar_t* phone;
        std::string native;
    } defaults[] = {
        {L"\\Windows\\wceload.exe", beside + "/wceload.exe"},
        {L"\\WINDOWS\\sub\\x.txt", beside + "/sub/x.txt"},
        {L"\\windows", beside},
        {L"\\Windowsx\\a", "/Windowsx/a"},
        {L"Windows\\a", "Windows/a"},
        {L"\\Program Files\\Windows\\a", "/Program Files/Windows/a"},
    };
    for (const Case& c : defaults) EXPECT_EQ(platform::ToNativePath(c.phone), c.native);

    setenv("LUMEO_WINDOWS_DIR", (root_ + "/sys").c_str(), 1);
    EXPECT_EQ(platform::ToNativePath(L"\\Windows\\wceload.exe"), root_ + "/sys/wceload.exe");
    Script("sys/wceload.exe", "printf '%s' \"$1\" > \"$OUT\"");
    EXPECT_EQ(Start(L"\\Windows\\wceload.exe", L"\"\\a b\\Update\\Lumeo_1.CAB\""), 0);
    EXPECT_EQ(Read("out.txt"), "\"\\a b\\Update\\Lumeo_1.CAB\"");
    // The file functions see the same folder.
    EXPECT_NE(GetFileAttributesW(L"\\Windows\\wceload.exe"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Programs, CopyKeepsPermissionBits) {
    for (int mode : {0755, 0700, 0644, 0600}) {
        Script("src.exe", "exit 5", mode);
        std::ofstream(root_ + "/dst.exe") << "an older copy";
        chmod((root_ + "/dst.exe").c_str(), 0644);
        ASSERT_TRUE(CopyFileW(Phone("src.exe").c_str(), Phone("dst.exe").c_str(), FALSE));
        struct stat st{};
        ASSERT_EQ(stat((root_ + "/dst.exe").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(mode));
        EXPECT_EQ(Read("dst.exe"), Read("src.exe"));
    }
    // A copied program runs.
    Script("src.exe", "exit 5", 0755);
    ASSERT_TRUE(CopyFileW(Phone("src.exe").c_str(), Phone("copy.exe").c_str(), FALSE));
    EXPECT_EQ(Start(Phone("copy.exe"), nullptr), 5);
}

}  // namespace
