// The page "SNMPv3" of the main window: this relay's engine ID, and the users that the service
// accepts SNMPv3 traps and informs from.
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <initializer_list>

#include "config/mainwindow.h"
#include "config/window_widgets.h"

namespace tervane::config {

QWidget* MainWindow::MakeV3Page() {
  auto* page = new QWidget;
  lblV3Note_ = new QLabel(page);
  lblV3Note_->setObjectName("lblV3Note");
  lblV3Note_->setTextFormat(Qt::PlainText);
  lblV3Note_->setWordWrap(true);

  txtEngineId_ = new QLineEdit(page);
  txtEngineId_->setObjectName("txtEngineId");
  txtEngineId_->setAccessibleName("Engine ID of this relay");
  txtEngineId_->setAccessibleDescription(
      "Read-only; select it to copy it into a router's or a station's configuration");
  // Read-only, but it takes the focus and its text can be selected and copied.
  txtEngineId_->setReadOnly(true);
  Shade(txtEngineId_);
  FixWidth(txtEngineId_, 2 * static_cast<int>(store::kMaxEngineIdOctets));
  auto* engine_note = new QLabel(
      "Routers that send informs to this relay need this engine ID configured for its address. "
      "The command tervane-svc engine --set changes it.",
      page);
  engine_note->setObjectName("lblEngineNote");
  engine_note->setWordWrap(true);

  lstV3Users_ = new QTableWidget(0, static_cast<int>(kV3UserHeadings.size()), page);
  lstV3Users_->setObjectName("lstV3Users");
  lstV3Users_->setAccessibleName("SNMPv3 Users");
  lstV3Users_->setAccessibleDescription(
      "The users that the service accepts SNMPv3 traps and informs from: user, engine, level, "
      "authentication and privacy");
  QStringList headings;
  for (const char* heading : kV3UserHeadings) headings << heading;
  lstV3Users_->setHorizontalHeaderLabels(headings);
  lstV3Users_->verticalHeader()->setVisible(false);
  lstV3Users_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lstV3Users_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstV3Users_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Tab leaves the list, as it leaves every other control.
  lstV3Users_->setTabKeyNavigation(false);
  lstV3Users_->setWordWrap(false);
  lstV3Users_->setShowGrid(false);
  const QFontMetrics metrics(lstV3Users_->font());
  lstV3Users_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lstV3Users_->verticalHeader()->setDefaultSectionSize(metrics.lineSpacing() + 6);
  lstV3Users_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lstV3Users_->horizontalHeader()->setStretchLastSection(true);
  // Room for a user bound to an engine, eight rows high; the page's spare height goes below.
  lstV3Users_->setMinimumWidth(
      metrics.horizontalAdvance(
          QString("alice-operations  80007ed90512345678abcdef01  authPriv  SHA-512  AES-256-C")) +
      48);
  lstV3Users_->setFixedHeight((metrics.lineSpacing() + 6) * 9 + 2 * lstV3Users_->frameWidth());
  // The selection however it changes: mouse, arrow keys, a screen reader.
  connect(lstV3Users_, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (showing_) return;
    model_.v3_users().Select(row);
    ShowModel();
  });
  // Enter or a double click on a user edits it.
  connect(lstV3Users_, &QTableWidget::cellActivated, this,
          [this] { V3UserClick(&V3UserList::cmdEditV3User_Click); });

  // "Edit..." has its key on "d": "&Exit" below the pages has the "E".
  cmdAddV3User_ = MakeButton(page, "cmdAddV3User", "&Add...");
  cmdEditV3User_ = MakeButton(page, "cmdEditV3User", "E&dit...");
  cmdRemoveV3User_ = MakeButton(page, "cmdRemoveV3User", "&Remove");
  cmdAddV3User_->setAccessibleName("Add... SNMPv3 user");
  cmdEditV3User_->setAccessibleName("Edit... SNMPv3 user");
  cmdRemoveV3User_->setAccessibleName("Remove SNMPv3 user");
  connect(cmdAddV3User_, &QPushButton::clicked, this,
          [this] { V3UserClick(&V3UserList::cmdAddV3User_Click); });
  connect(cmdEditV3User_, &QPushButton::clicked, this,
          [this] { V3UserClick(&V3UserList::cmdEditV3User_Click); });
  connect(cmdRemoveV3User_, &QPushButton::clicked, this,
          [this] { V3UserClick(&V3UserList::cmdRemoveV3User_Click); });
  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {cmdAddV3User_, cmdEditV3User_, cmdRemoveV3User_}) {
    buttons->addWidget(button);
  }
  buttons->addStretch();
  // As high as the list: the page's spare height goes below the last line, not beside the
  // list.
  auto* users_box = new QWidget(page);
  users_box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  auto* users = new QHBoxLayout(users_box);
  users->setContentsMargins(0, 0, 0, 0);
  users->addWidget(lstV3Users_, 0, Qt::AlignTop);
  users->addLayout(buttons);
  users->addStretch();

  auto* engine = new QHBoxLayout;
  engine->addWidget(MakeLabel(page, "Engine &ID:", txtEngineId_));
  engine->addWidget(txtEngineId_);
  engine->addStretch();
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(lblV3Note_);
  layout->addLayout(engine);
  layout->addWidget(engine_note);
  layout->addSpacing(6);
  layout->addWidget(MakeLabel(page, "&Users:", lstV3Users_));
  layout->addWidget(users_box);
  auto* restart = new QLabel(
      "The service reads its users when it starts: changes take effect at its next "
      "start. Passwords are never stored, only the keys made from them.",
      page);
  restart->setObjectName("lblV3Restart");
  restart->setWordWrap(true);
  layout->addWidget(restart);
  layout->addStretch();
  return page;
}

void MainWindow::V3UserClick(void (V3UserList::*click)()) {
  (model_.v3_users().*click)();
  ShowModel();
  lstV3Users_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ShowV3Users() {
  const V3UserList& list = model_.v3_users();
  lblV3Note_->setText(Q(list.note()));
  lblV3Note_->setVisible(!list.note().empty());
  if (txtEngineId_->text() != Q(list.engine_id())) txtEngineId_->setText(Q(list.engine_id()));
  const std::vector<std::array<std::string, 5>>& rows = list.rows();
  if (lstV3Users_->rowCount() != static_cast<int>(rows.size())) {
    lstV3Users_->setRowCount(static_cast<int>(rows.size()));
  }
  // Cells are set in place, so that a change keeps the user's scroll position.
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(kV3UserHeadings.size()); ++c) {
      const QString text = Q(rows[static_cast<size_t>(r)][static_cast<size_t>(c)]);
      QTableWidgetItem* item = lstV3Users_->item(r, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        lstV3Users_->setItem(r, c, item);
      }
      if (item->text() != text) item->setText(text);
    }
  }
  if (lstV3Users_->currentRow() != list.selected()) {
    if (list.selected() < 0) {
      lstV3Users_->setCurrentCell(-1, -1);
    } else {
      lstV3Users_->setCurrentCell(list.selected(), 0);
    }
  }
  txtEngineId_->setEnabled(list.available());
  lstV3Users_->setEnabled(list.available());
  cmdAddV3User_->setEnabled(list.can_add());
  cmdEditV3User_->setEnabled(list.can_change());
  cmdRemoveV3User_->setEnabled(list.can_change());
}

}  // namespace tervane::config
