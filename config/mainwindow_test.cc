// The window's wiring, driven with the mouse and the keyboard on a real Tervix.mdb: what the
// user does reaches the model, what the model holds is shown, and the moves the model refuses
// do not happen. The rules themselves are the model's tests' business.
#include <QComboBox>
#include <QPlainTextEdit>
#include <QWindow>
#include <fstream>

#include "config/mib_module.h"
#include "config/window_test_fixture.h"

namespace tervane::config::testing {
namespace {

// The widgets that the Empty state disables, and "&Add...", which it never does.
const char* const kDefinitionControls[] = {
    "lbxTrapName",      "cmdRemove",          "txtTrapOID",      "cmdTrapOID",
    "cboTrapNewNumber", "txtTrapSourceVarNo", "cboTrapNewVarNo", "cmdValToSplit"};

TEST_F(MainWindowTest, EmptyTableLeavesOnlyAddUsable) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  EXPECT_EQ(Page(), kPageTraps);
  EXPECT_EQ(Find<QListWidget>("lbxTrapName")->count(), 0);
  for (const char* name : kDefinitionControls) {
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Find<QWidget>("cmdAdd")->isEnabled());
  for (int i = 1; i <= kVarRows; ++i) {
    EXPECT_FALSE(Find<QWidget>(QString("txtVarName%1").arg(i))->isEnabled()) << i;
    EXPECT_FALSE(Find<QWidget>(QString("cmdVar%1").arg(i))->isEnabled()) << i;
  }
  EXPECT_EQ(Find<QComboBox>("cboTrapNewNumber")->currentIndex(), -1);
  ExpectShowsModel();
}

TEST_F(MainWindowTest, FullTableShowsFirstDefinitionAndAddsNoMore) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(kMaxDefinitions)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  auto* list = Find<QListWidget>("lbxTrapName");
  ASSERT_EQ(list->count(), kMaxDefinitions);
  EXPECT_EQ(list->item(29)->text().toStdString(), DefinitionName(30));
  EXPECT_EQ(list->currentRow(), 0);
  EXPECT_EQ(Text("txtTrapOID"), "1.3.6.1.4.1.32473.7.0.1");
  EXPECT_EQ(Text("txtVarName1"), "var1");
  EXPECT_EQ(Find<QComboBox>("cboVarType1")->currentText(), "DisplayString");
  for (const char* name : kDefinitionControls) {
    EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
  }
  ExpectShowsModel();

  dialogs_.new_name = "oneTooMany";
  Click("cmdAdd");
  EXPECT_EQ(list->count(), kMaxDefinitions);
  EXPECT_EQ(Traps().size(), static_cast<size_t>(kMaxDefinitions));
  ExpectShowsModel();
}

TEST_F(MainWindowTest, ListFollowsMouseAndKeyboard) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(3)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickEntry(2);
  EXPECT_EQ(model_->selected(), 2);
  EXPECT_EQ(Text("txtTrapOID"), "1.3.6.1.4.1.32473.7.0.3");
  ExpectShowsModel();
  ASSERT_EQ(FocusedName(), "lbxTrapName");
  Key(Qt::Key_Up);
  EXPECT_EQ(model_->selected(), 1);
  EXPECT_EQ(Text("txtTrapOID"), "1.3.6.1.4.1.32473.7.0.2");
  ExpectShowsModel();
  // A Ctrl+click on the selected entry would deselect it; the list keeps its selection.
  auto* list = Find<QListWidget>("lbxTrapName");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    list->visualItemRect(list->item(1)).center());
  EXPECT_EQ(model_->selected(), 1);
  ExpectShowsModel();
}

TEST_F(MainWindowTest, GeneralSettingsEditedThenStoredByExit) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const std::string status = Setting("TrapRecvStatus");
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  ClickCheckBox("chkDebugMode");
  ClickCheckBox("chkConvV2ToV1");
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapRecvIpAddr", "127.0.0.1"));
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapRecvPort", "10162"));
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapForwIpAddr", "192.0.2.7"));
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapForwPort", "20162"));
  EXPECT_EQ(model_->general().TrapForwPort, "20162");
  ExpectShowsModel();

  ASSERT_NO_FATAL_FAILURE(ClickExit());
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Setting("DebugMode"), "1");
  EXPECT_EQ(Setting("ConvV2ToV1"), "1");
  EXPECT_EQ(Setting("TrapRecvIpAddr"), "127.0.0.1");
  EXPECT_EQ(Setting("TrapRecvPort"), "10162");
  EXPECT_EQ(Setting("TrapForwIpAddr"), "192.0.2.7");
  EXPECT_EQ(Setting("TrapForwPort"), "20162");
  EXPECT_EQ(Setting("TrapRecvStatus"), status);
}

TEST_F(MainWindowTest, CloseBoxStoresEditsAsExitDoes) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(1)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapOID", "1.3.6.1.4.1.32473.7.0.99"));
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapForwPort", "3162"));
  // What the window manager does for the close box.
  window_->windowHandle()->close();
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->isVisible(); }, kWaitMs));
  EXPECT_EQ(Setting("TrapForwPort"), "3162");
  const std::vector<store::TrapRow> traps = Traps();
  ASSERT_EQ(traps.size(), 1u);
  EXPECT_EQ(traps[0].ByName("TrapOID").AsText(), "1.3.6.1.4.1.32473.7.0.99");
}

TEST_F(MainWindowTest, CloseRefusedKeepsTheWindowOpen) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const std::string port = Setting("TrapRecvPort");
  ClickTab(kPageGeneral);
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapRecvPort", "0"));
  dialogs_.answer_yes = false;  // do not discard the edits
  window_->windowHandle()->close();
  QTest::qWait(50);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(dialogs_.messages.empty() && dialogs_.questions.empty());
  EXPECT_EQ(Text("txtTrapRecvPort"), "0");
  EXPECT_EQ(FocusedName(), "txtTrapRecvPort");
  EXPECT_EQ(Setting("TrapRecvPort"), port);
}

TEST_F(MainWindowTest, AddShowsTheNewDefinitionWithTheFocusInTrapOid) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(1)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  dialogs_.new_name = "coldStart";
  Click("cmdAdd");
  EXPECT_EQ(dialogs_.names_asked, 1);
  auto* list = Find<QListWidget>("lbxTrapName");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(1)->text(), "coldStart");
  EXPECT_EQ(list->currentRow(), 1);
  // A new definition's defaults, as the widgets show them.
  EXPECT_EQ(Text("txtTrapOID"), "");
  EXPECT_EQ(Text("txtTrapSourceVarNo"), "1");
  EXPECT_EQ(Find<QComboBox>("cboTrapNewNumber")->currentText(), "1000");
  EXPECT_EQ(Find<QComboBox>("cboTrapNewVarNo")->currentText(), "3");
  EXPECT_EQ(Text("txtVarName3"), "var3");
  EXPECT_EQ(Text("txtVarPos3"), "1");
  EXPECT_EQ(Text("txtVarChar3"), "0");
  EXPECT_EQ(Find<QComboBox>("cboVarType3")->currentText(), "DisplayString");
  EXPECT_TRUE(Find<QWidget>("txtVarName3")->isEnabled());
  EXPECT_FALSE(Find<QWidget>("txtVarName4")->isEnabled());
  ExpectShowsModel();
  EXPECT_EQ(FocusedName(), "txtTrapOID");
  const std::vector<store::TrapRow> traps = Traps();
  ASSERT_EQ(traps.size(), 2u);
  EXPECT_EQ(traps[1].ByName("TrapName").AsText(), "coldStart");
}

TEST_F(MainWindowTest, CancelledAddChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(1)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  dialogs_.new_name.reset();
  Click("cmdAdd");
  EXPECT_EQ(dialogs_.names_asked, 1);
  EXPECT_EQ(Find<QListWidget>("lbxTrapName")->count(), 1);
  EXPECT_EQ(Traps().size(), 1u);
  ExpectShowsModel();
}

TEST_F(MainWindowTest, RemoveTakesTheShownDefinitionAway) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(2)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  dialogs_.answer_yes = true;
  ClickEntry(1);
  Click("cmdRemove");
  ASSERT_EQ(Find<QListWidget>("lbxTrapName")->count(), 1);
  const std::vector<store::TrapRow> traps = Traps();
  ASSERT_EQ(traps.size(), 1u);
  EXPECT_EQ(traps[0].ByName("TrapName").AsText(), DefinitionName(1));
  ExpectShowsModel();
}

// A selection in the sample, made with the mouse or the keyboard, and "#2" clicked: the
// piece's position and length in bytes of the sample's UTF-8 form.
TEST_F(MainWindowTest, VariableButtonTakesTheSamplesSelection) {
  struct Case {
    const char* name;
    QString sample;
    int from;  // character boundaries of the selection, as the box counts them
    int to;
    bool by_keyboard;
    const char* pos;
    const char* chars;
  };
  const Case cases[] = {
      {"ascii by mouse", "PORT 042 DOWN", 5, 8, false, "6", "3"},
      {"ascii by keyboard", "PORT 042 DOWN", 0, 4, true, "1", "4"},
      {"dragged backwards", "PORT 042 DOWN", 13, 9, false, "10", "4"},
      // "Zürich " is 7 characters and 8 bytes; "€ 4" is 3 characters and 5 bytes.
      {"utf-8 by mouse", QString::fromUtf8("Zürich € 42"), 7, 10, false, "9", "5"},
      {"utf-8 by keyboard", QString::fromUtf8("Zürich € 42"), 1, 2, true, "2", "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(AddDefinitions({{"linkDown", "1.3.6.1.6.3.1.1.5.3", 2, 3}}));
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    ASSERT_NO_FATAL_FAILURE(Replace("txtValToSplit", c.sample));
    ASSERT_EQ(Text("txtValToSplit"), c.sample);
    QLineEdit* sample = Edit("txtValToSplit");
    if (c.by_keyboard) {
      Key(Qt::Key_Home);
      for (int i = 0; i < c.from; ++i) Key(Qt::Key_Right);
      for (int i = c.from; i < c.to; ++i) Key(Qt::Key_Right, Qt::ShiftModifier);
    } else {
      QTest::mousePress(sample, Qt::LeftButton, {}, SamplePoint(c.from));
      QTest::mouseMove(sample, SamplePoint(c.to));
      QTest::mouseRelease(sample, Qt::LeftButton, {}, SamplePoint(c.to));
    }
    ASSERT_EQ(sample->selectedText(),
              c.sample.mid(std::min(c.from, c.to), std::abs(c.to - c.from)));
    Click("cmdVar2");
    EXPECT_EQ(Text("txtVarPos2"), c.pos);
    EXPECT_EQ(Text("txtVarChar2"), c.chars);
    EXPECT_EQ(FocusedName(), "txtValToSplit");
    ExpectShowsModel();
  }
}

TEST_F(MainWindowTest, RefusedPortKeepsThePageAndTheEdit) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const std::string port = Setting("TrapRecvPort");
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapRecvPort", "70000"));
  // By mouse on the tab bar, then by keyboard from the field.
  ClickTab(kPageTraps);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].title, "Tervix");
  EXPECT_EQ(Page(), kPageGeneral);
  EXPECT_EQ(Text("txtTrapRecvPort"), "70000");
  EXPECT_EQ(FocusedName(), "txtTrapRecvPort");
  Key(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(Page(), kPageGeneral);
  EXPECT_EQ(Setting("TrapRecvPort"), port);
  ExpectShowsModel();

  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapRecvPort", "1162"));
  ClickTab(kPageTraps);
  EXPECT_EQ(Page(), kPageTraps);
  EXPECT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(Setting("TrapRecvPort"), "1162");
}

TEST_F(MainWindowTest, RefusedValueKeepsTheSelectedDefinition) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(2)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapSourceVarNo", "two"));
  ClickEntry(1);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  auto* list = Find<QListWidget>("lbxTrapName");
  EXPECT_EQ(list->currentRow(), 0);
  ASSERT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(list->selectedItems()[0], list->item(0));
  EXPECT_EQ(Text("txtTrapSourceVarNo"), "two");
  EXPECT_EQ(FocusedName(), "txtTrapSourceVarNo");
  ExpectShowsModel();
}

TEST_F(MainWindowTest, NumberOfNewVariablesPickedWithTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions({{"linkDown", "1.3.6.1.6.3.1.1.5.3", 2, 3}}));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Click("txtTrapSourceVarNo"));
  Key(Qt::Key_Tab);
  ASSERT_EQ(FocusedName(), "cboTrapNewVarNo");
  Key(Qt::Key_Down);
  EXPECT_EQ(model_->definition().TrapNewVarNo, "4");
  EXPECT_EQ(model_->usable_rows(), 4);
  EXPECT_TRUE(Find<QWidget>("txtVarName4")->isEnabled());
  EXPECT_FALSE(Find<QWidget>("txtVarName5")->isEnabled());
  ExpectShowsModel();
}

TEST_F(MainWindowTest, ServiceStatusReadAgainWhenPageOneIsSelected) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  auto* status = Find<QPlainTextEdit>("txtTrapRecvStatus");
  EXPECT_EQ(status->toPlainText().toStdString(), Setting("TrapRecvStatus"));
  ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapRecvStatus", store::Value("Running on 0.0.0.0:162")));
  ClickTab(kPageTraps);
  ASSERT_EQ(Page(), kPageTraps);
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  EXPECT_EQ(status->toPlainText(), "Running on 0.0.0.0:162");
  Click("cmdExit");
  EXPECT_EQ(Setting("TrapRecvStatus"), "Running on 0.0.0.0:162");
}

TEST_F(MainWindowTest, ReadMeFoundWhateverItsLetterCase) {
  struct Case {
    const char* file;    // a file of that name in the program folder, or nullptr
    const char* folder;  // a folder of that name, or nullptr
  };
  const Case cases[] = {{"readme.txt", nullptr},
                        {"README.TXT", nullptr},
                        {"ReadMe.Txt", nullptr},
                        {nullptr, nullptr},
                        {nullptr, "README.TXT"}};  // a folder is no user guide
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file != nullptr ? c.file : c.folder != nullptr ? "folder" : "missing");
    TearDown();
    SetUp();
    if (c.file != nullptr) std::ofstream(folder_ / c.file) << "Tervane\n";
    if (c.folder != nullptr) std::filesystem::create_directories(folder_ / c.folder);
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    Click("cmdReadMe");
    if (c.file != nullptr) {
      ASSERT_EQ(dialogs_.opened.size(), 1u);
      EXPECT_EQ(std::filesystem::path(dialogs_.opened[0]), folder_ / c.file);
      EXPECT_TRUE(dialogs_.messages.empty());
    } else {
      EXPECT_TRUE(dialogs_.opened.empty());
      EXPECT_EQ(dialogs_.messages.size(), 1u);
    }
  }
}

// Leaving a field by the keyboard runs its rule, and the window shows what the rule did.
TEST_F(MainWindowTest, GenerateMibWritesOpensAndWarns) {
  // trap1 and trap2 both have a variable named var1.
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(2)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  ASSERT_EQ(Page(), kPageGeneral);
  Click("cmdGenerateMIB");
  const std::string path = (folder_ / "Tervix.mib").string();
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(dialogs_.opened, std::vector<std::string>{path});
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].title, "Tervane");
  EXPECT_EQ(dialogs_.messages[0].icon, Icon::kInformation);
  EXPECT_EQ(dialogs_.messages[0].text,
            std::string(kMibWarningsIntro) +
                "\r\n\r\nTrap \"trap2\", variable 1: the name \"var1\" is declared twice (also "
                "by Trap \"trap1\", variable 1)");
}

TEST_F(MainWindowTest, LeavingAFieldRunsItsRule) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(1)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Replace("txtVarName1", "Port"));
  EXPECT_TRUE(dialogs_.messages.empty());
  Key(Qt::Key_Tab);
  EXPECT_EQ(FocusedName(), "txtVarPos1");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, kFirstLetterWarning);

  // An emptied Trap OID is given the start of every enterprise's OID when it is left.
  ASSERT_NO_FATAL_FAILURE(Replace("txtTrapOID", ""));
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Text("txtTrapOID"), "");
  Key(Qt::Key_Tab);
  EXPECT_EQ(Text("txtTrapOID"), "1.3.6.1.4.1.");
  ExpectShowsModel();
}

// Another window taking the focus for a while is no move between fields: the rule runs when
// the user leaves the field, not when the window is left.
TEST_F(MainWindowTest, AnotherWindowDoesNotLeaveTheField) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(1)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Replace("txtVarName1", "Port"));
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other, kWaitMs));
  EXPECT_TRUE(dialogs_.messages.empty());
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), kWaitMs));
  EXPECT_EQ(FocusedName(), "txtVarName1");
  EXPECT_TRUE(dialogs_.messages.empty());
  Key(Qt::Key_Tab);
  EXPECT_EQ(dialogs_.messages.size(), 1u);
}

TEST_F(MainWindowTest, TypingKeepsTheCaret) {
  ASSERT_NO_FATAL_FAILURE(AddDefinitions(Definitions(1)));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(Replace("txtVarName1", "prtName"));
  Key(Qt::Key_Home);
  Key(Qt::Key_Right);
  Type("o");
  EXPECT_EQ(Text("txtVarName1"), "portName");
  EXPECT_EQ(model_->definition().vars[1].VarName, "portName");
  EXPECT_EQ(Edit("txtVarName1")->cursorPosition(), 2);
}

}  // namespace
}  // namespace tervane::config::testing
