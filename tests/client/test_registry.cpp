#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "platform/codepage.h"
#include "platform/device.h"
#include "registry.h"

namespace {

class Registry : public LoggedFolder {
protected:
    void SetUp() override {
        LoggedFolder::SetUp();
        platform::SetRegistryFile(Native("user/registry.db"));
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, &g_hKeySearchWord), 0);
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_FULLSCREEN, &g_hKeyFullScreen), 0);
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_DRIVER, &g_hKeyDriver), 0);
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_IGNOREVERSION, &g_hKeyIgnoreVersion), 0);
    }
    void TearDown() override {
        for (HKEY k : {g_hKeySearchWord, g_hKeyFullScreen, g_hKeyDriver, g_hKeyIgnoreVersion})
            EXPECT_EQ(MyCloseReg(k), ERROR_SUCCESS);
        platform::SetRegistryFile("");
        platform::SetDisplayOrientation(DMDO_0);
        LoggedFolder::TearDown();
    }
    void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((platform::WideToUtf16(text).size() + 1) * 2)),
                  ERROR_SUCCESS);
    }
    // The stored size in bytes, or -1 when absent.
    long long Size(HKEY key, const wchar_t* name) {
        DWORD cb = 0;
        LONG r = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &cb);
        return r == ERROR_SUCCESS ? static_cast<long long>(cb) : -1;
    }
    CStringW words_[3] = {L"x", L"y", L"z"};
};

TEST_F(Registry, FirstRunReadsTheDefaults) {
    EXPECT_EQ(GetSearchWordReg(g_hKeySearchWord, words_, 3), 0);
    for (const CStringW& w : words_) EXPECT_TRUE(w.IsEmpty());
    int video = 7, audio = 7;
    EXPECT_EQ(GetVideoDriverReg(g_hKeyDriver, video), 0);
    EXPECT_EQ(video, -1);
    EXPECT_EQ(GetAudioDriverReg(g_hKeyDriver, audio), 0);
    EXPECT_EQ(audio, 0);
    CStringW version = L"old";
    EXPECT_EQ(GetIgnoreVersionReg(g_hKeyIgnoreVersion, version), 0);
    EXPECT_TRUE(version.IsEmpty());
    EXPECT_EQ(LogText(), "");
    HKEY k;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Lumeo\\History", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Other", 0, KEY_ALL_ACCESS, &k), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, HistoryRoundTripAndGaps) {
    CStringW saved[3] = {L"热门", L"", L""};
    ASSERT_EQ(SetSearchWordReg(g_hKeySearchWord, saved, 3), 0);
    EXPECT_EQ(Size(g_hKeySearchWord, L"SearchWord_0"), 6);  // (2 characters + 1) x 2
    EXPECT_EQ(Size(g_hKeySearchWord, L"SearchWord_1"), 2);  // empty texts are stored
    EXPECT_EQ(Size(g_hKeySearchWord, L"SearchWord_2"), 2);
    EXPECT_EQ(GetSearchWordReg(g_hKeySearchWord, words_, 3), 0);
    EXPECT_EQ(words_[0], L"热门");
    EXPECT_TRUE(words_[1].IsEmpty() && words_[2].IsEmpty());

    RegDeleteValueW(g_hKeySearchWord, L"SearchWord_1");
    SetText(g_hKeySearchWord, L"SearchWord_2", L"later");
    EXPECT_EQ(GetSearchWordReg(g_hKeySearchWord, words_, 3), 0);
    EXPECT_EQ(words_[0], L"热门");
    EXPECT_TRUE(words_[1].IsEmpty());
    EXPECT_TRUE(words_[2].IsEmpty());  // reading stops at the gap
}

TEST_F(Registry, TextOver255CharactersFailsTheRead) {
    SetText(g_hKeySearchWord, L"SearchWord_0", std::wstring(255, L'a'));
    SetText(g_hKeySearchWord, L"SearchWord_1", std::wstring(256, L'b'));
    SetText(g_hKeySearchWord, L"SearchWord_2", L"c");
    EXPECT_EQ(GetSearchWordReg(g_hKeySearchWord, words_, 3), -1);
    EXPECT_EQ(words_[0], CStringW(L'a', 255));
    EXPECT_TRUE(words_[1].IsEmpty());
    EXPECT_TRUE(words_[2].IsEmpty());
    EXPECT_TRUE(Logged("RegQueryValueEx failed, errno=234, msg=More data is available.\n"));
    EXPECT_TRUE(Logged(".\\registry.cpp("));

    // 128 characters outside the 16-bit range take 514 bytes on the phone: too long as well.
    SetText(g_hKeyIgnoreVersion, L"IgnoreVersion", std::wstring(128, L'\U0001F600'));
    CStringW version = L"x";
    EXPECT_EQ(GetIgnoreVersionReg(g_hKeyIgnoreVersion, version), -1);
    EXPECT_TRUE(version.IsEmpty());
}

TEST_F(Registry, ClearDeletesUpToTheFirstMissingIndex) {
    EXPECT_EQ(ClearSearchWordReg(g_hKeySearchWord), 0);  // empty key
    for (const wchar_t* name : {L"SearchWord_0", L"SearchWord_1", L"SearchWord_2", L"SearchWord_3", L"SearchWord_5"})
        SetText(g_hKeySearchWord, name, L"w");
    EXPECT_EQ(ClearSearchWordReg(g_hKeySearchWord), 0);
    for (const wchar_t* name : {L"SearchWord_0", L"SearchWord_1", L"SearchWord_2", L"SearchWord_3"})
        EXPECT_EQ(Size(g_hKeySearchWord, name), -1);
    EXPECT_EQ(Size(g_hKeySearchWord, L"SearchWord_5"), 4);
}

TEST_F(Registry, DriversAndVersion) {
    ASSERT_EQ(SetVideoDriverReg(g_hKeyDriver, 3), 0);
    ASSERT_EQ(SetAudioDriverReg(g_hKeyDriver, -2), 0);
    int video = 0, audio = 0;
    EXPECT_EQ(GetVideoDriverReg(g_hKeyDriver, video), 0);
    EXPECT_EQ(GetAudioDriverReg(g_hKeyDriver, audio), 0);
    EXPECT_EQ(video, 3);
    EXPECT_EQ(audio, -2);
    SetText(g_hKeyDriver, L"VideoId", L"abc");
    EXPECT_EQ(GetVideoDriverReg(g_hKeyDriver, video), 0);
    EXPECT_EQ(video, 0);
    // A value of another type is read as text without running past it.
    DWORD seven = 7;
    ASSERT_EQ(RegSetValueExW(g_hKeyDriver, L"AudioId", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seven), 4), 0);
    EXPECT_EQ(GetAudioDriverReg(g_hKeyDriver, audio), 0);
    EXPECT_EQ(audio, 0);
    std::string big(600, 'x');
    ASSERT_EQ(RegSetValueExW(g_hKeyDriver, L"VideoId", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()), 600),
              0);
    EXPECT_EQ(GetVideoDriverReg(g_hKeyDriver, video), -1);
    EXPECT_EQ(video, -1);

    ASSERT_EQ(SetIgnoreVersionReg(g_hKeyIgnoreVersion, L"v1.02.00"), 0);
    CStringW version;
    EXPECT_EQ(GetIgnoreVersionReg(g_hKeyIgnoreVersion, version), 0);
    EXPECT_EQ(version, L"v1.02.00");
}

TEST_F(Registry, FullScreenDirectionFollowsTheDisplay) {
    struct Case {
        DWORD orientation;
        long long stored;  // -1: not written
        int result;
    } cases[] = {{DMDO_0, -1, 0}, {DMDO_180, -1, 0}, {DMDO_90, 5, 0}, {DMDO_270, 3, 0}, {8, 3, 0}};
    for (const Case& c : cases) {
        platform::SetDisplayOrientation(c.orientation);
        EXPECT_EQ(SetFullScreenDirReg(g_hKeyFullScreen), c.result);
        DWORD v = 0, cb = 4, type = 0;
        LONG r = RegQueryValueExW(g_hKeyFullScreen, L"FullScreenDirection", nullptr, &type,
                                  reinterpret_cast<BYTE*>(&v), &cb);
        if (c.stored < 0) {
            EXPECT_EQ(r, ERROR_FILE_NOT_FOUND) << c.orientation;
        } else {
            ASSERT_EQ(r, ERROR_SUCCESS);
            EXPECT_EQ(type, DWORD(REG_DWORD));
            EXPECT_EQ(v, DWORD(c.stored)) << c.orientation;  // an unknown orientation leaves the last one
        }
    }
    platform::SetDisplayQueryFails(true);
    EXPECT_EQ(SetFullScreenDirReg(g_hKeyFullScreen), -1);
    platform::SetDisplayQueryFails(false);
}

TEST_F(Registry, QuerySizesAndBadHandles) {
    SetText(g_hKeyDriver, L"VideoId", L"12");
    DWORD cb = 4;
    wchar_t small[2];
    EXPECT_EQ(RegQueryValueExW(g_hKeyDriver, L"VideoId", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &cb),
              ERROR_MORE_DATA);
    EXPECT_EQ(cb, 6u);
    EXPECT_EQ(RegQueryValueExW(g_hKeyDriver, L"none", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(g_hKeyDriver, L"none"), ERROR_FILE_NOT_FOUND);
    HKEY bogus = reinterpret_cast<HKEY>(uintptr_t(0x1234));
    EXPECT_EQ(RegSetValueExW(bogus, L"a", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"a"), 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    HKEY k = nullptr;
    EXPECT_EQ(MyOpenReg(bogus, L"x", &k), -1);
    EXPECT_TRUE(Logged("RegCreateKeyEx failed, errno=6, msg=The handle is invalid.\n"));
}

// The machine's keys are a tree of their own: the same path under the user's root is another key.
TEST_F(Registry, MachineAndUserRootsKeepApartKeys) {
    const wchar_t* path = L"System\\GDI\\Drivers\\ATI";
    HKEY machine = nullptr, user = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &machine), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machine, nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    ASSERT_EQ(RegSetValueExW(machine, L"DisableDeviceBitmap", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &user), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(machine), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"system\\gdi\\drivers\\ati", 0, KEY_READ, &machine), ERROR_SUCCESS);
    DWORD v = 0, type = 0, cb = 4;
    EXPECT_EQ(RegQueryValueExW(machine, L"DisableDeviceBitmap", nullptr, &type, reinterpret_cast<BYTE*>(&v), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v, 1u);
    RegCloseKey(machine);
}

// The writer's w-th write goes to value w % kCrashValues with bytes drawn from w alone, of a
// size that changes from write to write so that pages are freed and reused.
constexpr uint64_t kCrashValues = 5;

std::wstring CrashValueName(uint64_t i) { return L"Value_" + std::to_wstring(i); }

std::string WrittenBytes(uint64_t w) {
    std::string b(1024 + (w * 40503u) % (160 * 1024), '\0');
    std::memcpy(b.data(), &w, sizeof w);  // which write left it
    uint64_t x = w * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = sizeof w; i < b.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b[i] = static_cast<char>(x);
    }
    return b;
}

// What value i holds after the first `writes` writes, empty when none reached it yet.
std::string ExpectedAfter(uint64_t i, uint64_t writes) {
    if (writes <= i) return "";
    return WrittenBytes(i + kCrashValues * ((writes - 1 - i) / kCrashValues));
}

std::string Described(const std::string& held) {
    if (held.empty()) return "nothing";
    uint64_t w = 0;
    if (held.size() >= sizeof w) std::memcpy(&w, held.data(), sizeof w);
    if (held == WrittenBytes(w)) return "write " + std::to_string(w) + " whole";
    return std::to_string(held.size()) + " torn bytes";
}

// Writes forever, one byte on `acks` after each write the registry reported as done.
[[noreturn]] void WriteUntilKilled(const std::string& file, uint64_t first, int acks) {
    platform::SetRegistryFile(file);
    HKEY k;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Lumeo\\Crash", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
        _exit(1);
    for (uint64_t w = first;; ++w) {
        std::string b = WrittenBytes(w);
        if (RegSetValueExW(k, CrashValueName(w % kCrashValues).c_str(), 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(b.data()), static_cast<DWORD>(b.size())) != ERROR_SUCCESS)
            _exit(2);
        if (write(acks, "w", 1) != 1) _exit(3);
    }
}

// SQLite's own verdict on the file, taken before our code opens it again.
std::string IntegrityCheck(const std::string& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string e = "cannot open: " + std::string(sqlite3_errmsg(db));
        sqlite3_close(db);
        return e;
    }
    std::string verdict;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK)
        verdict = "cannot check: " + std::string(sqlite3_errmsg(db));
    int rc = SQLITE_DONE;
    while (st && (rc = sqlite3_step(st)) == SQLITE_ROW)
        verdict += (verdict.empty() ? "" : "\n") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    if (st && rc != SQLITE_DONE) verdict += "\nstep failed: " + std::string(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return verdict;
}

// Counts acknowledgements until `want` came or the writer closed its end; false when nothing
// came for a long while.
bool ReadAcks(int fd, uint64_t want, uint64_t& seen) {
    while (seen < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) return false;
        char buf[64];
        ssize_t n = read(fd, buf, std::min<uint64_t>(sizeof buf, want - seen));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        seen += static_cast<uint64_t>(n);
    }
    return true;
}

// A process killed at a random point of a stream of large writes, again and again on one file:
// each time the file must pass SQLite's check and hold every write the registry reported done,
// plus at most the one in flight, each value whole.
TEST_F(Registry, WriteSurvivesAKilledProcess) {
    std::string file = Native("shared.db");
    std::random_device seeder;
    unsigned seed = seeder();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    uint64_t committed = 0;
    int inFlightLanded = 0;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        platform::SetRegistryFile(file);  // nothing open across the fork
        int acks[2];
        ASSERT_EQ(pipe(acks), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(acks[0]);
            WriteUntilKilled(file, committed, acks[1]);
        }
        close(acks[1]);
        uint64_t seen = 0;
        bool answered = ReadAcks(acks[0], 1 + rng() % 24, seen);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));  // land anywhere in a write
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        answered = answered && ReadAcks(acks[0], UINT64_MAX, seen);  // the ones sent before it died
        close(acks[0]);
        ASSERT_TRUE(answered) << "the writer went silent";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the writer was not killed mid-work: " << (WIFEXITED(status) ? "it exited with " : "status ")
            << (WIFEXITED(status) ? WEXITSTATUS(status) : status);
        ASSERT_GT(seen, 0u);

        ASSERT_EQ(IntegrityCheck(file), "ok");

        platform::SetRegistryFile(file);
        HKEY k;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Lumeo\\Crash", 0, KEY_READ, &k), ERROR_SUCCESS);
        std::vector<std::string> held;
        for (uint64_t i = 0; i < kCrashValues; ++i) {
            std::wstring name = CrashValueName(i);
            DWORD cb = 0;
            std::string b;
            if (RegQueryValueExW(k, name.c_str(), nullptr, nullptr, nullptr, &cb) == ERROR_SUCCESS) {
                b.resize(cb);
                EXPECT_EQ(RegQueryValueExW(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(b.data()), &cb),
                          ERROR_SUCCESS);
            }
            held.push_back(b);
        }
        RegCloseKey(k);
        // Every acknowledged write is there; the one in flight may or may not have landed.
        uint64_t acked = committed + seen;
        for (uint64_t i = 0; i < kCrashValues; ++i)
            EXPECT_TRUE(held[i] == ExpectedAfter(i, acked) || held[i] == ExpectedAfter(i, acked + 1))
                << "value " << i << " holds " << Described(held[i]) << " after " << acked << " acknowledged writes";
        if (HasFailure()) return;
        uint64_t last = acked % kCrashValues;
        committed = held[last] == ExpectedAfter(last, acked + 1) ? acked + 1 : acked;
        inFlightLanded += committed > acked;
    }
    RecordProperty("InFlightWritesThatLanded", inFlightLanded);
}

TEST_F(Registry, TwoProcessesShareTheFile) {
    std::string file = Native("shared.db");
    platform::SetRegistryFile(file);
    auto writeMany = [](const wchar_t* prefix) {
        HKEY k;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
            return false;
        for (int i = 0; i < 40; ++i) {
            CStringW name;
            name.Format(L"%s_%d", prefix, i);
            if (RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"v"), 4) != ERROR_SUCCESS)
                return false;
        }
        return RegCloseKey(k) == ERROR_SUCCESS;
    };
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(writeMany(L"child") ? 0 : 1);
    EXPECT_TRUE(writeMany(L"parent"));
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    HKEY k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    for (const wchar_t* who : {L"child", L"parent"})
        for (int i = 0; i < 40; ++i) {
            CStringW name;
            name.Format(L"%s_%d", who, i);
            EXPECT_EQ(Size(k, name), 4) << platform::WideToUtf8(name.GetString());
        }
    RegCloseKey(k);
}

}  // namespace
