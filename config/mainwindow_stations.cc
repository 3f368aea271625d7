// The list "Further Stations" of the page "General Settings", and the counters of the page
// "Service Control".
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <initializer_list>

#include "config/mainwindow.h"
#include "config/window_widgets.h"

namespace tervane::config {

QWidget* MainWindow::MakeStations(QWidget* parent) {
  auto* box = new QWidget(parent);
  lbxStations_ = new QListWidget(box);
  lbxStations_->setObjectName("lbxStations");
  lbxStations_->setAccessibleName("Further Stations");
  lbxStations_->setAccessibleDescription(
      "Management stations that the service sends every trap to besides the first one");
  lbxStations_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Six entries high, the rest scrolled; the page's spare height goes below the last control.
  // As wide as a long entry, so that entries are not cut at the window's smallest.
  const QFontMetrics metrics(lbxStations_->font());
  const int frame = 2 * lbxStations_->frameWidth() + 4;
  lbxStations_->setFixedHeight(metrics.lineSpacing() * 6 + frame);
  lbxStations_->setMinimumWidth(
      metrics.horizontalAdvance(
          QString("255.255.255.255:65535  SNMPv1  community \"public\"  (disabled)")) +
      frame + lbxStations_->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  lbxStations_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  // The selection however it changes: mouse, arrow keys, a screen reader.
  connect(lbxStations_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (showing_) return;
    model_.stations().Select(row);
    ShowModel();
  });
  // Enter or a double click on an entry edits it.
  connect(lbxStations_, &QListWidget::itemActivated, this,
          [this] { StationClick(&StationList::cmdStationEdit_Click); });

  cmdStationAdd_ = MakeButton(box, "cmdStationAdd", "A&dd...");
  cmdStationEdit_ = MakeButton(box, "cmdStationEdit", "Ed&it...");
  cmdStationRemove_ = MakeButton(box, "cmdStationRemove", "Remo&ve");
  cmdStationAdd_->setAccessibleName("Add... further station");
  cmdStationEdit_->setAccessibleName("Edit... further station");
  cmdStationRemove_->setAccessibleName("Remove further station");
  connect(cmdStationAdd_, &QPushButton::clicked, this,
          [this] { StationClick(&StationList::cmdStationAdd_Click); });
  connect(cmdStationEdit_, &QPushButton::clicked, this,
          [this] { StationClick(&StationList::cmdStationEdit_Click); });
  connect(cmdStationRemove_, &QPushButton::clicked, this,
          [this] { StationClick(&StationList::cmdStationRemove_Click); });

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {cmdStationAdd_, cmdStationEdit_, cmdStationRemove_}) {
    buttons->addWidget(button);
  }
  buttons->addStretch();
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  // As high as the list: a taller frame would only float the list in spare room.
  box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  layout->addWidget(lbxStations_, 0, Qt::AlignTop);
  layout->addLayout(buttons);
  layout->addStretch();
  return box;
}

void MainWindow::StationClick(void (StationList::*click)()) {
  (model_.stations().*click)();
  ShowModel();
  lbxStations_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ShowStations() {
  const StationList& stations = model_.stations();
  const std::vector<std::string>& entries = stations.entries();
  bool same = lbxStations_->count() == static_cast<int>(entries.size());
  for (int i = 0; same && i < lbxStations_->count(); ++i) {
    same = lbxStations_->item(i)->text() == Q(entries[static_cast<size_t>(i)]);
  }
  if (!same) {
    lbxStations_->clear();
    for (const std::string& entry : entries) lbxStations_->addItem(Q(entry));
  }
  if (lbxStations_->currentRow() != stations.selected()) {
    lbxStations_->setCurrentRow(stations.selected());
  }
  cmdStationAdd_->setEnabled(stations.can_add());
  cmdStationEdit_->setEnabled(stations.can_change());
  cmdStationRemove_->setEnabled(stations.can_change());
}

void MainWindow::AddCounters(QWidget* page, QVBoxLayout* layout) {
  tblCounters_ = new QTableWidget(0, 3, page);
  tblCounters_->setObjectName("tblCounters");
  tblCounters_->setAccessibleName("Counters");
  tblCounters_->setAccessibleDescription("What the service has counted since it started");
  tblCounters_->setHorizontalHeaderLabels({"Counter", "Label", "Value"});
  tblCounters_->verticalHeader()->setVisible(false);
  tblCounters_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblCounters_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblCounters_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Tab leaves the table, as it leaves every other control.
  tblCounters_->setTabKeyNavigation(false);
  tblCounters_->setWordWrap(false);
  tblCounters_->setAlternatingRowColors(true);
  tblCounters_->setShowGrid(false);
  // Rows of one line each, as a list's are.
  const QFontMetrics metrics(tblCounters_->font());
  tblCounters_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  tblCounters_->verticalHeader()->setDefaultSectionSize(metrics.lineSpacing() + 6);
  tblCounters_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // Room for large values from the start, so the table keeps its width as they grow.
  tblCounters_->horizontalHeader()->setMinimumSectionSize(
      metrics.horizontalAdvance(QString(12, QChar('0'))) + 12);
  tblCounters_->horizontalHeader()->setStretchLastSection(false);
  tblCounters_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tblCounters_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
  // As large as its rows, down to a few of them; the spare room goes below it.
  tblCounters_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
  tblCounters_->setMinimumHeight(tblCounters_->fontMetrics().lineSpacing() * 6);
  lblCountersWritten_ = new QLabel(Q(kNoCountersYet), page);
  lblCountersWritten_->setObjectName("lblCountersWritten");
  lblCountersWritten_->setTextFormat(Qt::PlainText);
  lblCountersWritten_->setWordWrap(true);
  layout->addSpacing(6);
  layout->addWidget(MakeLabel(page, "&Counters:", tblCounters_));
  layout->addWidget(lblCountersWritten_);
  layout->addWidget(tblCounters_, 0, Qt::AlignLeft);
  layout->addStretch();

  countersTimer_ = new QTimer(this);
  countersTimer_->setObjectName("countersTimer");
  countersTimer_->setInterval(CountersView::kRefreshMs);
  connect(countersTimer_, &QTimer::timeout, this, [this] {
    model_.counters().Refresh();
    ShowCounters();
  });
}

void MainWindow::ShowCounters() {
  const bool shown = model_.page() == kPageService;
  if (shown && !countersTimer_->isActive()) countersTimer_->start();
  if (!shown) countersTimer_->stop();
  const CountersView& counters = model_.counters();
  if (lblCountersWritten_->text() != Q(counters.written())) {
    lblCountersWritten_->setText(Q(counters.written()));
  }
  const std::vector<CounterLine>& lines = counters.lines();
  const bool resized = tblCounters_->rowCount() != static_cast<int>(lines.size());
  if (resized) tblCounters_->setRowCount(static_cast<int>(lines.size()));
  // Cells are set in place, so a refresh keeps the user's row and scroll position.
  for (int r = 0; r < static_cast<int>(lines.size()); ++r) {
    const CounterLine& line = lines[static_cast<size_t>(r)];
    int c = 0;
    for (const std::string* text : {&line.name, &line.label, &line.value}) {
      QTableWidgetItem* item = tblCounters_->item(r, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        if (c == 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tblCounters_->setItem(r, c, item);
      }
      if (item->text() != Q(*text)) item->setText(Q(*text));
      ++c;
    }
  }
  if (resized) tblCounters_->updateGeometry();
}

}  // namespace tervane::config
