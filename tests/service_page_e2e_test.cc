// The "Service Control" page end to end: the window, driven with QTest's mouse on the
// offscreen platform, installs, starts, stops and removes the real TervixSrv of a program
// folder of the test's own through the built-in service manager (its registry in the test's
// temporary folder), and the service it starts relays a trap. Each click runs its whole
// action, waits included, before QTest's click returns.
#include <signal.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/mainwindow.h"
#include "config/tervix_model.h"
#include "config/window_test_fixture.h"
#include "gtest/gtest.h"
#include "platform/builtin_services.h"
#include "tests/service_fixture.h"

namespace tervane::testing {
namespace {

using config::kPageGeneral;
using config::kPageService;
using config::kPageTraps;

// What the page shows: the label, and each button's caption and whether it is enabled.
struct Page {
  std::string info;
  std::string install;
  bool install_enabled;
  std::string start;
  bool start_enabled;
  friend bool operator==(const Page&, const Page&) = default;
};
void PrintTo(const Page& p, std::ostream* out) {
  *out << "{\"" << p.info << "\", \"" << p.install << "\" " << p.install_enabled << ", \""
       << p.start << "\" " << p.start_enabled << "}";
}

const Page kNotInstalled = {"The service is not installed.", "Install Service", true,
                            "Start Service", false};
const Page kStopped = {"The service is stopped.", "Uninstall Service", true, "Start Service", true};
const Page kStarted = {"The service is started.", "Uninstall Service", false, "Stop Service", true};

class ServicePageE2e : public ServiceTest {
 protected:
  void TearDown() override {
    window_.reset();
    model_.reset();
    ServiceTest::TearDown();
  }

  void OpenWindow() {
    Result<std::unique_ptr<config::TervixModel>> model =
        config::TervixModel::Open(folder_.string(), dialogs_);
    ASSERT_TRUE(model.ok()) << model.status().ToString();
    model_ = std::move(*model);
    window_ = std::make_unique<config::MainWindow>(*model_);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get(), 5000));
  }

  template <typename T>
  T* Find(const char* name) const {
    T* widget = window_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }

  // The captions as they read on the screen: a mnemonic's "&" only underlines its letter.
  Page Shown() const {
    QPushButton* install = Button("cmdInstall");
    QPushButton* start = Button("cmdStart");
    return {Find<QLabel>("lblInfo")->text().toStdString(),
            install->text().remove('&').toStdString(), install->isEnabled(),
            start->text().remove('&').toStdString(), start->isEnabled()};
  }

  // Selects a page with the mouse; selecting "Service Control" refreshes it before this
  // returns.
  void ClickTab(int page) {
    QTabBar* bar = Find<QTabWidget>("tab1")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(page).center());
    ASSERT_EQ(Find<QTabWidget>("tab1")->currentIndex(), page);
  }
  // The page selected anew, as the user does to see the service's state now.
  void Reselect() {
    ASSERT_NO_FATAL_FAILURE(ClickTab(kPageTraps));
    ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));
  }
  void Click(const char* name) {
    QPushButton* button = Button(name);
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled()) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // After every action the progress bar is full and the pages can be changed again.
  void ExpectActionEnded() const {
    EXPECT_EQ(Find<QProgressBar>("pgbInfo")->value(), 6);
    EXPECT_TRUE(Find<QTabWidget>("tab1")->isEnabled());
  }
  // The status text that page 1 shows, its line ends as "\n".
  std::string StatusOnPage1() {
    ClickTab(kPageGeneral);
    std::string text = Find<QPlainTextEdit>("txtTrapRecvStatus")->toPlainText().toStdString();
    std::erase(text, '\r');
    return text;
  }

  config::testing::FakeDialogs dialogs_;
  std::unique_ptr<config::TervixModel> model_;
  std::unique_ptr<config::MainWindow> window_;
};

TEST_F(ServicePageE2e, InstallStartRelayStopAndUninstallFromThePage) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  EXPECT_FALSE(Find<QProgressBar>("pgbInfo")->isTextVisible());

  ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));
  EXPECT_EQ(Shown(), kNotInstalled);
  ExpectActionEnded();

  // TervixSrv -install_noMsg really ran, in the program folder, and has ended.
  ASSERT_NO_FATAL_FAILURE(Click("cmdInstall"));
  EXPECT_EQ(Shown(), (Page{"Service installed successfully.", "Uninstall Service", true,
                           "Start Service", true}));
  ExpectActionEnded();
  EXPECT_TRUE(Registered());
  ASSERT_NO_FATAL_FAILURE(Reselect());
  EXPECT_EQ(Shown(), kStopped);

  // While the start runs, the window handles its events (a timer fires), shows the action's
  // text, and keeps both buttons and the pages disabled: a second click does nothing.
  struct Seen {
    bool tab1, install, start;
    std::string info;
  };
  std::vector<Seen> seen;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    seen.push_back({Find<QTabWidget>("tab1")->isEnabled(), Button("cmdInstall")->isEnabled(),
                    Button("cmdStart")->isEnabled(),
                    Find<QLabel>("lblInfo")->text().toStdString()});
    QTest::mouseClick(Button("cmdStart"), Qt::LeftButton);
  });
  watcher.start(50);
  ASSERT_NO_FATAL_FAILURE(Click("cmdStart"));
  watcher.stop();
  EXPECT_EQ(Shown(), (Page{"Service started successfully.", "Uninstall Service", false,
                           "Stop Service", true}));
  ExpectActionEnded();
  ASSERT_GE(seen.size(), 5u);
  for (const Seen& s : seen) EXPECT_FALSE(s.tab1 || s.install || s.start);
  // The text changes after the action's first wait.
  EXPECT_EQ(seen.front().info, "The service is stopped.");
  EXPECT_EQ(seen.back().info, "Attempting to start the service...");
  // The page saw the start through: the service runs, started once.
  EXPECT_EQ(State(), svc::kServiceRunning) << ServiceLog();
  ASSERT_TRUE(ServiceProcess().has_value());
  ASSERT_NO_FATAL_FAILURE(ExpectRelayed("1.3.6.1.4.1.32473.5.0.7"));
  const std::string log = ServiceLog();
  EXPECT_EQ(log.find("Tervane: information 101\n"), log.rfind("Tervane: information 101\n")) << log;
  EXPECT_TRUE(LineMatches(StatusOnPage1(), "{stamp}\nTrap Server Started\nIP=127.0.0.1\nPort=" +
                                               std::to_string(recv_port_)));

  ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));
  EXPECT_EQ(Shown(), kStarted);

  ASSERT_NO_FATAL_FAILURE(Click("cmdStart"));
  EXPECT_EQ(Shown(), kStopped);
  ExpectActionEnded();
  ASSERT_TRUE(WaitState(svc::kServiceStopped)) << ServiceLog();
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
  EXPECT_EQ(StatusOnPage1(), "Not Started");

  ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));
  EXPECT_EQ(Shown(), kStopped);
  ASSERT_NO_FATAL_FAILURE(Click("cmdInstall"));
  EXPECT_EQ(Shown(),
            (Page{"The service is uninstalled.", "Install Service", true, "Start Service", false}));
  ExpectActionEnded();
  EXPECT_FALSE(Registered());
  ASSERT_NO_FATAL_FAILURE(Reselect());
  EXPECT_EQ(Shown(), kNotInstalled);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(ServicePageE2e, RequestsThatTheManagerRefusesShowItsNumber) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));

  // Installed behind the window's back: the install the page offers finds it there.
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ASSERT_NO_FATAL_FAILURE(Click("cmdInstall"));
  EXPECT_EQ(Shown(), (Page{"Error [1073]  when install the service.", "Install Service", true,
                           "Start Service", true}));
  ExpectActionEnded();

  // Started elsewhere while the page shows it stopped.
  ASSERT_NO_FATAL_FAILURE(Reselect());
  EXPECT_EQ(Shown(), kStopped);
  ASSERT_EQ(Svc("start").exit, 0);
  ASSERT_TRUE(WaitState(svc::kServiceRunning)) << ServiceLog();
  ASSERT_NO_FATAL_FAILURE(Click("cmdStart"));
  EXPECT_EQ(Shown(), (Page{"Error [1056]  when start the service.", "Uninstall Service", true,
                           "Start Service", true}));

  // Stopped elsewhere while the page shows it started.
  ASSERT_NO_FATAL_FAILURE(Reselect());
  EXPECT_EQ(Shown(), kStarted);
  ASSERT_EQ(Svc("stop").exit, 0);
  ASSERT_TRUE(WaitState(svc::kServiceStopped)) << ServiceLog();
  ASSERT_NO_FATAL_FAILURE(Click("cmdStart"));
  EXPECT_EQ(Shown(), (Page{"Error [1062]  when stop the service.", "Uninstall Service", true,
                           "Stop Service", true}));

  // Removed behind the window's back while the page shows it stopped.
  ASSERT_NO_FATAL_FAILURE(Reselect());
  EXPECT_EQ(Shown(), kStopped);
  ASSERT_EQ(Svc("delete").exit, 0);
  ASSERT_NO_FATAL_FAILURE(Click("cmdStart"));
  EXPECT_EQ(Shown(), (Page{"Error [1060]  when start the service.", "Uninstall Service", true,
                           "Start Service", true}));
  ASSERT_NO_FATAL_FAILURE(Click("cmdInstall"));
  EXPECT_EQ(Shown(), (Page{"Error [1060]  when uninstall the service.", "Uninstall Service", true,
                           "Start Service", true}));
  ASSERT_NO_FATAL_FAILURE(Reselect());
  EXPECT_EQ(Shown(), kNotInstalled);

  // TervixSrv missing from the program folder: said in words.
  std::filesystem::remove(folder_ / "TervixSrv");
  ASSERT_NO_FATAL_FAILURE(Click("cmdInstall"));
  EXPECT_EQ(Shown(), (Page{"TervixSrv is missing from the program folder; the service was not "
                           "installed.",
                           "Install Service", true, "Start Service", true}));
  ExpectActionEnded();
  EXPECT_FALSE(Registered());
}

TEST_F(ServicePageE2e, AStartThatFailsAtOnceIsAFailureWithItsReasonOnPage1) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  // A forward endpoint that is the receive endpoint: the service refuses to start.
  ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapForwPort", store::Value(static_cast<int>(recv_port_))));
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));
  EXPECT_EQ(Shown(), kStopped);

  ASSERT_NO_FATAL_FAILURE(Click("cmdStart"));
  EXPECT_EQ(Shown(), (Page{"Error [1067]  when start the service.", "Uninstall Service", true,
                           "Start Service", true}));
  ExpectActionEnded();
  EXPECT_EQ(State(), svc::kServiceStopped);
  const std::string status = StatusOnPage1();
  EXPECT_TRUE(LineMatches(
      status, "{stamp}\nFailed to Start\nTrapForwIpAddr: 127.0.0.1:" + std::to_string(recv_port_) +
                  " is this service's own receive address and port; every "
                  "trap would be sent back to it"))
      << status;
}

TEST_F(ServicePageE2e, APendingOrPausedServiceOffersNothing) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ASSERT_EQ(Svc("start").exit, 0);
  ASSERT_TRUE(WaitState(svc::kServiceRunning)) << ServiceLog();
  std::optional<svc::ProcessId> process = ServiceProcess();
  ASSERT_TRUE(process.has_value());
  ASSERT_NO_FATAL_FAILURE(OpenWindow());

  // The states that the running program reports to the manager, as it would report them.
  for (int state : {svc::kServicePaused, svc::kServicePausePending, svc::kServiceStartPending,
                    svc::kServiceStopPending}) {
    SCOPED_TRACE(svc::StateName(state));
    const Status reported =
        svc::ReportBuiltinState(registry_, svc::kServiceName, state, process->pid);
    ASSERT_TRUE(reported.ok()) << reported.ToString();
    ASSERT_EQ(State(), state);
    ASSERT_NO_FATAL_FAILURE(Reselect());
    const Page shown = Shown();
    EXPECT_EQ(shown.info, "The service is installed. Status unknown.");
    EXPECT_FALSE(shown.install_enabled);
    EXPECT_FALSE(shown.start_enabled);
    EXPECT_EQ(shown.install, "Uninstall Service");
  }
}

TEST_F(ServicePageE2e, ClosingTheWindowDuringAnActionClosesItOnceTheActionHasEnded) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  ASSERT_NO_FATAL_FAILURE(ClickTab(kPageService));
  bool open_while_busy = false;
  QTimer::singleShot(300, [&] {
    window_->close();
    open_while_busy = window_->isVisible();
  });
  ASSERT_NO_FATAL_FAILURE(Click("cmdInstall"));
  EXPECT_TRUE(open_while_busy);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(Find<QLabel>("lblInfo")->text(), "Service installed successfully.");
  EXPECT_TRUE(Registered());
}

}  // namespace
}  // namespace tervane::testing
