#include <gtest/gtest.h>

#include <cstring>

#include "protocol/address.h"
#include "protocol/transit_time.h"

namespace {

using KSTMP::FakeAddress;

FakeAddress makeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port, uint8_t pad = 0) {
    const uint8_t bytes[8] = {a, b, c, d, uint8_t(port), uint8_t(port >> 8), pad, pad};
    FakeAddress f;
    std::memcpy(static_cast<void*>(&f), bytes, 8);
    return f;
}

TEST(FakeAddress, DefaultIsEmptyZeroAddress) {
    FakeAddress f;
    EXPECT_TRUE(f.isEmpty());
    EXPECT_EQ(uint32_t(f.ip), 0u);
    EXPECT_EQ(int(f.port), 0);
    f = makeAddress(0, 0, 0, 0, 1);
    EXPECT_FALSE(f.isEmpty());
    f = makeAddress(0, 0, 0, 1, 0);
    EXPECT_FALSE(f.isEmpty());
    f.clear();
    EXPECT_TRUE(f.isEmpty());
}

TEST(FakeAddress, EqualityAndOrder) {
    struct Case {
        const char* what;
        FakeAddress a, b;
        bool equal, less, greater;
    };
    const Case cases[] = {
        {"padding ignored", makeAddress(10, 0, 0, 1, 5, 0x00), makeAddress(10, 0, 0, 1, 5, 0x7F), true, false, false},
        {"port only differs", makeAddress(10, 0, 0, 1, 4), makeAddress(10, 0, 0, 1, 5), false, true, false},
        // ip is compared as the unsigned number read from its four bytes: the last byte weighs most
        {"smaller ip wins over port", makeAddress(1, 0, 0, 9, 9000), makeAddress(2, 0, 0, 9, 1), false, true, false},
        {"unsigned ip", makeAddress(0, 0, 0, 0x80, 1), makeAddress(0, 0, 0, 0x7F, 1), false, false, true},
        {"unsigned port", makeAddress(1, 1, 1, 1, 0x8000), makeAddress(1, 1, 1, 1, 0x7FFF), false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.a != c.b, !c.equal);
        EXPECT_EQ(c.a < c.b, c.less);
        EXPECT_EQ(c.b < c.a, c.greater);
    }
}

TEST(FakeAddress, AssignmentCopiesIpAndPortOnly) {
    FakeAddress to = makeAddress(0, 0, 0, 0, 0, 0x33);
    SystemAddress sys(0x0100007F, 61216);
    sys.padding[0] = sys.padding[1] = 0x44;
    to = sys;
    EXPECT_EQ(uint32_t(to.ip), 0x0100007Fu);
    EXPECT_EQ(int(to.port), 61216);
    EXPECT_EQ(to.padding[0], 0x33);
    EXPECT_EQ(to.padding[1], 0x33);
    EXPECT_TRUE(to == sys);
    EXPECT_EQ(to.toSystemAddress(), sys);

    to = makeAddress(192, 168, 0, 1, 80, 0x55);
    EXPECT_EQ(to, makeAddress(192, 168, 0, 1, 80));
    EXPECT_EQ(to.padding[0], 0x33);
}

TEST(TransitTime, AddsDelayModulo65536) {
    struct Case {
        uint16_t transit;
        uint32_t now, stamp;
        uint16_t expected;
    };
    const Case cases[] = {
        {65535, 1002, 1000, 1},        // 65535 plus a delay of 2 reads 1
        {0, 0x00020001, 0x0001FFFF, 2},  // the clocks' low 16 bits wrap between stamp and now
        {10, 500, 500, 10},
    };
    for (const Case& c : cases) EXPECT_EQ(protocol::addTransitTime(c.transit, c.now, c.stamp), c.expected);
}

}  // namespace
