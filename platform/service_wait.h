// Waiting for a service to settle after a control, for tervane-svc start --wait and
// stop --wait. A control returns once its request is on its way: the stop while the program
// still stops, the built-in manager's start before the program has reported running. So
// `tervane-svc stop && tervane-svc start` would find the service still stopping (1056);
// waiting until the state reads stopped (or running) first makes such a pair work.
//
// The state is polled, a bounded number of times and for a bounded time, through a query the
// caller supplies (the service handle's QueryStatus) and with a sleep it supplies, so the
// outcomes can be tested without a service and without waiting.
#ifndef TERVANE_PLATFORM_SERVICE_WAIT_H_
#define TERVANE_PLATFORM_SERVICE_WAIT_H_

#include <chrono>
#include <functional>

#include "platform/service_manager.h"
#include "platform/status.h"

namespace tervane::svc {

// The Windows number and text for a service that did not reach the state asked for in time.
inline constexpr ErrorCode kErrorServiceRequestTimeout = WindowsCode(1053);
inline constexpr char kServiceRequestTimeoutText[] =
    "The service did not respond to the start or control request in a timely fashion.";

struct SettleLimits {
  int polls = 200;                           // queries at most
  std::chrono::milliseconds interval{150};   // between two queries
  std::chrono::milliseconds timeout{30000};  // no query starts after this
};

struct Settled {
  Status status;  // ok when the state asked for was read
  int state = 0;  // the last state read; 0 when none could be read
};

// Queries the state until it reads `want`, sleeping `limits.interval` between two queries.
// Fails with 1053 when the polls or the time run out first, with 1067 when a start (`want`
// kServiceRunning) reads stopped (the program ended), and with the query's failure when a
// query fails; except that a stop (`want` kServiceStopped) of a service that is no longer
// installed (1060: it was marked for delete and went as it stopped) reads stopped.
Settled WaitForState(const std::function<Result<int>()>& query, int want,
                     const std::function<void(std::chrono::milliseconds)>& sleep,
                     const SettleLimits& limits = {});

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SERVICE_WAIT_H_
