// Real processes for end-to-end tests: portwarden in a temporary folder of its own, and
// tidelink-cli runs. Every process started here is killed when its owner goes away.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// A UDP port on loopback that nobody holds at the moment.
inline unsigned short freePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A started program whose standard output and error go to a file.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { kill(); }

    // `input` true keeps a pipe on the program's standard input open for `type`.
    bool start(const std::vector<std::string>& argv, const std::string& outputFile, const std::string& workDir = "",
               bool input = false) {
        output = outputFile;
        int in[2] = {-1, -1};
        if (input && pipe(in) != 0) return false;
        pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            if (input) {
                dup2(in[0], 0);
                close(in[1]);
            } else {
                const int null = open("/dev/null", O_RDONLY);
                dup2(null, 0);
            }
            if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        if (input) {
            close(in[0]);
            stdinFd = in[1];
        }
        return true;
    }

    void type(const std::string& line) {
        const std::string text = line + "\n";
        if (stdinFd >= 0 && write(stdinFd, text.data(), text.size()) < 0) return;
    }

    std::string printed() const { return readFile(output); }

    // Waits until `text` was printed; false after `seconds` or when the program ended without it.
    bool waitFor(const std::string& text, int seconds) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < limit) {
            if (printed().find(text) != std::string::npos) return true;
            if (!running()) return printed().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    bool running() {
        if (pid <= 0) return false;
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) {
            status = st;
            pid = -1;
            return false;
        }
        return true;
    }

    // Exit code after the end, -1 when it was killed or still runs after `seconds`.
    int wait(int seconds) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (running() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (running()) {
            kill();
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void kill() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
        }
        if (stdinFd >= 0) {
            close(stdinFd);
            stdinFd = -1;
        }
    }

    pid_t pid = -1;

private:
    std::string output;
    int stdinFd = -1;
    int status = -1;
};

// A temporary folder removed with everything in it; the server's named locks live inside.
class TempRoot {
public:
    TempRoot() {
        char pattern[] = "/tmp/pw-e2e-XXXXXX";
        if (mkdtemp(pattern)) path = pattern;
        setenv("PORTWARDEN_LOCK_DIR", (path + "/locks").c_str(), 1);
        fs::create_directories(path + "/locks");
        signal(SIGPIPE, SIG_IGN);
    }
    ~TempRoot() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
    std::string path;
};

// One portwarden copy in `root/name`, with its own configuration.
class Server {
public:
    Server(const std::string& root, const std::string& name, const std::string& exe, const std::string& config,
           const std::string& extraGroups = "")
        : folder(root + "/" + name), port(freePort()) {
        fs::create_directories(folder);
        fs::create_symlink(exe, folder + "/portwarden");
        std::ofstream(folder + "/serverconfig.txt")
            << "ServerConfig\n{\n    port = " << port << "\n" << config << "\n}\n" << extraGroups;
    }
    bool start() {
        if (!process.start({folder + "/portwarden"}, folder + "/console.txt", folder, true)) return false;
        return process.waitFor("Server is accepting reservations", 10);
    }
    std::string endpoint() const { return "127.0.0.1:" + std::to_string(port); }

    std::string folder;
    unsigned short port;
    Process process;
};

}  // namespace e2e
