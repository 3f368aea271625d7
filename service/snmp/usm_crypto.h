// The User-based Security Model's cryptography (RFC 3414, RFC 3826, RFC 7860): keys made from
// passwords and localized to an engine, the HMAC authentication of whole messages, and the
// privacy ciphers, on nettle.
//
// Keys are made once per user (Ku, from the password) and once per engine and user (Kul, the
// localized key); a message then costs one HMAC and at most one decryption, made from states
// prepared with the key, without allocating. The same states sign and encrypt what this
// engine sends.
#ifndef TERVANE_SERVICE_SNMP_USM_CRYPTO_H_
#define TERVANE_SERVICE_SNMP_USM_CRYPTO_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tervane::snmp::usm {

// The authentication protocols: HMAC-MD5-96, HMAC-SHA-96 and HMAC-SHA-2 with RFC 7860's
// truncations.
enum class Auth : uint8_t { kNone, kMd5, kSha1, kSha224, kSha256, kSha384, kSha512 };
// The privacy protocols: DES-CBC, AES-128-CFB, and AES-192/256-CFB with the key extended as
// draft-blumenthal-aes-usm does (kAes192, kAes256) or as draft-reeder-snmpv3-usm-3desede does
// (kAes192C, kAes256C).
enum class Priv : uint8_t { kNone, kDes, kAes128, kAes192, kAes256, kAes192C, kAes256C };

// The names as stored and typed: "", "MD5", "SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512";
// "", "DES", "AES", "AES-192", "AES-256", "AES-192-C", "AES-256-C".
std::string_view AuthName(Auth auth);
std::string_view PrivName(Priv priv);
// Every protocol's name but the empty one, for a refusal: "MD5, SHA, SHA-224, SHA-256, SHA-384
// or SHA-512"; "DES, AES, AES-192, AES-256, AES-192-C or AES-256-C".
std::string AuthNameList();
std::string PrivNameList();
// The protocol of a name, in any letter case; nothing for a name that is none of them.
std::optional<Auth> ParseAuth(std::string_view name);
std::optional<Priv> ParsePriv(std::string_view name);

// Largest sizes, over every protocol.
inline constexpr size_t kMaxDigest = 64;   // SHA-512
inline constexpr size_t kMaxMac = 48;      // HMAC-SHA-512's truncation
inline constexpr size_t kMaxPrivKey = 32;  // AES-256
inline constexpr size_t kPrivParamsLength = 8;

// The size of a key (Ku and Kul are the hash's output): 16, 20, 28, 32, 48, 64; 0 for kNone.
size_t KeyLength(Auth auth);
// The size of the MAC in msgAuthenticationParameters: 12, 12, 16, 24, 32, 48; 0 for kNone.
size_t MacLength(Auth auth);
// The size of the privacy key the cipher takes: 16 for DES (the key, then the pre-IV), 16, 24,
// 32, 24, 32; 0 for kNone.
size_t PrivKeyLength(Priv priv);

// A key of up to kMaxDigest octets, held in place.
struct Key {
  std::array<uint8_t, kMaxDigest> octets{};
  size_t size = 0;

  std::span<const uint8_t> view() const { return {octets.data(), size}; }
  friend bool operator==(const Key& a, const Key& b) {
    return a.view().size() == b.view().size() &&
           std::equal(a.view().begin(), a.view().end(), b.view().begin());
  }
};

// Ku: the password, repeated to 1,048,576 octets, hashed with `auth`'s hash (RFC 3414 A.2).
// `password` must not be empty and `auth` must not be kNone: either gives an empty key.
Key PasswordToKey(Auth auth, std::string_view password);
// Kul: Ku localized to `engine_id`, H(Ku || engineID || Ku).
Key LocalizeKey(Auth auth, std::span<const uint8_t> ku, std::span<const uint8_t> engine_id);
// The key that `priv` takes, from the privacy Kul (the privacy password's Ku localized with
// the user's authentication hash): its first PrivKeyLength octets, extended first where the
// Kul is shorter than that. AES-192/AES-256 extend it with H(Kul), H(Kul || H(Kul)) ...;
// AES-192-C/AES-256-C with the Kul made by taking the Kul itself as a password, localized to
// `engine_id`. An empty key for kNone (either) or an empty Kul.
Key PrivacyKey(Auth auth, Priv priv, const Key& kul, std::span<const uint8_t> engine_id);

// An HMAC key prepared for messages: the hash states after the inner and outer pads.
class Authenticator {
 public:
  Authenticator() = default;  // kNone: authenticates nothing
  Authenticator(Auth auth, const Key& kul);

  Auth auth() const { return auth_; }
  size_t mac_length() const { return MacLength(auth_); }

  // Whether `datagram` carries the right MAC in its msgAuthenticationParameters, which lie at
  // `mac_offset` and are `mac_length()` octets long: the MAC is computed over the datagram
  // with those octets taken as zeros (the datagram is not changed) and compared in constant
  // time. False for kNone and when the octets do not lie inside the datagram.
  bool Verify(std::span<const uint8_t> datagram, size_t mac_offset) const;
  // Writes the MAC of `datagram` into its msgAuthenticationParameters at `mac_offset`, which
  // the encoder left as mac_length() zeros. Writes nothing for kNone and when those octets
  // do not lie inside the datagram.
  void Sign(std::span<uint8_t> datagram, size_t mac_offset) const;

 private:
  // The truncated HMAC of `datagram` with the MAC's octets taken as zeros.
  void Mac(std::span<const uint8_t> datagram, size_t mac_offset, uint8_t* out) const;

  Auth auth_ = Auth::kNone;
  // nettle's inner and outer hash contexts, of whichever hash `auth_` uses, held in place so
  // that the object copies as bytes and a message allocates nothing. usm_crypto.cc checks
  // that they fit.
  struct State;
  static constexpr size_t kStateSize = 432;
  alignas(8) std::array<unsigned char, kStateSize> state_{};
};

// A privacy key prepared for messages: the cipher's key schedule.
class Privacy {
 public:
  Privacy() = default;  // kNone: decrypts nothing
  // kNone as well when `priv_key` is shorter than PrivKeyLength(priv).
  Privacy(Priv priv, const Key& priv_key);

  Priv priv() const { return priv_; }

  // Decrypts `ciphertext` into `plaintext` (as many octets). `priv_params` is the message's
  // msgPrivacyParameters (the salt), `boots` and `time` the authoritative engine's values the
  // message carries. False, writing nothing, for kNone, for privParams not exactly 8 octets,
  // and for DES with a ciphertext that is not a multiple of 8 octets.
  bool Decrypt(std::span<const uint8_t> priv_params, uint32_t boots, uint32_t time,
               std::span<const uint8_t> ciphertext, uint8_t* plaintext) const;

  // The size of the ciphertext of `plaintext_length` octets: for DES the next multiple of 8.
  size_t CiphertextLength(size_t plaintext_length) const;
  // Encrypts `plaintext` into `ciphertext` (CiphertextLength octets; DES pads with zeros) with
  // the salt made of `salt` (for DES, `boots` and the low 32 bits of `salt`), and writes that
  // salt, the msgPrivacyParameters to send, into `priv_params` (8 octets). The caller gives
  // every message a new `salt`. Writes nothing for kNone.
  void Encrypt(uint64_t salt, uint32_t boots, uint32_t time, std::span<const uint8_t> plaintext,
               uint8_t* ciphertext, uint8_t* priv_params) const;

 private:
  Priv priv_ = Priv::kNone;
  // The cipher's key schedule and, for DES, the pre-IV, held in place like Authenticator's.
  struct State;
  static constexpr size_t kStateSize = 248;
  alignas(8) std::array<unsigned char, kStateSize> state_{};
};

// Octets as lower-case hex, and back: nothing for text that is not an even number of hex
// digits (either case).
std::string HexText(std::span<const uint8_t> octets);
std::optional<std::vector<uint8_t>> ParseHex(std::string_view text);

}  // namespace tervane::snmp::usm

#endif  // TERVANE_SERVICE_SNMP_USM_CRYPTO_H_
