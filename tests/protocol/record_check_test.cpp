#include <gtest/gtest.h>

#include <cstring>

#include "protocol/record_kinds.h"
#include "record_samples.h"

namespace {

TEST(RecordCheck, AcceptsWellFormedRecordOfEveryType) {
    for (const RecordSample& s : allRecordSamples()) {
        SCOPED_TRACE(s.type);
        Bytes b = s.make();
        EXPECT_TRUE(protocol::isWellFormedRecord(b.data(), b.size()));
        b.push_back(0);  // a longer packet still holds the record
        EXPECT_TRUE(protocol::isWellFormedRecord(b.data(), b.size()));
    }
}

TEST(RecordCheck, RejectsMalformedBuffers) {
    auto withSize = [](Bytes b, int32_t size) {
        std::memcpy(b.data() + 6, &size, 4);
        return b;
    };
    auto withId = [](Bytes b, uint8_t id) {
        b[5] = id;
        return b;
    };
    const Bytes ship = freshImage<KSTMP::ShipInfo>();
    struct Case {
        const char* what;
        Bytes data;
        size_t length;
    };
    std::vector<Case> cases = {
        {"one byte short", ship, ship.size() - 1},
        {"header size larger", withSize(ship, 146), ship.size()},
        {"header size smaller", withSize(ship, 144), ship.size()},
        {"unknown identifier 90", withId(ship, 90), ship.size()},
        {"unknown identifier 124", withId(ship, 124), ship.size()},
        {"reserved 104", withSize(withId(ship, 104), 145), ship.size()},
        {"reserved 119", withId(ship, 119), ship.size()},
        {"reserved 120", withId(ship, 120), ship.size()},
        {"no time stamp marker", [&] { Bytes b = ship; b[0] = 95; return b; }(), ship.size()},
        {"shorter than a header", ship, 27},
        {"empty", ship, 0},
    };
    // Every type one byte short and with a header size one too large.
    for (const RecordSample& s : allRecordSamples()) {
        const Bytes b = s.make();
        cases.push_back({"short", b, b.size() - 1});
        cases.push_back({"size", withSize(b, s.size + 1), b.size()});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The checked length is all the check may read; copy exactly that much.
        Bytes exact(c.data.begin(), c.data.begin() + c.length);
        EXPECT_FALSE(protocol::isWellFormedRecord(exact.data(), exact.size()));
    }
    EXPECT_FALSE(protocol::isWellFormedRecord(nullptr, 100));
}

TEST(PacketIdentifier, ClassifiesByMarker) {
    struct Case {
        Bytes data;
        uint8_t expected;
    };
    const Case cases[] = {
        {{25, 0, 0, 0, 0, 95, 1}, 95},  // time stamp marker: the sixth byte
        {{16, 25, 0, 0, 0, 95}, 16},    // otherwise the first byte
        {{25, 0, 0, 0, 0}, 255},        // marker without a sixth byte
        {{}, 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(protocol::packetIdentifier(c.data.empty() ? nullptr : c.data.data(), c.data.size()), c.expected);
}

}  // namespace
