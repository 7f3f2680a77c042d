// Whole battles played by tidelink-cli against a real portwarden process.
#include <gtest/gtest.h>

#include "tests/e2e/process_fixture.h"

using namespace e2e;

namespace {

const char* lobbyConfig =
    "    name = Harbour Skirmish\n    servername = Portwarden\n    wait_for_others_length = 1\n"
    "    max_players = 8\n    max_ships_per_player = 2\n    clanserver = 1\n    available_ships = 3,4,5\n";

struct CliRun {
    int status;
    std::string output;
};

CliRun runCli(const std::string& root, const std::string& tag, std::vector<std::string> args, int seconds) {
    args.insert(args.begin(), TIDELINK_CLI);
    Process p;
    const std::string out = root + "/" + tag + ".txt";
    if (!p.start(args, out)) return {-1, "cannot start tidelink-cli"};
    const int status = p.wait(seconds);
    return {status, p.printed()};
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class CliBattle : public ::testing::Test {
protected:
    TempRoot root;
};

TEST_F(CliBattle, EachGameTypePlayedToItsEndAndBackToPhaseZero) {
    struct Row {
        int gameType;
        const char* config;  // beside the lobby settings
        std::vector<std::string> args;
        std::vector<std::pair<std::string, size_t>> expected;  // text and how often it is printed
    } rows[] = {
        {0, "    game_type = 0\n    game_length = 5\n", {"--bots", "2", "--ships", "2"},
         {{" sunk by ship 0\n", 3}, {": result: ship 0 is the last afloat\n", 2}}},
        {1, "    game_type = 1\n    game_length = 5\n", {"--bots", "2"},
         {{": team 0\n", 1}, {": team 1\n", 1}, {" has index ", 2}, {" sunk by ship ", 1},
          {": result: team 0 wins (our team)\n", 1}, {": result: team 0 wins\n", 1}}},
        {2, "    game_type = 2\n    game_length = 1\n    buoy_file = buoys.txt\n", {"--bots", "2"},
         {{": captured buoy 0 with ship ", 1}, {"captain-1: score of team 0: ", 1},
          {": result: team 0 wins (our team)\n", 1}, {" sunk by ship ", 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("game type " + std::to_string(row.gameType));
        Server server(root.path, "type" + std::to_string(row.gameType), PORTWARDEN_EXE,
                      std::string(lobbyConfig) + row.config);
        std::ofstream(server.folder + "/buoys.txt") << "b0\n{\nType = 1\nPosition = 100,0,100\nTime = -600\n}\n";
        ASSERT_TRUE(server.start()) << server.process.printed();

        std::vector<std::string> args = {"play", server.endpoint(), "--timeout", "110"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const CliRun run = runCli(root.path, "play" + std::to_string(row.gameType), args, 120);
        EXPECT_EQ(run.status, 0) << run.output;
        for (const char* bot : {"captain-1", "captain-2"})
            for (const char* phase : {": phase 2 (initialize)", ": phase 3 (spawn)", ": phase 4 (in game)",
                                      ": phase 5 (game over)", ": battle 1 over, server back to phase 0"})
                EXPECT_NE(run.output.find(std::string(bot) + phase), std::string::npos) << bot << phase << "\n"
                                                                                       << run.output;
        for (const auto& [text, times] : row.expected) {
            if (text == "captain-1: score of team 0: ")
                EXPECT_GE(count(run.output, text), times) << text << "\n" << run.output;
            else
                EXPECT_EQ(count(run.output, text), times) << text << "\n" << run.output;
        }
        EXPECT_NE(run.output.find("all battles finished"), std::string::npos);
        const std::string console = server.process.printed();
        EXPECT_NE(console.find("Game is over\n"), std::string::npos) << console;
        EXPECT_NE(console.find("Reseting the server for a new game\n"), std::string::npos);
        if (row.gameType == 2) {
            EXPECT_NE(console.find(" from team 0.\n"), std::string::npos) << console;
        }
    }
}

TEST_F(CliBattle, SecondBattleOnTheSameServerAndAFreshJoinAfterwards) {
    Server server(root.path, "rematch", PORTWARDEN_EXE, std::string(lobbyConfig) + "    game_type = 1\n    game_length = 5\n");
    ASSERT_TRUE(server.start());
    // The same players stay for a second battle after the reset for a new game.
    const CliRun twice = runCli(root.path, "twice", {"play", server.endpoint(), "--bots", "2", "--battles", "2", "--timeout", "80"}, 90);
    EXPECT_EQ(twice.status, 0) << twice.output;
    EXPECT_EQ(count(twice.output, "result: team 0 wins"), 4u) << twice.output;
    EXPECT_NE(twice.output.find("captain-2: battle 2 over, server back to phase 0"), std::string::npos) << twice.output;
    // Everybody left: the clan server cleared itself and takes new players.
    const CliRun again = runCli(root.path, "again", {"play", server.endpoint(), "--bots", "2", "--name", "late", "--timeout", "50"}, 60);
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_NE(again.output.find("late-1: result: team 0 wins"), std::string::npos) << again.output;
    EXPECT_TRUE(server.process.running());
}

TEST_F(CliBattle, PlayerDroppingOutMidBattleEndsATeamBattle) {
    Server server(root.path, "drop", PORTWARDEN_EXE, std::string(lobbyConfig) + "    game_type = 1\n    game_length = 5\n");
    ASSERT_TRUE(server.start());
    Process stays, leaves;
    ASSERT_TRUE(stays.start({TIDELINK_CLI, "play", server.endpoint(), "--name", "stays", "--timeout", "60"},
                            root.path + "/stays.txt"));
    ASSERT_TRUE(stays.waitFor("stays: team 0", 10)) << stays.printed();
    // The second player is alone on team 1 and leaves before its ship would sink.
    ASSERT_TRUE(leaves.start({TIDELINK_CLI, "play", server.endpoint(), "--name", "leaves", "--quit-after", "0",
                              "--timeout", "60"},
                             root.path + "/leaves.txt"));
    EXPECT_EQ(leaves.wait(60), 0) << leaves.printed();
    EXPECT_NE(leaves.printed().find("leaves: team 1"), std::string::npos);
    EXPECT_NE(leaves.printed().find("leaves: left the battle"), std::string::npos) << leaves.printed();
    EXPECT_EQ(leaves.printed().find("sunk"), std::string::npos) << leaves.printed();
    EXPECT_EQ(stays.wait(60), 0) << stays.printed();
    EXPECT_NE(stays.printed().find("stays: result: team 0 wins (our team)"), std::string::npos) << stays.printed();
    EXPECT_NE(stays.printed().find("stays: battle 1 over, server back to phase 0"), std::string::npos);
    const std::string console = server.process.printed();
    EXPECT_NE(console.find("Removing player ships with address"), std::string::npos) << console;
    EXPECT_TRUE(server.process.running());
}

TEST_F(CliBattle, LastPlayerLeavingAStartedBattleStopsANonClanServer) {
    Server server(root.path, "nonclan", PORTWARDEN_EXE,
                  "    wait_for_others_length = 1\n    clanserver = 0\n    game_type = 1\n    game_length = 5\n");
    ASSERT_TRUE(server.start());
    const CliRun run = runCli(root.path, "quit", {"play", server.endpoint(), "--bots", "2", "--quit-after", "0", "--timeout", "40"}, 50);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("captain-2: left the battle"), std::string::npos) << run.output;
    EXPECT_EQ(server.process.wait(10), 0) << server.process.printed();
}

TEST(CliScan, RowsForTheNamedServersAsTextAndJson) {
    TempRoot root;
    Server open(root.path, "open", PORTWARDEN_EXE,
                "    name = Open Sea\n    servername = Harbour One\n    game_type = 2\n    max_players = 4\n"
                "    max_ships_per_player = 3\n    clanserver = 1\n");
    Server locked(root.path, "locked", PORTWARDEN_EXE,
                  "    name = Closed Bay\n    servername = Harbour Two\n    game_type = 3\n    password = pw\n"
                  "    clanserver = 1\n");
    ASSERT_TRUE(open.start());
    ASSERT_TRUE(locked.start());
    // A player holding two slots shows in the row of its server.
    Process waiting;
    ASSERT_TRUE(waiting.start({TIDELINK_CLI, "play", open.endpoint(), "--ships", "2", "--timeout", "30"},
                              root.path + "/waiting.txt"));
    ASSERT_TRUE(waiting.waitFor("captain: reserved 2 slots", 10)) << waiting.printed();

    const CliRun json = runCli(root.path, "json", {"scan", open.endpoint(), locked.endpoint(), "--json", "--no-broadcast"}, 20);
    EXPECT_EQ(json.status, 0) << json.output;
    const std::string openRow = "{\"address\": \"" + open.endpoint() +
                                "\", \"name\": \"Open Sea\", \"server_name\": \"Harbour One\", \"game_type\": 2, "
                                "\"game_type_name\": \"Domination\", \"phase\": 0, \"phase_name\": \"reservations\", "
                                "\"players\": 1, \"reserved_slots\": 2, \"free_slots\": 10, \"password\": false, "
                                "\"latency_ms\": ";
    const std::string lockedRow = "{\"address\": \"" + locked.endpoint() +
                                  "\", \"name\": \"Closed Bay\", \"server_name\": \"Harbour Two\", \"game_type\": 3, "
                                  "\"game_type_name\": \"Commander vs Commander\", \"phase\": 0, \"phase_name\": "
                                  "\"reservations\", \"players\": 0, \"reserved_slots\": 0, \"free_slots\": 10, "
                                  "\"password\": true, \"latency_ms\": ";
    EXPECT_NE(json.output.find(openRow), std::string::npos) << json.output;
    EXPECT_NE(json.output.find(lockedRow), std::string::npos) << json.output;
    EXPECT_EQ(json.output.find("\"round_trip_ms\": -1"), std::string::npos) << json.output;  // both answered a ping

    const CliRun text = runCli(root.path, "text", {"scan", locked.endpoint(), "--no-broadcast"}, 20);
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_EQ(text.output.rfind("ADDRESS ", 0), 0u) << text.output;
    EXPECT_NE(text.output.find("Closed Bay"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("Commander vs Commander"), std::string::npos);
    EXPECT_NE(text.output.find(" ms\n"), std::string::npos);
    EXPECT_EQ(text.output.find("Open Sea"), std::string::npos);
}

TEST(CliErrors, BadArgumentsAndUnreachableServers) {
    TempRoot root;
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string line;
    } rows[] = {
        {{}, 2, "tidelink-cli: no command given\nusage: tidelink-cli scan"},
        {{"sail"}, 2, "tidelink-cli: unknown command 'sail'"},
        {{"play"}, 2, "tidelink-cli: play needs the server's host:port"},
        {{"play", "127.0.0.1"}, 2, "tidelink-cli: '127.0.0.1' is not host:port"},
        {{"play", "127.0.0.1:70000"}, 2, "port must be a number from 1 to 65535"},
        {{"play", "127.0.0.1:5000", "--ships", "x"}, 2, "--ships needs a number from 1 to 127"},
        {{"play", "127.0.0.1:5000", "--bots"}, 2, "--bots needs a number from 1 to 50"},
        {{"play", "127.0.0.1:5000", "--fly"}, 2, "unknown option '--fly'"},
        {{"scan", "--no-broadcast"}, 2, "--no-broadcast needs at least one host:port"},
        {{"play", "no-such-host.invalid:5000"}, 2, "cannot resolve host 'no-such-host.invalid'"},
        {{"play", "127.0.0.1:" + std::to_string(freePort()), "--timeout", "30"}, 1,
         "tidelink-cli: error: captain: cannot connect to 127.0.0.1:"},
        {{"scan", "127.0.0.1:" + std::to_string(freePort()), "--no-broadcast", "--wait", "2"}, 1,
         "tidelink-cli: no answer from 127.0.0.1:"},
    };
    for (const Row& row : rows) {
        std::string joined;
        for (const std::string& a : row.args) joined += a + " ";
        SCOPED_TRACE(joined);
        const CliRun run = runCli(root.path, "errors", row.args, 40);
        EXPECT_EQ(run.status, row.status) << run.output;
        EXPECT_NE(run.output.find(row.line), std::string::npos) << run.output;
    }
}

TEST(CliErrors, WrongPasswordAndFullGameAreReported) {
    TempRoot root;
    Server server(root.path, "locked", PORTWARDEN_EXE, "    password = Secret\n    max_players = 1\n    clanserver = 1\n");
    ASSERT_TRUE(server.start());
    const CliRun wrong = runCli(root.path, "wrong", {"play", server.endpoint(), "--password", "secret", "--timeout", "20"}, 30);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.output.find("tidelink-cli: error: captain: login declined: wrong password"), std::string::npos)
        << wrong.output;
    // A player waiting in the lobby fills the one-player server: the next login finds the game full.
    Process waiting;
    ASSERT_TRUE(waiting.start({TIDELINK_CLI, "play", server.endpoint(), "--password", "Secret", "--timeout", "30"},
                              root.path + "/waiting.txt"));
    ASSERT_TRUE(waiting.waitFor("captain: reserved 1 slots", 10)) << waiting.printed();
    const CliRun full = runCli(root.path, "full", {"play", server.endpoint(), "--name", "late", "--password", "Secret", "--timeout", "20"}, 30);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.output.find("tidelink-cli: error: late: login refused: the game is full"), std::string::npos)
        << full.output;
}

}  // namespace
