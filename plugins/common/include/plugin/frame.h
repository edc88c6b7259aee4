// What every plug-in file shares: its two entry points and the media-time rule.
#pragma once

#include <cstdint>

#include "core/common.h"

#define DLLEXPORT extern "C" __attribute__((visibility("default")))

// The two entry points of a plug-in file.
DLLEXPORT int DLLRegister(int version);
DLLEXPORT int DLLUnRegister();

// a x b / c with a 64-bit product, truncated toward zero; 0 when c is 0. Not the
// platform's rounding MulDiv.
inline int MulDiv(int a, int b, int c) {
    if (c == 0) return 0;
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(a) * b / c)));
}

// Media time: ticks of 1/16384 s.
#define TICKSPERSEC 16384
