#include "config/mainwindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <initializer_list>

#include "config/accessible_combo.h"
#include "config/trapnamelist.h"
#include "config/window_widgets.h"

namespace tervane::config {

MainWindow::MainWindow(TervixModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setWindowTitle("Tervane 1.10");
  InstallAccessibleInterfaces();
  // The widgets' own signals while they are made and filled are not the user's.
  showing_ = true;

  tab1_ = new QTabWidget(this);
  tab1_->setObjectName("tab1");
  tab1_->addTab(MakeTrapsPage(), "SNMP Traps");
  tab1_->addTab(MakeGeneralPage(), "General Settings");
  tab1_->addTab(MakeServicePage(), "Service Control");
  tab1_->addTab(MakeV3Page(), "SNMPv3");
  // Another page is asked for before it is shown: the tab bar's clicks, keys and wheel, and
  // the pages' Ctrl+Tab, go to the model first.
  tab1_->tabBar()->installEventFilter(this);
  tab1_->installEventFilter(this);
  // Any other way the page could change (assistive technology, say) is asked afterwards, and
  // undone when the model says no.
  connect(tab1_, &QTabWidget::currentChanged, this, [this](int page) {
    if (!showing_ && page != model_.page()) AskPage(page);
  });

  cmdReadMe_ = MakeButton(this, "cmdReadMe", "Read &Me");
  // The key of every program's help, besides the mnemonic.
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, cmdReadMe_, &QPushButton::click);
  cmdExit_ = MakeButton(this, "cmdExit", "&Exit");
  connect(cmdReadMe_, &QPushButton::clicked, this, [this] {
    model_.cmdReadMe_Click();
    ShowModel();
  });
  // The close box and "&Exit" are one way out: closeEvent asks the model.
  connect(cmdExit_, &QPushButton::clicked, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdReadMe_);
  buttons->addWidget(cmdExit_);
  auto* layout = new QVBoxLayout(this);
  // One line at the top says so when the settings cannot be changed here.
  lblReadOnly_ = new QLabel(Q(model_.read_only_notice()), this);
  lblReadOnly_->setObjectName("lblReadOnly");
  lblReadOnly_->setTextFormat(Qt::PlainText);
  lblReadOnly_->setWordWrap(true);
  lblReadOnly_->setVisible(model_.read_only());
  layout->addWidget(lblReadOnly_);
  if (model_.read_only()) {
    for (QWidget* widget :
         {static_cast<QWidget*>(cmdAdd_), static_cast<QWidget*>(chkDebugMode_),
          static_cast<QWidget*>(chkConvV2ToV1_), static_cast<QWidget*>(cboAddSourceAddress_),
          static_cast<QWidget*>(chkStormControl_)}) {
      widget->setEnabled(false);
    }
    // Shaded like the window's other read-only boxes.
    for (const FieldEdit& f : fields_) {
      if (f.field.kind == FieldKind::kValToSplit) continue;
      f.edit->setReadOnly(true);
      Shade(f.edit);
    }
  }
  layout->addWidget(tab1_);
  layout->addLayout(buttons);

  SetTabOrder();
  model_.service_page().SetWaitWithEvents([this](int ms) { WaitWithEvents(ms); });
  showing_ = false;
  ShowModel();
  // The size the layout asks for: a window shown without one gets at most two thirds of the
  // screen, which would squeeze the fields.
  resize(sizeHint());
}

MainWindow::~MainWindow() { model_.service_page().SetWaitWithEvents(nullptr); }

void MainWindow::SetTabOrder() {
  // As a reader's eye goes: the list and its buttons, the definition line by line, the sample,
  // then the variables row by row, the left group before the right one.
  std::vector<QWidget*> order = {lbxTrapName_,      cmdAdd_,
                                 cmdRemove_,        txtTrapOID_,
                                 cmdTrapOID_,       txtTrapNewEnterprise_,
                                 cboTrapNewNumber_, txtTrapSourceVarNo_,
                                 cboTrapNewVarNo_,  txtValToSplit_,
                                 cmdValToSplit_};
  for (int i = 1; i <= kVarRows; ++i) {
    const VarRow& row = vars_[static_cast<size_t>(i)];
    order.insert(order.end(), {row.name, row.pos, row.chars, row.type});
  }
  order.insert(order.end(), {chkDebugMode_,      txtTrapRecvIpAddr_,
                             txtTrapRecvPort_,   txtTrapRecvStatus_,
                             chkConvV2ToV1_,     cboAddSourceAddress_,
                             txtTrapForwIpAddr_, txtTrapForwPort_,
                             lbxStations_,       cmdStationAdd_,
                             cmdStationEdit_,    cmdStationRemove_,
                             chkStormControl_,   txtStormPerMinute_,
                             txtStormBurst_,     cmdGenerateMIB_,
                             cmdStart_,          cmdInstall_,
                             tblCounters_,       txtEngineId_,
                             lstV3Users_,        cmdAddV3User_,
                             cmdEditV3User_,     cmdRemoveV3User_,
                             cmdReadMe_,         cmdExit_});
  for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QLineEdit* MainWindow::MakeField(QWidget* parent, const char* name, Field field) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  fields_.push_back({field, edit});
  // Every change of the text, however made (typing, pasting, an input method, a screen
  // reader), but not the window's own showing of the model.
  connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
    if (showing_) return;
    model_.SetText(field, text.toStdString());
    ShowModel();
  });
  edit->installEventFilter(this);
  return edit;
}

QComboBox* MainWindow::MakeList(QWidget* parent, const char* name, const QString& accessible_name,
                                ListKind kind, int row,
                                const std::function<void(const std::string&)>& picked) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(false);
  combo->setAccessibleName(accessible_name);
  // As wide as the longest entry, always: the window cannot be made so narrow that an entry
  // is cut.
  combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  // The entries from the start, so that the layout is made for them.
  ShowList(combo, kind, row, "");
  // Every change of the entry, by mouse, keyboard or a screen reader; showing a row selects
  // entries without writing.
  connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, picked](int index) {
    if (showing_ || index < 0) return;
    picked(combo->itemText(index).toStdString());
    ShowModel();
  });
  return combo;
}

void MainWindow::ShowModel() {
  const bool was_showing = showing_;
  showing_ = true;
  if (tab1_->currentIndex() != model_.page()) tab1_->setCurrentIndex(model_.page());

  const GeneralFields& general = model_.general();
  chkDebugMode_->setChecked(general.DebugMode);
  chkConvV2ToV1_->setChecked(general.ConvV2ToV1);
  ShowSourceAddress();
  // A file without storm control's settings shows it off, with nothing to change.
  const StormSettings& storm = model_.storm();
  chkStormControl_->setChecked(storm.shown().on);
  chkStormControl_->setEnabled(storm.available() && !model_.read_only());
  txtStormPerMinute_->setEnabled(storm.available());
  txtStormBurst_->setEnabled(storm.available());
  // The service ends its status lines with CR LF, which the box keeps as line breaks and gives
  // back as LF: compared so, the box is set only when the text changed, and keeps its scroll
  // position while the user works on the page.
  QString status = Q(general.TrapRecvStatus);
  status.replace("\r\n", "\n").replace('\r', '\n');
  if (txtTrapRecvStatus_->toPlainText() != status) txtTrapRecvStatus_->setPlainText(status);
  // Only a text that differs is set, so the caret stays where the user is typing.
  for (const FieldEdit& f : fields_) {
    const QString text = Q(model_.Text(f.field));
    if (f.edit->text() != text) f.edit->setText(text);
  }

  const std::vector<std::string>& names = model_.trap_names();
  bool same_names = lbxTrapName_->count() == static_cast<int>(names.size());
  for (int i = 0; same_names && i < lbxTrapName_->count(); ++i) {
    same_names = lbxTrapName_->item(i)->text() == Q(names[static_cast<size_t>(i)]);
  }
  if (!same_names) {
    lbxTrapName_->ShowSelection(-1);
    lbxTrapName_->clear();
    for (const std::string& name : names) lbxTrapName_->addItem(Q(name));
  }
  lbxTrapName_->ShowSelection(model_.selected());

  const DefinitionFields& definition = model_.definition();
  ShowList(cboTrapNewNumber_, ListKind::kTrapNewNumber, 0, definition.TrapNewNumber);
  ShowList(cboTrapNewVarNo_, ListKind::kTrapNewVarNo, 0, definition.TrapNewVarNo);
  for (int i = 1; i <= kVarRows; ++i) {
    ShowList(vars_[static_cast<size_t>(i)].type, ListKind::kVarType, i,
             definition.vars[static_cast<size_t>(i)].VarType);
  }

  // Empty: no definition is shown, and only "&Add..." is of use on the definition's side.
  // Read-only, nothing that would store is usable either; the values can still be read,
  // selected and copied.
  const bool showing = model_.showing();
  const bool editable = !model_.read_only();
  for (QWidget* widget :
       {static_cast<QWidget*>(lbxTrapName_), static_cast<QWidget*>(txtTrapOID_),
        static_cast<QWidget*>(cmdTrapOID_), static_cast<QWidget*>(txtTrapSourceVarNo_),
        static_cast<QWidget*>(cmdValToSplit_)}) {
    widget->setEnabled(showing);
  }
  for (QWidget* widget :
       {static_cast<QWidget*>(cmdRemove_), static_cast<QWidget*>(cboTrapNewNumber_),
        static_cast<QWidget*>(cboTrapNewVarNo_)}) {
    widget->setEnabled(showing && editable);
  }
  for (int i = 1; i <= kVarRows; ++i) {
    const VarRow& row = vars_[static_cast<size_t>(i)];
    const bool usable = i <= model_.usable_rows();
    for (QWidget* widget : {static_cast<QWidget*>(row.name), static_cast<QWidget*>(row.pos),
                            static_cast<QWidget*>(row.chars)}) {
      widget->setEnabled(usable);
    }
    row.button->setEnabled(usable && editable);
    row.type->setEnabled(usable && editable);
  }
  ShowStations();
  ShowServicePage();
  ShowCounters();
  ShowV3Users();
  showing_ = was_showing;
  TakeFocusRequest();
  if (model_.ended() && !ending_) {
    // Once the handler that found the settings row gone has returned.
    ending_ = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  }
}

void MainWindow::ShowList(QComboBox* combo, ListKind kind, int row, const std::string& value) {
  const std::vector<std::string> entries = model_.Entries(kind, row);
  bool same = combo->count() == static_cast<int>(entries.size());
  for (int i = 0; same && i < combo->count(); ++i) {
    same = combo->itemText(i) == Q(entries[static_cast<size_t>(i)]);
  }
  if (!same) {
    combo->clear();
    for (const std::string& entry : entries) combo->addItem(Q(entry));
  }
  // The hidden field's value is selected; an empty one selects nothing.
  combo->setCurrentIndex(value.empty() ? -1 : combo->findText(Q(value), Qt::MatchExactly));
}

void MainWindow::TakeFocusRequest() {
  const std::optional<Field> request = model_.TakeFocusRequest();
  if (!request) return;
  for (const FieldEdit& f : fields_) {
    if (f.field == *request) {
      f.edit->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

void MainWindow::AskPage(int page) {
  model_.tab1_Click(page);
  ShowModel();
  CloseIfAsked();
}

void MainWindow::AskDefinition(int row) {
  model_.lbxTrapName_Click(row);
  ShowModel();
}

int MainWindow::PageForKey(const QKeyEvent& key, bool on_tab_bar) const {
  const int count = tab1_->count();
  const int current = tab1_->currentIndex();
  const bool control = key.modifiers().testFlag(Qt::ControlModifier);
  const bool shift = key.modifiers().testFlag(Qt::ShiftModifier);
  // Ctrl+Tab and Ctrl+Shift+Tab go round the pages, as QTabWidget does.
  if (control && key.key() == Qt::Key_Tab) return (current + (shift ? count - 1 : 1)) % count;
  if (control && key.key() == Qt::Key_Backtab) return (current + count - 1) % count;
  // The arrow keys on the tab bar stop at the first and the last page, as QTabBar does.
  if (on_tab_bar && key.key() == Qt::Key_Left && current > 0) return current - 1;
  if (on_tab_bar && key.key() == Qt::Key_Right && current + 1 < count) return current + 1;
  return -1;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Filters are installed once tab1_ exists, on it, its tab bar and the fields of its pages.
  QTabBar* bar = tab1_->tabBar();
  if (watched == bar) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const int page = bar->tabAt(mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || page < 0 || page == bar->currentIndex()) {
          return false;
        }
        AskPage(page);
        return true;
      }
      case QEvent::KeyPress: {
        const int page = PageForKey(*static_cast<QKeyEvent*>(event), true);
        if (page < 0) return false;
        AskPage(page);
        return true;
      }
      case QEvent::Wheel: {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint delta = wheel->angleDelta();
        const int step = (delta.y() != 0 ? delta.y() : delta.x()) > 0 ? -1 : 1;
        const int page = bar->currentIndex() + step;
        if (page >= 0 && page < bar->count()) AskPage(page);
        return true;
      }
      default:
        return false;
    }
  }
  // Shift+F10 opens the sample's context menu, as the Menu key does.
  if (watched == txtValToSplit_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
      const QRect caret = txtValToSplit_->inputMethodQuery(Qt::ImCursorRectangle).toRect();
      ShowPieceMenu(txtValToSplit_->mapToGlobal(caret.bottomLeft()));
      return true;
    }
  }
  if (watched == tab1_ && event->type() == QEvent::KeyPress) {
    const int page = PageForKey(*static_cast<QKeyEvent*>(event), false);
    if (page < 0) return false;
    AskPage(page);
    return true;
  }
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    if (const FieldEdit* f = FindField(watched)) {
      FocusChanged(f->edit, *static_cast<QFocusEvent*>(event));
    }
  }
  return false;
}

void MainWindow::FocusChanged(QLineEdit* edit, const QFocusEvent& event) {
  // The focus leaves for another window, a message box or an open list and comes back to the
  // same field: the user has not moved between fields.
  const Qt::FocusReason reason = event.reason();
  const bool away = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
                    reason == Qt::MenuBarFocusReason;
  if (event.type() == QEvent::FocusOut) {
    if (away || entered_ != edit) return;
    entered_ = nullptr;
    model_.FieldLeft(FindField(edit)->field);
  } else {
    if (entered_ == edit) return;
    // A field that got the focus while the window was inactive was never left by the one
    // before it.
    if (entered_ != nullptr) {
      const Field left = FindField(entered_)->field;
      entered_ = nullptr;
      model_.FieldLeft(left);
    }
    entered_ = edit;
    model_.FieldEntered(FindField(edit)->field);
  }
  ShowModel();
}

const MainWindow::FieldEdit* MainWindow::FindField(const QObject* edit) const {
  for (const FieldEdit& f : fields_) {
    if (f.edit == edit) return &f;
  }
  return nullptr;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A service action runs its course (an install ends, a start is seen through), then the
  // window closes.
  if (model_.service_page().busy()) {
    close_asked_ = true;
    event->ignore();
    return;
  }
  if (model_.cmdExit_Click()) {
    event->accept();
  } else {
    event->ignore();
  }
  ShowModel();
}

}  // namespace tervane::config
