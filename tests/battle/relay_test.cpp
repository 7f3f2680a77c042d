// Ship registry and battle relay with a real server and real client peers on loopback.
#include <gtest/gtest.h>

#include "server/config/server_settings.h"
#include "server/core/server_globals.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"
#include "tests/battle/battle_harness.h"

namespace {

using namespace battle_test;
using KSTMP::ShipInfo;
using KSTMP::VC3;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string startFile() { return "team0\n{\n0 = 1,0,2\n1 = 3,0,4\n}\n"; }

// Waits until every client of the server got `n` more records of type R than it had.
template <class R>
bool allGet(Server& s, size_t n) {
    std::vector<size_t> before;
    for (Client* c : s.clients) before.push_back(c->count<R>());
    return s.pumpUntil([&] {
        for (size_t i = 0; i < s.clients.size(); ++i)
            if (s.clients[i]->count<R>() < before[i] + n) return false;
        return true;
    });
}

TEST(Registry, IndicesInArrivalOrderStartPositionsAndUpdate) {
    Server s({"", "", startFile()});
    ASSERT_TRUE(s.running());
    Client a(s), b(s);
    ASSERT_TRUE(a.connected() && b.connected());
    a.join(3);
    b.join(2);
    s.pump();

    struct Reg {
        Client* who;
        int ownerShipIndex, team;
        VC3 own;
    };
    const Reg regs[] = {{&a, 0, 0, VC3(9, 9, 9)}, {&a, 1, 0, VC3(9, 9, 9)}, {&b, 0, 1, VC3(500, 0, 600)},
                        {&b, 1, 1, VC3(500, 0, 600)}, {&a, 2, 0, VC3(9, 9, 9)}};
    testing::internal::CaptureStdout();
    for (const auto& r : regs) {
        r.who->sendShip(r.ownerShipIndex, r.team, 6, r.own);
        ASSERT_TRUE(allGet<ShipInfo>(s, 1));
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "got a new ship 3\n")) << out;
    EXPECT_TRUE(contains(out, "Sending shipinfo to everybody\n"));

    // Both clients see every entry in arrival order, with the index and start position given.
    for (Client* c : {&a, &b}) {
        const auto ships = c->records<ShipInfo>();
        ASSERT_EQ(ships.size(), 5u);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(ships[i].shipIndex, i);
        EXPECT_EQ(ships[0].owner, a.address());
        EXPECT_EQ(ships[2].owner, b.address());
        EXPECT_EQ(+ships[0].position.x, 1);  // listed positions
        EXPECT_EQ(+ships[0].position.z, 2);
        EXPECT_EQ(+ships[1].position.x, 3);
        EXPECT_EQ(+ships[1].position.z, 4);
        EXPECT_EQ(+ships[2].position.x, 500);  // team 1 has no start data: its own position
        EXPECT_EQ(+ships[2].position.z, 600);
        EXPECT_GE(+ships[3].position.x, 10);  // the same position again: retried, then random
        EXPECT_LE(+ships[3].position.x, 109);
        EXPECT_GE(+ships[3].position.z, 10);
        EXPECT_LE(+ships[3].position.z, 109);
        EXPECT_GE(+ships[4].position.x, 2);  // list used up: near the group centre (2, 3)
        EXPECT_LT(+ships[4].position.x, 102);
        EXPECT_GE(+ships[4].position.z, 3);
        EXPECT_LT(+ships[4].position.z, 103);
    }

    // An update of (a, 1) changes entry 1 and sends the entry, not the record, to everybody.
    ShipInfo update;
    update.owner = a.address();
    update.ownerShipIndex = 1;
    update.shipIndex = 1;
    update.shipClass = 9;
    update.team = 1;
    update.position = VC3(700, 0, 700);
    update.scores[0] = 999;
    std::strcpy(update.name, "Renamed");
    testing::internal::CaptureStdout();
    a.send(update);
    ASSERT_TRUE(allGet<ShipInfo>(s, 1));
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "Ship info updated. idx = 1\n"));
    ASSERT_EQ(shipRegistry.size(), 5u);
    for (Client* c : {&a, &b}) {
        const ShipInfo sent = c->records<ShipInfo>().back();
        EXPECT_EQ(+sent.shipIndex, 1);
        EXPECT_EQ(+sent.shipClass, 9);
        EXPECT_EQ(+sent.team, 1);
        EXPECT_STREQ(sent.name, "Renamed");
        EXPECT_EQ(+sent.position.x, 3);  // kept
        EXPECT_EQ(+sent.scores[0], 0);   // kept
    }
}

TEST(Registry, ShipListOnlyWhenTheRegistryMatchesTheReservations) {
    Server s({});
    Client a(s), b(s);
    a.join(2);
    b.join(1);
    s.pump();
    a.sendShip(0, 0, 6);
    ASSERT_TRUE(allGet<ShipInfo>(s, 1));
    b.sendShip(0, 1, 6);
    ASSERT_TRUE(allGet<ShipInfo>(s, 1));
    testing::internal::CaptureStdout();
    b.notify(KSTMP::ntf_ship_list_request);
    s.pump();
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(),
                         "is asking current ships, but server has not recieved all the reservations yet.\n"));
    EXPECT_EQ(b.count<ShipInfo>(), 2u);

    a.sendShip(1, 0, 6);
    ASSERT_TRUE(allGet<ShipInfo>(s, 1));
    a.clear();
    b.clear();
    testing::internal::CaptureStdout();
    b.notify(KSTMP::ntf_ship_list_request);
    ASSERT_TRUE(s.pumpUntil([&] { return b.count<ShipInfo>() == 3; }));
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "is asking current ships, send them\n"));
    const auto list = b.records<ShipInfo>();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list[i].shipIndex, i);
    s.pump();
    EXPECT_EQ(a.count<ShipInfo>(), 0u);  // the asker only
}

TEST(Registry, FullRegistryRefusesTheNextShip) {
    Server s({});
    Client a(s);
    a.join(1);
    s.pump();
    for (int i = 0; i < 128; ++i) a.sendShip(i, 0, 6);
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<ShipInfo>() == 128; }));
    testing::internal::CaptureStdout();
    a.sendShip(-1, 0, 6);  // the 129th (ownerShipIndex 128 does not fit a byte)
    s.pump();
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "the ship registry is full (128 ships), ship refused\n"));
    EXPECT_EQ(shipRegistry.size(), 128u);
    EXPECT_EQ(a.count<ShipInfo>(), 128u);
    EXPECT_EQ(+shipRegistry.back().shipIndex, 127);
}

// Two clients, each with two ships of classes 6 and 7, in phase 0.
struct Fleet {
    Server s;
    Client a, b;
    explicit Fleet(const ServerFiles& files = {}) : s(files), a(s), b(s) {
        a.join(2);
        b.join(2);
        s.pump();
    }
    void ships(int teamA0, int teamA1, int teamB0, int teamB1) {
        a.sendShip(0, teamA0, 6);
        a.sendShip(1, teamA1, 7);
        ASSERT_TRUE(allGet<ShipInfo>(s, 2));
        b.sendShip(0, teamB0, 6);
        b.sendShip(1, teamB1, 7);
        ASSERT_TRUE(allGet<ShipInfo>(s, 2));
    }
};

KSTMP::Damagelevel damage(int target, int attacker, int hull, int sails, int crew, bool sunk = false) {
    KSTMP::Damagelevel d;
    d.shipIndex = static_cast<int8_t>(target);
    d.attackerIndex = static_cast<int16_t>(attacker);
    d.hull = static_cast<int16_t>(hull);
    d.sails = static_cast<int16_t>(sails);
    d.crew = static_cast<int16_t>(crew);
    d.byShip = 1;
    d.sunk = sunk ? 1 : -1;
    return d;
}

TEST(Damage, ClassFactorsFriendlyFireAndRelay) {
    struct Row {
        const char* what;
        int gameType;
        int targetTeam;  // attacker (ship 0, class 6) is on team 0; target is ship 1, class 7
        std::array<int, 3> attacker, target;
    };
    const Row rows[] = {
        {"enemy", 1, 1, {500, 250, 375}, {-449, -224, -337}},
        {"team mates in a team game", 1, 0, {-649, -324, -487}, {0, 0, 0}},
        {"team mates in game type 0", 0, 0, {500, 250, 375}, {-449, -224, -337}},
    };
    for (const auto& row : rows) {
        Fleet f;
        serverSettings.gameType = row.gameType;
        f.ships(0, row.targetTeam, 1, 1);
        KSTMP::Damagelevel d = damage(1, 0, 100, 100, 100);
        f.a.send(d);
        ASSERT_TRUE(allGet<KSTMP::Damagelevel>(f.s, 1)) << row.what;
        const ShipInfo* attacker = findShip(0);
        const ShipInfo* target = findShip(1);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(+attacker->scores[k], row.attacker[k]) << row.what << " " << k;
            EXPECT_EQ(+target->scores[k], row.target[k]) << row.what << " " << k;
        }
        const auto relayed = f.b.records<KSTMP::Damagelevel>().back();
        EXPECT_EQ(+relayed.shipIndex, 1);
        EXPECT_EQ(+relayed.hull, 100);
    }
}

TEST(Damage, SinkOrderMinutesAndUnattributedRecords) {
    Fleet f;
    serverSettings.gameType = 1;
    f.ships(0, 0, 1, 1);
    // Without attacker, or not caused by a ship: relayed, nothing booked.
    KSTMP::Damagelevel noAttacker = damage(2, -1, 100, 100, 100, true);
    KSTMP::Damagelevel notByShip = damage(2, 0, 100, 100, 100, true);
    notByShip.byShip = 0;
    f.a.send(noAttacker);
    f.a.send(notByShip);
    ASSERT_TRUE(allGet<KSTMP::Damagelevel>(f.s, 2));
    for (const auto& ship : shipRegistry) {
        EXPECT_EQ(+ship.scores[0], 0);
        EXPECT_EQ(+ship.sinkOrder, 0);
        EXPECT_EQ(+ship.hitsA + ship.hitsB, 0);
    }
    setClock(clockNow() + 3 * 60000 + 500);
    f.s.pump(3);
    KSTMP::Damagelevel first = damage(2, 0, 10, 0, 0, true);
    KSTMP::Damagelevel second = damage(3, 0, 10, 0, 0, true);
    f.a.send(first);
    f.b.send(second);
    ASSERT_TRUE(allGet<KSTMP::Damagelevel>(f.s, 2));
    EXPECT_EQ(+findShip(2)->sinkOrder, 1);
    EXPECT_EQ(+findShip(3)->sinkOrder, 2);
    EXPECT_EQ(+findShip(2)->sunkAtMinute, 3u);
    EXPECT_EQ(+findShip(0)->kills, 2);
    EXPECT_EQ(+findShip(0)->killsByClass[6], 0);  // 255 + 1 wraps
    EXPECT_EQ(+findShip(0)->killsByClass[7], 0);
    EXPECT_EQ(+findShip(0)->hitsB, 2);
    EXPECT_EQ(+findShip(0)->damageDealtB[0], 20);
}

TEST(LostShips, RespawnAfterTenSecondsInDomination) {
    Fleet f;
    serverSettings.gameType = 2;
    startBattle(f.s, [&] { f.ships(0, 0, 1, 1); });
    ASSERT_EQ(currentPhase(), phase_in_game);

    f.a.notify(KSTMP::ntf_ship_lost_a, 1);
    ASSERT_TRUE(allGet<KSTMP::Notifier>(f.s, 1));
    EXPECT_EQ(+f.b.notices(KSTMP::ntf_ship_lost_a).back().param, 1);
    EXPECT_EQ(+findShip(1)->afloat, 0);
    EXPECT_TRUE(respawnPending(1));
    // Out of play already: not relayed, the wait is not restarted.
    const size_t lostSeen = f.b.notices(KSTMP::ntf_ship_lost_b).size();
    f.s.advance(4000);
    f.a.notify(KSTMP::ntf_ship_lost_b, 1);
    f.s.pump();
    EXPECT_EQ(f.b.notices(KSTMP::ntf_ship_lost_b).size(), lostSeen);
    f.s.advance(5999);
    f.s.pump(5);
    EXPECT_EQ(f.a.count<KSTMP::RespawnShip>(), 0u);
    f.s.advance(2);
    ASSERT_TRUE(f.s.pumpUntil([&] { return f.a.count<KSTMP::RespawnShip>() == 1 && f.b.count<KSTMP::RespawnShip>() == 1; }));
    EXPECT_EQ(+f.b.records<KSTMP::RespawnShip>()[0].shipIndex, 1);
    EXPECT_EQ(+findShip(1)->afloat, 1);
    EXPECT_EQ(+findShip(1)->respawns, 1);
    EXPECT_FALSE(respawnPending(1));

    // Lost again, back in play by its owner's update, lost once more: the wait starts again.
    f.a.notify(KSTMP::ntf_ship_lost_a, 1);
    f.s.pump();
    f.s.advance(6000);
    ShipInfo afloat;
    afloat.owner = f.a.address();
    afloat.ownerShipIndex = 1;
    afloat.shipClass = 7;
    afloat.afloat = 1;
    f.a.send(afloat);
    f.s.pump();
    f.a.notify(KSTMP::ntf_ship_lost_a, 1);
    f.s.pump();
    f.s.advance(6000);
    f.s.pump(5);
    EXPECT_EQ(f.a.count<KSTMP::RespawnShip>(), 1u);
    f.s.advance(4001);
    ASSERT_TRUE(f.s.pumpUntil([&] { return f.a.count<KSTMP::RespawnShip>() == 2; }));
    EXPECT_EQ(+findShip(1)->respawns, 2);
}

TEST(LostShips, NoRespawnOutsideDomination) {
    Fleet f;
    serverSettings.gameType = 1;
    startBattle(f.s, [&] { f.ships(0, 0, 1, 1); });
    f.b.notify(KSTMP::ntf_ship_lost_a, 2);
    ASSERT_TRUE(allGet<KSTMP::Notifier>(f.s, 1));
    EXPECT_EQ(+findShip(2)->afloat, 0);
    EXPECT_FALSE(respawnPending(2));
}

TEST(Notices, RelayedToEveryPlayerAndTalliesCounted) {
    Fleet f;
    f.ships(0, 0, 1, 1);
    const struct {
        int code, ship;
    } rows[] = {{KSTMP::ntf_ship_notice_a, 0}, {KSTMP::ntf_ship_notice_b, 3}, {KSTMP::ntf_ship_notice_c, 2},
                {KSTMP::ntf_ship_tally_a, 3}, {KSTMP::ntf_ship_tally_a, 3}, {KSTMP::ntf_ship_tally_b, 1}};
    for (const auto& r : rows) {
        f.a.notify(r.code, r.ship);
        ASSERT_TRUE(allGet<KSTMP::Notifier>(f.s, 1)) << r.code;
        for (Client* c : {&f.a, &f.b}) {
            EXPECT_EQ(+c->records<KSTMP::Notifier>().back().code, r.code);
            EXPECT_EQ(+c->records<KSTMP::Notifier>().back().param, r.ship);
        }
    }
    EXPECT_EQ(+findShip(3)->tallyA, 2);
    EXPECT_EQ(+findShip(1)->tallyB, 1);
    EXPECT_EQ(+findShip(0)->tallyA + findShip(0)->tallyB, 0);

    KSTMP::Coordinates c;
    c.shipIndex = 2;
    c.position = VC3(10.7f, 0, -20.2f);
    KSTMP::simplePosition p;
    p.shipIndex = 2;
    testing::internal::CaptureStdout();
    // Both records may reach the clients in the same pass: count from before either is sent.
    std::vector<size_t> coordinates, positions;
    for (Client* client : f.s.clients) {
        coordinates.push_back(client->count<KSTMP::Coordinates>());
        positions.push_back(client->count<KSTMP::simplePosition>());
    }
    f.b.send(c);
    f.b.send(p);
    ASSERT_TRUE(f.s.pumpUntil([&] {
        for (size_t i = 0; i < f.s.clients.size(); ++i)
            if (f.s.clients[i]->count<KSTMP::Coordinates>() <= coordinates[i] ||
                f.s.clients[i]->count<KSTMP::simplePosition>() <= positions[i])
                return false;
        return true;
    }));
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), " , idx=2send coordinates x=10, z=-20\n"));
}

TEST(BadIndices, DroppedWithALineAndTheServerGoesOn) {
    Fleet f({"", "b0\n{\nType = 1\n}\n", ""});
    f.ships(0, 0, 1, 1);
    testing::internal::CaptureStdout();
    f.a.clear();
    f.b.clear();
    f.a.notify(KSTMP::ntf_ship_notice_a, 4);
    f.a.notify(KSTMP::ntf_ship_tally_a, -1);
    f.a.notify(KSTMP::ntf_ship_tally_b, 100000);
    f.a.notify(KSTMP::ntf_ship_lost_a, 128);
    f.a.notify(KSTMP::ntf_ship_lost_b, -129);
    KSTMP::Damagelevel badTarget = damage(77, 0, 1, 1, 1);
    KSTMP::Damagelevel badAttacker = damage(0, 300, 1, 1, 1);
    KSTMP::Damagelevel negativeAttacker = damage(0, -2, 1, 1, 1);
    f.a.send(badTarget);
    f.a.send(badAttacker);
    f.a.send(negativeAttacker);
    KSTMP::BuoyInfo buoy;
    buoy.buoyId = 1;
    f.a.send(buoy);
    buoy.buoyId = -1;
    f.a.send(buoy);
    f.a.notify(KSTMP::ntf_ship_notice_a, 3);  // a good one afterwards
    ASSERT_TRUE(f.s.pumpUntil([&] { return f.b.count<KSTMP::Notifier>() == 1; }));
    f.s.pump();
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char* line :
         {"sent ship notice 7 for ship 4, which is not registered; dropped\n",
          "sent ship notice 11 for ship -1, which is not registered; dropped\n",
          "sent ship notice 12 for ship 100000, which is not registered; dropped\n",
          "sent ship notice 26 for ship 128, which is not registered; dropped\n",
          "sent ship notice 27 for ship -129, which is not registered; dropped\n",
          "sent damage to ship 77 by ship 0, which is not registered; dropped\n",
          "sent damage to ship 0 by ship 300, which is not registered; dropped\n",
          "sent damage to ship 0 by ship -2, which is not registered; dropped\n",
          "reported buoy 1, which does not exist; dropped\n", "reported buoy -1, which does not exist; dropped\n"})
        EXPECT_TRUE(contains(out, line)) << line << "\n" << out;
    // Nothing of the bad records reached anybody; the good notice did.
    EXPECT_EQ(f.b.count<KSTMP::Damagelevel>(), 0u);
    EXPECT_EQ(f.b.count<KSTMP::BuoyInfo>(), 0u);
    ASSERT_EQ(f.b.count<KSTMP::Notifier>(), 1u);
    EXPECT_EQ(+f.b.records<KSTMP::Notifier>()[0].param, 3);
    for (const auto& ship : shipRegistry) {
        EXPECT_EQ(+ship.afloat, 1);
        EXPECT_EQ(+ship.tallyA + ship.tallyB, 0);
        EXPECT_EQ(+ship.scores[0], 0);
    }
}

TEST(BadIndices, ShipsFoundByTheirOwnIndexAfterAPlayerLeft) {
    Server s({});
    auto a = std::make_unique<Client>(s);
    Client b(s);
    a->join(2);
    b.join(2);
    s.pump();
    a->sendShip(0, 0, 6);
    a->sendShip(1, 0, 6);
    ASSERT_TRUE(allGet<ShipInfo>(s, 2));
    b.sendShip(0, 1, 6);
    b.sendShip(1, 1, 7);
    ASSERT_TRUE(allGet<ShipInfo>(s, 2));
    const SystemAddress aAddress = a->address();
    a.reset();  // a disconnects: its ships 0 and 1 leave the registry
    ASSERT_TRUE(s.pumpUntil([&] { return shipRegistry.size() == 2; }));
    EXPECT_EQ(players.count(aAddress), 0u);

    b.notify(KSTMP::ntf_ship_tally_a, 3);
    ASSERT_TRUE(s.pumpUntil([&] { return b.notices(KSTMP::ntf_ship_tally_a).size() == 1; }));
    ASSERT_NE(findShip(3), nullptr);
    ASSERT_NE(findShip(2), nullptr);
    EXPECT_EQ(+findShip(3)->tallyA, 1);
    EXPECT_EQ(+shipRegistry[1].tallyA, 1);
    KSTMP::Damagelevel d = damage(3, 2, 100, 100, 100);
    b.send(d);
    ASSERT_TRUE(s.pumpUntil([&] { return b.count<KSTMP::Damagelevel>() == 1; }));
    // Class 6 against class 7 of its own team in game type 0: enemy fire, factor 5.
    EXPECT_EQ(+findShip(2)->scores[0], 500);
    EXPECT_EQ(+findShip(3)->scores[0], -449);
    // A ship at registry position 0 or 1 that is not ship 0 or 1 is never taken for them.
    EXPECT_EQ(findShip(0), nullptr);
    EXPECT_EQ(findShip(1), nullptr);
    // A new ship takes the lowest free index, not one that is still held.
    Client c(s);
    c.join(1);
    s.pump();
    c.sendShip(0, 0, 6);
    ASSERT_TRUE(s.pumpUntil([&] { return c.count<ShipInfo>() == 1; }));
    EXPECT_EQ(+c.records<ShipInfo>()[0].shipIndex, 0);
}

TEST(Mirror, OnePlayerFightsACopyOfItsFleet) {
    Server s({});
    Client a(s);
    a.join(2);
    s.pump();
    a.sendShip(0, 0, 6, VC3(1, 0, 1));
    a.sendShip(1, 0, 7, VC3(2, 0, 2));
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<ShipInfo>() == 2; }));
    mirrorMode = true;
    testing::internal::CaptureStdout();
    a.notify(KSTMP::ntf_ready_to_spawn);
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<ShipInfo>() == 4 && currentPhase() == phase_spawn; }));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "Only one player -> DEBUG MODE -> cloning ")) << out;
    EXPECT_TRUE(contains(out, "Clones done, starting to send ships.\nSending ship idx = 2 \nSending ship idx = 3 \n"));
    EXPECT_TRUE(cloneMode);
    const auto ships = a.records<ShipInfo>();
    SystemAddress server;
    server.SetBinaryAddress("127.0.0.1");
    server.port = s.port();
    for (int i : {2, 3}) {
        EXPECT_EQ(+ships[i].shipIndex, i);
        EXPECT_EQ(ships[i].owner, server);
        EXPECT_EQ(+ships[i].shipClass, +ships[i - 2].shipClass);
    }
    // A repeated readiness message does not clone the copies again.
    testing::internal::CaptureStdout();
    a.notify(KSTMP::ntf_ready_to_spawn);
    s.pump();
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "is cloned already\n"));
    EXPECT_EQ(shipRegistry.size(), 4u);
    EXPECT_EQ(a.count<ShipInfo>(), 4u);

    KSTMP::Coordinates c;
    c.shipIndex = 1;
    c.position = VC3(10, 5, 20);
    c.positionB = VC3(-1, 0, -2);
    testing::internal::CaptureStdout();
    a.send(c);
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<KSTMP::Coordinates>() == 1; }));
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "sending cloned coordinates x=110, z=120\n"));
    const auto back = a.records<KSTMP::Coordinates>()[0];
    EXPECT_EQ(+back.shipIndex, 3);
    EXPECT_EQ(+back.position.x, 110);
    EXPECT_EQ(+back.position.y, 5);
    EXPECT_EQ(+back.position.z, 120);
    EXPECT_EQ(+back.positionB.x, 99);
    EXPECT_EQ(+back.positionB.z, 98);

    KSTMP::simplePosition p;
    p.shipIndex = 0;
    p.position = VC3(1, 1, 1);
    a.send(p);
    a.notify(KSTMP::ntf_ship_notice_b, 0);
    a.notify(KSTMP::ntf_ship_tally_a, 1);
    ASSERT_TRUE(s.pumpUntil([&] {
        return a.count<KSTMP::simplePosition>() == 1 && a.notices(KSTMP::ntf_ship_notice_b).size() == 1 &&
               a.notices(KSTMP::ntf_ship_tally_a).size() == 1;
    }));
    EXPECT_EQ(+a.records<KSTMP::simplePosition>()[0].shipIndex, 2);
    EXPECT_EQ(+a.records<KSTMP::simplePosition>()[0].position.x, 101);
    EXPECT_EQ(+a.notices(KSTMP::ntf_ship_notice_b).at(0).param, 2);
    EXPECT_EQ(+a.notices(KSTMP::ntf_ship_tally_a).at(0).param, 3);
    EXPECT_EQ(+findShip(1)->tallyA, 1);

    // A record about a copy has no copy of its own: dropped with a line.
    c.shipIndex = 3;
    testing::internal::CaptureStdout();
    a.send(c);
    s.pump();
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "sent coordinates for ship 3, which has no copy; dropped\n"));
    EXPECT_EQ(a.count<KSTMP::Coordinates>(), 1u);
}

TEST(Stats, MasterServerVerdictMarksTheFirstShipOfThePlayer) {
    Fleet f;
    f.ships(0, 0, 1, 1);
    KSTMP::VerifyStatsResult r;
    r.player = f.b.address();
    testing::internal::CaptureStdout();
    f.a.send(r);
    ASSERT_TRUE(f.s.pumpUntil([] { return findShip(2)->statsHandled == 1; }));
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(),
                         std::string("Master server handled stats: ") + f.b.address().ToString(true) + "\n"));
    EXPECT_EQ(+findShip(3)->statsHandled, 0);
    r.player = KSTMP::FakeAddress(0x0100007Fu, 1);
    testing::internal::CaptureStdout();
    f.a.send(r);
    f.s.pump();
    EXPECT_FALSE(contains(testing::internal::GetCapturedStdout(), "Master server handled stats"));
}

}  // namespace
