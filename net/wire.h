// Datagram and message framing of the transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pwnet {

// Unconnected datagrams start with this prefix. ENet never sets the compression flag here
// (no compressor is installed), so no ENet datagram of ours begins with 0xFF 0xFF.
inline constexpr uint8_t kMagic[4] = {0xFF, 0xFF, 'P', 'W'};
inline constexpr size_t kMagicBytes = sizeof kMagic;
// 2: data messages may arrive in batches (kInnerBatch), which a version 1 peer would drop.
// 3: a secured server offers a set of ciphers, which a version 2 peer would refuse.
inline constexpr uint8_t kProtocolVersion = 3;

enum OfflineKind : uint8_t {
    kOfflinePing = 1,            // magic, kind, flags, time u32, 6 zero bytes: 16 bytes
    kOfflinePong = 2,            // magic, kind, time u32: 9 bytes
    kOfflineConnectRequest = 3,  // magic, kind, version, nonce u32, zero bytes up to 32
    kOfflineCookie = 4,          // magic, kind, nonce u32, cookie u32: 13 bytes
    kOfflineRefused = 5,         // magic, kind, nonce u32, reason: 10 bytes
};
inline constexpr size_t kPingBytes = 16;
inline constexpr size_t kPongBytes = 9;
inline constexpr size_t kRequestBytes = 32;
inline constexpr size_t kCookieBytes = 13;
inline constexpr size_t kRefusedBytes = 10;
inline constexpr uint8_t kPingOnlyIfAccepting = 1;

// Reasons carried by a refusal and by ENet's disconnect data word.
enum Reason : uint8_t {
    kReasonNone = 0,
    kReasonGraceful = 1,
    kReasonFull = 2,
    kReasonBanned = 3,
    kReasonPassword = 4,
    kReasonAlready = 5,
    kReasonProtocol = 6,
};
inline constexpr uint32_t kReasonTag = 0x50570000u;
inline constexpr uint32_t disconnectData(Reason r) { return kReasonTag | r; }
inline Reason reasonOf(uint32_t data) {
    return (data & 0xFFFF0000u) == kReasonTag && (data & 0xFFFF) <= kReasonProtocol ? static_cast<Reason>(data & 0xFF)
                                                                                   : kReasonNone;
}

// First byte of every message on an ENet connection.
enum Frame : uint8_t {
    kFrameHelloServer = 0xA1,  // version, server time, your address, my address, ciphers offered, [server key]
    kFrameHelloClient = 0xA2,  // cipher chosen, [client key, sealed body] or body
    kFrameSealed = 0xA4,       // counter, sealed inner message
    // Inner messages: sent as they are on plain connections, inside kFrameSealed on secured ones.
    kInnerWelcome = 0xB0,
    kInnerData = 0xB1,
    kInnerTimePing = 0xB2,  // sender time u32
    kInnerTimePong = 0xB3,  // echoed time u32, responder time u32
    kInnerBatch = 0xB4,     // data messages sent together: (length u16, payload) repeated
};

inline void putU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t getU32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void putU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
// Addresses travel as the 4 address bytes in network order and the port little-endian.
inline void putAddress(uint8_t* p, uint32_t ipNetworkOrder, uint16_t port) {
    std::memcpy(p, &ipNetworkOrder, 4);
    putU16(p + 4, port);
}

}  // namespace pwnet
