// The platform calls of core/win.h. GDI and the module file names are the platform's own,
// linked in whether or not the core uses them, since plug-ins link against the core alone.
// The window calls answer as a process without windows does; a program with a window
// system of its own (it exports these names) answers them instead.
#include "core/win.h"

namespace {

[[gnu::used]] void* const kPlatformCalls[] = {
    reinterpret_cast<void*>(&GetModuleFileNameW),
    reinterpret_cast<void*>(&GetDC),
    reinterpret_cast<void*>(&ReleaseDC),
    reinterpret_cast<void*>(&ExtEscape),
};

}  // namespace

BOOL EnumWindows(WNDENUMPROC proc, LPARAM) { return proc ? TRUE : FALSE; }

int GetWindowTextW(HWND, LPWSTR buffer, int capacity) {
    if (buffer && capacity > 0) buffer[0] = 0;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

LONG GetWindowLongW(HWND, int) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL PostMessageW(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}
