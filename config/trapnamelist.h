// The definition list "Trap Name:". Selecting another entry stores the shown definition first,
// which can be refused, so the list asks before its selection changes: every change the user
// makes with the mouse or the keyboard passes through selectionCommand(), where the list asks
// its owner and changes nothing itself. A selection changed any other way (through the
// accessibility bus) is asked about once it has changed. The owner shows the answer by setting
// the selection inside ShowSelection(), which is never asked about.
#ifndef TERVANE_CONFIG_TRAPNAMELIST_H_
#define TERVANE_CONFIG_TRAPNAMELIST_H_

#include <QListWidget>
#include <functional>

namespace tervane::config {

class TrapNameList : public QListWidget {
  Q_OBJECT

 public:
  explicit TrapNameList(QWidget* parent = nullptr);

  // Called with the row the user asked for, before anything changes; the owner decides and
  // shows the outcome with ShowSelection().
  void SetAsk(std::function<void(int row)> ask) { ask_ = std::move(ask); }
  // Selects `row` (-1: none) and makes it current, without asking.
  void ShowSelection(int row);

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::function<void(int row)> ask_;
  bool showing_ = false;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_TRAPNAMELIST_H_
