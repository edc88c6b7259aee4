#include <gtest/gtest.h>

#include "files.h"
#include "log_capture.h"

namespace {

using Files = LoggedFolder;

TEST_F(Files, CreateDirectoryExistingOrWithoutParent) {
    EXPECT_EQ(MyCreateDirectory(Phone() + L"\\Xml\\"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(Native("Xml")));
    EXPECT_EQ(MyCreateDirectory(Phone() + L"\\Xml\\"), 0);
    EXPECT_EQ(LogText(), "");

    EXPECT_EQ(MyCreateDirectory(Phone() + L"\\no\\Image\\"), -1);
    EXPECT_EQ(g_errno, DWORD(ERROR_PATH_NOT_FOUND));
    std::string log = LogText();
    EXPECT_EQ(log.rfind("WARNING ", 0), 0u);
    EXPECT_NE(log.find(".\\tools.cpp("), std::string::npos);
    EXPECT_NE(log.find("Can't create directory : errno=3, msg=The system cannot find the path specified., path="),
              std::string::npos);

    EXPECT_EQ(MyCreateDirectory(nullptr), -1);
    EXPECT_TRUE(Logged("dirPath==NULL"));
}

TEST_F(Files, CreateDirectoryRefusesAFileOfThatName) {
    Write("Image", "a file where the folder should be");
    for (const wchar_t* tail : {L"\\Image", L"\\Image\\"}) {
        ClearLog();
        EXPECT_EQ(MyCreateDirectory(Phone() + tail), -1);
        EXPECT_EQ(g_errno, DWORD(ERROR_ALREADY_EXISTS));
        std::string log = LogText();
        EXPECT_EQ(log.rfind("WARNING ", 0), 0u) << log;
        EXPECT_NE(log.find("Can't create directory : errno=183, msg="), std::string::npos) << log;
    }
    EXPECT_EQ(Read("Image"), "a file where the folder should be");
}

TEST_F(Files, CopyReplacesTheDestination) {
    Write("Update/LMUpdate.exe", "new program");
    Write("Update/LMUpdate_cp.exe", "an older and longer copy");
    EXPECT_EQ(MyCopyFile(Phone("Update/LMUpdate.exe"), Phone("Update/LMUpdate_cp.exe")), 0);
    EXPECT_EQ(Read("Update/LMUpdate_cp.exe"), "new program");

    EXPECT_EQ(MyCopyFile(Phone("Update/none.exe"), Phone("Update/x.exe")), -1);
    EXPECT_EQ(g_errno, DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Logged("Can't copy file : errno=2, msg="));
    EXPECT_EQ(MyCopyFile(nullptr, Phone("x")), -1);
    EXPECT_TRUE(Logged("!srcFilePath || !destFilePath"));
}

TEST_F(Files, DeleteAllFilesKeepsFoldersAndOtherNames) {
    std::filesystem::create_directories(Native("Image/sub.jpg"));
    Write("Image/sub.jpg/inner.jpg", "x");
    Write("Image/a.jpg", "x");
    Write("Image/B.JPG", "x");
    Write("Image/c.png", "x");
    EXPECT_EQ(DeleteAllFiles(Phone() + L"\\Image\\", L"*.jpg"), 0);
    EXPECT_FALSE(Exists("Image/a.jpg"));
    EXPECT_FALSE(Exists("Image/B.JPG"));
    EXPECT_TRUE(Exists("Image/c.png"));
    EXPECT_TRUE(Exists("Image/sub.jpg/inner.jpg"));
    EXPECT_EQ(LogText(), "");

    EXPECT_EQ(DeleteAllFiles(Phone() + L"\\Image\\", L"*.jpg"), 0);  // nothing left to match
    EXPECT_EQ(DeleteAllFiles(Phone() + L"\\Image\\", L"*"), 0);
    EXPECT_FALSE(Exists("Image/c.png"));
    EXPECT_EQ(LogText(), "");

    EXPECT_EQ(DeleteAllFiles(Phone() + L"\\Missing\\", L"*"), -1);
    EXPECT_TRUE(Logged("FindFirstFile failed (3)"));
}

}  // namespace
