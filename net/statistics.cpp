#include "net/statistics.h"

#include <cinttypes>
#include <cstdio>

void StatisticsToString(RakNetStatistics* s, char* buffer, int verbosityLevel) {
    if (!buffer)
        return;
    buffer[0] = 0;
    if (!s)
        return;
    // Every line is bounded, so the whole text stays far below the 2048 bytes the caller provides.
    int n = std::snprintf(buffer, 2048,
                          "Messages sent: %" PRIu64 "\n"
                          "Messages received: %" PRIu64 "\n"
                          "Bytes sent: %" PRIu64 "\n"
                          "Bytes received: %" PRIu64 "\n",
                          s->messagesSent, s->messagesReceived, s->bytesSent, s->bytesReceived);
    if (verbosityLevel >= 1 && n > 0 && n < 2048)
        n += std::snprintf(buffer + n, 2048 - n,
                           "Datagrams sent: %" PRIu64 "\n"
                           "Datagrams received: %" PRIu64 "\n"
                           "Messages resent: %" PRIu64 "\n"
                           "Packets lost: %" PRIu64 "\n"
                           "Packet loss: %.2f%%\n",
                           s->datagramsSent, s->datagramsReceived, s->messagesResent, s->packetsLost,
                           s->packetLoss * 100.0);
    if (verbosityLevel >= 2 && n > 0 && n < 2048)
        std::snprintf(buffer + n, 2048 - n,
                      "Round trip time: %u ms\n"
                      "Round trip time variance: %u ms\n"
                      "Connection start time: %u\n",
                      s->roundTripTime, s->roundTripTimeVariance, s->connectionStartTime);
}
