#include "bench/relay_bench_options.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/trap_load.h"

namespace tervane::bench {
namespace {

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
    parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

[[noreturn]] void Usage() {
  std::fputs(
      "usage: relay_bench [--quick] [--only NAME[,NAME...]] [--before PROGRAM] [--rounds N]\n"
      "                   [--step-seconds S] [--trapd-no-log] [--cpu-count N] [--cpu-rate N]\n"
      "                   [--max-rate N] [--gap-seconds S] [--gap-rate N] [--storm-keys N]\n"
      "                   [--flood-rate N]\n"
      "  NAME: pass-through, wrapping, snmptrapd, trivial, fan-out, trivial-fan-out,\n"
      "        storm-one-key, storm-many-keys, many-keys, v3-auth-priv, and with --before\n"
      "        pass-through-before, wrapping-before\n",
      stderr);
  std::exit(2);
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options options;
  bool rounds_given = false;
  bool step_given = false;
  bool gap_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--trapd-no-log") {
      options.trapd_logs = false;
    } else if (arg == "--only" && has_value) {
      for (const std::string& name : SplitList(argv[++i])) {
        if (name != "pass-through" && name != "wrapping" && name != "snmptrapd" &&
            name != "trivial" && name != "pass-through-before" && name != "wrapping-before" &&
            name != "fan-out" && name != "trivial-fan-out" && name != "storm-one-key" &&
            name != "storm-many-keys" && name != "many-keys" && name != "v3-auth-priv") {
          Usage();
        }
        options.only.push_back(name);
      }
    } else if (arg == "--before" && has_value) {
      options.before = argv[++i];
    } else if (arg == "--rounds" && has_value) {
      options.rounds = std::atoi(argv[++i]);
      rounds_given = true;
      if (options.rounds < 1) Usage();
    } else if (arg == "--step-seconds" && has_value) {
      options.step_seconds = std::strtod(argv[++i], nullptr);
      step_given = true;
      if (!(options.step_seconds > 0)) Usage();
    } else if (arg == "--cpu-count" && has_value) {
      options.cpu_count = std::strtoull(argv[++i], nullptr, 10);
      if (options.cpu_count == 0) Usage();
    } else if (arg == "--cpu-rate" && has_value) {
      options.cpu_rate = std::strtod(argv[++i], nullptr);
      if (!(options.cpu_rate >= 1)) Usage();
    } else if (arg == "--gap-seconds" && has_value) {
      options.gap_seconds = std::strtod(argv[++i], nullptr);
      gap_given = true;
      if (!(options.gap_seconds >= 0)) Usage();
    } else if (arg == "--gap-rate" && has_value) {
      options.gap_rate = std::strtod(argv[++i], nullptr);
      if (!(options.gap_rate >= 100)) Usage();
    } else if (arg == "--storm-keys" && has_value) {
      const unsigned long long keys = std::strtoull(argv[++i], nullptr, 10);
      if (keys < 1 || keys >= kMaxKeys) Usage();
      options.storm_keys = static_cast<uint32_t>(keys);
    } else if (arg == "--flood-rate" && has_value) {
      options.flood_rate = std::strtod(argv[++i], nullptr);
      if (!(options.flood_rate >= 100)) Usage();
    } else if (arg == "--max-rate" && has_value) {
      options.max_rate = std::strtod(argv[++i], nullptr);
      if (!(options.max_rate >= 100)) Usage();
    } else {
      Usage();
    }
  }
  if (options.quick) {
    if (!rounds_given) options.rounds = 1;
    if (!step_given) options.step_seconds = 1;
    if (!gap_given) options.gap_seconds = 12;
  }
  return options;
}

}  // namespace tervane::bench
