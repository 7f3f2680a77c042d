#include "server/pool/instance_pool.h"

void instancePoolGameBegin() {}

void wakeServers() {}
