// The program's Connection Manager client: whether a data connection is up, bringing one
// up on demand, and following the status changes posted to the frame window.
#pragma once

#include "platform/connmgr.h"
#include "platform/wintypes.h"

#define PREFERRED_DESTINATION_COUNT 7
#define PREFERRED_DESTINATION_LEN 32

class ConnMgr {
public:
    ConnMgr();
    explicit ConnMgr(HWND frame);
    ~ConnMgr();
    ConnMgr(const ConnMgr&) = delete;
    ConnMgr& operator=(const ConnMgr&) = delete;

    DWORD errorCode;
    HANDLE hConnection;
    int connected;
    DWORD connType;
    DWORD connSubType;
    UINT statusMsg;
};

extern ConnMgr g_connMgr;
extern const wchar_t PreferredDestinations[PREFERRED_DESTINATION_COUNT][PREFERRED_DESTINATION_LEN];

int InitConnection(ConnMgr* cm, HWND frame);
int Connect(ConnMgr* cm, int force);
int GetConnectStatus(ConnMgr* cm);
// 0 when `msg` was the status-change message and was handled, -1 otherwise.
int HandleConnectionMsg(ConnMgr* cm, UINT msg, WPARAM wParam);
int EstablishConnection(ConnMgr* cm);
int QueryConnectionStatus(ConnMgr* cm, int* connected, DWORD* type, DWORD* subType);
int ConnectionRegisterStatusChangeNotification(ConnMgr* cm, HWND window);
// The text logged for a Connection Manager status.
const wchar_t* ConnectionStatusText(DWORD status);

// The waits after a failed request and between status polls; tests put their own in its
// place (null: Sleep).
using ConnMgrSleep = void (*)(DWORD milliseconds);
void SetConnMgrSleep(ConnMgrSleep sleep);
