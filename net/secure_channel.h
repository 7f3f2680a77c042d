// Per-connection authenticated encryption: session keys from an X25519 key exchange,
// ChaCha20-Poly1305 (IETF) with an explicit 64-bit counter nonce and a replay window.
#pragma once

#include <sodium.h>

#include <cstddef>
#include <cstdint>

namespace pwnet {

inline constexpr size_t kKeyBytes = crypto_kx_SESSIONKEYBYTES;
inline constexpr size_t kPublicKeyBytes = crypto_kx_PUBLICKEYBYTES;
inline constexpr size_t kSecretKeyBytes = crypto_kx_SECRETKEYBYTES;
inline constexpr size_t kCounterBytes = 8;
inline constexpr size_t kTagBytes = crypto_aead_chacha20poly1305_ietf_ABYTES;
// Counter and tag added to every sealed message.
inline constexpr size_t kSealOverhead = kCounterBytes + kTagBytes;

// Accepts each counter once; the window moves only when mark() is called, which the
// caller does after the datagram authenticated.
class ReplayWindow {
public:
    static constexpr uint64_t kSpan = 256;
    bool fresh(uint64_t counter) const;
    void mark(uint64_t counter);

private:
    bool any_ = false;
    uint64_t top_ = 0;       // highest counter marked
    uint64_t bits_[kSpan / 64] = {};  // bit i: counter top_ - i seen
};

class SecureChannel {
public:
    bool enabled() const { return enabled_; }
    // Client side: own ephemeral pair and the server's public key. False when the exchange fails.
    bool deriveClient(const uint8_t ownPk[kPublicKeyBytes], const uint8_t ownSk[kSecretKeyBytes],
                      const uint8_t serverPk[kPublicKeyBytes]);
    bool deriveServer(const uint8_t ownPk[kPublicKeyBytes], const uint8_t ownSk[kSecretKeyBytes],
                      const uint8_t clientPk[kPublicKeyBytes]);
    // Writes counter || ciphertext || tag (len + kSealOverhead bytes) to out. The associated data
    // binds the framing byte(s) before it. False when the counter space is spent.
    bool seal(const uint8_t* ad, size_t adLen, const uint8_t* msg, size_t len, uint8_t* out);
    // Opens counter || ciphertext || tag of inLen bytes into out (inLen - kSealOverhead bytes).
    // Result: authenticated, replayed (authentic but already seen), or forged.
    enum class Open { Ok, Replayed, Forged };
    Open open(const uint8_t* ad, size_t adLen, const uint8_t* in, size_t inLen, uint8_t* out);
    ~SecureChannel();

private:
    bool enabled_ = false;
    uint8_t rx_[kKeyBytes] = {};
    uint8_t tx_[kKeyBytes] = {};
    uint64_t txCounter_ = 0;
    ReplayWindow window_;
};

}  // namespace pwnet
