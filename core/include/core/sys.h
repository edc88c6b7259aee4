// Memory, time, events, modules, the core's context, user-visible errors, zlib.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/node.h"
#include "platform/registry.h"  // the root keys (HKEY_LOCAL_MACHINE, ...)

void* malloc_win32(size_t size);  // null on failure
void free_win32(void* p);         // null is ignored

// Ticks per second of GetTimeTick and of EventWait's time-outs (1000 unless a test
// scales time down).
int GetTimeFreq();
// A monotonic tick count.
int GetTimeTick();
void ThreadSleep(int milliseconds);

// Events: thread-safe; EventSet may be called from any thread.
void* EventCreate(bool manualReset, bool signalled);  // null on failure
void EventSet(void* event);
void EventReset(void* event);
// Waits up to `ticks` (0 polls): true when signalled; an auto-reset event is consumed.
bool EventWait(void* event, int ticks);
void EventClose(void* event);

// Looks up `name` in `*module` (a handle of the platform's module loader) and stores it
// in *slot (a function pointer variable). A missing required name sets *module to 0;
// a missing optional one leaves *slot 0. Does nothing while *module is 0.
// Returns whether the name was found.
bool GetProc(HMODULE* module, void* slot, const char* name, int optional);

// The module loader for plug-ins that load a driver library by name ("ACE_DDI.DLL"): the
// platform's LoadLibraryW, which looks in the folders of LUMEO_DLL_PATH and then in the
// program folder (platform/module.h). Null when the library cannot be loaded; the handle
// works with GetProc. FreeModule drops one reference.
HMODULE LoadModule(const tchar* name);
void FreeModule(HMODULE module);

// A DWORD value of the platform's registry, for a plug-in's driver settings. Read: 0, or
// ERR_INVALID_PARAM when the key or the value is missing or not a DWORD. Write: creates
// the key when needed; 0 or ERR_NOT_SUPPORTED when the registry refuses.
int RegistryReadDword(HKEY root, const tchar* key, const tchar* name, uint32_t* value);
int RegistryWriteDword(HKEY root, const tchar* key, const tchar* name, uint32_t value);

// Runs call(arg) and returns its result. An access fault (SIGSEGV, SIGBUS) inside the call
// ends it and gives `faultResult` instead: for driver routines that are known to fault.
// Nothing the call had under way is cleaned up, so it must hold no locks of the caller's.
int CallGuarded(int (*call)(void* arg), void* arg, int faultResult);
// Copies `size` bytes (at most 4096) from `address`, which may not be readable (a chip's
// registers), without a fault: 0, or ERR_DEVICE_ERROR. Unlike a guarded call it needs no
// signal handling, so it also holds where a sanitizer takes the faults.
int ReadGuarded(const void* address, void* out, size_t size);

// The core's context record.
struct CoreContext {
    uintptr_t version;        // word 0: the interface version
    uintptr_t reserved[4];    // words 1-4
    HWND wnd;                 // word 5: the core's window
    int (*orientationHook)(void* object);  // screen direction word, or null
    void* orientationHookObject;
};
CoreContext* Context();

// Shows a message of the core to the user: sourceClass (the class that reports it, or 0),
// messageClass and id choose the text; messages that name something take one further
// argument, a tchar text (ERR_ -13, -16, -8; AHI_ 514). Never blocks. Every call is
// recorded for the host and tests.
void ShowError(fourcc_t sourceClass, fourcc_t messageClass, int id, ...);

// zlib's inflate of a whole buffer: 0 on success (Z_OK), negative zlib codes otherwise.
extern "C" int uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                          unsigned long sourceLen);
