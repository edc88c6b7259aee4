#include "files.h"

#include "log.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/lasterror.h"

// These helpers began life among the program's tools and their lines still say so.
#undef LOG_SOURCE
#define LOG_SOURCE "tools.cpp"

int MyCreateDirectory(const wchar_t* dirPath) {
    if (!dirPath) {
        LOG(LOG_WARNING, L"dirPath==NULL");
        return -1;
    }
    if (CreateDirectoryW(dirPath, nullptr)) return 0;
    g_errno = GetLastError();
    // Only a folder that exists will do: a file of that name is no folder to work in.
    if (g_errno == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesW(dirPath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    }
    LOG(LOG_WARNING, L"Can't create directory : errno=%d, msg=%s, path=%s", g_errno, GetErrorMsg(g_errno), dirPath);
    return -1;
}

int MyCopyFile(const wchar_t* srcFilePath, const wchar_t* destFilePath) {
    if (!srcFilePath || !destFilePath) {
        LOG(LOG_WARNING, L"!srcFilePath || !destFilePath");
        return -1;
    }
    if (CopyFileW(srcFilePath, destFilePath, FALSE)) return 0;
    g_errno = GetLastError();
    LOG(LOG_WARNING, L"Can't copy file : errno=%d, msg=%s, srcFilePath=%s, destFilePath=%s", g_errno,
        GetErrorMsg(g_errno), srcFilePath, destFilePath);
    return -1;
}

int DeleteAllFiles(const wchar_t* folder, const wchar_t* pattern) {
    if (!folder || !pattern) {
        LOG(LOG_WARNING, L"FindFirstFile failed (%d)", static_cast<int>(ERROR_INVALID_PARAMETER));
        return -1;
    }
    CStringW search;
    search.Format(L"%s\\%s", folder, pattern);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(search, &fd);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == 0 || err == ERROR_NO_MORE_FILES) return 0;
        LOG(LOG_WARNING, L"FindFirstFile failed (%d)", err);
        return -1;
    }
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            CStringW path;
            path.Format(L"%s\\%s", folder, fd.cFileName);
            DeleteFileW(path);
        }
    } while (FindNextFileW(find, &fd));
    DWORD err = GetLastError();
    FindClose(find);
    if (err == ERROR_NO_MORE_FILES) return 0;
    LOG(LOG_WARNING, L"FindNextFile failed : errno=%d, msg=%s", err, GetErrorMsg(err));
    return -1;
}
