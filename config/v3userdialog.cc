#include "config/v3userdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <utility>

#include "config/window_widgets.h"

namespace tervane::config {
namespace {

namespace usm = snmp::usm;

QLineEdit* MakePasswordField(QWidget* parent, const char* name, const QString& accessible_name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setAccessibleName(accessible_name);
  edit->setEchoMode(QLineEdit::Password);
  FixWidth(edit, 24);
  return edit;
}

QComboBox* MakeProtocolList(QWidget* parent, const char* name, const QString& accessible_name) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(false);
  combo->setAccessibleName(accessible_name);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  return combo;
}

// A hint under a field, in the shade of a disabled label as the station dialog's.
QLabel* MakeHint(QWidget* parent, const QString& text) {
  auto* hint = new QLabel(text, parent);
  hint->setEnabled(false);
  hint->setWordWrap(true);
  return hint;
}

}  // namespace

V3UserDialog::V3UserDialog(const V3UserDialogSetup& setup, V3UserAccept accept, QWidget* parent)
    : QDialog(parent), accept_(std::move(accept)), stored_auth_(setup.stored_auth) {
  setObjectName("frmV3User");
  setWindowTitle(Q(setup.title));
  const V3UserFields& f = setup.fields;

  txtName_ = new QLineEdit(Q(f.name), this);
  txtName_->setObjectName("txtV3UserName");
  txtName_->setAccessibleName("SNMPv3 User: User name");
  FixWidth(txtName_, 24);
  txtEngineId_ = new QLineEdit(Q(f.engine_id), this);
  txtEngineId_->setObjectName("txtV3UserEngineId");
  txtEngineId_->setAccessibleName("SNMPv3 User: Engine ID");
  txtEngineId_->setAccessibleDescription(
      "The engine ID of the one device this user is for, in hex; empty for any engine");
  txtEngineId_->setMaxLength(2 + 2 * static_cast<int>(store::kMaxEngineIdOctets));
  FixWidth(txtEngineId_, 2 * static_cast<int>(store::kMaxEngineIdOctets));

  cboAuth_ = MakeProtocolList(this, "cboV3Auth", "SNMPv3 User: Authentication");
  for (usm::Auth auth : kAuthChoices) cboAuth_->addItem(Q(AuthChoice(auth)));
  cboAuth_->setCurrentIndex(static_cast<int>(f.auth));
  txtAuthPassword_ =
      MakePasswordField(this, "txtV3AuthPassword", "SNMPv3 User: Authentication password");
  txtAuthAgain_ =
      MakePasswordField(this, "txtV3AuthAgain", "SNMPv3 User: Authentication password Again");
  cboPriv_ = MakeProtocolList(this, "cboV3Priv", "SNMPv3 User: Privacy");
  cboPriv_->setAccessibleDescription("Encryption of the messages; only with authentication");
  for (usm::Priv priv : kPrivChoices) cboPriv_->addItem(Q(PrivChoice(priv)));
  cboPriv_->setCurrentIndex(static_cast<int>(f.priv));
  txtPrivPassword_ = MakePasswordField(this, "txtV3PrivPassword", "SNMPv3 User: Privacy password");
  txtPrivAgain_ = MakePasswordField(this, "txtV3PrivAgain", "SNMPv3 User: Privacy password Again");

  auto* grid = new QGridLayout;
  int row = 0;
  auto add = [&](const QString& label, QWidget* field) {
    grid->addWidget(MakeLabel(this, label, field), row, 0);
    grid->addWidget(field, row++, 1, Qt::AlignLeft);
  };
  add("User &name:", txtName_);
  add("&Engine ID:", txtEngineId_);
  grid->addWidget(MakeHint(this,
                           "Empty: any engine. A device's engine ID (hex) binds the user to "
                           "that device alone."),
                  row++, 1);
  add("&Authentication:", cboAuth_);
  add("Authentication &password:", txtAuthPassword_);
  add("A&gain:", txtAuthAgain_);
  add("P&rivacy:", cboPriv_);
  add("Privacy pass&word:", txtPrivPassword_);
  add("Aga&in:", txtPrivAgain_);
  const QString rule = "Passwords have at least 8 characters and are never shown again.";
  grid->addWidget(MakeHint(this, setup.stored_auth ? rule + " Leave them empty to keep the "
                                                            "user's keys."
                                                   : rule),
                  row++, 1);
  lblAuthChanged_ = new QLabel(
      "A new authentication protocol needs both passwords again: the privacy key is made with "
      "its hash.",
      this);
  lblAuthChanged_->setObjectName("lblV3AuthChanged");
  lblAuthChanged_->setWordWrap(true);
  grid->addWidget(lblAuthChanged_, row++, 1);
  grid->setColumnStretch(1, 1);

  QPushButton* ok = MakeButton(this, "cmdOK", "&OK");
  ok->setDefault(true);
  QPushButton* cancel = MakeButton(this, "cmdCancel", "&Cancel");
  connect(ok, &QPushButton::clicked, this, &V3UserDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  // Reading order; the focus starts on the name.
  QWidget* order[] = {txtName_,
                      txtEngineId_,
                      cboAuth_,
                      txtAuthPassword_,
                      txtAuthAgain_,
                      cboPriv_,
                      txtPrivPassword_,
                      txtPrivAgain_,
                      ok,
                      cancel};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  // The list's state however it changes: mouse, keyboard, a screen reader.
  connect(cboAuth_, &QComboBox::currentIndexChanged, this, [this] { ShowProtocols(); });
  connect(cboPriv_, &QComboBox::currentIndexChanged, this, [this] { ShowProtocols(); });
  ShowProtocols();
  txtName_->setFocus(Qt::OtherFocusReason);
}

void V3UserDialog::ShowProtocols() {
  const bool authenticates = cboAuth_->currentIndex() > 0;
  const bool encrypts = authenticates && cboPriv_->currentIndex() > 0;
  txtAuthPassword_->setEnabled(authenticates);
  txtAuthAgain_->setEnabled(authenticates);
  cboPriv_->setEnabled(authenticates);
  txtPrivPassword_->setEnabled(encrypts);
  txtPrivAgain_->setEnabled(encrypts);
  lblAuthChanged_->setVisible(stored_auth_ && authenticates &&
                              static_cast<int>(*stored_auth_) != cboAuth_->currentIndex());
}

V3UserFields V3UserDialog::fields() const {
  V3UserFields f;
  f.name = txtName_->text().toStdString();
  f.engine_id = txtEngineId_->text().trimmed().toStdString();
  f.auth = kAuthChoices[static_cast<size_t>(std::max(cboAuth_->currentIndex(), 0))];
  f.auth_password = txtAuthPassword_->text().toStdString();
  f.auth_again = txtAuthAgain_->text().toStdString();
  f.priv = kPrivChoices[static_cast<size_t>(std::max(cboPriv_->currentIndex(), 0))];
  f.priv_password = txtPrivPassword_->text().toStdString();
  f.priv_again = txtPrivAgain_->text().toStdString();
  return f;
}

QWidget* V3UserDialog::FieldWidget(V3UserField field) const {
  switch (field) {
    case V3UserField::kName:
      return txtName_;
    case V3UserField::kEngineId:
      return txtEngineId_;
    case V3UserField::kAuth:
      return cboAuth_;
    case V3UserField::kAuthPassword:
      return txtAuthPassword_;
    case V3UserField::kAuthAgain:
      return txtAuthAgain_;
    case V3UserField::kPriv:
      return cboPriv_;
    case V3UserField::kPrivPassword:
      return txtPrivPassword_;
    case V3UserField::kPrivAgain:
      break;
  }
  return txtPrivAgain_;
}

void V3UserDialog::accept() {
  const V3UserVerdict verdict = accept_ ? accept_(fields()) : V3UserVerdict{};
  if (verdict.close) {
    QDialog::accept();
    return;
  }
  FocusRefusedField(FieldWidget(verdict.focus));
}

void V3UserDialog::done(int result) {
  for (QLineEdit* edit : {txtAuthPassword_, txtAuthAgain_, txtPrivPassword_, txtPrivAgain_}) {
    edit->clear();
  }
  QDialog::done(result);
}

void RunV3UserDialog(QWidget* parent, const V3UserDialogSetup& setup, const V3UserAccept& accept) {
  V3UserDialog dialog(setup, accept, parent);
  dialog.exec();
}

}  // namespace tervane::config
