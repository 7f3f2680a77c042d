#include "server/pool/instance_pool.h"

#include "server/core/server_globals.h"
#include "server/pool/pool_steps.h"
#include "server/pool/port_lock.h"
#include "server/pool/wake.h"

namespace {

pool::PoolIdentity currentIdentity() {
    pool::PoolIdentity me;
    me.dataDirectory = dataDirectory;
    me.instanceName = instanceName;
    me.programFileName = programFileName;
    // TODO config fields
    return me;
}

}  // namespace

void instancePoolStep() {
    if (!pool::runStartupStep(currentIdentity()))
        serverRunning = false;
}

void instancePoolGameBegin() { pool::runGameBeginStep(currentIdentity()); }

// Loaded by its bare name: the working directory is the program's folder.
void wakeServers() { pool::startWakeGroup("serverconfig.txt"); }

void instancePoolShutdown() { pool::releasePortLock(); }
