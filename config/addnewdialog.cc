#include "config/addnewdialog.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tervane::config {

AddNewDialog::AddNewDialog(TervixModel& model, QWidget* parent) : QDialog(parent), model_(model) {
  setObjectName("frmAddNewTrap");
  setWindowTitle("Add New");

  auto* trap = new QGroupBox("Trap", this);
  txtName_ = new QLineEdit(trap);
  txtName_->setObjectName("txtName");
  txtName_->setMaxLength(kTrapNameLength);
  const QFontMetrics metrics(txtName_->font());
  txtName_->setMinimumWidth(metrics.horizontalAdvance(QString(kTrapNameLength, QChar('n'))));
  txtName_->installEventFilter(this);
  auto* name_label = new QLabel("Name:", trap);
  name_label->setBuddy(txtName_);
  auto* trap_layout = new QHBoxLayout(trap);
  trap_layout->addWidget(name_label);
  trap_layout->addWidget(txtName_, 1);

  cmdOK_ = new QPushButton("&OK", this);
  cmdOK_->setObjectName("cmdOK");
  cmdOK_->setDefault(true);
  cmdCancel_ = new QPushButton("&Cancel", this);
  cmdCancel_->setObjectName("cmdCancel");
  connect(cmdOK_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK_);
  buttons->addWidget(cmdCancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(trap);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AddNewDialog::name() const { return txtName_->text(); }

bool AddNewDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtName_ && event->type() == QEvent::FocusOut) {
    // Only a move to another control of the dialog leaves the field, not the message box
    // that the warning itself opens.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
        reason != Qt::MenuBarFocusReason) {
      model_.AddNewNameLeft(txtName_->text().toStdString());
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tervane::config
