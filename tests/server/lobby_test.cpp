// The game-type record and the server links as clients receive them.
#include "protocol/text.h"
#include <cstring>
#include <tuple>

#include "server/config/server_settings.h"
#include "server/core/server_process.h"
#include "server_harness.h"

using namespace harness;

namespace {

class LobbyTest : public ServerTest {};

TEST_F(LobbyTest, GameTypeCarriesTheConfiguration) {
    startServer(
        "name = ABCDEFGHIJKLMNOPQRSTUVWXYZabcd\nservername = Harbour\npassword =\ngame_type = 2\n"
        "time_of_day = 18\nweather = 3\ngame_length = 20\ndc_allowed = 0\nrts_allowed = 1\n"
        "wait_for_others_length = 7\nmax_ships_per_player = 2\nmax_players = 5\nrealism = 2\n"
        "requiredVersion = 1.5\navailable_ships = 3,-1,7");
    Client& client = connect();
    const KSTMP::GameType g = client.records(KSTMP::cmd_game_type).front().as<KSTMP::GameType>();
    EXPECT_EQ(+g.size, 130);
    EXPECT_EQ(protocol::readText(g.name), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(g.name[24], 0);
    EXPECT_EQ(protocol::readText(g.serverName), "Harbour");
    EXPECT_EQ(+g.openServer, 1);
    EXPECT_EQ(+g.playerCount, 0);
    EXPECT_EQ(+g.freeSlots, 10);
    EXPECT_EQ(+g.maxShipsPerPlayer, 2);
    EXPECT_EQ(+g.yourReservedSlots, 0);
    EXPECT_EQ(+g.reservedSlots, 0);
    EXPECT_EQ(+g.gameType, 2u);
    EXPECT_EQ(+g.timeOfDay, 18);
    EXPECT_EQ(+g.weather, 3);
    EXPECT_EQ(+g.heading, serverSettings.randomAngle);
    EXPECT_GE(+g.heading, 1);
    EXPECT_LE(+g.heading, 360);
    EXPECT_EQ(+g.gameLength, 20);
    EXPECT_EQ(+g.countdown, 7);
    const uint8_t ships[11] = {3, 255, 7, 255, 255, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(0, std::memcmp(g.availableShips, ships, sizeof ships));
    EXPECT_EQ(+g.spare, 0);
    EXPECT_EQ(+g.phase, 0u);
    EXPECT_EQ(g.serverAddress.toSystemAddress(), client.server);
    EXPECT_EQ(+g.dcAllowed, 0);
    EXPECT_EQ(+g.rtsAllowed, 1);
    EXPECT_EQ(+g.countdownRunning, 0);
    EXPECT_EQ(+g.realism, 2u);
    EXPECT_FLOAT_EQ(+g.requiredVersion, 1.5f);
    EXPECT_EQ(g.origin.toSystemAddress(), client.server);
}

TEST_F(LobbyTest, CountdownAndCountsWhileRunning) {
    startServer("password = Secret\ngame_type = 0\nwait_for_others_length = 2\nmax_ships_per_player = 2");
    Client& a = join("a");
    Client& b = join("b");
    KSTMP::SlotInfo want;
    want.playerSlots = 1;
    a.send(want);
    a.notify(KSTMP::ntf_ready_to_init);
    b.notify(KSTMP::ntf_ready_to_init);
    ASSERT_TRUE(pumpUntil([&] { return console().find("Countdown timer is 2000") != std::string::npos; }));
    advanceClock(1);
    pass();
    a.clear();
    a.notify(KSTMP::ntf_game_modes_request);
    ASSERT_TRUE(pumpUntil([&] { return a.count(KSTMP::cmd_game_type) == 1; }));
    const KSTMP::GameType g = a.records(KSTMP::cmd_game_type).front().as<KSTMP::GameType>();
    EXPECT_EQ(+g.countdown, 1) << "1999 ms left";
    EXPECT_EQ(+g.countdownRunning, 1);
    EXPECT_EQ(+g.openServer, 0);
    EXPECT_EQ(+g.playerCount, 2);
    EXPECT_EQ(+g.yourReservedSlots, 1);
    EXPECT_EQ(+g.reservedSlots, 1);
    EXPECT_EQ(+g.freeSlots, 19);
}

TEST_F(LobbyTest, EveryFifthSendIsPrinted) {
    startServer();
    Client& client = connect();  // send 0
    const std::string who = client.address().ToString(true);
    for (int i = 0; i < 10; ++i)
        client.notify(KSTMP::ntf_game_modes_request);
    ASSERT_TRUE(pumpUntil([&] { return client.count(KSTMP::cmd_game_type) == 11; }));
    const std::string text = console();
    EXPECT_EQ(occurrences(text, "Sending game modes to: "), 3);
    for (const char* n : {"0", "5", "10"})
        EXPECT_NE(text.find(std::string("\n") + n + " Sending game modes to: " + who + "\n"), std::string::npos) << n;
}

TEST_F(LobbyTest, ServerLinks) {
    struct Row {
        const char* links;
        std::vector<std::tuple<std::string, std::string, int>> expected;  // name, host, port
    } rows[] = {
        {"", {}},
        {"links\n{\n    alpha = 10.0.0.1:61117\n    beta = 10.0.0.2:61118\n}\n",
         {{"alpha", "10.0.0.1", 61117}, {"beta", "10.0.0.2", 61118}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.links);
        startServer("", row.links);
        Client& client = connect();
        console();
        client.clear();
        client.notify(KSTMP::ntf_server_links_request);
        ASSERT_TRUE(pumpUntil([&] { return console().find("Sending server links to: ") != std::string::npos; }));
        settle(20);
        const auto links = client.records(KSTMP::cmd_server_link);
        ASSERT_EQ(links.size(), row.expected.size());
        for (size_t i = 0; i < links.size(); ++i) {
            const KSTMP::ServerLink link = links[i].as<KSTMP::ServerLink>();
            EXPECT_EQ(protocol::readText(link.linkName), std::get<0>(row.expected[i]));
            EXPECT_EQ(protocol::readText(link.ip), std::get<1>(row.expected[i]));
            EXPECT_EQ(+link.port, std::get<2>(row.expected[i]));
            EXPECT_EQ(link.target.toSystemAddress(), client.address());
        }
        clients.clear();
        serverShutdown();
        started = false;
    }
}

}  // namespace
