// The transport's intake on a connected, secured connection. The first input byte chooses:
//   0: the rest as a message from the connection before decryption (as ENet hands it up);
//   1: the rest sealed with the connecting side's keys, so the server decrypts it and takes in
//      the plain bytes (a data message or a batch of them delivers its payloads);
//   2: as 1, the same sealed message arriving twice;
//   3: the rest as the connecting side's hello on a new connection.
// Its top bit chooses the cipher of the connection: set, ChaCha20-Poly1305; clear, the one a
// client of this machine would choose (AES-256-GCM where the CPU has AES instructions).
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "net/fuzz_intake.h"
#include "net/message_identifiers.h"
#include "net/secure_channel.h"
#include "net/wire.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pwnet::fuzz::IntakeServer server(true);
    if (size == 0)
        return 0;
    const uint8_t mode = data[0] & 3;
    server.useCiphers(data[0] & 0x80 ? pwnet::kCipherChaCha20Poly1305 : pwnet::localCiphers());
    const uint8_t* rest = data + 1;
    const size_t n = size - 1;
    switch (mode) {
    case 0: {
        server.messageOnConnection(rest, n);
        // Nothing but a forgery notice comes out of bytes that were not sealed with the keys.
        for (const auto& packet : server.takeDelivered())
            FUZZ_CHECK(packet.id == ID_MODIFIED_PACKET);
        break;
    }
    case 1:
    case 2: {
        server.sealedOnConnection(rest, n, mode == 1 ? 1 : 2);
        const auto delivered = server.takeDelivered();
        // The payloads that the message holds: a data message holds one; a batch holds its
        // entries up to the first that is empty or runs past the end.
        std::vector<std::pair<const uint8_t*, size_t>> payloads;
        if (n >= 2 && rest[0] == pwnet::kInnerData) {
            payloads.emplace_back(rest + 1, n - 1);
        } else if (n >= 2 && rest[0] == pwnet::kInnerBatch) {
            for (size_t at = 1; at + 2 <= n;) {
                const size_t len = rest[at] | rest[at + 1] << 8;
                if (len == 0 || len > n - at - 2)
                    break;
                payloads.emplace_back(rest + at + 2, len);
                at += 2 + len;
            }
        }
        if (n >= 2 && (rest[0] == pwnet::kInnerData || rest[0] == pwnet::kInnerBatch)) {
            // Each payload arrives once, whole, however often its datagram does.
            FUZZ_CHECK(delivered.size() == payloads.size());
            for (size_t k = 0; k < payloads.size(); ++k) {
                const std::vector<uint8_t>& got = delivered[k].bytes;
                FUZZ_CHECK(got.size() == payloads[k].second);
                for (size_t i = 0; i < got.size(); ++i) {
                    const bool stamp = got[0] == ID_TIMESTAMP && got.size() >= 5 && i >= 1 && i <= 4;
                    FUZZ_CHECK(stamp || got[i] == payloads[k].first[i]);
                }
            }
        } else if (n == 0) {
            // Too short to hold a message: a forgery notice for each arrival.
            FUZZ_CHECK(delivered.size() == (mode == 1 ? 1u : 2u));
            for (const auto& packet : delivered)
                FUZZ_CHECK(packet.id == ID_MODIFIED_PACKET);
        } else {
            FUZZ_CHECK(delivered.empty());
        }
        FUZZ_CHECK(server.connected());
        break;
    }
    default: {
        server.helloOnNewConnection(rest, n);
        // A hello that was not sealed with the keys of its own exchange never connects.
        for (const auto& packet : server.takeDelivered())
            FUZZ_CHECK(packet.id != ID_NEW_INCOMING_CONNECTION);
        break;
    }
    }
    return 0;
}
