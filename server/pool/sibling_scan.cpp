#include "server/pool/sibling_scan.h"

#include <vector>

#include "platform/console.h"
#include "platform/instance_lock.h"

namespace pool {

std::string siblingFolder(const std::string& dataDirectory, const std::string& key) {
    const size_t slash = dataDirectory.rfind('/');
    return (slash == std::string::npos ? std::string() : dataDirectory.substr(0, slash + 1)) + key;
}

std::string launchPath(const std::string& key, const std::string& programFileName) {
    return "../" + key + "/" + programFileName;
}

bool isPlainFolderKey(const std::string& key) {
    return !key.empty() && key != "." && key != ".." &&
           key.find_first_of("/\\") == std::string::npos;
}

bool siblingRuns(const std::string& folder) {
    return platform::isNamedLockHeld(platform::lockNameFor(folder));
}

ScanResult scanSiblings(Settings& store, const PoolIdentity& me, ScanMoment moment) {
    ScanResult result;
    std::vector<std::string> keys;
    store.listKeys(me.groupName, keys);
    for (const std::string& key : keys) {
        if (key == "keep_available_count")
            continue;
        if (siblingRuns(siblingFolder(me.dataDirectory, key))) {
            int state = -1;
            store.getInt(me.groupName, key, state);
            if (state == 1)
                ++result.count;
            continue;
        }
        if (moment == ScanMoment::Startup)
            platform::consolePrint("marked %s to be closed on startup\n", key.c_str());
        else
            platform::consolePrint("marked %s to be closed on game begin\n", key.c_str());
        store.setInt(me.groupName, key, 0);
        if (!store.hasKey("error_ports", key) && isPlainFolderKey(key))
            result.candidate = launchPath(key, me.programFileName);
    }
    return result;
}

}  // namespace pool
