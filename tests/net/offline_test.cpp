// Offline ping and pong, the broadcast ping inside a private network namespace, and datagrams
// that are not the transport's framing.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "net/rak_peer.h"
#include "tests/net/net_test_util.h"
#include "tests/net/raw_socket.h"

using namespace nettest;

namespace {

const std::vector<uint8_t> kMagic = {0xFF, 0xFF, 'P', 'W'};

std::vector<uint8_t> pingDatagram(uint32_t stamp, uint8_t flags = 0) {
    std::vector<uint8_t> d = kMagic;
    d.push_back(1);
    d.push_back(flags);
    for (int i = 0; i < 4; ++i)
        d.push_back(static_cast<uint8_t>(stamp >> (8 * i)));
    d.resize(16, 0);
    return d;
}

}  // namespace

TEST(OfflinePingTest, PingByAddressIsAnsweredWithPongAndReportedAsPing) {
    auto server = startPeer(4);
    auto client = startPeer(0);
    ASSERT_TRUE(server && client);
    const RakNetTime before = RakNet::GetTime();
    client->Ping("127.0.0.1", portOf(*server), false);
    Received pong, ping;
    ASSERT_TRUE(waitForId(*client, ID_PONG, 2000, &pong));
    ASSERT_EQ(pong.data.size(), 5u);
    EXPECT_EQ(pong.from, loopback(portOf(*server)));
    RakNetTime stamp;
    std::memcpy(&stamp, pong.data.data() + 1, 4);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, RakNet::GetTime());
    ASSERT_TRUE(waitForId(*server, ID_PING, 2000, &ping));
    EXPECT_EQ(ping.from, loopback(portOf(*client)));
}

TEST(OfflinePingTest, AcceptingOnlyAndBannedPingsGetNoPong) {
    auto server = startPeer(0);  // accepts nobody
    ASSERT_TRUE(server);
    RawSocket raw;
    raw.send(portOf(*server), pingDatagram(7, 1));
    EXPECT_TRUE(raw.receive(200).empty());
    raw.send(portOf(*server), pingDatagram(7, 0));
    const auto pong = raw.receive(2000);
    ASSERT_EQ(pong.size(), 9u);
    EXPECT_LE(pong.size(), pingDatagram(7).size());
    server->AddToBanList("127.0.0.*");
    raw.send(portOf(*server), pingDatagram(8, 0));
    EXPECT_TRUE(raw.receive(200).empty());
}

TEST(MalformedDatagramTest, DroppedWithoutReplyAndThePeerGoesOn) {
    auto server = startPeer(4, true);
    ASSERT_TRUE(server);
    const unsigned short port = portOf(*server);
    std::vector<std::vector<uint8_t>> rows = {
        {},
        {0x00},
        {0xFF, 0xFF},
        kMagic,
        {0xFF, 0xFF, 'P', 'W', 1},
    };
    auto ping = pingDatagram(5);
    rows.push_back({ping.begin(), ping.end() - 1});  // one byte short
    auto longPing = ping;
    longPing.push_back(0);
    rows.push_back(longPing);
    auto padded = ping;
    padded[15] = 1;
    rows.push_back(padded);
    rows.push_back(pingDatagram(5, 0x80));  // unknown flag
    auto request = kMagic;
    request.push_back(3);
    request.push_back(99);  // unknown version
    request.resize(32, 0);
    rows.push_back(request);
    request[5] = 1;  // the version before batches: its peers would drop batched data
    rows.push_back(request);
    request[5] = 2;  // the version before cipher offers: its peers refuse a server's offer
    rows.push_back(request);
    auto shortRequest = kMagic;
    shortRequest.push_back(3);
    shortRequest.push_back(1);
    shortRequest.resize(31, 0);
    rows.push_back(shortRequest);
    // An ENet CONNECT without a cookie: ENet would answer VERIFY_CONNECT if it saw it.
    std::vector<uint8_t> connect = {0x8F, 0xFF, 0x00, 0x00, 0x82, 0xFF, 0x00, 0x01};
    connect.resize(4 + 48, 0);
    rows.push_back(connect);
    rows.push_back(std::vector<uint8_t>(2000, 0xAB));
    std::mt19937 rng(42);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> g(1 + rng() % 1400);
        for (auto& b : g)
            b = static_cast<uint8_t>(rng());
        rows.push_back(g);
    }
    RawSocket raw;
    for (size_t i = 0; i < rows.size(); ++i) {
        raw.send(port, rows[i]);
        if (i < 20) {
            EXPECT_TRUE(raw.receive(30).empty()) << "row " << i;
        }
    }
    EXPECT_TRUE(raw.receive(200).empty());
    // Still serving: a well-formed ping is answered and a client connects and talks.
    raw.send(port, pingDatagram(6));
    EXPECT_EQ(raw.receive(2000).size(), 9u);
    auto client = startPeer(0);
    ASSERT_TRUE(client && connectPair(*client, *server));
    const char hello[] = {static_cast<char>(ID_USER_PACKET_ENUM), 'x'};
    ASSERT_TRUE(client->Send(hello, 2, HIGH_PRIORITY, RELIABLE_ORDERED, 0, loopback(port), false));
    EXPECT_TRUE(waitFor(*server, [](const Received& r) { return r.data.size() == 2 && r.data[1] == 'x'; }));
}

namespace {

// Runs in a child inside a fresh network namespace: pongs for pings to the broadcast addresses.
// Exit 0: all answered; 77: no namespace possible; 78: only 255.255.255.255 could not be set up.
int broadcastPingChild() {
    if (unshare(CLONE_NEWNET) != 0)
        return 77;
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &ifr) != 0)
        return 77;
    ifr.ifr_flags |= IFF_UP;
    if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0)
        return 77;
    ::close(s);
    auto server = startPeer(4, false, "");
    auto client = startPeer(0, false, "");
    if (!server || !client)
        return 2;
    const unsigned short port = portOf(*server);
    client->Ping("127.255.255.255", port, true);
    if (!waitForId(*client, ID_PONG, 2000) || !waitForId(*server, ID_PING, 2000))
        return 3;
    // 255.255.255.255 needs a route: a veth pair with a default route, all inside this namespace.
    if (std::system("ip link add pwv0 type veth peer name pwv1 >/dev/null 2>&1 && "
                    "ip addr add 10.213.0.1/24 dev pwv0 && ip link set pwv0 up && ip link set pwv1 up && "
                    "ip route add default dev pwv0") != 0)
        return 78;
    client->Ping("255.255.255.255", port, true);
    Received pong;
    if (!waitForId(*client, ID_PONG, 2000, &pong))
        return 4;
    return 0;
}

}  // namespace

TEST(OfflinePingTest, BroadcastPingInsideAPrivateNetworkNamespace) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        _exit(broadcastPingChild());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal";
    const int code = WEXITSTATUS(status);
    if (code == 77)
        GTEST_SKIP() << "cannot create a network namespace here (needs root and unshare)";
    if (code == 78)
        GTEST_SKIP() << "127.255.255.255 answered; no veth interface for 255.255.255.255 in this namespace";
    EXPECT_EQ(code, 0) << "1 setup, 2 start, 3 no pong to 127.255.255.255, 4 no pong to 255.255.255.255";
}
