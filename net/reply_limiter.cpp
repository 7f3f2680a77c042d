#include "net/reply_limiter.h"

#include <cstring>

namespace pwnet {

ReplyLimiter::ReplyLimiter() { randombytes_buf(key_, sizeof key_); }

bool ReplyLimiter::allow(uint32_t ip, int64_t nowMs) {
    const int64_t second = nowMs / 1000;
    if (second != second_) {
        second_ = second;
        total_ = 0;
        std::memset(counts_, 0, sizeof counts_);
    }
    if (total_ >= kTotalPerSecond)
        return false;
    // Keyed, so a sender cannot pick addresses that share another address's counter.
    uint8_t hash[crypto_shorthash_BYTES];
    crypto_shorthash(hash, reinterpret_cast<const uint8_t*>(&ip), sizeof ip, key_);
    uint32_t bucket;
    std::memcpy(&bucket, hash, sizeof bucket);
    bucket %= kBuckets;
    if (counts_[bucket] >= kPerAddressPerSecond)
        return false;
    ++counts_[bucket];
    ++total_;
    return true;
}

}  // namespace pwnet
