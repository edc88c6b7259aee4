// Reads the ffprobe reports committed beside the MP4 fixtures (-show_streams
// -show_packets, and -show_format -show_chapters for tags and chapters).
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace mp4test {

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

}  // namespace mp4test
