// Datagrams outside connections: offline ping and pong, the connection request and its
// stateless cookie, refusals; and the gate in front of ENet's connection handling.
#include <cstddef>
#include <cstring>

#include "net/peer_impl.h"

namespace pwnet {

int Impl::intercept(ENetHost* h) {
    const uint8_t* d = h->receivedData;
    const size_t len = h->receivedDataLength;
    const uint32_t ip = h->receivedAddress.host;
    const uint16_t port = h->receivedAddress.port;
    if (len >= kMagicBytes && std::memcmp(d, kMagic, kMagicBytes) == 0) {
        handleOffline(ip, port, d, len);
        return 1;
    }
    if (len < sizeof(enet_uint16))
        return 1;
    enet_uint16 field;
    std::memcpy(&field, d, sizeof field);
    field = ENET_NET_TO_HOST_16(field);
    if (field & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED)
        return 1;
    const unsigned peerId = field & ENET_PROTOCOL_MAXIMUM_PEER_ID;
    if (peerId == ENET_PROTOCOL_MAXIMUM_PEER_ID) {
        // No peer yet: only a CONNECT that carries a valid cookie from an address that is not
        // banned reaches ENet, so ENet allocates peers only for proven addresses.
        size_t header = (field & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? sizeof(ENetProtocolHeader)
                                                                     : offsetof(ENetProtocolHeader, sentTime);
        if (len < header + sizeof(ENetProtocolConnect))
            return 1;
        ENetProtocolConnect connect;
        std::memcpy(&connect, d + header, sizeof connect);
        if ((connect.header.command & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_CONNECT)
            return 1;
        const int64_t now = monotonicMs();
        if (bans.matches(ip, now))
            return 1;
        if (!cookies.check(ip, port, ENET_NET_TO_HOST_32(connect.data), now))
            return 1;
        return 0;
    }
    if (peerId < h->peerCount) {
        ENetPeer* p = &h->peers[peerId];
        if (p->address.host == ip && p->address.port == port)
            if (Connection* c = findByPeer(p))
                ++c->stats.datagramsReceived;
    }
    return 0;
}

void Impl::handleOffline(uint32_t ip, uint16_t port, const uint8_t* d, size_t len) {
    if (len <= kMagicBytes)
        return;
    const SystemAddress from(ip, port);
    const int64_t now = monotonicMs();
    switch (d[kMagicBytes]) {
    case kOfflinePing: {
        if (len != kPingBytes || (d[5] & ~kPingOnlyIfAccepting) != 0)
            return;
        for (size_t i = 10; i < kPingBytes; ++i)
            if (d[i] != 0)
                return;
        if (bans.matches(ip, now))
            return;
        if (!replies.allow(ip, now))
            return;
        // The application hears of every well-formed ping that is within the reply caps.
        uint8_t note[5] = {ID_PING};
        std::memcpy(note + 1, d + 6, 4);
        deliverData(from, -1, note, sizeof note);
        if ((d[5] & kPingOnlyIfAccepting) && incomingCount() >= maxIncoming)
            return;
        uint8_t pong[kPongBytes];
        std::memcpy(pong, kMagic, kMagicBytes);
        pong[4] = kOfflinePong;
        std::memcpy(pong + 5, d + 6, 4);
        static_assert(kPongBytes <= kPingBytes);
        sendRaw(ip, port, pong, sizeof pong);
        return;
    }
    case kOfflinePong: {
        if (len != kPongBytes)
            return;
        uint8_t note[5] = {ID_PONG};
        std::memcpy(note + 1, d + 5, 4);
        Connection* c = findByAddress(from);
        deliverData(from, c && c->state == ConnState::Connected ? c->slot : -1, note, sizeof note);
        return;
    }
    case kOfflineConnectRequest: {
        if (len != kRequestBytes || d[5] != kProtocolVersion || !replies.allow(ip, now))
            return;
        uint8_t reply[kCookieBytes];
        std::memcpy(reply, kMagic, kMagicBytes);
        std::memcpy(reply + 5, d + 6, 4);  // the requester's nonce
        Reason reason = kReasonNone;
        if (bans.matches(ip, now))
            reason = kReasonBanned;
        else if (findByAddress(from))
            reason = kReasonAlready;
        else if (incomingCount() >= maxIncoming || freeSlot() < 0)
            reason = kReasonFull;
        if (reason != kReasonNone) {
            reply[4] = kOfflineRefused;
            reply[9] = reason;
            static_assert(kRefusedBytes <= kRequestBytes);
            sendRaw(ip, port, reply, kRefusedBytes);
        } else {
            reply[4] = kOfflineCookie;
            putU32(reply + 9, cookies.make(ip, port, now));
            static_assert(kCookieBytes <= kRequestBytes);
            sendRaw(ip, port, reply, kCookieBytes);
        }
        return;
    }
    case kOfflineCookie:
    case kOfflineRefused: {
        const bool cookie = d[kMagicBytes] == kOfflineCookie;
        if (len != (cookie ? kCookieBytes : kRefusedBytes))
            return;
        Connection* c = findByAddress(from);
        if (!c || !c->outgoing || c->state != ConnState::Requesting || c->haveCookie ||
            getU32(d + 5) != c->requestNonce)
            return;
        if (cookie) {
            // The ENet connect is started by the thread's timers, outside ENet's receive loop.
            c->haveCookie = true;
            c->cookie = getU32(d + 9);
            c->cookieRttMs = static_cast<uint32_t>(now - c->requestSentMs);
            return;
        }
        unsigned char id = ID_CONNECTION_ATTEMPT_FAILED;
        switch (d[9]) {
        case kReasonBanned: id = ID_CONNECTION_BANNED; break;
        case kReasonFull: id = ID_NO_FREE_INCOMING_CONNECTIONS; break;
        case kReasonAlready: id = ID_ALREADY_CONNECTED; break;
        default: break;
        }
        failOutgoing(*c, id);
        return;
    }
    default:
        return;
    }
}

void Impl::sendConnectRequest(Connection& c) {
    uint8_t request[kRequestBytes] = {};
    std::memcpy(request, kMagic, kMagicBytes);
    request[4] = kOfflineConnectRequest;
    request[5] = kProtocolVersion;
    putU32(request + 6, c.requestNonce);
    sendRaw(c.address.binaryAddress, c.address.port, request, sizeof request);
    c.requestSentMs = monotonicMs();
    c.nextRequestMs = c.requestSentMs + kRequestRetryMs;
}

void Impl::sendPing(uint32_t ip, uint16_t port, bool onlyIfAccepting) {
    uint8_t ping[kPingBytes] = {};
    std::memcpy(ping, kMagic, kMagicBytes);
    ping[4] = kOfflinePing;
    ping[5] = onlyIfAccepting ? kPingOnlyIfAccepting : 0;
    RakNetTime now = RakNet::GetTime();
    std::memcpy(ping + 6, &now, 4);
    sendRaw(ip, port, ping, sizeof ping);
}

}  // namespace pwnet
