#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "net/link_key.h"

namespace {

std::string HexOf(const uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

template <typename Bytes>
std::string HexOf(const Bytes& bytes) {
    return HexOf(bytes.data(), bytes.size());
}

std::string HexOf(const Packet& packet) {
    return HexOf(packet.bytes, kPacketSize);
}

LinkNonce NonceOf(uint8_t byte) {
    LinkNonce nonce;
    nonce.fill(byte);
    return nonce;
}

LinkKey KeyFrom(uint8_t first) {
    LinkKey key;
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<uint8_t>(first + 3 * i);
    }
    return key;
}

TEST(LinkCrypto, HmacSha256GivesRfc4231sAnswers) {
    const std::string long_key(131, '\xaa');
    std::string key_4;
    for (char c = 1; c <= 25; ++c) {
        key_4 += c;
    }
    const struct {
        std::string key, data, mac;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {key_4, std::string(50, '\xcd'),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {std::string(20, '\x0c'), "Test With Truncation", "a3b6167473100ee06e0c796c2955552b"},
        {long_key, "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {long_key,
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& test : cases) {
        Sha256Mac mac;
        ASSERT_TRUE(HmacSha256(reinterpret_cast<const uint8_t*>(test.key.data()), test.key.size(),
                               reinterpret_cast<const uint8_t*>(test.data.data()), test.data.size(),
                               &mac));
        EXPECT_EQ(HexOf(mac).substr(0, test.mac.size()), test.mac) << test.data;
    }
}

TEST(LinkKey, TheExchangesKnownAnswers) {
    LinkKey test_key;
    for (uint8_t i = 0; i < test_key.size(); ++i) {
        test_key[i] = i;
    }
    const LinkNonce server_nonce = NonceOf(0xAA);
    const LinkNonce client_nonce = NonceOf(0x55);
    KeyExchange client(test_key, LinkRole::kClient, client_nonce);
    std::vector<Packet> sent;
    ASSERT_EQ(
        client.Receive(KeyExchange(test_key, LinkRole::kServer, server_nonce).Challenge(), &sent),
        ExchangeStep::kGoOn);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(HexOf(sent[0]), "a52c0100c29ec991cebfa0e439ba8e4900f24600");
    EXPECT_EQ(HexOf(*LinkProof(test_key, LinkRole::kServer, client_nonce, server_nonce)),
              "9f8a1c65d1d0355342677b8d7e01de");
    const Sha256Mac seal_key = *LinkSealKey(test_key, server_nonce, client_nonce);
    EXPECT_EQ(HexOf(seal_key), "71c177a542383f81d98d5230a1506d8c941c513682b74ab21c1c37b6191237bd");
    EXPECT_EQ(
        HexOf(
            *PacketSealer(seal_key, LinkRole::kClient).TagFor(BuildPacket(PKT_VERSION_REQUEST, 0))),
        "a52d010014e29a32f8cbdbe4e6810f4796f68900");
    EXPECT_EQ(
        HexOf(
            *PacketSealer(seal_key, LinkRole::kServer).TagFor(BuildPacket(PKT_VERSION_REPLY, 23))),
        "a52d0100c799572055435322621912252b132c00");
}

TEST(LinkKey, ParsedFromTheIniAndRefusedWhenWeakOrMistyped) {
    const std::string digits = "0F1E2D3C4B5A69788796A5B4C3D2E1F000112233445566778899AABBCCDDEEFF";
    std::string lower = digits;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(c));
    }
    const struct {
        std::string text;
        LinkKeyProblem problem;
    } cases[] = {
        {"  " + digits + " ", LinkKeyProblem::kNone},
        {" \t" + lower, LinkKeyProblem::kNone},
        {digits.substr(1), LinkKeyProblem::kWrongLength},
        {digits + "0", LinkKeyProblem::kWrongLength},
        {"", LinkKeyProblem::kWrongLength},
        {digits.substr(0, 30) + "g" + digits.substr(31), LinkKeyProblem::kNotHex},
        {digits.substr(0, 32) + " " + digits.substr(32), LinkKeyProblem::kNotHex},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191A1B1C1D1E1F",
         LinkKeyProblem::kTestKey},
        {std::string(64, '7'), LinkKeyProblem::kOneRepeatedByte},
    };
    for (const auto& test : cases) {
        const ParsedLinkKey parsed = ParseLinkKey(test.text);
        EXPECT_EQ(parsed.problem, test.problem) << test.text;
        const bool good = test.problem == LinkKeyProblem::kNone;
        EXPECT_EQ(LinkKeyProblemText(parsed.problem).empty(), good) << test.text;
        EXPECT_EQ(LinkKeyText(parsed.key), good ? digits : std::string(64, '0')) << test.text;
    }
}

TEST(LinkKey, AMadeKeyIsNewEachTimeAndParses) {
    const std::optional<LinkKey> first = MakeLinkKey();
    const std::optional<LinkKey> second = MakeLinkKey();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    const ParsedLinkKey parsed = ParseLinkKey(LinkKeyText(*first));
    EXPECT_EQ(parsed.problem, LinkKeyProblem::kNone);
    EXPECT_EQ(parsed.key, *first);
}

TEST(KeyExchange, BothRolesProveAndShareTheSealKey) {
    const LinkKey key = KeyFrom(7);
    std::optional<KeyExchange> server = KeyExchange::Begin(key, LinkRole::kServer);
    std::optional<KeyExchange> client = KeyExchange::Begin(key, LinkRole::kClient);
    ASSERT_TRUE(server && client);
    std::vector<Packet> from_server;
    std::vector<Packet> from_client;
    EXPECT_EQ(server->Receive(client->Challenge(), &from_server), ExchangeStep::kGoOn);
    EXPECT_EQ(client->Receive(server->Challenge(), &from_client), ExchangeStep::kGoOn);
    ASSERT_TRUE(from_server.empty());
    ASSERT_EQ(from_client.size(), 1u);
    EXPECT_EQ(server->Receive(from_client[0], &from_server), ExchangeStep::kProved);
    ASSERT_EQ(from_server.size(), 1u);
    EXPECT_EQ(client->Receive(from_server[0], &from_client), ExchangeStep::kProved);
    EXPECT_EQ(from_client.size(), 1u);
    EXPECT_EQ(server->SealKey(), client->SealKey());
    EXPECT_NE(HexOf(server->Challenge()), HexOf(client->Challenge()));
}

// A station's exchange, with its own nonce 0x11.., against what a peer (nonce 0x22..) or an
// attacker sends it: every packet but the last goes on, the last ends it as given.
TEST(KeyExchange, RefusesWhatDoesNotProveTheKey) {
    const LinkKey key = KeyFrom(7);
    const LinkNonce own = NonceOf(0x11);
    const LinkNonce peer = NonceOf(0x22);
    const auto challenge = [&](uint8_t version) {
        return BuildPacket(PKT_KEY_CHALLENGE, version, 0, peer.data());
    };
    const auto proof = [](const LinkKey& with, LinkRole prover, const LinkNonce& verifier_nonce,
                          const LinkNonce& prover_nonce) {
        return BuildPacket(PKT_KEY_PROOF, 1, 0,
                           LinkProof(with, prover, verifier_nonce, prover_nonce)->data());
    };
    const Packet client_proof = proof(key, LinkRole::kClient, own, peer);
    Packet spare_set = challenge(1);
    spare_set.bytes[kPacketSize - 1] = 1;
    constexpr auto kServer = LinkRole::kServer;
    constexpr auto kClient = LinkRole::kClient;
    const struct {
        const char* name;
        LinkRole role;
        std::vector<Packet> received;
        ExchangeStep last;
        std::size_t sent;
    } cases[] = {
        {"wrong key",
         kServer,
         {challenge(1), proof(KeyFrom(8), kClient, own, peer)},
         ExchangeStep::kWrongProof,
         0},
        {"no proof", kServer, {BuildPacket(PKT_TUNE, 1)}, ExchangeStep::kOutOfOrder, 0},
        {"replayed proof",
         kServer,
         {challenge(1), proof(key, kClient, NonceOf(0x33), peer)},
         ExchangeStep::kWrongProof,
         0},
        {"the other role's letter",
         kServer,
         {challenge(1), proof(key, kServer, own, peer)},
         ExchangeStep::kWrongProof,
         0},
        {"its own proof reflected",
         kClient,
         {challenge(1), proof(key, kClient, peer, own)},
         ExchangeStep::kWrongProof,
         1},
        {"proof before challenge", kServer, {client_proof}, ExchangeStep::kOutOfOrder, 0},
        {"a second challenge", kServer, {challenge(1), challenge(1)}, ExchangeStep::kOutOfOrder, 0},
        {"a second challenge", kClient, {challenge(1), challenge(1)}, ExchangeStep::kOutOfOrder, 1},
        {"proof of version 2",
         kServer,
         {challenge(1), BuildPacket(PKT_KEY_PROOF, 2, 0, PacketPayload(client_proof))},
         ExchangeStep::kOutOfOrder,
         0},
        {"spare byte set", kServer, {spare_set}, ExchangeStep::kOutOfOrder, 0},
        {"a proof after the end",
         kServer,
         {challenge(1), client_proof, client_proof},
         ExchangeStep::kOutOfOrder,
         1},
        {"a challenge after the end",
         kClient,
         {challenge(1), proof(key, kServer, own, peer), challenge(1)},
         ExchangeStep::kOutOfOrder,
         1},
    };
    for (const auto& test : cases) {
        KeyExchange exchange(key, test.role, own);
        std::vector<Packet> sent;
        for (std::size_t i = 0; i + 1 < test.received.size(); ++i) {
            const ExchangeStep step = exchange.Receive(test.received[i], &sent);
            EXPECT_TRUE(step == ExchangeStep::kGoOn || step == ExchangeStep::kProved) << test.name;
        }
        EXPECT_EQ(exchange.Receive(test.received.back(), &sent), test.last) << test.name;
        EXPECT_EQ(sent.size(), test.sent) << test.name;
    }
    KeyExchange server(key, kServer, own);
    std::vector<Packet> sent;
    ASSERT_EQ(server.Receive(challenge(2), &sent), ExchangeStep::kOtherVersion);
    EXPECT_EQ(server.PeerVersion(), 2);
    EXPECT_EQ(server.Receive(challenge(1), &sent), ExchangeStep::kOutOfOrder);
    EXPECT_TRUE(sent.empty());
}

// A client's sealed stream as the server's checker takes it, cut, altered and replayed.
TEST(PacketSeal, OnlyEachPacketFollowedByItsOwnTagInOrderPasses) {
    const Sha256Mac seal_key = *LinkSealKey(KeyFrom(7), NonceOf(0x11), NonceOf(0x22));
    PacketSealer client(seal_key, LinkRole::kClient);
    PacketSealer server(seal_key, LinkRole::kServer);
    // 0 to 5: three packets with their tags; 6: the first tag altered; 7 and 8: the server's
    // first pair; 9: a challenge.
    std::vector<Packet> pool;
    for (uint8_t speed : {20, 21, 22}) {
        pool.push_back(BuildPacket(PKT_SPEED, speed));
        pool.push_back(*client.TagFor(pool.back()));
    }
    pool.push_back(pool[1]);
    pool.back().bytes[10] ^= 0x01;
    pool.push_back(pool[0]);
    pool.push_back(*server.TagFor(pool.back()));
    pool.push_back(BuildPacket(PKT_KEY_CHALLENGE, 1));
    constexpr SealCheck kWait = SealCheck::kWaitForTag;
    constexpr SealCheck kSealed = SealCheck::kSealed;
    constexpr SealCheck kBroken = SealCheck::kBroken;
    const struct {
        const char* name;
        std::vector<int> arriving;
        std::vector<SealCheck> checks;
    } cases[] = {
        {"in order", {0, 1, 2, 3, 4, 5}, {kWait, kSealed, kWait, kSealed, kWait, kSealed}},
        {"missing tag", {0, 1, 2, 4}, {kWait, kSealed, kWait, kBroken}},
        {"wrong tag", {0, 6, 0, 1}, {kWait, kBroken, kBroken, kBroken}},
        {"replayed pair", {0, 1, 0, 1}, {kWait, kSealed, kWait, kBroken}},
        {"reordered pairs", {2, 3, 0, 1}, {kWait, kBroken, kBroken, kBroken}},
        {"tag with no packet", {1}, {kBroken}},
        {"the other role's tag", {7, 8}, {kWait, kBroken}},
        {"a challenge on a sealed link", {0, 1, 9}, {kWait, kSealed, kBroken}},
    };
    for (const auto& test : cases) {
        PacketTagChecker checker(seal_key, LinkRole::kClient);
        for (std::size_t i = 0; i < test.arriving.size(); ++i) {
            const Packet& arriving = pool[test.arriving[i]];
            Packet sealed{};
            EXPECT_EQ(checker.Check(arriving, &sealed), test.checks[i]) << test.name << " " << i;
            if (test.checks[i] == kSealed) {
                EXPECT_EQ(HexOf(sealed), HexOf(pool[test.arriving[i - 1]])) << test.name;
            }
        }
    }
}

}  // namespace
