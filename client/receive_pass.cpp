#include <algorithm>
#include <cstring>

#include "client/manager_core.h"
#include "protocol/record_kinds.h"
#include "protocol/text.h"
#include "protocol/transit_time.h"

using namespace KSTMP;

namespace {

// Hands the packet back to the peer when its turn ends, however it ends.
struct PacketRelease {
    RakPeerInterface* peer;
    Packet* packet;
    ~PacketRelease() { peer->DeallocatePacket(packet); }
};

// A copy of a checked record, read out of the packet.
template <class R>
R recordFrom(const unsigned char* data) {
    R record;
    std::memcpy(static_cast<void*>(&record), data, sizeof(R));
    return record;
}

bool handledRecord(uint8_t id) {
    switch (id) {
    case cmd_notifier: case cmd_coordinates: case cmd_damagelevel: case cmd_ship_info: case cmd_weather_info:
    case cmd_cannon_shot: case cmd_simple_position: case cmd_buoy_info: case cmd_chat: case cmd_team_score:
    case cmd_respawn_ship: case cmd_player_info: case cmd_cannon_target: case cmd_version_update:
    case cmd_pirate_results_reply: case cmd_connection_status: case cmd_game_type: case cmd_server_link:
        return true;
    default:
        return false;
    }
}

}  // namespace

void ManagerCore::update() {
    if (!peer) return;
    try {
        const SystemAddress self = peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS);
        while (Packet* packet = peer->Receive()) {
            PacketRelease release{peer, packet};
            if (packet->systemAddress == self) return;  // the rest waits for the next pass
            receivePacket(packet);
        }
    } catch (...) {
        addMessage("MP:E-xeption in RAROREzovedodidAdizora::update");
    }
}

void ManagerCore::receivePacket(Packet* packet) {
    const SystemAddress sender = packet->systemAddress;
    if (packet->length == 0 || (packet->data[0] == ID_TIMESTAMP && packet->length <= offsetof(BaseCommand, packetID))) {
        // Nothing, or a time stamp marker too short to name anything.
        addMessage(formatLine("MP: Received: %s send an unhandled RakNet package: %i\n", sender.ToString(true),
                              packet->length ? int(packet->data[0]) : -1));
        return;
    }
    const uint8_t id = protocol::packetIdentifier(packet->data, packet->length);
    if (id >= ID_USER_PACKET_ENUM) {
        receiveRecord(packet, id);
        return;
    }
    switch (id) {
    case ID_CONNECTION_REQUEST_ACCEPTED:
        addMessage("MP: Receiveed: Connection was accepted");
        break;
    case ID_CONNECTION_ATTEMPT_FAILED:
        addMessage("MP: Received: Connection attempt failed says ");
        break;
    case ID_ALREADY_CONNECTED:
        addMessage("MP: Received: This was reconnection");
        break;
    case ID_DISCONNECTION_NOTIFICATION:
    case ID_CONNECTION_LOST: {
        const FakeAddress gone(sender.binaryAddress, sender.port);
        gameList.erase(std::remove_if(gameList.begin(), gameList.end(), [&](const GameType& g) { return g.origin == gone; }),
                       gameList.end());
        gameListChanged = true;
        break;
    }
    case ID_PONG:
        addMessage("MP: Got a pong");
        if (!findGame(FakeAddress(sender.binaryAddress, sender.port)) && sender != UNASSIGNED_SYSTEM_ADDRESS)
            addConnection(sender.ToString(false), sender.port);
        break;
    default:
        addMessage(formatLine("MP: Received: %s send an unhandled RakNet package: %i\n", sender.ToString(true),
                              int(packet->data[0])));
        break;
    }
}

void ManagerCore::receiveRecord(Packet* packet, uint8_t id) {
    unsigned char* data = packet->data;
    const SystemAddress sender = packet->systemAddress;
    if (handledRecord(id) && !protocol::isWellFormedRecord(data, packet->length)) {
        addMessage(formatLine("MP: Received %s send a malformed KST package: %i, %u bytes", sender.ToString(true),
                              int(id), packet->length));
        return;
    }
    if (packet->length >= sizeof(BaseCommand) && data[0] == ID_TIMESTAMP) {
        uint32_t stamp;
        uint16_t transit;
        std::memcpy(&stamp, data + offsetof(BaseCommand, timeStamp), sizeof stamp);
        std::memcpy(&transit, data + offsetof(BaseCommand, transitTime), sizeof transit);
        transit = protocol::addTransitTime(transit, RakNet::GetTime(), stamp);
        std::memcpy(data + offsetof(BaseCommand, transitTime), &transit, sizeof transit);
    }
    addMessage(formatLine("MsgID: %i\n", int(id)));

    switch (id) {
    case cmd_empty:
        break;
    case cmd_notifier: {
        const Notifier n = recordFrom<Notifier>(data);
        if (n.code == ntf_login_result) {
            loginVerdicts[sender] = n.param;
        } else if (n.code == ntf_pong && !n.origin.isUnassigned()) {
            if (GameType* game = findGame(n.origin)) {
                game->transitTime = n.transitTime;
                if (game->reservedSlots != n.param) sendNotifier(ntf_game_modes_request, n.origin);
                gameListChanged = true;
            }
        }
        storeAndQueue<Notifier>(data);
        break;
    }
    case cmd_coordinates: storeAndQueue<Coordinates>(data); break;
    case cmd_damagelevel: storeAndQueue<Damagelevel>(data); break;
    case cmd_ship_info: storeAndQueue<ShipInfo>(data); break;
    case cmd_weather_info: storeAndQueue<WeatherInfo>(data); break;
    case cmd_cannon_shot: storeAndQueue<CannonShot>(data); break;
    case cmd_simple_position: storeAndQueue<simplePosition>(data); break;
    case cmd_buoy_info: storeAndQueue<BuoyInfo>(data); break;
    case cmd_chat: storeAndQueue<Chat>(data); break;
    case cmd_team_score: storeAndQueue<TeamScore>(data); break;
    case cmd_respawn_ship: storeAndQueue<RespawnShip>(data); break;
    case cmd_player_info: storeAndQueue<PlayerInfo>(data); break;
    case cmd_cannon_target: storeAndQueue<CannonTarget>(data); break;
    case cmd_version_update: storeAndQueue<VersionUpdate>(data); break;
    case cmd_pirate_results_reply: storeAndQueue<PirateResultsReply>(data); break;
    case cmd_slot_info:
        break;
    case cmd_connection_status: {
        const ConnectionStatus status = recordFrom<ConnectionStatus>(data);
        if (GameType* game = findGame(status.origin)) game->phase = status.phase;
        break;
    }
    case cmd_game_type: {
        const GameType received = recordFrom<GameType>(data);
        GameType* game = findGame(received.origin);
        if (!game && !received.origin.isUnassigned()) {
            sendNotifier(ntf_server_links_request, received.origin);
            gameList.push_back(received);
        } else if (game && !received.origin.isUnassigned()) {
            *game = received;
        }
        gameListChanged = true;
        break;
    }
    case cmd_server_link: {
        const ServerLink link = recordFrom<ServerLink>(data);
        const std::string ip = protocol::readText(link.ip);
        SystemAddress address;
        address.SetBinaryAddress(ip.c_str());
        address.port = link.port;
        if (std::find(serverLinks.begin(), serverLinks.end(), address) == serverLinks.end()) {
            serverLinks.push_back(address);
            addConnection(ip, link.port);
        }
        break;
    }
    default:
        addMessage(formatLine("MP: Received %s send an unhandled KST package: %i\n", sender.ToString(true), int(id)));
        break;
    }
}

template <class R>
void ManagerCore::storeAndQueue(const unsigned char* data) {
    std::deque<R>& store = std::get<std::deque<R>>(stores);
    store.emplace_back();
    std::memcpy(static_cast<void*>(&store.back()), data, sizeof(R));
    commandQueue.push_back(&store.back());
}

BaseCommand* ManagerCore::getCmd(int index) const {
    if (index < 0 || size_t(index) >= commandQueue.size()) return nullptr;
    return commandQueue[size_t(index)];
}

void ManagerCore::clearCache() {
    commandQueue.clear();
    std::apply([](auto&... store) { (store.clear(), ...); }, stores);
}

bool ManagerCore::getMessage(char* out) {
    if (messages.empty() || !out) return false;
    const std::string& line = messages.front();
    const size_t n = std::min(line.size(), messageCut);
    std::memcpy(out, line.data(), n);
    out[n] = '\0';
    messages.pop_front();
    return true;
}
