// The two ways the server sends a record, and the per-identifier receive counts.
#pragma once

#include <map>

#include "net/system_address.h"

namespace KSTMP {
struct BaseCommand;
}

// To the record's target: origin = the address the target sees us at; dropped when the target
// is not connected; broadcast when the target is the unassigned address.
void sendRecord(KSTMP::BaseCommand* record);
// Once to every player in address order; with includeOrigin false the players whose address
// equals the record's origin (as received) are skipped.
void sendToPlayers(KSTMP::BaseCommand* record, bool includeOrigin);

// Received command records by identifier (91 and up), emptied by the traffic report.
extern std::map<int, int> packetCounts;

// "a.b.c.d:port". The text stays valid for the next few calls (a small ring of buffers), so
// several addresses can be printed in one line.
const char* addressText(const SystemAddress& address);
