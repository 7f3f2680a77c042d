#include "gamedef/art/ico_writer.h"

#include <stdexcept>

namespace art {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, uint16_t(v));
    put16(out, uint16_t(v >> 16));
}

}  // namespace

std::vector<uint8_t> encodeIconRgba(const std::vector<uint8_t>& rgba, uint32_t size)
{
    if (size == 0 || size > 255 || rgba.size() != size_t(size) * size * 4)
        throw std::invalid_argument("pixel buffer does not match the icon size");

    const uint32_t maskStride = ((size + 31) / 32) * 4;  // 1 bit per pixel, rows padded to 32 bits
    const uint32_t imageBytes = 40 + size * size * 4 + maskStride * size;

    std::vector<uint8_t> out;
    // Icon directory with one entry; the image follows at offset 22.
    put16(out, 0);
    put16(out, 1);
    put16(out, 1);
    out.push_back(uint8_t(size));
    out.push_back(uint8_t(size));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(out, 1);   // planes
    put16(out, 32);  // bits per pixel
    put32(out, imageBytes);
    put32(out, 22);

    // Bitmap header: the height counts the colour image and the mask.
    put32(out, 40);
    put32(out, size);
    put32(out, size * 2);
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);  // uncompressed
    put32(out, size * size * 4 + maskStride * size);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);

    // Colour rows bottom-up in B, G, R, A order, then the transparency mask, also bottom-up.
    for (uint32_t y = size; y-- > 0;)
        for (uint32_t x = 0; x < size; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    for (uint32_t y = size; y-- > 0;) {
        std::vector<uint8_t> row(maskStride, 0);
        for (uint32_t x = 0; x < size; ++x)
            if (rgba[(size_t(y) * size + x) * 4 + 3] == 0)
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace art
