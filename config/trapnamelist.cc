#include "config/trapnamelist.h"

#include <QMouseEvent>

namespace tervane::config {

TrapNameList::TrapNameList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  // A selection changed by other means than the mouse and the keyboard (a screen reader's
  // selection, say) is asked afterwards; the owner's answer sets it back when refused.
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    const QList<QListWidgetItem*> selected = selectedItems();
    if (showing_ || !ask_ || selected.isEmpty()) return;
    ask_(row(selected.front()));
  });
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
  // A choice is a press of the mouse or a key, or a search typed on the keyboard (no event).
  // Releasing the mouse or dragging across entries chooses nothing more, and the list never
  // loses its selection to the user (a Ctrl+click on the selected entry would deselect it).
  const bool choice = event == nullptr || event->type() == QEvent::MouseButtonPress ||
                      event->type() == QEvent::KeyPress;
  if (!choice || wanted == QItemSelectionModel::NoUpdate || !index.isValid() ||
      wanted.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) {
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
