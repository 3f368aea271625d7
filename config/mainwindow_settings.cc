// The pages "General Settings" and "Service Control" of the main window, and the waits of the
// service page's actions.
#include <QAccessible>
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
#include <utility>

#include "config/mainwindow.h"
#include "config/trapnamelist.h"
#include "config/window_widgets.h"

namespace tervane::config {

QCheckBox* MainWindow::MakeCheckBox(QWidget* parent, const char* name, const QString& text,
                                    std::function<void(bool)> set) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  // Its state, however it changes: a click, the space bar, a screen reader's toggle.
  connect(box, &QCheckBox::toggled, this, [this, set = std::move(set)](bool on) {
    if (showing_) return;
    set(on);
    ShowModel();
  });
  return box;
}

QWidget* MainWindow::MakeGeneralPage() {
  auto* page = new QWidget;
  chkDebugMode_ = MakeCheckBox(page, "chkDebugMode", "Debug Mode",
                               [this](bool on) { model_.SetDebugMode(on); });

  auto* receive = new QGroupBox("Receive Traps On", page);
  receive->setObjectName("fraTrapRecv");
  txtTrapRecvIpAddr_ = MakeField(receive, "txtTrapRecvIpAddr", {FieldKind::kTrapRecvIpAddr});
  txtTrapRecvIpAddr_->setAccessibleName("Receive Traps On: IP Address");
  txtTrapRecvIpAddr_->setAccessibleDescription(
      "An IPv4 or IPv6 address; 0.0.0.0 receives on every IPv4 address, :: on every address of "
      "both families");
  MakeAddressField(txtTrapRecvIpAddr_);
  txtTrapRecvPort_ = MakeField(receive, "txtTrapRecvPort", {FieldKind::kTrapRecvPort});
  txtTrapRecvPort_->setAccessibleName("Receive Traps On: Port");
  txtTrapRecvPort_->setMaxLength(5);
  FixWidth(txtTrapRecvPort_, 6);
  txtTrapRecvStatus_ = new QPlainTextEdit(receive);
  txtTrapRecvStatus_->setObjectName("txtTrapRecvStatus");
  txtTrapRecvStatus_->setAccessibleName("Receive Traps On: Status");
  txtTrapRecvStatus_->setReadOnly(true);
  txtTrapRecvStatus_->setTabChangesFocus(true);
  txtTrapRecvStatus_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtTrapRecvStatus_->setFixedHeight(txtTrapRecvStatus_->fontMetrics().lineSpacing() * 4 + 12);
  // Of a fixed height, and so no claim on the page's spare height, which would spread the
  // frame's lines apart.
  txtTrapRecvStatus_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
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
  chkConvV2ToV1_ = MakeCheckBox(forward, "chkConvV2ToV1", "Convert SNMPv2 to SNMPv1",
                                [this](bool on) { model_.SetConvV2ToV1(on); });
  txtTrapForwIpAddr_ = MakeField(forward, "txtTrapForwIpAddr", {FieldKind::kTrapForwIpAddr});
  txtTrapForwIpAddr_->setAccessibleName("Forward Traps To: IP Address");
  txtTrapForwIpAddr_->setAccessibleDescription("An IPv4 or IPv6 address");
  MakeAddressField(txtTrapForwIpAddr_);
  txtTrapForwPort_ = MakeField(forward, "txtTrapForwPort", {FieldKind::kTrapForwPort});
  txtTrapForwPort_->setAccessibleName("Forward Traps To: Port");
  FixWidth(txtTrapForwPort_, 6);
  auto* forward_layout = new QGridLayout(forward);
  forward_layout->addWidget(chkConvV2ToV1_, 0, 0, 1, 2);
  // Its long label on a line of its own: the address and port keep the column of the frame
  // above.
  forward_layout->addLayout(MakeSourceAddress(forward), 1, 0, 1, 2);
  forward_layout->addWidget(MakeLabel(forward, "IP Address:", txtTrapForwIpAddr_), 2, 0);
  forward_layout->addWidget(txtTrapForwIpAddr_, 2, 1, Qt::AlignLeft);
  forward_layout->addWidget(MakeLabel(forward, "Port:", txtTrapForwPort_), 3, 0);
  forward_layout->addWidget(txtTrapForwPort_, 3, 1, Qt::AlignLeft);
  QWidget* stations = MakeStations(forward);
  // The list under its label.
  forward_layout->addWidget(MakeLabel(forward, "Further &Stations:", lbxStations_), 4, 0, 1, 2);
  forward_layout->addWidget(stations, 5, 0, 1, 2);
  forward_layout->setColumnStretch(1, 1);

  QWidget* storm = MakeStormControl(page);

  cmdGenerateMIB_ = MakeButton(page, "cmdGenerateMIB", "&Generate MIB File");
  connect(cmdGenerateMIB_, &QPushButton::clicked, this, [this] {
    model_.cmdGenerateMIB_Click();
    ShowModel();
  });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(chkDebugMode_);
  layout->addWidget(receive);
  layout->addWidget(forward);
  layout->addWidget(storm);
  layout->addWidget(cmdGenerateMIB_, 0, Qt::AlignLeft);
  layout->addStretch();
  return page;
}

QHBoxLayout* MainWindow::MakeSourceAddress(QWidget* parent) {
  cboAddSourceAddress_ = new QComboBox(parent);
  cboAddSourceAddress_->setObjectName("cboAddSourceAddress");
  cboAddSourceAddress_->setEditable(false);
  cboAddSourceAddress_->setAccessibleName(kSourceAddressCaption);
  cboAddSourceAddress_->setAccessibleDescription(
      "What the SNMPv2 traps sent on say of the device that sent them: as the device sent them, "
      "its address added when they carry none, or always the address they came from");
  cboAddSourceAddress_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cboAddSourceAddress_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  ShowSourceAddress();
  // Never narrower than its choices, also while its page has not been laid out yet.
  cboAddSourceAddress_->setMinimumWidth(cboAddSourceAddress_->sizeHint().width());
  // The entry however it changes: mouse, keyboard, a screen reader's choice.
  connect(cboAddSourceAddress_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (showing_ || index < 0) return;
    model_.cboAddSourceAddress_Click(index);
    ShowModel();
  });
  auto* line = new QHBoxLayout;
  line->addWidget(
      MakeLabel(parent, "Se&nder's address (snmpTrapAddress.0):", cboAddSourceAddress_));
  line->addWidget(cboAddSourceAddress_);
  line->addStretch();
  return line;
}

QWidget* MainWindow::MakeStormControl(QWidget* parent) {
  auto* group = new QGroupBox("Storm Control", parent);
  group->setObjectName("grpStormControl");
  chkStormControl_ = MakeCheckBox(group, "chkStormControl", "&Hold back trap storms",
                                  [this](bool on) { model_.SetStormControl(on); });
  chkStormControl_->setAccessibleDescription(
      "While on, the service holds back the traps of one kind (one sender, trap OID and first "
      "variable) over their rule's limit, and sends the last one held back when the storm ends");
  // The numbers stay usable while the box is off: they are the default rule's, which can be
  // set before storm control is switched on, and a refused one can always take the focus.
  txtStormPerMinute_ = MakeField(group, "txtStormPerMinute", {FieldKind::kStormPerMinute});
  txtStormPerMinute_->setAccessibleName("Storm Control: Traps per minute");
  txtStormPerMinute_->setAccessibleDescription(
      "How many traps of one kind go on per minute once the burst is spent, 0 to 1000000; 0 "
      "drops every trap that no rule by trap OID prefix covers");
  txtStormPerMinute_->setMaxLength(7);
  FixWidth(txtStormPerMinute_, 8);
  txtStormBurst_ = MakeField(group, "txtStormBurst", {FieldKind::kStormBurst});
  txtStormBurst_->setAccessibleName("Storm Control: Burst");
  txtStormBurst_->setAccessibleDescription(
      "How many traps of one kind go on at once before the rate per minute holds them back, 1 "
      "to 100000");
  txtStormBurst_->setMaxLength(6);
  FixWidth(txtStormBurst_, 7);
  auto* rules =
      new QLabel("Rules by trap OID prefix are set with the command tervane-svc storm.", group);
  rules->setObjectName("lblStormRules");

  // The check box and the numbers it governs on one line, the note under them.
  auto* line = new QHBoxLayout;
  line->setSpacing(6);
  line->addWidget(chkStormControl_);
  line->addSpacing(18);
  line->addWidget(MakeLabel(group, "Traps &per minute:", txtStormPerMinute_));
  line->addWidget(txtStormPerMinute_);
  line->addSpacing(12);
  line->addWidget(MakeLabel(group, "&Burst:", txtStormBurst_));
  line->addWidget(txtStormBurst_);
  line->addStretch();
  auto* layout = new QVBoxLayout(group);
  layout->addLayout(line);
  layout->addWidget(rules);
  return group;
}

void MainWindow::ShowSourceAddress() {
  const OptionList& list = model_.source_address();
  bool same = cboAddSourceAddress_->count() == static_cast<int>(list.entries().size());
  for (int i = 0; same && i < cboAddSourceAddress_->count(); ++i) {
    same = cboAddSourceAddress_->itemText(i) == Q(list.entries()[static_cast<size_t>(i)]);
  }
  if (!same) {
    cboAddSourceAddress_->clear();
    for (const std::string& entry : list.entries()) cboAddSourceAddress_->addItem(Q(entry));
  }
  cboAddSourceAddress_->setCurrentIndex(list.current());
}

QWidget* MainWindow::MakeServicePage() {
  auto* page = new QWidget;
  lblInfo_ = new QLabel("Info", page);
  lblInfo_->setObjectName("lblInfo");
  lblInfo_->setTextFormat(Qt::PlainText);
  // A failure can take a sentence; it wraps instead of widening the window.
  lblInfo_->setWordWrap(true);
  lblInfo_->setAccessibleDescription(
      "What the service is doing, and the outcome of the last action");
  pgbInfo_ = new QProgressBar(page);
  pgbInfo_->setObjectName("pgbInfo");
  pgbInfo_->setRange(0, 6);
  pgbInfo_->setValue(0);
  // A bar of six steps: a percentage would only be noise.
  pgbInfo_->setTextVisible(false);
  pgbInfo_->setAccessibleName("Progress of the service action");
  cmdStart_ = MakeButton(page, "cmdStart", "&Start Service");
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
  AddCounters(page, layout);
  return page;
}

QString WithMnemonic(const std::string& caption) {
  // The page's rules compare the captions as they are; the buttons show them with a key.
  static const std::pair<const char*, const char*> kKeys[] = {
      {"Install Service", "&Install Service"},
      {"Uninstall Service", "&Uninstall Service"},
      {"Start Service", "&Start Service"},
      {"Stop Service", "S&top Service"},
  };
  for (const auto& [plain, keyed] : kKeys) {
    if (caption == plain) return keyed;
  }
  return Q(caption);
}

void MainWindow::ShowServicePage() {
  const bool was_showing = showing_;
  showing_ = true;
  // The page the model is on, also while its selection's refresh runs.
  if (tab1_->currentIndex() != model_.page()) tab1_->setCurrentIndex(model_.page());
  const ServicePageView& view = model_.service_page().view();
  if (lblInfo_->text() != Q(view.lblInfo)) {
    lblInfo_->setText(Q(view.lblInfo));
    // A screen reader is told of the new text, where the user's focus is on the button that
    // asked for it: the label's name changed, and it is an alert to read out.
    QAccessibleEvent changed(lblInfo_, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    QAccessibleEvent alert(lblInfo_, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
  }
  pgbInfo_->setValue(view.pgbInfo);
  cmdInstall_->setText(WithMnemonic(view.cmdInstall));
  cmdInstall_->setEnabled(view.cmdInstall_enabled);
  cmdStart_->setText(WithMnemonic(view.cmdStart));
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

}  // namespace tervane::config
