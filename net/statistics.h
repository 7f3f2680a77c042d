// Per-connection traffic figures and their text form.
#pragma once

#include <cstdint>

struct RakNetStatistics {
    uint64_t messagesSent;
    uint64_t messagesReceived;
    uint64_t bytesSent;          // user payload bytes
    uint64_t bytesReceived;
    uint64_t datagramsSent;      // protocol commands sent (messages, resends, keep-alives)
    uint64_t datagramsReceived;  // UDP datagrams received from the system
    uint64_t messagesResent;     // resends after a missing acknowledgement
    uint64_t packetsLost;
    double packetLoss;           // fraction 0..1 as measured by the transport
    uint32_t roundTripTime;      // ms, smoothed
    uint32_t roundTripTimeVariance;
    uint32_t connectionStartTime; // RakNet::GetTime() when the connection was made
};

// Writes "Label: value" lines into buffer (at least 2048 bytes); verbosity 0 to 2 adds lines.
// A null statistics pointer writes an empty text.
void StatisticsToString(RakNetStatistics* s, char* buffer, int verbosityLevel);
