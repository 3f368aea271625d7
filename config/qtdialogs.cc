#include "config/qtdialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

#include "config/addnewdialog.h"
#include "config/stationdialog.h"
#include "config/v3userdialog.h"

namespace tervane::config {

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& title,
                                            Icon icon, QMessageBox::StandardButtons buttons,
                                            QWidget* parent) {
  QMessageBox::Icon shown = QMessageBox::Information;
  switch (icon) {
    case Icon::kInformation:
      shown = QMessageBox::Information;
      break;
    case Icon::kExclamation:
      shown = QMessageBox::Warning;
      break;
    case Icon::kCritical:
      shown = QMessageBox::Critical;
      break;
    case Icon::kQuestion:
      shown = QMessageBox::Question;
      break;
  }
  auto box = std::make_unique<QMessageBox>(shown, QString::fromStdString(title),
                                           QString::fromStdString(text), buttons, parent);
  // Texts are the program's own words and the store's errors: never markup.
  box->setTextFormat(Qt::PlainText);
  return box;
}

QWidget* QtDialogs::Owner() const {
  QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr ? modal : parent_;
}

void QtDialogs::Inform(const std::string& text, const std::string& title, Icon icon) {
  MakeMessageBox(text, title, icon, QMessageBox::Ok, Owner())->exec();
}

bool QtDialogs::AskYesNo(const std::string& text, const std::string& title, Icon icon) {
  std::unique_ptr<QMessageBox> box =
      MakeMessageBox(text, title, icon, QMessageBox::Yes | QMessageBox::No, Owner());
  box->setDefaultButton(QMessageBox::Yes);
  return box->exec() == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::AskNewTrapName() {
  if (model_ == nullptr) return std::nullopt;
  AddNewDialog dialog(*model_, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.name().toStdString();
}

void QtDialogs::EditStation(const std::string& title, const StationFields& fields,
                            const StationAccept& accept) {
  RunStationDialog(parent_, title, fields, accept);
}

void QtDialogs::EditV3User(const V3UserDialogSetup& setup, const V3UserAccept& accept) {
  RunV3UserDialog(parent_, setup, accept);
}

std::optional<std::string> QtDialogs::AskSaveFile(const std::string& title,
                                                  const std::string& suggested) {
  const QString path = QFileDialog::getSaveFileName(parent_, QString::fromStdString(title),
                                                    QString::fromStdString(suggested),
                                                    "MIB modules (*.mib);;All files (*)");
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void QtDialogs::OpenFile(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace tervane::config
