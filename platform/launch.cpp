#include "platform/launch.h"

#include "platform/path_search.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Runs `file` with `args` in a grandchild that lives in its own session: the intermediate child
// exits at once and is reaped here, so nothing is left to wait for. Standard input is /dev/null
// (the console stays ours), output goes where ours goes, other descriptors are not inherited.
// True when the program image was started (execv succeeded).
bool spawnDetached(const std::string& file, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    rlimit files {};
    int maxFd = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY && files.rlim_cur < 65536
                    ? static_cast<int>(files.rlim_cur)
                    : 65536;

    int report[2];  // carries execv's errno; closed by a successful exec
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_t middle = fork();
    if (middle == 0) {
        // Only async-signal-safe calls from here on: the parent may have other threads.
        close(report[0]);
        setsid();
        pid_t child = fork();
        if (child != 0)
            _exit(child < 0 ? 1 : 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            sigaction(sig, &fallback, nullptr);
        if (devNull >= 0)
            dup2(devNull, 0);
        if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0)
            for (int fd = 3; fd < maxFd; ++fd)
                fcntl(fd, F_SETFD, FD_CLOEXEC);
        execv(file.c_str(), argv.data());
        int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    if (devNull >= 0)
        close(devNull);
    if (middle < 0) {
        close(report[0]);
        return false;
    }
    int status = 0;
    pid_t waited;
    do
        waited = waitpid(middle, &status, 0);
    while (waited < 0 && errno == EINTR);
    bool middleOk = waited < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);  // < 0: SIGCHLD ignored
    int error = 0;
    ssize_t n;
    do
        n = read(report[0], &error, sizeof error);
    while (n < 0 && errno == EINTR);
    close(report[0]);
    return middleOk && n == 0;
}

// The file to run for `path`: a path with a '/' as given; a bare name from the working
// directory first, then from PATH.
std::string resolveProgram(const std::string& path) {
    if (path.find('/') != std::string::npos)
        return path;
    if (isExecutableFile("./" + path))
        return "./" + path;
    std::vector<std::string> found = executablesOnPath(path);
    return found.empty() ? std::string() : found.front();
}

}  // namespace

bool startDetached(const std::string& path) {
    if (path.empty())
        return false;
    std::string file = resolveProgram(path);
    if (file.empty())
        return false;
    return spawnDetached(file, {file});
}

void openWithDefaultAction(const std::string& path) {
    if (path.empty())
        return;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (path.find('/') == std::string::npos)
            startDetached(path);  // a program known by name only
        return;
    }
    if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0) {
        startDetached(path);
        return;
    }
    std::vector<std::string> opener = executablesOnPath("xdg-open");
    if (opener.empty())
        return;
    std::string target = path[0] == '-' ? "./" + path : path;  // never read as an option
    spawnDetached(opener.front(), {opener.front(), target});
}

}  // namespace platform
