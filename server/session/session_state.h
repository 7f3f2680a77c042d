// Session phases, readiness lists, session timers, the session tick and both resets.
#pragma once

#include <cstdint>

#include "net/system_address.h"

enum phases {
    phase_reservations = 0,
    phase_initialize = 2,
    phase_spawn = 3,
    phase_in_game = 4,
    phase_game_over = 5,
    phase_quit = 6,
};

int currentPhase();
// Prints the phase's text, stores it and announces it to every player.
void set_phase(int p);
// The phase announcement to one address.
void send_phase_to(const SystemAddress& address);

int32_t& timeLeftSeconds();   // battle seconds left
int32_t nextSinkOrder();      // advances the kill order counter and returns its new value
uint32_t serverStartTick();   // tick count taken when the server started
uint32_t elapsedThisPass();   // milliseconds measured by the last session_tick

void clear_everything();
void reset_for_new_game();
void session_tick();

void on_ready_to_init(const SystemAddress& sender);
void on_ready_to_spawn(const SystemAddress& sender);
void on_ready_to_play(const SystemAddress& sender);

void switchGameOverTimerOn();  // game_over_timer on with 10000

// Used by the player table.
void switchCountdownOff();
// Drops the address from all three readiness lists; true when it was ready to initialize.
bool removeFromReadiness(const SystemAddress& address);

// State that a fresh process starts with; run once by the server's start-up.
void initSessionState();
// Start countdown state, for the lobby announcement.
bool countdownRunning();
int32_t countdownLeftMs();
