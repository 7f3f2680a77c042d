// State and operations behind RAROREzovedodidAdizora.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "net/rak_peer.h"
#include "protocol/records.h"

// The local port the client asks for; when it is taken the system chooses one.
inline constexpr unsigned short clientPort = 61216;
inline constexpr unsigned short lanSearchPort = 61101;
inline constexpr const char* lanSearchAddress = "255.255.255.255";
inline constexpr unsigned short maxConnections = 50;
inline constexpr int peerSleepMs = 30;
inline constexpr unsigned shutdownBlockMs = 300;
// getMessage hands out at most this many characters of a line.
inline constexpr size_t messageCut = 510;

class ManagerCore {
public:
    ManagerCore();
    ~ManagerCore();
    ManagerCore(const ManagerCore&) = delete;
    ManagerCore& operator=(const ManagerCore&) = delete;

    // Peer lifecycle and connections.
    void openConnection();
    void closeConnection();
    void closeConnection(SystemAddress address);
    void clearConnections();
    void closeAllButConnection(SystemAddress keep);
    bool addConnection(const std::string& ip, int port);
    void reopenAllConnections();

    // Finding servers.
    void scanServers();
    void askGameLists();
    void pingServers();

    // Game list.
    std::vector<KSTMP::GameType>* getAllGames() { return &gameList; }
    KSTMP::GameType* getGame(const KSTMP::FakeAddress& key);
    bool isGameListChanged() const { return gameListChanged; }
    void gamesRead() { gameListChanged = false; }

    // Login.
    void setUNamePwd(const std::string& userName, const std::string& password);
    void setVersion(float version);
    void sendLogin(KSTMP::LogIn* login, const std::string& ip, int port);
    void sendLogin(KSTMP::LogIn* login, const KSTMP::FakeAddress& game);
    int isAccepted(const KSTMP::FakeAddress& server) const;
    bool isAccepted(const std::string& ip, int port) const;
    void clearAccepted() { loginVerdicts.clear(); }

    // Sending.
    void sendCmd(KSTMP::BaseCommand* record);
    void sendPirateResults(KSTMP::PirateResults* record, const std::string& ip, unsigned short port);

    // Receive pass and queue.
    void update();
    unsigned int getCmdCount() const { return static_cast<unsigned int>(commandQueue.size()); }
    KSTMP::BaseCommand* getCmd(int index) const;
    void clearCache();
    bool getMessage(char* out);
    void addMessage(std::string line) { messages.push_back(std::move(line)); }

    SystemAddress getPlayerStr() const;
    SystemAddress getServerStr() const { return serverAddress; }
    bool isServerConnected() const { return serverConnected; }
    bool amIHost();
    bool isMyShip(const KSTMP::ShipInfo* ship) const;

    // Owners sharing this core (copies of one manager).
    int owners = 1;

private:
    void sendNotifier(int32_t code, const KSTMP::FakeAddress& target);
    void forgetVerdictOf(const SystemAddress& address);
    KSTMP::GameType* findGame(const KSTMP::FakeAddress& origin);
    void receivePacket(Packet* packet);
    void receiveRecord(Packet* packet, uint8_t id);
    template <class R>
    void storeAndQueue(const unsigned char* data);

    RakPeerInterface* peer = nullptr;
    std::deque<std::string> messages;
    std::vector<KSTMP::BaseCommand*> commandQueue;
    std::vector<KSTMP::GameType> gameList;
    std::map<SystemAddress, int32_t> loginVerdicts;
    std::vector<SystemAddress> knownServers;
    std::vector<SystemAddress> serverLinks;
    // One store per queued record type; a deque keeps every record at its address.
    std::tuple<std::deque<KSTMP::Notifier>, std::deque<KSTMP::Coordinates>, std::deque<KSTMP::simplePosition>,
               std::deque<KSTMP::Damagelevel>, std::deque<KSTMP::WeatherInfo>, std::deque<KSTMP::ShipInfo>,
               std::deque<KSTMP::CannonShot>, std::deque<KSTMP::BuoyInfo>, std::deque<KSTMP::TeamScore>,
               std::deque<KSTMP::RespawnShip>, std::deque<KSTMP::PlayerInfo>, std::deque<KSTMP::Chat>,
               std::deque<KSTMP::CannonTarget>, std::deque<KSTMP::VersionUpdate>,
               std::deque<KSTMP::PirateResultsReply>>
        stores;
    bool gameListChanged = true;
    bool serverConnected = false;
    SystemAddress serverAddress = UNASSIGNED_SYSTEM_ADDRESS;
    std::string storedUserName;
    std::string storedPassword;
    float storedVersion = 1.0f;
};

// "printf"-style text for the log.
std::string formatLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
