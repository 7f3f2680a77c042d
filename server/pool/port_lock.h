// The lock on the listening port: one copy per port on this machine.
#pragma once

#include <string>

namespace pool {

// "<port>_KST_SERVER_TO_LISTEN"
std::string portLockName(int port);

// Closes the held port lock, if any, and takes it anew. False when another copy holds it or
// it cannot be created ("Mutex creation failed! ..." is printed then); no lock is held after.
bool retakePortLock(int port);
// Closes the port lock when held (shutdown).
void releasePortLock();
bool portLockHeld();

}  // namespace pool
