// The users' keys are made once: PasswordToKey hashes a mebibyte, far more than a message
// costs. What UserSecurity must do with a message is worked out here in RFC 3414 §3.2's
// order from what the message was made as, not from UserSecurity's own state, so that the
// two can disagree.
#include "fuzz/v3_peer.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/v3_codec.h"

namespace tervane::fuzz {
namespace {

namespace usm = snmp::usm;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

const std::vector<uint8_t> kRelayEngineId = {0x80, 0x00, 0x7e, 0xd9, 0x05, 1, 2, 3, 4, 5, 6, 7, 8};
// The device that the captured traps come from, and another one.
const std::vector<uint8_t> kDeviceEngine = {0x80, 0x00, 0x00, 0x09, 0x03, 0xaa, 0xbb, 0xcc};
const std::vector<uint8_t> kOtherEngine = {0x80, 0x00, 0x00, 0x09, 0x03, 0xdd, 0xee, 0xff};
// The engine of tests/testdata/v3_noauth_coldstart.hex.
const std::vector<uint8_t> kCapturedEngine = {0x80, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};

// The engines a message of a user is made for: its home (the one it is bound to, else
// kDeviceEngine), kOtherEngine, this relay's, none.
enum EngineIndex { kHome, kOther, kRelay, kNoEngine, kEngines };

std::string_view AsText(std::span<const uint8_t> octets) {
  return {reinterpret_cast<const char*>(octets.data()), octets.size()};
}

bool Same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

usm::User MakeUser(std::string name, std::vector<uint8_t> engine, usm::Auth auth, usm::Priv priv,
                   std::string_view auth_password, std::string_view priv_password) {
  usm::User user{std::move(name), std::move(engine), auth, {}, priv, {}};
  if (auth != usm::Auth::kNone) user.auth_key = usm::PasswordToKey(auth, auth_password);
  if (priv != usm::Priv::kNone) user.priv_key = usm::PasswordToKey(auth, priv_password);
  return user;
}

std::vector<usm::User> MakeUsers() {
  using usm::Auth;
  using usm::Priv;
  constexpr std::string_view kAuth = "fuzzauthpass";
  constexpr std::string_view kPriv = "fuzzprivpass";
  std::vector<usm::User> users;
  users.push_back(MakeUser("fuzz-none", {}, Auth::kNone, Priv::kNone, {}, {}));
  users.push_back(MakeUser("fuzz-md5auth", {}, Auth::kMd5, Priv::kNone, kAuth, {}));
  users.push_back(MakeUser("fuzz-md5", {}, Auth::kMd5, Priv::kDes, kAuth, kPriv));
  users.push_back(MakeUser("fuzz-sha", {}, Auth::kSha1, Priv::kAes128, kAuth, kPriv));
  users.push_back(MakeUser("fuzz-sha256", {}, Auth::kSha256, Priv::kAes256C, kAuth, kPriv));
  users.push_back(
      MakeUser("fuzz-sha512", kDeviceEngine, Auth::kSha512, Priv::kAes256C, kAuth, kPriv));
  // tests/testdata's captures: "tervane" with SHA/AES from any engine, and without
  // authentication from the one of its noAuthNoPriv capture.
  users.push_back(MakeUser("tervane", {}, Auth::kSha1, Priv::kAes128, "maplesyrup", "maplesyrup"));
  users.push_back(MakeUser("tervane", kCapturedEngine, Auth::kNone, Priv::kNone, {}, {}));
  return users;
}

const std::vector<uint8_t>& Engine(const usm::User& user, EngineIndex index) {
  static const std::vector<uint8_t> kNone;
  switch (index) {
    case kHome:
      return user.engine_id.empty() ? kDeviceEngine : user.engine_id;
    case kOther:
      return kOtherEngine;
    case kRelay:
      return kRelayEngineId;
    default:
      return kNone;
  }
}

// A user's keys localized to one engine, prepared.
struct Keys {
  usm::Authenticator authenticator;
  usm::Privacy privacy;
};

Keys Localize(const usm::User& user, std::span<const uint8_t> engine) {
  Keys keys;
  if (user.auth == usm::Auth::kNone) return keys;
  keys.authenticator =
      usm::Authenticator(user.auth, usm::LocalizeKey(user.auth, user.auth_key.view(), engine));
  if (user.priv != usm::Priv::kNone) {
    const usm::Key kul = usm::LocalizeKey(user.auth, user.priv_key.view(), engine);
    keys.privacy = usm::Privacy(user.priv, usm::PrivacyKey(user.auth, user.priv, kul, engine));
  }
  return keys;
}

const Keys& KeysOf(size_t user, EngineIndex engine) {
  static const auto* const keys = [] {
    auto* all = new std::array<std::array<Keys, kEngines>, kUsers>();
    for (size_t u = 0; u < kUsers; ++u) {
      for (int e = 0; e < kEngines; ++e) {
        (*all)[u][e] = Localize(Users()[u], Engine(Users()[u], static_cast<EngineIndex>(e)));
      }
    }
    return all;
  }();
  return (*keys)[user][engine];
}

int Level(uint8_t flags) {
  return (flags & snmp::kFlagAuth) == 0 ? 0 : (flags & snmp::kFlagPriv) == 0 ? 1 : 2;
}
int Level(const usm::User& user) {
  return user.auth == usm::Auth::kNone ? 0 : user.priv == usm::Priv::kNone ? 1 : 2;
}

uint32_t Big32(std::span<const uint8_t> d, size_t at) {
  uint32_t v = 0;
  for (size_t i = at; i < at + 4; ++i) v = (v << 8) | (i < d.size() ? d[i] : 0);
  return v & 0x7fffffffU;
}

// What UserSecurity must make of `datagram`, made as `expected` says, from `engine`.
void Predict(std::span<const uint8_t> datagram, bool spoiled, Expected* expected) {
  snmp::V3Header header;
  snmp::V3Fault fault = snmp::V3Fault::kNone;
  expected->decodes = snmp::DecodeV3Header(datagram, &header, &fault).ok();
  if (!expected->decodes) return;  // malformed: neither accepted nor counted
  const auto drop = [&](usm::Drop reason) { expected->drop = reason; };
  const bool reportable = (header.flags & snmp::kFlagReportable) != 0;
  if (header.engine_id.empty() || (reportable && !Same(header.engine_id, kRelayEngineId))) {
    return drop(usm::Drop::kUnknownEngineId);
  }
  const std::optional<size_t> user = ResolveUser(header.user_name, header.engine_id);
  if (!user) return drop(usm::Drop::kUnknownUserName);
  const int level = Level(header.flags);
  if (level != Level(Users()[*user])) return drop(usm::Drop::kUnsupportedSecLevel);
  if (level >= 1) {
    // Made with another user's keys, or spoiled: the MAC cannot verify.
    if (*user != expected->user || spoiled) return drop(usm::Drop::kWrongDigest);
    if (reportable) {
      if (header.engine_boots != kRelayBoots || header.engine_time > kRelayTime + 150) {
        return drop(usm::Drop::kNotInTimeWindow);
      }
    } else if (header.engine_boots == usm::kMaxEngineBoots) {
      return drop(usm::Drop::kNotInTimeWindow);
    }
  }
  static snmp::DecodedMessage scoped;  // reused: a DecodedMessage allocates its texts
  snmp::ScopedContext context;
  if (level == 2) {
    if (!snmp::DecodeScopedPdu(expected->plaintext, expected->padding, &scoped, &context).ok()) {
      return drop(usm::Drop::kDecryptionError);
    }
  } else {
    expected->plaintext.assign(header.data.begin(), header.data.end());
    expected->padding = 0;
    if (!snmp::DecodeScopedPdu(header.data, 0, &scoped, &context).ok()) return;  // malformed
  }
  expected->accepted = true;
}

}  // namespace

usm::LocalEngine RelayEngine() {
  return {kRelayEngineId, kRelayBoots, kNowMs - int64_t{kRelayTime} * 1000};
}

const std::vector<usm::User>& Users() {
  static const std::vector<usm::User>* const users = new std::vector<usm::User>(MakeUsers());
  return *users;
}

std::optional<size_t> ResolveUser(std::span<const uint8_t> name, std::span<const uint8_t> engine) {
  std::optional<size_t> any;
  for (size_t i = 0; i < Users().size(); ++i) {
    const usm::User& user = Users()[i];
    if (user.name != AsText(name)) continue;
    if (user.engine_id.empty()) {
      if (!any) any = i;
    } else if (Same(user.engine_id, engine)) {
      return i;
    }
  }
  return any;
}

bool MakeMessage(std::span<const uint8_t> description, std::vector<uint8_t>* datagram,
                 Expected* expected) {
  const auto at = [&](size_t i) -> uint8_t { return i < description.size() ? description[i] : 0; };
  *expected = Expected();
  const uint8_t choice = at(0);
  const uint8_t how = at(1);
  const size_t u = choice & 7U;
  const usm::User& user = Users()[u];
  const bool inform = (choice & 8U) != 0;
  const int chosen_level = (choice >> 4) & 3;
  const int level = chosen_level == 0 ? Level(user) : chosen_level - 1;
  const int engine_choice = choice >> 6;
  const EngineIndex e = engine_choice <= 1   ? (inform ? kRelay : kHome)
                        : engine_choice == 2 ? kOther
                                             : kNoEngine;
  const std::vector<uint8_t>& engine = Engine(user, e);
  uint32_t boots = Big32(description, 2);
  uint32_t time = Big32(description, 6);
  if ((how & 2U) == 0 && inform) {
    boots = kRelayBoots;
    const int offset = 2 * static_cast<int8_t>(time & 0xffU);
    time = static_cast<uint32_t>(std::max(0, static_cast<int>(kRelayTime) + offset));
  }
  const std::span<const uint8_t> rest =
      description.subspan(std::min(description.size(), kDescriptionHead));
  static snmp::BerWriter scoped, whole;
  std::span<const uint8_t> plain = rest;
  if ((how & 1U) != 0) {
    scoped.Clear();
    scoped.PutBytes(rest);
    scoped.PutOctets(snmp::kTagOctetString, {});
    scoped.PutOctets(snmp::kTagOctetString, AsText(engine));
    scoped.PutHeader(snmp::kTagSequence, scoped.size());
    plain = scoped.data();
  }

  expected->user = u;
  expected->msg_id = static_cast<int32_t>(Big32(description, 6) ^ 0x1234);
  expected->flags =
      static_cast<uint8_t>((inform ? snmp::kFlagReportable : 0) |
                           (level >= 1 ? snmp::kFlagAuth : 0) | (level == 2 ? snmp::kFlagPriv : 0));
  const Keys& keys = KeysOf(u, e);
  snmp::V3Out out;
  out.msg_id = expected->msg_id;
  out.flags = expected->flags;
  out.engine_id = engine;
  out.engine_boots = boots;
  out.engine_time = time;
  out.user_name = user.name;
  out.mac_length = level >= 1 ? std::max<size_t>(keys.authenticator.mac_length(), 12) : 0;
  static std::vector<uint8_t> ciphertext;
  std::array<uint8_t, usm::kPrivParamsLength> salt{};
  std::span<const uint8_t> data = plain;
  if (level == 2) {
    if (keys.privacy.priv() != usm::Priv::kNone) {
      ciphertext.resize(keys.privacy.CiphertextLength(plain.size()));
      keys.privacy.Encrypt(uint64_t{boots} << 32 | time, boots, time, plain, ciphertext.data(),
                           salt.data());
      data = ciphertext;
      // What decrypting gives: the plaintext, and DES's zeros up to a whole block.
      expected->plaintext.assign(plain.begin(), plain.end());
      expected->plaintext.resize(ciphertext.size());
      expected->padding = keys.privacy.priv() == usm::Priv::kDes ? 7 : 0;
    } else {
      expected->plaintext.assign(plain.begin(), plain.end());
    }
    out.priv_params = salt;
  }
  size_t mac_offset = 0;
  if (!snmp::EncodeV3(out, data, &whole, &mac_offset).ok()) return false;
  datagram->assign(whole.data().begin(), whole.data().end());
  const bool spoiled = level >= 1 && (how & 4U) != 0;
  if (level >= 1) {
    keys.authenticator.Sign(*datagram, mac_offset);
    if (spoiled) (*datagram)[mac_offset] ^= 0x01;
  }
  Predict(*datagram, spoiled, expected);
  return true;
}

size_t CheckAuthentic(std::span<const uint8_t> datagram) {
  snmp::V3Header header;
  snmp::V3Fault fault = snmp::V3Fault::kNone;
  Check(snmp::DecodeV3Header(datagram, &header, &fault).ok());
  const std::optional<size_t> index = ResolveUser(header.user_name, header.engine_id);
  Check(index.has_value());
  const usm::User& user = Users()[*index];
  Check(Level(header.flags) == Level(user));
  if (user.auth != usm::Auth::kNone) {
    const Keys keys = Localize(user, header.engine_id);
    Check(header.auth_params.size() == keys.authenticator.mac_length());
    Check(keys.authenticator.Verify(datagram, header.auth_params_offset));
  }
  return *index;
}

void CheckResponse(std::span<const uint8_t> response, std::span<const uint8_t> inform, size_t user,
                   const snmp::MessageView& pdu) {
  snmp::V3Header asked, answer;
  snmp::V3Fault fault = snmp::V3Fault::kNone;
  Check(snmp::DecodeV3Header(inform, &asked, &fault).ok());
  Check(snmp::DecodeV3Header(response, &answer, &fault).ok());
  Check(Same(answer.engine_id, kRelayEngineId) && answer.engine_boots == kRelayBoots &&
        answer.engine_time == kRelayTime);
  Check(answer.msg_id == asked.msg_id && Same(answer.user_name, asked.user_name));
  Check(answer.flags == (asked.flags & (snmp::kFlagAuth | snmp::kFlagPriv)));
  const Keys& keys = KeysOf(user, kRelay);
  if ((answer.flags & snmp::kFlagAuth) != 0) {
    Check(answer.auth_params.size() == keys.authenticator.mac_length());
    Check(keys.authenticator.Verify(response, answer.auth_params_offset));
  }
  std::vector<uint8_t> plain(answer.data.begin(), answer.data.end());
  size_t padding = 0;
  if ((answer.flags & snmp::kFlagPriv) != 0) {
    Check(keys.privacy.Decrypt(answer.priv_params, answer.engine_boots, answer.engine_time,
                               answer.data, plain.data()));
    padding = keys.privacy.priv() == usm::Priv::kDes ? 7 : 0;
  }
  static snmp::DecodedMessage back;
  snmp::ScopedContext context;
  Check(snmp::DecodeScopedPdu(plain, padding, &back, &context).ok());
  snmp::Message expected = snmp::ToMessage(pdu);
  expected.kind = snmp::kKindResponse;
  Check(snmp::ToMessage(back.view()) == expected);
}

}  // namespace tervane::fuzz
