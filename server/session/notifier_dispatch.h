// The server's handling of a received Notifier, switched on its code.
#pragma once

#include "net/system_address.h"

namespace KSTMP {
struct Notifier;
}

void on_notifier(const SystemAddress& sender, KSTMP::Notifier* record);
