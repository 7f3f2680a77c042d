// In-process server harness: the real server driven one pass at a time from a temporary folder,
// real client peers on loopback, the console captured, time from the test clock.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/rak_peer.h"
#include "protocol/records.h"

namespace harness {

// The platform tick count, as the server sees it.
void setClock(uint32_t ms);
void advanceClock(uint32_t ms);
uint32_t clockNow();

// Writes a line (and its newline) to the server's console input.
void typeLine(const std::string& line);

// A free UDP port on loopback.
unsigned short freePort();

struct Received {
    std::vector<unsigned char> bytes;
    int id() const;
    // The header's origin.
    SystemAddress origin() const;
    template <class T>
    T as() const {
        T record;
        std::memcpy(static_cast<void*>(&record), bytes.data(), std::min(sizeof record, bytes.size()));
        return record;
    }
};

class Client {
public:
    explicit Client(unsigned short serverPort);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // The client's address as the server sees it.
    SystemAddress address() const;
    void send(const KSTMP::BaseCommand& record);
    void sendBytes(const void* data, size_t length);
    void notify(int code, int param = 0);
    // Moves what arrived into the inbox.
    void poll();

    int count(int id) const;
    std::vector<Received> records(int id) const;
    // Notifiers with this code.
    std::vector<KSTMP::Notifier> notifiers(int code) const;
    void clear() { inbox.clear(); }

    RakPeerInterface* peer;
    SystemAddress server;
    bool connected = false;
    bool refused = false;  // banned, full or failed
    std::vector<Received> inbox;
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes serverconfig.txt (the lines go inside ServerConfig after the port; `extra` after
    // the group) and starts the server; asserts that it runs.
    void startServer(const std::string& serverConfigLines = "", const std::string& extra = "");
    // One pass of the main loop, clients polled after it; false when the loop ended.
    bool pass();
    // Passes until done() holds; false after five seconds.
    bool pumpUntil(const std::function<bool()>& done);
    // Passes for a short while so that nothing more is pending (for "nothing was sent").
    void settle(int passes = 60);
    // A client connected and greeted with a game-type record.
    Client& connect();
    // A connected client that registered as a player and got its team.
    Client& join(const std::string& name);
    // Text printed since the last call.
    std::string console();

    std::string root;    // temporary folder of the test
    std::string folder;  // the server's program folder inside it
    unsigned short port = 0;
    bool started = false;
    bool loopEnded = false;
    std::vector<std::unique_ptr<Client>> clients;

private:
    int savedStdout = -1;
    int captureFd = -1;
    size_t consoleOffset = 0;
    std::string originalDirectory;
};

// Counts the occurrences of `needle` in `text`.
int occurrences(const std::string& text, const std::string& needle);

}  // namespace harness
