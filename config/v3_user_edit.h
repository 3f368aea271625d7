// An SNMPv3 user as the window's user dialog edits it, without the widgets: the texts and
// choices typed, which field a refused value is corrected in, what is stored from them, and
// the texts of the page's list of users.
//
// Passwords are typed, never shown: a new user's keys are made from them (Ku, RFC 3414 A.2,
// with the authentication protocol's hash for both keys), and an edited user keeps its keys
// unless new passwords are typed. A changed authentication protocol needs both passwords again,
// since the privacy key is made with the authentication hash too. Each password is typed twice.
// Refusals use the store's words (store/v3_users.h), so the window and tervane-svc refuse a
// value alike.
#ifndef TERVANE_CONFIG_V3_USER_EDIT_H_
#define TERVANE_CONFIG_V3_USER_EDIT_H_

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "service/snmp/usm_crypto.h"
#include "store/v3_users.h"

namespace tervane::config {

// The names that refusals give the dialog's fields.
inline constexpr char kV3UserNameWhat[] = "SNMPv3 User, User name";
inline constexpr char kV3EngineIdWhat[] = "SNMPv3 User, Engine ID";
inline constexpr char kV3AuthPasswordWhat[] = "SNMPv3 User, Authentication password";
inline constexpr char kV3PrivPasswordWhat[] = "SNMPv3 User, Privacy password";
inline constexpr char kPasswordsDiffer[] = "The passwords do not match";
inline constexpr char kAddV3UserTitle[] = "Add SNMPv3 User";
inline constexpr char kEditV3UserTitle[] = "Edit SNMPv3 User";

// The protocols in the order of the dialog's lists, which is the enums' order: "None" first.
inline constexpr std::array<snmp::usm::Auth, 7> kAuthChoices = {
    snmp::usm::Auth::kNone,   snmp::usm::Auth::kMd5,    snmp::usm::Auth::kSha1,
    snmp::usm::Auth::kSha224, snmp::usm::Auth::kSha256, snmp::usm::Auth::kSha384,
    snmp::usm::Auth::kSha512};
inline constexpr std::array<snmp::usm::Priv, 7> kPrivChoices = {
    snmp::usm::Priv::kNone,   snmp::usm::Priv::kDes,    snmp::usm::Priv::kAes128,
    snmp::usm::Priv::kAes192, snmp::usm::Priv::kAes256, snmp::usm::Priv::kAes192C,
    snmp::usm::Priv::kAes256C};
// A protocol's entry in the lists and the page: its name, "None" for none.
std::string AuthChoice(snmp::usm::Auth auth);
std::string PrivChoice(snmp::usm::Priv priv);

// What the dialog holds.
struct V3UserFields {
  std::string name;
  std::string engine_id;  // hex; empty: any engine
  snmp::usm::Auth auth = snmp::usm::Auth::kNone;
  std::string auth_password;
  std::string auth_again;
  snmp::usm::Priv priv = snmp::usm::Priv::kNone;
  std::string priv_password;
  std::string priv_again;
};

enum class V3UserField {
  kName,
  kEngineId,
  kAuth,
  kAuthPassword,
  kAuthAgain,
  kPriv,
  kPrivPassword,
  kPrivAgain
};

// After "&OK": the dialog closes, or stays open with what the user typed and the focus on
// `focus`.
struct V3UserVerdict {
  bool close = true;
  V3UserField focus = V3UserField::kName;
};
using V3UserAccept = std::function<V3UserVerdict(const V3UserFields& fields)>;

// How the dialog opens: its title and fields, and for an edited user the protocol its keys
// were made with (the dialog says when a change of it needs the passwords again).
struct V3UserDialogSetup {
  std::string title;
  V3UserFields fields;
  std::optional<snmp::usm::Auth> stored_auth;
};

// The dialog's fields for `user`: its name, engine and protocols, no password.
V3UserFields FieldsOfUser(const store::V3User& user);

// The user to store from what was typed, or the first value refused with its field. `was` is
// the user edited (nothing for a new one); `others` every stored user but that one, so that a
// name and engine of another user is refused instead of written over it. Privacy is none
// without authentication, whatever its list shows.
struct V3UserRefusal {
  Status why;
  V3UserField field;
};
struct V3UserOutcome {
  std::optional<store::V3User> user;
  std::optional<V3UserRefusal> refusal;
};
V3UserOutcome MakeV3User(const V3UserFields& typed, const std::optional<store::V3User>& was,
                         const std::vector<store::V3User>& others);

// The page's columns of a user: its name, "any" or the engine ID in hex, its security level,
// and the protocols ("None" for none). Never a key.
inline constexpr std::array<const char*, 5> kV3UserHeadings = {"User", "Engine", "Level",
                                                               "Authentication", "Privacy"};
std::array<std::string, 5> V3UserCells(const store::V3User& user);

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_V3_USER_EDIT_H_
