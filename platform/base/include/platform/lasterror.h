// The thread's last error and the system's texts for error codes.
#pragma once

#include "platform/wintypes.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

DWORD GetLastError();
void SetLastError(DWORD code);

// FROM_SYSTEM only: copies the code's text (which ends with a line break) into `buffer`
// (`size` characters). With ALLOCATE_BUFFER, `buffer` is really a wchar_t** that
// receives a LocalAlloc'ed text. Returns the characters written, 0 on failure
// (ERROR_MR_MID_NOT_FOUND 317 for an unknown code, 122 for a short buffer).
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     void* arguments);
HANDLE LocalFree(HANDLE mem);
HANDLE LocalAlloc(UINT flags, size_t bytes);
#define LMEM_FIXED 0
#define LMEM_ZEROINIT 0x40
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define ERROR_MR_MID_NOT_FOUND 317L

namespace platform {
// Other areas of the layer (WinINet, ...) add the texts of their own codes. The text
// should end with "\r\n", as the system's own do.
void RegisterErrorText(DWORD code, const wchar_t* text);
}  // namespace platform
