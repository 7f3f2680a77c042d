#include "server/config/server_settings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/program_path.h"
#include "server/config/pool_hook.h"
#include "server/config/settings.h"

ServerSettings serverSettings;
InstancePoolStep instancePoolStepHook = nullptr;

namespace {

const char* const config = "ServerConfig";

int32_t clampToInt(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Up to `size` bytes of `text`; shorter texts are followed by zero bytes, a text of `size`
// bytes or more fills the field without a terminator.
void copyField(char* field, size_t size, const std::string& text) {
    memset(field, 0, size);
    memcpy(field, text.data(), std::min(size, text.size()));
}

void readAvailableShips(const std::string& text, ServerSettings& s) {
    std::vector<std::string> pieces;
    Settings::splitList(text, pieces, ',');
    for (int i = 0; i < ServerSettings::shipClassCount; ++i) {
        int number = 0;
        const bool valid = i < static_cast<int>(pieces.size()) && convertStrict(pieces[i], number);
        s.availableShips[i] = valid ? number : -1;
    }
}

void readLinks(const Settings& store, ServerSettings& s) {
    s.serverLinks.clear();
    std::vector<std::string> keys;
    store.listKeys("links", keys);
    for (const std::string& key : keys) {
        KSTMP::ServerLink link;
        copyField(link.linkName, sizeof link.linkName, key);
        std::string value;
        store.getString("links", key, value);
        std::string portText = value;
        const size_t colon = value.find(':');
        if (colon != std::string::npos) {
            copyField(link.ip, sizeof link.ip, value.substr(0, colon));
            portText = value.substr(colon + 1);
        }
        uint16_t port = 0;
        if (!convertStrict(portText, port)) port = 0;
        link.port = port;
        s.serverLinks.push_back(link);
    }
}

void readBuoys(const Settings& store, ServerSettings& s) {
    s.buoys.clear();
    for (int i = 0; i < maxBuoys; ++i) {
        const std::string group = "b" + std::to_string(i);
        int type = -1;
        if (!store.getInt(group, "Type", type)) break;
        int nextType = -1;
        store.getInt(group, "NextType", nextType);  // read, without effect
        SettingVector position;
        store.getVector(group, "Position", position);
        int time = 0;
        store.getInt(group, "Time", time);
        int effectRange = 10;
        store.getInt(group, "EffectRange", effectRange);
        int holdRange = 10;
        store.getInt(group, "HoldRange", holdRange);

        KSTMP::BuoyInfo buoy;
        buoy.buoyId = static_cast<int8_t>(i);
        buoy.buoyType = static_cast<int8_t>(type);
        buoy.nextType = -1;
        buoy.position = KSTMP::VC3(position.x, position.y, position.z);
        buoy.timer = static_cast<int16_t>(time);
        buoy.timerReset = static_cast<int16_t>(time);
        buoy.paused = 1;
        buoy.effectRange = static_cast<int16_t>(effectRange);
        buoy.holdRange = static_cast<int16_t>(holdRange);
        s.buoys.push_back(buoy);
    }
}

void readStarts(const Settings& store, ServerSettings& s) {
    s.teamStarts.clear();
    s.teamCentres.clear();
    for (int team = 0; team < maxTeams; ++team) {
        const std::string group = "team" + std::to_string(team);
        if (!store.hasKey(group, "0")) break;
        std::vector<KSTMP::VC3>& starts = s.teamStarts[static_cast<uint8_t>(team)];
        double sum[3] = {0, 0, 0};
        SettingVector position;
        for (int k = 0; store.getVector(group, std::to_string(k), position); ++k) {
            starts.emplace_back(position.x, position.y, position.z);
            sum[0] += position.x;
            sum[1] += position.y;
            sum[2] += position.z;
        }
        if (!starts.empty()) {
            const double count = static_cast<double>(starts.size());
            s.teamCentres[static_cast<uint8_t>(team)] =
                KSTMP::VC3(static_cast<float>(sum[0] / count), static_cast<float>(sum[1] / count),
                           static_cast<float>(sum[2] / count));
        }
    }
}

}  // namespace

void loadServerConfiguration(const std::string& dataDirectory, bool& serverRunning) {
    ServerSettings& s = serverSettings;
    s.randomAngle = static_cast<uint16_t>(rand() % 360 + 1);

    Settings store;
    store.load(dataDirectory + "/serverconfig.txt");

    store.getInt(config, "port", s.port);
    store.getString(config, "name", s.name);
    store.getString(config, "servername", s.servername);
    if (s.servername.empty()) s.servername = platform::computerName();
    store.getString(config, "password", s.password);

    int gameType = 0;
    store.getInt(config, "game_type", gameType);
    s.gameType = gameType < -1 || gameType > 4 ? 0 : gameType;

    store.getInt(config, "time_of_day", s.timeOfDay);
    if (s.timeOfDay < 0 || s.timeOfDay > 24) s.timeOfDay = 6 * (rand() % 3 + 1);

    store.getInt(config, "weather", s.weather);
    if (s.weather < 0 || s.weather > 3) s.weather = rand() % 3 + 1;

    store.getInt(config, "game_length", s.gameLength);
    s.time_left_s = clampToInt(int64_t{s.gameLength} * 60);

    store.getBool(config, "dc_allowed", s.dcAllowed);
    store.getBool(config, "rts_allowed", s.rtsAllowed);
    store.getInt(config, "wait_for_others_length", s.waitForOthersLength);
    store.getInt(config, "max_ships_per_player", s.maxShipsPerPlayer);
    store.getInt(config, "max_players", s.playerLimit);
    s.maxShipSlots = clampToInt(int64_t{s.playerLimit} * s.maxShipsPerPlayer);
    store.getBool(config, "clanserver", s.clanserver);
    if (s.requiredVersion < 0.0f) store.getFloat(config, "requiredVersion", s.requiredVersion);

    int realism = 1;
    store.getInt(config, "realism", realism);
    s.realism = realism;

    std::string availableShips;
    store.getString(config, "available_ships", availableShips);
    readAvailableShips(availableShips, s);
    readLinks(store, s);

    std::string buoyFile;
    store.getString(config, "buoy_file", buoyFile);
    store.load(buoyFile);
    readBuoys(store, s);

    std::string startFile;
    store.getString(config, "start_file", startFile);
    store.load(startFile);
    readStarts(store, s);

    // Read last: a ServerConfig group in the buoy or start file may change these two.
    store.getString(config, "group_file", s.groupFile);
    store.getString(config, "group_name", s.groupName);

    // Instance pool step: set by the pool module.
    if (instancePoolStepHook) instancePoolStepHook(serverRunning);
}
