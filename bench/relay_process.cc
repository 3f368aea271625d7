#include "bench/relay_process.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "bench/trap_load.h"
#include "bench/v3_load.h"
#include "store/relay_options.h"
#include "store/statistics.h"
#include "store/store.h"
#include "store/storm_rules.h"

namespace tervane::bench {
namespace {

namespace fs = std::filesystem;

Status Failed(const std::string& what) { return Status::Error(kErrorNotFound, what); }

// One piece of the wrapping definition: position, length and type of the new variable.
struct Piece {
  int pos;
  int len;
  const char* type;
};

// Cut from binding 2 of the generated trap, "PORT 042 DOWN site=HQ-Berlin ...": "PORT",
// "042" and "site=HQ-Berlin".
constexpr Piece kPieces[] = {{1, 4, "DisplayString"}, {6, 3, "Gauge32"}, {15, 14, "DisplayString"}};

// The socket buffers that TervixSrv asks for; the other relays are given the same.
constexpr int kRelayBufferBytes = 4 << 20;

// A program folder with a copy of `program` (TervixSrv finds Tervix.mdb beside its
// executable, so a symlink would not do) and a database that receives on `port` and
// forwards to the sink; with `v3`, the SNMPv3 user of the benchmark's device.
Status PrepareTervix(const fs::path& folder, const std::string& program, bool wrapping,
                     uint16_t port, const std::vector<uint16_t>& sink_ports,
                     const std::optional<StormCase>& storm, bool v3) {
  const uint16_t sink_port = sink_ports.front();
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  if (ec) return Failed("cannot create " + folder.string() + ": " + ec.message());
  fs::copy_file(program, folder / "TervixSrv", ec);
  if (ec) return Failed("cannot copy " + program + ": " + ec.message());
  fs::permissions(folder / "TervixSrv", fs::perms::owner_all, fs::perm_options::add, ec);

  if (Status s = store::Store::Create((folder / "Tervix.mdb").string()); !s.ok()) return s;
  Result<store::Store> db = store::Store::Open(folder.string());
  if (!db.ok()) return db.status();
  Status written = db->WriteSettings({
      {"DebugMode", store::Value(0)},
      {"TrapRecvIpAddr", store::Value("127.0.0.1")},
      {"TrapRecvPort", store::Value(static_cast<int>(port))},
      {"TrapForwIpAddr", store::Value("127.0.0.1")},
      {"TrapForwPort", store::Value(static_cast<int>(sink_port))},
      {"ConvV2ToV1", store::Value(0)},
  });
  if (!written.ok()) return written;
  for (size_t i = 1; i < sink_ports.size(); ++i) {
    Result<int64_t> station =
        db->AddStation({{"Address", store::Value("127.0.0.1")},
                        {"Port", store::Value(static_cast<int>(sink_ports[i]))},
                        {"ConvV2ToV1", store::Value(0)},
                        {"Community", store::Value("")},
                        {"Enabled", store::Value(1)}});
    if (!station.ok()) return station.status();
  }
  if (storm && storm->control) {
    if (Status s = db->WriteRelayOption(store::kOptionStormControl, "1"); !s.ok()) return s;
    if (Status s = db->SetStormRule(store::StormRule{"", storm->per_minute, storm->burst, true});
        !s.ok()) {
      return s;
    }
  }
  if (v3) {
    if (Status s = db->SetV3User(V3BenchUser()); !s.ok()) return s;
  }
  if (!wrapping) return written;
  store::ColumnValues columns = {
      {"TrapName", store::Value("benchPortDown")},
      {"TrapOID", store::Value(kSourceTrapOid)},
      {"TrapSourceVarNo", store::Value(kSourceVarNo)},
      {"TrapNewVarNo", store::Value(static_cast<int>(std::size(kPieces)))},
      {"TrapNewNumber", store::Value(1000)},
  };
  int n = 0;
  for (const Piece& piece : kPieces) {
    const std::string i = std::to_string(++n);
    columns.push_back({"VarName" + i, store::Value("benchPiece" + i)});
    columns.push_back({"VarPos" + i, store::Value(piece.pos)});
    columns.push_back({"VarChar" + i, store::Value(piece.len)});
    columns.push_back({"VarType" + i, store::Value(piece.type)});
  }
  Result<int64_t> added = db->AddTrap(columns);
  return added.ok() ? Status::Ok() : added.status();
}

}  // namespace

Result<ProcStats> ReadProcStats(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  ProcStats stats;
  std::error_code ec;
  bool any = false;
  for (const fs::directory_entry& task : fs::directory_iterator(base + "/task", ec)) {
    // "run time (ns) wait time (ns) time slices": the first field is the CPU time.
    std::ifstream schedstat(task.path() / "schedstat");
    uint64_t ns = 0;
    if (schedstat >> ns) {
      stats.cpu_ns += ns;
      any = true;
    }
  }
  if (!any) return Failed("cannot read " + base + "/task/*/schedstat");

  std::ifstream stat_file(base + "/stat");
  std::string stat((std::istreambuf_iterator<char>(stat_file)), std::istreambuf_iterator<char>());
  // The command name may hold blanks and parentheses; the fields start after the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return Failed("cannot read " + base + "/stat");
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  const auto tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  // Field 3 (state) comes first; utime and stime are fields 14 and 15.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) stats.user_seconds = std::strtod(field.c_str(), nullptr) / tick;
    if (number == 15) stats.system_seconds = std::strtod(field.c_str(), nullptr) / tick;
  }

  std::ifstream status_file(base + "/status");
  std::string line;
  bool found = false;
  while (std::getline(status_file, line)) {
    // The kernel reports kB.
    if (line.rfind("VmRSS:", 0) == 0)
      stats.rss_mb = std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    if (line.rfind("VmHWM:", 0) != 0) continue;
    stats.peak_mb = std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    found = true;
  }
  if (!found) return Failed("no VmHWM in " + base + "/status");
  return stats;
}

std::optional<std::pair<double, double>> TimeCounterWrites(const std::filesystem::path& folder,
                                                           int count,
                                                           const std::atomic<bool>& stop) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!store::Store::Create((folder / "Tervix.mdb").string()).ok()) return std::nullopt;
  // Opening for writing makes it a WAL database, as the service's is.
  if (!store::Store::Open(folder.string()).ok()) return std::nullopt;
  Result<store::StatisticsWriter> writer = store::StatisticsWriter::Open(folder.string());
  if (!writer.ok()) {
    std::fprintf(stderr, "  counter writes: %s\n", writer.status().ToString().c_str());
    return std::nullopt;
  }
  const char* names[] = {"datagrams_received",   "snmpv1_traps_received", "snmpv2_traps_received",
                         "informs_received",     "informs_answered",      "traps_wrapped",
                         "traps_passed_through", "traps_converted_to_v1"};
  const char* reasons[] = {"malformed_datagram", "malformed_snmpv2_message", "null_values",
                           "wrapping_failed", "other"};
  const char* stations[] = {"127.0.0.1:10162", "127.0.0.1:10163", "127.0.0.1:10164"};
  std::vector<store::Counter> counters;
  for (const char* n : names) counters.push_back({n, "", 0});
  for (const char* r : reasons) counters.push_back({"traps_dropped", r, 0});
  for (const char* st : stations) {
    counters.push_back({"station_traps_sent", st, 0});
    counters.push_back({"station_send_failures", st, 0});
  }
  std::vector<double> ms;
  const std::string since = store::UtcStamp(std::time(nullptr));
  for (int i = 0; i < count && !stop; ++i) {
    for (store::Counter& c : counters) c.value += 1000;
    const std::string written = store::UtcStamp(std::time(nullptr));
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    const Status s = writer->Write(counters, since, written);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    if (!s.ok()) {
      std::fprintf(stderr, "  counter write failed: %s\n", s.ToString().c_str());
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (ms.empty()) return std::nullopt;
  std::sort(ms.begin(), ms.end());
  return std::pair(ms.back(), ms[ms.size() / 2]);
}

uint16_t FreeLoopbackPort() {
  Result<int> fd = OpenLoopbackSocket(0, 0);
  if (!fd.ok()) return 0;
  const uint16_t port = BoundPort(*fd);
  close(*fd);
  return port;
}

Result<std::unique_ptr<RelayProcess>> RelayProcess::Start(const RelayKindInfo& relay_kind,
                                                          const fs::path& work, uint16_t port,
                                                          const std::vector<uint16_t>& sink_ports,
                                                          bool trapd_logs,
                                                          const std::string& alloc_counter) {
  const RelayKind kind = relay_kind.kind;
  std::vector<std::string> argv;
  std::vector<std::string> env;
  fs::path alloc_counts;
  fs::path tervix_folder;
  switch (kind) {
    case RelayKind::kTervixPassThrough:
    case RelayKind::kTervixWrapping: {
      const bool wrapping = kind == RelayKind::kTervixWrapping;
      const std::string program =
          relay_kind.program.empty() ? std::string(TERVIX_SRV_PATH) : relay_kind.program;
      // A folder per relay of the table: each name is its own.
      std::string name = "tervix-" + relay_kind.name;
      for (char& c : name) {
        if (c == ' ' || c == '(' || c == ')') c = '-';
      }
      const fs::path folder = work / name;
      const std::vector<uint16_t> stations(
          sink_ports.begin(),
          sink_ports.begin() +
              std::min<long>(relay_kind.stations, static_cast<long>(sink_ports.size())));
      if (Status s = PrepareTervix(folder, program, wrapping, port, stations, relay_kind.storm,
                                   relay_kind.v3);
          !s.ok()) {
        return s;
      }
      tervix_folder = folder;
      argv = {(folder / "TervixSrv").string()};
      if (!alloc_counter.empty()) {
        alloc_counts = folder / "alloc.counts";
        env = {"LD_PRELOAD=" + alloc_counter, "TERVANE_ALLOC_COUNTS=" + alloc_counts.string()};
      }
      break;
    }
    case RelayKind::kSnmptrapd: {
      const std::string trapd = testing::FindProgram("snmptrapd");
      if (trapd.empty()) return Failed("snmptrapd is not installed");
      // A private, empty configuration and persistence directory, so that snmptrapd reads
      // and writes nothing of the machine's.
      const fs::path dir = work / "snmptrapd";
      std::error_code ec;
      fs::create_directories(dir / "conf", ec);
      fs::create_directories(dir / "persist", ec);
      const std::string config = (dir / "snmptrapd.conf").string();
      // With -C only this file is read, so the library's own settings go here too, under
      // [snmp]: the socket buffers that TervixSrv asks for, listening and forwarding.
      std::ofstream(config) << "disableAuthorization yes\n"
                            << (trapd_logs ? "" : "doNotLogTraps yes\n")
                            << "forward default udp:127.0.0.1:" << sink_ports.front() << "\n"
                            << "[snmp] serverRecvBuf " << kRelayBufferBytes << "\n"
                            << "[snmp] serverSendBuf " << kRelayBufferBytes << "\n"
                            << "[snmp] clientRecvBuf " << kRelayBufferBytes << "\n"
                            << "[snmp] clientSendBuf " << kRelayBufferBytes << "\n";
      argv = {trapd,       "-f",   "-C",
              "-c",        config, "-Lf",
              "/dev/null", "-n",   "udp:127.0.0.1:" + std::to_string(port)};
      env = {"SNMPCONFPATH=" + (dir / "conf").string(),
             "SNMP_PERSISTENT_DIR=" + (dir / "persist").string(), "HOME=" + dir.string(),
             "MIBS=", "MIBDIRS=" + (dir / "conf").string()};
      break;
    }
    case RelayKind::kTrivial: {
      std::string ports = std::to_string(sink_ports.front());
      for (int i = 1; i < relay_kind.stations && i < static_cast<int>(sink_ports.size()); ++i) {
        ports += "," + std::to_string(sink_ports[static_cast<size_t>(i)]);
      }
      argv = {TRIVIAL_FORWARDER_PATH, std::to_string(port), ports,
              std::to_string(kRelayBufferBytes)};
      break;
    }
  }

  std::string error;
  std::unique_ptr<testing::Subprocess> child = testing::Subprocess::Spawn(argv, env, &error);
  if (!child) return Failed(error);
  std::unique_ptr<RelayProcess> relay(new RelayProcess(std::move(child), port));
  relay->alloc_counts_ = alloc_counts;
  relay->folder_ = tervix_folder;
  if (kind == RelayKind::kTervixPassThrough || kind == RelayKind::kTervixWrapping) {
    const bool started = relay->child_->ReadUntil(
        [](const std::string& out) {
          return out.find("Tervane: information 101") != std::string::npos ||
                 out.find("Tervane: error") != std::string::npos;
        },
        10000);
    const std::string out = relay->Output();
    if (!started || out.find("Tervane: information 101") == std::string::npos) {
      relay->Stop();
      return Failed("TervixSrv did not start:\n" + relay->Output());
    }
  }
  return relay;
}

RelayProcess::~RelayProcess() { Stop(); }

bool RelayProcess::Running() {
  child_->Drain();
  return !child_->TryExit().has_value();
}

std::string RelayProcess::Output() {
  child_->Drain();
  return child_->output();
}

std::optional<AllocCounts> RelayProcess::Allocations() const {
  if (alloc_counts_.empty()) return std::nullopt;
  std::ifstream file(alloc_counts_, std::ios::binary);
  uint64_t words[2];
  if (!file.read(reinterpret_cast<char*>(words), sizeof words)) return std::nullopt;
  return AllocCounts{words[0], words[1]};
}

Result<int64_t> RelayProcess::Counter(const std::string& name) const {
  if (folder_.empty()) return Failed("no counters: not TervixSrv");
  Result<store::Store> db = store::Store::Open(folder_.string(), store::Access::kReadOnly);
  if (!db.ok()) return db.status();
  Result<std::vector<store::StatisticRow>> rows = db->ReadStatistics();
  if (!rows.ok()) return rows.status();
  int64_t sum = 0;
  for (const store::StatisticRow& row : *rows) {
    if (row.name == name) sum += row.value;
  }
  return sum;
}

void RelayProcess::Stop() {
  if (child_->TryExit()) return;
  kill(child_->pid(), SIGTERM);
  // TervixSrv takes a little over a second to close its sockets (its stop waits twice
  // 500 ms while processing events).
  if (!child_->WaitExit(5000)) child_->Kill();
}

}  // namespace tervane::bench
