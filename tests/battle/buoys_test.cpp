// Domination buoys and team scores with a real server and real client peers on loopback.
#include <gtest/gtest.h>

#include "server/config/server_settings.h"
#include "server/session/buoys.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"
#include "tests/battle/battle_harness.h"

namespace {

using namespace battle_test;
using KSTMP::BuoyInfo;
using KSTMP::TeamScore;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* twoBuoys = "b0\n{\nType = 1\nPosition = 10,0,20\nTime = -60\nEffectRange = 30\n}\n"
                       "b1\n{\nType = 2\nTime = -60\n}\n";

// Two players (teams 0 and 1) with one ship each, in phase 4 of a domination battle.
struct Domination {
    Server s;
    Client a, b;
    explicit Domination(const char* buoyFile = twoBuoys) : s({"game_type = 2\n", buoyFile, ""}), a(s), b(s) {
        a.join(1);
        b.join(1);
        s.pump();
        startBattle(s, [&] {
            a.registerShip(0, 0, 6);
            b.registerShip(0, 1, 6);
        });
    }
    void capture(Client& who, int buoy, int ship, int team) {
        BuoyInfo report;
        report.buoyId = static_cast<int8_t>(buoy);
        report.ship = static_cast<int8_t>(ship);
        report.team = static_cast<int8_t>(team);
        who.send(report);
    }
    // The last broadcast of buoy `id` that a client received.
    static BuoyInfo last(const Client& c, int id) {
        BuoyInfo found;
        for (const auto& r : c.records<BuoyInfo>())
            if (r.buoyId == id) found = r;
        return found;
    }
};

TEST(Buoys, CaptureScoresUntilReleaseAndIsBroadcast) {
    Domination d;
    ASSERT_EQ(currentPhase(), phase_in_game);
    testing::internal::CaptureStdout();
    d.capture(d.b, 0, 1, 1);
    ASSERT_TRUE(d.s.pumpUntil([&] { return d.a.count<BuoyInfo>() == 2 && d.b.count<BuoyInfo>() == 2; }));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "Buy ID: 0 was captured by ship 1 from team 1.\nSending buoys to all...\n")) << out;
    for (Client* c : {&d.a, &d.b}) {
        const BuoyInfo b0 = Domination::last(*c, 0);
        EXPECT_EQ(+b0.team, 1);
        EXPECT_EQ(+b0.ship, 1);
        EXPECT_EQ(+b0.changed, 1);
        EXPECT_EQ(+b0.paused, 0);
        EXPECT_EQ(+b0.timer, -60);
        EXPECT_EQ(+b0.position.z, 20);
        EXPECT_EQ(+b0.effectRange, 30);
        EXPECT_EQ(+b0.nextType, -1);
        EXPECT_EQ(+Domination::last(*c, 1).paused, 1);
    }
    EXPECT_EQ(+buoyList()[0].changed, 0);
    // The same holder again: printed, nothing sent.
    testing::internal::CaptureStdout();
    d.capture(d.b, 0, 1, 1);
    d.s.pump();
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "Buy ID: 0 was captured by ship 1 from team 1.\n"));
    EXPECT_EQ(d.a.count<BuoyInfo>(), 2u);

    testing::internal::CaptureStdout();
    for (int second = 1; second < 60; ++second) d.s.advance(1001);
    EXPECT_EQ(teamScores[1], 59.0f);
    EXPECT_EQ(+buoyList()[0].team, 1);
    d.a.clear();
    d.s.advance(1001);
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "Buy ID: 0 reached zero.\nSending buoys to all...\n")) << out;
    EXPECT_EQ(teamScores[1], 60.0f);
    EXPECT_EQ(teamScores.count(0), 0u);
    ASSERT_TRUE(d.s.pumpUntil([&] { return d.a.count<TeamScore>() >= 1 && d.a.count<BuoyInfo>() >= 2; }));
    EXPECT_EQ(+d.a.records<TeamScore>().back().team, 1);
    EXPECT_EQ(+d.a.records<TeamScore>().back().score, 60);
    const BuoyInfo freed = Domination::last(d.a, 0);
    EXPECT_EQ(+freed.team, -1);
    EXPECT_EQ(+freed.ship, -1);
    EXPECT_EQ(+freed.timer, -60);
    // Released: no more points.
    d.s.advance(1001);
    EXPECT_EQ(teamScores[1], 60.0f);
}

TEST(Buoys, TwoBuoysScoreTwiceAndARecaptureMovesThePoints) {
    Domination d;
    d.capture(d.a, 0, 0, 0);
    d.capture(d.a, 1, 0, 0);
    ASSERT_TRUE(d.s.pumpUntil([&] { return d.a.count<BuoyInfo>() == 4; }));
    d.s.advance(1001);
    d.s.advance(1001);
    EXPECT_EQ(teamScores[0], 4.0f);
    d.s.advance(1001);
    d.capture(d.b, 1, 1, 1);
    ASSERT_TRUE(d.s.pumpUntil([&] { return buoyList()[1].team == 1; }));
    EXPECT_EQ(+buoyList()[1].timer, -60);
    d.s.advance(1001);
    EXPECT_EQ(teamScores[0], 7.0f);
    EXPECT_EQ(teamScores[1], 1.0f);
}

TEST(Buoys, PeriodicBroadcastAndRequestAnswer) {
    Domination d;
    d.a.clear();
    d.b.clear();
    d.s.advance(2999);
    d.s.pump(10);
    EXPECT_EQ(d.a.count<BuoyInfo>(), 0u);
    d.s.advance(2);
    ASSERT_TRUE(d.s.pumpUntil([&] { return d.a.count<BuoyInfo>() == 2 && d.b.count<BuoyInfo>() == 2; }));
    d.s.advance(4999);
    d.s.pump(10);
    EXPECT_EQ(d.a.count<BuoyInfo>(), 2u);
    d.s.advance(2);
    ASSERT_TRUE(d.s.pumpUntil([&] { return d.a.count<BuoyInfo>() == 4 && d.b.count<BuoyInfo>() == 4; }));

    // On request, to the asker only, with the score cut to a whole 16-bit number.
    teamScores[0] = 1234.9f;
    teamScores[1] = 70000.0f;
    d.a.clear();
    d.b.clear();
    testing::internal::CaptureStdout();
    d.b.notify(KSTMP::ntf_buoys_request);
    ASSERT_TRUE(d.s.pumpUntil([&] { return d.b.count<TeamScore>() == 2; }));
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(),
                         std::string("Sending buoys to: ") + d.b.address().ToString(true) + "\n"));
    EXPECT_EQ(d.b.count<BuoyInfo>(), 2u);
    EXPECT_EQ(+d.b.records<TeamScore>()[0].score, 1234);
    EXPECT_EQ(+d.b.records<TeamScore>()[1].score, 32767);
    d.s.pump(10);
    EXPECT_EQ(d.a.count<BuoyInfo>() + d.a.count<TeamScore>(), 0u);
    EXPECT_EQ(teamScores[0], 1234.9f);
}

TEST(Buoys, NoBuoysNoTimersNoScores) {
    Domination d("");
    d.a.clear();
    d.s.advance(3001);
    d.s.advance(5001);
    d.s.pump(10);
    EXPECT_EQ(d.a.count<BuoyInfo>(), 0u);
    EXPECT_TRUE(teamScores.empty());
}

}  // namespace
