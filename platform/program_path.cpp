#include "platform/program_path.h"

#include "platform/path_search.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string workingDirectory() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr)
            return buffer.data();
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

// Absolute form of `path` with "." and ".." removed by text alone; links are not followed.
std::string absoluteClean(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::string cwd = workingDirectory();
        if (cwd.empty())
            return {};
        full = cwd + "/" + full;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string clean;
    for (const std::string& part : parts)
        clean += "/" + part;
    return clean.empty() ? "/" : clean;
}

std::string selfExe() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    return std::string(buffer.data(), static_cast<size_t>(n));
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A bare name: the first PATH entry (or the working directory) that holds this very program,
// else the first executable of that name on PATH.
std::string locateBareName(const std::string& name) {
    std::vector<std::string> candidates = executablesOnPath(name);
    for (const std::string& candidate : candidates)
        if (sameFile(candidate, "/proc/self/exe"))
            return candidate;
    if (sameFile("./" + name, "/proc/self/exe"))
        return "./" + name;
    return candidates.empty() ? std::string() : candidates.front();
}

}  // namespace

ProgramPath programPathFrom(const char* argv0) {
    std::string given = argv0 != nullptr ? argv0 : "";
    std::string located;
    if (given.find('/') != std::string::npos)
        located = given;
    else if (!given.empty())
        located = locateBareName(given);
    std::string full = located.empty() ? std::string() : absoluteClean(located);
    if (full.empty()) {
        std::string exe = selfExe();
        if (!exe.empty())
            full = absoluteClean(exe);
    }

    ProgramPath result;
    result.fullPath = full;
    size_t slash = full.rfind('/');
    if (slash != std::string::npos) {
        result.folder = full.substr(0, slash);
        result.fileName = full.substr(slash + 1);
    }
    return result;
}

bool changeDirectory(const std::string& folder) { return chdir(folder.empty() ? "/" : folder.c_str()) == 0; }

std::string computerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

}  // namespace platform
