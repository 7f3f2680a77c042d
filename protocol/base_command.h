// The header shared by every command record, and the command identifiers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/address.h"
#include "protocol/export.h"

namespace KSTMP {

// Command identifiers; values below 91 belong to the transport's own messages.
enum cmd_types {
    cmd_empty = 91,
    cmd_notifier = 92,
    cmd_coordinates = 93,
    cmd_damagelevel = 94,
    cmd_ship_info = 95,
    cmd_weather_info = 96,
    cmd_cannon_shot = 97,
    cmd_slot_info = 98,
    cmd_connection_status = 99,
    cmd_simple_position = 100,
    cmd_log_in = 101,
    cmd_game_type = 102,
    cmd_server_link = 103,
    cmd_reserved_104 = 104,
    cmd_buoy_info = 105,
    cmd_chat = 106,
    cmd_team_score = 107,
    cmd_respawn_ship = 108,
    cmd_player_info = 109,
    cmd_authentication = 110,
    cmd_update_account = 111,
    cmd_update_in_game = 112,
    cmd_verify_login = 113,
    cmd_verify_login_result = 114,
    cmd_update_player_stats = 115,
    cmd_verify_stats_result = 116,
    cmd_cannon_target = 117,
    cmd_version_update = 118,
    cmd_reserved_119 = 119,
    cmd_reserved_120 = 120,
    cmd_check_for_update = 121,
    cmd_pirate_results = 122,
    cmd_pirate_results_reply = 123,
};

// Byte 0 of every record: the transport's time stamp marker.
inline constexpr uint8_t timestampMarkerValue = 25;

#pragma pack(push, 1)

// The first 28 bytes of every record. A record is sent raw: exactly `size` bytes of it.
struct KSTMP_API BaseCommand {
    uint8_t timestampMarker;  // 0: always 25
    uint32_t timeStamp;       // 1: sender's clock at send, rewritten into the receiver's on arrival
    uint8_t packetID;         // 5: a cmd_types value
    int32_t size;             // 6: whole record, header included
    FakeAddress target;       // 10: unassigned sends to every connected system
    FakeAddress origin;       // 18: filled in by the send operation
    uint16_t transitTime;     // 26: milliseconds in transit, added up by receivers

    BaseCommand(cmd_types id, int recordSize);
    BaseCommand(const BaseCommand&) = default;
    BaseCommand& operator=(const BaseCommand& o);
    unsigned char getPacketID() const;
};

#pragma pack(pop)

static_assert(sizeof(BaseCommand) == 28 && alignof(BaseCommand) == 1);
static_assert(offsetof(BaseCommand, timestampMarker) == 0);
static_assert(offsetof(BaseCommand, timeStamp) == 1);
static_assert(offsetof(BaseCommand, packetID) == 5);
static_assert(offsetof(BaseCommand, size) == 6);
static_assert(offsetof(BaseCommand, target) == 10);
static_assert(offsetof(BaseCommand, origin) == 18);
static_assert(offsetof(BaseCommand, transitTime) == 26);

}  // namespace KSTMP
