#include "bench/relay_report.h"

#include <algorithm>
#include <cstdio>

namespace tervane::bench {
namespace {

void PrintTarget(const char* what, std::optional<double> value, const char* goal, bool pass) {
  if (!value) {
    std::printf("  %-50s %10s   %-8s n/a\n", what, "-", goal);
    return;
  }
  std::printf("  %-50s %10.3f   %-8s %s\n", what, *value, goal, pass ? "PASS" : "MISS");
}

}  // namespace

void PrintReport(const std::vector<RelayFigures>& relays, uint64_t cpu_count, double cpu_rate) {
  std::printf("\n%-24s %18s %18s %10s\n", "relay", "zero-loss traps/s", "CPU s/100k traps",
              "peak MB");
  for (const RelayFigures& r : relays) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%s%.0f", r.limit_not_reached ? ">=" : "", r.zero_loss_rate);
    char cpu[32] = "-";
    if (r.cpu_per_100k) std::snprintf(cpu, sizeof cpu, "%.3f", *r.cpu_per_100k);
    char peak[32] = "-";
    if (r.peak_mb) std::snprintf(peak, sizeof peak, "%.2f", *r.peak_mb);
    std::printf("%-24s %18s %18s %10s", r.relay_kind.name.c_str(), rate, cpu, peak);
    if (r.ended) std::printf("   (ended during the measurement)");
    if (r.cpu_run_lost > 0) {
      std::printf("   (%llu lost in the CPU run)", static_cast<unsigned long long>(r.cpu_run_lost));
    }
    std::printf("\n");
  }
  std::printf("CPU measured over %llu traps per relay at %.0f traps/s.\n\n",
              static_cast<unsigned long long>(cpu_count), cpu_rate);

  auto find = [&](RelayKind kind) -> const RelayFigures* {
    for (const RelayFigures& r : relays) {
      if (r.relay_kind.kind == kind) return &r;
    }
    return nullptr;
  };
  const RelayFigures* wrap = find(RelayKind::kTervixWrapping);
  const RelayFigures* pass = find(RelayKind::kTervixPassThrough);
  const RelayFigures* trapd = find(RelayKind::kSnmptrapd);
  const RelayFigures* trivial = find(RelayKind::kTrivial);
  auto ratio = [](const RelayFigures* a, const RelayFigures* b) -> std::optional<double> {
    if (!a || !b || b->zero_loss_rate <= 0) return std::nullopt;
    return a->zero_loss_rate / b->zero_loss_rate;
  };
  std::printf("targets:\n");
  const std::optional<double> vs_trapd = ratio(wrap, trapd);
  PrintTarget("zero-loss rate, TervixSrv wrapping / snmptrapd", vs_trapd, ">= 20",
              vs_trapd && *vs_trapd >= 20);
  const std::optional<double> vs_trivial = ratio(wrap, trivial);
  PrintTarget("zero-loss rate, TervixSrv wrapping / trivial", vs_trivial, ">= 0.5",
              vs_trivial && *vs_trivial >= 0.5);
  std::optional<double> cpu;
  if (wrap && trapd && wrap->cpu_per_100k && trapd->cpu_per_100k && *trapd->cpu_per_100k > 0) {
    cpu = *wrap->cpu_per_100k / *trapd->cpu_per_100k;
  }
  PrintTarget("CPU per trap, TervixSrv wrapping / snmptrapd", cpu, "<= 0.1", cpu && *cpu <= 0.1);
  std::optional<double> peak;
  for (const RelayFigures* r : {wrap, pass}) {
    if (r && r->peak_mb) peak = std::max(peak.value_or(0), *r->peak_mb);
  }
  PrintTarget("peak memory of TervixSrv, MB", peak, "< 10", peak && *peak < 10);
  if ((trivial && trivial->limit_not_reached) || (wrap && wrap->limit_not_reached)) {
    std::printf("  (>=: the highest rate tried was sustained; the limit was not reached)\n");
  }
}

}  // namespace tervane::bench
