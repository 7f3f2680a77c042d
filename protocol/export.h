// Marks the types that the client library exports. The library is built with hidden
// visibility; everything carrying this marker keeps default visibility. The server links the
// same definitions statically, where the marker has no effect.
#pragma once

#if defined(_WIN32)
#define KSTMP_API
#else
#define KSTMP_API __attribute__((visibility("default")))
#endif
