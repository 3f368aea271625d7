// QtDialogs' message boxes: the title, text and icon asked for, and which button means yes.
#include "config/qtdialogs.h"

#include <QAbstractButton>

#include "config/window_test_fixture.h"

namespace tervane::config::testing {
namespace {

TEST(QtDialogs, InformShowsTitleTextAndIcon) {
  const std::pair<Icon, QMessageBox::Icon> cases[] = {
      {Icon::kInformation, QMessageBox::Information},
      {Icon::kExclamation, QMessageBox::Warning},
      {Icon::kCritical, QMessageBox::Critical},
      {Icon::kQuestion, QMessageBox::Question},
  };
  QtDialogs dialogs;
  for (const auto& [icon, shown] : cases) {
    SCOPED_TRACE(static_cast<int>(icon));
    bool seen = false;
    const std::unique_ptr<QTimer> driver = WhenModalShown([&seen, shown = shown](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      seen = true;
      EXPECT_EQ(box->windowTitle(), "Tervix");
      // Plain text: a store error that looks like markup is shown as it is.
      EXPECT_EQ(box->text(), "Port <b>0</b> refused");
      EXPECT_EQ(box->textFormat(), Qt::PlainText);
      EXPECT_EQ(box->icon(), shown);
      ASSERT_EQ(box->buttons().size(), 1);
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    dialogs.Inform("Port <b>0</b> refused", "Tervix", icon);
    EXPECT_TRUE(seen);
  }
}

TEST(QtDialogs, AskYesNoIsTrueOnlyForYes) {
  enum class Way { kClickYes, kClickNo, kEscape, kEnter };
  const std::pair<Way, bool> cases[] = {
      {Way::kClickYes, true}, {Way::kClickNo, false}, {Way::kEscape, false}, {Way::kEnter, true}};
  QtDialogs dialogs;
  for (const auto& [way, expected] : cases) {
    SCOPED_TRACE(static_cast<int>(way));
    const std::unique_ptr<QTimer> driver = WhenModalShown([way = way](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), "Discard the changes?");
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      ASSERT_EQ(box->buttons().size(), 2);
      switch (way) {
        case Way::kClickYes:
          QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
          break;
        case Way::kClickNo:
          QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
          break;
        case Way::kEscape:
          QTest::keyClick(box, Qt::Key_Escape);
          break;
        case Way::kEnter:
          QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
          break;
      }
    });
    EXPECT_EQ(dialogs.AskYesNo("Discard the changes?", "Tervix", Icon::kQuestion), expected);
  }
}

// Without a model (before it is opened) there is no dialog to show.
TEST(QtDialogs, NoNameAskedBeforeTheModelExists) {
  QtDialogs dialogs;
  EXPECT_EQ(dialogs.AskNewTrapName(), std::nullopt);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace tervane::config::testing
