// Packet classification, relays, counting, the Notifier codes and malformed input.
#include <random>

#include "protocol/record_kinds.h"
#include "protocol/text.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/session/players.h"
#include "server_harness.h"

using namespace harness;

namespace {

class DispatchTest : public ServerTest {
protected:
    // Sends bytes and waits until the server printed `expected`.
    void expectLine(Client& from, const std::vector<unsigned char>& bytes, const std::string& expected) {
        console();
        from.sendBytes(bytes.data(), bytes.size());
        EXPECT_TRUE(pumpUntil([&] { return seen += console(), seen.find(expected) != std::string::npos; }))
            << "expected: " << expected << "\nprinted: " << seen;
        seen.clear();
    }
    std::string seen;
};

std::vector<unsigned char> header(int id, int32_t size, size_t length) {
    std::vector<unsigned char> bytes(length, 0);
    KSTMP::BaseCommand base(static_cast<KSTMP::cmd_types>(id), size);
    std::memcpy(bytes.data(), &base, std::min(length, sizeof base));
    return bytes;
}

TEST_F(DispatchTest, ChatAndCannonTargetReachEveryPlayerOnly) {
    startServer();
    Client& a = join("a");
    Client& b = join("b");
    Client& watcher = connect();
    for (int id : {KSTMP::cmd_chat, KSTMP::cmd_cannon_target}) {
        SCOPED_TRACE(id);
        settle(10);
        a.clear();
        b.clear();
        watcher.clear();
        console();
        const int size = protocol::recordKind(static_cast<uint8_t>(id))->size;
        std::vector<unsigned char> bytes = header(id, size, static_cast<size_t>(size));
        bytes[size - 1] = 0x5A;  // a marker in the payload
        a.sendBytes(bytes.data(), bytes.size());
        ASSERT_TRUE(pumpUntil([&] { return a.count(id) == 1 && b.count(id) == 1; }));
        settle(20);
        EXPECT_EQ(watcher.count(id), 0) << "a connection that is no player gets nothing";
        const Received got = b.records(id).front();
        EXPECT_EQ(got.bytes.back(), 0x5A);
        EXPECT_EQ(got.origin(), b.server);
        EXPECT_EQ(console().find("Received a chat message, sending to all\n") != std::string::npos,
                  id == KSTMP::cmd_chat);
    }
}

TEST_F(DispatchTest, TransportMessagesAndUnhandledIdentifiers) {
    startServer();
    Client& client = connect();
    const std::string who = client.address().ToString(true);
    std::vector<unsigned char> stamped25 = header(KSTMP::cmd_empty, 28, 28);
    stamped25[5] = 25;
    expectLine(client, stamped25, who + " send an unhandled RakNet package: 25\n");
    expectLine(client, {60, 1, 2}, who + " send an unhandled RakNet package: 60\n");
    expectLine(client, header(104, 28, 28), who + " send an unhandled KST package: 104\n");
    expectLine(client, header(KSTMP::cmd_game_type, 130, 130), who + " send an unhandled KST package: 102\n");
    expectLine(client, header(KSTMP::cmd_empty, 28, 28), "empty command: " + who + "\n");
    EXPECT_EQ(packetCounts, (std::map<int, int>{{91, 1}, {102, 1}, {104, 1}})) << "below 91 is never counted";

    console();
    client.peer->Ping("127.0.0.1", port, false);
    EXPECT_TRUE(pumpUntil([&] { return seen += console(), seen.find("Got a ping from 127.0.0.1:") != std::string::npos; }))
        << seen;
}

TEST_F(DispatchTest, CountedOnlyRecordsAndTheTrafficReport) {
    startServer();
    Client& a = join("a");
    packetCounts.clear();
    for (int id : {int(KSTMP::cmd_weather_info), int(KSTMP::cmd_cannon_shot), int(KSTMP::cmd_check_for_update), 104,
                   int(KSTMP::cmd_coordinates), int(KSTMP::cmd_coordinates), int(KSTMP::cmd_chat)}) {
        const int size = id == 104 ? 28 : protocol::recordKind(static_cast<uint8_t>(id))->size;
        const std::vector<unsigned char> bytes = header(id, size, static_cast<size_t>(size));
        a.sendBytes(bytes.data(), bytes.size());
    }
    ASSERT_TRUE(pumpUntil([&] { return packetCounts.size() == 6; }));
    settle(10);
    EXPECT_EQ(packetCounts, (std::map<int, int>{{93, 2}, {96, 1}, {97, 1}, {104, 1}, {106, 1}, {121, 1}}));
    console();
    typeLine("reset");
    pass();
    const std::string text = console();
    const std::string report =
        "Packettype 93, count 2\nPackettype 96, count 1\nPackettype 97, count 1\nPackettype 104, count 1\n"
        "Packettype 106, count 1\nPackettype 121, count 1\nClear everything\n";
    EXPECT_NE(text.find(report), std::string::npos) << text;
    EXPECT_TRUE(packetCounts.empty());

    // A reset without players prints no report and keeps the counts.
    const std::vector<unsigned char> unhandled = header(104, 28, 28);
    a.sendBytes(unhandled.data(), unhandled.size());
    ASSERT_TRUE(pumpUntil([&] { return packetCounts.size() == 1; }));
    typeLine("reset");
    pass();
    EXPECT_EQ(console().find("Packettype"), std::string::npos);
    EXPECT_EQ(packetCounts, (std::map<int, int>{{104, 1}}));
}

TEST_F(DispatchTest, NotifierCodes) {
    startServer("max_ships_per_player = 3");
    Client& a = join("a");
    KSTMP::SlotInfo want;
    want.playerSlots = 1;
    a.send(want);
    const std::string who = a.address().ToString(true);
    for (int code : {4, 18, 29, 34, -5, 14, 31}) {
        SCOPED_TRACE(code);
        console();
        a.notify(code);
        ASSERT_TRUE(pumpUntil([&] {
            return seen += console(),
                   seen.find(who + " send an unhandled KST command: " + std::to_string(code) + "\n") != std::string::npos;
        }));
        seen.clear();
    }
    for (int code : {0, 5, 6, 10})
        a.notify(code);
    a.notify(KSTMP::ntf_pong);
    ASSERT_TRUE(pumpUntil([&] { return seen += console(), seen.find("Hmm, " + who + " sent a pong to server\n") != std::string::npos; }));
    EXPECT_EQ(seen, "Hmm, " + who + " sent a pong to server\n") << "codes 0, 5, 6 and 10 print nothing";
    seen.clear();

    a.clear();
    a.notify(KSTMP::ntf_ping);
    ASSERT_TRUE(pumpUntil([&] { return !a.notifiers(KSTMP::ntf_pong).empty(); }));
    EXPECT_EQ(+a.notifiers(KSTMP::ntf_pong).front().param, 1) << "total reserved slots";

    a.notify(KSTMP::ntf_team_id, 0x10001);
    ASSERT_TRUE(pumpUntil([&] { return seen += console(), seen.find(who + " sent her team id\n") != std::string::npos; }));
    EXPECT_EQ(+players.at(a.address()).team, 1);
}

TEST_F(DispatchTest, VersionUpdateGoesToItsPlayer) {
    startServer();
    Client& player = connect();
    Client& master = connect();
    KSTMP::VersionUpdate update;
    update.player.setFrom(player.address());
    protocol::writeText(update.narrowText, "1.2 is out");
    master.send(update);
    ASSERT_TRUE(pumpUntil([&] { return player.count(KSTMP::cmd_version_update) == 1; }));
    EXPECT_EQ(protocol::readText(player.records(KSTMP::cmd_version_update).front().as<KSTMP::VersionUpdate>().narrowText),
              "1.2 is out");
    EXPECT_NE(console().find("Got a new version for player " + std::string(player.address().ToString(true)) + "\n"),
              std::string::npos);
}

TEST_F(DispatchTest, MalformedRecordsAreDroppedWithALine) {
    startServer();
    Client& bad = join("bad");
    Client& good = join("good");
    const std::string who = bad.address().ToString(true);
    const int handled[] = {91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 105, 106, 109, 114, 116, 117, 118, 121};
    for (int id : handled) {
        SCOPED_TRACE(id);
        const int size = protocol::recordKind(static_cast<uint8_t>(id))->size;
        expectLine(bad, header(id, size, static_cast<size_t>(size - 1)),
                   who + " sent a malformed record, dropped: " + std::to_string(id) + " (" + std::to_string(size - 1) +
                       " bytes)\n");
        expectLine(bad, header(id, size + 1, static_cast<size_t>(size)),
                   who + " sent a malformed record, dropped: " + std::to_string(id) + " (" + std::to_string(size) +
                       " bytes)\n");
    }

    std::mt19937 random(12345);
    for (int i = 0; i < 40; ++i) {
        std::vector<unsigned char> bytes(1 + random() % 900);
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(random());
        // Command records only: a first byte below 91 would be taken for the transport's own message.
        bytes[0] = (i % 2 == 0) ? 25 : static_cast<unsigned char>(91 + random() % 165);
        if (bytes.size() > 5 && bytes[0] == 25)
            bytes[5] = static_cast<unsigned char>(91 + random() % 165);
        console();
        bad.sendBytes(bytes.data(), bytes.size());
        ASSERT_TRUE(pumpUntil([&] {
            seen += console();
            return seen.find(who + " sent a malformed record") != std::string::npos ||
                   seen.find(who + " send an unhandled KST package") != std::string::npos;
        })) << "random packet " << i;
        seen.clear();
    }

    EXPECT_EQ(players.size(), 2u);
    good.clear();
    good.notify(KSTMP::ntf_ping);
    ASSERT_TRUE(pumpUntil([&] { return !good.notifiers(KSTMP::ntf_pong).empty(); })) << "the server goes on serving";
}

}  // namespace
