// Packed sample tables of the MP4 reader: each value is stored as a residual against a
// prediction from the two values before it, in 1-5 bytes of signed 7-bit groups. Key sample
// numbers use the linear predictor (second differences), sample sizes the two-back one.
#pragma once

#include <cstdint>

namespace mp4 {

// Writes e as 1-5 bytes at out; returns the number of bytes.
int PackResidual(uint8_t* out, int32_t e);

// Reads one residual at *pos (advanced); at end the residual is 0 and *pos stays.
int32_t UnpackResidual(const uint8_t** pos, const uint8_t* end);

// Prediction state of one packed stream: previous value and previous difference.
struct Predictor {
    uint32_t prev = 0;
    uint32_t delta = 0;
};

// Residual to store for v (arithmetic modulo 2^32, so any 32-bit table fits in 5 bytes).
inline int32_t LinearResidual(Predictor& p, uint32_t v)
{
    uint32_t d = v - p.prev;
    int32_t e = int32_t(d - p.delta);
    p.delta = d;
    p.prev = v;
    return e;
}

inline int32_t TwoBackResidual(Predictor& p, uint32_t v)
{
    uint32_t d = v - p.prev;
    int32_t e = int32_t(d + p.delta);
    p.delta = d;
    p.prev = v;
    return e;
}

// Readers: delta and value are kept by the caller (they live in the track's cursor).
// At the end of the table the value read is 0 and the position stays.
inline int32_t NextLinear(const uint8_t** pos, const uint8_t* end, int32_t* delta, int32_t* value)
{
    if (*pos >= end)
        return *value = 0;
    uint32_t e = uint32_t(UnpackResidual(pos, end));
    *delta = int32_t(e + uint32_t(*delta));
    *value = int32_t(uint32_t(*value) + uint32_t(*delta));
    return *value;
}

inline int32_t NextTwoBack(const uint8_t** pos, const uint8_t* end, int32_t* delta, int32_t* value)
{
    if (*pos >= end)
        return *value = 0;
    uint32_t e = uint32_t(UnpackResidual(pos, end));
    *delta = int32_t(e - uint32_t(*delta));
    *value = int32_t(uint32_t(*value) + uint32_t(*delta));
    return *value;
}

}  // namespace mp4
