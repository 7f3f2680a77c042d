// tidelink-cli: a server browser and a battle bot for Korvane LAN servers.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli_support.h"
#include "tools/play.h"
#include "tools/scan.h"

namespace {

const char* usageText =
    "usage: tidelink-cli scan [host:port ...] [--json] [--no-broadcast] [--wait SECONDS] [--verbose]\n"
    "       tidelink-cli play host:port [--name N] [--password P] [--ships K] [--bots B]\n"
    "                         [--battles N] [--timeout SECONDS] [--quit-after SECONDS] [--verbose]\n"
    "\n"
    "scan   finds servers by a LAN broadcast (UDP port 61101) and asks the servers named;\n"
    "       prints one row per server: address, name, server name, game type, phase, players,\n"
    "       reserved and free slots, password needed, latency. --json prints a JSON array,\n"
    "       --no-broadcast asks only the named servers, --wait sets the search time (default 2).\n"
    "       Exit status 1 when a named server did not answer.\n"
    "play   joins the server as B players (default 1), each logging in, reserving K ship slots\n"
    "       (default 1), and plays N battles (default 1) by a simple script, printing every phase\n"
    "       change and the result. --quit-after leaves that many seconds into the battle.\n"
    "       Exit status 0 when every battle reached its end, 1 when the connection, the login or\n"
    "       the battle failed (or --timeout, default 180 s, passed), 2 for bad arguments.\n";

int usageError(const std::string& why) {
    std::fprintf(stderr, "tidelink-cli: %s\n%s", why.c_str(), usageText);
    return 2;
}

// Reads the value of option `args[i]`; false when it is missing.
bool value(const std::vector<std::string>& args, size_t& i, std::string& out) {
    if (i + 1 >= args.size()) return false;
    out = args[++i];
    return true;
}

int scanCommand(const std::vector<std::string>& args) {
    ScanOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        long n = 0;
        if (a == "--json") {
            options.json = true;
        } else if (a == "--no-broadcast") {
            options.broadcast = false;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a == "--wait") {
            if (!value(args, i, v) || !parseNumber(v, 1, 60, n)) return usageError("--wait needs seconds from 1 to 60");
            options.waitMs = int(n) * 1000;
        } else if (a.rfind("--", 0) == 0) {
            return usageError("unknown option '" + a + "'");
        } else {
            Endpoint e;
            std::string error;
            if (!parseEndpoint(a, e, error)) return usageError(error);
            options.servers.push_back(e);
        }
    }
    if (!options.broadcast && options.servers.empty())
        return usageError("--no-broadcast needs at least one host:port");
    return runScan(options);
}

int playCommand(const std::vector<std::string>& args) {
    PlayOptions options;
    bool haveServer = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        long n = 0;
        if (a == "--name") {
            if (!value(args, i, v) || v.empty() || v.size() > 20) return usageError("--name needs 1 to 20 characters");
            options.name = v;
        } else if (a == "--password") {
            if (!value(args, i, v) || v.size() > 24) return usageError("--password needs at most 24 characters");
            options.password = v;
        } else if (a == "--ships") {
            if (!value(args, i, v) || !parseNumber(v, 1, 127, n)) return usageError("--ships needs a number from 1 to 127");
            options.ships = int(n);
        } else if (a == "--bots") {
            if (!value(args, i, v) || !parseNumber(v, 1, 50, n)) return usageError("--bots needs a number from 1 to 50");
            options.bots = int(n);
        } else if (a == "--battles") {
            if (!value(args, i, v) || !parseNumber(v, 1, 100, n)) return usageError("--battles needs a number from 1 to 100");
            options.battles = int(n);
        } else if (a == "--timeout") {
            if (!value(args, i, v) || !parseNumber(v, 1, 86400, n)) return usageError("--timeout needs seconds from 1 to 86400");
            options.timeoutS = int(n);
        } else if (a == "--quit-after") {
            if (!value(args, i, v) || !parseNumber(v, 0, 86400, n)) return usageError("--quit-after needs seconds from 0 to 86400");
            options.quitAfterS = int(n);
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a.rfind("--", 0) == 0) {
            return usageError("unknown option '" + a + "'");
        } else if (haveServer) {
            return usageError("play takes one host:port, got '" + a + "' as well");
        } else {
            std::string error;
            if (!parseEndpoint(a, options.server, error)) return usageError(error);
            haveServer = true;
        }
    }
    if (!haveServer) return usageError("play needs the server's host:port");
    return runPlay(options);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given");
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        std::printf("%s", usageText);
        return 0;
    }
    if (args[0] == "scan") return scanCommand(args);
    if (args[0] == "play") return playCommand(args);
    return usageError("unknown command '" + args[0] + "'");
}
