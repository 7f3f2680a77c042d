// Pure parts of the battle rules: damage points, booking a hit, start positions, end rules.
#include <gtest/gtest.h>

#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/session/end_rules.h"
#include "server/session/ship_registry.h"

namespace {

using KSTMP::ShipInfo;
using KSTMP::VC3;

ShipInfo ship(int team, int shipClass = 6, bool afloat = true) {
    ShipInfo s;
    s.team = static_cast<int8_t>(team);
    s.shipClass = static_cast<uint8_t>(shipClass);
    s.afloat = afloat ? 1 : 0;
    return s;
}

KSTMP::Damagelevel hit(int hull, int sails, int crew, int kind = 0, bool sunk = false) {
    KSTMP::Damagelevel d;
    d.shipIndex = 1;
    d.attackerIndex = 0;
    d.byShip = 1;
    d.hull = static_cast<int16_t>(hull);
    d.sails = static_cast<int16_t>(sails);
    d.crew = static_cast<int16_t>(crew);
    d.damageKind = static_cast<uint8_t>(kind);
    d.sunk = sunk ? 0 : -1;
    return d;
}

TEST(DamagePoints, SinglePrecisionConstantsTruncatedTowardZero) {
    struct Case {
        int hull, sails, crew;
        float factor;
        bool friendly;
        std::array<int, 3> attacker, target;
    };
    const Case cases[] = {
        {100, 100, 100, 5.0f, false, {500, 250, 375}, {-449, -224, -337}},
        {100, 100, 100, 5.0f, true, {-649, -324, -487}, {0, 0, 0}},
        {500, 0, 0, 1.0f, false, {500, 0, 0}, {-449, 0, 0}},
        {500, 0, 0, 1.0f, true, {-649, 0, 0}, {0, 0, 0}},
        {-100, -100, -100, 5.0f, false, {-500, -250, -375}, {449, 224, 337}},
        {10, 10, 10, 0.15f, false, {1, 0, 1}, {-1, 0, -1}},
    };
    for (const auto& c : cases) {
        const DamagePoints p = damage_points(static_cast<int16_t>(c.hull), static_cast<int16_t>(c.sails),
                                             static_cast<int16_t>(c.crew), c.factor, c.friendly);
        EXPECT_EQ(p.attacker, c.attacker) << c.hull << " x " << c.factor << (c.friendly ? " friendly" : "");
        EXPECT_EQ(p.target, c.target) << c.hull << " x " << c.factor << (c.friendly ? " friendly" : "");
    }
}

TEST(ApplyDamage, FriendlyFireOnlyInTeamGamesAndRawTalliesByKind) {
    struct Case {
        int gameType, attackerTeam, targetTeam, kind;
        int attackerHull, targetHull;
        int16_t ShipInfo::*hits;
    };
    const Case cases[] = {
        {1, 0, 1, 1, 500, -449, &ShipInfo::hitsA},
        {1, 0, 1, 0, 500, -449, &ShipInfo::hitsB},
        {1, 0, 0, 1, -649, 0, &ShipInfo::friendlyHitsA},
        {2, 1, 1, 0, -649, 0, &ShipInfo::friendlyHitsB},
        {0, 0, 0, 0, 500, -449, &ShipInfo::hitsB},
    };
    for (const auto& c : cases) {
        ShipInfo a = ship(c.attackerTeam, 6), t = ship(c.targetTeam, 7);
        EXPECT_FALSE(apply_damage(a, t, hit(100, 20, 30, c.kind), c.gameType));
        EXPECT_EQ(+a.scores[0], c.attackerHull) << "game type " << c.gameType;
        EXPECT_EQ(+t.scores[0], c.targetHull) << "game type " << c.gameType;
        EXPECT_EQ(+(a.*c.hits), 1);
        const bool friendly = c.gameType != 0 && c.attackerTeam == c.targetTeam;
        const int16_t(&raw)[3] = friendly ? (c.kind ? a.friendlyDamageA : a.friendlyDamageB)
                                          : (c.kind ? a.damageDealtA : a.damageDealtB);
        EXPECT_EQ(raw[0], 100);
        EXPECT_EQ(raw[1], 20);
        EXPECT_EQ(raw[2], 30);
        EXPECT_EQ(+a.hitsA + a.hitsB + a.friendlyHitsA + a.friendlyHitsB, 1);
        EXPECT_EQ(+a.kills, 0);
    }
}

TEST(ApplyDamage, SinkingCountsKillsAndKillsByClassWraps) {
    ShipInfo a = ship(0, 6), t = ship(1, 7);
    EXPECT_TRUE(apply_damage(a, t, hit(1, 1, 1, 0, true), 1));
    EXPECT_EQ(+a.kills, 1);
    EXPECT_EQ(+a.killsByClass[7], 0);  // 255 + 1
    EXPECT_TRUE(apply_damage(a, t, hit(1, 1, 1, 0, true), 1));
    EXPECT_EQ(+a.killsByClass[7], 1);
    EXPECT_EQ(+a.killsByClass[6], 255);
    // A target class outside the table counts the kill but indexes nothing.
    ShipInfo odd = ship(1, 200);
    EXPECT_TRUE(apply_damage(a, odd, hit(1, 1, 1, 0, true), 1));
    EXPECT_EQ(+a.kills, 3);
    for (int k = 0; k < 14; ++k)
        if (k != 7) {
            EXPECT_EQ(+a.killsByClass[k], 255) << k;
        }
}

TEST(ApplyDamage, StatisticsWrapAtSixteenBits) {
    ShipInfo a = ship(0, 6), t = ship(1, 7);
    a.scores[0] = 32600;
    a.hitsB = 32767;
    apply_damage(a, t, hit(100, 0, 0), 1);
    EXPECT_EQ(+a.scores[0], static_cast<int16_t>(32600 + 500 - 65536));
    EXPECT_EQ(+a.hitsB, -32768);
}

class StartPositions : public ::testing::Test {
protected:
    void SetUp() override {
        serverSettings.teamStarts.clear();
        serverSettings.teamCentres.clear();
        clearShipsForEverything();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(StartPositions, ListThenGroupCentreThenOwnPosition) {
    serverSettings.teamStarts[0] = {VC3(1, 0, 2), VC3(3, 0, 4)};
    serverSettings.teamCentres[0] = VC3(500, 0, 700);
    serverSettings.teamStarts[1] = {VC3(9, 0, 9)};
    clearShipsForEverything();
    VC3 p(55, 5, 66);
    pick_start_position(p, 0, 10);
    EXPECT_EQ(+p.x, 1);
    EXPECT_EQ(+p.z, 2);
    pick_start_position(p, 0, 10);
    EXPECT_EQ(+p.x, 3);
    EXPECT_EQ(+p.z, 4);
    for (int i = 0; i < 20; ++i) {
        pick_start_position(p, 0, 10);
        EXPECT_GE(+p.x, 500);
        EXPECT_LT(+p.x, 600);
        EXPECT_EQ(+p.y, 0);
        EXPECT_GE(+p.z, 700);
        EXPECT_LT(+p.z, 800);
    }
    // Team 1 has its list but no centre once emptied; team 7 and team -1 have no start data.
    pick_start_position(p, 1, 10);
    EXPECT_EQ(+p.x, 9);
    VC3 own(42, 1, 43);
    pick_start_position(own, 7, 10);
    EXPECT_EQ(+own.x, 42);
    EXPECT_EQ(+own.z, 43);
    VC3 none(-5, 1, -6);
    pick_start_position(none, -1, 10);
    EXPECT_EQ(+none.x, -5);
}

TEST_F(StartPositions, UsedPositionIsRetriedUntilRandom) {
    VC3 first(42, 1, 43), second(42, 7, 43);
    pick_start_position(first, 3, 10);
    EXPECT_EQ(+first.x, 42);
    pick_start_position(second, 3, 10);
    EXPECT_GE(+second.x, 10);
    EXPECT_LE(+second.x, 109);
    EXPECT_GE(+second.z, 10);
    EXPECT_LE(+second.z, 109);
    EXPECT_EQ(+second.y, 7);
    // A negative budget changes nothing and records nothing.
    VC3 third(42, 0, 43);
    pick_start_position(third, 3, -1);
    EXPECT_EQ(+third.x, 42);
}

TEST_F(StartPositions, RematchGetsTheConfiguredListAgain) {
    serverSettings.teamStarts[0] = {VC3(1, 0, 2)};
    clearShipsForEverything();
    VC3 p;
    pick_start_position(p, 0, 10);
    EXPECT_EQ(+p.x, 1);
    resetShipsForNewGame();
    VC3 q(77, 0, 77);
    pick_start_position(q, 0, 10);
    EXPECT_EQ(+q.x, 1);
    EXPECT_EQ(+q.z, 2);
}

struct EndCase {
    const char* what;
    int gameType;
    int32_t timeLeft;
    std::vector<std::pair<int, bool>> ships;  // team, afloat
    std::map<int8_t, float> scores;
    bool ends;
    bool teamGame;
    int winner;
};

TEST(EndRules, DecisionByGameType) {
    const EndCase cases[] = {
        {"free for all, two of three sunk", 0, 100, {{0, true}, {1, false}, {0, false}}, {}, true, false, -1},
        {"free for all, two afloat", 0, 100, {{0, true}, {1, true}, {0, false}}, {}, false, false, -1},
        {"free for all, time up", 0, 0, {{0, true}, {1, true}}, {}, true, false, -1},
        {"team 1 sunk", 1, 100, {{0, true}, {1, false}, {1, false}}, {}, true, true, 0},
        {"team 0 sunk", 3, 100, {{0, false}, {1, true}}, {}, true, true, 1},
        {"both sunk in one pass", 4, 100, {{0, false}, {1, false}}, {}, true, true, 1},
        {"time up 3 against 2", 1, 0, {{0, true}, {0, true}, {0, true}, {1, true}, {1, true}}, {}, true, true, 0},
        {"time up 1 against 2", 4, 0, {{0, true}, {1, true}, {1, true}}, {}, true, true, 1},
        {"time up 2 against 2", 1, 0, {{0, true}, {0, true}, {1, true}, {1, true}}, {}, true, true, -1},
        {"team game running", 1, 5, {{0, true}, {1, true}}, {}, false, true, 0},
        {"domination by score", 2, 0, {{0, true}, {1, true}}, {{0, 3.0f}, {1, 12.5f}}, true, true, 1},
        {"domination equal scores", 2, 0, {{0, true}, {1, true}}, {{0, 12.0f}, {1, 12.0f}}, true, true, 0},
        {"domination no scores", 2, 0, {{0, true}, {1, true}}, {}, true, true, -1},
        {"domination running, a team sunk", 2, 10, {{0, false}, {1, true}}, {{0, 1.0f}}, false, true, 0},
        {"no end rule", -1, 0, {{0, false}, {1, false}}, {}, false, false, -1},
    };
    for (const auto& c : cases) {
        std::vector<ShipInfo> ships;
        for (auto [team, afloat] : c.ships) ships.push_back(ship(team, 6, afloat));
        const EndDecision d = decide_end(c.gameType, c.timeLeft, ships, c.scores);
        EXPECT_EQ(+d.ends, c.ends) << c.what;
        EXPECT_EQ(+d.teamGame, c.teamGame) << c.what;
        if (d.ends && d.teamGame) {
            EXPECT_EQ(+d.winner, c.winner) << c.what;
        }
    }
}

TEST(EndRules, TeamSizesCountEveryShip) {
    std::vector<ShipInfo> ships = {ship(0, 6, false), ship(0), ship(1), ship(-1), ship(1, 6, false), ship(1)};
    const EndDecision d = decide_end(1, 10, ships, {});
    EXPECT_EQ(+d.team0Ships, 2);
    EXPECT_EQ(+d.team1Ships, 3);
}

}  // namespace
