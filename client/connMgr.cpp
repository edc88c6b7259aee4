#include "connMgr.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "log.h"
#include "platform/lasterror.h"
#include "platform/sync.h"
#include "platform/winuser.h"


ConnMgr g_connMgr;

const wchar_t PreferredDestinations[PREFERRED_DESTINATION_COUNT][PREFERRED_DESTINATION_LEN] = {
    L"Internet", L"互联网", L"中国移动", L"中国联通", L"cmnet", L"cmwap", L"My ISP",
};

namespace {

const DWORD kEstablishTimeoutMs = 20000;
const int kPollCount = 120;
const DWORD kPollMs = 500;
const int kRetrySeconds = 5;
const HRESULT kBufferTooSmall = static_cast<HRESULT>(0x8007007A);

std::atomic<ConnMgrSleep> g_sleep{Sleep};

void Release(ConnMgr* cm) {
    if (cm->hConnection) {
        ConnMgrReleaseConnection(cm->hConnection, 0);
        cm->hConnection = nullptr;
    }
}

void LogSubtype(DWORD type, DWORD sub) {
    static const wchar_t* const cellular[] = {
        L"CELLULAR: UNKNOWN", L"CELLULAR: CSD",   L"CELLULAR: GPRS",  L"CELLULAR: 1XRTT",
        L"CELLULAR: 1XEVDO",  L"CELLULAR: 1XEVDV", L"CELLULAR: EDGE", L"CELLULAR: UMTS",
        L"CELLULAR: VOICE",   L"CELLULAR: PTT",   L"CELLULAR: HSDPA",
    };
    static const wchar_t* const nic[] = {L"NIC: UNKNOWN", L"NIC: ETHERNET", L"NIC: WIFI"};
    static const wchar_t* const pc[] = {L"PC: UNKNOWN", L"PC: ACTIVESYNC", L"PC: IR", L"PC: MODEM_LINK"};
    switch (type) {
        case CM_CONNTYPE_CELLULAR:
            if (sub < _countof(cellular)) LOG(LOG_NOTICE, cellular[sub]);
            else LOG(LOG_NOTICE, L"CELLULAR: error: %d", sub);
            break;
        case CM_CONNTYPE_NIC:
            if (sub < _countof(nic)) LOG(LOG_NOTICE, nic[sub]);
            else LOG(LOG_NOTICE, L"NIC: error: %d", sub);
            break;
        case CM_CONNTYPE_PC:
            if (sub < _countof(pc)) LOG(LOG_NOTICE, pc[sub]);
            else LOG(LOG_NOTICE, L"PC: error: %d", sub);
            break;
        default:
            break;
    }
}

// One request for destination `info`; true when the connection came up.
bool TryDestination(ConnMgr* cm, const CONNMGR_DESTINATION_INFO& info) {
    LOG(LOG_NOTICE, L"found : %s", info.szDescription);
    Release(cm);
    CONNMGR_CONNECTIONINFO req{};
    req.cbSize = sizeof(req);
    req.dwParams = CONNMGR_PARAM_GUIDDESTNET;
    req.dwFlags = CONNMGR_FLAG_PROXY_HTTP | CONNMGR_FLAG_PROXY_WAP | CONNMGR_FLAG_PROXY_SOCKS4 |
                  CONNMGR_FLAG_PROXY_SOCKS5;
    req.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
    req.bExclusive = FALSE;
    req.bDisabled = FALSE;
    req.guidDestNet = info.guid;
    DWORD status = 0;
    bool ok = false;
    HRESULT hr = ConnMgrEstablishConnectionSync(&req, &cm->hConnection, kEstablishTimeoutMs, &status);
    if (hr != S_OK) {
        LOG(LOG_WARNING,
            L"ConnMgrEstablishConnectionSync Failed, hr=%lu, conDestInfo.szDescription=%s, dwStatus=%lu, Sleep %d Seconds",
            static_cast<DWORD>(hr), info.szDescription, status, kRetrySeconds);
        g_sleep.load()(kRetrySeconds * 1000);
    } else {
        int polls = 0;
        for (; polls < kPollCount; ++polls) {
            if (status == CONNMGR_STATUS_CONNECTED) {
                ok = true;
                break;
            }
            if (status != CONNMGR_STATUS_WAITINGCONNECTION) {
                LOG(LOG_WARNING, L"Connect Failed, conDestInfo.szDescription=%s, dwStatus=%lu", info.szDescription,
                    status);
                break;
            }
            g_sleep.load()(kPollMs);
            ConnMgrConnectionStatus(cm->hConnection, &status);
        }
        if (polls == kPollCount)
            LOG(LOG_WARNING, L"ConnMgrEstablishConnectionSync Timeout, conDestInfo.szDescription=%s",
                info.szDescription);
    }
    LOG(LOG_NOTICE, ConnectionStatusText(status));
    if (ok) {
        if (QueryConnectionStatus(cm, &cm->connected, &cm->connType, &cm->connSubType) == -1) {
            LOG(LOG_WARNING, L"QueryConnectionStatus failed");
            cm->connected = 1;
        }
        return true;
    }
    Release(cm);
    return false;
}

}  // namespace

void SetConnMgrSleep(ConnMgrSleep sleep) { g_sleep.store(sleep ? sleep : Sleep); }

ConnMgr::ConnMgr() : hConnection(nullptr), connected(0), connType(0), connSubType(0), statusMsg(0) {}

ConnMgr::ConnMgr(HWND frame) : ConnMgr() { InitConnection(this, frame); }

ConnMgr::~ConnMgr() {
    if (hConnection) {
        ConnMgrReleaseConnection(hConnection, 0);
        hConnection = nullptr;
    }
}

const wchar_t* ConnectionStatusText(DWORD status) {
    switch (status) {
        case 0: return L"The status is unknown.";
        case 16: return L"The connection is established.";
        case 17: return L"The connection has been established, but has been suspended.";
        case 32: return L"The connection is disconnected.";
        case 33:
            return L"The connection has failed and cannot be reestablished. This may be because the connection "
                   L"request was terminated when a more secure connection was established.";
        case 34:
            return L"The user aborted the connection, or the connection request was terminated because a more "
                   L"secure connection was established.";
        case 35:
            return L"The connection can be made, but the connection itself is disabled. This value is returned "
                   L"only to clients that set the bDisabled value in the CONNMGR_CONNECTIONINFO structure.";
        case 36: return L"No path to the destination is available.";
        case 37:
            return L"A path to the destination exists but is not presently available (for example, the device is "
                   L"out of radio range or is not plugged into its cradle).";
        case 38: return L"A voice call is in progress and is using resources that this connection requires.";
        case 39: return L"The phone has been turned off.";
        case 40: return L"The connection could not be established because it would multihome an exclusive connection.";
        case 41: return L"The Connection Manager failed to allocate resources to make the connection.";
        case 42: return L"The connection link was prematurely disconnected.";
        case 43: return L"The user could not be authenticated.";
        case 44:
            return L"A connection path having requested a property, such as the WAKE_ON_INCOMING property, is not "
                   L"available.";
        case 64: return L"The device is attempting to connect.";
        case 65: return L"Another client is using resources that this connection requires.";
        case 66:
            return L"The device is waiting for a task with a higher priority to connect to the network before "
                   L"connecting to the same network. This status value is returned only to clients that specify a "
                   L"priority of CONNMGR_PRIORITY_LOWBKGND when requesting a connection.";
        case 128: return L"The connection is being disconnected.";
        case 129: return L"The device is aborting connection attempt.";
        default: return L"Error Status\n";
    }
}

int InitConnection(ConnMgr* cm, HWND frame) {
    if (QueryConnectionStatus(cm, &cm->connected, &cm->connType, &cm->connSubType) == -1) {
        LOG(LOG_WARNING, L"QueryConnectionStatus failed");
        return -1;
    }
    if (ConnectionRegisterStatusChangeNotification(cm, frame) == -1) {
        LOG(LOG_WARNING, L"ConnectionRegisterStatusChangeNotification failed");
        return -1;
    }
    return 0;
}

int ConnectionRegisterStatusChangeNotification(ConnMgr* cm, HWND window) {
    HRESULT hr = ConnMgrRegisterForStatusChangeNotification(TRUE, window);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"ConnMgrRegisterForStatusChangeNotification failed, hr=%lu", static_cast<DWORD>(hr));
        return -1;
    }
    cm->statusMsg = RegisterWindowMessageW(L"CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG");
    if (cm->statusMsg == 0) {
        cm->errorCode = GetLastError();
        LOG(LOG_WARNING, L"RegisterWindowMessage failed, connectMsg=%d, errno=%d", cm->statusMsg, cm->errorCode);
        return -1;
    }
    return 0;
}

int HandleConnectionMsg(ConnMgr* cm, UINT msg, WPARAM wParam) {
    // An unregistered message id of 0 never matches a real message.
    if (cm->statusMsg == 0 || msg != cm->statusMsg) return -1;
    if (wParam == CONNMGR_STATUS_CONNECTED) {
        cm->connected = 1;
        return 0;
    }
    if (wParam == CONNMGR_STATUS_DISCONNECTED) {
        cm->connected = 0;
        return 0;
    }
    return -1;
}

int Connect(ConnMgr* cm, int force) {
    if (force != 1 && cm->connected) return 0;
    return EstablishConnection(cm);
}

int GetConnectStatus(ConnMgr* cm) { return cm->connected; }

int EstablishConnection(ConnMgr* cm) {
    CONNMGR_DESTINATION_INFO info;
    for (int d = 0;; ++d) {
        std::memset(&info, 0, sizeof(info));
        if (ConnMgrEnumDestinations(d, &info) < 0) break;
        info.szDescription[CONNMGR_MAX_DESC - 1] = 0;
        for (int k = 0; k < PREFERRED_DESTINATION_COUNT; ++k) {
            if (!std::wcsstr(info.szDescription, PreferredDestinations[k])) continue;
            if (TryDestination(cm, info)) return 0;
        }
    }
    return -1;
}

int QueryConnectionStatus(ConnMgr* /*cm*/, int* connected, DWORD* type, DWORD* subType) {
    *connected = 0;
    *type = 0;
    *subType = 0;
    DWORD size = 0;
    HRESULT hr = ConnMgrQueryDetailedStatus(nullptr, &size);
    if (hr != kBufferTooSmall) {
        LOG(LOG_WARNING, L"ConnMgrQueryDetailedStatus error, hr = %lu", static_cast<DWORD>(hr));
        return -1;
    }
    // Records hold pointers; keep the buffer aligned for them.
    std::vector<CONNMGR_CONNECTION_DETAILED_STATUS> buffer;
    try {
        buffer.resize((size + sizeof(CONNMGR_CONNECTION_DETAILED_STATUS) - 1) / sizeof(CONNMGR_CONNECTION_DETAILED_STATUS) + 1);
    } catch (const std::bad_alloc&) {
        LOG(LOG_WARNING, L"not enough memory");
        return -1;
    }
    hr = ConnMgrQueryDetailedStatus(buffer.data(), &size);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"ConnMgrQueryDetailedStatus failed : hr = %lu", static_cast<DWORD>(hr));
        return 0;
    }
    for (CONNMGR_CONNECTION_DETAILED_STATUS* p = buffer.data(); p; p = p->pNext) {
        if (p->dwConnectionStatus != CONNMGR_STATUS_CONNECTED) continue;
        *connected = 1;
        *type = p->dwType;
        *subType = p->dwSubtype;
        LogSubtype(p->dwType, p->dwSubtype);
        break;
    }
    return 0;
}
