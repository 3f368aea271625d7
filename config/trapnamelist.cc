#include "config/trapnamelist.h"

#include <QMouseEvent>

namespace tervane::config {

TrapNameList::TrapNameList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
}

void TrapNameList::ShowSelection(int row) {
  showing_ = true;
  if (row < 0 || row >= count()) {
    clearSelection();
    setCurrentIndex(QModelIndex());
  } else if (currentRow() != row || !item(row)->isSelected()) {
    setCurrentRow(row);
  }
  showing_ = false;
}

QItemSelectionModel::SelectionFlags TrapNameList::selectionCommand(const QModelIndex& index,
                                                                   const QEvent* event) const {
  const QItemSelectionModel::SelectionFlags wanted = QListWidget::selectionCommand(index, event);
  if (showing_) return wanted;
  // The list never loses its selection to the user (a Ctrl+click on the selected entry
  // would deselect it), and a drag across entries is not a choice of one.
  if (wanted == QItemSelectionModel::NoUpdate || !index.isValid() ||
      wanted.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle) ||
      (event != nullptr && event->type() == QEvent::MouseMove)) {
    return QItemSelectionModel::NoUpdate;
  }
  const QList<QListWidgetItem*> selected = selectedItems();
  if (!selected.isEmpty() && row(selected.front()) == index.row()) return wanted;
  if (ask_) ask_(index.row());
  return QItemSelectionModel::NoUpdate;
}

void TrapNameList::mousePressEvent(QMouseEvent* event) {
  QListWidget::mousePressEvent(event);
  // The press made the clicked entry current whatever the answer; the keyboard goes on from
  // the selected one.
  const QList<QListWidgetItem*> selected = selectedItems();
  if (!selected.isEmpty() && currentItem() != selected.front()) {
    showing_ = true;
    selectionModel()->setCurrentIndex(indexFromItem(selected.front()),
                                      QItemSelectionModel::NoUpdate);
    showing_ = false;
  }
}

}  // namespace tervane::config
