// COM start-up per thread. There are no COM objects here; the counting is kept because
// callers treat a second initialisation on a thread (S_FALSE) as their own error.
#pragma once

#include "platform/wintypes.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)

// S_OK on the thread's first call, S_FALSE on later ones with the same model,
// RPC_E_CHANGED_MODE (not counted) for another model, E_INVALIDARG for a reserved
// argument or unknown flags.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
// Undoes one successful CoInitializeEx of this thread; extra calls are ignored.
void CoUninitialize();
