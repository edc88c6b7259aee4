// The GIF decoder and player. Files made by ImageMagick are compared pixel for pixel with
// ImageMagick's own decoding of them (tools/fixtures/make-gifs.sh); hand-made files check
// what the decoder does with broken input; the player's states and thread are driven on a
// memory DC.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gif.h"
#include "platform/codepage.h"
#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/surface.h"

namespace {

namespace fs = std::filesystem;

const COLORREF kUnder = RGB(0x12, 0x34, 0x57);  // what the window shows under the animation

// ---- ImageMagick's decoding ----

struct Pam {
    int w = 0, h = 0, depth = 0;
    std::vector<uint8_t> px;
    bool Transparent(int x, int y) const { return depth == 4 && px[(static_cast<size_t>(y) * w + x) * 4 + 3] == 0; }
    uint32_t Rgb(int x, int y) const {
        const uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * depth];
        return (static_cast<uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
    }
};

bool ReadPam(const fs::path& path, Pam* pam) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line != "P7") return false;
    int maxval = 0;
    while (std::getline(in, line) && line != "ENDHDR") {
        std::istringstream f(line);
        std::string key;
        f >> key;
        if (key == "WIDTH") f >> pam->w;
        if (key == "HEIGHT") f >> pam->h;
        if (key == "DEPTH") f >> pam->depth;
        if (key == "MAXVAL") f >> maxval;
    }
    if (maxval != 255 || (pam->depth != 3 && pam->depth != 4) || pam->w <= 0 || pam->h <= 0) return false;
    pam->px.resize(static_cast<size_t>(pam->w) * pam->h * pam->depth);
    in.read(reinterpret_cast<char*>(pam->px.data()), static_cast<std::streamsize>(pam->px.size()));
    return static_cast<bool>(in);
}

// The folder of the made files, made once for the whole run and removed at its end.
struct FixtureDir {
    fs::path path;
    ~FixtureDir() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

const fs::path& Fixtures() {
    static FixtureDir dir;
    static bool made = [] {
        char tmpl[] = "/tmp/lumeo-gif-XXXXXX";
        fs::path d = mkdtemp(tmpl);
        dir.path = d;
        std::string cmd = std::string(LUMEO_TEST_SOURCE_DIR) + "/tools/fixtures/make-gifs.sh " + d.string();
        fs::path skin = fs::path(LUMEO_TEST_DIST_DIR) / "Res" / "Skin" / "Def";
        for (const char* size : {"800_480", "640_480", "320_240", "480_320", "400_240"})
            for (const char* name : {"dlg", "relVideo"})
                cmd += " " + (skin / (std::string("def_") + size + "_" + name + ".gif")).string();
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return true;
    }();
    (void)made;
    return dir.path;
}

struct Reference {
    std::vector<Pam> frames;
    std::vector<int> delays;  // hundredths of a second
};

Reference LoadReference(const std::string& name) {
    Reference r;
    for (int k = 0;; ++k) {
        Pam p;
        if (!ReadPam(Fixtures() / (name + "_" + std::to_string(k) + ".pam"), &p)) break;
        r.frames.push_back(std::move(p));
    }
    std::ifstream d(Fixtures() / (name + ".delays"));
    for (int v; d >> v;) r.delays.push_back(v);
    return r;
}

// ---- A player drawing on a memory DC ----

struct Stage {
    HDC dc = nullptr;
    HBITMAP screen = nullptr;
    HGDIOBJ old = nullptr;
    Stage(int w, int h) {
        dc = CreateCompatibleDC(nullptr);
        screen = CreateBitmap(w, h, 1, 32, nullptr);
        old = SelectObject(dc, screen);
        HBRUSH b = CreateSolidBrush(kUnder);
        RECT r{0, 0, w, h};
        FillRect(dc, &r, b);
        DeleteObject(b);
    }
    ~Stage() {
        SelectObject(dc, old);
        DeleteObject(screen);
        DeleteDC(dc);
    }
};

uint32_t Xrgb(COLORREF c) { return platform::XrgbFromColorref(c); }

// Compares a composed screen with ImageMagick's frame; returns the first difference.
std::string Compare(const platform::Surface& s, const Pam& ref, int dx = 0, int dy = 0) {
    for (int y = 0; y < ref.h; ++y)
        for (int x = 0; x < ref.w; ++x) {
            uint32_t ours = s.at(x + dx, y + dy) & 0xFFFFFF;
            uint32_t want = ref.Transparent(x, y) ? Xrgb(kUnder) : ref.Rgb(x, y);
            if (ours != want) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel (%d, %d): %06X, ImageMagick %06X%s", x, y, ours, want,
                              ref.Transparent(x, y) ? " (transparent)" : "");
                return text;
            }
        }
    return "";
}

std::vector<std::string> FixtureNames() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(Fixtures()))
        if (e.path().extension() == ".gif") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(GifDecoder, FramesMatchImageMagickPixelForPixel) {
    std::vector<std::string> names = FixtureNames();
    ASSERT_GE(names.size(), 17u) << "the made files and the ten skin animations";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Reference ref = LoadReference(name);
        ASSERT_FALSE(ref.frames.empty());
        ASSERT_EQ(ref.delays.size(), ref.frames.size());
        GifPlayer gif;
        ASSERT_EQ(LoadGif(&gif, platform::Utf8ToWide((Fixtures() / (name + ".gif")).string()).c_str()), 1);
        ASSERT_EQ(gif.screenWidth, ref.frames[0].w);
        ASSERT_EQ(gif.screenHeight, ref.frames[0].h);
        Stage stage(gif.screenWidth + 7, gif.screenHeight + 5);
        InitGif(&gif, stage.dc);
        ASSERT_EQ(LoadGif(&gif, platform::Utf8ToWide((Fixtures() / (name + ".gif")).string()).c_str()), 1);
        SetGifPosition(&gif, 7, 5);
        GifCanvas c;
        ASSERT_EQ(BeginGifCanvas(&gif, &c), 0);
        for (size_t k = 0; k < ref.frames.size(); ++k) {
            SCOPED_TRACE(k);
            int time = ShowGifFrame(&gif, &c, false);
            EXPECT_EQ(time, ref.delays[k] ? ref.delays[k] * 10 : 50);
            EXPECT_EQ(Compare(*platform::SurfaceOfBitmap(gif.canvas), ref.frames[k]), "");
            EXPECT_EQ(Compare(*platform::SurfaceOfBitmap(stage.screen), ref.frames[k], 7, 5), "") << "shown";
        }
        EndGifCanvas(&gif, &c);
    }
}

TEST(GifDecoder, TheAnimationLoopsAndAPauseRepeatsTheLastFrame) {
    Reference ref = LoadReference("disposal");
    GifPlayer gif;
    Stage stage(40, 30);
    InitGif(&gif, stage.dc);
    ASSERT_EQ(LoadGif(&gif, platform::Utf8ToWide((Fixtures() / "disposal.gif").string()).c_str()), 1);
    GifCanvas c;
    ASSERT_EQ(BeginGifCanvas(&gif, &c), 0);
    for (size_t k = 0; k < ref.frames.size(); ++k) ShowGifFrame(&gif, &c, false);
    // Its first frame covers the whole screen: the second round starts as the first.
    ShowGifFrame(&gif, &c, false);
    EXPECT_EQ(Compare(*platform::SurfaceOfBitmap(stage.screen), ref.frames[0]), "");
    ShowGifFrame(&gif, &c, false);
    EXPECT_EQ(Compare(*platform::SurfaceOfBitmap(stage.screen), ref.frames[1]), "");
    RECT all{0, 0, 40, 30};
    FillRect(stage.dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ShowGifFrame(&gif, &c, true);
    EXPECT_EQ(Compare(*platform::SurfaceOfBitmap(stage.screen), ref.frames[1]), "") << "paused";
    EndGifCanvas(&gif, &c);
}

TEST(GifDecoder, TheShellLoaderGivesTheFirstFrameOnWhite) {
    RegisterGifDecoder();
    for (const std::string& name : FixtureNames()) {
        SCOPED_TRACE(name);
        Reference ref = LoadReference(name);
        HBITMAP b = SHLoadImageFile(platform::Utf8ToWide((Fixtures() / (name + ".gif")).string()).c_str());
        ASSERT_NE(b, nullptr);
        auto s = platform::SurfaceOfBitmap(b);
        ASSERT_EQ(s->width(), ref.frames[0].w);
        ASSERT_EQ(s->height(), ref.frames[0].h);
        std::string diff;
        for (int y = 0; y < s->height() && diff.empty(); ++y)
            for (int x = 0; x < s->width() && diff.empty(); ++x) {
                uint32_t want = ref.frames[0].Transparent(x, y) ? 0xFFFFFF : ref.frames[0].Rgb(x, y);
                if ((s->at(x, y) & 0xFFFFFF) != want) diff = std::to_string(x) + "," + std::to_string(y);
            }
        EXPECT_EQ(diff, "");
        DeleteObject(b);
    }
}

// ---- Hand-made files ----

// GIF bytes from parts: header, blocks, LZW data.
class GifBytes {
public:
    GifBytes(int w, int h, int globalColours, const char* version = "GIF89a") {
        for (int i = 0; i < 6; ++i) b_.push_back(static_cast<uint8_t>(version[i]));
        Le16(w);
        Le16(h);
        int bits = 0;
        while ((2 << bits) < globalColours) ++bits;
        b_.push_back(static_cast<uint8_t>(globalColours ? 0x80 | bits : 0));
        b_.push_back(0);
        b_.push_back(0);
        for (int i = 0; i < (globalColours ? (2 << bits) : 0); ++i) Colour(i);
    }
    GifBytes& Control(int disposal, bool transparent, int index, int delay = 0) {
        b_.insert(b_.end(), {0x21, 0xF9, 4, static_cast<uint8_t>((disposal << 2) | (transparent ? 1 : 0))});
        Le16(delay);
        b_.push_back(static_cast<uint8_t>(index));
        b_.push_back(0);
        return *this;
    }
    // An image descriptor with `codes` as its LZW data (each code `widths` bits wide).
    GifBytes& Image(int l, int t, int w, int h, int minCodeSize, const std::vector<std::pair<int, int>>& codes,
                    int localColours = 0) {
        b_.push_back(',');
        Le16(l);
        Le16(t);
        Le16(w);
        Le16(h);
        int bits = 0;
        while ((2 << bits) < localColours) ++bits;
        b_.push_back(static_cast<uint8_t>(localColours ? 0x80 | bits : 0));
        for (int i = 0; i < (localColours ? (2 << bits) : 0); ++i) Colour(255 - i);
        b_.push_back(static_cast<uint8_t>(minCodeSize));
        std::vector<uint8_t> data;
        uint32_t acc = 0;
        int used = 0;
        for (auto [code, width] : codes) {
            acc |= static_cast<uint32_t>(code) << used;
            used += width;
            while (used >= 8) {
                data.push_back(static_cast<uint8_t>(acc));
                acc >>= 8;
                used -= 8;
            }
        }
        if (used) data.push_back(static_cast<uint8_t>(acc));
        for (size_t at = 0; at < data.size(); at += 255) {
            size_t n = std::min<size_t>(255, data.size() - at);
            b_.push_back(static_cast<uint8_t>(n));
            b_.insert(b_.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
        }
        b_.push_back(0);
        return *this;
    }
    GifBytes& Raw(std::vector<uint8_t> bytes) {
        b_.insert(b_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    GifBytes& Trailer() { return Raw({';'}); }
    const std::vector<uint8_t>& bytes() const { return b_; }
    // The colour of entry i of every table made here.
    static uint32_t ColourOf(int i) { return (static_cast<uint32_t>(i) << 16) | ((i * 7) & 0xFF) << 8 | 0x40; }

private:
    void Le16(int v) {
        b_.push_back(static_cast<uint8_t>(v & 0xFF));
        b_.push_back(static_cast<uint8_t>(v >> 8));
    }
    void Colour(int i) {
        uint32_t c = ColourOf(i);
        b_.insert(b_.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
    }
    std::vector<uint8_t> b_;
};

// A plain LZW encoder (the textbook one): codes for `indices`, with a clear code first, and
// when the table is full either a clear code or, deferring it, 12-bit codes without new
// entries.
std::vector<std::pair<int, int>> Encode(const std::vector<uint8_t>& indices, int m, bool deferClear) {
    std::vector<std::pair<int, int>> out;
    const int clear = 1 << m, end = clear + 1;
    std::map<std::pair<int, int>, int> dict;
    int width = m + 1, next = clear + 2;
    out.push_back({clear, width});
    int prefix = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        auto it = dict.find({prefix, indices[i]});
        if (it != dict.end()) {
            prefix = it->second;
            continue;
        }
        out.push_back({prefix, width});
        if (next < 4096) {
            dict[{prefix, indices[i]}] = next++;
            if (next - 1 == (1 << width) && width < 12) ++width;
        } else if (!deferClear) {
            out.push_back({clear, width});
            dict.clear();
            width = m + 1;
            next = clear + 2;
        }
        prefix = indices[i];
    }
    out.push_back({prefix, width});
    out.push_back({end, width});
    return out;
}

// Decodes the first frame of `bytes`: 1 and the player's state, or 0.
int First(GifPlayer* gif, const GifBytes& g) {
    if (LoadGifData(gif, g.bytes().data(), g.bytes().size()) != 1) return -1;
    return NextGifFrame(gif);
}

std::vector<uint8_t> Pixels(const GifPlayer& gif) {
    std::vector<uint8_t> px;
    for (int y = 0; y < gif.frameHeight; ++y)
        for (int x = 0; x < gif.frameWidth; ++x) px.push_back(gif.framePixels[static_cast<size_t>(y) * gif.rowStride + x]);
    return px;
}

TEST(GifDecoder, LongCodeStreamsWithAndWithoutClearCodes) {
    std::mt19937 rng(11);
    std::vector<uint8_t> indices(200 * 90);
    // Runs of a few colours: long strings and a table that fills several times over.
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(rng() % 5 == 0 ? rng() % 16 : (i / 7) % 16);
    for (bool defer : {false, true}) {
        SCOPED_TRACE(defer);
        std::vector<std::pair<int, int>> codes = Encode(indices, 4, defer);
        GifPlayer gif;
        ASSERT_EQ(First(&gif, GifBytes(200, 90, 16).Image(0, 0, 200, 90, 4, codes).Trailer()), 1);
        EXPECT_EQ(Pixels(gif), indices);
    }
}

TEST(GifDecoder, InterlacedRowsComeInFourPasses) {
    // Row r of a 3 x 10 image holds index r: the stream carries the rows in pass order.
    const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    std::vector<uint8_t> stream;
    for (int r : order)
        for (int x = 0; x < 3; ++x) stream.push_back(static_cast<uint8_t>(r));
    GifBytes g(3, 10, 16);
    std::vector<uint8_t> bytes = g.Image(0, 0, 3, 10, 4, Encode(stream, 4, false)).Trailer().bytes();
    bytes[13 + 48 + 9] |= 0x40;  // the descriptor's interlace flag
    GifPlayer gif;
    ASSERT_EQ(LoadGifData(&gif, bytes.data(), bytes.size()), 1);
    ASSERT_EQ(NextGifFrame(&gif), 1);
    std::vector<uint8_t> want;
    for (int r = 0; r < 10; ++r)
        for (int x = 0; x < 3; ++x) want.push_back(static_cast<uint8_t>(r));
    EXPECT_EQ(Pixels(gif), want);
}

TEST(GifDecoder, BrokenStreamsEndTheirFrameOnly) {
    // m = 2: clear 4, end 5, first free code 6.
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> codes;
        int result;
    } cases[] = {
        {"a code beyond the next free one", {{4, 3}, {1, 3}, {7, 3}, {5, 3}}, 0},
        {"the next free code itself (a string and its own first byte)", {{4, 3}, {1, 3}, {6, 3}, {5, 3}}, 1},
        {"a table code right after a clear", {{4, 3}, {6, 3}, {5, 3}}, 0},
        {"no end code: the data ends the image", {{4, 3}, {1, 3}, {2, 3}}, 1},
        {"no clear code first", {{1, 3}, {2, 3}, {5, 3}}, 1},
        {"only an end code", {{5, 3}}, 1},
        {"no data at all", {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifPlayer gif;
        GifBytes g(4, 1, 4);
        g.Image(0, 0, 4, 1, 2, c.codes).Image(0, 0, 2, 1, 2, {{4, 3}, {3, 3}, {3, 3}, {5, 3}}).Trailer();
        EXPECT_EQ(First(&gif, g), c.result);
        // The parser goes on with the next image.
        ASSERT_EQ(NextGifFrame(&gif), 1);
        EXPECT_EQ(gif.frameWidth, 2);
        EXPECT_EQ(Pixels(gif), (std::vector<uint8_t>{3, 3}));
    }
}

TEST(GifDecoder, FramesMustLieOnTheLogicalScreen) {
    struct Case {
        int l, t, w, h;
        int result;
    } cases[] = {
        {0, 0, 4, 4, 1}, {1, 1, 3, 3, 1}, {0, 0, 5, 4, 0}, {1, 0, 4, 4, 0},
        {0, 3, 4, 2, 0}, {0, 0, 0, 4, 0}, {65535, 0, 2, 2, 0}, {0, 0, 65535, 65535, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.l << "," << c.t << " " << c.w << "x" << c.h);
        GifPlayer gif;
        EXPECT_EQ(First(&gif, GifBytes(4, 4, 4).Image(c.l, c.t, c.w, c.h, 2, {{4, 3}, {1, 3}, {5, 3}}).Trailer()),
                  c.result);
    }
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t n) {
    bytes.resize(bytes.size() - n);
    return bytes;
}

TEST(GifDecoder, HeadersThatAreRefused) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int result;
    } cases[] = {
        {"GIF87a", GifBytes(2, 2, 2, "GIF87a").Trailer().bytes(), 1},
        {"GIF89a", GifBytes(2, 2, 2).Trailer().bytes(), 1},
        {"no global table", GifBytes(2, 2, 0).Trailer().bytes(), 1},
        {"GIF88a", GifBytes(2, 2, 2, "GIF88a").Trailer().bytes(), 0},
        {"GIF89b", GifBytes(2, 2, 2, "GIF89b").Trailer().bytes(), 0},
        {"12 bytes", Cut(GifBytes(2, 2, 0).bytes(), 1), 0},
        {"a short colour table", Cut(GifBytes(2, 2, 4).bytes(), 1), 0},
        {"an empty screen", GifBytes(0, 5, 2).Trailer().bytes(), 0},
        {"a screen above the budget", GifBytes(4096, 4096, 2).Trailer().bytes(), 0},
        {"the largest screen", GifBytes(2048, 2048, 2).Trailer().bytes(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifPlayer gif;
        EXPECT_EQ(LoadGifData(&gif, c.bytes.data(), c.bytes.size()), c.result);
    }
    GifPlayer gif;
    EXPECT_EQ(LoadGif(&gif, L"/nonexistent/x.gif"), 0);
}

TEST(GifDecoder, FilesWithoutAPictureNeverKeepTheParserGoing) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"only a trailer", GifBytes(2, 2, 2).Trailer().bytes()},
        {"nothing after the header", GifBytes(2, 2, 2).bytes()},
        {"extensions only", GifBytes(2, 2, 2).Control(1, false, 0).Raw({0x21, 0xFE, 2, 'h', 'i', 0}).Trailer().bytes()},
        {"a byte that starts no block", GifBytes(2, 2, 2).Raw({0x77, 0x2C}).bytes()},
        {"an extension cut short", GifBytes(2, 2, 2).Raw({0x21, 0xFF, 11, 'N', 'E'}).bytes()},
        {"a descriptor cut short", GifBytes(2, 2, 2).Raw({0x2C, 0, 0, 2}).bytes()},
        {"zero bytes only", GifBytes(2, 2, 2).Raw(std::vector<uint8_t>(5000, 0)).bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifPlayer gif;
        ASSERT_EQ(LoadGifData(&gif, c.bytes.data(), c.bytes.size()), 1);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(NextGifFrame(&gif), 0) << i;
        EXPECT_EQ(DecodeGifFirstFrame(c.bytes.data(), c.bytes.size()), nullptr);
    }
    // Without a trailer the animation starts again from its first frame.
    GifPlayer gif;
    GifBytes g(2, 1, 4);
    g.Image(0, 0, 2, 1, 2, {{4, 3}, {1, 3}, {1, 3}, {5, 3}}).Image(0, 0, 2, 1, 2, {{4, 3}, {2, 3}, {2, 3}, {5, 3}});
    ASSERT_EQ(LoadGifData(&gif, g.bytes().data(), g.bytes().size()), 1);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(NextGifFrame(&gif), 1);
        EXPECT_EQ(Pixels(gif), (std::vector<uint8_t>{1, 1}));
        ASSERT_EQ(NextGifFrame(&gif), 1);
        EXPECT_EQ(Pixels(gif), (std::vector<uint8_t>{2, 2}));
    }
}

// A byte between blocks that starts none gives no frame for that turn; the frames after it
// still come, and the trailer loops to the first.
TEST(GifDecoder, AStrayByteGivesNoFrameAndTheFramesAfterItStillCome) {
    for (uint8_t stray : {0x77, 0xFF, 0x01}) {
        SCOPED_TRACE(static_cast<int>(stray));
        GifPlayer gif;
        GifBytes g(2, 1, 4);
        g.Image(0, 0, 2, 1, 2, {{4, 3}, {1, 3}, {1, 3}, {5, 3}})
            .Raw({stray})
            .Control(1, false, 0, 7)
            .Image(0, 0, 2, 1, 2, {{4, 3}, {2, 3}, {2, 3}, {5, 3}})
            .Trailer();
        ASSERT_EQ(LoadGifData(&gif, g.bytes().data(), g.bytes().size()), 1);
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(NextGifFrame(&gif), 1);
            EXPECT_EQ(Pixels(gif), (std::vector<uint8_t>{1, 1}));
            EXPECT_EQ(NextGifFrame(&gif), 0);
            ASSERT_EQ(NextGifFrame(&gif), 1);
            EXPECT_EQ(Pixels(gif), (std::vector<uint8_t>{2, 2}));
            EXPECT_EQ(gif.frameDelay, 7);
        }
    }
}

TEST(GifDecoder, TransparencyOnlyForAnIndexOfTheTable) {
    // A 2 x 1 frame of indices 0 and 1 over the window's colour.
    struct Case {
        const char* name;
        bool transparent;
        int index;
        int localColours;
        uint32_t left, right;
    } cases[] = {
        {"index 0 transparent", true, 0, 0, Xrgb(kUnder), GifBytes::ColourOf(1)},
        {"index 1 transparent", true, 1, 0, GifBytes::ColourOf(0), Xrgb(kUnder)},
        {"no transparency", false, 0, 0, GifBytes::ColourOf(0), GifBytes::ColourOf(1)},
        {"an index beyond the table", true, 200, 0, GifBytes::ColourOf(0), GifBytes::ColourOf(1)},
        {"an index of the global table beyond the local one", true, 5, 4, GifBytes::ColourOf(255),
         GifBytes::ColourOf(254)},
        {"an index of the local table", true, 1, 4, GifBytes::ColourOf(255), Xrgb(kUnder)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifBytes g(2, 1, 8);
        g.Control(1, c.transparent, c.index).Image(0, 0, 2, 1, 2, {{4, 3}, {0, 3}, {1, 3}, {5, 3}}, c.localColours);
        Stage stage(2, 1);
        GifPlayer gif;
        InitGif(&gif, stage.dc);
        ASSERT_EQ(LoadGifData(&gif, g.Trailer().bytes().data(), g.bytes().size()), 1);
        GifCanvas canvas;
        ASSERT_EQ(BeginGifCanvas(&gif, &canvas), 0);
        ShowGifFrame(&gif, &canvas, false);
        auto s = platform::SurfaceOfBitmap(stage.screen);
        EXPECT_EQ(s->at(0, 0) & 0xFFFFFF, c.left);
        EXPECT_EQ(s->at(1, 0) & 0xFFFFFF, c.right);
        EndGifCanvas(&gif, &canvas);
    }
}

TEST(GifDecoder, ATransparentEntrysColourElsewhereInTheTableStaysOpaque) {
    // Entries 0 and 1 share a colour; only index 1 is transparent.
    std::vector<uint8_t> bytes = GifBytes(2, 1, 2).Control(1, true, 1).Image(0, 0, 2, 1, 2, {{4, 3}, {0, 3}, {1, 3}, {5, 3}}).Trailer().bytes();
    for (int k = 0; k < 3; ++k) bytes[16 + k] = bytes[13 + k];
    Stage stage(2, 1);
    GifPlayer gif;
    InitGif(&gif, stage.dc);
    ASSERT_EQ(LoadGifData(&gif, bytes.data(), bytes.size()), 1);
    GifCanvas canvas;
    ASSERT_EQ(BeginGifCanvas(&gif, &canvas), 0);
    ShowGifFrame(&gif, &canvas, false);
    auto s = platform::SurfaceOfBitmap(stage.screen);
    EXPECT_EQ(s->at(0, 0) & 0xFFFFFF, GifBytes::ColourOf(0));
    EXPECT_EQ(s->at(1, 0) & 0xFFFFFF, Xrgb(kUnder));
    EndGifCanvas(&gif, &canvas);
}

// ---- The player ----

GifBytes TwoColourAnimation() {
    GifBytes g(4, 4, 4);
    g.Control(1, false, 0, 2).Image(0, 0, 4, 4, 2, Encode(std::vector<uint8_t>(16, 1), 2, false));
    g.Control(1, false, 0, 2).Image(0, 0, 4, 4, 2, Encode(std::vector<uint8_t>(16, 2), 2, false));
    return g.Trailer();
}

bool WaitFor(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(GifPlayerStates, PlayStopAndPlayAgain) {
    GifBytes g = TwoColourAnimation();
    Stage stage(4, 4);
    GifPlayer gif;
    EXPECT_EQ(gif.state.load(), GIF_STATE_IDLE);
    StopGif(&gif);  // nothing runs: returns at once
    EXPECT_EQ(gif.state.load(), GIF_STATE_IDLE);

    PlayGif(&gif);
    EXPECT_EQ(gif.state.load(), GIF_STATE_IDLE) << "no DC, no file";
    InitGif(&gif, stage.dc);
    PlayGif(&gif);
    EXPECT_EQ(gif.state.load(), GIF_STATE_IDLE) << "no file";
    ASSERT_EQ(LoadGifData(&gif, g.bytes().data(), g.bytes().size()), 1);

    auto shown = [&] { return platform::SurfaceOfBitmap(stage.screen)->at(1, 1) & 0xFFFFFF; };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        PlayGif(&gif);
        EXPECT_EQ(gif.state.load(), GIF_STATE_RUNNING);
        EXPECT_EQ(gif.playing, 1);
        PlayGif(&gif);  // a running animation goes on
        EXPECT_EQ(gif.state.load(), GIF_STATE_RUNNING);
        EXPECT_TRUE(WaitFor([&] { return shown() == GifBytes::ColourOf(1); }));
        EXPECT_TRUE(WaitFor([&] { return shown() == GifBytes::ColourOf(2); }));
        EXPECT_TRUE(WaitFor([&] { return shown() == GifBytes::ColourOf(1); })) << "it loops";
        StopGif(&gif);
        EXPECT_EQ(gif.state.load(), GIF_STATE_STOPPED);
        EXPECT_EQ(gif.playing, 0);
        // Stopped means stopped: nothing draws any more.
        RECT r{0, 0, 4, 4};
        FillRect(stage.dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_EQ(shown(), 0u);
    }

    // Loading stops a running animation first.
    PlayGif(&gif);
    ASSERT_EQ(gif.state.load(), GIF_STATE_RUNNING);
    ASSERT_EQ(LoadGifData(&gif, g.bytes().data(), g.bytes().size()), 1);
    EXPECT_EQ(gif.state.load(), GIF_STATE_STOPPED);
    PlayGif(&gif);
    InitGif(&gif, stage.dc);
    EXPECT_EQ(gif.state.load(), GIF_STATE_IDLE);
}

TEST(GifPlayerStates, AThreadThatCannotStartLeavesThePlayerStopped) {
    GifBytes g = TwoColourAnimation();
    Stage stage(4, 4);
    GifPlayer gif;
    InitGif(&gif, stage.dc);
    ASSERT_EQ(LoadGifData(&gif, g.bytes().data(), g.bytes().size()), 1);
    platform::FailThreadCreation(1);
    PlayGif(&gif);
    EXPECT_EQ(gif.state.load(), GIF_STATE_STOPPED);
    EXPECT_EQ(gif.playing, 0);
    StopGif(&gif);  // must not wait for a thread that never ran
    PlayGif(&gif);
    EXPECT_EQ(gif.state.load(), GIF_STATE_RUNNING);
    StopGif(&gif);
    EXPECT_EQ(gif.state.load(), GIF_STATE_STOPPED);
}

TEST(GifPlayerStates, FrameTimes) {
    struct Case {
        int delay;
        int ms;
    } cases[] = {{0, 50}, {1, 10}, {7, 70}, {300, 3000}, {65535, 655350}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delay);
        GifBytes g(1, 1, 2);
        g.Control(1, false, 0, c.delay).Image(0, 0, 1, 1, 2, {{4, 3}, {1, 3}, {5, 3}}).Trailer();
        Stage stage(1, 1);
        GifPlayer gif;
        InitGif(&gif, stage.dc);
        ASSERT_EQ(LoadGifData(&gif, g.bytes().data(), g.bytes().size()), 1);
        GifCanvas canvas;
        ASSERT_EQ(BeginGifCanvas(&gif, &canvas), 0);
        EXPECT_EQ(ShowGifFrame(&gif, &canvas, false), c.ms);
        EndGifCanvas(&gif, &canvas);
    }
}

}  // namespace
