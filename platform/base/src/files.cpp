#include "platform/files.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/lasterror.h"
#include "platform/sync.h"

namespace platform {

std::string WindowsDirectory() {
    if (const char* d = std::getenv("LUMEO_WINDOWS_DIR"); d && *d) return d;
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "Windows";
    std::string exe(buf, static_cast<size_t>(n));
    std::string dir = exe.substr(0, exe.find_last_of('/'));
    // A program in the program folder's Update folder (the updater) belongs to the folder above.
    std::string base = dir.substr(dir.find_last_of('/') + 1);
    for (char& c : base)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (base == "update" && dir.find_last_of('/') > 0) dir = dir.substr(0, dir.find_last_of('/'));
    return dir + "/Windows";
}

std::string ToNativePath(const wchar_t* path) {
    if (!path) return {};
    std::string s = WideToUtf8(path);
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\\') c = '/';
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    // The phone's system folder (any case, as its file system has it).
    static const char kSystem[] = "/windows";
    const size_t n = sizeof kSystem - 1;
    if (out.size() >= n && (out.size() == n || out[n] == '/') &&
        std::equal(kSystem, kSystem + n, out.begin(),
                   [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); }))
        out = WindowsDirectory() + out.substr(n);
    return out;
}

std::wstring FromNativePath(const std::string& path) {
    std::wstring w = Utf8ToWide(path);
    for (auto& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

DWORD ErrnoToWin32(int err) {
    switch (err) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOSPC: return ERROR_DISK_FULL;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EISDIR: return ERROR_ACCESS_DENIED;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EIO: return ERROR_WRITE_FAULT;
        default: return ERROR_INVALID_FUNCTION;
    }
}

std::string RuntimeDirectory() {
    std::string dir;
    if (const char* d = std::getenv("LUMEO_RUNTIME_DIR"); d && *d) {
        dir = d;
    } else if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x) {
        dir = std::string(x) + "/lumeo";
    } else {
        dir = "/tmp/lumeo-" + std::to_string(getuid());
    }
    mkdir(dir.c_str(), 0700);
    return dir;
}

namespace {

bool Fail(int err) {
    SetLastError(ErrnoToWin32(err));
    return false;
}

// A missing file in a missing folder reports the folder, as the phone does.
DWORD MissingCode(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
    struct stat st{};
    return stat(path.substr(0, slash).c_str(), &st) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

wchar_t Fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + 32 : c; }

bool Match(const wchar_t* p, const wchar_t* s) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*s) {
        if (*p == L'?' || (*p && *p != L'*' && Fold(*p) == Fold(*s))) {
            ++p, ++s;
        } else if (*p == L'*') {
            star = p++;
            resume = s;
        } else if (star) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (*p == L'*') ++p;
    // "*.*" also matches names without a dot, as on the phone.
    if (p[0] == L'.' && p[1] == L'*' && p[2] == 0) return true;
    return *p == 0;
}

void FileTimeFrom(time_t t, FILETIME& ft) {
    uint64_t v = (static_cast<uint64_t>(t) + 11644473600ull) * 10000000ull;
    ft.dwLowDateTime = static_cast<DWORD>(v);
    ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
}

struct Entry {
    std::wstring name;
    struct stat st;
};

class FindObject : public KernelObject {
public:
    std::vector<Entry> entries;
    size_t next = 0;
};

void FillFind(const Entry& e, WIN32_FIND_DATAW* d) {
    std::memset(d, 0, sizeof *d);
    d->dwFileAttributes = S_ISDIR(e.st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(e.st.st_mode & S_IWUSR)) d->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    uint64_t size = static_cast<uint64_t>(e.st.st_size);
    d->nFileSizeLow = static_cast<DWORD>(size);
    d->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    FileTimeFrom(e.st.st_ctime, d->ftCreationTime);
    FileTimeFrom(e.st.st_atime, d->ftLastAccessTime);
    FileTimeFrom(e.st.st_mtime, d->ftLastWriteTime);
    size_t n = e.name.size() < MAX_PATH - 1 ? e.name.size() : MAX_PATH - 1;
    std::wmemcpy(d->cFileName, e.name.c_str(), n);
    d->cFileName[n] = 0;
}

class FileObject : public KernelObject {
public:
    explicit FileObject(int fd) : fd(fd) {}
    ~FileObject() override { Close(); }
    void Close() override {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fd;
};

}  // namespace
}  // namespace platform

using namespace platform;

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    std::string p = ToNativePath(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (::mkdir(p.c_str(), 0755) == 0) return TRUE;
    if (errno == ENOENT) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return Fail(errno);
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    std::string p = ToNativePath(path);
    return ::rmdir(p.c_str()) == 0 ? TRUE : Fail(errno);
}

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    std::string src = ToNativePath(from), dst = ToNativePath(to);
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        if (errno == ENOENT) SetLastError(MissingCode(src));
        else Fail(errno);
        return FALSE;
    }
    struct stat st{};
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Write to a temporary beside the target and rename, so a reader never sees half a copy.
    std::string tmp = dst + ".copy-" + std::to_string(getpid()) + "-" + std::to_string(GetCurrentThreadId());
    int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        int e = errno;
        ::close(in);
        if (e == ENOENT) SetLastError(ERROR_PATH_NOT_FOUND); else Fail(e);
        return FALSE;
    }
    // The copy keeps the source's permissions: a copied program stays runnable.
    ::fchmod(out, st.st_mode & 0777);
    char buf[65536];
    bool ok = true;
    int err = 0;
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false, err = errno;
            break;
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(out, buf + off, n - off);
            if (w < 0) {
                if (errno == EINTR) continue;
                ok = false, err = errno;
                break;
            }
            off += w;
        }
        if (!ok) break;
    }
    ::close(in);
    if (::close(out) != 0 && ok) ok = false, err = errno;
    if (ok && failIfExists) {
        if (::link(tmp.c_str(), dst.c_str()) != 0) ok = false, err = errno;
        ::unlink(tmp.c_str());
        if (!ok) {
            SetLastError(err == EEXIST ? ERROR_FILE_EXISTS : ErrnoToWin32(err));
            return FALSE;
        }
        return TRUE;
    }
    if (ok && ::rename(tmp.c_str(), dst.c_str()) != 0) ok = false, err = errno;
    if (!ok) {
        ::unlink(tmp.c_str());
        return Fail(err);
    }
    return TRUE;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
    std::string src = ToNativePath(from), dst = ToNativePath(to);
    struct stat st{};
    if (::stat(dst.c_str(), &st) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    return ::rename(src.c_str(), dst.c_str()) == 0 ? TRUE : Fail(errno);
}

BOOL DeleteFileW(LPCWSTR path) {
    std::string p = ToNativePath(path);
    struct stat st{};
    if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(p.c_str()) == 0) return TRUE;
    if (errno == ENOENT) {
        SetLastError(MissingCode(p));
        return FALSE;
    }
    return Fail(errno);
}

DWORD GetFileAttributesW(LPCWSTR path) {
    std::string p = ToNativePath(path);
    struct stat st{};
    if (::stat(p.c_str(), &st) != 0) {
        SetLastError(errno == ENOENT ? MissingCode(p) : ErrnoToWin32(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD a = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
    return a;
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    if (!pattern || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string native = ToNativePath(pattern);
    auto slash = native.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
    std::wstring pat = Utf8ToWide(slash == std::string::npos ? native : native.substr(slash + 1));
    if (pat.empty()) pat = L"*";
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>();
    while (dirent* e = ::readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        std::wstring name = Utf8ToWide(e->d_name);
        if (!Match(pat.c_str(), name.c_str())) continue;
        Entry en{name, {}};
        if (::stat((dir + "/" + e->d_name).c_str(), &en.st) != 0) continue;
        find->entries.push_back(std::move(en));
    }
    ::closedir(d);
    if (find->entries.empty()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    FillFind(find->entries[0], data);
    find->next = 1;
    return RegisterHandle(find);
}

BOOL FindNextFileW(HANDLE h, WIN32_FIND_DATAW* data) {
    auto find = LookupAs<FindObject>(h);
    if (!find || !data) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (find->next >= find->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    FillFind(find->entries[find->next++], data);
    return TRUE;
}

BOOL FindClose(HANDLE h) {
    if (!LookupAs<FindObject>(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(h);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::string path;
    if (module == nullptr) {
        char buf[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n < 0) return Fail(errno), 0;
        path.assign(buf, n);
    } else {
        link_map* map = nullptr;
        if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = map->l_name;
        if (path.empty()) return GetModuleFileNameW(nullptr, buffer, size);  // the program itself
    }
    std::wstring w = FromNativePath(path);
    DWORD n = static_cast<DWORD>(w.size()) < size ? static_cast<DWORD>(w.size()) : size - 1;
    std::wmemcpy(buffer, w.c_str(), n);
    buffer[n] = 0;
    if (n < w.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return n;
}

FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    std::string m;
    for (const wchar_t* c = mode; *c; ++c)
        if (*c == L'r' || *c == L'w' || *c == L'a' || *c == L'+' || *c == L'b') m += static_cast<char>(*c);
    m += 'e';  // close on exec: programs started later must not inherit open files
    std::string p = ToNativePath(path);
    FILE* f = std::fopen(p.c_str(), m.c_str());
    if (!f) SetLastError(errno == ENOENT ? MissingCode(p) : ErrnoToWin32(errno));
    return f;
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE) {
    std::string p = ToNativePath(path);
    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & (GENERIC_WRITE | FILE_APPEND_DATA))) flags |= O_RDWR;
    else if (access & (GENERIC_WRITE | FILE_APPEND_DATA)) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    if (access & FILE_APPEND_DATA) flags |= O_APPEND;
    switch (creation) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
        case OPEN_EXISTING: break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(p.c_str(), flags, 0644);
    if (fd < 0) {
        if (errno == EEXIST) SetLastError(ERROR_FILE_EXISTS);
        else SetLastError(errno == ENOENT ? MissingCode(p) : ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(std::make_shared<FileObject>(fd));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD* read, void*) {
    if (read) *read = 0;
    auto f = LookupAs<FileObject>(file);
    if (!f || (!buffer && toRead)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD total = 0;
    while (total < toRead) {
        ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + total, toRead - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (read) *read = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, DWORD* written, void*) {
    if (written) *written = 0;
    auto f = LookupAs<FileObject>(file);
    if (!f || (!buffer && toWrite)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD total = 0;
    while (total < toWrite) {
        ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + total, toWrite - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        total += static_cast<DWORD>(n);
    }
    if (written) *written = total;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    auto f = LookupAs<FileObject>(file);
    struct stat st{};
    if (!f || fstat(f->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (high) *high = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method) {
    auto f = LookupAs<FileObject>(file);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t d = high ? (static_cast<int64_t>(*high) << 32) | static_cast<uint32_t>(distance) : distance;
    int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
    off_t r = ::lseek(f->fd, d, whence);
    if (r < 0) {
        Fail(errno);
        return INVALID_SET_FILE_POINTER;
    }
    if (high) *high = static_cast<LONG>(static_cast<uint64_t>(r) >> 32);
    return static_cast<DWORD>(r);
}

BOOL FlushFileBuffers(HANDLE file) {
    auto f = LookupAs<FileObject>(file);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ::fsync(f->fd) == 0 ? TRUE : Fail(errno);
}

BOOL SetEndOfFile(HANDLE file) {
    auto f = LookupAs<FileObject>(file);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    off_t at = ::lseek(f->fd, 0, SEEK_CUR);
    return at >= 0 && ::ftruncate(f->fd, at) == 0 ? TRUE : Fail(errno);
}
