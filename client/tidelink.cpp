// The exported manager: every operation forwards to the shared ManagerCore.
#include "client/tidelink.h"

#include "client/manager_core.h"

namespace {

void release(ManagerCore* core) {
    if (--core->owners == 0) delete core;  // the core's destructor closes the connection
}

}  // namespace

RAROREzovedodidAdizora::RAROREzovedodidAdizora() : core(new ManagerCore) {}

RAROREzovedodidAdizora::~RAROREzovedodidAdizora() { release(core); }

RAROREzovedodidAdizora::RAROREzovedodidAdizora(const RAROREzovedodidAdizora& o) : core(o.core) { ++core->owners; }

RAROREzovedodidAdizora& RAROREzovedodidAdizora::operator=(const RAROREzovedodidAdizora& o) {
    if (core != o.core) {
        ++o.core->owners;
        release(core);
        core = o.core;
    }
    return *this;
}

void RAROREzovedodidAdizora::openConnection() { core->openConnection(); }
void RAROREzovedodidAdizora::closeConnection() { core->closeConnection(); }
void RAROREzovedodidAdizora::closeConnection(SystemAddress address) { core->closeConnection(address); }
void RAROREzovedodidAdizora::clearConnections() { core->clearConnections(); }
void RAROREzovedodidAdizora::closeAllButConnection(SystemAddress keep) { core->closeAllButConnection(keep); }
bool RAROREzovedodidAdizora::addConnection(std::string ip, int port) { return core->addConnection(ip, port); }
void RAROREzovedodidAdizora::reopenAllConnections() { core->reopenAllConnections(); }

void RAROREzovedodidAdizora::scanServers() { core->scanServers(); }
std::string RAROREzovedodidAdizora::searchFromLAN() { return std::string(); }
void RAROREzovedodidAdizora::askGameLists() { core->askGameLists(); }
void RAROREzovedodidAdizora::pingServers() { core->pingServers(); }

std::vector<KSTMP::GameType>* RAROREzovedodidAdizora::getAllGames() { return core->getAllGames(); }
KSTMP::GameType* RAROREzovedodidAdizora::getGame(KSTMP::FakeAddress key) { return core->getGame(key); }
bool RAROREzovedodidAdizora::isGameListChanged() { return core->isGameListChanged(); }
void RAROREzovedodidAdizora::gamesRead() { core->gamesRead(); }

void RAROREzovedodidAdizora::setUNamePwd(std::string userName, std::string password) { core->setUNamePwd(userName, password); }
void RAROREzovedodidAdizora::setVersion(float version) { core->setVersion(version); }
void RAROREzovedodidAdizora::sendLogin(KSTMP::LogIn* login, std::string ip, int port) { core->sendLogin(login, ip, port); }
void RAROREzovedodidAdizora::sendLogin(KSTMP::LogIn* login, KSTMP::FakeAddress game) { core->sendLogin(login, game); }
int RAROREzovedodidAdizora::isAccepted(KSTMP::FakeAddress server) { return core->isAccepted(server); }
bool RAROREzovedodidAdizora::isAccepted(std::string ip, int port) { return core->isAccepted(ip, port); }
void RAROREzovedodidAdizora::clearAccepted() { core->clearAccepted(); }

void RAROREzovedodidAdizora::sendCmd(KSTMP::BaseCommand* record) { core->sendCmd(record); }
void RAROREzovedodidAdizora::sendPirateResults(KSTMP::PirateResults* record, std::string ip, unsigned short port) {
    core->sendPirateResults(record, ip, port);
}

void RAROREzovedodidAdizora::update(float) { core->update(); }
unsigned int RAROREzovedodidAdizora::getCmdCount() { return core->getCmdCount(); }
KSTMP::BaseCommand* RAROREzovedodidAdizora::getCmd(int index) { return core->getCmd(index); }
void RAROREzovedodidAdizora::clearCache() { core->clearCache(); }
bool RAROREzovedodidAdizora::getMessage(char* out) { return core->getMessage(out); }

SystemAddress RAROREzovedodidAdizora::getPlayerStr() { return core->getPlayerStr(); }
SystemAddress RAROREzovedodidAdizora::getServerStr() { return core->getServerStr(); }
bool RAROREzovedodidAdizora::isServerConnected() { return core->isServerConnected(); }
bool RAROREzovedodidAdizora::amIHost() { return core->amIHost(); }
bool RAROREzovedodidAdizora::isMyShip(KSTMP::ShipInfo* ship) { return core->isMyShip(ship); }
