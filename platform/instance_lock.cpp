#include "platform/instance_lock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Open-file-description locks: taken and probed per open file, released by the kernel when the
// last descriptor closes, the holder's death included. Unlike flock, F_OFD_GETLK probes without
// taking the lock, so a probe never makes a starting holder fail.

namespace platform {

namespace {

constexpr size_t keptNameLength = 180;

// File name of the lock `name` inside the lock folder. A name that is too long for a file name,
// or that holds '/' or NUL, keeps its last characters plus a hash of the whole name, so it stays
// one file directly inside the folder.
std::string lockFileName(const std::string& name) {
    if (name.size() <= keptNameLength && name.find('/') == std::string::npos &&
        name.find('\0') == std::string::npos)
        return name + ".lock";
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string tail = name.substr(name.size() > keptNameLength ? name.size() - keptNameLength : 0);
    for (char& c : tail)
        if (c == '/' || c == '\0')
            c = '_';
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return tail + "~" + hex + ".hlock";
}

std::string lockPath(const std::string& name) { return lockDirectory() + "/" + lockFileName(name); }

void ensureLockDirectory() {
    const std::string& dir = lockDirectory();
    if (mkdir(dir.c_str(), 01777) == 0)
        chmod(dir.c_str(), 01777);  // mkdir applies the umask
}

// Opens the lock file for writing, creating it readable and writable by every user. An existing
// file is opened without O_CREAT, which sticky shared folders allow for other users' files.
int openLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0)
                fchmod(fd, 0666);
            else if (errno == EEXIST)
                continue;
        }
        if (fd < 0)
            return -1;
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return -1;
        }
        return fd;
    }
    return -1;
}

struct flock wholeFile(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;
    range.l_pid = 0;
    return range;
}

}  // namespace

std::string lockNameFor(const std::string& text) {
    std::string name = text;
    for (char& c : name)
        if (c == '/' || c == '\\')
            c = '_';
    return name;
}

std::string lockDirectory() {
    static const std::string dir = [] {
        const char* env = std::getenv("PORTWARDEN_LOCK_DIR");
        return std::string(env != nullptr && env[0] != '\0' ? env : "/tmp/portwarden-locks");
    }();
    return dir;
}

LockResult acquireNamedLock(const std::string& name, InstanceLock& lock) {
    ensureLockDirectory();
    int fd = openLockFile(lockPath(name));
    if (fd < 0)
        return LockResult::CreationFailed;
    struct flock range = wholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &range) == 0) {
        lock.fd = fd;
        return LockResult::Held;
    }
    int error = errno;
    close(fd);
    return error == EAGAIN || error == EACCES ? LockResult::AlreadyHeld : LockResult::CreationFailed;
}

bool isNamedLockHeld(const std::string& name) {
    int fd = open(lockPath(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;  // never created, so never held
    struct flock range = wholeFile(F_WRLCK);
    bool held = fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
    close(fd);
    return held;
}

void releaseNamedLock(InstanceLock& lock) {
    if (lock.fd >= 0)
        close(lock.fd);
    lock.fd = -1;
}

}  // namespace platform
