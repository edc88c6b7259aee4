// Fuzz target: an HTML page through the link scanner and the decoders, every pass to
// the end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "links.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    network::LinkScan scan;
    scan.page = reinterpret_cast<const char*>(data);
    scan.size = size;
    std::string value;
    for (size_t guard = 0; guard <= size + 4 && network::NextLinkValue(scan, value); ++guard) {
        std::string decoded = network::DecodeEntities(value);
        std::string name = network::DecodePercent(decoded);
        if (decoded.size() > value.size() || name.size() > decoded.size()) __builtin_trap();
        std::wstring wide(decoded.begin(), decoded.end());
        if (network::DecodeNumericReferences(wide).size() > wide.size()) __builtin_trap();
    }
    return 0;
}
