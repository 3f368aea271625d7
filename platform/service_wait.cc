#include "platform/service_wait.h"

namespace tervane::svc {

Settled WaitForState(const std::function<Result<int>()>& query, int want,
                     const std::function<void(std::chrono::milliseconds)>& sleep,
                     const SettleLimits& limits) {
  const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
  Settled settled;
  for (int poll = 1; poll <= limits.polls; ++poll) {
    Result<int> state = query();
    if (want == kServiceStopped && state.status().error() == kErrorServiceDoesNotExist) {
      // Marked for delete, it went with its stop: the program removes its registration as
      // it ends.
      settled.state = kServiceStopped;
      return settled;
    }
    if (!state.ok()) {
      settled.status = state.status();
      return settled;
    }
    settled.state = *state;
    if (*state == want) return settled;
    if (want == kServiceRunning && *state == kServiceStopped) {
      settled.status = ServiceError(kErrorProcessAborted);
      return settled;
    }
    if (poll == limits.polls || std::chrono::steady_clock::now() >= deadline) break;
    sleep(limits.interval);
  }
  settled.status = Status::Error(kErrorServiceRequestTimeout, kServiceRequestTimeoutText);
  return settled;
}

}  // namespace tervane::svc
