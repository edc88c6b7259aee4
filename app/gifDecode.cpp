// The GIF block parser and LZW decoder. Files come from anywhere, so every count in them is
// checked against the bytes that are there, and every loop is bounded by the data or the
// frame's pixels.
#include <cstring>

#include "gif.h"
#include "platform/image.h"
#include "platform/surface.h"

namespace {

const int kPassStart[4] = {0, 4, 2, 1};
const int kPassStep[4] = {8, 8, 4, 2};

int NextByte(GifPlayer* g) {
    if (g->readPos >= g->data.size()) return -1;
    g->consumed++;
    return g->data[g->readPos++];
}

// Moves on `n` bytes; false when the data ends first.
bool Skip(GifPlayer* g, size_t n) {
    if (g->data.size() - g->readPos < n) {
        g->consumed += static_cast<int32_t>(g->data.size() - g->readPos);
        g->readPos = g->data.size();
        return false;
    }
    g->readPos += n;
    g->consumed += static_cast<int32_t>(n);
    return true;
}

// Skips data sub-blocks up to and with their terminator; false when the data ends first.
bool SkipSubBlocks(GifPlayer* g) {
    for (;;) {
        int n = NextByte(g);
        if (n < 0) return false;
        if (n == 0) return true;
        if (!Skip(g, static_cast<size_t>(n))) return false;
    }
}

void Rewind(GifPlayer* g) {
    g->readPos = 0;
    g->consumed = 0;
}

// A graphic control extension governs the one image after it.
void ClearControl(GifPlayer* g) {
    g->disposal = 0;
    g->transparent = 0;
    g->transparentIndex = 0;
    g->delay = 0;
}

int Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// ---- LZW over the image's data sub-blocks ----

int NextDataByte(GifPlayer* g) {
    GifPlayer::Lzw& L = *g->lzw;
    if (L.blocksEnded) return -1;
    while (L.blockLeft == 0) {
        int n = NextByte(g);
        if (n <= 0) {
            L.blocksEnded = true;
            return -1;
        }
        L.blockLeft = n;
    }
    int b = NextByte(g);
    if (b < 0) {
        L.blocksEnded = true;
        return -1;
    }
    L.blockLeft--;
    return b;
}

bool ReadCode(GifPlayer* g, int* code) {
    GifPlayer::Lzw& L = *g->lzw;
    while (L.bitCount < L.codeWidth) {
        int b = NextDataByte(g);
        if (b < 0) return false;
        L.bits |= static_cast<uint32_t>(b) << L.bitCount;
        L.bitCount += 8;
    }
    *code = static_cast<int>(L.bits & ((1u << L.codeWidth) - 1));
    L.bits >>= L.codeWidth;
    L.bitCount -= L.codeWidth;
    return true;
}

// Whatever is left of the image's sub-blocks.
void SkipImageRest(GifPlayer* g) {
    GifPlayer::Lzw& L = *g->lzw;
    if (L.blocksEnded) return;
    if (Skip(g, static_cast<size_t>(L.blockLeft))) SkipSubBlocks(g);
    L.blockLeft = 0;
    L.blocksEnded = true;
}

void PutPixels(GifPlayer* g, const uint8_t* p, int n, bool interlaced) {
    GifPlayer::Lzw& L = *g->lzw;
    for (int i = 0; i < n && L.pixelsLeft > 0; ++i) {
        if (L.row < g->frameHeight)
            g->framePixels[static_cast<size_t>(L.row) * g->rowStride + L.column] = p[i];
        L.pixelsLeft--;
        if (++L.column < g->frameWidth) continue;
        L.column = 0;
        if (!interlaced) {
            L.row++;
            continue;
        }
        L.row += kPassStep[L.pass];
        while (L.row >= g->frameHeight && L.pass < 3) L.row = kPassStart[++L.pass];
    }
}

// Decodes the image's LZW data into framePixels. False for a broken stream; data that
// ends before the end code ends the image there.
bool DecodeLzw(GifPlayer* g, int minCodeSize, bool interlaced) {
    GifPlayer::Lzw& L = *g->lzw;
    const int clear = 1 << minCodeSize, end = clear + 1;
    for (int i = 0; i < clear; ++i) {
        L.suffix[i] = static_cast<uint16_t>(i);
        L.prefix[i] = 0;
        L.length[i] = 1;
    }
    L.initialWidth = minCodeSize + 1;
    L.codeWidth = L.initialWidth;
    int next = clear + 2;
    int prev = -1;
    while (L.pixelsLeft > 0) {
        int code;
        if (!ReadCode(g, &code)) return true;
        if (code == clear) {
            L.codeWidth = L.initialWidth;
            next = clear + 2;
            prev = -1;
            continue;
        }
        if (code == end) return true;
        if (prev < 0) {
            // After a clear only a single colour index can come.
            if (code > clear) return false;
            uint8_t b = static_cast<uint8_t>(code);
            PutPixels(g, &b, 1, interlaced);
            prev = code;
            continue;
        }
        int string;  // the code whose string is output, then `extra` once more when >= 0
        int extra = -1;
        if (code < next) {
            string = code;
        } else if (code == next && next < GIF_MAX_CODES) {
            string = prev;  // the string of prev followed by its own first byte
        } else {
            return false;  // beyond the next free code
        }
        int n = L.length[string];
        int c = string;
        for (int i = n - 1; i >= 0; --i) {
            if (c >= clear && L.prefix[c] >= c) return false;
            L.stack[i] = static_cast<uint8_t>(L.suffix[c]);
            c = L.prefix[c];
        }
        if (string != code) extra = L.stack[0];
        PutPixels(g, L.stack, n, interlaced);
        if (extra >= 0) {
            uint8_t b = static_cast<uint8_t>(extra);
            PutPixels(g, &b, 1, interlaced);
        }
        // The table stops growing when full; codes then stay 12 bits until a clear.
        if (next < GIF_MAX_CODES) {
            L.prefix[next] = static_cast<uint16_t>(prev);
            L.suffix[next] = L.stack[0];
            L.length[next] = static_cast<uint16_t>(L.length[prev] + 1);
            ++next;
            if (next == (1 << L.codeWidth) && L.codeWidth < 12) L.codeWidth++;
        }
        prev = code;
    }
    return true;
}

COLORREF EntryColour(const RGBQUAD& q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue); }

// A colour that no entry but `index` has: the entry's own when it is unique.
COLORREF UniqueColour(const RGBQUAD* colours, int index) {
    COLORREF candidate = EntryColour(colours[index]);
    for (uint32_t step = 0;; ++step) {
        bool used = false;
        for (int i = 0; i < 256 && !used; ++i) used = i != index && EntryColour(colours[i]) == candidate;
        if (!used) return candidate;
        // 256 entries cannot cover all of these.
        candidate = RGB(0xFF - (step & 0xFF), 0x01 + (step >> 8), 0xFE);
    }
}

// The image after an image descriptor: 1 with the frame decoded, 0 for a broken or
// refused one (the parser then stands after its data).
int DecodeGifImage(GifPlayer* g) {
    uint8_t d[9];
    for (uint8_t& b : d) {
        int v = NextByte(g);
        if (v < 0) return 0;
        b = static_cast<uint8_t>(v);
    }
    g->frameLeft = Le16(d);
    g->frameTop = Le16(d + 2);
    g->frameWidth = Le16(d + 4);
    g->frameHeight = Le16(d + 6);
    const int packed = d[8];
    g->rowStride = g->frameWidth > 0 ? ((g->frameWidth - 1) | 3) + 1 : 0;
    const int disposal = g->disposal, transparent = g->transparent, transparentIndex = g->transparentIndex,
              delay = g->delay;
    ClearControl(g);

    std::memset(&g->frameInfo, 0, sizeof g->frameInfo);
    int count = 0;
    if (packed & 0x80) {
        count = 2 << (packed & 7);
        if (g->data.size() - g->readPos < static_cast<size_t>(count) * 3) {
            Skip(g, g->data.size() - g->readPos);
            return 0;
        }
        const uint8_t* p = g->data.data() + g->readPos;
        for (int i = 0; i < count; ++i)
            g->frameInfo.colours[i] = RGBQUAD{p[3 * i + 2], p[3 * i + 1], p[3 * i], 0};
        Skip(g, static_cast<size_t>(count) * 3);
    } else {
        count = g->globalColourCount;
        const uint8_t* p = g->globalColours.data();
        for (int i = 0; i < count; ++i)
            g->frameInfo.colours[i] = RGBQUAD{p[3 * i + 2], p[3 * i + 1], p[3 * i], 0};
    }
    g->frameColourCount = count;

    const int minCodeSize = NextByte(g);
    if (minCodeSize < 0) return 0;
    // Frames must lie on the logical screen, which LoadGif has bounded.
    const bool fits = g->frameWidth > 0 && g->frameHeight > 0 && g->frameLeft + g->frameWidth <= g->screenWidth &&
                      g->frameTop + g->frameHeight <= g->screenHeight;
    if (!fits || minCodeSize < 2 || minCodeSize > 8) {
        SkipSubBlocks(g);
        return 0;
    }

    // A transparent index the table does not have means no transparency.
    g->frameTransparent = transparent && transparentIndex < count ? 1 : 0;
    g->frameTransparentIndex = transparentIndex;
    g->frameDisposal = disposal;
    g->frameDelay = delay;
    g->framePixels.assign(static_cast<size_t>(g->rowStride) * g->frameHeight,
                          static_cast<uint8_t>(g->frameTransparent ? transparentIndex : 0));
    if (!g->lzw) g->lzw = std::make_unique<GifPlayer::Lzw>();
    GifPlayer::Lzw& L = *g->lzw;
    L.bits = 0;
    L.bitCount = 0;
    L.blockLeft = 0;
    L.blocksEnded = false;
    L.row = 0;
    L.column = 0;
    L.pass = 0;
    L.pixelsLeft = static_cast<int64_t>(g->frameWidth) * g->frameHeight;
    const bool ok = DecodeLzw(g, minCodeSize, (packed & 0x40) != 0);
    SkipImageRest(g);
    if (!ok) return 0;

    BITMAPINFOHEADER& h = g->frameInfo.header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = g->frameWidth;
    h.biHeight = -g->frameHeight;
    h.biPlanes = 1;
    h.biBitCount = 8;
    h.biClrUsed = 256;
    h.biClrImportant = 256;
    if (g->frameTransparent) {
        g->transparentColour = UniqueColour(g->frameInfo.colours, transparentIndex);
        RGBQUAD& q = g->frameInfo.colours[transparentIndex];
        q = RGBQUAD{GetBValue(g->transparentColour), GetGValue(g->transparentColour), GetRValue(g->transparentColour), 0};
    }
    return 1;
}

}  // namespace

int LoadGifData(GifPlayer* gif, const uint8_t* bytes, size_t size) {
    StopGif(gif);
    platform::CsLock lock(&gif->lock);
    gif->globalColours.clear();
    gif->globalColourCount = 0;
    gif->data.clear();
    gif->dataSize = 0;
    gif->readPos = 0;
    gif->consumed = 0;
    gif->screenWidth = gif->screenHeight = 0;
    ClearControl(gif);
    if (gif->canvas) {
        DeleteObject(gif->canvas);
        gif->canvas = nullptr;
    }
    if (!bytes || size < 13) return 0;
    if (std::memcmp(bytes, "GIF8", 4) != 0 || (bytes[4] != '7' && bytes[4] != '9') || bytes[5] != 'a') return 0;
    const int w = Le16(bytes + 6), h = Le16(bytes + 8), packed = bytes[10];
    if (w == 0 || h == 0 || static_cast<int64_t>(w) * h > GIF_MAX_PIXELS) return 0;
    size_t at = 13;
    if (packed & 0x80) {
        const int count = 2 << (packed & 7);
        if (size - at < static_cast<size_t>(count) * 3) return 0;
        gif->globalColours.assign(bytes + at, bytes + at + count * 3);
        gif->globalColourCount = count;
        at += static_cast<size_t>(count) * 3;
    }
    // The parser's positions are 32-bit, as the file's own sizes would be on the phone.
    if (size - at > 0x7FFFFFFF) return 0;
    gif->data.assign(bytes + at, bytes + size);
    gif->dataSize = static_cast<int32_t>(gif->data.size());
    gif->screenWidth = w;
    gif->screenHeight = h;
    return 1;
}

int NextGifFrame(GifPlayer* g) {
    bool rewound = false;
    for (;;) {
        int b = NextByte(g);
        if (b == 0) continue;
        if (b == ',') return DecodeGifImage(g);
        if (b == '!') {
            int label = NextByte(g);
            if (label == 0xF9) {
                int n = NextByte(g);
                if (n >= 4 && g->data.size() - g->readPos >= 4) {
                    const uint8_t* p = g->data.data() + g->readPos;
                    g->disposal = p[0] & 0x1C;
                    g->transparent = p[0] & 1;
                    g->delay = Le16(p + 1);
                    g->transparentIndex = p[3];
                }
                if (n >= 0 && Skip(g, static_cast<size_t>(n)) && SkipSubBlocks(g)) continue;
            } else if (label >= 0 && SkipSubBlocks(g)) {
                // Application, comment, plain text or unknown extensions: nothing to show.
                continue;
            }
        } else if (b >= 0 && b != ';') {
            // A byte that starts no block: no frame this turn; the next one goes on after it.
            return 0;
        }
        // The trailer or the end of the data: the animation starts again from its first
        // block, once per call so that a file without a picture cannot keep the parser going.
        Rewind(g);
        ClearControl(g);
        if (rewound) return 0;
        rewound = true;
    }
}

std::shared_ptr<platform::Surface> DecodeGifFirstFrame(const uint8_t* bytes, size_t size) {
    GifPlayer g;
    if (!LoadGifData(&g, bytes, size) || !NextGifFrame(&g)) return nullptr;
    auto s = std::make_shared<platform::Surface>();
    if (!s->Resize(g.screenWidth, g.screenHeight, 0xFFFFFF)) return nullptr;
    for (int y = 0; y < g.frameHeight; ++y) {
        const uint8_t* src = g.framePixels.data() + static_cast<size_t>(y) * g.rowStride;
        uint32_t* dst = s->row(g.frameTop + y) + g.frameLeft;
        for (int x = 0; x < g.frameWidth; ++x) {
            // By index: the transparent entry's colour may also be another entry's.
            if (g.frameTransparent && src[x] == g.frameTransparentIndex) continue;
            const RGBQUAD& q = g.frameInfo.colours[src[x]];
            dst[x] = (static_cast<uint32_t>(q.rgbRed) << 16) | (q.rgbGreen << 8) | q.rgbBlue;
        }
    }
    return s;
}

void RegisterGifDecoder() { platform::SetGifDecoder(DecodeGifFirstFrame); }
