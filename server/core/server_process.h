// The server process: start-up, one pass of the main loop, shutdown.
#pragma once

#include <cstdint>
#include <string>

// Start-up from the program's path. Returns -1 when the server runs (call serverPass until it
// returns false, then serverShutdown), otherwise the exit status: 0 when another copy holds
// the folder, 1 when the server could not start (after the five-second pause).
int serverStartup(const char* argv0);
// One pass of the main loop; false when the loop ends.
bool serverPass();
// Disconnects, destroys the peer and releases the folder lock. Returns the exit status 0.
int serverShutdown();

// Milliseconds left before an empty non-clan server stops.
int32_t idleStopTimeLeft();
