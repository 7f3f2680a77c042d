// The address value carried in records, and the three-float vector.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/system_address.h"
#include "protocol/export.h"

namespace KSTMP {

#pragma pack(push, 1)

// Address of a system: ip in network byte order (a.b.c.d is the bytes a, b, c, d), port in
// host order, two bytes of padding. Same memory layout as SystemAddress, but byte-aligned so it
// can sit anywhere inside a packed record. Padding never takes part in a comparison or an
// assignment.
struct KSTMP_API FakeAddress {
    uint32_t ip;
    uint16_t port;
    uint8_t padding[2];

    FakeAddress();  // zero address
    FakeAddress(const FakeAddress&) = default;
    constexpr FakeAddress(uint32_t ipValue, uint16_t portValue) : ip(ipValue), port(portValue), padding{0, 0} {}

    void clear();
    bool isEmpty() const;
    bool operator==(FakeAddress o) const;
    bool operator!=(const FakeAddress& o) const;
    // By ip as an unsigned 32-bit number, then by port.
    bool operator<(const FakeAddress& o) const;
    FakeAddress& operator=(const FakeAddress& o);
    FakeAddress& operator=(const SystemAddress& o);

    static constexpr FakeAddress unassigned() { return FakeAddress(0xFFFFFFFFu, 0xFFFF); }
    bool isUnassigned() const { return ip == 0xFFFFFFFFu && port == 0xFFFF; }
    bool operator==(const SystemAddress& o) const { return ip == o.binaryAddress && port == o.port; }
    SystemAddress toSystemAddress() const { return SystemAddress(ip, port); }
    // Sets ip and port and writes zero padding, as a sender does.
    void setFrom(const SystemAddress& o) {
        ip = o.binaryAddress;
        port = o.port;
        padding[0] = padding[1] = 0;
    }
};

struct KSTMP_API VC3 {
    float x;
    float y;
    float z;

    VC3();  // zero vector
    VC3(const VC3&) = default;
    constexpr VC3(float xValue, float yValue, float zValue) : x(xValue), y(yValue), z(zValue) {}
    VC3& operator=(const VC3& o);
};

#pragma pack(pop)

static_assert(sizeof(FakeAddress) == 8 && alignof(FakeAddress) == 1);
static_assert(offsetof(FakeAddress, ip) == 0 && offsetof(FakeAddress, port) == 4 && offsetof(FakeAddress, padding) == 6);
static_assert(sizeof(VC3) == 12 && alignof(VC3) == 1);
static_assert(offsetof(VC3, x) == 0 && offsetof(VC3, y) == 4 && offsetof(VC3, z) == 8);

}  // namespace KSTMP
