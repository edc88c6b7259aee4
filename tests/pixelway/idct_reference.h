// A CPU decoder for the tests: what a decoder's IDCT and motion compensation give for a
// frame described block by block, written from the video coding standard (ISO/IEC 14496-2)
// without looking at the plug-in or the simulated chip.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace ref {

struct Plane {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
    uint8_t At(int x, int y) const;  // clamped to the edges
    uint8_t& operator()(int x, int y) { return px[static_cast<size_t>(y) * width + x]; }
    bool operator==(const Plane&) const = default;
};

struct Frame {
    Plane p[3];  // Y, U, V
    Frame() = default;
    Frame(int w, int h);
    bool operator==(const Frame&) const = default;
};

// Scans as raster positions: 0 zig-zag, 1 alternate-horizontal, 2 alternate-vertical.
extern const uint8_t kScan[3][64];

struct Block {
    std::array<int16_t, 64> coef{};  // raster order
    int count = 0;                   // coefficients in scan order the decoder hands over
    int scan = 0;
};

// A vector in half pels: x in the low and y in the high 16 bits.
uint32_t Vec(int x, int y);

struct Macroblock {
    enum Kind { Intra, Inter, Skipped } kind = Intra;
    bool backwardSkip = false;
    bool hasForward = false, hasBackward = false;
    std::array<uint32_t, 6> forward{}, backward{};
    std::array<Block, 6> blocks;
};

struct Picture {
    int target = 0, forward = -1, backward = -1;
    std::vector<Macroblock> mbs;  // raster order
};

// The inverse DCT of a block in double precision, rounded and clamped to -256..255.
std::array<int, 64> Idct(const std::array<int16_t, 64>& coef);

// Decodes a picture from the reference frames. `rounding` is the rounding control bit
// (1: half-pel averages round down).
Frame Decode(const Picture& pic, const Frame* forward, const Frame* backward, int rounding, int width, int height);

// Turns a frame about its main diagonal.
Frame Transposed(const Frame& f);

// Largest difference between two frames of the same size (-1 when the sizes differ).
int MaxDiff(const Frame& a, const Frame& b);

// Random blocks: `count` coefficients in the scan, the last one non-zero, values in
// [-range, range].
Block RandomBlock(std::mt19937& rng, int scan, int range);
// A block of only a DC coefficient.
Block DcBlock(int dc);

}  // namespace ref
