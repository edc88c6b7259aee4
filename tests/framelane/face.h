// The 270I face on the simulated chip: a decoder's side of it, and an independent CPU
// decoder (inverse DCT in double precision, MPEG-4 half-pixel motion compensation) that
// says what the chip must produce.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "helpers.h"

namespace fltest {

struct Vectors {
    int16_t v[6][2];  // luma blocks 0-3 (half pixels), then U and V (half chroma pixels)
};

// One macroblock of a script.
struct Macroblock {
    enum Kind { Intra, OneVector, FourVectors, Skipped } kind = Intra;
    bool forward = false, backward = false;  // which vector sets (inter), or skipped from backward
    Vectors fwd{}, bwd{};
    int16_t coeffs[6][64] = {};  // raster order
    int counts[6] = {};          // coefficients in scan order that the decoder hands over
    int scan = 0;                // intra scan kind
};

// A 4:2:0 picture.
struct Yuv420 {
    int w = 0, h = 0;
    std::vector<uint8_t> p[3];
    Yuv420() = default;
    Yuv420(int width, int height) : w(width), h(height) {
        p[0].assign(static_cast<size_t>(w * h), 0);
        p[1].assign(static_cast<size_t>(w * h / 4), 128);
        p[2].assign(static_cast<size_t>(w * h / 4), 128);
    }
    int W(int plane) const { return plane ? w / 2 : w; }
    int H(int plane) const { return plane ? h / 2 : h; }
    uint8_t& At(int plane, int x, int y) { return p[plane][static_cast<size_t>(y * W(plane) + x)]; }
    int Edge(int plane, int x, int y) const {
        x = std::clamp(x, 0, W(plane) - 1);
        y = std::clamp(y, 0, H(plane) - 1);
        return p[plane][static_cast<size_t>(y * W(plane) + x)];
    }
    bool operator==(const Yuv420& o) const { return w == o.w && h == o.h && p[0] == o.p[0] && p[1] == o.p[1] && p[2] == o.p[2]; }
};

// The inverse DCT of the definition, in double precision.
inline void DoubleIdct(const double in[64], double out[64]) {
    static double c[8][8];
    static bool made = false;
    if (!made) {
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u) c[x][u] = (u ? 0.5 : std::sqrt(0.125)) * std::cos((2 * x + 1) * u * M_PI / 16);
        made = true;
    }
    double tmp[64];
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u) s += c[x][u] * in[v * 8 + u];
            tmp[v * 8 + x] = s;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v) s += c[y][v] * tmp[v * 8 + x];
            out[y * 8 + x] = s;
        }
}

inline void DoubleFdct(const double in[64], double out[64]) {
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    s += in[y * 8 + x] * std::cos((2 * x + 1) * u * M_PI / 16) * std::cos((2 * y + 1) * v * M_PI / 16);
            out[v * 8 + u] = s * (u ? 0.5 : std::sqrt(0.125)) * (v ? 0.5 : std::sqrt(0.125));
        }
}

// The zig-zag scan of MPEG-4 (the decoder's counts run along it).
inline const int* ZigZag() {
    static const int z[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                              41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                              30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    return z;
}

// The alternate scans of MPEG-4 (intra blocks may use them).
inline const int* AlternateHorizontal() {
    static const int s[64] = {0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
                              32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
                              38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};
    return s;
}
inline const int* AlternateVertical() {
    static const int s[64] = {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
                              4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
                              52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};
    return s;
}
inline const int* ScanOf(int kind) { return kind == 1 ? AlternateHorizontal() : kind == 2 ? AlternateVertical() : ZigZag(); }

// A CPU decoder of the scripts.
struct CpuDecoder {
    // Half-pixel prediction of an 8x8 block at (hx, hy), MPEG-4 rounding control.
    static void Predict(const Yuv420& ref, int plane, int hx, int hy, bool roundDown, int out[64]) {
        int x0 = hx >> 1, y0 = hy >> 1, rc = roundDown ? 1 : 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                int a = ref.Edge(plane, x0 + x, y0 + y), b = ref.Edge(plane, x0 + x + 1, y0 + y);
                int c = ref.Edge(plane, x0 + x, y0 + y + 1), d = ref.Edge(plane, x0 + x + 1, y0 + y + 1);
                int v = a;
                if ((hx & 1) && (hy & 1)) v = (a + b + c + d + 2 - rc) / 4;
                else if (hx & 1) v = (a + b + 1 - rc) / 2;
                else if (hy & 1) v = (a + c + 1 - rc) / 2;
                out[y * 8 + x] = v;
            }
    }
    static void Residual(const int16_t* coeffs, int count, double out[64]) {
        double in[64] = {};
        for (int k = 0; k < std::clamp(count, 0, 64); ++k) in[ZigZag()[k]] = coeffs[ZigZag()[k]];
        DoubleIdct(in, out);
    }
    // Decodes one frame of macroblocks (mbw x mbh, row by row) into `out`.
    static void Frame(const std::vector<Macroblock>& mbs, int mbw, const Yuv420* fwd, const Yuv420* bwd, bool roundDown,
                      Yuv420& out) {
        for (size_t i = 0; i < mbs.size(); ++i) {
            const Macroblock& m = mbs[i];
            int mx = static_cast<int>(i) % mbw * 16, my = static_cast<int>(i) / mbw * 16;
            for (int b = 0; b < 6; ++b) {
                int plane = b < 4 ? 0 : b - 3;
                int bx = plane ? mx / 2 : mx + (b & 1) * 8, by = plane ? my / 2 : my + (b >> 1) * 8;
                int pred[64] = {};
                bool predicted = m.kind != Macroblock::Intra;
                if (predicted) {
                    auto one = [&](const Yuv420& ref, const Vectors& v, int out[64]) {
                        int hx, hy;
                        if (m.kind == Macroblock::Skipped) {
                            hx = 2 * bx, hy = 2 * by;
                        } else if (plane) {
                            hx = 2 * bx + v.v[3 + plane][0], hy = 2 * by + v.v[3 + plane][1];
                        } else {
                            int k = m.kind == Macroblock::FourVectors ? b : 0;
                            hx = 2 * bx + v.v[k][0], hy = 2 * by + v.v[k][1];
                        }
                        Predict(ref, plane, hx, hy, roundDown && m.kind != Macroblock::Skipped, out);
                    };
                    bool f = m.kind == Macroblock::Skipped ? !m.backward : m.forward;
                    bool bk = m.backward;
                    int pf[64], pb[64];
                    if (f) one(*fwd, m.fwd, pf);
                    if (bk) one(*bwd, m.bwd, pb);
                    for (int k = 0; k < 64; ++k) pred[k] = f && bk ? (pf[k] + pb[k] + 1) >> 1 : f ? pf[k] : pb[k];
                }
                double res[64] = {};
                if (m.kind != Macroblock::Skipped) Residual(m.coeffs[b], m.counts[b], res);
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        int v = pred[y * 8 + x] + static_cast<int>(std::floor(res[y * 8 + x] + 0.5));
                        out.At(plane, bx + x, by + y) = static_cast<uint8_t>(std::clamp(v, 0, 255));
                    }
            }
        }
    }
};

// The decoder's side: hands a script to the face.
inline void Feed(IdctFace* f, const std::vector<Macroblock>& mbs, int mbw) {
    for (size_t i = 0; i < mbs.size(); ++i) {
        const Macroblock& m = mbs[i];
        int x = static_cast<int>(i) % mbw, y = static_cast<int>(i) / mbw;
        if (m.kind == Macroblock::Skipped) {
            f->skipped(f, x, y, m.backward ? 1 : 0);
            continue;
        }
        f->position(f, x, y);
        if (m.kind == Macroblock::Intra) {
            for (int b = 0; b < 6; ++b) f->intra(f, m.coeffs[b], m.counts[b], m.scan);
            continue;
        }
        auto slot = m.kind == Macroblock::OneVector ? f->vectorA : f->vectorB;
        slot(f, m.forward ? &m.fwd : nullptr, m.backward ? &m.bwd : nullptr);
        for (int b = 0; b < 6; ++b) f->inter(f, m.coeffs[b], m.counts[b]);
    }
}

// Random scripts. Residuals are DC-only steps of 8 (exact in any inverse DCT) unless
// `ac` asks for further coefficients.
struct Scripts {
    std::mt19937 rng;
    explicit Scripts(unsigned seed) : rng(seed) {}
    int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    void Residual(Macroblock& m, int b, bool intra, bool ac) {
        int16_t* c = m.coeffs[b];
        std::fill(c, c + 64, 0);
        c[0] = static_cast<int16_t>(intra ? 8 * Rand(4, 28) : 8 * Rand(-6, 6));
        int last = 1;
        if (ac) {
            for (int k = 1; k < 12; ++k)
                if (Rand(0, 2) == 0) {
                    c[ZigZag()[k]] = static_cast<int16_t>(Rand(-40, 40));
                    last = k + 1;
                }
        }
        m.counts[b] = c[0] || ac ? last : 0;
    }
    Macroblock Intra(bool ac) {
        Macroblock m;
        m.kind = Macroblock::Intra;
        for (int b = 0; b < 6; ++b) Residual(m, b, true, ac);
        return m;
    }
    Vectors RandomVectors(bool halfPel) {
        Vectors v{};
        for (auto& p : v.v) {
            p[0] = static_cast<int16_t>(2 * Rand(-6, 6) + (halfPel ? Rand(0, 1) : 0));
            p[1] = static_cast<int16_t>(2 * Rand(-6, 6) + (halfPel ? Rand(0, 1) : 0));
        }
        return v;
    }
    Macroblock Inter(Macroblock::Kind kind, bool fwd, bool bwd, bool halfPel, bool ac, bool emptyBlocks) {
        Macroblock m;
        m.kind = kind;
        m.forward = fwd, m.backward = bwd;
        m.fwd = RandomVectors(halfPel);
        m.bwd = RandomVectors(halfPel);
        if (kind == Macroblock::OneVector)
            for (int k = 1; k < 4; ++k) m.fwd.v[k][0] = m.fwd.v[k][1] = m.bwd.v[k][0] = m.bwd.v[k][1] = 0;
        for (int b = 0; b < 6; ++b) {
            if (emptyBlocks && Rand(0, 2) == 0) continue;
            Residual(m, b, false, ac);
        }
        return m;
    }
};

}  // namespace fltest
