#include "admin/check_command.h"

#include <dirent.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "admin/health_check.h"
#include "admin/statistics_text.h"
#include "admin/svc_common.h"
#include "platform/file.h"
#include "platform/run_command.h"
#include "platform/service_manager.h"
#include "platform/service_record.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/value_text.h"
#include "store/convert.h"
#include "store/store.h"

namespace tervane::svc {
namespace {

// systemctl answers in milliseconds; a hung one must not hold keepalived's script.
constexpr int kSystemctlTimeoutMs = 2000;

// The service's main process, as its manager names it, while that process lives.
struct MainProcess {
  pid_t pid = 0;
  unsigned long long start_time = 0;  // clock ticks after boot
};

std::optional<MainProcess> FindMainProcess(const ServiceManager& scm, const std::string& name) {
  ProcessId id;
  if (std::string_view(scm.Kind()) == "systemd") {
    Result<CommandResult> shown = RunCommand(
        {"systemctl", "show", "-p", "MainPID", "--value", name + ".service"}, kSystemctlTimeoutMs);
    if (!shown.ok() || shown->exit_code != 0) return std::nullopt;
    id.pid = static_cast<pid_t>(std::atoll(shown->out.c_str()));
  } else {
    // The built-in manager's record of the process it started (service_record.h).
    Result<std::string> text = ReadTextFile(RegistryDir() + "/" + name + ".pid");
    if (!text.ok()) return std::nullopt;
    std::optional<ProcessId> recorded = ParsePidFile(*text);
    if (!recorded) return std::nullopt;
    id = *recorded;
  }
  if (id.pid <= 0) return std::nullopt;
  std::optional<ProcStat> stat = ReadProcStat(id.pid);
  if (!stat || stat->state == 'Z' || (id.start_time != 0 && stat->start_time != id.start_time)) {
    return std::nullopt;
  }
  return MainProcess{id.pid, stat->start_time};
}

// How long the process has run, in whole seconds.
std::optional<int64_t> AgeOf(const MainProcess& process) {
  timespec boot{};
  const long ticks = sysconf(_SC_CLK_TCK);
  if (clock_gettime(CLOCK_BOOTTIME, &boot) != 0 || ticks <= 0) return std::nullopt;
  const auto started = static_cast<int64_t>(process.start_time / static_cast<unsigned long>(ticks));
  return std::max<int64_t>(0, static_cast<int64_t>(boot.tv_sec) - started);
}

// The inodes of the process's sockets; nothing when this user may not read its descriptors.
std::optional<std::set<uint64_t>> SocketsOf(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return std::nullopt;
  std::set<uint64_t> inodes;
  while (const dirent* entry = readdir(fds)) {
    char target[64];
    const std::string link = dir + "/" + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target);
    if (n <= 0 || n == sizeof target) continue;
    if (std::optional<uint64_t> inode = SocketInode(std::string_view(target, n))) {
      inodes.insert(*inode);
    }
  }
  closedir(fds);
  return inodes;
}

// The socket table of the process's network namespace, or of this one's: udp for IPv4, udp6
// for IPv6 (a socket bound to :: is listed there, whichever families it receives).
Result<std::string> UdpTable(const std::optional<MainProcess>& process, bool v6) {
  const std::string table = v6 ? "/net/udp6" : "/net/udp";
  if (process) {
    Result<std::string> own = ReadFile("/proc/" + std::to_string(process->pid) + table);
    if (own.ok()) return own;
  }
  return ReadFile("/proc" + table);
}

struct Verdict {
  bool healthy;
  std::string text;
};

Verdict Check(const SvcCommandLine& line) {
  // (a) The service runs.
  Result<ServiceManager> scm = ServiceManager::Open(kScManagerConnect);
  Result<ServiceHandle> service = scm.ok() ? scm->OpenService(line.name, kServiceQueryStatus)
                                           : Result<ServiceHandle>(scm.status());
  Result<int> state = service.ok() ? service->QueryStatus() : Result<int>(service.status());
  if (!state.ok()) {
    return {false, "not running (error " + std::to_string(state.status().code()) + ": " +
                       state.status().description() + ")"};
  }
  if (*state != kServiceRunning)
    return {false, std::string("not running (") + StateName(*state) + ")"};

  // (b) Its listener is bound, as the kernel says.
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return {false, folder.status().description()};
  Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadOnly);
  Result<store::SettingsRow> settings =
      db.ok() ? db->ReadSettings() : Result<store::SettingsRow>(db.status());
  if (!settings.ok()) return {false, settings.status().description()};
  Result<std::string> address = store::ToText(settings->ByName("TrapRecvIpAddr"), "TrapRecvIpAddr");
  Result<uint16_t> port = store::ToPort(settings->ByName("TrapRecvPort"), "TrapRecvPort");
  if (!address.ok()) return {false, address.status().description()};
  if (!port.ok()) return {false, port.status().description()};
  snmp::IpAddress bound;
  if (const char* why = snmp::ParseAddressText(*address, &bound)) {
    return {false, "TrapRecvIpAddr: " + snmp::QuoteText(*address) + " " + why};
  }
  const std::string endpoint = EndpointText(bound, *port);
  const std::optional<MainProcess> process = FindMainProcess(*scm, line.name);
  Result<std::string> table = UdpTable(process, bound.is_v6());
  if (!table.ok()) return {false, table.status().description()};
  const std::vector<UdpSocket> listeners = ListenersOn(ParseUdpTable(*table), bound, *port);
  if (listeners.empty()) return {false, "nothing listens on " + endpoint};
  if (process) {
    if (std::optional<std::set<uint64_t>> own = SocketsOf(process->pid)) {
      const bool ours = std::any_of(listeners.begin(), listeners.end(),
                                    [&](const UdpSocket& s) { return own->count(s.inode) != 0; });
      if (!ours) {
        return {false, endpoint + " is bound by another program, not by the service (pid " +
                           std::to_string(process->pid) + ")"};
      }
    }
  }

  // (c) Its loop runs: the counters are fresh. A store that reads the file as last
  // checkpointed cannot tell: the running service's latest rounds are in the WAL.
  if (db->snapshot()) {
    return {false, "cannot read the latest counters: this user may not read " + db->path() +
                       "-shm or -wal, so the file reads as last checkpointed"};
  }
  Result<std::vector<store::StatisticRow>> rows = db->ReadStatistics();
  if (!rows.ok()) return {false, rows.status().description()};
  std::optional<int64_t> written;
  for (const store::StatisticRow& row : *rows) {
    if (std::optional<int64_t> t = ParseUtcStamp(row.written))
      written = std::max(*t, written.value_or(*t));
  }
  const std::optional<int64_t> age = process ? AgeOf(*process) : std::nullopt;
  const int64_t now = std::time(nullptr);
  if (std::optional<std::string> problem = CountersProblem(now, written, age)) {
    return {false, *problem};
  }
  std::string counters =
      written && now - *written <= kCountersMaxAgeSeconds
          ? "counters written " + std::to_string(std::max<int64_t>(0, now - *written)) + " s ago"
          : "started " + std::to_string(age.value_or(0)) + " s ago";
  return {true, "running, listening on " + endpoint + ", " + counters};
}

}  // namespace

int RunCheckCommand(const SvcCommandLine& line) {
  const Verdict verdict = Check(line);
  std::fprintf(verdict.healthy ? stdout : stderr, "%s: %s\n", line.name.c_str(),
               verdict.text.c_str());
  return verdict.healthy ? 0 : 1;
}

}  // namespace tervane::svc
