// Libraries loaded at run time. A module handle is the loader's own handle, so it can be
// used with dlsym-based lookups (the core's GetProc) as well as with GetProcAddressW.
#pragma once

#include "platform/wintypes.h"

// A function or data address handed out by GetProcAddress; cast to the pointer type wanted.
using FARPROC = void*;

// Loads a library by path or by name. A name with a folder in it ("\Windows\x.dll",
// "plugins\x.plg", "/tmp/x.so") is taken as it is, relative to the working folder when it
// does not start with a separator; a bare name is looked for in the folders of the
// environment variable LUMEO_DLL_PATH (colon-separated), then in the program's folder.
// The last element is matched without regard to the case of Latin letters, as the phone's
// file system does. Loading the same file again gives the same handle and counts a
// reference. Failures: ERROR_MOD_NOT_FOUND (126) when there is no such file,
// ERROR_BAD_EXE_FORMAT (193) when it is there but cannot be loaded, ERROR_INVALID_PARAMETER
// for a null or empty name.
HMODULE LoadLibraryW(LPCWSTR name);
// Drops one reference; the library is unloaded with the last.
BOOL FreeLibrary(HMODULE module);
// An exported name's address; ERROR_PROC_NOT_FOUND (127) when the module has no such export.
FARPROC GetProcAddressW(HMODULE module, LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
