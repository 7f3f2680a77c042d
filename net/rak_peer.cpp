// The public peer: argument checks and locking around the implementation.
#include "net/rak_peer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "net/peer_impl.h"

using pwnet::ConnState;
using pwnet::Connection;
using Lock = std::lock_guard<pwnet::SpinFirstMutex>;

namespace {

bool resolve(const char* host, uint32_t& ip) {
    if (!host || !*host)
        return false;
    in_addr a{};
    if (inet_pton(AF_INET, host, &a) == 1) {
        ip = a.s_addr;
        return true;
    }
    addrinfo hints{}, *result = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
        return false;
    ip = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return true;
}

uint32_t enetFlags(PacketReliability r) {
    switch (r) {
    case UNRELIABLE: return ENET_PACKET_FLAG_UNSEQUENCED;
    case UNRELIABLE_SEQUENCED: return 0;
    default: return ENET_PACKET_FLAG_RELIABLE;
    }
}

}  // namespace

RakPeerInterface::RakPeerInterface() : impl(new RakPeerImpl) { pwnet::initializeLibraries(); }

RakPeerInterface::~RakPeerInterface() {
    Shutdown(0);
    delete impl;
}

bool RakPeerInterface::Startup(unsigned short maxConnections, int threadSleepTimer, SocketDescriptor* socketDescriptors,
                               unsigned socketDescriptorCount) {
    Lock lock(impl->mutex);
    if (impl->host || maxConnections == 0)
        return false;
    impl->ciphers = pwnet::localCiphers();
    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = 0;
    if (socketDescriptors && socketDescriptorCount > 0) {
        address.port = socketDescriptors[0].port;
        char host[sizeof socketDescriptors[0].hostAddress + 1] = {};
        std::memcpy(host, socketDescriptors[0].hostAddress, sizeof socketDescriptors[0].hostAddress);
        if (host[0]) {
            in_addr a{};
            if (inet_pton(AF_INET, host, &a) != 1)
                return false;
            address.host = a.s_addr;
        }
    }
    ENetHost* host = enet_host_create(&address, maxConnections + pwnet::kSparePeers, pwnet::kChannels, 0, 0);
    if (!host)
        return false;
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        enet_host_destroy(host);
        return false;
    }
    host->intercept = pwnet::interceptThunk;
    host->maximumPacketSize = 1 << 20;
    ENetAddress boundAddress{};
    enet_socket_get_address(host->socket, &boundAddress);
    impl->bound = SystemAddress(address.host, boundAddress.port);
    if (address.host == ENET_HOST_ANY) {
        in_addr a{};
        if (inet_pton(AF_INET, pwnet::localIpv4Addresses().front().c_str(), &a) == 1)
            impl->bound.binaryAddress = a.s_addr;
    }
    impl->host = host;
    impl->wakeFd = fd;
    impl->flushTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    impl->capResends();
    impl->maxConnections = maxConnections;
    impl->slots.assign(maxConnections, nullptr);
    impl->sleepMs = threadSleepTimer;
    impl->running.store(true, std::memory_order_release);
    impl->thread = std::thread(&pwnet::Impl::threadMain, impl);
    return true;
}

void RakPeerInterface::InitializeSecurity(const char*, const char*, const char*, const char*) {
    // Key texts are not used: the peer always makes its own X25519 pair.
    Lock lock(impl->mutex);
    crypto_kx_keypair(impl->serverPk, impl->serverSk);
    impl->securityOn = true;
}

void RakPeerInterface::SetIncomingPassword(const char* passwordData, int passwordDataLength) {
    Lock lock(impl->mutex);
    if (!passwordData || passwordDataLength <= 0)
        impl->incomingPassword.clear();
    else
        impl->incomingPassword.assign(passwordData, passwordDataLength > 255 ? 255 : passwordDataLength);
}

void RakPeerInterface::SetMaximumIncomingConnections(unsigned short numberAllowed) {
    Lock lock(impl->mutex);
    impl->maxIncoming = numberAllowed;
}

unsigned short RakPeerInterface::GetMaximumIncomingConnections() const {
    Lock lock(impl->mutex);
    return impl->maxIncoming;
}

bool RakPeerInterface::IsActive() const {
    Lock lock(impl->mutex);
    return impl->host != nullptr;
}

bool RakPeerInterface::Connect(const char* host, unsigned short remotePort, const char* passwordData,
                               int passwordDataLength, unsigned) {
    uint32_t ip;
    if (!resolve(host, ip) || remotePort == 0)
        return false;
    Lock lock(impl->mutex);
    if (!impl->host)
        return false;
    const SystemAddress target(ip, remotePort);
    if (impl->findByAddress(target))
        return false;
    const int slot = impl->freeSlot();
    if (slot < 0)
        return false;
    auto conn = std::make_unique<Connection>();
    Connection* c = conn.get();
    c->id = impl->nextConnectionId++;
    c->address = target;
    c->outgoing = true;
    c->state = ConnState::Requesting;
    c->slot = slot;
    c->requestNonce = randombytes_random();
    c->deadlineMs = pwnet::monotonicMs() + pwnet::kAttemptMs;
    if (passwordData && passwordDataLength > 0)
        c->password.assign(passwordData, passwordDataLength > 255 ? 255 : passwordDataLength);
    impl->slots[slot] = c;
    impl->connections.push_back(std::move(conn));
    impl->sendConnectRequest(*c);
    impl->wake();
    return true;
}

void RakPeerInterface::Shutdown(unsigned int blockDuration, unsigned char) {
    {
        Lock lock(impl->mutex);
        if (!impl->host)
            return;
        impl->running.store(false, std::memory_order_release);
    }
    impl->wake();
    if (impl->thread.joinable())
        impl->thread.join();
    Lock lock(impl->mutex);
    ENetHost* host = impl->host;
    impl->closeBatches();
    for (auto& c : impl->connections)
        impl->releaseHeld(*c, true);
    bool waiting = false;
    for (auto& c : impl->connections) {
        if (!c->peer)
            continue;
        if (c->state == ConnState::Connected && blockDuration > 0) {
            enet_peer_disconnect_later(c->peer, pwnet::disconnectData(pwnet::kReasonGraceful));
            waiting = true;
        } else if (c->state == ConnState::Connected) {
            enet_peer_disconnect_now(c->peer, pwnet::disconnectData(pwnet::kReasonGraceful));
        } else {
            enet_peer_reset(c->peer);
        }
        c->peer->data = nullptr;
        c->peer = nullptr;
    }
    // Connections closed just before still have their queued data and notice to send.
    for (size_t i = 0; i < host->peerCount && blockDuration > 0; ++i)
        if (host->peers[i].state == ENET_PEER_STATE_DISCONNECT_LATER || host->peers[i].state == ENET_PEER_STATE_DISCONNECTING)
            waiting = true;
    if (waiting) {
        // Let the notifications go out and be acknowledged, for at most blockDuration.
        const int64_t end = pwnet::monotonicMs() + blockDuration;
        pwnet::servicing = impl;
        for (;;) {
            bool busy = false;
            for (size_t i = 0; i < host->peerCount; ++i)
                if (host->peers[i].state != ENET_PEER_STATE_DISCONNECTED)
                    busy = true;
            const int64_t left = end - pwnet::monotonicMs();
            if (!busy || left <= 0)
                break;
            ENetEvent event;
            if (enet_host_service(host, &event, static_cast<enet_uint32>(left < 10 ? left : 10)) > 0 &&
                event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
        }
        pwnet::servicing = nullptr;
    }
    impl->connections.clear();
    impl->slots.assign(impl->slots.size(), nullptr);
    for (Packet* p : impl->inbox)
        std::free(p);
    impl->inbox.clear();
    enet_host_destroy(host);
    impl->host = nullptr;
    ::close(impl->wakeFd);
    impl->wakeFd = -1;
    if (impl->flushTimerFd >= 0)
        ::close(impl->flushTimerFd);
    impl->flushTimerFd = -1;
}

void RakPeerInterface::CloseConnection(const SystemAddress target, bool sendDisconnectionNotification, unsigned char) {
    Lock lock(impl->mutex);
    Connection* c = impl->findByAddress(target);
    if (!c)
        return;
    if (c->peer) {
        impl->closeBatch(*c);
        impl->releaseHeld(*c, true);
        if (sendDisconnectionNotification && c->state == ConnState::Connected)
            enet_peer_disconnect_later(c->peer, pwnet::disconnectData(pwnet::kReasonGraceful));
        else
            enet_peer_reset(c->peer);
    }
    impl->removeConnection(c);
    impl->flush();
    impl->wake();
}

bool RakPeerInterface::IsConnected(const SystemAddress systemAddress, bool includeInProgress, bool) {
    Lock lock(impl->mutex);
    Connection* c = impl->findByAddress(systemAddress);
    if (!c)
        return false;
    return c->state == ConnState::Connected || includeInProgress;
}

bool RakPeerInterface::GetConnectionList(SystemAddress* remoteSystems, unsigned short* numberOfSystems) const {
    if (!numberOfSystems)
        return false;
    Lock lock(impl->mutex);
    if (!impl->host) {
        *numberOfSystems = 0;
        return false;
    }
    unsigned short n = 0;
    for (Connection* c : impl->slots) {
        if (!c || c->state != ConnState::Connected)
            continue;
        if (remoteSystems) {
            if (n >= *numberOfSystems)
                break;
            remoteSystems[n] = c->address;
        }
        ++n;
    }
    *numberOfSystems = n;
    return true;
}

SystemAddress RakPeerInterface::GetSystemAddressFromIndex(int index) {
    Lock lock(impl->mutex);
    if (index < 0 || static_cast<size_t>(index) >= impl->slots.size())
        return UNASSIGNED_SYSTEM_ADDRESS;
    Connection* c = impl->slots[index];
    return c && c->state == ConnState::Connected ? c->address : UNASSIGNED_SYSTEM_ADDRESS;
}

bool RakPeerInterface::Send(const char* data, const int length, PacketPriority, PacketReliability reliability,
                            char orderingChannel, SystemAddress systemAddress, bool broadcast) {
    if (!data || length <= 0)
        return false;
    const uint32_t flags = enetFlags(reliability);
    const uint8_t channel = static_cast<uint8_t>(static_cast<unsigned char>(orderingChannel) % pwnet::kChannels);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    // Taken before the lock: time spent waiting for the network thread does not end a burst.
    const int64_t now = pwnet::monotonicUs();
    Lock lock(impl->mutex);
    if (!impl->host)
        return false;
    auto sendTo = [&](Connection& c) {
        if (impl->appendData(c, bytes, static_cast<size_t>(length), flags, channel)) {
            ++c.stats.messagesSent;
            c.stats.bytesSent += static_cast<uint64_t>(length);
        }
    };
    if (broadcast) {
        for (auto& c : impl->connections)
            if (c->state == ConnState::Connected && c->address != systemAddress)
                sendTo(*c);
    } else {
        Connection* c = impl->findByAddress(systemAddress);
        if (!c || c->state != ConnState::Connected)
            return false;
        sendTo(*c);
    }
    impl->noteSent(now);
    return true;
}

Packet* RakPeerInterface::Receive() {
    Lock lock(impl->mutex);
    // With nothing queued, take what the socket holds now rather than wait for the thread: when
    // the thread has seen it readable, or always for an application that polls without pause.
    // One that polls at intervals makes no system call here while nothing arrives.
    bool serviced = false;
    if (impl->inbox.empty() && impl->host) {
        const int64_t now = pwnet::monotonicUs();
        const bool pollingHard = now - impl->lastEmptyReceiveUs < pwnet::kHardPollingUs;
        impl->lastEmptyReceiveUs = now;
        impl->appPolledUs.store(now, std::memory_order_relaxed);
        if (impl->socketReadable.exchange(false, std::memory_order_acq_rel) || pollingHard) {
            impl->serviceOnce();
            serviced = true;
        }
    }
    // Acknowledgements of what was just taken in leave now; and the application is back for
    // input, so whatever it sent before has all been said.
    if (serviced || impl->batchesOpen)
        impl->flush();
    if (impl->inbox.empty())
        return nullptr;
    Packet* p = impl->inbox.front();
    impl->inbox.pop_front();
    return p;
}

void RakPeerInterface::DeallocatePacket(Packet* packet) { std::free(packet); }

void RakPeerInterface::Ping(const char* host, unsigned short remotePort, bool onlyReplyOnAcceptingConnections,
                            unsigned) {
    uint32_t ip;
    if (!resolve(host, ip))
        return;
    Lock lock(impl->mutex);
    if (impl->host)
        impl->sendPing(ip, remotePort, onlyReplyOnAcceptingConnections);
}

int RakPeerInterface::GetAveragePing(const SystemAddress systemAddress) {
    Lock lock(impl->mutex);
    Connection* c = impl->findByAddress(systemAddress);
    if (!c || c->state != ConnState::Connected || c->pingSamples.empty())
        return -1;
    uint64_t sum = 0;
    for (uint32_t s : c->pingSamples)
        sum += s;
    return static_cast<int>(sum / c->pingSamples.size());
}

void RakPeerInterface::SetOccasionalPing(bool doPing) {
    Lock lock(impl->mutex);
    impl->occasionalPing = doPing;
}

void RakPeerInterface::SetTimeoutTime(RakNetTime timeMS, const SystemAddress) {
    Lock lock(impl->mutex);
    impl->timeoutMs = timeMS < 100 ? 100 : timeMS;
    for (auto& c : impl->connections)
        if (c->peer)
            impl->applyTimeout(c->peer);
}

void RakPeerInterface::AddToBanList(const char* IP, RakNetTime milliseconds) {
    Lock lock(impl->mutex);
    impl->bans.add(IP, milliseconds, pwnet::monotonicMs());
}

bool RakPeerInterface::IsBanned(const char* IP) {
    Lock lock(impl->mutex);
    return impl->bans.matchesText(IP, pwnet::monotonicMs());
}

const char* RakPeerInterface::GetLocalIP(unsigned int index) {
    Lock lock(impl->mutex);
    if (impl->localIps.empty())
        impl->localIps = pwnet::localIpv4Addresses();
    return index < impl->localIps.size() ? impl->localIps[index].c_str() : "";
}

SystemAddress RakPeerInterface::GetInternalID(const SystemAddress systemAddress) const {
    Lock lock(impl->mutex);
    if (systemAddress == UNASSIGNED_SYSTEM_ADDRESS)
        return impl->host ? impl->bound : UNASSIGNED_SYSTEM_ADDRESS;
    Connection* c = impl->findByAddress(systemAddress);
    return c && c->state == ConnState::Connected ? c->remoteInternal : UNASSIGNED_SYSTEM_ADDRESS;
}

SystemAddress RakPeerInterface::GetExternalID(const SystemAddress target) const {
    Lock lock(impl->mutex);
    if (target == UNASSIGNED_SYSTEM_ADDRESS)
        return impl->lastExternal;
    Connection* c = impl->findByAddress(target);
    return c && c->state == ConnState::Connected ? c->externalId : UNASSIGNED_SYSTEM_ADDRESS;
}

RakNetStatistics* RakPeerInterface::GetStatistics(const SystemAddress systemAddress) {
    Lock lock(impl->mutex);
    Connection* c = impl->findByAddress(systemAddress);
    if (!c || c->state != ConnState::Connected || !c->peer)
        return nullptr;
    impl->sampleEnetCounters(*c);
    impl->statsOut = c->stats;
    impl->statsOut.packetLoss = static_cast<double>(c->peer->packetLoss) / static_cast<double>(ENET_PEER_PACKET_LOSS_SCALE);
    impl->statsOut.roundTripTime = c->peer->roundTripTime;
    impl->statsOut.roundTripTimeVariance = c->peer->roundTripTimeVariance;
    return &impl->statsOut;
}

namespace RakNetworkFactory {
RakPeerInterface* GetRakPeerInterface() { return new RakPeerInterface; }
void DestroyRakPeerInterface(RakPeerInterface* peer) { delete peer; }
}  // namespace RakNetworkFactory
