#include "server/session/end_rules.h"

#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/core/send.h"
#include "server/session/buoys.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"

EndDecision decide_end(int gameType, int32_t timeLeftSeconds, const std::vector<KSTMP::ShipInfo>& ships,
                       const std::map<int8_t, float>& scores) {
    int afloat = 0, team0Afloat = 0, team1Afloat = 0;
    EndDecision d;
    for (const auto& s : ships) {
        const bool inPlay = s.afloat != 0;
        afloat += inPlay;
        if (s.team == 0) {
            ++d.team0Ships;
            team0Afloat += inPlay;
        } else if (s.team == 1) {
            ++d.team1Ships;
            team1Afloat += inPlay;
        }
    }
    const bool timeUp = timeLeftSeconds <= 0;
    switch (gameType) {
    case 0:
        d.ends = afloat <= 1 || timeUp;
        break;
    case 1:
    case 3:
    case 4:
        d.ends = team0Afloat == 0 || team1Afloat == 0 || timeUp;
        d.teamGame = true;
        if (team0Afloat == 0 || team1Afloat == 0)
            d.winner = team0Afloat == 0 ? 1 : 0;
        else if (team0Afloat != team1Afloat)
            d.winner = team0Afloat > team1Afloat ? 0 : 1;
        break;
    case 2: {
        d.ends = timeUp;
        d.teamGame = true;
        float best = -1.0f;
        for (const auto& [team, score] : scores) {
            if (score > best) {
                best = score;
                d.winner = team;
            }
        }
        break;
    }
    default:  // -1: no end rule
        break;
    }
    return d;
}

void apply_end_rule() {
    const EndDecision d = decide_end(serverSettings.gameType, timeLeftSeconds(), shipRegistry, teamScores);
    if (!d.ends) return;
    switchGameOverTimerOn();
    set_phase(phase_game_over);
    if (!d.teamGame) return;
    KSTMP::Notifier result;
    result.code = KSTMP::ntf_game_result;
    result.param = d.winner;
    sendRecord(&result);
    for (auto& s : shipRegistry) {
        s.winner = d.winner >= 0 && s.team == d.winner ? 1 : 0;
        s.teamSizeAtEnd = static_cast<uint8_t>(s.team == 0 ? d.team0Ships : d.team1Ships);
    }
}
