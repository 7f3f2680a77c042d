#pragma once

#include <vector>

#include "tools/cli_support.h"

struct ScanOptions {
    std::vector<Endpoint> servers;
    bool json = false;
    bool broadcast = true;
    bool verbose = false;
    int waitMs = 2000;
};

// Returns the exit status: 0, or 1 when a named server did not answer.
int runScan(const ScanOptions& options);
