// The list "Sender's address (snmpTrapAddress.0)" on the page "General Settings": reached by
// the Tab key and its mnemonic, named by its caption for a screen reader, a change of its
// state without a click stored on "&Exit", disabled read-only; and the service's status text
// of several lines shown whole beside it.
#include <QAccessible>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <optional>
#include <string>
#include <vector>

#include "config/window_test_fixture.h"
#include "store/relay_options.h"

namespace tervane::config::testing {
namespace {

class RelayOptionWindowTest : public WindowTest {
 protected:
  std::optional<std::string> Stored() const {
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    Result<std::vector<store::RelayOption>> rows =
        db.ok() ? db->ReadRelayOptions() : Result<std::vector<store::RelayOption>>(db.status());
    for (const store::RelayOption& row : rows.ok() ? *rows : std::vector<store::RelayOption>()) {
      if (row.name == store::kOptionAddSourceAddress) return row.value;
    }
    return std::nullopt;
  }
};

TEST_F(RelayOptionWindowTest, ReachedByKeyboardNamedByItsCaptionAndStoredOnExit) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  auto* combo = Find<QComboBox>("cboAddSourceAddress");
  ASSERT_NE(combo, nullptr);
  EXPECT_FALSE(combo->isEditable());
  EXPECT_TRUE(combo->isEnabled());
  QStringList entries;
  for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
  EXPECT_EQ(entries, QStringList({"Keep as sent", "Add when missing", "Always the sender"}));

  // Under the conversion check box in the Tab key's chain, and by its mnemonic from anywhere
  // on the page.
  Find<QWidget>("chkConvV2ToV1")->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Tab);
  EXPECT_EQ(FocusedName(), "cboAddSourceAddress");
  Edit("txtTrapRecvPort")->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_N, Qt::AltModifier);
  EXPECT_EQ(FocusedName(), "cboAddSourceAddress");

  QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(combo);
  ASSERT_NE(spoken, nullptr);
  EXPECT_TRUE(spoken->text(QAccessible::Name).contains(kSourceAddressCaption))
      << spoken->text(QAccessible::Name).toStdString();
  EXPECT_EQ(spoken->text(QAccessible::Value), "Add when missing");  // a new file's

  // A screen reader's choice is a change of state, not a click.
  combo->setCurrentIndex(2);
  EXPECT_EQ(model_->source_address().value(), "replace");
  EXPECT_EQ(Stored(), "1");
  ASSERT_NO_FATAL_FAILURE(ClickExit());
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Stored(), "replace");
}

TEST_F(RelayOptionWindowTest, ReadOnlyDisabledAndAStatusOfSeveralLinesShownWhole) {
  const std::string status = "2026-12-09 02:40:11\r\nWaiting to Listen\r\nPort was in use";
  ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapRecvStatus", store::Value(status)));
  ASSERT_TRUE(store::Store::Open(folder_.string())
                  ->WriteRelayOption(store::kOptionAddSourceAddress, "by hand")
                  .ok());
  ASSERT_NO_FATAL_FAILURE(OpenWindow(/*read_only=*/true));
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  auto* combo = Find<QComboBox>("cboAddSourceAddress");
  EXPECT_FALSE(combo->isEnabled());
  EXPECT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->currentText(), "by hand");

  auto* box = Find<QPlainTextEdit>("txtTrapRecvStatus");
  EXPECT_EQ(box->toPlainText(), "2026-12-09 02:40:11\nWaiting to Listen\nPort was in use");
  EXPECT_EQ(box->document()->blockCount(), 3);
  // Every line in view, none scrolled away.
  EXPECT_EQ(box->verticalScrollBar()->maximum(), 0);
  // Shown once: the window's showing of the page after each action leaves the box alone.
  QSignalSpy set_again(box, &QPlainTextEdit::textChanged);
  ASSERT_NO_FATAL_FAILURE(Click("txtTrapForwIpAddr"));
  Key(Qt::Key_Tab);
  EXPECT_EQ(FocusedName(), "txtTrapForwPort");
  EXPECT_EQ(set_again.count(), 0);
  ASSERT_NO_FATAL_FAILURE(ClickExit());
  EXPECT_EQ(Stored(), "by hand");
}

}  // namespace
}  // namespace tervane::config::testing
