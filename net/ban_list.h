// Banned IPv4 patterns: four octets, each a number or '*', with an optional expiry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pwnet {

class BanList {
public:
    // Adds (or renews) a pattern of 1 to 15 characters; durationMs 0 bans for good.
    // Returns false for a text that is no pattern.
    bool add(const char* text, uint32_t durationMs, int64_t nowMs);
    // ip in network byte order.
    bool matches(uint32_t ip, int64_t nowMs) const;
    bool matchesText(const char* ip, int64_t nowMs) const;
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::string text;
        int16_t octet[4];  // -1: any
        int64_t expiresMs;  // 0: never
    };
    std::vector<Entry> entries_;
};

// Parses "a.b.c.d" where each part is 0..255 or '*'; false for anything else.
bool parseBanPattern(const char* text, int16_t octets[4]);

}  // namespace pwnet
