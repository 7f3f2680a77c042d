// The pool's steps on the group file, for a copy described by a PoolIdentity.
#pragma once

#include <string>

#include "server/pool/sibling_scan.h"

namespace pool {

// Last keep_available_count read from the group file; kept when the key is missing.
extern int keepAvailableCount;

// End of a configuration load: registers this copy as available (1), takes the port lock,
// records the port in working_ports or error_ports, saves the group file, then either asks
// this copy to stop (enough copies available) or starts one free sibling. False: stop.
bool runStartupStep(const PoolIdentity& me);
// Battle begins: registers this copy as busy (2) and starts a replacement when too few
// copies are available.
void runGameBeginStep(const PoolIdentity& me);

}  // namespace pool
