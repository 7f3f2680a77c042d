#include "server/pool/group_file_lock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/clock.h"

namespace pool {

std::string groupFileLockPath(const std::string& groupFile) { return groupFile + ".lock"; }

GroupFileLock::GroupFileLock(const std::string& groupFile, unsigned waitMs) {
    if (groupFile.empty())
        return;
    fd_ = ::open(groupFileLockPath(groupFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return;
    // Real time, not the tick source: a test may freeze that one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            return;
        platform::sleepMs(1);
    }
}

GroupFileLock::~GroupFileLock() {
    if (fd_ >= 0)
        ::close(fd_);  // closing the only descriptor drops the lock
}

}  // namespace pool
