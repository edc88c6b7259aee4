// libFuzzer target: any bytes given to the picture decoders load or fail cleanly.
#include "platform/image.h"
#include "platform/surface.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (auto decode : {platform::DecodePng, platform::DecodeJpeg}) {
        if (auto s = decode(data, size)) {
            if (s->width() <= 0 || s->height() <= 0) __builtin_trap();
            volatile uint32_t last = s->row(s->height() - 1)[s->width() - 1];
            (void)last;
        }
    }
    return 0;
}
