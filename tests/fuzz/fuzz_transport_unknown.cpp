// The transport's intake of one datagram from an address it has never heard from: the gate in
// front of ENet, offline pings, connection requests and cookies, and ENet's own handling of
// what the gate lets through. The first input byte chooses: bit 0, whether a connect command
// in the datagram carries the cookie the server would have handed out; bit 1, whether the
// caps on unconnected replies keep counting from the earlier inputs (else they start empty).
// The rest is the datagram.
#include <cstddef>
#include <cstdint>

#include "net/fuzz_intake.h"
#include "net/message_identifiers.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pwnet::fuzz::IntakeServer server(true);
    if (size == 0)
        return 0;
    const bool validCookie = data[0] & 1;
    const bool freshCaps = !(data[0] & 2);
    const auto intake = server.datagramFromUnknown(data + 1, size - 1, validCookie, freshCaps);
    if (!validCookie) {
        // No proof of address: nothing is allocated, and no reply is larger than the datagram.
        FUZZ_CHECK(intake.peersInUse == 0);
        for (size_t reply : intake.replySizes)
            FUZZ_CHECK(reply <= size - 1);
    }
    for (const auto& packet : server.takeDelivered()) {
        // Unconnected senders can only be heard of through a ping or a pong.
        if (!validCookie)
            FUZZ_CHECK(packet.id == ID_PING || packet.id == ID_PONG);
    }
    return 0;
}
