// Connection table, packet delivery and message sending shared by the API and the thread.
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "net/peer_impl.h"

namespace pwnet {

int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void initializeLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0)
            std::abort();
        if (enet_initialize() != 0)
            std::abort();
    });
}

Impl::Impl() {}

Impl::~Impl() {
    for (Packet* p : inbox)
        std::free(p);
    sodium_memzero(serverSk, sizeof serverSk);
}

Connection* Impl::findByAddress(const SystemAddress& a) {
    for (auto& c : connections)
        if (c->address == a)
            return c.get();
    return nullptr;
}

Connection* Impl::findByPeer(ENetPeer* p) {
    auto* c = static_cast<Connection*>(p->data);
    // peer->data is cleared whenever a connection ends, so a set pointer is always live;
    // the check guards against a stale handle all the same.
    if (c && c->peer == p)
        return c;
    return nullptr;
}

void Impl::removeConnection(Connection* c) {
    if (c->peer) {
        c->peer->data = nullptr;
        c->peer = nullptr;
    }
    if (c->slot >= 0 && static_cast<size_t>(c->slot) < slots.size() && slots[c->slot] == c)
        slots[c->slot] = nullptr;
    for (auto it = connections.begin(); it != connections.end(); ++it) {
        if (it->get() == c) {
            connections.erase(it);
            return;
        }
    }
}

int Impl::freeSlot() const {
    for (size_t i = 0; i < slots.size(); ++i)
        if (!slots[i])
            return static_cast<int>(i);
    return -1;
}

size_t Impl::incomingCount() const {
    size_t n = 0;
    for (const auto& c : connections)
        if (!c->outgoing)
            ++n;
    return n;
}

namespace {
Packet* allocatePacket(const SystemAddress& from, int slot, size_t len) {
    // One block: the record followed by its bytes.
    auto* p = static_cast<Packet*>(std::malloc(sizeof(Packet) + len));
    if (!p)
        return nullptr;
    p->systemIndex = slot >= 0 ? static_cast<uint16_t>(slot) : 0xFFFF;
    p->systemAddress = from;
    p->length = static_cast<unsigned>(len);
    p->bitSize = static_cast<unsigned>(len * 8);
    p->data = reinterpret_cast<unsigned char*>(p + 1);
    return p;
}
}  // namespace

void Impl::deliver(unsigned char id, const SystemAddress& from, int slot) {
    if (Packet* p = allocatePacket(from, slot, 1)) {
        p->data[0] = id;
        inbox.push_back(p);
    }
}

Packet* Impl::deliverData(const SystemAddress& from, int slot, const uint8_t* data, size_t len) {
    Packet* p = allocatePacket(from, slot, len);
    if (p) {
        std::memcpy(p->data, data, len);
        inbox.push_back(p);
    }
    return p;
}

ENetPacket* Impl::makeInner(Connection& c, uint8_t kind, const uint8_t* body, size_t len, uint32_t flags) {
    ENetPacket* packet = nullptr;
    if (c.secured) {
        packet = enet_packet_create(nullptr, 1 + kSealOverhead + 1 + len, flags);
        if (!packet)
            return nullptr;
        scratch.resize(1 + len);
        scratch[0] = kind;
        if (len)
            std::memcpy(scratch.data() + 1, body, len);
        packet->data[0] = kFrameSealed;
        if (!c.channel.seal(packet->data, 1, scratch.data(), scratch.size(), packet->data + 1)) {
            enet_packet_destroy(packet);
            return nullptr;
        }
    } else {
        packet = enet_packet_create(nullptr, 1 + len, flags);
        if (!packet)
            return nullptr;
        packet->data[0] = kind;
        if (len)
            std::memcpy(packet->data + 1, body, len);
    }
    return packet;
}

bool Impl::sendInner(Connection& c, uint8_t kind, const uint8_t* body, size_t len, uint32_t flags, uint8_t channel) {
    if (!c.peer)
        return false;
    ENetPacket* packet = makeInner(c, kind, body, len, flags);
    if (!packet)
        return false;
    if (enet_peer_send(c.peer, channel, packet) < 0) {
        enet_packet_destroy(packet);
        return false;
    }
    return true;
}

void Impl::sendRaw(uint32_t ip, uint16_t port, const uint8_t* data, size_t len) {
    if (!host)
        return;
    ENetAddress to{};
    to.host = ip;
    to.port = port;
    ENetBuffer buffer;
    buffer.data = const_cast<uint8_t*>(data);
    buffer.dataLength = len;
    enet_socket_send(host->socket, &to, &buffer, 1);
}

void Impl::flush() {
    if (host) {
        closeBatches();
        for (auto& c : connections)
            releaseHeld(*c, false);
        enet_host_flush(host);
        for (auto& c : connections)
            c->unsentBytes = 0;
        flushDue = false;
    }
}

void Impl::wake() {
    if (wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t r = ::write(wakeFd, &one, sizeof one);
        (void)r;
    }
}

void Impl::armFlushTimer() {
    if (flushTimerFd < 0)
        return;
    itimerspec when{};
    when.it_value.tv_nsec = kTailFlushUs * 1000;
    timerfd_settime(flushTimerFd, 0, &when, nullptr);
}

void Impl::applyTimeout(ENetPeer* p) {
    // Lost only after timeoutMs without an acknowledgement, however many resends that took.
    enet_peer_timeout(p, 32, timeoutMs, timeoutMs);
}

}  // namespace pwnet
