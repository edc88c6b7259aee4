#include "icy.h"

#include <cstring>

namespace network {

namespace {

bool StartsWith(std::string_view line, const char* prefix) {
    size_t n = std::strlen(prefix);
    return line.size() >= n && line.compare(0, n, prefix) == 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view ValueAfter(std::string_view line, size_t nameLength) {
    std::string_view v = line.substr(nameLength);
    size_t i = 0;
    while (i < v.size() && IsBlank(v[i])) ++i;
    return v.substr(i);
}

}  // namespace

void ParseHeaderLines(const char* text, size_t length, HeaderVisitor& visitor) {
    size_t pos = 0;
    while (pos < length) {
        size_t end = pos;
        while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
        std::string_view line(text + pos, end - pos);
        if (StartsWith(line, "Content-Type:") || StartsWith(line, "content-type:")) {
            visitor.ContentType(ValueAfter(line, 13));
        } else if (StartsWith(line, "icy-genre:")) {
            visitor.Comment("GENRE=", ValueAfter(line, 10));
        } else if (StartsWith(line, "icy-name:")) {
            visitor.Comment("TITLE=", ValueAfter(line, 9));
        } else if (StartsWith(line, "icy-metaint:")) {
            visitor.MetaInterval(ValueAfter(line, 12));
        }
        pos = end + 1;
    }
}

long IcyHeaderEnd(const char* data, size_t length) {
    for (size_t i = 0; i + 1 < length; ++i) {
        if (data[i] != '\n') continue;
        if (data[i + 1] == '\n') return static_cast<long>(i);
        if (i + 2 < length && data[i + 1] == '\r' && data[i + 2] == '\n') return static_cast<long>(i);
    }
    return -1;
}

bool FindStreamTitle(const char* block, size_t length, std::string_view& title) {
    static const char kKey[] = "StreamTitle='";
    const size_t keyLength = sizeof(kKey) - 1;
    std::string_view all(block, length);
    size_t pos = 0;
    while ((pos = all.find(kKey, pos)) != std::string_view::npos) {
        size_t start = pos + keyLength;
        size_t end = start;
        while (end < length && block[end] != '\'' && block[end] != '\0') ++end;
        if (end > start) {
            title = all.substr(start, end - start);
            return true;
        }
        pos = start;
    }
    return false;
}

bool IcyStatus(const char* data, size_t length, int& status) {
    size_t n = 0;
    while (n < length && n < 16 && data[n] != '\r' && data[n] != '\n' && data[n] != '\0') ++n;
    if (n < 4 || std::memcmp(data, "ICY", 3) != 0) return false;
    size_t i = 3;
    while (i < n && IsBlank(data[i])) ++i;
    bool negative = false;
    if (i < n && (data[i] == '-' || data[i] == '+')) negative = data[i++] == '-';
    if (i >= n || data[i] < '0' || data[i] > '9') return false;
    long v = 0;
    while (i < n && data[i] >= '0' && data[i] <= '9' && v < 100000) v = v * 10 + (data[i++] - '0');
    status = static_cast<int>(negative ? -v : v);
    return true;
}

}  // namespace network
