// The SNMPv3 users and this relay's own engine (schema version 4 on, tables SnmpV3User and
// SnmpEngine). A user is a name, optionally bound to one device's engine ID, with the
// authentication and privacy protocols it uses and their keys. The keys are stored as Ku, the
// password's key before it is localized to an engine (RFC 3414 A.2): passwords are never
// stored. The privacy Ku is made with the authentication protocol's hash, so both keys have
// that hash's length. The service localizes the keys to each device's engine
// (service/snmp/usm_crypto.h); the window and tervane-svc make the Ku from the passwords typed.
//
// Every reader checks the rows here, so a value is refused in the same words wherever it is
// met: "SnmpV3User alice (any engine), AuthKey: is not a SHA-256 key (32 octets as 64 hex
// digits)".
#ifndef TERVANE_STORE_V3_USERS_H_
#define TERVANE_STORE_V3_USERS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/snmp/usm_crypto.h"
#include "store/value.h"

namespace tervane::store {

inline constexpr std::string_view kV3UserTable = "SnmpV3User";
inline constexpr std::array<std::string_view, 6> kV3UserColumns = {
    "UserName", "EngineId", "AuthProtocol", "AuthKey", "PrivProtocol", "PrivKey"};
inline constexpr std::string_view kEngineTable = "SnmpEngine";
inline constexpr std::array<std::string_view, 2> kEngineColumns = {"EngineId", "Boots"};

// Users in the table: every one costs the service a lookup entry, and devices' engines
// multiply them in its key cache.
inline constexpr int kMaxV3Users = 1000;
// RFC 3414 §11.2: shorter passwords make keys that a dictionary finds.
inline constexpr size_t kMinPasswordLength = 8;
// USM's bounds (RFC 3411 SnmpEngineID, RFC 3414 usmUserName).
inline constexpr size_t kMinEngineIdOctets = 5;
inline constexpr size_t kMaxEngineIdOctets = 32;
inline constexpr size_t kMaxV3UserNameOctets = 32;
// RFC 3414 §2.2.2: snmpEngineBoots stays at this value once it gets there.
inline constexpr uint32_t kMaxEngineBoots = 2147483647;
// This relay's engine IDs (RFC 3411 §5): enterprise 32473 with the high bit set, then format 5
// (octets the enterprise chooses), then kEngineIdRandomOctets random octets.
inline constexpr std::array<uint8_t, 5> kEngineIdPrefix = {0x80, 0x00, 0x7E, 0xD9, 0x05};
inline constexpr size_t kEngineIdRandomOctets = 8;

// One SnmpV3User row as stored.
struct V3UserRow {
  Value user_name;
  Value engine_id;
  Value auth_protocol;
  Value auth_key;
  Value priv_protocol;
  Value priv_key;
};

// The security levels of RFC 3411, the least first.
enum class SecurityLevel { kNoAuthNoPriv, kAuthNoPriv, kAuthPriv };
// "noAuthNoPriv", "authNoPriv", "authPriv".
std::string_view SecurityLevelName(SecurityLevel level);

// One user, checked.
struct V3User {
  std::string name;
  std::vector<uint8_t> engine_id;  // empty: any engine
  snmp::usm::Auth auth = snmp::usm::Auth::kNone;
  snmp::usm::Key auth_key;  // Ku, KeyLength(auth) octets
  snmp::usm::Priv priv = snmp::usm::Priv::kNone;
  snmp::usm::Key priv_key;  // Ku made with auth's hash, KeyLength(auth) octets

  bool authenticates() const { return auth != snmp::usm::Auth::kNone; }
  bool encrypts() const { return priv != snmp::usm::Priv::kNone; }
  SecurityLevel level() const {
    if (encrypts()) return SecurityLevel::kAuthPriv;
    return authenticates() ? SecurityLevel::kAuthNoPriv : SecurityLevel::kNoAuthNoPriv;
  }
  // V3UserLabel of the user.
  std::string Label() const;
  friend bool operator==(const V3User&, const V3User&) = default;
};

// "alice (any engine)" or "alice (engine 80007ed905...)": how refusals, lists and events name a
// user.
std::string V3UserLabel(std::string_view name, std::span<const uint8_t> engine_id);

// This relay's own engine: its ID and how often it has started (table SnmpEngine, one row).
struct EngineState {
  std::vector<uint8_t> id;
  uint32_t boots = 0;
};

// Refuses a user name that is not 1 to 32 octets or holds a control character (0x00 to 0x1F,
// 0x7F), which would break the lists and records that show it: "<what>: \"\" is not an SNMPv3
// user name (1 to 32 octets, no control characters)". Octets from 0x80 up are taken as they
// are (UTF-8).
Status CheckV3UserName(std::string_view text, std::string_view what);

// The engine ID that `text` spells: hex digits in either case, optionally after "0x", for 5 to
// 32 octets; empty text is no engine (an empty vector) where `allow_empty`. Refused with
// "<what>: \"80\" is not an engine ID (5 to 32 octets as hex digits, such as
// 80007ed90512345678abcdef01)".
Result<std::vector<uint8_t>> CheckEngineIdText(std::string_view text, bool allow_empty,
                                               std::string_view what);
// Refuses an engine ID of fewer than 5 or more than 32 octets, naming its length.
Status CheckEngineIdOctets(std::span<const uint8_t> octets, std::string_view what);

// Refuses a password shorter than kMinPasswordLength characters (UTF-8 characters; each is
// at least one octet): "<what> must be at least 8 characters long". The password itself is
// never shown.
Status CheckPassword(std::string_view password, std::string_view what);

// A new engine ID of this relay: kEngineIdPrefix then 8 octets from getrandom(2). Fails,
// with the errno, only when the system gives no random octets.
Result<std::vector<uint8_t>> MakeEngineId();

// The row converted and checked, named "SnmpV3User NAME (any engine)" or "SnmpV3User NAME
// (engine HEX)" in a refusal: protocols by their names ("" or Null for none, any letter case),
// each key hex of exactly KeyLength(auth) octets (empty or Null without its protocol), and
// privacy only with authentication.
Result<V3User> V3UserFromRow(const V3UserRow& row);

// Every user of the table, checked, in the rows' order. Fails on the first row refused, on two
// rows of one name and engine, and on more than kMaxV3Users rows.
Result<std::vector<V3User>> V3UsersFromRows(const std::vector<V3UserRow>& rows);

// The row of `user` as the store writes it: the engine ID and the keys in lower-case hex, the
// protocols by name, "" for none.
V3UserRow V3UserToRow(const V3User& user);

// The SnmpEngine row read, checked and named "SnmpEngine, EngineId" or "SnmpEngine, Boots" in a
// refusal: an engine ID of 5 to 32 octets in hex, boots 0 to 2147483647.
Result<EngineState> EngineFromRow(const Value& engine_id, const Value& boots);

}  // namespace tervane::store

#endif  // TERVANE_STORE_V3_USERS_H_
