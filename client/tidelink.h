// tidelink: the game's connection to battle servers. One RAROREzovedodidAdizora per game; every
// call from the game's thread. Records handed out by getCmd belong to the library until
// clearCache; records passed to the send operations stay the caller's.
#pragma once

#include <string>
#include <vector>

#include "net/system_address.h"
#include "protocol/export.h"
#include "protocol/records.h"

class ManagerCore;

class KSTMP_API RAROREzovedodidAdizora {
public:
    RAROREzovedodidAdizora();
    ~RAROREzovedodidAdizora();
    // Copies share one connection manager; the last copy to go tears it down.
    RAROREzovedodidAdizora(const RAROREzovedodidAdizora& o);
    RAROREzovedodidAdizora& operator=(const RAROREzovedodidAdizora& o);

    void openConnection();
    void closeConnection();
    void closeConnection(SystemAddress address);
    void clearConnections();
    void closeAllButConnection(SystemAddress keep);
    bool addConnection(std::string ip, int port);
    void reopenAllConnections();

    void scanServers();
    std::string searchFromLAN();
    void askGameLists();
    void pingServers();

    std::vector<KSTMP::GameType>* getAllGames();
    KSTMP::GameType* getGame(KSTMP::FakeAddress key);
    bool isGameListChanged();
    void gamesRead();

    void setUNamePwd(std::string userName, std::string password);
    void setVersion(float version);
    void sendLogin(KSTMP::LogIn* login, std::string ip, int port);
    void sendLogin(KSTMP::LogIn* login, KSTMP::FakeAddress game);
    int isAccepted(KSTMP::FakeAddress server);
    bool isAccepted(std::string ip, int port);
    void clearAccepted();

    void sendCmd(KSTMP::BaseCommand* record);
    void sendPirateResults(KSTMP::PirateResults* record, std::string ip, unsigned short port);

    void update(float unused);
    unsigned int getCmdCount();
    KSTMP::BaseCommand* getCmd(int index);
    void clearCache();
    // Copies the oldest log line, cut to 510 characters, into `out` (at least 511 bytes).
    bool getMessage(char* out);

    SystemAddress getPlayerStr();
    SystemAddress getServerStr();
    bool isServerConnected();
    bool amIHost();
    bool isMyShip(KSTMP::ShipInfo* ship);

private:
    ManagerCore* core;
};
