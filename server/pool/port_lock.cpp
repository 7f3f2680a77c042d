#include "server/pool/port_lock.h"

#include "platform/console.h"
#include "platform/instance_lock.h"

namespace pool {

namespace {
platform::InstanceLock portLock;  // held from the start-up check to the next check or shutdown
}

std::string portLockName(int port) { return std::to_string(port) + "_KST_SERVER_TO_LISTEN"; }

bool retakePortLock(int port) {
    releasePortLock();
    const std::string name = platform::lockNameFor(portLockName(port));
    switch (platform::acquireNamedLock(name, portLock)) {
    case platform::LockResult::Held:
        return true;
    case platform::LockResult::CreationFailed:
        platform::consolePrint("Mutex creation failed! %s\n\n", name.c_str());
        return false;
    case platform::LockResult::AlreadyHeld:
        break;
    }
    return false;
}

void releasePortLock() { platform::releaseNamedLock(portLock); }

bool portLockHeld() { return portLock.fd >= 0; }

}  // namespace pool
