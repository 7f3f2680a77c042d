// Stateless connection cookies: a keyed MAC over the requester's address, port and a coarse
// time window. The server keeps nothing per requester; a cookie proves the requester receives
// datagrams at the address it claims.
#pragma once

#include <sodium.h>

#include <cstdint>

namespace pwnet {

class CookieJar {
public:
    static constexpr int64_t kWindowMs = 10000;
    CookieJar();  // fresh random key
    ~CookieJar();
    // ip in network byte order, port in host order.
    uint32_t make(uint32_t ip, uint16_t port, int64_t nowMs) const;
    // Valid for the current and the previous window (10 to 20 s).
    bool check(uint32_t ip, uint16_t port, uint32_t cookie, int64_t nowMs) const;

private:
    uint32_t compute(uint32_t ip, uint16_t port, int64_t window) const;
    uint8_t key_[crypto_shorthash_KEYBYTES];
};

}  // namespace pwnet
