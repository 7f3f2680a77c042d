// A UDP relay between clients and one server on loopback, for tests: it forwards datagrams in
// both directions and can inspect, modify, drop, delay, duplicate, reorder and corrupt them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace nettest {

enum class Direction { ToServer = 0, ToClient = 1 };

// Impairment of one direction; rates are probabilities per datagram.
struct Impairment {
    double loss = 0;
    double duplicate = 0;
    double reorder = 0;   // a reordered datagram waits an extra delay + jitter + 20 ms
    int delayMs = 0;
    int jitterMs = 0;     // uniform extra delay 0..jitterMs
    double corrupt = 0;   // one random byte of the datagram flipped
    double corruptBytes = 0;  // every byte flipped at this rate
};

class UdpRelay {
public:
    // Forwards to 127.0.0.1:serverPort; listens on 127.0.0.1 at a free port.
    explicit UdpRelay(uint16_t serverPort, uint32_t seed = 1);
    ~UdpRelay();
    UdpRelay(const UdpRelay&) = delete;
    UdpRelay& operator=(const UdpRelay&) = delete;

    uint16_t port() const { return port_; }
    // Sees every datagram before impairment; may change it; returning false drops it.
    using Filter = std::function<bool(Direction, std::vector<uint8_t>&)>;
    void setFilter(Filter filter);
    void setImpairment(Direction d, const Impairment& i);
    // Sends bytes in a direction as the relay would (to the server from the last client's
    // back socket, or to the last client).
    void inject(Direction d, const std::vector<uint8_t>& bytes);
    uint64_t forwarded(Direction d) const { return forwarded_[static_cast<int>(d)].load(); }

private:
    struct Pending {
        int64_t dueUs;
        uint64_t order;
        int fd;
        uint32_t ip;
        uint16_t port;
        Direction dir;
        std::vector<uint8_t> bytes;
        bool operator>(const Pending& o) const { return dueUs != o.dueUs ? dueUs > o.dueUs : order > o.order; }
    };
    void run();
    void handle(Direction d, int outFd, uint32_t ip, uint16_t port, std::vector<uint8_t> bytes);
    void schedule(Pending p);
    int backSocketFor(uint64_t clientKey);

    int front_ = -1;
    uint16_t port_ = 0;
    uint16_t serverPort_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    Filter filter_;
    Impairment impair_[2];
    std::mt19937_64 rng_;
    std::map<uint64_t, int> backs_;        // client ip:port -> socket towards the server
    std::map<int, uint64_t> clientOfBack_;
    uint64_t lastClient_ = 0;
    std::vector<Pending> queue_;            // min-heap by due time
    uint64_t order_ = 0;
    std::atomic<uint64_t> forwarded_[2] = {0, 0};
};

}  // namespace nettest
