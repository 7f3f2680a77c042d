// Helpers for transport tests: started peers on loopback and bounded waits for packets.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/rak_peer.h"
#include "net/secure_channel.h"

namespace nettest {

// Names the two instances of a test that runs on plain and on secured connections.
struct SecurityName {
    template <class Info>
    std::string operator()(const Info& info) const {
        return info.param ? "Secured" : "Plain";
    }
};

// The two ciphers of secured links, and the names of a test's instances for them.
inline const auto kBothCiphers = ::testing::Values(pwnet::kCipherChaCha20Poly1305, pwnet::kCipherAes256Gcm);
struct CipherName {
    template <class Info>
    std::string operator()(const Info& info) const {
        return info.param == pwnet::kCipherAes256Gcm ? "Aes256Gcm" : "ChaCha20Poly1305";
    }
};

struct PeerDeleter {
    void operator()(RakPeerInterface* p) const { RakNetworkFactory::DestroyRakPeerInterface(p); }
};
using PeerPtr = std::unique_ptr<RakPeerInterface, PeerDeleter>;

// A started peer on 127.0.0.1 (or host) and a free port; incoming connections allowed.
inline PeerPtr startPeer(unsigned short maxIncoming = 8, bool secure = false, const char* host = "127.0.0.1",
                         unsigned short port = 0, unsigned short maxConnections = 16) {
    PeerPtr p(RakNetworkFactory::GetRakPeerInterface());
    if (secure)
        p->InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
    SocketDescriptor sd(port, host);
    if (!p->Startup(maxConnections, 5, &sd, 1))
        return nullptr;
    p->SetMaximumIncomingConnections(maxIncoming);
    return p;
}

inline unsigned short portOf(RakPeerInterface& p) { return p.GetInternalID().port; }

inline SystemAddress loopback(unsigned short port, const char* ip = "127.0.0.1") {
    SystemAddress a;
    a.SetBinaryAddress(ip);
    a.port = port;
    return a;
}

struct Received {
    std::vector<uint8_t> data;
    SystemAddress from;
    uint16_t index;
};

// Takes packets until pred accepts one or the time runs out; every packet taken is kept in *seen.
inline bool waitFor(RakPeerInterface& p, const std::function<bool(const Received&)>& pred, int timeoutMs = 3000,
                    std::vector<Received>* seen = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        Packet* packet = p.Receive();
        if (!packet) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        Received r{std::vector<uint8_t>(packet->data, packet->data + packet->length), packet->systemAddress,
                   packet->systemIndex};
        p.DeallocatePacket(packet);
        if (seen)
            seen->push_back(r);
        if (pred(r))
            return true;
    }
    return false;
}

inline bool waitForId(RakPeerInterface& p, unsigned char id, int timeoutMs = 3000, Received* out = nullptr) {
    return waitFor(
        p,
        [&](const Received& r) {
            if (r.data.empty() || r.data[0] != id)
                return false;
            if (out)
                *out = r;
            return true;
        },
        timeoutMs);
}

// Connects client to server and waits for both sides' connection events.
inline bool connectPair(RakPeerInterface& client, RakPeerInterface& server, int timeoutMs = 4000) {
    if (!client.Connect("127.0.0.1", portOf(server), nullptr, 0))
        return false;
    return waitForId(client, ID_CONNECTION_REQUEST_ACCEPTED, timeoutMs) &&
           waitForId(server, ID_NEW_INCOMING_CONNECTION, timeoutMs);
}

// A server (plain or secured, four incoming connections) and a client connected to it.
struct ConnectedPair {
    PeerPtr server, client;
    SystemAddress serverAddr, clientAddr;

    explicit ConnectedPair(bool secured) : server(startPeer(4, secured)), client(startPeer(0)) {
        if (server && client && connectPair(*client, *server)) {
            serverAddr = loopback(portOf(*server));
            clientAddr = loopback(portOf(*client));
        }
    }
    bool up() const { return server && client && serverAddr != UNASSIGNED_SYSTEM_ADDRESS; }
};

// A child process forked before the test starts any peer (so no thread of the parent is
// copied mid-work), which runs body(port) once the parent has told it the port.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<int(unsigned short)>& body, unsigned alarmSeconds = 20) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[1]);
            ::alarm(alarmSeconds);
            unsigned short port = 0;
            if (::read(fds[0], &port, sizeof port) != static_cast<ssize_t>(sizeof port))
                ::_exit(100);
            ::_exit(body(port));
        }
        ::close(fds[0]);
        toChild_ = fds[1];
    }
    ~ChildProcess() {
        if (toChild_ >= 0)
            ::close(toChild_);
        kill();
        wait();
    }
    bool started() const { return pid_ > 0; }
    void tellPort(unsigned short port) {
        if (toChild_ >= 0 && ::write(toChild_, &port, sizeof port) != static_cast<ssize_t>(sizeof port))
            kill();
    }
    void kill() {
        if (pid_ > 0 && !reaped_)
            ::kill(pid_, SIGKILL);
    }
    // Exit status of the child, or -1 when it did not exit normally.
    int wait() {
        if (pid_ <= 0)
            return -1;
        if (!reaped_) {
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace nettest
