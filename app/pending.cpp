#include "pending.h"

int BeginPlayVideo(HWND) { return -1; }
int ShowPropertySheet(HWND, int, int, LPARAM) { return -1; }
DWORD PlayerThread(LPVOID) { return 0; }
