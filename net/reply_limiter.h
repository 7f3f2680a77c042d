// Caps on replies to addresses that are not connected, per source IPv4 address and in total,
// per second. Fixed memory: counters in a keyed hash table, cleared each second.
#pragma once

#include <sodium.h>

#include <cstdint>

namespace pwnet {

class ReplyLimiter {
public:
    // A LAN server browser sends a handful of datagrams per scan; 50 bots behind one address
    // need about one request each (a few with retries). Both stay far below these.
    static constexpr uint32_t kPerAddressPerSecond = 200;
    static constexpr uint32_t kTotalPerSecond = 4000;
    static constexpr uint32_t kBuckets = 4096;

    ReplyLimiter();
    // True when one more reply to ip (network byte order) is within both caps; counts it.
    bool allow(uint32_t ip, int64_t nowMs);

private:
    int64_t second_ = -1;
    uint32_t total_ = 0;
    uint16_t counts_[kBuckets] = {};
    uint8_t key_[crypto_shorthash_KEYBYTES];
};

}  // namespace pwnet
