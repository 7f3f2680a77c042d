// A whole team battle with three clients, from login to the next phase 0, seen by the clients.
#include <gtest/gtest.h>

#include "tests/battle/battle_harness.h"

namespace {

using namespace battle_test;
using KSTMP::ShipInfo;

TEST(WholeBattle, ThreeClientsFromLoginToTheNextLobby) {
    Server s({"game_type = 1\ngame_length = 5\n"});
    ASSERT_TRUE(s.running());
    Client a(s), b(s), c(s);
    std::vector<Client*> all = {&a, &b, &c};
    for (Client* cl : all) ASSERT_TRUE(cl->connected());
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->count<KSTMP::GameType>() == 0) return false;
        return true;
    }));

    for (Client* cl : all) {
        KSTMP::LogIn login;
        std::strcpy(login.userName, "captain");
        cl->send(login);
    }
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->notices(KSTMP::ntf_login_result).empty()) return false;
        return true;
    }));
    for (Client* cl : all) {
        EXPECT_EQ(+cl->notices(KSTMP::ntf_login_result)[0].param, 1);  // no password: admitted
        cl->join(1);
        s.pump(10);
    }
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->notices(KSTMP::ntf_team_id).empty()) return false;
        return true;
    }));
    std::vector<int> teams;
    for (Client* cl : all) teams.push_back(cl->notices(KSTMP::ntf_team_id)[0].param);
    EXPECT_EQ(teams, (std::vector<int>{0, 1, 0}));

    for (Client* cl : all) cl->notify(KSTMP::ntf_ready_to_init);
    s.pump(20);
    s.advance(2001);
    ASSERT_TRUE(s.pumpUntil([&] { return c.phases().size() >= 1 && c.phases().back() == 2; }));
    for (size_t i = 0; i < all.size(); ++i) ASSERT_TRUE(all[i]->registerShip(0, teams[i], 6 + static_cast<int>(i)));
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->count<ShipInfo>() < 3) return false;
        return true;
    }));
    for (Client* cl : all) cl->notify(KSTMP::ntf_ready_to_spawn);
    ASSERT_TRUE(s.pumpUntil([&] { return a.phases().back() == 3; }));
    for (Client* cl : all) cl->notify(KSTMP::ntf_ready_to_play);
    ASSERT_TRUE(s.pumpUntil([&] { return a.phases().back() == 4 && b.phases().back() == 4 && c.phases().back() == 4; }));

    // The battle: a moves, b hits a, c sinks b, b's ship goes down.
    KSTMP::Coordinates move;
    move.shipIndex = 0;
    move.position = KSTMP::VC3(12, 0, 34);
    a.send(move);
    KSTMP::Damagelevel hitA;
    hitA.shipIndex = 0;
    hitA.attackerIndex = 1;
    hitA.hull = 40;
    hitA.byShip = 1;
    hitA.damageKind = 1;
    b.send(hitA);
    KSTMP::Damagelevel sinkB;
    sinkB.shipIndex = 1;
    sinkB.attackerIndex = 2;
    sinkB.hull = 200;
    sinkB.sunk = 1;
    sinkB.byShip = 1;
    c.send(sinkB);
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->count<KSTMP::Coordinates>() < 1 || cl->count<KSTMP::Damagelevel>() < 2) return false;
        return true;
    }));
    b.notify(KSTMP::ntf_ship_lost_a, 1);
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->notices(KSTMP::ntf_game_result).empty() || cl->phases().back() != 5) return false;
        return true;
    }));
    for (Client* cl : all) {
        EXPECT_EQ(+cl->records<KSTMP::Coordinates>()[0].position.z, 34);
        EXPECT_EQ(+cl->notices(KSTMP::ntf_ship_lost_a).at(0).param, 1);
        EXPECT_EQ(+cl->notices(KSTMP::ntf_game_result)[0].param, 0);
    }

    // The final registry, asked for during the pause.
    a.clear();
    a.notify(KSTMP::ntf_ship_list_request);
    ASSERT_TRUE(s.pumpUntil([&] { return a.count<ShipInfo>() == 3; }));
    const auto ships = a.records<ShipInfo>();
    EXPECT_EQ(+ships[0].winner, 1);
    EXPECT_EQ(+ships[1].winner, 0);
    EXPECT_EQ(+ships[2].winner, 1);
    EXPECT_EQ(+ships[0].teamSizeAtEnd, 2);
    EXPECT_EQ(+ships[1].teamSizeAtEnd, 1);
    EXPECT_EQ(+ships[1].afloat, 0);
    EXPECT_EQ(+ships[1].sinkOrder, 1);
    // Class 7 hitting class 6 (factor 0.1), then class 8 sinking class 7 (factor 3.5).
    EXPECT_EQ(+ships[0].scores[0], -3);
    EXPECT_EQ(+ships[1].scores[0], 4 - 629);
    EXPECT_EQ(+ships[2].scores[0], 700);
    EXPECT_EQ(+ships[2].kills, 1);
    EXPECT_EQ(+ships[2].killsByClass[7], 0);
    EXPECT_EQ(+ships[2].hitsB, 1);
    EXPECT_EQ(+ships[1].hitsA, 1);
    EXPECT_EQ(+ships[1].damageDealtA[0], 40);

    // Ten seconds of pause, a silent phase 6, and 100 ms later the lobby again, players kept.
    const size_t announced = b.phases().size();
    s.advance(10000);
    s.pump(10);
    EXPECT_EQ(b.phases().size(), announced);
    for (Client* cl : all) cl->clear();
    s.advance(100);
    ASSERT_TRUE(s.pumpUntil([&] {
        for (Client* cl : all)
            if (cl->phases().empty() || cl->phases().back() != 0 || cl->count<KSTMP::PlayerInfo>() < 3) return false;
        return true;
    }));
    for (const auto& p : c.records<KSTMP::PlayerInfo>()) {
        EXPECT_EQ(+p.joined, 1);
        EXPECT_EQ(+p.readyToInit, 0u);
    }
}

}  // namespace
