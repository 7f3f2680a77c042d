#include "net/secure_channel.h"

#include <atomic>
#include <cstring>

namespace pwnet {

namespace {
std::atomic<uint8_t> cipherLimit{0};

void makeNonce(uint64_t counter, uint8_t nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES]) {
    std::memset(nonce, 0, crypto_aead_chacha20poly1305_ietf_NPUBBYTES);
    for (int i = 0; i < 8; ++i)
        nonce[4 + i] = static_cast<uint8_t>(counter >> (8 * i));
}
uint64_t readCounter(const uint8_t* p) {
    uint64_t c = 0;
    for (int i = 7; i >= 0; --i)
        c = (c << 8) | p[i];
    return c;
}
}  // namespace

uint8_t localCiphers() {
    uint8_t all = kCipherChaCha20Poly1305;
    // The CPU's features are known only after the library's set-up, which may run any number of times.
    if (sodium_init() >= 0 && crypto_aead_aes256gcm_is_available())
        all |= kCipherAes256Gcm;
    const uint8_t limited = all & cipherLimit.load(std::memory_order_relaxed);
    // No limit, or one that leaves nothing: a secured peer always runs at least one cipher.
    return limited ? limited : all;
}

void limitLocalCiphers(uint8_t mask) { cipherLimit.store(mask, std::memory_order_relaxed); }

uint8_t chooseCipher(uint8_t offered, uint8_t local) {
    const uint8_t both = offered & local;
    if (both & kCipherAes256Gcm)
        return kCipherAes256Gcm;
    if (both & kCipherChaCha20Poly1305)
        return kCipherChaCha20Poly1305;
    return 0;
}

bool ReplayWindow::fresh(uint64_t counter) const {
    if (!any_ || counter > top_)
        return true;
    uint64_t age = top_ - counter;
    if (age >= kSpan)
        return false;
    return !(bits_[age / 64] >> (age % 64) & 1);
}

void ReplayWindow::mark(uint64_t counter) {
    if (!any_) {
        any_ = true;
        top_ = counter;
        std::memset(bits_, 0, sizeof bits_);
        bits_[0] = 1;
        return;
    }
    if (counter > top_) {
        uint64_t shift = counter - top_;
        if (shift >= kSpan) {
            std::memset(bits_, 0, sizeof bits_);
        } else {
            // Shift the bitmap towards older ages by `shift` bits.
            constexpr int words = kSpan / 64;
            int wordShift = static_cast<int>(shift / 64), bitShift = static_cast<int>(shift % 64);
            for (int i = words - 1; i >= 0; --i) {
                uint64_t v = 0;
                int src = i - wordShift;
                if (src >= 0) {
                    v = bits_[src] << bitShift;
                    if (bitShift && src - 1 >= 0)
                        v |= bits_[src - 1] >> (64 - bitShift);
                }
                bits_[i] = v;
            }
        }
        top_ = counter;
        bits_[0] |= 1;
        return;
    }
    uint64_t age = top_ - counter;
    if (age < kSpan)
        bits_[age / 64] |= uint64_t{1} << (age % 64);
}

bool SecureChannel::keysFor(uint8_t cipher, int derived) {
    enabled_ = false;
    // The limit of localCiphers() is left out: it narrows offers and choices, made earlier.
    const bool runs = cipher == kCipherChaCha20Poly1305 ||
                      (cipher == kCipherAes256Gcm && crypto_aead_aes256gcm_is_available());
    if (derived != 0 || !runs)
        return false;
    cipher_ = cipher;
    if (cipher == kCipherAes256Gcm) {
        crypto_aead_aes256gcm_beforenm(&rxAes_, rx_);
        crypto_aead_aes256gcm_beforenm(&txAes_, tx_);
    }
    enabled_ = true;
    return true;
}

bool SecureChannel::deriveClient(uint8_t cipher, const uint8_t ownPk[kPublicKeyBytes],
                                 const uint8_t ownSk[kSecretKeyBytes], const uint8_t serverPk[kPublicKeyBytes]) {
    return keysFor(cipher, crypto_kx_client_session_keys(rx_, tx_, ownPk, ownSk, serverPk));
}

bool SecureChannel::deriveServer(uint8_t cipher, const uint8_t ownPk[kPublicKeyBytes],
                                 const uint8_t ownSk[kSecretKeyBytes], const uint8_t clientPk[kPublicKeyBytes]) {
    return keysFor(cipher, crypto_kx_server_session_keys(rx_, tx_, ownPk, ownSk, clientPk));
}

bool SecureChannel::seal(const uint8_t* ad, size_t adLen, const uint8_t* msg, size_t len, uint8_t* out) {
    if (!enabled_ || txCounter_ == UINT64_MAX)
        return false;
    uint64_t counter = txCounter_++;
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(counter >> (8 * i));
    uint8_t nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES];
    makeNonce(counter, nonce);
    // The counter is authenticated with the framing bytes: both sit in the associated data.
    uint8_t fullAd[16 + kCounterBytes];
    if (adLen > 16)
        return false;
    std::memcpy(fullAd, ad, adLen);
    std::memcpy(fullAd + adLen, out, kCounterBytes);
    unsigned long long written = 0;
    if (cipher_ == kCipherAes256Gcm)
        crypto_aead_aes256gcm_encrypt_afternm(out + kCounterBytes, &written, msg, len, fullAd, adLen + kCounterBytes,
                                              nullptr, nonce, &txAes_);
    else
        crypto_aead_chacha20poly1305_ietf_encrypt(out + kCounterBytes, &written, msg, len, fullAd,
                                                  adLen + kCounterBytes, nullptr, nonce, tx_);
    return true;
}

SecureChannel::Open SecureChannel::open(const uint8_t* ad, size_t adLen, const uint8_t* in, size_t inLen,
                                        uint8_t* out) {
    if (!enabled_ || inLen < kSealOverhead || adLen > 16)
        return Open::Forged;
    uint64_t counter = readCounter(in);
    if (!window_.fresh(counter)) {
        // Too old or seen: never decrypted again, never delivered twice.
        return Open::Replayed;
    }
    uint8_t nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES];
    makeNonce(counter, nonce);
    uint8_t fullAd[16 + kCounterBytes];
    std::memcpy(fullAd, ad, adLen);
    std::memcpy(fullAd + adLen, in, kCounterBytes);
    unsigned long long written = 0;
    const int opened =
        cipher_ == kCipherAes256Gcm
            ? crypto_aead_aes256gcm_decrypt_afternm(out, &written, nullptr, in + kCounterBytes, inLen - kCounterBytes,
                                                    fullAd, adLen + kCounterBytes, nonce, &rxAes_)
            : crypto_aead_chacha20poly1305_ietf_decrypt(out, &written, nullptr, in + kCounterBytes,
                                                        inLen - kCounterBytes, fullAd, adLen + kCounterBytes, nonce,
                                                        rx_);
    if (opened != 0)
        return Open::Forged;
    window_.mark(counter);
    return Open::Ok;
}

SecureChannel::~SecureChannel() {
    sodium_memzero(rx_, sizeof rx_);
    sodium_memzero(tx_, sizeof tx_);
    sodium_memzero(&rxAes_, sizeof rxAes_);
    sodium_memzero(&txAes_, sizeof txAes_);
}

}  // namespace pwnet
