// A bare client on loopback: enough of a player to join a server and report ready.
#pragma once

#include <vector>

#include "net/rak_peer.h"
#include "protocol/records.h"

namespace pooltest {

class BattleClient {
public:
    explicit BattleClient(int serverPort);
    ~BattleClient();
    BattleClient(const BattleClient&) = delete;
    BattleClient& operator=(const BattleClient&) = delete;

    // Takes what arrived: the connection's acceptance and Notifier codes.
    void poll();
    void send(const KSTMP::BaseCommand& record);
    void notify(int code, int param = 0);
    bool connected() const { return connected_; }
    int notices(int code) const;

private:
    RakPeerInterface* peer_;
    SystemAddress server_;
    bool connected_ = false;
    std::vector<int> codes_;
};

}  // namespace pooltest
