// tervix_screenshots: renders the window on a sample program folder into PNG files, for the
// documentation (scripts/screenshots.sh runs it under Xvfb).
//
//   tervix_screenshots <output folder>
//
// The sample folder is made in a temporary directory: the default settings, four further
// stations (one on IPv6), storm control on, counters as a running service writes them, two trap
// definitions, the second using all fourteen variables, three SNMPv3 users, and a copy of
// TervixSrv. The window is
// driven with QTest's mouse and keyboard as a user would, and each picture is QWidget::grab() of a
// window or dialog: the four pages at four sizes, the "Service Control" page again with the
// service installed and started, the "Add New", station and SNMPv3 user dialogs and the message
// that refuses a port. The service runs under the built-in service manager with its registry in the
// temporary directory, so the machine's own services are never touched, and it is stopped and
// removed before the end. Exit status 0 when every picture was written, 1 otherwise.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <ctime>
#include <string>

#include "config/addnewdialog.h"
#include "config/mainwindow.h"
#include "config/qtdialogs.h"
#include "config/stationdialog.h"
#include "config/tervix_model.h"
#include "config/v3userdialog.h"
#include "platform/service_manager.h"
#include "platform/service_record.h"
#include "store/relay_options.h"
#include "store/statistics.h"
#include "store/store.h"
#include "tests/free_port.h"

namespace {

using tervane::Status;
using tervane::config::Icon;
namespace store = tervane::store;

bool Save(QWidget* widget, const QString& folder, const QString& name) {
  const QString path = QDir(folder).filePath(name);
  if (!widget->grab().save(path, "PNG")) {
    std::fprintf(stderr, "tervix_screenshots: could not write %s\n", qPrintable(path));
    return false;
  }
  std::printf("tervix_screenshots: wrote %s\n", qPrintable(path));
  return true;
}

// Answers the model's dialogs without a user: a message is pictured once, then dismissed.
class PictureDialogs : public tervane::config::Dialogs {
 public:
  explicit PictureDialogs(QString folder) : folder_(std::move(folder)) {}

  void Inform(const std::string& text, const std::string& title, Icon icon) override {
    if (message_saved_) return;
    std::unique_ptr<QMessageBox> box =
        tervane::config::MakeMessageBox(text, title, icon, QMessageBox::Ok, parent_);
    box->show();
    QTest::qWait(50);
    message_saved_ = Save(box.get(), folder_, "validation-message.png");
  }
  bool AskYesNo(const std::string&, const std::string&, Icon) override { return false; }
  std::optional<std::string> AskNewTrapName() override { return std::nullopt; }
  std::optional<std::string> AskSaveFile(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void OpenFile(const std::string&) override {}

  void SetParent(QWidget* parent) { parent_ = parent; }
  bool message_saved() const { return message_saved_; }

 private:
  QString folder_;
  QWidget* parent_ = nullptr;
  bool message_saved_ = false;
};

Status MakeSampleFolder(const std::string& folder) {
  Status made = store::Store::Create(folder + "/Tervix.mdb");
  if (!made.ok()) return made;
  tervane::Result<store::Store> db = store::Store::Open(folder);
  if (!db.ok()) return db.status();
  Status written = db->WriteSettings({{"TrapForwIpAddr", store::Value("192.0.2.10")},
                                      {"TrapForwPort", store::Value(1162)},
                                      {"TrapRecvStatus", store::Value("Not Started")}});
  if (!written.ok()) return written;
  // Four more stations: one that gets SNMPv1 with a community of its own, one switched off,
  // one on IPv6.
  const store::ColumnValues stations[] = {
      {{"Address", store::Value("192.0.2.20")},
       {"Port", store::Value(162)},
       {"ConvV2ToV1", store::Value(0)},
       {"Community", store::Value("")},
       {"Enabled", store::Value(1)}},
      {{"Address", store::Value("198.51.100.7")},
       {"Port", store::Value(10162)},
       {"ConvV2ToV1", store::Value(1)},
       {"Community", store::Value("noc-west")},
       {"Enabled", store::Value(1)}},
      {{"Address", store::Value("203.0.113.40")},
       {"Port", store::Value(162)},
       {"ConvV2ToV1", store::Value(0)},
       {"Community", store::Value("")},
       {"Enabled", store::Value(0)}},
      {{"Address", store::Value("2001:db8:5e::20")},
       {"Port", store::Value(162)},
       {"ConvV2ToV1", store::Value(0)},
       {"Community", store::Value("")},
       {"Enabled", store::Value(1)}},
  };
  for (const store::ColumnValues& station : stations) {
    tervane::Result<int64_t> id = db->AddStation(station);
    if (!id.ok()) return id.status();
  }
  // Counters of a service that has run for an hour.
  {
    tervane::Result<store::StatisticsWriter> writer = store::StatisticsWriter::Open(folder);
    if (!writer.ok()) return writer.status();
    const store::Counter counters[] = {
        {"datagrams_received", "", 48213},
        {"snmpv1_traps_received", "", 1207},
        {"snmpv2_traps_received", "", 46870},
        {"informs_received", "", 131},
        {"informs_answered", "", 131},
        {"traps_wrapped", "", 39544},
        {"traps_passed_through", "", 8659},
        {"traps_converted_to_v1", "", 1207},
        {"traps_dropped", "malformed_datagram", 3},
        {"traps_dropped", "malformed_snmpv2_message", 2},
        {"traps_dropped", "null_values", 0},
        {"traps_dropped", "wrapping_failed", 0},
        {"traps_dropped", "other", 0},
        {"station_traps_sent", "192.0.2.10:1162", 48203},
        {"station_send_failures", "192.0.2.10:1162", 0},
        {"station_traps_sent", "192.0.2.20:162", 48203},
        {"station_send_failures", "192.0.2.20:162", 0},
        {"station_traps_sent", "198.51.100.7:10162", 48191},
        {"station_send_failures", "198.51.100.7:10162", 12},
        {"station_traps_sent", "[2001:db8:5e::20]:162", 48203},
        {"station_send_failures", "[2001:db8:5e::20]:162", 0},
    };
    const std::time_t now = std::time(nullptr);
    Status counted = writer->Write(counters, store::UtcStamp(now - 3600), store::UtcStamp(now - 4));
    if (!counted.ok()) return counted;
  }
  // Three SNMPv3 users: one for any engine with authentication and privacy, one bound to a
  // device's engine, one that only authenticates.
  namespace usm = tervane::snmp::usm;
  const store::V3User users[] = {
      {"noc-traps",
       {},
       usm::Auth::kSha256,
       usm::PasswordToKey(usm::Auth::kSha256, "sample-auth-1"),
       usm::Priv::kAes128,
       usm::PasswordToKey(usm::Auth::kSha256, "sample-priv-1")},
      {"core-router",
       {0x80, 0x00, 0x00, 0x09, 0x03, 0x00, 0x1b, 0x54, 0xc2, 0x3a, 0x40},
       usm::Auth::kSha512,
       usm::PasswordToKey(usm::Auth::kSha512, "sample-auth-2"),
       usm::Priv::kAes256C,
       usm::PasswordToKey(usm::Auth::kSha512, "sample-priv-2")},
      {"ups-monitor",
       {},
       usm::Auth::kSha1,
       usm::PasswordToKey(usm::Auth::kSha1, "sample-auth-3"),
       usm::Priv::kNone,
       {}},
  };
  for (const store::V3User& user : users) {
    if (Status set = db->SetV3User(user); !set.ok()) return set;
  }
  // Storm control on, with a default rule of its own.
  written = db->WriteRelayOption(store::kOptionStormControl, "1");
  if (written.ok()) written = db->SetStormRule({"", 120, 20, true});
  if (!written.ok()) return written;
  tervane::Result<int64_t> added = db->AddTrap({{"TrapName", store::Value("linkDown")},
                                                {"TrapOID", store::Value("1.3.6.1.6.3.1.1.5.3")},
                                                {"TrapSourceVarNo", store::Value(2)},
                                                {"TrapNewVarNo", store::Value(2)},
                                                {"TrapNewNumber", store::Value(1000)},
                                                {"VarName1", store::Value("portName")},
                                                {"VarPos1", store::Value(1)},
                                                {"VarChar1", store::Value(4)},
                                                {"VarType1", store::Value("DisplayString")},
                                                {"VarName2", store::Value("portNumber")},
                                                {"VarPos2", store::Value(6)},
                                                {"VarChar2", store::Value(3)},
                                                {"VarType2", store::Value("Integer32")}});
  if (!added.ok()) return added.status();
  // An alarm line of a power controller, cut into all fourteen variables.
  static const char* const kTypes[] = {"DisplayString",    "Integer32", "Gauge32",
                                       "IpAddress",        "Counter32", "TimeTicks",
                                       "OBJECT IDENTIFIER"};
  static const char* const kNames[] = {"site",   "rack",     "unit",  "outlet", "volts",
                                       "amps",   "watts",    "peer",  "alarms", "uptime",
                                       "object", "severity", "phase", "load"};
  store::ColumnValues columns = {{"TrapName", store::Value("pduAlarm")},
                                 {"TrapOID", store::Value("1.3.6.1.4.1.32473.7.0.12")},
                                 {"TrapSourceVarNo", store::Value(3)},
                                 {"TrapNewVarNo", store::Value(14)},
                                 {"TrapNewNumber", store::Value(2300)}};
  for (int i = 1; i <= tervane::config::kVarRows; ++i) {
    const std::string n = std::to_string(i);
    columns.emplace_back("VarName" + n, store::Value(kNames[i - 1]));
    columns.emplace_back("VarPos" + n, store::Value(1 + 6 * (i - 1)));
    columns.emplace_back("VarChar" + n, store::Value(5));
    columns.emplace_back("VarType" + n, store::Value(kTypes[(i - 1) % 7]));
  }
  added = db->AddTrap(columns);
  return added.ok() ? Status::Ok() : added.status();
}

void ClickTab(tervane::config::MainWindow& window, int page) {
  QTabBar* bar = window.findChild<QTabWidget*>("tab1")->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(page).center());
  QTest::qWait(50);
}

// Clicks a button of the "Service Control" page; its action has run when this returns.
void ClickButton(tervane::config::MainWindow& window, const char* name) {
  QTest::mouseClick(window.findChild<QPushButton*>(name), Qt::LeftButton);
  QTest::qWait(50);
}

QString Info(tervane::config::MainWindow& window) {
  return window.findChild<QLabel*>("lblInfo")->text();
}

int ServiceState() {
  namespace svc = tervane::svc;
  tervane::Result<svc::ServiceManager> scm = svc::ServiceManager::Open();
  if (!scm.ok()) return 0;
  tervane::Result<svc::ServiceHandle> service =
      scm->OpenService(svc::kServiceName, svc::kServiceQueryStatus);
  if (!service.ok()) return 0;
  tervane::Result<int> state = service->QueryStatus();
  return state.ok() ? *state : 0;
}

// Makes sure no service of ours outlives this program: waits for it to stop (at most 10 s),
// and ends the process the manager started when it has not.
void EndService(const std::string& registry) {
  for (int i = 0; i < 100 && ServiceState() != tervane::svc::kServiceStopped && ServiceState() != 0;
       ++i) {
    QTest::qWait(100);
  }
  if (ServiceState() == tervane::svc::kServiceStopped || ServiceState() == 0) return;
  tervane::Result<std::string> text = tervane::svc::ReadTextFile(registry + "/Tervane.pid");
  std::optional<tervane::svc::ProcessId> id =
      text.ok() ? tervane::svc::ParsePidFile(*text) : std::nullopt;
  if (id) kill(id->pid, SIGKILL);
  std::fprintf(stderr, "tervix_screenshots: the service did not stop; it was killed\n");
}

// The "Service Control" page with the service not installed, then installed and started by
// its buttons; afterwards the service is stopped and removed by them again. It listens on a
// free port of 127.0.0.1 meanwhile; the sample's receive settings are put back afterwards.
bool ServicePictures(tervane::config::MainWindow& window, const std::string& folder,
                     const QString& out) {
  using tervane::config::kPageService;
  using tervane::config::kPageTraps;
  bool ok = true;
  ClickTab(window, kPageService);
  ok &= Save(&window, out, "service-control.png");

  tervane::Result<store::Store> db = store::Store::Open(folder);
  const int port = FreeUdpPort();
  if (!db.ok() || port == 0 ||
      !db->WriteSettings(
             {{"TrapRecvIpAddr", store::Value("127.0.0.1")}, {"TrapRecvPort", store::Value(port)}})
           .ok()) {
    std::fprintf(stderr, "tervix_screenshots: could not set a free receive port\n");
    return false;
  }
  ClickButton(window, "cmdInstall");
  if (Info(window) == "Service installed successfully.") {
    ClickButton(window, "cmdStart");
    // Selected anew, the page shows the state it reads from the service manager.
    ClickTab(window, kPageTraps);
    ClickTab(window, kPageService);
    if (Info(window) == "The service is started.") {
      ok &= Save(&window, out, "service-control-started.png");
    } else {
      std::fprintf(stderr, "tervix_screenshots: the service did not start: %s\n",
                   qPrintable(Info(window)));
      ok = false;
    }
    if (window.findChild<QPushButton*>("cmdStart")->text() == "Stop Service") {
      ClickButton(window, "cmdStart");
    }
    EndService(folder + "/services");
    ClickTab(window, kPageTraps);
    ClickTab(window, kPageService);
    ClickButton(window, "cmdInstall");
    if (Info(window) != "The service is uninstalled.") {
      std::fprintf(stderr, "tervix_screenshots: the service was not removed: %s\n",
                   qPrintable(Info(window)));
      ok = false;
    }
  } else {
    std::fprintf(stderr, "tervix_screenshots: the service was not installed: %s\n",
                 qPrintable(Info(window)));
    ok = false;
  }
  ok &= db->WriteSettings({{"TrapRecvIpAddr", store::Value("0.0.0.0")},
                           {"TrapRecvPort", store::Value(162)},
                           {"TrapRecvStatus", store::Value("Not Started")}})
            .ok();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tervix_screenshots <output folder>\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir folder;
  const Status made = MakeSampleFolder(folder.path().toStdString());
  if (!folder.isValid() || !made.ok()) {
    std::fprintf(stderr, "tervix_screenshots: %s\n", made.ToString().c_str());
    return 1;
  }
  const QString service_program = QDir(folder.path()).filePath("TervixSrv");
  if (!QFile::copy(TERVIX_SRV_PATH, service_program) ||
      !QFile::setPermissions(service_program, QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadGroup |
                                                  QFile::ExeGroup)) {
    std::fprintf(stderr, "tervix_screenshots: could not copy %s\n", TERVIX_SRV_PATH);
    return 1;
  }
  const std::string registry = folder.path().toStdString() + "/services";
  setenv(tervane::svc::kServiceDirVariable, registry.c_str(), 1);
  PictureDialogs dialogs(out);
  tervane::Result<std::unique_ptr<tervane::config::TervixModel>> model =
      tervane::config::TervixModel::Open(folder.path().toStdString(), dialogs);
  if (!model.ok()) {
    std::fprintf(stderr, "tervix_screenshots: %s\n", model.status().ToString().c_str());
    return 1;
  }
  tervane::config::MainWindow window(**model);
  dialogs.SetParent(&window);
  window.show();
  window.activateWindow();
  if (!QTest::qWaitForWindowActive(&window, 5000)) {
    std::fprintf(stderr, "tervix_screenshots: the window was not shown\n");
    return 1;
  }

  bool ok = true;
  // "SNMP Traps" with the second definition, a sample value and a piece of it selected.
  auto* list = window.findChild<QListWidget*>("lbxTrapName");
  if (list->count() > 1) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
  }
  auto* sample = window.findChild<QLineEdit*>("txtValToSplit");
  QTest::mouseClick(sample, Qt::LeftButton);
  QTest::keyClicks(sample, "Paris 07 03 12 230.1 4.20 ");
  QTest::keyClick(sample, Qt::Key_Home);
  for (int i = 0; i < 5; ++i) QTest::keyClick(sample, Qt::Key_Right, Qt::ShiftModifier);
  QTest::qWait(50);
  ok &= Save(&window, out, "snmp-traps.png");

  ClickTab(window, tervane::config::kPageGeneral);
  ok &= Save(&window, out, "general-settings.png");
  // Both pages enlarged, then maximised: the labels stay with their fields, the list grows,
  // and the spare room goes below the last control.
  const QSize normal = window.size();
  for (const char* size : {"866x514", "1280x900", "maximised"}) {
    if (std::string(size) == "maximised") {
      // Without a window manager to maximise it, the window takes the screen itself.
      window.showMaximized();
      QTest::qWait(300);
      const QRect screen = window.screen()->availableGeometry();
      if (window.frameGeometry() != screen) window.setGeometry(screen);
    } else {
      const QStringList wh = QString(size).split('x');
      window.resize(wh[0].toInt(), wh[1].toInt());
    }
    QTest::qWait(300);
    ClickTab(window, tervane::config::kPageTraps);
    ok &= Save(&window, out, QString("snmp-traps-%1.png").arg(size));
    ClickTab(window, tervane::config::kPageGeneral);
    ok &= Save(&window, out, QString("general-settings-%1.png").arg(size));
    ClickTab(window, tervane::config::kPageService);
    ok &= Save(&window, out, QString("service-control-%1.png").arg(size));
    ClickTab(window, tervane::config::kPageV3);
    ok &= Save(&window, out, QString("snmpv3-%1.png").arg(size));
  }
  window.showNormal();
  window.resize(normal);
  QTest::qWait(300);
  // "SNMPv3" with the second user selected.
  ClickTab(window, tervane::config::kPageV3);
  auto* users = window.findChild<QTableWidget*>("lstV3Users");
  if (users->rowCount() > 1) {
    QTest::mouseClick(users->viewport(), Qt::LeftButton, {},
                      users->visualItemRect(users->item(1, 0)).center());
  }
  QTest::qWait(50);
  ok &= Save(&window, out, "snmpv3.png");
  ok &= ServicePictures(window, folder.path().toStdString(), out);

  {
    tervane::config::AddNewDialog add(**model, &window);
    add.show();
    ok &= QTest::qWaitForWindowExposed(&add, 5000);
    QTest::keyClicks(add.findChild<QLineEdit*>("txtName"), "coldStart");
    QTest::qWait(50);
    ok &= Save(&add, out, "add-new.png");
  }

  {
    tervane::config::StationDialog station(
        tervane::config::kEditStationTitle, {"198.51.100.7", "10162", true, "noc-west", true},
        [](const tervane::config::StationFields&) { return tervane::config::StationVerdict{}; },
        &window);
    station.show();
    ok &= QTest::qWaitForWindowExposed(&station, 5000);
    QTest::qWait(50);
    ok &= Save(&station, out, "station-dialog.png");
  }

  {
    // Editing the user bound to an engine, with another hash chosen: both passwords are needed.
    const store::V3User& user = (*model)->v3_users().users().at(1);
    tervane::config::V3UserDialog v3user(
        {tervane::config::kEditV3UserTitle, tervane::config::FieldsOfUser(user), user.auth},
        [](const tervane::config::V3UserFields&) { return tervane::config::V3UserVerdict{}; },
        &window);
    v3user.show();
    ok &= QTest::qWaitForWindowExposed(&v3user, 5000);
    auto* auth = v3user.findChild<QComboBox*>("cboV3Auth");
    auth->setCurrentIndex(auth->findText("SHA-384"));
    QTest::keyClicks(v3user.findChild<QLineEdit*>("txtV3AuthPassword"), "new-secret");
    QTest::qWait(50);
    ok &= Save(&v3user, out, "snmpv3-user-dialog.png");
  }

  {
    // The same folder opened read-only, as a user who may not change the settings sees it.
    tervane::Result<std::unique_ptr<tervane::config::TervixModel>> reader =
        tervane::config::TervixModel::Open(folder.path().toStdString(), dialogs, true);
    ok &= reader.ok();
    if (reader.ok()) {
      tervane::config::MainWindow read_only(**reader);
      read_only.show();
      ok &= QTest::qWaitForWindowExposed(&read_only, 5000);
      QTest::qWait(50);
      ok &= Save(&read_only, out, "read-only.png");
      ClickTab(read_only, tervane::config::kPageGeneral);
      ok &= Save(&read_only, out, "read-only-general-settings.png");
    }
  }

  // A port out of range, refused when the page is changed.
  ClickTab(window, tervane::config::kPageGeneral);
  auto* port = window.findChild<QLineEdit*>("txtTrapRecvPort");
  QTest::mouseClick(port, Qt::LeftButton);
  QTest::keyClick(port, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(port, "70000");
  ClickTab(window, tervane::config::kPageTraps);
  if (!dialogs.message_saved()) {
    std::fprintf(stderr, "tervix_screenshots: the refused port showed no message\n");
    ok = false;
  }
  return ok ? 0 : 1;
}
