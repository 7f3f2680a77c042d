// Named instance locks that every process of the machine can probe; the kernel releases a
// lock when its holder dies (kill -9 included).
#pragma once

#include <string>

namespace platform {

enum class LockResult { Held, AlreadyHeld, CreationFailed };

struct InstanceLock {
    int fd = -1;  // open lock file while held
};

// The lock name as the system spells it: every '/' (and '\\') of the text becomes '_'.
std::string lockNameFor(const std::string& text);

// Takes the lock called `name` (already converted by lockNameFor). On Held, `lock` holds it.
LockResult acquireNamedLock(const std::string& name, InstanceLock& lock);
// True when some process holds the lock `name`; does not keep it.
bool isNamedLockHeld(const std::string& name);
void releaseNamedLock(InstanceLock& lock);

// Folder of the lock files; tests may point it elsewhere (environment PORTWARDEN_LOCK_DIR
// is read once, default /tmp/portwarden-locks).
std::string lockDirectory();

}  // namespace platform
