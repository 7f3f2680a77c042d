// The dispatch of received packets into a running server with two players. The server runs
// in-process from a temporary folder on a loopback port, with two real client peers connected;
// before every input it is reset to the lobby with exactly those two players registered.
//
// Input: up to 16 chunks, each [control][length, 2 bytes little-endian][packet bytes]:
//   control bits 0-1: sender: 0 and 3 the first player, 1 the second, 2 an address that is
//                     not connected;
//   control bit 2:    after the packet, advance the clock by (control >> 3) * 250 ms and run
//                     the session tick (the timers of the main loop's pass).
// The server changes its working directory: give libFuzzer absolute paths.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "net/rak_peer.h"
#include "platform/clock.h"
#include "protocol/records.h"
#include "protocol/text.h"
#include "server/config/engine_log.h"
#include "server/core/dispatch.h"
#include "server/core/server_globals.h"
#include "server/core/server_process.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::atomic<uint32_t> ticks{5000000};
uint32_t fakeTicks() { return ticks.load(); }

struct Player {
    RakPeerInterface* peer = nullptr;
    SystemAddress address;  // as the server sees it
    std::string name;
};
Player playerOne, playerTwo;
const SystemAddress stranger(0x0900007Fu, 999);  // 127.0.0.9:999, never connected

// What the peers received meanwhile is not looked at; only the fed packets are dispatched.
void drainPeers() {
    for (RakPeerInterface* peer : {playerOne.peer, playerTwo.peer, rakPeer})
        while (Packet* packet = peer->Receive())
            peer->DeallocatePacket(packet);
}

unsigned short connectedCount() {
    unsigned short n = 50;
    rakPeer->GetConnectionList(nullptr, &n);
    return n;
}

void registerPlayer(const Player& p) {
    KSTMP::PlayerInfo info;
    protocol::writeText(info.name, p.name);
    info.joined = 1;
    on_player_info(p.address, &info);
}

void startServer() {
    // Console: no input (the server then stops reading it), output discarded.
    const int null = open("/dev/null", O_RDWR);
    if (null < 0) std::abort();
    dup2(null, 0);
    dup2(null, 1);
    close(null);
    platform::setTickSource(&fakeTicks);

    const std::string root = fuzz::tempFolder("pw-fuzz-dispatch");
    const std::string folder = root + "/srv";
    std::filesystem::create_directories(folder + "/logins");
    setenv("PORTWARDEN_LOCK_DIR", (root + "/locks").c_str(), 1);

    // A free loopback port: a socket bound to port 0 tells which.
    RakPeerInterface* probe = RakNetworkFactory::GetRakPeerInterface();
    SocketDescriptor any(0, "127.0.0.1");
    if (!probe->Startup(1, 30, &any, 1)) std::abort();
    const unsigned short port = probe->GetInternalID().port;
    RakNetworkFactory::DestroyRakPeerInterface(probe);

    std::ofstream(folder + "/serverconfig.txt") << "ServerConfig\n{\n    port = " << port << "\n}\n";
    FUZZ_CHECK(serverStartup((folder + "/portwarden").c_str()) == -1);

    int index = 0;
    for (Player* p : {&playerOne, &playerTwo}) {
        p->peer = RakNetworkFactory::GetRakPeerInterface();
        SocketDescriptor socket(0, "127.0.0.1");
        FUZZ_CHECK(p->peer->Startup(1, 30, &socket, 1));
        FUZZ_CHECK(p->peer->Connect("127.0.0.1", port, "", 0));
        p->name = "player " + std::to_string(++index);
    }
    SystemAddress server;
    server.SetBinaryAddress("127.0.0.1");
    server.port = port;
    // Both ends must be connected: the players finish once the server's welcome reaches them.
    auto bothEnds = [&] {
        return connectedCount() == 2 && playerOne.peer->IsConnected(server) && playerTwo.peer->IsConnected(server);
    };
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!bothEnds()) {
        FUZZ_CHECK(std::chrono::steady_clock::now() < limit);
        serverPass();
        for (Player* p : {&playerOne, &playerTwo})
            while (Packet* packet = p->peer->Receive())
                p->peer->DeallocatePacket(packet);
        usleep(1000);
    }
    for (Player* p : {&playerOne, &playerTwo}) {
        p->address = p->peer->GetExternalID(server);
        FUZZ_CHECK(p->peer->IsConnected(server) && p->address != UNASSIGNED_SYSTEM_ADDRESS);
    }
}

// Back to the lobby with the two players, as after a fresh start and two joins.
void resetServer() {
    serverRunning = true;  // an input may have ended the main loop (everybody left a battle)
    clear_everything();
    registerPlayer(playerOne);
    registerPlayer(playerTwo);
    FUZZ_CHECK(players.size() == 2 && currentPhase() == phase_reservations);
    EngineLog::instance().close();  // log.html starts again, so it cannot grow without end
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetServer();
    size_t at = 0;
    for (int chunk = 0; chunk < 16 && size - at >= 3; ++chunk) {
        const uint8_t control = data[at];
        size_t length = data[at + 1] | size_t{data[at + 2]} << 8;
        at += 3;
        if (length > size - at) length = size - at;

        // A packet as the transport hands it up: its bytes in a block of exactly their size.
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[length ? length : 1]);
        std::memcpy(bytes.get(), data + at, length);
        at += length;
        Packet packet{};
        switch (control & 3) {
        case 1: packet.systemAddress = playerTwo.address; packet.systemIndex = 1; break;
        case 2: packet.systemAddress = stranger; packet.systemIndex = 0xFFFF; break;
        default: packet.systemAddress = playerOne.address; packet.systemIndex = 0; break;
        }
        packet.length = static_cast<unsigned>(length);
        packet.bitSize = packet.length * 8;
        packet.data = bytes.get();
        dispatchPacket(&packet);

        if (control & 4) {
            ticks.fetch_add(static_cast<uint32_t>(control >> 3) * 250);
            session_tick();
        }
    }
    drainPeers();
    return 0;
}
