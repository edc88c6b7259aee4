// lumeo-probe's video-output options: the registered classes, frames pushed through an
// overlay class into its simulated chip with a PNG of the screen, and the IEEE 1180 check
// of an overlay's IDCT face.
#include "probe_video.h"

#include <dirent.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/testing.h"

namespace core {
namespace {

// The test interface every simulated chip library exports.
struct SimChip {
    HMODULE module = nullptr;
    int (*screen)(int, int) = nullptr;
    int (*active)() = nullptr;
    int (*desktop)(uint16_t*, int, int) = nullptr;
    int (*scanOut)(uint8_t*, int, int) = nullptr;
    int (*residuals)(int16_t*, int) = nullptr;
};

bool EndsWithDll(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".dll";
}

// The driver libraries where the plug-ins find them: the folders of LUMEO_DLL_PATH, then
// the program folder. Each is loaded by its bare name, so that it is the very library the
// plug-in gets.
std::vector<SimChip> FindSimChips(const std::string& programFolder) {
    std::vector<std::string> folders;
    if (const char* env = std::getenv("LUMEO_DLL_PATH")) {
        std::string list = env;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) folders.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    folders.push_back(programFolder);
    std::vector<std::string> names;
    for (const std::string& folder : folders) {
        DIR* d = opendir(folder.c_str());
        if (!d) continue;
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (!EndsWithDll(n)) continue;
            bool seen = false;
            for (const std::string& m : names) seen = seen || strcasecmp(m.c_str(), n.c_str()) == 0;
            if (!seen) names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<SimChip> chips;
    for (const std::string& n : names) {
        SimChip c;
        std::wstring wide(n.begin(), n.end());
        c.module = LoadModule(wide.c_str());
        GetProc(&c.module, &c.screen, "SimChipScreen", 0);
        GetProc(&c.module, &c.active, "SimChipActive", 0);
        GetProc(&c.module, &c.desktop, "SimChipDesktop", 0);
        GetProc(&c.module, &c.scanOut, "SimChipScanOut", 0);
        GetProc(&c.module, &c.residuals, "SimChipResiduals", 0);
        if (c.module) chips.push_back(c);
    }
    return chips;
}

const SimChip* ActiveChip(const std::vector<SimChip>& chips) {
    for (const SimChip& c : chips)
        if (c.active()) return &c;
    return nullptr;
}

bool ParseSize(const std::string& s, int* w, int* h) {
    return std::sscanf(s.c_str(), "%dx%d", w, h) == 2 && *w > 0 && *h > 0 && *w <= 4096 && *h <= 4096;
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

VideoFormat Rgb565(int w, int h) {
    VideoFormat f{};
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    DefaultRGB(&f.pixel, 16, 5, 6, 5, 0, 0, 0);
    f.pitch = w * 2;
    return f;
}

int Fail(int code, const char* text) {
    std::printf("error %d %s\n", code, text);
    return 1;
}

fourcc_t ClassId(const std::string& s) {
    std::string t = s;
    while (t.size() < 4) t += ' ';
    return FOURCC(t[0], t[1], t[2], t[3]);
}

bool WritePng(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), w * 3, nullptr) != 0;
}

int SetInt(void* object, int id, int value) {
    return static_cast<Node*>(object)->setParam(object, id, &value, sizeof(value));
}

// A desktop to show the output on: 16-pixel squares of two greys.
void PaintDesktop(const SimChip& c, int w, int h) {
    std::vector<uint16_t> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[static_cast<size_t>(y) * w + x] = ((x / 16 + y / 16) & 1) ? kDesktopDark : kDesktopLight;
    c.desktop(px.data(), w, 1);
}

// What the window system does for a keyed overlay: the viewport painted in the key colour.
void PaintKey(const SimChip& c, const Overlay* o, int w, int h) {
    if (o->colorKey == COLORKEY_NONE) return;
    std::vector<uint16_t> px(static_cast<size_t>(w) * h);
    c.desktop(px.data(), w, 0);
    VRect r;
    VirtToPhy(&o->viewport, &r, &o->screen);
    auto key = static_cast<uint16_t>(RGBToFormat(o->colorKey, &o->screen));
    for (int y = std::max(0, r.y); y < std::min(h, r.y + r.height); ++y)
        for (int x = std::max(0, r.x); x < std::min(w, r.x + r.width); ++x) px[static_cast<size_t>(y) * w + x] = key;
    c.desktop(px.data(), w, 1);
}

// --- IEEE 1180 ---

// The standard's generator: uniform integers in [-low, high].
struct Random {
    uint32_t x = 1;
    int Next(int low, int high) {
        x = x * 1103515245u + 12345u;
        double v = static_cast<double>(x & 0x7FFFFFFEu) / 2147483647.0;
        v *= low + high + 1;
        return static_cast<int>(v) - low;
    }
};

double Basis(int k, int n) {
    static const auto table = [] {
        std::vector<double> t(64);
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                t[static_cast<size_t>(u * 8 + x)] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16.0);
        return t;
    }();
    return table[static_cast<size_t>(k * 8 + n)];
}

// Separable transforms in double precision: rows, then columns.
void ForwardDct(const int in[64], int out[64]) {
    double rows[64];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int x = 0; x < 8; ++x) s += Basis(u, x) * in[y * 8 + x];
            rows[y * 8 + u] = s;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y) s += Basis(v, y) * rows[y * 8 + u];
            out[v * 8 + u] = std::clamp(static_cast<int>(std::floor(s + 0.5)), -2048, 2047);
        }
}

void ReferenceIdct(const int in[64], int out[64]) {
    double rows[64];
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u) s += Basis(u, x) * in[v * 8 + u];
            rows[v * 8 + x] = s;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v) s += Basis(v, y) * rows[v * 8 + x];
            out[y * 8 + x] = std::clamp(static_cast<int>(std::floor(s + 0.5)), -256, 255);
        }
}

constexpr int kIdctWidth = 176, kIdctHeight = 144;
constexpr int kBlocksPerRun = 10000;

struct IdctRun {
    IdctFace* face;
    const SimChip* chip;
    int frame = 0;
};

// Decodes the blocks as intra blocks of whole frames; the chip's residuals, in order.
bool DecodeBlocks(IdctRun& run, const std::vector<std::vector<int16_t>>& blocks, std::vector<int16_t>* out) {
    int perRow = kIdctWidth / 16, rows = kIdctHeight / 16;
    size_t at = 0;
    out->clear();
    while (at < blocks.size()) {
        int previous = 0;
        if (run.face->frameStart(run.face, run.frame++, &previous, 0, -1, -1, -1, 1) != 0) return false;
        size_t first = at;
        for (int mb = 0; mb < perRow * rows && at < blocks.size(); ++mb) {
            run.face->position(run.face, mb % perRow, mb / perRow);
            run.face->vectorA(run.face, nullptr, nullptr);
            for (int b = 0; b < 6; ++b) {
                static const std::vector<int16_t> kZero(64, 0);
                const std::vector<int16_t>& block = at < blocks.size() ? blocks[at] : kZero;
                run.face->intra(run.face, block.data(), 64, 0);
                ++at;
            }
        }
        if (run.face->endChipFrame(run.face) != 0) return false;
        int n = static_cast<int>(std::min(at, blocks.size()) - first);
        std::vector<int16_t> got(static_cast<size_t>(n) * 64);
        if (run.chip->residuals(got.data(), n) < n) return false;
        out->insert(out->end(), got.begin(), got.end());
    }
    return true;
}

// One range and sign: true when within the standard's bounds.
bool CheckRange(IdctRun& run, int low, int high, int sign, bool* failed) {
    Random rnd;
    std::vector<std::vector<int16_t>> coefs;
    std::vector<std::vector<int>> refs;
    for (int i = 0; i < kBlocksPerRun; ++i) {
        int in[64], c[64], r[64];
        for (int k = 0; k < 64; ++k) in[k] = sign * rnd.Next(low, high);
        ForwardDct(in, c);
        ReferenceIdct(c, r);
        coefs.emplace_back(c, c + 64);
        refs.emplace_back(r, r + 64);
    }
    std::vector<int16_t> got;
    if (!DecodeBlocks(run, coefs, &got)) {
        *failed = true;
        std::printf("range %d %d %c decode failed\n", -low, high, sign > 0 ? '+' : '-');
        return false;
    }
    double sumErr[64] = {}, sumSq[64] = {};
    int peak = 0;
    for (int i = 0; i < kBlocksPerRun; ++i)
        for (int k = 0; k < 64; ++k) {
            int e = got[static_cast<size_t>(i) * 64 + k] - refs[static_cast<size_t>(i)][static_cast<size_t>(k)];
            peak = std::max(peak, std::abs(e));
            sumErr[k] += e;
            sumSq[k] += static_cast<double>(e) * e;
        }
    double pmse = 0, pme = 0, omse = 0, ome = 0;
    for (int k = 0; k < 64; ++k) {
        pmse = std::max(pmse, sumSq[k] / kBlocksPerRun);
        pme = std::max(pme, std::fabs(sumErr[k] / kBlocksPerRun));
        omse += sumSq[k];
        ome += sumErr[k];
    }
    omse /= 64.0 * kBlocksPerRun;
    ome = std::fabs(ome / (64.0 * kBlocksPerRun));
    bool ok = peak <= 1 && pmse <= 0.06 && omse <= 0.02 && pme <= 0.015 && ome <= 0.0015;
    std::printf("range %d %d %c peak=%d pmse=%.4f omse=%.4f pme=%.4f ome=%.5f %s\n", -low, high, sign > 0 ? '+' : '-',
                peak, pmse, omse, pme, ome, ok ? "ok" : "out of bounds");
    return ok;
}

}  // namespace

int ProbeClasses() {
    std::vector<const NodeClassDef*> defs(256);
    int n = std::min(NodeEnumRegistered(defs.data(), 256), 256);
    for (int i = 0; i < n; ++i)
        std::printf("class %s parent=%s priority=%d\n", FourCCText(defs[i]->classId).c_str(),
                    FourCCText(defs[i]->parentId).c_str(), defs[i]->priority);
    return 0;
}

int ProbeVideoOut(const VideoOutOptions& opt, const std::string& programFolder) {
    int vw, vh, sw = 240, sh = 320;
    if (!ParseSize(opt.size, &vw, &vh)) return Fail(ERR_INVALID_PARAM, "bad --size");
    if (!opt.screen.empty() && !ParseSize(opt.screen, &sw, &sh)) return Fail(ERR_INVALID_PARAM, "bad --screen");
    VRect rect{0, 0, sw, sh};
    if (!opt.rect.empty() &&
        (std::sscanf(opt.rect.c_str(), "%d,%d,%d,%d", &rect.x, &rect.y, &rect.width, &rect.height) != 4 ||
         rect.width <= 0 || rect.height <= 0))
        return Fail(ERR_INVALID_PARAM, "bad --rect");
    if (opt.direction < 0 || opt.direction > 7) return Fail(ERR_INVALID_PARAM, "bad --direction");
    FILE* in = std::fopen(opt.yuv.c_str(), "rb");
    if (!in) return Fail(ERR_OPEN_FAILED, "cannot open the YUV file");
    std::vector<SimChip> chips = FindSimChips(programFolder);
    if (chips.empty()) {
        std::fclose(in);
        return Fail(ERR_NOT_SUPPORTED, "no simulated chip library");
    }
    for (const SimChip& c : chips) {
        c.screen(sw, sh);
        PaintDesktop(c, sw, sh);
    }
    VideoFormat desk = Rgb565(sw, sh);
    SetDesktop(&desk);

    fourcc_t cls = ClassId(opt.cls);
    if (!NodeIsClass(cls, OVERLAY_CLASS) || cls == OVERLAY_CLASS) {
        std::fclose(in);
        return Fail(ERR_INVALID_PARAM, "not an overlay class");
    }
    auto* o = static_cast<Overlay*>(NodeCreate(cls));
    if (!o) {
        std::fclose(in);
        return Fail(ERR_NOT_SUPPORTED, "the class refused the object");
    }
    VideoFormat format = I420(vw, vh);
    int r = o->node.setParam(o, OVERLAY_OUTPUT, &format, sizeof(format));
    if (r == 0) r = SetInt(o, OVERLAY_FULLYVISIBLE, 1);
    if (r == 0) r = o->node.setParam(o, OVERLAY_VIEWPORT, &rect, sizeof(rect));
    if (r == 0) {
        VideoEffects fx = o->fx;
        fx.direction = opt.direction;
        r = o->node.setParam(o, OVERLAY_EFFECTS, &fx, sizeof(fx));
    }
    if (r == 0) r = SetInt(o, OVERLAY_VISIBLE, 1);
    const SimChip* chip = ActiveChip(chips);
    if (r != 0 || !chip) {
        NodeDelete(o);
        std::fclose(in);
        return Fail(r ? r : ERR_DEVICE_ERROR, "the output did not start");
    }
    PaintKey(*chip, o, sw, sh);

    int cw = (vw + 1) / 2, ch = (vh + 1) / 2;
    size_t frameBytes = static_cast<size_t>(vw) * vh + 2 * static_cast<size_t>(cw) * ch;
    std::vector<uint8_t> frame(frameBytes);
    int frames = 0;
    while (std::fread(frame.data(), 1, frameBytes, in) == frameBytes) {
        Planes planes = {frame.data(), frame.data() + static_cast<size_t>(vw) * vh,
                         frame.data() + static_cast<size_t>(vw) * vh + static_cast<size_t>(cw) * ch};
        int pitches[3] = {vw, cw, cw};
        r = o->blitFrame ? o->blitFrame(o, planes, pitches) : ERR_NOT_SUPPORTED;
        if (r != 0) break;
        ++frames;
    }
    std::fclose(in);
    if (r == 0 && frames == 0) r = ERR_END_OF_FILE;
    std::vector<uint8_t> rgb(static_cast<size_t>(sw) * sh * 3);
    if (r == 0 && chip->scanOut(rgb.data(), sw, sh) != 0) r = ERR_DEVICE_ERROR;
    NodeDelete(o);
    SetDesktop(nullptr);
    if (r != 0) return Fail(r, frames ? "a frame was refused" : "no frame shown");
    if (!WritePng(opt.shot, rgb, sw, sh)) return Fail(ERR_OPEN_FAILED, "cannot write the PNG");
    std::printf("shot %s %dx%d frames=%d\n", opt.shot.c_str(), sw, sh, frames);
    return 0;
}

int ProbeIdctCheck(const std::string& clsText, const std::string& programFolder) {
    std::vector<SimChip> chips = FindSimChips(programFolder);
    if (chips.empty()) return Fail(ERR_NOT_SUPPORTED, "no simulated chip library");
    fourcc_t cls = ClassId(clsText);
    if (!NodeIsClass(cls, OVERLAY_CLASS) || cls == OVERLAY_CLASS) return Fail(ERR_INVALID_PARAM, "not an overlay class");
    auto* o = static_cast<Overlay*>(NodeCreate(cls));
    if (!o) return Fail(ERR_NOT_SUPPORTED, "the class refused the object");
    IdctFace* face = o->idctFace;
    bool failed = false;
    if (!face) {
        NodeDelete(o);
        std::printf("error %d no IDCT face\nidct %s fail\n", ERR_NOT_SUPPORTED, FourCCText(cls).c_str());
        return 1;
    }
    VideoFormat format = I420(kIdctWidth, kIdctHeight);
    int r = SetInt(face, IDCT_WIDTH, kIdctWidth);
    if (r == 0) r = SetInt(face, IDCT_HEIGHT, kIdctHeight);
    if (r == 0) r = face->setParam(face, IDCT_FORMAT, &format, sizeof(format));
    if (r == 0) r = SetInt(face, IDCT_COUNT, 2);
    const SimChip* chip = ActiveChip(chips);
    if (r != 0 || !chip) {
        NodeDelete(o);
        std::printf("error %d the IDCT face did not start\nidct %s fail\n", r ? r : ERR_DEVICE_ERROR,
                    FourCCText(cls).c_str());
        return 1;
    }
    IdctRun run{face, chip};
    // All-zero coefficients give all-zero residuals.
    std::vector<int16_t> zeros;
    if (!DecodeBlocks(run, {std::vector<int16_t>(64, 0)}, &zeros) ||
        std::any_of(zeros.begin(), zeros.end(), [](int16_t v) { return v != 0; })) {
        std::printf("zero block gives a non-zero residual\n");
        failed = true;
    }
    struct Range {
        int low, high;
    } ranges[] = {{256, 255}, {5, 5}, {300, 300}};
    for (const Range& range : ranges)
        for (int sign : {1, -1})
            if (!CheckRange(run, range.low, range.high, sign, &failed)) failed = true;
    NodeDelete(o);
    std::printf("idct %s %s\n", FourCCText(cls).c_str(), failed ? "fail" : "pass");
    return failed ? 1 : 0;
}

}  // namespace core
