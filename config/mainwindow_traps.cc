// The page "SNMP Traps" of the main window: the definition list and its buttons, the shown
// definition, and the frame "Variable Binding".
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
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <initializer_list>
#include <memory>

#include "config/mainwindow.h"
#include "config/trapnamelist.h"
#include "config/window_widgets.h"

namespace tervane::config {
namespace {

constexpr int kRowsPerGroup = 7;

}  // namespace

QWidget* MainWindow::MakeTrapsPage() {
  auto* page = new QWidget;

  lbxTrapName_ = new TrapNameList(page);
  lbxTrapName_->setObjectName("lbxTrapName");
  lbxTrapName_->setAccessibleName("Trap Name");
  lbxTrapName_->setAccessibleDescription("The trap definitions; the selected one is shown");
  lbxTrapName_->SetAsk([this](int row) { AskDefinition(row); });
  const QFontMetrics metrics(lbxTrapName_->font());
  lbxTrapName_->setMinimumWidth(metrics.horizontalAdvance(QString(kTrapNameLength, QChar('n'))));
  // Seven names at least; a taller window shows more of them, up to all that can be defined,
  // and the list scrolls through the others.
  const int frame = 2 * lbxTrapName_->frameWidth() + 8;
  lbxTrapName_->setMinimumHeight(metrics.lineSpacing() * 7 + frame);
  lbxTrapName_->setMaximumHeight(metrics.lineSpacing() * kMaxDefinitions + frame);
  lbxTrapName_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
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

  txtTrapOID_ = MakeField(page, "txtTrapOID", {FieldKind::kTrapOID});
  cmdTrapOID_ = MakeBrowseButton(page, "cmdTrapOID", "Trap OID ...");
  connect(cmdTrapOID_, &QPushButton::clicked, this, [this] {
    model_.cmdTrapOID_Click();
    ShowModel();
  });

  txtTrapNewEnterprise_ = new QLineEdit(kWrapToPrefix, page);
  txtTrapNewEnterprise_->setObjectName("txtTrapNewEnterprise");
  txtTrapNewEnterprise_->setReadOnly(true);
  Shade(txtTrapNewEnterprise_);
  FixWidth(txtTrapNewEnterprise_, static_cast<int>(sizeof kWrapToPrefix));
  txtTrapNewEnterprise_->setAccessibleDescription("The start of every wrapped trap's OID");
  cboTrapNewNumber_ =
      MakeList(page, "cboTrapNewNumber", "Wrap To: trap number", ListKind::kTrapNewNumber, 0,
               [this](const std::string& entry) { model_.cboTrapNewNumber_Click(entry); });

  txtTrapSourceVarNo_ = MakeField(page, "txtTrapSourceVarNo", {FieldKind::kTrapSourceVarNo});
  FixWidth(txtTrapSourceVarNo_, 4);
  cboTrapNewVarNo_ =
      MakeList(page, "cboTrapNewVarNo", "Into New Variables", ListKind::kTrapNewVarNo, 0,
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
  definition->setHorizontalSpacing(10);

  // The list under its heading; its buttons and the definition's lines level with its top.
  auto* top = new QGridLayout;
  QLabel* heading = MakeLabel(page, "Trap Name:", lbxTrapName_);
  heading->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  top->addWidget(heading, 0, 0);
  top->addWidget(lbxTrapName_, 1, 0);
  // At the top of their cells, whatever the list's height: aligned, they take no height of
  // their own, so that the list alone sets how tall the row may grow.
  top->addLayout(list_buttons, 1, 1, Qt::AlignTop);
  top->addLayout(definition, 1, 2, Qt::AlignTop);
  top->setColumnStretch(2, 1);
  top->setColumnMinimumWidth(1, 0);
  top->setHorizontalSpacing(10);
  // The heading stays on the list, which takes the height the window gives the page.
  top->setRowStretch(1, 1);

  auto* binding = new QGroupBox("Variable Binding", page);
  binding->setObjectName("fraTrapNewVar");
  txtValToSplit_ = MakeField(binding, "txtValToSplit", {FieldKind::kValToSplit});
  txtValToSplit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  txtValToSplit_->setAccessibleName("Value To Split");
  txtValToSplit_->setAccessibleDescription(
      "A sample value: select a piece of it, then take it as a variable from the context menu "
      "(Menu key or Shift+F10), with Alt+1 to Alt+0 for variables 1 to 10, or with the # "
      "button of a variable");
  Shade(txtValToSplit_);
  // The pieces are taken from its context menu too, which the keyboard opens.
  txtValToSplit_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(txtValToSplit_, &QLineEdit::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowPieceMenu(txtValToSplit_->mapToGlobal(at)); });
  cmdValToSplit_ = MakeBrowseButton(binding, "cmdValToSplit", "Value To Split ...");
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

  // The list takes the height the window gives the page, up to its most; what is left goes
  // below the frame.
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top, 1);
  layout->addWidget(binding);
  layout->addStretch();

  // Alt+1 to Alt+9 and Alt+0 take the selected piece as variable 1 to 10, as "#1" to "#10"
  // do; no mnemonic of the window uses a digit.
  for (int i = 1; i <= 10; ++i) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | (Qt::Key_0 + i % 10)), page);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, i] {
      if (vars_[static_cast<size_t>(i)].button->isEnabled()) TakePiece(i);
    });
  }
  return page;
}

std::pair<int, int> MainWindow::SampleSelection() const {
  const int start = txtValToSplit_->hasSelectedText() ? txtValToSplit_->selectionStart()
                                                      : txtValToSplit_->cursorPosition();
  return {start, static_cast<int>(txtValToSplit_->selectedText().size())};
}

void MainWindow::TakePiece(int row) {
  const auto [start, length] = SampleSelection();
  model_.cmdVar_Click(row, start, length);
  ShowModel();
}

void MainWindow::ShowPieceMenu(const QPoint& at) {
  std::unique_ptr<QMenu> menu(txtValToSplit_->createStandardContextMenu());
  menu->setObjectName("mnuValToSplit");
  if (model_.usable_rows() > 0 && !model_.read_only()) menu->addSeparator();
  // The selection the menu was opened on: the field keeps it while the menu is open.
  const std::pair<int, int> selection = SampleSelection();
  for (int i = 1; i <= (model_.read_only() ? 0 : model_.usable_rows()); ++i) {
    QAction* take = menu->addAction(QString("Take as variable %1").arg(i));
    if (i <= 10) take->setShortcut(QKeySequence(Qt::ALT | (Qt::Key_0 + i % 10)));
    connect(take, &QAction::triggered, this, [this, i, selection] {
      model_.cmdVar_Click(i, selection.first, selection.second);
      ShowModel();
    });
  }
  menu->exec(at);
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
    row.button->setAccessibleDescription("Variable " + n +
                                         ": take the selected piece of the value to split");
    const QFontMetrics metrics(row.button->font());
    row.button->setFixedWidth(metrics.horizontalAdvance("#00") + 16);
    connect(row.button, &QPushButton::clicked, this, [this, i] { TakePiece(i); });
    // Named by their column's heading and their row.
    row.name = MakeField(parent, ("txtVarName" + suffix).c_str(), {FieldKind::kVarName, i});
    row.name->setAccessibleName("Variable Name " + n);
    row.name->setAccessibleDescription("The name of variable " + n + " in the MIB module");
    row.pos = MakeField(parent, ("txtVarPos" + suffix).c_str(), {FieldKind::kVarPos, i});
    row.pos->setAccessibleName("Pos " + n);
    row.pos->setAccessibleDescription("Variable " + n +
                                      ": where its piece starts in the value, from 1");
    FixWidth(row.pos, 4);
    row.chars = MakeField(parent, ("txtVarChar" + suffix).c_str(), {FieldKind::kVarChar, i});
    row.chars->setAccessibleName("Char " + n);
    row.chars->setAccessibleDescription("Variable " + n + ": how long its piece is");
    FixWidth(row.chars, 4);
    row.type =
        MakeList(parent, ("cboVarType" + suffix).c_str(), "Data Type " + n, ListKind::kVarType, i,
                 [this, i](const std::string& entry) { model_.cboVarType_Click(i, entry); });
    const int line = i - first + 1;
    grid->addWidget(row.button, line, 0);
    grid->addWidget(row.name, line, 1);
    grid->addWidget(row.pos, line, 2);
    grid->addWidget(row.chars, line, 3);
    grid->addWidget(row.type, line, 4);
  }
}

}  // namespace tervane::config
