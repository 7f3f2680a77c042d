// Raw images of default-constructed records, for tests that look at bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/records.h"

using Bytes = std::vector<uint8_t>;

template <class R>
Bytes imageOf(const R& r) {
    const auto* p = reinterpret_cast<const uint8_t*>(&r);
    return Bytes(p, p + sizeof(R));
}

template <class R>
Bytes freshImage() {
    R r;
    return imageOf(r);
}

struct RecordSample {
    std::string type;
    int id;    // expected identifier
    int size;  // expected size in bytes
    std::function<Bytes()> make;
};

// Every record type with the identifier and size it must have.
inline std::vector<RecordSample> allRecordSamples() {
    using namespace KSTMP;
    return {
        {"BaseCommand", 91, 28, [] { return imageOf(BaseCommand(cmd_empty, 28)); }},
        {"Notifier", 92, 36, freshImage<Notifier>},
        {"Coordinates", 93, 95, freshImage<Coordinates>},
        {"Damagelevel", 94, 44, freshImage<Damagelevel>},
        {"ShipInfo", 95, 145, freshImage<ShipInfo>},
        {"WeatherInfo", 96, 42, freshImage<WeatherInfo>},
        {"CannonShot", 97, 58, freshImage<CannonShot>},
        {"SlotInfo", 98, 31, freshImage<SlotInfo>},
        {"ConnectionStatus", 99, 32, freshImage<ConnectionStatus>},
        {"simplePosition", 100, 42, freshImage<simplePosition>},
        {"LogIn", 101, 339, freshImage<LogIn>},
        {"GameType", 102, 130, freshImage<GameType>},
        {"ServerLink", 103, 80, freshImage<ServerLink>},
        {"BuoyInfo", 105, 55, freshImage<BuoyInfo>},
        {"Chat", 106, 592, freshImage<Chat>},
        {"TeamScore", 107, 31, freshImage<TeamScore>},
        {"RespawnShip", 108, 41, freshImage<RespawnShip>},
        {"PlayerInfo", 109, 77, freshImage<PlayerInfo>},
        {"Authentication", 110, 242, freshImage<Authentication>},
        {"UpdateAccount", 111, 206, freshImage<UpdateAccount>},
        {"UpdateInGame", 112, 179, freshImage<UpdateInGame>},
        {"VerifyLogin", 113, 356, freshImage<VerifyLogin>},
        {"VerifyLoginResult", 114, 45, freshImage<VerifyLoginResult>},
        {"UpdatePlayerStats", 115, 510, freshImage<UpdatePlayerStats>},
        {"VerifyStatsResult", 116, 45, freshImage<VerifyStatsResult>},
        {"CannonTarget", 117, 35, freshImage<CannonTarget>},
        {"VersionUpdate", 118, 804, freshImage<VersionUpdate>},
        {"CheckForUpdate", 121, 56, freshImage<CheckForUpdate>},
        {"PirateResults", 122, 361, freshImage<PirateResults>},
        {"PirateResultsReply", 123, 46, freshImage<PirateResultsReply>},
    };
}
