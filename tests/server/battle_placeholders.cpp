// TEMPORARY: empty battle-part definitions so the server tests link before the battle part of
// the session is in the tree. Deleted as soon as it is; never part of the server.
#include "protocol/records.h"
#include "server/session/buoys.h"
#include "server/session/class_factors.h"
#include "server/session/end_rules.h"
#include "server/session/ship_registry.h"

std::vector<KSTMP::ShipInfo> shipRegistry;
bool cloneMode = false;
std::map<int8_t, float> teamScores;

KSTMP::ShipInfo* findShip(int) { return nullptr; }
void on_ship_info(const SystemAddress&, KSTMP::ShipInfo*) {}
void on_coordinates(const SystemAddress&, KSTMP::Coordinates*) {}
void on_simple_position(const SystemAddress&, KSTMP::simplePosition*) {}
void on_damagelevel(const SystemAddress&, KSTMP::Damagelevel*) {}
void on_ship_notifier(const SystemAddress&, KSTMP::Notifier*) {}
void send_ship_list(const SystemAddress&) {}
void on_verify_stats_result(KSTMP::VerifyStatsResult*) {}
void removeShipsOf(const SystemAddress&) {}
void clone_fleet(const SystemAddress&) {}
void respawn_tick(int32_t) {}
void clearShipsForEverything() { cloneMode = false; }
void resetShipsForNewGame() { cloneMode = false; }

std::vector<KSTMP::BuoyInfo>& buoyList() {
    static std::vector<KSTMP::BuoyInfo> list;
    return list;
}
void on_buoy_info(const SystemAddress&, KSTMP::BuoyInfo*) {}
void start_buoy_timers() {}
void buoy_tick(int32_t) {}
void send_buoys_and_scores(const SystemAddress&) {}
void clearBuoysAndScores() { teamScores.clear(); }
void resetBuoysForNewGame() { teamScores.clear(); }

EndDecision decide_end(int, int32_t, const std::vector<KSTMP::ShipInfo>&, const std::map<int8_t, float>&) { return {}; }
void apply_end_rule() {}
float class_factor(int, int) { return 1.0f; }
