// A game-side program built only against the installed header and library: two managers on
// this machine talk to each other through the exported interface in the documented order.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tidelink.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

void drain(RAROREzovedodidAdizora& m, const char* who) {
    char line[511];
    while (m.getMessage(line)) std::printf("%s| %s\n", who, line);
}

template <class Done>
bool frames(RAROREzovedodidAdizora& a, RAROREzovedodidAdizora& b, Done done) {
    for (int i = 0; i < 5000; ++i) {
        a.update(0.016f);
        b.update(0.016f);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace

int main() {
    RAROREzovedodidAdizora game;
    game.setUNamePwd("captain", "secret");
    game.setVersion(1.5f);
    game.openConnection();

    RAROREzovedodidAdizora host;  // stands in for a server: it accepts connections too
    host.openConnection();
    const int hostPort = host.getPlayerStr().port;
    check(hostPort != 0, "host has a port");

    check(game.addConnection("127.0.0.1", hostPort), "addConnection starts");
    check(frames(game, host, [&] { return game.amIHost(); }), "connection stands");

    // The host describes itself to everyone connected.
    KSTMP::GameType description;
    std::strcpy(description.name, "Harbour");
    description.phase = 0;
    description.heading = 10;
    host.sendCmd(&description);
    game.askGameLists();
    check(frames(game, host, [&] { return game.isGameListChanged() && !game.getAllGames()->empty(); }), "game list");
    check(std::string(game.getAllGames()->at(0).name) == "Harbour", "game name");
    game.gamesRead();
    check(!game.isGameListChanged(), "gamesRead");

    KSTMP::LogIn login;
    std::strcpy(login.userName, "captain");
    game.sendLogin(&login, "127.0.0.1", hostPort);
    KSTMP::Notifier verdict;
    verdict.code = KSTMP::ntf_login_result;
    verdict.param = 2;
    host.sendCmd(&verdict);
    check(frames(game, host, [&] { return game.isAccepted("127.0.0.1", hostPort); }), "login accepted");

    KSTMP::ShipInfo ship;
    ship.shipIndex = 4;
    ship.owner = game.getPlayerStr();
    std::strcpy(ship.name, "Wavecutter");
    game.sendCmd(&ship);
    bool seen = false;
    check(frames(game, host,
                 [&] {
                     for (unsigned i = 0; i < host.getCmdCount(); ++i) {
                         KSTMP::BaseCommand* r = host.getCmd(int(i));
                         if (r->getPacketID() == KSTMP::cmd_ship_info) {
                             auto* s = static_cast<KSTMP::ShipInfo*>(r);
                             seen = s->shipIndex == 4 && std::string(s->name) == "Wavecutter" && game.isMyShip(s);
                         }
                     }
                     host.clearCache();
                     return seen;
                 }),
          "ship arrives");
    check(host.getCmd(0) == nullptr, "cleared");

    drain(game, "game");
    drain(host, "host");
    game.closeConnection();
    host.closeConnection();
    check(game.getAllGames()->empty(), "closeConnection empties the game list");
    std::printf(failures ? "consumer: %d failures\n" : "consumer: ok\n", failures);
    return failures ? 1 : 0;
}
