// The modal "Add New" dialog (frmAddNewTrap): asks the name of a new trap definition. When the
// name field loses the focus the model checks the name and warns about it; the name is stored
// whatever the warning, so "&OK" returns what was typed and "&Cancel" or the close box nothing.
#ifndef TERVANE_CONFIG_ADDNEWDIALOG_H_
#define TERVANE_CONFIG_ADDNEWDIALOG_H_

#include <QDialog>

#include "config/tervix_model.h"

class QLineEdit;
class QPushButton;

namespace tervane::config {

class AddNewDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AddNewDialog(TervixModel& model, QWidget* parent = nullptr);

  // What the name field holds.
  QString name() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TervixModel& model_;
  QLineEdit* txtName_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_ADDNEWDIALOG_H_
