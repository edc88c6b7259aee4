#include "platform/codepage.h"

#include <cstring>
#include <cwchar>

#include "platform/lasterror.h"

namespace platform {

std::wstring Utf8ToWide(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += static_cast<wchar_t>(c);
            ++i;
            continue;
        }
        int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (c >= 0xF5) len = 0;
        uint32_t cp = len == 4 ? (c & 0x07) : len == 3 ? (c & 0x0F) : (c & 0x1F);
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (cc & 0x3F);
        }
        if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                   (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(cp);
        i += len;
    }
    return out;
}

std::string WideToUtf8(std::wstring_view w) {
    std::string out;
    out.reserve(w.size());
    for (wchar_t wc : w) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

size_t WideToUtf16(std::wstring_view w, char16_t* out, size_t capacity) {
    size_t units = 0;
    for (wchar_t wc : w) {
        uint32_t c = static_cast<uint32_t>(wc);
        units += c >= 0x10000 && c <= 0x10FFFF ? 2 : 1;
    }
    if (!out || units > capacity) return units;
    size_t at = 0;
    for (wchar_t wc : w) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            out[at++] = static_cast<char16_t>(0xD800 | (c >> 10));
            out[at++] = static_cast<char16_t>(0xDC00 | (c & 0x3FF));
        } else {
            out[at++] = static_cast<char16_t>(c);
        }
    }
    return units;
}

std::u16string WideToUtf16(std::wstring_view w) {
    std::u16string out(WideToUtf16(w, nullptr, 0), u'\0');
    WideToUtf16(w, out.data(), out.size());
    return out;
}

std::wstring Utf16ToWide(std::u16string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

std::wstring Utf16LeBytesToWide(const void* bytes, size_t byteCount) {
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    std::u16string s;
    s.reserve(byteCount / 2);
    for (size_t i = 0; i + 1 < byteCount; i += 2) s += static_cast<char16_t>(b[i] | (b[i + 1] << 8));
    return Utf16ToWide(s);
}

std::string WideToUtf16LeBytes(std::wstring_view text) {
    std::u16string s = WideToUtf16(text);
    std::string out(s.size() * 2, '\0');
    for (size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = static_cast<char>(s[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(s[i] >> 8);
    }
    return out;
}

}  // namespace platform

namespace {
bool KnownCodePage(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_UTF8; }
}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
    if (!src || srcLen == 0 || dstLen < 0 || !KnownCodePage(codePage) || (dstLen > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    std::wstring w = platform::Utf8ToWide(std::string_view(src, n));
    if (dstLen == 0) return static_cast<int>(w.size());
    if (static_cast<int>(w.size()) > dstLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(dst, w.data(), w.size());
    return static_cast<int>(w.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR,
                        BOOL* usedDefault) {
    if (usedDefault) *usedDefault = FALSE;
    if (!src || srcLen == 0 || dstLen < 0 || !KnownCodePage(codePage) || (dstLen > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = srcLen < 0 ? std::wcslen(src) + 1 : static_cast<size_t>(srcLen);
    std::string s = platform::WideToUtf8(std::wstring_view(src, n));
    if (dstLen == 0) return static_cast<int>(s.size());
    if (static_cast<int>(s.size()) > dstLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, s.data(), s.size());
    return static_cast<int>(s.size());
}
