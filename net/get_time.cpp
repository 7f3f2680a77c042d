#include "net/get_time.h"

#include "platform/clock.h"

namespace RakNet {
RakNetTime GetTime() { return platform::tickCount(); }
}  // namespace RakNet
