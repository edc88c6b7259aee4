#include "phoneInfo.h"

#include <cwchar>

#include "log.h"
#include "platform/cstring.h"
#include "platform/device.h"
#include "platform/format.h"
#include "platform/lasterror.h"
#include "version.h"

namespace {

struct DeviceTexts {
    OSVERSIONINFOW version;
    wchar_t platformType[64];
    wchar_t oemInfo[64];
};

// The first steps both texts share: clear the output, then ask the system.
bool QueryDevice(wchar_t* phoneInfo, int count, DeviceTexts& d) {
    if (!phoneInfo || count <= 0) {
        LOG(LOG_WARNING, L"phoneInfo==NULL || count==0");
        return false;
    }
    std::wmemset(phoneInfo, 0, count);
    d = DeviceTexts{};
    GetVersionExW(&d.version);
    SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof(d.platformType), d.platformType, 0);
    if (GetLastError() == ERROR_ACCESS_DENIED) platform::CopyCut(d.platformType, 64, L"SmartPhone");
    SystemParametersInfoW(SPI_GETOEMINFO, sizeof(d.oemInfo), d.oemInfo, 0);
    return true;
}

}  // namespace

int GetPhoneInfo(wchar_t* phoneInfo, int count) {
    DeviceTexts d;
    if (!QueryDevice(phoneInfo, count, d)) return -1;

    // The id the service knows a device by depends on exactly these 15 bytes.
    BYTE appData[15] = {'*', '~', '+', 'T', 'a', 'v', 'o', 'r', '+', '~', '*', 0x00, 0x61, 0x00, 0x2B};
    BYTE id[20] = {};
    DWORD idLength = sizeof(id);
    HRESULT hr = GetDeviceUniqueID(appData, sizeof(appData), 1, id, &idLength);
    if (FAILED(hr)) {
        LOG(LOG_WARNING, L"GetDeviceUniqueID failed : hr=%d", hr);
        idLength = 0;
        for (BYTE& b : id) b = 0;
    }
    CStringW hash;
    for (int i = 0; i < 20; ++i) {
        if (i == 5 || i == 10 || i == 15) hash += L'-';
        hash.AppendFormat(L"%.2X", id[i]);
    }
    platform::FormatInto(phoneInfo, count,
                         L"Lumeo Version: %s WinCE Version: %d.%d.%lu Platform Type: %s OEM Info: %s Device ID: "
                         L"len=%d , hash=%s",
                         PROGRAM_VERSION, d.version.dwMajorVersion, d.version.dwMinorVersion, d.version.dwBuildNumber,
                         d.platformType, d.oemInfo, static_cast<int>(idLength), hash);
    return 0;
}

int GetPhoneOEM(wchar_t* phoneInfo, int count) {
    DeviceTexts d;
    if (!QueryDevice(phoneInfo, count, d)) return -1;
    platform::FormatInto(phoneInfo, count, L"%s", d.oemInfo);
    return 0;
}
