// Battle records: ships, positions, damage, cannon fire, buoys, scores and results.
// Field comments give byte offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/base_command.h"
#include "protocol/lobby_records.h"
#include "protocol/export.h"

// Offsets of fields in records derived from BaseCommand are checked with offsetof, which GCC
// and Clang evaluate for non-virtual single inheritance; only the warning is silenced.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace KSTMP {

#pragma pack(push, 1)

// One ship's registry entry with its battle statistics. The i16[3] groups are hull, sails, crew.
struct KSTMP_API ShipInfo : BaseCommand {
    int8_t shipIndex;                   // 28
    FakeAddress owner;                  // 29
    int8_t ownerShipIndex;              // 37
    uint8_t shipClass;                  // 38
    VC3 position;                       // 39
    char name[25];                      // 51
    int8_t team;                        // 76
    uint8_t afloat;                     // 77
    int16_t damageDealtA[3];            // 78
    int16_t damageDealtB[3];            // 84
    int16_t scores[3];                  // 90
    uint8_t kills;                      // 96
    uint32_t sunkAtMinute;              // 97
    uint8_t statsHandled;               // 101
    uint8_t killsByClass[14];           // 102
    int16_t hitsA;                      // 116
    int16_t hitsB;                      // 118
    int16_t friendlyHitsA;              // 120
    int16_t friendlyHitsB;              // 122
    int16_t friendlyDamageA[3];         // 124
    int16_t friendlyDamageB[3];         // 130
    uint8_t sinkOrder;                  // 136
    uint8_t shipByte;                   // 137
    uint16_t tallyA;                    // 138
    uint16_t tallyB;                    // 140
    uint8_t respawns;                   // 142
    uint8_t winner;                     // 143
    uint8_t teamSizeAtEnd;              // 144

    ShipInfo();
    ShipInfo(const ShipInfo&) = default;
    ShipInfo& operator=(const ShipInfo& o);
};
static_assert(sizeof(ShipInfo) == 145);
static_assert(offsetof(ShipInfo, shipIndex) == 28);
static_assert(offsetof(ShipInfo, owner) == 29);
static_assert(offsetof(ShipInfo, ownerShipIndex) == 37);
static_assert(offsetof(ShipInfo, shipClass) == 38);
static_assert(offsetof(ShipInfo, position) == 39);
static_assert(offsetof(ShipInfo, name) == 51);
static_assert(offsetof(ShipInfo, team) == 76);
static_assert(offsetof(ShipInfo, afloat) == 77);
static_assert(offsetof(ShipInfo, damageDealtA) == 78);
static_assert(offsetof(ShipInfo, damageDealtB) == 84);
static_assert(offsetof(ShipInfo, scores) == 90);
static_assert(offsetof(ShipInfo, kills) == 96);
static_assert(offsetof(ShipInfo, sunkAtMinute) == 97);
static_assert(offsetof(ShipInfo, statsHandled) == 101);
static_assert(offsetof(ShipInfo, killsByClass) == 102);
static_assert(offsetof(ShipInfo, hitsA) == 116);
static_assert(offsetof(ShipInfo, hitsB) == 118);
static_assert(offsetof(ShipInfo, friendlyHitsA) == 120);
static_assert(offsetof(ShipInfo, friendlyHitsB) == 122);
static_assert(offsetof(ShipInfo, friendlyDamageA) == 124);
static_assert(offsetof(ShipInfo, friendlyDamageB) == 130);
static_assert(offsetof(ShipInfo, sinkOrder) == 136);
static_assert(offsetof(ShipInfo, shipByte) == 137);
static_assert(offsetof(ShipInfo, tallyA) == 138);
static_assert(offsetof(ShipInfo, tallyB) == 140);
static_assert(offsetof(ShipInfo, respawns) == 142);
static_assert(offsetof(ShipInfo, winner) == 143);
static_assert(offsetof(ShipInfo, teamSizeAtEnd) == 144);

// Full movement state of one ship.
struct KSTMP_API Coordinates : BaseCommand {
    int8_t shipIndex;                   // 28
    VC3 position;                       // 29
    VC3 vectorB;                        // 41
    VC3 vectorC;                        // 53
    VC3 positionB;                      // 65
    uint8_t coordFlagA;                 // 77
    uint8_t coordFlagB;                 // 78
    int32_t coordIndexA;                // 79
    float coordFactor;                  // 83
    int32_t coordIndexB;                // 87
    int32_t coordValue;                 // 91

    Coordinates();
    Coordinates(const Coordinates&) = default;
    Coordinates& operator=(const Coordinates& o);
};
static_assert(sizeof(Coordinates) == 95);
static_assert(offsetof(Coordinates, shipIndex) == 28);
static_assert(offsetof(Coordinates, position) == 29);
static_assert(offsetof(Coordinates, vectorB) == 41);
static_assert(offsetof(Coordinates, vectorC) == 53);
static_assert(offsetof(Coordinates, positionB) == 65);
static_assert(offsetof(Coordinates, coordFlagA) == 77);
static_assert(offsetof(Coordinates, coordFlagB) == 78);
static_assert(offsetof(Coordinates, coordIndexA) == 79);
static_assert(offsetof(Coordinates, coordFactor) == 83);
static_assert(offsetof(Coordinates, coordIndexB) == 87);
static_assert(offsetof(Coordinates, coordValue) == 91);

// A ship's position alone.
struct KSTMP_API simplePosition : BaseCommand {
    int8_t shipIndex;                   // 28
    VC3 position;                       // 29
    uint8_t positionFlag;               // 41

    simplePosition();
    simplePosition(const simplePosition&) = default;
    simplePosition& operator=(const simplePosition& o);
};
static_assert(sizeof(simplePosition) == 42);
static_assert(offsetof(simplePosition, shipIndex) == 28);
static_assert(offsetof(simplePosition, position) == 29);
static_assert(offsetof(simplePosition, positionFlag) == 41);

// Damage suffered by one ship. `shipIndex` is left for the sender to set.
struct KSTMP_API Damagelevel : BaseCommand {
    int8_t shipIndex;                   // 28
    int16_t hull;                       // 29
    int16_t sails;                      // 31
    int16_t crew;                       // 33
    int16_t damageD;                    // 35
    int16_t damageE;                    // 37
    int16_t attackerIndex;              // 39
    int8_t sunk;                        // 41
    uint8_t byShip;                     // 42
    uint8_t damageKind;                 // 43

    Damagelevel();
    Damagelevel(const Damagelevel&) = default;
    Damagelevel& operator=(const Damagelevel& o);
};
static_assert(sizeof(Damagelevel) == 44);
static_assert(offsetof(Damagelevel, shipIndex) == 28);
static_assert(offsetof(Damagelevel, hull) == 29);
static_assert(offsetof(Damagelevel, sails) == 31);
static_assert(offsetof(Damagelevel, crew) == 33);
static_assert(offsetof(Damagelevel, damageD) == 35);
static_assert(offsetof(Damagelevel, damageE) == 37);
static_assert(offsetof(Damagelevel, attackerIndex) == 39);
static_assert(offsetof(Damagelevel, sunk) == 41);
static_assert(offsetof(Damagelevel, byShip) == 42);
static_assert(offsetof(Damagelevel, damageKind) == 43);

// One cannon ball in flight.
struct KSTMP_API CannonShot : BaseCommand {
    uint8_t cannonByte;                 // 28
    int8_t ballType;                    // 29
    uint32_t hitTime;                   // 30
    VC3 from;                           // 34
    VC3 to;                             // 46

    CannonShot();
    CannonShot(const CannonShot&) = default;
    CannonShot& operator=(const CannonShot& o);
};
static_assert(sizeof(CannonShot) == 58);
static_assert(offsetof(CannonShot, cannonByte) == 28);
static_assert(offsetof(CannonShot, ballType) == 29);
static_assert(offsetof(CannonShot, hitTime) == 30);
static_assert(offsetof(CannonShot, from) == 34);
static_assert(offsetof(CannonShot, to) == 46);

// A client's aiming information.
struct KSTMP_API CannonTarget : BaseCommand {
    uint8_t targetA;                    // 28
    uint8_t targetB;                    // 29
    uint8_t targetC;                    // 30
    float targetValue;                  // 31

    CannonTarget();
    CannonTarget(const CannonTarget&) = default;
    CannonTarget& operator=(const CannonTarget& o);
};
static_assert(sizeof(CannonTarget) == 35);
static_assert(offsetof(CannonTarget, targetA) == 28);
static_assert(offsetof(CannonTarget, targetB) == 29);
static_assert(offsetof(CannonTarget, targetC) == 30);
static_assert(offsetof(CannonTarget, targetValue) == 31);

// A ship coming back into play.
struct KSTMP_API RespawnShip : BaseCommand {
    int8_t shipIndex;                   // 28
    VC3 position;                       // 29

    RespawnShip();
    RespawnShip(const RespawnShip&) = default;
    RespawnShip& operator=(const RespawnShip& o);
};
static_assert(sizeof(RespawnShip) == 41);
static_assert(offsetof(RespawnShip, shipIndex) == 28);
static_assert(offsetof(RespawnShip, position) == 29);

// Weather state. `weatherB` is left for the sender to set.
struct KSTMP_API WeatherInfo : BaseCommand {
    uint32_t weatherValueA;             // 28
    uint16_t weatherValueB;             // 32
    uint16_t weatherValueC;             // 34
    int8_t weatherA;                    // 36
    int8_t weatherB;                    // 37
    uint32_t weatherValueD;             // 38

    WeatherInfo();
    WeatherInfo(const WeatherInfo&) = default;
    WeatherInfo& operator=(const WeatherInfo& o);
};
static_assert(sizeof(WeatherInfo) == 42);
static_assert(offsetof(WeatherInfo, weatherValueA) == 28);
static_assert(offsetof(WeatherInfo, weatherValueB) == 32);
static_assert(offsetof(WeatherInfo, weatherValueC) == 34);
static_assert(offsetof(WeatherInfo, weatherA) == 36);
static_assert(offsetof(WeatherInfo, weatherB) == 37);
static_assert(offsetof(WeatherInfo, weatherValueD) == 38);

// One domination buoy.
struct KSTMP_API BuoyInfo : BaseCommand {
    int8_t buoyId;                      // 28
    int8_t buoyType;                    // 29
    int8_t nextType;                    // 30
    int8_t team;                        // 31
    VC3 position;                       // 32
    int16_t timer;                      // 44
    int16_t timerReset;                 // 46
    uint8_t paused;                     // 48
    int8_t ship;                        // 49
    int16_t effectRange;                // 50
    int16_t holdRange;                  // 52
    uint8_t changed;                    // 54

    BuoyInfo();
    BuoyInfo(const BuoyInfo&) = default;
    BuoyInfo& operator=(const BuoyInfo& o);
};
static_assert(sizeof(BuoyInfo) == 55);
static_assert(offsetof(BuoyInfo, buoyId) == 28);
static_assert(offsetof(BuoyInfo, buoyType) == 29);
static_assert(offsetof(BuoyInfo, nextType) == 30);
static_assert(offsetof(BuoyInfo, team) == 31);
static_assert(offsetof(BuoyInfo, position) == 32);
static_assert(offsetof(BuoyInfo, timer) == 44);
static_assert(offsetof(BuoyInfo, timerReset) == 46);
static_assert(offsetof(BuoyInfo, paused) == 48);
static_assert(offsetof(BuoyInfo, ship) == 49);
static_assert(offsetof(BuoyInfo, effectRange) == 50);
static_assert(offsetof(BuoyInfo, holdRange) == 52);
static_assert(offsetof(BuoyInfo, changed) == 54);

// One team's domination score.
struct KSTMP_API TeamScore : BaseCommand {
    int8_t team;                        // 28
    int16_t score;                      // 29

    TeamScore();
    TeamScore(const TeamScore&) = default;
    TeamScore& operator=(const TeamScore& o);
};
static_assert(sizeof(TeamScore) == 31);
static_assert(offsetof(TeamScore, team) == 28);
static_assert(offsetof(TeamScore, score) == 29);

// A player's battle statistics for the master server.
struct KSTMP_API UpdatePlayerStats : LogIn {
    FakeAddress server;                 // 339
    FakeAddress player;                 // 347
    uint16_t statsCounters[5];          // 355
    uint16_t statsByClass[14];          // 365
    uint8_t statsBytes[64];             // 393
    uint32_t statsValue;                // 457
    uint16_t statsTallies[23];          // 461
    uint8_t statsFlag;                  // 507
    uint16_t statsLast;                 // 508

    UpdatePlayerStats();
    UpdatePlayerStats(const UpdatePlayerStats&) = default;
    UpdatePlayerStats& operator=(const UpdatePlayerStats& o);
};
static_assert(sizeof(UpdatePlayerStats) == 510);
static_assert(offsetof(UpdatePlayerStats, server) == 339);
static_assert(offsetof(UpdatePlayerStats, player) == 347);
static_assert(offsetof(UpdatePlayerStats, statsCounters) == 355);
static_assert(offsetof(UpdatePlayerStats, statsByClass) == 365);
static_assert(offsetof(UpdatePlayerStats, statsBytes) == 393);
static_assert(offsetof(UpdatePlayerStats, statsValue) == 457);
static_assert(offsetof(UpdatePlayerStats, statsTallies) == 461);
static_assert(offsetof(UpdatePlayerStats, statsFlag) == 507);
static_assert(offsetof(UpdatePlayerStats, statsLast) == 508);

// The master server's answer to the statistics of `player`.
struct KSTMP_API VerifyStatsResult : BaseCommand {
    FakeAddress server;                 // 28
    FakeAddress player;                 // 36
    uint8_t success;                    // 44

    VerifyStatsResult();
    VerifyStatsResult(const VerifyStatsResult&) = default;
    VerifyStatsResult& operator=(const VerifyStatsResult& o);
};
static_assert(sizeof(VerifyStatsResult) == 45);
static_assert(offsetof(VerifyStatsResult, server) == 28);
static_assert(offsetof(VerifyStatsResult, player) == 36);
static_assert(offsetof(VerifyStatsResult, success) == 44);

// Results sent by the client library to the master server.
struct KSTMP_API PirateResults : LogIn {
    FakeAddress server;                 // 339
    FakeAddress player;                 // 347
    uint16_t resultA;                   // 355
    uint16_t resultB;                   // 357
    uint16_t resultC;                   // 359

    PirateResults();
    PirateResults(const PirateResults&) = default;
    PirateResults& operator=(const PirateResults& o);
};
static_assert(sizeof(PirateResults) == 361);
static_assert(offsetof(PirateResults, server) == 339);
static_assert(offsetof(PirateResults, player) == 347);
static_assert(offsetof(PirateResults, resultA) == 355);
static_assert(offsetof(PirateResults, resultB) == 357);
static_assert(offsetof(PirateResults, resultC) == 359);

// The master server's answer to PirateResults.
struct KSTMP_API PirateResultsReply : BaseCommand {
    FakeAddress server;                 // 28
    FakeAddress player;                 // 36
    uint16_t resultCode;                // 44

    PirateResultsReply();
    PirateResultsReply(const PirateResultsReply&) = default;
    PirateResultsReply& operator=(const PirateResultsReply& o);
};
static_assert(sizeof(PirateResultsReply) == 46);
static_assert(offsetof(PirateResultsReply, server) == 28);
static_assert(offsetof(PirateResultsReply, player) == 36);
static_assert(offsetof(PirateResultsReply, resultCode) == 44);

#pragma pack(pop)

}  // namespace KSTMP

#pragma GCC diagnostic pop
