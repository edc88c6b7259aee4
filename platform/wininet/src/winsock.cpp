#include "platform/winsock.h"

#include <atomic>
#include <cstring>

#include "platform/lasterror.h"

namespace {
std::atomic<int> g_started{0};
}

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    BYTE major = LOBYTE(versionRequested);
    BYTE minor = HIBYTE(versionRequested);
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    if (!data) return WSAEFAULT;
    std::memset(data, 0, sizeof(*data));
    data->wHighVersion = MAKEWORD(2, 2);
    data->wVersion = (major > 2 || (major == 2 && minor > 2)) ? MAKEWORD(2, 2) : versionRequested;
    std::strcpy(data->szDescription, "WinSock 2.2");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0;
    data->iMaxUdpDg = 0;
    ++g_started;
    return 0;
}

int WSACleanup() {
    int n = g_started.load();
    while (n > 0) {
        if (g_started.compare_exchange_weak(n, n - 1)) return 0;
    }
    SetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }
