#include "platform/format.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/codepage.h"

namespace platform {
namespace {

struct Spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = -1;
    int precision = -1;
    char length = 0;  // 'h', 'l', 'L' (ll / I64), or 0
    wchar_t conv = 0;
};

uint64_t MaskTo(uint64_t v, int size) {
    return size >= 8 ? v : (v & ((uint64_t(1) << (size * 8)) - 1));
}

int64_t SignedAt(const FormatArg& a, int size) {
    uint64_t bits = a.kind == FormatArg::Kind::Int ? static_cast<uint64_t>(a.i) : a.u;
    if (size >= 8) return static_cast<int64_t>(bits);
    bits = MaskTo(bits, size);
    uint64_t sign = uint64_t(1) << (size * 8 - 1);
    return static_cast<int64_t>((bits ^ sign) - sign);
}

// Bytes an integer directive reads: the argument's own size unless "h" or "ll"/"I64" says otherwise.
int DirectiveSize(const Spec& s, const FormatArg& a) {
    if (s.length == 'L') return 8;
    if (s.length == 'h') return 2;
    return a.size ? a.size : 8;
}

std::wstring Pad(std::wstring body, const Spec& s, bool numeric) {
    if (s.width < 0 || static_cast<int>(body.size()) >= s.width) return body;
    size_t fill = s.width - body.size();
    if (s.left) return body + std::wstring(fill, L' ');
    if (s.zero && numeric && s.precision < 0) {
        size_t at = 0;
        if (!body.empty() && (body[0] == L'-' || body[0] == L'+' || body[0] == L' ')) at = 1;
        if (body.size() > at + 1 && body[at] == L'0' && (body[at + 1] == L'x' || body[at + 1] == L'X')) at += 2;
        return body.insert(at, fill, L'0');
    }
    return std::wstring(fill, L' ') + body;
}

std::wstring Digits(uint64_t v, unsigned base, bool upper, int precision) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::wstring out;
    while (v) {
        out.insert(out.begin(), static_cast<wchar_t>(set[v % base]));
        v /= base;
    }
    if (precision < 0) {
        if (out.empty()) out = L"0";
    } else if (static_cast<int>(out.size()) < precision) {
        out.insert(0, precision - out.size(), L'0');
    }
    return out;
}

std::wstring Integer(const Spec& s, const FormatArg& a) {
    int size = DirectiveSize(s, a);
    bool isInt = a.kind == FormatArg::Kind::Int || a.kind == FormatArg::Kind::UInt;
    if (!isInt && a.kind != FormatArg::Kind::Ptr) return L"";
    uint64_t raw = a.kind == FormatArg::Kind::Ptr ? reinterpret_cast<uintptr_t>(a.p)
                   : a.kind == FormatArg::Kind::Int ? static_cast<uint64_t>(a.i) : a.u;
    switch (s.conv) {
        case L'd':
        case L'i': {
            int64_t v = a.kind == FormatArg::Kind::Ptr ? static_cast<int64_t>(raw) : SignedAt(a, size);
            uint64_t mag = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            std::wstring body = Digits(mag, 10, false, s.precision);
            if (v < 0) body.insert(0, 1, L'-');
            else if (s.plus) body.insert(0, 1, L'+');
            else if (s.space) body.insert(0, 1, L' ');
            return Pad(body, s, true);
        }
        case L'u':
            return Pad(Digits(MaskTo(raw, size), 10, false, s.precision), s, true);
        case L'o':
            return Pad((s.alt ? L"0" : L"") + Digits(MaskTo(raw, size), 8, false, s.precision), s, true);
        case L'x':
        case L'X': {
            uint64_t v = MaskTo(raw, size);
            std::wstring body = Digits(v, 16, s.conv == L'X', s.precision);
            if (s.alt && v) body.insert(0, s.conv == L'X' ? L"0X" : L"0x");
            return Pad(body, s, true);
        }
        default:
            return L"";
    }
}

std::wstring Floating(const Spec& s, const FormatArg& a) {
    double v = a.kind == FormatArg::Kind::Double ? a.d
               : a.kind == FormatArg::Kind::Int ? static_cast<double>(a.i) : static_cast<double>(a.u);
    char fmt[32];
    char* f = fmt;
    *f++ = '%';
    if (s.left) *f++ = '-';
    if (s.plus) *f++ = '+';
    if (s.space) *f++ = ' ';
    if (s.alt) *f++ = '#';
    if (s.zero) *f++ = '0';
    int n = 0;
    if (s.width >= 0) n = std::snprintf(f, 10, "%d", s.width), f += n;
    if (s.precision >= 0) n = std::snprintf(f, 10, ".%d", s.precision), f += n;
    *f++ = static_cast<char>(s.conv);
    *f = 0;
    char out[512];
    std::snprintf(out, sizeof out, fmt, v);
    return std::wstring(out, out + std::strlen(out));
}

std::wstring Text(const Spec& s, const FormatArg& a) {
    std::wstring body;
    if (a.kind == FormatArg::Kind::WStr) {
        body = a.ws ? a.ws : L"(null)";
    } else if (a.kind == FormatArg::Kind::Str) {
        body = a.s ? Utf8ToWide(a.s) : L"(null)";
    } else {
        return L"";
    }
    if (s.precision >= 0 && static_cast<int>(body.size()) > s.precision) body.resize(s.precision);
    return Pad(body, s, false);
}

bool ParseSpec(const wchar_t*& p, Spec& s) {
    for (;; ++p) {
        if (*p == L'-') s.left = true;
        else if (*p == L'+') s.plus = true;
        else if (*p == L' ') s.space = true;
        else if (*p == L'#') s.alt = true;
        else if (*p == L'0') s.zero = true;
        else break;
    }
    if (*p == L'*') return false;  // widths from arguments are not used by this program
    if (*p >= L'0' && *p <= L'9') {
        s.width = 0;
        while (*p >= L'0' && *p <= L'9') s.width = s.width * 10 + (*p++ - L'0');
        if (s.width > 4096) s.width = 4096;
    }
    if (*p == L'.') {
        ++p;
        s.precision = 0;
        while (*p >= L'0' && *p <= L'9') s.precision = s.precision * 10 + (*p++ - L'0');
        if (s.precision > 4096) s.precision = 4096;
    }
    if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') { s.length = 'L'; p += 3; }
    else if (p[0] == L'l' && p[1] == L'l') { s.length = 'L'; p += 2; }
    else if (*p == L'l' || *p == L'L' || *p == L'w') { s.length = 'l'; ++p; }
    else if (*p == L'h') { s.length = 'h'; ++p; if (*p == L'h') ++p; }
    else if (*p == L'z' || *p == L'j' || *p == L't') { s.length = 'L'; ++p; }
    s.conv = *p;
    return std::wcschr(L"diuoxXcCsSpfFeEgG", s.conv) != nullptr && s.conv != 0;
}

bool Accepts(const Spec& s, const FormatArg& a) {
    using K = FormatArg::Kind;
    switch (s.conv) {
        case L's': case L'S': return a.kind == K::WStr || a.kind == K::Str;
        case L'p': return a.kind == K::Ptr || a.kind == K::UInt || a.kind == K::Int;
        case L'f': case L'F': case L'e': case L'E': case L'g': case L'G':
            return a.kind == K::Double || a.kind == K::Int || a.kind == K::UInt;
        default: return a.kind == K::Int || a.kind == K::UInt || a.kind == K::Ptr;
    }
}

std::wstring Engine(const wchar_t* fmt, const FormatArg* args, size_t count) {
    std::wstring out;
    if (!fmt) return out;
    size_t next = 0;
    for (const wchar_t* p = fmt; *p;) {
        if (*p != L'%') {
            const wchar_t* q = p;
            while (*q && *q != L'%') ++q;
            out.append(p, q);
            p = q;
            continue;
        }
        if (p[1] == L'%') {
            out += L'%';
            p += 2;
            continue;
        }
        const wchar_t* start = p;
        const wchar_t* cur = p + 1;
        Spec s;
        bool known = ParseSpec(cur, s);
        // Unknown directive, or no argument left for it, or an argument of another kind:
        // the text stays as written.
        if (!known || next >= count || !Accepts(s, args[next])) {
            out += *start;
            p = start + 1;
            continue;
        }
        const FormatArg& a = args[next++];
        switch (s.conv) {
            case L's': case L'S': out += Text(s, a); break;
            case L'c': case L'C': {
                wchar_t c = static_cast<wchar_t>(a.kind == FormatArg::Kind::Int ? a.i : a.u);
                out += Pad(std::wstring(1, c), s, false);
                break;
            }
            case L'p': {
                Spec h = s;
                h.conv = L'X';
                h.precision = sizeof(void*) * 2;
                FormatArg pa = a;
                if (pa.kind == FormatArg::Kind::Ptr) { pa.kind = FormatArg::Kind::UInt; pa.u = reinterpret_cast<uintptr_t>(a.p); }
                pa.size = sizeof(void*);
                h.length = 'L';
                out += Integer(h, pa);
                break;
            }
            case L'f': case L'F': case L'e': case L'E': case L'g': case L'G': out += Floating(s, a); break;
            default: out += Integer(s, a); break;
        }
        p = cur + 1;
    }
    return out;
}

}  // namespace

std::wstring FormatList(const wchar_t* fmt, const FormatArg* args, size_t count) {
    return Engine(fmt, args, count);
}

std::string FormatListA(const char* fmt, const FormatArg* args, size_t count) {
    if (!fmt) return {};
    std::wstring wide = Utf8ToWide(fmt);
    return WideToUtf8(Engine(wide.c_str(), args, count));
}

int CopyCut(wchar_t* dst, size_t capacity, std::wstring_view text) {
    if (!dst || capacity == 0) return -1;
    size_t n = text.size() < capacity ? text.size() : capacity - 1;
    std::wmemcpy(dst, text.data(), n);
    dst[n] = 0;
    return n == text.size() ? static_cast<int>(n) : -1;
}

int CopyCutA(char* dst, size_t capacity, std::string_view text) {
    if (!dst || capacity == 0) return -1;
    size_t n = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(dst, text.data(), n);
    dst[n] = 0;
    return n == text.size() ? static_cast<int>(n) : -1;
}

}  // namespace platform
