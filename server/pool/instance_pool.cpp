#include "server/pool/instance_pool.h"

#include "server/config/pool_hook.h"
#include "server/config/server_settings.h"
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
    me.groupFile = serverSettings.groupFile;
    me.groupName = serverSettings.groupName;
    me.port = serverSettings.port;
    return me;
}

// The configuration load ends with the pool step from the first load on: this object is
// linked whenever the server calls any pool entry point.
const bool stepConnected = [] {
    instancePoolStepHook = &instancePoolStep;
    return true;
}();

}  // namespace

void instancePoolStep(bool& running) {
    if (!pool::runStartupStep(currentIdentity()))
        running = false;
}

void instancePoolGameBegin() { pool::runGameBeginStep(currentIdentity()); }

// Loaded by its bare name: the working directory is the program's folder.
void wakeServers() { pool::startWakeGroup("serverconfig.txt"); }

void instancePoolShutdown() { pool::releasePortLock(); }
