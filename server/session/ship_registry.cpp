#include "server/session/ship_registry.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/clock.h"
#include "platform/console.h"
#include "protocol/records.h"
#include "server/config/server_settings.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"
#include "server/session/class_factors.h"
#include "server/session/players.h"
#include "server/session/session_state.h"

using KSTMP::VC3;
using platform::consolePrint;

std::vector<KSTMP::ShipInfo> shipRegistry;
bool cloneMode = false;

namespace {

constexpr float mirrorOffset = 100.0f;
constexpr int32_t respawnDelayMs = 10000;
constexpr int startRetries = 10;

// Start data of this battle, copied from the last configuration load when first needed.
std::map<int, std::vector<VC3>> startLists;
std::map<int, VC3> groupCentres;
bool startDataTaken = false;
std::vector<VC3> usedPositions;

std::map<int8_t, int32_t> respawnTimers;
// Mirror battle: original ship index -> index of its copy; the fleet is cloned once per battle.
std::map<int8_t, int8_t> copyOf;
bool fleetCloned = false;

void takeStartData() {
    if (startDataTaken) return;
    startLists.clear();
    groupCentres.clear();
    for (const auto& [team, list] : serverSettings.teamStarts) startLists[team] = list;
    for (const auto& [team, centre] : serverSettings.teamCentres) groupCentres[team] = centre;
    startDataTaken = true;
}

// Smallest index no registered ship holds; -1 when all 128 are taken.
int freeIndex(const std::set<int>& taken) {
    for (int i = 0; i < static_cast<int>(maxShips); ++i)
        if (!taken.count(i)) return i;
    return -1;
}

std::set<int> takenIndices() {
    std::set<int> taken;
    for (const auto& s : shipRegistry) taken.insert(s.shipIndex);
    return taken;
}

// Truncation toward zero for printing a client's coordinate; NaN and values beyond int
// print as 0 or the nearest int.
int wholePart(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return 2147483647;
    if (v <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<int>(v);
}

int16_t add16(int16_t a, int b) { return static_cast<int16_t>(static_cast<uint16_t>(a) + static_cast<uint16_t>(b)); }

bool isAfloat(const KSTMP::ShipInfo& s) { return s.afloat != 0; }

int gameType() { return serverSettings.gameType; }

}  // namespace

KSTMP::ShipInfo* findShip(int index) {
    if (index < 0 || index >= static_cast<int>(maxShips)) return nullptr;
    for (auto& s : shipRegistry)
        if (s.shipIndex == index) return &s;
    return nullptr;
}

void pick_start_position(VC3& p, int team, int retries) {
    takeStartData();
    auto list = startLists.find(team);
    if (list != startLists.end()) {
        if (!list->second.empty()) {
            p = list->second.front();
            list->second.erase(list->second.begin());
        } else if (auto centre = groupCentres.find(team); centre != groupCentres.end()) {
            p.x = centre->second.x + static_cast<float>(std::rand() % 100);
            p.y = 0.0f;
            p.z = centre->second.z + static_cast<float>(std::rand() % 100);
        }
    }
    if (retries > 0) {
        for (const auto& used : usedPositions) {
            if (used.x == p.x && used.z == p.z) {
                pick_start_position(p, team, retries - 1);
                break;
            }
        }
        usedPositions.push_back(p);
    } else if (retries == 0) {
        p.x = static_cast<float>(std::rand() % 100 + 10);
        p.z = static_cast<float>(std::rand() % 100 + 10);
        usedPositions.push_back(p);
    }
}

DamagePoints damage_points(int16_t hull, int16_t sails, int16_t crew, float factor, bool friendly) {
    const float h = static_cast<float>(hull) * factor;
    const float s = static_cast<float>(sails) * 0.5f * factor;
    const float c = static_cast<float>(crew) * 0.75f * factor;
    // Products in double of the single-precision constants, truncated toward zero.
    auto cut = [](float v, float k) { return static_cast<int>(static_cast<double>(v) * static_cast<double>(k)); };
    DamagePoints d;
    if (friendly) {
        d.attacker = {-cut(h, 1.3f), -cut(s, 1.3f), -cut(c, 1.3f)};
    } else {
        d.attacker = {static_cast<int>(h), static_cast<int>(s), static_cast<int>(c)};
        d.target = {-cut(h, 0.9f), -cut(s, 0.9f), -cut(c, 0.9f)};
    }
    return d;
}

bool apply_damage(KSTMP::ShipInfo& attacker, KSTMP::ShipInfo& target, const KSTMP::Damagelevel& d, int gameTypeNow) {
    const bool friendly = gameTypeNow != 0 && attacker.team == target.team;
    const DamagePoints points =
        damage_points(d.hull, d.sails, d.crew, class_factor(attacker.shipClass, target.shipClass), friendly);
    for (int k = 0; k < 3; ++k) {
        attacker.scores[k] = add16(attacker.scores[k], points.attacker[k]);
        target.scores[k] = add16(target.scores[k], points.target[k]);
    }
    const bool sunk = d.sunk != -1;
    if (sunk) {
        if (target.shipClass < std::size(attacker.killsByClass))
            attacker.killsByClass[target.shipClass] = static_cast<uint8_t>(attacker.killsByClass[target.shipClass] + 1);
        attacker.kills = static_cast<uint8_t>(attacker.kills + 1);
    }
    const int16_t raw[3] = {d.hull, d.sails, d.crew};
    if (friendly && d.damageKind != 0) {
        for (int k = 0; k < 3; ++k) attacker.friendlyDamageA[k] = add16(attacker.friendlyDamageA[k], raw[k]);
        attacker.friendlyHitsA = add16(attacker.friendlyHitsA, 1);
    } else if (friendly) {
        for (int k = 0; k < 3; ++k) attacker.friendlyDamageB[k] = add16(attacker.friendlyDamageB[k], raw[k]);
        attacker.friendlyHitsB = add16(attacker.friendlyHitsB, 1);
    } else if (d.damageKind != 0) {
        for (int k = 0; k < 3; ++k) attacker.damageDealtA[k] = add16(attacker.damageDealtA[k], raw[k]);
        attacker.hitsA = add16(attacker.hitsA, 1);
    } else {
        for (int k = 0; k < 3; ++k) attacker.damageDealtB[k] = add16(attacker.damageDealtB[k], raw[k]);
        attacker.hitsB = add16(attacker.hitsB, 1);
    }
    return sunk;
}

void on_ship_info(const SystemAddress& sender, KSTMP::ShipInfo* record) {
    KSTMP::ShipInfo* entry = nullptr;
    for (auto& s : shipRegistry) {
        if (s.owner == record->owner && s.ownerShipIndex == record->ownerShipIndex) {
            entry = &s;
            break;
        }
    }
    if (entry == nullptr) {
        const int index = freeIndex(takenIndices());
        if (index < 0) {
            consolePrint("%s: the ship registry is full (%i ships), ship refused\n", addressText(sender),
                         static_cast<int>(shipRegistry.size()));
            return;
        }
        record->shipIndex = static_cast<int8_t>(index);
        pick_start_position(record->position, record->team, startRetries);
        shipRegistry.push_back(*record);
        entry = &shipRegistry.back();
        consolePrint("%s got a new ship %i\n", addressText(sender), index);
    } else {
        entry->shipClass = record->shipClass;
        std::memcpy(entry->name, record->name, sizeof entry->name);
        entry->team = record->team;
        entry->afloat = record->afloat;
        consolePrint("Ship info updated. idx = %i\n", record->shipIndex);
    }
    consolePrint("Sending shipinfo to everybody\n");
    sendToPlayers(entry, true);
}

namespace {

// The copy of the ship a record names, in a mirror battle; null (with a line) when there is none.
KSTMP::ShipInfo* mirroredShip(const SystemAddress& sender, int index, const char* what) {
    auto copy = copyOf.find(static_cast<int8_t>(index));
    if (findShip(index) == nullptr || copy == copyOf.end() || findShip(copy->second) == nullptr) {
        consolePrint("%s sent %s for ship %i, which has no copy; dropped\n", addressText(sender), what, index);
        return nullptr;
    }
    return findShip(copy->second);
}

void shift(VC3& v) {
    v.x += mirrorOffset;
    v.z += mirrorOffset;
}

}  // namespace

void on_coordinates(const SystemAddress& sender, KSTMP::Coordinates* record) {
    if (cloneMode) {
        KSTMP::ShipInfo* copy = mirroredShip(sender, record->shipIndex, "coordinates");
        if (copy == nullptr) return;
        record->shipIndex = copy->shipIndex;
        record->target = sender;
        shift(record->position);
        shift(record->positionB);
        sendRecord(record);
        consolePrint("%s sending cloned coordinates x=%i, z=%i\n", addressText(sender), wholePart(record->position.x),
                     wholePart(record->position.z));
        return;
    }
    consolePrint("%s , idx=%isend coordinates x=%i, z=%i\n", addressText(sender), record->shipIndex,
                 wholePart(record->position.x), wholePart(record->position.z));
    sendToPlayers(record, true);
}

void on_simple_position(const SystemAddress& sender, KSTMP::simplePosition* record) {
    if (cloneMode) {
        KSTMP::ShipInfo* copy = mirroredShip(sender, record->shipIndex, "a position");
        if (copy == nullptr) return;
        record->shipIndex = copy->shipIndex;
        record->target = sender;
        shift(record->position);
        sendRecord(record);
        return;
    }
    sendToPlayers(record, true);
}

void on_damagelevel(const SystemAddress& sender, KSTMP::Damagelevel* record) {
    if (record->byShip == 1 && record->attackerIndex != -1) {
        KSTMP::ShipInfo* target = findShip(record->shipIndex);
        KSTMP::ShipInfo* attacker = findShip(record->attackerIndex);
        if (target == nullptr || attacker == nullptr) {
            consolePrint("%s sent damage to ship %i by ship %i, which is not registered; dropped\n",
                         addressText(sender), record->shipIndex, record->attackerIndex);
            return;
        }
        if (apply_damage(*attacker, *target, *record, gameType())) {
            target->sunkAtMinute = (platform::tickCount() - serverStartTick()) / 60000u;
            target->sinkOrder = static_cast<uint8_t>(nextSinkOrder());
        }
    }
    sendToPlayers(record, true);
}

void on_ship_notifier(const SystemAddress& sender, KSTMP::Notifier* record) {
    const int code = record->code;
    KSTMP::ShipInfo* ship = findShip(record->param);
    if (ship == nullptr) {
        consolePrint("%s sent ship notice %i for ship %i, which is not registered; dropped\n", addressText(sender),
                     code, record->param);
        return;
    }
    switch (code) {
    case KSTMP::ntf_ship_lost_a:
    case KSTMP::ntf_ship_lost_b:
        if (!isAfloat(*ship)) return;
        ship->afloat = 0;
        sendToPlayers(record, true);
        if (gameType() == 2) respawnTimers[ship->shipIndex] = respawnDelayMs;
        return;
    case KSTMP::ntf_ship_tally_a:
        ship->tallyA = static_cast<uint16_t>(ship->tallyA + 1);
        break;
    case KSTMP::ntf_ship_tally_b:
        ship->tallyB = static_cast<uint16_t>(ship->tallyB + 1);
        break;
    case KSTMP::ntf_ship_notice_a:
    case KSTMP::ntf_ship_notice_b:
    case KSTMP::ntf_ship_notice_c:
        break;
    default:
        return;
    }
    if (cloneMode) {
        KSTMP::ShipInfo* copy = mirroredShip(sender, ship->shipIndex, "a ship notice");
        if (copy == nullptr) return;
        record->param = copy->shipIndex;
        record->target = sender;
        sendRecord(record);
        return;
    }
    sendToPlayers(record, true);
}

void send_ship_list(const SystemAddress& asker) {
    if (static_cast<long>(shipRegistry.size()) != static_cast<long>(totalReservedSlots())) {
        consolePrint("%s is asking current ships, but server has not recieved all the reservations yet.\n",
                     addressText(asker));
        return;
    }
    consolePrint("%s is asking current ships, send them\n", addressText(asker));
    for (auto& s : shipRegistry) {
        s.target = asker;
        sendRecord(&s);
    }
}

void on_verify_stats_result(KSTMP::VerifyStatsResult* record) {
    for (auto& s : shipRegistry) {
        if (s.owner == record->player) {
            consolePrint("Master server handled stats: %s\n", addressText(record->player.toSystemAddress()));
            s.statsHandled = 1;
            return;
        }
    }
}

void removeShipsOf(const SystemAddress& owner) {
    for (auto it = shipRegistry.begin(); it != shipRegistry.end();) {
        if (it->owner == owner) {
            consolePrint("Removing player ships with address %s\n", addressText(owner));
            respawnTimers.erase(it->shipIndex);
            copyOf.erase(it->shipIndex);
            it = shipRegistry.erase(it);
        } else {
            ++it;
        }
    }
}

void clone_fleet(const SystemAddress& player) {
    cloneMode = true;
    if (fleetCloned) {
        consolePrint("The fleet of %s is cloned already\n", addressText(player));
        return;
    }
    fleetCloned = true;
    consolePrint("Only one player -> DEBUG MODE -> cloning %s ships...\n", addressText(player));
    const SystemAddress server = rakPeer->GetExternalID(player);
    std::set<int> taken = takenIndices();
    std::vector<KSTMP::ShipInfo> copies;
    for (const auto& original : shipRegistry) {
        const int index = freeIndex(taken);
        if (index < 0) {
            consolePrint("The ship registry is full (%i ships), ship %i not cloned\n", static_cast<int>(maxShips),
                         original.shipIndex);
            continue;
        }
        taken.insert(index);
        KSTMP::ShipInfo copy;
        copy = original;
        copy.shipIndex = static_cast<int8_t>(index);
        copy.owner = server;
        copy.target = player;
        copyOf[original.shipIndex] = copy.shipIndex;
        copies.push_back(copy);
    }
    consolePrint("Clones done, starting to send ships.\n");
    for (const auto& copy : copies) {
        consolePrint("Sending ship idx = %i \n", copy.shipIndex);
        shipRegistry.push_back(copy);
        sendRecord(&shipRegistry.back());
    }
}

void respawn_tick(int32_t elapsed) {
    if (respawnTimers.empty()) return;
    std::vector<int8_t> done;
    for (auto& [index, left] : respawnTimers) {
        left -= elapsed;
        if (left > 0) continue;
        done.push_back(index);
        KSTMP::ShipInfo* ship = findShip(index);
        if (ship == nullptr) continue;
        ship->afloat = 1;
        ship->respawns = static_cast<uint8_t>(ship->respawns + 1);
        KSTMP::RespawnShip respawn;
        respawn.shipIndex = index;
        pick_start_position(respawn.position, ship->team, startRetries);
        respawn.target = UNASSIGNED_SYSTEM_ADDRESS;
        sendRecord(&respawn);
    }
    for (int8_t index : done) respawnTimers.erase(index);
}

bool respawnPending(int index) { return respawnTimers.count(static_cast<int8_t>(index)) != 0; }

void clearShipsForEverything() {
    shipRegistry.clear();
    usedPositions.clear();
    startLists.clear();
    groupCentres.clear();
    startDataTaken = false;
    respawnTimers.clear();
    copyOf.clear();
    fleetCloned = false;
    cloneMode = false;
}

void resetShipsForNewGame() {
    shipRegistry.clear();
    usedPositions.clear();
    startDataTaken = false;
    takeStartData();
    respawnTimers.clear();
    copyOf.clear();
    fleetCloned = false;
    cloneMode = false;
}
