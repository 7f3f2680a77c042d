// Ship registry: registration and update of ships, battle relay, damage accounting, lost ships
// and respawns, the one-player mirror battle, start positions and the ship list.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "net/system_address.h"

namespace KSTMP {
struct ShipInfo;
struct Coordinates;
struct simplePosition;
struct Damagelevel;
struct Notifier;
struct VerifyStatsResult;
struct VC3;
}  // namespace KSTMP

// Indices are signed bytes: 0 to 127.
constexpr size_t maxShips = 128;

// Every registered ship. A ship keeps the index it was given at registration in its record;
// after an owner leaves, the position in this list and the stored index can differ.
extern std::vector<KSTMP::ShipInfo> shipRegistry;
// On while a mirrored one-player battle runs.
extern bool cloneMode;

// The ship whose stored index is `index`; null when no registered ship has it.
KSTMP::ShipInfo* findShip(int index);

// Record handlers (sender's address and the record, read in place).
void on_ship_info(const SystemAddress& sender, KSTMP::ShipInfo* record);
void on_coordinates(const SystemAddress& sender, KSTMP::Coordinates* record);
void on_simple_position(const SystemAddress& sender, KSTMP::simplePosition* record);
void on_damagelevel(const SystemAddress& sender, KSTMP::Damagelevel* record);
// Notifier codes 7 to 9, 11, 12, 26 and 27.
void on_ship_notifier(const SystemAddress& sender, KSTMP::Notifier* record);
// Notifier code 16: every entry to the asker when the registry matches the reservations.
void send_ship_list(const SystemAddress& asker);
void on_verify_stats_result(KSTMP::VerifyStatsResult* record);

// Drops every ship of `owner` (printing one line per ship), with its respawn timer.
void removeShipsOf(const SystemAddress& owner);
// Mirror battle: copies the registry for `player`, owned by the server.
void clone_fleet(const SystemAddress& player);
// Phase 4, every pass: counts down the respawn timers and brings ships back.
void respawn_tick(int32_t elapsed);

// Start position for a new ship of `team`: the team's next listed position, else a point near its
// group centre, else `p` as it is; a position handed out before is retried `retries` times and
// then replaced by a random one (10 to 109 on both axes).
void pick_start_position(KSTMP::VC3& p, int team, int retries);

// Score changes of one damage report: hull, sails, crew for the attacker and for the target.
struct DamagePoints {
    std::array<int, 3> attacker{0, 0, 0};
    std::array<int, 3> target{0, 0, 0};
};
DamagePoints damage_points(int16_t hull, int16_t sails, int16_t crew, float factor, bool friendly);
// Books an attributed damage report on both ships (scores, kills, raw tallies); true when the
// target sank. Friendly fire exists only in game types other than 0.
bool apply_damage(KSTMP::ShipInfo& attacker, KSTMP::ShipInfo& target, const KSTMP::Damagelevel& d, int gameType);

// True while the ship with this index waits to come back into play.
bool respawnPending(int index);

// Full reset: registry, used positions, start lists, centres, respawn timers; clone mode off.
// Start lists and centres are taken from the configuration when next needed.
void clearShipsForEverything();
// Reset for a new game: registry, used positions, respawn timers; start lists and centres
// refilled from the last configuration load; clone mode off.
void resetShipsForNewGame();
