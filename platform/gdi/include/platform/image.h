// Picture files: the shell's image loader.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// A colour bitmap of a PNG, JPEG or GIF file (GIF: its first frame, through the decoder
// set below), or NULL: ERROR_FILE_NOT_FOUND, or ERROR_INVALID_DATA for a file of another
// kind, a broken one or a picture larger than kMaxImagePixels. The kind is read from the
// file's first bytes, not from its name.
HBITMAP SHLoadImageFile(LPCWSTR path);

namespace platform {
class Surface;

// Pictures larger than this many pixels are refused.
constexpr int64_t kMaxImagePixels = 4096LL * 4096LL;

// Decodes a whole file held in memory; null when it is not a picture it can read.
std::shared_ptr<Surface> DecodePng(const uint8_t* data, size_t size);
std::shared_ptr<Surface> DecodeJpeg(const uint8_t* data, size_t size);

// The program's GIF decoder plugs in here (first frame as a surface, or null).
using GifDecoder = std::function<std::shared_ptr<Surface>(const uint8_t* data, size_t size)>;
void SetGifDecoder(GifDecoder decoder);
}  // namespace platform
