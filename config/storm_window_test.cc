// The group "Storm Control" on the page "General Settings": reached by the Tab key and the
// mnemonics, named by its captions for a screen reader, toggled through the accessibility bus,
// typed into, a refused number kept with the focus on it, and stored on "&Exit"; shown off and
// unusable for a file older than storm control.
#include <sqlite3.h>

#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <string>
#include <vector>

#include "config/window_test_fixture.h"
#include "store/relay_options.h"
#include "store/storm_rules.h"

namespace tervane::config::testing {
namespace {

class StormWindowTest : public WindowTest {
 protected:
  // The switch and the default rule as stored: "1 600/20".
  std::string Stored() const {
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return "";
    const Result<std::vector<store::RelayOption>> options = db->ReadRelayOptions();
    const Result<std::vector<store::StormRuleRow>> rules = db->ReadStormRules();
    if (!options.ok() || !rules.ok()) return "unreadable";
    std::string text;
    for (const store::RelayOption& option : *options) {
      if (option.name == store::kOptionStormControl) text = option.value;
    }
    for (const store::StormRuleRow& row : *rules) {
      if (row.oid_prefix.AsText().empty()) {
        text += " " + row.per_minute.AsText() + "/" + row.burst.AsText();
      }
    }
    return text;
  }
  static QString Spoken(QWidget* widget, QAccessible::Text text = QAccessible::Name) {
    return QAccessible::queryAccessibleInterface(widget)->text(text);
  }
};

TEST_F(StormWindowTest, ReachedByKeyboardNamedByItsCaptionsAndStoredOnExit) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  auto* group = Find<QGroupBox>("grpStormControl");
  auto* box = Find<QCheckBox>("chkStormControl");
  ASSERT_TRUE(group != nullptr && box != nullptr);
  EXPECT_EQ(group->title(), "Storm Control");
  EXPECT_TRUE(group->isAncestorOf(Edit("txtStormBurst")));
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(Text("txtStormPerMinute"), "30");
  EXPECT_EQ(Text("txtStormBurst"), "10");
  EXPECT_TRUE(Find<QLabel>("lblStormRules")->text().contains("tervane-svc storm"));

  // After the stations' buttons in the Tab key's chain, and by the mnemonics.
  Find<QWidget>("cmdStationAdd")->setFocus(Qt::TabFocusReason);
  for (const char* next : {"chkStormControl", "txtStormPerMinute", "txtStormBurst"}) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(FocusedName(), next);
  }
  Key(Qt::Key_P, Qt::AltModifier);
  EXPECT_EQ(FocusedName(), "txtStormPerMinute");
  Key(Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(FocusedName(), "txtStormBurst");
  Key(Qt::Key_H, Qt::AltModifier);
  EXPECT_EQ(FocusedName(), "chkStormControl");
  ASSERT_TRUE(QTest::qWaitFor([box] { return box->isChecked(); }, kWaitMs));
  EXPECT_TRUE(model_->storm().shown().on);
  // The screen reader's toggle is the same change as a key's.
  QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(
      QAccessibleActionInterface::toggleAction());
  EXPECT_FALSE(model_->storm().shown().on);
  Key(Qt::Key_Space);
  EXPECT_TRUE(model_->storm().shown().on);

  // Names hold the captions; the descriptions say what 0 does and what the numbers take.
  EXPECT_TRUE(Spoken(box).contains("Hold back trap storms")) << Spoken(box).toStdString();
  EXPECT_TRUE(Spoken(Edit("txtStormPerMinute")).contains("Traps per minute"));
  EXPECT_TRUE(Spoken(Edit("txtStormBurst")).contains("Burst"));
  EXPECT_TRUE(Spoken(Edit("txtStormPerMinute"), QAccessible::Description).contains("0 drops"));
  EXPECT_TRUE(Spoken(Edit("txtStormBurst"), QAccessible::Description).contains("1 to 100000"));

  ASSERT_NO_FATAL_FAILURE(Replace("txtStormPerMinute", "600"));
  QAccessible::queryAccessibleInterface(Edit("txtStormBurst"))->setText(QAccessible::Value, "0");
  EXPECT_EQ(model_->storm().shown().burst, "0");
  // Refused on "&Exit": the user goes back to the burst, which keeps its text.
  dialogs_.answer_yes = false;
  ASSERT_NO_FATAL_FAILURE(Click("cmdExit"));
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0].text.rfind(
                "Storm Control, Burst: 0 is not a burst of traps (1 to 100000).", 0),
            0u)
      << dialogs_.questions[0].text;
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(FocusedName(), "txtStormBurst");
  EXPECT_EQ(Text("txtStormBurst"), "0");
  EXPECT_EQ(Stored(), "0 30/10");
  Key(Qt::Key_A, Qt::ControlModifier);
  Type("20");
  ASSERT_NO_FATAL_FAILURE(ClickExit());
  EXPECT_EQ(Stored(), "1 600/20");
}

// A file older than storm control, read-only: the group shows it off with the default rule's
// numbers, and none of it can be used.
TEST_F(StormWindowTest, AnOlderFileShowsItOffAndUnusable) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((folder_ / "Tervix.mdb").c_str(), &raw), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(raw,
                         "DROP TABLE StormRule; DELETE FROM RelayOption WHERE Name = "
                         "'StormControl'; PRAGMA user_version = 2",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  ASSERT_NO_FATAL_FAILURE(OpenWindow(/*read_only=*/true));
  ClickTab(kPageGeneral);
  auto* box = Find<QCheckBox>("chkStormControl");
  EXPECT_FALSE(box->isChecked());
  for (const char* name : {"chkStormControl", "txtStormPerMinute", "txtStormBurst"}) {
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_EQ(Text("txtStormPerMinute"), "30");
  EXPECT_EQ(Text("txtStormBurst"), "10");
  ASSERT_NO_FATAL_FAILURE(ClickExit());
}

}  // namespace
}  // namespace tervane::config::testing
