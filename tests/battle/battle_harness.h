// In-process server in a temporary folder, real client peers on loopback, and a test clock.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "net/rak_peer.h"
#include "protocol/records.h"

namespace battle_test {

// The test clock behind platform::tickCount while a server runs.
void setClock(uint32_t ms);
uint32_t clockNow();

struct ServerFiles {
    std::string config;      // lines of the ServerConfig group (port, clanserver added)
    std::string buoyFile;    // text of the buoy file; empty: none
    std::string startFile;   // text of the start file; empty: none
    ServerFiles(std::string c = {}, std::string b = {}, std::string s = {})
        : config(std::move(c)), buoyFile(std::move(b)), startFile(std::move(s)) {}
};

class Client;

// One server started from a fresh temporary folder, stopped (folder removed) on destruction.
class Server {
public:
    explicit Server(const ServerFiles& files);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool running() const { return running_; }
    uint16_t port() const { return port_; }
    const std::string& folder() const { return folder_; }

    // One pass of the main loop.
    void pass();
    // Passes (and client polls) until `done` holds or about 5 s of real time went by.
    bool pumpUntil(const std::function<bool()>& done);
    // Passes for `count` passes (clients polled).
    void pump(int count = 30);
    // Moves the test clock on by `ms`, then runs one pass.
    void advance(uint32_t ms);

    std::vector<Client*> clients;

private:
    std::string folder_;
    uint16_t port_ = 0;
    bool running_ = false;
};

// A client peer that connects to the server and keeps every record it receives.
class Client {
public:
    explicit Client(Server& server);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    // The address at which the server sees this client.
    SystemAddress address() const;

    template <class R>
    void send(R& record) {
        record.origin = address();
        record.timeStamp = RakNet::GetTime();
        peer_->Send(reinterpret_cast<const char*>(&record), record.size, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                    serverAddress_, false);
    }
    void notify(int32_t code, int32_t param = 0);

    // Joins with a player record, reserves `slots` slots.
    void join(int slots);
    // Registers a ship; the entry the server sends back is returned by registered().
    void sendShip(int ownerShipIndex, int team, int shipClass, KSTMP::VC3 position = KSTMP::VC3());
    // Registers a ship and waits for its entry to come back, so ships get indices in call order.
    bool registerShip(int ownerShipIndex, int team, int shipClass, KSTMP::VC3 position = KSTMP::VC3());

    void poll();
    // Every received record of type R (by its identifier), in arrival order.
    template <class R>
    std::vector<R> records() const {
        std::vector<R> out;
        const R probe;
        for (const auto& bytes : received_) {
            if (bytes.size() < sizeof(R) || bytes[5] != probe.packetID) continue;
            R r;
            std::memcpy(static_cast<void*>(&r), bytes.data(), sizeof r);
            out.push_back(r);
        }
        return out;
    }
    template <class R>
    size_t count() const {
        return records<R>().size();
    }
    std::vector<KSTMP::Notifier> notices(int32_t code) const;
    // Phases announced to this client, in order.
    std::vector<uint32_t> phases() const;
    void clear() { received_.clear(); }

private:
    Server& server_;
    RakPeerInterface* peer_ = nullptr;
    SystemAddress serverAddress_;
    bool connected_ = false;
    std::vector<std::vector<unsigned char>> received_;
};

// Brings the connected, joined clients to phase 4: all ready to init, countdown, phase 2,
// `register` (ship registration), all ready to spawn, all ready to play.
void startBattle(Server& server, const std::function<void()>& registerShips);

}  // namespace battle_test
