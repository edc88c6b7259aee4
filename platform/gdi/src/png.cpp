// PNG files of surfaces.
#include "platform/surface.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace platform {

bool WritePng(const Surface& surface, const std::string& path) {
    if (surface.width() <= 0 || surface.height() <= 0) return false;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(surface.width());
    image.height = static_cast<png_uint_32>(surface.height());
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(static_cast<size_t>(surface.width()) * surface.height() * 3);
    {
        std::lock_guard lock(GdiMutex());
        for (int y = 0; y < surface.height(); ++y) {
            const uint32_t* r = surface.row(y);
            uint8_t* d = rgb.data() + static_cast<size_t>(y) * surface.width() * 3;
            for (int x = 0; x < surface.width(); ++x) {
                d[3 * x] = static_cast<uint8_t>(r[x] >> 16);
                d[3 * x + 1] = static_cast<uint8_t>(r[x] >> 8);
                d[3 * x + 2] = static_cast<uint8_t>(r[x]);
            }
        }
    }
    const std::string tmp = path + ".part";
    if (!png_image_write_to_file(&image, tmp.c_str(), 0, rgb.data(), 0, nullptr)) {
        std::remove(tmp.c_str());
        return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace platform
