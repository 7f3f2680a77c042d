// Data messages that an application sends in quick succession travel together: each connection
// gathers them into one batch (one ENet packet, one seal), which leaves when it is full, when the
// application asks for input, or by the tail timer. A message sent on its own leaves at once, as
// a plain data message.
#include <algorithm>
#include <cstring>

#include "net/peer_impl.h"

namespace pwnet {

bool Impl::appendData(Connection& c, const uint8_t* payload, size_t len, uint32_t flags, uint8_t channel) {
    if (!c.peer)
        return false;
    const size_t entry = 2 + len;
    // A batch keeps one channel and one kind of delivery, so ENet sees the messages in the order
    // they were sent.
    if (c.batchCount > 0 &&
        (c.batchChannel != channel || c.batchFlags != flags || c.batch.size() + entry > kBatchBytes)) {
        flushDue = flushDue || c.batch.size() + entry > kBatchBytes;
        closeBatch(c);
    }
    if (entry > kBatchBytes) {
        // Too large for a batch: its own packet, which leaves with this send as a full batch does.
        flushDue = true;
        return sendData(c, makeInner(c, kInnerData, payload, len, flags), channel);
    }
    if (c.batchCount == 0) {
        c.batchChannel = channel;
        c.batchFlags = flags;
    }
    const size_t at = c.batch.size();
    c.batch.resize(at + entry);
    putU16(c.batch.data() + at, static_cast<uint16_t>(len));
    std::memcpy(c.batch.data() + at + 2, payload, len);
    ++c.batchCount;
    batchesOpen = true;
    return true;
}

void Impl::closeBatch(Connection& c) {
    if (c.batchCount == 1)
        sendData(c, makeInner(c, kInnerData, c.batch.data() + 2, c.batch.size() - 2, c.batchFlags), c.batchChannel);
    else if (c.batchCount > 1)
        sendData(c, makeInner(c, kInnerBatch, c.batch.data(), c.batch.size(), c.batchFlags), c.batchChannel);
    c.batch.clear();
    c.batchCount = 0;
}

namespace {
// Whether `bytes` more can go to ENet without going past the connection's send window: ENet
// would keep them queued and walk that queue on every flush. Something always may when
// nothing is under way, however large.
bool windowHasRoom(const Connection& c, size_t bytes) {
    const ENetPeer* p = c.peer;
    const uint64_t busy = uint64_t{p->reliableDataInTransit} + c.unsentBytes;
    if (busy == 0)
        return true;
    const uint64_t window = std::max<uint64_t>(uint64_t{p->windowSize} * p->packetThrottle / ENET_PEER_PACKET_THROTTLE_SCALE, p->mtu);
    return busy + bytes <= window;
}
}  // namespace

bool Impl::sendData(Connection& c, ENetPacket* packet, uint8_t channel) {
    if (!packet || !c.peer) {
        if (packet)
            enet_packet_destroy(packet);
        return false;
    }
    if (!c.held.empty() || !windowHasRoom(c, packet->dataLength)) {
        c.held.push_back({packet, channel});
        return true;
    }
    if (enet_peer_send(c.peer, channel, packet) < 0) {
        enet_packet_destroy(packet);
        return false;
    }
    c.unsentBytes += packet->dataLength;
    return true;
}

void Impl::releaseHeld(Connection& c, bool all) {
    while (!c.held.empty() && c.peer && (all || windowHasRoom(c, c.held.front().packet->dataLength))) {
        const Connection::Held h = c.held.front();
        c.held.pop_front();
        if (enet_peer_send(c.peer, h.channel, h.packet) < 0)
            enet_packet_destroy(h.packet);
        else
            c.unsentBytes += h.packet->dataLength;
    }
}

void Impl::closeBatches() {
    if (!batchesOpen)
        return;
    for (auto& c : connections)
        closeBatch(*c);
    batchesOpen = false;
}

void Impl::noteSent(int64_t startUs) {
    // A send on its own leaves at once. Sends that follow one another closely share datagrams:
    // a full batch (or a message too large for one) leaves with its send, the rest when the application next asks
    // for input or the one-shot timer fires, whichever comes first.
    const bool alone = startUs - lastSendEndUs >= kBurstGapUs;
    if (alone || flushDue) {
        flush();
    } else if (batchesOpen) {
        burstUntilUs.store(startUs + 2 * kTailFlushUs, std::memory_order_relaxed);
        if (!tailTimerArmed) {
            tailTimerArmed = true;
            armFlushTimer();
        }
    }
    lastSendEndUs = monotonicUs();
}

void Impl::handleBatch(Connection& c, const uint8_t* d, size_t len) {
    // Entries are checked against what is left; a malformed one ends the batch.
    while (len >= 2) {
        const size_t n = getU16(d);
        if (n == 0 || n > len - 2)
            return;
        receiveData(c, d + 2, n);
        d += 2 + n;
        len -= 2 + n;
    }
}

void Impl::receiveData(Connection& c, const uint8_t* payload, size_t n) {
    ++c.stats.messagesReceived;
    c.stats.bytesReceived += n;
    Packet* p = deliverData(c.address, c.slot, payload, n);
    if (p && p->data[0] == ID_TIMESTAMP && n >= 5 && c.haveOffset) {
        // The stamp is in the sender's clock; move it into ours.
        RakNetTime stamp;
        std::memcpy(&stamp, p->data + 1, 4);
        stamp -= static_cast<uint32_t>(c.clockOffset);
        std::memcpy(p->data + 1, &stamp, 4);
    }
}

}  // namespace pwnet
