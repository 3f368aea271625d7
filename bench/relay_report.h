// The relay benchmark's report: one line of figures per relay (the median of its rounds, with
// each round's figure beside it so that the noise shows), then the targets that TervixSrv is
// held to, each with its measured value and PASS or MISS (n/a when a figure is missing).
#ifndef TERVANE_BENCH_RELAY_REPORT_H_
#define TERVANE_BENCH_RELAY_REPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/relay_process.h"

namespace tervane::bench {

// What one round measured of one relay.
struct RoundFigures {
  double zero_loss_rate = 0;         // traps per second; 0 when not even the lowest rate held
  bool limit_not_reached = false;    // even the highest rate tried was sustained
  std::optional<double> cpu_us;      // CPU microseconds per trap in the paced run
  std::optional<double> user_share;  // the part of it spent in user mode
  double cpu_rate = 0;               // the pace of that run, traps per second
  uint64_t cpu_run_lost = 0;         // traps lost in that run
  std::optional<double> allocations_per_trap;  // counted in the relay during that run
};

// What was measured of one relay over all rounds.
struct RelayFigures {
  RelayKindInfo relay_kind;
  std::vector<RoundFigures> rounds;
  bool ended = false;             // the relay process ended during the measurement
  std::optional<double> peak_mb;  // peak resident memory over the whole run
  // Storm control with many keys: the traps it held back over the whole run (none expected).
  std::optional<int64_t> held_at_end;
  // TervixSrv with the counting allocator: what it allocated until its first trap came
  // through (for the SNMPv3 case, the first trap of the device's engine, whose keys it makes).
  std::optional<uint64_t> first_trap_allocations;

  // Medians over the rounds; nothing when no round has the figure.
  std::optional<double> ZeroLossRate() const;
  std::optional<double> CpuMicroseconds() const;
  std::optional<double> UserShare() const;
  std::optional<double> AllocationsPerTrap() const;
};

// Storm control with many keys: the resident memory of a relay started anew, before and after
// a flood of `sent` traps of as many distinct keys.
struct StormMemory {
  uint32_t keys = 0;
  double rate = 0;  // of the flood, traps per second
  uint64_t sent = 0;
  uint64_t arrived = 0;
  int64_t held = 0;  // traps_held_back at the relay's stop
  double rss_before_mb = 0;
  double rss_after_mb = 0;
  double peak_after_mb = 0;
  // What the flood added at its peak.
  double growth_mb() const { return peak_after_mb - rss_before_mb; }
};

// How the figures were taken, for the lines under the table.
struct BenchSetup {
  double step_seconds = 0;
  double arrival_limit_seconds = 0;
  double cpu_rate = 0;
  uint64_t cpu_count = 0;
  uint64_t cpu_slices = 1;  // the relays took turns in this many slices of each run
  // The longest gap between forwarded traps in a steady stream of `gap_seconds` at
  // `gap_rate`, long enough for several rounds of TervixSrv's counter writes, for TervixSrv
  // fanning out and for the trivial forwarder fanning out (what pacing and scheduling alone
  // cause); nothing when not measured.
  double gap_rate = 0;
  double gap_seconds = 0;
  std::optional<double> gap_ms_tervix;
  std::optional<double> gap_ms_trivial;
  // The duration of TervixSrv's counter write itself (StatisticsWriter::Write of 31 rows),
  // timed `writes` times: its longest and its median, in ms.
  int writes = 0;
  std::optional<double> write_ms_longest;
  std::optional<double> write_ms_median;
  std::optional<StormMemory> storm_memory;
};

// Prints the table and the targets to standard output.
void PrintReport(const std::vector<RelayFigures>& relays, const BenchSetup& setup);

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_RELAY_REPORT_H_
