#include "client/manager_core.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

using namespace KSTMP;

namespace {

SystemAddress addressOf(const std::string& ip, int port) {
    SystemAddress address;
    address.SetBinaryAddress(ip.c_str());
    address.port = static_cast<unsigned short>(port);
    return address;
}

SystemAddress addressOf(const FakeAddress& f) { return f.toSystemAddress(); }

}  // namespace

std::string formatLine(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return std::string();
    return std::string(buffer, std::min<size_t>(size_t(n), sizeof buffer - 1));
}

ManagerCore::ManagerCore() = default;

ManagerCore::~ManagerCore() { closeConnection(); }

void ManagerCore::openConnection() {
    if (peer) closeConnection();
    peer = RakNetworkFactory::GetRakPeerInterface();
    peer->SetOccasionalPing(true);
    SocketDescriptor socket;
    socket.port = clientPort;
    bool started = peer->Startup(maxConnections, peerSleepMs, &socket, 1);
    if (!started) {
        // Another game or bot on this machine holds the port: let the system choose one.
        socket.port = 0;
        started = peer->Startup(maxConnections, peerSleepMs, &socket, 1);
        if (started)
            addMessage(formatLine("MP: Local port %u is taken, using port %u instead", unsigned(clientPort),
                                  unsigned(peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS).port)));
    }
    if (!started) {
        addMessage("MP: Error -> Failed to initialize connection");
        return;
    }
    peer->SetMaximumIncomingConnections(maxConnections);
}

void ManagerCore::closeConnection() {
    if (!peer) return;
    gameList.clear();
    knownServers.clear();
    loginVerdicts.clear();
    serverLinks.clear();
    clearConnections();
    peer->Shutdown(shutdownBlockMs, 0);
    RakNetworkFactory::DestroyRakPeerInterface(peer);
    peer = nullptr;
    serverConnected = false;
}

void ManagerCore::closeConnection(SystemAddress address) {
    if (peer) peer->CloseConnection(address, true, 0);
}

void ManagerCore::clearConnections() {
    closeAllButConnection(UNASSIGNED_SYSTEM_ADDRESS);
}

void ManagerCore::closeAllButConnection(SystemAddress keep) {
    if (!peer) return;
    SystemAddress connected[maxConnections];
    unsigned short count = maxConnections;
    if (!peer->GetConnectionList(connected, &count)) return;
    for (unsigned short i = 0; i < count && i < maxConnections; ++i)
        if (connected[i] != keep) peer->CloseConnection(connected[i], true, 0);
}

bool ManagerCore::addConnection(const std::string& ip, int port) {
    if (!peer) return false;
    const SystemAddress address = addressOf(ip, port);
    if (peer->IsConnected(address, false, false)) return true;
    if (std::find(knownServers.begin(), knownServers.end(), address) == knownServers.end())
        knownServers.push_back(address);
    return peer->Connect(ip.c_str(), static_cast<unsigned short>(port), "", 0, 0);
}

void ManagerCore::reopenAllConnections() {
    if (!peer) return;
    for (const SystemAddress& address : knownServers)
        if (!peer->IsConnected(address, false, false)) peer->Connect(address.ToString(false), address.port, "", 0, 0);
}

void ManagerCore::scanServers() {
    if (peer) peer->Ping(lanSearchAddress, lanSearchPort, false, 0);
}

void ManagerCore::askGameLists() {
    if (!peer) return;
    for (const SystemAddress& address : knownServers)
        if (peer->IsConnected(address, false, false)) sendNotifier(ntf_game_modes_request, FakeAddress(address.binaryAddress, address.port));
}

void ManagerCore::pingServers() {
    if (!peer) return;
    for (const SystemAddress& address : knownServers)
        if (peer->IsConnected(address, false, false)) sendNotifier(ntf_ping, FakeAddress(address.binaryAddress, address.port));
}

GameType* ManagerCore::findGame(const FakeAddress& origin) {
    for (GameType& game : gameList)
        if (game.origin == origin) return &game;
    return nullptr;
}

GameType* ManagerCore::getGame(const FakeAddress& key) { return findGame(key); }

void ManagerCore::setUNamePwd(const std::string& userName, const std::string& password) {
    loginVerdicts.clear();
    storedUserName = userName;
    storedPassword = password;
}

void ManagerCore::setVersion(float version) {
    loginVerdicts.clear();
    storedVersion = version;
}

void ManagerCore::forgetVerdictOf(const SystemAddress& address) {
    auto it = loginVerdicts.find(address);
    if (it != loginVerdicts.end()) it->second = 0;
}

void ManagerCore::sendLogin(LogIn* login, const std::string& ip, int port) {
    if (!login) return;
    const SystemAddress address = addressOf(ip, port);
    login->target = address;
    sendCmd(login);
    forgetVerdictOf(address);
}

void ManagerCore::sendLogin(LogIn* login, const FakeAddress& game) {
    const GameType* entry = findGame(game);
    if (!login || !entry) return;
    login->target = entry->origin;
    const SystemAddress address = addressOf(entry->origin);
    sendCmd(login);
    forgetVerdictOf(address);
}

int ManagerCore::isAccepted(const FakeAddress& server) const {
    auto it = loginVerdicts.find(addressOf(server));
    return it == loginVerdicts.end() ? 0 : it->second;
}

bool ManagerCore::isAccepted(const std::string& ip, int port) const {
    auto it = loginVerdicts.find(addressOf(ip, port));
    return it != loginVerdicts.end() && it->second == 2;
}

SystemAddress ManagerCore::getPlayerStr() const {
    return peer ? peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS) : UNASSIGNED_SYSTEM_ADDRESS;
}

bool ManagerCore::amIHost() {
    if (!peer) return false;
    const SystemAddress first = peer->GetSystemAddressFromIndex(0);
    if (first == UNASSIGNED_SYSTEM_ADDRESS) return false;
    if (peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS).binaryAddress == first.binaryAddress) return true;
    // The own address is one of several on this machine; a server reached over loopback or
    // over another local address runs here too.
    if ((first.binaryAddress & 0xFF) == 127) return true;
    for (unsigned i = 0;; ++i) {
        const char* local = peer->GetLocalIP(i);
        if (!local || !*local) return false;
        SystemAddress address;
        address.SetBinaryAddress(local);
        if (address.binaryAddress == first.binaryAddress) return true;
    }
}

bool ManagerCore::isMyShip(const ShipInfo* ship) const {
    if (!peer || !ship) return false;
    return ship->owner == peer->GetInternalID(UNASSIGNED_SYSTEM_ADDRESS);
}
