// The "Service Control" page's rules on a service manager whose answers the test sets: the
// rows of the status display, what each click shows after each result, the progress bar and
// the disabled controls at every wait, and clicks that come while an action runs.
#include "config/service_page.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/service_test_fakes.h"

namespace tervane::config {
namespace {

using testing::FakeManager;
using testing::Shown;

constexpr int kStopped = svc::kServiceStopped;
constexpr int kStartPending = svc::kServiceStartPending;
constexpr int kStopPending = svc::kServiceStopPending;
constexpr int kRunning = svc::kServiceRunning;

Status Windows(int number) { return svc::ServiceError(WindowsCode(number)); }

// What the systemd back end says of a unit that the Debian package installed.
constexpr char kPackageWords[] =
    "Tervane.service is installed by the package tervane (/lib/systemd/system/Tervane.service): "
    "remove it with apt remove tervane";

// What the page shows of itself.
struct Looks {
  std::string lblInfo;
  std::string cmdInstall;
  bool cmdInstall_enabled;
  std::string cmdStart;
  bool cmdStart_enabled;
};

void PrintTo(const Looks& l, std::ostream* out) {
  *out << "{\"" << l.lblInfo << "\", \"" << l.cmdInstall << "\" " << l.cmdInstall_enabled << ", \""
       << l.cmdStart << "\" " << l.cmdStart_enabled << "}";
}
bool operator==(const Looks& a, const Looks& b) {
  return a.lblInfo == b.lblInfo && a.cmdInstall == b.cmdInstall &&
         a.cmdInstall_enabled == b.cmdInstall_enabled && a.cmdStart == b.cmdStart &&
         a.cmdStart_enabled == b.cmdStart_enabled;
}

class ServicePageTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }

  // A new manager and a new page on it, as the window has before its first refresh.
  void Reset() {
    manager_ = FakeManager();
    page_ = std::make_unique<ServicePage>("/nonexistent", manager_.Opener());
    page_->SetWaitWithEvents([this](int ms) {
      shown_.push_back({ms, page_->view()});
      if (during_wait_) during_wait_();
    });
    shown_.clear();
  }

  Looks Now() const {
    const ServicePageView& v = page_->view();
    return {v.lblInfo, v.cmdInstall, v.cmdInstall_enabled, v.cmdStart, v.cmdStart_enabled};
  }
  // The progress bar at each wait, then at the end.
  std::vector<int> Progress() const {
    std::vector<int> values;
    for (const Shown& s : shown_) values.push_back(s.view.pgbInfo);
    values.push_back(page_->view().pgbInfo);
    return values;
  }
  // The page after a refresh that found the service in `state`.
  void RefreshedAs(int state) {
    manager_.back_end->states = {state};
    page_->PageSelected();
    shown_.clear();
    manager_.back_end->calls.clear();
  }
  // Every wait of the last action had tab1 disabled, and with `buttons` (a click's action,
  // not a refresh) both buttons too.
  void ExpectDisabledAtEveryWait(bool buttons = true) const {
    ASSERT_FALSE(shown_.empty());
    for (const Shown& s : shown_) {
      EXPECT_EQ(s.ms, 200);
      if (buttons) {
        EXPECT_FALSE(s.view.cmdInstall_enabled);
        EXPECT_FALSE(s.view.cmdStart_enabled);
      }
      EXPECT_FALSE(s.view.tab1_enabled);
    }
    EXPECT_TRUE(page_->view().tab1_enabled);
    EXPECT_FALSE(page_->busy());
  }

  FakeManager manager_;
  std::unique_ptr<ServicePage> page_;
  std::vector<Shown> shown_;
  std::function<void()> during_wait_;
};

TEST_F(ServicePageTest, RefreshShowsTheFirstRowThatMatches) {
  struct Case {
    const char* name;
    std::function<void(FakeManager&)> set;
    Looks looks;
  };
  const Looks unknown = {"The service is installed. Status unknown.", "Uninstall Service", false,
                         "Stop Service", false};
  auto state = [](int s) { return [s](FakeManager& m) { m.back_end->states = {s}; }; };
  const Case cases[] = {
      {"not installed",
       [](FakeManager& m) { m.back_end->exists = Windows(1060); },
       {"The service is not installed.", "Install Service", true, "Stop Service", false}},
      {"stopped",
       state(kStopped),
       {"The service is stopped.", "Uninstall Service", true, "Start Service", true}},
      {"running",
       state(kRunning),
       {"The service is started.", "Uninstall Service", false, "Stop Service", true}},
      {"start pending", state(kStartPending), unknown},
      {"stop pending", state(kStopPending), unknown},
      {"continue pending", state(svc::kServiceContinuePending), unknown},
      {"pause pending", state(svc::kServicePausePending), unknown},
      {"paused", state(svc::kServicePaused), unknown},
      {"state unreadable", [](FakeManager& m) { m.back_end->state_error = Windows(5); }, unknown},
      // Only "does not exist" means not installed; a service that cannot be read is not
      // offered for installing.
      {"configuration access denied",
       [](FakeManager& m) { m.back_end->config = Windows(5); },
       {"Error [5]  when query the service.", "Uninstall Service", false, "Stop Service", false}},
      {"service access denied",
       [](FakeManager& m) { m.back_end->exists = Windows(5); },
       {"Error [5]  when query the service.", "Uninstall Service", false, "Stop Service", false}},
      {"manager not answering",
       [](FakeManager& m) {
         m.open_error = Status::Error(ExitStatusCode(1), "systemctl show: Failed to connect");
       },
       {"Error [1]  when query the service.", "Uninstall Service", false, "Stop Service", false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    // From a page that showed the service running, so "unchanged" captions can be told.
    RefreshedAs(kRunning);
    c.set(manager_);
    page_->PageSelected();
    EXPECT_EQ(Now(), c.looks);
    ExpectDisabledAtEveryWait(false);
  }
}

TEST_F(ServicePageTest, RefreshMovesTheProgressBarAndTheLabelStepByStep) {
  manager_.back_end->states = {kRunning};
  page_->PageSelected();
  EXPECT_EQ(Progress(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(shown_[0].view.lblInfo, "Info");
  for (size_t i = 1; i < shown_.size(); ++i) {
    EXPECT_EQ(shown_[i].view.lblInfo, "Checking service status...") << i;
  }

  shown_.clear();
  manager_.back_end->exists = Windows(1060);
  page_->PageSelected();
  EXPECT_EQ(Progress(), (std::vector<int>{0, 1, 2, 3, 6}));
  // The manager was asked only about the configuration.
  EXPECT_EQ(manager_.back_end->calls.back(), "exists");
}

TEST_F(ServicePageTest, EachClickShowsItsResult) {
  struct Case {
    const char* name;
    int from;  // the state the page was refreshed with
    bool install_button;
    std::function<void(FakeManager&)> set;
    Looks looks;
    std::vector<std::string> calls;
  };
  auto none = [](FakeManager&) {};
  const Case cases[] = {
      {"uninstall",
       kStopped,
       true,
       none,
       {"The service is uninstalled.", "Install Service", true, "Start Service", false},
       {"exists", "stop", "delete"}},
      {"uninstall refused",
       kStopped,
       true,
       [](FakeManager& m) { m.back_end->remove = Windows(1072); },
       {"Error [1072]  when uninstall the service.", "Uninstall Service", true, "Start Service",
        true},
       {"exists", "stop", "delete"}},
      {"uninstall refused in words",
       kStopped,
       true,
       [](FakeManager& m) { m.back_end->remove = Status::Error(ErrnoCode(EPERM), kPackageWords); },
       {std::string("Error [1]  when uninstall the service. ") + kPackageWords, "Uninstall Service",
        true, "Start Service", true},
       {"exists", "stop", "delete"}},
      {"stop",
       kRunning,
       false,
       none,
       {"The service is stopped.", "Uninstall Service", true, "Start Service", true},
       {"exists", "stop"}},
      {"start that runs",
       kStopped,
       false,
       [](FakeManager& m) {
         m.back_end->states = {kStartPending, kStartPending, kRunning};
       },
       {"Service started successfully.", "Uninstall Service", false, "Stop Service", true},
       {"exists", "start", "exists", "state", "exists", "state", "exists", "state"}},
      {"start that is still pending",
       kStopped,
       false,
       [](FakeManager& m) { m.back_end->states = {kStartPending}; },
       {"Service started successfully.", "Uninstall Service", false, "Stop Service", true},
       {}},
      {"start that ends at once",
       kStopped,
       false,
       [](FakeManager& m) { m.back_end->states = {kStopped}; },
       {"Error [1067]  when start the service.", "Uninstall Service", true, "Start Service", true},
       {"exists", "start", "exists", "state"}},
      {"start that ends a moment later",
       kStopped,
       false,
       [](FakeManager& m) {
         m.back_end->states = {kStartPending, kStopPending, kStopped};
       },
       {"Error [1067]  when start the service.", "Uninstall Service", true, "Start Service", true},
       {}},
      {"start refused in words",
       kStopped,
       false,
       [](FakeManager& m) {
         m.back_end->start = Status::Error(
             ExitStatusCode(1),
             "systemctl start: Job for Tervane.service failed because a timeout was exceeded.");
       },
       {"Error [1]  when start the service. systemctl start: Job for Tervane.service failed "
        "because a timeout was exceeded.",
        "Uninstall Service", true, "Start Service", true},
       {"exists", "start"}},
      // A Windows number says it all: its text is not added.
      {"start refused by number",
       kStopped,
       false,
       [](FakeManager& m) { m.back_end->start = Windows(1058); },
       {"Error [1058]  when start the service.", "Uninstall Service", true, "Start Service", true},
       {"exists", "start"}},
      {"manager refused",
       kRunning,
       false,
       [](FakeManager& m) { m.open_error = Windows(5); },
       {"Error [5]  when stop the service.", "Uninstall Service", true, "Stop Service", true},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    RefreshedAs(c.from);
    c.set(manager_);
    if (c.install_button) {
      page_->cmdInstall_Click();
    } else {
      page_->cmdStart_Click();
    }
    EXPECT_EQ(Now(), c.looks);
    ExpectDisabledAtEveryWait();
    if (!c.calls.empty()) {
      EXPECT_EQ(manager_.back_end->calls, c.calls);
    }
  }
}

// The words of an earlier refusal do not follow a later failure that has none: a start that
// ends after it was taken.
TEST_F(ServicePageTest, TheManagersWordsGoWithItsOwnRefusalOnly) {
  RefreshedAs(kStopped);
  manager_.back_end->remove = Status::Error(ErrnoCode(EPERM), kPackageWords);
  page_->cmdInstall_Click();
  EXPECT_EQ(page_->control().last_failure().description(), kPackageWords);
  manager_.back_end->states = {kStopped};
  page_->cmdStart_Click();
  EXPECT_EQ(page_->view().lblInfo, "Error [1067]  when start the service.");
}

TEST_F(ServicePageTest, ActionsMoveTheProgressBarThroughTheirSteps) {
  RefreshedAs(kRunning);
  page_->cmdStart_Click();
  // 0 after the first wait; the request's steps 1 to 4; 6 after the last wait.
  EXPECT_EQ(Progress(), (std::vector<int>{6, 0, 1, 2, 3, 4, 6}));
  EXPECT_EQ(shown_[1].view.lblInfo, "Attempting to stop the service...");

  // The manager could not be opened: steps 2 and 3 are skipped.
  RefreshedAs(kStopped);
  manager_.open_error = Windows(5);
  page_->cmdInstall_Click();
  EXPECT_EQ(Progress(), (std::vector<int>{6, 0, 1, 4, 6}));
  EXPECT_EQ(shown_[1].view.lblInfo, "Attempting to uninstall the service...");

  // A start waits for the service to leave start pending, 200 ms at a time, for at most 5 s.
  manager_.open_error = Status::Ok();
  RefreshedAs(kStopped);
  manager_.back_end->states = {kStartPending};
  page_->cmdStart_Click();
  int polls = 0;
  for (const std::string& call : manager_.back_end->calls) polls += call == "state";
  EXPECT_EQ(polls, ServicePage::kStartWaitMs / 200 + 1);
  EXPECT_EQ(shown_.size(), 1u + 4u + 25u + 1u);
}

TEST_F(ServicePageTest, ClicksDuringAnActionAndOnDisabledButtonsDoNothing) {
  RefreshedAs(kRunning);
  // "Uninstall Service" is disabled while the service runs.
  page_->cmdInstall_Click();
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(manager_.back_end->calls.empty());

  // Every click and page selection that comes while the stop runs is ignored.
  int nested = 0;
  during_wait_ = [&] {
    const size_t before = shown_.size();
    page_->cmdStart_Click();
    page_->cmdInstall_Click();
    page_->RefreshServiceStatus();
    nested += static_cast<int>(shown_.size() - before);
  };
  page_->cmdStart_Click();
  during_wait_ = nullptr;
  EXPECT_EQ(nested, 0);
  EXPECT_EQ(manager_.back_end->calls, (std::vector<std::string>{"exists", "stop"}));
  EXPECT_EQ(Now(),
            (Looks{"The service is stopped.", "Uninstall Service", true, "Start Service", true}));

  // A refresh cannot be entered twice either.
  shown_.clear();
  during_wait_ = [&] { page_->PageSelected(); };
  page_->PageSelected();
  EXPECT_EQ(Progress(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace tervane::config
