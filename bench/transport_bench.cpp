// Transport figures on loopback: round trip of a 100-byte reliable payload (median, 99th
// percentile) and throughput of reliable ordered 100-byte payloads, for raw ENet and for the
// transport layer plain and secured (with the cipher this machine prefers, and with ChaCha20-Poly1305
// as on a machine without AES instructions); and the CPU an idle peer with one connection uses.
#include <enet/enet.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "net/rak_peer.h"
#include "net/secure_channel.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRoundTrips = 3000;
constexpr int kMessages = 200000;
constexpr size_t kPayload = 100;

struct Figures {
    double medianUs, p99Us, messagesPerSecond;
};

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void summarise(std::vector<double>& rtts, Figures& f) {
    std::sort(rtts.begin(), rtts.end());
    f.medianUs = rtts[rtts.size() / 2];
    f.p99Us = rtts[rtts.size() * 99 / 100];
}

// ---- raw ENet: each host serviced by a plain loop that waits on its socket ----

struct RawPair {
    ENetHost *server = nullptr, *client = nullptr;
    ENetPeer* toServer = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<long> received{0};
    bool echo = true;
    std::thread serverThread;

    bool start() {
        ENetAddress any{ENET_HOST_ANY, 0};
        server = enet_host_create(&any, 4, 2, 0, 0);
        client = enet_host_create(nullptr, 1, 2, 0, 0);
        if (!server || !client)
            return false;
        ENetAddress bound;
        enet_socket_get_address(server->socket, &bound);
        ENetAddress target{0, bound.port};
        enet_address_set_host(&target, "127.0.0.1");
        serverThread = std::thread([this] {
            ENetEvent e;
            while (!stop) {
                if (enet_host_service(server, &e, 5) <= 0)
                    continue;
                do {
                    if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                        ++received;
                        if (echo) {
                            ENetPacket* back = enet_packet_create(e.packet->data, e.packet->dataLength,
                                                                  ENET_PACKET_FLAG_RELIABLE);
                            enet_peer_send(e.peer, 0, back);
                            enet_host_flush(server);
                        }
                        enet_packet_destroy(e.packet);
                    }
                } while (enet_host_check_events(server, &e) > 0);
            }
        });
        toServer = enet_host_connect(client, &target, 2, 0);
        ENetEvent e;
        return enet_host_service(client, &e, 2000) > 0 && e.type == ENET_EVENT_TYPE_CONNECT;
    }
    ~RawPair() {
        stop = true;
        if (serverThread.joinable())
            serverThread.join();
        if (client)
            enet_host_destroy(client);
        if (server)
            enet_host_destroy(server);
    }
};

Figures rawEnet() {
    Figures f{};
    std::vector<double> rtts;
    {
        RawPair pair;
        if (!pair.start())
            return f;
        std::vector<uint8_t> payload(kPayload, 0x5A);
        for (int i = 0; i < kRoundTrips; ++i) {
            auto t0 = Clock::now();
            enet_peer_send(pair.toServer, 0, enet_packet_create(payload.data(), kPayload, ENET_PACKET_FLAG_RELIABLE));
            enet_host_flush(pair.client);
            ENetEvent e;
            bool back = false;
            while (!back && enet_host_service(pair.client, &e, 1000) > 0) {
                if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                    enet_packet_destroy(e.packet);
                    back = true;
                }
            }
            rtts.push_back(micros(Clock::now() - t0));
        }
        summarise(rtts, f);
    }
    {
        RawPair pair;
        pair.echo = false;
        if (!pair.start())
            return f;
        std::vector<uint8_t> payload(kPayload, 0x5A);
        auto t0 = Clock::now();
        int sent = 0;
        ENetEvent e;
        while (pair.received < kMessages) {
            // Batched: queue a burst, then one service sends it and takes acknowledgements.
            for (int k = 0; k < 64 && sent < kMessages; ++k, ++sent)
                enet_peer_send(pair.toServer, 0,
                               enet_packet_create(payload.data(), kPayload, ENET_PACKET_FLAG_RELIABLE));
            while (enet_host_service(pair.client, &e, sent < kMessages ? 0 : 1) > 0) {
            }
        }
        f.messagesPerSecond = kMessages / std::chrono::duration<double>(Clock::now() - t0).count();
    }
    return f;
}

// ---- the transport layer ----

struct LayerPair {
    RakPeerInterface server, client;
    SystemAddress serverAddr;
    std::atomic<bool> stop{false};
    std::atomic<long> received{0};
    bool echo = true;
    std::thread serverApp;

    bool start(bool secure) {
        if (secure)
            server.InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
        SocketDescriptor sd(0, "127.0.0.1");
        if (!server.Startup(4, 30, &sd, 1) || !client.Startup(1, 30, &sd, 1))
            return false;
        server.SetMaximumIncomingConnections(4);
        serverAddr = server.GetInternalID();
        if (!client.Connect("127.0.0.1", serverAddr.port, nullptr, 0))
            return false;
        serverApp = std::thread([this] {
            while (!stop) {
                Packet* p = server.Receive();
                if (!p) {
                    // The echo side answers at once; the counting side drains like a real main
                    // loop that sleeps between passes and so leaves the cores to the transport.
                    if (echo)
                        std::this_thread::yield();
                    else
                        std::this_thread::sleep_for(std::chrono::microseconds(500));
                    continue;
                }
                if (p->data[0] >= ID_USER_PACKET_ENUM) {
                    ++received;
                    if (echo)
                        server.Send(reinterpret_cast<char*>(p->data), static_cast<int>(p->length), HIGH_PRIORITY,
                                    RELIABLE_ORDERED, 0, p->systemAddress, false);
                }
                server.DeallocatePacket(p);
            }
        });
        auto end = Clock::now() + std::chrono::seconds(4);
        while (Clock::now() < end) {
            if (Packet* p = client.Receive()) {
                bool ok = p->data[0] == ID_CONNECTION_REQUEST_ACCEPTED;
                client.DeallocatePacket(p);
                if (ok)
                    return true;
            }
            std::this_thread::yield();
        }
        return false;
    }
    ~LayerPair() {
        stop = true;
        if (serverApp.joinable())
            serverApp.join();
        client.Shutdown(0);
        server.Shutdown(0);
    }
};

double sendSeconds = 0;
bool throughputOnly = false;

Figures layer(bool secure) {
    Figures f{};
    std::vector<uint8_t> payload(kPayload, 0x5A);
    payload[0] = ID_USER_PACKET_ENUM;
    if (!throughputOnly) {
        LayerPair pair;
        if (!pair.start(secure))
            return f;
        std::vector<double> rtts;
        for (int i = 0; i < kRoundTrips; ++i) {
            auto t0 = Clock::now();
            pair.client.Send(reinterpret_cast<char*>(payload.data()), kPayload, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                             pair.serverAddr, false);
            for (;;) {
                Packet* p = pair.client.Receive();
                if (!p) {
                    std::this_thread::yield();
                    continue;
                }
                bool mine = p->data[0] >= ID_USER_PACKET_ENUM;
                pair.client.DeallocatePacket(p);
                if (mine)
                    break;
            }
            rtts.push_back(micros(Clock::now() - t0));
        }
        summarise(rtts, f);
    }
    {
        LayerPair pair;
        pair.echo = false;
        if (!pair.start(secure))
            return f;
        auto t0 = Clock::now();
        for (int i = 0; i < kMessages; ++i)
            pair.client.Send(reinterpret_cast<char*>(payload.data()), kPayload, HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                             pair.serverAddr, false);
        sendSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
        while (pair.received < kMessages)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        f.messagesPerSecond = kMessages / std::chrono::duration<double>(Clock::now() - t0).count();
    }
    return f;
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double idlePeerCpuPercent() {
    LayerPair pair;
    pair.stop = true;  // the application thread ends at once: only the network threads run
    if (!pair.start(true))
        return -1;
    pair.client.SetOccasionalPing(true);
    pair.server.SetOccasionalPing(true);
    const double seconds = 5;
    double c0 = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double used = processCpuSeconds() - c0;
    return used / seconds / 2 * 100;  // two peers in this process
}

}  // namespace

// The machine is shared: each variant runs three times and keeps its best figures.
template <class F>
Figures best(F run) {
    Figures b{1e18, 1e18, 0};
    for (int i = 0; i < 3; ++i) {
        Figures f = run();
        b.medianUs = std::min(b.medianUs, f.medianUs);
        b.p99Us = std::min(b.p99Us, f.p99Us);
        b.messagesPerSecond = std::max(b.messagesPerSecond, f.messagesPerSecond);
    }
    return b;
}

int main(int argc, char** argv) {
    if (enet_initialize() != 0)
        return 1;
    if (argc > 1 && std::strcmp(argv[1], "layer") == 0) {
        // One layer run for profiling: transport_bench layer [throughput] [secured] [chacha]
        bool secured = false;
        for (int i = 2; i < argc; ++i) {
            throughputOnly = throughputOnly || std::strcmp(argv[i], "throughput") == 0;
            secured = secured || std::strcmp(argv[i], "secured") == 0;
            if (std::strcmp(argv[i], "chacha") == 0)
                pwnet::limitLocalCiphers(pwnet::kCipherChaCha20Poly1305);
        }
        Figures f = layer(secured);
        std::printf("layer, %s: %.1f us median, %.0f msgs/s, sends took %.3f s\n", secured ? "secured" : "plain",
                    f.medianUs, f.messagesPerSecond, sendSeconds);
        return 0;
    }
    Figures raw = best(rawEnet);
    Figures plain = best([] { return layer(false); });
    Figures secured = best([] { return layer(true); });
    // As on a machine without AES instructions.
    pwnet::limitLocalCiphers(pwnet::kCipherChaCha20Poly1305);
    Figures chacha = best([] { return layer(true); });
    pwnet::limitLocalCiphers(0);
    const bool aes = pwnet::localCiphers() & pwnet::kCipherAes256Gcm;
    double idle = idlePeerCpuPercent();
    std::printf("best of three runs each\n%-22s %12s %12s %16s\n", "", "median RTT", "p99 RTT", "reliable msgs/s");
    auto row = [](const char* name, const Figures& f) {
        std::printf("%-22s %10.1f us %10.1f us %16.0f\n", name, f.medianUs, f.p99Us, f.messagesPerSecond);
    };
    row("raw ENet (batched)", raw);
    row("layer, plain", plain);
    row(aes ? "layer, secured (AES)" : "layer, secured", secured);
    row("layer, secured ChaCha", chacha);
    std::printf("median RTT ratio: plain %.2fx, secured %.2fx, ChaCha %.2fx (goals 1.5x, 1.6x)\n",
                plain.medianUs / raw.medianUs, secured.medianUs / raw.medianUs, chacha.medianUs / raw.medianUs);
    std::printf("throughput share: plain %.0f%%, secured %.0f%%, ChaCha %.0f%% (goal 50%%)\n",
                100 * plain.messagesPerSecond / raw.messagesPerSecond,
                100 * secured.messagesPerSecond / raw.messagesPerSecond,
                100 * chacha.messagesPerSecond / raw.messagesPerSecond);
    std::printf("idle peer with one connection: %.3f%% of a core (goal < 1%%)\n", idle);
    enet_deinitialize();
    return 0;
}
