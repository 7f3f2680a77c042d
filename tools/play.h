#pragma once

#include <string>

#include "tools/cli_support.h"

struct PlayOptions {
    Endpoint server;
    std::string name = "captain";
    std::string password;
    int ships = 1;
    int bots = 1;
    int battles = 1;
    int timeoutS = 180;
    int quitAfterS = -1;  // leave this many seconds into the battle; -1 plays to the end
    bool verbose = false;
};

// Returns the exit status: 0 when every battle reached its end (or the bots left as asked),
// 1 when connection, login or the battle failed.
int runPlay(const PlayOptions& options);
