// The platform calls that output plug-ins make through the core besides LoadModule:
// GetModuleFileNameW of a loaded library, the window calls (EnumWindows, GetWindowTextW,
// GetWindowLongW, PostMessageW) and the screen DC with its display driver escapes (GetDC,
// ExtEscape, ReleaseDC). The core carries the platform's own; in a program that has a
// window system of its own, that program's calls answer instead, so a plug-in sees the
// program's windows.
#pragma once

#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/winuser.h"
