#include "codecs.h"

#include <new>
#include <vector>

#include "platform/codepage.h"

namespace {

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Wide text from code page `cp` and back, each sized by a measuring call first.
bool ToWide(const char* in, UINT cp, std::vector<wchar_t>& wide) {
    int n = MultiByteToWideChar(cp, 0, in, -1, nullptr, 0);
    if (n <= 0) return false;
    wide.assign(n + 1, 0);
    return MultiByteToWideChar(cp, 0, in, -1, wide.data(), n) > 0;
}

bool FromWide(const wchar_t* wide, UINT cp, std::string& out) {
    int n = WideCharToMultiByte(cp, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    std::vector<char> bytes(n + 1, 0);
    if (WideCharToMultiByte(cp, 0, wide, -1, bytes.data(), n, nullptr, nullptr) <= 0) return false;
    out.assign(bytes.data());
    return true;
}

}  // namespace

int AnsiToUtf8(const std::string& in, std::string& out) {
    try {
        std::vector<wchar_t> wide;
        std::string utf8;
        if (!ToWide(in.c_str(), CP_ACP, wide) || !FromWide(wide.data(), CP_UTF8, utf8)) return -1;
        out = utf8;
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

void UrlEncode(const std::string& in, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : in) {
        if (IsAsciiAlnum(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

int Utf8UrlEncode(const std::string& in, std::string& out) {
    std::string utf8;
    if (AnsiToUtf8(in, utf8) != 0) return -1;
    UrlEncode(utf8, out);
    return 0;
}

void RemoveCRLF(const CStringW& src, CStringW& dst) {
    CStringW result;
    for (int i = 0; i < src.GetLength(); ++i) {
        wchar_t c = src[i];
        if (c != 13 && c != 10) result.AppendChar(c);
    }
    dst = result;  // src and dst may be the same text
}

DWORD Utf8DecodeChar(const std::string& text, size_t& pos) {
    if (pos >= text.size()) return 0;
    unsigned char lead = text[pos];
    int length;
    if (lead < 0x80) length = 1;
    else if ((lead & 0xE0) == 0xC0) length = 2;
    else if ((lead & 0xF0) == 0xE0) length = 3;
    else if ((lead & 0xF8) == 0xF0) length = 4;
    else if ((lead & 0xFC) == 0xF8) length = 5;
    else if ((lead & 0xFE) == 0xFC) length = 6;
    else {
        ++pos;
        return '?';
    }
    if (length == 1) {
        ++pos;
        return lead;
    }
    DWORD value = lead & (0x7F >> length);
    ++pos;
    // A sequence cut short by the end of the text ends there.
    for (int i = 1; i < length && pos < text.size(); ++i, ++pos) value = (value << 6) | (text[pos] & 0x3F);
    return value;
}

void UrlDecode(const std::string& in, std::string& out) {
    std::string bytes;
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            int hi = i + 1 < in.size() ? HexValue(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                bytes += static_cast<char>(hi * 16 + lo);
                i += 2;
            }
        } else if (c == '+') {
            bytes += ' ';
        } else {
            bytes += c;
        }
    }
    for (size_t pos = 0; pos < bytes.size();) out += static_cast<char>(Utf8DecodeChar(bytes, pos) & 0xFF);
}

void ConvertCodePage(const char* in, UINT from, std::string& out, UINT to) {
    out.clear();
    if (!in) return;
    try {
        std::vector<wchar_t> wide;
        std::string result;
        if (ToWide(in, from, wide) && FromWide(wide.data(), to, result)) out = result;
    } catch (const std::bad_alloc&) {
        out.clear();
    }
}

int Utf8SeqLength(unsigned char lead) {
    if (lead == 0) return -1;
    int ones = 0;
    for (int bit = 7; bit >= 0 && (lead >> bit) & 1; --bit) ++ones;
    if (ones == 1 || ones > 6) return -1;
    return ones;
}

BYTE Utf8SeqValue(const unsigned char* bytes, size_t count, size_t pos, int length) {
    if (!bytes || pos >= count) return 0;
    if (length <= 0) return bytes[pos];
    DWORD value = bytes[pos] & ((1u << (7 - length)) - 1);
    for (int i = 1; i < length && pos + i < count; ++i) value = (value << 6) | (bytes[pos + i] & 0x3F);
    return static_cast<BYTE>(value);
}

void Utf8ToBytes(const unsigned char* bytes, size_t count, std::string& out) {
    if (!bytes) return;
    for (size_t pos = 0; pos < count;) {
        int length = Utf8SeqLength(bytes[pos]);
        if (length < 0) {
            ++pos;
            continue;
        }
        out += static_cast<char>(Utf8SeqValue(bytes, count, pos, length));
        pos += length == 0 ? 1 : length;
    }
}
