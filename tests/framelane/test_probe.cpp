// lumeo-probe with the 2700G classes, run as a user runs it.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "helpers.h"
#include "platform/image.h"
#include "platform/surface.h"

namespace fltest {
namespace {

struct ProbeRun {
    int status = -1;
    std::vector<std::string> lines;
};

ProbeRun Probe(const std::string& args) {
    std::string cmd = std::string(LUMEO_TEST_DIST_DIR) + "/lumeo-probe " + args + " 2>&1";
    ProbeRun r;
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

std::string Text(const ProbeRun& r) {
    std::string all;
    for (const auto& l : r.lines) all += l + "\n";
    return all;
}

bool Has(const ProbeRun& r, const std::string& line) {
    for (const auto& l : r.lines)
        if (l == line) return true;
    return false;
}

std::string Data(const char* name) { return std::string(LUMEO_TEST_SOURCE_DIR) + "/tests/data/video/" + name; }

std::shared_ptr<platform::Surface> Png(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    return platform::DecodePng(bytes.data(), bytes.size());
}

TEST(Probe2700G, ListsTheClasses) {
    ProbeRun r = Probe("--classes");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r, "class 270G parent=OVLA priority=1210"));
    EXPECT_TRUE(Has(r, "class 270I parent=IDCT priority=1050"));
}

TEST(Probe2700G, IdctCheckPasses) {
    ProbeRun r = Probe("--idct-check 270G");
    EXPECT_EQ(r.status, 0) << Text(r);
    EXPECT_TRUE(Has(r, "idct 270G pass"));
}

// The screen the probe shoots shows ffmpeg's scaled picture in the rectangle.
TEST(Probe2700G, VideoOutShowsTheFramesScaled) {
    std::string shot = std::filesystem::temp_directory_path() / ("framelane-probe-" + std::to_string(getpid()) + ".png");
    ProbeRun r = Probe("--video-out 270G --yuv " + Data("frame-160x120.i420") +
                       " --size 160x120 --screen 800x480 --rect 100,50,320,240 --shot " + shot);
    EXPECT_EQ(r.status, 0) << Text(r);
    auto got = Png(shot);
    auto want = Png(Data("frame-scaled-320x240.png"));
    std::filesystem::remove(shot);
    ASSERT_NE(got, nullptr);
    ASSERT_NE(want, nullptr);
    ASSERT_EQ(got->width(), 800);
    double sum = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            uint32_t a = got->at(100 + x, 50 + y), b = want->at(x, y);
            for (int s : {0, 8, 16}) {
                int d = static_cast<int>((a >> s) & 255) - static_cast<int>((b >> s) & 255);
                sum += d * d;
            }
        }
    double psnr = 10 * std::log10(255.0 * 255.0 / std::max(sum / (3.0 * 320 * 240), 1e-9));
    EXPECT_GE(psnr, 45);
}

}  // namespace
}  // namespace fltest
