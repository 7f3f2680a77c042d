// `scan`: finds servers by the LAN broadcast and by address, and prints one row per server.
#include "tools/scan.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "tools/cli_support.h"

namespace {

std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

struct Latency {
    int transit = -1;  // from the server's pong, as the library keeps it
    int roundTrip = -1;  // ping sent to pong read, measured here
};

}  // namespace

int runScan(const ScanOptions& options) {
    RAROREzovedodidAdizora manager;
    manager.openConnection();
    for (const Endpoint& e : options.servers) manager.addConnection(e.ip, e.port);
    if (options.broadcast) manager.scanServers();

    std::map<KSTMP::FakeAddress, Latency> latency;
    const uint64_t start = nowMs();
    uint64_t lastAsk = 0, lastPing = 0;
    while (nowMs() - start < uint64_t(options.waitMs)) {
        manager.update(0);
        for (unsigned i = 0; i < manager.getCmdCount(); ++i) {
            KSTMP::BaseCommand* record = manager.getCmd(int(i));
            if (!record || record->getPacketID() != KSTMP::cmd_notifier) continue;
            auto* notifier = static_cast<KSTMP::Notifier*>(record);
            if (notifier->code == KSTMP::ntf_pong && lastPing != 0)
                latency[notifier->origin].roundTrip = int(nowMs() - lastPing);
        }
        manager.clearCache();
        drainMessages(manager, options.verbose, "scan: ");
        const uint64_t now = nowMs();
        if (now - lastAsk >= 300) {
            manager.askGameLists();
            lastAsk = now;
        }
        if (now - lastPing >= 300 && !manager.getAllGames()->empty()) {
            manager.pingServers();
            lastPing = now;
        }
        // Without the broadcast, stop as soon as every named server answered a ping.
        if (!options.broadcast) {
            bool all = !options.servers.empty();
            for (const Endpoint& e : options.servers) {
                auto it = latency.find(fakeAddressOf(e));
                all = all && manager.getGame(fakeAddressOf(e)) && it != latency.end() && it->second.roundTrip >= 0;
            }
            if (all) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    const std::vector<KSTMP::GameType>& games = *manager.getAllGames();
    for (const KSTMP::GameType& g : games) latency[g.origin].transit = g.transitTime;
    if (options.json) {
        std::printf("[");
        for (size_t i = 0; i < games.size(); ++i) {
            const KSTMP::GameType& g = games[i];
            const Latency& l = latency[g.origin];
            std::printf("%s\n  {\"address\": %s, \"name\": %s, \"server_name\": %s, \"game_type\": %d, "
                        "\"game_type_name\": %s, \"phase\": %u, \"phase_name\": %s, \"players\": %u, "
                        "\"reserved_slots\": %u, \"free_slots\": %u, \"password\": %s, \"latency_ms\": %d, "
                        "\"round_trip_ms\": %d}",
                        i ? "," : "", jsonText(addressText(g.origin)).c_str(), jsonText(fieldText(g.name)).c_str(),
                        jsonText(fieldText(g.serverName)).c_str(), int32_t(g.gameType),
                        jsonText(gameTypeName(int32_t(g.gameType))).c_str(), unsigned(g.phase),
                        jsonText(phaseName(g.phase)).c_str(), unsigned(g.playerCount), unsigned(g.reservedSlots),
                        unsigned(g.freeSlots), g.openServer ? "false" : "true", l.transit, l.roundTrip);
        }
        std::printf("%s]\n", games.empty() ? "" : "\n");
    } else {
        std::printf("%-21s %-24s %-24s %-22s %-16s %7s %8s %4s %8s %8s\n", "ADDRESS", "NAME", "SERVER", "GAME TYPE",
                    "PHASE", "PLAYERS", "RESERVED", "FREE", "PASSWORD", "LATENCY");
        for (const KSTMP::GameType& g : games) {
            const Latency& l = latency[g.origin];
            const std::string phase = std::to_string(g.phase) + " " + phaseName(g.phase);
            const std::string shown = l.roundTrip >= 0 ? std::to_string(l.transit) + " ms" : "-";
            std::printf("%-21s %-24s %-24s %-22s %-16s %7u %8u %4u %8s %8s\n", addressText(g.origin).c_str(),
                        fieldText(g.name).c_str(), fieldText(g.serverName).c_str(),
                        gameTypeName(int32_t(g.gameType)), phase.c_str(), unsigned(g.playerCount),
                        unsigned(g.reservedSlots), unsigned(g.freeSlots), g.openServer ? "no" : "yes",
                        shown.c_str());
        }
        if (games.empty()) std::printf("(no servers found)\n");
    }

    int status = 0;
    for (const Endpoint& e : options.servers)
        if (!manager.getGame(fakeAddressOf(e))) {
            std::fprintf(stderr, "tidelink-cli: no answer from %s (%s:%d)\n", e.text.c_str(), e.ip.c_str(), e.port);
            status = 1;
        }
    std::fflush(stdout);
    return status;
}
