#include "tests/battle/battle_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "server/core/server_process.h"
#include "server/session/session_state.h"

namespace battle_test {

namespace {

std::atomic<uint32_t> testClock{1000};
uint32_t readClock() { return testClock.load(); }

uint16_t freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

template <class Clock = std::chrono::steady_clock>
bool within(typename Clock::time_point start, int ms) {
    return Clock::now() - start < std::chrono::milliseconds(ms);
}

}  // namespace

void setClock(uint32_t ms) { testClock = ms; }
uint32_t clockNow() { return testClock.load(); }

Server::Server(const ServerFiles& files) {
    platform::setTickSource(readClock);
    char tmpl[] = "/tmp/battle-test-XXXXXX";
    folder_ = ::mkdtemp(tmpl) ? tmpl : "";
    port_ = freeUdpPort();
    std::string config = "ServerConfig\n{\nport = " + std::to_string(port_) +
                         "\nclanserver = 1\nmax_ships_per_player = 4\nmax_players = 8\n";
    if (!files.buoyFile.empty()) {
        writeFile(folder_ + "/buoys.txt", files.buoyFile);
        config += "buoy_file = " + folder_ + "/buoys.txt\n";
    }
    if (!files.startFile.empty()) {
        writeFile(folder_ + "/starts.txt", files.startFile);
        config += "start_file = " + folder_ + "/starts.txt\n";
    }
    config += files.config + "}\n";
    writeFile(folder_ + "/serverconfig.txt", config);
    running_ = !folder_.empty() && serverStartup((folder_ + "/portwarden").c_str()) == -1;
}

Server::~Server() {
    if (running_) serverShutdown();
    platform::setTickSource(nullptr);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

void Server::pass() {
    if (running_) running_ = serverPass();
    for (Client* c : clients) c->poll();
}

bool Server::pumpUntil(const std::function<bool()>& done) {
    const auto start = std::chrono::steady_clock::now();
    while (within(start, 5000)) {
        pass();
        if (done()) return true;
    }
    return false;
}

void Server::pump(int count) {
    for (int i = 0; i < count; ++i) {
        pass();
        ::usleep(500);
    }
}

void Server::advance(uint32_t ms) {
    testClock += ms;
    pass();
}

Client::Client(Server& server) : server_(server) {
    peer_ = RakNetworkFactory::GetRakPeerInterface();
    SocketDescriptor socket(0, "127.0.0.1");
    peer_->Startup(1, 30, &socket, 1);
    peer_->SetOccasionalPing(true);
    serverAddress_.SetBinaryAddress("127.0.0.1");
    serverAddress_.port = server.port();
    server.clients.push_back(this);
    if (peer_->Connect("127.0.0.1", server.port(), nullptr, 0))
        server.pumpUntil([this] { return connected_; });
}

Client::~Client() {
    if (peer_ == nullptr) return;
    std::erase(server_.clients, this);
    peer_->Shutdown(0);
    RakNetworkFactory::DestroyRakPeerInterface(peer_);
    peer_ = nullptr;
}

SystemAddress Client::address() const { return peer_->GetExternalID(serverAddress_); }

void Client::notify(int32_t code, int32_t param) {
    KSTMP::Notifier n;
    n.code = code;
    n.param = param;
    send(n);
}

void Client::join(int slots) {
    KSTMP::PlayerInfo info;
    info.joined = 1;
    send(info);
    for (int i = 0; i < slots; ++i) {
        KSTMP::SlotInfo slot;
        slot.playerSlots = static_cast<int8_t>(slots);
        send(slot);
    }
}

void Client::sendShip(int ownerShipIndex, int team, int shipClass, KSTMP::VC3 position) {
    KSTMP::ShipInfo ship;
    ship.owner = address();
    ship.ownerShipIndex = static_cast<int8_t>(ownerShipIndex);
    ship.team = static_cast<int8_t>(team);
    ship.shipClass = static_cast<uint8_t>(shipClass);
    ship.position = position;
    send(ship);
}

bool Client::registerShip(int ownerShipIndex, int team, int shipClass, KSTMP::VC3 position) {
    const size_t before = count<KSTMP::ShipInfo>();
    sendShip(ownerShipIndex, team, shipClass, position);
    return server_.pumpUntil([&] { return count<KSTMP::ShipInfo>() > before; });
}

void Client::poll() {
    while (Packet* p = peer_->Receive()) {
        const unsigned char id = p->length > 0 ? p->data[0] : 0;
        if (id == ID_CONNECTION_REQUEST_ACCEPTED) connected_ = true;
        if (id == ID_DISCONNECTION_NOTIFICATION || id == ID_CONNECTION_LOST) connected_ = false;
        if (id == ID_TIMESTAMP && p->length >= 6 && p->data[5] >= KSTMP::cmd_empty)
            received_.emplace_back(p->data, p->data + p->length);
        peer_->DeallocatePacket(p);
    }
}

std::vector<KSTMP::Notifier> Client::notices(int32_t code) const {
    std::vector<KSTMP::Notifier> out;
    for (const auto& n : records<KSTMP::Notifier>())
        if (n.code == code) out.push_back(n);
    return out;
}

std::vector<uint32_t> Client::phases() const {
    std::vector<uint32_t> out;
    for (const auto& s : records<KSTMP::ConnectionStatus>()) out.push_back(s.phase);
    return out;
}

void startBattle(Server& server, const std::function<void()>& registerShips) {
    for (Client* c : server.clients) c->notify(KSTMP::ntf_ready_to_init);
    server.pump(20);
    server.advance(2001);  // the countdown
    server.pumpUntil([] { return currentPhase() == phase_initialize; });
    registerShips();
    server.pump(20);
    for (Client* c : server.clients) c->notify(KSTMP::ntf_ready_to_spawn);
    server.pumpUntil([] { return currentPhase() == phase_spawn; });
    for (Client* c : server.clients) c->notify(KSTMP::ntf_ready_to_play);
    server.pumpUntil([] { return currentPhase() == phase_in_game; });
}

}  // namespace battle_test
