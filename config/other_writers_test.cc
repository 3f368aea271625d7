// The window's rules when another program writes Tervix.mdb at the same time, and for a user
// who may only read it.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "config/model_test_fixture.h"
#include "store/store_test_util.h"

namespace tervane::config::testing {
namespace {

// A definition removed by another program while it has edits, or removed and its rowid given
// to a row added since: the move that stores it says so once, drops the edits, shows the list
// as stored and goes on. No other row takes the edits.
TEST_F(ModelTest, EditsOfADefinitionRemovedElsewhereAreDroppedAndTheMoveGoesOn) {
  struct Case {
    const char* name;
    int shown;         // the entry shown, then removed elsewhere
    const char* adds;  // a row added elsewhere after that, which gets the rowid of the last
    bool edit;
    std::function<bool(TervixModel&)> move;
    std::vector<std::string> names;  // the list afterwards
    const char* selected;            // the definition shown afterwards
    const char* message;
  };
  const char* const kEdited = "removed, then edited, then stored";
  const char* const kDropped = "was removed or renamed by another program, so its edits";
  const std::vector<Case> cases = {
      {"another entry",
       0,
       nullptr,
       true,
       [](TervixModel& m) { return m.lbxTrapName_Click(2); },
       {"beta", "gamma"},
       "gamma",
       kDropped},
      {"a page, the rowid reused",
       2,
       "delta",
       true,
       [](TervixModel& m) { return m.tab1_Click(kPageGeneral); },
       {"alpha", "beta", "delta"},
       "alpha",
       kDropped},
      {"add",
       0,
       nullptr,
       true,
       [](TervixModel& m) {
         m.cmdAdd_Click();
         return true;
       },
       {"beta", "gamma", "epsilon"},
       "epsilon",
       kDropped},
      {"exit",
       1,
       nullptr,
       true,
       [](TervixModel& m) { return m.cmdExit_Click(); },
       {"alpha", "gamma"},
       "alpha",
       kDropped},
      {"remove, the rowid reused",
       2,
       "delta",
       false,
       [](TervixModel& m) {
         m.cmdRemove_Click();
         return true;
       },
       {"alpha", "beta", "delta"},
       "alpha",
       "had already been removed or renamed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    AddRows({"alpha", "beta", "gamma"});
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    ASSERT_TRUE(model_->lbxTrapName_Click(c.shown));
    const store::TrapRow gone = Rows()[static_cast<size_t>(c.shown)];
    ASSERT_TRUE(Db().DeleteTrap(gone.rowid(), gone.ByName("TrapName")).ok());
    if (c.adds != nullptr) {
      Result<int64_t> added = Db().AddTrap({{"TrapName", store::Value(c.adds)}});
      ASSERT_TRUE(added.ok());
      ASSERT_EQ(*added, gone.rowid());
    }
    if (c.edit) Type({FieldKind::kTrapOID}, kEdited);
    dialogs_.names = {std::string("epsilon")};
    dialogs_.answers = {true};
    EXPECT_TRUE(c.move(*model_));
    std::vector<std::string> messages = dialogs_.TakeMessages();
    if (!c.edit) messages.erase(messages.begin());  // the question before removing
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(std::string("Tervix: The trap definition \"") +
                               gone.ByName("TrapName").AsText() + "\" " + c.message),
              std::string::npos)
        << messages[0];
    std::vector<std::string> stored;
    for (const store::TrapRow& row : Rows()) {
      stored.push_back(row.ByName("TrapName").AsText());
      EXPECT_NE(row.ByName("TrapOID"), store::Value(kEdited)) << stored.back();
    }
    EXPECT_EQ(stored, c.names);
    EXPECT_EQ(model_->trap_names(), c.names);
    ASSERT_TRUE(model_->showing());
    EXPECT_EQ(model_->trap_names()[static_cast<size_t>(model_->selected())], c.selected);
  }
}

// The General_Setting row removed by another program: the first store or read of it says so,
// and the window's work ends without writing anything more.
TEST_F(ModelTest, ASettingsRowRemovedElsewhereEndsTheWindow) {
  struct Case {
    const char* name;
    bool edit;
    std::function<bool(TervixModel&)> move;
    bool moved;
  };
  const Case cases[] = {
      {"page 0 stores the edit", true, [](TervixModel& m) { return m.tab1_Click(kPageTraps); },
       false},
      {"page 1 reads the row", false, [](TervixModel& m) { return m.tab1_Click(kPageGeneral); },
       false},
      {"exit stores the edit", true, [](TervixModel& m) { return m.cmdExit_Click(); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    AddRows({"alpha"});
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    if (c.edit) {
      ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
      Type({FieldKind::kTrapForwPort}, "2162");
    }
    Type({FieldKind::kVarName, 1}, "ifIndex");  // stored by the first two before the row
    ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", "DELETE FROM General_Setting"), SQLITE_OK);
    EXPECT_EQ(c.move(*model_), c.moved);
    EXPECT_TRUE(model_->ended());
    const std::vector<std::string> messages = dialogs_.TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Tervix: The settings could not be read or stored: " + folder_ +
                               "/Tervix.mdb: table General_Setting has no row."),
              std::string::npos)
        << messages[0];
    // Nothing more is stored, and nothing more is asked.
    EXPECT_FALSE(model_->tab1_Click(kPageService));
    EXPECT_TRUE(model_->cmdExit_Click());
    EXPECT_TRUE(dialogs_.messages.empty());
  }
}

// A user who may read Tervix.mdb but not write it (nor its folder) gets the settings
// read-only, as last stored where SQLite cannot share the file with writers, and stores
// nothing; a user who may not even read it is told which file, and which group may.
TEST_F(ModelTest, AUserWhoMayNotWriteGetsTheSettingsReadOnly) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user takes root";
  AddRows({"alpha"});
  ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
  const std::string db = folder_ + "/Tervix.mdb";
  struct Case {
    int mode;
    std::string seen;  // what the user nobody sees
  };
  const Case cases[] = {
      {0664,
       "read-only; These settings are shown as last stored and can be read but not changed: "
       "members of the group \"tervane\" may change them (see the README).; alpha; 162; "
       "exit 1; port 162"},
      {0660, "refused: You may not read the settings database " + db +
                 ". The members of the group \"tervane\" may: ask an administrator to add "
                 "you to it (see the README), then log in again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(chmod(db.c_str(), static_cast<mode_t>(c.mode)), 0);
    const std::string seen = store::testing::RunAsNobody([this] {
      Result<std::unique_ptr<TervixModel>> model = TervixModel::Open(folder_, dialogs_);
      if (!model.ok()) return "refused: " + model.status().description();
      TervixModel& m = **model;
      std::string text = std::string(m.read_only() ? "read-only; " : "writable; ") +
                         m.read_only_notice() + "; " + m.trap_names()[0] + "; " +
                         m.general().TrapRecvPort;
      m.FieldEntered({FieldKind::kTrapOID});
      m.SetText({FieldKind::kTrapOID}, "1.3.6.99");
      m.FieldEntered({FieldKind::kTrapRecvPort});
      m.SetText({FieldKind::kTrapRecvPort}, "2162");
      m.SetDebugMode(true);
      return text + "; exit " + std::to_string(m.cmdExit_Click()) + "; port " +
             m.general().TrapRecvPort;
    });
    EXPECT_EQ(seen, c.seen);
  }
  EXPECT_EQ(Rows()[0].ByName("TrapOID"), store::Value("1.3.6.1.4.1.9.0.alpha"));
  EXPECT_EQ(Settings().ByName("TrapRecvPort"), store::Value(162));
  EXPECT_EQ(Settings().ByName("DebugMode"), store::Value(0));
}

}  // namespace
}  // namespace tervane::config::testing
