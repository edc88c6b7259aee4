// The picture cache full: 500 thumbnails of the sample service's size fetched over
// loopback and cached. Reports the bitmaps' own bytes and the growth of the process's
// resident memory (goal: within 25 MiB), and the time to fill the cache.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "download.h"
#include "entryGlobals.h"
#include "helpers.h"
#include "listview.h"
#include "platform/codepage.h"
#include "platform/format.h"
#include "platform/gdi.h"

namespace {

std::string Vid(int i) {
    char vid[32];
    std::snprintf(vid, sizeof vid, "lv%08x", 0x3f2a0000u + static_cast<unsigned>(i) * 17u);
    return vid;
}

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void Clear() {
    EnterCriticalSection(&g_downloader.csPicture);
    for (auto& [vid, entry] : g_downloader.pictures) DeleteObject(entry.bitmap);
    g_downloader.pictures.clear();
    g_downloader.pictureOrder.clear();
    LeaveCriticalSection(&g_downloader.csPicture);
}

void BM_FiveHundredThumbnails(benchmark::State& state) {
    static nettest::TempDir dir;
    static nettest::SampleService service({"--videos", "500"});
    std::filesystem::create_directories(dir.path() + "/Image");
    platform::CopyCut(g_appDir, APP_DIR_LEN, dir.wpath());
    SetApiHost(platform::Utf8ToWide(service.host()).c_str());
    std::vector<std::wstring> vids, urls;
    for (int i = 0; i < PICTURE_CACHE_LIMIT; ++i) {
        vids.push_back(platform::Utf8ToWide(Vid(i)));
        urls.push_back(platform::Utf8ToWide("http://" + service.host() + "/img/" + Vid(i) + ".jpg"));
    }
    double rssBefore = 0, pixelBytes = 0, rssGrowth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Clear();
        std::filesystem::remove_all(dir.path() + "/Image");
        std::filesystem::create_directories(dir.path() + "/Image");
        if (rssBefore == 0) rssBefore = ResidentMiB();
        state.ResumeTiming();
        for (size_t i = 0; i < vids.size(); ++i) {
            HBITMAP out = nullptr;
            DownloadPicture(&g_downloader, vids[i].c_str(), urls[i].c_str(), 1, 0, &out);
        }
        state.PauseTiming();
        pixelBytes = 0;
        EnterCriticalSection(&g_downloader.csPicture);
        size_t cached = g_downloader.pictures.size();
        for (auto& [vid, entry] : g_downloader.pictures) {
            BITMAP bm{};
            GetObjectW(entry.bitmap, sizeof bm, &bm);
            pixelBytes += static_cast<double>(bm.bmWidthBytes) * bm.bmHeight;
        }
        LeaveCriticalSection(&g_downloader.csPicture);
        if (cached != vids.size()) state.SkipWithError("not every thumbnail was cached");
        rssGrowth = ResidentMiB() - rssBefore;
        state.ResumeTiming();
    }
    state.counters["bitmaps_MiB"] = pixelBytes / (1024.0 * 1024.0);
    state.counters["rss_growth_MiB"] = rssGrowth;
    state.counters["goal_MiB"] = 25;
}
BENCHMARK(BM_FiveHundredThumbnails)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
