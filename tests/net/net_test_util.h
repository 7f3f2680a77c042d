// Helpers for transport tests: started peers on loopback and bounded waits for packets.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/rak_peer.h"

namespace nettest {

struct PeerDeleter {
    void operator()(RakPeerInterface* p) const { RakNetworkFactory::DestroyRakPeerInterface(p); }
};
using PeerPtr = std::unique_ptr<RakPeerInterface, PeerDeleter>;

// A started peer on 127.0.0.1 (or host) and a free port; incoming connections allowed.
inline PeerPtr startPeer(unsigned short maxIncoming = 8, bool secure = false, const char* host = "127.0.0.1",
                         unsigned short port = 0, unsigned short maxConnections = 16) {
    PeerPtr p(RakNetworkFactory::GetRakPeerInterface());
    if (secure)
        p->InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
    SocketDescriptor sd(port, host);
    if (!p->Startup(maxConnections, 5, &sd, 1))
        return nullptr;
    p->SetMaximumIncomingConnections(maxIncoming);
    return p;
}

inline unsigned short portOf(RakPeerInterface& p) { return p.GetInternalID().port; }

inline SystemAddress loopback(unsigned short port, const char* ip = "127.0.0.1") {
    SystemAddress a;
    a.SetBinaryAddress(ip);
    a.port = port;
    return a;
}

struct Received {
    std::vector<uint8_t> data;
    SystemAddress from;
    uint16_t index;
};

// Takes packets until pred accepts one or the time runs out; every packet taken is kept in *seen.
inline bool waitFor(RakPeerInterface& p, const std::function<bool(const Received&)>& pred, int timeoutMs = 3000,
                    std::vector<Received>* seen = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        Packet* packet = p.Receive();
        if (!packet) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        Received r{std::vector<uint8_t>(packet->data, packet->data + packet->length), packet->systemAddress,
                   packet->systemIndex};
        p.DeallocatePacket(packet);
        if (seen)
            seen->push_back(r);
        if (pred(r))
            return true;
    }
    return false;
}

inline bool waitForId(RakPeerInterface& p, unsigned char id, int timeoutMs = 3000, Received* out = nullptr) {
    return waitFor(
        p,
        [&](const Received& r) {
            if (r.data.empty() || r.data[0] != id)
                return false;
            if (out)
                *out = r;
            return true;
        },
        timeoutMs);
}

// Connects client to server and waits for both sides' connection events.
inline bool connectPair(RakPeerInterface& client, RakPeerInterface& server, int timeoutMs = 4000) {
    if (!client.Connect("127.0.0.1", portOf(server), nullptr, 0))
        return false;
    return waitForId(client, ID_CONNECTION_REQUEST_ACCEPTED, timeoutMs) &&
           waitForId(server, ID_NEW_INCOMING_CONNECTION, timeoutMs);
}

}  // namespace nettest
