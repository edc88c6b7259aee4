// The shell's image loader: PNG and JPEG here, GIF through the program's decoder. The
// kind comes from the file's first bytes, whatever its name says.
#include "platform/image.h"

#include "internal.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace platform {
namespace {

GifDecoder& gifDecoder() {
    static GifDecoder decoder;
    return decoder;
}

bool TooBig(uint64_t w, uint64_t h) {
    return w == 0 || h == 0 || w > 65535 || h > 65535 || w * h > static_cast<uint64_t>(kMaxImagePixels);
}

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
// Nothing is printed. Data that ends before the picture does (a cut download) is only a
// warning to libjpeg, which fills the rest with grey: here it fails the decode.
void JpegQuiet(j_common_ptr info, int level) {
    if (level >= 0) return;
    const int code = info->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) JpegFail(info);
}

// No C++ object with a destructor lives in this frame: longjmp leaves it.
bool DecodeJpegInto(const uint8_t* data, size_t size, Surface* out) {
    jpeg_decompress_struct info;
    JpegError err;
    info.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegFail;
    err.mgr.emit_message = JpegQuiet;
    unsigned char* volatile row = nullptr;
    if (setjmp(err.jump)) {
        std::free(row);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || TooBig(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3 || !out->Resize(static_cast<int>(info.output_width), static_cast<int>(info.output_height), 0xFFFFFF)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    row = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(info.output_width) * 3));
    if (!row) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        const unsigned y = info.output_scanline;
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(&info, rows, 1) != 1) {
            std::free(row);
            jpeg_destroy_decompress(&info);
            return false;
        }
        uint32_t* d = out->row(static_cast<int>(y));
        for (unsigned x = 0; x < info.output_width; ++x)
            d[x] = (static_cast<uint32_t>(row[3 * x]) << 16) | (row[3 * x + 1] << 8) | row[3 * x + 2];
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::free(row);
    return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    bool ok = n >= 0;
    if (ok) {
        try {
            data.resize(static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    ok = ok && std::fread(data.data(), 1, data.size(), f) == data.size();
    std::fclose(f);
    return ok;
}

}  // namespace

std::shared_ptr<Surface> DecodePng(const uint8_t* data, size_t size) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return nullptr;
    if (TooBig(image.width, image.height)) {
        png_image_free(&image);
        return nullptr;
    }
    // Pictures are copied, never blended: transparent parts show white.
    image.format = PNG_FORMAT_BGRA;
    auto s = std::make_shared<Surface>();
    if (!s->Resize(static_cast<int>(image.width), static_cast<int>(image.height))) {
        png_image_free(&image);
        return nullptr;
    }
    if (!png_image_finish_read(&image, nullptr, s->pixels(), 0, nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    uint32_t* p = s->pixels();
    const size_t n = static_cast<size_t>(s->width()) * s->height();
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(p + i);
        unsigned a = b[3];
        unsigned bl = b[0], g = b[1], r = b[2];
        if (a != 255) {
            r = (r * a + 255 * (255 - a) + 127) / 255;
            g = (g * a + 255 * (255 - a) + 127) / 255;
            bl = (bl * a + 255 * (255 - a) + 127) / 255;
        }
        p[i] = (r << 16) | (g << 8) | bl;
    }
    return s;
}

std::shared_ptr<Surface> DecodeJpeg(const uint8_t* data, size_t size) {
    auto s = std::make_shared<Surface>();
    if (!DecodeJpegInto(data, size, s.get())) return nullptr;
    return s;
}

void SetGifDecoder(GifDecoder decoder) {
    std::lock_guard lock(GdiMutex());
    gifDecoder() = std::move(decoder);
}

}  // namespace platform

using namespace platform;

HBITMAP SHLoadImageFile(LPCWSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<uint8_t> data;
    if (!ReadFile(ToNativePath(path), data)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::shared_ptr<Surface> s;
    const uint8_t* d = data.data();
    const size_t n = data.size();
    if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) {
        s = DecodePng(d, n);
    } else if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) {
        s = DecodeJpeg(d, n);
    } else if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) {
        GifDecoder decode;
        {
            std::lock_guard lock(GdiMutex());
            decode = gifDecoder();
        }
        if (decode) s = decode(d, n);
        if (s && (s->width() <= 0 || s->height() <= 0)) s.reset();
    }
    if (!s) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    return CreateBitmapFromSurface(std::move(s));
}
