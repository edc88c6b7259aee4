// "wininet.dll" as a module, until the platform has a module loader of its own (the
// definition is weak so that the loader's replaces it).
#include <dlfcn.h>

#include <cwctype>
#include <string>

#include "platform/wininet.h"

namespace {
bool IsWininetName(const wchar_t* name) {
    std::wstring n;
    for (const wchar_t* p = name; *p; ++p) n += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*p)));
    return n == L"wininet.dll" || n == L"wininet";
}
}  // namespace

__attribute__((weak)) HMODULE GetModuleHandleW(LPCWSTR name) {
    if (!name) return dlopen(nullptr, RTLD_LAZY);
    if (!IsWininetName(name)) return nullptr;
    // The object that holds this layer: the program, or the plug-in file it is built into.
    // A system without InternetGoOnlineW is shown as one without the module.
    if (!platform::GetWininetExport("InternetGoOnlineW")) return nullptr;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&InternetGoOnlineW), &info) || !info.dli_fname) return nullptr;
    void* self = dlopen(nullptr, RTLD_LAZY);
    void* mine = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (mine && dlsym(mine, "InternetGoOnlineW")) {
        if (self) dlclose(self);
        dlclose(mine);  // NOLOAD took a reference; the object stays loaded
        return mine;
    }
    if (mine) dlclose(mine);
    return self;
}
