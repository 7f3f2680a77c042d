// Icon file (.ico) holding one 32-bit colour image.
#pragma once

#include <cstdint>
#include <vector>

namespace art {

// Pixels are rows of R, G, B, A bytes, top row first; size * size * 4 bytes, size <= 255.
std::vector<uint8_t> encodeIconRgba(const std::vector<uint8_t>& rgba, uint32_t size);

}  // namespace art
