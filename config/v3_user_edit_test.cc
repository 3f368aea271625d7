// The rules of the SNMPv3 user dialog and of the page's list, without widgets: what is stored
// from what was typed, the refusals and their fields, and the list's writes into a real file.
#include "config/v3_user_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/v3_users_model.h"
#include "store/store.h"
#include "tests/subprocess.h"

namespace tervane::config {
namespace {

namespace usm = snmp::usm;
using usm::Auth;
using usm::Priv;

constexpr char kPass1[] = "maplesyrup";
constexpr char kPass2[] = "privacy-pass";

V3UserFields Typed(Auth auth, const std::string& auth_password, Priv priv,
                   const std::string& priv_password) {
  return {"alice", "", auth, auth_password, auth_password, priv, priv_password, priv_password};
}

store::V3User Named(const std::string& name, std::vector<uint8_t> engine_id = {}) {
  store::V3User user;
  user.name = name;
  user.engine_id = std::move(engine_id);
  return user;
}

store::V3User Stored(Auth auth, Priv priv) {
  store::V3User user{"alice", {}, auth, usm::PasswordToKey(auth, kPass1), priv, {}};
  if (priv != Priv::kNone) user.priv_key = usm::PasswordToKey(auth, kPass2);
  return user;
}

TEST(MakeV3User, RefusesWithTheStoresWordsAndTheField) {
  struct Case {
    const char* name;
    V3UserFields typed;
    std::optional<store::V3User> was;
    const char* says;
    V3UserField field;
  };
  V3UserFields no_name = Typed(Auth::kNone, "", Priv::kNone, "");
  no_name.name = "";
  V3UserFields bad_engine = no_name;
  bad_engine.name = "alice";
  bad_engine.engine_id = "80";
  V3UserFields auth_differs = Typed(Auth::kSha1, kPass1, Priv::kNone, "");
  auth_differs.auth_again = "maplesyrop";
  V3UserFields priv_differs = Typed(Auth::kSha1, kPass1, Priv::kAes128, kPass2);
  priv_differs.priv_again = "";
  const Case cases[] = {
      {"no name", no_name, std::nullopt, "SNMPv3 User, User name: \"\" is not an SNMPv3 user name",
       V3UserField::kName},
      {"short engine", bad_engine, std::nullopt,
       "SNMPv3 User, Engine ID: \"80\" is not an engine ID", V3UserField::kEngineId},
      {"short password", Typed(Auth::kMd5, "short", Priv::kNone, ""), std::nullopt,
       "SNMPv3 User, Authentication password must be at least 8 characters long",
       V3UserField::kAuthPassword},
      {"passwords differ", auth_differs, std::nullopt, "The passwords do not match",
       V3UserField::kAuthAgain},
      {"no privacy password", Typed(Auth::kSha1, kPass1, Priv::kDes, ""), std::nullopt,
       "SNMPv3 User, Privacy password must be at least 8 characters long",
       V3UserField::kPrivPassword},
      {"privacy passwords differ", priv_differs, std::nullopt, "The passwords do not match",
       V3UserField::kPrivAgain},
      // The stored keys were made with SHA: another hash needs the passwords again.
      {"hash changed", Typed(Auth::kSha256, "", Priv::kAes128, ""),
       Stored(Auth::kSha1, Priv::kAes128),
       "SNMPv3 User, Authentication password must be at least 8 characters long",
       V3UserField::kAuthPassword},
      {"hash changed, privacy", Typed(Auth::kSha256, kPass1, Priv::kAes128, ""),
       Stored(Auth::kSha1, Priv::kAes128),
       "SNMPv3 User, Privacy password must be at least 8 characters long",
       V3UserField::kPrivPassword},
      {"taken", Typed(Auth::kNone, "", Priv::kNone, ""), std::nullopt,
       "SNMPv3 User, User name: the user alice (any engine) is stored already", V3UserField::kName},
  };
  const std::vector<store::V3User> others = {Named("alice")};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool taken = std::string(c.name) == "taken";
    const V3UserOutcome out =
        MakeV3User(c.typed, c.was, taken ? others : std::vector<store::V3User>());
    ASSERT_TRUE(out.refusal);
    EXPECT_FALSE(out.user);
    EXPECT_EQ(out.refusal->why.description().rfind(c.says, 0), 0u)
        << out.refusal->why.description();
    EXPECT_EQ(out.refusal->field, c.field);
  }
}

TEST(MakeV3User, KeysAreMadeFromPasswordsOrKept) {
  const store::V3User sha_aes = Stored(Auth::kSha1, Priv::kAes128);
  struct Case {
    const char* name;
    V3UserFields typed;
    std::optional<store::V3User> was;
    store::V3User stored;
  };
  store::V3User des = sha_aes;
  des.priv = Priv::kDes;
  store::V3User new_priv = sha_aes;
  new_priv.priv_key = usm::PasswordToKey(Auth::kSha1, "another-one");
  V3UserFields only_priv = Typed(Auth::kSha1, "", Priv::kAes128, "another-one");
  const store::V3User bound = Named("alice", {0x80, 0, 0x7e, 0xd9, 5, 1});
  V3UserFields bound_typed = Typed(Auth::kNone, "", Priv::kAes256, "");
  bound_typed.engine_id = "0x80007ED90501";
  const Case cases[] = {
      {"new, both keys with the hash", Typed(Auth::kSha1, kPass1, Priv::kAes128, kPass2),
       std::nullopt, sha_aes},
      {"edited without passwords", Typed(Auth::kSha1, "", Priv::kAes128, ""), sha_aes, sha_aes},
      {"another cipher keeps the key", Typed(Auth::kSha1, "", Priv::kDes, ""), sha_aes, des},
      {"a new privacy password only", only_priv, sha_aes, new_priv},
      {"another hash, both again", Typed(Auth::kSha512, kPass1, Priv::kAes128, kPass2), sha_aes,
       Stored(Auth::kSha512, Priv::kAes128)},
      // Privacy is none without authentication, and no key stays.
      {"no authentication", bound_typed, sha_aes, bound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const V3UserOutcome out = MakeV3User(c.typed, c.was, {});
    ASSERT_FALSE(out.refusal) << out.refusal->why.description();
    ASSERT_TRUE(out.user);
    EXPECT_EQ(*out.user, c.stored);
  }
}

TEST(V3UserCells, NameEngineLevelAndProtocolsNeverKeys) {
  EXPECT_EQ(V3UserCells(Stored(Auth::kSha256, Priv::kAes256C)),
            (std::array<std::string, 5>{"alice", "any", "authPriv", "SHA-256", "AES-256-C"}));
  EXPECT_EQ(V3UserCells(Named("bob", {0x80, 0, 0x7e, 0xd9, 5})),
            (std::array<std::string, 5>{"bob", "80007ed905", "noAuthNoPriv", "None", "None"}));
}

// Answers the user dialog with the next tries, one "&OK" each until one closes it.
class ScriptedDialogs : public Dialogs {
 public:
  void Inform(const std::string& text, const std::string&, Icon) override {
    messages.push_back(text);
  }
  bool AskYesNo(const std::string& text, const std::string&, Icon) override {
    messages.push_back(text);
    return yes;
  }
  std::optional<std::string> AskNewTrapName() override { return std::nullopt; }
  std::optional<std::string> AskSaveFile(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void OpenFile(const std::string&) override {}
  void EditV3User(const V3UserDialogSetup& setup, const V3UserAccept& accept) override {
    titles.push_back(setup.title);
    for (const V3UserFields& t : tries) {
      if (accept(t).close) break;
    }
    tries.clear();
  }
  std::vector<V3UserFields> tries;
  std::vector<std::string> messages;
  std::vector<std::string> titles;
  bool yes = true;
};

class V3UserListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(store::Store::Create((dir_.path() / "Tervix.mdb").string()).ok());
  }
  std::vector<store::V3User> Users() const {
    Result<store::Store> db = store::Store::Open(dir_.path().string());
    Result<std::vector<store::V3UserRow>> rows = db->ReadV3Users();
    Result<std::vector<store::V3User>> users = store::V3UsersFromRows(*rows);
    EXPECT_TRUE(users.ok());
    return users.ok() ? *users : std::vector<store::V3User>();
  }
  tervane::testing::TempDir dir_;
  ScriptedDialogs dialogs_;
};

// Added, renamed (the old row goes), refused without a write, and removed after the question.
TEST_F(V3UserListTest, AddEditAndRemoveStoreAtOnce) {
  V3UserList list(dir_.path().string(), dialogs_);
  ASSERT_TRUE(list.Read().ok());
  ASSERT_TRUE(list.available());
  EXPECT_EQ(list.engine_id().rfind("80007ed905", 0), 0u) << list.engine_id();
  dialogs_.tries = {Typed(Auth::kSha1, "short", Priv::kNone, ""),
                    Typed(Auth::kSha1, kPass1, Priv::kAes128, kPass2)};
  list.cmdAddV3User_Click();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(Users(), std::vector<store::V3User>{Stored(Auth::kSha1, Priv::kAes128)});
  EXPECT_EQ(list.selected(), 0);

  V3UserFields renamed = FieldsOfUser(list.users()[0]);
  renamed.name = "bob";
  dialogs_.tries = {renamed};
  list.cmdEditV3User_Click();
  store::V3User bob = Stored(Auth::kSha1, Priv::kAes128);
  bob.name = "bob";
  EXPECT_EQ(Users(), std::vector<store::V3User>{bob});
  EXPECT_EQ(dialogs_.titles, (std::vector<std::string>{kAddV3UserTitle, kEditV3UserTitle}));

  dialogs_.yes = false;
  list.cmdRemoveV3User_Click();
  EXPECT_EQ(Users().size(), 1u);
  dialogs_.yes = true;
  list.cmdRemoveV3User_Click();
  EXPECT_EQ(dialogs_.messages.back(),
            "Remove the SNMPv3 user bob (any engine)?\r\n\r\nThe service accepts its traps and "
            "informs until it is next started.");
  EXPECT_TRUE(Users().empty());
  EXPECT_EQ(list.selected(), -1);
}

}  // namespace
}  // namespace tervane::config
