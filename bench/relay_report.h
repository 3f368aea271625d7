// The relay benchmark's report: one line of figures per relay, then the targets that TervixSrv
// is held to, each with its measured value and PASS or MISS (n/a when a figure is missing).
#ifndef TERVANE_BENCH_RELAY_REPORT_H_
#define TERVANE_BENCH_RELAY_REPORT_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "bench/relay_process.h"

namespace tervane::bench {

// What was measured of one relay.
struct RelayFigures {
  RelayKindInfo relay_kind;
  double zero_loss_rate = 0;           // traps per second; 0 when not even the lowest rate held
  bool limit_not_reached = false;      // even the highest rate tried was sustained
  bool ended = false;                  // the relay process ended during the measurement
  std::optional<double> cpu_per_100k;  // CPU seconds per 100,000 traps
  uint64_t cpu_run_lost = 0;           // traps lost during the CPU run
  std::optional<double> peak_mb;       // peak resident memory
};

// Prints the table and the targets to standard output. `cpu_count` traps were sent to each
// relay at `cpu_rate` per second for the CPU figures.
void PrintReport(const std::vector<RelayFigures>& relays, uint64_t cpu_count, double cpu_rate);

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_RELAY_REPORT_H_
