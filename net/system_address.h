// Address of a remote system: IPv4 address and UDP port, 8 bytes in memory.
#pragma once

#include <cstdint>

struct SystemAddress {
    uint32_t binaryAddress;  // network byte order: a.b.c.d is the bytes a, b, c, d
    uint16_t port;           // host byte order
    uint8_t padding[2];

    constexpr SystemAddress() : binaryAddress(0xFFFFFFFFu), port(0xFFFF), padding{0, 0} {}
    constexpr SystemAddress(uint32_t binary, uint16_t p) : binaryAddress(binary), port(p), padding{0, 0} {}

    // "a.b.c.d:port" (or "a.b.c.d" without the port); "UNASSIGNED_SYSTEM_ADDRESS" for the
    // unassigned value. The text lives in a per-thread buffer that the next call overwrites.
    const char* ToString(bool writePort = true) const;
    // Sets binaryAddress from dotted text; a text that is no address gives the unassigned ip.
    void SetBinaryAddress(const char* dotted);

    constexpr bool operator==(const SystemAddress& o) const { return binaryAddress == o.binaryAddress && port == o.port; }
    constexpr bool operator!=(const SystemAddress& o) const { return !(*this == o); }
    constexpr bool operator<(const SystemAddress& o) const {
        return binaryAddress < o.binaryAddress || (binaryAddress == o.binaryAddress && port < o.port);
    }
    constexpr bool operator>(const SystemAddress& o) const { return o < *this; }
};
static_assert(sizeof(SystemAddress) == 8);

inline constexpr SystemAddress UNASSIGNED_SYSTEM_ADDRESS{0xFFFFFFFFu, 0xFFFF};
