// The "Add New" dialog: its widgets, the warning when its name field is left, and what
// QtDialogs::AskNewTrapName returns for each way out of it.
#include "config/addnewdialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include "config/qtdialogs.h"
#include "config/window_test_fixture.h"

namespace tervane::config::testing {
namespace {

class AddNewDialogTest : public WindowTest {
 protected:
  void ShowDialog() {
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    dialog_ = std::make_unique<AddNewDialog>(*model_);
    dialog_->show();
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get(), kWaitMs));
  }
  template <typename T>
  T* Child(const char* name) {
    T* widget = dialog_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void TearDown() override {
    dialog_.reset();
    WindowTest::TearDown();
  }

  std::unique_ptr<AddNewDialog> dialog_;
};

TEST_F(AddNewDialogTest, Widgets) {
  ASSERT_NO_FATAL_FAILURE(ShowDialog());
  EXPECT_EQ(dialog_->objectName(), "frmAddNewTrap");
  EXPECT_EQ(dialog_->windowTitle(), "Add New");
  auto* name = Child<QLineEdit>("txtName");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->maxLength(), 20);
  EXPECT_EQ(name->text(), "");
  EXPECT_EQ(QApplication::focusWidget(), name);
  const QList<QGroupBox*> groups = dialog_->findChildren<QGroupBox*>();
  ASSERT_EQ(groups.size(), 1);
  EXPECT_EQ(groups[0]->title(), "Trap");
  EXPECT_TRUE(groups[0]->isAncestorOf(name));
  const QList<QLabel*> labels = dialog_->findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), "Name:");
  EXPECT_EQ(labels[0]->buddy(), name);
  auto* ok = Child<QPushButton>("cmdOK");
  auto* cancel = Child<QPushButton>("cmdCancel");
  EXPECT_EQ(ok->text(), "&OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(cancel->text(), "&Cancel");
  EXPECT_FALSE(cancel->isDefault());
}

// Leaving the name field runs the model's check of the first letter; the name stays.
TEST_F(AddNewDialogTest, LeavingTheNameWarnsOfItsFirstLetter) {
  struct Case {
    const char* name;
    bool warned;
  };
  for (const Case& c : {Case{"coldStart", false}, Case{"ColdStart", true}, Case{"9lives", true},
                        Case{"", true}, Case{"z", false}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(ShowDialog());
    QTest::keyClicks(QApplication::focusWidget(), c.name);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Child<QWidget>("cmdOK"));
    if (c.warned) {
      ASSERT_EQ(dialogs_.messages.size(), 1u);
      EXPECT_EQ(dialogs_.messages[0].text, kFirstLetterWarning);
    } else {
      EXPECT_TRUE(dialogs_.messages.empty());
    }
    EXPECT_EQ(dialog_->name(), c.name);
  }
}

TEST_F(AddNewDialogTest, AskNewTrapNameReturnsWhatOkLeaves) {
  enum class Way { kClickOk, kEnter, kClickCancel, kEscape, kCloseBox };
  struct Case {
    const char* name;
    const char* typed;
    Way way;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"ok clicked", "linkUp", Way::kClickOk, "linkUp"},
      {"enter", "linkUp", Way::kEnter, "linkUp"},
      {"ok with nothing typed", "", Way::kClickOk, ""},
      {"cancel clicked", "linkUp", Way::kClickCancel, std::nullopt},
      {"escape", "linkUp", Way::kEscape, std::nullopt},
      {"close box", "linkUp", Way::kCloseBox, std::nullopt},
  };
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  QtDialogs qt_dialogs;
  qt_dialogs.SetModel(model_.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<QTimer> driver = WhenModalShown([&c](QWidget* dialog) {
      EXPECT_EQ(dialog->objectName(), "frmAddNewTrap");
      QTest::keyClicks(QApplication::focusWidget(), c.typed);
      switch (c.way) {
        case Way::kClickOk:
          QTest::mouseClick(dialog->findChild<QWidget*>("cmdOK"), Qt::LeftButton);
          break;
        case Way::kEnter:
          QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
          break;
        case Way::kClickCancel:
          QTest::mouseClick(dialog->findChild<QWidget*>("cmdCancel"), Qt::LeftButton);
          break;
        case Way::kEscape:
          QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
          break;
        case Way::kCloseBox:
          dialog->windowHandle()->close();
          break;
      }
    });
    EXPECT_EQ(qt_dialogs.AskNewTrapName(), c.expected);
  }
}

}  // namespace
}  // namespace tervane::config::testing
