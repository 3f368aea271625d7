#include "admin/statistics_text.h"

#include "gtest/gtest.h"

namespace tervane::svc {
namespace {

using store::StatisticRow;

TEST(StatisticsText, NamesLabelsAndStamps) {
  EXPECT_EQ(CounterMetricName("datagrams_received"), "tervane_datagrams_received_total");
  EXPECT_EQ(CounterMetricName("bytes_total"), "tervane_bytes_total");
  EXPECT_EQ(CounterMetricName("odd-name.1 x"), "tervane_odd_name_1_x_total");
  EXPECT_EQ(QuotedLabelValue("a\\b\"c\nd"), R"("a\\b\"c\nd")");

  const struct {
    const char* stamp;
    std::optional<int64_t> seconds;
  } stamps[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2026-12-08T22:51:48Z", 1796770308},
      {"2024-02-29T12:00:00Z", 1709208000},
      {"2026-02-29T12:00:00Z", std::nullopt},  // no such day
      {"2026-12-08 22:51:48", std::nullopt},
      {"2026-12-08T22:51:48+01", std::nullopt},
      {"2026-13-08T22:51:48Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : stamps) {
    SCOPED_TRACE(c.stamp);
    EXPECT_EQ(ParseUtcStamp(c.stamp), c.seconds);
  }
}

// The Prometheus text is checked by a parser of its own, in tests/stats_cli_test.py.
TEST(StatisticsText, TableAlignsTheColumnsAndShowsTheStamps) {
  const std::string since = "2026-12-08T22:51:48Z", written = "2026-12-08T22:52:08Z";
  const std::vector<StatisticRow> rows = {
      {"datagrams_received", "", 12, since, written},
      {"traps_dropped", "malformed_datagram", 2, since, written},
      {"station_traps_sent", "127.0.0.1:1162", 10, since, written},
      {"traps_dropped", "other", 0, since, written},
      {"future_counter", "x\"y", 3, since, written},
  };
  EXPECT_EQ(StatisticsTable(rows, "/f/Tervix.mdb"),
            "Counters in /f/Tervix.mdb\n"
            "Since:    2026-12-08T22:51:48Z (the service's start)\n"
            "Written:  2026-12-08T22:52:08Z\n"
            "\n"
            "Name                Label               Value\n"
            "datagrams_received  -                      12\n"
            "traps_dropped       malformed_datagram      2\n"
            "station_traps_sent  127.0.0.1:1162         10\n"
            "traps_dropped       other                   0\n"
            "future_counter      x\"y                     3\n");
}

}  // namespace
}  // namespace tervane::svc
