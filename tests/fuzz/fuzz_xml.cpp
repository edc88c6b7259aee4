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
char g_answerFile[] = "/tmp/lumeo-fuzz-xml-XXXXXX";

// One answer file for the process, removed when it ends (each replay test run leaves none).
const std::wstring& AnswerPath() {
    static const std::wstring path = [] {
        int fd = mkstemp(g_answerFile);
        if (fd >= 0) close(fd);
        std::atexit([] { std::remove(g_answerFile); });
        return platform::Utf8ToWide(g_answerFile);
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_logLevel = LOG_DEBUG;  // format every line, though none is written (no log file)
    const std::wstring& path = AnswerPath();
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
