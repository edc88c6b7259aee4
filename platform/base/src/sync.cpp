#include "platform/sync.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/lasterror.h"

namespace platform {

bool KernelObject::Wait(DWORD) { return false; }

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // outlives the program's static objects
    return *table;
}

// A signal with Win32 event semantics; threads use one to report their end.
class Event : public KernelObject {
public:
    Event(bool manual, bool initial) : manual_(manual), signalled_(initial) {}
    bool Waitable() const override { return true; }
    bool Wait(DWORD ms) override {
        std::unique_lock<std::mutex> g(m_);
        auto ready = [&] { return signalled_; };
        if (ms == INFINITE) cv_.wait(g, ready);
        else if (!cv_.wait_for(g, std::chrono::milliseconds(ms), ready)) return false;
        if (!manual_) signalled_ = false;
        return true;
    }
    void Set() {
        std::lock_guard<std::mutex> g(m_);
        signalled_ = true;
        if (manual_) cv_.notify_all(); else cv_.notify_one();
    }
    void Reset() {
        std::lock_guard<std::mutex> g(m_);
        signalled_ = false;
    }

private:
    bool manual_;
    bool signalled_;
    std::mutex m_;
    std::condition_variable cv_;
};

class Thread : public KernelObject {
public:
    bool Waitable() const override { return true; }
    bool Wait(DWORD ms) override { return done.Wait(ms); }
    Event done{true, false};
    Event started{true, false};
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
    DWORD id = 0;
};

std::atomic<DWORD> g_nextThreadId{1};
std::atomic<int> g_runningThreads{0};  // threads of CreateThread that have not returned
std::atomic<int> g_failThreads{0};
thread_local DWORD t_threadId = 0;

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    uintptr_t id = t.next;
    t.next += 4;
    t.objects.emplace(id, std::move(object));
    return reinterpret_cast<HANDLE>(id);
}

void FailThreadCreation(int count) { g_failThreads.store(count > 0 ? count : 0); }
int RunningThreadCount() { return g_runningThreads.load(); }

std::shared_ptr<KernelObject> LookupHandle(HANDLE h) {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
    return it == t.objects.end() ? nullptr : it->second;
}

}  // namespace platform

using platform::KernelObject;

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
    if (cs) cs->impl = new std::recursive_mutex;
}
void DeleteCriticalSection(CRITICAL_SECTION* cs) {
    if (!cs) return;
    delete cs->impl;
    cs->impl = nullptr;
}
void EnterCriticalSection(CRITICAL_SECTION* cs) {
    if (cs && cs->impl) cs->impl->lock();
}
void LeaveCriticalSection(CRITICAL_SECTION* cs) {
    if (cs && cs->impl) cs->impl->unlock();
}
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) { return cs && cs->impl && cs->impl->try_lock(); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                    DWORD* threadId) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (int n = platform::g_failThreads.load(); n > 0;) {
        if (platform::g_failThreads.compare_exchange_weak(n, n - 1)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    auto th = std::make_shared<platform::Thread>();
    th->id = platform::g_nextThreadId++;
    if (!(flags & CREATE_SUSPENDED)) th->started.Set();
    HANDLE h = platform::RegisterHandle(th);
    platform::g_runningThreads++;
    try {
        std::thread([th, start, param] {
            platform::t_threadId = th->id;
            th->started.Wait(INFINITE);
            DWORD code = start(param);
            th->exitCode = code;
            platform::g_runningThreads--;
            th->done.Set();
        }).detach();
    } catch (const std::system_error&) {
        platform::g_runningThreads--;
        CloseHandle(h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = th->id;
    return h;
}

DWORD ResumeThread(HANDLE thread) {
    auto th = platform::LookupAs<platform::Thread>(thread);
    if (!th) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    th->started.Set();
    return 1;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    auto th = platform::LookupAs<platform::Thread>(thread);
    if (!th || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = th->exitCode;
    return TRUE;
}

BOOL SetThreadPriority(HANDLE, int) { return TRUE; }
HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

DWORD GetCurrentThreadId() {
    if (!platform::t_threadId) platform::t_threadId = platform::g_nextThreadId++;
    return platform::t_threadId;
}
DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

void ExitProcess(UINT exitCode) {
    if (platform::g_runningThreads.load() > 0) {
        std::fflush(nullptr);
        _exit(static_cast<int>(exitCode));
    }
    std::exit(static_cast<int>(exitCode));
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
    return platform::RegisterHandle(std::make_shared<platform::Event>(manualReset != 0, initialState != 0));
}

BOOL SetEvent(HANDLE event) {
    auto e = platform::LookupAs<platform::Event>(event);
    if (!e) { SetLastError(ERROR_INVALID_HANDLE); return FALSE; }
    e->Set();
    return TRUE;
}
BOOL ResetEvent(HANDLE event) {
    auto e = platform::LookupAs<platform::Event>(event);
    if (!e) { SetLastError(ERROR_INVALID_HANDLE); return FALSE; }
    e->Reset();
    return TRUE;
}
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
    auto obj = platform::LookupHandle(h);
    if (!obj || !obj->Waitable()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return obj->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (!handles || count == 0 || count > 64) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objs;
    for (DWORD i = 0; i < count; ++i) {
        auto o = platform::LookupHandle(handles[i]);
        if (!o || !o->Waitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objs.push_back(std::move(o));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    // Poll in short slices: waits on several objects are rare in this program.
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (auto& o : objs) all = o->Wait(0) && all;
            if (all) return WAIT_OBJECT_0;
        } else {
            for (DWORD i = 0; i < count; ++i)
                if (objs[i]->Wait(0)) return WAIT_OBJECT_0 + i;
        }
        if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

BOOL CloseHandle(HANDLE h) {
    std::shared_ptr<KernelObject> obj;
    {
        platform::HandleTable& t = platform::Table();
        std::lock_guard<std::mutex> g(t.lock);
        auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
        if (it == t.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        obj = std::move(it->second);
        t.objects.erase(it);
    }
    obj->Close();
    return TRUE;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

DWORD GetTickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {
void FillTime(SYSTEMTIME* st, bool local) {
    if (!st) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    if (local) localtime_r(&ts.tv_sec, &t); else gmtime_r(&ts.tv_sec, &t);
    st->wYear = static_cast<WORD>(t.tm_year + 1900);
    st->wMonth = static_cast<WORD>(t.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st->wDay = static_cast<WORD>(t.tm_mday);
    st->wHour = static_cast<WORD>(t.tm_hour);
    st->wMinute = static_cast<WORD>(t.tm_min);
    st->wSecond = static_cast<WORD>(t.tm_sec);
    st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}
}  // namespace

void GetLocalTime(SYSTEMTIME* st) { FillTime(st, true); }
void GetSystemTime(SYSTEMTIME* st) { FillTime(st, false); }

LONG InterlockedIncrement(LONG volatile* v) { return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* v) { return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* v, LONG value) { return __atomic_exchange_n(v, value, __ATOMIC_SEQ_CST); }
LONG InterlockedCompareExchange(LONG volatile* v, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
