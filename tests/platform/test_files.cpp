#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/lasterror.h"

namespace fs = std::filesystem;

namespace {

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lumeo-files-XXXXXX";
        root_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(root_); }
    // The folder as the program writes it: backslashes.
    CStringW Phone(const char* rel = "") const {
        return platform::FromNativePath(root_ + (*rel ? "/" : "") + rel).c_str();
    }
    void Touch(const char* rel, const char* text = "x") { std::ofstream(root_ + "/" + rel) << text; }
    std::string root_;
};

TEST_F(TempFolder, CreateDirectoryReportsExistingAndMissingParent) {
    CStringW dir = Phone() + L"\\Log\\";
    EXPECT_TRUE(CreateDirectoryW(dir, nullptr));
    EXPECT_FALSE(CreateDirectoryW(dir, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryW(Phone() + L"\\no\\such\\", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST_F(TempFolder, FindWalksASnapshotWithPatterns) {
    fs::create_directory(root_ + "/sub.jpg");
    Touch("a.jpg");
    Touch("B.JPG");
    Touch("c.xml");
    Touch("d1.jpgx");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Phone() + L"\\\\*.jpg", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::set<std::wstring> names;
    do {
        names.insert(fd.cFileName);
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(Phone() + L"\\" + fd.cFileName);  // deleting while walking is safe
    } while (FindNextFileW(h, &fd));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    FindClose(h);
    EXPECT_EQ(names, (std::set<std::wstring>{L"a.jpg", L"B.JPG", L"sub.jpg"}));
    EXPECT_TRUE(fs::exists(root_ + "/c.xml"));
    EXPECT_FALSE(fs::exists(root_ + "/a.jpg"));

    EXPECT_EQ(FindFirstFileW(Phone() + L"\\*.png", &fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_EQ(FindFirstFileW(Phone() + L"\\gone\\*", &fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    h = FindFirstFileW(Phone() + L"\\d?.jpg?", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(fd.cFileName, L"d1.jpgx");
    FindClose(h);
}

TEST_F(TempFolder, CopyOverwritesAndReportsMissingSource) {
    Touch("src.xml", "new");
    Touch("dst.xml", "old");
    EXPECT_TRUE(CopyFileW(Phone("src.xml"), Phone("dst.xml"), FALSE));
    std::ifstream in(root_ + "/dst.xml");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(CopyFileW(Phone("src.xml"), Phone("dst.xml"), TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_FALSE(CopyFileW(Phone("none.xml"), Phone("dst.xml"), FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(Phone("none.xml")));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(TempFolder, WideOpenModes) {
    CStringW path = Phone("log.txt");
    EXPECT_EQ(_wfopen(path, L"r"), nullptr);
    for (int i = 0; i < 2; ++i) {
        FILE* f = _wfopen(path, L"a+");
        ASSERT_NE(f, nullptr);
        fputs("line\n", f);
        fclose(f);
    }
    EXPECT_EQ(fs::file_size(root_ + "/log.txt"), 10u);
}

TEST(Paths, ModuleFileNameUsesBackslashesAndIsCut) {
    wchar_t buf[256];
    DWORD n = GetModuleFileNameW(nullptr, buf, 256);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(buf[0], L'\\');
    EXPECT_EQ(std::wstring(buf).find(L'/'), std::wstring::npos);
    wchar_t small[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 3u);
    EXPECT_EQ(small[3], 0);
    EXPECT_EQ(platform::ToNativePath(L"\\a\\\\b\\c.txt"), "/a/b/c.txt");
}

}  // namespace
