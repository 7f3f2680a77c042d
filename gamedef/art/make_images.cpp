// Writes the game's thumbnail (PNG) and icon (ICO) into the folder given as the only argument.
#include "gamedef/art/artwork.h"
#include "gamedef/art/ico_writer.h"
#include "gamedef/art/png_writer.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    try {
        const bool ok =
            writeFile(dir + "/thumbnail.png", art::encodePngRgb(art::drawThumbnail(), art::kThumbnailSize, art::kThumbnailSize)) &&
            writeFile(dir + "/covemark.ico", art::encodeIconRgba(art::drawEmblem(), art::kIconSize));
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
