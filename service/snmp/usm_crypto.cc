#include "service/snmp/usm_crypto.h"

#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/cfb.h>
#include <nettle/des.h>
#include <nettle/hmac.h>
#include <nettle/md5.h>
#include <nettle/memops.h>
#include <nettle/nettle-meta.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <cstring>
#include <initializer_list>
#include <new>

namespace tervane::snmp::usm {
namespace {

// Indexed by the enumerators.
constexpr std::array<std::string_view, 7> kAuthNames = {"",        "MD5",     "SHA",    "SHA-224",
                                                        "SHA-256", "SHA-384", "SHA-512"};
constexpr std::array<std::string_view, 7> kPrivNames = {
    "", "DES", "AES", "AES-192", "AES-256", "AES-192-C", "AES-256-C"};

// RFC 3414 A.2: the password is stretched to this many octets, hashed in chunks of this size.
constexpr size_t kPasswordStretch = 1048576;
constexpr size_t kPasswordChunk = 64;

// What the MAC's octets are taken as while the MAC is computed.
constexpr std::array<uint8_t, kMaxMac> kZeros{};

// A context of any of the hashes: SHA-224 runs in SHA-256's, SHA-384 in SHA-512's.
union HashContext {
  md5_ctx md5;
  sha1_ctx sha1;
  sha256_ctx sha256;
  sha512_ctx sha512;
};

// nettle's description of `auth`'s hash (context and digest size, functions); null for kNone.
const nettle_hash* HashOf(Auth auth) {
  switch (auth) {
    case Auth::kMd5:
      return &nettle_md5;
    case Auth::kSha1:
      return &nettle_sha1;
    case Auth::kSha224:
      return &nettle_sha224;
    case Auth::kSha256:
      return &nettle_sha256;
    case Auth::kSha384:
      return &nettle_sha384;
    case Auth::kSha512:
      return &nettle_sha512;
    case Auth::kNone:
      break;
  }
  return nullptr;
}

// Feeds `octets` to the hash; an empty span (whose data may be null) feeds nothing.
void Update(const nettle_hash* hash, HashContext* context, std::span<const uint8_t> octets) {
  if (!octets.empty()) hash->update(context, octets.size(), octets.data());
}

// The digest of the pieces one after the other; an empty key for kNone.
Key Digest(Auth auth, std::initializer_list<std::span<const uint8_t>> pieces) {
  Key key;
  const nettle_hash* hash = HashOf(auth);
  if (hash == nullptr) return key;
  HashContext context;
  hash->init(&context);
  for (std::span<const uint8_t> piece : pieces) Update(hash, &context, piece);
  key.size = hash->digest_size;
  hash->digest(&context, key.size, key.octets.data());
  return key;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The enumerator whose name in `names` is `name`, in any letter case.
template <typename Enum, size_t N>
std::optional<Enum> ParseName(const std::array<std::string_view, N>& names, std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (EqualIgnoringCase(names[i], name)) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

template <typename State, size_t N>
State* StateIn(std::array<unsigned char, N>& storage) {
  return std::launder(reinterpret_cast<State*>(storage.data()));
}

template <typename State, size_t N>
const State* StateIn(const std::array<unsigned char, N>& storage) {
  return std::launder(reinterpret_cast<const State*>(storage.data()));
}

void PutBigEndian32(uint32_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

// nettle's block functions in the shape of nettle_cipher_func, which the modes take.
void DesEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src) {
  des_encrypt(static_cast<const des_ctx*>(context), length, dst, src);
}
void DesDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src) {
  des_decrypt(static_cast<const des_ctx*>(context), length, dst, src);
}
void Aes128Encrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src) {
  aes128_encrypt(static_cast<const aes128_ctx*>(context), length, dst, src);
}
void Aes192Encrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src) {
  aes192_encrypt(static_cast<const aes192_ctx*>(context), length, dst, src);
}
void Aes256Encrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src) {
  aes256_encrypt(static_cast<const aes256_ctx*>(context), length, dst, src);
}

// CFB runs the block cipher forwards in both directions.
nettle_cipher_func* AesFunction(Priv priv) {
  switch (priv) {
    case Priv::kAes192:
    case Priv::kAes192C:
      return Aes192Encrypt;
    case Priv::kAes256:
    case Priv::kAes256C:
      return Aes256Encrypt;
    default:
      return Aes128Encrypt;
  }
}

// RFC 3826 §3.1.2.1: the IV is the engine's boots and time, then the 8 octets of the salt.
std::array<uint8_t, AES_BLOCK_SIZE> AesIv(uint32_t boots, uint32_t time, const uint8_t* salt) {
  std::array<uint8_t, AES_BLOCK_SIZE> iv;
  PutBigEndian32(boots, iv.data());
  PutBigEndian32(time, iv.data() + 4);
  std::memcpy(iv.data() + 8, salt, kPrivParamsLength);
  return iv;
}

// RFC 3414 §8.1.1.1: the IV is the pre-IV XOR the salt.
std::array<uint8_t, DES_BLOCK_SIZE> DesIv(const std::array<uint8_t, DES_BLOCK_SIZE>& pre_iv,
                                          const uint8_t* salt) {
  std::array<uint8_t, DES_BLOCK_SIZE> iv;
  for (size_t i = 0; i < iv.size(); ++i) iv[i] = pre_iv[i] ^ salt[i];
  return iv;
}

}  // namespace

std::string_view AuthName(Auth auth) {
  const auto index = static_cast<size_t>(auth);
  return index < kAuthNames.size() ? kAuthNames[index] : std::string_view();
}

std::string_view PrivName(Priv priv) {
  const auto index = static_cast<size_t>(priv);
  return index < kPrivNames.size() ? kPrivNames[index] : std::string_view();
}

namespace {

// The names of `names` but the first (none), as a list: "a, b or c".
template <size_t N>
std::string NameList(const std::array<std::string_view, N>& names) {
  std::string list;
  for (size_t i = 1; i < N; ++i) {
    if (i > 1) list += i + 1 == N ? " or " : ", ";
    list += names[i];
  }
  return list;
}

}  // namespace

std::string AuthNameList() { return NameList(kAuthNames); }
std::string PrivNameList() { return NameList(kPrivNames); }

std::optional<Auth> ParseAuth(std::string_view name) { return ParseName<Auth>(kAuthNames, name); }

std::optional<Priv> ParsePriv(std::string_view name) { return ParseName<Priv>(kPrivNames, name); }

size_t KeyLength(Auth auth) {
  const nettle_hash* hash = HashOf(auth);
  return hash == nullptr ? 0 : hash->digest_size;
}

size_t MacLength(Auth auth) {
  switch (auth) {
    case Auth::kMd5:
    case Auth::kSha1:
      return 12;
    case Auth::kSha224:
      return 16;
    case Auth::kSha256:
      return 24;
    case Auth::kSha384:
      return 32;
    case Auth::kSha512:
      return 48;
    case Auth::kNone:
      break;
  }
  return 0;
}

size_t PrivKeyLength(Priv priv) {
  switch (priv) {
    case Priv::kDes:
    case Priv::kAes128:
      return 16;
    case Priv::kAes192:
    case Priv::kAes192C:
      return 24;
    case Priv::kAes256:
    case Priv::kAes256C:
      return 32;
    case Priv::kNone:
      break;
  }
  return 0;
}

Key PasswordToKey(Auth auth, std::string_view password) {
  Key key;
  const nettle_hash* hash = HashOf(auth);
  if (hash == nullptr || password.empty()) return key;
  HashContext context;
  hash->init(&context);
  std::array<uint8_t, kPasswordChunk> chunk;
  size_t next = 0;  // the password's octet that comes next in the stretched text
  for (size_t done = 0; done < kPasswordStretch; done += chunk.size()) {
    for (uint8_t& octet : chunk) {
      octet = static_cast<uint8_t>(password[next]);
      if (++next == password.size()) next = 0;
    }
    hash->update(&context, chunk.size(), chunk.data());
  }
  key.size = hash->digest_size;
  hash->digest(&context, key.size, key.octets.data());
  return key;
}

Key LocalizeKey(Auth auth, std::span<const uint8_t> ku, std::span<const uint8_t> engine_id) {
  return Digest(auth, {ku, engine_id, ku});
}

Key PrivacyKey(Auth auth, Priv priv, const Key& kul, std::span<const uint8_t> engine_id) {
  const size_t needed = PrivKeyLength(priv);
  if (HashOf(auth) == nullptr || needed == 0 || kul.size == 0) return {};
  Key key = kul;
  const bool reeder = priv == Priv::kAes192C || priv == Priv::kAes256C;
  size_t latest = 0;  // where the piece added last begins; the Kul is the first piece
  // Every round adds a whole digest, at least 16 octets, and at most 32 are needed, so this
  // ends within kMaxDigest after one or two rounds.
  while (key.size < needed) {
    Key more;
    if (reeder) {
      // The next piece is the latest piece taken as a password, made into a key and localized.
      const std::string_view password(reinterpret_cast<const char*>(key.octets.data() + latest),
                                      key.size - latest);
      more = LocalizeKey(auth, PasswordToKey(auth, password).view(), engine_id);
      latest = key.size;
    } else {
      more = Digest(auth, {key.view()});
    }
    const size_t added = std::min(more.size, key.octets.size() - key.size);
    std::copy_n(more.octets.begin(), added, key.octets.begin() + key.size);
    key.size += added;
  }
  std::fill(key.octets.begin() + needed, key.octets.end(), uint8_t{0});
  key.size = needed;
  return key;
}

struct Authenticator::State {
  HashContext inner;
  HashContext outer;
};

Authenticator::Authenticator(Auth auth, const Key& kul) {
  static_assert(sizeof(State) <= kStateSize && alignof(State) <= 8,
                "the hash contexts must fit in Authenticator::state_");
  const nettle_hash* hash = HashOf(auth);
  if (hash == nullptr) return;
  auth_ = auth;
  State* state = new (state_.data()) State{};
  HashContext scratch;
  const size_t size = std::min(kul.size, kul.octets.size());  // never past the octets held
  hmac_set_key(&state->outer, &state->inner, &scratch, hash, size, kul.octets.data());
}

bool Authenticator::Verify(std::span<const uint8_t> datagram, size_t mac_offset) const {
  const size_t length = mac_length();
  if (length == 0 || mac_offset > datagram.size() || datagram.size() - mac_offset < length) {
    return false;
  }
  std::array<uint8_t, kMaxMac> mac;
  Mac(datagram, mac_offset, mac.data());
  return memeql_sec(mac.data(), datagram.data() + mac_offset, length) != 0;
}

void Authenticator::Sign(std::span<uint8_t> datagram, size_t mac_offset) const {
  const size_t length = mac_length();
  if (length == 0 || mac_offset > datagram.size() || datagram.size() - mac_offset < length) {
    return;
  }
  std::array<uint8_t, kMaxMac> mac;
  Mac(datagram, mac_offset, mac.data());
  std::memcpy(datagram.data() + mac_offset, mac.data(), length);
}

void Authenticator::Mac(std::span<const uint8_t> datagram, size_t mac_offset, uint8_t* out) const {
  const nettle_hash* hash = HashOf(auth_);
  const State& state = *StateIn<State>(state_);
  const size_t length = mac_length();
  // A copy of the inner context, so that this object stays unchanged and can be shared.
  HashContext work;
  std::memcpy(&work, &state.inner, hash->context_size);
  Update(hash, &work, datagram.first(mac_offset));
  Update(hash, &work, std::span(kZeros.data(), length));
  Update(hash, &work, datagram.subspan(mac_offset + length));
  hmac_digest(&state.outer, &state.inner, &work, hash, length, out);
}

struct Privacy::State {
  union Cipher {
    des_ctx des;
    aes128_ctx aes128;
    aes192_ctx aes192;
    aes256_ctx aes256;
  };
  Cipher cipher;
  std::array<uint8_t, DES_BLOCK_SIZE> pre_iv;
};

Privacy::Privacy(Priv priv, const Key& priv_key) {
  static_assert(sizeof(State) <= kStateSize && alignof(State) <= 8,
                "the key schedule must fit in Privacy::state_");
  const size_t length = PrivKeyLength(priv);
  if (length == 0 || priv_key.size < length) return;
  priv_ = priv;
  State* state = new (state_.data()) State{};
  const uint8_t* key = priv_key.octets.data();
  switch (priv) {
    case Priv::kDes:
      // The parity bits are ignored. A weak key (des_set_key's 0) is still used: the sender
      // derived the same key, and one from a hash is weak with a chance of 2^-52.
      static_cast<void>(des_set_key(&state->cipher.des, key));
      std::memcpy(state->pre_iv.data(), key + DES_KEY_SIZE, DES_BLOCK_SIZE);
      break;
    case Priv::kAes128:
      aes128_set_encrypt_key(&state->cipher.aes128, key);
      break;
    case Priv::kAes192:
    case Priv::kAes192C:
      aes192_set_encrypt_key(&state->cipher.aes192, key);
      break;
    case Priv::kAes256:
    case Priv::kAes256C:
      aes256_set_encrypt_key(&state->cipher.aes256, key);
      break;
    case Priv::kNone:
      break;
  }
}

bool Privacy::Decrypt(std::span<const uint8_t> priv_params, uint32_t boots, uint32_t time,
                      std::span<const uint8_t> ciphertext, uint8_t* plaintext) const {
  if (priv_ == Priv::kNone || priv_params.size() != kPrivParamsLength) return false;
  const State& state = *StateIn<State>(state_);
  if (priv_ == Priv::kDes) {
    if (ciphertext.size() % DES_BLOCK_SIZE != 0) return false;
    if (ciphertext.empty()) return true;
    std::array<uint8_t, DES_BLOCK_SIZE> iv = DesIv(state.pre_iv, priv_params.data());
    cbc_decrypt(&state.cipher.des, DesDecrypt, DES_BLOCK_SIZE, iv.data(), ciphertext.size(),
                plaintext, ciphertext.data());
    return true;
  }
  if (ciphertext.empty()) return true;
  std::array<uint8_t, AES_BLOCK_SIZE> iv = AesIv(boots, time, priv_params.data());
  cfb_decrypt(&state.cipher, AesFunction(priv_), AES_BLOCK_SIZE, iv.data(), ciphertext.size(),
              plaintext, ciphertext.data());
  return true;
}

size_t Privacy::CiphertextLength(size_t plaintext_length) const {
  if (priv_ != Priv::kDes) return plaintext_length;
  return (plaintext_length + DES_BLOCK_SIZE - 1) / DES_BLOCK_SIZE * DES_BLOCK_SIZE;
}

void Privacy::Encrypt(uint64_t salt, uint32_t boots, uint32_t time,
                      std::span<const uint8_t> plaintext, uint8_t* ciphertext,
                      uint8_t* priv_params) const {
  if (priv_ == Priv::kNone) return;
  const State& state = *StateIn<State>(state_);
  std::array<uint8_t, kPrivParamsLength> params;
  if (priv_ == Priv::kDes) {
    // RFC 3414 §8.1.1.1: the salt is the engine's boots, then 32 bits that change per message.
    PutBigEndian32(boots, params.data());
    PutBigEndian32(static_cast<uint32_t>(salt), params.data() + 4);
    std::array<uint8_t, DES_BLOCK_SIZE> iv = DesIv(state.pre_iv, params.data());
    const size_t whole = plaintext.size() - plaintext.size() % DES_BLOCK_SIZE;
    if (whole > 0) {
      cbc_encrypt(&state.cipher.des, DesEncrypt, DES_BLOCK_SIZE, iv.data(), whole, ciphertext,
                  plaintext.data());
    }
    if (whole < plaintext.size()) {
      // The last, partial block is padded with zeros.
      std::array<uint8_t, DES_BLOCK_SIZE> last{};
      std::memcpy(last.data(), plaintext.data() + whole, plaintext.size() - whole);
      cbc_encrypt(&state.cipher.des, DesEncrypt, DES_BLOCK_SIZE, iv.data(), DES_BLOCK_SIZE,
                  ciphertext + whole, last.data());
    }
  } else {
    PutBigEndian32(static_cast<uint32_t>(salt >> 32), params.data());
    PutBigEndian32(static_cast<uint32_t>(salt), params.data() + 4);
    std::array<uint8_t, AES_BLOCK_SIZE> iv = AesIv(boots, time, params.data());
    if (!plaintext.empty()) {
      cfb_encrypt(&state.cipher, AesFunction(priv_), AES_BLOCK_SIZE, iv.data(), plaintext.size(),
                  ciphertext, plaintext.data());
    }
  }
  std::memcpy(priv_params, params.data(), params.size());
}

std::string HexText(std::span<const uint8_t> octets) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(octets.size() * 2);
  for (uint8_t octet : octets) {
    text += kDigits[octet >> 4];
    text += kDigits[octet & 0x0F];
  }
  return text;
}

std::optional<std::vector<uint8_t>> ParseHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> octets;
  octets.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    octets.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return octets;
}

}  // namespace tervane::snmp::usm
