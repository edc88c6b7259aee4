#include "flvasf_probe.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace flvasf {

std::string Section::Get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

long long Section::Int(const std::string& key) const {
    std::string v = Get(key);
    if (v.empty() || v == "N/A") return -1;
    return std::strtoll(v.c_str(), nullptr, 0);
}

std::string DataPath(const std::string& relative) {
    const char* root = std::getenv("LUMEO_SOURCE_DIR");
    return std::string(root ? root : LUMEO_TEST_SOURCE_DIR) + "/tests/data/" + relative;
}

std::string DistDir() {
    const char* dist = std::getenv("LUMEO_DIST_DIR");
    return dist ? dist : LUMEO_TEST_DIST_DIR;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Report LoadReport(const std::string& relative) {
    Report report;
    std::ifstream f(DataPath(relative) + ".ffprobe");
    EXPECT_TRUE(f.good()) << "no report for " << relative;
    std::string line;
    Section current;
    while (std::getline(f, line)) {
        if (line.size() > 2 && line[0] == '[' && line[1] != '/') {
            current = Section{line.substr(1, line.size() - 2), {}};
        } else if (line.size() > 2 && line[0] == '[') {
            if (current.name == "STREAM") report.streams.push_back(current);
            else if (current.name == "PACKET") report.packets.push_back(current);
            else if (current.name == "CHAPTER") report.chapters.push_back(current);
            else if (current.name == "FORMAT") report.format = current;
        } else {
            auto eq = line.find('=');
            if (eq != std::string::npos) current.values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return report;
}

std::string Crc32Text(const BlockRef* chain) {
    uLong crc = crc32(0L, Z_NULL, 0);
    for (const BlockRef* p = chain; p; p = p->next) crc = crc32(crc, p->data, static_cast<uInt>(p->length));
    char text[32];
    std::snprintf(text, sizeof(text), "CRC32:%08lx", static_cast<unsigned long>(crc));
    return text;
}

namespace {
int RecordComment(void* self, int, const void* data, int size) {
    auto* r = static_cast<CommentRecorder*>(self);
    const auto* text = static_cast<const tchar*>(data);
    size_t n = 0;
    size_t capacity = static_cast<size_t>(size) / sizeof(tchar);
    while (n < capacity && text[n]) ++n;
    EXPECT_LT(n, capacity) << "comment text without its terminator inside the given size";
    r->texts.emplace_back(text, n);
    return 0;
}
}  // namespace

CommentRecorder::CommentRecorder() : node{} { node.setParam = RecordComment; }

}  // namespace flvasf
