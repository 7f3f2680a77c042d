// Cooperation of sibling server copies: the steps the server calls.
#pragma once

// The start countdown ran out: this copy begins a battle.
void instancePoolGameBegin();
// Starts the programs of the configuration's wake group.
void wakeServers();
