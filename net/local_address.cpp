// The machine's own IPv4 addresses, non-loopback first.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <string>
#include <vector>

#include "net/peer_impl.h"

namespace pwnet {

std::vector<std::string> localIpv4Addresses() {
    std::vector<std::string> outside, loopback;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
                continue;
            char text[INET_ADDRSTRLEN];
            auto* in = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
            if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
                continue;
            ((i->ifa_flags & IFF_LOOPBACK) ? loopback : outside).push_back(text);
        }
        freeifaddrs(list);
    }
    outside.insert(outside.end(), loopback.begin(), loopback.end());
    if (outside.empty())
        outside.push_back("127.0.0.1");
    return outside;
}

}  // namespace pwnet
