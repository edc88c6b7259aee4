// Threads, critical sections, events, waits and time.
#pragma once

#include <memory>

#include "platform/wintypes.h"

namespace std { class recursive_mutex; }

struct CRITICAL_SECTION {
    std::recursive_mutex* impl = nullptr;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
#define CREATE_SUSPENDED 0x00000004
#define STILL_ACTIVE 259
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_TIME_CRITICAL 15

HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL SetThreadPriority(HANDLE thread, int priority);  // accepted, not applied
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
// Ends the process with `exitCode`. Threads of CreateThread that still run (a download that
// hangs on a slow server, say) cannot be stopped from outside, so when there are any the
// static objects they may be using are left alone: the process ends at once, without
// running destructors. With none left it ends as a return from main does.
[[noreturn]] void ExitProcess(UINT exitCode);

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name);

// A mutex. A named one is known to every process of this user: while any process holds a
// handle to it, creating it again gives a handle with ERROR_ALREADY_EXISTS (183). It goes
// with the last handle, or with the process that held it, however that ends. Ownership
// (waits, ReleaseMutex) holds among the threads of one process.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits on threads (until they end) and events. WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
BOOL CloseHandle(HANDLE h);

void Sleep(DWORD milliseconds);
DWORD GetTickCount();  // milliseconds of a monotonic clock
void GetLocalTime(SYSTEMTIME* st);
void GetSystemTime(SYSTEMTIME* st);

LONG InterlockedIncrement(LONG volatile* v);
LONG InterlockedDecrement(LONG volatile* v);
LONG InterlockedExchange(LONG volatile* v, LONG value);
LONG InterlockedCompareExchange(LONG volatile* v, LONG exchange, LONG comparand);

namespace platform {

// The shared handle space of kernel objects. Other areas of the layer (files, mutexes,
// WinINet's internals) register their own objects here so CloseHandle and the waits
// treat them alike.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // True when signalled within `ms` (INFINITE waits for ever); consumes an auto-reset signal.
    virtual bool Wait(DWORD ms);
    virtual bool Waitable() const { return false; }
    virtual void Close() {}
};

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE h);

template <class T>
std::shared_ptr<T> LookupAs(HANDLE h) {
    return std::dynamic_pointer_cast<T>(LookupHandle(h));
}

// Makes the next `count` CreateThread calls of any thread fail with ERROR_NOT_ENOUGH_MEMORY,
// as when the system has no room for another thread (tests of the callers' failure paths).
void FailThreadCreation(int count);

// Threads of CreateThread that have not returned yet.
int RunningThreadCount();

// RAII guard over a CRITICAL_SECTION, for the layer's own code.
class CsLock {
public:
    explicit CsLock(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
    ~CsLock() { LeaveCriticalSection(cs_); }
    CsLock(const CsLock&) = delete;
    CsLock& operator=(const CsLock&) = delete;

private:
    CRITICAL_SECTION* cs_;
};

}  // namespace platform
