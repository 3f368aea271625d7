#include "admin/statistics_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <ctime>

namespace tervane::svc {
namespace {

using store::StatisticRow;

struct KnownCounter {
  std::string_view name;
  std::string_view help;
};

// The counters that the service writes today; a name not listed gets a generic text.
constexpr KnownCounter kKnownCounters[] = {
    {"datagrams_received", "UDP datagrams that the listener read since the service started."},
    {"snmpv1_traps_received", "SNMPv1 traps received since the service started."},
    {"snmpv2_traps_received", "SNMPv2 traps received since the service started."},
    {"informs_received", "SNMPv2 informs received since the service started."},
    {"informs_answered", "Informs whose response was sent since the service started."},
    {"traps_wrapped", "Traps that a trap definition matched and that were wrapped."},
    {"traps_passed_through", "Traps sent on without wrapping."},
    {"traps_converted_to_v1", "Traps sent in an SNMPv1 form made from SNMPv2."},
    {"traps_dropped", "Messages sent to no station, by reason."},
    {"traps_held_back", "Traps held back by storm control, by rule."},
    {"snmpv3_traps_received", "SNMPv3 traps received since the service started."},
    {"snmpv3_informs_received", "SNMPv3 informs received since the service started."},
    {"usm_stats_unsupported_sec_levels",
     "SNMPv3 messages dropped: a security level other than their user's."},
    {"usm_stats_not_in_time_windows",
     "SNMPv3 messages dropped: outside their engine's time window."},
    {"usm_stats_unknown_user_names", "SNMPv3 messages dropped: a user not known for their engine."},
    {"usm_stats_unknown_engine_ids",
     "SNMPv3 messages that named another engine than this relay's (discovery among them)."},
    {"usm_stats_wrong_digests", "SNMPv3 messages dropped: a wrong digest."},
    {"usm_stats_decryption_errors", "SNMPv3 messages dropped: they could not be decrypted."},
    {"snmp_unknown_security_models", "SNMPv3 messages dropped: a security model other than USM."},
    {"snmp_invalid_msgs", "SNMPv3 messages dropped: an invalid header."},
    {"station_traps_sent", "Traps that left for each management station."},
    {"station_send_failures",
     "Traps that a management station did not get: a failed send, or a refusal it sent back."},
};

constexpr std::string_view kStationPrefix = "station_";
constexpr char kStartTimeMetric[] = "tervane_start_time_seconds";
constexpr char kWrittenTimeMetric[] = "tervane_statistics_written_time_seconds";

std::string HelpFor(std::string_view name) {
  for (const KnownCounter& known : kKnownCounters) {
    if (known.name == name) return std::string(known.help);
  }
  return "Tervane's counter " + std::string(name) + " since the service started.";
}

// The label that a row's Label text is given, by the row's Name.
const char* LabelNameFor(std::string_view name) {
  if (name.substr(0, kStationPrefix.size()) == kStationPrefix) return "station";
  if (name == "traps_dropped") return "reason";
  if (name == "traps_held_back") return "rule";
  return "label";
}

// HELP text: backslash and line feed escaped.
std::string EscapedHelp(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// The rows' stamps: the earliest Since and the latest Written. The service writes the same
// stamps into every row of one write; this holds for rows of different writes too.
struct Stamps {
  std::string since;
  std::string written;
};

Stamps StampsOf(const std::vector<StatisticRow>& rows) {
  Stamps stamps;
  for (const StatisticRow& row : rows) {
    if (!row.since.empty() && (stamps.since.empty() || row.since < stamps.since)) {
      stamps.since = row.since;
    }
    stamps.written = std::max(stamps.written, row.written);
  }
  return stamps;
}

void AppendGauge(std::string* out, const char* metric, const char* help, std::string_view stamp) {
  const std::optional<int64_t> seconds = ParseUtcStamp(stamp);
  if (!seconds) return;  // a stamp that cannot be read is left out rather than guessed
  *out += std::string("# HELP ") + metric + " " + help + "\n";
  *out += std::string("# TYPE ") + metric + " gauge\n";
  *out += std::string(metric) + " " + std::to_string(*seconds) + "\n";
}

std::string Padded(std::string_view text, size_t width, bool right) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + std::string(text) : std::string(text) + fill;
}

}  // namespace

std::optional<int64_t> ParseUtcStamp(std::string_view stamp) {
  // Exactly "YYYY-MM-DDTHH:MM:SSZ".
  constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
  if (stamp.size() != kShape.size()) return std::nullopt;
  for (size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (kShape[i] == '0' ? !digit : stamp[i] != kShape[i]) return std::nullopt;
  }
  auto number = [stamp](size_t at, size_t digits) {
    int n = 0;
    for (size_t i = at; i < at + digits; ++i) n = n * 10 + (stamp[i] - '0');
    return n;
  };
  std::tm tm{};
  tm.tm_year = number(0, 4) - 1900;
  tm.tm_mon = number(5, 2) - 1;
  tm.tm_mday = number(8, 2);
  tm.tm_hour = number(11, 2);
  tm.tm_min = number(14, 2);
  tm.tm_sec = number(17, 2);
  const int month = tm.tm_mon, day = tm.tm_mday;
  if (month > 11 || day < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60) {
    return std::nullopt;
  }
  const std::time_t t = timegm(&tm);
  // timegm normalises a 31 February into March: such a stamp names no time.
  if (tm.tm_mon != month || tm.tm_mday != day) return std::nullopt;
  return static_cast<int64_t>(t);
}

std::string CounterMetricName(std::string_view name) {
  std::string metric = "tervane_";
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    metric += ok ? c : '_';
  }
  constexpr std::string_view kTotal = "_total";
  if (metric.size() < kTotal.size() || metric.substr(metric.size() - kTotal.size()) != kTotal) {
    metric += kTotal;
  }
  return metric;
}

std::string QuotedLabelValue(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string StatisticsTable(const std::vector<StatisticRow>& rows, const std::string& source) {
  const Stamps stamps = StampsOf(rows);
  std::string out = "Counters in " + source + "\n";
  out += "Since:    " + (stamps.since.empty() ? "-" : stamps.since) + " (the service's start)\n";
  out += "Written:  " + (stamps.written.empty() ? "-" : stamps.written) + "\n\n";

  size_t name_width = 4, label_width = 5, value_width = 5;  // the headings
  for (const StatisticRow& row : rows) {
    name_width = std::max(name_width, row.name.size());
    label_width = std::max(label_width, std::max<size_t>(row.label.size(), 1));
    value_width = std::max(value_width, std::to_string(row.value).size());
  }
  auto line = [&](std::string_view name, std::string_view label, std::string_view value) {
    return Padded(name, name_width, false) + "  " + Padded(label, label_width, false) + "  " +
           Padded(value, value_width, true) + "\n";
  };
  out += line("Name", "Label", "Value");
  for (const StatisticRow& row : rows) {
    out += line(row.name, row.label.empty() ? "-" : row.label, std::to_string(row.value));
  }
  return out;
}

std::string PrometheusText(const std::vector<StatisticRow>& rows) {
  // The metrics in the order they first appear, each with its rows: the format wants every
  // sample of a metric right after its HELP and TYPE lines. Grouped by metric name, since two
  // Names can make one.
  std::vector<std::string> metrics;
  metrics.reserve(rows.size());
  for (const StatisticRow& row : rows) metrics.push_back(CounterMetricName(row.name));
  std::string out;
  for (size_t first = 0; first < rows.size(); ++first) {
    const std::string& metric = metrics[first];
    const auto earlier = metrics.begin() + static_cast<std::ptrdiff_t>(first);
    if (std::find(metrics.begin(), earlier, metric) != earlier) continue;  // printed already
    out += "# HELP " + metric + " " + EscapedHelp(HelpFor(rows[first].name)) + "\n";
    out += "# TYPE " + metric + " counter\n";
    for (size_t i = first; i < rows.size(); ++i) {
      if (metrics[i] != metric) continue;
      out += metric;
      if (!rows[i].label.empty()) {
        out += std::string("{") + LabelNameFor(rows[i].name) + "=" +
               QuotedLabelValue(rows[i].label) + "}";
      }
      out += " " + std::to_string(rows[i].value) + "\n";
    }
  }
  const Stamps stamps = StampsOf(rows);
  AppendGauge(&out, kStartTimeMetric,
              "When the service that wrote the counters started, in Unix seconds.", stamps.since);
  AppendGauge(&out, kWrittenTimeMetric,
              "When the service last wrote the counters, in Unix seconds.", stamps.written);
  return out;
}

std::string NotWrittenNotice(const std::string& source, const std::string& reason) {
  std::string notice = "No counters yet: the service has not written any into " + source;
  if (!reason.empty()) notice += " (" + reason + ")";
  return notice + ".";
}

}  // namespace tervane::svc
