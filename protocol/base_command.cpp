#include "protocol/base_command.h"

namespace KSTMP {

BaseCommand::BaseCommand(cmd_types id, int recordSize)
    : timestampMarker(timestampMarkerValue),
      timeStamp(0),
      packetID(static_cast<uint8_t>(id)),
      size(recordSize),
      target(FakeAddress::unassigned()),
      transitTime(0) {}

BaseCommand& BaseCommand::operator=(const BaseCommand& o) {
    timestampMarker = o.timestampMarker;
    timeStamp = o.timeStamp;
    packetID = o.packetID;
    size = o.size;
    target = o.target;
    origin = o.origin;
    transitTime = o.transitTime;
    return *this;
}

unsigned char BaseCommand::getPacketID() const { return packetID; }

}  // namespace KSTMP
