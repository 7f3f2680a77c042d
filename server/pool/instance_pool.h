// Cooperation of sibling server copies: the steps the server calls.
#pragma once

// End of every configuration load (connected to the load's pool hook): registers this copy in
// the group file, takes the port lock, and either clears `serverRunning` (port taken, enough
// copies available) or starts one free sibling copy.
void instancePoolStep(bool& serverRunning);
// The start countdown ran out: this copy begins a battle.
void instancePoolGameBegin();
// Starts the programs of the configuration's wake group.
void wakeServers();
// Shutdown: closes the port lock when it is held.
void instancePoolShutdown();
