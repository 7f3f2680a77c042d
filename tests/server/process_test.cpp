// The real executable: started in a temporary folder, driven through its standard input.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/rak_peer.h"
#include "tests/e2e/process_fixture.h"

namespace fs = std::filesystem;

namespace {

using e2e::freePort;


// One running copy of portwarden with pipes on its standard input and output.
struct Server {
    pid_t pid = -1;
    int input = -1;   // we write
    int output = -1;  // we read
    std::string printed;
    int status = -1;

    void start(const std::string& program, bool withConsole = true) {
        int in[2], out[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(out), 0);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (withConsole)
                dup2(in[0], 0);
            else {
                int null = open("/dev/null", O_RDONLY);
                dup2(null, 0);
            }
            dup2(out[1], 1);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        input = in[1];
        output = out[0];
    }

    // Reads until `text` was printed or the process closed its output; bounded by `seconds`.
    bool waitFor(const std::string& text, int seconds = 10) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (printed.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd entry{output, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[4096];
            ssize_t n = read(output, buffer, sizeof buffer);
            if (n <= 0)
                return printed.find(text) != std::string::npos;
            printed.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

    // Collects what is left in the pipe after the exit.
    void drain() {
        pollfd entry{output, POLLIN, 0};
        char buffer[4096];
        while (poll(&entry, 1, 200) > 0) {
            ssize_t n = read(output, buffer, sizeof buffer);
            if (n <= 0)
                break;
            printed.append(buffer, static_cast<size_t>(n));
        }
    }

    void type(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // Waits for the exit; false when the process still runs after `seconds`.
    bool waitExit(int seconds) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < limit) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                drain();
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

    ~Server() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (input >= 0)
            close(input);
        if (output >= 0)
            close(output);
    }
};

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pw-process-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        setenv("PORTWARDEN_LOCK_DIR", (root + "/locks").c_str(), 1);
        signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override {
        servers.clear();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    // A program folder with a link to the built executable and its own configuration.
    std::string makeFolder(const std::string& name, unsigned short port, const std::string& lines = "clanserver = 1") {
        const std::string folder = root + "/" + name;
        fs::create_directories(folder);
        fs::create_symlink(PORTWARDEN_EXE, folder + "/portwarden");
        std::ofstream(folder + "/serverconfig.txt") << "ServerConfig\n{\n    port = " << port << "\n    " << lines
                                                     << "\n}\n";
        return folder + "/portwarden";
    }

    Server& launch(const std::string& program, bool withConsole = true) {
        servers.push_back(std::make_unique<Server>());
        servers.back()->start(program, withConsole);
        return *servers.back();
    }

    std::string root;
    std::vector<std::unique_ptr<Server>> servers;
};

const char* banner = "\n\nType 'quit' to exit and 'help' to get more commands...\nServer is accepting reservations\n";

TEST_F(ProcessTest, StartsGreetsAClientAndQuits) {
    for (const char* word : {"quit", "exit"}) {
        SCOPED_TRACE(word);
        const unsigned short port = freePort();
        Server& server = launch(makeFolder(word, port, "clanserver = 1\n    game_type = 4"));
        ASSERT_TRUE(server.waitFor(banner)) << server.printed;
        const std::string& text = server.printed;
        const size_t welcome = text.find("Welcome to Korvane LAN server.\n\nStarting up the server...)\n"
                                         "(You might see firewall message about portwarden.exe, allow it to operate)\n"
                                         "\nServer is now running in ");
        ASSERT_NE(welcome, std::string::npos) << text;
        EXPECT_LT(text.find("Clear everything\n"), welcome);
        EXPECT_NE(text.find("\n...Listening port: " + std::to_string(port) + " \nGame type is Team vs Team\n\nType"),
                  std::string::npos)
            << text;

        RakPeerInterface* client = RakNetworkFactory::GetRakPeerInterface();
        SocketDescriptor socket(0, "127.0.0.1");
        ASSERT_TRUE(client->Startup(1, 30, &socket, 1));
        ASSERT_TRUE(client->Connect("127.0.0.1", port, "", 0));
        bool greeted = false;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!greeted && std::chrono::steady_clock::now() < limit) {
            while (Packet* packet = client->Receive()) {
                greeted = greeted || (packet->length >= 6 && packet->data[0] == 25 && packet->data[5] == 102);
                client->DeallocatePacket(packet);
            }
            usleep(2000);
        }
        EXPECT_TRUE(greeted) << "a new connection receives the game type";
        EXPECT_TRUE(server.waitFor("New connection 127.0.0.1:"));
        client->Shutdown(0);
        RakNetworkFactory::DestroyRakPeerInterface(client);

        server.type(word);
        ASSERT_TRUE(server.waitExit(10));
        EXPECT_EQ(server.exitCode(), 0);
        EXPECT_NE(server.printed.find("Quitting.\n"), std::string::npos);
    }
}

TEST_F(ProcessTest, SecondCopyInTheSameFolderLeavesSilently) {
    const std::string program = makeFolder("a", freePort());
    Server& first = launch(program);
    ASSERT_TRUE(first.waitFor(banner));
    Server& second = launch(program);
    ASSERT_TRUE(second.waitExit(10));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.printed, "");
    first.type("quit");
    ASSERT_TRUE(first.waitExit(10));
    EXPECT_EQ(first.exitCode(), 0);
}

TEST_F(ProcessTest, UsedPortFailsWithStatusOneAfterThePause) {
    for (bool byAnotherCopy : {true, false}) {
        SCOPED_TRACE(byAnotherCopy ? "another copy" : "another program");
        const unsigned short port = freePort();
        const std::string tag = byAnotherCopy ? "copy" : "program";
        int holder = -1;
        if (byAnotherCopy) {
            Server& first = launch(makeFolder(tag + "-first", port));
            ASSERT_TRUE(first.waitFor(banner));
        } else {
            holder = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            address.sin_port = htons(port);
            ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        }
        Server& server = launch(makeFolder(tag, port));
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(server.waitFor("Server failed to start.  Terminating.\n"));
        ASSERT_TRUE(server.waitExit(15));
        EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(4500));
        EXPECT_EQ(server.exitCode(), 1);
        EXPECT_EQ(server.printed.find("Server is now running"), std::string::npos);
        const std::string poolError = "Requested port: " + std::to_string(port) + " is already in use.";
        EXPECT_EQ(server.printed.find(poolError) != std::string::npos, byAnotherCopy) << server.printed;
        if (holder >= 0)
            close(holder);
    }
}

TEST_F(ProcessTest, FolderLockThatCannotBeCreatedEndsWithStatusZero) {
    const std::string program = makeFolder("nolock", freePort());
    std::ofstream(root + "/plain-file") << "not a folder";
    setenv("PORTWARDEN_LOCK_DIR", (root + "/plain-file/locks").c_str(), 1);
    Server& server = launch(program);
    ASSERT_TRUE(server.waitExit(10));
    EXPECT_EQ(server.exitCode(), 0);
    const std::string folder = fs::path(program).parent_path().string();
    std::string lockName = folder;
    std::replace(lockName.begin(), lockName.end(), '/', '_');
    EXPECT_EQ(server.printed, "Mutex creation failed! " + lockName + "\n\n");
}

TEST_F(ProcessTest, WithoutConsoleInputTheServerKeepsRunning) {
    Server& server = launch(makeFolder("quiet", freePort()), false);
    ASSERT_TRUE(server.waitFor(banner));
    EXPECT_FALSE(server.waitExit(1)) << server.printed;
}

}  // namespace
