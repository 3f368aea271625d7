// What the tests of the service page's rules share: a service manager back end whose answers
// the test sets (the failures and states that a real manager gives only to other users, or
// only for a moment), and a record of the page at every WaitWithEvents.
#ifndef TERVANE_CONFIG_SERVICE_TEST_FAKES_H_
#define TERVANE_CONFIG_SERVICE_TEST_FAKES_H_

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "config/service_page.h"
#include "platform/service_manager.h"

namespace tervane::config::testing {

// One service "Tervane" whose answers are the test's. Each call is recorded by name.
class FakeBackEnd : public svc::ServiceBackEnd {
 public:
  const char* Kind() const override { return "fake"; }
  Status Exists(const std::string&) override {
    calls.emplace_back("exists");
    return exists;
  }
  Status Install(const std::string&, const std::string&, const std::string&) override {
    calls.emplace_back("install");
    return svc::ServiceError(svc::kErrorAccessDenied);
  }
  Result<svc::ServiceConfig> QueryConfig(const std::string&) override {
    calls.emplace_back("config");
    if (!config.ok()) return config;
    return svc::ServiceConfig{"/opt/tervane/TervixSrv", "/opt/tervane", "Tervane"};
  }
  Result<int> QueryState(const std::string&) override {
    calls.emplace_back("state");
    if (!state_error.ok()) return state_error;
    if (states.size() > 1) {
      const int next = states.front();
      states.pop_front();
      return next;
    }
    return states.empty() ? svc::kServiceStopped : states.front();
  }
  Status Start(const std::string&) override {
    calls.emplace_back("start");
    return start;
  }
  Status Stop(const std::string&) override {
    calls.emplace_back("stop");
    return stop;
  }
  Status Delete(const std::string&) override {
    calls.emplace_back("delete");
    return remove;
  }

  Status exists;
  Status config;
  Status state_error;
  // The states QueryState reports one after the other; the last one stays.
  std::deque<int> states{svc::kServiceStopped};
  Status start;
  Status stop;
  Status remove;
  std::vector<std::string> calls;
};

// Opens managers on `back_end`; or fails with `open_error` when that is set.
struct FakeManager {
  std::shared_ptr<FakeBackEnd> back_end = std::make_shared<FakeBackEnd>();
  Status open_error;

  OpenManager Opener() {
    return [this](uint32_t access) -> Result<svc::ServiceManager> {
      if (!open_error.ok()) return open_error;
      return svc::ServiceManager(back_end, access);
    };
  }
};

// The page as it was shown at one WaitWithEvents.
struct Shown {
  int ms;
  ServicePageView view;
};

}  // namespace tervane::config::testing

#endif  // TERVANE_CONFIG_SERVICE_TEST_FAKES_H_
