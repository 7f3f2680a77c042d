// Internal state of a transport peer. Everything here is guarded by RakPeerImpl::mutex.
#pragma once

#include <enet/enet.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/ban_list.h"
#include "net/cookie.h"
#include "net/rak_peer.h"
#include "net/reply_limiter.h"
#include "net/secure_channel.h"
#include "net/wire.h"

namespace pwnet {

// Milliseconds of a monotonic clock that the test clock hook does not move.
int64_t monotonicMs();
int64_t monotonicUs();
void initializeLibraries();
std::vector<std::string> localIpv4Addresses();

enum class ConnState {
    Requesting,   // outgoing: waiting for a cookie, no ENet peer yet
    Connecting,   // outgoing: ENet connect under way
    HelloWait,    // ENet connected; waiting for the other side's hello
    WelcomeWait,  // outgoing: hello sent, waiting for the server's welcome
    Connected,
};

struct Connection {
    uint64_t id = 0;
    SystemAddress address;
    ENetPeer* peer = nullptr;
    ConnState state = ConnState::Requesting;
    bool outgoing = false;
    int slot = -1;
    int64_t deadlineMs = 0;
    // Outgoing attempt.
    uint32_t requestNonce = 0;
    int64_t nextRequestMs = 0;
    int64_t requestSentMs = 0;
    bool haveCookie = false;
    uint32_t cookie = 0;
    uint32_t cookieRttMs = 0;
    std::string password;
    // Learnt in the hello exchange.
    SystemAddress externalId;     // where the remote sees us
    SystemAddress remoteInternal;  // the remote's own idea of its address
    bool secured = false;
    SecureChannel channel;
    // Clock: remote minus local, in RakNet::GetTime() milliseconds.
    bool haveOffset = false;
    int32_t clockOffset = 0;
    uint32_t bestOffsetRtt = UINT32_MAX;
    std::deque<uint32_t> pingSamples;
    std::deque<std::pair<uint32_t, int32_t>> offsetSamples;  // rtt, offset
    int64_t nextPingMs = 0;
    // Messages that arrived before the handshake allowed them.
    struct Early {
        bool opened;  // an inner message already authenticated, or a frame as it came
        std::vector<uint8_t> bytes;
    };
    std::vector<Early> early;
    // Data messages queued since the last flush, to leave as one ENet packet: entries of
    // (length u16, payload), all on one channel with the same flags.
    std::vector<uint8_t> batch;
    unsigned batchCount = 0;
    uint32_t batchFlags = 0;
    uint8_t batchChannel = 0;
    // Data packets held back while the send window is full, in order, and the bytes handed to
    // ENet since the last flush.
    struct Held {
        ENetPacket* packet;
        uint8_t channel;
    };
    std::deque<Held> held;
    size_t unsentBytes = 0;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        for (const Held& h : held)
            enet_packet_destroy(h.packet);
    }
    // Cumulative figures (ENet's own counters restart every few seconds).
    RakNetStatistics stats{};
    uint32_t lastEnetSent = 0, lastEnetLost = 0;
    uint32_t lastCappedLost = 0;  // ENet's loss count when the resend intervals were last capped
};

// A mutex that spins briefly before it sleeps: the holders keep it for microseconds, and a
// thread put to sleep on contention costs far more than that to wake.
class SpinFirstMutex {
public:
    void lock() {
        for (int i = 0; i < 2000; ++i) {
            if (m_.try_lock())
                return;
            __builtin_ia32_pause();
        }
        m_.lock();
    }
    bool try_lock() { return m_.try_lock(); }
    void unlock() { m_.unlock(); }

private:
    std::mutex m_;
};

class Impl {
public:
    Impl();
    ~Impl();

    // Called with the mutex held unless noted.
    Connection* findByAddress(const SystemAddress& a);
    Connection* findByPeer(ENetPeer* p);
    void removeConnection(Connection* c);
    int freeSlot() const;
    size_t incomingCount() const;
    void deliver(unsigned char id, const SystemAddress& from, int slot);
    Packet* deliverData(const SystemAddress& from, int slot, const uint8_t* data, size_t len);
    bool sendInner(Connection& c, uint8_t kind, const uint8_t* body, size_t len, uint32_t flags, uint8_t channel);
    // The ENet packet for an inner message: sealed on secured connections.
    ENetPacket* makeInner(Connection& c, uint8_t kind, const uint8_t* body, size_t len, uint32_t flags);
    void sendRaw(uint32_t ip, uint16_t port, const uint8_t* data, size_t len);
    void flush();

    // send_batch.cpp
    bool appendData(Connection& c, const uint8_t* payload, size_t len, uint32_t flags, uint8_t channel);
    void closeBatch(Connection& c);
    void closeBatches();
    // A data packet to ENet, or held back behind those already held or while the window is full.
    bool sendData(Connection& c, ENetPacket* packet, uint8_t channel);
    // Hands held packets to ENet while the window has room, or all of them.
    void releaseHeld(Connection& c, bool all);
    // After a send that started at `startUs`: flush now or leave it to the tail.
    void noteSent(int64_t startUs);
    void handleBatch(Connection& c, const uint8_t* d, size_t len);
    void receiveData(Connection& c, const uint8_t* payload, size_t len);
    void wake();
    void armFlushTimer();
    void applyTimeout(ENetPeer* p);

    // network_thread.cpp
    void threadMain();
    void serviceOnce();
    void handleEvent(ENetEvent& e);
    void runTimers();
    void sampleEnetCounters(Connection& c);
    void capResends();

    // offline.cpp
    int intercept(ENetHost* host);
    void handleOffline(uint32_t ip, uint16_t port, const uint8_t* d, size_t len);
    void sendConnectRequest(Connection& c);
    void sendPing(uint32_t ip, uint16_t port, bool onlyIfAccepting);

    // handshake.cpp
    void onEnetConnect(ENetPeer* p);
    void onEnetDisconnect(ENetPeer* p, uint32_t data);
    void onEnetReceive(ENetPeer* p, const uint8_t* d, size_t len);
    void sendHelloServer(Connection& c);
    void handleHelloServer(Connection& c, const uint8_t* d, size_t len);
    void handleHelloClient(Connection& c, const uint8_t* d, size_t len);
    void handleFrame(Connection& c, const uint8_t* d, size_t len);
    void handleInner(Connection& c, const uint8_t* d, size_t len);
    bool keepEarly(Connection& c, bool opened, const uint8_t* d, size_t len);
    void refuseIncoming(Connection& c, Reason reason);
    void becomeConnected(Connection& c);
    void sendTimePing(Connection& c);
    void noteClockSample(Connection& c, uint32_t rtt, int32_t offset);
    void failOutgoing(Connection& c, unsigned char id);

    SpinFirstMutex mutex;
    // Last time (monotonic microseconds) the application took packets itself.
    std::atomic<int64_t> appPolledUs{0};
    // Set by the network thread when it finds the socket readable.
    std::atomic<bool> socketReadable{false};
    // When Receive last found nothing queued (monotonic microseconds).
    int64_t lastEmptyReceiveUs = 0;
    ENetHost* host = nullptr;
    std::thread thread;
    int wakeFd = -1;
    int flushTimerFd = -1;  // one-shot timer that flushes the tail of a burst
    // Until this time (monotonic microseconds) the application is sending a burst.
    std::atomic<int64_t> burstUntilUs{0};
    std::atomic<bool> running{false};

    unsigned short maxConnections = 0;
    unsigned short maxIncoming = 0;
    int sleepMs = 30;
    uint32_t timeoutMs = 10000;
    bool securityOn = false;
    uint8_t ciphers = kCipherChaCha20Poly1305;  // offered as a server, chosen from as a client
    uint8_t serverPk[kPublicKeyBytes] = {};
    uint8_t serverSk[kSecretKeyBytes] = {};
    std::string incomingPassword;
    bool occasionalPing = false;
    BanList bans;
    CookieJar cookies;
    ReplyLimiter replies;
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<Connection*> slots;
    uint64_t nextConnectionId = 1;
    std::deque<Packet*> inbox;
    SystemAddress lastExternal;
    SystemAddress bound;
    std::vector<std::string> localIps;
    RakNetStatistics statsOut{};
    std::vector<uint8_t> scratch;
    std::vector<uint8_t> openBuffer;
    // Send coalescing (noteSent): whether some connection has a batch open, whether a full
    // one or a message too large for one went to ENet since the last flush, when the last
    // send returned, and whether the one-shot tail timer is set.
    bool batchesOpen = false;
    bool flushDue = false;
    int64_t lastSendEndUs = 0;
    bool tailTimerArmed = false;
    int openDepth = 0;
};

// Peer that the current thread is servicing; ENet's intercept callback has no user pointer.
extern thread_local Impl* servicing;
int interceptThunk(ENetHost* host, ENetEvent* event);

inline SystemAddress toSystemAddress(const ENetAddress& a) { return SystemAddress(a.host, a.port); }
inline ENetAddress toEnetAddress(const SystemAddress& a) {
    ENetAddress e{};
    e.host = a.binaryAddress;
    e.port = a.port;
    return e;
}

inline constexpr size_t kChannels = 8;
inline constexpr size_t kSparePeers = 8;
inline constexpr int64_t kAttemptMs = 4000;
inline constexpr int64_t kRequestRetryMs = 250;
inline constexpr int64_t kAfterCookieMs = 5000;
// ENet's first guess of a round trip for a new peer, and the longest resend interval while a
// connection is being set up (ENet doubles it after every loss, without bound).
inline constexpr uint32_t kInitialRoundTripMs = 100;
inline constexpr uint32_t kHandshakeResendCapMs = 300;
inline constexpr uint32_t kResendCapMs = 500;
inline constexpr int64_t kHandshakeMs = 5000;
inline constexpr int64_t kOccasionalPingMs = 2000;
inline constexpr size_t kMaxEarlyMessages = 256;
inline constexpr int64_t kBurstGapUs = 10;    // a send this soon after the last one joins it
inline constexpr int64_t kTailFlushUs = 100;  // the longest a coalesced send waits
// An application that asks for input again within this time is polling without pause.
inline constexpr int64_t kHardPollingUs = 200;
// Largest batch: with the sealing and ENet's headers it still fits one 1400-byte datagram.
inline constexpr size_t kBatchBytes = 1300;

}  // namespace pwnet

class RakPeerImpl : public pwnet::Impl {};
