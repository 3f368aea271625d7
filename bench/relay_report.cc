#include "bench/relay_report.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

namespace tervane::bench {
namespace {

// The median of the figures that the rounds have; nothing when none has one.
std::optional<double> Median(const std::vector<RoundFigures>& rounds,
                             const std::function<std::optional<double>(const RoundFigures&)>& of) {
  std::vector<double> values;
  for (const RoundFigures& r : rounds) {
    if (std::optional<double> v = of(r)) values.push_back(*v);
  }
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "[a b c]" of the rounds' figures, "-" for a round without one.
std::string Rounds(const std::vector<RoundFigures>& rounds,
                   const std::function<std::optional<double>(const RoundFigures&)>& of,
                   const char* format) {
  std::string text = "[";
  for (const RoundFigures& r : rounds) {
    if (text.size() > 1) text += ' ';
    char value[32] = "-";
    if (std::optional<double> v = of(r)) std::snprintf(value, sizeof value, format, *v);
    text += value;
  }
  return text + "]";
}

// The spread of the rounds' figures around their median, in percent.
std::optional<double> Spread(const std::vector<RoundFigures>& rounds,
                             const std::function<std::optional<double>(const RoundFigures&)>& of) {
  std::optional<double> low, high;
  for (const RoundFigures& r : rounds) {
    if (std::optional<double> v = of(r)) {
      low = std::min(low.value_or(*v), *v);
      high = std::max(high.value_or(*v), *v);
    }
  }
  const std::optional<double> median = Median(rounds, of);
  if (!median || *median <= 0) return std::nullopt;
  return (*high - *low) / *median * 100;
}

std::optional<double> RateOf(const RoundFigures& r) { return r.zero_loss_rate; }
std::optional<double> CpuOf(const RoundFigures& r) { return r.cpu_us; }
std::optional<double> AllocationsOf(const RoundFigures& r) { return r.allocations_per_trap; }
std::optional<double> UserShareOf(const RoundFigures& r) { return r.user_share; }

void PrintTarget(const char* what, std::optional<double> value, const char* goal, bool pass) {
  if (!value) {
    std::printf("  %-56s %10s   %-9s n/a\n", what, "-", goal);
    return;
  }
  std::printf("  %-56s %10.3f   %-9s %s\n", what, *value, goal, pass ? "PASS" : "MISS");
}

// Some round sustained even the highest rate tried.
bool LimitNotReached(const RelayFigures* r) {
  return r != nullptr && std::any_of(r->rounds.begin(), r->rounds.end(),
                                     [](const RoundFigures& f) { return f.limit_not_reached; });
}

std::optional<double> Ratio(std::optional<double> a, std::optional<double> b) {
  if (!a || !b || *b <= 0) return std::nullopt;
  return *a / *b;
}

// Storm control: each case's zero-loss rate beside pass-through's without it, its
// allocations, and the memory run.
void PrintStormTargets(const std::vector<RelayFigures>& relays, const RelayFigures* pass,
                       const std::optional<StormMemory>& memory) {
  // The many keys' traps without storm control.
  const RelayFigures* many_off = nullptr;
  for (const RelayFigures& r : relays) {
    if (r.relay_kind.storm && !r.relay_kind.storm->control) many_off = &r;
  }
  for (const RelayFigures& r : relays) {
    if (!r.relay_kind.storm || !r.relay_kind.storm->control) continue;
    const bool many = r.relay_kind.storm->many_keys;
    const std::string name =
        many ? std::to_string(r.relay_kind.storm->keys) + " keys" : std::string("1 key");
    const std::optional<double> vs_pass =
        Ratio(r.ZeroLossRate(), pass ? pass->ZeroLossRate() : std::nullopt);
    const std::string vs_pass_what = "zero-loss rate, storm " + name + " / pass-through";
    if (!many) {
      PrintTarget(vs_pass_what.c_str(), vs_pass, ">= 0.9", vs_pass && *vs_pass >= 0.9);
    } else if (vs_pass) {
      // Traps of new 128-sub-identifier OIDs cost the relay more than pass-through's one
      // trap, storm control or not: the target is on the same traps without it, below.
      std::printf("  %-56s %10.3f   (no target: other traps)\n", vs_pass_what.c_str(), *vs_pass);
    }
    if (many) {
      const std::optional<double> vs_off =
          Ratio(r.ZeroLossRate(), many_off ? many_off->ZeroLossRate() : std::nullopt);
      PrintTarget(("zero-loss rate, storm " + name + " / no storm, same keys").c_str(), vs_off,
                  ">= 0.9", vs_off && *vs_off >= 0.9);
    }
    const std::optional<double> allocations = r.AllocationsPerTrap();
    PrintTarget(("allocations per trap of TervixSrv, storm " + name).c_str(), allocations,
                "< 0.001", allocations && *allocations < 0.001);
    if (r.held_at_end) {
      std::printf("  (storm control %s: %lld traps held back over the run)\n", name.c_str(),
                  static_cast<long long>(*r.held_at_end));
    }
  }
  if (!memory) return;
  std::printf(
      "  (storm control, %u distinct keys, trap OID and key binding of 128 sub-identifiers, at\n"
      "   %.0f traps/s: VmRSS %.2f MB before, %.2f MB after, VmHWM %.2f MB after; %llu of %llu\n"
      "   arrived, %lld held back)\n",
      memory->keys, memory->rate, memory->rss_before_mb, memory->rss_after_mb,
      memory->peak_after_mb, static_cast<unsigned long long>(memory->arrived),
      static_cast<unsigned long long>(memory->sent), static_cast<long long>(memory->held));
  const double growth = memory->growth_mb();
  PrintTarget(
      ("RSS growth over " + std::to_string(memory->keys) + " keys (peak - before), MB").c_str(),
      growth, "< 32", growth < 32);
}

// SNMPv3: the authPriv case beside SNMPv2c wrapping of the same run, and its allocations after
// the engine's first trap.
void PrintV3Targets(const std::vector<RelayFigures>& relays, const RelayFigures* wrap) {
  for (const RelayFigures& r : relays) {
    if (!r.relay_kind.v3) continue;
    const std::optional<double> rate =
        Ratio(r.ZeroLossRate(), wrap ? wrap->ZeroLossRate() : std::nullopt);
    PrintTarget("zero-loss rate, SNMPv3 authPriv / SNMPv2c wrapping", rate, ">= 0.7",
                rate && *rate >= 0.7);
    const std::optional<double> cpu =
        Ratio(r.CpuMicroseconds(), wrap ? wrap->CpuMicroseconds() : std::nullopt);
    std::printf("  %-56s %10.3f   (no target)\n",
                "CPU per trap, SNMPv3 authPriv / SNMPv2c wrapping", cpu.value_or(0));
    const std::optional<double> allocations = r.AllocationsPerTrap();
    PrintTarget("allocations per trap of TervixSrv, SNMPv3 after the first", allocations, "< 0.001",
                allocations && *allocations < 0.001);
    if (r.first_trap_allocations) {
      std::printf(
          "  (SNMPv3: %llu allocations from the start to the engine's first trap through, its\n"
          "   keys made and cached; SNMPv2c wrapping: %s to its first trap)\n",
          static_cast<unsigned long long>(*r.first_trap_allocations),
          wrap && wrap->first_trap_allocations
              ? std::to_string(*wrap->first_trap_allocations).c_str()
              : "-");
    }
  }
}

}  // namespace

std::optional<double> RelayFigures::ZeroLossRate() const { return Median(rounds, RateOf); }
std::optional<double> RelayFigures::CpuMicroseconds() const { return Median(rounds, CpuOf); }
std::optional<double> RelayFigures::UserShare() const { return Median(rounds, UserShareOf); }
std::optional<double> RelayFigures::AllocationsPerTrap() const {
  return Median(rounds, AllocationsOf);
}

void PrintReport(const std::vector<RelayFigures>& relays, const BenchSetup& setup) {
  std::printf("\n%-34s %11s %-28s %9s %-22s %5s %8s %12s\n", "relay", "zero-loss/s", "  (rounds)",
              "CPU us/tr", "  (rounds)", "user", "peak MB", "allocs/trap");
  for (const RelayFigures& r : relays) {
    const std::optional<double> rate = r.ZeroLossRate();
    const bool beyond = LimitNotReached(&r);
    char rate_text[32] = "-";
    if (rate) std::snprintf(rate_text, sizeof rate_text, "%s%.0f", beyond ? ">=" : "", *rate);
    char cpu_text[32] = "-";
    if (std::optional<double> cpu = r.CpuMicroseconds()) {
      std::snprintf(cpu_text, sizeof cpu_text, "%.3f", *cpu);
    }
    char user_text[32] = "-";
    if (std::optional<double> u = r.UserShare()) {
      std::snprintf(user_text, sizeof user_text, "%.0f%%", *u * 100);
    }
    char peak_text[32] = "-";
    if (r.peak_mb) std::snprintf(peak_text, sizeof peak_text, "%.2f", *r.peak_mb);
    char allocations_text[32] = "-";
    if (std::optional<double> a = r.AllocationsPerTrap()) {
      std::snprintf(allocations_text, sizeof allocations_text, "%.4f", *a);
    }
    std::printf("%-34s %11s   %-26s %9s   %-20s %5s %8s %12s", r.relay_kind.name.c_str(), rate_text,
                Rounds(r.rounds, RateOf, "%.0f").c_str(), cpu_text,
                Rounds(r.rounds, CpuOf, "%.2f").c_str(), user_text, peak_text, allocations_text);
    if (r.ended) std::printf("   (ended during the measurement)");
    for (const RoundFigures& f : r.rounds) {
      if (f.cpu_rate > 0 && f.cpu_rate != setup.cpu_rate) {
        std::printf("   (CPU at %.0f/s, its zero-loss rate being lower)", f.cpu_rate);
        break;
      }
    }
    uint64_t lost = 0;
    for (const RoundFigures& f : r.rounds) lost += f.cpu_run_lost;
    if (lost > 0) {
      std::printf("   (%llu lost in the CPU runs)", static_cast<unsigned long long>(lost));
    }
    std::printf("\n");
  }
  std::printf(
      "zero-loss: every trap arrives and the last within %.2f s of the last send, %.0f s steps;\n"
      "median of the rounds. CPU: %llu traps per relay and round at %.0f traps/s, the relays\n"
      "taking turns in %llu slices (user: the share of user mode, from clock ticks).\n",
      setup.arrival_limit_seconds, setup.step_seconds,
      static_cast<unsigned long long>(setup.cpu_count), setup.cpu_rate,
      static_cast<unsigned long long>(setup.cpu_slices));
  std::printf("spread of the rounds (max - min) / median:");
  for (const RelayFigures& r : relays) {
    const std::optional<double> rate = Spread(r.rounds, RateOf);
    const std::optional<double> cpu = Spread(r.rounds, CpuOf);
    std::printf("\n  %-34s rate %5.1f%%   CPU %5.1f%%", r.relay_kind.name.c_str(), rate.value_or(0),
                cpu.value_or(0));
  }
  std::printf("\n\n");

  auto find = [&](RelayKind kind, bool before, int stations = 1) -> const RelayFigures* {
    for (const RelayFigures& r : relays) {
      if (r.relay_kind.kind == kind && r.relay_kind.program.empty() != before &&
          r.relay_kind.stations == stations && !r.relay_kind.storm && !r.relay_kind.v3) {
        return &r;
      }
    }
    return nullptr;
  };
  const RelayFigures* wrap = find(RelayKind::kTervixWrapping, false);
  const RelayFigures* pass = find(RelayKind::kTervixPassThrough, false);
  const RelayFigures* trapd = find(RelayKind::kSnmptrapd, false);
  const RelayFigures* trivial = find(RelayKind::kTrivial, false);
  auto rate = [](const RelayFigures* r) { return r ? r->ZeroLossRate() : std::nullopt; };
  auto cpu = [](const RelayFigures* r) { return r ? r->CpuMicroseconds() : std::nullopt; };

  std::printf("targets:\n");
  const std::optional<double> vs_trivial = Ratio(rate(wrap), rate(trivial));
  PrintTarget("zero-loss rate, TervixSrv wrapping / trivial", vs_trivial, ">= 0.8",
              vs_trivial && *vs_trivial >= 0.8);
  const std::optional<double> cpu_vs_trivial = Ratio(cpu(wrap), cpu(trivial));
  PrintTarget("CPU per trap, TervixSrv wrapping / trivial", cpu_vs_trivial, "<= 1.2",
              cpu_vs_trivial && *cpu_vs_trivial <= 1.2);
  const std::optional<double> vs_trapd = Ratio(rate(wrap), rate(trapd));
  PrintTarget("zero-loss rate, TervixSrv wrapping / snmptrapd", vs_trapd, ">= 30",
              vs_trapd && *vs_trapd >= 30);
  std::optional<double> peak;
  std::optional<double> allocations;
  for (const RelayFigures* r : {wrap, pass}) {
    if (r && r->peak_mb) peak = std::max(peak.value_or(0), *r->peak_mb);
    if (r && r->AllocationsPerTrap()) {
      allocations = std::max(allocations.value_or(0), *r->AllocationsPerTrap());
    }
  }
  PrintTarget("peak memory of TervixSrv, MB", peak, "< 8", peak && *peak < 8);
  // A handful of allocations over a whole run (a buffer growing once) is no allocation per
  // trap; one per thousand traps would be.
  PrintTarget("allocations per trap of TervixSrv", allocations, "< 0.001",
              allocations && *allocations < 0.001);
  const RelayFigures* fan = find(RelayKind::kTervixWrapping, false, 3);
  const RelayFigures* trivial_fan = find(RelayKind::kTrivial, false, 3);
  if (fan || trivial_fan) {
    const std::optional<double> fan_vs_trivial = Ratio(rate(fan), rate(trivial_fan));
    PrintTarget("zero-loss rate, TervixSrv wrapping to 3 / trivial to 3", fan_vs_trivial, ">= 0.8",
                fan_vs_trivial && *fan_vs_trivial >= 0.8);
    const std::optional<double> fan_cpu = Ratio(cpu(fan), cpu(trivial_fan));
    std::printf("  %-56s %10.3f   (no target)\n", "CPU per trap, TervixSrv to 3 / trivial to 3",
                fan_cpu.value_or(0));
    const std::optional<double> fan_allocations = fan ? fan->AllocationsPerTrap() : std::nullopt;
    PrintTarget("allocations per trap of TervixSrv to 3 stations", fan_allocations, "< 0.001",
                fan_allocations && *fan_allocations < 0.001);
  }
  if (setup.write_ms_longest) {
    std::printf("  (%d counter writes of 31 rows timed; median %.3f ms)\n", setup.writes,
                setup.write_ms_median.value_or(0));
    PrintTarget("longest counter write (intake stall it causes), ms", setup.write_ms_longest, "< 5",
                *setup.write_ms_longest < 5);
  }
  if (setup.gap_ms_tervix) {
    // The gap holds the writes and whatever else held a process of this machine up; the
    // trivial forwarder, which writes nothing, shows the latter.
    std::printf("  %-56s %10.3f   (no target; trivial forwarder to 3: %.3f)\n",
                "longest gap in the forwarded stream, TervixSrv to 3, ms", *setup.gap_ms_tervix,
                setup.gap_ms_trivial.value_or(0));
    std::printf("  (steady stream of %.0f s at %.0f traps/s through each)\n", setup.gap_seconds,
                setup.gap_rate);
  }
  PrintStormTargets(relays, pass, setup.storm_memory);
  PrintV3Targets(relays, wrap);
  if (LimitNotReached(trivial) || LimitNotReached(wrap)) {
    std::printf("  (>=: the highest rate tried was sustained; the limit was not reached)\n");
  }

  const RelayFigures* wrap_before = find(RelayKind::kTervixWrapping, true);
  const RelayFigures* pass_before = find(RelayKind::kTervixPassThrough, true);
  if (wrap_before || pass_before) {
    std::printf("\nbefore -> after (same run):\n");
    const std::pair<const RelayFigures*, const RelayFigures*> pairs[] = {{wrap_before, wrap},
                                                                         {pass_before, pass}};
    for (const auto& [before, after] : pairs) {
      if (!before || !after) continue;
      const std::optional<double> rate_gain = Ratio(rate(after), rate(before));
      const std::optional<double> cpu_gain = Ratio(cpu(after), cpu(before));
      std::printf("  %-34s zero-loss rate x %.2f, CPU per trap x %.2f\n",
                  after->relay_kind.name.c_str(), rate_gain.value_or(0), cpu_gain.value_or(0));
    }
    const std::optional<double> before_vs_trivial = Ratio(rate(wrap_before), rate(trivial));
    const std::optional<double> before_cpu = Ratio(cpu(wrap_before), cpu(trivial));
    std::printf("  before: wrapping / trivial zero-loss %.3f, CPU per trap %.3f\n",
                before_vs_trivial.value_or(0), before_cpu.value_or(0));
  }
}

}  // namespace tervane::bench
