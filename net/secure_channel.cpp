#include "net/secure_channel.h"

#include <cstring>

namespace pwnet {

namespace {
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

bool SecureChannel::deriveClient(const uint8_t ownPk[kPublicKeyBytes], const uint8_t ownSk[kSecretKeyBytes],
                                 const uint8_t serverPk[kPublicKeyBytes]) {
    enabled_ = crypto_kx_client_session_keys(rx_, tx_, ownPk, ownSk, serverPk) == 0;
    return enabled_;
}

bool SecureChannel::deriveServer(const uint8_t ownPk[kPublicKeyBytes], const uint8_t ownSk[kSecretKeyBytes],
                                 const uint8_t clientPk[kPublicKeyBytes]) {
    enabled_ = crypto_kx_server_session_keys(rx_, tx_, ownPk, ownSk, clientPk) == 0;
    return enabled_;
}

bool SecureChannel::seal(const uint8_t* ad, size_t adLen, const uint8_t* msg, size_t len, uint8_t* out) {
    if (txCounter_ == UINT64_MAX)
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
    crypto_aead_chacha20poly1305_ietf_encrypt(out + kCounterBytes, &written, msg, len, fullAd, adLen + kCounterBytes,
                                              nullptr, nonce, tx_);
    return true;
}

SecureChannel::Open SecureChannel::open(const uint8_t* ad, size_t adLen, const uint8_t* in, size_t inLen,
                                        uint8_t* out) {
    if (inLen < kSealOverhead || adLen > 16)
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
    if (crypto_aead_chacha20poly1305_ietf_decrypt(out, &written, nullptr, in + kCounterBytes, inLen - kCounterBytes,
                                                  fullAd, adLen + kCounterBytes, nonce, rx_) != 0)
        return Open::Forged;
    window_.mark(counter);
    return Open::Ok;
}

SecureChannel::~SecureChannel() {
    sodium_memzero(rx_, sizeof rx_);
    sodium_memzero(tx_, sizeof tx_);
}

}  // namespace pwnet
