#include "net/ban_list.h"

#include <arpa/inet.h>
#include <cstring>

namespace pwnet {

bool parseBanPattern(const char* text, int16_t octets[4]) {
    if (!text)
        return false;
    size_t len = strnlen(text, 16);
    if (len < 1 || len > 15)
        return false;
    int part = 0;
    size_t i = 0;
    while (part < 4) {
        if (i < len && text[i] == '*') {
            octets[part] = -1;
            ++i;
        } else {
            int value = 0, digits = 0;
            while (i < len && text[i] >= '0' && text[i] <= '9' && digits < 4) {
                value = value * 10 + (text[i] - '0');
                ++i;
                ++digits;
            }
            if (digits == 0 || digits > 3 || value > 255)
                return false;
            octets[part] = static_cast<int16_t>(value);
        }
        ++part;
        if (part < 4) {
            if (i >= len || text[i] != '.')
                return false;
            ++i;
        }
    }
    return i == len;
}

bool BanList::add(const char* text, uint32_t durationMs, int64_t nowMs) {
    int16_t octets[4];
    if (!parseBanPattern(text, octets))
        return false;
    int64_t expires = durationMs ? nowMs + durationMs : 0;
    for (auto& e : entries_) {
        if (e.text == text) {
            e.expiresMs = expires;
            return true;
        }
    }
    Entry e{text, {octets[0], octets[1], octets[2], octets[3]}, expires};
    entries_.push_back(e);
    return true;
}

bool BanList::matches(uint32_t ip, int64_t nowMs) const {
    const auto* b = reinterpret_cast<const unsigned char*>(&ip);
    for (const auto& e : entries_) {
        if (e.expiresMs && nowMs >= e.expiresMs)
            continue;
        bool all = true;
        for (int k = 0; k < 4 && all; ++k)
            all = e.octet[k] < 0 || e.octet[k] == b[k];
        if (all)
            return true;
    }
    return false;
}

bool BanList::matchesText(const char* ip, int64_t nowMs) const {
    in_addr a{};
    if (!ip || inet_pton(AF_INET, ip, &a) != 1)
        return false;
    return matches(a.s_addr, nowMs);
}

}  // namespace pwnet
