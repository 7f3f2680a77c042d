// Messages sent in quick succession share datagrams: over real UDP a burst mixing channels,
// kinds of delivery and sizes arrives whole and in order, in far fewer datagrams than messages;
// and a batch as the receiver takes it in is read only as far as its entries hold.
#include <gtest/gtest.h>

#include <map>

#include "net/fuzz_intake.h"
#include "net/rak_peer.h"
#include "net/wire.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

struct Kind {
    PacketReliability reliability;
    char channel;
};

// Message i of a burst: runs of eight messages take the kinds of the table in turn; the size
// cycles through 1..80, with every 50th message larger than a batch holds.
constexpr Kind kKinds[] = {{RELIABLE_ORDERED, 0}, {RELIABLE_ORDERED, 0}, {RELIABLE_ORDERED, 1},
                           {RELIABLE, 0},         {RELIABLE_ORDERED, 0}, {RELIABLE_ORDERED, 2}};

const Kind& kindOf(uint32_t i) { return kKinds[i / 8 % std::size(kKinds)]; }

std::vector<uint8_t> message(uint32_t i) {
    size_t size = i % 50 == 49 ? 3000 : 1 + i * 7 % 80;
    std::vector<uint8_t> m(std::max<size_t>(size, 6));
    m[0] = ID_USER_PACKET_ENUM;
    std::memcpy(m.data() + 1, &i, 4);
    for (size_t k = 5; k < m.size(); ++k)
        m[k] = static_cast<uint8_t>(i * 13 + k);
    return m;
}

uint32_t numberOf(const std::vector<uint8_t>& m) {
    uint32_t i;
    std::memcpy(&i, m.data() + 1, 4);
    return i;
}

class BurstModes : public ::testing::TestWithParam<bool> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Net, BurstModes, ::testing::Values(false, true), SecurityName());

TEST_P(BurstModes, MixedBurstArrivesWholeInOrderAndShareDatagrams) {
    ConnectedPair pair(GetParam());
    ASSERT_TRUE(pair.up());
    auto& [server, client, serverAddr, clientAddr] = pair;
    const RakNetStatistics before = *client->GetStatistics(serverAddr);

    constexpr uint32_t kCount = 1000;
    for (uint32_t i = 0; i < kCount; ++i) {
        const auto m = message(i);
        const Kind& k = kindOf(i);
        ASSERT_TRUE(client->Send(reinterpret_cast<const char*>(m.data()), static_cast<int>(m.size()), HIGH_PRIORITY,
                                 k.reliability, k.channel, serverAddr, false));
    }
    // The sender never asks for input again: what the burst left queued goes by itself.
    std::vector<Received> seen;
    size_t got = 0;
    waitFor(
        *server, [&](const Received& r) { return r.data[0] == ID_USER_PACKET_ENUM && ++got == kCount; }, 10000, &seen);
    ASSERT_EQ(got, kCount);

    std::vector<bool> arrived(kCount);
    std::map<char, uint32_t> lastOrdered;
    for (const Received& r : seen) {
        if (r.data[0] != ID_USER_PACKET_ENUM)
            continue;
        const uint32_t i = numberOf(r.data);
        ASSERT_LT(i, kCount);
        EXPECT_FALSE(arrived[i]) << "message " << i << " twice";
        arrived[i] = true;
        EXPECT_EQ(r.data, message(i)) << "message " << i;
        EXPECT_EQ(r.from, clientAddr);
        const Kind& k = kindOf(i);
        if (k.reliability == RELIABLE_ORDERED) {
            if (lastOrdered.count(k.channel)) {
                EXPECT_GT(i, lastOrdered[k.channel]) << "channel " << int(k.channel) << " out of order";
            }
            lastOrdered[k.channel] = i;
        }
    }
    // ENet's count of packets sent: the small messages of a run go as one, each large one in
    // three fragments.
    const uint64_t packets = client->GetStatistics(serverAddr)->datagramsSent - before.datagramsSent;
    EXPECT_LT(packets, kCount / 4) << "the burst was not coalesced";
}

// A message too large for a batch goes to ENet as its own packet; in a burst, as alone, it
// leaves with its Send instead of waiting for the network thread.
TEST_P(BurstModes, LargeMessageLeavesWithItsSend) {
    ConnectedPair pair(GetParam());
    ASSERT_TRUE(pair.up());
    auto& [server, client, serverAddr, clientAddr] = pair;
    const std::vector<uint8_t> big = message(49);  // 3000 bytes
    for (int i = 0; i < 10; ++i) {
        const uint64_t before = client->GetStatistics(serverAddr)->datagramsSent;
        ASSERT_TRUE(client->Send(reinterpret_cast<const char*>(big.data()), static_cast<int>(big.size()),
                                 HIGH_PRIORITY, RELIABLE_ORDERED, 0, serverAddr, false));
        EXPECT_GT(client->GetStatistics(serverAddr)->datagramsSent, before) << "send " << i << " stayed queued";
    }
    size_t got = 0;
    EXPECT_TRUE(waitFor(*server, [&](const Received& r) { return r.data == big && r.from == clientAddr && ++got == 10; }));
}

TEST(BatchIntakeTest, EntriesAreReadAsFarAsTheyHold) {
    using Bytes = std::vector<uint8_t>;
    auto entry = [](Bytes payload) {
        Bytes e{static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
        e.insert(e.end(), payload.begin(), payload.end());
        return e;
    };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all{pwnet::kInnerBatch};
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Bytes a{ID_USER_PACKET_ENUM, 'a'}, b{ID_USER_PACKET_ENUM, 'b', 'b', 'b'};
    const struct {
        const char* name;
        Bytes batch;
        std::vector<Bytes> delivered;
    } rows[] = {
        {"two entries", join({entry(a), entry(b)}), {a, b}},
        {"length past the end", join({entry(a), Bytes{9, 0, 1, 2}}), {a}},
        {"empty entry ends it", join({entry(a), Bytes{0, 0}, entry(b)}), {a}},
        {"lone length byte", join({entry(b), Bytes{1}}), {b}},
        {"nothing after the kind", join({}), {}},
        {"length near 64 KiB", join({Bytes{0xFF, 0xFF, 1}}), {}},
    };
    for (bool secured : {false, true}) {
        pwnet::fuzz::IntakeServer server(secured);
        for (const auto& row : rows) {
            if (secured)
                server.sealedOnConnection(row.batch.data(), row.batch.size(), 1);
            else
                server.messageOnConnection(row.batch.data(), row.batch.size());
            std::vector<Bytes> got;
            for (const auto& d : server.takeDelivered())
                if (d.id >= ID_USER_PACKET_ENUM)
                    got.push_back(d.bytes);
            EXPECT_EQ(got, row.delivered) << row.name << (secured ? ", secured" : ", plain");
            EXPECT_TRUE(server.connected()) << row.name;
        }
    }
}
