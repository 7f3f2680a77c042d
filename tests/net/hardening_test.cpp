// Unconnected replies are never larger than their requests and are capped; a flood of
// connection requests from many addresses allocates nothing while a real client gets through.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "net/rak_peer.h"
#include "net/wire.h"
#include "tests/net/net_test_util.h"
#include "tests/net/raw_socket.h"

using namespace nettest;

namespace {

const std::vector<uint8_t> kMagic = {0xFF, 0xFF, 'P', 'W'};
constexpr unsigned kPerAddressCap = 200;  // replies per second to one address

std::vector<uint8_t> ping() {
    std::vector<uint8_t> d = kMagic;
    d.push_back(1);
    d.resize(16, 0);
    return d;
}

std::vector<uint8_t> connectRequest(uint32_t nonce) {
    std::vector<uint8_t> d = kMagic;
    d.push_back(3);
    d.push_back(pwnet::kProtocolVersion);
    for (int i = 0; i < 4; ++i)
        d.push_back(static_cast<uint8_t>(nonce >> (8 * i)));
    d.resize(32, 0);
    return d;
}

// An ENet CONNECT as a client without a valid cookie would send it.
std::vector<uint8_t> enetConnect(uint32_t cookie) {
    std::vector<uint8_t> d = {0x8F, 0xFF, 0x00, 0x10,   // peer id 0xFFF with sent time
                              0x82, 0xFF, 0x00, 0x01,   // CONNECT needing acknowledgement
                              0x00, 0x00, 0xFF, 0xFF};  // outgoing peer id, session ids
    auto put32 = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i)
            d.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put32(1400);    // mtu
    put32(32768);   // window
    put32(8);       // channels
    put32(0);
    put32(0);
    put32(5000);
    put32(2);
    put32(2);
    put32(0x12345678);  // connect id
    put32(cookie);
    return d;
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Waits until the next whole second of the monotonic clock has just begun, so a short burst
// falls into one second of the reply caps.
void alignToSecond() {
    for (;;) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count() %
                  1000;
        if (ms < 50)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 - ms));
    }
}

}  // namespace

TEST(ReplySizeTest, NoUnconnectedReplyIsLargerThanItsRequest) {
    auto open = startPeer(4);
    auto banning = startPeer(4);
    auto full = startPeer(0);
    ASSERT_TRUE(open && banning && full);
    banning->AddToBanList("127.0.0.1");
    struct Kind {
        const char* name;
        RakPeerInterface* server;
        std::vector<uint8_t> request;
        size_t expectedReply;  // for the request at its own size
    };
    const std::vector<Kind> kinds = {
        {"ping", open.get(), ping(), 9},
        {"connect request", open.get(), connectRequest(1), 13},
        {"banned", banning.get(), connectRequest(2), 10},
        {"full", full.get(), connectRequest(3), 10},
        {"enet connect", open.get(), enetConnect(0), 0},
    };
    const size_t sizes[] = {1, 4, 5, 8, 9, 10, 12, 13, 15, 16, 17, 31, 32, 33, 48, 60, 100, 1400};
    RawSocket raw;
    for (const Kind& k : kinds) {
        for (size_t n : sizes) {
            auto request = k.request;
            request.resize(n, 0);
            raw.send(portOf(*k.server), request);
            auto reply = raw.receive(n == k.request.size() && k.expectedReply ? 2000 : 25);
            EXPECT_LE(reply.size(), n) << k.name << " request of " << n << " bytes";
            if (n == k.request.size())
                EXPECT_EQ(reply.size(), k.expectedReply) << k.name;
            else
                EXPECT_TRUE(reply.empty()) << k.name << " answered a malformed request of " << n << " bytes";
        }
    }
}

TEST(ReplyCapTest, BurstFromOneAddressIsCappedWhileOthersAreAnswered) {
    auto server = startPeer(4);
    ASSERT_TRUE(server);
    const unsigned short port = portOf(*server);
    RawSocket flooder("127.0.0.2"), other("127.0.0.3");
    ASSERT_TRUE(flooder.ok() && other.ok());
    alignToSecond();
    for (int i = 0; i < 600; ++i)
        flooder.send(port, ping());
    other.send(port, ping());
    EXPECT_EQ(other.receive(2000).size(), 9u) << "another address lost its pong";
    unsigned pongs = 0;
    while (!flooder.receive(100).empty())
        ++pongs;
    EXPECT_EQ(pongs, kPerAddressCap);
    unsigned pings = 0;
    while (Packet* p = server->Receive()) {
        if (p->data[0] == ID_PING && p->systemAddress.port != 0 && p->systemAddress != loopback(0, "127.0.0.3"))
            ++pings;
        server->DeallocatePacket(p);
    }
    EXPECT_LE(pings, kPerAddressCap + 1);
}

TEST(ReplyCapTest, FiftyClientsAndAServerBrowserOnOneAddressNeverHitTheCaps) {
    auto server = startPeer(64, true, "127.0.0.1", 0, 64);
    ASSERT_TRUE(server);
    const unsigned short port = portOf(*server);
    std::vector<PeerPtr> bots;
    for (int i = 0; i < 50; ++i) {
        bots.push_back(startPeer(0, false, "127.0.0.4"));
        ASSERT_TRUE(bots.back());
    }
    alignToSecond();
    for (auto& b : bots)
        ASSERT_TRUE(b->Connect("127.0.0.1", port, nullptr, 0));
    for (int i = 0; i < 5; ++i)
        bots[i]->Ping("127.0.0.1", port, false);  // a browser scan from the same address
    int accepted = 0, pongs = 0;
    for (auto& b : bots) {
        std::vector<Received> seen;
        waitFor(*b, [](const Received& r) { return r.data[0] == ID_CONNECTION_REQUEST_ACCEPTED; }, 6000, &seen);
        for (auto& r : seen) {
            accepted += r.data[0] == ID_CONNECTION_REQUEST_ACCEPTED;
            pongs += r.data[0] == ID_PONG;
        }
    }
    for (int i = 0; i < 5; ++i)
        if (waitForId(*bots[i], ID_PONG, pongs >= 5 ? 1 : 500))
            ++pongs;
    EXPECT_EQ(accepted, 50);
    EXPECT_EQ(pongs, 5);
}

namespace {

// One socket that sends from any 127.x.y.z it likes (IP_PKTINFO) and hears the replies.
class SpoofingSender {
public:
    SpoofingSender() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~SpoofingSender() { ::close(fd_); }
    bool ok() const { return ok_; }
    bool sendFrom(uint32_t sourceIp, unsigned short port, const std::vector<uint8_t>& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        iovec iov{const_cast<uint8_t*>(bytes.data()), bytes.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = sourceIp;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        return ::sendmsg(fd_, &msg, 0) == static_cast<ssize_t>(bytes.size());
    }
    // Counts replies: our cookies and anything else (an ENet answer would mean a peer was allocated).
    void drain(int& cookies, int& other) {
        uint8_t buffer[2048];
        while (true) {
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0)
                return;
            if (n == 13 && std::memcmp(buffer, kMagic.data(), 4) == 0 && buffer[4] == 4)
                ++cookies;
            else
                ++other;
        }
    }

private:
    int fd_;
    bool ok_ = false;
};

}  // namespace

TEST(FloodTest, ThousandUnprovenAddressesAllocateNothingAndARealClientGetsThrough) {
    auto server = startPeer(16, true);
    ASSERT_TRUE(server);
    const unsigned short port = portOf(*server);
    SpoofingSender flood;
    ASSERT_TRUE(flood.ok());
    std::vector<uint32_t> sources;
    for (int i = 0; i < 1000; ++i) {
        in_addr a{};
        std::string text = "127.1." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        inet_pton(AF_INET, text.c_str(), &a);
        sources.push_back(a.s_addr);
    }
    ASSERT_TRUE(flood.sendFrom(sources[0], port, connectRequest(0))) << "cannot send from chosen loopback addresses";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int cookies = 0, other = 0;
    flood.drain(cookies, other);
    auto client = startPeer(0);
    ASSERT_TRUE(client);
    std::atomic<long> before{0}, after{0};

    // Rounds over the thousand addresses, about two seconds in all; the sender never answers a
    // cookie (it only counts what comes back). Memory is measured after the first round, when
    // this thread and every buffer exist, and at the end.
    std::thread flooding([&] {
        std::mt19937 rng(5);
        // Built once and changed in place: the sender itself must not churn the heap.
        auto request = connectRequest(0);
        auto guess = enetConnect(0);
        for (int round = 0; round < 5; ++round) {
            if (round == 1)
                before = residentKb();
            for (size_t i = 0; i < sources.size(); ++i) {
                const uint32_t nonce = rng(), cookie = rng();
                std::memcpy(request.data() + 6, &nonce, 4);
                std::memcpy(guess.data() + guess.size() - 4, &cookie, 4);  // a guessed cookie
                flood.sendFrom(sources[i], port, request);
                flood.sendFrom(sources[i], port, guess);
                if (i % 50 == 49) {
                    flood.drain(cookies, other);
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            flood.drain(cookies, other);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        after = residentKb();
    });
    // A real client connects and talks while the flood goes on.
    const bool connected = connectPair(*client, *server, 5000);
    int echoed = 0;
    if (connected) {
        for (int i = 0; i < 50; ++i) {
            const char msg[] = {static_cast<char>(ID_USER_PACKET_ENUM), static_cast<char>(i)};
            client->Send(msg, 2, HIGH_PRIORITY, RELIABLE_ORDERED, 0, loopback(port), false);
        }
        waitFor(*server, [&](const Received& r) { return r.data[0] == ID_USER_PACKET_ENUM && ++echoed == 50; }, 3000);
    }
    flooding.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    flood.drain(cookies, other);

    EXPECT_TRUE(connected);
    EXPECT_EQ(echoed, 50);
    EXPECT_GT(cookies, 4000) << "the flood's requests were not even answered";
    EXPECT_EQ(other, 0) << "ENet answered a flood address: a peer was allocated";
    SystemAddress list[16];
    unsigned short n = 16;
    server->GetConnectionList(list, &n);
    EXPECT_EQ(n, 1);
    for (int i = 0; i < 1000; i += 97) {
        SystemAddress a(sources[i], 0);
        EXPECT_FALSE(server->IsConnected(a, true));
    }
    // 4000 requests after the first round: one kilobyte kept per request would show as 4 MB.
    EXPECT_LT(after - before, 1024) << "resident memory grew by " << after - before << " kB";
}
