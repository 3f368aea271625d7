#include "service/snmp/bind_retry.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/socket_util.h"

namespace tervane::snmp {
namespace {

using std::chrono::milliseconds;

Status InUse() { return Status::Error(kErrorAddressInUse, "bind 0.0.0.0:162: in use"); }
Status Denied() { return Status::Error(ErrnoCode(EACCES), "bind 0.0.0.0:162: denied"); }

// The retry on a clock of the test's own, polled every 100 ms as an impatient timer would
// (so a try before its time shows), for ten minutes of the clock at most.
TEST(BindRetry, TriesOnItsScheduleUntilBoundStoppedOrRefused) {
  struct Case {
    const char* name;
    std::vector<Status> tries;        // what the binder answers, try by try
    std::optional<int> stop_after;    // Stop after this many tries
    std::vector<int> expected_at_ms;  // when the tries happen, from Begin
    std::vector<int> delays_ms;       // MsUntilDue right after Begin and after each failed try
    BindRetry::Outcome last;          // what the last Poll with a try answered
  };
  const Case cases[] = {
      {"bound at the sixth try",
       {InUse(), InUse(), InUse(), InUse(), InUse(), Status::Ok()},
       std::nullopt,
       {2000, 6000, 14000, 30000, 60000, 90000},
       {2000, 4000, 8000, 16000, 30000, 30000},
       BindRetry::Outcome::kBound},
      {"waits at most 30 s between tries",
       std::vector<Status>(8, InUse()),
       8,
       {2000, 6000, 14000, 30000, 60000, 90000, 120000, 150000},
       {2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000, 30000},
       BindRetry::Outcome::kWaiting},
      {"bound at the first try",
       {Status::Ok()},
       std::nullopt,
       {2000},
       {2000},
       BindRetry::Outcome::kBound},
      {"another failure ends it",
       {InUse(), Denied()},
       std::nullopt,
       {2000, 6000},
       {2000, 4000},
       BindRetry::Outcome::kGaveUp},
      {"stop cancels the next try",
       {InUse(), InUse()},
       2,
       {2000, 6000},
       {2000, 4000, 8000},
       BindRetry::Outcome::kWaiting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BindRetry::Clock::time_point start{std::chrono::hours(1)};
    BindRetry::Clock::time_point now = start;
    std::vector<int> at_ms;
    BindRetry retry(
        [&] {
          at_ms.push_back(static_cast<int>((now - start) / milliseconds(1)));
          // A binder past the table's end would be a try too many: answered, and counted.
          return at_ms.size() <= c.tries.size() ? c.tries[at_ms.size() - 1] : InUse();
        },
        [&] { return now; });
    EXPECT_EQ(retry.Poll(), BindRetry::Outcome::kIdle);  // nothing begun
    retry.Begin(InUse());
    std::vector<int> delays = {retry.MsUntilDue()};
    BindRetry::Outcome last = BindRetry::Outcome::kIdle;
    for (int step = 0; step < 6000 && retry.pending(); ++step) {
      now += milliseconds(100);
      const size_t before = at_ms.size();
      const BindRetry::Outcome outcome = retry.Poll();
      if (at_ms.size() == before) {
        EXPECT_EQ(outcome, BindRetry::Outcome::kWaiting);
        continue;
      }
      last = outcome;
      if (retry.pending()) delays.push_back(retry.MsUntilDue());
      if (c.stop_after && static_cast<int>(at_ms.size()) == *c.stop_after) retry.Stop();
    }
    EXPECT_EQ(at_ms, c.expected_at_ms);
    EXPECT_EQ(delays, c.delays_ms);
    EXPECT_EQ(last, c.last);
    EXPECT_FALSE(retry.pending());
    EXPECT_EQ(retry.Poll(), BindRetry::Outcome::kIdle);
    EXPECT_EQ(retry.tries(), static_cast<int>(at_ms.size()));
    if (c.last == BindRetry::Outcome::kBound) {
      // Waited from the first failure to the try that bound, not to whenever it is asked.
      now += std::chrono::minutes(5);
      EXPECT_EQ(retry.waited(), milliseconds(c.expected_at_ms.back()));
    }
    if (c.last == BindRetry::Outcome::kGaveUp) {
      EXPECT_EQ(retry.failure().error(), ErrnoCode(EACCES));
    }
  }
}

TEST(BindRetry, OnlyAPortInUseIsWorthWaitingFor) {
  EXPECT_TRUE(BindRetry::Worth(InUse()));
  EXPECT_FALSE(BindRetry::Worth(Denied()));
  EXPECT_FALSE(BindRetry::Worth(Status::Error(kErrorAddressNotAvailable, "not dotted IPv4")));
}

}  // namespace
}  // namespace tervane::snmp
