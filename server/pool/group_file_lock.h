// Exclusive advisory lock that serialises the load-change-save of a group file between copies.
#pragma once

#include <string>

namespace pool {

// The lock lives on a companion file "<group file>.lock" beside the group file, so the group
// file itself keeps its format, may be missing, and may be rewritten in any way by the writer.
std::string groupFileLockPath(const std::string& groupFile);

// Holds the lock from construction to destruction. Waits at most `waitMs` for another copy to
// finish its step; without a name, an unusable folder or after the wait, the step goes on
// unlocked (held() false), as a copy without the lock always did.
class GroupFileLock {
public:
    explicit GroupFileLock(const std::string& groupFile, unsigned waitMs = 10000);
    ~GroupFileLock();
    GroupFileLock(const GroupFileLock&) = delete;
    GroupFileLock& operator=(const GroupFileLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace pool
