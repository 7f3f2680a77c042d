#include "net/system_address.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "net/rak_peer.h"

const char* SystemAddress::ToString(bool writePort) const {
    static thread_local char text[32];
    if (*this == UNASSIGNED_SYSTEM_ADDRESS) {
        std::snprintf(text, sizeof text, "UNASSIGNED_SYSTEM_ADDRESS");
        return text;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(&binaryAddress);
    if (writePort)
        std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], static_cast<unsigned>(port));
    else
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

void SystemAddress::SetBinaryAddress(const char* dotted) {
    in_addr a{};
    if (dotted && inet_pton(AF_INET, dotted, &a) == 1)
        binaryAddress = a.s_addr;
    else
        binaryAddress = UNASSIGNED_SYSTEM_ADDRESS.binaryAddress;
}

SocketDescriptor::SocketDescriptor(unsigned short p, const char* host) : port(p) {
    if (host) {
        std::strncpy(hostAddress, host, sizeof hostAddress - 1);
        hostAddress[sizeof hostAddress - 1] = 0;
    }
}
