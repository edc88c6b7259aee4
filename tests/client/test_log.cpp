#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "platform/lasterror.h"
#include "program_folder.h"

namespace {

class LogTest : public ProgramFolder {
protected:
    void SetUp() override {
        ProgramFolder::SetUp();
        std::filesystem::create_directory(Native("Log"));
        logDir_ = Phone("Log") + L"\\";
    }
    void TearDown() override {
        g_logPath[0] = 0;
        g_logLevel = LOG_DEBUG;
        ProgramFolder::TearDown();
    }
    std::string Lines(int n) const {
        std::string s;
        for (int i = 0; i < n; ++i) s += "line\n";
        return s;
    }
    CStringW logDir_;
};

TEST_F(LogTest, FirstStartCreatesStateAndUsesFileZero) {
    EXPECT_EQ(InitLog(logDir_, L"Lumeo", 3), 0);
    EXPECT_EQ(Read("Log/Lumeo_logstate.txt"), "10 500 0 0 ");
    EXPECT_EQ(g_logLevel, 3);
    EXPECT_EQ(std::wstring(g_logPath), std::wstring(logDir_ + L"\\Lumeo_log_0.txt"));
    LOG(LOG_NOTICE, L"hello");
    EXPECT_TRUE(Exists("Log/Lumeo_log_0.txt"));
}

TEST_F(LogTest, StateWithoutItsLogFileFailsButStillLogsToThatFile) {
    Write("Log/Lumeo_logstate.txt", "10 500 0 0 ");
    EXPECT_EQ(InitLog(logDir_, L"Lumeo", 3), -1);
    LOG(LOG_WARNING, L"still here");
    EXPECT_NE(Read("Log/Lumeo_log_0.txt").find("still here"), std::string::npos);
}

TEST_F(LogTest, FullFileRotatesAndDropsTheOldest) {
    Write("Log/Lumeo_logstate.txt", "10 500 0 9 ");
    Write("Log/Lumeo_log_0.txt", Lines(500));
    Write("Log/Lumeo_log_9.txt", Lines(500));
    EXPECT_EQ(InitLog(logDir_, L"Lumeo", 3), 0);
    EXPECT_EQ(Read("Log/Lumeo_logstate.txt"), "10 500 1 10 ");
    EXPECT_FALSE(Exists("Log/Lumeo_log_0.txt"));
    EXPECT_TRUE(Exists("Log/Lumeo_log_9.txt"));
    EXPECT_EQ(std::wstring(g_logPath), std::wstring(logDir_ + L"\\Lumeo_log_10.txt"));
}

TEST_F(LogTest, LineCountDecidesRotation) {
    struct Case {
        const char* log;
        const char* stateAfter;
        const wchar_t* file;
    } cases[] = {
        {"", "10 500 2 4 ", L"Lumeo_log_4.txt"},        // 499 lines: stay
        {"tail", "10 500 2 5 ", L"Lumeo_log_5.txt"},    // a last line without LF counts
        {"\n", "10 500 2 5 ", L"Lumeo_log_5.txt"},      // 500 lines: next file, nothing deleted
    };
    for (const Case& c : cases) {
        Write("Log/Lumeo_logstate.txt", "10 500 2 4 ");
        Write("Log/Lumeo_log_4.txt", Lines(499) + c.log);
        EXPECT_EQ(InitLog(logDir_, L"Lumeo", 3), 0) << c.stateAfter;
        EXPECT_EQ(Read("Log/Lumeo_logstate.txt"), c.stateAfter);
        EXPECT_EQ(std::wstring(g_logPath), std::wstring(logDir_ + L"\\" + c.file));
    }
}

TEST_F(LogTest, StateNumbersNeedAFollowingDelimiter) {
    struct Case {
        const char* state;
        const wchar_t* file;
    } cases[] = {
        {"10 500 0 3", L"Lumeo_log_0.txt"},      // the fourth number is not read
        {"10\t500\r0\n3\n", L"Lumeo_log_3.txt"},  // any of the four delimiters
        {"garbage", L"Lumeo_log_0.txt"},
        {"10 500 7 3 ", L"Lumeo_log_0.txt"},      // first above current: damaged, start over
        {"10 500 0 99999999999999999999 ", L"Lumeo_log_0.txt"},
        {"", L"Lumeo_log_0.txt"},
    };
    for (const Case& c : cases) {
        Write("Log/Lumeo_logstate.txt", c.state);
        InitLog(logDir_, L"Lumeo", 3);
        EXPECT_EQ(std::wstring(g_logPath), std::wstring(logDir_ + L"\\" + c.file)) << c.state;
    }
}

TEST_F(LogTest, NullArgumentsFail) {
    EXPECT_EQ(InitLog(nullptr, L"Lumeo", 3), -1);
    EXPECT_EQ(InitLog(logDir_, nullptr, 3), -1);
    EXPECT_EQ(g_logPath[0], L'\0');
}

TEST_F(LogTest, TooLongFolderIsRefusedNotCut) {
    CStringW dir = logDir_ + CStringW(L'x', 500) + L"\\";
    EXPECT_EQ(InitLog(dir, L"Lumeo", 3), -1);
    EXPECT_EQ(g_logPath[0], L'\0');
}

TEST_F(LogTest, LineFormatLevelFilterAndUtf8) {
    InitLog(logDir_, L"Lumeo", 3);
    LOG(LOG_DEBUG, L"not written");
    LOG(LOG_NOTICE, L"LoadXML : wXML=%s", L"\\Xml\\热门_1.xml");
    LOG(LOG_ERROR, L"code=%d", -7);
    std::string text = Read("Log/Lumeo_log_0.txt");
    std::regex line(
        "NOTICE [0-9]{6,8} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2} \\.\\\\test_log\\.cpp\\([0-9]+\\): "
        "LoadXML : wXML=\\\\Xml\\\\\xE7\x83\xAD\xE9\x97\xA8_1\\.xml\n"
        "ERROR [0-9]{6,8} [0-9:]+ \\.\\\\test_log\\.cpp\\([0-9]+\\): code=-7\n");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LogTest, LinesFromManyThreadsArriveWhole) {
    InitLog(logDir_, L"Lumeo", 3);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) LOG(LOG_WARNING, L"thread %d line %d %s", t, i, CStringW(L'z', 300));
        });
    for (auto& th : threads) th.join();
    std::string text = Read("Log/Lumeo_log_0.txt");
    std::regex line("WARNING [0-9]+ [0-9:]+ \\.\\\\test_log\\.cpp\\([0-9]+\\): thread [0-7] line [0-9]+ z{300}");
    size_t count = 0, start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        EXPECT_TRUE(std::regex_match(text.substr(start, end - start), line));
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, 1600u);
    EXPECT_EQ(start, text.size());
}

TEST_F(LogTest, LoggingKeepsTheLastError) {
    InitLog(logDir_, L"Lumeo", 3);
    SetLastError(ERROR_ALREADY_EXISTS);
    LOG(LOG_WARNING, L"x");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
}

// A small file system of its own (tmpfs) where the test may mount one; else the same
// short writes come from a file size limit.
class SmallDisk {
public:
    SmallDisk(const std::string& dir, const char* size) : dir_(dir) {
        std::filesystem::create_directories(dir);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~SmallDisk() {
        Free();
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    // Leaves about `bytes` free on the disk (or below the size limit for the file `log`).
    void Fill(size_t bytes, const std::string& log) {
        if (!mounted_) {
            ::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &saved_);
            rlimit r = saved_;
            r.rlim_cur = std::filesystem::file_size(log) + bytes;
            limited_ = ::setrlimit(RLIMIT_FSIZE, &r) == 0;
            return;
        }
        FILE* f = std::fopen((dir_ + "/filler").c_str(), "wb");
        std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
        }
        std::fclose(f);
        std::filesystem::resize_file(dir_ + "/filler", std::filesystem::file_size(dir_ + "/filler") - bytes);
    }
    void Free() {
        if (limited_) ::setrlimit(RLIMIT_FSIZE, &saved_);
        limited_ = false;
        std::error_code ec;
        std::filesystem::remove(dir_ + "/filler", ec);
    }

private:
    std::string dir_;
    bool mounted_ = false, limited_ = false;
    rlimit saved_{};
};

TEST_F(LogTest, ALineThatDoesNotFitIsNotWrittenAndTheNextStandsAlone) {
    SmallDisk disk(Native("small"), "5m");
    CStringW dir = Phone("small") + L"\\";
    InitLog(dir, L"Lumeo", 3);
    LOG(LOG_NOTICE, L"before");
    disk.Fill(20000, Native("small/Lumeo_log_0.txt"));
    // 60,000 three-byte characters: far more than the disk has left.
    LOG(LOG_NOTICE, L"big %s", CStringW(L'\x70ed', 60000));
    disk.Free();
    LOG(LOG_NOTICE, L"after");
    // The next start goes on in the same file.
    InitLog(dir, L"Lumeo", 3);
    LOG(LOG_NOTICE, L"next run");
    std::string text = Read("small/Lumeo_log_0.txt");
    std::regex lines(
        "NOTICE [0-9]+ [0-9:]+ \\.\\\\test_log\\.cpp\\([0-9]+\\): before\n"
        "NOTICE [0-9]+ [0-9:]+ \\.\\\\test_log\\.cpp\\([0-9]+\\): after\n"
        "NOTICE [0-9]+ [0-9:]+ \\.\\\\test_log\\.cpp\\([0-9]+\\): next run\n");
    EXPECT_TRUE(std::regex_match(text, lines)) << text.size() << " bytes: " << text.substr(0, 200);
}

TEST(GetErrorMsg, SystemTextOrFallback) {
    EXPECT_EQ(std::wstring(GetErrorMsg(ERROR_FILE_NOT_FOUND)), L"The system cannot find the file specified.") << "one line in the log";
    EXPECT_EQ(std::wstring(GetErrorMsg(0x7FFF1234)), L"FormatMessage failed, errno=317");
}

}  // namespace
