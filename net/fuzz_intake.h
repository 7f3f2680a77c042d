// Entry points for the transport's fuzz targets: a server peer driven one datagram or one
// message at a time on the calling thread, with no network thread. Not part of the library;
// only the fuzz targets compile it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pwnet::fuzz {

struct Delivered {
    uint8_t id;                  // first byte of the packet the application would receive
    std::vector<uint8_t> bytes;  // the whole packet
};

// A server peer bound to 127.0.0.1 on a free port, accepting incoming connections.
class IntakeServer {
public:
    explicit IntakeServer(bool secured);
    ~IntakeServer();
    IntakeServer(const IntakeServer&) = delete;
    IntakeServer& operator=(const IntakeServer&) = delete;

    struct Intake {
        std::vector<size_t> replySizes;  // datagrams the server sent back to the sender
        size_t peersInUse;               // ENet peers and connections the datagram left behind
    };
    // Sends the datagram to the server from a socket of its own on 127.0.0.1 (an address
    // the server has never heard from) and lets the server take in what its socket holds.
    // With `validCookie`, a connect command in the datagram first gets the cookie the server
    // would have handed out to that address. With `freshCaps`, the caps on unconnected replies
    // start empty, as for a sender never heard from; otherwise they count on from the earlier
    // datagrams. Ends with every connection dropped.
    Intake datagramFromUnknown(const uint8_t* data, size_t len, bool validCookie, bool freshCaps);

    // On secured servers, the connecting side chooses from the ciphers of `local` as a client
    // running those would; at first from all this machine runs. A change of the chosen cipher
    // starts a new connection.
    void useCiphers(uint8_t local);

    // One message on an incoming connection that finished its hello exchange (made on the
    // first call and again whenever a message ended it), as ENet hands it up: before any
    // decryption.
    void messageOnConnection(const uint8_t* data, size_t len);
    // The same message sealed with the connecting side's keys, so that it authenticates and
    // the server takes in the decrypted bytes. Secured servers only. `times` > 1 sends the
    // same sealed message again (a replay).
    void sealedOnConnection(const uint8_t* data, size_t len, int times);
    // One message as the first one of a connection whose hello exchange has not happened:
    // the connecting side's hello, before any decryption. The connection is dropped after.
    void helloOnNewConnection(const uint8_t* data, size_t len);

    // Packets the application would have received since the last call.
    std::vector<Delivered> takeDelivered();
    bool connected() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pwnet::fuzz
