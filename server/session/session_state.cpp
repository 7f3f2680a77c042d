#include "server/session/session_state.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/pool/instance_pool.h"
#include "server/session/buoys.h"
#include "server/session/end_rules.h"
#include "server/session/players.h"
#include "server/session/ship_registry.h"
#include "server/session/traffic_report.h"

using platform::consolePrint;

namespace {

struct Timer {
    int32_t ms = 0;
    bool on = false;
    void start(int32_t value) {
        ms = value;
        on = true;
    }
};

int phase = phase_reservations;
KSTMP::ConnectionStatus announcement;
std::vector<SystemAddress> readyToInit;
std::vector<SystemAddress> readyToSpawn;
std::vector<SystemAddress> readyToPlay;

int32_t timeLeft = 0;
int32_t secondAccumulator = 1000;
uint32_t lastTick = 0;
uint32_t lastElapsed = 0;
uint32_t startTick = 0;
std::string matchIndex;
int32_t killOrder = 0;

Timer countdownTimer;
Timer initTimeoutTimer;
Timer gameOverTimer;
Timer resetDelayTimer;
Timer lobbyBroadcastTimer{1500, true};
int32_t idleClearTimer = 60000;

// Adds the address unless it is there; returns the list size.
int addOnce(std::vector<SystemAddress>& list, const SystemAddress& address) {
    if (std::find(list.begin(), list.end(), address) == list.end())
        list.push_back(address);
    return static_cast<int>(list.size());
}

bool removeFrom(std::vector<SystemAddress>& list, const SystemAddress& address) {
    auto it = std::find(list.begin(), list.end(), address);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

void clearReadiness() {
    readyToInit.clear();
    readyToSpawn.clear();
    readyToPlay.clear();
}

void newMatchIndex(uint32_t now) {
    matchIndex = std::to_string(now);
    consolePrint("Match index is %s\n", matchIndex.c_str());
}

// Timers as after both resets; the lobby broadcast keeps its remaining value.
void resetTimers() {
    countdownTimer.on = false;
    initTimeoutTimer.on = false;
    gameOverTimer.on = false;
    resetDelayTimer.on = false;
    lobbyBroadcastTimer.on = true;
    killOrder = 0;
    secondAccumulator = 1000;
}

int playerCount() { return static_cast<int>(players.size()); }

void startBattle() {
    set_phase(phase_in_game);
    start_buoy_timers();
}

}  // namespace

int currentPhase() { return phase; }

void set_phase(int p) {
    switch (p) {
    case phase_reservations:
        if (serverRunning)
            consolePrint("Server is accepting reservations\n");
        break;
    case phase_initialize: consolePrint("Server is asking to initialize\n"); break;
    case phase_spawn: consolePrint("Server is asking to spawn\n"); break;
    case phase_in_game: consolePrint("Server is in game\n"); break;
    case phase_game_over: consolePrint("Game is over\n"); break;
    default: break;
    }
    phase = p;
    announcement.phase = static_cast<uint32_t>(p);
    sendToPlayers(&announcement, true);
}

void send_phase_to(const SystemAddress& address) {
    announcement.target.setFrom(address);
    sendRecord(&announcement);
}

int32_t& timeLeftSeconds() { return timeLeft; }
int32_t nextSinkOrder() { return ++killOrder; }
uint32_t serverStartTick() { return startTick; }
uint32_t elapsedThisPass() { return lastElapsed; }
bool countdownRunning() { return countdownTimer.on; }
int32_t countdownLeftMs() { return countdownTimer.ms; }
void switchGameOverTimerOn() { gameOverTimer.start(10000); }
void switchCountdownOff() { countdownTimer.on = false; }

bool removeFromReadiness(const SystemAddress& address) {
    removeFrom(readyToSpawn, address);
    removeFrom(readyToPlay, address);
    return removeFrom(readyToInit, address);
}

void initSessionState() {
    phase = phase_reservations;
    announcement = KSTMP::ConnectionStatus();
    clearReadiness();
    timeLeft = 0;
    secondAccumulator = 1000;
    lastTick = platform::tickCount();
    lastElapsed = 0;
    startTick = lastTick;
    matchIndex.clear();
    killOrder = 0;
    countdownTimer = Timer{};
    initTimeoutTimer = Timer{};
    gameOverTimer = Timer{};
    resetDelayTimer = Timer{};
    lobbyBroadcastTimer = Timer{1500, true};
    idleClearTimer = 60000;
}

void clear_everything() {
    if (!players.empty())
        print_statistics_report();
    consolePrint("Clear everything\n");
    cloneMode = false;
    const uint32_t now = platform::tickCount();
    lastTick = now;
    newMatchIndex(now);
    clearReservations();
    clearShipsForEverything();
    clearBuoysAndScores();
    clearReadiness();
    clearPlayers();
    resetTimers();
    loadServerConfiguration(dataDirectory, serverRunning);
    timeLeft = serverSettings.gameLength * 60;
    setTotalSlotsFromConfiguration();
    set_phase(phase_reservations);
}

void reset_for_new_game() {
    if (!players.empty())
        print_statistics_report();
    consolePrint("Reseting the server for a new game\n");
    cloneMode = false;
    const uint32_t now = platform::tickCount();
    lastTick = now;
    newMatchIndex(now);
    resetShipsForNewGame();
    resetBuoysForNewGame();
    clearReadiness();
    resetTimers();
    set_phase(phase_reservations);
    resetPlayersForNewGame();
    broadcast_players();
    timeLeft = serverSettings.gameLength * 60;
}

void session_tick() {
    const uint32_t now = platform::tickCount();
    const uint32_t elapsed = now - lastTick;
    lastTick = now;
    lastElapsed = elapsed;
    const int32_t step = static_cast<int32_t>(std::min<uint32_t>(elapsed, 0x7FFFFFFF));

    idleClearTimer -= step;
    for (Timer* timer : {&countdownTimer, &initTimeoutTimer, &gameOverTimer, &resetDelayTimer, &lobbyBroadcastTimer})
        if (timer->on)
            timer->ms -= step;

    if (idleClearTimer < 0) {
        idleClearTimer = 60000;
        if (players.empty())
            clear_everything();
    }

    if (phase == phase_reservations) {
        if (countdownTimer.on && countdownTimer.ms < 0) {
            consolePrint("Countdown timer reached zero, starting to init\n");
            countdownTimer.on = false;
            set_phase(phase_initialize);
            instancePoolGameBegin();
            initTimeoutTimer.start(40000);
        }
        if (lobbyBroadcastTimer.on && lobbyBroadcastTimer.ms < 0) {
            lobbyBroadcastTimer.ms = 1500;
            broadcast_players();
        }
    }
    if (phase == phase_initialize && initTimeoutTimer.on && initTimeoutTimer.ms < 0) {
        initTimeoutTimer.on = false;
        startBattle();
        lobbyBroadcastTimer.ms = 0;
        lobbyBroadcastTimer.on = false;
    }
    if (phase == phase_in_game) {
        secondAccumulator -= step;
        if (secondAccumulator < 0) {
            timeLeft -= 1;
            secondAccumulator += 1000;
        }
        apply_end_rule();
        respawn_tick(step);
        buoy_tick(step);
    }
    if (phase == phase_game_over && gameOverTimer.on && gameOverTimer.ms <= 0) {
        gameOverTimer.on = false;
        phase = phase_quit;
        announcement.phase = phase_quit;
        resetDelayTimer.start(100);
    }
    if (phase == phase_quit && resetDelayTimer.on && resetDelayTimer.ms <= 0) {
        resetDelayTimer.on = false;
        reset_for_new_game();
    }
}

void on_ready_to_init(const SystemAddress& sender) {
    const int ready = addOnce(readyToInit, sender);
    consolePrint("%i of %i are ready to initialize\n", ready, playerCount());
    auto it = players.find(sender);
    if (it != players.end())
        it->second.readyToInit = 1;
    if (ready == playerCount() && playerCount() >= 2 && teams_valid()) {
        const int32_t length = serverSettings.waitForOthersLength * 1000;
        countdownTimer.start(length);
        consolePrint("Everybody is ready, Countdown timer is %i\n", length);
    }
}

void on_ready_to_spawn(const SystemAddress& sender) {
    const int ready = addOnce(readyToSpawn, sender);
    consolePrint("%i of %i are ready to spawn\n", ready, playerCount());
    if (ready == playerCount()) {
        if (mirrorMode && playerCount() == 1) {
            cloneMode = true;
            clone_fleet(players.begin()->first);
        }
        set_phase(phase_spawn);
    }
}

void on_ready_to_play(const SystemAddress& sender) {
    const int ready = addOnce(readyToPlay, sender);
    consolePrint("%i of %i are ready to play\n", ready, playerCount());
    if (ready == playerCount())
        startBattle();
}
