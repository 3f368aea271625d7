#include "service/snmp/usm_crypto.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace tervane::snmp::usm {
namespace {

constexpr std::array<Auth, 6> kAuths = {Auth::kMd5,    Auth::kSha1,   Auth::kSha224,
                                        Auth::kSha256, Auth::kSha384, Auth::kSha512};
constexpr std::array<Priv, 6> kPrivs = {Priv::kDes,    Priv::kAes128,  Priv::kAes192,
                                        Priv::kAes256, Priv::kAes192C, Priv::kAes256C};

std::vector<uint8_t> Hex(std::string_view text) {
  std::optional<std::vector<uint8_t>> octets = ParseHex(text);
  EXPECT_TRUE(octets.has_value()) << text;
  return octets.value_or(std::vector<uint8_t>{});
}

Key KeyOf(std::span<const uint8_t> octets) {
  Key key;
  std::copy(octets.begin(), octets.end(), key.octets.begin());
  key.size = octets.size();
  return key;
}

// The vectors' engine ID, 000000000000000000000002.
const std::vector<uint8_t> kEngine = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

TEST(UsmCrypto, KeysMatchVectors) {
  const std::map<std::string, Auth> hashes = {{"md5", Auth::kMd5},       {"sha1", Auth::kSha1},
                                              {"sha224", Auth::kSha224}, {"sha256", Auth::kSha256},
                                              {"sha384", Auth::kSha384}, {"sha512", Auth::kSha512}};
  const std::map<std::string, Priv> extensions = {{"Blumenthal", Priv::kAes256},
                                                  {"Reeder", Priv::kAes256C}};
  std::ifstream file(TERVANE_USM_VECTORS);
  ASSERT_TRUE(file) << TERVANE_USM_VECTORS;
  std::map<std::string, Key> kuls;
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string first, second, third, fourth, fifth;
    words >> first >> second >> third >> fourth >> fifth;
    SCOPED_TRACE(line);
    ++rows;
    if (hashes.contains(first)) {
      const Auth auth = hashes.at(first);
      ASSERT_EQ(second, "Ku=");
      ASSERT_EQ(fourth, "Kul=");
      const Key ku = PasswordToKey(auth, "maplesyrup");
      EXPECT_EQ(HexText(ku.view()), third);
      EXPECT_EQ(ku.size, KeyLength(auth));
      const Key kul = LocalizeKey(auth, ku.view(), kEngine);
      EXPECT_EQ(HexText(kul.view()), fifth);
      kuls[first] = kul;
    } else {
      ASSERT_EQ(first, "SHA1/AES256");
      ASSERT_TRUE(extensions.contains(second));
      ASSERT_TRUE(kuls.contains("sha1"));
      const Priv aes256 = extensions.at(second);
      const Priv aes192 = aes256 == Priv::kAes256 ? Priv::kAes192 : Priv::kAes192C;
      EXPECT_EQ(HexText(PrivacyKey(Auth::kSha1, aes256, kuls["sha1"], kEngine).view()), third);
      // AES-192 takes the first 24 octets of the same extension.
      EXPECT_EQ(HexText(PrivacyKey(Auth::kSha1, aes192, kuls["sha1"], kEngine).view()),
                third.substr(0, 48));
    }
  }
  EXPECT_EQ(rows, 8);
  ASSERT_EQ(kuls.size(), 6u);
  // Without extension: DES and AES-128 from MD5's Kul are that Kul, and SHA-256's and longer
  // Kuls are cut to 32 octets by both extensions.
  for (Priv priv : {Priv::kDes, Priv::kAes128}) {
    EXPECT_EQ(PrivacyKey(Auth::kMd5, priv, kuls["md5"], kEngine), kuls["md5"]);
  }
  for (const char* hash : {"sha256", "sha384", "sha512"}) {
    const Key& kul = kuls[hash];
    const Key first32 = KeyOf(kul.view().first(32));
    EXPECT_EQ(PrivacyKey(hashes.at(hash), Priv::kAes256, kul, kEngine), first32) << hash;
    EXPECT_EQ(PrivacyKey(hashes.at(hash), Priv::kAes256C, kul, kEngine), first32) << hash;
  }
  EXPECT_EQ(PasswordToKey(Auth::kSha1, "").size, 0u);
  EXPECT_EQ(PasswordToKey(Auth::kNone, "maplesyrup").size, 0u);
}

TEST(UsmCrypto, VerifyAcceptsOnlyTheSignedMessageAndKey) {
  constexpr size_t kMacOffset = 40;
  for (Auth auth : kAuths) {
    SCOPED_TRACE(AuthName(auth));
    const size_t length = MacLength(auth);
    std::vector<uint8_t> datagram(kMacOffset + length + 31);
    for (size_t i = 0; i < datagram.size(); ++i) {
      if (i < kMacOffset || i >= kMacOffset + length) datagram[i] = static_cast<uint8_t>(i * 7);
    }
    std::vector<uint8_t> key(KeyLength(auth));
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 13 + 1);
    const Key kul = KeyOf(key);
    const Authenticator authenticator(auth, kul);
    ASSERT_EQ(authenticator.mac_length(), length);
    authenticator.Sign(datagram, kMacOffset);
    ASSERT_NE(
        std::vector<uint8_t>(datagram.begin() + kMacOffset, datagram.begin() + kMacOffset + length),
        std::vector<uint8_t>(length, 0));
    EXPECT_TRUE(authenticator.Verify(datagram, kMacOffset));
    EXPECT_TRUE(Authenticator(authenticator).Verify(datagram, kMacOffset));
    for (size_t bit = 0; bit < datagram.size() * 8; ++bit) {
      datagram[bit / 8] ^= static_cast<uint8_t>(1u << bit % 8);
      EXPECT_FALSE(authenticator.Verify(datagram, kMacOffset)) << "bit " << bit;
      datagram[bit / 8] ^= static_cast<uint8_t>(1u << bit % 8);
    }
    Key other = kul;
    other.octets[0] ^= 1;
    EXPECT_FALSE(Authenticator(auth, other).Verify(datagram, kMacOffset));
    EXPECT_FALSE(authenticator.Verify(datagram, kMacOffset + 1));
    const std::span<const uint8_t> cut(datagram.data(), kMacOffset + length - 1);
    EXPECT_FALSE(authenticator.Verify(cut, kMacOffset));
  }
  std::vector<uint8_t> datagram(64);
  Authenticator().Sign(datagram, 0);
  EXPECT_EQ(datagram, std::vector<uint8_t>(64));
  EXPECT_FALSE(Authenticator().Verify(datagram, 0));
}

// Traps that net-snmp 5.9.3's snmptrap sent (-v 3 -u tervane -l authPriv -A maplesyrup
// -X maplesyrup -e 000000000000000000000002, engine boots 1), a coldStart with sysName.0 =
// "odd length text!". Both lay out msgAuthenticationParameters at 62, msgPrivacyParameters at
// 76 and the encrypted ScopedPDU from 86 to the end.
struct Capture {
  const char* name;
  Auth auth;
  Priv priv;
  uint32_t time;
  const char* hex;
};
const Capture kCaptures[] = {
    {"SHA/AES", Auth::kSha1, Priv::kAes128, 0x3a23ed,
     "3081c10201033011020440e183e7020300ffe304010302010304393037040c00000000000000000000000202"
     "010102033a23ed040774657276616e65040c5ed34c5e9c710b9112d1bb6c04085c9efcad072a578d046e0b36"
     "db056435bed726b8008d357fdb2edc2140269a5e73132357bccfcf645ca787005fe3adebdf7dc9e0b6b4770f"
     "5e26998c899dfeea447d4f03b4390152dfdb905b1a70d1d16bce9665b76d87022a231c0ed1a70da59a979845"
     "7a8d2baafc6305f3cd69a3d3fc8c8fcfcf2e8869"},
    {"MD5/DES", Auth::kMd5, Priv::kDes, 0x3a242a,
     "3081c30201033011020468a1fa9a020300ffe304010302010304393037040c00000000000000000000000202"
     "010102033a242a040774657276616e65040cc236b40a15faf5d6e620b5d4040800000005e28d1fa30470b69f"
     "a35eef1b6cbcaecc1849110367a64771abd9193b50424c3acd0a5dc11f74863fd134f14dbbd1bb4fbdd684ea"
     "4def0518cda3abb0cc2b0b9462f04d332abffd77ed563da773580186e1642daa75d4ef33bf3b66262ef4bcad"
     "6ed13a1f0708a09919372eed43af19f6ddc7cf5d52c9"},
};

TEST(UsmCrypto, VerifiesAndDecryptsNetSnmpTraps) {
  for (const Capture& capture : kCaptures) {
    SCOPED_TRACE(capture.name);
    std::vector<uint8_t> datagram = Hex(capture.hex);
    ASSERT_GT(datagram.size(), 86u);
    const Key kul =
        LocalizeKey(capture.auth, PasswordToKey(capture.auth, "maplesyrup").view(), kEngine);
    const Authenticator authenticator(capture.auth, kul);
    EXPECT_TRUE(authenticator.Verify(datagram, 62));
    const Privacy privacy(capture.priv, PrivacyKey(capture.auth, capture.priv, kul, kEngine));
    const std::span<const uint8_t> ciphertext(datagram.begin() + 86, datagram.end());
    std::vector<uint8_t> plain(ciphertext.size());
    ASSERT_TRUE(privacy.Decrypt(std::span(datagram).subspan(76, 8), 1, capture.time, ciphertext,
                                plain.data()));
    // The ScopedPDU: SEQUENCE, a one-octet length, contextEngineID, and so on to the last
    // value sent at its end; DES adds fewer than 8 octets of padding.
    ASSERT_EQ(plain[0], 0x30);
    const size_t end = 2 + size_t{plain[1]};
    ASSERT_LE(end, plain.size());
    EXPECT_LT(plain.size() - end, capture.priv == Priv::kDes ? 8u : 1u);
    EXPECT_EQ(plain[2], 0x04);  // contextEngineID: snmptrap's own engine
    const std::string text = "odd length text!";
    EXPECT_EQ(std::string(plain.begin() + end - text.size(), plain.begin() + end), text);
    // Encrypting it again with the same salt gives the same octets.
    std::vector<uint8_t> again(privacy.CiphertextLength(plain.size()));
    std::array<uint8_t, 8> params{};
    const uint64_t salt = capture.priv == Priv::kDes ? 0xe28d1fa3 : 0x5c9efcad072a578d;
    const uint32_t boots = capture.priv == Priv::kDes ? 5 : 1;  // DES: net-snmp's own boots
    privacy.Encrypt(salt, boots, capture.time, plain, again.data(), params.data());
    EXPECT_TRUE(std::equal(again.begin(), again.end(), ciphertext.begin(), ciphertext.end()));
    EXPECT_TRUE(std::equal(params.begin(), params.end(), datagram.begin() + 76));
  }
}

TEST(UsmCrypto, EncryptDecryptRoundTrips) {
  const Key key = KeyOf(Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
  for (Priv priv : kPrivs) {
    const Privacy privacy(priv, key);
    ASSERT_EQ(privacy.priv(), priv);
    for (size_t length : {0, 1, 7, 8, 9, 15, 17, 101}) {
      SCOPED_TRACE(std::string(PrivName(priv)) + " length " + std::to_string(length));
      std::vector<uint8_t> plain(length);
      for (size_t i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 31 + 3);
      const size_t size = privacy.CiphertextLength(length);
      EXPECT_EQ(size, priv == Priv::kDes ? (length + 7) / 8 * 8 : length);
      std::vector<uint8_t> sealed(size);
      std::array<uint8_t, 8> params{};
      privacy.Encrypt(0x0102030405060708, 0x11223344, 0x55667788, plain, sealed.data(),
                      params.data());
      EXPECT_EQ(HexText(params), priv == Priv::kDes ? "1122334405060708" : "0102030405060708");
      if (length >= 8) {
        EXPECT_NE(std::vector<uint8_t>(sealed.begin(), sealed.begin() + 8),
                  std::vector<uint8_t>(plain.begin(), plain.begin() + 8));
      }
      std::vector<uint8_t> opened(size, 0xEE);
      ASSERT_TRUE(privacy.Decrypt(params, 0x11223344, 0x55667788, sealed, opened.data()));
      std::vector<uint8_t> padded = plain;
      padded.resize(size, 0);  // DES pads with zeros
      EXPECT_EQ(opened, padded);
    }
  }
}

TEST(UsmCrypto, DecryptRefusesMalformedInput) {
  struct Case {
    Priv priv;
    size_t params;
    size_t ciphertext;
    bool accepted;
  };
  const Case cases[] = {
      {Priv::kDes, 8, 16, true},     {Priv::kDes, 8, 9, false},      {Priv::kDes, 8, 15, false},
      {Priv::kDes, 7, 16, false},    {Priv::kDes, 9, 16, false},     {Priv::kAes128, 8, 9, true},
      {Priv::kAes128, 7, 16, false}, {Priv::kAes256C, 9, 16, false}, {Priv::kNone, 8, 16, false},
  };
  const Key key = KeyOf(std::vector<uint8_t>(32, 0x42));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(PrivName(c.priv)) + " " + std::to_string(c.params) + " " +
                 std::to_string(c.ciphertext));
    const Privacy privacy(c.priv, key);
    const std::vector<uint8_t> params(c.params, 0x01);
    const std::vector<uint8_t> ciphertext(c.ciphertext, 0x02);
    std::vector<uint8_t> plain(c.ciphertext, 0xEE);
    EXPECT_EQ(privacy.Decrypt(params, 1, 2, ciphertext, plain.data()), c.accepted);
    if (!c.accepted) {
      EXPECT_EQ(plain, std::vector<uint8_t>(c.ciphertext, 0xEE)) << "written on refusal";
    }
  }
  // A key shorter than the cipher takes prepares nothing.
  EXPECT_EQ(Privacy(Priv::kAes192, KeyOf(std::vector<uint8_t>(16, 1))).priv(), Priv::kNone);
}

TEST(UsmCrypto, NamesAndLengths) {
  struct AuthRow {
    const char* typed;
    std::optional<Auth> auth;
    size_t mac;
  };
  const AuthRow auths[] = {{"", Auth::kNone, 0},           {"md5", Auth::kMd5, 12},
                           {"SHA", Auth::kSha1, 12},       {"sha-224", Auth::kSha224, 16},
                           {"SHA-256", Auth::kSha256, 24}, {"Sha-384", Auth::kSha384, 32},
                           {"SHA-512", Auth::kSha512, 48}, {"SHA1", std::nullopt, 0},
                           {"SHA-2", std::nullopt, 0},     {" MD5", std::nullopt, 0}};
  for (const AuthRow& row : auths) {
    EXPECT_EQ(ParseAuth(row.typed), row.auth) << row.typed;
    if (!row.auth) continue;
    EXPECT_EQ(MacLength(*row.auth), row.mac) << row.typed;
    EXPECT_EQ(ParseAuth(AuthName(*row.auth)), row.auth) << row.typed;
  }
  struct PrivRow {
    const char* typed;
    std::optional<Priv> priv;
    size_t key;
  };
  const PrivRow privs[] = {{"", Priv::kNone, 0},
                           {"des", Priv::kDes, 16},
                           {"AES", Priv::kAes128, 16},
                           {"aes-192", Priv::kAes192, 24},
                           {"AES-256", Priv::kAes256, 32},
                           {"AES-192-c", Priv::kAes192C, 24},
                           {"AES-256-C", Priv::kAes256C, 32},
                           {"AES-128", std::nullopt, 0},
                           {"3DES", std::nullopt, 0}};
  for (const PrivRow& row : privs) {
    EXPECT_EQ(ParsePriv(row.typed), row.priv) << row.typed;
    if (!row.priv) continue;
    EXPECT_EQ(PrivKeyLength(*row.priv), row.key) << row.typed;
    EXPECT_EQ(ParsePriv(PrivName(*row.priv)), row.priv) << row.typed;
  }
}

TEST(UsmCrypto, HexText) {
  const struct {
    const char* text;
    std::optional<std::vector<uint8_t>> octets;
  } rows[] = {
      {"", std::vector<uint8_t>{}}, {"00ff7A", std::vector<uint8_t>{0x00, 0xFF, 0x7A}},
      {"abc", std::nullopt},        {"0g", std::nullopt},
      {"0x12", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseHex(row.text), row.octets) << row.text;
  }
  EXPECT_EQ(HexText(std::vector<uint8_t>{0x00, 0xFF, 0x7A}), "00ff7a");
}

}  // namespace
}  // namespace tervane::snmp::usm
