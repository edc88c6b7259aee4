#include "platform/uifallback.h"
#include "platform/lasterror.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace {

std::atomic<platform::MessageBoxHook> g_hook{nullptr};

struct Names {
    std::mutex lock;
    std::map<std::wstring, UINT> ids;
    UINT next = 0xC000;  // registered messages live in 0xC000..0xFFFF
};

Names& N() {
    static Names* n = new Names();
    return *n;
}

}  // namespace

__attribute__((weak)) UINT RegisterWindowMessageW(LPCWSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Names& n = N();
    std::lock_guard<std::mutex> g(n.lock);
    auto it = n.ids.find(name);
    if (it != n.ids.end()) return it->second;
    if (n.next > 0xFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return n.ids[name] = n.next++;
}

__attribute__((weak)) int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    platform::MessageBoxHook hook = g_hook.load();
    return hook ? hook(owner, text, caption, type) : IDOK;
}

namespace platform {

void SetMessageBoxHook(MessageBoxHook hook) { g_hook.store(hook); }

}  // namespace platform
