#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log_capture.h"
#include "phoneInfo.h"
#include "platform/codepage.h"
#include "platform/device.h"

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

class PhoneInfo : public LoggedFolder {
protected:
    void SetUp() override {
        LoggedFolder::SetUp();
        setenv("LUMEO_OS_VERSION", "5.2.21234", 1);
        platform::SetPlatformTypeText(L"PocketPC");
        platform::SetOemInfoText(L"HTC Touch Diamond");
        platform::SetPlatformTypeDenied(false);
        std::basic_string<BYTE> id;
        for (int i = 0; i < 20; ++i) id += static_cast<BYTE>(i);
        platform::SetDeviceUniqueIdOverride(id);
    }
    void TearDown() override {
        unsetenv("LUMEO_OS_VERSION");
        unsetenv("LUMEO_MACHINE_ID_FILE");
        platform::SetPlatformTypeText(std::nullopt);
        platform::SetOemInfoText(std::nullopt);
        platform::SetPlatformTypeDenied(std::nullopt);
        platform::SetDeviceUniqueIdOverride(std::nullopt);
        LoggedFolder::TearDown();
    }
    std::wstring Info(int count = 512) {
        wchar_t buf[512];
        EXPECT_EQ(GetPhoneInfo(buf, count), 0);
        return buf;
    }
};

TEST_F(PhoneInfo, UserAgentTextWithTheHashedId) {
    EXPECT_EQ(Info(), L"Lumeo Version: v1.01.15.06007 WinCE Version: 5.2.21234 Platform Type: PocketPC OEM Info: HTC "
                      L"Touch Diamond Device ID: len=20 , hash=0001020304-0506070809-0A0B0C0D0E-0F10111213");
}

TEST_F(PhoneInfo, RefusedPlatformQueryReadsSmartPhone) {
    platform::SetPlatformTypeDenied(true);
    EXPECT_NE(Info().find(L" Platform Type: SmartPhone OEM Info: "), std::wstring::npos);
}

TEST_F(PhoneInfo, FailedDeviceIdReadsLengthZero) {
    platform::SetDeviceUniqueIdOverride(std::nullopt, E_FAIL);
    std::wstring text = Info();
    EXPECT_NE(text.find(L"len=0 , hash=0000000000-0000000000-0000000000-0000000000"), std::wstring::npos) << text;
    EXPECT_TRUE(Logged("GetDeviceUniqueID failed : hr=-2147467259"));
}

TEST_F(PhoneInfo, CutAtCountAndBadBuffers) {
    EXPECT_EQ(Info(20), L"Lumeo Version: v1.0");
    wchar_t buf[8];
    EXPECT_EQ(GetPhoneInfo(buf, 0), -1);
    EXPECT_EQ(GetPhoneInfo(nullptr, 512), -1);
    EXPECT_EQ(GetPhoneOEM(nullptr, 512), -1);
    EXPECT_TRUE(Logged("WARNING ") && Logged(".\\phoneInfo.cpp(") && Logged("phoneInfo==NULL || count==0"));
}

TEST_F(PhoneInfo, OemTextAlone) {
    wchar_t buf[512];
    ASSERT_EQ(GetPhoneOEM(buf, 512), 0);
    EXPECT_EQ(std::wstring(buf), L"HTC Touch Diamond");
    platform::SetOemInfoText(std::wstring(100, L'x'));  // longer than the 64-character query buffer
    ASSERT_EQ(GetPhoneOEM(buf, 512), 0);
    EXPECT_EQ(std::wstring(buf), std::wstring(63, L'x'));
}

TEST_F(PhoneInfo, DeviceIdIsSha1OfMachineIdAndExactlyTheApplicationData) {
    platform::SetDeviceUniqueIdOverride(std::nullopt);
    Write("machine-id", "0123456789abcdef0123456789abcdef\n");
    setenv("LUMEO_MACHINE_ID_FILE", Native("machine-id").c_str(), 1);
    const BYTE app[15] = {'*', '~', '+', 'T', 'a', 'v', 'o', 'r', '+', '~', '*', 0x00, 0x61, 0x00, 0x2B};
    Write("hashed", "0123456789abcdef0123456789abcdef" + std::string(reinterpret_cast<const char*>(app), 15));
    std::string expected = Shell("sha1sum " + Native("hashed")).substr(0, 40);
    for (char& c : expected) c = static_cast<char>(toupper(c));
    std::wstring text = Info();
    std::wstring hash = text.substr(text.find(L"hash=") + 5);
    std::wstring digits;
    for (wchar_t c : hash)
        if (c != L'-') digits += c;
    EXPECT_EQ(platform::WideToUtf8(digits), expected);
    EXPECT_NE(text.find(L"len=20 ,"), std::wstring::npos);

    BYTE a[20], b[20];
    DWORD na = 20, nb = 20;
    ASSERT_EQ(GetDeviceUniqueID(const_cast<BYTE*>(app), 15, 1, a, &na), S_OK);
    ASSERT_EQ(GetDeviceUniqueID(const_cast<BYTE*>(app), 14, 1, b, &nb), S_OK);
    EXPECT_NE(std::memcmp(a, b, 20), 0);
    EXPECT_EQ(GetDeviceUniqueID(const_cast<BYTE*>(app), 15, 2, a, &na), E_INVALIDARG);
}

TEST(Device, VersionFollowsTheKernel) {
    std::string release = Shell("uname -r");
    OSVERSIONINFOW v{};
    ASSERT_TRUE(GetVersionExW(&v));
    unsigned major = 0, minor = 0, build = 0;
    sscanf(release.c_str(), "%u.%u.%u", &major, &minor, &build);
    EXPECT_EQ(v.dwMajorVersion, major);
    EXPECT_EQ(v.dwMinorVersion, minor);
    EXPECT_EQ(v.dwBuildNumber, build);
}

TEST(Device, OrientationQueries) {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_DISPLAYQUERYORIENTATION;
    EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr), DISP_CHANGE_SUCCESSFUL);
    for (DWORD o : {DWORD(DMDO_90), DWORD(DMDO_270), DWORD(DMDO_0)}) {
        platform::SetDisplayOrientation(o);
        mode.dmFields = DM_DISPLAYORIENTATION;
        EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(mode.dmDisplayOrientation, o);
    }
    platform::SetDisplayQueryFails(true);
    EXPECT_NE(ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr), DISP_CHANGE_SUCCESSFUL);
    platform::SetDisplayQueryFails(false);
}

}  // namespace
