// Frames through the AHI_ overlay on the simulated chip (800 x 480 screen, 320 x 240 video
// scaled to the screen) beside the core's own CPU blitter on the same frames, and blocks
// through the AHII face.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/common.h"

namespace {

constexpr int kVideoW = 320, kVideoH = 240, kScreenW = 800, kScreenH = 480;
#define AHI_ FOURCC('A', 'H', 'I', '_')

struct Driver {
    int (*set)(const char*, long long) = nullptr;
    int (*screen)(int, int) = nullptr;
    void (*reset)() = nullptr;
};

Driver& Setup() {
    static Driver d = [] {
        Driver s;
        std::string dist = LUMEO_BENCH_DIST_DIR;
        setenv("LUMEO_DLL_PATH", dist.c_str(), 1);
        HMODULE h = LoadModule(L"ACE_DDI.DLL");
        GetProc(&h, &s.set, "AhiSimSet", 0);
        GetProc(&h, &s.screen, "SimChipScreen", 0);
        GetProc(&h, &s.reset, "AhiSimReset", 0);
        void* p = dlopen((dist + "/pixelway.plg").c_str(), RTLD_NOW | RTLD_LOCAL);
        auto reg = p ? reinterpret_cast<int (*)(int)>(dlsym(p, "DLLRegister")) : nullptr;
        if (!h || !reg || reg(CORE_INTERFACE_VERSION) != 0) std::abort();
        return s;
    }();
    d.reset();
    d.set("log", 0);
    d.screen(kScreenW, kScreenH);
    return d;
}

VideoFormat I420(int w, int h) {
    VideoFormat f{};
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    f.pixel = PixelFormat{PF_FOURCC | PF_PLANAR, FOURCC('I', '4', '2', '0'), 8, {}};
    f.pitch = w;
    return f;
}

// Three frames of moving gradients.
std::vector<std::vector<uint8_t>> Frames() {
    std::vector<std::vector<uint8_t>> frames;
    for (int n = 0; n < 3; ++n) {
        std::vector<uint8_t> f(kVideoW * kVideoH * 3 / 2);
        for (int y = 0; y < kVideoH; ++y)
            for (int x = 0; x < kVideoW; ++x) f[static_cast<size_t>(y) * kVideoW + x] = static_cast<uint8_t>(x + y + 20 * n);
        for (size_t i = static_cast<size_t>(kVideoW) * kVideoH; i < f.size(); ++i) f[i] = static_cast<uint8_t>(96 + i % 64);
        frames.push_back(f);
    }
    return frames;
}

int SetInt(Overlay* o, int id, int v) { return o->node.setParam(o, id, &v, sizeof(v)); }

Overlay* Start(bool smooth) {
    auto* o = static_cast<Overlay*>(NodeCreate(AHI_));
    if (!o) return nullptr;
    VideoFormat f = I420(kVideoW, kVideoH);
    VRect v{0, 0, kScreenW, kScreenH};
    VideoEffects fx = o->fx;
    if (smooth) fx.flags |= FX_STRETCH_SMOOTH;
    if (o->node.setParam(o, OVERLAY_OUTPUT, &f, sizeof(f)) || SetInt(o, OVERLAY_FULLYVISIBLE, 1) ||
        o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)) || o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx)) ||
        SetInt(o, OVERLAY_VISIBLE, 1)) {
        NodeDelete(o);
        return nullptr;
    }
    return o;
}

void OverlayFrames(benchmark::State& state, bool smooth) {
    Setup();
    auto frames = Frames();
    Overlay* o = Start(smooth);
    if (!o) {
        state.SkipWithError("the output did not start");
        return;
    }
    size_t n = 0;
    for (auto _ : state) {
        auto& f = frames[n++ % frames.size()];
        Planes planes = {f.data(), f.data() + kVideoW * kVideoH, f.data() + kVideoW * kVideoH * 5 / 4};
        int pitches[3] = {kVideoW, kVideoW / 2, kVideoW / 2};
        if (o->blitFrame(o, planes, pitches) != 0) state.SkipWithError("a frame was refused");
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    NodeDelete(o);
}

void BM_OverlayScaled(benchmark::State& state) { OverlayFrames(state, false); }
void BM_OverlayScaledSmooth(benchmark::State& state) { OverlayFrames(state, true); }

// The core's CPU blitter on the same frames: planar 4:2:0 to RGB 5-6-5, scaled to the screen.
void BM_CoreCpuBlitter(benchmark::State& state) {
    auto frames = Frames();
    VideoFormat src = I420(kVideoW, kVideoH), dst{};
    dst.width = kScreenW;
    dst.height = kScreenH;
    dst.aspect = 0x10000;
    DefaultRGB(&dst.pixel, 16, 5, 6, 5, 0, 0, 0);
    dst.pitch = kScreenW * 2;
    std::vector<uint8_t> screen(static_cast<size_t>(kScreenW) * kScreenH * 2);
    Blitter* b = BlitCreate(&dst, &src, nullptr);
    VRect to{0, 0, kScreenW, kScreenH}, from{0, 0, kVideoW, kVideoH};
    BlitAlign(b, &to, &from);
    size_t n = 0;
    for (auto _ : state) {
        auto& f = frames[n++ % frames.size()];
        Planes in = {f.data(), f.data() + kVideoW * kVideoH, f.data() + kVideoW * kVideoH * 5 / 4};
        Planes out = {screen.data(), nullptr, nullptr};
        int pitches[3] = {kVideoW, kVideoW / 2, kVideoW / 2};
        BlitImage(b, out, in, pitches, -1, -1);
        benchmark::DoNotOptimize(screen.data());
    }
    BlitRelease(b);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Intra blocks with typical coefficient counts through the face, a frame at a time.
void BM_IdctBlocks(benchmark::State& state) {
    Setup();
    auto* o = static_cast<Overlay*>(NodeCreate(AHI_));
    IdctFace* f = o ? o->idctFace : nullptr;
    if (!f) {
        state.SkipWithError("no IDCT face");
        NodeDelete(o);
        return;
    }
    int w = kVideoW, h = kVideoH, count = 3;
    f->setParam(f, IDCT_WIDTH, &w, sizeof(w));
    f->setParam(f, IDCT_HEIGHT, &h, sizeof(h));
    VideoFormat fmt = I420(kVideoW, kVideoH);
    VRect v{0, 0, kScreenW, kScreenH};
    if (f->setParam(f, IDCT_FORMAT, &fmt, sizeof(fmt)) || o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)) ||
        f->setParam(f, IDCT_COUNT, &count, sizeof(count))) {
        state.SkipWithError("the face did not start");
        NodeDelete(o);
        return;
    }
    std::mt19937 rng(1);
    std::vector<std::vector<int16_t>> blocks(64, std::vector<int16_t>(64, 0));
    for (auto& b : blocks) {
        b[0] = static_cast<int16_t>(800 + rng() % 400);
        for (int i = 1; i < 12; ++i) b[static_cast<size_t>(rng() % 20)] = static_cast<int16_t>(static_cast<int>(rng() % 61) - 30);
    }
    int mbw = kVideoW / 16, mbh = kVideoH / 16, frame = 0;
    long long sent = 0;
    for (auto _ : state) {
        int previous;
        ++frame;
        f->frameStart(f, frame, &previous, frame % 3, -1, -1, -1, 1);
        for (int y = 0; y < mbh; ++y)
            for (int x = 0; x < mbw; ++x) {
                f->position(f, x, y);
                f->vectorA(f, nullptr, nullptr);
                for (int k = 0; k < 6; ++k) f->intra(f, blocks[static_cast<size_t>((x + y + k) % 64)].data(), 20, 0);
            }
        f->endChipFrame(f);
        sent += mbw * mbh * 6;
    }
    state.counters["blocks/s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
    NodeDelete(o);
}

BENCHMARK(BM_OverlayScaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverlayScaledSmooth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreCpuBlitter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdctBlocks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
