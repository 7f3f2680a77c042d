// Domination buoys and team scores.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "net/system_address.h"

namespace KSTMP {
struct BuoyInfo;
}

// Team score table, ascending team order; a team enters on its first scored second.
extern std::map<int8_t, float> teamScores;

// The buoy list (a buoy's id is its position), taken from the last configuration load when
// first needed after a reset.
std::vector<KSTMP::BuoyInfo>& buoyList();

// A client's capture report.
void on_buoy_info(const SystemAddress& sender, KSTMP::BuoyInfo* record);
// Phase 4 begins: scoring every 1000 ms, first broadcast after 3000 ms (only with buoys).
void start_buoy_timers();
// Phase 4, every pass after the end rule.
void buoy_tick(int32_t elapsed);
// Every buoy and team score to `to`; the unassigned address means every player.
void send_buoys_and_scores(const SystemAddress& to);

// Full reset: buoy list and scores emptied, timers off; buoys come from the next load.
void clearBuoysAndScores();
// Reset for a new game: buoy list refilled from the last configuration load, scores emptied,
// timers off.
void resetBuoysForNewGame();
