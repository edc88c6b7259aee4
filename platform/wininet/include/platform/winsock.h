// Winsock start-up and clean-up. The program opens no sockets of its own (HTTP goes
// through WinINet), so the pair only counts, as the system's does.
#pragma once

#include "platform/wintypes.h"

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
#define SOCKET_ERROR (-1)
#define WSANOTINITIALISED 10093L
#define WSAVERNOTSUPPORTED 10092L
#define WSAEFAULT 10014L

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

// 0 on success; versions below 1.1 give WSAVERNOTSUPPORTED. Versions above 2.2 get 2.2.
int WSAStartup(WORD versionRequested, LPWSADATA data);
// 0, or SOCKET_ERROR with WSANOTINITIALISED when there was no matching start-up.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
