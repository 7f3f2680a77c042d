// Address values, identifiers, ban patterns, statistics text and the replay window.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <string>

#include "net/ban_list.h"
#include "net/rak_peer.h"
#include "net/secure_channel.h"
#include "tests/net/net_test_util.h"

TEST(SystemAddressTest, LayoutTextAndParsing) {
    static_assert(sizeof(SystemAddress) == 8);
    static_assert(ID_TIMESTAMP == 25 && ID_PONG == 26 && ID_USER_PACKET_ENUM == 91 && ID_MODIFIED_PACKET == 24);
    SystemAddress a;
    a.SetBinaryAddress("192.168.0.5");
    a.port = 61216;
    const auto* b = reinterpret_cast<const unsigned char*>(&a.binaryAddress);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[3], 5);
    EXPECT_STREQ(a.ToString(), "192.168.0.5:61216");
    EXPECT_STREQ(a.ToString(false), "192.168.0.5");
    EXPECT_STREQ(UNASSIGNED_SYSTEM_ADDRESS.ToString(), "UNASSIGNED_SYSTEM_ADDRESS");
    a.SetBinaryAddress("not an address");
    EXPECT_EQ(a.binaryAddress, 0xFFFFFFFFu);
}

TEST(BanListTest, PatternsMatchByOctet) {
    struct Row {
        const char* pattern;
        const char* ip;
        bool added;
        bool banned;
    };
    const Row rows[] = {
        {"192.168.0.*", "192.168.0.77", true, true},
        {"192.168.0.*", "192.168.1.77", true, false},
        {"*.*.*.*", "10.1.2.3", true, true},
        {"10.0.*.5", "10.0.9.5", true, true},
        {"10.0.*.5", "10.0.9.6", true, false},
        {"127.0.0.1", "127.0.0.1", true, true},
        {"", "1.2.3.4", false, false},
        {"1234.0.0.1", "1.2.3.4", false, false},
        {"1.2.3", "1.2.3.4", false, false},
        {"1.2.3.4.5", "1.2.3.4", false, false},
        {"256.1.1.1", "1.2.3.4", false, false},
        {"111.111.111.1111", "111.111.111.111", false, false},  // 16 characters
        {"1.2.3.4x", "1.2.3.4", false, false},
    };
    for (const auto& r : rows) {
        pwnet::BanList list;
        EXPECT_EQ(list.add(r.pattern, 0, 0), r.added) << r.pattern;
        EXPECT_EQ(list.matchesText(r.ip, 0), r.banned) << r.pattern << " " << r.ip;
    }
}

TEST(BanListTest, TimedBanExpires) {
    pwnet::BanList list;
    ASSERT_TRUE(list.add("10.0.0.*", 1000, 5000));
    EXPECT_TRUE(list.matchesText("10.0.0.1", 5999));
    EXPECT_FALSE(list.matchesText("10.0.0.1", 6000));
}

TEST(StatisticsTextTest, VerbosityAddsLines) {
    RakNetStatistics s{};
    s.messagesSent = 12;
    s.bytesReceived = 345;
    s.messagesResent = 7;
    s.roundTripTime = 9;
    char buffer[2048];
    size_t lines[3];
    for (int v = 0; v < 3; ++v) {
        std::memset(buffer, 'x', sizeof buffer);
        StatisticsToString(&s, buffer, v);
        std::string text(buffer);
        lines[v] = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        EXPECT_NE(text.find("Messages sent: 12\n"), std::string::npos);
        EXPECT_NE(text.find("Bytes received: 345\n"), std::string::npos);
        EXPECT_EQ(text.find("Messages resent: 7\n") != std::string::npos, v >= 1);
        EXPECT_EQ(text.find("Round trip time: 9 ms\n") != std::string::npos, v >= 2);
    }
    EXPECT_LT(lines[0], lines[1]);
    EXPECT_LT(lines[1], lines[2]);
    buffer[0] = 'x';
    StatisticsToString(nullptr, buffer, 2);
    EXPECT_EQ(buffer[0], 0);
}

TEST(ReplayWindowTest, EachCounterOnceWithinTheSpan) {
    pwnet::ReplayWindow w;
    EXPECT_TRUE(w.fresh(5));
    w.mark(5);
    EXPECT_FALSE(w.fresh(5));
    EXPECT_TRUE(w.fresh(3));  // late but unseen
    w.mark(3);
    EXPECT_FALSE(w.fresh(3));
    w.mark(300);  // moves the window by more than a word
    EXPECT_FALSE(w.fresh(300));
    EXPECT_TRUE(w.fresh(299));
    EXPECT_TRUE(w.fresh(100));
    EXPECT_FALSE(w.fresh(300 - pwnet::ReplayWindow::kSpan));  // beyond the span: refused
    w.mark(100);
    EXPECT_FALSE(w.fresh(100));
    w.mark(370);  // shift by 70: 300 and 100 stay remembered at their new ages
    EXPECT_FALSE(w.fresh(300));
    EXPECT_FALSE(w.fresh(370));
    EXPECT_TRUE(w.fresh(301));
    EXPECT_FALSE(w.fresh(100));  // now beyond the span
}

class SecureChannelTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(SecureChannelTest, SealOpenForgeryAndReplay) {
    ASSERT_GE(sodium_init(), 0);
    const uint8_t cipher = GetParam();
    if (!(pwnet::localCiphers() & cipher))
        GTEST_SKIP() << "this CPU has no AES instructions";
    uint8_t spk[pwnet::kPublicKeyBytes], ssk[pwnet::kSecretKeyBytes], cpk[pwnet::kPublicKeyBytes],
        csk[pwnet::kSecretKeyBytes];
    crypto_kx_keypair(spk, ssk);
    crypto_kx_keypair(cpk, csk);
    pwnet::SecureChannel client, server, otherCipher;
    ASSERT_TRUE(client.deriveClient(cipher, cpk, csk, spk));
    ASSERT_TRUE(server.deriveServer(cipher, spk, ssk, cpk));
    const uint8_t other = cipher == pwnet::kCipherAes256Gcm ? pwnet::kCipherChaCha20Poly1305 : pwnet::kCipherAes256Gcm;
    const bool haveOther = otherCipher.deriveServer(other, spk, ssk, cpk);
    const uint8_t ad = 0xA4;
    const char msg[] = "marker-payload";
    uint8_t wire[sizeof msg + pwnet::kSealOverhead], out[sizeof msg];
    ASSERT_TRUE(client.seal(&ad, 1, reinterpret_cast<const uint8_t*>(msg), sizeof msg, wire));
    EXPECT_EQ(memmem(wire, sizeof wire, "marker", 6), nullptr);
    uint8_t forged[sizeof wire];
    for (size_t i = 0; i < sizeof wire; ++i) {
        std::memcpy(forged, wire, sizeof wire);
        forged[i] ^= 0x01;
        EXPECT_EQ(server.open(&ad, 1, forged, sizeof forged, out), pwnet::SecureChannel::Open::Forged) << i;
    }
    const uint8_t otherAd = 0xA5;
    EXPECT_EQ(server.open(&otherAd, 1, wire, sizeof wire, out), pwnet::SecureChannel::Open::Forged);
    // The same keys under the other cipher do not open it.
    if (haveOther) {
        EXPECT_EQ(otherCipher.open(&ad, 1, wire, sizeof wire, out), pwnet::SecureChannel::Open::Forged);
    }
    ASSERT_EQ(server.open(&ad, 1, wire, sizeof wire, out), pwnet::SecureChannel::Open::Ok);
    EXPECT_EQ(std::memcmp(out, msg, sizeof msg), 0);
    EXPECT_EQ(server.open(&ad, 1, wire, sizeof wire, out), pwnet::SecureChannel::Open::Replayed);
    // The client's own direction uses the other key: its sealed message does not open as server-sent.
    EXPECT_EQ(client.open(&ad, 1, wire, sizeof wire, out), pwnet::SecureChannel::Open::Forged);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, SecureChannelTest,
                         nettest::kBothCiphers,
                         nettest::CipherName());

TEST(CipherChoiceTest, PrefersAesWhereBothSidesRunIt) {
    using namespace pwnet;
    const uint8_t both = kCipherChaCha20Poly1305 | kCipherAes256Gcm;
    struct Row {
        uint8_t offered, local, chosen;
    } rows[] = {
        {both, both, kCipherAes256Gcm},
        {both, kCipherChaCha20Poly1305, kCipherChaCha20Poly1305},  // client without AES instructions
        {kCipherChaCha20Poly1305, both, kCipherChaCha20Poly1305},  // server without them
        {kCipherAes256Gcm, kCipherChaCha20Poly1305, 0},             // nothing in common
        {0x80 | kCipherChaCha20Poly1305, both, kCipherChaCha20Poly1305},  // an unknown cipher is passed over
        {0x80, both, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(chooseCipher(r.offered, r.local), r.chosen) << int(r.offered) << " " << int(r.local);

    ASSERT_GE(sodium_init(), 0);
    const uint8_t machine = localCiphers();
    EXPECT_TRUE(machine & kCipherChaCha20Poly1305);
    limitLocalCiphers(kCipherChaCha20Poly1305);
    EXPECT_EQ(localCiphers(), kCipherChaCha20Poly1305);
    limitLocalCiphers(0x80);  // leaves nothing: what the machine runs
    EXPECT_EQ(localCiphers(), machine);
    limitLocalCiphers(0);
    EXPECT_EQ(localCiphers(), machine);
    // A channel refuses a cipher it does not know.
    uint8_t pk[kPublicKeyBytes], sk[kSecretKeyBytes];
    crypto_kx_keypair(pk, sk);
    SecureChannel unknown;
    EXPECT_FALSE(unknown.deriveServer(0x80, pk, sk, pk));
    EXPECT_FALSE(unknown.enabled());
}
