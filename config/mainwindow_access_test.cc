// The window for users of the keyboard and of a screen reader, and for users who may only read
// the settings: pieces taken from the keyboard, changes made through the accessibility bus,
// the read-only window, and a settings row that another program removed.
#include <sqlite3.h>

#include <QAccessible>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <filesystem>

#include "config/window_test_fixture.h"

namespace tervane::config::testing {
namespace {

QAccessibleInterface* Accessible(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget);
}

// Runs `act` on the popup menu once it is open, from its own event loop; one still open a few
// seconds later is closed with a test failure.
[[nodiscard]] std::unique_ptr<QTimer> WhenMenuShown(const std::function<void(QMenu*)>& act) {
  auto timer = std::make_unique<QTimer>();
  QTimer* ticking = timer.get();
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(ticking, &QTimer::timeout, [ticking, started, act] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu != nullptr && menu->isVisible()) {
      ticking->stop();
      act(menu);
      if (menu->isVisible()) menu->close();
    } else if (started->elapsed() > kWaitMs) {
      ADD_FAILURE() << "no menu was shown";
      ticking->stop();
    }
  });
  timer->start(10);
  return timer;
}

// The entries "Take as variable i" of a menu, and a click on the one of variable `row`.
QStringList TakeEntries(QMenu* menu, int row) {
  QStringList entries;
  for (QAction* action : menu->actions()) {
    if (!action->text().startsWith("Take as variable")) continue;
    entries << action->text();
    if (action->text() == QString("Take as variable %1").arg(row)) action->trigger();
  }
  return entries;
}

using AccessWindowTest = MainWindowTest;

// A keyboard user takes a piece of the sample from its context menu, opened with Shift+F10 or
// the Menu key, or with Alt and the variable's digit; the selection stays; the menu offers the
// variables in use and only those.
TEST_F(AccessWindowTest, PiecesAreTakenFromTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions({{"linkDown", "1.3.6.1.6.3.1.1.5.3", 2, 3}}));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Replace("txtValToSplit", "PORT 042 DOWN"));
  Key(Qt::Key_Home);
  for (int i = 0; i < 5; ++i) Key(Qt::Key_Right);
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Right, Qt::ShiftModifier);
  QLineEdit* sample = Edit("txtValToSplit");
  ASSERT_EQ(sample->selectedText(), "042");

  QStringList entries;
  {
    auto menu = WhenMenuShown([&](QMenu* m) { entries = TakeEntries(m, 2); });
    Key(Qt::Key_F10, Qt::ShiftModifier);
  }
  EXPECT_EQ(entries,
            QStringList({"Take as variable 1", "Take as variable 2", "Take as variable 3"}));
  EXPECT_EQ(Text("txtVarPos2"), "6");
  EXPECT_EQ(Text("txtVarChar2"), "3");
  EXPECT_EQ(sample->selectedText(), "042");
  {
    // What the platform sends for the Menu key.
    auto menu = WhenMenuShown([&](QMenu* m) { entries = TakeEntries(m, 3); });
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2),
                            sample->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(sample, &event);
  }
  EXPECT_EQ(Text("txtVarPos3"), "6");
  EXPECT_EQ(Text("txtVarChar3"), "3");
  Key(Qt::Key_1, Qt::AltModifier);
  EXPECT_EQ(Text("txtVarPos1"), "6");
  EXPECT_EQ(Text("txtVarChar1"), "3");
  // Variable 5 is not in use: its digit does nothing.
  const std::string pos5 = model_->definition().vars[5].VarPos;
  Key(Qt::Key_5, Qt::AltModifier);
  EXPECT_EQ(model_->definition().vars[5].VarPos, pos5);
  EXPECT_EQ(FocusedName(), "txtValToSplit");
  ExpectShowsModel();
}

// Changes made through the accessibility bus, as a screen reader or speech input makes them,
// count as the user's: the definition list's selection, a tab's press, a field's text, a list's
// entry, a check box's toggle. The window's own showing of a row counts as nothing.
TEST_F(AccessWindowTest, ChangesThroughTheAccessibilityBusAreStored) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(3)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const std::vector<store::TrapRow> before = Traps();
  ASSERT_TRUE(Accessible(Find<QWidget>("lbxTrapName"))->tableInterface()->selectRow(2));
  EXPECT_EQ(model_->selected(), 2);
  Accessible(Edit("txtTrapOID"))->setText(QAccessible::Value, "1.3.6.1.4.1.32473.7.0.99");
  Find<QComboBox>("cboVarType1")->setCurrentIndex(0);  // a change of state, not a click
  EXPECT_EQ(model_->definition().vars[1].VarType, "Integer32");

  QAccessibleInterface* tabs = Accessible(Find<QTabWidget>("tab1")->tabBar());
  tabs->child(kPageGeneral)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  ASSERT_EQ(Page(), kPageGeneral);
  for (const char* box : {"chkDebugMode", "chkConvV2ToV1"}) {
    Accessible(Find<QWidget>(box))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
  }
  Accessible(Edit("txtTrapForwPort"))->setText(QAccessible::Value, "2162");
  EXPECT_TRUE(model_->general().DebugMode);
  ExpectShowsModel();

  ASSERT_NO_FATAL_FAILURE(ClickExit());
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Setting("DebugMode"), "1");
  EXPECT_EQ(Setting("ConvV2ToV1"), "1");
  EXPECT_EQ(Setting("TrapForwPort"), "2162");
  const std::vector<store::TrapRow> after = Traps();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[2].ByName("TrapOID").AsText(), "1.3.6.1.4.1.32473.7.0.99");
  EXPECT_EQ(after[2].Var(1, store::VarField::kType).AsText(), "Integer32");
  // Shown and left, the other two are as they were.
  for (size_t i = 0; i < 2; ++i) ExpectSameRow(after[i], before[i]);
}

// Opened read-only: one line at the top says so, every value is shown and nothing that would
// store is usable; the sample still takes a selection, another definition and another page can
// be shown, and the MIB module goes where the user says. Nothing is written.
TEST_F(AccessWindowTest, ReadOnlyShowsEverythingAndStoresNothing) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(2)));
  const std::vector<store::TrapRow> before = Traps();
  ASSERT_NO_FATAL_FAILURE(OpenWindow(/*read_only=*/true));
  auto* notice = Find<QLabel>("lblReadOnly");
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text().toStdString(), model_->read_only_notice());
  EXPECT_EQ(Text("txtTrapOID"), "1.3.6.1.4.1.32473.7.0.1");
  for (const char* edit : {"txtTrapOID", "txtTrapSourceVarNo", "txtVarName1", "txtVarPos1",
                           "txtTrapRecvPort", "txtTrapForwIpAddr"}) {
    EXPECT_TRUE(Edit(edit)->isReadOnly()) << edit;
  }
  EXPECT_FALSE(Edit("txtValToSplit")->isReadOnly());
  for (const char* off : {"cmdAdd", "cmdRemove", "cboTrapNewNumber", "cboTrapNewVarNo", "cmdVar1",
                          "cboVarType1", "chkDebugMode", "chkConvV2ToV1"}) {
    EXPECT_FALSE(Find<QWidget>(off)->isEnabled()) << off;
  }
  for (const char* on : {"lbxTrapName", "cmdGenerateMIB", "cmdReadMe", "cmdExit"}) {
    EXPECT_TRUE(Find<QWidget>(on)->isEnabled()) << on;
  }
  ASSERT_NO_FATAL_FAILURE(Replace("txtValToSplit", "PORT 042"));
  Key(Qt::Key_Home);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  Key(Qt::Key_1, Qt::AltModifier);  // takes nothing
  EXPECT_EQ(Text("txtVarChar1"), "5");
  ClickEntry(1);
  EXPECT_EQ(Text("txtTrapOID"), "1.3.6.1.4.1.32473.7.0.2");
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  dialogs_.save_as = (dir_.path() / "chosen.mib").string();
  Click("cmdGenerateMIB");
  EXPECT_EQ(dialogs_.saves_asked, 1);
  EXPECT_TRUE(std::filesystem::is_regular_file(*dialogs_.save_as));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Tervix.mib"));
  ASSERT_NO_FATAL_FAILURE(ClickExit());
  const std::vector<store::TrapRow> after = Traps();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) ExpectSameRow(after[i], before[i]);
}

// The settings row removed by another program: one message, then the window closes and
// nothing is stored.
TEST_F(AccessWindowTest, ASettingsRowGoneClosesTheWindow) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapForwPort", "2162"));
  {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok());
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "Tervix.mdb").c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "DELETE FROM General_Setting", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  ClickTab(kPageTraps);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->isVisible(); }, kWaitMs));
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].icon, Icon::kCritical);
  EXPECT_TRUE(model_->ended());
}

}  // namespace
}  // namespace tervane::config::testing
