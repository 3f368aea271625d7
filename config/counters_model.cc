#include "config/counters_model.h"

#include <time.h>

#include <ctime>
#include <utility>

#include "platform/status.h"
#include "store/rows.h"
#include "store/store.h"

namespace tervane::config {

std::string LocalStamp(const std::string& utc) {
  struct tm parts {};
  const char* end = strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
  if (end == nullptr || *end != '\0') return utc;
  const time_t t = timegm(&parts);
  struct tm local {};
  if (t == static_cast<time_t>(-1) || localtime_r(&t, &local) == nullptr) return utc;
  char text[32];
  if (strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return utc;
  return text;
}

void CountersView::Refresh() {
  lines_.clear();
  Result<store::Store> db = store::Store::Open(folder_, store::Access::kReadOnly);
  Result<std::vector<store::StatisticRow>> rows =
      db.ok() ? db->ReadStatistics() : Result<std::vector<store::StatisticRow>>(db.status());
  if (!rows.ok()) {
    written_ = "The counters could not be read: " + rows.status().description();
    return;
  }
  if (rows->empty()) {
    written_ = kNoCountersYet;
    return;
  }
  for (const store::StatisticRow& row : *rows) {
    lines_.push_back({row.name, row.label, std::to_string(row.value)});
  }
  const store::StatisticRow& first = rows->front();
  written_ = "Written " + LocalStamp(first.written) + ", counting since the service started " +
             LocalStamp(first.since) + ".";
}

}  // namespace tervane::config
