// The named lock that keeps two copies off one folder or one port.
#pragma once

#include <string>

#include "platform/instance_lock.h"

// Takes the lock named after `name` (every separator turned into '_'). True when taken; false
// when another process holds it, or when it cannot be created at all, which prints
// "Mutex creation failed! <name>".
bool acquireInstanceLock(const std::string& name, platform::InstanceLock& lock);
