// Players, teams and ship-slot reservations.
#pragma once

#include <cstdint>
#include <map>

#include "net/system_address.h"

namespace KSTMP {
struct PlayerInfo;
struct SlotInfo;
}

// Ordered by ip (as the unsigned 32-bit value) then port.
extern std::map<SystemAddress, KSTMP::PlayerInfo> players;

int32_t reservationCount(const SystemAddress& address);  // 0 when none
int8_t totalReservedSlots();
int8_t freeSlots();

int pick_team();
bool teams_valid();

void on_player_info(const SystemAddress& sender, KSTMP::PlayerInfo* record);
void on_slot_info(const SystemAddress& sender, KSTMP::SlotInfo* record);
void on_slot_query(const SystemAddress& sender);
void on_team_id(const SystemAddress& sender, int32_t param);
// Removes every trace of the address: reservations, player entry, readiness, ships.
void remove_player(const SystemAddress& address);
void broadcast_players();

// Full reset: reservation table emptied and total reserved 0; player table emptied.
void clearReservations();
void clearPlayers();
// After a configuration load: free slots = the configured total slots, clamped to 0..127 (the
// counters are signed bytes) with one console line when the configuration asks for more.
void setTotalSlotsFromConfiguration();
// After a finished battle: ready flag 0 and the per-player bytes 255 for every player.
void resetPlayersForNewGame();
