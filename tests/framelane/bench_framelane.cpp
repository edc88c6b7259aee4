// Speed of the 2700G output on the simulated chip: frames through the overlay (320 x 240
// video on an 800 x 480 screen, scaled by the overlay), the scan-out that shows them, the
// core's CPU blitter scaling the same frames into an RGB 5-6-5 screen, and blocks through
// the IDCT face.
#include <dlfcn.h>

#include <cstdlib>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/common.h"
#include "core/testing.h"
#include "pvrvadd.h"

namespace {

constexpr int kVideoW = 320, kVideoH = 240, kScreenW = 800, kScreenH = 480;

struct Plugin {
    void* handle;
    Plugin() {
        setenv("LUMEO_DLL_PATH", LUMEO_BENCH_DIST_DIR, 1);
        handle = dlopen(LUMEO_BENCH_DIST_DIR "/framelane.plg", RTLD_NOW | RTLD_LOCAL);
        auto reg = handle ? reinterpret_cast<int (*)(int)>(dlsym(handle, "DLLRegister")) : nullptr;
        if (reg) reg(CORE_INTERFACE_VERSION);
        core::SetSleepSkipped(true);
    }
};

Plugin& ThePlugin() {
    static Plugin p;
    return p;
}

VideoFormat I420(int w, int h) {
    VideoFormat f{};
    f.width = w, f.height = h, f.aspect = 0x10000;
    f.pixel.flags = PF_FOURCC | PF_PLANAR;
    f.pixel.fourcc = FOURCC('I', '4', '2', '0');
    f.pixel.bitCount = 8;
    f.pitch = w;
    return f;
}

VideoFormat Rgb565(int w, int h) {
    VideoFormat f{};
    f.width = w, f.height = h, f.aspect = 0x10000;
    DefaultRGB(&f.pixel, 16, 5, 6, 5, 0, 0, 0);
    f.pitch = DefaultPitch(&f);
    return f;
}

// A moving picture: a few frames of noise over gradients.
struct Frames {
    std::vector<std::vector<uint8_t>> data;
    Frames() {
        std::mt19937 rng(5);
        for (int i = 0; i < 4; ++i) {
            std::vector<uint8_t> f(kVideoW * kVideoH * 3 / 2);
            for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint8_t>((k * (i + 1)) / 7 + rng() % 16);
            data.push_back(std::move(f));
        }
    }
    void Planes(int i, void* planes[3], int pitches[3]) {
        uint8_t* d = data[static_cast<size_t>(i) % data.size()].data();
        planes[0] = d, planes[1] = d + kVideoW * kVideoH, planes[2] = d + kVideoW * kVideoH * 5 / 4;
        pitches[0] = kVideoW, pitches[1] = pitches[2] = kVideoW / 2;
    }
};

Overlay* StartOverlay() {
    ThePlugin();
    PVRSim_Reset();
    PVRSim_Set("log", 0);
    VideoFormat screen = Rgb565(kScreenW, kScreenH);
    core::SetDesktop(&screen);
    auto* o = static_cast<Overlay*>(NodeCreate(FOURCC('2', '7', '0', 'G')));
    if (!o) return nullptr;
    VideoFormat v = I420(kVideoW, kVideoH);
    VRect all{0, 0, kScreenW, kScreenH};
    int on = 1;
    if (o->node.setParam(o, OVERLAY_OUTPUT, &v, sizeof(v)) != 0 || o->node.setParam(o, OVERLAY_VIEWPORT, &all, sizeof(all)) != 0 ||
        o->node.setParam(o, OVERLAY_VISIBLE, &on, sizeof(on)) != 0) {
        NodeDelete(o);
        return nullptr;
    }
    PVRSim_FillDesktop(0, 0, kScreenW, kScreenH, 0x2004);
    return o;
}

// A frame into the chip's video memory and onto the overlay (the chip scales it).
void BM_OverlayFrame(benchmark::State& state) {
    Overlay* o = StartOverlay();
    if (!o) {
        state.SkipWithError("no output");
        return;
    }
    Frames frames;
    int i = 0;
    for (auto _ : state) {
        void* planes[3];
        int pitches[3];
        frames.Planes(i++, planes, pitches);
        benchmark::DoNotOptimize(o->blitFrame(o, planes, pitches));
    }
    state.SetItemsProcessed(state.iterations());
    NodeDelete(o);
}
BENCHMARK(BM_OverlayFrame)->Unit(benchmark::kMicrosecond);

// The simulated display's compositing of one screen: what the chip does at every refresh.
void BM_OverlayScanOut(benchmark::State& state) {
    Overlay* o = StartOverlay();
    if (!o) {
        state.SkipWithError("no output");
        return;
    }
    Frames frames;
    void* planes[3];
    int pitches[3];
    frames.Planes(0, planes, pitches);
    o->blitFrame(o, planes, pitches);
    std::vector<uint8_t> rgb(kScreenW * kScreenH * 3);
    for (auto _ : state) benchmark::DoNotOptimize(PVRSim_ScanOut(rgb.data(), kScreenW, kScreenH, 1));
    state.SetItemsProcessed(state.iterations());
    NodeDelete(o);
}
BENCHMARK(BM_OverlayScanOut)->Unit(benchmark::kMillisecond);

// The core's own blitter on the same frames: scaled and converted into the RGB screen.
void BM_CpuBlitter(benchmark::State& state) {
    VideoFormat src = I420(kVideoW, kVideoH), dst = Rgb565(kScreenW, kScreenH);
    void* screen[3];
    SurfaceAlloc(screen, &dst);
    Blitter* b = BlitCreate(&dst, &src, nullptr);
    VRect d{0, 0, kScreenW, kScreenH}, s{0, 0, kVideoW, kVideoH};
    BlitAlign(b, &d, &s);
    Frames frames;
    int i = 0;
    for (auto _ : state) {
        void* planes[3];
        int pitches[3];
        frames.Planes(i++, planes, pitches);
        BlitImage(b, screen, planes, pitches, -1, -1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    BlitRelease(b);
    SurfaceFree(screen);
}
BENCHMARK(BM_CpuBlitter)->Unit(benchmark::kMillisecond);

// Intra blocks through the face into the chip: coefficients per block as the argument.
void BM_IdctBlocks(benchmark::State& state) {
    ThePlugin();
    PVRSim_Reset();
    PVRSim_Set("log", 0);
    auto* o = static_cast<Overlay*>(NodeCreate(FOURCC('2', '7', '0', 'G')));
    if (!o) {
        state.SkipWithError("no output");
        return;
    }
    IdctFace* f = o->idctFace;
    int w = kVideoW, h = kVideoH;
    f->setParam(f, IDCT_WIDTH, &w, sizeof(w));
    f->setParam(f, IDCT_HEIGHT, &h, sizeof(h));
    VideoFormat v = I420(w, h);
    if (f->setParam(f, IDCT_FORMAT, &v, sizeof(v)) != 0) {
        state.SkipWithError("no IDCT output");
        NodeDelete(o);
        return;
    }
    int n = static_cast<int>(state.range(0));
    std::mt19937 rng(9);
    std::vector<std::vector<int16_t>> blocks(64, std::vector<int16_t>(64, 0));
    for (auto& b : blocks)
        for (int k = 0; k < n; ++k) b[static_cast<size_t>(rng() % 64)] = static_cast<int16_t>(static_cast<int>(rng() % 200) - 100);
    int mbw = w / 16, mbh = h / 16;
    int64_t done = 0;
    for (auto _ : state) {
        int previous;
        f->frameStart(f, 1, &previous, 0, -1, -1, 0, 0);
        int k = 0;
        for (int y = 0; y < mbh; ++y)
            for (int x = 0; x < mbw; ++x) {
                f->position(f, x, y);
                for (int b = 0; b < 6; ++b) f->intra(f, blocks[static_cast<size_t>(k++ % 64)].data(), 64, 0);
            }
        f->endChipFrame(f);
        done += mbw * mbh * 6;
    }
    state.SetItemsProcessed(done);
    NodeDelete(o);
}
BENCHMARK(BM_IdctBlocks)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
