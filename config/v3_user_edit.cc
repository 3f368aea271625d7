#include "config/v3_user_edit.h"

#include <algorithm>

namespace tervane::config {
namespace {

namespace usm = snmp::usm;

// A key from a password typed twice, or the refusal of the first field to correct.
struct TypedKey {
  usm::Key key;
  std::optional<V3UserRefusal> refusal;
};

TypedKey KeyFromPasswords(usm::Auth auth, const std::string& password, const std::string& again,
                          const char* what, V3UserField password_field, V3UserField again_field) {
  if (Status checked = store::CheckPassword(password, what); !checked.ok()) {
    return {{}, V3UserRefusal{checked, password_field}};
  }
  if (again != password) {
    return {{}, V3UserRefusal{Status::Error(kErrorInvalidArgument, kPasswordsDiffer), again_field}};
  }
  return {usm::PasswordToKey(auth, password), std::nullopt};
}

}  // namespace

std::string AuthChoice(usm::Auth auth) {
  return auth == usm::Auth::kNone ? "None" : std::string(usm::AuthName(auth));
}

std::string PrivChoice(usm::Priv priv) {
  return priv == usm::Priv::kNone ? "None" : std::string(usm::PrivName(priv));
}

V3UserFields FieldsOfUser(const store::V3User& user) {
  V3UserFields fields;
  fields.name = user.name;
  fields.engine_id = usm::HexText(user.engine_id);
  fields.auth = user.auth;
  fields.priv = user.priv;
  return fields;
}

V3UserOutcome MakeV3User(const V3UserFields& typed, const std::optional<store::V3User>& was,
                         const std::vector<store::V3User>& others) {
  auto refuse = [](Status why, V3UserField field) {
    return V3UserOutcome{std::nullopt, V3UserRefusal{std::move(why), field}};
  };
  store::V3User user;
  if (Status s = store::CheckV3UserName(typed.name, kV3UserNameWhat); !s.ok()) {
    return refuse(s, V3UserField::kName);
  }
  user.name = typed.name;
  Result<std::vector<uint8_t>> engine =
      store::CheckEngineIdText(typed.engine_id, /*allow_empty=*/true, kV3EngineIdWhat);
  if (!engine.ok()) return refuse(engine.status(), V3UserField::kEngineId);
  user.engine_id = *std::move(engine);
  const bool taken = std::any_of(others.begin(), others.end(), [&](const store::V3User& other) {
    return other.name == user.name && other.engine_id == user.engine_id;
  });
  if (taken) {
    return refuse(
        Status::Error(kErrorInvalidArgument, std::string(kV3UserNameWhat) + ": the user " +
                                                 user.Label() + " is stored already"),
        V3UserField::kName);
  }

  user.auth = typed.auth;
  if (!user.authenticates()) return {user, std::nullopt};
  // The stored keys serve as long as they were made with this hash and no new password is
  // typed.
  const bool same_hash = was && was->auth == user.auth;
  if (!same_hash || was->auth_key.size == 0 || !typed.auth_password.empty() ||
      !typed.auth_again.empty()) {
    TypedKey made =
        KeyFromPasswords(user.auth, typed.auth_password, typed.auth_again, kV3AuthPasswordWhat,
                         V3UserField::kAuthPassword, V3UserField::kAuthAgain);
    if (made.refusal) return {std::nullopt, made.refusal};
    user.auth_key = made.key;
  } else {
    user.auth_key = was->auth_key;
  }

  user.priv = typed.priv;
  if (!user.encrypts()) return {user, std::nullopt};
  if (!same_hash || was->priv_key.size == 0 || !typed.priv_password.empty() ||
      !typed.priv_again.empty()) {
    TypedKey made =
        KeyFromPasswords(user.auth, typed.priv_password, typed.priv_again, kV3PrivPasswordWhat,
                         V3UserField::kPrivPassword, V3UserField::kPrivAgain);
    if (made.refusal) return {std::nullopt, made.refusal};
    user.priv_key = made.key;
  } else {
    user.priv_key = was->priv_key;
  }
  return {user, std::nullopt};
}

std::array<std::string, 5> V3UserCells(const store::V3User& user) {
  return {user.name, user.engine_id.empty() ? "any" : usm::HexText(user.engine_id),
          std::string(store::SecurityLevelName(user.level())), AuthChoice(user.auth),
          PrivChoice(user.priv)};
}

}  // namespace tervane::config
