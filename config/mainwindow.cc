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
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <initializer_list>

#include "config/trapnamelist.h"

namespace tervane::config {
namespace {

constexpr int kRowsPerGroup = 7;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Read-only boxes, and the sample whose pieces are picked, are shaded like the window.
void Shade(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  widget->setPalette(palette);
}

// A box wide enough for `chars` digits or letters of its font, and no wider.
void FixWidth(QLineEdit* edit, int chars) {
  const QFontMetrics metrics(edit->font());
  const QMargins margins = edit->textMargins();
  edit->setFixedWidth(metrics.horizontalAdvance(QString(chars, QChar('0'))) + margins.left() +
                      margins.right() + 12);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy = nullptr) {
  auto* label = new QLabel(text, parent);
  if (buddy != nullptr) label->setBuddy(buddy);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  // Some room around the caption, as dialog buttons have.
  const QFontMetrics metrics(button->font());
  button->setMinimumWidth(metrics.horizontalAdvance(button->text().remove('&')) + 24);
  return button;
}

// A "..." button: as narrow as its text allows.
QPushButton* MakeBrowseButton(QWidget* parent, const char* name, const QString& accessible_name) {
  QPushButton* button = MakeButton(parent, name, "...");
  button->setAccessibleName(accessible_name);
  const QFontMetrics metrics(button->font());
  button->setFixedWidth(metrics.horizontalAdvance("...") + 24);
  return button;
}

}  // namespace

MainWindow::MainWindow(TervixModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setWindowTitle("Tervane 1.10");

  tab1_ = new QTabWidget(this);
  tab1_->setObjectName("tab1");
  tab1_->addTab(MakeTrapsPage(), "SNMP Traps");
  tab1_->addTab(MakeGeneralPage(), "General Settings");
  tab1_->addTab(MakeServicePage(), "Service Control");
  // Another page is asked for before it is shown: the tab bar's clicks, keys and wheel, and
  // the pages' Ctrl+Tab, go to the model first.
  tab1_->tabBar()->installEventFilter(this);
  tab1_->installEventFilter(this);
  // Any other way the page could change (assistive technology, say) is asked afterwards, and
  // undone when the model says no.
  connect(tab1_, &QTabWidget::currentChanged, this, [this](int page) {
    if (!showing_ && page != model_.page()) AskPage(page);
  });

  cmdReadMe_ = MakeButton(this, "cmdReadMe", "Read Me");
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
  layout->addWidget(tab1_);
  layout->addLayout(buttons);

  SetTabOrder();
  model_.service_page().SetWaitWithEvents([this](int ms) { WaitWithEvents(ms); });
  ShowModel();
  // The size the layout asks for: a window shown without one gets at most two thirds of the
  // screen, which would squeeze the fields.
  resize(sizeHint());
}

MainWindow::~MainWindow() { model_.service_page().SetWaitWithEvents(nullptr); }

QWidget* MainWindow::MakeTrapsPage() {
  auto* page = new QWidget;

  lbxTrapName_ = new TrapNameList(page);
  lbxTrapName_->setObjectName("lbxTrapName");
  lbxTrapName_->SetAsk([this](int row) { AskDefinition(row); });
  const QFontMetrics metrics(lbxTrapName_->font());
  lbxTrapName_->setMinimumWidth(metrics.horizontalAdvance(QString(kTrapNameLength, QChar('n'))));
  // Seven names at a time; the list scrolls through the others.
  lbxTrapName_->setFixedHeight(metrics.lineSpacing() * 7 + 2 * lbxTrapName_->frameWidth() + 8);
  cmdAdd_ = MakeButton(page, "cmdAdd", "&Add...");
  cmdRemove_ = MakeButton(page, "cmdRemove", "&Remove");
  connect(cmdAdd_, &QPushButton::clicked, this, [this] {
    model_.cmdAdd_Click();
    ShowModel();
  });
  connect(cmdRemove_, &QPushButton::clicked, this, [this] {
    model_.cmdRemove_Click();
    ShowModel();
  });
  auto* list_buttons = new QVBoxLayout;
  list_buttons->addWidget(cmdAdd_);
  list_buttons->addWidget(cmdRemove_);
  list_buttons->addStretch();

  txtTrapOID_ = MakeField(page, "txtTrapOID", {FieldKind::kTrapOID});
  cmdTrapOID_ = MakeBrowseButton(page, "cmdTrapOID", "Look up the trap OID");
  connect(cmdTrapOID_, &QPushButton::clicked, this, [this] {
    model_.cmdTrapOID_Click();
    ShowModel();
  });

  txtTrapNewEnterprise_ = new QLineEdit(kWrapToPrefix, page);
  txtTrapNewEnterprise_->setObjectName("txtTrapNewEnterprise");
  txtTrapNewEnterprise_->setReadOnly(true);
  Shade(txtTrapNewEnterprise_);
  FixWidth(txtTrapNewEnterprise_, static_cast<int>(sizeof kWrapToPrefix));
  cboTrapNewNumber_ =
      MakeList(page, "cboTrapNewNumber", "Trap number", ListKind::kTrapNewNumber, 0,
               [this](const std::string& entry) { model_.cboTrapNewNumber_Click(entry); });

  txtTrapSourceVarNo_ = MakeField(page, "txtTrapSourceVarNo", {FieldKind::kTrapSourceVarNo});
  FixWidth(txtTrapSourceVarNo_, 4);
  cboTrapNewVarNo_ =
      MakeList(page, "cboTrapNewVarNo", "Number of new variables", ListKind::kTrapNewVarNo, 0,
               [this](const std::string& entry) { model_.cboTrapNewVarNo_Click(entry); });

  auto* oid = new QHBoxLayout;
  oid->addWidget(txtTrapOID_, 1);
  oid->addWidget(cmdTrapOID_);
  auto* wrap = new QHBoxLayout;
  wrap->addWidget(txtTrapNewEnterprise_);
  wrap->addWidget(cboTrapNewNumber_);
  wrap->addStretch();
  auto* source = new QHBoxLayout;
  source->addWidget(txtTrapSourceVarNo_);
  source->setSpacing(8);
  source->addWidget(new QLabel("Into", page));
  source->addWidget(cboTrapNewVarNo_);
  source->addWidget(new QLabel("New Variables", page));
  source->addStretch();
  auto* definition = new QGridLayout;
  definition->addWidget(MakeLabel(page, "Trap OID:", txtTrapOID_), 0, 0);
  definition->addLayout(oid, 0, 1);
  definition->addWidget(MakeLabel(page, "Wrap To:", txtTrapNewEnterprise_), 1, 0);
  definition->addLayout(wrap, 1, 1);
  definition->addWidget(MakeLabel(page, "Wrap Source Variable #:", txtTrapSourceVarNo_), 2, 0);
  definition->addLayout(source, 2, 1);
  definition->setColumnStretch(1, 1);
  definition->setRowStretch(3, 1);
  definition->setHorizontalSpacing(10);

  // The list under its heading; its buttons and the definition's lines level with its top.
  auto* top = new QGridLayout;
  top->addWidget(MakeLabel(page, "Trap Name:", lbxTrapName_), 0, 0);
  top->addWidget(lbxTrapName_, 1, 0);
  top->addLayout(list_buttons, 1, 1);
  top->addLayout(definition, 1, 2);
  top->setColumnStretch(2, 1);
  top->setColumnMinimumWidth(1, 0);
  top->setHorizontalSpacing(10);

  auto* binding = new QGroupBox("Variable Binding", page);
  binding->setObjectName("fraTrapNewVar");
  txtValToSplit_ = MakeField(binding, "txtValToSplit", {FieldKind::kValToSplit});
  txtValToSplit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  txtValToSplit_->setAccessibleName("Value to split");
  txtValToSplit_->setAccessibleDescription(
      "A sample value: select a piece of it, then press the # button of a variable");
  Shade(txtValToSplit_);
  cmdValToSplit_ = MakeBrowseButton(binding, "cmdValToSplit", "Look up a value to split");
  connect(cmdValToSplit_, &QPushButton::clicked, this, [this] {
    model_.cmdValToSplit_Click();
    ShowModel();
  });
  auto* sample = new QHBoxLayout;
  sample->addWidget(MakeLabel(binding, "Value To Split:", txtValToSplit_));
  sample->addWidget(txtValToSplit_, 1);
  sample->addWidget(cmdValToSplit_);

  auto* left = new QGridLayout;
  auto* right = new QGridLayout;
  AddVarRows(binding, left, 1);
  AddVarRows(binding, right, 1 + kRowsPerGroup);
  auto* groups = new QHBoxLayout;
  groups->addLayout(left);
  groups->addSpacing(16);
  groups->addLayout(right);
  auto* binding_layout = new QVBoxLayout(binding);
  binding_layout->addLayout(sample);
  binding_layout->addLayout(groups);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  layout->addWidget(binding);
  return page;
}

void MainWindow::AddVarRows(QWidget* parent, QGridLayout* grid, int first) {
  grid->addWidget(new QLabel("Variable Name:", parent), 0, 1);
  grid->addWidget(new QLabel("Pos:", parent), 0, 2);
  grid->addWidget(new QLabel("Char:", parent), 0, 3);
  grid->addWidget(new QLabel("Data Type:", parent), 0, 4);
  grid->setColumnStretch(1, 1);
  for (int i = first; i < first + kRowsPerGroup; ++i) {
    const QString n = QString::number(i);
    const std::string suffix = std::to_string(i);
    VarRow& row = vars_[static_cast<size_t>(i)];
    row.button = MakeButton(parent, ("cmdVar" + suffix).c_str(), "#" + n);
    // The sample keeps the focus, and with it its selection, when a # button is clicked.
    row.button->setFocusPolicy(Qt::NoFocus);
    row.button->setAccessibleName("Variable " + n + ": take the selected piece of the value");
    const QFontMetrics metrics(row.button->font());
    row.button->setFixedWidth(metrics.horizontalAdvance("#00") + 16);
    connect(row.button, &QPushButton::clicked, this, [this, i] {
      const int start = txtValToSplit_->hasSelectedText() ? txtValToSplit_->selectionStart()
                                                          : txtValToSplit_->cursorPosition();
      model_.cmdVar_Click(i, start, static_cast<int>(txtValToSplit_->selectedText().size()));
      ShowModel();
    });
    row.name = MakeField(parent, ("txtVarName" + suffix).c_str(), {FieldKind::kVarName, i});
    row.name->setAccessibleName("Variable " + n + " name");
    row.pos = MakeField(parent, ("txtVarPos" + suffix).c_str(), {FieldKind::kVarPos, i});
    row.pos->setAccessibleName("Variable " + n + " position");
    FixWidth(row.pos, 4);
    row.chars = MakeField(parent, ("txtVarChar" + suffix).c_str(), {FieldKind::kVarChar, i});
    row.chars->setAccessibleName("Variable " + n + " character count");
    FixWidth(row.chars, 4);
    row.type = MakeList(parent, ("cboVarType" + suffix).c_str(), "Variable " + n + " type",
                        ListKind::kVarType, i,
                        [this, i](const std::string& entry) { model_.cboVarType_Click(i, entry); });
    const int line = i - first + 1;
    grid->addWidget(row.button, line, 0);
    grid->addWidget(row.name, line, 1);
    grid->addWidget(row.pos, line, 2);
    grid->addWidget(row.chars, line, 3);
    grid->addWidget(row.type, line, 4);
  }
}

QWidget* MainWindow::MakeGeneralPage() {
  auto* page = new QWidget;
  chkDebugMode_ = new QCheckBox("Debug Mode", page);
  chkDebugMode_->setObjectName("chkDebugMode");
  connect(chkDebugMode_, &QCheckBox::clicked, this, [this](bool on) {
    model_.SetDebugMode(on);
    ShowModel();
  });

  auto* receive = new QGroupBox("Receive Traps On", page);
  receive->setObjectName("fraTrapRecv");
  txtTrapRecvIpAddr_ = MakeField(receive, "txtTrapRecvIpAddr", {FieldKind::kTrapRecvIpAddr});
  txtTrapRecvIpAddr_->setMaxLength(15);
  FixWidth(txtTrapRecvIpAddr_, 15);
  txtTrapRecvPort_ = MakeField(receive, "txtTrapRecvPort", {FieldKind::kTrapRecvPort});
  txtTrapRecvPort_->setMaxLength(5);
  FixWidth(txtTrapRecvPort_, 6);
  txtTrapRecvStatus_ = new QPlainTextEdit(receive);
  txtTrapRecvStatus_->setObjectName("txtTrapRecvStatus");
  txtTrapRecvStatus_->setReadOnly(true);
  txtTrapRecvStatus_->setTabChangesFocus(true);
  txtTrapRecvStatus_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtTrapRecvStatus_->setFixedHeight(txtTrapRecvStatus_->fontMetrics().lineSpacing() * 4 + 12);
  Shade(txtTrapRecvStatus_);
  auto* receive_layout = new QGridLayout(receive);
  receive_layout->addWidget(MakeLabel(receive, "IP Address:", txtTrapRecvIpAddr_), 0, 0);
  receive_layout->addWidget(txtTrapRecvIpAddr_, 0, 1, Qt::AlignLeft);
  receive_layout->addWidget(MakeLabel(receive, "Port:", txtTrapRecvPort_), 1, 0);
  receive_layout->addWidget(txtTrapRecvPort_, 1, 1, Qt::AlignLeft);
  receive_layout->addWidget(MakeLabel(receive, "Status:", txtTrapRecvStatus_), 2, 0, Qt::AlignTop);
  receive_layout->addWidget(txtTrapRecvStatus_, 2, 1);
  receive_layout->setColumnStretch(1, 1);

  auto* forward = new QGroupBox("Forward Traps To", page);
  forward->setObjectName("fraTrapForw");
  chkConvV2ToV1_ = new QCheckBox("Convert SNMPv2 to SNMPv1", forward);
  chkConvV2ToV1_->setObjectName("chkConvV2ToV1");
  connect(chkConvV2ToV1_, &QCheckBox::clicked, this, [this](bool on) {
    model_.SetConvV2ToV1(on);
    ShowModel();
  });
  txtTrapForwIpAddr_ = MakeField(forward, "txtTrapForwIpAddr", {FieldKind::kTrapForwIpAddr});
  FixWidth(txtTrapForwIpAddr_, 15);
  txtTrapForwPort_ = MakeField(forward, "txtTrapForwPort", {FieldKind::kTrapForwPort});
  FixWidth(txtTrapForwPort_, 6);
  auto* forward_layout = new QGridLayout(forward);
  forward_layout->addWidget(chkConvV2ToV1_, 0, 0, 1, 2);
  forward_layout->addWidget(MakeLabel(forward, "IP Address:", txtTrapForwIpAddr_), 1, 0);
  forward_layout->addWidget(txtTrapForwIpAddr_, 1, 1, Qt::AlignLeft);
  forward_layout->addWidget(MakeLabel(forward, "Port:", txtTrapForwPort_), 2, 0);
  forward_layout->addWidget(txtTrapForwPort_, 2, 1, Qt::AlignLeft);
  forward_layout->setColumnStretch(1, 1);

  cmdGenerateMIB_ = MakeButton(page, "cmdGenerateMIB", "Generate MIB File");
  connect(cmdGenerateMIB_, &QPushButton::clicked, this, [this] {
    model_.cmdGenerateMIB_Click();
    ShowModel();
  });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(chkDebugMode_);
  layout->addWidget(receive);
  layout->addWidget(forward);
  layout->addWidget(cmdGenerateMIB_, 0, Qt::AlignLeft);
  layout->addStretch();
  return page;
}

QWidget* MainWindow::MakeServicePage() {
  auto* page = new QWidget;
  lblInfo_ = new QLabel("Info", page);
  lblInfo_->setObjectName("lblInfo");
  lblInfo_->setTextFormat(Qt::PlainText);
  // A failure can take a sentence; it wraps instead of widening the window.
  lblInfo_->setWordWrap(true);
  pgbInfo_ = new QProgressBar(page);
  pgbInfo_->setObjectName("pgbInfo");
  pgbInfo_->setRange(0, 6);
  pgbInfo_->setValue(0);
  // A bar of six steps: a percentage would only be noise.
  pgbInfo_->setTextVisible(false);
  pgbInfo_->setAccessibleName("Progress");
  cmdStart_ = MakeButton(page, "cmdStart", "Start Service");
  cmdInstall_ = MakeButton(page, "cmdInstall", "&Install Service");
  // Wide enough for each of their captions, so that the row keeps its shape when they change.
  const QFontMetrics metrics(cmdInstall_->font());
  cmdInstall_->setMinimumWidth(metrics.horizontalAdvance("Uninstall Service") + 24);
  cmdStart_->setMinimumWidth(std::max(metrics.horizontalAdvance("Start Service"),
                                      metrics.horizontalAdvance("Stop Service")) +
                             24);
  connect(cmdStart_, &QPushButton::clicked, this,
          [this] { ServiceClick(&ServicePage::cmdStart_Click); });
  connect(cmdInstall_, &QPushButton::clicked, this,
          [this] { ServiceClick(&ServicePage::cmdInstall_Click); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdStart_);
  buttons->addWidget(cmdInstall_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(lblInfo_);
  layout->addWidget(pgbInfo_);
  layout->addLayout(buttons);
  layout->addStretch();
  return page;
}

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
  order.insert(order.end(),
               {chkDebugMode_, txtTrapRecvIpAddr_, txtTrapRecvPort_, txtTrapRecvStatus_,
                chkConvV2ToV1_, txtTrapForwIpAddr_, txtTrapForwPort_, cmdGenerateMIB_, cmdStart_,
                cmdInstall_, cmdReadMe_, cmdExit_});
  for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QLineEdit* MainWindow::MakeField(QWidget* parent, const char* name, Field field) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  fields_.push_back({field, edit});
  // textEdited, not textChanged: only what the user types goes to the model.
  connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
    model_.SetText(field, text.toStdString());
    ShowModel();
  });
  edit->installEventFilter(this);
  return edit;
}

template <typename Picked>
QComboBox* MainWindow::MakeList(QWidget* parent, const char* name, const QString& accessible_name,
                                ListKind kind, int row, Picked picked) {
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
  // activated, not currentIndexChanged: showing a row selects entries without writing.
  connect(combo, &QComboBox::activated, this, [this, combo, picked](int index) {
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
  if (txtTrapRecvStatus_->toPlainText() != Q(general.TrapRecvStatus)) {
    txtTrapRecvStatus_->setPlainText(Q(general.TrapRecvStatus));
  }
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
  const bool showing = model_.showing();
  for (QWidget* widget :
       {static_cast<QWidget*>(lbxTrapName_), static_cast<QWidget*>(cmdRemove_),
        static_cast<QWidget*>(txtTrapOID_), static_cast<QWidget*>(cmdTrapOID_),
        static_cast<QWidget*>(cboTrapNewNumber_), static_cast<QWidget*>(txtTrapSourceVarNo_),
        static_cast<QWidget*>(cboTrapNewVarNo_), static_cast<QWidget*>(cmdValToSplit_)}) {
    widget->setEnabled(showing);
  }
  for (int i = 1; i <= kVarRows; ++i) {
    const VarRow& row = vars_[static_cast<size_t>(i)];
    const bool usable = i <= model_.usable_rows();
    for (QWidget* widget : {static_cast<QWidget*>(row.button), static_cast<QWidget*>(row.name),
                            static_cast<QWidget*>(row.pos), static_cast<QWidget*>(row.chars),
                            static_cast<QWidget*>(row.type)}) {
      widget->setEnabled(usable);
    }
  }
  ShowServicePage();
  showing_ = was_showing;
  TakeFocusRequest();
}

void MainWindow::ShowServicePage() {
  const bool was_showing = showing_;
  showing_ = true;
  // The page the model is on, also while its selection's refresh runs.
  if (tab1_->currentIndex() != model_.page()) tab1_->setCurrentIndex(model_.page());
  const ServicePageView& view = model_.service_page().view();
  if (lblInfo_->text() != Q(view.lblInfo)) lblInfo_->setText(Q(view.lblInfo));
  pgbInfo_->setValue(view.pgbInfo);
  cmdInstall_->setText(Q(view.cmdInstall));
  cmdInstall_->setEnabled(view.cmdInstall_enabled);
  cmdStart_->setText(Q(view.cmdStart));
  cmdStart_->setEnabled(view.cmdStart_enabled);
  tab1_->setEnabled(view.tab1_enabled);
  showing_ = was_showing;
}

void MainWindow::WaitWithEvents(int ms) {
  ShowServicePage();
  for (int i = 0; i < ms / 20; ++i) {
    QThread::msleep(20);
    // Paints, and takes the user's input; the page's controls are disabled meanwhile.
    QCoreApplication::processEvents();
  }
}

void MainWindow::ServiceClick(void (ServicePage::*click)()) {
  (model_.service_page().*click)();
  ShowModel();
  CloseIfAsked();
}

void MainWindow::CloseIfAsked() {
  if (!close_asked_ || model_.service_page().busy()) return;
  close_asked_ = false;
  close();
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
