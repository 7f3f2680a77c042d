#include "server/core/server_globals.h"

bool serverRunning = true;
RakPeerInterface* rakPeer = nullptr;
std::string dataDirectory;
std::string instanceName;
std::string programFileName;
bool mirrorMode = false;
