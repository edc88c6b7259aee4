// Text helpers on the core's character type. Capacities are in characters and include
// the terminator; results are always terminated and never overrun.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "core/node.h"
#include "platform/format.h"

size_t tcslen(const tchar* s);
int tcscmp(const tchar* a, const tchar* b);
int tcsncmp(const tchar* a, const tchar* b, size_t n);
int tcsicmp(const tchar* a, const tchar* b);          // Latin letters without regard to case
int tcsnicmp(const tchar* a, const tchar* b, size_t n);
tchar* tcsupr(tchar* s);                                // in place; returns s
tchar* tcslwr(tchar* s);
const tchar* tcschr(const tchar* s, tchar c);
const tchar* tcsrchr(const tchar* s, tchar c);
const tchar* tcsstr(const tchar* s, const tchar* find);
tchar* tcscpy_s(tchar* dst, size_t capacity, const tchar* src);   // cuts what does not fit
tchar* tcscat_s(tchar* dst, size_t capacity, const tchar* src);
tchar* tcsncpy_s(tchar* dst, size_t capacity, const tchar* src, size_t n);

// printf-style: "%s" takes a wide (tchar) string, "%d", "%u", "%x", "%X", "%02d",
// "%08X" and the like as usual. A directive without an argument is copied as written.
// Returns the characters written (without the terminator).
int stprintf_list(tchar* dst, size_t capacity, bool append, const tchar* fmt, const platform::FormatArg* args,
                  size_t count);
template <class... A>
int stprintf_s(tchar* dst, size_t capacity, const tchar* fmt, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return stprintf_list(dst, capacity, false, fmt, nullptr, 0);
    } else {
        const platform::FormatArg list[] = {platform::FormatArg::From(args)...};
        return stprintf_list(dst, capacity, false, fmt, list, sizeof...(A));
    }
}
// Appends to what dst holds.
template <class... A>
int stcatprintf_s(tchar* dst, size_t capacity, const tchar* fmt, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return stprintf_list(dst, capacity, true, fmt, nullptr, 0);
    } else {
        const platform::FormatArg list[] = {platform::FormatArg::From(args)...};
        return stprintf_list(dst, capacity, true, fmt, list, sizeof...(A));
    }
}
// scanf-style ("%d", "%x", "%s" into a tchar buffer): the number of fields read.
int stscanf(const tchar* text, const tchar* fmt, ...);

// 8-bit text to tchar: UTF-8 where the bytes form it, any other byte taken as Latin-1.
// `length` -1 = up to the terminator. Returns the characters written.
int StrToTcs(tchar* out, size_t capacity, const char* in, int length = -1);
// 8-bit text in a code page (CP_UTF8 65001, 1252, 28591 Latin-1, 936, 950, 932, 949, the
// other Windows and ISO code pages; 0 = as StrToTcs). Bytes the code page cannot decode
// are taken as Latin-1.
int StrToTcsEx(tchar* out, size_t capacity, const char* in, int codePage, int length = -1);
int UTF8ToTcs(tchar* out, size_t capacity, const char* in, int length = -1);
// tchar to 8-bit: UTF-8 (TcsToUTF8), or Latin-1 with '?' for what it cannot hold (TcsToStr).
int TcsToUTF8(char* out, size_t capacity, const tchar* in);
int TcsToStr(char* out, size_t capacity, const tchar* in);

// Decimal (hex 0), hexadecimal (hex 1, an optional "0x"), or either by prefix (hex -1);
// leading white space and a sign are taken. A text without digits gives 0.
int StringToInt(const tchar* in, int hex = 0);
bool IsSpace(int ch);   // blank, tab, CR, LF, VT, FF
// The value of a hexadecimal digit, or -1.
int Hex(int ch);
// The first token of an 8-bit text (white space skipped before it; it ends at white
// space, the end or `length` bytes), at most capacity - 1 characters.
void GetAsciiToken(tchar* out, size_t capacity, const char* in, size_t length);
// The FourCC with its Latin letters upper-cased ('text' -> 'TEXT').
fourcc_t UpperFourCC(fourcc_t fourcc);
// The genre name of an ID3v1 genre number (0 "Blues" ...), or null out of range.
const tchar* ID3v1_Genre(int index);
// "CHAPTER<nn>=hh:mm:ss.mmm": chapter `number`, the time given in units of which
// `divisor` make one millisecond (100-ns units: 10000). A divisor of 0 gives 00:00:00.000.
void BuildChapter(tchar* out, int capacity, int number, int64_t time, int divisor);
