// Reliable ordered delivery and connection set-up through an impaired relay.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "net/rak_peer.h"
#include "tests/net/net_test_util.h"
#include "tests/net/udp_relay.h"

using namespace nettest;

namespace {

// Payload i of a stream: size 1..1200, content and a 4-byte index when it fits.
std::vector<uint8_t> payload(uint32_t i, uint8_t tag) {
    uint32_t x = i * 2246822519u + tag * 977u;
    size_t size = 1 + (x >> 9) % 1200;
    std::vector<uint8_t> p(size);
    p[0] = static_cast<uint8_t>(ID_USER_PACKET_ENUM + tag);
    for (size_t k = 1; k < size; ++k)
        p[k] = static_cast<uint8_t>(x >> (k % 3) * 8) ^ static_cast<uint8_t>(k);
    return p;
}

bool sendBytes(RakPeerInterface& p, const std::vector<uint8_t>& bytes, SystemAddress to) {
    return p.Send(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), HIGH_PRIORITY,
                  RELIABLE_ORDERED, 0, to, false);
}

struct Row {
    const char* name;
    Impairment impairment;
};

const Row kRows[] = {
    {"Loss10Delay50", {0.10, 0, 0, 50, 0, 0}},
    {"Loss5Delay10Reorder1", {0.05, 0, 0.01, 10, 0, 0}},
    {"Delay50Reorder30", {0, 0, 0.30, 50, 0, 0}},
    {"Loss25Dup25Jitter100", {0.25, 0.25, 0, 0, 100, 0}},
};

struct Case {
    Row row;
    bool secure;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(info.param.row.name) + (info.param.secure ? "Secured" : "Plain");
}

class ImpairedLink : public ::testing::TestWithParam<Case> {};

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const Row& r : kRows)
        for (bool secure : {false, true})
            cases.push_back({r, secure});
    return cases;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Net, ImpairedLink, ::testing::ValuesIn(allCases()), caseName);

TEST_P(ImpairedLink, EveryPayloadArrivesOnceInOrderBothWays) {
    const Case& c = GetParam();
    auto server = startPeer(4, c.secure);
    auto client = startPeer(0);
    ASSERT_TRUE(server && client);
    UdpRelay relay(portOf(*server), 7);
    relay.setImpairment(Direction::ToServer, c.row.impairment);
    relay.setImpairment(Direction::ToClient, c.row.impairment);
    const SystemAddress serverAddr = loopback(relay.port());
    ASSERT_TRUE(client->Connect("127.0.0.1", relay.port(), nullptr, 0));
    Received accepted;
    ASSERT_TRUE(waitForId(*client, ID_CONNECTION_REQUEST_ACCEPTED, 10000));
    ASSERT_TRUE(waitForId(*server, ID_NEW_INCOMING_CONNECTION, 10000, &accepted));
    const SystemAddress clientAddr = accepted.from;

    // About two seconds of traffic both ways, then everything must have arrived.
    constexpr uint32_t kCount = 600;
    uint32_t sent = 0, atServer = 0, atClient = 0;
    bool wrong = false, lost = false;
    auto drain = [&](RakPeerInterface& p, uint32_t& next, uint8_t tag) {
        while (Packet* packet = p.Receive()) {
            const unsigned char id = packet->data[0];
            if (id == ID_CONNECTION_LOST || id == ID_DISCONNECTION_NOTIFICATION || id == ID_MODIFIED_PACKET)
                lost = true;
            if (id >= ID_USER_PACKET_ENUM) {
                auto expected = payload(next, tag);
                if (next >= kCount || packet->length != expected.size() ||
                    std::memcmp(packet->data, expected.data(), expected.size()) != 0)
                    wrong = true;
                ++next;
            }
            p.DeallocatePacket(packet);
        }
    };
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(40);
    while ((atServer < kCount || atClient < kCount) && !wrong && !lost && std::chrono::steady_clock::now() < end) {
        const auto due = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count() *
            kCount / 2000);
        for (; sent < kCount && sent <= due; ++sent) {
            ASSERT_TRUE(sendBytes(*client, payload(sent, 1), serverAddr));
            ASSERT_TRUE(sendBytes(*server, payload(sent, 2), clientAddr));
        }
        drain(*server, atServer, 1);
        drain(*client, atClient, 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(wrong) << "a payload arrived changed, twice or out of order";
    EXPECT_FALSE(lost) << "the connection was lost";
    EXPECT_EQ(atServer, kCount);
    EXPECT_EQ(atClient, kCount);
    EXPECT_TRUE(client->IsConnected(serverAddr));
}

TEST(ImpairedHandshakeTest, FiftyConnectsInARowThroughThirtyPercentLoss) {
    auto server = startPeer(64, true, "127.0.0.1", 0, 64);
    ASSERT_TRUE(server);
    UdpRelay relay(portOf(*server), 11);
    const Impairment lossy{0.30, 0, 0, 0, 0, 0};
    relay.setImpairment(Direction::ToServer, lossy);
    relay.setImpairment(Direction::ToClient, lossy);
    int succeeded = 0;
    // Every client stays up: a reused port would meet its predecessor's connection, which the
    // server still holds while the lossy link swallows the goodbye.
    std::vector<PeerPtr> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(startPeer(0));
        RakPeerInterface* client = clients.back().get();
        ASSERT_TRUE(client);
        ASSERT_TRUE(client->Connect("127.0.0.1", relay.port(), nullptr, 0));
        Received r;
        bool ok = waitFor(
            *client,
            [&](const Received& x) {
                r = x;
                return x.data.size() == 1 && (x.data[0] == ID_CONNECTION_REQUEST_ACCEPTED ||
                                              x.data[0] == ID_CONNECTION_ATTEMPT_FAILED ||
                                              x.data[0] == ID_NO_FREE_INCOMING_CONNECTIONS ||
                                              x.data[0] == ID_ALREADY_CONNECTED);
            },
            12000);
        if (ok && r.data[0] == ID_CONNECTION_REQUEST_ACCEPTED)
            ++succeeded;
        else
            ADD_FAILURE() << "connect " << i << " ended with " << (ok ? int(r.data[0]) : -1);
    }
    EXPECT_EQ(succeeded, 50);
}

TEST(ImpairedHandshakeTest, CorruptedSecuredLinkNeverDeliversAChangedPayload) {
    struct Row {
        const char* what;
        Impairment impairment;
        bool someArrive;  // with every third byte changed nothing gets through, which is right
    };
    Impairment perDatagram{}, perByte{};
    perDatagram.corrupt = 0.30;
    perByte.corruptBytes = 0.30;
    const Row rows[] = {{"30% of datagrams", perDatagram, true}, {"30% of bytes", perByte, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto server = startPeer(4, true);
        auto client = startPeer(0);
        ASSERT_TRUE(server && client);
        UdpRelay relay(portOf(*server), 13);
        const SystemAddress serverAddr = loopback(relay.port());
        ASSERT_TRUE(client->Connect("127.0.0.1", relay.port(), nullptr, 0));
        ASSERT_TRUE(waitForId(*client, ID_CONNECTION_REQUEST_ACCEPTED, 5000));
        relay.setImpairment(Direction::ToServer, row.impairment);
        relay.setImpairment(Direction::ToClient, row.impairment);
        std::set<std::vector<uint8_t>> valid;
        constexpr uint32_t kCount = 400;
        for (uint32_t i = 0; i < kCount; ++i)
            valid.insert(payload(i, 3));
        int delivered = 0, modified = 0;
        bool changed = false;
        for (uint32_t i = 0; i < kCount; ++i) {
            sendBytes(*client, payload(i, 3), serverAddr);
            if (i % 20 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < end) {
            Packet* p = server->Receive();
            if (!p) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (p->data[0] == ID_MODIFIED_PACKET)
                ++modified;
            if (p->data[0] >= ID_USER_PACKET_ENUM) {
                ++delivered;
                if (!valid.count(std::vector<uint8_t>(p->data, p->data + p->length)))
                    changed = true;
            }
            server->DeallocatePacket(p);
        }
        EXPECT_FALSE(changed) << "a corrupted payload was delivered";
        if (row.someArrive) {
            EXPECT_GT(modified, 0);
            EXPECT_GT(delivered, 0);
        }
    }
}
