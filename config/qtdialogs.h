// Dialogs answered by the user through Qt: QMessageBox for the messages, AddNewDialog for a
// new definition's name, StationDialog for a further station, V3UserDialog for an SNMPv3 user, and
// the desktop's viewer (QDesktopServices) for files. A message asked for while a dialog is open is
// shown over it.
//
// The dialogs are made before the model (the model is opened with them) and the window after
// it, so both are handed over once they exist; until then the boxes have no parent and the
// "Add New" dialog is not offered.
#ifndef TERVANE_CONFIG_QTDIALOGS_H_
#define TERVANE_CONFIG_QTDIALOGS_H_

#include <QMessageBox>
#include <memory>

#include "config/dialogs.h"

namespace tervane::config {

class TervixModel;

// The message box that Inform (OK) and AskYesNo (Yes, No) show, not yet shown.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& title,
                                            Icon icon, QMessageBox::StandardButtons buttons,
                                            QWidget* parent);

class QtDialogs : public Dialogs {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }
  void SetModel(TervixModel* model) { model_ = model; }

  void Inform(const std::string& text, const std::string& title, Icon icon) override;
  bool AskYesNo(const std::string& text, const std::string& title, Icon icon) override;
  std::optional<std::string> AskNewTrapName() override;
  void EditStation(const std::string& title, const StationFields& fields,
                   const StationAccept& accept) override;
  void EditV3User(const V3UserDialogSetup& setup, const V3UserAccept& accept) override;
  std::optional<std::string> AskSaveFile(const std::string& title,
                                         const std::string& suggested) override;
  void OpenFile(const std::string& path) override;

 private:
  QWidget* parent_ = nullptr;
  TervixModel* model_ = nullptr;

  // The open dialog, else the window.
  QWidget* Owner() const;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_QTDIALOGS_H_
