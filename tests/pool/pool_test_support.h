// Temporary folders, files, bounded waits and process control for the pool's tests.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pooltest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }
    void makeFolder(const std::string& relative) const;
    void writeFile(const std::string& relative, const std::string& text, bool executable = false) const;

private:
    std::string root_;
};

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
// Polls `condition` every 10 ms until it holds or `timeoutMs` passed; returns its last value.
bool waitFor(const std::function<bool()>& condition, int timeoutMs);
// A UDP port that was free a moment ago (bound to port 0 and released).
int freeUdpPort();

// Reads one whole number of the group file afresh; `absent` when the key is missing.
int groupValue(const std::string& groupFile, const std::string& group, const std::string& key,
               int absent = -1);
bool groupHasKey(const std::string& groupFile, const std::string& group, const std::string& key);

// Keeps orphaned descendants (detached starts) as this process's children, so they are found,
// stopped and reaped.
void becomeSubreaper();
// Kills (SIGKILL) every process whose working directory or program lies under `root`, until
// none is left (bounded), and reaps this process's children.
void killEverythingUnder(const std::string& root);
// Pids of the processes whose working directory is `folder` exactly.
std::vector<pid_t> processesIn(const std::string& folder);

// A child process with its standard input on a pipe and its output in a file.
struct Child {
    pid_t pid = -1;
    int input = -1;  // write end of its standard input
};
Child spawn(const std::string& program, const std::string& workingDirectory,
            const std::string& outputFile);
void sendLine(const Child& child, const std::string& line);
// The exit status when the child ended within `timeoutMs`; nothing otherwise.
std::optional<int> waitExit(Child& child, int timeoutMs);

}  // namespace pooltest
