// StatisticsWriter: the service's own connection to Tervix.mdb for writing its counters into
// RelayStatistics, and the stamps those rows carry.
//
// The writes come from the relay's one thread, between datagrams, so they must never wait:
// the connection has no busy timeout (a round that finds the file locked, the window storing,
// fails at once with kErrorBusy and the next round writes), and it runs with
// synchronous=NORMAL, which in WAL mode syncs at checkpoints only. The statements are
// prepared once; a round replaces every row in one transaction.
#ifndef TERVANE_STORE_STATISTICS_H_
#define TERVANE_STORE_STATISTICS_H_

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

struct sqlite3;

namespace tervane::store {

class Store;

// One counter as the service holds it: views of texts that outlive the write.
struct Counter {
  std::string_view name;
  std::string_view label;
  uint64_t value = 0;
};

// "2026-12-08T22:51:48Z" for `t`, in UTC.
std::string UtcStamp(std::time_t t);

class StatisticsWriter {
 public:
  // Opens folder + "/Tervix.mdb" for the counters. Fails as Store::Open does for a missing or
  // unwritable file, and with kErrorNotFound for a file without the RelayStatistics table.
  static Result<StatisticsWriter> Open(const std::string& folder);
  // The same for the file that `checked`, a read-write store opened on `folder`, has open and
  // has checked (and upgraded) already.
  static Result<StatisticsWriter> Open(const Store& checked, const std::string& folder);

  StatisticsWriter(StatisticsWriter&& other) noexcept;
  StatisticsWriter& operator=(StatisticsWriter&& other) noexcept;
  StatisticsWriter(const StatisticsWriter&) = delete;
  StatisticsWriter& operator=(const StatisticsWriter&) = delete;
  ~StatisticsWriter();

  // Replaces every RelayStatistics row with `counters`, each with `since` and `written`, in
  // one transaction. kErrorBusy, writing nothing, when another connection holds the write
  // lock for longer than `wait_ms` (0: not at all, for the rounds while relaying; the last
  // round, at stop, may wait); any other failure with SQLite's description.
  Status Write(std::span<const Counter> counters, std::string_view since, std::string_view written,
               int wait_ms = 0);

 private:
  struct Statements;
  StatisticsWriter(sqlite3* db, std::string path);
  Status WriteRows(std::span<const Counter> counters, std::string_view since,
                   std::string_view written);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::unique_ptr<Statements> statements_;
};

}  // namespace tervane::store

#endif  // TERVANE_STORE_STATISTICS_H_
