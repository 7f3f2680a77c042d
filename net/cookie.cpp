#include "net/cookie.h"

#include <cstring>

namespace pwnet {

CookieJar::CookieJar() { randombytes_buf(key_, sizeof key_); }

CookieJar::~CookieJar() { sodium_memzero(key_, sizeof key_); }

uint32_t CookieJar::compute(uint32_t ip, uint16_t port, int64_t window) const {
    uint8_t msg[14];
    std::memcpy(msg, &ip, 4);
    msg[4] = static_cast<uint8_t>(port);
    msg[5] = static_cast<uint8_t>(port >> 8);
    for (int i = 0; i < 8; ++i)
        msg[6 + i] = static_cast<uint8_t>(static_cast<uint64_t>(window) >> (8 * i));
    uint8_t mac[crypto_shorthash_BYTES];
    crypto_shorthash(mac, msg, sizeof msg, key_);
    uint32_t cookie;
    std::memcpy(&cookie, mac, 4);
    return cookie;
}

uint32_t CookieJar::make(uint32_t ip, uint16_t port, int64_t nowMs) const {
    return compute(ip, port, nowMs / kWindowMs);
}

bool CookieJar::check(uint32_t ip, uint16_t port, uint32_t cookie, int64_t nowMs) const {
    int64_t window = nowMs / kWindowMs;
    return cookie == compute(ip, port, window) || cookie == compute(ip, port, window - 1);
}

}  // namespace pwnet
