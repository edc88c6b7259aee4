// The image loader: good PNG and JPEG files load with their pixels; anything else, of any
// content or size, fails cleanly.
#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/lasterror.h"
#include "platform/surface.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Images : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("lumeo-gdi-images-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
    static std::vector<uint8_t> Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
    }
};

// Pixels of a loaded bitmap, through a DC as a program reads them.
COLORREF PixelOf(HBITMAP bmp, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return c;
}

std::vector<uint8_t> EncodeJpeg(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = w;
    info.image_height = h;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (int x = 0; x < w; ++x) {
        row[3 * x] = r;
        row[3 * x + 1] = g;
        row[3 * x + 2] = b;
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&info);
    free(out);
    return bytes;
}

void Be32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

// A PNG signature and header chunk (valid CRC) claiming the given size, then no data.
std::vector<uint8_t> PngHeaderOnly(uint32_t w, uint32_t h) {
    std::vector<uint8_t> v = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> chunk = {'I', 'H', 'D', 'R'};
    Be32(chunk, w);
    Be32(chunk, h);
    chunk.insert(chunk.end(), {8, 2, 0, 0, 0});
    Be32(v, 13);
    v.insert(v.end(), chunk.begin(), chunk.end());
    Be32(v, static_cast<uint32_t>(crc32(0, chunk.data(), static_cast<uInt>(chunk.size()))));
    return v;
}

TEST_F(Images, PngLoadsWithItsPixelsAndSize) {
    platform::Surface s(5, 3, 0x112233);
    s.row(1)[4] = 0xFF8000;
    std::string path = (dir / "a.png").string();
    ASSERT_TRUE(platform::WritePng(s, path));
    HBITMAP bmp = SHLoadImageFile(Wide(path).c_str());
    ASSERT_NE(bmp, nullptr);
    BITMAP bm{};
    ASSERT_EQ(GetObjectW(bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_GT(bm.bmBitsPixel, 1);
    EXPECT_EQ(PixelOf(bmp, 0, 0), RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(PixelOf(bmp, 4, 1), RGB(0xFF, 0x80, 0x00));
    // The pieces of a strip are made with the picture's own planes and depth.
    HBITMAP piece = CreateBitmap(2, 3, bm.bmPlanes, bm.bmBitsPixel, nullptr);
    EXPECT_NE(piece, nullptr);
    DeleteObject(piece);
    DeleteObject(bmp);
}

TEST_F(Images, JpegLoadsWhateverTheFileIsCalled) {
    // Thumbnails are stored as .jpg whatever they are: a JPEG named .png loads too.
    std::string path = Write("thumb.png", EncodeJpeg(16, 8, 200, 40, 90));
    HBITMAP bmp = SHLoadImageFile(Wide(path).c_str());
    ASSERT_NE(bmp, nullptr);
    BITMAP bm{};
    GetObjectW(bmp, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 16);
    EXPECT_EQ(bm.bmHeight, 8);
    COLORREF c = PixelOf(bmp, 7, 3);
    EXPECT_NEAR(GetRValue(c), 200, 4);
    EXPECT_NEAR(GetGValue(c), 40, 4);
    EXPECT_NEAR(GetBValue(c), 90, 4);
    DeleteObject(bmp);
}

TEST_F(Images, BrokenFilesFailCleanly) {
    platform::Surface s(40, 30, 0x445566);
    std::string good = (dir / "good.png").string();
    ASSERT_TRUE(platform::WritePng(s, good));
    std::vector<uint8_t> png = Read(good);
    std::vector<uint8_t> jpeg = EncodeJpeg(32, 32, 1, 2, 3);
    const std::string html = "<html><body>404 Not Found</body></html>";
    struct { const char* name; std::vector<uint8_t> bytes; } cases[] = {
        {"empty.jpg", {}},
        {"page.jpg", std::vector<uint8_t>(html.begin(), html.end())},
        {"cut.png", std::vector<uint8_t>(png.begin(), png.begin() + 40)},
        {"cut-header.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 20)},
        {"zero.png", PngHeaderOnly(0, 10)},
        {"huge.png", PngHeaderOnly(60000, 60000)},
        {"giant.png", PngHeaderOnly(0x7FFFFFFF, 0x7FFFFFFF)},
        {"gif-without-decoder.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}},
    };
    for (auto& k : cases) {
        std::string path = Write(k.name, k.bytes);
        SetLastError(0);
        HBITMAP bmp = SHLoadImageFile(Wide(path).c_str());
        EXPECT_EQ(bmp, nullptr) << k.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << k.name;
    }
    SetLastError(0);
    EXPECT_EQ(SHLoadImageFile(Wide((dir / "missing.png").string()).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SHLoadImageFile(nullptr), nullptr);

    // A JPEG cut short after its header loads or fails, never anything else.
    std::string cut = Write("cut-body.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    if (HBITMAP b = SHLoadImageFile(Wide(cut).c_str())) {
        BITMAP bm{};
        GetObjectW(b, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, 32);
        DeleteObject(b);
    }
}

TEST_F(Images, DamagedBytesNeverCrash) {
    platform::Surface s(24, 24, 0x808080);
    std::string good = (dir / "good.png").string();
    ASSERT_TRUE(platform::WritePng(s, good));
    const std::vector<uint8_t> sources[] = {Read(good), EncodeJpeg(24, 24, 9, 99, 199)};
    std::mt19937 rng(1234);
    for (const auto& src : sources) {
        for (int i = 0; i < 150; ++i) {
            std::vector<uint8_t> bytes = src;
            int flips = 1 + static_cast<int>(rng() % 8);
            for (int f = 0; f < flips; ++f) bytes[8 + rng() % (bytes.size() - 8)] = static_cast<uint8_t>(rng());
            if (rng() % 3 == 0) bytes.resize(8 + rng() % (bytes.size() - 8));
            std::string path = Write("damaged", bytes);
            if (HBITMAP b = SHLoadImageFile(Wide(path).c_str())) {
                BITMAP bm{};
                GetObjectW(b, sizeof bm, &bm);
                EXPECT_GT(bm.bmWidth, 0);
                EXPECT_GT(bm.bmHeight, 0);
                DeleteObject(b);
            }
        }
    }
}

TEST_F(Images, GifGoesThroughTheProgramsDecoder) {
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0, 0, 0, ';'};
    std::string path = Write("x.gif", gif);
    size_t seen = 0;
    platform::SetGifDecoder([&](const uint8_t*, size_t size) {
        seen = size;
        return std::make_shared<platform::Surface>(3, 2, 0x00FF00);
    });
    HBITMAP bmp = SHLoadImageFile(Wide(path).c_str());
    platform::SetGifDecoder(nullptr);
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(seen, gif.size());
    EXPECT_EQ(PixelOf(bmp, 2, 1), RGB(0, 255, 0));
    DeleteObject(bmp);
}

}  // namespace
