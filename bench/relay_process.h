// The relays that the benchmark measures, each run as a child process in a folder of its
// own under the benchmark's temporary directory: TervixSrv passing traps through or
// wrapping them, net-snmp's snmptrapd forwarding them, and the trivial forwarder that
// copies datagrams without reading them (the physical limit of the machine).
//
// Each relay receives on a free port of 127.0.0.1 and forwards to the sink's port. The
// child is stopped with SIGTERM, and SIGKILL when that is not enough within a few
// seconds, when the object goes, whatever happened before.
#ifndef TERVANE_BENCH_RELAY_PROCESS_H_
#define TERVANE_BENCH_RELAY_PROCESS_H_

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "tests/subprocess.h"

namespace tervane::bench {

enum class RelayKind { kTervixPassThrough, kTervixWrapping, kSnmptrapd, kTrivial };

// TervixSrv passing through keyed traps (trap_load.h), all of one key or each of its own,
// with storm control on (RelayOption StormControl "1") and a default rule of `per_minute`
// and `burst`, or, for the reference that the many keys are measured against, off.
struct StormCase {
  uint32_t per_minute = 0;
  uint32_t burst = 1;
  bool many_keys = false;
  uint32_t keys = 1;  // how many distinct keys the traps cycle through
  bool control = true;
};

struct RelayKindInfo {
  RelayKind kind;
  std::string name;      // for the table
  std::string trap_oid;  // the trap OID that the sink must see
  // TervixSrv only: the executable to run; empty for the one built with the benchmark.
  std::string program;
  // Stations (sinks) that every trap goes to: 1, or 3 for the fan-out cases.
  int stations = 1;
  // The storm-control cases only (kind kTervixPassThrough).
  std::optional<StormCase> storm = std::nullopt;
  // TervixSrv only: the traps come as SNMPv3 authPriv (v3_load.h), and the relay has their
  // user.
  bool v3 = false;
};

// CPU time and peak resident memory of a process, from /proc.
struct ProcStats {
  // CPU time of all its threads, user and system, in nanoseconds, from the scheduler's own
  // account (/proc/PID/task/*/schedstat), which is exact where the clock-tick figures of
  // /proc/PID/stat are 10 ms steps.
  uint64_t cpu_ns = 0;
  // The same split into user and system time, in clock ticks (/proc/PID/stat).
  double user_seconds = 0;
  double system_seconds = 0;
  double peak_mb = 0;  // VmHWM
  double rss_mb = 0;   // VmRSS
};
Result<ProcStats> ReadProcStats(pid_t pid);

// What the counting allocator (alloc_counter.cc) has counted in a relay so far.
struct AllocCounts {
  uint64_t allocations = 0;
  uint64_t bytes = 0;
};

class RelayProcess {
 public:
  // Prepares the relay's folder under `work` and starts it, receiving on `port` and
  // forwarding to the first `kind.stations` of `sink_ports` (TervixSrv: the first as
  // General_Setting's station, the others as ForwardTarget rows; the trivial forwarder
  // copies each datagram to every one; snmptrapd forwards to the first only). For TervixSrv also
  // waits (bounded) until it reports its start; the others are ready once a probe trap gets
  // through, which the caller checks. `trapd_logs` keeps snmptrapd's default handling of every trap
  // (formatting it for its log, here /dev/null) besides forwarding it. TervixSrv runs with the
  // counting allocator `alloc_counter` preloaded when that names a library. Every relay gets the
  // receive and send buffers that TervixSrv asks for (within the system's limits, as TervixSrv gets
  // them). On failure nothing is left running.
  static Result<std::unique_ptr<RelayProcess>> Start(
      const RelayKindInfo& kind, const std::filesystem::path& work, uint16_t port,
      const std::vector<uint16_t>& sink_ports, bool trapd_logs, const std::string& alloc_counter);
  ~RelayProcess();
  RelayProcess(const RelayProcess&) = delete;
  RelayProcess& operator=(const RelayProcess&) = delete;

  pid_t pid() const { return child_->pid(); }
  uint16_t port() const { return port_; }
  // False once the child has ended.
  bool Running();
  // Whatever the child has written so far.
  std::string Output();
  // SIGTERM, then SIGKILL after a few seconds; reaps the child.
  void Stop();
  // The allocations counted in the relay so far; nothing when it runs without the counter.
  std::optional<AllocCounts> Allocations() const;
  // TervixSrv only, once it has ended: the sum of its RelayStatistics rows named `name`
  // (every label), as it wrote them at its stop. Fails when the rows cannot be read.
  Result<int64_t> Counter(const std::string& name) const;

 private:
  RelayProcess(std::unique_ptr<testing::Subprocess> child, uint16_t port)
      : child_(std::move(child)), port_(port) {}

  std::unique_ptr<testing::Subprocess> child_;
  uint16_t port_;
  std::filesystem::path alloc_counts_;  // the counter's file, empty without it
  std::filesystem::path folder_;        // TervixSrv's program folder, empty for the others
};

// How long one round of TervixSrv's counter write takes, which is how long it holds intake
// up: StatisticsWriter::Write of the rows of three stations (31 rows) on a database like the
// service's, in the benchmark's own process, `count` times 20 ms apart. Returns the longest
// and the median in ms; nothing when the database cannot be made.
// Gives up early when `stop` becomes true.
std::optional<std::pair<double, double>> TimeCounterWrites(const std::filesystem::path& folder,
                                                           int count,
                                                           const std::atomic<bool>& stop);

// A port of 127.0.0.1 that was free a moment ago (bound to port 0, read back, released).
uint16_t FreeLoopbackPort();

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_RELAY_PROCESS_H_
