#include "protocol/text.h"

namespace protocol {

std::u16string readWideText(const void* array, size_t units) {
    const auto* bytes = static_cast<const unsigned char*>(array);
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        char16_t c;
        std::memcpy(&c, bytes + 2 * i, sizeof c);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

void writeWideText(void* array, size_t units, std::u16string_view text) {
    auto* bytes = static_cast<unsigned char*>(array);
    const size_t n = text.size() < units ? text.size() : units;
    std::memcpy(bytes, text.data(), 2 * n);
    std::memset(bytes + 2 * n, 0, 2 * (units - n));
}

}  // namespace protocol
