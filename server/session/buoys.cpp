#include "server/session/buoys.h"

#include <cmath>

#include "platform/console.h"
#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/core/send.h"

using platform::consolePrint;

std::map<int8_t, float> teamScores;

namespace {

constexpr int32_t scoreTickMs = 1000;
constexpr int32_t firstBroadcastMs = 3000;
constexpr int32_t broadcastMs = 5000;

std::vector<KSTMP::BuoyInfo> buoys;
bool buoysTaken = false;

struct Timer {
    bool on = false;
    int32_t ms = 0;
};
Timer scoreTickTimer;
Timer broadcastTimer;

void timersOff() {
    scoreTickTimer = Timer{};
    broadcastTimer = Timer{};
}

}  // namespace

std::vector<KSTMP::BuoyInfo>& buoyList() {
    if (!buoysTaken) {
        buoys = serverSettings.buoys;
        buoysTaken = true;
    }
    return buoys;
}

int16_t scoreValue(float score) {
    if (std::isnan(score)) return 0;
    if (score >= 32767.0f) return 32767;
    if (score <= -32768.0f) return -32768;
    return static_cast<int16_t>(score);
}

void on_buoy_info(const SystemAddress& sender, KSTMP::BuoyInfo* record) {
    auto& list = buoyList();
    if (record->buoyId < 0 || record->buoyId >= static_cast<int>(list.size())) {
        consolePrint("%s reported buoy %i, which does not exist; dropped\n", addressText(sender), record->buoyId);
        return;
    }
    KSTMP::BuoyInfo& buoy = list[record->buoyId];
    const bool same = buoy.team == record->team && buoy.ship == record->ship;
    consolePrint("Buy ID: %d was captured by ship %d from team %d.\n", record->buoyId, record->ship, record->team);
    if (same) return;
    buoy.paused = 0;
    buoy.team = record->team;
    buoy.ship = record->ship;
    buoy.timer = buoy.timerReset;
    buoy.changed = 1;
    send_buoys_and_scores(UNASSIGNED_SYSTEM_ADDRESS);
}

void start_buoy_timers() {
    if (buoyList().empty()) return;
    scoreTickTimer = Timer{true, scoreTickMs};
    broadcastTimer = Timer{true, firstBroadcastMs};
}

void buoy_tick(int32_t elapsed) {
    if (scoreTickTimer.on) scoreTickTimer.ms -= elapsed;
    if (broadcastTimer.on) broadcastTimer.ms -= elapsed;
    auto& list = buoyList();
    if (list.empty() || serverSettings.gameType != 2) return;
    if (broadcastTimer.on && broadcastTimer.ms < 0) {
        broadcastTimer.ms = broadcastMs;
        send_buoys_and_scores(UNASSIGNED_SYSTEM_ADDRESS);
    }
    if (!scoreTickTimer.on || scoreTickTimer.ms >= 0) return;
    scoreTickTimer.ms = scoreTickMs;
    bool released = false;
    for (auto& buoy : list) {
        if (buoy.team < 0 || buoy.paused != 0) continue;
        teamScores[buoy.team] += 1.0f;
        buoy.timer = static_cast<int16_t>(static_cast<uint16_t>(buoy.timer) + 1);
        if (buoy.timer != 0) continue;
        consolePrint("Buy ID: %d reached zero.\n", buoy.buoyId);
        buoy.timer = buoy.timerReset;
        buoy.ship = -1;
        buoy.team = -1;
        released = true;
    }
    if (released) send_buoys_and_scores(UNASSIGNED_SYSTEM_ADDRESS);
}

void send_buoys_and_scores(const SystemAddress& to) {
    auto& list = buoyList();
    const bool everybody = to == UNASSIGNED_SYSTEM_ADDRESS;
    if (everybody)
        consolePrint("Sending buoys to all...\n");
    else
        consolePrint("Sending buoys to: %s\n", addressText(to));
    for (auto& buoy : list) {
        if (everybody) {
            sendToPlayers(&buoy, true);
        } else {
            buoy.target = to;
            sendRecord(&buoy);
        }
        buoy.changed = 0;
    }
    for (const auto& [team, score] : teamScores) {
        KSTMP::TeamScore record;
        record.team = team;
        record.score = scoreValue(score);
        if (everybody) {
            consolePrint("Sending Team scores to all...\n");
            sendToPlayers(&record, true);
        } else {
            record.target = to;
            sendRecord(&record);
        }
    }
}

void clearBuoysAndScores() {
    buoys.clear();
    buoysTaken = false;
    teamScores.clear();
    timersOff();
}

void resetBuoysForNewGame() {
    buoys = serverSettings.buoys;
    buoysTaken = true;
    teamScores.clear();
    timersOff();
}
