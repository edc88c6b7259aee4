// lumeo-probe's video-output options (see docs/video-outputs.md).
#pragma once

#include <cstdint>
#include <string>

namespace core {

// The desktop the probe paints on the simulated screen: 16-pixel squares of two greys
// (RGB 5-6-5), the light one at the top left.
constexpr uint16_t kDesktopLight = 0x8410;
constexpr uint16_t kDesktopDark = 0x4208;

struct VideoOutOptions {
    std::string cls;
    std::string yuv;
    std::string size;
    std::string screen;
    std::string rect;
    int direction = 0;
    std::string shot;
};

// "class <FOURCC> parent=<FOURCC> priority=<n>" for every registered class.
int ProbeClasses();
// The planar 4:2:0 frames of a file through an overlay class; a PNG of the screen after
// the last one. 0, or 1 after an "error" line.
int ProbeVideoOut(const VideoOutOptions& options, const std::string& programFolder);
// The IEEE 1180 accuracy procedure through an overlay's IDCT face and its simulated chip.
int ProbeIdctCheck(const std::string& cls, const std::string& programFolder);

}  // namespace core
