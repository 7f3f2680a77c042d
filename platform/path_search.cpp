#include "platform/path_search.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::vector<std::string> executablesOnPath(const std::string& name) {
    std::vector<std::string> found;
    const char* path = std::getenv("PATH");
    if (name.empty() || name.find('/') != std::string::npos || path == nullptr)
        return found;
    std::string entries = path;
    size_t start = 0;
    for (;;) {
        size_t end = entries.find(':', start);
        std::string folder = entries.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            found.push_back(candidate);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return found;
}

}  // namespace platform
