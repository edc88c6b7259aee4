// Fonts at a pixel size and their glyph cache (FreeType).
#pragma once

#include "internal.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace platform::gdi {

struct Glyph {
    int advance = 0;  // pixels
    int left = 0;     // from the pen position to the bitmap's left column
    int top = 0;      // from the baseline up to the bitmap's top row
    int width = 0;
    int height = 0;
    std::vector<uint8_t> coverage;  // width x height, 0..255
};

class SizedFont {
public:
    // ascent + descent = cell height
    int ascent = 0;
    int descent = 0;
    int height() const { return ascent + descent; }
    int underlinePos = 1;  // below the baseline
    int underlineThickness = 1;
    bool bold = false;
    int em = 0;
    int faceIndex = 0;

    // The glyph of a character (cached); null only when the font is unusable.
    const Glyph* Get(char32_t c);
    int Advance(char32_t c) {
        const Glyph* g = Get(c);
        return g ? g->advance : 0;
    }

    struct Impl;
    std::shared_ptr<Impl> impl;
    std::unordered_map<char32_t, Glyph> cache;
};

}  // namespace platform::gdi
