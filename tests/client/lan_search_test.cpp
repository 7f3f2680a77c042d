// The broadcast search, run inside a network namespace that the test creates, so no packet
// leaves for the host's network.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "client/manager_core.h"
#include "client/tidelink.h"
#include "test_server.h"

namespace {

// In the child: a namespace with loopback and a veth pair whose one end carries the default
// route, so a send to 255.255.255.255 is possible and comes back to local listeners.
bool enterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) return false;
    return std::system("ip link set lo up && ip link add lan0 type veth peer name lan1 && "
                       "ip addr add 10.77.0.1/24 dev lan0 && ip link set lan1 up && ip link set lan0 up && "
                       "ip route add default dev lan0") == 0;
}

int searchInChild() {
    RakPeerInterface* listening = RakNetworkFactory::GetRakPeerInterface();
    RakPeerInterface* elsewhere = RakNetworkFactory::GetRakPeerInterface();
    SocketDescriptor searchPort(lanSearchPort, "");
    SocketDescriptor otherPort(lanSearchPort + 1, "");
    if (!listening->Startup(4, 5, &searchPort, 1) || !elsewhere->Startup(4, 5, &otherPort, 1)) return 2;
    listening->SetMaximumIncomingConnections(4);
    elsewhere->SetMaximumIncomingConnections(4);

    int pingsElsewhere = 0;
    bool connected = false;
    {
        RAROREzovedodidAdizora client;
        client.openConnection();
        client.scanServers();
        waitFor([&] { return connected; },
                [&] {
                    client.update(0.0f);
                    while (Packet* p = listening->Receive()) {
                        connected |= p->data[0] == ID_NEW_INCOMING_CONNECTION;
                        listening->DeallocatePacket(p);
                    }
                    while (Packet* p = elsewhere->Receive()) {
                        pingsElsewhere += p->data[0] == ID_PING || p->data[0] == ID_NEW_INCOMING_CONNECTION;
                        elsewhere->DeallocatePacket(p);
                    }
                });
        char line[511];
        bool pong = false;
        while (client.getMessage(line)) pong |= std::string(line) == "MP: Got a pong";
        if (!pong) connected = false;
    }
    listening->Shutdown(100);
    elsewhere->Shutdown(100);
    RakNetworkFactory::DestroyRakPeerInterface(listening);
    RakNetworkFactory::DestroyRakPeerInterface(elsewhere);
    if (!connected) return 3;
    return pingsElsewhere == 0 ? 0 : 4;
}

TEST(LanSearch, FindsServerOnSearchPortOnly) {
    if (::geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!enterPrivateNetwork()) ::_exit(77);
        ::_exit(searchInChild());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace with a veth pair here";
    EXPECT_NE(WEXITSTATUS(status), 2) << "peers did not start";
    EXPECT_NE(WEXITSTATUS(status), 3) << "the server on the search port was not found";
    EXPECT_NE(WEXITSTATUS(status), 4) << "a server on another port answered the search";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
