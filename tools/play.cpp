// `play`: one or more bots join a server, go through the lobby and play battles by a simple script.
#include "tools/play.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace KSTMP;

enum class Stage { connecting, loggingIn, joining, reserving, lobby, battle, over, done, failed };

struct OwnShip {
    int ownerIndex = 0;
    int index = -1;  // registry index once the server announced it
    bool afloat = true;
    uint64_t sinkAtMs = 0;  // 0: not to be sunk
    bool damaged = false;
};

struct KnownShip {
    int team = -1;
    bool afloat = true;
};

struct Bot {
    RAROREzovedodidAdizora manager;
    std::string name;
    Stage stage = Stage::connecting;
    FakeAddress serverKey;  // game-list key (the server's own address as it announces it)
    FakeAddress seenAs;     // this bot's address as the server knows it, from its player list
    bool seen = false;
    bool haveKey = false;
    uint32_t phase = 0;
    bool phaseKnown = false;
    int team = -1;
    int reserved = 0;
    int slotRequests = 0;
    uint64_t stageSince = 0;
    std::vector<OwnShip> ships;
    std::map<int, KnownShip> registry;
    std::map<int, BuoyInfo> buoys;
    std::map<int, int> scores;
    bool shipsSent = false, spawnSent = false, playSent = false;
    uint64_t battleStart = 0, lastMove = 0, lastShot = 0;
    bool planned = false;
    int result = -2;  // from ntf_game_result; -2 none
    int battlesDone = 0;
    std::string error;
};


void say(const Bot& bot, const std::string& text) {
    std::printf("%s: %s\n", bot.name.c_str(), text.c_str());
    std::fflush(stdout);
}

void fail(Bot& bot, const std::string& why) {
    bot.error = why;
    bot.stage = Stage::failed;
}

void setStage(Bot& bot, Stage stage) {
    bot.stage = stage;
    bot.stageSince = nowMs();
}

void notify(Bot& bot, const Endpoint& server, int32_t code, int32_t param) {
    Notifier n;
    n.code = code;
    n.param = param;
    n.target = fakeAddressOf(server);
    bot.manager.sendCmd(&n);
}

void requestSlot(Bot& bot, const Endpoint& server, int want) {
    SlotInfo slot;
    slot.playerSlots = int8_t(want);
    slot.target = fakeAddressOf(server);
    bot.manager.sendCmd(&slot);
    ++bot.slotRequests;
}

void resetBattle(Bot& bot) {
    bot.ships.clear();
    bot.registry.clear();
    bot.buoys.clear();
    bot.scores.clear();
    bot.shipsSent = bot.spawnSent = bot.playSent = bot.planned = false;
    bot.result = -2;
}

void registerShips(Bot& bot, const Endpoint& server, const GameType& game) {
    std::vector<int> classes;
    for (uint8_t c : game.availableShips)
        if (c != 255) classes.push_back(c);
    if (classes.empty()) classes.push_back(3);
    for (int i = 0; i < bot.reserved; ++i) {
        ShipInfo ship;
        ship.owner = bot.seenAs;
        ship.ownerShipIndex = int8_t(i);
        ship.shipIndex = -1;
        ship.shipClass = uint8_t(classes[size_t(i) % classes.size()]);
        ship.team = int8_t(bot.team);
        ship.afloat = 1;
        ship.position = VC3(float(20 * i), 0, float(bot.team == 1 ? 400 : 0));
        setField(ship.name, bot.name + " #" + std::to_string(i + 1));
        ship.target = fakeAddressOf(server);
        bot.manager.sendCmd(&ship);
        OwnShip own;
        own.ownerIndex = i;
        bot.ships.push_back(own);
    }
    bot.shipsSent = true;
}

// Decides which of this bot's ships sink, so that the battle's end rule fires:
// last ship floating keeps the lowest registry index afloat; team games sink team 1.
void planBattle(Bot& bot, int gameType) {
    bot.planned = true;
    int survivor = bot.registry.empty() ? -1 : bot.registry.begin()->first;
    int k = 0;
    for (OwnShip& s : bot.ships) {
        bool sinks = false;
        if (gameType == 0) sinks = s.index != survivor;
        if (gameType == 1 || gameType == 3 || gameType == 4) sinks = bot.team == 1;
        if (sinks) s.sinkAtMs = bot.battleStart + 1500 + 400 * uint64_t(k++);
    }
}

int attackerFor(const Bot& bot, int victim, int gameType) {
    const int victimTeam = bot.registry.count(victim) ? bot.registry.at(victim).team : -1;
    for (const auto& [index, ship] : bot.registry)
        if (index != victim && ship.afloat && (gameType == 0 || ship.team != victimTeam)) return index;
    return -1;
}

void sink(Bot& bot, const Endpoint& server, OwnShip& ship, int gameType, bool final) {
    Damagelevel damage;
    damage.shipIndex = int8_t(ship.index);
    damage.hull = 100;
    damage.sails = 50;
    damage.crew = 30;
    damage.attackerIndex = int16_t(attackerFor(bot, ship.index, gameType));
    damage.byShip = damage.attackerIndex >= 0 ? 1 : 0;
    damage.damageKind = 1;
    damage.sunk = final ? 1 : 0;
    damage.target = fakeAddressOf(server);
    bot.manager.sendCmd(&damage);
    if (final) {
        notify(bot, server, ntf_ship_lost_a, ship.index);
        ship.afloat = false;
        say(bot, "ship " + std::to_string(ship.index) + " sunk by ship " + std::to_string(damage.attackerIndex));
    }
}

void sail(Bot& bot, const Endpoint& server, uint64_t now) {
    const float t = float(now - bot.battleStart) / 1000.0f;
    for (const OwnShip& s : bot.ships) {
        if (!s.afloat || s.index < 0) continue;
        Coordinates c;
        c.shipIndex = int8_t(s.index);
        c.position = VC3(100.0f + 50.0f * std::cos(t + float(s.index)), 0, 100.0f + 50.0f * std::sin(t + float(s.index)));
        c.positionB = c.position;
        c.target = fakeAddressOf(server);
        bot.manager.sendCmd(&c);
    }
}

void fire(Bot& bot, const Endpoint& server) {
    for (const OwnShip& s : bot.ships) {
        if (!s.afloat || s.index < 0) continue;
        CannonShot shot;
        shot.ballType = 1;
        shot.hitTime = 800;
        shot.from = VC3(100, 2, 100);
        shot.to = VC3(150, 0, 150);
        shot.target = fakeAddressOf(server);
        bot.manager.sendCmd(&shot);
        return;
    }
}

// Domination: capture the buoys whose number matches the team's parity, once each holder change.
void captureBuoys(Bot& bot, const Endpoint& server) {
    int myShip = -1;
    for (const OwnShip& s : bot.ships)
        if (s.afloat && s.index >= 0) myShip = s.index;
    if (myShip < 0 || bot.team < 0) return;
    for (auto& [id, buoy] : bot.buoys) {
        if (id % 2 != bot.team % 2 || buoy.team == bot.team) continue;
        BuoyInfo capture = buoy;
        capture.team = int8_t(bot.team);
        capture.ship = int8_t(myShip);
        capture.target = fakeAddressOf(server);
        bot.manager.sendCmd(&capture);
        buoy.team = int8_t(bot.team);
        say(bot, "captured buoy " + std::to_string(id) + " with ship " + std::to_string(myShip));
    }
}

void readQueue(Bot& bot, bool reportScores) {
    RAROREzovedodidAdizora& m = bot.manager;
    for (unsigned i = 0; i < m.getCmdCount(); ++i) {
        BaseCommand* record = m.getCmd(int(i));
        if (!record) continue;
        switch (record->getPacketID()) {
            case cmd_notifier: {
                auto* n = static_cast<Notifier*>(record);
                if (n->code == ntf_team_id && bot.team < 0) {
                    bot.team = n->param & 0xFFFF;
                    say(bot, "team " + std::to_string(bot.team));
                } else if (n->code == ntf_team_id) {
                    bot.team = n->param & 0xFFFF;
                } else if (n->code == ntf_game_result) {
                    bot.result = n->param;
                } else if (n->code == ntf_ship_lost_a || n->code == ntf_ship_lost_b) {
                    if (bot.registry.count(n->param)) bot.registry[n->param].afloat = false;
                }
                break;
            }
            case cmd_ship_info: {
                auto* s = static_cast<ShipInfo*>(record);
                bot.registry[s->shipIndex] = KnownShip{s->team, s->afloat != 0};
                if (bot.seen && s->owner == bot.seenAs)
                    for (OwnShip& own : bot.ships)
                        if (own.ownerIndex == s->ownerShipIndex && own.index != s->shipIndex) {
                            own.index = s->shipIndex;
                            say(bot, "ship " + std::to_string(own.ownerIndex + 1) + " has index " +
                                         std::to_string(own.index));
                        }
                break;
            }
            case cmd_player_info: {
                // The server fills `address` with the sender as it sees it; the local port tells
                // which entry is ours (the local address itself may differ, e.g. on loopback).
                auto* p = static_cast<PlayerInfo*>(record);
                if (!bot.seen && p->joined == 1 && p->address.port == m.getPlayerStr().port &&
                    fieldText(p->name) == bot.name) {
                    bot.seenAs = p->address;
                    bot.seen = true;
                }
                break;
            }
            case cmd_respawn_ship: {
                auto* r = static_cast<RespawnShip*>(record);
                if (bot.registry.count(r->shipIndex)) bot.registry[r->shipIndex].afloat = true;
                for (OwnShip& own : bot.ships)
                    if (own.index == r->shipIndex) own.afloat = true;
                break;
            }
            case cmd_buoy_info: {
                auto* b = static_cast<BuoyInfo*>(record);
                bot.buoys[b->buoyId] = *b;
                break;
            }
            case cmd_team_score: {
                auto* t = static_cast<TeamScore*>(record);
                auto it = bot.scores.find(t->team);
                if (reportScores && (it == bot.scores.end() || it->second != t->score))
                    say(bot, "score of team " + std::to_string(t->team) + ": " + std::to_string(t->score));
                bot.scores[t->team] = t->score;
                break;
            }
            default:
                break;
        }
    }
    m.clearCache();
}

void reportResult(Bot& bot, int gameType) {
    if (gameType == 0) {
        int afloat = 0;
        std::string last;
        for (const auto& [index, ship] : bot.registry)
            if (ship.afloat) {
                ++afloat;
                last = std::to_string(index);
            }
        say(bot, afloat == 1 ? "result: ship " + last + " is the last afloat"
                             : "result: " + std::to_string(afloat) + " ships afloat at the end");
    } else if (gameType >= 1 && gameType <= 4) {
        if (bot.result == -2)
            say(bot, "result: none received");
        else if (bot.result < 0)
            say(bot, "result: draw");
        else
            say(bot, std::string("result: team ") + std::to_string(bot.result) + " wins" +
                         (bot.result == bot.team ? " (our team)" : ""));
    }
}

void onPhase(Bot& bot, const PlayOptions& options, const GameType& game, uint32_t phase) {
    const uint32_t previous = bot.phase;
    bot.phase = phase;
    bot.phaseKnown = true;
    say(bot, "phase " + std::to_string(phase) + " (" + phaseName(phase) + ")");
    const int gameType = int32_t(game.gameType);
    if (bot.stage == Stage::lobby || bot.stage == Stage::battle) {
        if ((phase == 2 || phase == 3 || phase == 4) && !bot.shipsSent) registerShips(bot, options.server, game);
        if (phase == 3 && !bot.playSent) {
            notify(bot, options.server, ntf_ready_to_play, 0);
            bot.playSent = true;
        }
        if (phase == 4) {
            setStage(bot, Stage::battle);
            bot.battleStart = nowMs();
            if (gameType == 2) notify(bot, options.server, ntf_buoys_request, 0);
        }
        if (phase == 5) {
            reportResult(bot, gameType);
            setStage(bot, Stage::over);
        }
    } else if (bot.stage == Stage::over && phase == 0 && previous != 0) {
        ++bot.battlesDone;
        say(bot, "battle " + std::to_string(bot.battlesDone) + " over, server back to phase 0");
        if (bot.battlesDone >= options.battles) {
            setStage(bot, Stage::done);
        } else {
            resetBattle(bot);
            notify(bot, options.server, ntf_ready_to_init, 0);
            setStage(bot, Stage::lobby);
        }
    }
}

void step(Bot& bot, const PlayOptions& options, bool reportScores) {
    RAROREzovedodidAdizora& m = bot.manager;
    const Endpoint& server = options.server;
    m.update(0);
    readQueue(bot, reportScores);
    if (drainMessages(m, options.verbose, bot.name + ": ") && bot.stage == Stage::connecting) {
        fail(bot, "cannot connect to " + server.text + ": the connection attempt failed");
        return;
    }
    const uint64_t now = nowMs();
    if (!bot.haveKey) {
        const std::vector<GameType>& games = *m.getAllGames();
        if (m.getGame(fakeAddressOf(server))) {
            bot.serverKey = fakeAddressOf(server);
            bot.haveKey = true;
        } else if (games.size() == 1) {
            bot.serverKey = games[0].origin;
            bot.haveKey = true;
        }
    }
    GameType* game = bot.haveKey ? m.getGame(bot.serverKey) : nullptr;
    if (bot.stage != Stage::connecting && !game) {
        fail(bot, "lost the connection to " + server.text);
        return;
    }

    switch (bot.stage) {
        case Stage::connecting:
            if (game) {
                say(bot, std::string("connected to ") + fieldText(game->name) + " (" + gameTypeName(int32_t(game->gameType)) +
                             ", phase " + std::to_string(game->phase) + ")");
                LogIn login;
                setField(login.userName, bot.name);
                setField(login.password, options.password);
                m.sendLogin(&login, server.ip, server.port);
                setStage(bot, Stage::loggingIn);
            } else if (now - bot.stageSince > 10000) {
                fail(bot, "cannot connect to " + server.text + ": no answer");
            }
            return;
        case Stage::loggingIn: {
            const int verdict = m.isAccepted(fakeAddressOf(server));
            if (verdict == 1 || verdict == 2) {
                say(bot, "logged in (verdict " + std::to_string(verdict) + ")");
                PlayerInfo player;
                setField(player.name, bot.name);
                player.joined = 1;
                player.target = fakeAddressOf(server);
                m.sendCmd(&player);
                setStage(bot, Stage::joining);
            } else if (verdict == 3) {
                fail(bot, "login declined: wrong password");
            } else if (verdict == 4) {
                fail(bot, "login refused: the game is full");
            } else if (verdict != 0) {
                fail(bot, "login refused with verdict " + std::to_string(verdict));
            } else if (now - bot.stageSince > 10000) {
                fail(bot, "no login verdict from " + server.text);
            }
            return;
        }
        case Stage::joining:
            if (bot.team >= 0 && bot.seen) {
                m.gamesRead();
                requestSlot(bot, server, options.ships);
                setStage(bot, Stage::reserving);
            } else if (now - bot.stageSince > 10000) {
                fail(bot, "no team given by " + server.text);
            }
            return;
        case Stage::reserving:
            if (m.isGameListChanged()) {
                m.gamesRead();
                bot.reserved = game->yourReservedSlots;
                const bool stuck = game->freeSlots == 0 || bot.reserved >= game->maxShipsPerPlayer;
                if (bot.reserved < options.ships && !stuck && bot.slotRequests < 4 * options.ships + 8) {
                    requestSlot(bot, server, options.ships);
                    return;
                }
                if (bot.reserved == 0) {
                    fail(bot, "no ship slot free on " + server.text);
                    return;
                }
                say(bot, "reserved " + std::to_string(bot.reserved) + " slots");
                notify(bot, server, ntf_ready_to_init, 0);
                setStage(bot, Stage::lobby);
            } else if (now - bot.stageSince > 10000) {
                fail(bot, "no answer to the slot request from " + server.text);
            }
            return;
        default:
            break;
    }

    if (game->phase != bot.phase || !bot.phaseKnown) onPhase(bot, options, *game, game->phase);
    if (bot.stage == Stage::lobby && bot.shipsSent && !bot.spawnSent) {
        bool known = true;
        for (const OwnShip& s : bot.ships) known = known && s.index >= 0;
        if (known) {
            notify(bot, server, ntf_ready_to_spawn, 0);
            bot.spawnSent = true;
        }
    }
    if (bot.stage != Stage::battle) return;
    const int gameType = int32_t(game->gameType);
    if (!bot.planned) planBattle(bot, gameType);
    if (now - bot.lastMove >= 100) {
        sail(bot, server, now);
        bot.lastMove = now;
    }
    if (now - bot.lastShot >= 1000) {
        fire(bot, server);
        bot.lastShot = now;
    }
    for (OwnShip& s : bot.ships) {
        if (!s.afloat || s.sinkAtMs == 0 || s.index < 0) continue;
        if (!s.damaged && now + 500 >= s.sinkAtMs) {
            sink(bot, server, s, gameType, false);
            s.damaged = true;
        }
        if (now >= s.sinkAtMs) sink(bot, server, s, gameType, true);
    }
    if (gameType == 2) captureBuoys(bot, server);
}

}  // namespace

int runPlay(const PlayOptions& options) {
    std::vector<std::unique_ptr<Bot>> bots;
    for (int i = 0; i < options.bots; ++i) {
        auto bot = std::make_unique<Bot>();
        bot->name = options.bots == 1 ? options.name : options.name + "-" + std::to_string(i + 1);
        bot->manager.openConnection();
        char line[511];
        bool opened = true;
        while (bot->manager.getMessage(line)) {
            if (std::string(line).find("Failed to initialize") != std::string::npos) opened = false;
            if (options.verbose) std::fprintf(stderr, "%s: %s\n", bot->name.c_str(), line);
        }
        if (!opened) {
            std::fprintf(stderr, "tidelink-cli: error: %s could not open a network port\n", bot->name.c_str());
            return 1;
        }
        bot->manager.addConnection(options.server.ip, options.server.port);
        setStage(*bot, Stage::connecting);
        bots.push_back(std::move(bot));
    }

    const uint64_t start = nowMs();
    while (true) {
        bool allDone = true;
        for (size_t i = 0; i < bots.size(); ++i) {
            Bot& bot = *bots[i];
            if (bot.stage == Stage::done) continue;
            step(bot, options, i == 0);
            if (bot.stage == Stage::failed) {
                std::fprintf(stderr, "tidelink-cli: error: %s: %s\n", bot.name.c_str(), bot.error.c_str());
                return 1;
            }
            allDone = allDone && bot.stage == Stage::done;
        }
        if (allDone) {
            std::printf("all battles finished\n");
            return 0;
        }
        if (options.quitAfterS >= 0) {
            bool leave = true;
            for (const auto& bot : bots)
                leave = leave && bot->stage == Stage::battle &&
                        nowMs() - bot->battleStart >= uint64_t(options.quitAfterS) * 1000;
            if (leave) {
                // Let what was sent be acknowledged first, so the disconnection notice goes out.
                const uint64_t until = nowMs() + 300;
                while (nowMs() < until) {
                    for (auto& bot : bots) {
                        bot->manager.update(0);
                        bot->manager.clearCache();
                        drainMessages(bot->manager, options.verbose, bot->name + ": ");
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                for (auto& bot : bots) {
                    bot->manager.closeConnection();
                    say(*bot, "left the battle");
                }
                return 0;
            }
        }
        if (secondsSince(start) > options.timeoutS) {
            std::fprintf(stderr, "tidelink-cli: error: no battle end within %d s\n", options.timeoutS);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
