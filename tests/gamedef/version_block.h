// Parser for the version resource: the tree of VS_VERSIONINFO, StringFileInfo, StringTable,
// String, VarFileInfo and Var nodes. Malformed blocks throw std::runtime_error.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pe {

struct VersionNode {
    std::string key;
    uint16_t type = 0;           // 1 text, 0 binary
    std::vector<uint8_t> value;  // raw bytes as stored (text: UTF-16LE, without padding)
    std::vector<VersionNode> children;
};

VersionNode parseVersionBlock(const std::vector<uint8_t>& data);

// Text value of a String node (UTF-16 up to its terminator; ASCII expected).
std::string versionText(const VersionNode& node);

// Child by key, or nullptr.
const VersionNode* versionChild(const VersionNode& node, const std::string& key);

struct FixedFileInfo {
    uint32_t signature, structVersion, fileVersionMS, fileVersionLS, productVersionMS, productVersionLS,
        fileFlagsMask, fileFlags, fileOS, fileType, fileSubtype, fileDateMS, fileDateLS;
};
FixedFileInfo fixedFileInfo(const VersionNode& root);

}  // namespace pe
