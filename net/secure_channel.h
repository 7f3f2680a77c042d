// Per-connection authenticated encryption: session keys from an X25519 key exchange, then
// AES-256-GCM where the CPU runs AES in hardware, ChaCha20-Poly1305 (IETF) everywhere else,
// with an explicit 64-bit counter nonce and a replay window.
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
static_assert(crypto_aead_aes256gcm_ABYTES == kTagBytes && crypto_aead_aes256gcm_KEYBYTES == kKeyBytes &&
              crypto_aead_aes256gcm_NPUBBYTES == crypto_aead_chacha20poly1305_ietf_NPUBBYTES);
// Counter and tag added to every sealed message.
inline constexpr size_t kSealOverhead = kCounterBytes + kTagBytes;

// The ciphers a secured connection can run. The values are bits: a server offers a set of
// them in its hello, the client answers with the one it chose.
enum Cipher : uint8_t {
    kCipherChaCha20Poly1305 = 1,  // every peer runs it
    kCipherAes256Gcm = 2,         // only where the CPU has AES instructions
};
// The ciphers this machine runs, as a set of Cipher bits.
uint8_t localCiphers();
// Narrows localCiphers() for peers started afterwards, as on a machine without AES instructions.
// For tests; 0 (or a mask that leaves nothing) restores what the machine runs.
void limitLocalCiphers(uint8_t mask);
// The cipher to run with a server that offers `offered`, of the `local` ones; 0 when none fits.
// AES-256-GCM first: in hardware it costs about half of ChaCha20-Poly1305.
uint8_t chooseCipher(uint8_t offered, uint8_t local);

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
    // Client side: own ephemeral pair and the server's public key. False when the exchange fails
    // or `cipher` is not one of the local ciphers.
    bool deriveClient(uint8_t cipher, const uint8_t ownPk[kPublicKeyBytes], const uint8_t ownSk[kSecretKeyBytes],
                      const uint8_t serverPk[kPublicKeyBytes]);
    bool deriveServer(uint8_t cipher, const uint8_t ownPk[kPublicKeyBytes], const uint8_t ownSk[kSecretKeyBytes],
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
    bool keysFor(uint8_t cipher, int derived);

    bool enabled_ = false;
    uint8_t cipher_ = 0;
    uint8_t rx_[kKeyBytes] = {};
    uint8_t tx_[kKeyBytes] = {};
    // AES-256-GCM key schedules, expanded once per connection.
    crypto_aead_aes256gcm_state rxAes_ = {};
    crypto_aead_aes256gcm_state txAes_ = {};
    uint64_t txCounter_ = 0;
    ReplayWindow window_;
};

}  // namespace pwnet
