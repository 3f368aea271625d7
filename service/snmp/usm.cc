#include "service/snmp/usm.h"

#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <optional>
#include <unordered_map>
#include <utility>

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"

namespace tervane::snmp::usm {

std::string_view DropText(Drop drop) {
  switch (drop) {
    case Drop::kUnsupportedSecLevel:
      return "its security level is not the user's";
    case Drop::kNotInTimeWindow:
      return "it lies outside the engine's time window";
    case Drop::kUnknownUserName:
      return "its user is not known for its engine";
    case Drop::kUnknownEngineId:
      return "it names another engine than this relay's";
    case Drop::kWrongDigest:
      return "its digest is wrong (a wrong authentication password?)";
    case Drop::kDecryptionError:
      return "it cannot be decrypted (a wrong privacy password?)";
    case Drop::kUnknownSecurityModel:
      return "its security model is not USM";
    case Drop::kInvalidMessage:
      break;
  }
  return "its header is invalid";
}

namespace {

// usmStats and snmpMPDStats, each .0, as the Reports carry them.
constexpr std::string_view kReportOid[] = {
    "1.3.6.1.6.3.15.1.1.1.0", "1.3.6.1.6.3.15.1.1.2.0", "1.3.6.1.6.3.15.1.1.3.0",
    "1.3.6.1.6.3.15.1.1.4.0", "1.3.6.1.6.3.15.1.1.5.0", "1.3.6.1.6.3.15.1.1.6.0",
};

std::string_view AsText(std::span<const uint8_t> octets) {
  return {reinterpret_cast<const char*>(octets.data()), octets.size()};
}

bool Equal(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// A map of at most `bound` entries by a short binary key, the least recently used dropped
// first. Lookups take the key as a view and allocate nothing; an insertion allocates.
template <typename Value>
class LruMap {
 public:
  explicit LruMap(size_t bound) : bound_(bound) { index_.reserve(bound); }

  Value* Find(std::string_view key) {
    auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return &found->second->second;
  }

  Value& Insert(std::string_view key, Value value) {
    if (Value* there = Find(key)) {
      *there = std::move(value);
      return *there;
    }
    if (order_.size() >= bound_) {
      index_.erase(std::string_view(order_.back().first));
      order_.pop_back();
    }
    order_.emplace_front(std::string(key), std::move(value));
    index_.emplace(std::string_view(order_.front().first), order_.begin());
    return order_.front().second;
  }

  size_t size() const { return order_.size(); }

 private:
  using Entry = std::pair<std::string, Value>;
  size_t bound_;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<std::string_view, typename std::list<Entry>::iterator> index_;
};

// Hashes names as views, so that a lookup by a name in a datagram makes no string.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

// The keys of one user localized to one engine, ready for messages.
struct LocalizedKeys {
  Authenticator authenticator;
  Privacy privacy;
};

// What the latest authentic message of an engine said, and when it came.
struct EngineTime {
  uint32_t boots = 0;
  uint32_t time = 0;
  int64_t at_ms = 0;
};

// The security level of msgFlags, as a number that orders them.
int Level(uint8_t flags) { return (flags & kFlagAuth) == 0 ? 0 : (flags & kFlagPriv) == 0 ? 1 : 2; }
int Level(const User& user) {
  return user.auth == Auth::kNone ? 0 : user.priv == Priv::kNone ? 1 : 2;
}

// The request-id of a plaintext ScopedPDU, for a Report to echo; 0 when it has none to read.
int32_t PlainRequestId(std::span<const uint8_t> scoped) {
  BerReader top(scoped), seq, pdu;
  std::span<const uint8_t> skip;
  uint8_t tag;
  int32_t id = 0;
  if (top.ReadConstructed(kTagSequence, &seq) && seq.ReadElement(kTagOctetString, &skip) &&
      seq.ReadElement(kTagOctetString, &skip) && seq.ReadAnyConstructed(&tag, &pdu) &&
      pdu.ReadInteger32(&id)) {
    return id;
  }
  return 0;
}

}  // namespace

struct UserSecurity::Impl {
  explicit Impl(std::vector<User> configured)
      : users(std::move(configured)), keys(kKeyCacheEntries), times(kEngineTimeEntries) {
    for (size_t i = 0; i < users.size(); ++i) by_name.emplace(users[i].name, i);
    if (getrandom(&salt, sizeof salt, 0) != sizeof salt) salt = 0x5f3759df;
  }

  // The user of `name` for `engine`: the one bound to that engine, else the one of any engine.
  const User* FindUser(std::string_view name, std::span<const uint8_t> engine, size_t* index) {
    const User* any = nullptr;
    auto [first, last] = by_name.equal_range(name);
    for (auto it = first; it != last; ++it) {
      const User& user = users[it->second];
      if (user.engine_id.empty() && any == nullptr) {
        any = &user;
        *index = it->second;
      } else if (Equal(user.engine_id, engine)) {
        *index = it->second;
        return &user;
      }
    }
    return any;
  }

  // The cache's key of (engine, user): the engine's octets, then the user's index.
  std::string_view CacheKey(std::span<const uint8_t> engine, size_t user) {
    std::memcpy(key_room.data(), engine.data(), engine.size());
    const uint32_t index = static_cast<uint32_t>(user);
    std::memcpy(key_room.data() + engine.size(), &index, sizeof index);
    return {key_room.data(), engine.size() + sizeof index};
  }

  // The keys of `user` for `engine`: cached, or made into *fresh (not cached yet).
  const LocalizedKeys* Keys(const User& user, size_t index, std::span<const uint8_t> engine,
                            std::optional<LocalizedKeys>* fresh) {
    if (const LocalizedKeys* cached = keys.Find(CacheKey(engine, index))) return cached;
    LocalizedKeys made;
    if (user.auth != Auth::kNone) {
      made.authenticator =
          Authenticator(user.auth, LocalizeKey(user.auth, user.auth_key.view(), engine));
    }
    if (user.priv != Priv::kNone) {
      const Key kul = LocalizeKey(user.auth, user.priv_key.view(), engine);
      made.privacy = Privacy(user.priv, PrivacyKey(user.auth, user.priv, kul, engine));
    }
    fresh->emplace(made);
    return &**fresh;
  }

  std::vector<User> users;
  std::unordered_multimap<std::string, size_t, NameHash, std::equal_to<>> by_name;
  LruMap<LocalizedKeys> keys;
  LruMap<EngineTime> times;
  std::array<char, kMaxEngineId + sizeof(uint32_t)> key_room{};
  uint64_t salt = 0;

  // The inform Receive accepted last, for its Response.
  struct Pending {
    bool valid = false;
    int32_t msg_id = 0;
    uint8_t flags = 0;
    size_t user = 0;
    std::string context_engine_id;
    std::string context_name;
  } pending;

  // Reports sent in the current second.
  int64_t report_second = -1;
  int reports = 0;
  BerWriter writer;
  BerWriter scoped;
  std::vector<uint8_t> ciphertext;
  std::vector<uint8_t> report;
};

UserSecurity::UserSecurity(LocalEngine engine, std::vector<User> users)
    : impl_(std::make_unique<Impl>(std::move(users))), engine_(std::move(engine)) {}

UserSecurity::~UserSecurity() = default;

size_t UserSecurity::cached_keys() const { return impl_->keys.size(); }

namespace {

// Encodes a Report of `drop`'s counter `count` answering `header`, signed with `keys` when
// given, into *out.
Status EncodeReport(const LocalEngine& engine, uint32_t engine_time, const V3Header& header,
                    int32_t request_id, Drop drop, uint64_t count, const LocalizedKeys* keys,
                    BerWriter* scoped, BerWriter* writer, std::vector<uint8_t>* out) {
  char number[24];
  const int length = std::snprintf(number, sizeof number, "%u", static_cast<uint32_t>(count));
  const VariableView binding{kReportOid[static_cast<size_t>(drop)],
                             kTypeCounter32,
                             std::string_view(number, static_cast<size_t>(length)),
                             {},
                             {}};
  MessageView pdu;
  pdu.kind = kKindReport;
  pdu.request_id = request_id;
  pdu.variables = {&binding, 1};
  const ScopedContext context{AsText(engine.id), {}};
  if (Status s = EncodeScopedPdu(pdu, context, scoped); !s.ok()) return s;
  V3Out v3;
  v3.msg_id = header.msg_id;
  v3.flags = keys != nullptr ? kFlagAuth : 0;
  v3.engine_id = engine.id;
  v3.engine_boots = engine.boots;
  v3.engine_time = engine_time;
  v3.user_name = AsText(header.user_name);
  v3.mac_length = keys != nullptr ? keys->authenticator.mac_length() : 0;
  size_t mac_offset = 0;
  if (Status s = EncodeV3(v3, scoped->data(), writer, &mac_offset); !s.ok()) return s;
  out->assign(writer->data().begin(), writer->data().end());
  if (keys != nullptr) keys->authenticator.Sign(*out, mac_offset);
  return Status::Ok();
}

}  // namespace

UserSecurity::Outcome UserSecurity::Receive(std::span<uint8_t> datagram, int64_t now_ms,
                                            DecodedMessage* out, Texts texts) {
  Impl& m = *impl_;
  Outcome outcome;
  V3Header header;
  V3Fault fault = V3Fault::kNone;
  if (!DecodeV3Header(datagram, &header, &fault).ok()) {
    if (fault == V3Fault::kMalformed) return outcome;
    outcome.counted = true;
    outcome.drop = fault == V3Fault::kUnknownSecurityModel ? Drop::kUnknownSecurityModel
                                                           : Drop::kInvalidMessage;
    ++drops_[static_cast<size_t>(outcome.drop)];
    return outcome;
  }
  outcome.user_name = AsText(header.user_name);
  const uint32_t own_time =
      static_cast<uint32_t>(std::max<int64_t>(0, now_ms - engine_.start_ms) / 1000);
  const bool reportable = (header.flags & kFlagReportable) != 0;
  const bool ours = Equal(header.engine_id, engine_.id);
  const LocalizedKeys* signing = nullptr;  // the keys a Report is signed with, if any

  // Counts the drop and, for a message that asks for them, makes its Report.
  const auto drop = [&](Drop reason) {
    outcome.counted = true;
    outcome.drop = reason;
    const uint64_t count = ++drops_[static_cast<size_t>(reason)];
    if (!reportable || static_cast<size_t>(reason) >= std::size(kReportOid)) return outcome;
    const int64_t second = now_ms / 1000;
    if (second != m.report_second) {
      m.report_second = second;
      m.reports = 0;
    }
    if (m.reports >= kReportsPerSecond) return outcome;
    const int32_t request_id = (header.flags & kFlagPriv) == 0 ? PlainRequestId(header.data) : 0;
    if (EncodeReport(engine_, own_time, header, request_id, reason, count, signing, &m.scoped,
                     &m.writer, &m.report)
            .ok()) {
      ++m.reports;
      outcome.report = m.report;
    }
    return outcome;
  };

  // A message that asks for an answer is sent to this engine; any other (a trap) comes from
  // the engine that it names.
  if (header.engine_id.empty() || (reportable && !ours)) {
    outcome.discovery = reportable && header.engine_id.empty();
    return drop(Drop::kUnknownEngineId);
  }
  size_t index = 0;
  const User* user = m.FindUser(outcome.user_name, header.engine_id, &index);
  if (user == nullptr) return drop(Drop::kUnknownUserName);
  if (Level(header.flags) != Level(*user)) return drop(Drop::kUnsupportedSecLevel);

  std::optional<LocalizedKeys> fresh;
  const LocalizedKeys* keys = nullptr;
  if (user->auth != Auth::kNone) {
    keys = m.Keys(*user, index, header.engine_id, &fresh);
    if (header.auth_params.size() != keys->authenticator.mac_length() ||
        !keys->authenticator.Verify(datagram, header.auth_params_offset)) {
      return drop(Drop::kWrongDigest);
    }
    // Authentic from here on: its keys are worth keeping.
    if (fresh) keys = &m.keys.Insert(m.CacheKey(header.engine_id, index), *fresh);
    signing = keys;

    if (ours) {
      const uint32_t earliest = own_time > kTimeWindowSeconds ? own_time - kTimeWindowSeconds : 0;
      if (engine_.boots == kMaxEngineBoots || header.engine_boots != engine_.boots ||
          header.engine_time < earliest || header.engine_time > own_time + kTimeWindowSeconds) {
        return drop(Drop::kNotInTimeWindow);
      }
    } else {
      const std::string_view engine_key = AsText(header.engine_id);
      EngineTime* known = m.times.Find(engine_key);
      if (header.engine_boots == kMaxEngineBoots) return drop(Drop::kNotInTimeWindow);
      if (known != nullptr) {
        // The engine's time now, had it gone on from its latest message.
        const int64_t expected =
            int64_t{known->time} + std::max<int64_t>(0, now_ms - known->at_ms) / 1000;
        if (header.engine_boots < known->boots ||
            (header.engine_boots == known->boots &&
             int64_t{header.engine_time} < expected - int64_t{kTimeWindowSeconds})) {
          return drop(Drop::kNotInTimeWindow);
        }
      }
      if (known == nullptr || header.engine_boots > known->boots ||
          header.engine_time > known->time) {
        m.times.Insert(engine_key, {header.engine_boots, header.engine_time, now_ms});
      }
    }
  }

  // The ScopedPDU: in plain, or decrypted in place.
  std::span<const uint8_t> scoped = header.data;
  size_t padding = 0;
  if ((header.flags & kFlagPriv) != 0) {
    uint8_t* data = datagram.data() + (header.data.data() - datagram.data());
    if (!keys->privacy.Decrypt(header.priv_params, header.engine_boots, header.engine_time,
                               header.data, data)) {
      return drop(Drop::kDecryptionError);
    }
    padding = user->priv == Priv::kDes ? 7 : 0;
  }
  ScopedContext context;
  if (!DecodeScopedPdu(scoped, padding, out, &context, texts).ok()) {
    if ((header.flags & kFlagPriv) != 0) return drop(Drop::kDecryptionError);
    return outcome;  // malformed
  }
  out->MarkSnmpV3(user->name, header.flags & (kFlagAuth | kFlagPriv));
  const MessageView& view = out->view();
  outcome.accepted = true;
  m.pending.valid = view.kind == kKindInform;
  if (m.pending.valid) {
    // Kept for the Response, which leaves once the trap has been taken in; assigned in place,
    // so that a stream of informs reuses the strings' memory.
    m.pending.msg_id = header.msg_id;
    m.pending.flags = view.security_flags;
    m.pending.user = index;
    m.pending.context_engine_id.assign(context.engine_id);
    m.pending.context_name.assign(context.name);
  }
  return outcome;
}

Status UserSecurity::EncodeResponse(const MessageView& response, int64_t now_ms, BerWriter* out) {
  Impl& m = *impl_;
  if (!m.pending.valid) {
    return Status::Error(kErrorInvalidArgument, "send response: no SNMPv3 inform has arrived");
  }
  const Impl::Pending& pending = m.pending;
  const User& user = m.users[pending.user];
  std::optional<LocalizedKeys> fresh;
  const LocalizedKeys* keys =
      user.auth != Auth::kNone ? m.Keys(user, pending.user, engine_.id, &fresh) : nullptr;
  const uint32_t own_time =
      static_cast<uint32_t>(std::max<int64_t>(0, now_ms - engine_.start_ms) / 1000);
  const ScopedContext context{pending.context_engine_id, pending.context_name};
  if (Status s = EncodeScopedPdu(response, context, &m.scoped); !s.ok()) return s;
  V3Out v3;
  v3.msg_id = pending.msg_id;
  v3.flags = pending.flags;
  v3.engine_id = engine_.id;
  v3.engine_boots = engine_.boots;
  v3.engine_time = own_time;
  v3.user_name = user.name;
  v3.mac_length = keys != nullptr ? keys->authenticator.mac_length() : 0;
  std::span<const uint8_t> data = m.scoped.data();
  uint8_t salt[kPrivParamsLength];
  if ((pending.flags & kFlagPriv) != 0) {
    m.ciphertext.resize(keys->privacy.CiphertextLength(data.size()));
    keys->privacy.Encrypt(++m.salt, engine_.boots, own_time, data, m.ciphertext.data(), salt);
    v3.priv_params = salt;
    data = m.ciphertext;
  }
  size_t mac_offset = 0;
  if (Status s = EncodeV3(v3, data, out, &mac_offset); !s.ok()) return s;
  if (keys != nullptr) keys->authenticator.Sign(out->mutable_data(), mac_offset);
  m.pending.valid = false;  // an inform is answered once
  return Status::Ok();
}

}  // namespace tervane::snmp::usm
