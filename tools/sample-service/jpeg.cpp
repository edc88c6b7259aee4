#include "jpeg.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

std::string MakeJpeg(unsigned seed, int width, int height) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 80, TRUE);
    jpeg_start_compress(&c, TRUE);
    // A diagonal gradient in the seed's colours with a darker band, so pictures differ.
    unsigned r0 = (seed * 67u) % 200 + 40, g0 = (seed * 131u) % 200 + 40, b0 = (seed * 29u) % 200 + 40;
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    while (c.next_scanline < c.image_height) {
        int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < width; ++x) {
            int t = (x + y) * 255 / (width + height);
            bool band = ((y * 4 / height) % 2 == 1) && x > width / 4 && x < width * 3 / 4;
            int k = band ? 2 : 1;
            row[x * 3 + 0] = static_cast<unsigned char>((r0 + t / 3) % 256 / k);
            row[x * 3 + 1] = static_cast<unsigned char>((g0 + t / 4) % 256 / k);
            row[x * 3 + 2] = static_cast<unsigned char>((b0 + t / 5) % 256 / k);
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<char*>(mem), size);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
}
