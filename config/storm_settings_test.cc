// Storm control on the page "General Settings" through the window's rules on a real
// Tervix.mdb: what each stored state shows, each edit's stored switch and default rule (and the
// refusals, in the store's words, that keep the page and the row), the number the user left
// alone keeping another program's value, the refused number discarded on exit while the rest is
// stored, and a file older than version 3 opened read-only.
#include <optional>
#include <string>
#include <vector>

#include "config/model_test_fixture.h"
#include "store/relay_options.h"
#include "store/storm_rules.h"

namespace tervane::config::testing {
namespace {

// The switch's row and the default rule as stored: "(none)" for a row that is not there.
struct Stored {
  std::string on;
  std::string per_minute;
  std::string burst;
  std::string enabled;
  friend bool operator==(const Stored&, const Stored&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Stored& s) {
    return out << s.on << " " << s.per_minute << "/" << s.burst << " enabled " << s.enabled;
  }
};

class StormSettingsTest : public ModelTest {
 protected:
  Stored InFile() {
    Stored s{"(none)", "(none)", "(none)", "(none)"};
    store::Store db = Db();
    Result<std::vector<store::RelayOption>> options = db.ReadRelayOptions();
    EXPECT_TRUE(options.ok()) << options.status().ToString();
    for (const store::RelayOption& o :
         options.ok() ? *options : std::vector<store::RelayOption>()) {
      if (o.name == store::kOptionStormControl) s.on = o.value;
    }
    Result<std::vector<store::StormRuleRow>> rows = db.ReadStormRules();
    EXPECT_TRUE(rows.ok()) << rows.status().ToString();
    for (const store::StormRuleRow& r : rows.ok() ? *rows : std::vector<store::StormRuleRow>()) {
      if (r.oid_prefix.AsText().empty()) {
        s = {s.on, r.per_minute.AsText(), r.burst.AsText(), r.enabled.AsText()};
      }
    }
    return s;
  }
  void Sql(const std::string& sql) { ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", sql.c_str()), 0); }
  // A new file in place of the one of the case before.
  void NewFile() {
    model_.reset();
    for (const char* end : {"", "-wal", "-shm"}) fs::remove(folder_ + "/Tervix.mdb" + end);
    ASSERT_TRUE(store::Store::Create(folder_ + "/Tervix.mdb").ok());
  }
};

TEST_F(StormSettingsTest, EachStoredStateIsShown) {
  struct Case {
    const char* what;
    const char* sql;  // run on a new file
    StormFields shown;
  };
  const Case cases[] = {
      {"a new file's", "", {false, "30", "10"}},
      {"on, with a rule of its own",
       "UPDATE RelayOption SET Value = '1' WHERE Name = 'StormControl';"
       "UPDATE StormRule SET PerMinute = 600, Burst = 50 WHERE OidPrefix = ''",
       {true, "600", "50"}},
      {"a switch written by hand", "UPDATE RelayOption SET Value = 'yes'", {false, "30", "10"}},
      {"numbers written by hand",
       "UPDATE StormRule SET PerMinute = 'many', Burst = NULL",
       {false, "many", ""}},
      {"no default rule, a rule by prefix",
       "DELETE FROM StormRule; INSERT INTO StormRule VALUES ('1.3.6.1.4.1.9', 5, 2, 1)",
       {false, "30", "10"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(NewFile());
    ASSERT_NO_FATAL_FAILURE(Sql(c.sql));
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
    EXPECT_TRUE(model_->storm().available());
    EXPECT_EQ(model_->storm().shown(), c.shown);
    EXPECT_EQ(model_->Text({FieldKind::kStormBurst}), c.shown.burst);
  }
}

// Each edit is stored when the page is left, and only what changed; a refused number keeps the
// page, the edits and the row unwritten, with the focus on the field.
TEST_F(StormSettingsTest, EditsAreStoredWithTheRowOrRefused) {
  struct Case {
    const char* what;
    std::vector<bool> toggles;  // the check box's states, one after the other
    const char* per_minute;     // nullptr: not typed into
    const char* burst;
    const char* refusal;  // nullptr: stored
    Stored after;
  };
  const Stored untouched{"0", "30", "10", "1"};
  const Case cases[] = {
      {"switched on", {true}, nullptr, nullptr, nullptr, {"1", "30", "10", "1"}},
      {"on and off again", {true, false}, nullptr, nullptr, nullptr, untouched},
      {"a filter", {}, "0", nullptr, nullptr, {"0", "0", "10", "1"}},
      {"the largest", {true}, "1000000", "100000", nullptr, {"1", "1000000", "100000", "1"}},
      {"retyped as it was", {}, "30", "10", nullptr, untouched},
      {"a rate too high",
       {true},
       "1000001",
       nullptr,
       "Tervix: Storm Control, Traps per minute: 1000001 is not a number of traps per minute (0 to "
       "1000000).",
       untouched},
      {"a burst of none",
       {},
       "60",
       "0",
       "Tervix: Storm Control, Burst: 0 is not a burst of traps (1 to 100000).",
       untouched},
      {"a rate that is no number",
       {},
       "30/min",
       nullptr,
       "Tervix: Storm Control, Traps per minute: \"30/min\" is not a whole number.",
       untouched},
      {"an empty burst",
       {},
       nullptr,
       "",
       "Tervix: Storm Control, Burst: \"\" is not a whole number.",
       untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(NewFile());
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
    Type({FieldKind::kTrapRecvPort}, "1162");
    for (bool on : c.toggles) model_->SetStormControl(on);
    if (c.per_minute != nullptr) Type({FieldKind::kStormPerMinute}, c.per_minute);
    if (c.burst != nullptr) Type({FieldKind::kStormBurst}, c.burst);
    EXPECT_EQ(model_->tab1_Click(kPageTraps), c.refusal == nullptr);
    EXPECT_EQ(InFile(), c.after);
    if (c.refusal == nullptr) {
      EXPECT_TRUE(dialogs_.TakeMessages().empty());
      EXPECT_EQ(Settings().ByName("TrapRecvPort"), store::Value(1162));
      continue;
    }
    EXPECT_EQ(dialogs_.TakeMessages(), std::vector<std::string>{c.refusal});
    EXPECT_EQ(Settings().ByName("TrapRecvPort"), store::Value(162));
    const Field field{c.burst != nullptr ? FieldKind::kStormBurst : FieldKind::kStormPerMinute};
    EXPECT_EQ(model_->TakeFocusRequest(), field);
    EXPECT_EQ(model_->Text(field), c.burst != nullptr ? c.burst : c.per_minute);
  }
}

// The number the user left alone keeps what tervane-svc wrote after the page was read, and the
// rule keeps its Enabled; a default rule removed meanwhile is written anew, switched on. On
// exit a refused number can be discarded: the rest is stored.
TEST_F(StormSettingsTest, WhatTheUserLeftAloneStaysAsAnotherProgramWroteIt) {
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  ASSERT_NO_FATAL_FAILURE(
      Sql("UPDATE StormRule SET PerMinute = 99, Enabled = 0;"
          "UPDATE RelayOption SET Value = '1' WHERE Name = 'StormControl'"));
  Type({FieldKind::kStormBurst}, "20");
  ASSERT_TRUE(model_->tab1_Click(kPageTraps));
  EXPECT_EQ(InFile(), (Stored{"1", "99", "20", "0"}));

  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(model_->storm().shown(), (StormFields{true, "99", "20"}));
  ASSERT_NO_FATAL_FAILURE(Sql("DELETE FROM StormRule"));
  Type({FieldKind::kStormPerMinute}, "120");
  Type({FieldKind::kStormBurst}, "0");
  model_->SetStormControl(false);
  dialogs_.answers.push_back(true);  // discard the burst, and exit
  EXPECT_TRUE(model_->cmdExit_Click());
  ASSERT_EQ(dialogs_.TakeMessages().size(), 1u);
  EXPECT_EQ(InFile(), (Stored{"0", "120", "20", "1"}));
}

// A file older than storm control, opened read-only, is not upgraded: storm control shows off
// with the default rule's numbers, takes no edit, and nothing is written.
TEST_F(StormSettingsTest, AnOlderFileReadOnlyShowsItOff) {
  ASSERT_NO_FATAL_FAILURE(
      Sql("DROP TABLE StormRule; DELETE FROM RelayOption WHERE Name = "
          "'StormControl'; PRAGMA user_version = 2"));
  Result<std::unique_ptr<TervixModel>> model = TervixModel::Open(folder_, dialogs_, true);
  ASSERT_TRUE(model.ok()) << model.status().ToString();
  model_ = std::move(*model);
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_FALSE(model_->storm().available());
  model_->SetStormControl(true);
  model_->SetText({FieldKind::kStormPerMinute}, "5");
  EXPECT_EQ(model_->storm().shown(), (StormFields{false, "30", "10"}));
  EXPECT_TRUE(model_->cmdExit_Click());
  EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages[0];
  Result<store::Store> db = store::Store::Open(folder_, store::Access::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_EQ(db->schema_version(), 2);
}

}  // namespace
}  // namespace tervane::config::testing
