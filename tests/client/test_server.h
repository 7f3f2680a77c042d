// A minimal server for client tests: a transport peer on loopback that accepts connections,
// collects what it receives and sends raw records.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/rak_peer.h"
#include "protocol/records.h"

struct Received {
    SystemAddress from;
    std::vector<unsigned char> bytes;
    unsigned char id() const { return bytes.empty() ? 255 : (bytes[0] == 25 && bytes.size() > 5 ? bytes[5] : bytes[0]); }
};

class TestServer {
public:
    TestServer() {
        peer = RakNetworkFactory::GetRakPeerInterface();
        peer->SetOccasionalPing(true);
        SocketDescriptor socket(0, "127.0.0.1");
        started = peer->Startup(8, 5, &socket, 1);
        peer->SetMaximumIncomingConnections(8);
    }
    ~TestServer() {
        peer->Shutdown(100, 0);
        RakNetworkFactory::DestroyRakPeerInterface(peer);
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    unsigned short port() const { return peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS).port; }
    // The server's address as a client on loopback sees it.
    SystemAddress address() const { return SystemAddress(0x0100007F, port()); }

    // Takes every waiting packet into `received`.
    void pump() {
        while (Packet* p = peer->Receive()) {
            received.push_back({p->systemAddress, std::vector<unsigned char>(p->data, p->data + p->length)});
            peer->DeallocatePacket(p);
        }
    }
    size_t count(unsigned char id) const {
        size_t n = 0;
        for (const Received& r : received) n += r.id() == id;
        return n;
    }
    const Received* last(unsigned char id) const {
        for (auto it = received.rbegin(); it != received.rend(); ++it)
            if (it->id() == id) return &*it;
        return nullptr;
    }
    std::vector<KSTMP::Notifier> notifiers(int32_t code) const {
        std::vector<KSTMP::Notifier> out;
        for (const Received& r : received)
            if (r.id() == KSTMP::cmd_notifier && r.bytes.size() == sizeof(KSTMP::Notifier)) {
                KSTMP::Notifier n;
                std::memcpy(static_cast<void*>(&n), r.bytes.data(), sizeof n);
                if (n.code == code) out.push_back(n);
            }
        return out;
    }

    // Sends `length` bytes of a record as the server does: origin is the address under which the
    // client sees this server.
    template <class R>
    void send(R record, const SystemAddress& to, size_t length = sizeof(R)) {
        record.origin.setFrom(address());
        record.timeStamp = RakNet::GetTime();
        peer->Send(reinterpret_cast<const char*>(&record), int(length), HIGH_PRIORITY, RELIABLE_ORDERED, 0, to, false);
    }
    void sendRaw(const std::vector<unsigned char>& bytes, const SystemAddress& to) {
        peer->Send(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                   to, false);
    }

    RakPeerInterface* peer;
    bool started = false;
    std::vector<Received> received;
};

// Polls `step` every millisecond until `done` holds or five seconds have passed.
inline bool waitFor(const std::function<bool()>& done, const std::function<void()>& step) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        step();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}
