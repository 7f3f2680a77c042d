// Which sibling copies of the pool run, and which free sibling to start next.
#pragma once

#include <string>

#include "server/config/settings.h"

namespace pool {

// This copy as the pool sees it.
struct PoolIdentity {
    std::string dataDirectory;    // program folder, no trailing '/'
    std::string instanceName;     // its last component: this copy's key in the group
    std::string programFileName;  // started as "../<key>/<programFileName>"
    std::string groupFile;
    std::string groupName;
    int port = 0;
};

// `dataDirectory` up to and including its last '/', followed by `key`.
std::string siblingFolder(const std::string& dataDirectory, const std::string& key);
// "../<key>/<programFileName>", relative to the copy's own folder.
std::string launchPath(const std::string& key, const std::string& programFileName);
// A key that names a folder beside ours: not empty, not "." or "..", no '/' or '\\'. Any other
// key could lead a start outside the parent folder and is never started.
bool isPlainFolderKey(const std::string& key);
// Whether a copy holds the folder lock of `folder`.
bool siblingRuns(const std::string& folder);

enum class ScanMoment { Startup, GameBegin };

struct ScanResult {
    int count = 0;          // running copies whose state is 1 (available)
    std::string candidate;  // launch path of the last free sibling in key order; empty: none
};

// Walks the keys of the group (keep_available_count excepted): counts running available
// copies, writes 0 for every copy that does not run (printing the marking message of
// `moment`), and picks the last one not listed in error_ports as the candidate.
ScanResult scanSiblings(Settings& store, const PoolIdentity& me, ScanMoment moment);

}  // namespace pool
