// Readiness, countdown, timers, phase announcements and the reset after a battle.
#include "protocol/text.h"
#include "server/core/server_globals.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server_harness.h"

using namespace harness;

namespace {

class PhasesTest : public ServerTest {
protected:
    // Phases announced to this client, in order of arrival.
    static std::vector<uint32_t> announced(const Client& client) {
        std::vector<uint32_t> phases;
        for (const Received& r : client.records(KSTMP::cmd_connection_status))
            phases.push_back(r.as<KSTMP::ConnectionStatus>().phase);
        return phases;
    }

    // Every client got exactly one announcement since its inbox was cleared: `phase`.
    bool everyoneAnnounced(uint32_t phase) {
        for (auto& client : clients)
            if (announced(*client) != std::vector<uint32_t>{phase})
                return false;
        return true;
    }

    void clearAll() {
        for (auto& client : clients)
            client->clear();
    }

    // Both players ready to initialize in a game type 0 server: the countdown of 2000 ms runs.
    void startCountdown(Client& a, Client& b) {
        a.notify(KSTMP::ntf_ready_to_init);
        b.notify(KSTMP::ntf_ready_to_init);
        ASSERT_TRUE(pumpUntil([&] { return countdownRunning(); }));
    }
};

TEST_F(PhasesTest, OneOfTwoReadyStartsNoCountdown) {
    startServer("game_type = 0");
    Client& a = join("a");
    join("b");
    console();
    a.notify(KSTMP::ntf_ready_to_init);
    ASSERT_TRUE(pumpUntil([&] { return console().find("1 of 2 are ready to initialize\n") != std::string::npos; }));
    settle(10);
    EXPECT_FALSE(countdownRunning());
    EXPECT_EQ(+players.at(a.address()).readyToInit, 1u);
}

TEST_F(PhasesTest, BothReadyOnOneTeamOfATeamGameStartsNoCountdown) {
    startServer("game_type = 1");
    Client& a = join("a");
    Client& b = join("b");
    KSTMP::PlayerInfo sameTeam;
    protocol::writeText(sameTeam.name, "b");
    sameTeam.team = 0;
    b.send(sameTeam);
    a.notify(KSTMP::ntf_ready_to_init);
    b.notify(KSTMP::ntf_ready_to_init);
    ASSERT_TRUE(pumpUntil([&] { return console().find("2 of 2 are ready to initialize\n") != std::string::npos; }));
    settle(10);
    EXPECT_FALSE(countdownRunning());
}

TEST_F(PhasesTest, CountdownThenInitialisationThenTimeout) {
    startServer("game_type = -1\nwait_for_others_length = 2");  // no end rule in phase 4
    Client& a = join("a");
    Client& b = join("b");
    console();
    ASSERT_NO_FATAL_FAILURE(startCountdown(a, b));
    const std::string who = a.address().ToString(true);
    EXPECT_NE(console().find(who + " is ready to init\n"), std::string::npos);
    clearAll();
    advanceClock(2000);
    pass();
    EXPECT_EQ(currentPhase(), phase_reservations) << "fires only below zero";
    advanceClock(1);
    pass();
    EXPECT_EQ(currentPhase(), phase_initialize);
    EXPECT_NE(console().find("Countdown timer reached zero, starting to init\nServer is asking to initialize\n"),
              std::string::npos);
    ASSERT_TRUE(pumpUntil([&] { return everyoneAnnounced(phase_initialize); }));

    clearAll();
    advanceClock(40000);
    pass();
    EXPECT_EQ(currentPhase(), phase_initialize);
    advanceClock(1);
    pass();
    EXPECT_EQ(currentPhase(), phase_in_game);
    EXPECT_NE(console().find("Server is in game\n"), std::string::npos);
    ASSERT_TRUE(pumpUntil([&] { return everyoneAnnounced(phase_in_game); }));
}

TEST_F(PhasesTest, NewPlayerStopsTheCountdown) {
    startServer("game_type = 0");
    Client& a = join("a");
    Client& b = join("b");
    ASSERT_NO_FATAL_FAILURE(startCountdown(a, b));
    join("c");
    EXPECT_FALSE(countdownRunning());
}

TEST_F(PhasesTest, AllReadyToSpawnThenToPlay) {
    startServer("game_type = -1");
    Client& a = join("a");
    Client& b = join("b");
    console();
    clearAll();
    struct Step {
        Client* who;
        int code;
        const char* line;
        int phase;
    } steps[] = {
        {&a, KSTMP::ntf_ready_to_spawn, "1 of 2 are ready to spawn\n", phase_reservations},
        {&a, KSTMP::ntf_ready_to_spawn, "1 of 2 are ready to spawn\n", phase_reservations},  // once per address
        {&b, KSTMP::ntf_ready_to_spawn, "2 of 2 are ready to spawn\nServer is asking to spawn\n", phase_spawn},
        {&b, KSTMP::ntf_ready_to_play, "1 of 2 are ready to play\n", phase_spawn},
        {&a, KSTMP::ntf_ready_to_play, "2 of 2 are ready to play\nServer is in game\n", phase_in_game},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line);
        step.who->notify(step.code);
        ASSERT_TRUE(pumpUntil([&] { return console().find(step.line) != std::string::npos; }));
        EXPECT_EQ(currentPhase(), step.phase);
    }
    ASSERT_TRUE(pumpUntil([&] { return announced(a) == std::vector<uint32_t>{phase_spawn, phase_in_game}; }));
}

TEST_F(PhasesTest, DepartedPlayerLeavesEveryReadinessList) {
    startServer("game_type = 0");
    Client& a = join("a");
    Client& b = join("b");
    Client& c = join("c");
    c.notify(KSTMP::ntf_ready_to_spawn);
    ASSERT_TRUE(pumpUntil([&] { return console().find("1 of 3 are ready to spawn\n") != std::string::npos; }));
    c.peer->CloseConnection(c.server, true);
    ASSERT_TRUE(pumpUntil([&] { return players.size() == 2; }));
    a.notify(KSTMP::ntf_ready_to_spawn);
    ASSERT_TRUE(pumpUntil([&] { return console().find("1 of 2 are ready to spawn\n") != std::string::npos; }));
    EXPECT_EQ(currentPhase(), phase_reservations) << "b is not ready yet";
    b.notify(KSTMP::ntf_ready_to_spawn);
    ASSERT_TRUE(pumpUntil([&] { return currentPhase() == phase_spawn; }));
}

TEST_F(PhasesTest, GameOverPassesSilentlyToQuitThenResets) {
    startServer("game_type = 0");
    Client& a = join("a");
    Client& b = join("b");
    a.notify(KSTMP::ntf_ready_to_init);
    ASSERT_TRUE(pumpUntil([&] { return players.at(a.address()).readyToInit == 1; }));
    switchGameOverTimerOn();
    set_phase(phase_game_over);
    ASSERT_TRUE(pumpUntil([&] { return announced(a).size() == 1 && announced(b).size() == 1; }));
    clearAll();
    console();

    advanceClock(10000);
    pass();
    EXPECT_EQ(currentPhase(), phase_quit);
    settle(30);
    EXPECT_TRUE(announced(a).empty() && announced(b).empty()) << "phase 6 is not announced";
    EXPECT_EQ(console(), "");

    advanceClock(99);
    pass();
    EXPECT_EQ(currentPhase(), phase_quit);
    advanceClock(1);
    pass();
    EXPECT_EQ(currentPhase(), phase_reservations);
    const std::string text = console();
    EXPECT_NE(text.find("Reseting the server for a new game\nMatch index is "), std::string::npos) << text;
    EXPECT_NE(text.find("Server is accepting reservations\n"), std::string::npos);
    ASSERT_TRUE(pumpUntil([&] { return everyoneAnnounced(phase_reservations); }));
    EXPECT_EQ(players.size(), 2u) << "players stay";
    for (const auto& [address, info] : players) {
        EXPECT_EQ(+info.readyToInit, 0u);
        for (uint8_t flag : info.playerFlags)
            EXPECT_EQ(flag, 255);
    }
}

TEST_F(PhasesTest, PhaseQuestionsAreAnsweredToTheAskerOnly) {
    startServer();
    Client& a = join("a");
    Client& b = join("b");
    set_phase(phase_spawn);
    // Both must have the broadcast before the answers are counted.
    ASSERT_TRUE(pumpUntil([&] { return announced(a).size() == 1 && announced(b).size() == 1; }));
    KSTMP::ConnectionStatus question;
    question.phase = 4;  // not read
    for (int how = 0; how < 2; ++how) {
        SCOPED_TRACE(how == 0 ? "ConnectionStatus" : "phase request");
        clearAll();
        if (how == 0)
            a.send(question);
        else
            a.notify(KSTMP::ntf_phase_request);
        ASSERT_TRUE(pumpUntil([&] { return announced(a) == std::vector<uint32_t>{phase_spawn}; }));
        settle(20);
        EXPECT_TRUE(announced(b).empty());
    }
}

TEST_F(PhasesTest, IdleClearWaitsWhilePlayersAreIn) {
    startServer("clanserver = 1");
    join("a");
    console();
    advanceClock(60001);
    pass();
    EXPECT_EQ(console().find("Clear everything"), std::string::npos);
    EXPECT_EQ(players.size(), 1u);
}

TEST_F(PhasesTest, LobbyBroadcastEveryOneAndAHalfSeconds) {
    startServer();
    Client& a = join("a");
    settle(10);
    a.clear();
    advanceClock(1500);
    pass();
    settle(10);
    EXPECT_EQ(a.count(KSTMP::cmd_player_info), 0);
    advanceClock(1);
    pass();
    ASSERT_TRUE(pumpUntil([&] { return a.count(KSTMP::cmd_player_info) == 1; }));
}

}  // namespace
