#include "gamedef/art/png_writer.h"

#include <zlib.h>

#include <cstdlib>
#include <stdexcept>

namespace art {
namespace {

void putBe32(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data)
{
    putBe32(out, uint32_t(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeAt, uInt(out.size() - typeAt));
    putBe32(out, uint32_t(crc));
}

uint8_t paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Filters one row with each of the five filters and keeps the one with the smallest sum of
// absolute values, the usual heuristic for photographic content.
void filterRow(const uint8_t* row, const uint8_t* prev, size_t n, std::vector<uint8_t>& out)
{
    std::vector<uint8_t> best, trial(n);
    long bestScore = -1;
    for (uint8_t type = 0; type < 5; ++type) {
        long score = 0;
        for (size_t i = 0; i < n; ++i) {
            const int a = i >= 3 ? row[i - 3] : 0;
            const int b = prev ? prev[i] : 0;
            const int c = (prev && i >= 3) ? prev[i - 3] : 0;
            int predictor = 0;
            switch (type) {
            case 1: predictor = a; break;
            case 2: predictor = b; break;
            case 3: predictor = (a + b) / 2; break;
            case 4: predictor = paeth(a, b, c); break;
            default: break;
            }
            trial[i] = uint8_t(row[i] - predictor);
            score += trial[i] < 128 ? trial[i] : 256 - trial[i];
        }
        if (bestScore < 0 || score < bestScore) {
            bestScore = score;
            best.assign(1, type);
            best.insert(best.end(), trial.begin(), trial.end());
        }
    }
    out.insert(out.end(), best.begin(), best.end());
}

}  // namespace

std::vector<uint8_t> encodePngRgb(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height)
{
    const size_t stride = size_t(width) * 3;
    if (rgb.size() != stride * height)
        throw std::invalid_argument("pixel buffer does not match the picture size");

    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * height);
    for (uint32_t y = 0; y < height; ++y)
        filterRow(&rgb[y * stride], y ? &rgb[(y - 1) * stride] : nullptr, stride, raw);

    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib compression failed");
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    putBe32(header, width);
    putBe32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit depth, RGB, deflate, adaptive filter, no interlace

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", {});
    return png;
}

}  // namespace art
