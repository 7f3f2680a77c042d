#include "server/core/console.h"

#include <cstring>

#include "net/rak_peer.h"
#include "platform/console.h"
#include "protocol/records.h"
#include "protocol/text.h"
#include "server/config/server_settings.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/pool/instance_pool.h"
#include "server/session/players.h"
#include "server/session/session_state.h"

using platform::consolePrint;

namespace {

void printStatistics() {
    const SystemAddress first = rakPeer->GetSystemAddressFromIndex(0);
    char text[platform::consoleLineCapacity];
    StatisticsToString(rakPeer->GetStatistics(first), text, 2);
    consolePrint("%s", text);
    consolePrint("Ping %i\n", rakPeer->GetAveragePing(first));
}

void ban() {
    consolePrint("Enter IP to ban.  You can use * as a wildcard\n");
    char address[platform::consoleLineCapacity] = {0};
    if (platform::readConsoleLine(address) != platform::ConsoleInput::Line)
        address[0] = '\0';
    rakPeer->AddToBanList(address, 0);
    consolePrint("IP %s added to ban list.\n", address);
}

void printStatus() {
    const ServerSettings& settings = serverSettings;
    consolePrint("Game type is %i\n", settings.gameType);
    consolePrint("DcAllowed = %i\n", settings.dcAllowed ? 1 : 0);
    consolePrint("RtsAllowed = %i\n", settings.rtsAllowed ? 1 : 0);
    consolePrint("SlotsAvailable = %i\n", settings.maxShipSlots);
    consolePrint("RequiredVersion = %f\n", static_cast<double>(settings.requiredVersion));
    int number = 1;
    for (const auto& [address, player] : players)
        consolePrint("%i. %s %s\n", number++, protocol::readText(player.name).c_str(), addressText(address));
}

}  // namespace

ConsoleOutcome runConsoleLine(const char* line) {
    const auto is = [line](const char* command) { return std::strcmp(line, command) == 0; };
    if (is("reset"))
        clear_everything();
    else if (is("quit") || is("exit")) {
        consolePrint("Quitting.\n");
        return ConsoleOutcome::Quit;
    } else if (is("stat"))
        printStatistics();
    else if (is("ping") || is("kick"))
        ;
    else if (is("ban"))
        ban();
    else if (is("mirror on")) {
        consolePrint("Setting mirror mode ON\n");
        mirrorMode = true;
    } else if (is("mirror off")) {
        consolePrint("Setting mirror mode OFF\n");
        mirrorMode = false;
    } else if (is("wakeup")) {
        consolePrint("Starting servers manually\n");
        wakeServers();
    } else if (is("status"))
        printStatus();
    else
        return ConsoleOutcome::GoOn;
    return ConsoleOutcome::PassEnds;
}

ConsoleOutcome pollConsole() {
    char line[platform::consoleLineCapacity];
    if (platform::pollConsoleLine(line) != platform::ConsoleInput::Line)
        return ConsoleOutcome::GoOn;
    return runConsoleLine(line);
}
