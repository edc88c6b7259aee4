#include "platform/module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameNameIgnoringCase(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] && i < b.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return a[i] == 0 && i == b.size();
}

// The file `leaf` in `dir`: the exact name first, else the one name that differs only in
// the case of Latin letters.
std::optional<std::string> FindInFolder(const std::string& dir, const std::string& leaf) {
    std::string base = dir.empty() ? std::string(".") : dir;
    std::string exact = base + "/" + leaf;
    if (IsRegularFile(exact)) return exact;
    DIR* d = ::opendir(base.c_str());
    if (!d) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* e = ::readdir(d)) {
        if (SameNameIgnoringCase(e->d_name, leaf) && IsRegularFile(base + "/" + e->d_name)) {
            found = base + "/" + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::optional<std::string> Locate(const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
        std::string dir = slash == 0 ? std::string("/") : name.substr(0, slash);
        return FindInFolder(dir, name.substr(slash + 1));
    }
    if (const char* env = std::getenv("LUMEO_DLL_PATH")) {
        std::string list = env;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            std::string dir = list.substr(start, end - start);
            if (!dir.empty())
                if (auto hit = FindInFolder(dir, name)) return hit;
            start = end + 1;
        }
    }
    std::string program = ProgramFolder();
    if (!program.empty()) return FindInFolder(program, name);
    return std::nullopt;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string native = platform::ToNativePath(name);
    std::optional<std::string> path = Locate(native);
    if (!path) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    char absolute[PATH_MAX];
    if (::realpath(path->c_str(), absolute)) *path = absolute;
    // Bound at load, so a library with an unresolvable import fails here rather than at a
    // call; kept to itself so two libraries may export the same names.
    void* handle = ::dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    return handle;
}

BOOL FreeLibrary(HMODULE module) {
    if (!module || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !name) {
        SetLastError(module ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* sym = ::dlsym(module, name);
    if (!sym) SetLastError(ERROR_PROC_NOT_FOUND);
    return sym;
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR name) {
    if (!name) return GetProcAddress(module, nullptr);
    std::string narrow = platform::WideToUtf8(name);
    return GetProcAddress(module, narrow.c_str());
}
