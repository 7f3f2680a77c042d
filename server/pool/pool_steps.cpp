#include "server/pool/pool_steps.h"

#include "platform/console.h"
#include "platform/launch.h"
#include "server/pool/group_file_lock.h"
#include "server/pool/port_lock.h"

namespace pool {

int keepAvailableCount = 1;

bool runStartupStep(const PoolIdentity& me) {
    bool mayRun = true;
    ScanResult scan;
    {
        // Held across load, change and save, so no sibling's update in between is lost.
        GroupFileLock lock(me.groupFile);
        Settings store;
        store.load(me.groupFile);
        store.getInt(me.groupName, "keep_available_count", keepAvailableCount);
        store.setInt(me.groupName, me.instanceName, 1);
        store.removeKey("error_ports", me.instanceName);
        scan = scanSiblings(store, me, ScanMoment::Startup);
        if (retakePortLock(me.port)) {
            store.setInt("working_ports", me.instanceName, me.port);
        } else {
            platform::consolePrint("\n\n! ERROR ! \nRequested port: %d is already in use.\nYoou need to "
                                   "modify key 'port = %d' from file serverconfig.txt\n\n",
                                   me.port, me.port);
            mayRun = false;
            store.setInt("error_ports", me.instanceName, me.port);
            store.removeKey("working_ports", me.instanceName);
        }
        store.save(me.groupFile);
    }
    if (scan.count > keepAvailableCount) {
        platform::consolePrint("Enough servers running.. closing down\n");
        mayRun = false;
    } else if (!scan.candidate.empty() && scan.count < keepAvailableCount) {
        platform::consolePrint("Starting server %s\n", scan.candidate.c_str());
        platform::startDetached(scan.candidate);
    }
    return mayRun;
}

void runGameBeginStep(const PoolIdentity& me) {
    platform::consolePrint("Marking me as ingame mode\n");
    ScanResult scan;
    {
        GroupFileLock lock(me.groupFile);
        Settings store;
        store.load(me.groupFile);
        store.getInt(me.groupName, "keep_available_count", keepAvailableCount);
        store.setInt(me.groupName, me.instanceName, 2);
        scan = scanSiblings(store, me, ScanMoment::GameBegin);
        store.save(me.groupFile);
    }
    if (scan.count < keepAvailableCount && !scan.candidate.empty()) {
        platform::consolePrint("starting a replacement server %s", scan.candidate.c_str());
        platform::startDetached(scan.candidate);
    }
}

}  // namespace pool
