// Connections over real UDP on loopback: delivery, addresses, broadcast and every connection event.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "net/rak_peer.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

// Payload number i of a stream: deterministic size 1..1200 and content.
std::vector<uint8_t> payload(uint32_t i, uint8_t tag) {
    uint32_t x = i * 2654435761u + tag;
    size_t size = 1 + (x >> 7) % 1200;
    if (i % 97 == 0)
        size = 1200;
    std::vector<uint8_t> p(size);
    p[0] = static_cast<uint8_t>(ID_USER_PACKET_ENUM + tag);
    for (size_t k = 1; k < size; ++k)
        p[k] = static_cast<uint8_t>(x + k * 31);
    return p;
}

bool sendBytes(RakPeerInterface& p, const std::vector<uint8_t>& bytes, SystemAddress to, bool broadcast = false) {
    return p.Send(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), HIGH_PRIORITY,
                  RELIABLE_ORDERED, 0, to, broadcast);
}

bool isUser(const Received& r) { return !r.data.empty() && r.data[0] >= ID_USER_PACKET_ENUM; }

class SecurityModes : public ::testing::TestWithParam<bool> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Net, SecurityModes, ::testing::Values(false, true), SecurityName());

TEST_P(SecurityModes, HelloTellsEachSideItsAddress) {
    ConnectedPair pair(GetParam());
    ASSERT_TRUE(pair.up());
    auto& [server, client, serverAddr, clientAddr] = pair;
    EXPECT_EQ(client->GetExternalID(serverAddr), clientAddr);
    EXPECT_EQ(client->GetExternalID(UNASSIGNED_SYSTEM_ADDRESS), clientAddr);
    EXPECT_EQ(server->GetExternalID(clientAddr), serverAddr);
    EXPECT_EQ(server->GetExternalID(loopback(1)), UNASSIGNED_SYSTEM_ADDRESS);
    EXPECT_EQ(server->GetInternalID(clientAddr), clientAddr);
    EXPECT_TRUE(server->IsConnected(clientAddr));
    EXPECT_EQ(server->GetSystemAddressFromIndex(0), clientAddr);
    EXPECT_EQ(server->GetSystemAddressFromIndex(1), UNASSIGNED_SYSTEM_ADDRESS);
    SystemAddress list[4];
    unsigned short n = 4;
    ASSERT_TRUE(server->GetConnectionList(list, &n));
    ASSERT_EQ(n, 1);
    EXPECT_EQ(list[0], clientAddr);
    n = 0;
    server->GetConnectionList(list, &n);
    EXPECT_EQ(n, 0);  // writes at most the given number
    EXPECT_EQ(server->GetStatistics(loopback(1)), nullptr);
    // The connection's first ping comes back within moments.
    for (int i = 0; i < 200 && server->GetAveragePing(clientAddr) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(server->GetAveragePing(clientAddr), 0);
    EXPECT_EQ(server->GetAveragePing(loopback(1)), -1);
    EXPECT_TRUE(sendBytes(*client, payload(1, 0), serverAddr));
    ASSERT_TRUE(waitFor(*server, isUser));
    RakNetStatistics* s = server->GetStatistics(clientAddr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->messagesReceived, 1u);
    EXPECT_EQ(s->bytesReceived, payload(1, 0).size());
    EXPECT_GT(s->datagramsReceived, 0u);
}

TEST_P(SecurityModes, TenThousandMixedPayloadsArriveInOrderBothWays) {
    ConnectedPair pair(GetParam());
    ASSERT_TRUE(pair.up());
    auto& [server, client, serverAddr, clientAddr] = pair;
    constexpr uint32_t kCount = 10000;
    uint32_t nextAtServer = 0, nextAtClient = 0, sent = 0;
    bool mismatch = false;
    auto drain = [&](RakPeerInterface& p, uint32_t& next, uint8_t tag) {
        while (Packet* packet = p.Receive()) {
            if (packet->length && packet->data[0] >= ID_USER_PACKET_ENUM) {
                auto expected = payload(next, tag);
                if (packet->length != expected.size() || std::memcmp(packet->data, expected.data(), expected.size()))
                    mismatch = true;
                ++next;
            }
            p.DeallocatePacket(packet);
        }
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((nextAtServer < kCount || nextAtClient < kCount) && !mismatch && std::chrono::steady_clock::now() < end) {
        for (int k = 0; k < 50 && sent < kCount; ++k, ++sent) {
            ASSERT_TRUE(sendBytes(*client, payload(sent, 1), serverAddr));
            ASSERT_TRUE(sendBytes(*server, payload(sent, 2), clientAddr));
        }
        drain(*server, nextAtServer, 1);
        drain(*client, nextAtClient, 2);
        if (sent == kCount)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(mismatch);
    EXPECT_EQ(nextAtServer, kCount);
    EXPECT_EQ(nextAtClient, kCount);
}

TEST(ConnectionTest, BroadcastReachesEveryoneAndTargetedSendOnlyItsTarget) {
    auto server = startPeer(8);
    ASSERT_TRUE(server);
    std::vector<PeerPtr> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(startPeer(0));
        ASSERT_TRUE(clients.back() && connectPair(*clients.back(), *server));
    }
    const std::vector<uint8_t> all = {ID_USER_PACKET_ENUM, 'a'}, only = {ID_USER_PACKET_ENUM, 'o'},
                               sentinel = {ID_USER_PACKET_ENUM, 's'};
    ASSERT_TRUE(sendBytes(*server, all, UNASSIGNED_SYSTEM_ADDRESS, true));
    ASSERT_TRUE(sendBytes(*server, only, loopback(portOf(*clients[1]))));
    ASSERT_TRUE(sendBytes(*server, sentinel, UNASSIGNED_SYSTEM_ADDRESS, true));
    for (int i = 0; i < 3; ++i) {
        std::vector<Received> seen;
        ASSERT_TRUE(waitFor(*clients[i], [&](const Received& r) { return r.data == sentinel; }, 3000, &seen));
        std::vector<std::vector<uint8_t>> user;
        for (auto& r : seen)
            if (isUser(r))
                user.push_back(r.data);
        std::vector<std::vector<uint8_t>> expected = {all};
        if (i == 1)
            expected.push_back(only);
        expected.push_back(sentinel);
        EXPECT_EQ(user, expected) << "client " << i;
    }
    // A broadcast with an address leaves that system out.
    ASSERT_TRUE(sendBytes(*server, all, loopback(portOf(*clients[0])), true));
    ASSERT_TRUE(sendBytes(*server, sentinel, UNASSIGNED_SYSTEM_ADDRESS, true));
    std::vector<Received> seen;
    ASSERT_TRUE(waitFor(*clients[0], [&](const Received& r) { return r.data == sentinel; }, 3000, &seen));
    for (auto& r : seen)
        EXPECT_NE(r.data, all);
}

TEST(ConnectionEventTest, NobodyListeningEndsWithAttemptFailed) {
    // A bound socket that never answers.
    auto silent = startPeer(0);
    auto client = startPeer(0);
    ASSERT_TRUE(silent && client);
    const unsigned short port = portOf(*silent);
    silent->Shutdown(0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client->Connect("127.0.0.1", port, nullptr, 0));
    EXPECT_FALSE(client->Connect("127.0.0.1", port, nullptr, 0));  // already connecting
    EXPECT_TRUE(client->IsConnected(loopback(port), true));
    EXPECT_FALSE(client->IsConnected(loopback(port)));
    Received r;
    ASSERT_TRUE(waitForId(*client, ID_CONNECTION_ATTEMPT_FAILED, 8000, &r));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(3500));
    EXPECT_LE(took, std::chrono::milliseconds(6000));
    EXPECT_EQ(r.from, loopback(port));
    EXPECT_EQ(r.data.size(), 1u);
    EXPECT_FALSE(client->IsConnected(loopback(port), true));
}

TEST(ConnectionEventTest, ClosedConnectionNotifiesTheOtherSide) {
    auto server = startPeer(4);
    auto client = startPeer(0);
    ASSERT_TRUE(server && client && connectPair(*client, *server));
    const SystemAddress clientAddr = loopback(portOf(*client)), serverAddr = loopback(portOf(*server));
    EXPECT_FALSE(client->Connect("127.0.0.1", portOf(*server), nullptr, 0));  // connected already
    // Data queued before the close still arrives, then the notification.
    const std::vector<uint8_t> last = {ID_USER_PACKET_ENUM, 'z'};
    ASSERT_TRUE(sendBytes(*client, last, serverAddr));
    client->CloseConnection(serverAddr, true);
    EXPECT_FALSE(client->IsConnected(serverAddr));
    std::vector<Received> seen;
    Received r;
    ASSERT_TRUE(waitFor(*server, [&](const Received& x) { r = x; return x.data[0] == ID_DISCONNECTION_NOTIFICATION; },
                        3000, &seen));
    EXPECT_EQ(r.from, clientAddr);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2].data, last);
    EXPECT_FALSE(server->IsConnected(clientAddr));

    // Shutdown with a block time tells the remote too.
    ASSERT_TRUE(connectPair(*client, *server));
    server->Shutdown(300);
    ASSERT_TRUE(waitForId(*client, ID_DISCONNECTION_NOTIFICATION, 3000, &r));
    EXPECT_EQ(r.from, serverAddr);
}

TEST(ConnectionEventTest, CloseAndShutdownRightAfterABurstDeliverItAndTheNotice) {
    auto server = startPeer(4);
    auto client = startPeer(0);
    ASSERT_TRUE(server && client && connectPair(*client, *server));
    const SystemAddress serverAddr = loopback(portOf(*server));
    constexpr uint32_t kCount = 2000;
    for (uint32_t i = 0; i < kCount; ++i)
        ASSERT_TRUE(sendBytes(*client, payload(i, 3), serverAddr));
    client->CloseConnection(serverAddr, true);
    client->Shutdown(300);
    std::vector<Received> seen;
    ASSERT_TRUE(waitFor(*server, [](const Received& x) { return x.data[0] == ID_DISCONNECTION_NOTIFICATION; }, 1000,
                        &seen));
    uint32_t next = 0;
    for (const Received& r : seen) {
        if (isUser(r)) {
            ASSERT_EQ(r.data, payload(next, 3)) << "payload " << next;
            ++next;
        }
    }
    EXPECT_EQ(next, kCount);
}

TEST(ConnectionEventTest, KilledRemoteIsLostAfterTheTimeOut) {
    ChildProcess child([](unsigned short port) {
        auto client = startPeer(0);
        if (!client || !client->Connect("127.0.0.1", port, nullptr, 0))
            return 1;
        for (;;)
            pause();
    });
    ASSERT_TRUE(child.started());
    auto server = startPeer(4);
    ASSERT_TRUE(server);
    server->SetTimeoutTime(1000, UNASSIGNED_SYSTEM_ADDRESS);
    child.tellPort(portOf(*server));
    Received r;
    bool connected = waitForId(*server, ID_NEW_INCOMING_CONNECTION, 5000, &r);
    child.kill();
    child.wait();
    ASSERT_TRUE(connected);
    ASSERT_TRUE(waitForId(*server, ID_CONNECTION_LOST, 5000, &r));
    EXPECT_FALSE(server->IsConnected(r.from));
}

TEST(ConnectionEventTest, ReconnectFromAnAddressStillConnectedGetsAlreadyConnected) {
    auto server = startPeer(4);
    auto first = startPeer(0);
    ASSERT_TRUE(server && first && connectPair(*first, *server));
    const unsigned short clientPort = portOf(*first);
    // The first program vanishes without a word; the server still holds its connection.
    first->CloseConnection(loopback(portOf(*server)), false);
    first.reset();
    auto second = startPeer(0, false, "127.0.0.1", clientPort);
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->Connect("127.0.0.1", portOf(*server), nullptr, 0));
    EXPECT_TRUE(waitForId(*second, ID_ALREADY_CONNECTED, 3000));
}

TEST(ConnectionEventTest, BannedAddressIsRefusedWhileConnectedOnesStay) {
    auto server = startPeer(8);
    auto stays = startPeer(0, false, "127.0.0.6");
    auto banned = startPeer(0, false, "127.0.0.5");
    auto other = startPeer(0, false, "127.0.0.7");
    ASSERT_TRUE(server && stays && banned && other);
    ASSERT_TRUE(connectPair(*stays, *server));
    server->AddToBanList("127.0.0.5");
    server->AddToBanList("127.0.*.6");
    EXPECT_TRUE(server->IsBanned("127.0.9.6"));
    EXPECT_FALSE(server->IsBanned("127.0.0.7"));
    ASSERT_TRUE(banned->Connect("127.0.0.1", portOf(*server), nullptr, 0));
    Received r;
    ASSERT_TRUE(waitForId(*banned, ID_CONNECTION_BANNED, 3000, &r));
    EXPECT_EQ(r.from, loopback(portOf(*server)));
    ASSERT_TRUE(connectPair(*other, *server));
    EXPECT_TRUE(server->IsConnected(loopback(portOf(*stays), "127.0.0.6")));
    const std::vector<uint8_t> hello = {ID_USER_PACKET_ENUM, 'h'};
    ASSERT_TRUE(sendBytes(*stays, hello, loopback(portOf(*server))));
    EXPECT_TRUE(waitFor(*server, [&](const Received& x) { return x.data == hello; }));
}

TEST(ConnectionEventTest, FullServerAndWrongPasswordAreRefused) {
    auto server = startPeer(1);
    auto a = startPeer(0), b = startPeer(0);
    ASSERT_TRUE(server && a && b);
    ASSERT_TRUE(connectPair(*a, *server));
    ASSERT_TRUE(b->Connect("127.0.0.1", portOf(*server), nullptr, 0));
    EXPECT_TRUE(waitForId(*b, ID_NO_FREE_INCOMING_CONNECTIONS, 3000));

    auto guarded = startPeer(4, true);
    ASSERT_TRUE(guarded);
    guarded->SetIncomingPassword("sesame", 6);
    ASSERT_TRUE(b->Connect("127.0.0.1", portOf(*guarded), "sesam", 5));
    EXPECT_TRUE(waitForId(*b, ID_INVALID_PASSWORD, 3000));
    ASSERT_TRUE(b->Connect("127.0.0.1", portOf(*guarded), "sesame", 6));
    EXPECT_TRUE(waitForId(*b, ID_CONNECTION_REQUEST_ACCEPTED, 3000));

    auto closed = startPeer(0);  // the default maximum of incoming connections
    PeerPtr fresh(RakNetworkFactory::GetRakPeerInterface());
    EXPECT_EQ(fresh->GetMaximumIncomingConnections(), 0);
    ASSERT_TRUE(b->Connect("127.0.0.1", portOf(*closed), nullptr, 0));
    EXPECT_TRUE(waitForId(*b, ID_NO_FREE_INCOMING_CONNECTIONS, 3000));
}

TEST(ConnectionTest, SurvivesAnApplicationThatDoesNotCallThePeer) {
    auto server = startPeer(4, true);
    auto client = startPeer(0);
    ASSERT_TRUE(server && client);
    server->SetTimeoutTime(1000, UNASSIGNED_SYSTEM_ADDRESS);
    client->SetTimeoutTime(1000, UNASSIGNED_SYSTEM_ADDRESS);
    ASSERT_TRUE(connectPair(*client, *server));
    // Three time-outs long, nobody calls either peer.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const SystemAddress serverAddr = loopback(portOf(*server));
    EXPECT_TRUE(client->IsConnected(serverAddr));
    EXPECT_TRUE(server->IsConnected(loopback(portOf(*client))));
    const std::vector<uint8_t> ping = {ID_USER_PACKET_ENUM, 'p'};
    ASSERT_TRUE(sendBytes(*client, ping, serverAddr));
    std::vector<Received> seen;
    ASSERT_TRUE(waitFor(*server, [&](const Received& x) { return x.data == ping; }, 3000, &seen));
    for (auto& r : seen)
        EXPECT_NE(r.data[0], ID_CONNECTION_LOST);
}

TEST(ConnectionTest, StartupOnATakenPortFails) {
    auto first = startPeer(0);
    ASSERT_TRUE(first);
    PeerPtr second(RakNetworkFactory::GetRakPeerInterface());
    SocketDescriptor sd(portOf(*first), "");
    EXPECT_FALSE(second->Startup(4, 30, &sd, 1));
    EXPECT_FALSE(second->IsActive());
    EXPECT_FALSE(second->Connect("127.0.0.1", portOf(*first), nullptr, 0));
    SocketDescriptor bad(0, "no.such.address");
    EXPECT_FALSE(second->Startup(4, 30, &bad, 1));
    EXPECT_FALSE(second->Startup(0, 30, nullptr, 0));
    EXPECT_TRUE(second->Startup(4, 30, nullptr, 0));
}
