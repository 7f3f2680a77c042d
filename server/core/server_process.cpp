#include "server/core/server_process.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "net/rak_peer.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/program_path.h"
#include "server/config/server_settings.h"
#include "server/core/console.h"
#include "server/core/dispatch.h"
#include "server/core/instance_lock.h"
#include "server/core/lobby.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/pool/instance_pool.h"
#include "server/session/players.h"
#include "server/session/session_state.h"

using platform::consolePrint;

namespace {

platform::InstanceLock folderLock;
int32_t idleStopTimer = 60000;

const char* gameTypeName(int gameType) {
    switch (gameType) {
    case 1: return "Team Death Match";
    case 2: return "Domination";
    case 3: return "Commander vs Commander";
    case 4: return "Team vs Team";
    default: return "Last Ship floating";
    }
}

std::string afterLastSlash(const std::string& text) {
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// What a fresh process starts with, so that one test process can start the server again.
void resetProcessState() {
    serverRunning = true;
    mirrorMode = false;
    packetCounts.clear();
    gameTypeSendCount = 0;
    idleStopTimer = 60000;
    serverSettings = ServerSettings{};
    initSessionState();
}

}  // namespace

int32_t idleStopTimeLeft() { return idleStopTimer; }

int serverStartup(const char* argv0) {
    resetProcessState();
    const platform::ProgramPath path = platform::programPathFrom(argv0 ? argv0 : "");
    programFileName = path.fileName;
    dataDirectory = path.folder;
    instanceName = afterLastSlash(dataDirectory);

    if (!acquireInstanceLock(dataDirectory, folderLock))
        return 0;
    platform::changeDirectory(dataDirectory);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    rakPeer = RakNetworkFactory::GetRakPeerInterface();
    rakPeer->InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
    rakPeer->SetIncomingPassword("", 0);

    clear_everything();

    const ServerSettings& settings = serverSettings;
    if (serverRunning) {
        consolePrint("Welcome to Korvane LAN server.\n\n");
        consolePrint("Starting up the server...)\n");
        consolePrint("(You might see firewall message about portwarden.exe, allow it to operate)\n");
        SocketDescriptor socket(static_cast<unsigned short>(settings.port), "");
        serverRunning = rakPeer->Startup(50, 30, &socket, 1);
        rakPeer->SetMaximumIncomingConnections(50);
    }
    if (!serverRunning) {
        consolePrint("Server failed to start.  Terminating.\n");
        for (int i = 0; i < 5; ++i)
            platform::sleepMs(1000);
        return 1;
    }
    consolePrint("\nServer is now running in %s\n...Listening port: %i ", rakPeer->GetLocalIP(0), settings.port);
    rakPeer->SetOccasionalPing(true);
    consolePrint("\nGame type is %s", gameTypeName(settings.gameType));
    consolePrint("\n\nType 'quit' to exit and 'help' to get more commands...\n");
    set_phase(phase_reservations);
    return -1;
}

bool serverPass() {
    if (!serverRunning)
        return false;
    session_tick();

    if (!serverSettings.clanserver) {
        if (players.empty())
            idleStopTimer -= static_cast<int32_t>(std::min<uint32_t>(elapsedThisPass(), 0x7FFFFFFF));
        else
            idleStopTimer = 60000;
    }
    if (idleStopTimer < 0)
        serverRunning = false;

    platform::sleepMs(1);

    switch (pollConsole()) {
    case ConsoleOutcome::Quit: return false;
    case ConsoleOutcome::PassEnds: return true;
    case ConsoleOutcome::GoOn: break;
    }

    if (Packet* packet = rakPeer->Receive()) {
        dispatchPacket(packet);
        rakPeer->DeallocatePacket(packet);
    }
    return true;
}

int serverShutdown() {
    rakPeer->Disconnect(300, 0);
    RakNetworkFactory::DestroyRakPeerInterface(rakPeer);
    rakPeer = nullptr;
    instancePoolShutdown();
    platform::releaseNamedLock(folderLock);
    return 0;
}
