// The window's widgets as built: names, texts, limits, flags, labels and their fields,
// accessible names, the order of the Tab key and the layout's size. Nothing here needs a trap
// definition, so the window is opened on the delivered database as it is.
#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <map>

#include "config/window_test_fixture.h"

namespace tervane::config::testing {
namespace {

using WindowTreeTest = WindowTest;

TEST_F(WindowTreeTest, CaptionAndPagesInOrder) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  EXPECT_EQ(window_->windowTitle(), "Tervane 1.10");
  auto* tabs = Find<QTabWidget>("tab1");
  ASSERT_EQ(tabs->count(), 4);
  EXPECT_EQ(tabs->tabText(0), "SNMP Traps");
  EXPECT_EQ(tabs->tabText(1), "General Settings");
  EXPECT_EQ(tabs->tabText(2), "Service Control");
  EXPECT_EQ(tabs->tabText(3), "SNMPv3");
  // "Read Me" and "&Exit" sit below the pages, on none of them.
  for (const char* name : {"cmdReadMe", "cmdExit"}) {
    EXPECT_FALSE(tabs->isAncestorOf(Find<QWidget>(name))) << name;
  }
}

TEST_F(WindowTreeTest, ButtonsAndCheckBoxesByNameAndText) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  struct Case {
    const char* name;
    const char* text;
  };
  std::vector<Case> cases = {
      {"cmdReadMe", "Read &Me"},
      {"cmdExit", "&Exit"},
      {"cmdAdd", "&Add..."},
      {"cmdRemove", "&Remove"},
      {"cmdTrapOID", "..."},
      {"cmdValToSplit", "..."},
      {"chkDebugMode", "Debug Mode"},
      {"chkConvV2ToV1", "Convert SNMPv2 to SNMPv1"},
      {"chkStormControl", "&Hold back trap storms"},
      {"cmdGenerateMIB", "&Generate MIB File"},
      {"cmdStart", "&Start Service"},
      {"cmdInstall", "&Install Service"},
      {"cmdAddV3User", "&Add..."},
      {"cmdEditV3User", "E&dit..."},
      {"cmdRemoveV3User", "&Remove"},
  };
  std::vector<std::string> var_names(kVarRows + 1);
  std::vector<std::string> var_texts(kVarRows + 1);
  for (int i = 1; i <= kVarRows; ++i) {
    var_names[i] = "cmdVar" + std::to_string(i);
    var_texts[i] = "#" + std::to_string(i);
    cases.push_back({var_names[i].c_str(), var_texts[i].c_str()});
  }
  for (const Case& c : cases) {
    auto* button = Find<QAbstractButton>(c.name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), c.text) << c.name;
  }
  EXPECT_NE(Find<QCheckBox>("chkDebugMode"), nullptr);
  EXPECT_NE(Find<QCheckBox>("chkConvV2ToV1"), nullptr);
}

TEST_F(WindowTreeTest, GroupsAndServicePage) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  EXPECT_EQ(Find<QGroupBox>("fraTrapNewVar")->title(), "Variable Binding");
  QStringList titles;
  for (const QGroupBox* group : window_->findChildren<QGroupBox*>()) titles << group->title();
  titles.sort();
  EXPECT_EQ(titles, QStringList({"Forward Traps To", "Receive Traps On", "Storm Control",
                                 "Variable Binding"}));
  EXPECT_EQ(Find<QLabel>("lblInfo")->text(), "Info");
  auto* progress = Find<QProgressBar>("pgbInfo");
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 6);
  EXPECT_EQ(progress->value(), 0);
}

// Every label and the field it announces; the fields of the variable rows have none.
TEST_F(WindowTreeTest, LabelsAndTheirFields) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const std::vector<std::pair<QString, QString>> expected = {
      {"Trap Name:", "lbxTrapName"},
      {"Trap OID:", "txtTrapOID"},
      {"Wrap To:", "txtTrapNewEnterprise"},
      {"Wrap Source Variable #:", "txtTrapSourceVarNo"},
      {"Value To Split:", "txtValToSplit"},
      {"IP Address:", "txtTrapRecvIpAddr"},
      {"Port:", "txtTrapRecvPort"},
      {"Status:", "txtTrapRecvStatus"},
      {"IP Address:", "txtTrapForwIpAddr"},
      {"Port:", "txtTrapForwPort"},
      {"Further &Stations:", "lbxStations"},
      {"&Counters:", "tblCounters"},
      {"Se&nder's address (snmpTrapAddress.0):", "cboAddSourceAddress"},
      {"Traps &per minute:", "txtStormPerMinute"},
      {"&Burst:", "txtStormBurst"},
      {"Engine &ID:", "txtEngineId"},
      {"&Users:", "lstV3Users"},
  };
  std::vector<std::pair<QString, QString>> buddies;
  QStringList plain;
  for (const QLabel* label : window_->findChildren<QLabel*>()) {
    if (label->buddy() != nullptr) {
      buddies.emplace_back(label->text(), label->buddy()->objectName());
    } else if (label->objectName() != "lblInfo" && label->objectName() != "lblReadOnly" &&
               label->objectName() != "lblCountersWritten" && label->objectName() != "lblV3Note") {
      plain << label->text();
    }
  }
  for (const auto& pair : expected) {
    EXPECT_NE(std::find(buddies.begin(), buddies.end(), pair), buddies.end())
        << pair.first.toStdString() << " -> " << pair.second.toStdString();
  }
  EXPECT_EQ(buddies.size(), expected.size());
  plain.sort();
  QStringList headings;
  for (int group = 0; group < 2; ++group) {
    headings << "Char:"
             << "Data Type:"
             << "Pos:"
             << "Variable Name:";
  }
  headings << "Into"
           << "New Variables"
           << "Rules by trap OID prefix are set with the command tervane-svc storm."
           << "Routers that send informs to this relay need this engine ID configured for its "
              "address. The command tervane-svc engine --set changes it."
           << "The service reads its users when it starts: changes take effect at its next "
              "start. Passwords are never stored, only the keys made from them.";
  headings.sort();
  EXPECT_EQ(plain, headings);
}

// What a screen reader reports of every control, read through Qt's accessibility interfaces
// as the accessibility bus reads them: a name that contains the caption or label the control
// shows (without "&" and a final ":", whatever the letter case), so that speech input finds
// it by what the user sees; and lists that say what they are and hold.
TEST_F(WindowTreeTest, AccessibleNamesContainWhatIsOnTheScreen) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  // The controls that show no caption of their own and have no label: the words beside them,
  // or their column's heading.
  std::map<QString, QString> beside = {
      {"cboTrapNewNumber", "Wrap To"}, {"cboTrapNewVarNo", "New Variables"}, {"pgbInfo", ""}};
  for (int i = 1; i <= kVarRows; ++i) {
    const QString n = QString::number(i);
    beside["txtVarName" + n] = "Variable Name";
    beside["txtVarPos" + n] = "Pos";
    beside["txtVarChar" + n] = "Char";
    beside["cboVarType" + n] = "Data Type";
  }
  std::map<const QWidget*, QString> labelled;
  for (const QLabel* label : window_->findChildren<QLabel*>()) {
    if (label->buddy() != nullptr) labelled[label->buddy()] = label->text();
  }
  int controls = 0;
  for (QWidget* widget : window_->findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    const bool control = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                         qobject_cast<QLineEdit*>(widget) != nullptr ||
                         qobject_cast<QComboBox*>(widget) != nullptr ||
                         qobject_cast<QListWidget*>(widget) != nullptr ||
                         qobject_cast<QTableWidget*>(widget) != nullptr ||
                         qobject_cast<QPlainTextEdit*>(widget) != nullptr ||
                         qobject_cast<QProgressBar*>(widget) != nullptr || name == "lblInfo";
    // The tab bar's scroll buttons are Qt's, named by Qt.
    if (!control || name.isEmpty() || name.startsWith("qt_") ||
        qobject_cast<QTabBar*>(widget->parentWidget()) != nullptr) {
      continue;
    }
    SCOPED_TRACE(name.toStdString());
    QString caption;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      caption = button->text();
    } else if (beside.contains(name)) {
      caption = beside[name];
    } else if (labelled.contains(widget)) {
      caption = labelled[widget];
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      caption = label->text();
    } else {
      ADD_FAILURE() << "no caption known";
    }
    caption.remove('&');
    if (caption.endsWith(':')) caption.chop(1);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(iface, nullptr);
    const QString spoken = iface->text(QAccessible::Name);
    EXPECT_FALSE(spoken.isEmpty());
    EXPECT_TRUE(spoken.contains(caption, Qt::CaseInsensitive))
        << spoken.toStdString() << " lacks " << caption.toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      EXPECT_EQ(iface->role(), QAccessible::ComboBox);
      EXPECT_EQ(iface->text(QAccessible::Value), combo->currentText());
      EXPECT_TRUE(iface->actionInterface()->actionNames().contains(
          QAccessibleActionInterface::showMenuAction()));
    }
    ++controls;
  }
  // 14 variable rows of five controls, 11 more on page 0, 16 on page 1, 5 on page 2, 5 on page
  // 3, 2 below.
  EXPECT_EQ(controls, 5 * kVarRows + 11 + 16 + 5 + 5 + 2);
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(Find<QWidget>("lbxTrapName"));
  EXPECT_EQ(list->role(), QAccessible::List);
  QAccessibleInterface* tabs =
      QAccessible::queryAccessibleInterface(Find<QTabWidget>("tab1")->tabBar());
  ASSERT_EQ(tabs->childCount(), 4 + 2);  // the pages' tabs, and the bar's two scroll buttons
  EXPECT_EQ(tabs->child(1)->text(QAccessible::Name), "General Settings");
}

TEST_F(WindowTreeTest, LengthsAndEditability) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  struct Case {
    const char* name;
    int max_length;
    bool read_only;
  };
  const Case cases[] = {
      {"txtTrapRecvIpAddr", 45, false},     {"txtTrapRecvPort", 5, false},
      {"txtTrapForwIpAddr", 45, false},     {"txtTrapForwPort", 32767, false},
      {"txtStormPerMinute", 7, false},      {"txtStormBurst", 6, false},
      {"txtTrapOID", 32767, false},         {"txtTrapNewEnterprise", 32767, true},
      {"txtTrapSourceVarNo", 32767, false}, {"txtValToSplit", 32767, false},
      {"txtVarName1", 32767, false},        {"txtVarPos7", 32767, false},
      {"txtVarChar14", 32767, false},
  };
  for (const Case& c : cases) {
    QLineEdit* edit = Edit(c.name);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->maxLength(), c.max_length) << c.name;
    EXPECT_EQ(edit->isReadOnly(), c.read_only) << c.name;
  }
  EXPECT_EQ(Text("txtTrapNewEnterprise"), kWrapToPrefix);

  auto* status = Find<QPlainTextEdit>("txtTrapRecvStatus");
  EXPECT_TRUE(status->isReadOnly());
  EXPECT_EQ(status->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  const QList<QComboBox*> combos = window_->findChildren<QComboBox*>();
  EXPECT_EQ(combos.size(), 3 + kVarRows);
  for (const QComboBox* combo : combos) {
    EXPECT_FALSE(combo->isEditable()) << combo->objectName().toStdString();
  }
}

TEST_F(WindowTreeTest, ShadedBoxesAndTheSamplesFixedFont) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  for (const char* name : {"txtTrapNewEnterprise", "txtValToSplit", "txtTrapRecvStatus"}) {
    const QPalette palette = Find<QWidget>(name)->palette();
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Base),
              palette.color(QPalette::Active, QPalette::Window))
        << name;
  }
  const QPalette plain = Edit("txtTrapOID")->palette();
  EXPECT_NE(plain.color(QPalette::Active, QPalette::Base),
            plain.color(QPalette::Active, QPalette::Window));
  EXPECT_EQ(Edit("txtValToSplit")->font().family(),
            QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
  EXPECT_NE(Edit("txtTrapOID")->font().family(), Edit("txtValToSplit")->font().family());
}

// The # buttons leave the focus, and so the selection, in the sample.
TEST_F(WindowTreeTest, VariableButtonsTakeNoFocus) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  for (int i = 1; i <= kVarRows; ++i) {
    EXPECT_EQ(Find<QWidget>(QString("cmdVar%1").arg(i))->focusPolicy(), Qt::NoFocus) << i;
  }
}

TEST_F(WindowTreeTest, VariableGroupsSideBySide) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const auto rect = [this](const QString& name) {
    QWidget* widget = Find<QWidget>(name);
    return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
  };
  for (int i = 1; i <= 7; ++i) {
    const QString left = QString::number(i);
    const QString right = QString::number(i + 7);
    for (const char* column : {"cmdVar", "txtVarName", "txtVarPos", "txtVarChar", "cboVarType"}) {
      const QRect a = rect(column + left);
      const QRect b = rect(column + right);
      EXPECT_GT(b.left(), rect("cboVarType" + left).right()) << (column + right).toStdString();
      EXPECT_EQ(b.top(), a.top()) << (column + right).toStdString();
      EXPECT_EQ(b.bottom(), a.bottom()) << (column + right).toStdString();
    }
    if (i > 1) {
      EXPECT_GT(rect("txtVarName" + left).top(),
                rect("txtVarName" + QString::number(i - 1)).bottom());
    }
  }
}

TEST_F(WindowTreeTest, FitsAScreenOf1024By768) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const QSize hint = window_->sizeHint();
  // Room is left for the window manager's title bar.
  EXPECT_LE(hint.width(), 1024);
  EXPECT_LE(hint.height(), 768 - 40);
  EXPECT_LE(window_->width(), 1024);
  EXPECT_LE(window_->height(), 768 - 40);
  // The offscreen screen is 800 by 600: the window is still not squeezed below its layout's
  // wish, and no list is narrower than its longest entry.
  EXPECT_GE(window_->width(), hint.width());
  EXPECT_GE(window_->height(), hint.height());
  for (const QComboBox* combo : window_->findChildren<QComboBox*>()) {
    EXPECT_GE(combo->width(), combo->sizeHint().width()) << combo->objectName().toStdString();
  }
}

// The Tab key's chain, disabled widgets included (the Empty state disables most of page 0):
// each page as it is read, then the two buttons below the pages.
TEST_F(WindowTreeTest, TabOrderFollowsTheReadingOrder) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  QStringList expected = {"lbxTrapName",      "cmdAdd",
                          "cmdRemove",        "txtTrapOID",
                          "cmdTrapOID",       "txtTrapNewEnterprise",
                          "cboTrapNewNumber", "txtTrapSourceVarNo",
                          "cboTrapNewVarNo",  "txtValToSplit",
                          "cmdValToSplit"};
  for (int i = 1; i <= kVarRows; ++i) {
    const QString n = QString::number(i);
    expected << "txtVarName" + n << "txtVarPos" + n << "txtVarChar" + n << "cboVarType" + n;
  }
  expected << "chkDebugMode"
           << "txtTrapRecvIpAddr"
           << "txtTrapRecvPort"
           << "txtTrapRecvStatus"
           << "chkConvV2ToV1"
           << "cboAddSourceAddress"
           << "txtTrapForwIpAddr"
           << "txtTrapForwPort"
           << "lbxStations"
           << "cmdStationAdd"
           << "cmdStationEdit"
           << "cmdStationRemove"
           << "chkStormControl"
           << "txtStormPerMinute"
           << "txtStormBurst"
           << "cmdGenerateMIB"
           << "cmdStart"
           << "cmdInstall"
           << "tblCounters"
           << "txtEngineId"
           << "lstV3Users"
           << "cmdAddV3User"
           << "cmdEditV3User"
           << "cmdRemoveV3User"
           << "cmdReadMe"
           << "cmdExit";
  // From the list round to "&Exit"; the tab bar and its scroll buttons take part too, but
  // what matters here is the order of the window's own widgets.
  QStringList chain;
  QWidget* widget = Find<QWidget>("lbxTrapName");
  for (int n = 0; n < 300 && widget != nullptr && !chain.endsWith("cmdExit");
       ++n, widget = widget->nextInFocusChain()) {
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->objectName() != "tab1" &&
        !widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_")) {
      chain << widget->objectName();
    }
  }
  EXPECT_EQ(chain.join(" ").toStdString(), expected.join(" ").toStdString());
}

// The real Tab key on page 1, where every field is usable.
TEST_F(WindowTreeTest, TabKeyOnGeneralSettings) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageGeneral);
  ASSERT_TRUE(QTest::qWaitFor([this] { return Page() == kPageGeneral; }, kWaitMs));
  ASSERT_NO_FATAL_FAILURE(ClickCheckBox("chkDebugMode"));
  ClickCheckBox("chkDebugMode");  // twice: the box is left as it was, with the focus
  ASSERT_EQ(FocusedName(), "chkDebugMode");
  QStringList visited;
  for (int n = 0; n < 13; ++n) {
    Key(Qt::Key_Tab);
    visited << FocusedName();
  }
  // Without further stations, "Edit..." and "Remove" are unusable and left out.
  EXPECT_EQ(visited,
            QStringList({"txtTrapRecvIpAddr", "txtTrapRecvPort", "txtTrapRecvStatus",
                         "chkConvV2ToV1", "cboAddSourceAddress", "txtTrapForwIpAddr",
                         "txtTrapForwPort", "lbxStations", "cmdStationAdd", "chkStormControl",
                         "txtStormPerMinute", "txtStormBurst", "cmdGenerateMIB"}));
}

}  // namespace
}  // namespace tervane::config::testing

namespace tervane::config::testing {
namespace {

// Enlarged, the window keeps its labels beside their fields: the list right under its
// heading and level with its buttons, the frame "Variable Binding" under the list, the lines of
// "Receive Traps On" one under another, "Storm Control" on one line under "Forward Traps To";
// the spare room goes below the last control.
TEST_F(WindowTreeTest, LabelsStayWithTheirFieldsWhenEnlarged) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  const auto rect = [this](const QWidget* widget) {
    return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
  };
  const QLabel* heading = nullptr;
  for (const QLabel* label : window_->findChildren<QLabel*>()) {
    if (label->buddy() == Find<QWidget>("lbxTrapName")) heading = label;
  }
  ASSERT_NE(heading, nullptr);
  for (const QSize size : {QSize(1280, 900), QSize(1920, 1080)}) {
    SCOPED_TRACE(size.width());
    window_->resize(size);
    ClickTab(kPageTraps);
    QApplication::processEvents();
    const QRect list = rect(Find<QWidget>("lbxTrapName"));
    EXPECT_LE(list.top() - rect(heading).bottom(), 10);
    EXPECT_LE(std::abs(list.top() - rect(Find<QWidget>("cmdAdd")).top()), 4);
    EXPECT_LE(std::abs(list.top() - rect(Find<QWidget>("txtTrapOID")).top()), 4);
    const QRect binding = rect(Find<QWidget>("fraTrapNewVar"));
    EXPECT_LE(binding.top() - list.bottom(), 30);
    EXPECT_GT(window_->height() - binding.bottom(), 100);  // the spare room is below

    ClickTab(kPageGeneral);
    QApplication::processEvents();
    const QRect address = rect(Find<QWidget>("txtTrapRecvIpAddr"));
    const QRect port = rect(Find<QWidget>("txtTrapRecvPort"));
    const QRect status = rect(Find<QWidget>("txtTrapRecvStatus"));
    EXPECT_LE(port.top() - address.bottom(), 12);
    EXPECT_LE(status.top() - port.bottom(), 12);
    EXPECT_LE(
        rect(Find<QWidget>("fraTrapForw")).top() - rect(Find<QWidget>("fraTrapRecv")).bottom(), 30);
    EXPECT_LE(
        rect(Find<QWidget>("grpStormControl")).top() - rect(Find<QWidget>("fraTrapForw")).bottom(),
        30);
    // The fields of "Storm Control" on one line with the check box.
    const QRect box = rect(Find<QWidget>("chkStormControl"));
    for (const char* name : {"txtStormPerMinute", "txtStormBurst"}) {
      EXPECT_LE(std::abs(rect(Find<QWidget>(name)).center().y() - box.center().y()), 4) << name;
    }
    EXPECT_GT(window_->height() - rect(Find<QWidget>("cmdGenerateMIB")).bottom(), 250);
  }
}

}  // namespace
}  // namespace tervane::config::testing
