#include "tests/pool/battle_client.h"

#include <algorithm>
#include <cstring>

#include "net/message_identifiers.h"

namespace pooltest {

BattleClient::BattleClient(int serverPort) : peer_(RakNetworkFactory::GetRakPeerInterface()) {
    SocketDescriptor socket(0, "127.0.0.1");
    peer_->Startup(1, 30, &socket, 1);
    server_.SetBinaryAddress("127.0.0.1");
    server_.port = static_cast<unsigned short>(serverPort);
    peer_->Connect("127.0.0.1", static_cast<unsigned short>(serverPort), "", 0);
}

BattleClient::~BattleClient() {
    peer_->Shutdown(0);
    RakNetworkFactory::DestroyRakPeerInterface(peer_);
}

void BattleClient::poll() {
    while (Packet* packet = peer_->Receive()) {
        if (packet->length > 0 && packet->data[0] == ID_CONNECTION_REQUEST_ACCEPTED)
            connected_ = true;
        if (packet->length >= sizeof(KSTMP::Notifier) && packet->data[5] == KSTMP::cmd_notifier) {
            int32_t code = 0;
            std::memcpy(&code, packet->data + 28 /* code */, sizeof code);
            codes_.push_back(code);
        }
        peer_->DeallocatePacket(packet);
    }
}

void BattleClient::send(const KSTMP::BaseCommand& record) {
    peer_->Send(reinterpret_cast<const char*>(&record), record.size, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                server_, false);
}

void BattleClient::notify(int code, int param) {
    KSTMP::Notifier notifier;
    notifier.code = code;
    notifier.param = param;
    send(notifier);
}

int BattleClient::notices(int code) const {
    return static_cast<int>(std::count(codes_.begin(), codes_.end(), code));
}

}  // namespace pooltest
