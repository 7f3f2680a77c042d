// Connection life on top of ENet: the hello exchange (addresses, keys, clock), the welcome,
// refusals, message intake and the clock-offset samples.
#include <cstring>

#include "net/peer_impl.h"

namespace pwnet {

namespace {
constexpr size_t kHelloServerBytes = 1 + 1 + 4 + 6 + 6 + 1;  // frame .. ciphers offered
constexpr size_t kHelloClientFixed = 4 + 4 + 6 + 6 + 1;      // body without the password
constexpr uint32_t kReliable = ENET_PACKET_FLAG_RELIABLE;

SystemAddress readAddress(const uint8_t* p) {
    uint32_t ip;
    std::memcpy(&ip, p, 4);
    return SystemAddress(ip, getU16(p + 4));
}
}  // namespace

void Impl::onEnetConnect(ENetPeer* p) {
    if (Connection* c = findByPeer(p)) {
        if (c->outgoing && c->state == ConnState::Connecting) {
            c->state = ConnState::HelloWait;
            applyTimeout(p);
        }
        return;
    }
    p->data = nullptr;
    const SystemAddress from = toSystemAddress(p->address);
    const int64_t now = monotonicMs();
    Reason refuse = kReasonNone;
    if (bans.matches(from.binaryAddress, now))
        refuse = kReasonBanned;
    else if (findByAddress(from))
        refuse = kReasonAlready;
    else if (incomingCount() >= maxIncoming || freeSlot() < 0)
        refuse = kReasonFull;
    if (refuse != kReasonNone) {
        enet_peer_disconnect(p, disconnectData(refuse));
        return;
    }
    auto conn = std::make_unique<Connection>();
    Connection* c = conn.get();
    c->id = nextConnectionId++;
    c->address = from;
    c->peer = p;
    c->state = ConnState::HelloWait;
    c->outgoing = false;
    c->slot = freeSlot();
    c->deadlineMs = now + kHandshakeMs;
    slots[c->slot] = c;
    p->data = c;
    connections.push_back(std::move(conn));
    applyTimeout(p);
    sendHelloServer(*c);
}

void Impl::onEnetDisconnect(ENetPeer* p, uint32_t data) {
    Connection* c = findByPeer(p);
    p->data = nullptr;
    if (!c)
        return;
    const Reason reason = reasonOf(data);
    if (c->state == ConnState::Connected) {
        deliver(reason == kReasonGraceful ? ID_DISCONNECTION_NOTIFICATION : ID_CONNECTION_LOST, c->address, c->slot);
    } else if (c->outgoing) {
        unsigned char id = ID_CONNECTION_ATTEMPT_FAILED;
        switch (reason) {
        case kReasonBanned: id = ID_CONNECTION_BANNED; break;
        case kReasonFull: id = ID_NO_FREE_INCOMING_CONNECTIONS; break;
        case kReasonPassword: id = ID_INVALID_PASSWORD; break;
        case kReasonAlready: id = ID_ALREADY_CONNECTED; break;
        default: break;
        }
        deliver(id, c->address, -1);
    }
    c->peer = nullptr;
    removeConnection(c);
}

bool Impl::keepEarly(Connection& c, bool opened, const uint8_t* d, size_t len) {
    if (c.early.size() >= kMaxEarlyMessages)
        return false;
    c.early.push_back(Connection::Early{opened, std::vector<uint8_t>(d, d + len)});
    return true;
}

void Impl::refuseIncoming(Connection& c, Reason reason) {
    if (c.peer)
        enet_peer_disconnect(c.peer, disconnectData(reason));
    removeConnection(&c);
}

void Impl::onEnetReceive(ENetPeer* p, const uint8_t* d, size_t len) {
    Connection* c = findByPeer(p);
    if (!c || len == 0)
        return;
    if (c->state == ConnState::HelloWait) {
        if (c->outgoing && d[0] == kFrameHelloServer) {
            handleHelloServer(*c, d, len);
        } else if (!c->outgoing && d[0] == kFrameHelloClient) {
            handleHelloClient(*c, d, len);
        } else if (!keepEarly(*c, false, d, len)) {
            if (c->outgoing)
                failOutgoing(*c, ID_CONNECTION_ATTEMPT_FAILED);
            else
                refuseIncoming(*c, kReasonProtocol);
        }
        return;
    }
    if (c->state == ConnState::WelcomeWait || c->state == ConnState::Connected)
        handleFrame(*c, d, len);
}

void Impl::sendHelloServer(Connection& c) {
    uint8_t hello[kHelloServerBytes + kPublicKeyBytes];
    hello[0] = kFrameHelloServer;
    hello[1] = kProtocolVersion;
    putU32(hello + 2, RakNet::GetTime());
    putAddress(hello + 6, c.address.binaryAddress, c.address.port);
    SystemAddress mine = bound;
    putAddress(hello + 12, mine.binaryAddress, mine.port);
    hello[18] = securityOn ? ciphers : 0;  // the ciphers on offer; none: plain
    size_t len = kHelloServerBytes;
    if (securityOn) {
        std::memcpy(hello + kHelloServerBytes, serverPk, kPublicKeyBytes);
        len += kPublicKeyBytes;
    }
    ENetPacket* packet = enet_packet_create(hello, len, kReliable);
    if (packet && enet_peer_send(c.peer, 0, packet) < 0)
        enet_packet_destroy(packet);
}

void Impl::handleHelloServer(Connection& c, const uint8_t* d, size_t len) {
    if (len < kHelloServerBytes || d[1] != kProtocolVersion ||
        len != kHelloServerBytes + (d[18] ? kPublicKeyBytes : 0)) {
        failOutgoing(c, ID_CONNECTION_ATTEMPT_FAILED);
        return;
    }
    // Not authenticated, but a forged offer can only move the choice between sound ciphers.
    const uint8_t cipher = d[18] ? chooseCipher(d[18], ciphers) : 0;
    if (d[18] && !cipher) {
        failOutgoing(c, ID_CONNECTION_ATTEMPT_FAILED);
        return;
    }
    const uint32_t serverTime = getU32(d + 2);
    c.externalId = readAddress(d + 6);
    c.remoteInternal = readAddress(d + 12);
    c.secured = cipher != 0;
    uint8_t clientPk[kPublicKeyBytes], clientSk[kSecretKeyBytes];
    if (c.secured) {
        crypto_kx_keypair(clientPk, clientSk);
        bool ok = c.channel.deriveClient(cipher, clientPk, clientSk, d + kHelloServerBytes);
        sodium_memzero(clientSk, sizeof clientSk);
        if (!ok) {
            failOutgoing(c, ID_CONNECTION_ATTEMPT_FAILED);
            return;
        }
    }
    lastExternal = c.externalId;
    // Remote clock minus ours, with the round trip measured by the cookie exchange.
    const uint32_t now = RakNet::GetTime();
    noteClockSample(c, c.cookieRttMs, static_cast<int32_t>(serverTime + c.cookieRttMs / 2 - now));

    const size_t pwLen = c.password.size();
    uint8_t body[kHelloClientFixed + 255];
    putU32(body, now);
    putU32(body + 4, serverTime);
    putAddress(body + 8, c.address.binaryAddress, c.address.port);
    putAddress(body + 14, bound.binaryAddress, bound.port);
    body[20] = static_cast<uint8_t>(pwLen);
    std::memcpy(body + kHelloClientFixed, c.password.data(), pwLen);
    const size_t bodyLen = kHelloClientFixed + pwLen;

    ENetPacket* packet;
    if (c.secured) {
        packet = enet_packet_create(nullptr, 2 + kPublicKeyBytes + kSealOverhead + bodyLen, kReliable);
        if (!packet)
            return;
        packet->data[0] = kFrameHelloClient;
        packet->data[1] = cipher;  // sealed with the body as associated data
        std::memcpy(packet->data + 2, clientPk, kPublicKeyBytes);
        c.channel.seal(packet->data, 2, body, bodyLen, packet->data + 2 + kPublicKeyBytes);
    } else {
        packet = enet_packet_create(nullptr, 2 + bodyLen, kReliable);
        if (!packet)
            return;
        packet->data[0] = kFrameHelloClient;
        packet->data[1] = 0;
        std::memcpy(packet->data + 2, body, bodyLen);
    }
    sodium_memzero(body, sizeof body);
    if (enet_peer_send(c.peer, 0, packet) < 0) {
        enet_packet_destroy(packet);
        failOutgoing(c, ID_CONNECTION_ATTEMPT_FAILED);
        return;
    }
    c.state = ConnState::WelcomeWait;
    // Frames of the server that overtook its hello (other channels) can be read now.
    auto early = std::move(c.early);
    c.early.clear();
    const uint64_t id = c.id;
    for (auto& e : early) {
        Connection* still = findByAddress(c.address);
        if (!still || still->id != id)
            return;
        handleFrame(c, e.bytes.data(), e.bytes.size());
    }
}

void Impl::handleHelloClient(Connection& c, const uint8_t* d, size_t len) {
    // A secured server takes one of the ciphers it offered, a plain one nothing but 0.
    const uint8_t cipher = len >= 2 ? d[1] : 0xFF;
    const bool offered = securityOn ? (cipher == kCipherChaCha20Poly1305 || cipher == kCipherAes256Gcm) &&
                                          (cipher & ciphers)
                                    : cipher == 0;
    if (!offered) {
        refuseIncoming(c, kReasonProtocol);
        return;
    }
    uint8_t body[kHelloClientFixed + 255];
    size_t bodyLen;
    if (securityOn) {
        const size_t head = 2 + kPublicKeyBytes;
        if (len < head + kSealOverhead + kHelloClientFixed || len > head + kSealOverhead + sizeof body ||
            !c.channel.deriveServer(cipher, serverPk, serverSk, d + 2)) {
            refuseIncoming(c, kReasonProtocol);
            return;
        }
        bodyLen = len - head - kSealOverhead;
        if (c.channel.open(d, 2, d + head, len - head, body) != SecureChannel::Open::Ok) {
            refuseIncoming(c, kReasonProtocol);
            return;
        }
        c.secured = true;
    } else {
        if (len < 2 + kHelloClientFixed || len > 2 + sizeof body) {
            refuseIncoming(c, kReasonProtocol);
            return;
        }
        bodyLen = len - 2;
        std::memcpy(body, d + 2, bodyLen);
    }
    const size_t pwLen = body[20];
    if (bodyLen != kHelloClientFixed + pwLen) {
        refuseIncoming(c, kReasonProtocol);
        return;
    }
    if (pwLen != incomingPassword.size() ||
        (pwLen && sodium_memcmp(body + kHelloClientFixed, incomingPassword.data(), pwLen) != 0)) {
        refuseIncoming(c, kReasonPassword);
        return;
    }
    const uint32_t clientTime = getU32(body), echoed = getU32(body + 4);
    c.externalId = readAddress(body + 8);
    c.remoteInternal = readAddress(body + 14);
    lastExternal = c.externalId;
    const uint32_t now = RakNet::GetTime();
    const uint32_t rtt = now - echoed;
    if (rtt < 60000)
        noteClockSample(c, rtt, static_cast<int32_t>(clientTime + rtt / 2 - now));
    becomeConnected(c);
}

void Impl::becomeConnected(Connection& c) {
    c.state = ConnState::Connected;
    c.stats.connectionStartTime = RakNet::GetTime();
    if (!c.outgoing) {
        sendInner(c, kInnerWelcome, nullptr, 0, kReliable, 0);
        deliver(ID_NEW_INCOMING_CONNECTION, c.address, c.slot);
    } else {
        deliver(ID_CONNECTION_REQUEST_ACCEPTED, c.address, c.slot);
    }
    sendTimePing(c);
    c.nextPingMs = monotonicMs() + kOccasionalPingMs;
    auto early = std::move(c.early);
    c.early.clear();
    const uint64_t id = c.id;
    const SystemAddress address = c.address;
    for (auto& e : early) {
        Connection* still = findByAddress(address);
        if (!still || still->id != id)
            return;
        if (e.opened)
            handleInner(c, e.bytes.data(), e.bytes.size());
        else
            handleFrame(c, e.bytes.data(), e.bytes.size());
    }
}

void Impl::handleFrame(Connection& c, const uint8_t* d, size_t len) {
    if (!c.secured) {
        if (d[0] >= kInnerWelcome && d[0] <= kInnerBatch)
            handleInner(c, d, len);
        return;
    }
    if (d[0] != kFrameSealed || len < 1 + kSealOverhead + 1) {
        // Clear text on a secured connection is a forgery.
        if (c.state == ConnState::Connected)
            deliver(ID_MODIFIED_PACKET, c.address, c.slot);
        return;
    }
    // One buffer serves the common case; a nested call (early messages replayed while a
    // welcome is handled) gets its own.
    const size_t plainLen = len - 1 - kSealOverhead;
    std::vector<uint8_t> nested;
    uint8_t* plain;
    if (openDepth == 0) {
        if (openBuffer.size() < plainLen)
            openBuffer.resize(plainLen);
        plain = openBuffer.data();
    } else {
        nested.resize(plainLen);
        plain = nested.data();
    }
    ++openDepth;
    switch (c.channel.open(d, 1, d + 1, len - 1, plain)) {
    case SecureChannel::Open::Ok:
        handleInner(c, plain, plainLen);
        break;
    case SecureChannel::Open::Forged:
        deliver(ID_MODIFIED_PACKET, c.address, c.state == ConnState::Connected ? c.slot : -1);
        break;
    case SecureChannel::Open::Replayed:
        break;
    }
    --openDepth;
}

void Impl::handleInner(Connection& c, const uint8_t* d, size_t len) {
    switch (d[0]) {
    case kInnerWelcome:
        if (c.outgoing && c.state == ConnState::WelcomeWait && len == 1)
            becomeConnected(c);
        return;
    case kInnerData:
    case kInnerBatch:
        if (len < 2)
            return;
        if (c.state != ConnState::Connected) {
            if (!keepEarly(c, true, d, len))
                failOutgoing(c, ID_CONNECTION_ATTEMPT_FAILED);
            return;
        }
        if (d[0] == kInnerData)
            receiveData(c, d + 1, len - 1);
        else
            handleBatch(c, d + 1, len - 1);
        return;
    case kInnerTimePing: {
        if (len != 5)
            return;
        uint8_t pong[8];
        std::memcpy(pong, d + 1, 4);
        putU32(pong + 4, RakNet::GetTime());
        sendInner(c, kInnerTimePong, pong, sizeof pong, ENET_PACKET_FLAG_UNSEQUENCED, 0);
        return;
    }
    case kInnerTimePong: {
        if (len != 9)
            return;
        const uint32_t now = RakNet::GetTime();
        const uint32_t rtt = now - getU32(d + 1);
        if (rtt >= 60000)
            return;
        c.pingSamples.push_back(rtt);
        if (c.pingSamples.size() > 5)
            c.pingSamples.pop_front();
        noteClockSample(c, rtt, static_cast<int32_t>(getU32(d + 5) + rtt / 2 - now));
        return;
    }
    default:
        return;
    }
}

void Impl::sendTimePing(Connection& c) {
    uint8_t body[4];
    putU32(body, RakNet::GetTime());
    sendInner(c, kInnerTimePing, body, sizeof body, ENET_PACKET_FLAG_UNSEQUENCED, 0);
}

void Impl::noteClockSample(Connection& c, uint32_t rtt, int32_t offset) {
    c.offsetSamples.emplace_back(rtt, offset);
    if (c.offsetSamples.size() > 8)
        c.offsetSamples.pop_front();
    // The sample with the shortest round trip has the smallest error.
    auto best = c.offsetSamples.front();
    for (const auto& s : c.offsetSamples)
        if (s.first <= best.first)
            best = s;
    c.clockOffset = best.second;
    c.haveOffset = true;
}

}  // namespace pwnet
