// What each command identifier carries, and the checks a receiver runs on a raw packet before
// it reads or copies a record out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace protocol {

struct RecordKind {
    uint8_t id;
    int size;                    // bytes of the record, header included
    const char* identifierName;  // "cmd_ship_info"
    const char* typeName;        // "ShipInfo"
};

// Identifier reported for an absent or too short packet.
inline constexpr uint8_t noPacketIdentifier = 255;

// Every identifier that carries a record, in ascending order (104, 119 and 120 carry none).
std::span<const RecordKind> recordKinds();
// The kind for an identifier, or nullptr when it carries no record.
const RecordKind* recordKind(uint8_t id);

// Byte 5 when byte 0 is the time stamp marker (25), else byte 0; 255 for no packet or for a
// marked packet too short to hold byte 5.
uint8_t packetIdentifier(const unsigned char* data, size_t length);

// True when the buffer holds a whole record of a known type: time stamp marker, a known
// identifier, at least that type's size, and a header `size` equal to it. A receiver reads or
// copies a record only when this holds, and then only the type's size.
bool isWellFormedRecord(const unsigned char* data, size_t length);

}  // namespace protocol
