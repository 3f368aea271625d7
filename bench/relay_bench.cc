// Relay benchmark: how many traps per second TervixSrv relays without losing one, how much
// CPU time and memory it spends doing so, and how often it allocates, compared with
// net-snmp's snmptrapd as a forwarder and with a trivial forwarder that copies datagrams
// without reading them (what the machine can move at all).
//
// Every relay runs as a child process on 127.0.0.1, with the same socket buffers, and all of
// them are measured in one run, in rounds; the table gives the median of the rounds.
// In each round:
//   1. The zero-loss rate of every relay, the relays taking turns step by step, so that a
//      change in the machine's load falls on all of them alike. A step sends traps at one
//      rate for at least --step-seconds; it passes only when every trap arrives, the last
//      within 0.25 s of the last send (so that a deep socket buffer cannot hide an overload),
//      and the generator kept the pace. The rate doubles from a start until a step fails, or
//      halves until one passes, then is bisected to within 3%.
//   2. The CPU time of every relay at one paced rate for all, the relays taking turns in ten
//      slices of the run, read from the scheduler (/proc/PID/task/*/schedstat), and the
//      allocations TervixSrv made meanwhile, counted by a preloaded allocator. The pace is a
//      quarter of the lowest zero-loss rate of the first round, snmptrapd aside (it is run at 80%
//      of its own rate when that is lower): a busy relay on a machine that is not saturated. Nearer
//      the limit, on a machine of two cores, generator and sink take their share of it and each
//      relay's figure grows with the contention it meets; --cpu-rate chooses another pace.
// Peak memory is the relay's VmHWM at the end.
// The fan-out cases send every trap to three sinks: TervixSrv wrapping with two ForwardTarget
// stations besides the first, and the trivial forwarder copying each datagram to the same
// three; a step passes only when every sink got every trap. After the rounds, a steady stream
// of --gap-seconds (long enough for several of TervixSrv's 10 s counter writes) goes through
// each of the two, and the longest gap between forwarded traps is reported: what a counter
// write held intake up, at most, beside what pacing and scheduling alone cause.
//
// The storm cases run TervixSrv passing through with storm control on (storm_steps.cc).
// With one key (every trap of one source, trap OID and first binding) under a default rule of
// 60 a minute after a burst of 10, nearly every trap is held back; the relay reports those
// only when it stops (traps_held_back in RelayStatistics), so each step of its search has a
// relay of its own, stopped after the step. Such a step passes when every trap is accounted
// for (arrived or held back), the relay's socket dropped none, and the step's last trap, of
// another key, arrives within the limit above (which shows that the relay kept up). With many
// keys (--storm-keys, default 1,000,000: each trap of a key of its own, trap OID and key
// binding of 128 sub-identifiers, under a rule of 60 a minute after a burst of 5) every trap
// goes on, and steps pass as pass-through's do; the case many-keys sends the same traps with
// storm control off, for reference. Each storm case's zero-loss rate is set beside
// pass-through's, the many keys' also beside many-keys'. After the rounds, a relay of the
// storm-many-keys case started anew gets one trap of each key (at --flood-rate, default a
// quarter of that case's zero-loss rate), and its VmRSS before, VmRSS and VmHWM after are
// reported: what so many keys cost it in memory.
//
// The case v3-auth-priv sends the same trap as SNMPv3 authPriv from one device engine to
// TervixSrv wrapping (v3_load.h), set beside wrapping, which always runs with it. The relay
// makes the engine's keys on its first trap, the probe that shows it ready: what that trap
// allocated is reported apart, and the CPU runs' allocations per trap come long after it.
//
// Usage: relay_bench [--quick] [--only NAME[,NAME...]] [--before PROGRAM] [--rounds N]
//                    [--step-seconds S] [--trapd-no-log] [--cpu-count N] [--cpu-rate N]
//                    [--max-rate N] [--gap-seconds S] [--gap-rate N] [--storm-keys N]
//                    [--flood-rate N]
//   NAME: pass-through, wrapping, snmptrapd, trivial, fan-out, trivial-fan-out,
//   storm-one-key, storm-many-keys, many-keys, v3-auth-priv (and pass-through-before,
//   wrapping-before with --before).
//   --gap-seconds: length of the steady stream (default 32 s, 0 for none); --gap-rate its
//   pace (default 5000 traps/s).
//   --before: another TervixSrv executable (say, one built from an earlier commit), measured
//   in the same rounds as "TervixSrv ... (before)".
//   --quick: one round of 1 s steps, for a smoke run. --trapd-no-log: snmptrapd only forwards
//   (by default it also formats every trap for its log, as it does out of the box).
//   --cpu-count, --cpu-rate: size and pace of the CPU runs (default 5 s of traps at the pace
//   above). --max-rate: highest rate tried.
// This is a measuring tool, not a test: it prints its figures and PASS or MISS for each
// target, and exits 0 either way (non-zero only when it could not measure).
#include "bench/relay_bench.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/relay_bench_options.h"
#include "bench/relay_process.h"
#include "bench/relay_report.h"
#include "bench/trap_load.h"
#include "bench/v3_load.h"
#include "service/snmp/codec.h"

namespace tervane::bench {
namespace {

using Clock = std::chrono::steady_clock;

void OnSignal(int) { g_stop = true; }

// The search stops when the highest passing and the lowest failing rate are this close.
constexpr double kResolution = 0.03;
// The pace of the CPU runs, as a share of the lowest zero-loss rate (snmptrapd's aside).
constexpr double kCpuPace = 0.25;
// The slices of each relay's CPU run in a round. The relays take turns slice by slice, so
// that a change in the machine's load, which comes and goes within seconds on a shared
// machine, falls on all of them alike rather than on whichever ran then.
constexpr uint64_t kCpuSlices = 10;

// The search for one relay's zero-loss rate in one round: doubling from `start` while steps
// pass (halving while they fail), then bisecting between the highest rate that passed and
// the lowest that failed.
class RateSearch {
 public:
  RateSearch(double start, double max_rate) : next_(start), max_rate_(max_rate) {}

  bool done() const { return done_; }
  double next() const { return next_; }
  double result() const { return good_; }
  bool limit_not_reached() const { return good_ > 0 && bad_ == 0; }

  void Record(bool passed) {
    (passed ? good_ : bad_) = next_;
    if (good_ == 0) {  // nothing passed yet: halve
      next_ = std::round(next_ / 2);
      done_ = next_ < 100;
    } else if (bad_ == 0) {  // nothing failed yet: double
      next_ *= 2;
      done_ = next_ > max_rate_;
    } else {
      next_ = std::round((good_ + bad_) / 2 / 100) * 100;
      done_ = bad_ - good_ <= good_ * kResolution || next_ <= good_ || next_ >= bad_;
    }
  }
  // The relay ended: no more steps.
  void Abandon() { done_ = true; }

 private:
  double next_;
  double max_rate_;
  double good_ = 0;
  double bad_ = 0;
  bool done_ = false;
};

}  // namespace

bool Bench::Wanted(const std::string& key) const {
  return options_.only.empty() ||
         std::find(options_.only.begin(), options_.only.end(), key) != options_.only.end();
}

std::unique_ptr<RelayProcess> Bench::StartRelay(const RelayKindInfo& relay_kind,
                                                std::optional<uint64_t>* first_allocations) {
  // A port probed free may be taken again before the relay binds it; try a few.
  for (int attempt = 0; attempt < 3 && !g_stop; ++attempt) {
    const uint16_t port = FreeLoopbackPort();
    Result<std::unique_ptr<RelayProcess>> started = RelayProcess::Start(
        relay_kind, work_.path(), port, {sink_.port(), sink2_.port(), sink3_.port()},
        options_.trapd_logs, ALLOC_COUNTER_PATH);
    if (!started.ok()) {
      std::fprintf(stderr, "  %s: %s\n", relay_kind.name.c_str(),
                   started.status().ToString().c_str());
      continue;
    }
    // Ready once a probe trap comes through; probes go out one at a time.
    Relay probe("probe", relay_kind);
    probe.process = std::move(*started);
    const std::optional<AllocCounts> before = probe.process->Allocations();
    for (int i = 0; i < 100 && !g_stop && probe.process->Running(); ++i) {
      if (Step(probe, 1000, 1, true).good != 1) continue;
      // What the relay allocated until its first trap came through.
      const std::optional<AllocCounts> after = probe.process->Allocations();
      if (first_allocations != nullptr && before && after) {
        *first_allocations = after->allocations - before->allocations;
      }
      return std::move(probe.process);
    }
    std::fprintf(stderr, "  %s did not relay a probe trap:\n%s\n", relay_kind.name.c_str(),
                 probe.process->Output().c_str());
  }
  return nullptr;
}

StepResult Bench::Step(const Relay& relay, double rate, uint64_t count, bool quiet) {
  const std::vector<Sink*> sinks = SinksOf(relay);
  ++trial_;
  for (Sink* sink : sinks) sink->BeginTrial(trial_, relay.figures.relay_kind.trap_oid);
  std::optional<KeySequence> keys;
  const bool v3 = relay.figures.relay_kind.v3;
  StepResult result;
  std::vector<uint8_t> datagram;
  if (!v3) {
    datagram = Datagram(relay.figures.relay_kind, trial_, count, &keys);
  } else if (Status s = v3_device_.Build(trial_, std::min<uint64_t>(count, kV3PoolSize), &v3_pool_);
             !s.ok()) {
    std::fprintf(stderr, "  cannot encode the SNMPv3 traps: %s\n", s.ToString().c_str());
    return result;
  }
  const uint64_t relay_drops = UdpDrops(relay.process->port());
  uint64_t sink_drops = 0;
  for (Sink* sink : sinks) sink_drops += UdpDrops(sink->port());
  Result<SendReport> sent =
      v3 ? generator_.RunPool(v3_pool_, relay.process->port(), rate, count, g_stop)
         : generator_.Run(datagram, relay.process->port(), rate, count, g_stop,
                          keys ? &*keys : nullptr);
  if (!sent.ok()) {
    std::fprintf(stderr, "  send failed: %s\n", sent.status().ToString().c_str());
    return result;
  }
  result.sent = sent->sent;
  result.achieved = sent->rate();
  // Whatever is late still gets its time to arrive (a few seconds at most), so that it is
  // counted here and the next step starts with an empty relay.
  // With several sinks a step is as good as its worst sink.
  result.good = result.sent;
  Clock::time_point last_good{};
  for (Sink* sink : sinks) {
    result.good = std::min(result.good,
                           sink->WaitFor(result.sent, std::chrono::milliseconds(quiet ? 100 : 500),
                                         std::chrono::milliseconds(quiet ? 100 : 5000)));
    result.bad += sink->bad();
    last_good = std::max(last_good, sink->last_good());
  }
  if (result.good > 0) {
    result.last_after = std::chrono::duration<double>(last_good - sent->last_send).count();
  }
  if (!quiet) {
    const uint64_t relay_lost = UdpDrops(relay.process->port()) - relay_drops;
    uint64_t sink_lost = 0;
    for (Sink* sink : sinks) sink_lost += UdpDrops(sink->port());
    sink_lost -= sink_drops;
    std::printf("  %-34s %9.0f/s  sent %8llu at %9.0f/s  got %8llu  bad %llu  last +%.3f s  ",
                relay.figures.relay_kind.name.c_str(), rate,
                static_cast<unsigned long long>(result.sent), result.achieved,
                static_cast<unsigned long long>(result.good),
                static_cast<unsigned long long>(result.bad), result.last_after);
    if (result.good != result.sent || result.bad != 0) {
      std::printf("LOSS (dropped at the relay's socket %llu, at the sink's %llu)\n",
                  static_cast<unsigned long long>(relay_lost),
                  static_cast<unsigned long long>(sink_lost));
    } else if (!result.passed()) {
      std::printf("LATE\n");
    } else {
      std::printf(result.achieved < rate * kPaceTolerance ? "ok, but below the pace\n" : "ok\n");
    }
    std::fflush(stdout);
  }
  return result;
}

bool Bench::Alive(Relay& relay) {
  if (relay.figures.ended) return false;
  if (relay.process->Running()) return true;
  std::printf("  %s has ended:\n%s\n", relay.figures.relay_kind.name.c_str(),
              relay.process->Output().c_str());
  relay.figures.ended = true;
  return false;
}

void Bench::FindZeroLossRates(std::vector<Relay>& relays, int round) {
  std::vector<RateSearch> searches;
  searches.reserve(relays.size());
  for (const Relay& r : relays) searches.emplace_back(r.start_rate, options_.max_rate);
  // Each round starts with another relay, so that none is always first after a pause.
  const size_t n = relays.size();
  for (bool more = true; more && !g_stop;) {
    more = false;
    for (size_t k = 0; k < n && !g_stop; ++k) {
      const size_t i = (k + static_cast<size_t>(round)) % n;
      RateSearch& search = searches[i];
      if (search.done()) continue;
      if (!Alive(relays[i])) {
        search.Abandon();
        continue;
      }
      const double rate = search.next();
      const auto count = static_cast<uint64_t>(std::ceil(rate * options_.step_seconds));
      const StepResult step = RestartsPerStep(relays[i]) ? StormStep(relays[i], rate, count)
                                                         : Step(relays[i], rate, count);
      search.Record(step.passed() && step.achieved >= rate * kPaceTolerance);
      more |= !search.done();
    }
  }
  for (size_t i = 0; i < n; ++i) {
    RoundFigures figures;
    figures.zero_loss_rate = searches[i].result();
    figures.limit_not_reached = searches[i].limit_not_reached();
    relays[i].figures.rounds.push_back(figures);
    std::printf("  round %d: %s zero-loss rate %.0f/s\n", round + 1,
                relays[i].figures.relay_kind.name.c_str(), figures.zero_loss_rate);
  }
}

void Bench::MeasureCpu(std::vector<Relay>& relays, double cpu_rate, int round) {
  // What one relay spent over its slices of the round.
  struct Account {
    double rate = 0;
    bool measured = true;  // every slice could be read
    uint64_t cpu_ns = 0;
    double user_seconds = 0;
    double system_seconds = 0;
    uint64_t sent = 0;
    uint64_t lost = 0;
    std::optional<uint64_t> allocations = 0;
    // Storm control with one key: every trap sent to the relay of the run, and every one
    // that arrived, its warm-up's included.
    uint64_t storm_sent = 0;
    uint64_t storm_arrived = 0;
  };
  const size_t n = relays.size();
  std::vector<Account> accounts(n);
  for (size_t i = 0; i < n; ++i) {
    accounts[i].rate = cpu_rate;
    if (relays[i].figures.relay_kind.kind == RelayKind::kSnmptrapd) {
      const double own =
          std::round(relays[i].figures.rounds.back().zero_loss_rate * 0.8 / 100) * 100;
      if (own > 0 && own < cpu_rate) accounts[i].rate = own;
    }
  }
  const uint64_t total = CpuCount(cpu_rate);
  const uint64_t slices = std::min<uint64_t>(total, options_.quick ? 1 : kCpuSlices);
  // Storm control with one key: the relay of the last step serves the whole run, warmed up
  // first with a slice's worth of traps that are not measured (a relay new to traps grows its
  // buffers to the load), as the others have been warmed by their steps.
  for (size_t i = 0; i < n && !g_stop; ++i) {
    if (!RestartsPerStep(relays[i]) || !Alive(relays[i])) continue;
    const StepResult warm = StormSend(relays[i], accounts[i].rate, total / slices);
    accounts[i].storm_sent += warm.sent;
    accounts[i].storm_arrived += warm.good;
  }
  for (uint64_t slice = 0; slice < slices && !g_stop; ++slice) {
    const uint64_t count = total / slices + (slice < total % slices ? 1 : 0);
    for (size_t k = 0; k < n && !g_stop; ++k) {
      const size_t i = (k + static_cast<size_t>(round) + slice) % n;
      Relay& relay = relays[i];
      Account& a = accounts[i];
      if (!a.measured || !Alive(relay)) {
        a.measured = false;
        continue;
      }
      const Result<ProcStats> before = ReadProcStats(relay.process->pid());
      const std::optional<AllocCounts> allocations_before = relay.process->Allocations();
      const StepResult run = RestartsPerStep(relay) ? StormSend(relay, a.rate, count)
                                                    : Step(relay, a.rate, count, /*quiet=*/true);
      const Result<ProcStats> after = ReadProcStats(relay.process->pid());
      const std::optional<AllocCounts> allocations_after = relay.process->Allocations();
      if (!before.ok() || !after.ok() || run.sent == 0) {
        a.measured = false;
        continue;
      }
      a.cpu_ns += after->cpu_ns - before->cpu_ns;
      a.user_seconds += after->user_seconds - before->user_seconds;
      a.system_seconds += after->system_seconds - before->system_seconds;
      a.sent += run.sent;
      a.lost += run.sent - std::min(run.sent, run.good);
      a.storm_sent += run.sent;
      a.storm_arrived += run.good;
      if (a.allocations && allocations_before && allocations_after) {
        *a.allocations += allocations_after->allocations - allocations_before->allocations;
      } else {
        a.allocations.reset();
      }
    }
  }
  // The traps the one-key relay did not forward are lost only where it did not hold them back.
  for (size_t i = 0; i < n && !g_stop; ++i) {
    if (!RestartsPerStep(relays[i]) || !Alive(relays[i])) continue;
    const std::optional<uint64_t> held = RenewStormRelay(relays[i]);
    Account& a = accounts[i];
    a.lost = a.storm_sent - std::min(a.storm_sent, a.storm_arrived + held.value_or(0));
  }
  for (size_t i = 0; i < n; ++i) {
    const Account& a = accounts[i];
    RoundFigures& figures = relays[i].figures.rounds.back();
    figures.cpu_rate = a.rate;
    if (!a.measured || a.sent == 0) continue;
    const auto traps = static_cast<double>(a.sent);
    figures.cpu_us = static_cast<double>(a.cpu_ns) / 1000.0 / traps;
    if (a.user_seconds + a.system_seconds > 0) {
      figures.user_share = a.user_seconds / (a.user_seconds + a.system_seconds);
    }
    figures.cpu_run_lost = a.lost;
    if (a.allocations) figures.allocations_per_trap = static_cast<double>(*a.allocations) / traps;
    std::printf("  %-34s %9.0f/s  %llu traps  CPU %.3f us/trap%s\n",
                relays[i].figures.relay_kind.name.c_str(), a.rate,
                static_cast<unsigned long long>(a.sent), *figures.cpu_us,
                a.lost > 0 ? "  (some lost)" : "");
  }
  std::fflush(stdout);
}

uint64_t Bench::CpuCount(double cpu_rate) const {
  return options_.cpu_count > 0
             ? options_.cpu_count
             : static_cast<uint64_t>(std::ceil(cpu_rate * (options_.quick ? 1 : 5)));
}

std::optional<double> Bench::LongestGap(const Relay& relay) {
  const auto count = static_cast<uint64_t>(std::ceil(options_.gap_rate * options_.gap_seconds));
  const StepResult step = Step(relay, options_.gap_rate, count, /*quiet=*/true);
  if (step.sent == 0 || step.good != step.sent) {
    std::printf("  %s lost traps in the steady stream (%llu of %llu arrived)\n",
                relay.figures.relay_kind.name.c_str(), static_cast<unsigned long long>(step.good),
                static_cast<unsigned long long>(step.sent));
  }
  if (step.good == 0) return std::nullopt;
  double gap_ms = 0;
  for (Sink* sink : SinksOf(relay)) {
    gap_ms =
        std::max(gap_ms, std::chrono::duration<double, std::milli>(sink->longest_gap()).count());
  }
  std::printf("  %-34s longest gap %.2f ms over %.0f s at %.0f/s\n",
              relay.figures.relay_kind.name.c_str(), gap_ms, options_.gap_seconds,
              options_.gap_rate);
  std::fflush(stdout);
  return gap_ms;
}

int Bench::Run() {
  if (!work_.ok()) {
    std::fprintf(stderr, "relay_bench: cannot create a temporary directory\n");
    return 1;
  }
  for (Sink* sink : {&sink_, &sink2_, &sink3_}) {
    if (Status s = sink->Start(); !s.ok()) {
      std::fprintf(stderr, "relay_bench: sink: %s\n", s.ToString().c_str());
      return 1;
    }
  }
  if (Status s = generator_.Open(); !s.ok()) {
    std::fprintf(stderr, "relay_bench: generator: %s\n", s.ToString().c_str());
    return 1;
  }
  std::vector<uint8_t> sample;
  if (Status s = snmp::Encode(MakeTrap(0), &sample); !s.ok()) return 1;
  std::printf("trap: SNMPv2c, %zu bindings, %zu bytes; %d round(s) of %.0f s steps\n",
              MakeTrap(0).variables.size(), sample.size(), options_.rounds, options_.step_seconds);
  const bool v3_wanted = Wanted("v3-auth-priv");
  if (v3_wanted) {
    std::printf("SNMPv3 trap: authPriv, SHA-256/AES-128, %zu bytes\n", v3_device_.DatagramSize());
  }

  std::vector<std::pair<std::string, RelayKindInfo>> all = {
      {"wrapping", {RelayKind::kTervixWrapping, "TervixSrv wrapping", kWrappedTrapOid, ""}},
      {"pass-through",
       {RelayKind::kTervixPassThrough, "TervixSrv pass-through", kSourceTrapOid, ""}},
  };
  if (!options_.before.empty()) {
    all.push_back({"wrapping-before",
                   {RelayKind::kTervixWrapping, "TervixSrv wrapping (before)", kWrappedTrapOid,
                    options_.before}});
    all.push_back({"pass-through-before",
                   {RelayKind::kTervixPassThrough, "TervixSrv pass-through (before)",
                    kSourceTrapOid, options_.before}});
  }
  all.push_back({"v3-auth-priv",
                 {RelayKind::kTervixWrapping, "TervixSrv wrapping SNMPv3 authPriv", kWrappedTrapOid,
                  "", 1, std::nullopt, /*v3=*/true}});
  all.push_back({"trivial", {RelayKind::kTrivial, "trivial forwarder", kSourceTrapOid, ""}});
  all.push_back(
      {"fan-out",
       {RelayKind::kTervixWrapping, "TervixSrv wrapping to 3 stations", kWrappedTrapOid, "", 3}});
  all.push_back({"trivial-fan-out",
                 {RelayKind::kTrivial, "trivial forwarder to 3 sinks", kSourceTrapOid, "", 3}});
  all.push_back({"snmptrapd", {RelayKind::kSnmptrapd, "snmptrapd forward", kSourceTrapOid, ""}});
  const std::string keys = std::to_string(options_.storm_keys);
  StormCase many_keys = kStormManyKeys;
  many_keys.keys = options_.storm_keys;
  StormCase many_keys_off = many_keys;
  many_keys_off.control = false;
  const std::pair<std::string, std::pair<std::string, StormCase>> storms[] = {
      {"storm-one-key", {"TervixSrv storm, 1 key", kStormOneKey}},
      {"storm-many-keys", {"TervixSrv storm, " + keys + " keys", many_keys}},
      {"many-keys", {"TervixSrv no storm, " + keys + " keys", many_keys_off}},
  };
  for (const auto& [key, named] : storms) {
    RelayKindInfo storm{RelayKind::kTervixPassThrough, named.first,
                        StormShape(named.second).trap_oid, ""};
    storm.storm = named.second;
    all.emplace_back(key, storm);
  }

  std::vector<Relay> relays;
  bool complete = true;
  for (const auto& [key, relay_kind] : all) {
    // The SNMPv3 case is measured against wrapping's SNMPv2c traps of the same run.
    if ((!Wanted(key) && !(key == "wrapping" && v3_wanted)) || g_stop) continue;
    Relay relay(key, relay_kind);
    relay.process = StartRelay(relay_kind, &relay.figures.first_trap_allocations);
    if (!relay.process) {
      std::printf("%s: not started, not measured\n", relay_kind.name.c_str());
      complete = false;
      continue;
    }
    if (relay_kind.kind == RelayKind::kSnmptrapd) relay.start_rate = 1000;
    relays.push_back(std::move(relay));
  }

  double cpu_rate = options_.cpu_rate;
  for (int round = 0; round < options_.rounds && !g_stop; ++round) {
    std::printf("round %d: zero-loss rates\n", round + 1);
    std::fflush(stdout);
    FindZeroLossRates(relays, round);
    if (cpu_rate == 0) {
      // One pace for every CPU run, so that each relay does the same work at the same pace;
      // snmptrapd, far slower, would hold it down to where every relay idles.
      double lowest = 0;
      for (const Relay& r : relays) {
        const double rate = r.figures.rounds.back().zero_loss_rate;
        // The storm cases are measured at the others' pace, which they leave as it was.
        if (r.figures.relay_kind.kind == RelayKind::kSnmptrapd || r.figures.relay_kind.storm ||
            rate <= 0) {
          continue;
        }
        lowest = lowest == 0 ? rate : std::min(lowest, rate);
      }
      // With storm cases alone, theirs.
      for (const Relay& r : relays) {
        const double rate = r.figures.rounds.back().zero_loss_rate;
        if (lowest > 0 || r.figures.relay_kind.kind == RelayKind::kSnmptrapd || rate <= 0) continue;
        lowest = rate;
      }
      cpu_rate = std::max(100.0, std::round(lowest * kCpuPace / 100) * 100);
    }
    std::printf("round %d: CPU time at %.0f traps/s\n", round + 1, cpu_rate);
    std::fflush(stdout);
    MeasureCpu(relays, cpu_rate, round);
  }

  BenchSetup setup;
  if (options_.gap_seconds > 0 && !g_stop) {
    std::printf("steady stream: the longest gap between forwarded traps\n");
    for (Relay& r : relays) {
      if (r.figures.relay_kind.stations < 3 || !Alive(r) || g_stop) continue;
      const std::optional<double> gap = LongestGap(r);
      (r.figures.relay_kind.kind == RelayKind::kTrivial ? setup.gap_ms_trivial
                                                        : setup.gap_ms_tervix) = gap;
    }
    setup.gap_rate = options_.gap_rate;
    setup.gap_seconds = options_.gap_seconds;
  }
  if (!g_stop) {
    constexpr int kWrites = 200;
    if (const auto writes = TimeCounterWrites(work_.path() / "counter-writes", kWrites, g_stop)) {
      setup.write_ms_longest = writes->first;
      setup.write_ms_median = writes->second;
      setup.writes = kWrites;
    }
  }

  for (const Relay& r : relays) {
    const std::optional<StormCase>& storm = r.figures.relay_kind.storm;
    if (!storm || !storm->many_keys || !storm->control || g_stop) continue;
    // A quarter of the case's zero-loss rate, so that every key reaches the relay.
    double rate = options_.flood_rate;
    if (rate == 0) {
      rate = std::max(1000.0, std::round(r.figures.ZeroLossRate().value_or(0) / 400) * 100);
    }
    std::printf("storm control: resident memory over %u distinct keys\n", storm->keys);
    setup.storm_memory = MeasureStormMemory(r.figures.relay_kind, rate);
  }

  std::vector<RelayFigures> figures;
  for (Relay& r : relays) {
    if (Result<ProcStats> stats = ReadProcStats(r.process->pid()); stats.ok()) {
      // A relay made anew for each step has noted its steps' peaks already.
      r.figures.peak_mb = std::max(r.figures.peak_mb.value_or(0), stats->peak_mb);
    }
    r.process->Stop();
    complete &= !r.figures.ended;
    const std::optional<StormCase>& storm = r.figures.relay_kind.storm;
    if (storm && storm->many_keys && storm->control && !r.figures.ended) {
      if (Result<int64_t> held = r.process->Counter("traps_held_back"); held.ok()) {
        r.figures.held_at_end = *held;
      }
    }
    figures.push_back(r.figures);
  }
  if (g_stop) {
    std::fprintf(stderr, "relay_bench: interrupted\n");
    return 1;
  }
  setup.step_seconds = options_.step_seconds;
  setup.arrival_limit_seconds = std::chrono::duration<double>(kArrivalLimit).count();
  setup.cpu_rate = cpu_rate;
  setup.cpu_count = CpuCount(cpu_rate);
  setup.cpu_slices = std::min<uint64_t>(setup.cpu_count, options_.quick ? 1 : kCpuSlices);
  PrintReport(figures, setup);
  return complete ? 0 : 1;
}

}  // namespace tervane::bench

int main(int argc, char** argv) {
  tervane::bench::Options options = tervane::bench::ParseOptions(argc, argv);
  struct sigaction action {};
  action.sa_handler = tervane::bench::OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return tervane::bench::Bench(std::move(options)).Run();
}
