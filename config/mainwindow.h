// The configuration window "Tervane 1.10": four pages (trap definitions, general settings,
// service control, SNMPv3) over the rules of config/tervix_model.h.
//
// The window holds no rule and no state of its own beyond what the widgets need: every user
// action is forwarded to the model, after which ShowModel() shows the model's state again and
// gives the keyboard focus where the model asks for it. Moves that the model may refuse (another
// page, another definition, closing the window) are asked before they happen and happen only
// when the model agrees. While an action of the "Service Control" page waits for the service
// manager, the window shows the page's progress and goes on handling its events; a close asked
// for meanwhile happens once the action has ended.
#ifndef TERVANE_CONFIG_MAINWINDOW_H_
#define TERVANE_CONFIG_MAINWINDOW_H_

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/tervix_model.h"

class QCheckBox;
class QComboBox;
class QFocusEvent;
class QGridLayout;
class QHBoxLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTimer;
class QVBoxLayout;

namespace tervane::config {

class TrapNameList;

// The caption `caption` of a service button with its mnemonic.
QString WithMnemonic(const std::string& caption);

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(TervixModel& model, QWidget* parent = nullptr);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A text field and the model's field behind it.
  struct FieldEdit {
    Field field;
    QLineEdit* edit;
  };
  struct VarRow {
    QPushButton* button;
    QLineEdit* name;
    QLineEdit* pos;
    QLineEdit* chars;
    QComboBox* type;
  };

  QWidget* MakeTrapsPage();
  QWidget* MakeGeneralPage();
  QWidget* MakeServicePage();
  // The page "SNMPv3": the engine ID and the users' list with its buttons.
  QWidget* MakeV3Page();
  // The list "Further Stations" and its buttons, in the frame "Forward Traps To".
  QWidget* MakeStations(QWidget* parent);
  // The list "Sender's address (snmpTrapAddress.0)" with its label, in the same frame.
  QHBoxLayout* MakeSourceAddress(QWidget* parent);
  // The group "Storm Control": its check box, the default rule's rate and burst, and where the
  // rules by trap OID prefix are edited.
  QWidget* MakeStormControl(QWidget* parent);
  // The counters below the service buttons: their heading, the line that says when they were
  // written, and the table.
  void AddCounters(QWidget* page, QVBoxLayout* layout);
  // The seven variable rows first to first + 6, under their headings, in `grid`.
  void AddVarRows(QWidget* parent, QGridLayout* grid, int first);
  void SetTabOrder();
  // The sample's selection (or its caret, with nothing selected) taken as the piece of
  // variable `row`, as "#row" does.
  void TakePiece(int row);
  // The sample's selection as its text widget counts it: where it starts (the caret, with
  // nothing selected) and how long it is.
  std::pair<int, int> SampleSelection() const;
  // The sample's context menu at `at`: the field's own entries, then "Take as variable i" for
  // the variables in use.
  void ShowPieceMenu(const QPoint& at);

  // A line edit named `name` for `field`: typing and focus changes go to the model.
  QLineEdit* MakeField(QWidget* parent, const char* name, Field field);
  // A check box whose state, however it changes, goes to `set`.
  QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text,
                          std::function<void(bool)> set);
  // A pick-only list of the model's entries of `kind` (of variable `row`) whose user choices go
  // to `picked`.
  QComboBox* MakeList(QWidget* parent, const char* name, const QString& accessible_name,
                      ListKind kind, int row,
                      const std::function<void(const std::string&)>& picked);

  // Shows the model's state, then moves the focus where the model asks.
  void ShowModel();
  // Shows the "Service Control" page's state, tab1's and the selected page.
  void ShowServicePage();
  void ShowStations();
  void ShowSourceAddress();
  void ShowV3Users();
  // A user button's action, then the model shown.
  void V3UserClick(void (V3UserList::*click)());
  // Shows the counters as the model last read them, and reads them every 2 s while page 2 is
  // the selected one.
  void ShowCounters();
  // A station button's action, then the model shown.
  void StationClick(void (StationList::*click)());
  // The service page's WaitWithEvents: shows its state, then waits `ms` in 20 ms steps,
  // handling the window's events after each, so that it stays painted and answers.
  void WaitWithEvents(int ms);
  // A click on cmdInstall or cmdStart; `click` is the page's handler.
  void ServiceClick(void (ServicePage::*click)());
  // Closes the window when the user asked for it during a service action.
  void CloseIfAsked();
  void ShowList(QComboBox* combo, ListKind kind, int row, const std::string& value);
  void TakeFocusRequest();
  // The user asks for page `page` or definition `row`; the model decides.
  void AskPage(int page);
  void AskDefinition(int row);
  // The page a key press on the tab bar or the pages asks for, or -1.
  int PageForKey(const QKeyEvent& key, bool on_tab_bar) const;
  void FocusChanged(QLineEdit* edit, const QFocusEvent& event);
  const FieldEdit* FindField(const QObject* edit) const;

  TervixModel& model_;
  // Set while ShowModel() sets the widgets, whose signals are then not the user's.
  bool showing_ = false;
  // The field the model was last told the focus entered, until it is told it left.
  QLineEdit* entered_ = nullptr;
  // The user closed the window while the service page was busy: it closes once that ends.
  bool close_asked_ = false;
  // The model's work has ended: the window closes (and the program ends with status 1).
  bool ending_ = false;

  std::vector<FieldEdit> fields_;
  QLabel* lblReadOnly_ = nullptr;
  QTabWidget* tab1_ = nullptr;
  QPushButton* cmdReadMe_ = nullptr;
  QPushButton* cmdExit_ = nullptr;

  // Page "SNMP Traps".
  TrapNameList* lbxTrapName_ = nullptr;
  QPushButton* cmdAdd_ = nullptr;
  QPushButton* cmdRemove_ = nullptr;
  QLineEdit* txtTrapOID_ = nullptr;
  QPushButton* cmdTrapOID_ = nullptr;
  QLineEdit* txtTrapNewEnterprise_ = nullptr;
  QComboBox* cboTrapNewNumber_ = nullptr;
  QLineEdit* txtTrapSourceVarNo_ = nullptr;
  QComboBox* cboTrapNewVarNo_ = nullptr;
  QLineEdit* txtValToSplit_ = nullptr;
  QPushButton* cmdValToSplit_ = nullptr;
  std::array<VarRow, kVarRows + 1> vars_{};  // 1-based, as the model's rows

  // Page "General Settings".
  QCheckBox* chkDebugMode_ = nullptr;
  QLineEdit* txtTrapRecvIpAddr_ = nullptr;
  QLineEdit* txtTrapRecvPort_ = nullptr;
  QPlainTextEdit* txtTrapRecvStatus_ = nullptr;
  QCheckBox* chkConvV2ToV1_ = nullptr;
  QComboBox* cboAddSourceAddress_ = nullptr;
  QLineEdit* txtTrapForwIpAddr_ = nullptr;
  QLineEdit* txtTrapForwPort_ = nullptr;
  QCheckBox* chkStormControl_ = nullptr;
  QLineEdit* txtStormPerMinute_ = nullptr;
  QLineEdit* txtStormBurst_ = nullptr;
  QPushButton* cmdGenerateMIB_ = nullptr;
  QListWidget* lbxStations_ = nullptr;
  QPushButton* cmdStationAdd_ = nullptr;
  QPushButton* cmdStationEdit_ = nullptr;
  QPushButton* cmdStationRemove_ = nullptr;

  // Page "Service Control".
  QLabel* lblInfo_ = nullptr;
  QProgressBar* pgbInfo_ = nullptr;
  QPushButton* cmdStart_ = nullptr;
  QPushButton* cmdInstall_ = nullptr;
  QLabel* lblCountersWritten_ = nullptr;
  QTableWidget* tblCounters_ = nullptr;
  QTimer* countersTimer_ = nullptr;

  // Page "SNMPv3".
  QLineEdit* txtEngineId_ = nullptr;
  QLabel* lblV3Note_ = nullptr;
  QTableWidget* lstV3Users_ = nullptr;
  QPushButton* cmdAddV3User_ = nullptr;
  QPushButton* cmdEditV3User_ = nullptr;
  QPushButton* cmdRemoveV3User_ = nullptr;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_MAINWINDOW_H_
