#include "server/core/dispatch.h"

#include "net/rak_peer.h"
#include "platform/console.h"
#include "protocol/record_kinds.h"
#include "protocol/records.h"
#include "server/core/login.h"
#include "server/core/lobby.h"
#include "server/core/send.h"
#include "server/session/buoys.h"
#include "server/session/notifier_dispatch.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"

using platform::consolePrint;

namespace {

void onTransportMessage(int identifier, const SystemAddress& sender) {
    const char* from = addressText(sender);
    switch (identifier) {
    case ID_PING: consolePrint("Got a ping from %s\n", from); break;
    case ID_CONNECTION_REQUEST_ACCEPTED:
    case ID_CONNECTION_ATTEMPT_FAILED:
    case ID_ALREADY_CONNECTED: break;
    case ID_NEW_INCOMING_CONNECTION:
        consolePrint("New connection %s\n", from);
        sendGameType(sender);
        break;
    case ID_DISCONNECTION_NOTIFICATION:
        consolePrint("Connection was disconnected %s\n", from);
        remove_player(sender);
        break;
    case ID_CONNECTION_LOST:
        consolePrint("Connection lost: %s\n", from);
        remove_player(sender);
        break;
    case ID_MODIFIED_PACKET: consolePrint("ID_MODIFIED_PACKET from %s\n", from); break;
    case ID_PONG: consolePrint("Got a pong from %s\n", from); break;
    default: consolePrint("%s send an unhandled RakNet package: %i\n", from, identifier); break;
    }
}

// Identifiers whose record the server reads (or, for 96, 97 and 121, accepts).
bool handledHere(int identifier) {
    switch (identifier) {
    case KSTMP::cmd_empty:
    case KSTMP::cmd_notifier:
    case KSTMP::cmd_coordinates:
    case KSTMP::cmd_damagelevel:
    case KSTMP::cmd_ship_info:
    case KSTMP::cmd_weather_info:
    case KSTMP::cmd_cannon_shot:
    case KSTMP::cmd_slot_info:
    case KSTMP::cmd_connection_status:
    case KSTMP::cmd_simple_position:
    case KSTMP::cmd_log_in:
    case KSTMP::cmd_buoy_info:
    case KSTMP::cmd_chat:
    case KSTMP::cmd_player_info:
    case KSTMP::cmd_verify_login_result:
    case KSTMP::cmd_verify_stats_result:
    case KSTMP::cmd_cannon_target:
    case KSTMP::cmd_version_update:
    case KSTMP::cmd_check_for_update: return true;
    default: return false;
    }
}

template <class Record>
Record* as(unsigned char* data) {
    return reinterpret_cast<Record*>(data);
}

void onRecord(int identifier, unsigned char* data, const SystemAddress& sender) {
    switch (identifier) {
    case KSTMP::cmd_empty: consolePrint("empty command: %s\n", addressText(sender)); break;
    case KSTMP::cmd_notifier: on_notifier(sender, as<KSTMP::Notifier>(data)); break;
    case KSTMP::cmd_coordinates: on_coordinates(sender, as<KSTMP::Coordinates>(data)); break;
    case KSTMP::cmd_damagelevel: on_damagelevel(sender, as<KSTMP::Damagelevel>(data)); break;
    case KSTMP::cmd_ship_info: on_ship_info(sender, as<KSTMP::ShipInfo>(data)); break;
    case KSTMP::cmd_slot_info: on_slot_info(sender, as<KSTMP::SlotInfo>(data)); break;
    case KSTMP::cmd_connection_status: send_phase_to(sender); break;
    case KSTMP::cmd_simple_position: on_simple_position(sender, as<KSTMP::simplePosition>(data)); break;
    case KSTMP::cmd_log_in: handleLogIn(as<KSTMP::LogIn>(data), sender); break;
    case KSTMP::cmd_buoy_info: on_buoy_info(sender, as<KSTMP::BuoyInfo>(data)); break;
    case KSTMP::cmd_chat:
        sendToPlayers(as<KSTMP::Chat>(data), true);
        consolePrint("Received a chat message, sending to all\n");
        break;
    case KSTMP::cmd_player_info: on_player_info(sender, as<KSTMP::PlayerInfo>(data)); break;
    case KSTMP::cmd_verify_login_result: handleVerifyLoginResult(as<KSTMP::VerifyLoginResult>(data)); break;
    case KSTMP::cmd_verify_stats_result: on_verify_stats_result(as<KSTMP::VerifyStatsResult>(data)); break;
    case KSTMP::cmd_cannon_target: sendToPlayers(as<KSTMP::CannonTarget>(data), true); break;
    case KSTMP::cmd_version_update: {
        KSTMP::VersionUpdate* update = as<KSTMP::VersionUpdate>(data);
        consolePrint("Got a new version for player %s\n", addressText(update->player.toSystemAddress()));
        update->target = update->player;
        sendRecord(update);
        break;
    }
    default: break;  // weather, cannon shot and update check: counted only
    }
}

}  // namespace

void dispatchPacket(Packet* packet) {
    if (packet == nullptr || packet->data == nullptr || packet->length == 0)
        return;
    const SystemAddress sender = packet->systemAddress;
    const int identifier = protocol::packetIdentifier(packet->data, packet->length);
    if (identifier < ID_USER_PACKET_ENUM) {
        onTransportMessage(identifier, sender);
        return;
    }
    ++packetCounts[identifier];
    if (!handledHere(identifier)) {
        consolePrint("%s send an unhandled KST package: %i\n", addressText(sender), identifier);
        return;
    }
    if (!protocol::isWellFormedRecord(packet->data, packet->length)) {
        consolePrint("%s sent a malformed record, dropped: %i (%u bytes)\n", addressText(sender), identifier,
                     packet->length);
        return;
    }
    onRecord(identifier, packet->data, sender);
}
