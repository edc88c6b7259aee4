// Reads the ffprobe reports committed beside the MP4 fixtures (-show_streams
// -show_packets, and -show_format -show_chapters for tags and chapters).
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/common.h"
#include "mp4.h"
#include "plugin/frame.h"

namespace mp4test {

// One reader object of the MP4 class and its input stream, deleted after each test.
class ReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!NodeFindClass(MP4_CLASS))
            NodeRegisterClass(&Mp4Class);
    }
    void TearDown() override { Close(); }
    void Close()
    {
        NodeDelete(format);
        NodeDelete(stream);
        format = nullptr;
        stream = nullptr;
    }

    Format* format = nullptr;
    Stream* stream = nullptr;
};

struct Section {
    std::string kind;  // "STREAM", "PACKET", "FORMAT", "CHAPTER"
    std::map<std::string, std::string> values;

    std::string Get(const std::string& key, const std::string& otherwise = "") const
    {
        auto it = values.find(key);
        return it == values.end() ? otherwise : it->second;
    }
    long long Int(const std::string& key, long long otherwise = 0) const
    {
        std::string v = Get(key);
        if (v.empty() || v == "N/A")
            return otherwise;
        return std::stoll(v);
    }
};

inline std::vector<Section> ReadReport(const std::string& path)
{
    std::vector<Section> out;
    std::ifstream in(path);
    std::string line;
    Section* open = nullptr;
    while (std::getline(in, line)) {
        if (line.size() > 2 && line[0] == '[' && line[1] != '/') {
            out.push_back({line.substr(1, line.size() - 2), {}});
            open = &out.back();
        } else if (line.size() > 2 && line[0] == '[') {
            open = nullptr;
        } else if (open) {
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                open->values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return out;
}

inline std::vector<Section> OfKind(const std::vector<Section>& all, const std::string& kind)
{
    std::vector<Section> out;
    for (const Section& s : all)
        if (s.kind == kind)
            out.push_back(s);
    return out;
}

// "1/600" -> 600
inline int TimeBaseDen(const Section& stream)
{
    std::string tb = stream.Get("time_base");
    size_t slash = tb.find('/');
    return slash == std::string::npos ? 0 : std::stoi(tb.substr(slash + 1));
}

// One packet as the reader should deliver it; crc is ffprobe's CRC32 of the payload (0 in
// a report without -show_data_hash).
struct Expect {
    int stream, time, size, key;
    uint32_t crc;
    bool operator==(const Expect& o) const
    {
        return stream == o.stream && time == o.time && size == o.size && key == o.key && crc == o.crc;
    }
};

inline void PrintTo(const Expect& e, std::ostream* os)
{
    char crc[16];
    std::snprintf(crc, sizeof(crc), "%08x", e.crc);
    *os << "{s" << e.stream << " t" << e.time << " n" << e.size << " k" << e.key << " crc " << crc << "}";
}

// What the reader should deliver, from ffprobe's packets: in file order (by position);
// times are decode times from the track's first sample, plus the smallest composition
// offset when it lies within the first second (the reader starts the track there), in
// ticks of 1/16384 s. Tracks of PCM-like audio deliver whole chunks where ffprobe splits
// them: a chunk is a run of packets of one stream that follow each other in the file
// (the fixtures never put two chunks of one track side by side).
inline std::vector<Expect> ExpectedPackets(const std::vector<Section>& report, const std::set<int>& dropped)
{
    static const std::set<std::string> kChunkTags = {"twos", "sowt", "raw ", "ulaw", "alaw", "ima4"};
    std::vector<Section> streams = OfKind(report, "STREAM");
    std::vector<Section> packets = OfKind(report, "PACKET");
    std::map<int, int> number;
    std::map<int, int> scale;
    std::map<int, bool> chunked;
    int next = 0;
    for (const Section& s : streams) {
        int index = int(s.Int("index"));
        if (dropped.count(index) || s.Get("DISPOSITION:attached_pic") == "1")
            continue;
        number[index] = next++;
        scale[index] = TimeBaseDen(s);
        chunked[index] = kChunkTags.count(s.Get("codec_tag_string")) != 0;
    }
    std::map<int, long long> firstDts, smallest;
    for (const Section& p : packets) {
        int s = int(p.Int("stream_index"));
        long long dts = p.Int("dts"), pts = p.Int("pts", dts);
        if (!firstDts.count(s) || dts < firstDts[s])
            firstDts[s] = dts;
        if (!smallest.count(s) || pts - dts < smallest[s])
            smallest[s] = pts - dts;
    }
    std::stable_sort(packets.begin(), packets.end(), [](const Section& a, const Section& b) { return a.Int("pos") < b.Int("pos"); });
    std::vector<Expect> out;
    long long lastEnd = -1;
    int lastStream = -1;
    for (const Section& p : packets) {
        int s = int(p.Int("stream_index"));
        if (!number.count(s))
            continue;
        long long start = smallest[s] > 0 && smallest[s] < scale[s] ? smallest[s] : 0;
        int ticks = MulDiv(int(p.Int("dts") - firstDts[s] + start), 16384, scale[s]);
        int size = int(p.Int("size"));
        bool key = p.Get("flags").find('K') != std::string::npos;
        std::string hash = p.Get("data_hash");
        uint32_t crc = hash.size() > 6 ? uint32_t(std::stoul(hash.substr(6), nullptr, 16)) : 0;
        if (chunked[s] && lastStream == s && lastEnd == p.Int("pos")) {
            out.back().size += size;
            out.back().crc = uint32_t(crc32_combine(out.back().crc, crc, size));
        } else {
            out.push_back({number[s], ticks, size, key ? 1 : 0, crc});
        }
        lastStream = s;
        lastEnd = p.Int("pos") + size;
    }
    return out;
}

}  // namespace mp4test
