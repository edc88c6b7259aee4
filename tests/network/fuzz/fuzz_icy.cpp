// Fuzz target: an ICY answer as a stream server sends it. The first bytes are read as
// the status line and header block, the rest as audio with metadata blocks every
// icy-metaint bytes, walked the way the HTTP stream walks them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "icy.h"

namespace {

struct Visitor : network::HeaderVisitor {
    size_t interval = 0;
    std::string seen;
    void ContentType(std::string_view v) override { seen.assign(v); }
    void Comment(const char* key, std::string_view v) override {
        seen = key;
        seen.append(v.substr(0, 121));
    }
    void MetaInterval(std::string_view v) override {
        std::string text(v.substr(0, 31));
        long n = std::strtol(text.c_str(), nullptr, 10);
        interval = n > 0 ? static_cast<size_t>(n) : 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* p = reinterpret_cast<const char*>(data);
    int status = 0;
    if (!network::IcyStatus(p, size, status) || status != 200) return 0;
    long end = network::IcyHeaderEnd(p, size);
    if (end < 0) return 0;
    Visitor v;
    network::ParseHeaderLines(p, static_cast<size_t>(end), v);
    size_t pos = static_cast<size_t>(end) + (p[end + 1] == '\n' ? 2 : 3);
    if (v.interval == 0) return 0;
    // Audio, a length byte, that many 16-byte units of metadata; a block cut short by the
    // end of the data is searched as far as it goes.
    while (pos < size) {
        if (size - pos <= v.interval) break;
        pos += v.interval;
        size_t length = static_cast<size_t>(static_cast<unsigned char>(p[pos])) * 16;
        ++pos;
        size_t have = length < size - pos ? length : size - pos;
        std::string_view title;
        network::FindStreamTitle(p + pos, have, title);
        pos += have;
    }
    return 0;
}
