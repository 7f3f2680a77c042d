// Record check and identifier helpers on raw packets; an accepted record is copied out (only
// its type's size) and every text field is read with the bounded readers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "protocol/record_kinds.h"
#include "protocol/records.h"
#include "protocol/text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace KSTMP;

template <size_t N>
void narrow(const char (&field)[N]) {
    const std::string text = protocol::readText(field);
    FUZZ_CHECK(text.size() <= N && text.find('\0') == std::string::npos);
    char again[N];
    protocol::writeText(again, text);
    FUZZ_CHECK(protocol::readText(again) == text);
}

void wide(const void* field, size_t units) {
    const std::u16string text = protocol::readWideText(field, units);
    FUZZ_CHECK(text.size() <= units && text.find(u'\0') == std::u16string::npos);
    auto again = std::make_unique<char16_t[]>(units);
    protocol::writeWideText(again.get(), units, text);
    FUZZ_CHECK(protocol::readWideText(again.get(), units) == text);
}

void texts(const LogIn& r) {
    narrow(r.userName);
    narrow(r.password);
}
void texts(const GameType& r) {
    narrow(r.name);
    narrow(r.serverName);
}
void texts(const ServerLink& r) {
    narrow(r.ip);
    narrow(r.linkName);
}
void texts(const PlayerInfo& r) { narrow(r.name); }
void texts(const ShipInfo& r) { narrow(r.name); }
void texts(const Chat& r) {
    wide(r.sender, 25);
    wide(r.message, 256);
}
void texts(const Authentication& r) {
    wide(r.accountName, 25);
    wide(r.accountField1, 25);
    wide(r.accountField2, 25);
    wide(r.accountField3, 25);
}
void texts(const UpdateAccount& r) { wide(r.accountText, 75); }
void texts(const UpdateInGame& r) { wide(r.statusText, 75); }
void texts(const VersionUpdate& r) {
    narrow(r.narrowText);
    wide(r.wideText, 256);
}
void texts(const BaseCommand&) {}  // records without text

template <class R>
R blank() {
    if constexpr (std::is_default_constructible_v<R>) return R();
    else return R(cmd_empty, sizeof(R));
}

// The record is read in place from a buffer of exactly its size, as a receiver does after the
// check; a copy by assignment keeps every byte but address padding.
template <class R>
void readRecord(const unsigned char* record) {
    static_assert(alignof(R) == 1);
    const R& r = *reinterpret_cast<const R*>(record);
    FUZZ_CHECK(r.getPacketID() == record[offsetof(BaseCommand, packetID)]);
    FUZZ_CHECK(r.size == static_cast<int32_t>(sizeof(R)));
    texts(r);
    (void)r.target.isUnassigned();
    (void)r.origin.isEmpty();
    FUZZ_CHECK(r.origin == r.origin.toSystemAddress());
    R copy = blank<R>();
    copy = r;
    FUZZ_CHECK(copy.getPacketID() == r.getPacketID() && copy.size == r.size && copy.target == r.target &&
               copy.origin == r.origin && !(copy.origin < r.origin));
}

void readAccepted(uint8_t id, const unsigned char* record) {
    switch (id) {
        case cmd_empty: return readRecord<BaseCommand>(record);
        case cmd_notifier: return readRecord<Notifier>(record);
        case cmd_coordinates: return readRecord<Coordinates>(record);
        case cmd_damagelevel: return readRecord<Damagelevel>(record);
        case cmd_ship_info: return readRecord<ShipInfo>(record);
        case cmd_weather_info: return readRecord<WeatherInfo>(record);
        case cmd_cannon_shot: return readRecord<CannonShot>(record);
        case cmd_slot_info: return readRecord<SlotInfo>(record);
        case cmd_connection_status: return readRecord<ConnectionStatus>(record);
        case cmd_simple_position: return readRecord<simplePosition>(record);
        case cmd_log_in: return readRecord<LogIn>(record);
        case cmd_game_type: return readRecord<GameType>(record);
        case cmd_server_link: return readRecord<ServerLink>(record);
        case cmd_buoy_info: return readRecord<BuoyInfo>(record);
        case cmd_chat: return readRecord<Chat>(record);
        case cmd_team_score: return readRecord<TeamScore>(record);
        case cmd_respawn_ship: return readRecord<RespawnShip>(record);
        case cmd_player_info: return readRecord<PlayerInfo>(record);
        case cmd_authentication: return readRecord<Authentication>(record);
        case cmd_update_account: return readRecord<UpdateAccount>(record);
        case cmd_update_in_game: return readRecord<UpdateInGame>(record);
        case cmd_verify_login: return readRecord<VerifyLogin>(record);
        case cmd_verify_login_result: return readRecord<VerifyLoginResult>(record);
        case cmd_update_player_stats: return readRecord<UpdatePlayerStats>(record);
        case cmd_verify_stats_result: return readRecord<VerifyStatsResult>(record);
        case cmd_cannon_target: return readRecord<CannonTarget>(record);
        case cmd_version_update: return readRecord<VersionUpdate>(record);
        case cmd_check_for_update: return readRecord<CheckForUpdate>(record);
        case cmd_pirate_results: return readRecord<PirateResults>(record);
        case cmd_pirate_results_reply: return readRecord<PirateResultsReply>(record);
        default: FUZZ_CHECK(!"accepted record of a type without a reader");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer's buffer is exactly `size` bytes: any read past it is reported.
    const uint8_t id = protocol::packetIdentifier(data, size);
    if (size == 0) FUZZ_CHECK(id == protocol::noPacketIdentifier);
    else if (data[0] != timestampMarkerValue) FUZZ_CHECK(id == data[0]);
    else if (size > offsetof(BaseCommand, packetID)) FUZZ_CHECK(id == data[offsetof(BaseCommand, packetID)]);
    else FUZZ_CHECK(id == protocol::noPacketIdentifier);

    const protocol::RecordKind* kind = protocol::recordKind(id);
    if (kind) FUZZ_CHECK(kind->id == id && kind->size >= static_cast<int>(sizeof(BaseCommand)));

    if (!protocol::isWellFormedRecord(data, size)) return 0;
    FUZZ_CHECK(kind != nullptr && size >= static_cast<size_t>(kind->size) && data[0] == timestampMarkerValue);
    int32_t headerSize;
    std::memcpy(&headerSize, data + offsetof(BaseCommand, size), sizeof headerSize);
    FUZZ_CHECK(headerSize == kind->size);

    // Only the type's size is copied out; the reader works on that copy alone.
    auto record = std::make_unique<unsigned char[]>(static_cast<size_t>(kind->size));
    std::memcpy(record.get(), data, static_cast<size_t>(kind->size));
    readAccepted(id, record.get());
    return 0;
}
