#include "tools/cli_support.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstring>

bool parseEndpoint(const std::string& text, Endpoint& out, std::string& error) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        error = "'" + text + "' is not host:port";
        return false;
    }
    long port = 0;
    if (!parseNumber(text.substr(colon + 1), 1, 65535, port)) {
        error = "'" + text + "': port must be a number from 1 to 65535";
        return false;
    }
    const std::string host = text.substr(0, colon);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        error = "cannot resolve host '" + host + "'";
        return false;
    }
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, dotted, sizeof dotted);
    freeaddrinfo(found);
    out.ip = dotted;
    out.port = int(port);
    out.text = text;
    return true;
}

KSTMP::FakeAddress fakeAddressOf(const Endpoint& e) {
    in_addr a{};
    inet_pton(AF_INET, e.ip.c_str(), &a);
    return KSTMP::FakeAddress(a.s_addr, uint16_t(e.port));
}

std::string addressText(const KSTMP::FakeAddress& a) {
    in_addr in{};
    in.s_addr = a.ip;
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, dotted, sizeof dotted);
    return std::string(dotted) + ":" + std::to_string(a.port);
}

const char* gameTypeName(int32_t gameType) {
    switch (gameType) {
        case 0: return "Last Ship floating";
        case 1: return "Team Death Match";
        case 2: return "Domination";
        case 3: return "Commander vs Commander";
        case 4: return "Team vs Team";
        case -1: return "No end rule";
        default: return "Unknown";
    }
}

const char* phaseName(uint32_t phase) {
    switch (phase) {
        case 0: return "reservations";
        case 2: return "initialize";
        case 3: return "spawn";
        case 4: return "in game";
        case 5: return "game over";
        case 6: return "quit";
        default: return "unknown";
    }
}

bool drainMessages(RAROREzovedodidAdizora& manager, bool verbose, const std::string& who) {
    char line[511];
    bool failed = false;
    while (manager.getMessage(line)) {
        if (std::strstr(line, "Connection attempt failed")) failed = true;
        if (verbose && line[0] != 0) std::fprintf(stderr, "%s%s\n", who.c_str(), line);
    }
    return failed;
}

bool parseNumber(const std::string& text, long low, long high, long& out) {
    if (text.empty() || text.size() > 9) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    const long value = std::stol(text);
    if (value < low || value > high) return false;
    out = value;
    return true;
}

uint64_t nowMs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

double secondsSince(uint64_t startMs) { return double(nowMs() - startMs) / 1000.0; }
