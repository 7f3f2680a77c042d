#include "server/core/lobby.h"

#include <algorithm>
#include <cstring>

#include "platform/console.h"
#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/pool/instance_pool.h"
#include "server/session/players.h"
#include "server/session/session_state.h"

int gameTypeSendCount = 0;

namespace {

// At most 24 characters, always zero-terminated.
void copyName(char (&field)[25], const std::string& text) {
    const size_t n = std::min<size_t>(text.size(), 24);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, sizeof field - n);
}

}  // namespace

void sendGameType(const SystemAddress& address) {
    const ServerSettings& settings = serverSettings;
    KSTMP::GameType record;
    record.target.setFrom(address);
    copyName(record.name, settings.name);
    copyName(record.serverName, settings.servername);
    record.openServer = settings.password.empty() ? 1 : 0;
    record.playerCount = static_cast<uint8_t>(players.size());
    record.freeSlots = static_cast<uint8_t>(freeSlots());
    record.maxShipsPerPlayer = static_cast<uint8_t>(settings.maxShipsPerPlayer);
    record.yourReservedSlots = static_cast<uint8_t>(reservationCount(address));
    record.reservedSlots = static_cast<uint8_t>(totalReservedSlots());
    record.gameType = static_cast<uint32_t>(settings.gameType);
    record.timeOfDay = static_cast<uint8_t>(settings.timeOfDay);
    record.weather = static_cast<uint8_t>(settings.weather);
    record.heading = settings.randomAngle;
    record.gameLength = static_cast<uint8_t>(settings.gameLength);
    const bool counting = countdownRunning();
    record.countdown = static_cast<uint16_t>(counting ? countdownLeftMs() / 1000 : settings.waitForOthersLength);
    for (size_t i = 0; i < std::size(record.availableShips); ++i)
        record.availableShips[i] = static_cast<uint8_t>(settings.availableShips[i]);
    record.spare = 0;
    record.phase = static_cast<uint32_t>(currentPhase());
    record.serverAddress.setFrom(rakPeer->GetExternalID(address));
    record.dcAllowed = settings.dcAllowed ? 1 : 0;
    record.rtsAllowed = settings.rtsAllowed ? 1 : 0;
    record.countdownRunning = counting ? 1 : 0;
    record.realism = static_cast<uint32_t>(settings.realism);
    record.requiredVersion = settings.requiredVersion;
    sendRecord(&record);
    if (gameTypeSendCount % 5 == 0)
        platform::consolePrint("%d Sending game modes to: %s\n", gameTypeSendCount, addressText(address));
    ++gameTypeSendCount;
}

void sendServerLinks(const SystemAddress& address) {
    for (KSTMP::ServerLink& link : serverSettings.serverLinks) {
        link.target.setFrom(address);
        sendRecord(&link);
    }
    platform::consolePrint("Sending server links to: %s\n", addressText(address));
    wakeServers();
}
