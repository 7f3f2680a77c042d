#include "net/fuzz_intake.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "net/peer_impl.h"

namespace pwnet::fuzz {

namespace {

constexpr unsigned short kConnections = 4;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz intake: %s\n", what);
    std::abort();
}

uint32_t loopback(uint8_t last) {
    const uint8_t bytes[4] = {127, 0, 0, last};
    uint32_t ip;
    std::memcpy(&ip, bytes, 4);
    return ip;
}

}  // namespace

struct IntakeServer::State {
    Impl impl;
    ENetHost* host = nullptr;
    int sender = -1;
    uint16_t senderPort = 0;
    // The connecting side of the connection that messages arrive on.
    ENetPeer* peer = nullptr;
    uint8_t clientPk[kPublicKeyBytes] = {};
    uint8_t clientSk[kSecretKeyBytes] = {};
    std::optional<SecureChannel> clientChannel;
    uint8_t cipher = 0;  // the connecting side's choice; 0 before the server knows its offer
    std::vector<Delivered> delivered;

    void collect() {
        for (Packet* p : impl.inbox) {
            delivered.push_back({p->length ? p->data[0] : uint8_t{0}, std::vector<uint8_t>(p->data, p->data + p->length)});
            std::free(p);
        }
        impl.inbox.clear();
    }

    void dropConnections() {
        for (auto& c : impl.connections) {
            if (c->peer) {
                c->peer->data = nullptr;
                c->peer = nullptr;
            }
        }
        impl.connections.clear();
        impl.slots.assign(impl.slots.size(), nullptr);
        for (size_t i = 0; i < host->peerCount; ++i)
            if (host->peers[i].state != ENET_PEER_STATE_DISCONNECTED)
                enet_peer_reset(&host->peers[i]);
    }

    size_t peersInUse() const {
        size_t n = 0;
        for (size_t i = 0; i < host->peerCount; ++i)
            n += host->peers[i].state != ENET_PEER_STATE_DISCONNECTED;
        return n;
    }

    // An incoming ENet connection on `p` from `from`, as ENet reports it.
    Connection* accept(ENetPeer* p, uint32_t ip, uint16_t port) {
        p->address.host = ip;
        p->address.port = port;
        impl.onEnetConnect(p);
        return impl.findByPeer(p);
    }

    // The connecting side's hello for connection `c`, made as a client makes it.
    std::vector<uint8_t> clientHello(SecureChannel* channel) {
        uint8_t body[4 + 4 + 6 + 6 + 1];
        const uint32_t now = RakNet::GetTime();
        putU32(body, now);
        putU32(body + 4, now);
        putAddress(body + 8, impl.bound.binaryAddress, impl.bound.port);
        putAddress(body + 14, loopback(2), 40000);
        body[20] = 0;  // no password
        std::vector<uint8_t> hello;
        if (channel) {
            hello.resize(2 + kPublicKeyBytes + kSealOverhead + sizeof body);
            hello[0] = kFrameHelloClient;
            hello[1] = cipher;
            std::memcpy(hello.data() + 2, clientPk, kPublicKeyBytes);
            if (!channel->seal(hello.data(), 2, body, sizeof body, hello.data() + 2 + kPublicKeyBytes))
                fail("sealing the hello failed");
        } else {
            hello.resize(2 + sizeof body);
            hello[0] = kFrameHelloClient;
            hello[1] = 0;
            std::memcpy(hello.data() + 2, body, sizeof body);
        }
        return hello;
    }

    bool connectionUp() {
        Connection* c = peer ? impl.findByPeer(peer) : nullptr;
        return c && c->state == ConnState::Connected;
    }

    void ensureConnection() {
        if (connectionUp())
            return;
        dropConnections();
        peer = &host->peers[0];
        if (!accept(peer, loopback(2), 40000))
            fail("the server did not take the connection");
        clientChannel.reset();
        if (impl.securityOn) {
            clientChannel.emplace();
            crypto_kx_keypair(clientPk, clientSk);
            if (!clientChannel->deriveClient(cipher, clientPk, clientSk, impl.serverPk))
                fail("client key exchange failed");
        }
        const std::vector<uint8_t> hello = clientHello(clientChannel ? &*clientChannel : nullptr);
        impl.onEnetReceive(peer, hello.data(), hello.size());
        if (!connectionUp())
            fail("the hello exchange did not connect");
        collect();
        delivered.clear();
    }
};

IntakeServer::IntakeServer(bool secured) : state_(std::make_unique<State>()) {
    initializeLibraries();
    State& s = *state_;
    ENetAddress address{};
    address.host = loopback(1);
    address.port = 0;
    s.host = enet_host_create(&address, kConnections + kSparePeers, kChannels, 0, 0);
    if (!s.host)
        fail("enet_host_create failed");
    s.host->intercept = interceptThunk;
    s.host->maximumPacketSize = 1 << 20;
    ENetAddress bound{};
    enet_socket_get_address(s.host->socket, &bound);
    s.impl.host = s.host;
    s.impl.bound = SystemAddress(address.host, bound.port);
    s.impl.maxConnections = kConnections;
    s.impl.maxIncoming = kConnections;
    s.impl.slots.assign(kConnections, nullptr);
    if (secured) {
        crypto_kx_keypair(s.impl.serverPk, s.impl.serverSk);
        s.impl.securityOn = true;
    }
    s.impl.ciphers = localCiphers();
    s.cipher = chooseCipher(s.impl.ciphers, localCiphers());

    s.sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = loopback(1);
    socklen_t size = sizeof from;
    if (s.sender < 0 || ::bind(s.sender, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::getsockname(s.sender, reinterpret_cast<sockaddr*>(&from), &size) != 0)
        fail("sender socket");
    s.senderPort = ntohs(from.sin_port);
}

IntakeServer::~IntakeServer() {
    State& s = *state_;
    s.dropConnections();
    s.collect();
    enet_host_destroy(s.host);
    s.impl.host = nullptr;
    ::close(s.sender);
}

IntakeServer::Intake IntakeServer::datagramFromUnknown(const uint8_t* data, size_t len, bool validCookie,
                                                       bool freshCaps) {
    State& s = *state_;
    // A fresh cookie key for every datagram: the fuzzer sees the values the cookie check
    // compares, and would otherwise learn the cookie of the current time window from them,
    // which a remote sender cannot.
    s.impl.cookies = CookieJar();
    if (freshCaps)
        s.impl.replies = ReplyLimiter();
    std::vector<uint8_t> datagram(data, data + len);
    if (validCookie && len >= 2) {
        uint16_t field;
        std::memcpy(&field, datagram.data(), 2);
        field = ntohs(field);
        const size_t header = (field & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? sizeof(ENetProtocolHeader)
                                                                          : offsetof(ENetProtocolHeader, sentTime);
        if ((field & ENET_PROTOCOL_MAXIMUM_PEER_ID) == ENET_PROTOCOL_MAXIMUM_PEER_ID &&
            len >= header + sizeof(ENetProtocolConnect)) {
            const uint32_t cookie = htonl(s.impl.cookies.make(loopback(1), s.senderPort, monotonicMs()));
            std::memcpy(datagram.data() + header + offsetof(ENetProtocolConnect, data), &cookie, 4);
        }
    }

    uint8_t reply[65536];
    while (::recv(s.sender, reply, sizeof reply, 0) >= 0) {
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = loopback(1);
    to.sin_port = htons(s.impl.bound.port);
    if (::sendto(s.sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return {{}, 0};
    pollfd ready{static_cast<int>(s.host->socket), POLLIN, 0};
    if (::poll(&ready, 1, 1000) != 1)
        fail("the datagram did not arrive");
    s.impl.serviceOnce();
    s.impl.runTimers();
    s.impl.flush();

    Intake result{{}, s.peersInUse() + s.impl.connections.size()};
    for (;;) {
        const ssize_t n = ::recv(s.sender, reply, sizeof reply, 0);
        if (n < 0)
            break;
        result.replySizes.push_back(static_cast<size_t>(n));
    }
    s.collect();
    s.dropConnections();
    return result;
}

void IntakeServer::useCiphers(uint8_t local) {
    State& s = *state_;
    const uint8_t chosen = chooseCipher(s.impl.ciphers, local);
    if (!chosen)
        fail("the server does not offer that cipher");
    if (chosen != s.cipher) {
        s.cipher = chosen;
        s.dropConnections();
        s.peer = nullptr;
    }
}

void IntakeServer::messageOnConnection(const uint8_t* data, size_t len) {
    State& s = *state_;
    s.ensureConnection();
    s.impl.onEnetReceive(s.peer, data, len);
    s.collect();
}

void IntakeServer::sealedOnConnection(const uint8_t* data, size_t len, int times) {
    State& s = *state_;
    s.ensureConnection();
    if (!s.clientChannel)
        fail("sealed message on a plain connection");
    std::vector<uint8_t> frame(1 + kSealOverhead + len);
    frame[0] = kFrameSealed;
    if (!s.clientChannel->seal(frame.data(), 1, data, len, frame.data() + 1))
        fail("sealing failed");
    for (int i = 0; i < times && s.connectionUp(); ++i)
        s.impl.onEnetReceive(s.peer, frame.data(), frame.size());
    s.collect();
}

void IntakeServer::helloOnNewConnection(const uint8_t* data, size_t len) {
    State& s = *state_;
    ENetPeer* p = &s.host->peers[1];
    Connection* c = s.accept(p, loopback(3), 40001);
    if (!c)
        fail("the server did not take the second connection");
    s.impl.onEnetReceive(p, data, len);
    if (Connection* still = s.impl.findByPeer(p))
        s.impl.removeConnection(still);
    s.collect();
}

std::vector<Delivered> IntakeServer::takeDelivered() {
    std::vector<Delivered> out;
    out.swap(state_->delivered);
    return out;
}

bool IntakeServer::connected() const { return state_->connectionUp(); }

}  // namespace pwnet::fuzz
