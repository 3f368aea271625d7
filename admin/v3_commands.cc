#include "admin/v3_commands.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <optional>

#include "admin/password_input.h"
#include "admin/svc_common.h"
#include "service/snmp/usm_crypto.h"
#include "service/snmp/value_text.h"
#include "store/store.h"

namespace tervane::svc {
namespace {

namespace usm = snmp::usm;
using store::V3User;

constexpr char kTakesEffect[] = "; the service uses the change from its next start\n";

std::string Padded(std::string_view text, size_t width) {
  return std::string(text) + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  if (std::fflush(stdout) != 0) return Fail(Status::Error(ErrnoCode(errno), "standard output"));
  return 0;
}

Status NotAProtocol(const char* option, const std::string& text, const std::string& names) {
  return Status::Error(kErrorInvalidArgument, std::string(option) + ": " + snmp::QuoteText(text) +
                                                  " is not one of " + names);
}

// The user of `line` without its keys, every value checked, in the words of the store's rules
// where they have them.
Result<V3User> UserOfLine(const SvcCommandLine& line) {
  V3User user;
  if (Status s = store::CheckV3UserName(line.user, std::string(store::kV3UserTable) + ", UserName");
      !s.ok()) {
    return s;
  }
  user.name = line.user;
  Result<std::vector<uint8_t>> engine = store::CheckEngineIdText(line.engine, true, "--engine");
  if (!engine.ok()) return engine.status();
  user.engine_id = *std::move(engine);
  if (!line.auth.empty()) {
    const std::optional<usm::Auth> auth = usm::ParseAuth(line.auth);
    if (!auth || *auth == usm::Auth::kNone) {
      return NotAProtocol("--auth", line.auth, usm::AuthNameList());
    }
    user.auth = *auth;
  }
  if (!line.priv.empty()) {
    const std::optional<usm::Priv> priv = usm::ParsePriv(line.priv);
    if (!priv || *priv == usm::Priv::kNone) {
      return NotAProtocol("--priv", line.priv, usm::PrivNameList());
    }
    user.priv = *priv;
  }
  return user;
}

// Whether `rows` hold a user of `user`'s name and engine (IDs compared as octets).
bool Holds(const std::vector<store::V3UserRow>& rows, const V3User& user) {
  return std::any_of(rows.begin(), rows.end(), [&user](const store::V3UserRow& row) {
    if (row.user_name.is_null() || row.user_name.AsText() != user.name) return false;
    Result<std::vector<uint8_t>> engine =
        store::CheckEngineIdText(row.engine_id.AsText(), true, "");
    return engine.ok() && *engine == user.engine_id;
  });
}

int Add(const SvcCommandLine& line, const std::string& folder) {
  Result<V3User> user = UserOfLine(line);
  if (!user.ok()) return Fail(user.status());
  Result<store::Store> db = store::Store::Open(folder, store::Access::kReadWrite);
  if (!db.ok()) return Fail(db.status());
  std::vector<PasswordQuestion> questions;
  if (user->authenticates()) {
    questions.push_back({"Authentication password", "the authentication password"});
  }
  if (user->encrypts()) questions.push_back({"Privacy password", "the privacy password"});
  Result<std::vector<Password>> passwords = ReadPasswords(questions);
  if (!passwords.ok()) return Fail(passwords.status());
  // Both keys with the authentication hash (RFC 3414 A.2, and store/v3_users.h).
  if (user->authenticates()) {
    user->auth_key = usm::PasswordToKey(user->auth, (*passwords)[0].view());
  }
  if (user->encrypts()) user->priv_key = usm::PasswordToKey(user->auth, (*passwords)[1].view());
  Result<std::vector<store::V3UserRow>> rows = db->ReadV3Users();
  if (!rows.ok()) return Fail(rows.status());
  const bool held = Holds(*rows, *user);
  if (Status s = db->SetV3User(*user); !s.ok()) return Fail(s);
  return Print(std::string(held ? "Replaced" : "Added") + " the SNMPv3 user " + user->Label() +
               (held ? " in " : " to ") + db->path() + kTakesEffect);
}

int Remove(const SvcCommandLine& line, const std::string& folder) {
  if (Status s = store::CheckV3UserName(line.user, std::string(store::kV3UserTable) + ", UserName");
      !s.ok()) {
    return Fail(s);
  }
  Result<std::vector<uint8_t>> engine = store::CheckEngineIdText(line.engine, true, "--engine");
  if (!engine.ok()) return Fail(engine.status());
  Result<store::Store> db = store::Store::Open(folder, store::Access::kReadWrite);
  if (!db.ok()) return Fail(db.status());
  if (Status s = db->RemoveV3User(line.user, *engine); !s.ok()) return Fail(s);
  return Print("Removed the SNMPv3 user " + store::V3UserLabel(line.user, *engine) + " from " +
               db->path() + kTakesEffect);
}

int List(const std::string& folder) {
  Result<store::Store> db = store::Store::Open(folder, store::Access::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  Result<std::vector<store::V3UserRow>> rows = db->ReadV3Users();
  if (!rows.ok()) return Fail(rows.status());
  Result<std::vector<V3User>> users = store::V3UsersFromRows(*rows);
  if (!users.ok()) return Fail(users.status());
  const std::string note = db->schema_version() < 4
                               ? "its schema version " + std::to_string(db->schema_version()) +
                                     " has no SNMPv3 users; the service upgrades the file when it "
                                     "next starts"
                               : "";
  return Print(V3UserTable(*users, db->path(), note));
}

}  // namespace

std::string V3UserTable(const std::vector<V3User>& users, const std::string& source,
                        std::string_view note) {
  std::string out = "SNMPv3 users in " + source;
  if (users.empty()) out += ": none";
  if (!note.empty()) out += " (" + std::string(note) + ")";
  out += "\n";
  if (users.empty()) return out;
  out += "\n";
  const auto or_dash = [](std::string_view name) {
    return name.empty() ? std::string("-") : std::string(name);
  };
  std::vector<std::array<std::string, 5>> cells = {{"User", "Engine", "Level", "Auth", "Priv"}};
  for (const V3User& user : users) {
    cells.push_back({user.name, user.engine_id.empty() ? "any" : usm::HexText(user.engine_id),
                     std::string(store::SecurityLevelName(user.level())),
                     or_dash(usm::AuthName(user.auth)), or_dash(usm::PrivName(user.priv))});
  }
  std::array<size_t, 4> widths{};
  for (const auto& row : cells) {
    for (size_t i = 0; i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : cells) {
    for (size_t i = 0; i < widths.size(); ++i) out += Padded(row[i], widths[i]) + "  ";
    out += row[4] + "\n";
  }
  return out;
}

int RunV3UserCommand(const SvcCommandLine& line) {
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return Fail(folder.status());
  switch (line.v3user) {
    case V3UserAction::kAdd:
      return Add(line, *folder);
    case V3UserAction::kRemove:
      return Remove(line, *folder);
    case V3UserAction::kList:
      break;
  }
  return List(*folder);
}

int RunEngineCommand(const SvcCommandLine& line) {
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return Fail(folder.status());
  if (line.set_engine.empty()) {
    Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadOnly);
    if (!db.ok()) return Fail(db.status());
    Result<store::EngineState> engine = db->ReadEngine();
    if (!engine.ok()) return Fail(engine.status());
    return Print("Engine ID: " + usm::HexText(engine->id) +
                 "\nBoots: " + std::to_string(engine->boots) + "\n");
  }
  Result<std::vector<uint8_t>> id = store::CheckEngineIdText(line.set_engine, false, "--set");
  if (!id.ok()) return Fail(id.status());
  Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadWrite);
  if (!db.ok()) return Fail(db.status());
  if (Status s = db->SetEngineId(*id); !s.ok()) return Fail(s);
  Result<store::EngineState> engine = db->ReadEngine();
  if (!engine.ok()) return Fail(engine.status());
  return Print("Set the engine ID of " + db->path() + " to " + usm::HexText(engine->id) +
               " (boots " + std::to_string(engine->boots) + " kept)" + kTakesEffect +
               "The relays of a pair share one engine ID: set the same on the other node, whose "
               "boots stay its own\n");
}

}  // namespace tervane::svc
