// The peer's network thread: waits on the socket and the wake-up descriptor, services ENet,
// runs the attempt, hand-shake and ping timers.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "net/peer_impl.h"

namespace pwnet {

thread_local Impl* servicing = nullptr;

int interceptThunk(ENetHost* host, ENetEvent*) {
    Impl* self = servicing;
    return self ? self->intercept(host) : 0;
}

void Impl::threadMain() {
    const int waitMs = sleepMs <= 0 ? 10 : sleepMs;
    pollfd fds[3];
    while (running.load(std::memory_order_acquire)) {
        fds[0] = pollfd{static_cast<int>(host->socket), POLLIN, 0};
        fds[1] = pollfd{wakeFd, POLLIN, 0};
        fds[2] = pollfd{flushTimerFd, POLLIN, 0};
        ::poll(fds, flushTimerFd >= 0 ? 3 : 2, waitMs);
        for (int i = 1; i < 3; ++i) {
            if (fds[i].revents & POLLIN) {
                uint64_t count;
                ssize_t r = ::read(fds[i].fd, &count, sizeof count);
                (void)r;
            }
        }
        const bool asked = (fds[1].revents | fds[2].revents) & POLLIN;
        if (fds[0].revents & POLLIN)
            socketReadable.store(true, std::memory_order_release);
        if ((fds[0].revents & POLLIN) && !asked) {
            const int64_t now = monotonicUs();
            if (now - appPolledUs.load(std::memory_order_relaxed) < kHardPollingUs) {
                // The application polls without pause and takes packets itself: give it the
                // first go. One that polls at intervals finds them taken in and acknowledged.
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            } else if (now < burstUntilUs.load(std::memory_order_relaxed)) {
                // The application is sending a burst: let acknowledgements gather rather
                // than cut its datagrams short with a flush for each one.
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
        std::lock_guard<SpinFirstMutex> lock(mutex);
        if (!running.load(std::memory_order_acquire))
            break;
        if (fds[2].revents & POLLIN)
            tailTimerArmed = false;
        serviceOnce();
        runTimers();
        capResends();
        flush();
    }
}

void Impl::serviceOnce() {
    servicing = this;
    int errors = 0;
    // Bounded so one turn cannot starve the application of the lock under a flood.
    for (int i = 0; i < 4096; ++i) {
        ENetEvent event;
        int r = enet_host_service(host, &event, 0);
        if (r > 0) {
            handleEvent(event);
            // One service call reads every waiting datagram; hand out their events without
            // going back to the socket for each.
            while (host && enet_host_check_events(host, &event) > 0)
                handleEvent(event);
        } else if (r == 0) {
            break;
        } else if (++errors > 16) {
            // A single oversized datagram yields -1; that is not fatal, but do not spin on it.
            break;
        }
    }
    servicing = nullptr;
}

void Impl::handleEvent(ENetEvent& e) {
    switch (e.type) {
    case ENET_EVENT_TYPE_CONNECT:
        onEnetConnect(e.peer);
        break;
    case ENET_EVENT_TYPE_DISCONNECT:
        onEnetDisconnect(e.peer, e.data);
        break;
    case ENET_EVENT_TYPE_RECEIVE:
        onEnetReceive(e.peer, e.packet->data, e.packet->dataLength);
        enet_packet_destroy(e.packet);
        break;
    default:
        break;
    }
}

void Impl::sampleEnetCounters(Connection& c) {
    if (!c.peer)
        return;
    // ENet restarts these counters every few seconds; add what grew since the last look.
    uint32_t sent = c.peer->packetsSent, lost = c.peer->packetsLost;
    c.stats.datagramsSent += sent >= c.lastEnetSent ? sent - c.lastEnetSent : sent;
    uint32_t lostDelta = lost >= c.lastEnetLost ? lost - c.lastEnetLost : lost;
    c.stats.messagesResent += lostDelta;
    c.stats.packetsLost += lostDelta;
    c.lastEnetSent = sent;
    c.lastEnetLost = lost;
}

void Impl::runTimers() {
    const int64_t now = monotonicMs();
    // Collect first: the handlers remove connections.
    std::vector<Connection*> list;
    list.reserve(connections.size());
    for (auto& c : connections)
        list.push_back(c.get());
    for (Connection* c : list) {
        switch (c->state) {
        case ConnState::Requesting:
            if (now >= c->deadlineMs) {
                failOutgoing(*c, ID_CONNECTION_ATTEMPT_FAILED);
            } else if (c->haveCookie) {
                ENetAddress a = toEnetAddress(c->address);
                ENetPeer* p = enet_host_connect(host, &a, kChannels, c->cookie);
                if (!p) {
                    failOutgoing(*c, ID_CONNECTION_ATTEMPT_FAILED);
                    break;
                }
                p->data = c;
                c->peer = p;
                applyTimeout(p);
                c->state = ConnState::Connecting;
                p->roundTripTime = kInitialRoundTripMs;
                p->roundTripTimeVariance = 0;
                if (c->deadlineMs < now + kAfterCookieMs)
                    c->deadlineMs = now + kAfterCookieMs;
            } else if (now >= c->nextRequestMs) {
                sendConnectRequest(*c);
            }
            break;
        case ConnState::Connecting:
        case ConnState::HelloWait:
        case ConnState::WelcomeWait:
            if (now >= c->deadlineMs) {
                if (c->outgoing) {
                    failOutgoing(*c, ID_CONNECTION_ATTEMPT_FAILED);
                } else {
                    enet_peer_reset(c->peer);
                    removeConnection(c);
                }
            }
            break;
        case ConnState::Connected:
            sampleEnetCounters(*c);
            if (occasionalPing && now >= c->nextPingMs) {
                sendTimePing(*c);
                c->nextPingMs = now + kOccasionalPingMs;
            }
            break;
        }
    }
}

void Impl::capResends() {
    for (size_t i = 0; i < host->peerCount; ++i) {
        ENetPeer* p = &host->peers[i];
        uint32_t cap = kHandshakeResendCapMs;
        switch (p->state) {
        case ENET_PEER_STATE_DISCONNECTED:
            // Peers that ENet hands to new connections start from a LAN-sized round trip.
            if (p->roundTripTime == ENET_PEER_DEFAULT_ROUND_TRIP_TIME)
                p->roundTripTime = kInitialRoundTripMs;
            continue;
        case ENET_PEER_STATE_CONNECTING:
        case ENET_PEER_STATE_ACKNOWLEDGING_CONNECT:
        case ENET_PEER_STATE_CONNECTION_PENDING:
        case ENET_PEER_STATE_CONNECTION_SUCCEEDED:
            break;
        case ENET_PEER_STATE_CONNECTED: {
            Connection* c = findByPeer(p);
            if (c && c->state == ConnState::Connected) {
                // Only resent commands carry a doubled interval: look when ENet counted a loss.
                if (p->packetsLost == c->lastCappedLost)
                    continue;
                c->lastCappedLost = p->packetsLost;
                cap = kResendCapMs;
            }
            break;
        }
        default:
            continue;
        }
        if (enet_list_empty(&p->sentReliableCommands))
            continue;
        // ENet doubles a command's resend interval after every loss, without bound; on a lossy
        // link that stretches set-up past its deadline and loses live connections. Cap it.
        for (ENetListIterator it = enet_list_begin(&p->sentReliableCommands); it != enet_list_end(&p->sentReliableCommands);
             it = enet_list_next(it)) {
            auto* command = reinterpret_cast<ENetOutgoingCommand*>(it);
            if (command->roundTripTimeout > cap)
                command->roundTripTimeout = cap;
        }
        auto* front = reinterpret_cast<ENetOutgoingCommand*>(enet_list_front(&p->sentReliableCommands));
        p->nextTimeout = front->sentTime + front->roundTripTimeout;
    }
}

void Impl::failOutgoing(Connection& c, unsigned char id) {
    if (c.peer)
        enet_peer_reset(c.peer);
    deliver(id, c.address, -1);
    removeConnection(&c);
}

}  // namespace pwnet
