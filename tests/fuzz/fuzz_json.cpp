// Feeds arbitrary text to the JSON list reader.
#include <string>
#include <vector>

#include "log.h"
#include "parseJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_logLevel = LOG_DEBUG;
    std::vector<JsonVideoItem> out;
    ParseJsonVideoList(std::string(reinterpret_cast<const char*>(data), size), 20, out);
    return 0;
}
