// The schedule on which the listener and the agent try their bind again while its port is in
// use (10048): 2 seconds after the first failure, then twice as long after each failed try,
// up to every 30 seconds, until the bind works or the retry is stopped. Only a port in use is
// worth waiting for; any other failure (an address that is no IPv4 address, no permission)
// would fail the same way for ever, and ends the retry.
//
// The schedule is pure: the clock and the bind are given to it, and its owner calls Poll when
// the time that MsUntilDue names has passed (an event loop timer in the service). A Poll
// before that time tries nothing, so an early timer costs nothing but a second one.
#ifndef TERVANE_SERVICE_SNMP_BIND_RETRY_H_
#define TERVANE_SERVICE_SNMP_BIND_RETRY_H_

#include <chrono>
#include <functional>

#include "platform/status.h"

namespace tervane::snmp {

class BindRetry {
 public:
  using Clock = std::chrono::steady_clock;
  // The current time; steady_clock's in the service, a test's own in tests.
  using Now = std::function<Clock::time_point()>;
  // Tries the bind once: Ok when bound, else why not. What a failed try leaves is the
  // binder's business (the manager and the agent leave nothing open).
  using Binder = std::function<Status()>;

  static constexpr int kFirstDelayMs = 2000;
  static constexpr int kLongestDelayMs = 30000;

  enum class Outcome {
    kWaiting,  // not bound yet; the next try is MsUntilDue() away
    kBound,    // the try bound: the retry is over
    kGaveUp,   // the try failed in a way not worth waiting for (failure()): the retry is over
    kIdle,     // nothing pending: never begun, stopped, or over
  };

  BindRetry(Binder binder, Now now);

  // Whether a bind that failed with `failure` is worth trying again: its port is in use.
  static bool Worth(const Status& failure);

  // The first bind failed with `failure`: the first try is kFirstDelayMs from now. Begins
  // anew when already pending.
  void Begin(const Status& failure);
  // Tries the bind when its time has come. After a failed try worth another, the next comes
  // twice the last delay later, at most kLongestDelayMs.
  Outcome Poll();
  // Cancels the pending try; Poll then does nothing.
  void Stop() { pending_ = false; }

  bool pending() const { return pending_; }
  // Milliseconds until the next try is due, rounded up; 0 when due or not pending.
  int MsUntilDue() const;
  // How long the bind has been waited for: from Begin to now, or to the try that bound.
  Clock::duration waited() const;
  // The last failure (Begin's or a try's).
  const Status& failure() const { return failure_; }
  // Tries made since Begin.
  int tries() const { return tries_; }

 private:
  Binder binder_;
  Now now_;
  bool pending_ = false;
  Clock::time_point began_{};
  Clock::time_point due_{};
  Clock::time_point ended_{};  // when the try that ended the retry was made
  bool ended_set_ = false;
  int delay_ms_ = kFirstDelayMs;
  int tries_ = 0;
  Status failure_;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_BIND_RETRY_H_
