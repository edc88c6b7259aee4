// Files and folders. Paths are the phone's: backslash separators, and the layer maps
// them onto this machine's file system ("\" and "/" both accepted, doubled separators
// folded). Paths it hands out (GetModuleFileNameW) use backslashes.
#pragma once

#include <cstdio>
#include <string>

#include "platform/wintypes.h"

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
// Every write goes to the file's end, wherever others have written meanwhile.
#define FILE_APPEND_DATA 0x00000004u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwOID;
    WCHAR cFileName[MAX_PATH];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL RemoveDirectoryW(LPCWSTR path);
// The copy keeps the source's permission bits.
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
BOOL DeleteFileW(LPCWSTR path);
DWORD GetFileAttributesW(LPCWSTR path);

// The folder's entries are taken when the search starts, so deleting files while
// walking is safe. No match: INVALID_HANDLE_VALUE with ERROR_NO_MORE_FILES; a missing
// folder: ERROR_PATH_NOT_FOUND. "*" and "?" match as the phone's file system does
// (Latin letters without regard to case); "." and ".." are not listed.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

// The running program's path (module null) or a loaded library's, with backslashes.
// Cut to `size` characters (terminator included); returns the characters copied.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

// The C runtime's open on a wide path; "t" and "b" are accepted, text mode writes bytes as they are.
FILE* _wfopen(const wchar_t* path, const wchar_t* mode);

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation,
                   DWORD flags, HANDLE templ);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, DWORD* written, void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method);
BOOL FlushFileBuffers(HANDLE file);
// Ends the file at its pointer (cutting or extending it).
BOOL SetEndOfFile(HANDLE file);

namespace platform {

// The one path helper: a phone path (wide, backslashes) as this machine's path (UTF-8).
// "\Windows\..." (the phone's system folder) lands in WindowsDirectory().
std::string ToNativePath(const wchar_t* path);
// The folder standing for the phone's system folder: $LUMEO_WINDOWS_DIR, else "Windows"
// in the program folder: beside the running program, or beside its folder when that is
// an Update folder (the updater's).
std::string WindowsDirectory();
// This machine's path as the phone's form (backslashes), for texts the layer hands out.
std::wstring FromNativePath(const std::string& path);
// The Win32 error code for a C errno value.
DWORD ErrnoToWin32(int err);
// The folder of this user's state shared by the running programs (named objects, the
// registry of running frames): $LUMEO_RUNTIME_DIR, else $XDG_RUNTIME_DIR/lumeo, else
// /tmp/lumeo-<uid>. Made when missing.
std::string RuntimeDirectory();

}  // namespace platform
