#include "platform/uifallback.h"
#include "platform/lasterror.h"

#include <algorithm>
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

struct Texts {
    std::mutex lock;
    std::map<HWND, std::wstring> texts;
};

Texts& T() {
    static Texts* t = new Texts();
    return *t;
}

}  // namespace

UINT RegisterWindowMessageW(LPCWSTR name) {
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

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    platform::MessageBoxHook hook = g_hook.load();
    return hook ? hook(owner, text, caption, type) : IDOK;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    Texts& t = T();
    std::lock_guard<std::mutex> g(t.lock);
    t.texts[window] = text ? text : L"";
    return TRUE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int maxCount) {
    if (!buffer || maxCount <= 0) return 0;
    buffer[0] = 0;
    Texts& t = T();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.texts.find(window);
    if (it == t.texts.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    size_t n = std::min<size_t>(it->second.size(), static_cast<size_t>(maxCount - 1));
    it->second.copy(buffer, n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

namespace platform {

void SetMessageBoxHook(MessageBoxHook hook) { g_hook.store(hook); }

}  // namespace platform
