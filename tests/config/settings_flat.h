// Settings as plain maps (group path -> key -> value text), for comparing two loads.
#pragma once

#include <map>
#include <string>

#include "server/config/settings.h"

using Flat = std::map<std::string, std::map<std::string, std::string>>;

inline Flat flatten(const Settings& settings) {
    Flat flat;
    for (const auto& [path, keys] : settings.groups()) {
        auto& group = flat[path];
        for (const auto& [key, value] : keys) group[key] = value.text;
    }
    return flat;
}
