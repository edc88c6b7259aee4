// Small JPEG pictures made on demand, one look per seed.
#pragma once

#include <string>

// A width x height baseline JPEG with a pattern chosen by `seed`.
std::string MakeJpeg(unsigned seed, int width, int height);
