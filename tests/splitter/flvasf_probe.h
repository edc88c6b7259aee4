// Reading what ffprobe reported of a test file (FILE.ffprobe beside it), and reading
// the same file through our readers, for the FLV and ASF tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/common.h"

namespace flvasf {

// One [SECTION] ... [/SECTION] of the report: its key=value lines.
struct Section {
    std::string name;
    std::map<std::string, std::string> values;
    std::string Get(const std::string& key) const;
    long long Int(const std::string& key) const;  // -1 when missing or N/A
};

struct Report {
    std::vector<Section> streams, packets, chapters;
    Section format;
};

// The report of tests/data/<relative>.ffprobe; fails the test when it is missing.
Report LoadReport(const std::string& relative);
// tests/data/<relative> as a path, and its bytes.
std::string DataPath(const std::string& relative);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The folders of the program: dist, and dist/asf where the build that registers the ASF
// reader lies.
std::string DistDir();

// ffprobe's CRC32 of a packet's bytes ("CRC32:xxxxxxxx").
std::string Crc32Text(const BlockRef* chain);

// What our reader delivered.
struct Got {
    int stream;  // index in the reader's stream list
    int time;    // ticks
    int size;
    int key;
    std::string crc;
};

// Receives comment texts (a node whose setParam records them).
struct CommentRecorder {
    Node node;
    std::vector<std::wstring> texts;
    CommentRecorder();
    CommentSink Sink() { return CommentSink{this, 1}; }
};

// ms -> ticks as the readers convert them.
inline int Ticks(long long ms) {
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(ms * 16384 / 1000)));
}

}  // namespace flvasf
