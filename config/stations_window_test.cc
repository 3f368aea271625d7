// The list "Further Stations" and the station dialog driven from the keyboard, with a screen
// reader's names checked; the read-only list; and the counters of "Service Control", read
// again while the page is shown.
#include <stdlib.h>

#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QTimer>

#include "config/window_test_fixture.h"
#include "store/statistics.h"

namespace tervane::config::testing {
namespace {

// Each label's buddy and each check box has an accessible name that contains the caption
// the user sees (without its mnemonic mark and colon).
void ExpectNamesContainCaptions(QWidget* top) {
  auto caption = [](QString text) { return text.remove('&').remove(':'); };
  for (QLabel* label : top->findChildren<QLabel*>()) {
    if (label->buddy() == nullptr || !label->isVisibleTo(top)) continue;
    const QString name =
        QAccessible::queryAccessibleInterface(label->buddy())->text(QAccessible::Name);
    EXPECT_TRUE(name.contains(caption(label->text()))) << name.toStdString();
  }
  for (QAbstractButton* button : top->findChildren<QAbstractButton*>()) {
    if (!button->isVisibleTo(top) || button->text().isEmpty()) continue;
    const QString name = QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name);
    EXPECT_TRUE(name.contains(caption(button->text()))) << name.toStdString();
  }
}

class StationsWindowTest : public WindowTest {
 protected:
  void AddStations(int count) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(
          db->AddStation({{"Address", store::Value("192.0.2.1")}, {"Port", store::Value(2000 + i)}})
              .ok());
    }
  }
  std::vector<store::StationRow> Stations() {
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    Result<std::vector<store::StationRow>> rows =
        db.ok() ? db->ReadStations() : Result<std::vector<store::StationRow>>(db.status());
    return rows.ok() ? *rows : std::vector<store::StationRow>();
  }
  QStringList Entries() {
    QStringList entries;
    auto* list = Find<QListWidget>("lbxStations");
    for (int i = 0; list != nullptr && i < list->count(); ++i) entries << list->item(i)->text();
    return entries;
  }
};

// Tab order and mnemonics lead to every control; a refused value keeps the dialog open with
// the user's text and the focus on the field; the station is stored once it is right.
TEST_F(StationsWindowTest, StationsAreAddedEditedAndRemovedFromTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(AddStations(1));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  ExpectNamesContainCaptions(Find<QWidget>("fraTrapForw"));
  Edit("txtTrapForwPort")->setFocus(Qt::TabFocusReason);
  for (const char* next :
       {"lbxStations", "cmdStationAdd", "cmdStationEdit", "cmdStationRemove", "chkStormControl"}) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(FocusedName(), next);
  }

  {
    auto driver = WhenModalShown([&](QWidget* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Add Further Station");
      ExpectNamesContainCaptions(dialog);
      EXPECT_EQ(FocusedName(), "txtStationIpAddr");
      EXPECT_EQ(dialog->findChild<QLineEdit*>("txtStationPort")->text(), "162");
      struct Try {
        const char* field;
        const char* bad;
        const char* good;
      };
      for (const Try& t : {Try{"txtStationIpAddr", "192.0.2", "192.0.2.20"},
                           Try{"txtStationPort", "70000", "1162"}}) {
        if (FocusedName() != t.field) Key(Qt::Key_Tab);
        ASSERT_EQ(FocusedName(), t.field);
        Type(t.bad);
        Key(Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible());
        ASSERT_EQ(dialogs_.messages.size(), 1u);
        EXPECT_NE(dialogs_.messages[0].text.find(t.bad), std::string::npos)
            << dialogs_.messages[0].text;
        dialogs_.messages.clear();
        EXPECT_EQ(FocusedName(), t.field);
        EXPECT_EQ(dialog->findChild<QLineEdit*>(t.field)->text(), t.bad);
        Type(t.good);  // over the selected refused text
      }
      Key(Qt::Key_Tab);
      EXPECT_EQ(FocusedName(), "chkStationConvV2ToV1");
      Key(Qt::Key_Space);
      Key(Qt::Key_Tab);
      Type("ops");
      Key(Qt::Key_Tab);
      EXPECT_EQ(FocusedName(), "chkStationEnabled");
      Key(Qt::Key_Space);
      Key(Qt::Key_Return);
    });
    // A button's mnemonic clicks it a moment later, as it shows the press.
    Key(Qt::Key_D, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([this] { return dialogs_.stations_asked == 1; }, kWaitMs));
  }
  EXPECT_EQ(dialogs_.stations_asked, 1);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Entries(), QStringList({"192.0.2.1:2000",
                                    "192.0.2.20:1162  SNMPv1  community \"ops\"  (disabled)"}));
  EXPECT_EQ(Find<QListWidget>("lbxStations")->currentRow(), 1);
  std::vector<store::StationRow> rows = Stations();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].port, store::Value(1162));

  // Enter on the entry edits it; the dialog shows it as stored.
  // The offscreen platform gives the window back its activation only when asked.
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), kWaitMs));
  ASSERT_EQ(FocusedName(), "lbxStations");
  {
    auto driver = WhenModalShown([&](QWidget* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Edit Further Station");
      EXPECT_EQ(dialog->findChild<QLineEdit*>("txtStationCommunity")->text(), "ops");
      Key(Qt::Key_M, Qt::AltModifier);
      EXPECT_EQ(FocusedName(), "txtStationCommunity");
      Key(Qt::Key_A, Qt::ControlModifier);
      Key(Qt::Key_Delete);
      Key(Qt::Key_E, Qt::AltModifier);  // the check box "&Enabled" toggles, a moment later
      auto* enabled = dialog->findChild<QCheckBox*>("chkStationEnabled");
      EXPECT_TRUE(QTest::qWaitFor([enabled] { return enabled->isChecked(); }, kWaitMs));
      Key(Qt::Key_Return);
    });
    Key(Qt::Key_Return);
  }
  EXPECT_EQ(dialogs_.stations_asked, 2);
  EXPECT_EQ(Entries(), QStringList({"192.0.2.1:2000", "192.0.2.20:1162  SNMPv1"}));
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), kWaitMs));

  dialogs_.answer_yes = true;
  Key(Qt::Key_Up);
  Key(Qt::Key_V, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([this] { return dialogs_.questions.size() == 1; }, kWaitMs));
  EXPECT_EQ(Entries(), QStringList({"192.0.2.20:1162  SNMPv1"}));
  ASSERT_EQ(Stations().size(), 1u);
  EXPECT_EQ(Stations()[0].port, store::Value(1162));
}

// Read-only: the stations are listed, and no key or button changes them.
TEST_F(StationsWindowTest, ReadOnlyListsTheStations) {
  ASSERT_NO_FATAL_FAILURE(AddStations(2));
  ASSERT_NO_FATAL_FAILURE(OpenWindow(/*read_only=*/true));
  ClickTab(kPageGeneral);
  EXPECT_EQ(Entries(), QStringList({"192.0.2.1:2000", "192.0.2.1:2001"}));
  for (const char* off : {"cmdStationAdd", "cmdStationEdit", "cmdStationRemove"}) {
    EXPECT_FALSE(Find<QWidget>(off)->isEnabled()) << off;
  }
  Find<QListWidget>("lbxStations")->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Down);
  Key(Qt::Key_Return);
  EXPECT_EQ(dialogs_.stations_asked, 0);
  EXPECT_EQ(Stations().size(), 2u);
}

// The counters appear below the service buttons once the service has written them, read again
// every 2 s while the page is shown and no longer when another page is selected.
TEST_F(StationsWindowTest, CountersAreReadWhileTheServicePageIsShown) {
  ASSERT_EQ(setenv("TERVANE_SERVICE_DIR", (dir_.path() / "services").c_str(), 1), 0);
  struct Unset {
    ~Unset() { unsetenv("TERVANE_SERVICE_DIR"); }
  } unset;
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageService);
  ASSERT_TRUE(QTest::qWaitFor([this] { return Page() == kPageService; }, kWaitMs));
  auto* table = Find<QTableWidget>("tblCounters");
  auto* timer = window_->findChild<QTimer*>("countersTimer");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(Find<QLabel>("lblCountersWritten")->text(), kNoCountersYet);
  EXPECT_EQ(table->rowCount(), 0);
  EXPECT_TRUE(timer->isActive());
  {
    Result<store::StatisticsWriter> writer = store::StatisticsWriter::Open(folder_.string());
    ASSERT_TRUE(writer.ok()) << writer.status().ToString();
    const store::Counter counters[] = {{"datagrams_received", "", 12},
                                       {"traps_dropped", "null_values", 1}};
    ASSERT_TRUE(writer->Write(counters, "2026-12-08T21:00:00Z", "2026-12-08T22:51:48Z").ok());
  }
  ASSERT_TRUE(QTest::qWaitFor([table] { return table->rowCount() == 2; }, kWaitMs));
  const QStringList row = {table->item(1, 0)->text(), table->item(1, 1)->text(),
                           table->item(1, 2)->text()};
  EXPECT_EQ(row, QStringList({"traps_dropped", "null_values", "1"}));
  EXPECT_TRUE(Find<QLabel>("lblCountersWritten")->text().startsWith("Written 2026-12-0"));
  ClickTab(kPageTraps);
  ASSERT_EQ(Page(), kPageTraps);
  EXPECT_FALSE(timer->isActive());
}

}  // namespace
}  // namespace tervane::config::testing
