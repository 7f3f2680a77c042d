// Start-up, idle stop and the tick count wrap, in process.
#include <filesystem>

#include "platform/instance_lock.h"
#include "server/core/server_globals.h"
#include "server/core/server_process.h"
#include "server/session/session_state.h"
#include "server_harness.h"

using namespace harness;

namespace {

class StartupTest : public ServerTest {};

// True when the pieces appear in `text` in this order.
::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
        const size_t found = text.find(piece, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing (in order): \"" << piece << "\"";
        at = found + piece.size();
    }
    return ::testing::AssertionSuccess();
}

TEST_F(StartupTest, BannerFollowsTheFirstResetInOrder) {
    startServer("game_type = 1");
    const std::string text = console();
    EXPECT_TRUE(inOrder(text, {"Clear everything\n", "Match index is 5000000\n", "Server is accepting reservations\n",
                               "Welcome to Korvane LAN server.\n\n", "Starting up the server...)\n",
                               "(You might see firewall message about portwarden.exe, allow it to operate)\n",
                               "\nServer is now running in ",
                               "\n...Listening port: " + std::to_string(port) + " ",
                               "\nGame type is Team Death Match",
                               "\n\nType 'quit' to exit and 'help' to get more commands...\n",
                               "Server is accepting reservations\n"}));
    EXPECT_EQ(occurrences(text, "Clear everything\n"), 1);
    EXPECT_EQ(dataDirectory, folder);
    EXPECT_EQ(instanceName, "srv");
    EXPECT_EQ(programFileName, "portwarden");
    EXPECT_EQ(std::filesystem::current_path().string(), folder);
    EXPECT_TRUE(platform::isNamedLockHeld(platform::lockNameFor(folder))) << "the folder lock";
    serverShutdown();
    started = false;
    EXPECT_FALSE(platform::isNamedLockHeld(platform::lockNameFor(folder))) << "released at shutdown";
}

TEST_F(StartupTest, UnknownGameTypeShowsTheFirstName) {
    startServer("game_type = -1");
    EXPECT_NE(console().find("\nGame type is Last Ship floating\n\nType"), std::string::npos);
}

TEST_F(StartupTest, EmptyNonClanServerStopsInThePassOfItsIdleClear) {
    startServer("clanserver = 0");
    console();
    advanceClock(30000);
    ASSERT_TRUE(pass());
    advanceClock(30000);
    ASSERT_TRUE(pass());  // exactly 60000 ms: neither timer is below zero
    EXPECT_EQ(console().find("Clear everything"), std::string::npos);
    EXPECT_EQ(idleStopTimeLeft(), 0);

    advanceClock(1);
    pass();
    EXPECT_EQ(occurrences(console(), "Clear everything\n"), 1);
    EXPECT_FALSE(serverRunning);
    EXPECT_FALSE(pass()) << "the loop ends at the start of the next pass";
}

TEST_F(StartupTest, ClanServerClearsEveryMinuteAndNeverStops) {
    startServer("clanserver = 1");
    console();
    for (int minute = 0; minute < 3; ++minute) {
        advanceClock(60001);
        ASSERT_TRUE(pass());
        EXPECT_EQ(occurrences(console(), "Clear everything\n"), 1) << "minute " << minute;
    }
    EXPECT_TRUE(serverRunning);
    EXPECT_EQ(idleStopTimeLeft(), 60000);
}

TEST_F(StartupTest, PlayerHoldsTheIdleStopTimer) {
    startServer("clanserver = 0");
    join("alice");
    advanceClock(59000);
    pass();
    advanceClock(59000);
    pass();
    EXPECT_EQ(idleStopTimeLeft(), 60000);
    EXPECT_TRUE(serverRunning);
}

TEST_F(StartupTest, TickCountWrapBetweenTwoPasses) {
    setClock(0xFFFFFFE0u);
    startServer("clanserver = 0");
    advanceClock(16);  // 0xFFFFFFF0
    pass();
    const int32_t before = idleStopTimeLeft();
    EXPECT_EQ(before, 60000 - 16);
    setClock(16);  // 16 ms before the wrap and 16 after it
    pass();
    EXPECT_EQ(elapsedThisPass(), 32u);
    EXPECT_EQ(idleStopTimeLeft(), before - 32);
}

}  // namespace
