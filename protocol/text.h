// Text in fixed arrays: shorter text ends with a zero character, text that fills the array
// has none. Readers never pass the array's end.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace protocol {

template <size_t N>
std::string readText(const char (&array)[N]) {
    return std::string(array, strnlen(array, N));
}

// Copies at most N characters and zero-fills the rest of the array.
template <size_t N>
void writeText(char (&array)[N], std::string_view text) {
    const size_t n = text.size() < N ? text.size() : N;
    std::memcpy(array, text.data(), n);
    std::memset(array + n, 0, N - n);
}

// Wide arrays sit at any address inside a packed record, so they are passed as raw memory:
// `array` is the field, `units` its length in UTF-16 units.
std::u16string readWideText(const void* array, size_t units);
void writeWideText(void* array, size_t units, std::u16string_view text);

}  // namespace protocol
