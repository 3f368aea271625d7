#include "platform/service_wait.h"

#include <algorithm>
#include <vector>

#include "gtest/gtest.h"

namespace tervane::svc {
namespace {

TEST(WaitForState, EndsOnTheStateAskedForAStartThatEndedAFailureOrTheLastPoll) {
  const Status missing = ServiceError(kErrorServiceDoesNotExist);
  const Status denied = ServiceError(kErrorAccessDenied);
  struct Row {
    const char* name;
    std::vector<Result<int>> reads;  // the last one repeats
    int want;
    ErrorCode error;  // {}: ok
    int state;
    int queries;
  };
  const ErrorCode ok{};
  const std::vector<Row> rows = {
      {"running at once", {kServiceRunning}, kServiceRunning, ok, kServiceRunning, 1},
      {"start pending, then running",
       {kServiceStartPending, kServiceStartPending, kServiceRunning},
       kServiceRunning,
       ok,
       kServiceRunning,
       3},
      {"stop pending, then stopped",
       {kServiceStopPending, kServiceStopped},
       kServiceStopped,
       ok,
       kServiceStopped,
       2},
      {"a start that ended",
       {kServiceStartPending, kServiceStopPending, kServiceStopped},
       kServiceRunning,
       kErrorProcessAborted,
       kServiceStopped,
       3},
      {"a stop that never ends",
       {kServiceStopPending},
       kServiceStopped,
       kErrorServiceRequestTimeout,
       kServiceStopPending,
       5},
      {"a failed query",
       {kServiceStopPending, denied},
       kServiceStopped,
       kErrorAccessDenied,
       kServiceStopPending,
       2},
      {"stopped and deleted",
       {kServiceStopPending, missing},
       kServiceStopped,
       ok,
       kServiceStopped,
       2},
      {"a start of a deleted service",
       {kServiceStartPending, missing},
       kServiceRunning,
       kErrorServiceDoesNotExist,
       kServiceStartPending,
       2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int queries = 0;
    int sleeps = 0;
    auto query = [&]() -> Result<int> {
      const size_t i = std::min(static_cast<size_t>(queries++), row.reads.size() - 1);
      return row.reads[i];
    };
    auto sleep = [&](std::chrono::milliseconds ms) {
      EXPECT_EQ(ms.count(), 150);
      ++sleeps;
    };
    const Settled settled = WaitForState(query, row.want, sleep, {5});
    EXPECT_EQ(settled.status.error(), row.error);
    EXPECT_EQ(settled.state, row.state);
    EXPECT_EQ(queries, row.queries);
    EXPECT_EQ(sleeps, queries - 1);
  }
  // The default limits: 200 queries at most; and no query after the time is up.
  int queries = 0;
  auto stopping = [&queries] {
    ++queries;
    return Result<int>(kServiceStopPending);
  };
  const Settled late = WaitForState(stopping, kServiceStopped, [](std::chrono::milliseconds) {});
  EXPECT_EQ(late.status.description(),
            "The service did not respond to the start or control request in a timely fashion.");
  EXPECT_EQ(late.status.code(), 1053);
  EXPECT_EQ(queries, 200);
  queries = 0;
  const Settled timed_out =
      WaitForState(stopping, kServiceStopped, [](std::chrono::milliseconds) {}, {200, {}, {}});
  EXPECT_EQ(timed_out.status.error(), kErrorServiceRequestTimeout);
  EXPECT_EQ(queries, 1);
}

}  // namespace
}  // namespace tervane::svc
