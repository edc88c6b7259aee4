// lumeo-probe, through the host and the plug-in files, lists the FLV and ASF test files
// as ffprobe does (with the readers' own rules: FLV audio packets carry no key flag,
// ASF audio key flags are the payloads' bits, which ffprobe does not show).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "flvasf_probe.h"

using namespace flvasf;

namespace {

struct Line {
    int stream, time, size, key;
};

// The probe's packet lines for a test file; *out gets everything it printed.
std::vector<Line> Probe(const std::string& file, const std::string& plugins, std::string* out) {
    std::string cmd = DistDir() + "/lumeo-probe";
    if (!plugins.empty()) cmd += " --plugins " + DistDir() + "/" + plugins;
    cmd += " " + DataPath(file) + " 2>&1";
    std::vector<Line> lines;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return lines;
    char buf[512];
    while (fgets(buf, sizeof(buf), p)) {
        out->append(buf);
        Line l{};
        if (std::sscanf(buf, "packet %d %d %d %d", &l.stream, &l.time, &l.size, &l.key) == 4) lines.push_back(l);
    }
    pclose(p);
    return lines;
}

struct Case {
    const char* file;
    const char* plugins;
    bool flv;
};

class ProbeLists : public ::testing::TestWithParam<Case> {};

TEST_P(ProbeLists, EveryPacketAsFfprobeReportsIt) {
    const Case& c = GetParam();
    Report report = LoadReport(c.file);
    std::string out;
    std::vector<Line> lines = Probe(c.file, c.plugins, &out);
    ASSERT_EQ(lines.size(), report.packets.size()) << out.substr(0, 2000);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Section& p = report.packets[i];
        SCOPED_TRACE("packet " + std::to_string(i));
        EXPECT_EQ(lines[i].stream, p.Int("stream_index"));
        EXPECT_EQ(lines[i].time, Ticks(p.Int("pts")));
        EXPECT_EQ(lines[i].size, p.Int("size"));
        bool video = p.Get("codec_type") == "video";
        if (video) {
            EXPECT_EQ(lines[i].key, p.Get("flags")[0] == 'K' ? 1 : 0);
        } else if (c.flv) {
            EXPECT_EQ(lines[i].key, 0);
        }
    }
    EXPECT_EQ(out.find("error"), std::string::npos) << out.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Files, ProbeLists,
                         ::testing::Values(Case{"flv/h263-mp3.flv", "", true}, Case{"flv/h263-adpcm.flv", "", true},
                                           Case{"flv/zero-size-tags.flv", "", true},
                                           Case{"flv/h263-mp3.flv", "asf", true},
                                           Case{"asf/wmv2-wma2.asf", "asf", false},
                                           Case{"asf/spread-compressed.asf", "asf", false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.file;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name + (*info.param.plugins ? "_asf_build" : "");
                         });

TEST(ProbeDefaultPlugins, DoNotReadAsf) {
    std::string out;
    std::vector<Line> lines = Probe("asf/wmv2-wma2.asf", "", &out);
    EXPECT_TRUE(lines.empty());
    EXPECT_NE(out.find("error"), std::string::npos) << out;
}

}  // namespace
