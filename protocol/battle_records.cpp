#include <cstring>

#include "protocol/battle_records.h"

namespace KSTMP {

ShipInfo::ShipInfo()
    : BaseCommand(cmd_ship_info, 145),
      shipIndex(-1),
      owner(FakeAddress::unassigned()),
      ownerShipIndex(0),
      shipClass(0),
      team(0),
      afloat(1),
      kills(0),
      sunkAtMinute(0),
      statsHandled(0),
      hitsA(0),
      hitsB(0),
      friendlyHitsA(0),
      friendlyHitsB(0),
      sinkOrder(0),
      shipByte(0),
      tallyA(0),
      tallyB(0),
      respawns(0),
      winner(0),
      teamSizeAtEnd(0) {
    std::memset(name, 0, sizeof name);
    std::memset(damageDealtA, 0, sizeof damageDealtA);
    std::memset(damageDealtB, 0, sizeof damageDealtB);
    std::memset(scores, 0, sizeof scores);
    std::memset(killsByClass, 0xFF, sizeof killsByClass);
    std::memset(friendlyDamageA, 0, sizeof friendlyDamageA);
    std::memset(friendlyDamageB, 0, sizeof friendlyDamageB);
}

ShipInfo& ShipInfo::operator=(const ShipInfo& o) {
    BaseCommand::operator=(o);
    shipIndex = o.shipIndex;
    owner = o.owner;
    ownerShipIndex = o.ownerShipIndex;
    shipClass = o.shipClass;
    position = o.position;
    std::memcpy(name, o.name, sizeof name);
    team = o.team;
    afloat = o.afloat;
    std::memcpy(damageDealtA, o.damageDealtA, sizeof damageDealtA);
    std::memcpy(damageDealtB, o.damageDealtB, sizeof damageDealtB);
    std::memcpy(scores, o.scores, sizeof scores);
    kills = o.kills;
    sunkAtMinute = o.sunkAtMinute;
    statsHandled = o.statsHandled;
    std::memcpy(killsByClass, o.killsByClass, sizeof killsByClass);
    hitsA = o.hitsA;
    hitsB = o.hitsB;
    friendlyHitsA = o.friendlyHitsA;
    friendlyHitsB = o.friendlyHitsB;
    std::memcpy(friendlyDamageA, o.friendlyDamageA, sizeof friendlyDamageA);
    std::memcpy(friendlyDamageB, o.friendlyDamageB, sizeof friendlyDamageB);
    sinkOrder = o.sinkOrder;
    shipByte = o.shipByte;
    tallyA = o.tallyA;
    tallyB = o.tallyB;
    respawns = o.respawns;
    winner = o.winner;
    teamSizeAtEnd = o.teamSizeAtEnd;
    return *this;
}

Coordinates::Coordinates()
    : BaseCommand(cmd_coordinates, 95),
      shipIndex(-1),
      coordFlagA(0),
      coordFlagB(0),
      coordIndexA(-1),
      coordFactor(1.0f),
      coordIndexB(-1),
      coordValue(0) {}

Coordinates& Coordinates::operator=(const Coordinates& o) {
    BaseCommand::operator=(o);
    shipIndex = o.shipIndex;
    position = o.position;
    vectorB = o.vectorB;
    vectorC = o.vectorC;
    positionB = o.positionB;
    coordFlagA = o.coordFlagA;
    coordFlagB = o.coordFlagB;
    coordIndexA = o.coordIndexA;
    coordFactor = o.coordFactor;
    coordIndexB = o.coordIndexB;
    coordValue = o.coordValue;
    return *this;
}

simplePosition::simplePosition()
    : BaseCommand(cmd_simple_position, 42),
      shipIndex(-1),
      positionFlag(0) {}

simplePosition& simplePosition::operator=(const simplePosition& o) {
    BaseCommand::operator=(o);
    shipIndex = o.shipIndex;
    position = o.position;
    positionFlag = o.positionFlag;
    return *this;
}

Damagelevel::Damagelevel()
    : BaseCommand(cmd_damagelevel, 44),
      hull(0),
      sails(0),
      crew(0),
      damageD(0),
      damageE(0),
      attackerIndex(-1),
      sunk(-1),
      byShip(0),
      damageKind(0) {}

Damagelevel& Damagelevel::operator=(const Damagelevel& o) {
    BaseCommand::operator=(o);
    shipIndex = o.shipIndex;
    hull = o.hull;
    sails = o.sails;
    crew = o.crew;
    damageD = o.damageD;
    damageE = o.damageE;
    attackerIndex = o.attackerIndex;
    sunk = o.sunk;
    byShip = o.byShip;
    damageKind = o.damageKind;
    return *this;
}

CannonShot::CannonShot()
    : BaseCommand(cmd_cannon_shot, 58),
      cannonByte(0),
      ballType(0),
      hitTime(0) {}

CannonShot& CannonShot::operator=(const CannonShot& o) {
    BaseCommand::operator=(o);
    cannonByte = o.cannonByte;
    ballType = o.ballType;
    hitTime = o.hitTime;
    from = o.from;
    to = o.to;
    return *this;
}

CannonTarget::CannonTarget()
    : BaseCommand(cmd_cannon_target, 35),
      targetA(1),
      targetB(255),
      targetC(255),
      targetValue(0.0f) {}

CannonTarget& CannonTarget::operator=(const CannonTarget& o) {
    BaseCommand::operator=(o);
    targetA = o.targetA;
    targetB = o.targetB;
    targetC = o.targetC;
    targetValue = o.targetValue;
    return *this;
}

RespawnShip::RespawnShip()
    : BaseCommand(cmd_respawn_ship, 41),
      shipIndex(-1) {}

RespawnShip& RespawnShip::operator=(const RespawnShip& o) {
    BaseCommand::operator=(o);
    shipIndex = o.shipIndex;
    position = o.position;
    return *this;
}

WeatherInfo::WeatherInfo()
    : BaseCommand(cmd_weather_info, 42),
      weatherValueA(0),
      weatherValueB(0),
      weatherValueC(0),
      weatherA(1),
      weatherValueD(0) {}

WeatherInfo& WeatherInfo::operator=(const WeatherInfo& o) {
    BaseCommand::operator=(o);
    weatherValueA = o.weatherValueA;
    weatherValueB = o.weatherValueB;
    weatherValueC = o.weatherValueC;
    weatherA = o.weatherA;
    weatherB = o.weatherB;
    weatherValueD = o.weatherValueD;
    return *this;
}

BuoyInfo::BuoyInfo()
    : BaseCommand(cmd_buoy_info, 55),
      buoyId(-1),
      buoyType(0),
      nextType(-1),
      team(-1),
      timer(0),
      timerReset(0),
      paused(0),
      ship(-1),
      effectRange(50),
      holdRange(10),
      changed(0) {}

BuoyInfo& BuoyInfo::operator=(const BuoyInfo& o) {
    BaseCommand::operator=(o);
    buoyId = o.buoyId;
    buoyType = o.buoyType;
    nextType = o.nextType;
    team = o.team;
    position = o.position;
    timer = o.timer;
    timerReset = o.timerReset;
    paused = o.paused;
    ship = o.ship;
    effectRange = o.effectRange;
    holdRange = o.holdRange;
    changed = o.changed;
    return *this;
}

TeamScore::TeamScore()
    : BaseCommand(cmd_team_score, 31),
      team(-1),
      score(0) {}

TeamScore& TeamScore::operator=(const TeamScore& o) {
    BaseCommand::operator=(o);
    team = o.team;
    score = o.score;
    return *this;
}

UpdatePlayerStats::UpdatePlayerStats()
    : LogIn(cmd_update_player_stats, 510),
      server(FakeAddress::unassigned()),
      player(FakeAddress::unassigned()),
      statsValue(0),
      statsFlag(0),
      statsLast(0) {
    std::memset(statsCounters, 0, sizeof statsCounters);
    std::memset(statsByClass, 0, sizeof statsByClass);
    std::memset(statsBytes, 0, sizeof statsBytes);
    std::memset(statsTallies, 0, sizeof statsTallies);
    statsTallies[1] = 65535;
}

UpdatePlayerStats& UpdatePlayerStats::operator=(const UpdatePlayerStats& o) {
    LogIn::operator=(o);
    server = o.server;
    player = o.player;
    std::memcpy(statsCounters, o.statsCounters, sizeof statsCounters);
    std::memcpy(statsByClass, o.statsByClass, sizeof statsByClass);
    std::memcpy(statsBytes, o.statsBytes, sizeof statsBytes);
    statsValue = o.statsValue;
    std::memcpy(statsTallies, o.statsTallies, sizeof statsTallies);
    statsFlag = o.statsFlag;
    statsLast = o.statsLast;
    return *this;
}

VerifyStatsResult::VerifyStatsResult()
    : BaseCommand(cmd_verify_stats_result, 45),
      server(FakeAddress::unassigned()),
      player(FakeAddress::unassigned()),
      success(0) {}

VerifyStatsResult& VerifyStatsResult::operator=(const VerifyStatsResult& o) {
    BaseCommand::operator=(o);
    server = o.server;
    player = o.player;
    success = o.success;
    return *this;
}

PirateResults::PirateResults()
    : LogIn(cmd_pirate_results, 361),
      server(FakeAddress::unassigned()),
      player(FakeAddress::unassigned()),
      resultA(0),
      resultB(0),
      resultC(0) {}

PirateResults& PirateResults::operator=(const PirateResults& o) {
    LogIn::operator=(o);
    server = o.server;
    player = o.player;
    resultA = o.resultA;
    resultB = o.resultB;
    resultC = o.resultC;
    return *this;
}

PirateResultsReply::PirateResultsReply()
    : BaseCommand(cmd_pirate_results_reply, 46),
      server(FakeAddress::unassigned()),
      player(FakeAddress::unassigned()),
      resultCode(0) {}

PirateResultsReply& PirateResultsReply::operator=(const PirateResultsReply& o) {
    BaseCommand::operator=(o);
    server = o.server;
    player = o.player;
    resultCode = o.resultCode;
    return *this;
}

}  // namespace KSTMP
