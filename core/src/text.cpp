// Text helpers on tchar.
#include "core/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iconv.h>
#include <string>

#include "core/url.h"

namespace {

tchar LowerLatin(tchar c) { return (c >= L'A' && c <= L'Z') ? static_cast<tchar>(c + 32) : c; }
tchar UpperLatin(tchar c) { return (c >= L'a' && c <= L'z') ? static_cast<tchar>(c - 32) : c; }

// Copies `text` into out (capacity characters), cut; returns the characters written.
int Put(tchar* out, size_t capacity, const std::wstring& text) {
    if (!out || capacity == 0) return 0;
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::wmemcpy(out, text.data(), n);
    out[n] = 0;
    return static_cast<int>(n);
}

size_t Length8(const char* in, int length) {
    if (!in) return 0;
    if (length >= 0) {
        size_t n = 0;
        while (n < static_cast<size_t>(length) && in[n]) ++n;
        return n;
    }
    return std::strlen(in);
}

// UTF-8 where the bytes form a valid sequence, any other byte as Latin-1.
std::wstring DecodeUtf8Lenient(const unsigned char* s, size_t n) {
    std::wstring out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        if (c < 0x80) {
            out += static_cast<wchar_t>(c);
            ++i;
            continue;
        }
        int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        bool ok = extra > 0;
        unsigned v = 0;
        if (ok) {
            v = c & (0x3Fu >> extra);
            for (int k = 1; k <= extra; ++k) {
                if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                v = (v << 6) | (s[i + k] & 0x3F);
            }
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (ok) {
            static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
            if (v < kMin[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) ok = false;
        }
        if (ok) {
            out += static_cast<wchar_t>(v);
            i += static_cast<size_t>(extra) + 1;
        } else {
            out += static_cast<wchar_t>(c);
            ++i;
        }
    }
    return out;
}

const char* IconvName(int cp, char* buf, size_t size) {
    if (cp >= 28591 && cp <= 28599) {
        std::snprintf(buf, size, "ISO-8859-%d", cp - 28590);
        return buf;
    }
    switch (cp) {
        case 28605: return "ISO-8859-15";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 20932: return "EUC-JP";
        case 54936: return "GB18030";
        case 936: return "GBK";
        case 950: return "BIG5";
        case 932: return "SHIFT_JIS";
        case 949: return "CP949";
        default: std::snprintf(buf, size, "CP%d", cp); return buf;
    }
}

std::wstring DecodeCodePage(const char* in, size_t n, int cp) {
    auto* s = reinterpret_cast<const unsigned char*>(in);
    if (cp == 0 || cp == 1 || cp == 65001) return DecodeUtf8Lenient(s, n);
    if (cp == 28591) return std::wstring(s, s + n);
    char name[32];
    iconv_t cd = iconv_open("WCHAR_T", IconvName(cp, name, sizeof(name)));
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::wstring(s, s + n);
    std::wstring out;
    char* src = const_cast<char*>(in);
    size_t left = n;
    wchar_t chunk[256];
    while (left > 0) {
        char* dst = reinterpret_cast<char*>(chunk);
        size_t room = sizeof(chunk);
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(chunk, (sizeof(chunk) - room) / sizeof(wchar_t));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // A byte the code page cannot decode (or a cut sequence) is taken as Latin-1.
            out += static_cast<wchar_t>(static_cast<unsigned char>(*src));
            ++src;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

std::wstring TranslateScanFormat(const tchar* fmt) {
    std::wstring out;
    for (const tchar* p = fmt; *p; ++p) {
        out += *p;
        if (*p != L'%') continue;
        ++p;
        if (!*p) break;
        if (*p == L'%') {
            out += *p;
            continue;
        }
        while (*p == L'*' || (*p >= L'0' && *p <= L'9')) out += *p++;
        if (*p == L's' || *p == L'c') out += L'l';
        if (!*p) break;
        out += *p;
    }
    return out;
}

const tchar* const kGenres[] = {
    L"Blues", L"Classic Rock", L"Country", L"Dance", L"Disco", L"Funk", L"Grunge", L"Hip-Hop", L"Jazz", L"Metal",
    L"New Age", L"Oldies", L"Other", L"Pop", L"R&B", L"Rap", L"Reggae", L"Rock", L"Techno", L"Industrial",
    L"Alternative", L"Ska", L"Death Metal", L"Pranks", L"Soundtrack", L"Euro-Techno", L"Ambient", L"Trip-Hop",
    L"Vocal", L"Jazz+Funk", L"Fusion", L"Trance", L"Classical", L"Instrumental", L"Acid", L"House", L"Game",
    L"Sound Clip", L"Gospel", L"Noise", L"AlternRock", L"Bass", L"Soul", L"Punk", L"Space", L"Meditative",
    L"Instrumental Pop", L"Instrumental Rock", L"Ethnic", L"Gothic", L"Darkwave", L"Techno-Industrial",
    L"Electronic", L"Pop-Folk", L"Eurodance", L"Dream", L"Southern Rock", L"Comedy", L"Cult", L"Gangsta",
    L"Top 40", L"Christian Rap", L"Pop/Funk", L"Jungle", L"Native American", L"Cabaret", L"New Wave",
    L"Psychadelic", L"Rave", L"Showtunes", L"Trailer", L"Lo-Fi", L"Tribal", L"Acid Punk", L"Acid Jazz", L"Polka",
    L"Retro", L"Musical", L"Rock & Roll", L"Hard Rock", L"Folk", L"Folk-Rock", L"National Folk", L"Swing",
    L"Fast Fusion", L"Bebob", L"Latin", L"Revival", L"Celtic", L"Bluegrass", L"Avantgarde", L"Gothic Rock",
    L"Progressive Rock", L"Psychedelic Rock", L"Symphonic Rock", L"Slow Rock", L"Big Band", L"Chorus",
    L"Easy Listening", L"Acoustic", L"Humour", L"Speech", L"Chanson", L"Opera", L"Chamber Music", L"Sonata",
    L"Symphony", L"Booty Bass", L"Primus", L"Porn Groove", L"Satire", L"Slow Jam", L"Club", L"Tango", L"Samba",
    L"Folklore", L"Ballad", L"Power Ballad", L"Rhythmic Soul", L"Freestyle", L"Duet", L"Punk Rock", L"Drum Solo",
    L"A capella", L"Euro-House", L"Dance Hall",
};

}  // namespace

size_t tcslen(const tchar* s) { return s ? std::wcslen(s) : 0; }
int tcscmp(const tchar* a, const tchar* b) { return std::wcscmp(a, b); }
int tcsncmp(const tchar* a, const tchar* b, size_t n) { return std::wcsncmp(a, b, n); }

int tcsnicmp(const tchar* a, const tchar* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        tchar x = LowerLatin(a[i]), y = LowerLatin(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
    return 0;
}

int tcsicmp(const tchar* a, const tchar* b) { return tcsnicmp(a, b, static_cast<size_t>(-1)); }

tchar* tcsupr(tchar* s) {
    for (tchar* p = s; p && *p; ++p) *p = UpperLatin(*p);
    return s;
}

tchar* tcslwr(tchar* s) {
    for (tchar* p = s; p && *p; ++p) *p = LowerLatin(*p);
    return s;
}

const tchar* tcschr(const tchar* s, tchar c) { return std::wcschr(s, c); }
const tchar* tcsrchr(const tchar* s, tchar c) { return std::wcsrchr(s, c); }
const tchar* tcsstr(const tchar* s, const tchar* find) { return std::wcsstr(s, find); }

tchar* tcscpy_s(tchar* dst, size_t capacity, const tchar* src) {
    if (!dst || capacity == 0) return dst;
    size_t i = 0;
    if (src)
        for (; i + 1 < capacity && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

tchar* tcsncpy_s(tchar* dst, size_t capacity, const tchar* src, size_t n) {
    if (!dst || capacity == 0) return dst;
    size_t i = 0;
    if (src)
        for (; i + 1 < capacity && i < n && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

tchar* tcscat_s(tchar* dst, size_t capacity, const tchar* src) {
    if (!dst || capacity == 0) return dst;
    size_t used = 0;
    while (used < capacity && dst[used]) ++used;
    if (used == capacity) {
        dst[capacity - 1] = 0;
        return dst;
    }
    tcscpy_s(dst + used, capacity - used, src);
    return dst;
}

int stprintf_list(tchar* dst, size_t capacity, bool append, const tchar* fmt, const platform::FormatArg* args,
                  size_t count) {
    if (!dst || capacity == 0) return 0;
    size_t used = 0;
    if (append) {
        while (used < capacity && dst[used]) ++used;
        if (used == capacity) {
            dst[capacity - 1] = 0;
            return 0;
        }
    }
    return Put(dst + used, capacity - used, platform::FormatList(fmt ? fmt : L"", args, count));
}

int stscanf(const tchar* text, const tchar* fmt, ...) {
    if (!text || !fmt) return 0;
    std::wstring f = TranslateScanFormat(fmt);
    va_list ap;
    va_start(ap, fmt);
    int r = std::vswscanf(text, f.c_str(), ap);
    va_end(ap);
    return r < 0 ? 0 : r;
}

int StrToTcs(tchar* out, size_t capacity, const char* in, int length) {
    return StrToTcsEx(out, capacity, in, 0, length);
}

int StrToTcsEx(tchar* out, size_t capacity, const char* in, int codePage, int length) {
    if (!out || capacity == 0) return 0;
    return Put(out, capacity, DecodeCodePage(in ? in : "", Length8(in, length), codePage));
}

int UTF8ToTcs(tchar* out, size_t capacity, const char* in, int length) {
    return StrToTcsEx(out, capacity, in, 65001, length);
}

int TcsToUTF8(char* out, size_t capacity, const tchar* in) {
    if (!out || capacity == 0) return 0;
    size_t n = 0;
    for (const tchar* p = in; p && *p; ++p) {
        unsigned v = static_cast<unsigned>(*p);
        if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) v = 0xFFFD;
        char b[4];
        size_t k;
        if (v < 0x80) {
            b[0] = static_cast<char>(v);
            k = 1;
        } else if (v < 0x800) {
            b[0] = static_cast<char>(0xC0 | (v >> 6));
            b[1] = static_cast<char>(0x80 | (v & 0x3F));
            k = 2;
        } else if (v < 0x10000) {
            b[0] = static_cast<char>(0xE0 | (v >> 12));
            b[1] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
            b[2] = static_cast<char>(0x80 | (v & 0x3F));
            k = 3;
        } else {
            b[0] = static_cast<char>(0xF0 | (v >> 18));
            b[1] = static_cast<char>(0x80 | ((v >> 12) & 0x3F));
            b[2] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
            b[3] = static_cast<char>(0x80 | (v & 0x3F));
            k = 4;
        }
        if (n + k >= capacity) break;  // never a cut sequence
        for (size_t i = 0; i < k; ++i) out[n++] = b[i];
    }
    out[n] = 0;
    return static_cast<int>(n);
}

int TcsToStr(char* out, size_t capacity, const tchar* in) {
    if (!out || capacity == 0) return 0;
    size_t n = 0;
    for (const tchar* p = in; p && *p && n + 1 < capacity; ++p)
        out[n++] = static_cast<unsigned>(*p) < 256 ? static_cast<char>(*p) : '?';
    out[n] = 0;
    return static_cast<int>(n);
}

bool IsSpace(int ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f'; }

int Hex(int ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

int StringToInt(const tchar* in, int hex) {
    if (!in) return 0;
    const tchar* p = in;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == L'-' || *p == L'+') negative = *p++ == L'-';
    if (hex != 0 && p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        p += 2;
        hex = 1;
    } else if (hex < 0) {
        hex = 0;
    }
    uint32_t v = 0;
    for (;; ++p) {
        int d = hex ? Hex(*p) : (*p >= L'0' && *p <= L'9' ? *p - L'0' : -1);
        if (d < 0) break;
        v = v * (hex ? 16u : 10u) + static_cast<uint32_t>(d);
    }
    return static_cast<int>(negative ? 0u - v : v);
}

void GetAsciiToken(tchar* out, size_t capacity, const char* in, size_t length) {
    if (!out || capacity == 0) return;
    size_t i = 0, n = 0;
    while (in && i < length && in[i] && IsSpace(static_cast<unsigned char>(in[i]))) ++i;
    while (in && i < length && in[i] && !IsSpace(static_cast<unsigned char>(in[i])) && n + 1 < capacity)
        out[n++] = static_cast<unsigned char>(in[i++]);
    out[n] = 0;
}

fourcc_t UpperFourCC(fourcc_t f) {
    fourcc_t r = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned c = (f >> (8 * i)) & 0xFF;
        if (c >= 'a' && c <= 'z') c -= 32;
        r |= static_cast<fourcc_t>(c) << (8 * i);
    }
    return r;
}

const tchar* ID3v1_Genre(int index) {
    if (index < 0 || index >= static_cast<int>(sizeof(kGenres) / sizeof(kGenres[0]))) return nullptr;
    return kGenres[index];
}

void BuildChapter(tchar* out, int capacity, int number, int64_t time, int divisor) {
    int64_t ms = divisor > 0 ? time / divisor : 0;
    if (ms < 0) ms = 0;
    int64_t h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, f = ms % 1000;
    stprintf_s(out, capacity > 0 ? static_cast<size_t>(capacity) : 0, L"CHAPTER%02d=%02d:%02d:%02d.%03d", number,
               h, m, s, f);
}
