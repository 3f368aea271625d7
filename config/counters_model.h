// CountersView: the service's counters as the page "Service Control" shows them below its
// buttons, read from RelayStatistics, which the service rewrites every few seconds while it
// runs and once more when it stops.
//
// The window reads them again every kRefreshMs while the page is shown. Each read opens
// Tervix.mdb read-only, so it never waits for the service's write and never writes itself.
#ifndef TERVANE_CONFIG_COUNTERS_MODEL_H_
#define TERVANE_CONFIG_COUNTERS_MODEL_H_

#include <string>
#include <vector>

namespace tervane::config {

// One line of the table: the counter's name, its label (a station's ADDRESS:PORT, a reason,
// or empty) and its value, as the service wrote them.
struct CounterLine {
  std::string name;
  std::string label;
  std::string value;
  friend bool operator==(const CounterLine&, const CounterLine&) = default;
};

inline constexpr char kNoCountersYet[] = "The service has not written counters yet.";

// "2026-12-08T22:51:48Z" as local time "2026-12-08 23:51:48"; a text that is no such stamp
// as it is.
std::string LocalStamp(const std::string& utc);

class CountersView {
 public:
  static constexpr int kRefreshMs = 2000;

  explicit CountersView(std::string folder) : folder_(std::move(folder)) {}

  // Reads the counters again. A file that cannot be read leaves the lines empty and says why.
  void Refresh();

  const std::vector<CounterLine>& lines() const { return lines_; }
  // When the lines were written and since when the service counts, or kNoCountersYet, or
  // why they could not be read.
  const std::string& written() const { return written_; }

 private:
  std::string folder_;
  std::vector<CounterLine> lines_;
  std::string written_ = kNoCountersYet;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_COUNTERS_MODEL_H_
