// The transport's clock: 32-bit milliseconds from the platform tick count (test clock hook included).
#pragma once

#include <cstdint>

typedef uint32_t RakNetTime;

namespace RakNet {
RakNetTime GetTime();
}
