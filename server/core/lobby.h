// What the server tells a client about itself: the game-type record and the server links.
#pragma once

#include "net/system_address.h"

void sendGameType(const SystemAddress& address);
void sendServerLinks(const SystemAddress& address);

// Game-type records sent since start-up (every fifth send is printed).
extern int gameTypeSendCount;
