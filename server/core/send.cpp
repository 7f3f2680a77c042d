#include "server/core/send.h"

#include <cstdio>
#include <cstring>

#include "protocol/base_command.h"
#include "protocol/records.h"
#include "server/core/server_globals.h"
#include "server/session/players.h"

std::map<int, int> packetCounts;

const char* addressText(const SystemAddress& address) {
    static thread_local char ring[8][32];
    static thread_local unsigned next = 0;
    char* text = ring[next++ % 8];
    std::snprintf(text, sizeof ring[0], "%s", address.ToString(true));
    return text;
}

void sendRecord(KSTMP::BaseCommand* record) {
    const SystemAddress target = record->target.toSystemAddress();
    const SystemAddress origin = rakPeer->GetExternalID(target);
    if (origin == UNASSIGNED_SYSTEM_ADDRESS)
        return;
    record->origin.setFrom(origin);
    record->timeStamp = RakNet::GetTime();
    rakPeer->Send(reinterpret_cast<const char*>(record), record->size, HIGH_PRIORITY, RELIABLE_ORDERED, 0, target,
                  target == UNASSIGNED_SYSTEM_ADDRESS);
}

void sendToPlayers(KSTMP::BaseCommand* record, bool includeOrigin) {
    const SystemAddress originator = record->origin.toSystemAddress();
    for (const auto& entry : players) {
        if (!includeOrigin && entry.first == originator)
            continue;
        record->target.setFrom(entry.first);
        sendRecord(record);
    }
}
