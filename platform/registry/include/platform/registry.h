// The registry: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, both kept in one SQLite database
// file per user (there is no machine-wide store here).
//
// The file is $LUMEO_REGISTRY_FILE when set, else $XDG_DATA_HOME/lumeo/registry.db
// (~/.local/share/lumeo/registry.db). A write is on disk when the call returns; several
// processes may use the file at once.
//
// Data sizes are those of the phone, where text is UTF-16: a text value (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) is given and returned as wchar_t text, but its size in
// bytes counts UTF-16 units, terminator included ((characters + 1) x 2). A buffer for a
// text value of `cb` bytes must hold cb / 2 wchar_t.
#pragma once

#include <functional>
#include <string>

#include "platform/wintypes.h"

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
using PHKEY = HKEY*;
using REGSAM = DWORD;

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define REG_OPTION_NON_VOLATILE 0
#define REG_OPTION_VOLATILE 1
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

// Results are system error codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such key or
// value), ERROR_MORE_DATA (the value does not fit; the size needed is returned),
// ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, ERROR_CANTOPEN / ERROR_CANTREAD /
// ERROR_CANTWRITE (the database file).
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                     LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCloseKey(HKEY key);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);

namespace platform {
// Switches to another database file (empty: back to the environment's choice), for
// tests. Open key handles stay valid and refer to the same key paths in the new file.
void SetRegistryFile(const std::string& path);
// The file in use (or to be used on the next call).
std::string RegistryFile();
// Runs on the reading thread at the start of every RegQueryValueExW, with the value's
// name, for tests that hold a reader at a known point; null: none.
using RegistryReadHook = std::function<void(const std::wstring& name)>;
void SetRegistryReadHook(RegistryReadHook hook);
}  // namespace platform
