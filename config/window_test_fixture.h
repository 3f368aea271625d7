// What the widget tests share: Dialogs answered by the test, a program folder of the test's
// own with a real Tervix.mdb, and the window on it, shown and active on the offscreen
// platform and driven with QTest's mouse and keyboard.
//
// Every wait is bounded (QTest::qWaitFor with a few seconds).
#ifndef TERVANE_CONFIG_WINDOW_TEST_FIXTURE_H_
#define TERVANE_CONFIG_WINDOW_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "config/dialogs.h"
#include "config/mainwindow.h"
#include "config/stationdialog.h"
#include "config/tervix_model.h"
#include "config/v3userdialog.h"
#include "store/store.h"
#include "tests/subprocess.h"

// GoogleTest prints QStrings (and lists of them) as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace tervane::config::testing {

inline constexpr int kWaitMs = 5000;

// Records what the model shows and answers as the test says.
class FakeDialogs : public Dialogs {
 public:
  struct Message {
    std::string text;
    std::string title;
    Icon icon;
  };

  void Inform(const std::string& text, const std::string& title, Icon icon) override {
    messages.push_back({text, title, icon});
  }
  bool AskYesNo(const std::string& text, const std::string& title, Icon icon) override {
    questions.push_back({text, title, icon});
    return answer_yes;
  }
  std::optional<std::string> AskNewTrapName() override {
    ++names_asked;
    return new_name;
  }
  std::optional<std::string> AskSaveFile(const std::string&, const std::string&) override {
    ++saves_asked;
    return save_as;
  }
  void OpenFile(const std::string& path) override { opened.push_back(path); }
  // The real station dialog, over the active window, for the test to drive.
  void EditStation(const std::string& title, const StationFields& fields,
                   const StationAccept& accept) override {
    ++stations_asked;
    RunStationDialog(QApplication::activeWindow(), title, fields, accept);
  }
  // The real SNMPv3 user dialog, likewise.
  void EditV3User(const V3UserDialogSetup& setup, const V3UserAccept& accept) override {
    ++v3_users_asked;
    RunV3UserDialog(QApplication::activeWindow(), setup, accept);
  }

  std::vector<Message> messages;
  std::vector<Message> questions;
  bool answer_yes = false;
  std::optional<std::string> new_name;
  int names_asked = 0;
  int stations_asked = 0;
  int v3_users_asked = 0;
  int saves_asked = 0;
  std::optional<std::string> save_as;
  std::vector<std::string> opened;
};

// One SnmpTrap row as the tests write it: `vars` variables named var1, var2, ..., each five
// bytes from position 1, 6, 11, ..., of type DisplayString.
struct TestDefinition {
  std::string name;
  std::string oid;
  int source = 2;
  int vars = 2;
  int number = 1000;
};

// Runs `act` on the modal window (a dialog or message box) once it is shown and active, from
// the event loop of its exec(), as long as the returned timer lives: hold it across the call
// that opens the window. A modal window still open a few seconds later is closed with a test
// failure, so that a failing test cannot hang in exec().
[[nodiscard]] inline std::unique_ptr<QTimer> WhenModalShown(
    const std::function<void(QWidget*)>& act) {
  auto timer = std::make_unique<QTimer>();
  QTimer* ticking = timer.get();
  auto started = std::make_shared<QElapsedTimer>();
  auto acted = std::make_shared<bool>(false);
  started->start();
  QObject::connect(ticking, &QTimer::timeout, [ticking, started, acted, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!*acted && modal != nullptr && modal->isActiveWindow()) {
      *acted = true;
      act(modal);
      return;
    }
    const bool late = started->elapsed() > kWaitMs;
    if (late && modal != nullptr) {
      ADD_FAILURE() << "a modal window was left open: " << modal->windowTitle().toStdString();
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      return;
    }
    if ((*acted && modal == nullptr) || late) {
      if (!*acted) ADD_FAILURE() << "no modal window was shown";
      ticking->stop();
    }
  });
  timer->start(10);
  return timer;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    folder_ = dir_.path() / "program";
    dialogs_ = FakeDialogs();
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    const Status created = store::Store::Create((folder_ / "Tervix.mdb").string());
    ASSERT_TRUE(created.ok()) << created.ToString();
  }

  void TearDown() override {
    window_.reset();
    model_.reset();
  }

  void AddDefinitions(const std::vector<TestDefinition>& definitions) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    for (const TestDefinition& d : definitions) {
      store::ColumnValues columns = {{"TrapName", store::Value(d.name)},
                                     {"TrapOID", store::Value(d.oid)},
                                     {"TrapSourceVarNo", store::Value(d.source)},
                                     {"TrapNewVarNo", store::Value(d.vars)},
                                     {"TrapNewNumber", store::Value(d.number)}};
      for (int i = 1; i <= d.vars; ++i) {
        const std::string n = std::to_string(i);
        columns.emplace_back("VarName" + n, store::Value("var" + n));
        columns.emplace_back("VarPos" + n, store::Value(1 + 5 * (i - 1)));
        columns.emplace_back("VarChar" + n, store::Value(5));
        columns.emplace_back("VarType" + n, store::Value("DisplayString"));
      }
      Result<int64_t> added = db->AddTrap(columns);
      ASSERT_TRUE(added.ok()) << added.status().ToString();
    }
  }

  void WriteSetting(const std::string& column, const store::Value& value) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const Status written = db->WriteSettings({{column, value}});
    ASSERT_TRUE(written.ok()) << written.ToString();
  }

  // A General_Setting column as the window would show it.
  std::string Setting(const std::string& column) const {
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return "";
    Result<store::SettingsRow> row = db->ReadSettings();
    EXPECT_TRUE(row.ok()) << row.status().ToString();
    return row.ok() ? row->ByName(column).AsText() : "";
  }

  std::vector<store::TrapRow> Traps() const {
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return {};
    Result<std::vector<store::TrapRow>> rows = db->ReadTraps();
    EXPECT_TRUE(rows.ok()) << rows.status().ToString();
    return rows.ok() ? *rows : std::vector<store::TrapRow>();
  }

  void OpenModel(bool read_only = false) {
    Result<std::unique_ptr<TervixModel>> model =
        TervixModel::Open(folder_.string(), dialogs_, read_only);
    ASSERT_TRUE(model.ok()) << model.status().ToString();
    model_ = std::move(*model);
  }

  // Opens the model on the folder and shows the window, active.
  void OpenWindow(bool read_only = false) {
    ASSERT_NO_FATAL_FAILURE(OpenModel(read_only));
    window_ = std::make_unique<MainWindow>(*model_);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), kWaitMs));
  }

  template <typename T>
  T* Find(const QString& name) const {
    T* widget = window_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
  QLineEdit* Edit(const QString& name) const { return Find<QLineEdit>(name); }
  QString Text(const QString& name) const {
    QLineEdit* edit = Edit(name);
    return edit != nullptr ? edit->text() : QString();
  }
  static QWidget* Focused() { return QApplication::focusWidget(); }
  static QString FocusedName() { return Focused() != nullptr ? Focused()->objectName() : ""; }
  int Page() const { return Find<QTabWidget>("tab1")->currentIndex(); }

  static void Click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton);
  }
  void Click(const QString& name) { Click(Find<QWidget>(name)); }
  // A check box reacts to clicks on its box and its text only, not on the rest of its row.
  void ClickCheckBox(const QString& name) {
    auto* box = Find<QCheckBox>(name);
    ASSERT_NE(box, nullptr);
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect hit = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, hit.center());
  }
  void ClickTab(int page) {
    QTabBar* bar = Find<QTabWidget>("tab1")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(page).center());
  }
  void ClickEntry(int row) {
    auto* list = Find<QListWidget>("lbxTrapName");
    ASSERT_NE(list->item(row), nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
  }
  // Keys to whatever has the focus, as the keyboard sends them.
  static void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_NE(Focused(), nullptr);
    QTest::keyClick(Focused(), key, modifiers);
  }
  // Each character as a key press and release carrying it; a character without a key of its
  // own (QTest knows keys for ASCII only) comes as the text of an unknown key, as an input
  // method sends it.
  static void Type(const QString& text) {
    ASSERT_NE(Focused(), nullptr);
    for (const QChar c : text) {
      if (c.unicode() < 0x80) {
        QTest::keyClick(Focused(), c.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Click, Focused(), Qt::Key_unknown, QString(c), Qt::NoModifier);
      }
    }
  }
  // "&Exit", and the window closed by it.
  void ClickExit() {
    ASSERT_NO_FATAL_FAILURE(Click("cmdExit"));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->isVisible(); }, kWaitMs));
  }
  // Every column of two rows alike.
  static void ExpectSameRow(const store::TrapRow& a, const store::TrapRow& b) {
    for (int c = 0; c < static_cast<int>(store::kTrapColumns.size()); ++c) {
      EXPECT_EQ(a.At(c), b.At(c)) << store::kTrapColumns[static_cast<size_t>(c)];
    }
  }
  // Clicks into the field, selects what it holds and types `text` over it.
  void Replace(const QString& name, const QString& text) {
    ASSERT_NO_FATAL_FAILURE(Click(name));
    ASSERT_EQ(FocusedName(), name);
    Key(Qt::Key_A, Qt::ControlModifier);
    Type(text);
  }

  tervane::testing::TempDir dir_;
  std::filesystem::path folder_;
  FakeDialogs dialogs_;
  std::unique_ptr<TervixModel> model_;
  std::unique_ptr<MainWindow> window_;
};

// Definitions trap1, trap2, ... with OIDs of their own, 1 to 14 variables and numbers from 1000.
inline std::string DefinitionName(int i) { return "trap" + std::to_string(i); }

inline std::vector<TestDefinition> Definitions(int count) {
  std::vector<TestDefinition> definitions;
  for (int i = 1; i <= count; ++i) {
    definitions.push_back({DefinitionName(i), "1.3.6.1.4.1.32473.7.0." + std::to_string(i), 2,
                           1 + (i - 1) % kVarRows, 1000 + 100 * ((i - 1) % 30)});
  }
  return definitions;
}

// The window on a model, with what it shows compared to the model's state.
class MainWindowTest : public WindowTest {
 protected:
  // The fields show the model's texts, the lists its hidden values, and the variable rows up
  // to usable_rows() are the usable ones.
  void ExpectShowsModel() {
    for (QLineEdit* edit : window_->findChildren<QLineEdit*>()) {
      if (edit->objectName() == "txtTrapNewEnterprise" || edit->objectName() == "txtEngineId") {
        continue;
      }
      SCOPED_TRACE(edit->objectName().toStdString());
      const Field field = FieldOf(edit->objectName());
      EXPECT_EQ(edit->text().toStdString(), model_->Text(field));
    }
    const DefinitionFields& d = model_->definition();
    EXPECT_EQ(Find<QComboBox>("cboTrapNewNumber")->currentText().toStdString(), d.TrapNewNumber);
    EXPECT_EQ(Find<QComboBox>("cboTrapNewVarNo")->currentText().toStdString(), d.TrapNewVarNo);
    for (int i = 1; i <= kVarRows; ++i) {
      const QString n = QString::number(i);
      EXPECT_EQ(Find<QComboBox>("cboVarType" + n)->currentText().toStdString(), d.vars[i].VarType)
          << i;
      const bool usable = i <= model_->usable_rows();
      for (const char* column : {"cmdVar", "txtVarName", "txtVarPos", "txtVarChar", "cboVarType"}) {
        EXPECT_EQ(Find<QWidget>(column + n)->isEnabled(), usable) << (column + n).toStdString();
      }
    }
    auto* list = Find<QListWidget>("lbxTrapName");
    ASSERT_EQ(list->count(), static_cast<int>(model_->trap_names().size()));
    for (int i = 0; i < list->count(); ++i) {
      EXPECT_EQ(list->item(i)->text().toStdString(), model_->trap_names()[i]);
    }
    EXPECT_EQ(list->currentRow(), model_->selected());
    const QList<QListWidgetItem*> selected = list->selectedItems();
    EXPECT_EQ(selected.size(), model_->selected() >= 0 ? 1 : 0);
    EXPECT_EQ(Page(), model_->page());
  }

  static Field FieldOf(const QString& name) {
    static const std::pair<const char*, FieldKind> kFixed[] = {
        {"txtTrapRecvIpAddr", FieldKind::kTrapRecvIpAddr},
        {"txtTrapRecvPort", FieldKind::kTrapRecvPort},
        {"txtTrapForwIpAddr", FieldKind::kTrapForwIpAddr},
        {"txtTrapForwPort", FieldKind::kTrapForwPort},
        {"txtTrapOID", FieldKind::kTrapOID},
        {"txtTrapSourceVarNo", FieldKind::kTrapSourceVarNo},
        {"txtValToSplit", FieldKind::kValToSplit},
        {"txtStormPerMinute", FieldKind::kStormPerMinute},
        {"txtStormBurst", FieldKind::kStormBurst}};
    for (const auto& [fixed, kind] : kFixed) {
      if (name == fixed) return {kind};
    }
    for (const auto& [prefix, kind] :
         {std::pair{"txtVarName", FieldKind::kVarName}, std::pair{"txtVarPos", FieldKind::kVarPos},
          std::pair{"txtVarChar", FieldKind::kVarChar}}) {
      if (name.startsWith(prefix)) return {kind, name.mid(QString(prefix).size()).toInt()};
    }
    ADD_FAILURE() << "no field behind " << name.toStdString();
    return {FieldKind::kTrapOID};
  }

  // The sample's character boundary `position` as a point to click or drag to: the middle
  // of the stretch of the box that puts the caret there.
  QPoint SamplePoint(int position) {
    QLineEdit* sample = Edit("txtValToSplit");
    const int y = sample->height() / 2;
    int first = -1;
    int last = -1;
    for (int x = 0; x < sample->width(); ++x) {
      if (sample->cursorPositionAt(QPoint(x, y)) == position) {
        if (first < 0) first = x;
        last = x;
      }
    }
    EXPECT_GE(first, 0) << "position " << position << " is not on the screen";
    return {(first + last) / 2, y};
  }
};

}  // namespace tervane::config::testing

#endif  // TERVANE_CONFIG_WINDOW_TEST_FIXTURE_H_
