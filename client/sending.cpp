#include <string>

#include "client/manager_core.h"
#include "protocol/record_kinds.h"

using namespace KSTMP;

namespace {

// The log line of one send; empty for most records.
std::string sendLine(const BaseCommand* record) {
    switch (record->packetID) {
    case cmd_empty:
        return "MP: send empty command";
    case cmd_notifier: {
        const auto* r = static_cast<const Notifier*>(record);
        return formatLine("MP: send notifier: %i wtih param %d", int(r->code), int(r->param));
    }
    case cmd_damagelevel: {
        const auto* r = static_cast<const Damagelevel*>(record);
        return formatLine("MP: send new damagelevels hull:%i, sails:%i, crew:%i", int(r->hull), int(r->sails), int(r->crew));
    }
    case cmd_ship_info: {
        const auto* r = static_cast<const ShipInfo*>(record);
        return formatLine("MP: send Ship info: Servers %ith, my %ith", int(r->shipIndex), int(r->ownerShipIndex));
    }
    case cmd_weather_info: {
        const auto* r = static_cast<const WeatherInfo*>(record);
        return formatLine("MP: send Weather:  %i,%i", int(r->weatherA), int(r->weatherB));
    }
    case cmd_cannon_shot: {
        const auto* r = static_cast<const CannonShot*>(record);
        const VC3 from = r->from, to = r->to;
        return formatLine("MP: send Cannonball: Balltype:%i from %i,%i,%i to %i,%i,%i hittime:%i", int(r->ballType),
                          int(from.x), int(from.y), int(from.z), int(to.x), int(to.y), int(to.z), int(r->hitTime));
    }
    default:
        return std::string();
    }
}

}  // namespace

void ManagerCore::sendCmd(BaseCommand* record) {
    if (!peer || !record) return;
    // Only whole records of a known type leave: `size` must be the type's size, so the send
    // never reads past the caller's record.
    const protocol::RecordKind* kind = protocol::recordKind(record->packetID);
    if (!kind || record->size != kind->size) {
        addMessage(formatLine("MP: not sent: record %i with size %i", int(record->packetID), int(record->size)));
        return;
    }
    record->origin.setFrom(peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS));
    record->timeStamp = RakNet::GetTime();
    addMessage(sendLine(record));
    const SystemAddress target = record->target.toSystemAddress();
    peer->Send(reinterpret_cast<const char*>(record), kind->size, HIGH_PRIORITY, RELIABLE_ORDERED, 0, target,
               target == UNASSIGNED_SYSTEM_ADDRESS);
}

void ManagerCore::sendNotifier(int32_t code, const FakeAddress& target) {
    Notifier notifier;
    notifier.code = code;
    notifier.param = 0;
    notifier.target = target;
    sendCmd(&notifier);
}

void ManagerCore::sendPirateResults(PirateResults* record, const std::string& ip, unsigned short port) {
    if (!record) return;
    SystemAddress address;
    address.SetBinaryAddress(ip.c_str());
    address.port = port;
    record->target = address;
    record->version = storedVersion;
    sendCmd(record);
}
