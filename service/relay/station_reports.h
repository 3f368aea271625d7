// The event-log reports of stations that fail: with several stations, a station that refuses
// or cannot be reached would otherwise fill the log with one event per trap. Each station is
// reported at once on its first failure and then at most once a minute, with the number of
// failures since its last report and the last one's reason.
//
// Pure: the caller passes the time in and logs the texts it is given.
#ifndef TERVANE_SERVICE_RELAY_STATION_REPORTS_H_
#define TERVANE_SERVICE_RELAY_STATION_REPORTS_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace tervane::relay {

inline constexpr char kStationModule[] = "SendToStation";
inline constexpr std::chrono::seconds kStationReportInterval{60};

class StationReports {
 public:
  using Clock = std::chrono::steady_clock;

  // One entry per station, labelled with its ADDRESS:PORT.
  explicit StationReports(std::vector<std::string> endpoints);

  // Notes a failure of station `i` at `now`; returns the event text when it is to be
  // reported now, else an empty text (no allocation then).
  std::string Failed(size_t i, const Status& failure, Clock::time_point now);
  // The reports that have come due by `now` (every station's when `all`, as at stop), for
  // stations with failures not yet reported; each text is handed to `log`.
  template <typename Log>
  void Due(Clock::time_point now, bool all, Log log) {
    for (size_t i = 0; i < stations_.size(); ++i) {
      Station& s = stations_[i];
      if (s.unreported == 0 || (!all && now - s.last_report < kStationReportInterval)) continue;
      log(Report(i, now));
    }
  }

  // "[111] Station 127.0.0.1:9: 3 traps not delivered since the last report; last failure:
  // ... (Module: SendToStation)".
  static std::string Text(const std::string& endpoint, uint64_t count, const Status& last);

 private:
  struct Station {
    std::string endpoint;
    uint64_t unreported = 0;
    Status last_failure;
    bool reported = false;
    Clock::time_point last_report{};
  };
  std::string Report(size_t i, Clock::time_point now);

  std::vector<Station> stations_;
};

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_STATION_REPORTS_H_
