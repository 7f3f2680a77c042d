#include "protocol/record_kinds.h"

#include <array>
#include <cstring>

#include "protocol/records.h"

namespace protocol {
namespace {

using namespace KSTMP;

constexpr std::array<RecordKind, 30> kinds{{
    {cmd_empty, sizeof(BaseCommand), "cmd_empty", "BaseCommand"},
    {cmd_notifier, sizeof(Notifier), "cmd_notifier", "Notifier"},
    {cmd_coordinates, sizeof(Coordinates), "cmd_coordinates", "Coordinates"},
    {cmd_damagelevel, sizeof(Damagelevel), "cmd_damagelevel", "Damagelevel"},
    {cmd_ship_info, sizeof(ShipInfo), "cmd_ship_info", "ShipInfo"},
    {cmd_weather_info, sizeof(WeatherInfo), "cmd_weather_info", "WeatherInfo"},
    {cmd_cannon_shot, sizeof(CannonShot), "cmd_cannon_shot", "CannonShot"},
    {cmd_slot_info, sizeof(SlotInfo), "cmd_slot_info", "SlotInfo"},
    {cmd_connection_status, sizeof(ConnectionStatus), "cmd_connection_status", "ConnectionStatus"},
    {cmd_simple_position, sizeof(simplePosition), "cmd_simple_position", "simplePosition"},
    {cmd_log_in, sizeof(LogIn), "cmd_log_in", "LogIn"},
    {cmd_game_type, sizeof(GameType), "cmd_game_type", "GameType"},
    {cmd_server_link, sizeof(ServerLink), "cmd_server_link", "ServerLink"},
    {cmd_buoy_info, sizeof(BuoyInfo), "cmd_buoy_info", "BuoyInfo"},
    {cmd_chat, sizeof(Chat), "cmd_chat", "Chat"},
    {cmd_team_score, sizeof(TeamScore), "cmd_team_score", "TeamScore"},
    {cmd_respawn_ship, sizeof(RespawnShip), "cmd_respawn_ship", "RespawnShip"},
    {cmd_player_info, sizeof(PlayerInfo), "cmd_player_info", "PlayerInfo"},
    {cmd_authentication, sizeof(Authentication), "cmd_authentication", "Authentication"},
    {cmd_update_account, sizeof(UpdateAccount), "cmd_update_account", "UpdateAccount"},
    {cmd_update_in_game, sizeof(UpdateInGame), "cmd_update_in_game", "UpdateInGame"},
    {cmd_verify_login, sizeof(VerifyLogin), "cmd_verify_login", "VerifyLogin"},
    {cmd_verify_login_result, sizeof(VerifyLoginResult), "cmd_verify_login_result", "VerifyLoginResult"},
    {cmd_update_player_stats, sizeof(UpdatePlayerStats), "cmd_update_player_stats", "UpdatePlayerStats"},
    {cmd_verify_stats_result, sizeof(VerifyStatsResult), "cmd_verify_stats_result", "VerifyStatsResult"},
    {cmd_cannon_target, sizeof(CannonTarget), "cmd_cannon_target", "CannonTarget"},
    {cmd_version_update, sizeof(VersionUpdate), "cmd_version_update", "VersionUpdate"},
    {cmd_check_for_update, sizeof(CheckForUpdate), "cmd_check_for_update", "CheckForUpdate"},
    {cmd_pirate_results, sizeof(PirateResults), "cmd_pirate_results", "PirateResults"},
    {cmd_pirate_results_reply, sizeof(PirateResultsReply), "cmd_pirate_results_reply", "PirateResultsReply"},
}};

constexpr bool ascending() {
    for (size_t i = 1; i < kinds.size(); ++i)
        if (kinds[i - 1].id >= kinds[i].id) return false;
    return true;
}
static_assert(ascending());

}  // namespace

std::span<const RecordKind> recordKinds() { return kinds; }

const RecordKind* recordKind(uint8_t id) {
    for (const RecordKind& k : kinds)
        if (k.id == id) return &k;
    return nullptr;
}

uint8_t packetIdentifier(const unsigned char* data, size_t length) {
    if (data == nullptr || length == 0) return noPacketIdentifier;
    if (data[0] != timestampMarkerValue) return data[0];
    return length > offsetof(BaseCommand, packetID) ? data[offsetof(BaseCommand, packetID)] : noPacketIdentifier;
}

bool isWellFormedRecord(const unsigned char* data, size_t length) {
    if (data == nullptr || length < sizeof(BaseCommand) || data[0] != timestampMarkerValue) return false;
    const RecordKind* kind = recordKind(data[offsetof(BaseCommand, packetID)]);
    if (kind == nullptr || length < static_cast<size_t>(kind->size)) return false;
    int32_t size;
    std::memcpy(&size, data + offsetof(BaseCommand, size), sizeof size);
    return size == kind->size;
}

}  // namespace protocol
