#include "mp4table.h"

namespace mp4 {

int PackResidual(uint8_t* out, int32_t e)
{
    uint8_t groups[5];
    int n = 0;
    int32_t v = e;
    // Least significant groups first into the scratch, then reversed: the first byte
    // written holds the signed top group.
    groups[n++] = uint8_t(((v & 0x7F) << 1) | 1);
    v >>= 7;
    if (e < -64 || e > 63) {
        while (v < -64 || v > 63) {
            groups[n++] = uint8_t((v & 0x7F) << 1);
            v >>= 7;
        }
        groups[n++] = uint8_t((v & 0x7F) << 1);
    }
    for (int i = 0; i < n; ++i)
        out[i] = groups[n - 1 - i];
    return n;
}

int32_t UnpackResidual(const uint8_t** pos, const uint8_t* end)
{
    const uint8_t* p = *pos;
    if (p >= end)
        return 0;
    int64_t v = int8_t(*p++);
    while (!(v & 1) && p < end)
        v = v * 128 + *p++;
    *pos = p;
    return int32_t(v >> 1);
}

}  // namespace mp4
