// Process-wide values of the server: running flag, the one transport peer, the program's paths.
#pragma once

#include <string>

#include "net/rak_peer.h"

extern bool serverRunning;         // the main loop runs while set; any module may clear it
extern RakPeerInterface* rakPeer;  // the server's only peer
extern std::string dataDirectory;  // program folder, no trailing separator
extern std::string instanceName;   // last component of dataDirectory
extern std::string programFileName;
extern bool mirrorMode;            // set and cleared by the console only
