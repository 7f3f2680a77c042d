// Server load: a real portwarden and 10, 25 and 50 clients, each sending Coordinates at 10 Hz.
// Measures the relay latency from a client's send to the other clients' receipt (median, 99th
// percentile), records lost, the server's CPU and peak memory; then the same load against a
// baseline relay in this program that takes every waiting packet at once; and the CPU of an
// idle server. Clients are bare transport peers, all driven from one thread.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/rak_peer.h"
#include "protocol/records.h"
#include "tests/e2e/process_fixture.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using e2e::freePort;

constexpr int kRateHz = 10;
constexpr int kSendSeconds = 6;
const Clock::time_point epoch = Clock::now();

int64_t nowUs() { return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch).count(); }


// CPU ticks (user + system) of a process, from /proc/<pid>/stat.
long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::stol(f);
        if (i == 15) stime = std::stol(f);
    }
    return utime + stime;
}

long statusKb(pid_t pid, const char* key, const std::string& file = "status") {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key) + 1);
    return -1;
}

// Voluntary context switches of the main thread: one per pass of the server's loop, which
// sleeps 1 ms each pass.
long mainThreadSleeps(pid_t pid) {
    return statusKb(pid, "voluntary_ctxt_switches:", "task/" + std::to_string(pid) + "/status");
}

// One portwarden in a temporary folder, console to /dev/null.
struct ServerProcess {
    unsigned short port = freePort();
    std::string folder;
    pid_t pid = -1;

    explicit ServerProcess(const std::string& root) : folder(root + "/srv" + std::to_string(port)) {
        fs::create_directories(folder);
        fs::create_symlink(PORTWARDEN_EXE, folder + "/portwarden");
        std::ofstream(folder + "/serverconfig.txt")
            << "ServerConfig\n{\n    port = " << port
            << "\n    clanserver = 1\n    game_type = -1\n    max_players = 50\n    max_ships_per_player = 1\n"
               "    game_length = 60\n}\n";
        pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (chdir(folder.c_str()) != 0) _exit(126);
            execl((folder + "/portwarden").c_str(), "portwarden", static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ~ServerProcess() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The baseline relay: every waiting packet at once, each Coordinates to every connected client.
struct BaselineRelay {
    RakPeerInterface* peer = RakNetworkFactory::GetRakPeerInterface();
    std::atomic<bool> running{true};
    std::thread thread;
    unsigned short port = 0;

    BaselineRelay() {
        SocketDescriptor socket(0, "127.0.0.1");
        peer->Startup(60, 30, &socket, 1);
        peer->SetMaximumIncomingConnections(60);
        port = peer->GetInternalID().port;
        thread = std::thread([this] { run(); });
    }
    void run() {
        std::vector<SystemAddress> clients;
        while (running.load()) {
            while (Packet* p = peer->Receive()) {
                if (p->length == sizeof(KSTMP::Coordinates) && p->data[5] == KSTMP::cmd_coordinates) {
                    SystemAddress list[64];
                    unsigned short n = 64;
                    peer->GetConnectionList(list, &n);
                    for (unsigned short i = 0; i < n; ++i)
                        peer->Send(reinterpret_cast<const char*>(p->data), int(p->length), HIGH_PRIORITY,
                                   RELIABLE_ORDERED, 0, list[i], false);
                }
                peer->DeallocatePacket(p);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~BaselineRelay() {
        running.store(false);
        thread.join();
        peer->Shutdown(100, 0);
        RakNetworkFactory::DestroyRakPeerInterface(peer);
    }
};

struct Client {
    RakPeerInterface* peer = nullptr;
    SystemAddress server;
    bool connected = false;
    int32_t sent = 0;
    int64_t nextSendUs = 0;
};

struct Result {
    double medianMs = 0, p99Ms = 0, maxMs = 0;
    long expected = 0, received = 0;
    bool ready = false;
    int64_t sendEndUs = 0;
    double drainMs = 0;  // time after the last send until the last record arrived
};

template <class R>
void sendTo(Client& c, R& record) {
    record.target.setFrom(c.server);
    record.timeStamp = RakNet::GetTime();
    c.peer->Send(reinterpret_cast<const char*>(&record), int(sizeof record), HIGH_PRIORITY, RELIABLE_ORDERED, 0,
                 c.server, false);
}

// Connects `count` clients to 127.0.0.1:port, registers them as players (and brings a real
// server into battle), then sends Coordinates at 10 Hz from each for kSendSeconds.
Result runLoad(unsigned short port, int count, bool realServer) {
    Result result;
    std::vector<Client> clients(static_cast<size_t>(count));
    for (Client& c : clients) {
        c.peer = RakNetworkFactory::GetRakPeerInterface();
        SocketDescriptor socket(0, "127.0.0.1");
        c.peer->Startup(1, 30, &socket, 1);
        c.peer->Connect("127.0.0.1", port, "", 0);
    }
    auto pump = [&](auto&& onRecord) {
        for (size_t i = 0; i < clients.size(); ++i)
            while (Packet* p = clients[i].peer->Receive()) {
                if (p->data[0] == ID_CONNECTION_REQUEST_ACCEPTED) {
                    clients[i].connected = true;
                    clients[i].server = p->systemAddress;
                } else if (p->length >= 6 && p->data[0] == 25) {
                    onRecord(i, p);
                }
                clients[i].peer->DeallocatePacket(p);
            }
    };
    auto waitUntil = [&](auto&& done, int seconds, auto&& onRecord) {
        const int64_t limit = nowUs() + int64_t(seconds) * 1000000;
        while (!done() && nowUs() < limit) {
            pump(onRecord);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return done();
    };
    auto ignore = [](size_t, Packet*) {};
    bool ok = waitUntil([&] { return std::all_of(clients.begin(), clients.end(), [](const Client& c) { return c.connected; }); },
                        15, ignore);
    if (ok && realServer) {
        for (size_t i = 0; i < clients.size(); ++i) {
            KSTMP::PlayerInfo player;
            std::snprintf(player.name, sizeof player.name, "load%zu", i);
            player.joined = 1;
            sendTo(clients[i], player);
        }
        // Everybody ready to spawn and to play takes the server into battle (phase 4).
        int phase = 0;
        auto watchPhase = [&](size_t i, Packet* p) {
            if (i == 0 && p->length >= 32 && p->data[5] == KSTMP::cmd_connection_status) {
                KSTMP::ConnectionStatus s;
                std::memcpy(static_cast<void*>(&s), p->data, sizeof s);
                phase = int(s.phase);
            }
        };
        waitUntil([] { return false; }, 1, watchPhase);
        for (int32_t code : {KSTMP::ntf_ready_to_spawn, KSTMP::ntf_ready_to_play})
            for (Client& c : clients) {
                KSTMP::Notifier n;
                n.code = code;
                sendTo(c, n);
            }
        ok = waitUntil([&] { return phase == 4; }, 15, watchPhase);
        waitUntil([] { return false; }, 1, ignore);  // let the last player lists arrive
    }
    result.ready = ok;
    if (!ok) {
        std::printf("  clients could not be brought into battle\n");
    } else {
        std::vector<std::vector<int>> got(clients.size());
        std::vector<double> latencies;
        latencies.reserve(size_t(count) * count * kRateHz * kSendSeconds);
        const int64_t start = nowUs();
        for (size_t i = 0; i < clients.size(); ++i) clients[i].nextSendUs = start + int64_t(i) * 100000 / count;
        auto onCoordinates = [&](size_t receiver, Packet* p) {
            if (p->length != sizeof(KSTMP::Coordinates) || p->data[5] != KSTMP::cmd_coordinates) return;
            KSTMP::Coordinates c;
            std::memcpy(static_cast<void*>(&c), p->data, sizeof c);
            const size_t sender = size_t(c.coordIndexA);
            if (sender >= clients.size() || c.coordIndexB < 0 || c.coordIndexB >= clients[sender].sent) return;
            ++got[sender][size_t(c.coordIndexB)];
            if (sender != receiver) latencies.push_back(double(nowUs() - (int64_t(c.coordValue) + start)) / 1000.0);
        };
        for (auto& g : got) g.assign(size_t(kRateHz * kSendSeconds), 0);
        while (nowUs() - start < int64_t(kSendSeconds) * 1000000) {
            for (size_t i = 0; i < clients.size(); ++i) {
                Client& c = clients[i];
                if (nowUs() < c.nextSendUs || c.sent >= kRateHz * kSendSeconds) continue;
                KSTMP::Coordinates record;
                record.shipIndex = int8_t(i);
                record.position = KSTMP::VC3(float(c.sent), 0, float(i));
                record.coordIndexA = int32_t(i);
                record.coordIndexB = c.sent++;
                record.coordValue = int32_t(nowUs() - start);
                sendTo(c, record);
                c.nextSendUs += 1000000 / kRateHz;
            }
            pump(onCoordinates);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        // Drain what is still under way: until nothing arrived for a second (at most 30 s).
        result.sendEndUs = nowUs();
        size_t seen = latencies.size();
        int64_t quietSince = nowUs();
        waitUntil(
            [&] {
                if (latencies.size() != seen) {
                    seen = latencies.size();
                    quietSince = nowUs();
                }
                return nowUs() - quietSince > 1000000;
            },
            30, onCoordinates);
        result.drainMs = double(quietSince - result.sendEndUs) / 1000.0;
        for (size_t s = 0; s < clients.size(); ++s)
            for (int k = 0; k < clients[s].sent; ++k) {
                result.expected += count;
                result.received += std::min(got[s][size_t(k)], count);
            }
        std::sort(latencies.begin(), latencies.end());
        if (!latencies.empty()) {
            result.medianMs = latencies[latencies.size() / 2];
            result.p99Ms = latencies[latencies.size() * 99 / 100];
            result.maxMs = latencies.back();
        }
    }
    for (Client& c : clients) {
        c.peer->Shutdown(0, 0);
        RakNetworkFactory::DestroyRakPeerInterface(c.peer);
    }
    return result;
}

void printResult(const char* who, int count, const Result& r) {
    std::printf("  %-10s %2d clients: relay latency median %.2f ms, p99 %.2f ms, max %.2f ms; records %ld of %ld, "
                "lost %ld; last record %.0f ms after the last send\n",
                who, count, r.medianMs, r.p99Ms, r.maxMs, r.received, r.expected, r.expected - r.received, r.drainMs);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char pattern[] = "/tmp/pw-load-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string root = pattern;
    setenv("PORTWARDEN_LOCK_DIR", (root + "/locks").c_str(), 1);
    fs::create_directories(root + "/locks");
    const long hz = sysconf(_SC_CLK_TCK);
    int failures = 0;

    {
        ServerProcess idle(root);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long before = cpuTicks(idle.pid);
        const long passesBefore = mainThreadSleeps(idle.pid);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const double percent = 100.0 * double(cpuTicks(idle.pid) - before) / double(hz) / seconds;
        std::printf("idle server: %.2f%% of a core over %.1f s (goal < 2%%), main loop %.0f passes/s, VmHWM %ld KiB\n",
                    percent, seconds, double(mainThreadSleeps(idle.pid) - passesBefore) / seconds,
                    statusKb(idle.pid, "VmHWM:"));
    }

    for (int count : {10, 25, 50}) {
        std::printf("%d clients, Coordinates at %d Hz each for %d s:\n", count, kRateHz, kSendSeconds);
        {
            ServerProcess server(root);
            const long before = cpuTicks(server.pid);
            const long passesBefore = mainThreadSleeps(server.pid);
            const auto t0 = Clock::now();
            const Result r = runLoad(server.port, count, true);
            const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
            const double percent = 100.0 * double(cpuTicks(server.pid) - before) / double(hz) / seconds;
            printResult("portwarden", count, r);
            std::printf("  %-10s server CPU %.1f%% of a core over the run (%.1f s), main loop %.0f passes/s, "
                        "peak memory VmHWM %ld KiB\n",
                        "portwarden", percent, seconds, double(mainThreadSleeps(server.pid) - passesBefore) / seconds,
                        statusKb(server.pid, "VmHWM:"));
            failures += !r.ready || r.expected != r.received;
        }
        {
            BaselineRelay relay;
            const Result r = runLoad(relay.port, count, false);
            printResult("baseline", count, r);
            failures += !r.ready || r.expected != r.received;
        }
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return failures ? 1 : 0;
}
