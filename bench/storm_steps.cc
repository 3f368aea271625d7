// The storm-control cases of the relay benchmark: their traps, the step of the one-key case
// (whose held-back traps the relay reports only at its stop, so each step gets a relay of
// its own), and the memory run of the many-keys case.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/relay_bench.h"
#include "bench/relay_process.h"
#include "bench/relay_report.h"
#include "bench/trap_load.h"
#include "service/snmp/codec.h"

namespace tervane::bench {
namespace {

// The keys of the one-key case: the storm's, the step's last trap's, and the probes'.
constexpr uint32_t kStormKey = 0;
constexpr uint32_t kLastKey = 1;
constexpr uint32_t kProbeKey = 2;
// The longest OIDs there are, for the many keys' trap OID and key binding.
constexpr int kLongOidSubIds = 128;

[[noreturn]] void CannotEncode(const Status& s) {
  std::fprintf(stderr, "relay_bench: cannot encode the trap: %s\n", s.ToString().c_str());
  std::exit(1);
}

}  // namespace

KeyedTrapShape StormShape(const StormCase& storm) {
  if (!storm.many_keys) {
    // linkDown, keyed by ifOperStatus of the interface.
    return {"1.3.6.1.6.3.1.1.5.3", "1.3.6.1.2.1.2.2.1.8"};
  }
  return {LongOid(kSourceTrapOid, kLongOidSubIds),
          LongOid("1.3.6.1.4.1.8072.2.3.2.9", kLongOidSubIds - 1)};
}

std::vector<uint8_t> Bench::Datagram(const RelayKindInfo& relay_kind, uint32_t trial,
                                     uint64_t count, std::optional<KeySequence>* keys) {
  keys->reset();
  if (!relay_kind.storm) {
    std::vector<uint8_t> datagram;
    if (Status s = snmp::Encode(MakeTrap(trial), &datagram); !s.ok()) CannotEncode(s);
    return datagram;
  }
  // The one-key case steps through StormStep; what comes here are its probes.
  Result<KeyedDatagram> keyed = EncodeKeyedTrap(trial, StormShape(*relay_kind.storm), kProbeKey);
  if (!keyed.ok()) CannotEncode(keyed.status());
  if (relay_kind.storm->many_keys) {
    *keys = KeySequence{keyed->key_offset, next_key_, relay_kind.storm->keys};
    next_key_ = (next_key_ + count) % relay_kind.storm->keys;
  }
  return std::move(keyed->bytes);
}

StepResult Bench::StormSend(Relay& relay, double rate, uint64_t count) {
  const RelayKindInfo& kind = relay.figures.relay_kind;
  const KeyedTrapShape shape = StormShape(*kind.storm);
  ++trial_;
  Result<KeyedDatagram> storm = EncodeKeyedTrap(trial_, shape, kStormKey);
  if (!storm.ok()) CannotEncode(storm.status());
  std::vector<uint8_t> last = storm->bytes;
  SetKey(last.data() + storm->key_offset, kLastKey);
  sink_.BeginTrial(trial_, kind.trap_oid, KeyName(shape, kLastKey));

  const uint16_t port = relay.process->port();
  StepResult result;
  const uint64_t drops_before = UdpDrops(port);
  const uint64_t storm_count = std::max<uint64_t>(count, 2) - 1;
  Result<SendReport> sent = generator_.Run(storm->bytes, port, rate, storm_count, g_stop);
  if (!sent.ok()) {
    std::fprintf(stderr, "  send failed: %s\n", sent.status().ToString().c_str());
    return result;
  }
  Result<SendReport> sent_last = generator_.Run(last, port, rate, 1, g_stop);
  if (!sent_last.ok()) {
    std::fprintf(stderr, "  send failed: %s\n", sent_last.status().ToString().c_str());
    return result;
  }
  result.sent = sent->sent + sent_last->sent;
  result.achieved = sent->rate();
  // The relay takes its datagrams in order: once the last trap is here, it has been through
  // all of them.
  if (sink_.WaitForMarker(std::chrono::milliseconds(500), std::chrono::milliseconds(5000))) {
    result.last_after =
        std::chrono::duration<double>(sink_.marker_arrival() - sent_last->last_send).count();
  } else {
    result.marker_lost = true;
  }
  result.socket_drops = UdpDrops(port) - drops_before;
  result.good = sink_.good();
  result.bad = sink_.bad();
  return result;
}

std::optional<uint64_t> Bench::RenewStormRelay(Relay& relay, StepResult* step) {
  const RelayKindInfo& kind = relay.figures.relay_kind;
  if (Result<ProcStats> stats = ReadProcStats(relay.process->pid()); stats.ok()) {
    relay.figures.peak_mb = std::max(relay.figures.peak_mb.value_or(0), stats->peak_mb);
  }
  relay.process->Stop();
  if (step != nullptr) {
    // Whatever the relay sent as it stopped still counts for the step.
    sink_.WaitFor(std::numeric_limits<uint64_t>::max(), std::chrono::milliseconds(100),
                  std::chrono::milliseconds(300));
    step->good = sink_.good();
    step->bad = sink_.bad();
  }
  std::optional<uint64_t> held;
  if (Result<int64_t> counted = relay.process->Counter("traps_held_back"); counted.ok()) {
    held = static_cast<uint64_t>(std::max<int64_t>(*counted, 0));
  } else {
    std::printf("  %s: no traps_held_back: %s\n", kind.name.c_str(),
                counted.status().ToString().c_str());
  }
  std::unique_ptr<RelayProcess> next = StartRelay(kind);
  if (next) {
    relay.process = std::move(next);
  } else {
    std::printf("  %s could not be started again\n", kind.name.c_str());
    relay.figures.ended = true;
  }
  return held;
}

StepResult Bench::StormStep(Relay& relay, double rate, uint64_t count) {
  StepResult result = StormSend(relay, rate, count);
  const std::optional<uint64_t> held = RenewStormRelay(relay, &result);
  if (held) {
    result.held = *held;
  } else {
    result.sent = 0;
  }

  std::printf(
      "  %-34s %9.0f/s  sent %8llu at %9.0f/s  got %8llu  held back %8llu  bad %llu  last ",
      relay.figures.relay_kind.name.c_str(), rate, static_cast<unsigned long long>(result.sent),
      result.achieved, static_cast<unsigned long long>(result.good),
      static_cast<unsigned long long>(result.held), static_cast<unsigned long long>(result.bad));
  if (result.marker_lost) {
    std::printf("-  ");
  } else {
    std::printf("+%.3f s  ", result.last_after);
  }
  if (result.good + result.held != result.sent || result.bad != 0 || result.socket_drops != 0) {
    std::printf(
        "LOSS (%lld not accounted for, dropped at the relay's socket %llu)\n",
        static_cast<long long>(result.sent) - static_cast<long long>(result.good + result.held),
        static_cast<unsigned long long>(result.socket_drops));
  } else if (!result.passed()) {
    std::printf(result.marker_lost ? "LAST TRAP MISSING\n" : "LATE\n");
  } else {
    std::printf(result.achieved < rate * kPaceTolerance ? "ok, but below the pace\n" : "ok\n");
  }
  std::fflush(stdout);
  return result;
}

std::optional<StormMemory> Bench::MeasureStormMemory(const RelayKindInfo& relay_kind, double rate) {
  RelayKindInfo kind = relay_kind;
  kind.name += " (memory)";  // a folder of its own
  Relay relay("storm-memory", kind);
  relay.process = StartRelay(kind);
  if (!relay.process) {
    std::printf("  %s: not started, not measured\n", kind.name.c_str());
    return std::nullopt;
  }
  StormMemory memory;
  memory.keys = kind.storm->keys;
  memory.rate = rate;
  const Result<ProcStats> before = ReadProcStats(relay.process->pid());
  // One trap of each key, every key new to the relay.
  const StepResult flood = Step(relay, rate, kind.storm->keys);
  const Result<ProcStats> after = ReadProcStats(relay.process->pid());
  relay.process->Stop();
  const Result<int64_t> held = relay.process->Counter("traps_held_back");
  if (!before.ok() || !after.ok() || !held.ok() || flood.sent == 0) {
    std::printf("  %s: not measured\n", kind.name.c_str());
    return std::nullopt;
  }
  memory.sent = flood.sent;
  memory.arrived = flood.good;
  memory.held = *held;
  memory.rss_before_mb = before->rss_mb;
  memory.rss_after_mb = after->rss_mb;
  memory.peak_after_mb = after->peak_mb;
  std::printf(
      "  VmRSS %.2f MB before, %.2f MB after (VmHWM %.2f MB): %llu traps of as many keys at "
      "%.0f/s, %llu arrived, %lld held back\n",
      memory.rss_before_mb, memory.rss_after_mb, memory.peak_after_mb,
      static_cast<unsigned long long>(memory.sent), rate,
      static_cast<unsigned long long>(memory.arrived), static_cast<long long>(memory.held));
  std::fflush(stdout);
  return memory;
}

}  // namespace tervane::bench
