// Players, teams, slot reservations and removal.
#include "protocol/text.h"
#include "server/core/server_globals.h"
#include "server/core/server_process.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server_harness.h"

using namespace harness;

namespace {

class PlayersTest : public ServerTest {
protected:
    // Sends one slot request and waits for its game-type answer.
    KSTMP::GameType requestSlots(Client& client, int want) {
        client.clear();
        KSTMP::SlotInfo request;
        request.playerSlots = static_cast<int8_t>(want);
        client.send(request);
        EXPECT_TRUE(pumpUntil([&] { return client.count(KSTMP::cmd_game_type) == 1; }));
        return client.records(KSTMP::cmd_game_type).front().as<KSTMP::GameType>();
    }
};

TEST_F(PlayersTest, TeamsAlternateAndTheListGoesToEveryone) {
    startServer();
    std::vector<Client*> joined;
    for (int i = 0; i < 4; ++i) {
        joined.push_back(&join("p" + std::to_string(i)));
        EXPECT_EQ(+joined.back()->notifiers(KSTMP::ntf_team_id).front().param, i % 2) << "player " << i;
    }
    // The last registration sent every entry to every player.
    ASSERT_TRUE(pumpUntil([&] { return joined[0]->count(KSTMP::cmd_player_info) >= 1 + 2 + 3 + 4; }));
    ASSERT_EQ(players.size(), 4u);
    for (const auto& [address, info] : players)
        EXPECT_EQ(info.address.toSystemAddress(), address);

    // A player that re-sends its entry with another team keeps that team.
    KSTMP::PlayerInfo again;
    protocol::writeText(again.name, "p0");
    again.team = 1;
    joined[0]->send(again);
    ASSERT_TRUE(pumpUntil([&] { return players.at(joined[0]->address()).team == 1; }));
}

TEST_F(PlayersTest, SlotsMoveOneAtATimeWithinTheLimits) {
    startServer("max_players = 6\nmax_ships_per_player = 2");
    Client& client = join("a");
    const std::string who = client.address().ToString(true);
    console();
    struct Step {
        int want;
        int held;
        int free;
        const char* line;  // printed, or empty
    } steps[] = {
        {3, 1, 11, " has currently reserved 1 slots of 1 leaving 11 as free\n"},
        {3, 2, 10, " has currently reserved 2 slots of 2 leaving 10 as free\n"},
        {3, 2, 10, " has currently reserved 2 slots of 2 leaving 10 as free\n"},  // at the limit
        {2, 2, 10, ""},                                                            // as held: silent
        {0, 1, 11, " has currently reserved 1 slots of 1 leaving 11 as free\n"},
        {0, 0, 12, " has currently reserved 0 slots of 0 leaving 12 as free\n"},
        {0, 0, 12, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.want);
        const KSTMP::GameType answer = requestSlots(client, step.want);
        EXPECT_EQ(+answer.yourReservedSlots, step.held);
        EXPECT_EQ(+answer.reservedSlots, step.held);
        EXPECT_EQ(+answer.freeSlots, step.free);
        const std::string text = console();
        if (*step.line) {
            EXPECT_NE(text.find(who + step.line), std::string::npos) << text;
            EXPECT_EQ(occurrences(text, "has currently reserved"), 1) << text;
        } else {
            EXPECT_EQ(occurrences(text, "has currently reserved"), 0) << text;
        }
    }

    client.clear();
    client.notify(KSTMP::ntf_slot_query);
    ASSERT_TRUE(pumpUntil([&] { return client.count(KSTMP::cmd_slot_info) == 1; }));
    const KSTMP::SlotInfo info = client.records(KSTMP::cmd_slot_info).front().as<KSTMP::SlotInfo>();
    EXPECT_EQ(+info.playerSlots, 0);
    EXPECT_EQ(+info.reservedSlots, 0);
    EXPECT_EQ(+info.freeSlots, 12);
    EXPECT_NE(console().find("Received info check from: " + who + "\n"), std::string::npos);
}

TEST_F(PlayersTest, NoSlotIsTakenWhenNoneIsFree) {
    startServer("max_players = 1\nmax_ships_per_player = 3");
    Client& a = join("a");
    EXPECT_EQ(requestSlots(a, 3).freeSlots, 2);
    EXPECT_EQ(requestSlots(a, 3).freeSlots, 1);
    EXPECT_EQ(requestSlots(a, 3).freeSlots, 0);
    Client& b = connect();  // not a player: a slot request still takes from the pool
    const KSTMP::GameType answer = requestSlots(b, 1);
    EXPECT_EQ(+answer.yourReservedSlots, 0);
    EXPECT_EQ(+answer.freeSlots, 0);
}

TEST_F(PlayersTest, DisconnectRemovesEveryTraceAndTellsTheOthers) {
    startServer("max_players = 4\nmax_ships_per_player = 2");
    Client& a = join("a");
    Client& b = join("b");
    const SystemAddress gone = a.address();
    requestSlots(a, 2);
    requestSlots(a, 2);
    a.notify(KSTMP::ntf_ready_to_init);
    ASSERT_TRUE(pumpUntil([&] { return players.at(gone).readyToInit == 1; }));
    ASSERT_EQ(freeSlots(), 6);
    console();
    b.clear();
    a.peer->CloseConnection(b.server, true);
    ASSERT_TRUE(pumpUntil([&] { return players.size() == 1; }));
    settle(20);
    const std::string who = gone.ToString(true);
    EXPECT_NE(console().find("Connection was disconnected " + who + "\nRemoving reservations for player with address " +
                             who + "\nRemoving player with address " + who + "\nRemoving ready status for " + who +
                             "\n"),
              std::string::npos);
    EXPECT_EQ(freeSlots(), 8);
    EXPECT_EQ(totalReservedSlots(), 0);
    bool told = false;
    for (const Received& r : b.records(KSTMP::cmd_player_info)) {
        const KSTMP::PlayerInfo info = r.as<KSTMP::PlayerInfo>();
        if (info.joined == 0 && info.address.toSystemAddress() == gone)
            told = true;
    }
    EXPECT_TRUE(told) << "the others receive the entry with joined 0";
}

TEST_F(PlayersTest, LastPlayerLeavingClearsAndStopsAStartedNonClanServer) {
    struct Row {
        int phase;
        int clan;
        bool keepsRunning;
    } rows[] = {{phase_in_game, 0, false}, {phase_quit, 0, false}, {phase_in_game, 1, true},
                {phase_reservations, 0, true}, {phase_initialize, 0, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "phase " << row.phase << " clan " << row.clan);
        startServer("clanserver = " + std::to_string(row.clan));
        Client& a = join("a");
        set_phase(row.phase);
        console();
        KSTMP::PlayerInfo leave;
        leave.joined = 0;
        a.send(leave);
        ASSERT_TRUE(pumpUntil([&] { return players.empty(); }));
        EXPECT_NE(console().find("Clear everything\n"), std::string::npos);
        EXPECT_EQ(serverRunning, row.keepsRunning);
        EXPECT_EQ(currentPhase(), phase_reservations);
        clients.clear();
        serverShutdown();
        started = false;
        loopEnded = false;
    }
}

TEST_F(PlayersTest, TotalSlotsAreClampedTo127) {
    startServer("max_players = 100\nmax_ships_per_player = 2");
    EXPECT_EQ(occurrences(console(), "Ship slots limited to 127 (configured 200)\n"), 1);
    EXPECT_EQ(freeSlots(), 127);
    Client& client = connect();
    EXPECT_EQ(+client.records(KSTMP::cmd_game_type).front().as<KSTMP::GameType>().freeSlots, 127);
}

}  // namespace
