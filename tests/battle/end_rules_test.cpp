// End of a battle with a real server and real client peers on loopback.
#include <gtest/gtest.h>

#include "server/config/server_settings.h"
#include "server/session/buoys.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"
#include "tests/battle/battle_harness.h"

namespace {

using namespace battle_test;
using KSTMP::ShipInfo;

struct Row {
    const char* what;
    int gameType;
    int team0Ships, team1Ships;       // player a holds team 0's ships, player b team 1's
    std::vector<int> lostBeforePlay;  // ship indices lost in phase 3
    std::vector<int> lost;            // ship indices lost in phase 4
    bool timeUp;
    std::map<int8_t, float> scores;
    bool ends;
    bool result;  // a game result is broadcast
    int winner;
};

TEST(EndRules, ByGameType) {
    const Row rows[] = {
        {"last ship floating, two of three sunk", 0, 2, 1, {}, {0, 2}, false, {}, true, false, 0},
        {"team game won by sinking", 1, 2, 1, {}, {2}, false, {}, true, true, 0},
        {"team game won by time, 3 against 2", 4, 3, 2, {}, {}, true, {}, true, true, 0},
        {"team game drawn, 2 against 2", 3, 2, 2, {}, {}, true, {}, true, true, -1},
        {"last ships of both teams in one pass", 1, 1, 1, {0, 1}, {}, false, {}, true, true, 1},
        {"domination by score", 2, 1, 1, {}, {}, true, {{0, 3.0f}, {1, 12.5f}}, true, true, 1},
        {"domination with equal scores", 2, 1, 1, {}, {}, true, {{0, 12.0f}, {1, 12.0f}}, true, true, 0},
        {"domination without buoys or scores", 2, 1, 1, {}, {}, true, {}, true, true, -1},
        {"no end rule", -1, 1, 1, {}, {0, 1}, true, {}, false, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Server s(ServerFiles("game_type = " + std::to_string(row.gameType) + "\n"));
        Client a(s), b(s);
        a.join(row.team0Ships);
        b.join(row.team1Ships);
        s.pump();
        for (Client* c : {&a, &b}) c->notify(KSTMP::ntf_ready_to_init);
        s.pump(20);
        s.advance(2001);
        ASSERT_TRUE(s.pumpUntil([] { return currentPhase() == phase_initialize; }));
        for (int i = 0; i < row.team0Ships; ++i) ASSERT_TRUE(a.registerShip(i, 0, 6));
        for (int i = 0; i < row.team1Ships; ++i) ASSERT_TRUE(b.registerShip(i, 1, 6));
        const size_t ships = static_cast<size_t>(row.team0Ships + row.team1Ships);
        ASSERT_TRUE(s.pumpUntil([&] { return a.count<ShipInfo>() == ships && b.count<ShipInfo>() == ships; }));
        for (Client* c : {&a, &b}) c->notify(KSTMP::ntf_ready_to_spawn);
        ASSERT_TRUE(s.pumpUntil([] { return currentPhase() == phase_spawn; }));
        for (int i : row.lostBeforePlay) a.notify(KSTMP::ntf_ship_lost_a, i);
        s.pump(10);
        for (Client* c : {&a, &b}) c->notify(KSTMP::ntf_ready_to_play);
        ASSERT_TRUE(s.pumpUntil([] { return currentPhase() != phase_spawn; }));
        s.pump(5);
        for (int i : row.lost) {
            EXPECT_EQ(currentPhase(), phase_in_game);
            b.notify(KSTMP::ntf_ship_lost_b, i);
            s.pump(10);
        }
        teamScores = row.scores;
        if (row.timeUp) {
            timeLeftSeconds() = 1;
            s.advance(1001);
            s.pump(5);
        }
        s.pump(10);
        EXPECT_EQ(currentPhase(), row.ends ? phase_game_over : phase_in_game);
        for (Client* c : {&a, &b}) {
            const auto results = c->notices(KSTMP::ntf_game_result);
            ASSERT_EQ(results.size(), row.result ? 1u : 0u);
            if (row.result) {
                EXPECT_EQ(results[0].param, row.winner);
            }
            if (row.ends) {
                EXPECT_EQ(c->phases().back(), static_cast<uint32_t>(phase_game_over));
            }
        }
        if (!row.result) continue;
        for (const auto& ship : shipRegistry) {
            EXPECT_EQ(+ship.winner, row.winner >= 0 && ship.team == row.winner ? 1 : 0) << int(ship.shipIndex);
            EXPECT_EQ(+ship.teamSizeAtEnd, ship.team == 0 ? row.team0Ships : row.team1Ships);
        }
    }
}

TEST(EndRules, GameOverPauseSilentQuitPhaseAndRematch) {
    Server s({"game_type = 2\n", "b0\n{\nType = 1\nTime = -5\n}\nb1\n{\nType = 1\n}\n",
              "team0\n{\n0 = 1,0,2\n}\n"});
    Client a(s), b(s);
    a.join(1);
    b.join(1);
    s.pump();
    startBattle(s, [&] {
        a.registerShip(0, 0, 6, KSTMP::VC3(50, 0, 50));
        b.registerShip(0, 1, 6);
    });
    ASSERT_EQ(+findShip(0)->position.x, 1);
    KSTMP::BuoyInfo capture;
    capture.buoyId = 0;
    capture.team = 0;
    capture.ship = 0;
    a.send(capture);
    ASSERT_TRUE(s.pumpUntil([] { return buoyList()[0].team == 0; }));
    s.advance(1001);
    s.advance(1001);
    timeLeftSeconds() = 1;
    s.advance(1001);
    s.pump(5);
    ASSERT_EQ(currentPhase(), phase_game_over);
    ASSERT_TRUE(s.pumpUntil([&] { return b.notices(KSTMP::ntf_game_result).size() == 1; }));
    EXPECT_EQ(+b.notices(KSTMP::ntf_game_result)[0].param, 0);

    const size_t announced = b.phases().size();
    testing::internal::CaptureStdout();
    s.advance(9999);
    s.pump(5);
    EXPECT_EQ(currentPhase(), phase_game_over);
    s.advance(1);
    s.pump(5);
    EXPECT_EQ(currentPhase(), phase_quit);
    EXPECT_EQ(b.phases().size(), announced);  // silent
    s.advance(99);
    s.pump(5);
    EXPECT_EQ(currentPhase(), phase_quit);
    s.advance(1);
    ASSERT_TRUE(s.pumpUntil([&] { return a.phases().back() == 0 && b.phases().back() == 0; }));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(+out.find("Reseting the server for a new game\n"), std::string::npos) << out;
    EXPECT_EQ(currentPhase(), phase_reservations);
    EXPECT_EQ(players.size(), 2u);
    EXPECT_EQ(reservationCount(a.address()), 1);
    EXPECT_TRUE(shipRegistry.empty());
    EXPECT_TRUE(teamScores.empty());

    // The rematch has the configured buoys and start positions again.
    a.clear();
    a.notify(KSTMP::ntf_buoys_request);
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<KSTMP::BuoyInfo>() == 2; }));
    for (const auto& buoy : a.records<KSTMP::BuoyInfo>()) {
        EXPECT_EQ(+buoy.team, -1);
        EXPECT_EQ(+buoy.paused, 1);
    }
    EXPECT_EQ(a.count<KSTMP::TeamScore>(), 0u);
    a.sendShip(0, 0, 6, KSTMP::VC3(50, 0, 50));
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<ShipInfo>() >= 1; }));
    EXPECT_EQ(+a.records<ShipInfo>().back().position.x, 1);
    EXPECT_EQ(+a.records<ShipInfo>().back().position.z, 2);
}

}  // namespace
