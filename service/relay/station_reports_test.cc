#include "service/relay/station_reports.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tervane::relay {
namespace {

using std::chrono::seconds;

// A station is reported at its first failure, then at most once a minute with the failures
// since; another station is reported on its own; what is left comes out when due or at stop.
TEST(StationReports, FirstFailureAtOnceThenAtMostOnceAMinuteWithTheCount) {
  StationReports reports({"10.0.0.1:162", "10.0.0.2:1162"});
  const StationReports::Clock::time_point t0{};
  const Status refused = Status::Error(ErrorCode{ErrorDomain::kErrno, 111},
                                       "send to 10.0.0.1:162: Connection refused");
  EXPECT_EQ(reports.Failed(0, refused, t0 + seconds(1)),
            "[111] Station 10.0.0.1:162: 1 trap not delivered since the last report; last "
            "failure: send to 10.0.0.1:162: Connection refused (Module: SendToStation)");
  EXPECT_EQ(reports.Failed(0, refused, t0 + seconds(2)), "");
  EXPECT_EQ(reports.Failed(0, refused, t0 + seconds(30)), "");
  EXPECT_NE(reports.Failed(1, refused, t0 + seconds(30)), "");  // its own first failure
  EXPECT_EQ(reports.Failed(1, refused, t0 + seconds(50)), "");

  std::vector<std::string> due;
  auto collect = [&](const std::string& text) { due.push_back(text); };
  reports.Due(t0 + seconds(60), false, collect);
  EXPECT_TRUE(due.empty());
  reports.Due(t0 + seconds(61), false, collect);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_NE(due[0].find("Station 10.0.0.1:162: 2 traps not delivered"), std::string::npos);

  // Reported again at once a minute after the last report.
  EXPECT_EQ(reports.Failed(0, refused, t0 + seconds(100)), "");
  EXPECT_NE(reports.Failed(0, refused, t0 + seconds(122)).find(": 2 traps"), std::string::npos);
  // At stop whatever is left, of any age; nothing for a station without new failures.
  due.clear();
  reports.Due(t0 + seconds(124), true, collect);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_NE(due[0].find("Station 10.0.0.2:1162: 1 trap not"), std::string::npos);
}

}  // namespace
}  // namespace tervane::relay
