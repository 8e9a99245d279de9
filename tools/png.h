// RGBA pictures as PNG files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orovox/records.h"

namespace Orovox {

// The PNG encoding of `pixels` (width x height, row after row, top row first).
std::string EncodePng(const std::vector<Rgba32Pixel>& pixels, int32_t width, int32_t height);

}  // namespace Orovox
