#include "server/session/players.h"

#include <algorithm>

#include "platform/console.h"
#include "protocol/notifier_codes.h"
#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/core/lobby.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"

using platform::consolePrint;

std::map<SystemAddress, KSTMP::PlayerInfo> players;

namespace {

std::map<SystemAddress, int32_t> reservations;
int8_t totalReserved = 0;
int8_t freeSlotCount = 0;

void sendTeamId(const SystemAddress& to, int team) {
    KSTMP::Notifier notice;
    notice.target.setFrom(to);
    notice.code = KSTMP::ntf_team_id;
    notice.param = team;
    sendRecord(&notice);
}

}  // namespace

int32_t reservationCount(const SystemAddress& address) {
    auto it = reservations.find(address);
    return it == reservations.end() ? 0 : it->second;
}

int8_t totalReservedSlots() { return totalReserved; }
int8_t freeSlots() { return freeSlotCount; }

int pick_team() {
    int team0 = 0;
    int team1 = 0;
    for (const auto& entry : players) {
        if (entry.second.team == 0)
            ++team0;
        else if (entry.second.team == 1)
            ++team1;
    }
    return team0 > team1 ? 1 : 0;
}

bool teams_valid() {
    if (serverSettings.gameType == 0)
        return true;
    bool team0 = false;
    bool team1 = false;
    for (const auto& entry : players) {
        team0 = team0 || entry.second.team == 0;
        team1 = team1 || entry.second.team == 1;
    }
    return team0 && team1;
}

void broadcast_players() {
    for (const auto& entry : players) {
        KSTMP::PlayerInfo copy = entry.second;
        sendToPlayers(&copy, true);
    }
}

void on_player_info(const SystemAddress& sender, KSTMP::PlayerInfo* record) {
    if (record->joined != 1) {
        remove_player(sender);
        return;
    }
    auto it = players.find(sender);
    if (it == players.end()) {
        const int team = pick_team();
        record->address.setFrom(sender);
        KSTMP::PlayerInfo& entry = players.emplace(sender, *record).first->second;
        entry.team = static_cast<uint16_t>(team);
        switchCountdownOff();
        broadcast_players();
        sendTeamId(sender, team);
        return;
    }
    KSTMP::PlayerInfo& entry = it->second;
    std::copy(std::begin(record->name), std::end(record->name), std::begin(entry.name));
    entry.playerData = record->playerData;
    entry.readyToInit = record->readyToInit;
    entry.team = record->team;
    std::copy(std::begin(record->playerFlags), std::end(record->playerFlags), std::begin(entry.playerFlags));
    entry.address.setFrom(sender);
    broadcast_players();
}

void on_team_id(const SystemAddress& sender, int32_t param) {
    auto it = players.find(sender);
    if (it != players.end())
        it->second.team = static_cast<uint16_t>(param & 0xFFFF);
    consolePrint("%s sent her team id\n", addressText(sender));
}

void on_slot_info(const SystemAddress& sender, KSTMP::SlotInfo* record) {
    int32_t& current = reservations[sender];
    const int32_t want = record->playerSlots;
    if (want != current) {
        if (want > current && freeSlotCount != 0 && current < serverSettings.maxShipsPerPlayer) {
            ++current;
            ++totalReserved;
            --freeSlotCount;
        } else if (want < current && current != 0) {
            --current;
            --totalReserved;
            ++freeSlotCount;
        }
        consolePrint("%s has currently reserved %i slots of %i leaving %i as free\n", addressText(sender), current,
                     totalReserved, freeSlotCount);
    }
    sendGameType(sender);
}

void on_slot_query(const SystemAddress& sender) {
    consolePrint("Received info check from: %s\n", addressText(sender));
    KSTMP::SlotInfo answer;
    answer.playerSlots = static_cast<int8_t>(reservations[sender]);
    answer.reservedSlots = totalReserved;
    answer.freeSlots = freeSlotCount;
    answer.target.setFrom(sender);
    sendRecord(&answer);
}

void remove_player(const SystemAddress& address) {
    auto reservation = reservations.find(address);
    if (reservation != reservations.end()) {
        consolePrint("Removing reservations for player with address %s\n", addressText(address));
        freeSlotCount = static_cast<int8_t>(freeSlotCount + reservation->second);
        totalReserved = static_cast<int8_t>(totalReserved - reservation->second);
        reservations.erase(reservation);
    }
    auto player = players.find(address);
    if (player != players.end()) {
        consolePrint("Removing player with address %s\n", addressText(address));
        players.erase(player);
        KSTMP::PlayerInfo gone;
        gone.joined = 0;
        gone.address.setFrom(address);
        sendToPlayers(&gone, true);
    }
    if (removeFromReadiness(address))
        consolePrint("Removing ready status for %s\n", addressText(address));
    removeShipsOf(address);
    const int phase = currentPhase();
    if ((phase == phase_in_game || phase == phase_game_over || phase == phase_quit) && players.empty() &&
        !serverSettings.clanserver)
        serverRunning = false;
    if (players.empty())
        clear_everything();
}

void clearReservations() {
    reservations.clear();
    totalReserved = 0;
}

void clearPlayers() { players.clear(); }

void setTotalSlotsFromConfiguration() {
    const int configured = serverSettings.maxShipSlots;
    const int total = std::clamp(configured, 0, 127);
    if (total != configured)
        consolePrint("Ship slots limited to %i (configured %i)\n", total, configured);
    freeSlotCount = static_cast<int8_t>(total);
}

void resetPlayersForNewGame() {
    for (auto& entry : players) {
        entry.second.readyToInit = 0;
        std::fill(std::begin(entry.second.playerFlags), std::end(entry.second.playerFlags), 255);
    }
}
