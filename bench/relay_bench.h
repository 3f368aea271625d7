// The relay benchmark's run (relay_bench.cc's opening comment says what it measures): the
// relays under measurement, the step that sends one paced run of traps through one of them,
// and the run as a whole. The storm-control cases' own steps and their memory run are in
// storm_steps.cc.
#ifndef TERVANE_BENCH_RELAY_BENCH_H_
#define TERVANE_BENCH_RELAY_BENCH_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/relay_bench_options.h"
#include "bench/relay_process.h"
#include "bench/relay_report.h"
#include "bench/trap_load.h"
#include "bench/v3_load.h"
#include "tests/subprocess.h"

namespace tervane::bench {

// Set by SIGINT and SIGTERM: every loop of the run ends early.
inline std::atomic<bool> g_stop{false};

// The last trap of a step must arrive this soon after the last send.
inline constexpr auto kArrivalLimit = std::chrono::milliseconds(250);
// A step shows that a relay sustains a rate only when the generator kept that pace: on two
// cores shared by generator, sink and relay, it may not.
inline constexpr double kPaceTolerance = 0.97;

// The storm-control cases. One key under a default rule of 60 a minute after a burst of 10:
// nearly every trap is held back. Many keys, each trap of a key of its own (cycling through
// more keys than the relay tracks, so every key it meets is new to it), under a rule of 60 a
// minute after a burst of 5: every trap goes on, and the key table is full after the first
// 65,536. The many keys' traps carry a trap OID and a key binding of 128 sub-identifiers each,
// the longest keys there are; they are also measured with storm control off (control false),
// since a relay meeting new OIDs all the time does more work for each trap than for one OID.
inline constexpr StormCase kStormOneKey{60, 10, false, 1};
inline constexpr StormCase kStormManyKeys{60, 5, true, 1000000};
// The traps of a storm case.
KeyedTrapShape StormShape(const StormCase& storm);

struct Relay {
  Relay(std::string key_, RelayKindInfo kind) : key(std::move(key_)) {
    figures.relay_kind = std::move(kind);
  }
  std::string key;
  RelayFigures figures;
  std::unique_ptr<RelayProcess> process;
  // Where its search starts: snmptrapd is two orders slower than the others.
  double start_rate = 10000;
};

struct StepResult {
  uint64_t sent = 0;
  uint64_t good = 0;
  uint64_t bad = 0;
  // Storm control: traps the relay counted as held back (traps_held_back), which account
  // for the traps sent as the ones arriving do.
  uint64_t held = 0;
  // Storm control with one key: the step's last trap, of another key, did not arrive, or
  // the relay's socket dropped datagrams.
  bool marker_lost = false;
  uint64_t socket_drops = 0;
  double achieved = 0;     // traps per second actually sent
  double last_after = -1;  // seconds from the last send to the last good arrival
  bool passed() const {
    return sent > 0 && good + held == sent && bad == 0 && !marker_lost && socket_drops == 0 &&
           last_after <= std::chrono::duration<double>(kArrivalLimit).count();
  }
};

class Bench {
 public:
  explicit Bench(Options options) : options_(std::move(options)) {}

  int Run();

 private:
  bool Wanted(const std::string& key) const;
  // Starts the relay and waits until a probe trap comes through it; with `first_allocations`,
  // notes there what TervixSrv allocated until then (nothing without the counting allocator).
  std::unique_ptr<RelayProcess> StartRelay(const RelayKindInfo& relay_kind,
                                           std::optional<uint64_t>* first_allocations = nullptr);
  // Sends `count` traps at `rate` through the relay and waits for them at the sink.
  StepResult Step(const Relay& relay, double rate, uint64_t count, bool quiet = false);
  static bool Alive(Relay& relay);
  void FindZeroLossRates(std::vector<Relay>& relays, int round);
  void MeasureCpu(std::vector<Relay>& relays, double cpu_rate, int round);
  uint64_t CpuCount(double cpu_rate) const;
  // The longest gap between forwarded traps in a steady stream through `relay`, in ms.
  std::optional<double> LongestGap(const Relay& relay);
  // The sinks that `relay` sends to.
  std::vector<Sink*> SinksOf(const Relay& relay) {
    std::vector<Sink*> sinks = {&sink_};
    if (relay.figures.relay_kind.stations > 1) sinks.insert(sinks.end(), {&sink2_, &sink3_});
    return sinks;
  }

  // storm_steps.cc.
  // The datagram of trial `trial` for `relay_kind`, and for storm control with many keys the
  // keys of the next `count` traps (which then count as used); exits when it cannot be
  // encoded.
  std::vector<uint8_t> Datagram(const RelayKindInfo& relay_kind, uint32_t trial, uint64_t count,
                                std::optional<KeySequence>* keys);
  // Storm control with one key: sends `count` - 1 traps of the one key, then one of another
  // key, which passes the relay's limit and, arriving after the others, shows when the relay
  // had got through them; waits for that one. What was held back the relay says only at its
  // stop (RenewStormRelay).
  StepResult StormSend(Relay& relay, double rate, uint64_t count);
  // Stops the relay, reads its traps_held_back and starts a new one in its place (when that
  // fails, the relay has ended). Returns what it held back; nothing when that cannot be read.
  // With `step`, the traps that arrive until the relay has stopped count for it.
  std::optional<uint64_t> RenewStormRelay(Relay& relay, StepResult* step = nullptr);
  // One step of the zero-loss search for storm control with one key, on a relay of its own:
  // StormSend, then RenewStormRelay. It passes when every trap is accounted for (arrived or
  // held back), none was dropped at the relay's socket and the last arrived in time.
  StepResult StormStep(Relay& relay, double rate, uint64_t count);
  // The relay's resident memory before and after `keys` traps of as many distinct keys, on
  // a relay of the many-keys case started for this alone.
  std::optional<StormMemory> MeasureStormMemory(const RelayKindInfo& relay_kind, double rate);

  Options options_;
  testing::TempDir work_;
  Sink sink_;
  // The further stations of the fan-out cases.
  Sink sink2_;
  Sink sink3_;
  Generator generator_;
  // The SNMPv3 case: its device, and the datagrams of the current step.
  V3Device v3_device_;
  std::vector<std::vector<uint8_t>> v3_pool_;
  uint32_t trial_ = 0;
  // Storm control with many keys: the first key of the next step (modulo the keys).
  uint64_t next_key_ = 0;
};

// Storm control with one key: the relay is made anew for each step.
inline bool RestartsPerStep(const Relay& relay) {
  return relay.figures.relay_kind.storm && !relay.figures.relay_kind.storm->many_keys;
}

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_RELAY_BENCH_H_
