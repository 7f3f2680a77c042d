// PNG encoding of 8-bit RGB pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace art {

// Pixels are rows of R, G, B bytes, top row first; width * height * 3 bytes.
std::vector<uint8_t> encodePngRgb(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height);

}  // namespace art
