// The command line of relay_bench (its usage is in relay_bench.cc's opening comment).
#ifndef TERVANE_BENCH_RELAY_BENCH_OPTIONS_H_
#define TERVANE_BENCH_RELAY_BENCH_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tervane::bench {

struct Options {
  bool quick = false;
  std::vector<std::string> only;
  std::string before;
  int rounds = 3;
  double step_seconds = 3;
  bool trapd_logs = true;
  uint64_t cpu_count = 0;  // 0: 5 s of traps at the CPU rate
  double cpu_rate = 0;     // 0: kCpuPace of the lowest zero-loss rate of the first round
  double max_rate = 1600000;
  double gap_seconds = 32;
  double gap_rate = 5000;
  // Storm control with many keys: how many distinct keys, and the pace of the memory run
  // (0: a quarter of the case's zero-loss rate).
  uint32_t storm_keys = 1000000;
  double flood_rate = 0;
};

// The options of `argv`; prints the usage and exits with status 2 on any it does not take.
Options ParseOptions(int argc, char** argv);

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_RELAY_BENCH_OPTIONS_H_
