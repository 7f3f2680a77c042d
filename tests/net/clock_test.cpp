// Time stamps between peers whose clocks differ: the remote runs in a child process whose tick
// count is shifted through the clock hook.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "net/rak_peer.h"
#include "platform/clock.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

int32_t shiftMs = 0;

uint32_t shiftedTicks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms + static_cast<uint32_t>(shiftMs));
}

std::vector<uint8_t> stamped(char tag) {
    std::vector<uint8_t> d(6);
    d[0] = ID_TIMESTAMP;
    RakNetTime now = RakNet::GetTime();
    std::memcpy(d.data() + 1, &now, 4);
    d[5] = static_cast<uint8_t>(tag);
    return d;
}

int32_t stampError(const Received& r) {
    RakNetTime stamp;
    std::memcpy(&stamp, r.data.data() + 1, 4);
    return static_cast<int32_t>(RakNet::GetTime() - stamp);
}

constexpr int32_t kTolerance = 25;  // ms: transit plus the offset estimate's error on a busy machine

// The child: a client with a shifted clock. Exit 0 when the server's stamp arrived in its clock.
int shiftedClient(unsigned short serverPort, int32_t shift) {
    shiftMs = shift;
    platform::setTickSource(&shiftedTicks);
    auto client = startPeer(0);
    if (!client)
        return 2;
    client->SetOccasionalPing(true);
    if (!client->Connect("127.0.0.1", serverPort, nullptr, 0) ||
        !waitForId(*client, ID_CONNECTION_REQUEST_ACCEPTED, 4000))
        return 3;
    const SystemAddress server = loopback(serverPort);
    // Let the first pings settle, then stamp.
    for (int i = 0; i < 100 && client->GetAveragePing(server) < 0; ++i)
        platform::sleepMs(5);
    auto mine = stamped('c');
    if (!client->Send(reinterpret_cast<const char*>(mine.data()), 6, HIGH_PRIORITY, RELIABLE_ORDERED, 0, server, false))
        return 4;
    Received r;
    if (!waitFor(*client, [&](const Received& x) { r = x; return x.data.size() == 6 && x.data[0] == ID_TIMESTAMP; }, 4000))
        return 5;
    int32_t error = stampError(r);
    client->Shutdown(100);
    return std::abs(error) <= kTolerance ? 0 : 6;
}

class ShiftedClock : public ::testing::TestWithParam<int32_t> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Net, ShiftedClock, ::testing::Values(10000, -10000),
                         [](const auto& info) { return info.param > 0 ? "Ahead" : "Behind"; });

TEST_P(ShiftedClock, StampedPayloadArrivesInTheReceiversClock) {
    const int32_t shift = GetParam();
    ChildProcess child([shift](unsigned short port) { return shiftedClient(port, shift); });
    ASSERT_TRUE(child.started());
    auto server = startPeer(4, true);
    ASSERT_TRUE(server);
    server->SetOccasionalPing(true);
    child.tellPort(portOf(*server));
    Received r;
    bool got = waitFor(*server, [&](const Received& x) { r = x; return x.data.size() == 6 && x.data[0] == ID_TIMESTAMP; },
                       6000);
    if (got) {
        EXPECT_LE(std::abs(stampError(r)), kTolerance) << "stamp error " << stampError(r) << " ms";
        auto mine = stamped('s');
        EXPECT_TRUE(server->Send(reinterpret_cast<const char*>(mine.data()), 6, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                                 r.from, false));
    }
    const int status = child.wait();
    ASSERT_TRUE(got) << "no stamped payload from the shifted client";
    EXPECT_EQ(status, 0) << "2 start, 3 connect, 4 send, 5 no stamp, 6 stamp off in the client's clock";
}
