#include "service/relay/station_reports.h"

#include <utility>

namespace tervane::relay {

StationReports::StationReports(std::vector<std::string> endpoints) {
  stations_.reserve(endpoints.size());
  for (std::string& e : endpoints) {
    Station s;
    s.endpoint = std::move(e);
    stations_.push_back(std::move(s));
  }
}

std::string StationReports::Failed(size_t i, const Status& failure, Clock::time_point now) {
  if (i >= stations_.size()) return {};
  Station& s = stations_[i];
  ++s.unreported;
  s.last_failure = failure;
  if (s.reported && now - s.last_report < kStationReportInterval) return {};
  return Report(i, now);
}

std::string StationReports::Report(size_t i, Clock::time_point now) {
  Station& s = stations_[i];
  std::string text = Text(s.endpoint, s.unreported, s.last_failure);
  s.unreported = 0;
  s.reported = true;
  s.last_report = now;
  return text;
}

std::string StationReports::Text(const std::string& endpoint, uint64_t count, const Status& last) {
  return "[" + std::to_string(last.code()) + "] Station " + endpoint + ": " +
         std::to_string(count) + (count == 1 ? " trap" : " traps") +
         " not delivered since the last report; last failure: " + last.description() +
         " (Module: " + kStationModule + ")";
}

}  // namespace tervane::relay
