// Operator console commands, as typed on the server's standard input.
#include <unistd.h>

#include "protocol/text.h"
#include "server/core/server_globals.h"
#include "server/core/server_process.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server_harness.h"

using namespace harness;

namespace {

class ConsoleTest : public ServerTest {
protected:
    // Types the line, runs one pass and returns what it printed.
    std::string command(const std::string& line) {
        console();
        typeLine(line);
        lastPass = pass();
        return console();
    }
    bool lastPass = true;
};

const char* statusLines =
    "Game type is 1\nDcAllowed = 0\nRtsAllowed = 1\nSlotsAvailable = 12\nRequiredVersion = -1.000000\n";

TEST_F(ConsoleTest, CommandsAndTheirOutput) {
    startServer("game_type = 1\ndc_allowed = 0\nmax_players = 6\nmax_ships_per_player = 2");
    struct Row {
        const char* line;
        std::string output;
        bool mirror;
    } rows[] = {
        {"mirror on", "Setting mirror mode ON\n", true},
        {"mirror on", "Setting mirror mode ON\n", true},
        {"mirror off", "Setting mirror mode OFF\n", false},
        {"ping", "", false},
        {"kick", "", false},
        {"help", "", false},
        {"wakeup", "Starting servers manually\n", false},
        {"status", statusLines, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(command(row.line), row.output);
        EXPECT_TRUE(lastPass);
        EXPECT_EQ(mirrorMode, row.mirror);
    }
    const std::string stat = command("stat");
    EXPECT_NE(stat.find("Ping -1\n"), std::string::npos) << "nothing connected: " << stat;

    join("a");
    set_phase(phase_spawn);
    const std::string reset = command("reset");
    ASSERT_NE(reset.find("Packettype 109, count 1\n"), std::string::npos) << reset;
    EXPECT_LT(reset.find("Packettype 109, count 1\n"), reset.find("Clear everything\n")) << "the report comes first";
    EXPECT_NE(reset.find("Clear everything\nMatch index is "), std::string::npos);
    EXPECT_NE(reset.find("Server is accepting reservations\n"), std::string::npos);
    EXPECT_TRUE(players.empty());
    EXPECT_EQ(currentPhase(), phase_reservations);
}

TEST_F(ConsoleTest, QuitAndExitEndTheLoop) {
    for (const char* line : {"quit", "exit"}) {
        SCOPED_TRACE(line);
        startServer();
        EXPECT_EQ(command(line), "Quitting.\n");
        EXPECT_FALSE(lastPass);
        serverShutdown();
        started = false;
        loopEnded = false;
    }
}

TEST_F(ConsoleTest, OnlyExactLinesAreCommandsAndOthersLetThePassTakeAPacket) {
    startServer();
    Client& client = connect();
    struct Row {
        const char* line;
        bool isCommand;
    } rows[] = {{"Status", false}, {"status ", false}, {" status", false}, {"", false}, {"status", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("\"") + row.line + "\"");
        settle(5);
        console();
        KSTMP::BaseCommand empty(KSTMP::cmd_empty, 28);
        client.send(empty);
        usleep(200000);  // the packet waits in the server's queue
        const std::string text = command(row.line);
        EXPECT_EQ(text.find("empty command: ") != std::string::npos, !row.isCommand) << text;
        EXPECT_EQ(text.find("Game type is") != std::string::npos, row.isCommand) << text;
    }
}

TEST_F(ConsoleTest, StatusListsPlayersInAddressOrder) {
    startServer("game_type = 1\ndc_allowed = 0\nmax_players = 6\nmax_ships_per_player = 2");
    Client& a = join("first");
    Client& b = join("second");
    const bool aLower = a.address() < b.address();
    const std::string lowAddress = (aLower ? a : b).address().ToString(true);
    const std::string highAddress = (aLower ? b : a).address().ToString(true);
    const std::string expected = std::string(statusLines) + "1. " + (aLower ? "first " : "second ") + lowAddress +
                                 "\n2. " + (aLower ? "second " : "first ") + highAddress + "\n";
    EXPECT_EQ(command("status"), expected);
}

TEST_F(ConsoleTest, BanRefusesNewConnectionsFromTheRangeOnly) {
    startServer();
    Client& inside = join("inside");
    console();
    typeLine("ban");
    typeLine("127.0.0.*");
    pass();
    EXPECT_EQ(console(), "Enter IP to ban.  You can use * as a wildcard\nIP 127.0.0.* added to ban list.\n");

    clients.push_back(std::make_unique<Client>(port));
    Client& outsider = *clients.back();
    ASSERT_TRUE(pumpUntil([&] { return outsider.refused || outsider.connected; }));
    EXPECT_TRUE(outsider.refused);
    EXPECT_FALSE(outsider.connected);

    inside.clear();
    inside.notify(KSTMP::ntf_ping);
    ASSERT_TRUE(pumpUntil([&] { return !inside.notifiers(KSTMP::ntf_pong).empty(); })) << "players stay connected";
    EXPECT_EQ(players.size(), 1u);
}

TEST_F(ConsoleTest, LongLinesNeitherOverrunNorStopTheServer) {
    startServer();
    EXPECT_EQ(command(std::string(5000, 'x')), "");
    EXPECT_TRUE(lastPass);
    EXPECT_EQ(command("status" + std::string(4000, ' ')), "");
    EXPECT_EQ(command("mirror on"), "Setting mirror mode ON\n");
}

}  // namespace
