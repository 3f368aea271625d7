// The list "Sender's address (snmpTrapAddress.0)" through the window's rules on a real
// Tervix.mdb: each stored value's entry, each pick's stored value, a value written by hand,
// an unchanged list that leaves another program's value alone, the list stored with the row
// and not without it, and a file older than the option opened read-only.
#include <optional>
#include <string>
#include <vector>

#include "config/model_test_fixture.h"
#include "store/relay_options.h"

namespace tervane::config::testing {
namespace {

class OptionListTest : public ModelTest {
 protected:
  // The option's value in the file; none without a row.
  std::optional<std::string> Stored() {
    Result<std::vector<store::RelayOption>> rows = Db().ReadRelayOptions();
    EXPECT_TRUE(rows.ok()) << rows.status().ToString();
    for (const store::RelayOption& row : rows.ok() ? *rows : std::vector<store::RelayOption>()) {
      if (row.name == store::kOptionAddSourceAddress) return row.value;
    }
    return std::nullopt;
  }
  void Write(const char* value) {
    ASSERT_TRUE(Db().WriteRelayOption(store::kOptionAddSourceAddress, value).ok());
  }
  std::string Shown() const {
    const OptionList& list = model_->source_address();
    const int at = list.current();
    return at < 0 ? "(none)" : list.entries()[static_cast<size_t>(at)];
  }
};

TEST_F(OptionListTest, EachStoredValueIsShownAndEachPickStoredWhenThePageIsLeft) {
  struct Case {
    const char* what;
    std::optional<std::string> stored;  // none: the row removed
    const char* shown;
    size_t entries;
    std::vector<int> picks;
    std::optional<std::string> after;  // the file once page 1 is left
  };
  const Case cases[] = {
      {"a new file's", "1", "Add when missing", 3, {0}, "0"},
      {"keep", "0", "Keep as sent", 3, {2}, "replace"},
      {"replace", "replace", "Always the sender", 3, {1}, "1"},
      {"no row: the relay keeps", std::nullopt, "Keep as sent", 3, {1}, "1"},
      {"no row, not picked", std::nullopt, "Keep as sent", 3, {}, std::nullopt},
      {"by hand, kept", "yes", "yes", 4, {}, "yes"},
      {"by hand, and back to it", "Replace", "Replace", 4, {2, 3}, "Replace"},
      {"by hand, replaced", "2", "2", 4, {2}, "replace"},
      {"by hand, empty", "", "(none)", 3, {0}, "0"},
      {"no entry there", "0", "Keep as sent", 3, {3, -1}, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.stored) {
      ASSERT_NO_FATAL_FAILURE(Write(c.stored->c_str()));
    } else {
      ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", "DELETE FROM RelayOption"), SQLITE_OK);
    }
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
    const OptionList& list = model_->source_address();
    EXPECT_EQ(Shown(), c.shown);
    ASSERT_EQ(list.entries().size(), c.entries);
    EXPECT_EQ(std::vector<std::string>(list.entries().begin(), list.entries().begin() + 3),
              (std::vector<std::string>{"Keep as sent", "Add when missing", "Always the sender"}));
    for (int pick : c.picks) model_->cboAddSourceAddress_Click(pick);
    // Stored with the page, not at the pick.
    EXPECT_EQ(Stored(), c.stored);
    ASSERT_TRUE(model_->tab1_Click(kPageTraps));
    EXPECT_EQ(Stored(), c.after);
    ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
    EXPECT_EQ(model_->source_address().value(), c.after.value_or("0"));
  }
  EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages[0];
}

// What another program wrote after the page was read stays when the user changed only other
// fields; page 1 then shows it.
TEST_F(OptionListTest, AnUnchangedListLeavesAnotherProgramsValue) {
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(Shown(), "Add when missing");
  ASSERT_NO_FATAL_FAILURE(Write("replace"));
  model_->SetDebugMode(true);
  model_->cboAddSourceAddress_Click(0);
  model_->cboAddSourceAddress_Click(1);  // and back: unchanged
  ASSERT_TRUE(model_->tab1_Click(kPageService));
  EXPECT_EQ(Settings().ByName("DebugMode"), store::Value(1));
  EXPECT_EQ(Stored(), "replace");
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(Shown(), "Always the sender");
}

// A refused value of the row keeps the page, and the option unwritten with it; discarding the
// refused value on exit stores the option with the row's other edits.
TEST_F(OptionListTest, StoredWithTheRowOnly) {
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  Type({FieldKind::kTrapRecvPort}, "70000");
  model_->cboAddSourceAddress_Click(2);
  EXPECT_FALSE(model_->tab1_Click(kPageTraps));
  EXPECT_EQ(Stored(), "1");
  ASSERT_EQ(dialogs_.TakeMessages().size(), 1u);
  dialogs_.answers.push_back(true);  // discard the port, and exit
  EXPECT_TRUE(model_->cmdExit_Click());
  EXPECT_EQ(Stored(), "replace");
  EXPECT_EQ(Settings().ByName("TrapRecvPort"), store::Value(162));
}

// A file older than the option, opened read-only, is not upgraded: the list shows what the
// relay does with it, and nothing is written.
TEST_F(OptionListTest, AnOlderFileReadOnlyShowsKeepAsSent) {
  ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb",
                   "DROP TABLE RelayOption; DROP TABLE StormRule; PRAGMA user_version = 1"),
            SQLITE_OK);
  Result<std::unique_ptr<TervixModel>> model = TervixModel::Open(folder_, dialogs_, true);
  ASSERT_TRUE(model.ok()) << model.status().ToString();
  model_ = std::move(*model);
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  EXPECT_EQ(Shown(), "Keep as sent");
  EXPECT_EQ(model_->source_address().entries().size(), 3u);
  model_->cboAddSourceAddress_Click(1);
  EXPECT_EQ(Shown(), "Keep as sent");
  EXPECT_TRUE(model_->cmdExit_Click());
  EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages[0];
  Result<store::Store> db = store::Store::Open(folder_, store::Access::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_EQ(db->schema_version(), 1);
}

}  // namespace
}  // namespace tervane::config::testing
