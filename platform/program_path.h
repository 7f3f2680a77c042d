// The running program's own path, folder and file name; the computer's name.
#pragma once

#include <string>

namespace platform {

struct ProgramPath {
    std::string fullPath;   // absolute, lexically cleaned, symbolic links not resolved
    std::string folder;     // fullPath before its last '/', no trailing '/'
    std::string fileName;   // fullPath after its last '/'
};

// From argv[0]: made absolute against the working directory; a bare name is looked up on
// PATH; /proc/self/exe is the last resort.
ProgramPath programPathFrom(const char* argv0);
// Makes `folder` the working directory; false when that fails.
bool changeDirectory(const std::string& folder);
std::string computerName();

}  // namespace platform
