// Procedural pictures of the game: the browser thumbnail (a ship of the line at sea at sunset)
// and the emblem icon (a gold anchor on a navy disc).
#pragma once

#include <cstdint>
#include <vector>

namespace art {

constexpr uint32_t kThumbnailSize = 256;
constexpr uint32_t kIconSize = 32;

// kThumbnailSize^2 pixels of R, G, B, top row first.
std::vector<uint8_t> drawThumbnail();
// kIconSize^2 pixels of R, G, B, A (straight alpha), top row first.
std::vector<uint8_t> drawEmblem();

}  // namespace art
