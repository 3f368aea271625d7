// The modal dialog of an SNMPv3 user (frmV3User): its name, the engine it is bound to (none for
// any), the authentication and privacy protocols and their passwords, each typed twice and
// never shown. "&OK" hands what it holds to the page's rules (config/v3_user_edit.h), which
// store it or refuse a value; after a refusal the dialog stays open with what the user typed
// and the focus on the field to correct. "&Cancel", Escape and the close box store nothing.
// However it closes, the password fields are cleared.
#ifndef TERVANE_CONFIG_V3USERDIALOG_H_
#define TERVANE_CONFIG_V3USERDIALOG_H_

#include <QDialog>
#include <optional>

#include "config/v3_user_edit.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace tervane::config {

class V3UserDialog : public QDialog {
  Q_OBJECT

 public:
  V3UserDialog(const V3UserDialogSetup& setup, V3UserAccept accept, QWidget* parent = nullptr);

  // What the dialog holds.
  V3UserFields fields() const;

  // "&OK" and Enter: closes only when the rules have stored the user.
  void accept() override;
  // Every way of closing: the passwords go first.
  void done(int result) override;

 private:
  QWidget* FieldWidget(V3UserField field) const;
  // What the protocols chosen allow: privacy only with authentication, and the note on a
  // changed authentication protocol.
  void ShowProtocols();

  V3UserAccept accept_;
  std::optional<snmp::usm::Auth> stored_auth_;
  QLineEdit* txtName_ = nullptr;
  QLineEdit* txtEngineId_ = nullptr;
  QComboBox* cboAuth_ = nullptr;
  QLineEdit* txtAuthPassword_ = nullptr;
  QLineEdit* txtAuthAgain_ = nullptr;
  QComboBox* cboPriv_ = nullptr;
  QLineEdit* txtPrivPassword_ = nullptr;
  QLineEdit* txtPrivAgain_ = nullptr;
  QLabel* lblAuthChanged_ = nullptr;
};

// Shows the dialog modally over `parent` until it is closed (Dialogs::EditV3User).
void RunV3UserDialog(QWidget* parent, const V3UserDialogSetup& setup, const V3UserAccept& accept);

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_V3USERDIALOG_H_
