// Secured connections seen from a relay in the middle: no plain text, tampering detected,
// replays not delivered.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "net/rak_peer.h"
#include "tests/net/net_test_util.h"
#include "tests/net/udp_relay.h"

using namespace nettest;

namespace {

const std::string kMarker = "KNOWN-PLAINTEXT-MARKER-4711";

bool contains(const std::vector<uint8_t>& d, const std::string& s) {
    return std::search(d.begin(), d.end(), s.begin(), s.end()) != d.end();
}

int occurrences(const std::vector<uint8_t>& d, const std::string& s) {
    int n = 0;
    for (auto it = d.begin(); (it = std::search(it, d.end(), s.begin(), s.end())) != d.end(); ++it)
        ++n;
    return n;
}

std::vector<uint8_t> markedPayload(size_t size, char fill) {
    std::vector<uint8_t> p(size, static_cast<uint8_t>(fill));
    p[0] = ID_USER_PACKET_ENUM;
    std::memcpy(p.data() + 1, kMarker.data(), kMarker.size());
    return p;
}

bool sendBytes(RakPeerInterface& p, const std::vector<uint8_t>& bytes, SystemAddress to) {
    return p.Send(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), HIGH_PRIORITY,
                  RELIABLE_ORDERED, 0, to, false);
}

struct Linked {
    PeerPtr server, client;
    std::unique_ptr<UdpRelay> relay;
    SystemAddress serverViaRelay, clientAtServer;
};

Linked linkThroughRelay(bool secure) {
    Linked l;
    l.server = startPeer(4, secure);
    l.client = startPeer(0);
    l.relay = std::make_unique<UdpRelay>(portOf(*l.server));
    l.serverViaRelay = loopback(l.relay->port());
    if (!l.client->Connect("127.0.0.1", l.relay->port(), nullptr, 0))
        return l;
    Received r;
    if (waitForId(*l.client, ID_CONNECTION_REQUEST_ACCEPTED, 4000) &&
        waitForId(*l.server, ID_NEW_INCOMING_CONNECTION, 4000, &r))
        l.clientAtServer = r.from;
    return l;
}

class RelayModes : public ::testing::TestWithParam<bool> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Net, RelayModes, ::testing::Values(false, true), SecurityName());

// On a plain connection the relay does see the marker, which shows that its scan works.
TEST_P(RelayModes, RelaySeesTheMarkerOnlyOnPlainConnections) {
    const bool secure = GetParam();
    std::atomic<int> sightings{0};
    Linked l = linkThroughRelay(secure);
    ASSERT_NE(l.clientAtServer, UNASSIGNED_SYSTEM_ADDRESS);
    l.relay->setFilter([&](Direction, std::vector<uint8_t>& d) {
        sightings += occurrences(d, kMarker);
        return true;
    });
    constexpr int kEach = 100;
    for (int i = 0; i < kEach; ++i) {
        ASSERT_TRUE(sendBytes(*l.client, markedPayload(40 + i * 7, 'c'), l.serverViaRelay));
        ASSERT_TRUE(sendBytes(*l.server, markedPayload(40 + i * 11, 's'), l.clientAtServer));
    }
    int atServer = 0, atClient = 0;
    auto count = [&](int& n) {
        return [&n](const Received& r) { return r.data.size() > kMarker.size() && contains(r.data, kMarker) && ++n == kEach; };
    };
    EXPECT_TRUE(waitFor(*l.server, count(atServer), 5000));
    EXPECT_TRUE(waitFor(*l.client, count(atClient), 5000));
    if (secure) {
        EXPECT_EQ(sightings.load(), 0);
    } else {
        EXPECT_GE(sightings.load(), 2 * kEach);
    }
}

TEST(SecureRelayTest, FlippedByteYieldsModifiedPacketAndNoCorruptPayload) {
    Linked l = linkThroughRelay(true);
    ASSERT_NE(l.clientAtServer, UNASSIGNED_SYSTEM_ADDRESS);
    const auto big = markedPayload(700, 'b');
    std::atomic<bool> flipped{false};
    l.relay->setFilter([&](Direction d, std::vector<uint8_t>& bytes) {
        if (d == Direction::ToServer && bytes.size() > 700 && !flipped.exchange(true))
            bytes[bytes.size() / 2] ^= 0x20;
        return true;
    });
    const std::vector<uint8_t> after = {ID_USER_PACKET_ENUM, 'n', 'e', 'x', 't'};
    ASSERT_TRUE(sendBytes(*l.client, big, l.serverViaRelay));
    ASSERT_TRUE(sendBytes(*l.client, after, l.serverViaRelay));
    std::vector<Received> seen;
    ASSERT_TRUE(waitFor(*l.server, [&](const Received& r) { return r.data == after; }, 4000, &seen));
    ASSERT_TRUE(flipped.load());
    bool modified = false;
    for (const auto& r : seen) {
        if (r.data.size() == 1 && r.data[0] == ID_MODIFIED_PACKET) {
            modified = true;
            EXPECT_EQ(r.from, l.clientAtServer);
        }
        if (r.data.size() > 1 && r.data != after) {
            EXPECT_EQ(r.data, big) << "a changed payload was delivered";
        }
    }
    EXPECT_TRUE(modified);
    EXPECT_TRUE(l.server->IsConnected(l.clientAtServer));
}

TEST(SecureRelayTest, ReplayedDatagramIsNotDeliveredTwice) {
    Linked l = linkThroughRelay(true);
    ASSERT_NE(l.clientAtServer, UNASSIGNED_SYSTEM_ADDRESS);
    std::mutex m;
    std::vector<uint8_t> captured;
    l.relay->setFilter([&](Direction d, std::vector<uint8_t>& bytes) {
        std::lock_guard<std::mutex> lock(m);
        if (d == Direction::ToServer && bytes.size() > 300 && captured.empty())
            captured = bytes;
        return true;
    });
    const auto big = markedPayload(320, 'r');
    ASSERT_TRUE(sendBytes(*l.client, big, l.serverViaRelay));
    ASSERT_TRUE(waitFor(*l.server, [&](const Received& r) { return r.data == big; }));
    std::vector<uint8_t> replay;
    {
        std::lock_guard<std::mutex> lock(m);
        replay = captured;
    }
    ASSERT_FALSE(replay.empty());
    for (int i = 0; i < 3; ++i)
        l.relay->inject(Direction::ToServer, replay);
    const std::vector<uint8_t> after = {ID_USER_PACKET_ENUM, 'e', 'n', 'd'};
    ASSERT_TRUE(sendBytes(*l.client, after, l.serverViaRelay));
    std::vector<Received> seen;
    ASSERT_TRUE(waitFor(*l.server, [&](const Received& r) { return r.data == after; }, 3000, &seen));
    for (const auto& r : seen)
        EXPECT_NE(r.data, big) << "replayed payload delivered again";
}
