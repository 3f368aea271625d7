#include "store/v3_users.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <optional>

#include "platform/sys_error.h"
#include "service/snmp/value_text.h"
#include "store/number_text.h"

namespace tervane::store {
namespace {

namespace usm = snmp::usm;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "name (any engine)" for a row, from the texts as stored.
std::string RowLabel(std::string_view name, std::string_view engine) {
  std::string label(kV3UserTable);
  label += ' ';
  label += name;
  label += engine.empty() ? " (any engine)" : " (engine " + std::string(engine) + ")";
  return label;
}

Result<usm::Auth> AuthFromRow(const Value& value, const std::string& what) {
  const std::string text = value.AsText();
  if (text.empty()) return usm::Auth::kNone;
  if (std::optional<usm::Auth> auth = usm::ParseAuth(text); auth) return *auth;
  return Status::Error(kErrorInvalidArgument, what + ": " + snmp::QuoteText(text) +
                                                  " is not one of " + usm::AuthNameList() +
                                                  " (empty for none)");
}

Result<usm::Priv> PrivFromRow(const Value& value, const std::string& what) {
  const std::string text = value.AsText();
  if (text.empty()) return usm::Priv::kNone;
  if (std::optional<usm::Priv> priv = usm::ParsePriv(text); priv) return *priv;
  return Status::Error(kErrorInvalidArgument, what + ": " + snmp::QuoteText(text) +
                                                  " is not one of " + usm::PrivNameList() +
                                                  " (empty for none)");
}

// A Ku column: empty without a protocol, else hex of the authentication hash's length.
Result<usm::Key> KeyFromRow(const Value& value, bool has_protocol, usm::Auth auth,
                            const std::string& what) {
  const std::string text = value.AsText();
  usm::Key key;
  if (!has_protocol) {
    if (text.empty()) return key;
    return Status::Error(kErrorInvalidArgument, what + ": holds a key but its protocol is none");
  }
  const size_t length = usm::KeyLength(auth);
  std::optional<std::vector<uint8_t>> octets = usm::ParseHex(text);
  if (!octets || octets->size() != length) {
    return Status::Error(kErrorInvalidArgument,
                         what + ": is not " + (auth == usm::Auth::kMd5 ? "an " : "a ") +
                             std::string(usm::AuthName(auth)) + " key (" + std::to_string(length) +
                             " octets as " + std::to_string(2 * length) + " hex digits)");
  }
  std::copy(octets->begin(), octets->end(), key.octets.begin());
  key.size = length;
  return key;
}

}  // namespace

std::string_view SecurityLevelName(SecurityLevel level) {
  switch (level) {
    case SecurityLevel::kNoAuthNoPriv:
      return "noAuthNoPriv";
    case SecurityLevel::kAuthNoPriv:
      return "authNoPriv";
    case SecurityLevel::kAuthPriv:
      return "authPriv";
  }
  return "";
}

std::string V3UserLabel(std::string_view name, std::span<const uint8_t> engine_id) {
  return std::string(name) +
         (engine_id.empty() ? " (any engine)" : " (engine " + usm::HexText(engine_id) + ")");
}

std::string V3User::Label() const { return V3UserLabel(name, engine_id); }

Status CheckV3UserName(std::string_view text, std::string_view what) {
  bool ok = !text.empty() && text.size() <= kMaxV3UserNameOctets;
  for (char c : text) ok = ok && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
  if (ok) return Status::Ok();
  return Status::Error(kErrorInvalidArgument,
                       std::string(what) + ": " + snmp::QuoteText(text) +
                           " is not an SNMPv3 user name (1 to 32 octets, no control characters)");
}

Result<std::vector<uint8_t>> CheckEngineIdText(std::string_view text, bool allow_empty,
                                               std::string_view what) {
  if (text.empty() && allow_empty) return std::vector<uint8_t>();
  std::string_view digits = text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
  bool ok = digits.size() >= 2 * kMinEngineIdOctets && digits.size() <= 2 * kMaxEngineIdOctets;
  for (char c : digits) ok = ok && IsHexDigit(c);
  std::optional<std::vector<uint8_t>> octets;
  if (ok) octets = usm::ParseHex(digits);
  if (octets) return *std::move(octets);
  return Status::Error(kErrorInvalidArgument,
                       std::string(what) + ": " + snmp::QuoteText(text) +
                           " is not an engine ID (5 to 32 octets as hex digits, such as "
                           "80007ed90512345678abcdef01)");
}

Status CheckEngineIdOctets(std::span<const uint8_t> octets, std::string_view what) {
  if (octets.size() >= kMinEngineIdOctets && octets.size() <= kMaxEngineIdOctets) {
    return Status::Ok();
  }
  return Status::Error(kErrorInvalidArgument, std::string(what) + ": an engine ID of " +
                                                  std::to_string(octets.size()) +
                                                  " octets; it has 5 to 32");
}

Status CheckPassword(std::string_view password, std::string_view what) {
  size_t characters = 0;
  // UTF-8 continuation octets (10xxxxxx) belong to the character before them.
  for (char c : password) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  if (characters >= kMinPasswordLength) return Status::Ok();
  return Status::Error(kErrorInvalidArgument, std::string(what) + " must be at least " +
                                                  std::to_string(kMinPasswordLength) +
                                                  " characters long");
}

Result<std::vector<uint8_t>> MakeEngineId() {
  std::vector<uint8_t> id(kEngineIdPrefix.begin(), kEngineIdPrefix.end());
  id.resize(kEngineIdPrefix.size() + kEngineIdRandomOctets);
  uint8_t* random = id.data() + kEngineIdPrefix.size();
  // Up to 256 octets come whole once the pool is ready; EINTR can only come before.
  ssize_t got = -1;
  do {
    got = getrandom(random, kEngineIdRandomOctets, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return SysError(errno, "making an engine ID");
  if (static_cast<size_t>(got) != kEngineIdRandomOctets) {
    return Status::Error(kErrorInternal, "making an engine ID: getrandom gave too few octets");
  }
  return id;
}

Result<V3User> V3UserFromRow(const V3UserRow& row) {
  V3User user;
  const std::string table(kV3UserTable);
  if (row.user_name.is_null()) {
    return Status::Error(kErrorConversion, table + ": a row's UserName is Null");
  }
  user.name = row.user_name.AsText();
  const std::string engine_text = row.engine_id.AsText();
  if (Status named = CheckV3UserName(user.name, table + ", UserName"); !named.ok()) return named;
  const std::string name = RowLabel(user.name, engine_text);
  Result<std::vector<uint8_t>> engine = CheckEngineIdText(engine_text, true, name + ", EngineId");
  if (!engine.ok()) return engine.status();
  user.engine_id = *std::move(engine);

  Result<usm::Auth> auth = AuthFromRow(row.auth_protocol, name + ", AuthProtocol");
  if (!auth.ok()) return auth.status();
  user.auth = *auth;
  Result<usm::Key> auth_key =
      KeyFromRow(row.auth_key, user.authenticates(), user.auth, name + ", AuthKey");
  if (!auth_key.ok()) return auth_key.status();
  user.auth_key = *auth_key;

  Result<usm::Priv> priv = PrivFromRow(row.priv_protocol, name + ", PrivProtocol");
  if (!priv.ok()) return priv.status();
  user.priv = *priv;
  if (user.encrypts() && !user.authenticates()) {
    return Status::Error(kErrorInvalidArgument,
                         name +
                             ", PrivProtocol: privacy needs authentication, and AuthProtocol "
                             "is none");
  }
  Result<usm::Key> priv_key =
      KeyFromRow(row.priv_key, user.encrypts(), user.auth, name + ", PrivKey");
  if (!priv_key.ok()) return priv_key.status();
  user.priv_key = *priv_key;
  return user;
}

Result<std::vector<V3User>> V3UsersFromRows(const std::vector<V3UserRow>& rows) {
  const std::string table(kV3UserTable);
  if (rows.size() > static_cast<size_t>(kMaxV3Users)) {
    return Status::Error(kErrorOverflow, table + ": " + std::to_string(rows.size()) +
                                             " users are listed; at most " +
                                             std::to_string(kMaxV3Users) + " are possible");
  }
  std::vector<V3User> users;
  users.reserve(rows.size());
  for (const V3UserRow& row : rows) {
    Result<V3User> user = V3UserFromRow(row);
    if (!user.ok()) return user.status();
    for (const V3User& other : users) {
      if (other.name == user->name && other.engine_id == user->engine_id) {
        return Status::Error(kErrorInvalidArgument,
                             table + " " + user->Label() + ": the user has two rows");
      }
    }
    users.push_back(*std::move(user));
  }
  return users;
}

V3UserRow V3UserToRow(const V3User& user) {
  auto key_text = [](bool used, const usm::Key& key) {
    return used ? usm::HexText(key.view()) : std::string();
  };
  return {Value(user.name),
          Value(usm::HexText(user.engine_id)),
          Value(std::string(usm::AuthName(user.auth))),
          Value(key_text(user.authenticates(), user.auth_key)),
          Value(std::string(usm::PrivName(user.priv))),
          Value(key_text(user.encrypts(), user.priv_key))};
}

Result<EngineState> EngineFromRow(const Value& engine_id, const Value& boots) {
  const std::string table(kEngineTable);
  EngineState engine;
  Result<std::vector<uint8_t>> id =
      CheckEngineIdText(engine_id.AsText(), false, table + ", EngineId");
  if (!id.ok()) return id.status();
  engine.id = *std::move(id);
  static constexpr NumberRange kBootsRange{
      0, kMaxEngineBoots, "is not a number of starts (0 to 2147483647)", kErrorInvalidArgument};
  if (boots.is_null()) return Status::Error(kErrorConversion, table + ", Boots: is empty");
  Result<int64_t> n =
      ParseNumberText(boots.AsText(), NumberStyle::kWhole, kBootsRange, table + ", Boots");
  if (!n.ok()) return n.status();
  engine.boots = static_cast<uint32_t>(*n);
  return engine;
}

}  // namespace tervane::store
