// Libraries loaded at run time: names as the phone gives them, Win32 error codes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/windows.h"

namespace fs = std::filesystem;

namespace {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("module-" + std::to_string(::getpid()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_ / "Sub");
        fs::copy_file(MODULE_FIXTURE_PATH, dir_ / "Sub" / "Fixture.DLL", fs::copy_options::overwrite_existing);
        std::ofstream(dir_ / "Sub" / "notalib.dll") << "MZ this is text, not a library\n";
    }
    void TearDown() override {
        ::unsetenv("LUMEO_DLL_PATH");
        fs::remove_all(dir_);
    }
    std::wstring Wide(const fs::path& p) const { return platform::FromNativePath(p.string()); }
    fs::path dir_;
};

TEST_F(ModuleTest, LoadsByPathIgnoringCaseAndFindsExports) {
    // The phone's file system ignores case: the name as written differs from the file's.
    std::wstring path = Wide(dir_ / "Sub" / "fixture.dll");
    HMODULE m = LoadLibraryW(path.c_str());
    ASSERT_NE(m, nullptr);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddressW(m, L"FixtureAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 4711);

    // A second load is the same module.
    HMODULE again = LoadLibraryW(path.c_str());
    EXPECT_EQ(again, m);
    EXPECT_TRUE(FreeLibrary(again));

    // Its file name comes back in the phone's form, naming the file on disk.
    wchar_t name[512];
    DWORD n = GetModuleFileNameW(m, name, 512);
    ASSERT_GT(n, 0u);
    char real[PATH_MAX];
    ASSERT_NE(::realpath((dir_ / "Sub" / "Fixture.DLL").c_str(), real), nullptr);
    EXPECT_EQ(std::wstring(name, n), platform::FromNativePath(real));

    SetLastError(0);
    EXPECT_EQ(GetProcAddressW(m, L"_FixtureAnswer@16"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(ModuleTest, BareNameIsSearchedInTheConfiguredFolders) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(L"FIXTURE.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    std::string folders = (dir_ / "missing").string() + ":" + (dir_ / "Sub").string();
    ::setenv("LUMEO_DLL_PATH", folders.c_str(), 1);
    HMODULE m = LoadLibraryW(L"FIXTURE.DLL");
    ASSERT_NE(m, nullptr);
    EXPECT_NE(GetProcAddress(m, "FixtureAnswer"), nullptr);
    EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(ModuleTest, FailuresGiveTheirErrorCodes) {
    struct Case {
        std::wstring name;
        DWORD error;
    } cases[] = {
        {Wide(dir_ / "Sub" / "absent.dll"), ERROR_MOD_NOT_FOUND},
        {Wide(dir_ / "NoSuchFolder" / "fixture.dll"), ERROR_MOD_NOT_FOUND},
        {Wide(dir_ / "Sub"), ERROR_MOD_NOT_FOUND},  // a folder is no library
        {Wide(dir_ / "Sub" / "notalib.dll"), ERROR_BAD_EXE_FORMAT},
        {L"", ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(c.name.c_str()), nullptr) << platform::WideToUtf8(c.name);
        EXPECT_EQ(GetLastError(), c.error) << platform::WideToUtf8(c.name);
    }
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(GetProcAddressW(nullptr, L"FixtureAnswer"), nullptr);
}

}  // namespace
