// Secured connections seen from a relay in the middle: no plain text, tampering detected,
// replays not delivered.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "net/rak_peer.h"
#include "net/secure_channel.h"
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

// Starts a peer that runs only the ciphers of `mask` (0: all this machine runs).
PeerPtr startLimited(uint8_t mask, unsigned short maxIncoming, bool secure) {
    pwnet::limitLocalCiphers(mask);
    PeerPtr p = startPeer(maxIncoming, secure);
    pwnet::limitLocalCiphers(0);
    return p;
}

Linked linkThroughRelay(bool secure, uint8_t serverCiphers = 0, uint8_t clientCiphers = 0) {
    Linked l;
    l.server = startLimited(serverCiphers, 4, secure);
    l.client = startLimited(clientCiphers, 0, false);
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

// Secured links that run one cipher at both ends.
class SecureRelayTest : public ::testing::TestWithParam<uint8_t> {
protected:
    void SetUp() override {
        if (!(pwnet::localCiphers() & GetParam()))
            GTEST_SKIP() << "this CPU has no AES instructions";
    }
    Linked link() { return linkThroughRelay(true, GetParam(), GetParam()); }
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Ciphers, SecureRelayTest,
                         nettest::kBothCiphers,
                         nettest::CipherName());

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

TEST_P(SecureRelayTest, FlippedByteYieldsModifiedPacketAndNoCorruptPayload) {
    Linked l = link();
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

TEST_P(SecureRelayTest, ReplayedDatagramIsNotDeliveredTwice) {
    Linked l = link();
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

// Peers that run different sets of ciphers agree on one both run, and payloads pass both ways
// unseen; with none in common the attempt fails as one that nobody answers.
TEST(CipherNegotiationTest, MixedPeersAgreeOrFail) {
    using namespace pwnet;
    if (!(localCiphers() & kCipherAes256Gcm))
        GTEST_SKIP() << "this CPU has no AES instructions";
    const uint8_t both = kCipherChaCha20Poly1305 | kCipherAes256Gcm;
    struct Row {
        const char* name;
        uint8_t server, client;
        bool connects;
    } rows[] = {
        {"client without AES", both, kCipherChaCha20Poly1305, true},
        {"server without AES", kCipherChaCha20Poly1305, both, true},
        {"AES only at both ends", kCipherAes256Gcm, kCipherAes256Gcm, true},
        {"nothing in common", kCipherAes256Gcm, kCipherChaCha20Poly1305, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.connects) {
            PeerPtr server = startLimited(row.server, 4, true), client = startLimited(row.client, 0, false);
            ASSERT_TRUE(client->Connect("127.0.0.1", portOf(*server), nullptr, 0));
            std::vector<Received> seenByServer;
            EXPECT_TRUE(waitForId(*client, ID_CONNECTION_ATTEMPT_FAILED, 2000));
            waitFor(*server, [](const Received&) { return false; }, 200, &seenByServer);
            for (const auto& r : seenByServer)
                EXPECT_NE(r.data[0], ID_NEW_INCOMING_CONNECTION);
            continue;
        }
        Linked l = linkThroughRelay(true, row.server, row.client);
        ASSERT_NE(l.clientAtServer, UNASSIGNED_SYSTEM_ADDRESS);
        std::atomic<int> sightings{0};
        l.relay->setFilter([&](Direction, std::vector<uint8_t>& d) {
            sightings += occurrences(d, kMarker);
            return true;
        });
        const auto up = markedPayload(200, 'u'), down = markedPayload(300, 'd');
        ASSERT_TRUE(sendBytes(*l.client, up, l.serverViaRelay));
        ASSERT_TRUE(sendBytes(*l.server, down, l.clientAtServer));
        EXPECT_TRUE(waitFor(*l.server, [&](const Received& r) { return r.data == up; }));
        EXPECT_TRUE(waitFor(*l.client, [&](const Received& r) { return r.data == down; }));
        EXPECT_EQ(sightings.load(), 0);
    }
}
