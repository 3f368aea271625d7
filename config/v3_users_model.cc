#include "config/v3_users_model.h"

#include <algorithm>
#include <utility>

#include "config/model_fields.h"

namespace tervane::config {

Status V3UserList::Read() {
  const std::optional<store::V3User> was =
      selected_ >= 0 ? std::optional(users_[static_cast<size_t>(selected_)]) : std::nullopt;
  Result<store::Store> db = store::Store::Open(folder_, access_);
  if (!db.ok()) return db.status();
  available_ = false;
  engine_id_.clear();
  users_.clear();
  rows_.clear();
  note_.clear();
  if (db->schema_version() < 4) {
    note_ = "Tervix.mdb has schema version " + std::to_string(db->schema_version()) +
            ", which has no SNMPv3 users. Opened to be changed, it is upgraded and the users can "
            "be set here.";
  } else {
    Result<store::EngineState> engine = db->ReadEngine();
    Result<std::vector<store::V3UserRow>> stored = db->ReadV3Users();
    Result<std::vector<store::V3User>> users =
        stored.ok() ? store::V3UsersFromRows(*stored)
                    : Result<std::vector<store::V3User>>(stored.status());
    if (!engine.ok()) {
      note_ = "The SNMPv3 settings could not be read: " + engine.status().description() + ".";
    } else if (!users.ok()) {
      note_ = "The SNMPv3 users could not be read: " + users.status().description() + ".";
    } else {
      available_ = true;
      engine_id_ = snmp::usm::HexText(engine->id);
      users_ = *std::move(users);
      for (const store::V3User& user : users_) rows_.push_back(V3UserCells(user));
    }
  }
  const int place = selected_;
  selected_ = -1;
  if (was) SelectUser(was->name, was->engine_id);
  if (selected_ < 0 && place >= 0) Select(std::min(place, size() - 1));
  return Status::Ok();
}

void V3UserList::Select(int index) { selected_ = index >= 0 && index < size() ? index : -1; }

void V3UserList::SelectUser(const std::string& name, const std::vector<uint8_t>& engine_id) {
  for (size_t i = 0; i < users_.size(); ++i) {
    if (users_[i].name == name && users_[i].engine_id == engine_id) {
      selected_ = static_cast<int>(i);
    }
  }
}

void V3UserList::cmdAddV3User_Click() {
  if (!can_add()) return;
  dialogs_.EditV3User({kAddV3UserTitle, V3UserFields{}, std::nullopt},
                      [this](const V3UserFields& typed) { return Store(typed, std::nullopt); });
}

void V3UserList::cmdEditV3User_Click() {
  if (!can_change()) return;
  const store::V3User was = users_[static_cast<size_t>(selected_)];
  dialogs_.EditV3User({kEditV3UserTitle, FieldsOfUser(was), was.auth},
                      [this, was](const V3UserFields& typed) { return Store(typed, was); });
}

void V3UserList::cmdRemoveV3User_Click() {
  if (!can_change()) return;
  const store::V3User user = users_[static_cast<size_t>(selected_)];
  if (!dialogs_.AskYesNo("Remove the SNMPv3 user " + user.Label() +
                             "?\r\n\r\nThe service accepts its traps and informs until it is "
                             "next started.",
                         kTitleTervix, Icon::kQuestion)) {
    return;
  }
  Result<store::Store> db = store::Store::Open(folder_, access_);
  Status removed = db.ok() ? db->RemoveV3User(user.name, user.engine_id) : db.status();
  // Removed meanwhile by another program: what the user asked for is so.
  if (removed.error() == kErrorRowGone) removed = Status::Ok();
  if (!removed.ok()) return ReportAndRead(removed);
  if (Status read = Read(); !read.ok()) ReportAndRead(read);
}

V3UserVerdict V3UserList::Store(const V3UserFields& typed,
                                const std::optional<store::V3User>& was) {
  std::vector<store::V3User> others;
  for (const store::V3User& user : users_) {
    if (!was || user.name != was->name || user.engine_id != was->engine_id) {
      others.push_back(user);
    }
  }
  const V3UserOutcome made = MakeV3User(typed, was, others);
  if (made.refusal) {
    // The user's texts stay in the dialog, the focus goes to the field to correct.
    dialogs_.Inform(made.refusal->why.description() + ".", kTitleTervix, Icon::kExclamation);
    return {false, made.refusal->field};
  }
  const store::V3User& user = *made.user;
  if (was && user == *was) return {};

  Result<store::Store> db = store::Store::Open(folder_, access_);
  Status stored = db.ok() ? db->SetV3User(user) : db.status();
  // A new name or engine is a new row: the old one goes once the new one is stored.
  const bool moved = was && (was->name != user.name || was->engine_id != user.engine_id);
  if (stored.ok() && moved) {
    stored = db->RemoveV3User(was->name, was->engine_id);
    if (stored.error() == kErrorRowGone) stored = Status::Ok();
  }
  if (stored.error() == kErrorOverflow) {
    ReportAndRead(stored);
    return {};
  }
  if (!stored.ok()) {
    // The file could not be written (locked too long, removed): the edit stays in the dialog,
    // to be tried again or cancelled.
    dialogs_.Inform("The SNMPv3 user could not be stored: " + stored.description(), kTitleTervix,
                    Icon::kCritical);
    return {false, V3UserField::kName};
  }
  if (Status read = Read(); !read.ok()) {
    ReportAndRead(read);
    return {};
  }
  SelectUser(user.name, user.engine_id);
  return {};
}

void V3UserList::ReportAndRead(const Status& why) {
  if (why.error() == kErrorOverflow) {
    dialogs_.Inform("No SNMPv3 user can be added: Tervix.mdb holds " +
                        std::to_string(store::kMaxV3Users) +
                        " already, the most the service takes.",
                    kTitleTervix, Icon::kExclamation);
  } else {
    dialogs_.Inform("The SNMPv3 users could not be read or stored: " + why.description(),
                    kTitleTervix, Icon::kCritical);
    return;
  }
  (void)Read();
}

}  // namespace tervane::config
