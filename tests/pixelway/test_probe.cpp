// lumeo-probe's --classes, --video-out and --idct-check, run as a user runs them.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "fixture.h"

namespace {

struct ProbeRun {
    int status;
    std::vector<std::string> lines;
};

ProbeRun Probe(const std::string& args) {
    std::string cmd = std::string(LUMEO_TEST_DIST_DIR) + "/lumeo-probe " + args + " 2>&1";
    ProbeRun r{-1, {}};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    r.status = pclose(p);
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    return r;
}

bool Has(const ProbeRun& r, const std::string& line) {
    for (const auto& l : r.lines)
        if (l == line) return true;
    return false;
}

std::string Data(const std::string& name) { return std::string(LUMEO_TEST_SOURCE_DIR) + "/tests/data/video/" + name; }

bool ReadRgb(const std::string& path, int* w, int* h, std::vector<uint8_t>* rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    *w = static_cast<int>(image.width);
    *h = static_cast<int>(image.height);
    rgb->resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}

class ProbeVideo : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lumeo-probe-video-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::string dir;
};

TEST_F(ProbeVideo, ClassesListsEveryRegisteredClassOnALine) {
    ProbeRun r = Probe("--classes");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r, "class AHI_ parent=OVLA priority=1200"));
    EXPECT_TRUE(Has(r, "class MP4F parent=FMTB priority=1000"));
    EXPECT_TRUE(Has(r, "class HTTP parent=STRM priority=1"));
    for (const auto& l : r.lines) EXPECT_EQ(l.compare(0, 6, "class "), 0) << l;
}

TEST_F(ProbeVideo, VideoOutWritesTheScreenWithThePictureInTheRectangle) {
    std::string shot = dir + "/shot.png";
    ProbeRun r = Probe("--video-out AHI_ --yuv " + Data("clip-96x64.yuv") +
                  " --size 96x64 --screen 320x240 --rect 40,30,96,64 --shot " + shot);
    ASSERT_EQ(r.status, 0) << (r.lines.empty() ? "" : r.lines.back());
    EXPECT_TRUE(Has(r, "shot " + shot + " 320x240 frames=3"));
    int w, h, ew, eh;
    std::vector<uint8_t> got, want;
    ASSERT_TRUE(ReadRgb(shot, &w, &h, &got));
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 240);
    ASSERT_TRUE(ReadRgb(Data("clip-96x64.png"), &ew, &eh, &want));
    std::vector<uint8_t> part;
    for (int y = 30; y < 30 + 64; ++y) part.insert(part.end(), got.begin() + (y * 320 + 40) * 3, got.begin() + (y * 320 + 136) * 3);
    EXPECT_GE(Psnr(part, want), 40);
    // The desktop's squares around it: light at the top left, dark one square along.
    struct Sample {
        int x, y, r, g, b;
    } samples[] = {{0, 0, 132, 130, 132}, {20, 0, 66, 65, 66}, {300, 230, 132, 130, 132}, {39, 29, 66, 65, 66}};
    for (const auto& s : samples) {
        const uint8_t* p = &got[(s.y * 320 + s.x) * 3];
        EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{s.r, s.g, s.b})) << s.x << "," << s.y;
    }
}

TEST_F(ProbeVideo, VideoOutScalesToTheWholeScreenByDefault) {
    std::string shot = dir + "/full.png";
    ProbeRun r = Probe("--video-out AHI_ --yuv " + Data("clip-96x64.yuv") + " --size 96x64 --screen 160x120 --shot " + shot);
    ASSERT_EQ(r.status, 0);
    int w, h, ew, eh;
    std::vector<uint8_t> got, want;
    ASSERT_TRUE(ReadRgb(shot, &w, &h, &got));
    ASSERT_TRUE(ReadRgb(Data("clip-96x64-160x120-neighbor.png"), &ew, &eh, &want));
    ASSERT_EQ(got.size(), want.size());
    EXPECT_GE(Psnr(got, want), 28);
}

TEST_F(ProbeVideo, VideoOutRefusesWhatItCannotShow) {
    struct Case {
        std::string args;
        std::string line;
    } cases[] = {
        {"--video-out MP4F --yuv " + Data("clip-96x64.yuv") + " --size 96x64 --shot " + dir + "/x.png",
         "error -4 not an overlay class"},
        {"--video-out AHI_ --yuv " + dir + "/missing.yuv --size 96x64 --shot " + dir + "/x.png",
         "error -8 cannot open the YUV file"},
        {"--video-out AHI_ --yuv " + Data("clip-96x64.yuv") + " --size 96x --shot " + dir + "/x.png",
         "error -4 bad --size"},
        {"--video-out AHI_ --yuv " + Data("clip-96x64.yuv") + " --size 96x64 --direction 9 --shot " + dir + "/x.png",
         "error -4 bad --direction"},
    };
    for (const auto& c : cases) {
        ProbeRun r = Probe(c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_TRUE(Has(r, c.line)) << c.args;
    }
    EXPECT_NE(access((dir + "/x.png").c_str(), F_OK), 0);
}

TEST_F(ProbeVideo, IdctCheckPassesTheSixRunsAgainstTheDoubleIdct) {
    ProbeRun r = Probe("--idct-check AHI_");
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), "idct AHI_ pass");
    int ranges = 0;
    for (const auto& l : r.lines)
        if (l.compare(0, 6, "range ") == 0) {
            ++ranges;
            EXPECT_NE(l.find(" peak=1 "), std::string::npos) << l;
            EXPECT_EQ(l.substr(l.size() - 3), " ok") << l;
        }
    EXPECT_EQ(ranges, 6);
    ProbeRun bad = Probe("--idct-check MP4F");
    EXPECT_NE(bad.status, 0);
}

}  // namespace
