// End rules of the game types and the end of a battle.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace KSTMP {
struct ShipInfo;
}

struct EndDecision {
    bool ends = false;       // the battle is over
    bool teamGame = false;   // a result is sent and ships get winner / teamSizeAtEnd
    int winner = -1;         // winning team, -1 for none
    int team0Ships = 0;      // ships of team 0 (afloat or not)
    int team1Ships = 0;
};

// What the end rule of `gameType` says about these ships, battle seconds and scores.
EndDecision decide_end(int gameType, int32_t timeLeftSeconds, const std::vector<KSTMP::ShipInfo>& ships,
                       const std::map<int8_t, float>& scores);

// Phase 4, every pass: applies the configured game type's end rule to the session.
void apply_end_rule();
