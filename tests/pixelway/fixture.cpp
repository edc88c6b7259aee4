#include "fixture.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Dist() { return LUMEO_TEST_DIST_DIR; }

template <typename T>
void Look(void* h, T* slot, const char* name) {
    *slot = reinterpret_cast<T>(dlsym(h, name));
    if (!*slot) {
        std::fprintf(stderr, "ACE_DDI.DLL has no %s\n", name);
        std::abort();
    }
}

}  // namespace

SimAti& Sim() {
    static SimAti sim = [] {
        setenv("LUMEO_DLL_PATH", Dist().c_str(), 1);
        // A registry of this process's own.
        static char dir[] = "/tmp/lumeo-pixelway-XXXXXX";
        if (mkdtemp(dir)) {
            setenv("LUMEO_REGISTRY_FILE", (std::string(dir) + "/registry.db").c_str(), 1);
            std::atexit([] { std::system((std::string("rm -rf ") + dir).c_str()); });
        }
        SimAti s{};
        std::wstring name = L"ACE_DDI.DLL";
        HMODULE h = LoadModule(name.c_str());
        if (!h) {
            std::fprintf(stderr, "cannot load ACE_DDI.DLL from %s\n", Dist().c_str());
            std::abort();
        }
        s.module = h;
        Look(h, &s.Reset, "AhiSimReset");
        Look(h, &s.Set, "AhiSimSet");
        Look(h, &s.SetText, "AhiSimSetText");
        Look(h, &s.Get, "AhiSimGet");
        Look(h, &s.CallLog, "AhiSimCallLog");
        Look(h, &s.ClearLog, "AhiSimClearLog");
        Look(h, &s.SurfRead, "AhiSimSurfRead");
        Look(h, &s.SurfWrite, "AhiSimSurfWrite");
        Look(h, &s.Overlay, "AhiSimOverlay");
        Look(h, &s.Screen, "SimChipScreen");
        Look(h, &s.Active, "SimChipActive");
        Look(h, &s.Desktop, "SimChipDesktop");
        Look(h, &s.ScanOut, "SimChipScanOut");
        Look(h, &s.Residuals, "SimChipResiduals");
        Look(h, &s.LastGroups, "AhiSimLastGroups");
        return s;
    }();
    return sim;
}

std::string SimAti::Log() const {
    int n = CallLog(nullptr, 0);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    CallLog(s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

std::vector<std::string> SimAti::Calls(const std::string& prefix) const {
    std::vector<std::string> out;
    std::istringstream in(Log());
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}

std::vector<uint8_t> SimAti::Screenshot() const {
    std::vector<uint8_t> rgb(static_cast<size_t>(Width()) * Height() * 3);
    EXPECT_EQ(ScanOut(rgb.data(), Width(), Height()), 0);
    return rgb;
}

std::vector<uint16_t> SimAti::DesktopPixels() const {
    std::vector<uint16_t> px(static_cast<size_t>(Width()) * Height());
    EXPECT_EQ(Desktop(px.data(), Width(), 0), 0);
    return px;
}

PixelwayEntries Pixelway() {
    static PixelwayEntries entries = [] {
        PixelwayEntries e{};
        void* h = dlopen((Dist() + "/pixelway.plg").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) return e;
        e.registerFn = reinterpret_cast<int (*)(int)>(dlsym(h, "DLLRegister"));
        e.unregisterFn = reinterpret_cast<int (*)()>(dlsym(h, "DLLUnRegister"));
        return e;
    }();
    return entries;
}

void LoadPixelway() {
    static bool loaded = [] {
        Sim();
        PixelwayEntries e = Pixelway();
        return e.registerFn && e.unregisterFn && e.registerFn(CORE_INTERFACE_VERSION) == 0;
    }();
    ASSERT_TRUE(loaded);
}

VideoFormat I420(int w, int h, int direction) {
    VideoFormat f{};
    f.direction = direction;
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    f.pixel = PixelFormat{PF_FOURCC | PF_PLANAR, FOURCC('I', '4', '2', '0'), 8, {}};
    f.pitch = w;
    return f;
}

void AhiTest::SetUpTestSuite() { LoadPixelway(); }

void AhiTest::SetUp() {
    Sim().Reset();
    core::ClearShownErrors();
    core::ClearVideoLogs();
}

void AhiTest::TearDown() {
    NodeDelete(o);
    o = nullptr;
    // Whatever a test did, the chip never decoded into or showed against the surface on screen.
    EXPECT_EQ(Sim().Get("screen_faults"), 0) << Sim().Log();
}

void AhiTest::Create() {
    o = static_cast<Overlay*>(NodeCreate(AHI_));
    ASSERT_NE(o, nullptr);
}

int AhiTest::SetInt(int id, int value) { return o->node.setParam(o, id, &value, sizeof(value)); }
int AhiTest::GetInt(int id, int* value) { return o->node.getParam(o, id, value, sizeof(*value)); }

int AhiTest::Start(int w, int h, VRect viewport, int direction) {
    VideoFormat f = I420(w, h);
    int r = o->node.setParam(o, OVERLAY_OUTPUT, &f, sizeof(f));
    if (r == 0) r = SetInt(OVERLAY_FULLYVISIBLE, 1);
    if (r == 0) r = o->node.setParam(o, OVERLAY_VIEWPORT, &viewport, sizeof(viewport));
    if (r == 0) {
        VideoEffects fx = o->fx;
        fx.direction = direction;
        r = o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx));
    }
    if (r == 0) r = SetInt(OVERLAY_VISIBLE, 1);
    return r;
}

int AhiTest::Blit(const std::vector<uint8_t>& f, int w, int h) {
    int cw = (w + 1) / 2, ch = (h + 1) / 2;
    auto* base = const_cast<uint8_t*>(f.data());
    Planes planes = {base, base + w * h, base + w * h + cw * ch};
    int pitches[3] = {w, cw, cw};
    return o->blitFrame ? o->blitFrame(o, planes, pitches) : ERR_NOT_SUPPORTED;
}

void AhiTest::PaintKey() {
    if (o->colorKey == COLORKEY_NONE) return;
    std::vector<uint16_t> px = Sim().DesktopPixels();
    int w = Sim().Width(), h = Sim().Height();
    auto key = static_cast<uint16_t>(RGBToFormat(o->colorKey, &o->screen));
    const VRect& v = o->viewport;
    for (int y = std::max(0, v.y); y < std::min(h, v.y + v.height); ++y)
        for (int x = std::max(0, v.x); x < std::min(w, v.x + v.width); ++x) px[static_cast<size_t>(y) * w + x] = key;
    Sim().Desktop(px.data(), w, 1);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * a.size() / se);
}
