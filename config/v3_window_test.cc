// The page "SNMPv3" and the user dialog driven from the keyboard: the mnemonics and the Tab
// key's order, the names a screen reader is told, the privacy list following the
// authentication list however that changes, refusals kept with the focus on the field, the
// passwords cleared on closing; and the page of a file older than SNMPv3.
#include <sqlite3.h>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>

#include "config/window_test_fixture.h"

namespace tervane::config::testing {
namespace {

namespace usm = snmp::usm;

// Each label's buddy and each button has an accessible name that contains the caption the
// user sees (without its mnemonic mark and colon).
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

class V3WindowTest : public WindowTest {
 protected:
  std::vector<store::V3User> Users() const {
    Result<store::Store> db = store::Store::Open(folder_.string());
    Result<std::vector<store::V3UserRow>> rows = db->ReadV3Users();
    Result<std::vector<store::V3User>> users = store::V3UsersFromRows(*rows);
    EXPECT_TRUE(users.ok());
    return users.ok() ? *users : std::vector<store::V3User>();
  }
  QStringList Row(int row) {
    QStringList cells;
    auto* table = Find<QTableWidget>("lstV3Users");
    for (int c = 0; c < table->columnCount(); ++c) cells << table->item(row, c)->text();
    return cells;
  }
  // The refusal of "&OK" with `field` focused and its text kept, then `good` typed over it.
  void ExpectRefused(QWidget* dialog, const char* field, const char* says, const char* good) {
    Key(Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].text.rfind(says, 0), 0u) << dialogs_.messages[0].text;
    dialogs_.messages.clear();
    EXPECT_EQ(FocusedName(), field);
    Type(good);
  }
};

TEST_F(V3WindowTest, UsersAreAddedEditedAndRemovedFromTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ClickTab(kPageV3);
  ASSERT_EQ(Page(), kPageV3);
  EXPECT_EQ(Find<QTabWidget>("tab1")->tabText(kPageV3), "SNMPv3");
  ExpectNamesContainCaptions(Find<QTabWidget>("tab1")->widget(kPageV3));
  QLineEdit* engine = Edit("txtEngineId");
  const std::string stored_engine =
      usm::HexText(store::Store::Open(folder_.string())->ReadEngine()->id);
  EXPECT_EQ(engine->text().toStdString(), stored_engine);
  EXPECT_TRUE(engine->isReadOnly());
  EXPECT_FALSE(Find<QLabel>("lblV3Note")->isVisible());
  Key(Qt::Key_I, Qt::AltModifier);
  EXPECT_EQ(FocusedName(), "txtEngineId");
  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(engine->selectedText().toStdString(), stored_engine);
  for (const char* next : {"lstV3Users", "cmdAddV3User"}) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(FocusedName(), next);
  }
  EXPECT_FALSE(Find<QWidget>("cmdEditV3User")->isEnabled());

  {
    auto driver = WhenModalShown([&](QWidget* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Add SNMPv3 User");
      ExpectNamesContainCaptions(dialog);
      EXPECT_EQ(FocusedName(), "txtV3UserName");
      auto* priv = dialog->findChild<QComboBox*>("cboV3Priv");
      auto* auth = dialog->findChild<QComboBox*>("cboV3Auth");
      EXPECT_FALSE(priv->isEnabled());
      for (const char* next : {"txtV3UserEngineId", "cboV3Auth"}) {
        Key(Qt::Key_Tab);
        EXPECT_EQ(FocusedName(), next);
      }
      // A screen reader's choice is a change of state: privacy can be chosen now.
      auth->setCurrentIndex(static_cast<int>(usm::Auth::kSha256));
      EXPECT_TRUE(priv->isEnabled());
      Key(Qt::Key_R, Qt::AltModifier);
      EXPECT_EQ(FocusedName(), "cboV3Priv");
      Key(Qt::Key_Down);
      Key(Qt::Key_Down);
      EXPECT_EQ(priv->currentText(), "AES");
      Key(Qt::Key_N, Qt::AltModifier);
      Type("ops");
      Key(Qt::Key_P, Qt::AltModifier);
      EXPECT_EQ(FocusedName(), "txtV3AuthPassword");
      EXPECT_EQ(Focused()->property("echoMode").toInt(), QLineEdit::Password);
      Type("short");
      ASSERT_NO_FATAL_FAILURE(
          ExpectRefused(dialog, "txtV3AuthPassword",
                        "SNMPv3 User, Authentication password must be at least 8 characters long.",
                        "maplesyrup"));
      Key(Qt::Key_G, Qt::AltModifier);
      Type("maplesyrup");
      Key(Qt::Key_W, Qt::AltModifier);
      // Typed through the accessibility interface, as a screen reader or input method does.
      QAccessible::queryAccessibleInterface(Focused())->setText(QAccessible::Value, "privacy-pass");
      Key(Qt::Key_I, Qt::AltModifier);
      Type("privacy-pasS");
      ASSERT_NO_FATAL_FAILURE(
          ExpectRefused(dialog, "txtV3PrivAgain", "The passwords do not match.", "privacy-pass"));
      Key(Qt::Key_Return);
    });
    Key(Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([this] { return dialogs_.v3_users_asked == 1; }, kWaitMs));
  }
  EXPECT_TRUE(dialogs_.messages.empty());
  ASSERT_EQ(Users().size(), 1u);
  EXPECT_EQ(Users()[0].auth_key, usm::PasswordToKey(usm::Auth::kSha256, "maplesyrup"));
  EXPECT_EQ(Users()[0].priv_key, usm::PasswordToKey(usm::Auth::kSha256, "privacy-pass"));
  EXPECT_EQ(Row(0), QStringList({"ops", "any", "authPriv", "SHA-256", "AES"}));
  // The offscreen platform gives the window back its activation only when asked.
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), kWaitMs));
  ASSERT_EQ(FocusedName(), "lstV3Users");

  // Editing: no password is shown; another hash says both are needed again; Escape keeps all.
  {
    auto driver = WhenModalShown([&](QWidget* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Edit SNMPv3 User");
      EXPECT_EQ(dialog->findChild<QLineEdit*>("txtV3UserName")->text(), "ops");
      EXPECT_TRUE(dialog->findChild<QLineEdit*>("txtV3AuthPassword")->text().isEmpty());
      auto* changed = dialog->findChild<QLabel*>("lblV3AuthChanged");
      EXPECT_FALSE(changed->isVisible());
      Key(Qt::Key_A, Qt::AltModifier);
      Key(Qt::Key_Up);
      EXPECT_TRUE(changed->isVisible());
      Key(Qt::Key_Escape);
    });
    Key(Qt::Key_D, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([this] { return dialogs_.v3_users_asked == 2; }, kWaitMs));
  }
  ASSERT_EQ(Users().size(), 1u);
  EXPECT_EQ(Users()[0].auth, usm::Auth::kSha256);
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), kWaitMs));

  dialogs_.answer_yes = true;
  Key(Qt::Key_R, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !dialogs_.questions.empty(); }, kWaitMs));
  EXPECT_EQ(dialogs_.questions[0].text.rfind("Remove the SNMPv3 user ops (any engine)?", 0), 0u);
  EXPECT_TRUE(Users().empty());
  EXPECT_EQ(Find<QTableWidget>("lstV3Users")->rowCount(), 0);
  ASSERT_NO_FATAL_FAILURE(ClickExit());
}

// However the dialog closes, the passwords typed are gone from it.
TEST_F(V3WindowTest, TheDialogKeepsNoPassword) {
  for (bool ok : {true, false}) {
    V3UserDialogSetup setup{kAddV3UserTitle, {}, std::nullopt};
    setup.fields.auth = usm::Auth::kMd5;
    V3UserDialog dialog(setup, [](const V3UserFields&) { return V3UserVerdict{}; });
    QLineEdit* password = dialog.findChild<QLineEdit*>("txtV3AuthPassword");
    QLineEdit* again = dialog.findChild<QLineEdit*>("txtV3AuthAgain");
    password->setText("maplesyrup");
    again->setText("maplesyrup");
    if (ok) {
      dialog.accept();
    } else {
      dialog.reject();
    }
    EXPECT_TRUE(password->text().isEmpty()) << ok;
    EXPECT_TRUE(again->text().isEmpty()) << ok;
  }
}

// Read-only: the users are listed and the engine ID can be copied; nothing changes them.
TEST_F(V3WindowTest, ReadOnlyListsTheUsersAndChangesNone) {
  store::V3User user;
  user.name = "noc";
  user.engine_id = {0x80, 0x00, 0x00, 0x09, 0x03};
  user.auth = usm::Auth::kMd5;
  user.auth_key = usm::PasswordToKey(usm::Auth::kMd5, "maplesyrup");
  ASSERT_TRUE(store::Store::Open(folder_.string())->SetV3User(user).ok());
  ASSERT_NO_FATAL_FAILURE(OpenWindow(/*read_only=*/true));
  ClickTab(kPageV3);
  ASSERT_EQ(Page(), kPageV3);
  EXPECT_EQ(Row(0), QStringList({"noc", "8000000903", "authNoPriv", "MD5", "None"}));
  EXPECT_TRUE(Edit("txtEngineId")->isEnabled());
  for (const char* name : {"cmdAddV3User", "cmdEditV3User", "cmdRemoveV3User"}) {
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  }
  Find<QWidget>("lstV3Users")->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Down);
  Key(Qt::Key_Return);
  Key(Qt::Key_R, Qt::AltModifier);
  EXPECT_EQ(dialogs_.v3_users_asked, 0);
  EXPECT_TRUE(dialogs_.questions.empty());
  EXPECT_EQ(Users().size(), 1u);
}

// A file of version 3 opened read-only: the page says so, and nothing on it can be used.
TEST_F(V3WindowTest, AnOlderFileShowsThePageDisabled) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((folder_ / "Tervix.mdb").c_str(), &raw), SQLITE_OK);
  EXPECT_EQ(
      sqlite3_exec(raw, "DROP TABLE SnmpV3User; DROP TABLE SnmpEngine; PRAGMA user_version = 3",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(raw);
  ASSERT_NO_FATAL_FAILURE(OpenWindow(/*read_only=*/true));
  ClickTab(kPageV3);
  ASSERT_EQ(Page(), kPageV3);
  EXPECT_TRUE(Find<QLabel>("lblV3Note")->isVisible());
  EXPECT_TRUE(Find<QLabel>("lblV3Note")->text().contains("schema version 3"));
  for (const char* name :
       {"txtEngineId", "lstV3Users", "cmdAddV3User", "cmdEditV3User", "cmdRemoveV3User"}) {
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  }
  ASSERT_NO_FATAL_FAILURE(ClickExit());
}

}  // namespace
}  // namespace tervane::config::testing
