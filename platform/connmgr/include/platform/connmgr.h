// The phone's Connection Manager, simulated. Destinations, the connections behind them,
// their statuses, delays and failures come from a small configuration (see
// platform::ConnMgrConfigure); by default there is one destination "Internet" served by a
// Wi-Fi card that is up at once.
#pragma once

#include <string>

#include "platform/wintypes.h"

#ifndef LUMEO_GUID_DEFINED
#define LUMEO_GUID_DEFINED
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
#endif

#define CONNMGR_MAX_DESC 128

struct CONNMGR_DESTINATION_INFO {
    GUID guid;
    WCHAR szDescription[CONNMGR_MAX_DESC];
    BOOL fSecure;
};

#define CONNMGR_PARAM_GUIDDESTNET 0x1
#define CONNMGR_PARAM_MAXCOST 0x2
#define CONNMGR_PARAM_MINRCVBW 0x4
#define CONNMGR_PARAM_MAXCONNLATENCY 0x8

#define CONNMGR_FLAG_PROXY_HTTP 0x1
#define CONNMGR_FLAG_PROXY_WAP 0x2
#define CONNMGR_FLAG_PROXY_SOCKS4 0x4
#define CONNMGR_FLAG_PROXY_SOCKS5 0x8

#define CONNMGR_PRIORITY_VOICE 0x20000
#define CONNMGR_PRIORITY_USERINTERACTIVE 0x08000
#define CONNMGR_PRIORITY_USERBACKGROUND 0x02000
#define CONNMGR_PRIORITY_USERIDLE 0x00800
#define CONNMGR_PRIORITY_HIPRIBKGND 0x00200
#define CONNMGR_PRIORITY_IDLEBKGND 0x00080
#define CONNMGR_PRIORITY_EXTERNALINTERACTIVE 0x00020
#define CONNMGR_PRIORITY_LOWBKGND 0x00008

struct CONNMGR_CONNECTIONINFO {
    DWORD cbSize;
    DWORD dwParams;
    DWORD dwFlags;
    DWORD dwPriority;
    BOOL bExclusive;
    BOOL bDisabled;
    GUID guidDestNet;
    HWND hWnd;
    UINT uMsg;
    LPARAM lParam;
    ULONG ulMaxCost;
    ULONG ulMinRcvBw;
    ULONG ulMaxConnLatency;
};

#define CONNMGR_STATUS_UNKNOWN 0x00
#define CONNMGR_STATUS_CONNECTED 0x10
#define CONNMGR_STATUS_SUSPENDED 0x11
#define CONNMGR_STATUS_DISCONNECTED 0x20
#define CONNMGR_STATUS_CONNECTIONFAILED 0x21
#define CONNMGR_STATUS_CONNECTIONCANCELED 0x22
#define CONNMGR_STATUS_CONNECTIONDISABLED 0x23
#define CONNMGR_STATUS_NOPATHTODESTINATION 0x24
#define CONNMGR_STATUS_WAITINGFORPATH 0x25
#define CONNMGR_STATUS_WAITINGFORPHONE 0x26
#define CONNMGR_STATUS_PHONEOFF 0x27
#define CONNMGR_STATUS_EXCLUSIVECONFLICT 0x28
#define CONNMGR_STATUS_NORESOURCES 0x29
#define CONNMGR_STATUS_CONNECTIONLINKFAILED 0x2A
#define CONNMGR_STATUS_AUTHENTICATIONFAILED 0x2B
#define CONNMGR_STATUS_NOPATHWITHPROPERTY 0x2C
#define CONNMGR_STATUS_WAITINGCONNECTION 0x40
#define CONNMGR_STATUS_WAITINGFORRESOURCE 0x41
#define CONNMGR_STATUS_WAITINGFORNETWORK 0x42
#define CONNMGR_STATUS_WAITINGDISCONNECTION 0x80
#define CONNMGR_STATUS_WAITINGCONNECTIONABORT 0x81

#define CM_CONNTYPE_UNKNOWN 0
#define CM_CONNTYPE_CELLULAR 1
#define CM_CONNTYPE_NIC 2
#define CM_CONNTYPE_BLUETOOTH 3
#define CM_CONNTYPE_UNIMODEM 4
#define CM_CONNTYPE_VPN 5
#define CM_CONNTYPE_PROXY 6
#define CM_CONNTYPE_PC 7

#define CM_CONNSUBTYPE_NIC_UNKNOWN 0
#define CM_CONNSUBTYPE_NIC_ETHERNET 1
#define CM_CONNSUBTYPE_NIC_WIFI 2

#define CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG_NAME L"CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG"

struct CONNMGR_CONNECTION_DETAILED_STATUS {
    CONNMGR_CONNECTION_DETAILED_STATUS* pNext;
    DWORD dwVer;
    DWORD dwParams;
    DWORD dwType;
    DWORD dwSubtype;
    DWORD dwFlags;
    DWORD dwSecure;
    GUID guidDestNet;
    GUID guidSourceNet;
    WCHAR* szDescription;
    WCHAR* szAdapterName;
    DWORD dwConnectionStatus;
    SYSTEMTIME LastConnectTime;
    DWORD dwSignalQuality;
    void* pIPAddr;
};

#define HRESULT_FROM_WIN32_ERROR(e) ((HRESULT)(((DWORD)(e) & 0x0000FFFF) | 0x80070000u))

// A negative result ends an enumeration by index (0, 1, 2, ...).
HRESULT ConnMgrEnumDestinations(int index, CONNMGR_DESTINATION_INFO* info);
// Returns once the request has been taken (0) with the connection's status; a status of
// CONNMGR_STATUS_WAITINGCONNECTION is then followed with ConnMgrConnectionStatus.
HRESULT ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* info, HANDLE* connection, DWORD timeoutMs,
                                       DWORD* status);
HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status);
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache);
// With a null or short buffer: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) (0x8007007A)
// and the size needed in *size. Otherwise fills a linked list of records in the buffer.
HRESULT ConnMgrQueryDetailedStatus(CONNMGR_CONNECTION_DETAILED_STATUS* buffer, DWORD* size);
// Status changes are delivered to `window` as the registered message
// "CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG" with the new status as its first parameter.
HRESULT ConnMgrRegisterForStatusChangeNotification(BOOL enable, HWND window);

namespace platform {

// Configuration text: entries separated by ";" or line breaks, fields of an entry by ",".
//   dest=<description>[,connect=ok|fail|status|wait][,hr=<n>][,status=<n>][,delay=<ms>]
//   conn=<description>,type=<n>,subtype=<n>[,status=<n>]
//   query=ok|fail|fillfail   (the sizing or the filling call of the detailed status fails)
//   register=ok|fail         (the notification registration fails)
//   offline                  (shorthand: "dest=Internet,connect=status,status=36;conn=Wi-Fi,type=2,subtype=2,status=32")
// connect=ok (the default) gives status 16, after `delay` ms of status 64 when a delay is
// given; connect=fail makes the request fail with `hr` (default E_FAIL) and `status`
// (default 33); connect=status takes the request but reports `status`; connect=wait
// stays at 64. A successful request brings the first connection up when none is.
// Numbers are decimal or 0x-hexadecimal. Empty text = the default
// "dest=Internet;conn=Wi-Fi,type=2,subtype=2,status=16".
// Returns false (and keeps the previous configuration) when the text does not parse.
// At first use the layer reads the text from the environment variable LUMEO_CONNMGR, or
// the file named by LUMEO_CONNMGR_FILE.
bool ConnMgrConfigure(const std::wstring& text);

// Sets the status of connection `index` (in configuration order) and delivers the change
// to the registered windows.
void ConnMgrSetConnectionStatus(int index, DWORD status);

// How status changes reach windows. The default posts the registered message through the
// window system; a hook put here receives them instead (null restores the default).
using ConnMgrDelivery = void (*)(HWND window, DWORD status);
void ConnMgrSetDelivery(ConnMgrDelivery hook);

// Calls made so far, for tests.
struct ConnMgrCounts {
    int enumerations;
    int establishes;
    int statusQueries;
    int releases;
    int detailedQueries;
    int registrations;
    int held;  // connections requested and not yet released
};
ConnMgrCounts ConnMgrGetCounts();
void ConnMgrResetCounts();

}  // namespace platform
