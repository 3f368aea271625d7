// The modal dialog of a further station (frmStation): its IP address, port, conversion to
// SNMPv1, community and whether it is enabled. "&OK" hands the texts to the model, which
// stores them or refuses a value; after a refusal the dialog stays open with what the user
// typed and the focus on the field to correct. "&Cancel", Escape and the close box close it
// and store nothing.
#ifndef TERVANE_CONFIG_STATIONDIALOG_H_
#define TERVANE_CONFIG_STATIONDIALOG_H_

#include <QDialog>
#include <string>

#include "config/station_fields.h"

class QCheckBox;
class QLineEdit;

namespace tervane::config {

class StationDialog : public QDialog {
  Q_OBJECT

 public:
  StationDialog(const std::string& title, const StationFields& fields, StationAccept accept,
                QWidget* parent = nullptr);

  // What the dialog holds.
  StationFields fields() const;

  // "&OK" and Enter: closes only when the model has stored the station.
  void accept() override;

 private:
  QWidget* FieldWidget(StationField field) const;

  StationAccept accept_;
  QLineEdit* txtAddress_ = nullptr;
  QLineEdit* txtPort_ = nullptr;
  QCheckBox* chkConvV2ToV1_ = nullptr;
  QLineEdit* txtCommunity_ = nullptr;
  QCheckBox* chkEnabled_ = nullptr;
};

// Shows the dialog modally over `parent` until it is closed (Dialogs::EditStation).
void RunStationDialog(QWidget* parent, const std::string& title, const StationFields& fields,
                      const StationAccept& accept);

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_STATIONDIALOG_H_
