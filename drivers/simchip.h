// The test interface every simulated chip library exports: tests and lumeo-probe find the
// chip in use through it and read back what it shows.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMCHIP_API __attribute__((visibility("default")))

// The screen's size as the user sees it (before the device opens).
SIMCHIP_API int SimChipScreen(int width, int height);
// Non-zero while the chip's device, video engine or display is started.
SIMCHIP_API int SimChipActive(void);
// Reads (write 0) or writes (write 1) the desktop, RGB 5-6-5, `stride` pixels a row.
SIMCHIP_API int SimChipDesktop(uint16_t* pixels, int stride, int write);
// The screen as the user sees it, the desktop with the overlay composited, RGB 8-8-8,
// width x height.
SIMCHIP_API int SimChipScanOut(uint8_t* rgb, int width, int height);
// The residual of every block decoded since the last frame start (64 values each, in the
// block's raster order, limited to -256..255), in the order decoded: copies at most
// `maxBlocks` and returns how many there are.
SIMCHIP_API int SimChipResiduals(int16_t* blocks, int maxBlocks);

#ifdef __cplusplus
}
#endif
