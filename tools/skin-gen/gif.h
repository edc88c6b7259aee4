// Animated GIF89a files, written from whole frames.
#pragma once

#include "paint.h"

#include <string>
#include <vector>

namespace skin {

// Writes the frames as a looping animation. The palette holds the 255 most used colours
// of the frames (others take the nearest; index 255 is transparency). Each frame after
// the first holds only the rectangle that changed, with unchanged pixels transparent.
bool WriteGif(const std::string& path, const std::vector<Picture>& frames, int delayCentiseconds);

}  // namespace skin
