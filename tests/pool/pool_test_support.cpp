#include "tests/pool/pool_test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "server/config/settings.h"

namespace fs = std::filesystem;

namespace pooltest {

namespace {

// Every test process gets its own lock folder before anything asks for it, and its children
// inherit it; so no test meets another test's locks or a real server's.
struct LockFolder {
    std::string path;
    LockFolder() {
        std::string pattern = (fs::temp_directory_path() / "pwpool-locks-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
            setenv("PORTWARDEN_LOCK_DIR", path.c_str(), 1);
        }
    }
    ~LockFolder() {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
};
LockFolder lockFolder;

// A write to a child that already ended must not end the test.
const bool pipeSignalIgnored = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();

std::string linkTarget(const std::string& link) {
    std::error_code error;
    fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.string();
}

bool isUnder(const std::string& path, const std::string& root) {
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           path[root.size()] == '/';
}

}  // namespace

TempTree::TempTree() {
    std::string pattern = (fs::temp_directory_path() / "pwpool-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    root_ = fs::canonical(pattern).string();
}

TempTree::~TempTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void TempTree::makeFolder(const std::string& relative) const { fs::create_directories(path(relative)); }

void TempTree::writeFile(const std::string& relative, const std::string& text, bool executable) const {
    const std::string full = path(relative);
    fs::create_directories(fs::path(full).parent_path());
    {
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out << text;
    }
    if (executable)
        chmod(full.c_str(), 0755);
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int freeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

int groupValue(const std::string& groupFile, const std::string& group, const std::string& key,
               int absent) {
    Settings store;
    store.load(groupFile);
    int value = absent;
    store.getInt(group, key, value);
    return value;
}

bool groupHasKey(const std::string& groupFile, const std::string& group, const std::string& key) {
    Settings store;
    store.load(groupFile);
    return store.hasKey(group, key);
}

void becomeSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

std::vector<pid_t> processesIn(const std::string& folder) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return found;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == getpid())
            continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        if (linkTarget(base + "/cwd") == folder)
            found.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return found;
}

void killEverythingUnder(const std::string& root) {
    for (int round = 0; round < 200; ++round) {
        int killed = 0;
        DIR* proc = opendir("/proc");
        if (proc == nullptr)
            break;
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end != '\0' || pid == getpid())
                continue;
            const std::string base = std::string("/proc/") + entry->d_name;
            const std::string cwd = linkTarget(base + "/cwd");
            const std::string exe = linkTarget(base + "/exe");
            if (cwd == root || isUnder(cwd, root) || isUnder(exe, root)) {
                kill(static_cast<pid_t>(pid), SIGKILL);
                ++killed;
            }
        }
        closedir(proc);
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (killed == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

Child spawn(const std::string& program, const std::string& workingDirectory,
            const std::string& outputFile) {
    Child child;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return child;
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || chdir(workingDirectory.c_str()) != 0)
            _exit(127);
        dup2(pipeEnds[0], 0);
        dup2(out, 1);
        dup2(out, 2);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[0]);
    if (pid < 0) {
        close(pipeEnds[1]);
        return child;
    }
    child.pid = pid;
    child.input = pipeEnds[1];
    return child;
}

void sendLine(const Child& child, const std::string& line) {
    const std::string text = line + "\n";
    ssize_t written = write(child.input, text.data(), text.size());
    (void)written;
}

std::optional<int> waitExit(Child& child, int timeoutMs) {
    int status = 0;
    bool ended = waitFor(
        [&] {
            pid_t got = waitpid(child.pid, &status, WNOHANG);
            return got == child.pid;
        },
        timeoutMs);
    if (!ended)
        return std::nullopt;
    child.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace pooltest
