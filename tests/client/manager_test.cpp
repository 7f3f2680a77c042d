#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "client/manager_core.h"
#include "client/tidelink.h"
#include "protocol/text.h"
#include "test_server.h"

namespace {

using namespace KSTMP;

FakeAddress fake(const SystemAddress& a) { return FakeAddress(a.binaryAddress, a.port); }

class Client : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.started);
        client.openConnection();
        clientAddress = connect(server);
    }

    // Connects the client to `s` and returns the client's address as `s` sees it.
    SystemAddress connect(TestServer& s) {
        EXPECT_TRUE(client.addConnection("127.0.0.1", s.port()));
        const size_t before = s.count(ID_NEW_INCOMING_CONNECTION);
        EXPECT_TRUE(waitFor([&] { return s.count(ID_NEW_INCOMING_CONNECTION) > before; }, [&] { step(s); }));
        EXPECT_TRUE(waitFor([&] { return hasLine("MP: Receiveed: Connection was accepted"); }, [&] { step(s); }));
        const Received* r = s.last(ID_NEW_INCOMING_CONNECTION);
        return r ? r->from : UNASSIGNED_SYSTEM_ADDRESS;
    }
    void step(TestServer& s) {
        client.update(0.0f);
        drain();
        s.pump();
    }
    void step() { step(server); }
    void drain() {
        char buffer[511];
        while (client.getMessage(buffer)) lines.push_back(buffer);
    }
    bool hasLine(const std::string& text) const {
        for (const std::string& l : lines)
            if (l == text) return true;
        return false;
    }
    size_t linesContaining(const std::string& text) const {
        size_t n = 0;
        for (const std::string& l : lines) n += l.find(text) != std::string::npos;
        return n;
    }
    // Sends an empty command and waits for it: everything the client sent before has arrived.
    void flushClientToServer() {
        BaseCommand marker(cmd_empty, 28);
        marker.target = server.address();
        const size_t before = server.count(cmd_empty);
        client.sendCmd(&marker);
        ASSERT_TRUE(waitFor([&] { return server.count(cmd_empty) > before; }, [&] { step(); }));
    }
    GameType gameType(const char* name, uint8_t reserved = 0) {
        GameType g;
        protocol::writeText(g.name, name);
        g.reservedSlots = reserved;
        g.phase = 0;
        g.heading = 90;
        return g;
    }
    const GameType* waitForGame(const std::function<bool(const GameType&)>& ok) {
        const GameType* found = nullptr;
        waitFor(
            [&] {
                found = client.getGame(fake(server.address()));
                return found && ok(*found);
            },
            [&] { step(); });
        return found;
    }

    TestServer server;
    RAROREzovedodidAdizora client;
    SystemAddress clientAddress;
    std::vector<std::string> lines;
};

TEST_F(Client, KnownServerIsListedOnceAndAskedForItsGameModes) {
    EXPECT_TRUE(client.addConnection("127.0.0.1", server.port()));  // already connected: nothing new
    client.askGameLists();
    client.pingServers();
    flushClientToServer();
    EXPECT_EQ(server.notifiers(ntf_game_modes_request).size(), 1u);
    EXPECT_EQ(server.notifiers(ntf_ping).size(), 1u);
    EXPECT_TRUE(hasLine("MP: send notifier: 19 wtih param 0"));
    EXPECT_TRUE(client.amIHost());  // the server runs on this machine, reached over loopback
}

TEST_F(Client, GameTypeFromNewServerAddsEntryAndAsksLinksOnce) {
    client.gamesRead();
    server.send(gameType("First"), clientAddress);
    const GameType* game = waitForGame([](const GameType& g) { return protocol::readText(g.name) == "First"; });
    ASSERT_NE(game, nullptr);
    EXPECT_TRUE(client.isGameListChanged());
    EXPECT_EQ(client.getAllGames()->size(), 1u);
    ASSERT_TRUE(waitFor([&] { return server.notifiers(ntf_server_links_request).size() == 1; }, [&] { step(); }));

    client.gamesRead();
    server.send(gameType("Second"), clientAddress);
    game = waitForGame([](const GameType& g) { return protocol::readText(g.name) == "Second"; });
    ASSERT_NE(game, nullptr);
    EXPECT_TRUE(client.isGameListChanged());
    EXPECT_EQ(client.getAllGames()->size(), 1u);
    flushClientToServer();
    EXPECT_EQ(server.notifiers(ntf_server_links_request).size(), 1u);
    EXPECT_EQ(client.getCmdCount(), 0u);
    EXPECT_EQ(client.getGame(FakeAddress(0x0100007F, 1)), nullptr);
}

TEST_F(Client, LoginVerdictsPerServerAndBothFormsOfIsAccepted) {
    TestServer second;
    const SystemAddress atSecond = connect(second);
    Notifier verdict;
    verdict.code = ntf_login_result;
    verdict.param = 1;
    server.send(verdict, clientAddress);
    verdict.param = 2;
    second.send(verdict, atSecond);
    ASSERT_TRUE(waitFor([&] { return client.isAccepted(fake(second.address())) == 2; }, [&] { step(); step(second); }));
    ASSERT_TRUE(waitFor([&] { return client.isAccepted(fake(server.address())) == 1; }, [&] { step(); }));

    EXPECT_FALSE(client.isAccepted("127.0.0.1", server.port()));  // admitted with 1, but only 2 counts
    EXPECT_TRUE(client.isAccepted("127.0.0.1", second.port()));
    ASSERT_EQ(client.getCmdCount(), 2u);  // the verdicts are queued as well
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(client.getCmd(i)->getPacketID(), cmd_notifier);
        EXPECT_EQ(int(static_cast<Notifier*>(client.getCmd(i))->code), ntf_login_result);
    }

    LogIn login;
    protocol::writeText(login.userName, "captain");
    client.sendLogin(&login, "127.0.0.1", server.port());  // resets that verdict to pending
    EXPECT_EQ(client.isAccepted(fake(server.address())), 0);
    EXPECT_EQ(client.isAccepted(fake(second.address())), 2);
    client.sendLogin(&login, FakeAddress(0x0100007F, 9));  // no such game: nothing is sent
    flushClientToServer();
    ASSERT_EQ(server.count(cmd_log_in), 1u);
    EXPECT_EQ(server.last(cmd_log_in)->bytes.size(), sizeof(LogIn));

    server.send(gameType("Lobby"), clientAddress);
    ASSERT_NE(waitForGame([](const GameType&) { return true; }), nullptr);
    client.sendLogin(&login, fake(server.address()));
    flushClientToServer();
    EXPECT_EQ(server.count(cmd_log_in), 2u);

    client.setVersion(1.5f);  // forgets every verdict
    EXPECT_EQ(client.isAccepted(fake(second.address())), 0);
    EXPECT_FALSE(client.isAccepted("127.0.0.1", second.port()));
}

TEST_F(Client, BookkeepingRecordsAreNeverQueued) {
    TestServer linked;
    server.send(gameType("Harbour"), clientAddress);
    ASSERT_NE(waitForGame([](const GameType&) { return true; }), nullptr);

    SlotInfo slots;
    slots.playerSlots = 2;
    ConnectionStatus status;
    status.phase = 4;
    ServerLink link;
    link.port = linked.port();
    protocol::writeText(link.ip, "127.0.0.1");
    ShipInfo ship;
    ship.shipIndex = 3;
    server.send(slots, clientAddress);
    server.send(status, clientAddress);
    server.send(link, clientAddress);
    server.send(gameType("Harbour"), clientAddress);
    server.send(ship, clientAddress);

    ASSERT_TRUE(waitFor([&] { return client.getCmdCount() == 1; }, [&] { step(); }));
    EXPECT_EQ(client.getCmd(0)->getPacketID(), cmd_ship_info);
    const GameType* game = client.getGame(fake(server.address()));
    ASSERT_NE(game, nullptr);
    // The later GameType carried phase 0 and replaced the entry; send the phase again.
    server.send(status, clientAddress);
    ASSERT_TRUE(waitFor([&] { return uint32_t(client.getGame(fake(server.address()))->phase) == 4; }, [&] { step(); }));
    EXPECT_EQ(client.getCmdCount(), 1u);

    // The link made the client connect to the linked server.
    EXPECT_TRUE(waitFor([&] { return linked.count(ID_NEW_INCOMING_CONNECTION) == 1; }, [&] { step(); linked.pump(); }));
}

TEST_F(Client, RecordsQueuedInArrivalOrderStayUntilClearCache) {
    ShipInfo first;
    first.shipIndex = 1;
    server.send(first, clientAddress);
    ASSERT_TRUE(waitFor([&] { return client.getCmdCount() == 1; }, [&] { step(); }));
    BaseCommand* kept = client.getCmd(0);
    const std::vector<unsigned char> keptBytes(reinterpret_cast<unsigned char*>(kept),
                                               reinterpret_cast<unsigned char*>(kept) + sizeof(ShipInfo));

    const int moves = 300;  // enough to make the stores grow many times
    for (int i = 0; i < moves; ++i) {
        Coordinates c;
        c.shipIndex = int8_t(i % 100);
        c.coordValue = i;
        server.send(c, clientAddress);
    }
    ShipInfo last;
    last.shipIndex = 2;
    server.send(last, clientAddress);
    ASSERT_TRUE(waitFor([&] { return client.getCmdCount() == unsigned(moves + 2); }, [&] { step(); }));

    EXPECT_EQ(client.getCmd(0), kept);
    EXPECT_EQ(std::memcmp(kept, keptBytes.data(), keptBytes.size()), 0);
    EXPECT_EQ(int(static_cast<ShipInfo*>(client.getCmd(0))->shipIndex), 1);
    for (int i = 0; i < moves; ++i) {
        BaseCommand* r = client.getCmd(i + 1);
        ASSERT_EQ(r->getPacketID(), cmd_coordinates);
        ASSERT_EQ(int(static_cast<Coordinates*>(r)->coordValue), i);
    }
    EXPECT_EQ(int(static_cast<ShipInfo*>(client.getCmd(moves + 1))->shipIndex), 2);
    EXPECT_EQ(client.getCmd(moves + 2), nullptr);
    EXPECT_EQ(client.getCmd(-1), nullptr);

    client.clearCache();
    EXPECT_EQ(client.getCmdCount(), 0u);
    EXPECT_EQ(client.getCmd(0), nullptr);
}

TEST_F(Client, PongUpdatesLatencyAndReasksChangedReservations) {
    server.send(gameType("Harbour", 2), clientAddress);
    ASSERT_NE(waitForGame([](const GameType&) { return true; }), nullptr);
    Notifier pong;
    pong.code = ntf_pong;
    pong.param = 2;
    pong.transitTime = 40;
    server.send(pong, clientAddress);
    ASSERT_TRUE(waitFor([&] { return client.getCmdCount() == 1; }, [&] { step(); }));
    // The entry takes the pong's transit time: 40 plus this hop's delay, as the queued copy shows.
    // The delay comes from the transport's clock-offset estimate and may be off by a millisecond.
    const uint16_t transit = static_cast<Notifier*>(client.getCmd(0))->transitTime;
    EXPECT_EQ(int(client.getGame(fake(server.address()))->transitTime), int(transit));
    EXPECT_GE(int16_t(transit - 40), -5);
    EXPECT_LT(int16_t(transit - 40), 2000);
    flushClientToServer();
    EXPECT_EQ(server.notifiers(ntf_game_modes_request).size(), 0u);  // same reservation count

    pong.param = 3;
    server.send(pong, clientAddress);
    ASSERT_TRUE(waitFor([&] { return server.notifiers(ntf_game_modes_request).size() == 1; }, [&] { step(); }));
    EXPECT_EQ(client.getCmdCount(), 2u);
}

TEST_F(Client, ServerDisconnectionRemovesItsEntry) {
    server.send(gameType("Harbour"), clientAddress);
    ASSERT_NE(waitForGame([](const GameType&) { return true; }), nullptr);
    client.gamesRead();
    server.peer->CloseConnection(clientAddress, true, 0);
    ASSERT_TRUE(waitFor([&] { return client.getAllGames()->empty(); }, [&] { step(); }));
    EXPECT_TRUE(client.isGameListChanged());
}

TEST_F(Client, MalformedRecordsAreDroppedWithALine) {
    ShipInfo ship;
    std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(&ship),
                                     reinterpret_cast<unsigned char*>(&ship) + sizeof ship);
    std::vector<unsigned char> shortPacket(bytes.begin(), bytes.begin() + 100);
    std::vector<unsigned char> wrongSize = bytes;
    wrongSize[6] = 200;  // header size 200 in a 145-byte packet
    std::vector<unsigned char> unknown = bytes;
    unknown[5] = 104;
    server.sendRaw(shortPacket, clientAddress);
    server.sendRaw(wrongSize, clientAddress);
    server.sendRaw(unknown, clientAddress);
    server.sendRaw(bytes, clientAddress);

    ASSERT_TRUE(waitFor([&] { return client.getCmdCount() == 1; }, [&] { step(); }));
    ASSERT_TRUE(waitFor([&] { return linesContaining("unhandled KST package: 104") == 1; }, [&] { step(); }));
    EXPECT_EQ(linesContaining("malformed KST package: 95"), 2u);
    EXPECT_EQ(client.getCmd(0)->getPacketID(), cmd_ship_info);
}

TEST_F(Client, SentRecordArrivesByteForByteWithOriginAndTimeStamp) {
    ShipInfo ship;
    ship.shipIndex = 3;
    ship.ownerShipIndex = 1;
    ship.shipClass = 7;
    ship.position = VC3(1.5f, -2.0f, 300.25f);
    protocol::writeText(ship.name, "Wavecutter");
    ship.killsByClass[13] = 4;
    ship.target = server.address();
    lines.clear();
    client.sendCmd(&ship);
    drain();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "MP: send Ship info: Servers 3th, my 1th");

    ASSERT_TRUE(waitFor([&] { return server.count(cmd_ship_info) == 1; }, [&] { step(); }));
    const std::vector<unsigned char>& got = server.last(cmd_ship_info)->bytes;
    const auto* sent = reinterpret_cast<const unsigned char*>(&ship);
    ASSERT_EQ(got.size(), sizeof ship);
    // Everything but the time stamp, which the transport rewrote into the server's clock.
    EXPECT_EQ(std::memcmp(got.data() + 5, sent + 5, sizeof ship - 5), 0);
    EXPECT_EQ(got[0], 25);
    const SystemAddress self = client.getPlayerStr();
    const unsigned char origin[8] = {uint8_t(self.binaryAddress), uint8_t(self.binaryAddress >> 8),
                                     uint8_t(self.binaryAddress >> 16), uint8_t(self.binaryAddress >> 24),
                                     uint8_t(self.port), uint8_t(self.port >> 8), 0, 0};
    EXPECT_EQ(std::memcmp(got.data() + 18, origin, 8), 0);
    uint32_t stamp;
    std::memcpy(&stamp, got.data() + 1, 4);
    // Rewritten into the server's clock from an offset estimate: near now, on either side.
    EXPECT_LT(std::abs(int32_t(RakNet::GetTime() - stamp)), 2000);
    EXPECT_NE(stamp, 0u);

    // A record whose header size is not its type's size is not sent.
    lines.clear();
    ship.size = 4096;
    client.sendCmd(&ship);
    drain();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "MP: not sent: record 95 with size 4096");
}

TEST_F(Client, ShipOwnershipComparesWithOwnAddress) {
    ShipInfo mine;
    mine.owner = client.getPlayerStr();
    ShipInfo theirs;
    theirs.owner = clientAddress;
    theirs.owner.port = uint16_t(client.getPlayerStr().port + 1);
    EXPECT_TRUE(client.isMyShip(&mine));
    EXPECT_FALSE(client.isMyShip(&theirs));
}

TEST(ClientWithoutPeer, OperationsDoNothing) {
    RAROREzovedodidAdizora client;
    ShipInfo ship;
    client.sendCmd(&ship);
    client.update(0.0f);
    client.askGameLists();
    char buffer[511] = "untouched";
    EXPECT_FALSE(client.getMessage(buffer));
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_FALSE(client.addConnection("127.0.0.1", 1));
    EXPECT_EQ(client.getCmd(0), nullptr);
    EXPECT_EQ(client.getPlayerStr(), UNASSIGNED_SYSTEM_ADDRESS);
    EXPECT_EQ(client.getServerStr(), UNASSIGNED_SYSTEM_ADDRESS);
    EXPECT_FALSE(client.isServerConnected());
    EXPECT_FALSE(client.amIHost());
    EXPECT_FALSE(client.isMyShip(&ship));
    EXPECT_TRUE(client.isGameListChanged());
    EXPECT_EQ(client.searchFromLAN(), "");
}

TEST(ClientMessages, LongLineIsCutAt510AndRemovedWhole) {
    ManagerCore core;
    core.addMessage(std::string(600, 'x'));
    core.addMessage("next");
    char buffer[700];
    std::memset(buffer, 'Z', sizeof buffer);
    ASSERT_TRUE(core.getMessage(buffer));
    EXPECT_EQ(std::strlen(buffer), 510u);
    ASSERT_TRUE(core.getMessage(buffer));
    EXPECT_STREQ(buffer, "next");
    EXPECT_FALSE(core.getMessage(buffer));
    EXPECT_STREQ(buffer, "next");
}

TEST(ClientCopies, ShareOneConnectionUntilTheLastGoes) {
    auto first = std::make_unique<RAROREzovedodidAdizora>();
    first->openConnection();
    const SystemAddress self = first->getPlayerStr();
    ASSERT_NE(self, UNASSIGNED_SYSTEM_ADDRESS);
    RAROREzovedodidAdizora second;
    second = *first;
    second = second;
    RAROREzovedodidAdizora third(second);
    EXPECT_EQ(second.getPlayerStr(), self);
    first.reset();
    EXPECT_EQ(second.getPlayerStr(), self);  // still open
    third.closeConnection();                   // shared: closes it for both
    EXPECT_EQ(second.getPlayerStr(), UNASSIGNED_SYSTEM_ADDRESS);
}

TEST(ClientPort, TakenPortFallsBackToOneTheSystemChooses) {
    // The client port must be taken while the manager opens: by this test's own socket, or by
    // another test's manager that holds it. When the other holder lets go in between and the
    // manager gets the port after all, try again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(holder, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(clientPort);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        (void)::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a);

        RAROREzovedodidAdizora client;
        client.openConnection();
        const unsigned port = client.getPlayerStr().port;
        ::close(holder);
        if (port == clientPort) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        EXPECT_NE(port, 0u);
        char line[511];
        ASSERT_TRUE(client.getMessage(line));
        EXPECT_EQ(std::string(line), "MP: Local port 61216 is taken, using port " + std::to_string(port) + " instead");
        return;
    }
    FAIL() << "the manager always got port " << clientPort;
}

}  // namespace
