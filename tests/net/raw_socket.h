// A plain UDP socket on a loopback address that plays a foreign sender in tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace nettest {

class RawSocket {
public:
    explicit RawSocket(const char* ip = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    bool ok() const { return bound_; }
    void send(unsigned short port, const std::vector<uint8_t>& bytes, const char* ip = "127.0.0.1") {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        a.sin_port = htons(port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // Next datagram within timeoutMs; empty when none came.
    std::vector<uint8_t> receive(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        std::vector<uint8_t> b(65536);
        ssize_t n = ::recv(fd_, b.data(), b.size(), 0);
        b.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return b;
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

}  // namespace nettest
