// lumeo-probe, through the host and the plug-in files, lists the FLV and ASF test files
// as ffprobe does (with the readers' own rules: FLV audio packets carry no key flag,
// ASF audio key flags are the payloads' bits, which ffprobe does not show); and for
// every reader, that a file is either read whole or refused with an error.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "flvasf_probe.h"

using namespace flvasf;

namespace {

struct Line {
    int stream, time, size, key;
};

// The probe's packet lines for a file; *out gets everything it printed, *status (when
// given) its exit status.
std::vector<Line> ProbePath(const std::string& path, const std::string& plugins, std::string* out,
                            int* status = nullptr) {
    std::string cmd = DistDir() + "/lumeo-probe";
    if (!plugins.empty()) cmd += " --plugins " + DistDir() + "/" + plugins;
    cmd += " " + path + " 2>&1";
    std::vector<Line> lines;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return lines;
    char buf[512];
    while (fgets(buf, sizeof(buf), p)) {
        out->append(buf);
        Line l{};
        if (std::sscanf(buf, "packet %d %d %d %d", &l.stream, &l.time, &l.size, &l.key) == 4) lines.push_back(l);
    }
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return lines;
}

// The same for a test file.
std::vector<Line> Probe(const std::string& file, const std::string& plugins, std::string* out,
                        int* status = nullptr) {
    return ProbePath(DataPath(file), plugins, out, status);
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

// A file is read whole or refused: fragmented MP4 gives every packet ffprobe lists; a
// file with nothing to play (only a track of a codec not taken, a reference movie, an FLV
// of no audio or video tag) ends with an error line and a failing exit status.
TEST(ProbeWholeOrRefused, FragmentedMp4GivesEveryPacket) {
    for (const char* file : {"mp4/frag-keyframe.mp4", "mp4/empty-moov.mp4", "mp4/moof-base.mp4"}) {
        SCOPED_TRACE(file);
        std::string out;
        int status = -1;
        std::vector<Line> lines = Probe(file, "", &out, &status);
        EXPECT_EQ(lines.size(), LoadReport(file).packets.size());
        EXPECT_EQ(status, 0) << out.substr(0, 2000);
        EXPECT_EQ(out.find("error"), std::string::npos);
    }
}

TEST(ProbeWholeOrRefused, NothingToPlayIsAnError) {
    // The header and one script tag.
    std::vector<uint8_t> flv = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0, 18, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 12};
    char name[] = "/tmp/lumeo-flv-script-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, flv.data(), flv.size()), static_cast<ssize_t>(flv.size()));
    close(fd);
    for (const std::string& path : {DataPath("mp4/pcm24.mov"), DataPath("mp4/hevc.mp4"), DataPath("mp4/redirect.mov"),
                                    DataPath("mp4/cmov-broken.mov"), std::string(name)}) {
        SCOPED_TRACE(path);
        std::string out;
        int status = 0;
        std::vector<Line> lines = ProbePath(path, "", &out, &status);
        EXPECT_TRUE(lines.empty());
        EXPECT_EQ(status, 1);
        EXPECT_NE(out.find("error -5 unsupported\n"), std::string::npos) << out;
    }
    unlink(name);
}

}  // namespace
