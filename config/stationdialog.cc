#include "config/stationdialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "config/window_widgets.h"

namespace tervane::config {

StationDialog::StationDialog(const std::string& title, const StationFields& fields,
                             StationAccept accept, QWidget* parent)
    : QDialog(parent), accept_(std::move(accept)) {
  setObjectName("frmStation");
  setWindowTitle(Q(title));

  txtAddress_ = new QLineEdit(Q(fields.address), this);
  txtAddress_->setObjectName("txtStationIpAddr");
  txtAddress_->setAccessibleName("Further Station: IP Address");
  txtAddress_->setAccessibleDescription("An IPv4 or IPv6 address");
  MakeAddressField(txtAddress_);
  txtPort_ = new QLineEdit(Q(fields.port), this);
  txtPort_->setObjectName("txtStationPort");
  txtPort_->setAccessibleName("Further Station: Port");
  FixWidth(txtPort_, 6);
  chkConvV2ToV1_ = new QCheckBox("Con&vert SNMPv2 to SNMPv1", this);
  chkConvV2ToV1_->setObjectName("chkStationConvV2ToV1");
  chkConvV2ToV1_->setChecked(fields.to_v1);
  txtCommunity_ = new QLineEdit(Q(fields.community), this);
  txtCommunity_->setObjectName("txtStationCommunity");
  txtCommunity_->setAccessibleName("Further Station: Community");
  txtCommunity_->setAccessibleDescription("Empty: the trap's own community string");
  FixWidth(txtCommunity_, 20);
  auto* community_hint = new QLabel("Empty: the trap's own community string.", this);
  community_hint->setEnabled(false);
  chkEnabled_ = new QCheckBox("&Enabled", this);
  chkEnabled_->setObjectName("chkStationEnabled");
  chkEnabled_->setChecked(fields.enabled);

  auto* grid = new QGridLayout;
  grid->addWidget(MakeLabel(this, "IP &Address:", txtAddress_), 0, 0);
  grid->addWidget(txtAddress_, 0, 1, Qt::AlignLeft);
  grid->addWidget(MakeLabel(this, "&Port:", txtPort_), 1, 0);
  grid->addWidget(txtPort_, 1, 1, Qt::AlignLeft);
  grid->addWidget(chkConvV2ToV1_, 2, 0, 1, 2);
  grid->addWidget(MakeLabel(this, "Co&mmunity:", txtCommunity_), 3, 0);
  grid->addWidget(txtCommunity_, 3, 1, Qt::AlignLeft);
  grid->addWidget(community_hint, 4, 1);
  grid->addWidget(chkEnabled_, 5, 0, 1, 2);
  grid->setColumnStretch(1, 1);

  QPushButton* ok = MakeButton(this, "cmdOK", "&OK");
  ok->setDefault(true);
  QPushButton* cancel = MakeButton(this, "cmdCancel", "&Cancel");
  connect(ok, &QPushButton::clicked, this, &StationDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  // Reading order; the focus starts on the address.
  setTabOrder(txtAddress_, txtPort_);
  setTabOrder(txtPort_, chkConvV2ToV1_);
  setTabOrder(chkConvV2ToV1_, txtCommunity_);
  setTabOrder(txtCommunity_, chkEnabled_);
  setTabOrder(chkEnabled_, ok);
  setTabOrder(ok, cancel);
  txtAddress_->setFocus(Qt::OtherFocusReason);
}

StationFields StationDialog::fields() const {
  StationFields f;
  f.address = txtAddress_->text().toStdString();
  f.port = txtPort_->text().toStdString();
  f.to_v1 = chkConvV2ToV1_->isChecked();
  f.community = txtCommunity_->text().toStdString();
  f.enabled = chkEnabled_->isChecked();
  return f;
}

QWidget* StationDialog::FieldWidget(StationField field) const {
  switch (field) {
    case StationField::kAddress:
      return txtAddress_;
    case StationField::kPort:
      return txtPort_;
    case StationField::kToV1:
      return chkConvV2ToV1_;
    case StationField::kCommunity:
      return txtCommunity_;
    case StationField::kEnabled:
      break;
  }
  return chkEnabled_;
}

void StationDialog::accept() {
  const StationVerdict verdict = accept_ ? accept_(fields()) : StationVerdict{};
  if (verdict.close) {
    QDialog::accept();
    return;
  }
  FocusRefusedField(FieldWidget(verdict.focus));
}

void RunStationDialog(QWidget* parent, const std::string& title, const StationFields& fields,
                      const StationAccept& accept) {
  StationDialog dialog(title, fields, accept, parent);
  dialog.exec();
}

}  // namespace tervane::config
