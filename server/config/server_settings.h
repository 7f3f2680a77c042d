// The server configuration: serverconfig.txt and the buoy, start and group files it names.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/battle_records.h"
#include "protocol/lobby_records.h"

struct ServerSettings {
    int port = 61116;
    std::string name = "Zuvi Vaze Vadaruri";
    std::string servername;
    std::string password;
    int gameType = 0;  // -1..4
    int timeOfDay = 12;
    int weather = 0;
    int gameLength = 15;  // minutes
    int time_left_s = 15 * 60;  // gameLength in seconds, set by every load
    bool dcAllowed = true;
    bool rtsAllowed = true;
    int waitForOthersLength = 2;  // seconds
    int maxShipsPerPlayer = 1;
    int playerLimit = 10;
    int maxShipSlots = 10;
    bool clanserver = false;
    float requiredVersion = -1.0f;  // once a load sets it to 0 or more, it stays
    int realism = 1;
    uint16_t randomAngle = 0;  // 1..360, drawn at every load
    static constexpr int shipClassCount = 11;
    int availableShips[shipClassCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    std::string groupFile;
    std::string groupName;

    std::vector<KSTMP::ServerLink> serverLinks;
    std::vector<KSTMP::BuoyInfo> buoys;
    std::map<uint8_t, std::vector<KSTMP::VC3>> teamStarts;
    std::map<uint8_t, KSTMP::VC3> teamCentres;
};

// The process-wide configuration, kept across loads.
extern ServerSettings serverSettings;

// Buoy ids are signed bytes: a buoy file's list ends at this many buoys.
constexpr int maxBuoys = 128;
// Team numbers are bytes: a start file's teams end at this many.
constexpr int maxTeams = 256;

// Loads `dataDirectory` + "/serverconfig.txt" (dataDirectory: the program's folder without a
// trailing '/'), then the buoy and start files it names (as written, relative to the working
// directory), into serverSettings, drawing randomAngle, then time_of_day and weather when
// out of range, with rand(). Rebuilds serverLinks, buoys, teamStarts and teamCentres.
// Ends with the instance pool's step (instancePoolStepHook), which clears `serverRunning`
// when this copy must stop; the load itself never touches the flag.
void loadServerConfiguration(const std::string& dataDirectory, bool& serverRunning);
