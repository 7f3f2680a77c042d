#include "server/core/instance_lock.h"

#include "platform/console.h"

bool acquireInstanceLock(const std::string& name, platform::InstanceLock& lock) {
    const std::string lockName = platform::lockNameFor(name);
    switch (platform::acquireNamedLock(lockName, lock)) {
    case platform::LockResult::Held: return true;
    case platform::LockResult::AlreadyHeld: return false;
    case platform::LockResult::CreationFailed:
    default: platform::consolePrint("Mutex creation failed! %s\n\n", lockName.c_str()); return false;
    }
}
