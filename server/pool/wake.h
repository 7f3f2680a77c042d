// The wake group: programs the operator lists in serverconfig.txt to be started on request.
#pragma once

#include <string>

namespace pool {

// Opens, with its default action, every value of the group wake of `configFile` in key order;
// a value "-" (or an empty one) switches its entry off.
void startWakeGroup(const std::string& configFile);

}  // namespace pool
