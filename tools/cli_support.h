// Helpers shared by the commands of tidelink-cli: addresses, names of game types and phases,
// the manager's log.
#pragma once

#include <cstdint>
#include <string>

#include "client/tidelink.h"

struct Endpoint {
    std::string ip;  // dotted
    int port = 0;
    std::string text;  // as the user wrote it
};

// Parses "host:port"; host may be a name, resolved to IPv4. On failure returns false and sets `error`.
bool parseEndpoint(const std::string& text, Endpoint& out, std::string& error);

KSTMP::FakeAddress fakeAddressOf(const Endpoint& e);
std::string addressText(const KSTMP::FakeAddress& a);

const char* gameTypeName(int32_t gameType);
const char* phaseName(uint32_t phase);

// Copies a fixed-size text field that may lack its terminating zero.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != 0) ++n;
    return std::string(field, n);
}
template <size_t N>
void setField(char (&field)[N], const std::string& text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < N; ++i) field[i] = i < n ? text[i] : 0;
}

// Drains the manager's log; lines are printed to stderr when `verbose`. Returns true when a
// line told of a failed connection attempt.
bool drainMessages(RAROREzovedodidAdizora& manager, bool verbose, const std::string& who);

// Reads a whole number option value; false when it is none or outside [low, high].
bool parseNumber(const std::string& text, long low, long high, long& out);

double secondsSince(uint64_t startMs);
uint64_t nowMs();
