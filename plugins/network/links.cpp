#include "links.h"

#include <cstdint>
#include <cstring>

namespace network {

namespace {

struct Entity {
    unsigned char ch;
    const char* name;
};

// The four markup characters, then Latin-1 160-255 by their names (175 is "hibar").
const Entity kEntities[] = {
    {34, "quot"},    {38, "amp"},     {60, "lt"},      {62, "gt"},      {160, "nbsp"},   {161, "iexcl"},
    {162, "cent"},   {163, "pound"},  {164, "curren"}, {165, "yen"},    {166, "brvbar"}, {167, "sect"},
    {168, "uml"},    {169, "copy"},   {170, "ordf"},   {171, "laquo"},  {172, "not"},    {173, "shy"},
    {174, "reg"},    {175, "hibar"},  {176, "deg"},    {177, "plusmn"}, {178, "sup2"},   {179, "sup3"},
    {180, "acute"},  {181, "micro"},  {182, "para"},   {183, "middot"}, {184, "cedil"},  {185, "sup1"},
    {186, "ordm"},   {187, "raquo"},  {188, "frac14"}, {189, "frac12"}, {190, "frac34"}, {191, "iquest"},
    {192, "Agrave"}, {193, "Aacute"}, {194, "Acirc"},  {195, "Atilde"}, {196, "Auml"},   {197, "Aring"},
    {198, "AElig"},  {199, "Ccedil"}, {200, "Egrave"}, {201, "Eacute"}, {202, "Ecirc"},  {203, "Euml"},
    {204, "Igrave"}, {205, "Iacute"}, {206, "Icirc"},  {207, "Iuml"},   {208, "ETH"},    {209, "Ntilde"},
    {210, "Ograve"}, {211, "Oacute"}, {212, "Ocirc"},  {213, "Otilde"}, {214, "Ouml"},   {215, "times"},
    {216, "Oslash"}, {217, "Ugrave"}, {218, "Uacute"}, {219, "Ucirc"},  {220, "Uuml"},   {221, "Yacute"},
    {222, "THORN"},  {223, "szlig"},  {224, "agrave"}, {225, "aacute"}, {226, "acirc"},  {227, "atilde"},
    {228, "auml"},   {229, "aring"},  {230, "aelig"},  {231, "ccedil"}, {232, "egrave"}, {233, "eacute"},
    {234, "ecirc"},  {235, "euml"},   {236, "igrave"}, {237, "iacute"}, {238, "icirc"},  {239, "iuml"},
    {240, "eth"},    {241, "ntilde"}, {242, "ograve"}, {243, "oacute"}, {244, "ocirc"},  {245, "otilde"},
    {246, "ouml"},   {247, "divide"}, {248, "oslash"}, {249, "ugrave"}, {250, "uacute"}, {251, "ucirc"},
    {252, "uuml"},   {253, "yacute"}, {254, "thorn"},  {255, "yuml"},
};
static_assert(sizeof(kEntities) / sizeof(kEntities[0]) == 100, "the entity table has 100 rows");

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The first match of `pattern` (upper case) at or after `from`, comparing page bytes
// upper-cased; the offset behind it, or npos.
size_t FindBehind(const char* page, size_t size, size_t from, const char* pattern) {
    size_t n = std::strlen(pattern);
    for (size_t i = from; i + n <= size; ++i) {
        size_t k = 0;
        while (k < n && Upper(page[i + k]) == pattern[k]) ++k;
        if (k == n) return i + n;
    }
    return std::string::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool NextLinkValue(LinkScan& scan, std::string& value) {
    static const char* const kTags[] = {"<A ", "<AREA ", "<EMBED ", "<EMBED "};
    static const char* const kAttrs[] = {"HREF=", "HREF=", "HREF=", "SRC="};
    while (scan.pass <= 3) {
        size_t tag = FindBehind(scan.page, scan.size, scan.pos, kTags[scan.pass]);
        size_t start = tag == std::string::npos ? tag : FindBehind(scan.page, scan.size, tag, kAttrs[scan.pass]);
        if (start == std::string::npos) {
            ++scan.pass;
            scan.pos = 0;
            continue;
        }
        char quote = start < scan.size ? scan.page[start] : 0;
        size_t from = start;
        char close = '>';
        if (quote == '"' || quote == '\'') {
            close = quote;
            ++from;
        }
        size_t end = from;
        while (end < scan.size && scan.page[end] != close) ++end;
        if (end >= scan.size) {
            // No end to the value: search on from its start.
            scan.pos = start;
            continue;
        }
        value.assign(scan.page + from, end - from);
        scan.pos = close == '>' ? end : end + 1;
        return true;
    }
    return false;
}

std::string DecodeEntities(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            size_t semi = text.find(';', i + 1);
            if (semi != std::string::npos && semi - i - 1 <= 7) {
                std::string name = text.substr(i + 1, semi - i - 1);
                bool found = false;
                for (const auto& e : kEntities) {
                    if (name == e.name) {
                        out += static_cast<char>(e.ch);
                        found = true;
                        break;
                    }
                }
                if (found) {
                    i = semi;
                    continue;
                }
            }
        }
        out += text[i];
    }
    return out;
}

std::string DecodePercent(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::wstring DecodeNumericReferences(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size() && text[i + 1] == L'#') {
            size_t k = i + 2;
            bool hex = k < text.size() && (text[k] == L'x' || text[k] == L'X');
            if (hex) ++k;
            size_t digits = k;
            uint32_t v = 0;
            for (; k < text.size() && k - digits < 8; ++k) {
                int d = static_cast<uint32_t>(text[k]) < 0x80 ? HexValue(static_cast<char>(text[k])) : -1;
                if (d < 0 || d >= (hex ? 16 : 10)) break;
                v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
            }
            // Only a whole reference to a character that can be: anything else stays as written.
            if (k > digits && k < text.size() && text[k] == L';' && v > 0 && v <= 0x10FFFF &&
                (v < 0xD800 || v > 0xDFFF)) {
                out += static_cast<wchar_t>(v);
                i = k;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace network
