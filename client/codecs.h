// URL and text codecs of the data side.
#pragma once

#include <cstddef>
#include <string>

#include "platform/cstring.h"
#include "platform/wintypes.h"

// Percent-encoded UTF-8 of an ANSI text, appended to `out`. 0, or -1 when the text
// could not be converted.
int Utf8UrlEncode(const std::string& in, std::string& out);
// `out` becomes the UTF-8 form of the ANSI text. 0, or -1 when a buffer cannot be had.
int AnsiToUtf8(const std::string& in, std::string& out);
// Appends `in` with every byte but ASCII letters and digits encoded: blank as "+",
// others as "%XX".
void UrlEncode(const std::string& in, std::string& out);
// `dst` becomes `src` without its CR and LF characters.
void RemoveCRLF(const CStringW& src, CStringW& dst);

// Appends the decoded text, one byte per UTF-8 character (its low 8 bits).
void UrlDecode(const std::string& in, std::string& out);
// The code value of the UTF-8 sequence at `pos`, which moves past it (never past the
// end of `text`). A byte that cannot start a sequence gives '?' and moves by one.
DWORD Utf8DecodeChar(const std::string& text, size_t& pos);
// `out` becomes `in` (zero-terminated, code page `from`) in code page `to`; empty when
// either code page is not known here.
void ConvertCodePage(const char* in, UINT from, std::string& out, UINT to);
// Appends one byte (the low 8 bits) per UTF-8 sequence of `bytes`.
void Utf8ToBytes(const unsigned char* bytes, size_t count, std::string& out);
// Length of the sequence a byte starts: 0 for ASCII, 2 to 6, or -1 (zero byte,
// continuation byte, more than six leading ones).
int Utf8SeqLength(unsigned char lead);
// Value of the sequence of `length` bytes at `pos`, cut to 8 bits; bytes beyond
// `count` are not read.
BYTE Utf8SeqValue(const unsigned char* bytes, size_t count, size_t pos, int length);
