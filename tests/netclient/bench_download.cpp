// Download throughput on loopback: a large file made here, fetched through Download and
// with the curl command line from the same server. Not a test: it prints what it saw.
//   bench_download [MiB]    (default 256; 8 with LUMEO_BENCH_QUICK set, which only checks that it runs)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download.h"
#include "helpers.h"
#include "platform/codepage.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

}  // namespace

int main(int argc, char** argv) {
    long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
    if (std::getenv("LUMEO_BENCH_QUICK")) mib = 8;
    if (mib <= 0 || mib > 8192) {
        std::fprintf(stderr, "usage: bench_download [MiB]\n");
        return 2;
    }
    nettest::TempDir dir;
    std::filesystem::create_directories(dir.path() + "/files");
    {
        std::ofstream out(dir.path() + "/files/big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        unsigned x = 1;
        for (auto& c : block) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        for (long i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    const double bytes = static_cast<double>(mib) * (1 << 20);
    nettest::SampleService service({"--files", dir.path() + "/files"});
    std::string url = "http://" + service.host() + "/files/big.bin";
    std::string ours = dir.path() + "/ours.bin", theirs = dir.path() + "/curl.bin";

    double best = 1e9, bestCurl = 1e9;
    for (int round = 0; round < 3; ++round) {
        CStringA none;
        auto t = std::chrono::steady_clock::now();
        int r = Download(&g_downloader, platform::Utf8ToWide(url).c_str(), nullptr, platform::Utf8ToWide(ours).c_str(),
                         1, none, 0);
        double s = Seconds(t);
        if (r != 0 || std::filesystem::file_size(ours) != static_cast<uintmax_t>(bytes)) {
            std::fprintf(stderr, "Download failed\n");
            return 1;
        }
        best = std::min(best, s);

        std::string cmd = "curl -s -o '" + theirs + "' '" + url + "'";
        t = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        bestCurl = std::min(bestCurl, Seconds(t));
    }
    double mine = bytes / best / (1 << 20), curl = bytes / bestCurl / (1 << 20);
    std::printf("file            %ld MiB over 127.0.0.1, best of 3\n", mib);
    std::printf("Download        %.1f MiB/s\n", mine);
    std::printf("curl            %.1f MiB/s\n", curl);
    std::printf("ratio           %.2f (goal >= 0.80)\n", mine / curl);
    return 0;
}
