// Feeds arbitrary bytes as an answer file to the list and update readers.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log.h"
#include "parseXML.h"
#include "platform/codepage.h"

namespace {
std::wstring AnswerPath() {
    static std::wstring path = [] {
        char tmpl[] = "/tmp/lumeo-fuzz-xml-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        return platform::Utf8ToWide(tmpl);
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_logLevel = LOG_DEBUG;  // format every line, though none is written (no log file)
    std::wstring path = AnswerPath();
    FILE* f = std::fopen(platform::WideToUtf8(path).c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::vector<VideoItem> items;
    int total = 0;
    GetVideoList(path.c_str(), items, total, 100);
    UpdateInfo info;
    GetUpdateInfo(path.c_str(), info);
    return 0;
}
