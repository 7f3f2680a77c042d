// The tidelink library, through its public header only, against real portwarden processes.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "client/tidelink.h"
#include "tests/e2e/process_fixture.h"

using namespace e2e;
using namespace KSTMP;

namespace {

FakeAddress loopback(unsigned short port) { return FakeAddress(htonl(INADDR_LOOPBACK), port); }

// A game's frame loop: update every manager, collect its log lines, until `done` or 8 s.
struct Frames {
    std::vector<RAROREzovedodidAdizora*> managers;
    std::vector<std::string> lines;  // of managers[0]

    bool until(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(8);
        while (std::chrono::steady_clock::now() < limit) {
            for (size_t i = 0; i < managers.size(); ++i) {
                managers[i]->update(0.016f);
                char line[511];
                while (managers[i]->getMessage(line))
                    if (i == 0) lines.emplace_back(line);
            }
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool logged(const std::string& text) const {
        for (const std::string& l : lines)
            if (l == text) return true;
        return false;
    }
};

void login(RAROREzovedodidAdizora& m, unsigned short port, const char* name, const char* password) {
    LogIn record;
    std::strcpy(record.userName, name);
    std::strcpy(record.password, password);
    m.sendLogin(&record, "127.0.0.1", port);
}

void join(RAROREzovedodidAdizora& m, unsigned short port, const char* name) {
    PlayerInfo player;
    std::strcpy(player.name, name);
    player.joined = 1;
    player.target = loopback(port);
    m.sendCmd(&player);
}

void notify(RAROREzovedodidAdizora& m, unsigned short port, int32_t code) {
    Notifier n;
    n.code = code;
    n.param = 0;
    n.target = loopback(port);
    m.sendCmd(&n);
}

bool queued(RAROREzovedodidAdizora& m, int32_t code) {
    for (unsigned i = 0; i < m.getCmdCount(); ++i) {
        BaseCommand* r = m.getCmd(int(i));
        if (r->getPacketID() == cmd_notifier && static_cast<Notifier*>(r)->code == code) return true;
    }
    return false;
}

class LibraryLobby : public ::testing::Test {
protected:
    TempRoot root;
};

TEST_F(LibraryLobby, DiscoveryByAddressAndByLinkAndADisconnectedServerLeavesTheList) {
    Server second(root.path, "second", PORTWARDEN_EXE, "    name = Second Sea\n    clanserver = 1\n");
    Server first(root.path, "first", PORTWARDEN_EXE, "    name = First Sea\n    clanserver = 1\n",
                 "links\n{\n    neighbour = 127.0.0.1:" + std::to_string(second.port) + "\n}\n");
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(first.start());

    RAROREzovedodidAdizora game;
    game.openConnection();
    Frames frames{{&game}, {}};
    // Only the first server is named; the second is reached through its link.
    ASSERT_TRUE(game.addConnection("127.0.0.1", first.port));
    ASSERT_TRUE(frames.until([&] { return game.getGame(loopback(first.port)) != nullptr; }));
    EXPECT_TRUE(game.isGameListChanged());
    EXPECT_STREQ(game.getGame(loopback(first.port))->name, "First Sea");
    game.gamesRead();
    ASSERT_TRUE(frames.until([&] { return game.getGame(loopback(second.port)) != nullptr; }))
        << second.process.printed();
    EXPECT_TRUE(game.isGameListChanged());
    EXPECT_STREQ(game.getGame(loopback(second.port))->name, "Second Sea");
    EXPECT_EQ(game.getAllGames()->size(), 2u);
    EXPECT_NE(first.process.printed().find("Sending server links to: "), std::string::npos);
    // Asking again refreshes both entries and adds none.
    frames.lines.clear();
    game.askGameLists();
    ASSERT_TRUE(frames.until([&] { return frames.logged("MsgID: 102\n"); }));
    EXPECT_EQ(game.getAllGames()->size(), 2u);

    // The second server quits and disconnects its clients: its entry goes, the first stays.
    game.gamesRead();
    second.process.type("quit");
    ASSERT_TRUE(frames.until([&] { return game.getGame(loopback(second.port)) == nullptr; }));
    EXPECT_TRUE(game.isGameListChanged());
    ASSERT_EQ(game.getAllGames()->size(), 1u);
    EXPECT_TRUE(game.getAllGames()->front().origin == loopback(first.port));
    EXPECT_EQ(game.getCmdCount(), 0u);  // announcements, links and phases never reach the queue
}

TEST_F(LibraryLobby, VerdictsAreKeptPerServerInBothForms) {
    Server locked(root.path, "locked", PORTWARDEN_EXE, "    password = Secret\n    clanserver = 1\n");
    Server open(root.path, "open", PORTWARDEN_EXE, "    clanserver = 1\n");
    ASSERT_TRUE(locked.start());
    ASSERT_TRUE(open.start());
    RAROREzovedodidAdizora game;
    game.openConnection();
    Frames frames{{&game}, {}};
    game.addConnection("127.0.0.1", locked.port);
    game.addConnection("127.0.0.1", open.port);
    ASSERT_TRUE(frames.until([&] { return game.getAllGames()->size() == 2; }));

    login(game, locked.port, "captain", "secret");
    login(game, open.port, "captain", "anything");
    ASSERT_TRUE(frames.until([&] { return game.isAccepted(loopback(locked.port)) && game.isAccepted(loopback(open.port)); }));
    EXPECT_EQ(game.isAccepted(loopback(locked.port)), 3);
    EXPECT_FALSE(game.isAccepted("127.0.0.1", locked.port));
    EXPECT_EQ(game.isAccepted(loopback(open.port)), 1);  // admitted, yet not "accepted"
    EXPECT_FALSE(game.isAccepted("127.0.0.1", open.port));

    // A new login by game key marks the verdict pending, then the right password is accepted.
    LogIn right;
    std::strcpy(right.userName, "captain");
    std::strcpy(right.password, "Secret");
    game.sendLogin(&right, loopback(locked.port));
    EXPECT_EQ(game.isAccepted(loopback(locked.port)), 0);
    ASSERT_TRUE(frames.until([&] { return game.isAccepted("127.0.0.1", locked.port); }));
    EXPECT_EQ(game.isAccepted(loopback(locked.port)), 2);
    EXPECT_EQ(game.isAccepted(loopback(open.port)), 1);
    EXPECT_NE(locked.process.printed().find("declined\n"), std::string::npos);
    EXPECT_NE(locked.process.printed().find("accepted\n"), std::string::npos);
    game.clearAccepted();
    EXPECT_EQ(game.isAccepted(loopback(locked.port)), 0);
}

TEST_F(LibraryLobby, ReservationsPongPhasesAndTheQueue) {
    Server server(root.path, "lobby", PORTWARDEN_EXE,
                  "    clanserver = 1\n    game_type = 0\n    wait_for_others_length = 1\n    max_players = 4\n"
                  "    max_ships_per_player = 2\n",
                  "links\n{\n    elsewhere = 127.0.0.1:9\n}\n");
    ASSERT_TRUE(server.start());
    const unsigned short port = server.port;
    RAROREzovedodidAdizora first, second;
    first.openConnection();
    second.openConnection();
    Frames frames{{&first, &second}, {}};
    first.addConnection("127.0.0.1", port);
    second.addConnection("127.0.0.1", port);
    ASSERT_TRUE(frames.until([&] { return first.getGame(loopback(port)) && second.getGame(loopback(port)); }));
    login(first, port, "first", "");
    login(second, port, "second", "");
    ASSERT_TRUE(frames.until([&] { return first.isAccepted(loopback(port)) == 1 && second.isAccepted(loopback(port)) == 1; }));
    join(first, port, "first");
    ASSERT_TRUE(frames.until([&] { return queued(first, ntf_team_id); }));
    join(second, port, "second");

    // A slot request is answered by a GameType, which updates the entry and is not queued.
    SlotInfo slot;
    slot.playerSlots = 1;
    slot.target = loopback(port);
    first.sendCmd(&slot);
    ASSERT_TRUE(frames.until([&] { return first.getGame(loopback(port))->yourReservedSlots == 1; }));
    EXPECT_EQ(first.getGame(loopback(port))->reservedSlots, 1);
    // The other player's reservation shows in the pong; the changed count re-asks the game modes.
    second.sendCmd(&slot);
    ASSERT_TRUE(frames.until([&] { return second.getGame(loopback(port))->yourReservedSlots == 1; }));
    first.gamesRead();
    frames.lines.clear();
    first.pingServers();
    ASSERT_TRUE(frames.until([&] { return first.getGame(loopback(port))->reservedSlots == 2; }));
    EXPECT_TRUE(frames.logged("MP: send notifier: 32 wtih param 0"));
    EXPECT_TRUE(frames.logged("MP: send notifier: 19 wtih param 0"));
    EXPECT_TRUE(first.isGameListChanged());
    EXPECT_EQ(first.getGame(loopback(port))->yourReservedSlots, 1);

    // Bookkeeping answers: SlotInfo, ConnectionStatus, GameType, ServerLink; none is queued.
    for (int32_t code : {ntf_slot_query, ntf_phase_request, ntf_game_modes_request, ntf_server_links_request})
        notify(first, port, code);
    ASSERT_TRUE(frames.until([&] {
        return frames.logged("MsgID: 98\n") && frames.logged("MsgID: 99\n") && frames.logged("MsgID: 102\n") &&
               frames.logged("MsgID: 103\n");
    }));

    // Everything queued so far, in arrival order, stays put while more arrives.
    std::vector<BaseCommand*> held;
    std::vector<std::vector<unsigned char>> copies;
    for (unsigned i = 0; i < first.getCmdCount(); ++i) {
        BaseCommand* r = first.getCmd(int(i));
        held.push_back(r);
        copies.emplace_back(reinterpret_cast<unsigned char*>(r), reinterpret_cast<unsigned char*>(r) + r->size);
    }
    std::vector<int> ids;
    for (BaseCommand* r : held) {
        const int id = r->getPacketID();
        EXPECT_TRUE(id != cmd_slot_info && id != cmd_game_type && id != cmd_server_link && id != cmd_connection_status) << id;
        if (id == cmd_notifier) ids.push_back(1000 + static_cast<Notifier*>(r)->code);
        else if (ids.empty() || ids.back() != id) ids.push_back(id);
    }
    // Login verdict, then the player list and the team given, then the pong.
    const std::vector<int> start = {1000 + ntf_login_result, cmd_player_info, 1000 + ntf_team_id, cmd_player_info};
    ASSERT_GE(ids.size(), start.size());
    EXPECT_EQ(std::vector<int>(ids.begin(), ids.begin() + 4), start);
    EXPECT_NE(std::find(ids.begin(), ids.end(), 1000 + ntf_pong), ids.end());

    // Both ready: the countdown runs and phase 2 reaches the entry from ConnectionStatus alone.
    notify(first, port, ntf_ready_to_init);
    notify(second, port, ntf_ready_to_init);
    Chat chat;
    chat.message[0] = u'A';
    chat.target = loopback(port);
    second.sendCmd(&chat);
    ASSERT_TRUE(frames.until([&] { return first.getGame(loopback(port))->phase == 2; })) << server.process.printed();
    ASSERT_TRUE(frames.until([&] { return first.getCmd(int(first.getCmdCount()) - 1)->getPacketID() == cmd_chat; }));
    EXPECT_GT(first.getCmdCount(), held.size());
    for (size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(first.getCmd(int(i)), held[i]);
        EXPECT_EQ(std::memcmp(held[i], copies[i].data(), copies[i].size()), 0) << i;
    }
    for (unsigned i = 0; i < first.getCmdCount(); ++i)
        EXPECT_NE(first.getCmd(int(i))->getPacketID(), cmd_connection_status);
    first.clearCache();
    EXPECT_EQ(first.getCmdCount(), 0u);
    EXPECT_EQ(first.getCmd(0), nullptr);
}

}  // namespace
