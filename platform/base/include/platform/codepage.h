// Code-page conversions. The ANSI code page of this system is UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define WC_COMPOSITECHECK 0x00000200
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008

namespace platform {

// Invalid UTF-8 sequences become U+FFFD; conversion never reads past `text`.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// The one boundary helper pair for records laid out for the outside world (UTF-16LE).
std::u16string WideToUtf16(std::wstring_view text);
// The same into a caller's buffer, written only when all of it fits in `capacity` units;
// returns the units the text takes (no terminator), so a caller can measure with 0.
size_t WideToUtf16(std::wstring_view text, char16_t* out, size_t capacity);
std::wstring Utf16ToWide(std::u16string_view text);
// Little-endian bytes; `bytes` need not be aligned. An odd last byte is ignored.
std::wstring Utf16LeBytesToWide(const void* bytes, size_t byteCount);
std::string WideToUtf16LeBytes(std::wstring_view text);  // no terminator

}  // namespace platform

// Both calls accept length -1 (measure up to and including the terminator) and a zero
// output size (return the count needed). Code pages: CP_ACP, CP_OEMCP and CP_UTF8.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, BOOL* usedDefault);
