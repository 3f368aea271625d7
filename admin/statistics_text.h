// The texts of `tervane-svc stats`: the service's counters (RelayStatistics rows) as a table
// for a person, and in the Prometheus text exposition format (version 0.0.4, what
// node_exporter's textfile collector reads) for a monitoring system. Pure functions over the
// rows, which they print generically, so that a counter the service adds later shows without
// a change here:
//
// - every row becomes a sample of the counter tervane_<Name>_total (a name that already ends
//   in _total keeps it; characters that a metric name cannot hold become "_"), with HELP and
//   TYPE lines, the rows of one Name together;
// - a non-empty Label becomes the label `station` for a Name starting with "station_" (its
//   "ADDRESS:PORT", "[ADDRESS]:PORT" for IPv6), `reason` for traps_dropped, `rule` for
//   traps_held_back (the storm rule's OID prefix, or "default"), and `label` for any other
//   Name;
// - the rows' Since (the service's start) and Written stamps become the gauges
//   tervane_start_time_seconds and tervane_statistics_written_time_seconds, Unix seconds.
#ifndef TERVANE_ADMIN_STATISTICS_TEXT_H_
#define TERVANE_ADMIN_STATISTICS_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"

namespace tervane::svc {

// Unix seconds of a UTC stamp "2026-12-08T22:51:48Z"; nothing for any other text.
std::optional<int64_t> ParseUtcStamp(std::string_view stamp);

// The metric name of the counter `name`: "tervane_datagrams_received_total".
std::string CounterMetricName(std::string_view name);

// `value` as a label value between double quotes: backslash, double quote and line feed
// escaped as the exposition format wants.
std::string QuotedLabelValue(std::string_view value);

// The table of `rows` (not empty), headed by `source`, the database file read:
//
//   Counters in /opt/tervane/Tervix.mdb
//   Since:    2026-12-08T22:51:48Z (the service's start)
//   Written:  2026-12-08T23:05:12Z
//
//   Name                 Label           Value
//   datagrams_received   -                1234
std::string StatisticsTable(const std::vector<store::StatisticRow>& rows,
                            const std::string& source);

// `rows` (not empty) in the Prometheus text format.
std::string PrometheusText(const std::vector<store::StatisticRow>& rows);

// The line that says there are no counters in `source` yet (without a line feed); `reason`,
// when not empty, says why, in parentheses after it.
std::string NotWrittenNotice(const std::string& source, const std::string& reason);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_STATISTICS_TEXT_H_
