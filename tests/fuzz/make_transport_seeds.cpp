// Writes the seed corpora of the transport's targets:
//   make_transport_seeds <fuzz_transport_unknown folder> <fuzz_transport_secured folder>
// Each seed starts with the target's choice byte (see the targets), then the bytes it feeds.
#include <enet/enet.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/secure_channel.h"
#include "net/wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool writeSeed(const std::string& folder, const std::string& name, const Bytes& bytes) {
    const std::string path = folder + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Bytes offline(uint8_t kind, size_t size) {
    Bytes b(size, 0);
    std::memcpy(b.data(), pwnet::kMagic, pwnet::kMagicBytes);
    b[4] = kind;
    return b;
}

Bytes withChoice(uint8_t choice, Bytes bytes) {
    bytes.insert(bytes.begin(), choice);
    return bytes;
}

// An ENet connect command from a peer without an id, as a client's first datagram.
Bytes enetConnect() {
    ENetProtocolHeader header{};
    header.peerID = ENET_HOST_TO_NET_16(static_cast<enet_uint16>(
        unsigned{ENET_PROTOCOL_MAXIMUM_PEER_ID} | unsigned{ENET_PROTOCOL_HEADER_FLAG_SENT_TIME}));
    header.sentTime = ENET_HOST_TO_NET_16(1234);
    ENetProtocolConnect connect{};
    connect.header.command =
        static_cast<enet_uint8>(unsigned{ENET_PROTOCOL_COMMAND_CONNECT} | unsigned{ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE});
    connect.header.channelID = 0xFF;
    connect.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(1);
    connect.outgoingPeerID = ENET_HOST_TO_NET_16(0);
    connect.incomingSessionID = 0xFF;
    connect.outgoingSessionID = 0xFF;
    connect.mtu = ENET_HOST_TO_NET_32(1400);
    connect.windowSize = ENET_HOST_TO_NET_32(32768);
    connect.channelCount = ENET_HOST_TO_NET_32(8);
    connect.packetThrottleInterval = ENET_HOST_TO_NET_32(5000);
    connect.packetThrottleAcceleration = ENET_HOST_TO_NET_32(2);
    connect.packetThrottleDeceleration = ENET_HOST_TO_NET_32(2);
    connect.connectID = 0x12345678;
    connect.data = 0;  // the cookie
    Bytes b(sizeof header + sizeof connect);
    std::memcpy(b.data(), &header, sizeof header);
    std::memcpy(b.data() + sizeof header, &connect, sizeof connect);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_transport_seeds <unknown folder> <secured folder>\n");
        return 2;
    }
    std::vector<std::pair<std::string, Bytes>> unknown, secured;

    Bytes ping = offline(pwnet::kOfflinePing, pwnet::kPingBytes);
    pwnet::putU32(ping.data() + 6, 1000);
    unknown.emplace_back("ping", withChoice(0, ping));
    unknown.emplace_back("ping_caps_counting_on", withChoice(2, ping));
    ping[5] = pwnet::kPingOnlyIfAccepting;
    unknown.emplace_back("ping_if_accepting", withChoice(0, ping));
    unknown.emplace_back("pong", withChoice(0, offline(pwnet::kOfflinePong, pwnet::kPongBytes)));
    Bytes request = offline(pwnet::kOfflineConnectRequest, pwnet::kRequestBytes);
    request[5] = pwnet::kProtocolVersion;
    pwnet::putU32(request.data() + 6, 77);
    unknown.emplace_back("connect_request", withChoice(0, request));
    unknown.emplace_back("cookie", withChoice(0, offline(pwnet::kOfflineCookie, pwnet::kCookieBytes)));
    Bytes refused = offline(pwnet::kOfflineRefused, pwnet::kRefusedBytes);
    refused[9] = pwnet::kReasonFull;
    unknown.emplace_back("refused", withChoice(0, refused));
    unknown.emplace_back("enet_connect_with_cookie", withChoice(1, enetConnect()));
    unknown.emplace_back("enet_connect_without_cookie", withChoice(0, enetConnect()));

    using namespace pwnet;
    Bytes forged(1 + kSealOverhead + 2, 0x5A);
    forged[0] = kFrameSealed;
    secured.emplace_back("forged_frame", withChoice(0, forged));
    secured.emplace_back("clear_text_data", withChoice(0, Bytes{kInnerData, 'h', 'i'}));
    // A time-stamped record: marker 25, stamp, then record bytes.
    Bytes stamped{kInnerData, 25, 1, 0, 0, 0, 92, 36, 0, 0, 0};
    stamped.resize(1 + 36, 0);
    secured.emplace_back("sealed_stamped_record", withChoice(1, stamped));
    secured.emplace_back("sealed_time_ping", withChoice(1, Bytes{kInnerTimePing, 1, 2, 3, 4}));
    secured.emplace_back("sealed_time_pong", withChoice(1, Bytes{kInnerTimePong, 0, 0, 0, 0, 9, 9, 9, 9}));
    secured.emplace_back("sealed_welcome", withChoice(1, Bytes{kInnerWelcome}));
    // Two data messages sent together: a record and a time-stamped one.
    Bytes batch{kInnerBatch, 2, 0, 25, 7, 11, 0, 25, 1, 0, 0, 0, 92, 36, 0, 0, 0, 0};
    secured.emplace_back("sealed_batch", withChoice(1, batch));
    secured.emplace_back("clear_text_batch", withChoice(0, batch));
    secured.emplace_back("replayed_data", withChoice(2, Bytes{kInnerData, 'a', 'g', 'a', 'i', 'n'}));
    // The same on a connection that runs ChaCha20-Poly1305.
    secured.emplace_back("chacha_sealed_batch", withChoice(0x81, batch));
    secured.emplace_back("chacha_replayed_data", withChoice(0x82, Bytes{kInnerData, 'o', 'n', 'c', 'e'}));
    secured.emplace_back("chacha_forged_frame", withChoice(0x80, forged));
    Bytes helloSecured(2 + 32 + kSealOverhead + 21, 0x11);
    helloSecured[0] = kFrameHelloClient;
    helloSecured[1] = kCipherChaCha20Poly1305;
    secured.emplace_back("hello_secured", withChoice(3, helloSecured));
    helloSecured[1] = kCipherAes256Gcm;
    secured.emplace_back("hello_secured_aes", withChoice(3, helloSecured));
    Bytes helloPlain(2 + 21, 0);
    helloPlain[0] = kFrameHelloClient;
    secured.emplace_back("hello_plain", withChoice(3, helloPlain));

    for (const auto& [seeds, folder] : {std::pair{&unknown, argv[1]}, std::pair{&secured, argv[2]}}) {
        for (const auto& [name, bytes] : *seeds) {
            if (!writeSeed(folder, name, bytes)) {
                std::perror(name.c_str());
                return 1;
            }
        }
    }
    return 0;
}
