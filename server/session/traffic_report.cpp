#include "server/session/traffic_report.h"

#include "net/rak_peer.h"
#include "platform/console.h"
#include "server/core/send.h"
#include "server/core/server_globals.h"

void print_statistics_report() {
    const SystemAddress first = rakPeer->GetSystemAddressFromIndex(0);
    char text[2048];
    StatisticsToString(rakPeer->GetStatistics(first), text, 2);
    platform::consolePrint("%s", text);
    for (const auto& [identifier, count] : packetCounts)
        platform::consolePrint("Packettype %i, count %i\n", identifier, count);
    packetCounts.clear();
}
