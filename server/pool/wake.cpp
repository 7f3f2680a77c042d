#include "server/pool/wake.h"

#include <vector>

#include "platform/launch.h"
#include "server/config/settings.h"

namespace pool {

void startWakeGroup(const std::string& configFile) {
    Settings store;
    store.load(configFile);
    std::vector<std::string> keys;
    store.listKeys("wake", keys);
    for (const std::string& key : keys) {
        std::string value = "-";
        store.getString("wake", key, value);
        if (value != "-" && !value.empty())
            platform::openWithDefaultAction(value);
    }
}

}  // namespace pool
