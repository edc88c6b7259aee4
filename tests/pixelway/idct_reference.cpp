#include "idct_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ref {

const uint8_t kScan[3][64] = {
    // Zig-zag.
    {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
     41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
     30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63},
    // Alternate-horizontal.
    {0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
     32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
     38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63},
    // Alternate-vertical.
    {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
     4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
     52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63},
};

uint8_t Plane::At(int x, int y) const {
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    return px[static_cast<size_t>(y) * width + x];
}

Frame::Frame(int w, int h) {
    int sizes[3][2] = {{w, h}, {w / 2, h / 2}, {w / 2, h / 2}};
    for (int i = 0; i < 3; ++i) {
        p[i].width = sizes[i][0];
        p[i].height = sizes[i][1];
        p[i].px.assign(static_cast<size_t>(sizes[i][0]) * sizes[i][1], 0);
    }
}

uint32_t Vec(int x, int y) { return (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) | static_cast<uint16_t>(x); }

std::array<int, 64> Idct(const std::array<int16_t, 64>& coef) {
    std::array<int, 64> out{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
                    s += cu * cv / 4.0 * coef[static_cast<size_t>(v * 8 + u)] * std::cos((2 * x + 1) * u * M_PI / 16) *
                         std::cos((2 * y + 1) * v * M_PI / 16);
                }
            out[static_cast<size_t>(y * 8 + x)] = std::clamp(static_cast<int>(std::floor(s + 0.5)), -256, 255);
        }
    return out;
}

namespace {

// The prediction of one pixel at a half-pel vector, with the rounding control bit.
int Sample(const Plane& ref, int x, int y, uint32_t vector, int rounding) {
    int vx = static_cast<int16_t>(vector & 0xFFFF), vy = static_cast<int16_t>(vector >> 16);
    int ix = x + (vx >> 1), iy = y + (vy >> 1);  // arithmetic shift: floor
    bool hx = vx & 1, hy = vy & 1;
    int a = ref.At(ix, iy);
    if (hx && hy) return (a + ref.At(ix + 1, iy) + ref.At(ix, iy + 1) + ref.At(ix + 1, iy + 1) + 2 - rounding) / 4;
    if (hx) return (a + ref.At(ix + 1, iy) + 1 - rounding) / 2;
    if (hy) return (a + ref.At(ix, iy + 1) + 1 - rounding) / 2;
    return a;
}

}  // namespace

Frame Decode(const Picture& pic, const Frame* forward, const Frame* backward, int rounding, int width, int height) {
    Frame out(width, height);
    int perRow = width / 16;
    for (size_t m = 0; m < pic.mbs.size(); ++m) {
        const Macroblock& mb = pic.mbs[m];
        int mx = static_cast<int>(m) % perRow, my = static_cast<int>(m) / perRow;
        for (int b = 0; b < 6; ++b) {
            int plane = b < 4 ? 0 : b - 3;
            int x0 = b < 4 ? mx * 16 + (b & 1) * 8 : mx * 8;
            int y0 = b < 4 ? my * 16 + (b >> 1) * 8 : my * 8;
            std::array<int, 64> res{};
            bool hasF = false, hasB = false;
            uint32_t vf = 0, vb = 0;
            if (mb.kind == Macroblock::Skipped) {
                hasF = !mb.backwardSkip;
                hasB = mb.backwardSkip;
            } else {
                res = Idct(mb.blocks[static_cast<size_t>(b)].coef);
                hasF = mb.kind == Macroblock::Inter && mb.hasForward;
                hasB = mb.kind == Macroblock::Inter && mb.hasBackward;
                vf = mb.forward[static_cast<size_t>(b)];
                vb = mb.backward[static_cast<size_t>(b)];
            }
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    int pred = 0;
                    int pf = hasF ? Sample(forward->p[plane], x0 + i, y0 + j, vf, rounding) : 0;
                    int pb = hasB ? Sample(backward->p[plane], x0 + i, y0 + j, vb, rounding) : 0;
                    if (hasF && hasB) pred = (pf + pb + 1) / 2;
                    else pred = hasF ? pf : pb;
                    out.p[plane](x0 + i, y0 + j) = static_cast<uint8_t>(std::clamp(pred + res[static_cast<size_t>(j * 8 + i)], 0, 255));
                }
        }
    }
    return out;
}

Frame Transposed(const Frame& f) {
    Frame t;
    for (int i = 0; i < 3; ++i) {
        t.p[i].width = f.p[i].height;
        t.p[i].height = f.p[i].width;
        t.p[i].px.resize(f.p[i].px.size());
        for (int y = 0; y < f.p[i].height; ++y)
            for (int x = 0; x < f.p[i].width; ++x) t.p[i](y, x) = f.p[i].At(x, y);
    }
    return t;
}

int MaxDiff(const Frame& a, const Frame& b) {
    int worst = 0;
    for (int i = 0; i < 3; ++i) {
        if (a.p[i].width != b.p[i].width || a.p[i].height != b.p[i].height) return -1;
        for (size_t k = 0; k < a.p[i].px.size(); ++k) worst = std::max(worst, std::abs(a.p[i].px[k] - b.p[i].px[k]));
    }
    return worst;
}

Block RandomBlock(std::mt19937& rng, int scan, int range) {
    Block b;
    b.scan = scan;
    b.count = std::uniform_int_distribution<int>(1, 64)(rng);
    std::uniform_int_distribution<int> level(-range, range);
    std::bernoulli_distribution zero(0.4);
    for (int i = 0; i < b.count; ++i) {
        int v = zero(rng) ? 0 : level(rng);
        if (i == b.count - 1 && v == 0) v = 1;
        b.coef[kScan[scan][i]] = static_cast<int16_t>(v);
    }
    return b;
}

Block DcBlock(int dc) {
    Block b;
    b.coef[0] = static_cast<int16_t>(dc);
    b.count = dc ? 1 : 0;
    return b;
}

}  // namespace ref
