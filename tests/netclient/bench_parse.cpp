// Parse time of one 10-item list answer from the sample service.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "helpers.h"
#include "parseXML.h"
#include "platform/codepage.h"

namespace {

void BM_ParseTenItemPage(benchmark::State& state) {
    static nettest::TempDir dir;
    static std::wstring path = [] {
        nettest::SampleService service;
        dir.Write("page.xml", service.Get("/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=1&rt=1&f=8&seg=1&rp=1"));
        return platform::Utf8ToWide(dir.path() + "/page.xml");
    }();
    for (auto _ : state) {
        std::vector<VideoItem> items;
        int total = 0;
        if (GetVideoList(path.c_str(), items, total, 100) != 0 || items.size() != 10) {
            state.SkipWithError("the answer did not parse");
            break;
        }
        benchmark::DoNotOptimize(items.data());
    }
}
BENCHMARK(BM_ParseTenItemPage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
