// Memory, time, events, module look-ups, the context record and user-visible errors.
#include "core/sys.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "core/testing.h"
#include "core/text.h"
#include "platform/module.h"

namespace {

std::atomic<int> g_freq{1000};
std::atomic<int (*)()> g_clock{nullptr};
std::atomic<bool> g_skipSleep{false};

// Never destroyed, as a player thread may still run while the process ends.
std::mutex& StateLock() {
    static auto* m = new std::mutex;
    return *m;
}
std::vector<int>& Sleeps() {
    static auto* v = new std::vector<int>;
    return *v;
}
std::vector<core::ShownError>& Errors() {
    static auto* v = new std::vector<core::ShownError>;
    return *v;
}
void (*g_errorHandler)(const core::ShownError&, void*) = nullptr;
void* g_errorUser = nullptr;

struct Event {
    std::mutex m;
    std::condition_variable cv;
    bool manual;
    bool signalled;
};

struct Message {
    fourcc_t cls;
    int id;
    bool takesText;
    const wchar_t* text;
};

// The core's message texts.
const Message kMessages[] = {
    {ERR_CLASS, -8, true, L"File not found: %s"},
    {ERR_CLASS, -13, true, L"Could not connect (%s)"},
    {ERR_CLASS, -16, true, L"Could not open %s"},
    {ERR_CLASS, -19, false, L"Access denied"},
    {FOURCC('M', 'P', '4', 'F'), 513, false, L"A track mixes sample descriptions and was left out"},
    {FOURCC('A', 'H', 'I', '_'), 512, false, L"Fewer than two overlay surfaces are available"},
    {FOURCC('A', 'H', 'I', '_'), 513, false, L"The video device or its IDCT engine could not be opened"},
    {FOURCC('A', 'H', 'I', '_'), 514, true, L"The video driver is too old (version %s)"},
    {FOURCC('2', '7', '0', 'G'), 1024, false, L"The chip's video driver could not be started"},
};

}  // namespace

void* malloc_win32(size_t size) { return std::malloc(size ? size : 1); }
void free_win32(void* p) { std::free(p); }

int GetTimeFreq() { return g_freq.load(); }

int GetTimeTick() {
    if (auto clock = g_clock.load()) return clock();
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

void ThreadSleep(int milliseconds) {
    {
        std::lock_guard<std::mutex> g(StateLock());
        Sleeps().push_back(milliseconds);
    }
    if (g_skipSleep.load() || milliseconds <= 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void* EventCreate(bool manualReset, bool signalled) {
    auto* e = new (std::nothrow) Event;
    if (!e) return nullptr;
    e->manual = manualReset;
    e->signalled = signalled;
    return e;
}

void EventSet(void* event) {
    auto* e = static_cast<Event*>(event);
    if (!e) return;
    {
        std::lock_guard<std::mutex> g(e->m);
        e->signalled = true;
    }
    e->cv.notify_all();
}

void EventReset(void* event) {
    auto* e = static_cast<Event*>(event);
    if (!e) return;
    std::lock_guard<std::mutex> g(e->m);
    e->signalled = false;
}

bool EventWait(void* event, int ticks) {
    auto* e = static_cast<Event*>(event);
    if (!e) return false;
    std::unique_lock<std::mutex> g(e->m);
    if (ticks > 0)
        e->cv.wait_for(g, std::chrono::milliseconds(ticks), [e] { return e->signalled; });
    if (!e->signalled) return false;
    if (!e->manual) e->signalled = false;
    return true;
}

void EventClose(void* event) { delete static_cast<Event*>(event); }

bool GetProc(HMODULE* module, void* slot, const char* name, int optional) {
    if (!module || !*module || !slot || !name) return false;
    void* sym = GetProcAddress(*module, name);
    if (sym) {
        *static_cast<void**>(slot) = sym;
        return true;
    }
    if (optional)
        *static_cast<void**>(slot) = nullptr;
    else
        *module = nullptr;
    return false;
}

HMODULE LoadModule(const tchar* name) { return LoadLibraryW(name); }

void FreeModule(HMODULE module) {
    if (module) FreeLibrary(module);
}

int RegistryReadDword(HKEY root, const tchar* key, const tchar* name, uint32_t* value) {
    if (!value) return ERR_INVALID_PARAM;
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return ERR_INVALID_PARAM;
    // The type first: a text value is read as wide characters, more bytes than it measures.
    DWORD type = 0, size = 0, v = 0;
    LONG e = RegQueryValueExW(k, name, nullptr, &type, nullptr, &size);
    if (e == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD))
        e = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
    RegCloseKey(k);
    if (e != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(DWORD)) return ERR_INVALID_PARAM;
    *value = v;
    return 0;
}

int RegistryWriteDword(HKEY root, const tchar* key, const tchar* name, uint32_t value) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return ERR_NOT_SUPPORTED;
    DWORD v = value;
    LONG e = RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof(v));
    RegCloseKey(k);
    return e == ERROR_SUCCESS ? 0 : ERR_NOT_SUPPORTED;
}

namespace {

thread_local sigjmp_buf* t_guard = nullptr;
struct sigaction g_oldSegv, g_oldBus;

void FaultHandler(int sig, siginfo_t* info, void* context) {
    if (sigjmp_buf* guard = t_guard) {
        t_guard = nullptr;
        siglongjmp(*guard, 1);
    }
    // Not ours: hand the fault to whoever had it before.
    const struct sigaction& old = sig == SIGBUS ? g_oldBus : g_oldSegv;
    if (old.sa_flags & SA_SIGINFO) {
        if (old.sa_sigaction) old.sa_sigaction(sig, info, context);
        return;
    }
    if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
        old.sa_handler(sig);
        return;
    }
    signal(sig, SIG_DFL);
    // A fault re-runs its instruction; a raised signal must be raised again.
    if (!info || info->si_code <= 0) raise(sig);
}

void InstallFaultHandler() {
    struct sigaction sa {};
    sa.sa_sigaction = FaultHandler;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, &g_oldSegv);
    sigaction(SIGBUS, &sa, &g_oldBus);
}

}  // namespace

int CallGuarded(int (*call)(void* arg), void* arg, int faultResult) {
    if (!call) return faultResult;
    static std::once_flag once;
    std::call_once(once, InstallFaultHandler);
    sigjmp_buf here;
    sigjmp_buf* outer = t_guard;
    if (sigsetjmp(here, 1) != 0) {
        t_guard = outer;
        return faultResult;
    }
    t_guard = &here;
    int r = call(arg);
    t_guard = outer;
    return r;
}

int ReadGuarded(const void* address, void* out, size_t size) {
    if (!out || size > 4096) return ERR_INVALID_PARAM;
    if (size == 0) return 0;
    // The kernel copies the bytes into a pipe and reports an unreadable address instead
    // of faulting.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return ERR_DEVICE_ERROR;
    bool ok = write(fds[1], address, size) == static_cast<ssize_t>(size) &&
              read(fds[0], out, size) == static_cast<ssize_t>(size);
    close(fds[0]);
    close(fds[1]);
    return ok ? 0 : ERR_DEVICE_ERROR;
}

CoreContext* Context() {
    static CoreContext context = {CORE_INTERFACE_VERSION, {0, 0, 0, 0}, nullptr, nullptr, nullptr};
    return &context;
}

void ShowError(fourcc_t sourceClass, fourcc_t messageClass, int id, ...) {
    core::ShownError e{sourceClass, messageClass, id, {}, {}};
    const Message* message = nullptr;
    for (const Message& m : kMessages)
        if (m.cls == messageClass && m.id == id) message = &m;
    if (message && message->takesText) {
        va_list ap;
        va_start(ap, id);
        const tchar* arg = va_arg(ap, const tchar*);
        va_end(ap);
        if (arg) e.argument = arg;
    }
    e.text = message ? platform::FormatW(message->text, e.argument.c_str())
                     : platform::FormatW(L"Error %d", id);
    void (*handler)(const core::ShownError&, void*);
    void* user;
    {
        std::lock_guard<std::mutex> g(StateLock());
        Errors().push_back(e);
        handler = g_errorHandler;
        user = g_errorUser;
    }
    if (handler) handler(e, user);
}

namespace core {

std::vector<ShownError> ShownErrors() {
    std::lock_guard<std::mutex> g(StateLock());
    return Errors();
}

void ClearShownErrors() {
    std::lock_guard<std::mutex> g(StateLock());
    Errors().clear();
}

void SetShowErrorHandler(void (*handler)(const ShownError& e, void* user), void* user) {
    std::lock_guard<std::mutex> g(StateLock());
    g_errorHandler = handler;
    g_errorUser = user;
}

void SetTimeFreq(int ticksPerSecond) { g_freq.store(ticksPerSecond > 0 ? ticksPerSecond : 1000); }
void SetFakeClock(int (*clock)()) { g_clock.store(clock); }
void SetSleepSkipped(bool skipped) { g_skipSleep.store(skipped); }

std::vector<int> SleepLog() {
    std::lock_guard<std::mutex> g(StateLock());
    return Sleeps();
}

void ClearSleepLog() {
    std::lock_guard<std::mutex> g(StateLock());
    Sleeps().clear();
}

}  // namespace core
