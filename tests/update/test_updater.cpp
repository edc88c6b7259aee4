// LMUpdate: its command-line checks with their boxes and log lines, the wait and the start
// of the installer; in-process for the boxes, as the real program for its own log folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <filesystem>

#include "LMUpdate.h"
#include "helpers.h"
#include "log.h"
#include "platform/codepage.h"
#include "platform/ui.h"

namespace fs = std::filesystem;
using updtest::TempTree;

namespace {

const std::string kUpdater = LMUPDATE_PATH;

// An installer that notes the one argument of each start.
void WriteInstaller(const TempTree& tree, const std::string& folder) {
    tree.Write(folder + "/wceload.exe", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + tree.At("calls.txt") + "'\n", 0755);
}

class UpdaterJob : public ::testing::Test {
protected:
    void SetUp() override {
        WriteInstaller(tree_, "win");
        setenv("LUMEO_WINDOWS_DIR", tree_.At("win").c_str(), 1);
        setenv("LUMEO_RUNTIME_DIR", tree_.At("rt").c_str(), 1);
        fs::create_directories(tree_.At("Log"));
        InitLog((tree_.Phone("Log") + L"\\").c_str(), L"LMUpdate", 3);
        RegisterResources();
        platform::ui::SetMessageBoxHook([this](HWND owner, const std::wstring& text, const std::wstring& caption,
                                               UINT type) {
            boxes_.push_back({owner, text, caption, type, IDOK});
            return IDOK;
        });
    }
    void TearDown() override {
        platform::ui::SetMessageBoxHook(nullptr);
        unsetenv("LUMEO_WINDOWS_DIR");
    }
    // The updater's job for `cmd`; its quit code and the milliseconds it took.
    int Run(const std::wstring& cmd, DWORD* took = nullptr) {
        g_cmd = cmd.c_str();
        DWORD start = GetTickCount();
        int code = RunUpdater(reinterpret_cast<HINSTANCE>(1), SW_SHOW);
        if (took) *took = GetTickCount() - start;
        // The process would end here: its window, class and the quit message go.
        if (HWND w = FindWindowW(L"LMUPDATE", L"LMUpdate")) DestroyWindow(w);
        UnregisterClassW(L"LMUPDATE", nullptr);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
        return code;
    }
    std::string Log() const { return tree_.Read("Log/LMUpdate_log_0.txt"); }
    std::string Calls(int waitMs) const {
        updtest::WaitFor(waitMs, [this] { return !tree_.Read("calls.txt").empty(); });
        return tree_.Read("calls.txt");
    }
    TempTree tree_;
    std::vector<platform::ui::MessageBoxRecord> boxes_;
};

TEST_F(UpdaterJob, BadCommandLinesShowTheirBoxAndStartNothing) {
    struct Case {
        const wchar_t* cmd;
        const wchar_t* box;
        std::string tail;  // the end of the ERROR line
    } cases[] = {
        {L"", L"升级未成功(01)", ", begin=0, end=-1, g_cmd=\n"},
        {L"type=1 a b", L"升级未成功(01)", ", begin=0, end=-1, g_cmd=type=1 a b\n"},
        {L"TYPE=1|a|b", L"升级未成功(04)", ", g_cmd=TYPE=1|a|b\n"},
        {L"type=2|a|b", L"升级未成功(04)", ", g_cmd=type=2|a|b\n"},
        {L"type=1 |a|b", L"升级未成功(04)", ", g_cmd=type=1 |a|b\n"},
        {L"type=1|a", L"升级未成功(02)", ", begin=7, end=-1, g_cmd=type=1|a\n"},
        {L"type=1|", L"升级未成功(02)", ", begin=7, end=-1, g_cmd=type=1|\n"},
    };
    // The box has no caption of its own: the system's default one.
    MessageBoxW(nullptr, L"x", nullptr, MB_OK);
    const std::wstring defaultCaption = boxes_.at(0).caption;
    size_t logged = 0;
    for (const Case& c : cases) {
        std::string cmd = platform::WideToUtf8(c.cmd);
        SCOPED_TRACE(cmd);
        boxes_.clear();
        EXPECT_EQ(Run(c.cmd), 0);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, c.box);
        EXPECT_EQ(boxes_[0].caption, defaultCaption);
        EXPECT_EQ(boxes_[0].type, UINT(MB_OK));
        EXPECT_NE(boxes_[0].owner, nullptr);
        std::string log = Log().substr(logged);
        logged += log.size();
        EXPECT_EQ(log.rfind("NOTICE ", 0), 0u) << log;
        EXPECT_NE(log.find(".\\LMUpdate.cpp("), std::string::npos) << log;
        EXPECT_NE(log.find("): cmd=\"" + cmd + "\"\n"), std::string::npos) << log;
        EXPECT_NE(log.find("\nERROR "), std::string::npos) << log;
        EXPECT_NE(log.find("Update failed : errno="), std::string::npos) << log;
        EXPECT_EQ(log.size() - log.rfind(c.tail), c.tail.size()) << log;
    }
    EXPECT_EQ(Calls(300), "");
}

TEST_F(UpdaterJob, WaitsThenStartsTheInstallerWithTheQuotedPackage) {
    struct Case {
        const wchar_t* cmd;
        std::string parameter;
    } cases[] = {
        {L"type=1|a|b|c", "\"b|c\""},
        {L"type=1|\\Program Files\\澜映\\Lumeo.exe|\\Program Files\\澜映\\Update\\Lumeo_v 1.2.CAB",
         "\"\\Program Files\\澜映\\Update\\Lumeo_v 1.2.CAB\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameter);
        std::remove(tree_.At("calls.txt").c_str());
        DWORD took = 0;
        EXPECT_EQ(Run(c.cmd, &took), 0);
        EXPECT_GE(took, DWORD(UPDATER_WAIT_MS));
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(Calls(20000), c.parameter + "\n");
    }
    EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
}

// The updater's own folder function: a folder that is there will do, a file of its name not.
TEST_F(UpdaterJob, FolderCreationTakesNoFileForAFolder) {
    EXPECT_EQ(MyCreateDirectory(tree_.Phone("Log").c_str()), 0);
    EXPECT_EQ(Log(), "");
    tree_.Write("Plain", "a file");
    EXPECT_EQ(MyCreateDirectory(tree_.Phone("Plain").c_str()), -1);
    EXPECT_EQ(g_errno, DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Log().rfind("WARNING ", 0), 0u) << Log();
    EXPECT_NE(Log().find("Can't create directory : errno=183, msg="), std::string::npos) << Log();
    EXPECT_EQ(tree_.Read("Plain"), "a file");
}

TEST_F(UpdaterJob, AnInstallerThatCannotStartIsLogged) {
    setenv("LUMEO_WINDOWS_DIR", tree_.At("none").c_str(), 1);
    EXPECT_EQ(Run(L"type=1|a|b"), 0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_NE(Log().find("\nERROR "), std::string::npos) << Log();
    EXPECT_NE(Log().find("ShellExecuteEx failed : errno=3, msg="), std::string::npos) << Log();
}

// The real program, copied as the main program copies it.
class UpdaterProgram : public ::testing::Test {
protected:
    std::string Install(const std::string& folder) {
        fs::create_directories(tree_.At(folder + "/Update"));
        std::string copy = tree_.At(folder + "/Update/LMUpdate_cp.exe");
        fs::copy_file(kUpdater, copy);
        WriteInstaller(tree_, "win");
        return copy;
    }
    std::vector<std::string> Env() const {
        return {"LUMEO_HEADLESS=1", "LUMEO_SCREEN=480x800", "LUMEO_RUNTIME_DIR=" + tree_.At("rt"),
                "LUMEO_WINDOWS_DIR=" + tree_.At("win")};
    }
    std::string PhoneText(const std::string& rel) const { return platform::WideToUtf8(tree_.Phone(rel)); }
    TempTree tree_;
};

TEST_F(UpdaterProgram, LogsIntoTheProgramsLogFolderAndStartsTheInstaller) {
    std::string updater = Install("prog");
    // The system folder is the program folder's Windows folder, above the updater's own.
    WriteInstaller(tree_, "prog/Windows");
    std::vector<std::string> env = Env();
    env.back() = "LUMEO_WINDOWS_DIR";
    std::string cmd = "type=1|" + PhoneText("prog") + "\\Lumeo.exe|" + PhoneText("prog") + "\\Update\\Lumeo_v 2.CAB";
    EXPECT_EQ(updtest::WaitExit(updtest::Spawn({updater, cmd}, env), 60000), 0);
    std::string log = tree_.Read("prog/Log/LMUpdate_log_0.txt");
    EXPECT_EQ(log.rfind("NOTICE ", 0), 0u) << log;
    EXPECT_NE(log.find(": cmd=\"" + cmd + "\"\n"), std::string::npos) << log;
    EXPECT_EQ(tree_.Read("prog/Log/LMUpdate_logstate.txt"), "10 500 0 0 ");
    EXPECT_TRUE(updtest::WaitFor(20000, [&] { return !tree_.Read("calls.txt").empty(); }));
    EXPECT_EQ(tree_.Read("calls.txt"), "\"" + PhoneText("prog") + "\\Update\\Lumeo_v 2.CAB\"\n");
}

TEST_F(UpdaterProgram, AnOwnPathTooLongToHoldSetsUpNoLog) {
    // Cut at 255 characters the path would end inside the last folder's name, and "..\Log"
    // of what is left would be a folder outside the program.
    std::string deep = std::string(120, 'd') + "/" + std::string(150, 'e');
    std::string updater = Install(deep);
    ASSERT_GT(platform::Utf8ToWide(updater).size(), size_t(UPDATER_PATH_LEN));
    EXPECT_EQ(updtest::WaitExit(updtest::Spawn({updater, "type=1|a|b.CAB"}, Env()), 60000), 0);
    for (auto& [path, bytes] : updtest::Snapshot(tree_.path())) EXPECT_EQ(path.find("Log"), std::string::npos) << path;
    EXPECT_TRUE(updtest::WaitFor(20000, [&] { return !tree_.Read("calls.txt").empty(); }));
    EXPECT_EQ(tree_.Read("calls.txt"), "\"b.CAB\"\n");
}

TEST_F(UpdaterProgram, ASecondUpdaterShowsTheFirstAndEnds) {
    std::string updater = Install("prog");
    pid_t first = updtest::Spawn({updater, "type=1|a|first.CAB"}, Env());
    // Its window is announced while its creation (the job) still runs.
    ASSERT_TRUE(updtest::WaitFor(20000, [&] {
        for (auto& [path, bytes] : updtest::Snapshot(tree_.At("rt")))
            if (path.size() > 4 && path.compare(path.size() - 4, 4, ".win") == 0 && bytes.find("LMUPDATE") != std::string::npos)
                return true;
        return false;
    }));
    pid_t second = updtest::Spawn({updater, "type=1|a|second.CAB"}, Env());
    EXPECT_EQ(updtest::WaitExit(second, 60000), 0);
    EXPECT_EQ(updtest::WaitExit(first, 60000), 0);
    EXPECT_TRUE(updtest::WaitFor(20000, [&] { return !tree_.Read("calls.txt").empty(); }));
    updtest::WaitFor(500, [] { return false; });  // a second start, if any, would show by now
    EXPECT_EQ(tree_.Read("calls.txt"), "\"first.CAB\"\n");
    std::string log = tree_.Read("prog/Log/LMUpdate_log_0.txt");
    EXPECT_EQ(log.find("second.CAB"), std::string::npos) << log;
}

// Headless, nobody can answer the box that tells of a bad command line: it takes its answer
// and the updater ends, having logged why.
TEST_F(UpdaterProgram, ABadCommandLineHeadlessEndsAndIsLogged) {
    std::string updater = Install("prog");
    const char* bad[] = {"nonsense", "type=2|a|b.CAB", "type=1|a"};
    for (const char* cmd : bad) EXPECT_NE(updtest::WaitExit(updtest::Spawn({updater, cmd}, Env()), 20000), -1) << cmd;
    std::string log = tree_.Read("prog/Log/LMUpdate_log_0.txt");
    size_t failed = 0;
    for (size_t at = log.find("Update failed : errno="); at != std::string::npos; at = log.find("Update failed", at + 1))
        ++failed;
    EXPECT_EQ(failed, std::size(bad)) << log;
    EXPECT_TRUE(tree_.Read("calls.txt").empty()) << "no installer for a bad command line";
}

}  // namespace
