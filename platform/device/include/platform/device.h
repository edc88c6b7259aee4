// Facts about the device: system version, platform and maker texts, the device id, and
// the display orientation.
//
// Settings (environment, read at each query unless a setter below has overridden it):
//   LUMEO_OS_VERSION            "major.minor.build" (default: this machine's kernel release)
//   LUMEO_PLATFORM_TYPE         platform type text (default "PocketPC")
//   LUMEO_PLATFORM_TYPE_DENIED  "1": the platform-type query fails with ERROR_ACCESS_DENIED
//   LUMEO_OEM_INFO              the maker's device text (default "Linux")
//   LUMEO_MACHINE_ID_FILE       the file holding the machine id (default /etc/machine-id,
//                               then /var/lib/dbus/machine-id)
//   LUMEO_DISPLAY_ORIENTATION   0, 90, 180 or 270 degrees at start (default 0)
#pragma once

#include <optional>
#include <string>

#include "platform/wintypes.h"

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
using LPOSVERSIONINFOW = OSVERSIONINFOW*;
#define VER_PLATFORM_WIN32_CE 3

// The record may come cleared (size 0): it is filled whatever its size field says.
BOOL GetVersionExW(OSVERSIONINFOW* info);

#define SPI_GETPLATFORMTYPE 257
#define SPI_GETOEMINFO 258
// The two text queries: `param` is the buffer's size in bytes (sizeof the buffer), the
// text is cut to fit and terminated. The last error is 0 on success.
BOOL SystemParametersInfoW(UINT action, UINT param, PVOID pv, UINT winIni);

// 20 bytes: SHA-1 of the machine id (its text without trailing white space) followed by
// the application data. At least 8 bytes of application data, version 1.
HRESULT GetDeviceUniqueID(LPBYTE appData, DWORD appDataLength, DWORD version, LPBYTE output, DWORD* outputLength);
#define GETDEVICEUNIQUEID_V1 1
#define GETDEVICEUNIQUEID_V1_OUTPUT 20

#define CCHDEVICENAME 32
#define CCHFORMNAME 32
struct DEVMODEW {
    WCHAR dmDeviceName[CCHDEVICENAME];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    SHORT dmOrientation;
    SHORT dmPaperSize;
    SHORT dmPaperLength;
    SHORT dmPaperWidth;
    SHORT dmScale;
    SHORT dmCopies;
    SHORT dmDefaultSource;
    SHORT dmPrintQuality;
    SHORT dmColor;
    SHORT dmDuplex;
    SHORT dmYResolution;
    SHORT dmTTOption;
    SHORT dmCollate;
    WCHAR dmFormName[CCHFORMNAME];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmDisplayFlags;
    DWORD dmDisplayFrequency;
    DWORD dmDisplayOrientation;
};
using LPDEVMODEW = DEVMODEW*;

#define DM_DISPLAYORIENTATION 0x00800000
#define DM_DISPLAYQUERYORIENTATION 0x01000000
#define DMDO_0 0
#define DMDO_90 1
#define DMDO_180 2
#define DMDO_270 4
#define CDS_UPDATEREGISTRY 0x00000001
#define CDS_TEST 0x00000002
#define CDS_RESET 0x40000000
#define DISP_CHANGE_SUCCESSFUL 0
#define DISP_CHANGE_RESTART 1
#define DISP_CHANGE_FAILED (-1)
#define DISP_CHANGE_BADMODE (-2)
#define DISP_CHANGE_BADFLAGS (-4)
#define DISP_CHANGE_BADPARAM (-5)

// Only the orientation queries (CDS_TEST): DM_DISPLAYQUERYORIENTATION gives the
// orientations supported, DM_DISPLAYORIENTATION the current one, in dmDisplayOrientation.
LONG ChangeDisplaySettingsEx(LPCWSTR deviceName, DEVMODEW* mode, HWND hwnd, DWORD flags, LPVOID param);

namespace platform {

// Overrides of the settings above, for tests; std::nullopt returns to the environment.
void SetPlatformTypeText(std::optional<std::wstring> text);
void SetOemInfoText(std::optional<std::wstring> text);
void SetPlatformTypeDenied(std::optional<bool> denied);
// A fixed device id (20 bytes), or a failure code GetDeviceUniqueID returns instead.
void SetDeviceUniqueIdOverride(std::optional<std::basic_string<BYTE>> id, HRESULT failure = S_OK);

// The display's orientation (DMDO_*), as the display turns; any other value makes the
// query report it as it stands. `failing` makes the orientation queries fail.
void SetDisplayOrientation(DWORD dmdo);
DWORD GetDisplayOrientation();
void SetDisplayQueryFails(bool failing);

}  // namespace platform
