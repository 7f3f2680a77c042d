// Temporary folders and child processes for the platform tests.
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform_test {

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/pw-platform-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made != nullptr ? made : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `body` in a forked child and returns its exit status (-1 when it did not exit normally).
inline int runInChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Kills (SIGKILL) and reaps a child of ours when the test leaves, passed or failed.
struct ChildGuard {
    pid_t pid = -1;
    explicit ChildGuard(pid_t p) : pid(p) {}
    ~ChildGuard() { stop(); }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
};

// Environment variable set for the test's duration.
struct ScopedEnv {
    std::string name;
    std::string old;
    bool had;
    ScopedEnv(const std::string& n, const std::string& value) : name(n) {
        const char* current = std::getenv(n.c_str());
        had = current != nullptr;
        if (had)
            old = current;
        setenv(n.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had)
            setenv(name.c_str(), old.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

}  // namespace platform_test
