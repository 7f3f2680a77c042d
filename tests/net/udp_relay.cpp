#include "tests/net/udp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>

namespace nettest {

namespace {
int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
int boundSocket() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    return fd;
}
void sendTo(int fd, uint32_t ip, uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ip;
    a.sin_port = htons(port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}
}  // namespace

UdpRelay::UdpRelay(uint16_t serverPort, uint32_t seed) : serverPort_(serverPort), rng_(seed) {
    front_ = boundSocket();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(front_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    thread_ = std::thread(&UdpRelay::run, this);
}

UdpRelay::~UdpRelay() {
    stop_ = true;
    char c = 0;
    ssize_t r = ::write(wake_[1], &c, 1);
    (void)r;
    thread_.join();
    ::close(front_);
    for (auto& [key, fd] : backs_)
        ::close(fd);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void UdpRelay::setFilter(Filter filter) {
    std::lock_guard<std::mutex> lock(mutex_);
    filter_ = std::move(filter);
}

void UdpRelay::setImpairment(Direction d, const Impairment& i) {
    std::lock_guard<std::mutex> lock(mutex_);
    impair_[static_cast<int>(d)] = i;
}

int UdpRelay::backSocketFor(uint64_t clientKey) {
    auto it = backs_.find(clientKey);
    if (it != backs_.end())
        return it->second;
    int fd = boundSocket();
    backs_[clientKey] = fd;
    clientOfBack_[fd] = clientKey;
    return fd;
}

void UdpRelay::inject(Direction d, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!lastClient_)
        return;
    if (d == Direction::ToServer)
        sendTo(backSocketFor(lastClient_), htonl(INADDR_LOOPBACK), serverPort_, bytes);
    else
        sendTo(front_, static_cast<uint32_t>(lastClient_ >> 16), static_cast<uint16_t>(lastClient_), bytes);
}

void UdpRelay::schedule(Pending p) {
    p.order = order_++;
    queue_.push_back(std::move(p));
    std::push_heap(queue_.begin(), queue_.end(), std::greater<Pending>());
}

void UdpRelay::handle(Direction d, int outFd, uint32_t ip, uint16_t port, std::vector<uint8_t> bytes) {
    if (filter_ && !filter_(d, bytes))
        return;
    const Impairment& im = impair_[static_cast<int>(d)];
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (im.loss > 0 && unit(rng_) < im.loss)
        return;
    if (im.corrupt > 0 && !bytes.empty() && unit(rng_) < im.corrupt) {
        std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
        std::uniform_int_distribution<int> bit(0, 7);
        bytes[at(rng_)] ^= static_cast<uint8_t>(1u << bit(rng_));
    }
    if (im.corruptBytes > 0) {
        std::uniform_int_distribution<int> bit(0, 7);
        for (auto& b : bytes)
            if (unit(rng_) < im.corruptBytes)
                b ^= static_cast<uint8_t>(1u << bit(rng_));
    }
    int copies = (im.duplicate > 0 && unit(rng_) < im.duplicate) ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        int64_t delay = im.delayMs * 1000;
        if (im.jitterMs > 0)
            delay += std::uniform_int_distribution<int64_t>(0, im.jitterMs * 1000)(rng_);
        if (im.reorder > 0 && unit(rng_) < im.reorder)
            delay += (im.delayMs + im.jitterMs + 20) * 1000;
        schedule(Pending{nowUs() + delay, 0, outFd, ip, port, d, bytes});
    }
}

void UdpRelay::run() {
    std::vector<uint8_t> buffer(65536);
    while (!stop_) {
        std::vector<pollfd> fds;
        int timeoutMs = 100;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fds.push_back({wake_[0], POLLIN, 0});
            fds.push_back({front_, POLLIN, 0});
            for (auto& [key, fd] : backs_)
                fds.push_back({fd, POLLIN, 0});
            if (!queue_.empty()) {
                int64_t wait = queue_.front().dueUs - nowUs();
                timeoutMs = wait <= 0 ? 0 : static_cast<int>(std::min<int64_t>(100, (wait + 999) / 1000));
            }
        }
        ::poll(fds.data(), fds.size(), timeoutMs);
        std::lock_guard<std::mutex> lock(mutex_);
        for (const pollfd& p : fds) {
            if (!(p.revents & POLLIN) || p.fd == wake_[0])
                continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = ::recvfrom(p.fd, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                                   &len);
            if (n < 0)
                continue;
            std::vector<uint8_t> bytes(buffer.begin(), buffer.begin() + n);
            if (p.fd == front_) {
                uint64_t key = static_cast<uint64_t>(from.sin_addr.s_addr) << 16 | ntohs(from.sin_port);
                lastClient_ = key;
                handle(Direction::ToServer, backSocketFor(key), htonl(INADDR_LOOPBACK), serverPort_, std::move(bytes));
            } else {
                auto it = clientOfBack_.find(p.fd);
                if (it == clientOfBack_.end())
                    continue;
                uint64_t key = it->second;
                handle(Direction::ToClient, front_, static_cast<uint32_t>(key >> 16), static_cast<uint16_t>(key),
                       std::move(bytes));
            }
        }
        const int64_t now = nowUs();
        while (!queue_.empty() && queue_.front().dueUs <= now) {
            std::pop_heap(queue_.begin(), queue_.end(), std::greater<Pending>());
            Pending p = std::move(queue_.back());
            queue_.pop_back();
            sendTo(p.fd, p.ip, p.port, p.bytes);
            ++forwarded_[static_cast<int>(p.dir)];
        }
    }
}

}  // namespace nettest
