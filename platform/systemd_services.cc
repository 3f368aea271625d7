#include "platform/systemd_services.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/service_account.h"
#include "platform/service_record.h"

namespace tervane::svc {
namespace {

// systemctl start waits for the program's readiness, which takes the start request's waits;
// a bound far above that keeps a hung systemctl from hanging the caller.
constexpr int kSystemctlTimeoutMs = 120000;

// Unit files expand "%" specifiers everywhere, and ExecStart also expands "$" variables and
// C escapes inside its quotes.
std::string EscapeSpecifiers(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// The program of ExecStart=, quoted for its blanks. systemd expands "%" specifiers in it but
// no "$" variables (those only in the arguments), and refuses quotes, backslashes and control
// characters in it (ProgramPathProblem).
std::string QuoteExecPath(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// One word of a path list (ReadWritePaths=): quoted, so that blanks stay inside it, with
// backslash escapes for the quote and the backslash, and "%" doubled.
std::string QuotePathWord(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

bool IsInactive(const std::string& active_state) {
  return active_state == "inactive" || active_state == "failed" || active_state.empty();
}

// The first sentence of systemctl's complaint, without the warnings before it and the hints
// ("See ... for details.") after it.
std::string FirstSentence(const std::string& err) {
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.rfind("Warning: ", 0) == 0) continue;
    const size_t see = line.find(". See ");
    return see == std::string::npos ? line : line.substr(0, see + 1);
  }
  return "";
}

// systemd's Result for a unit whose start was refused by its start limit.
constexpr char kStartLimitHit[] = "start-limit-hit";

}  // namespace

std::string UnitText(const std::string& program, const std::string& working_directory,
                     const std::string& display_name) {
  std::ostringstream unit;
  unit << "# The service Tervane: TervixSrv of its program folder, relaying SNMP traps.\n"
       << "[Unit]\n"
       << "Description=" << EscapeSpecifiers(display_name) << "\n"
       << "Wants=network-online.target\n"
       << "After=network-online.target\n"
       << "# A start that keeps failing (a database that cannot be opened yet) is given up\n"
       << "# after five tries within a minute.\n"
       << "StartLimitIntervalSec=60\n"
       << "StartLimitBurst=5\n"
       << "\n"
       << "[Service]\n"
       << "Type=notify\n"
       << "NotifyAccess=main\n"
       << "ExecStart=" << QuoteExecPath(program) << "\n"
       << "WorkingDirectory=" << EscapeSpecifiers(working_directory) << "\n"
       << "KillSignal=SIGTERM\n"
       << "TimeoutStopSec=30\n"
       << "# Restarted after a failure, but not after a refusal that would only fail again:\n"
       << "# 2 an invalid option, 3 another copy runs in the program folder, 4 a configuration\n"
       << "# that cannot work.\n"
       << "Restart=on-failure\n"
       << "RestartSec=5\n"
       << "RestartPreventExitStatus=2 3 4\n"
       << "SyslogIdentifier=Tervane\n"
       << "# Its own account; binding port 162 is its only privilege. Files it makes stay\n"
       << "# writable for the group, whose members use the window on the same files.\n"
       << "User=" << kServiceAccount << "\n"
       << "Group=" << kServiceAccount << "\n"
       << "UMask=0007\n"
       << "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
       << "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
       << "NoNewPrivileges=yes\n"
       << "# The whole system read-only but the program folder (settings database, debug\n"
       << "# files, lock file).\n"
       << "ProtectSystem=strict\n"
       << "ReadWritePaths=" << QuotePathWord(working_directory) << "\n"
       << "ProtectHome=yes\n"
       << "PrivateTmp=yes\n"
       << "PrivateDevices=yes\n"
       << "PrivateMounts=yes\n"
       << "ProtectKernelTunables=yes\n"
       << "ProtectKernelModules=yes\n"
       << "ProtectKernelLogs=yes\n"
       << "ProtectControlGroups=yes\n"
       << "ProtectClock=yes\n"
       << "ProtectHostname=yes\n"
       << "# Of /proc it reads only /proc/self/exe.\n"
       << "ProtectProc=invisible\n"
       << "ProcSubset=pid\n"
       << "# UDP over IPv4 and IPv6 for SNMP; local sockets for the notifications and syslog.\n"
       << "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
       << "RestrictNamespaces=yes\n"
       << "RestrictRealtime=yes\n"
       << "RestrictSUIDSGID=yes\n"
       << "LockPersonality=yes\n"
       << "MemoryDenyWriteExecute=yes\n"
       << "RemoveIPC=yes\n"
       << "SystemCallArchitectures=native\n"
       << "SystemCallFilter=@system-service\n"
       << "SystemCallFilter=~@privileged @resources\n"
       << "SystemCallErrorNumber=EPERM\n"
       << "\n"
       << "[Install]\n"
       << "WantedBy=multi-user.target\n";
  return unit.str();
}

const char* ProgramPathProblem(const std::string& program) {
  if (program.empty() || program[0] != '/') return "the path is not absolute";
  for (char c : program) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return "the path holds a control character";
    if (c == '"' || c == '\'' || c == '\\') return "the path holds a quote or a backslash";
  }
  return nullptr;
}

std::map<std::string, std::string> ParseShowOutput(const std::string& output) {
  std::map<std::string, std::string> properties;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string key = line.substr(0, eq);
    bool name = true;
    for (char c : key)
      name &= (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (name) properties[key] = line.substr(eq + 1);
  }
  return properties;
}

UnitStatus ParseUnitStatus(const std::string& output) {
  std::map<std::string, std::string> p = ParseShowOutput(output);
  UnitStatus unit;
  unit.load_state = p["LoadState"];
  unit.active_state = p["ActiveState"];
  unit.sub_state = p["SubState"];
  unit.freezer_state = p["FreezerState"];
  unit.result = p["Result"];
  unit.main_pid = static_cast<pid_t>(std::strtol(p["MainPID"].c_str(), nullptr, 10));
  unit.fragment_path = p["FragmentPath"];
  unit.unit_file_state = p["UnitFileState"];
  unit.description = p["Description"];
  unit.exec_start = p["ExecStart"];
  unit.working_directory = p["WorkingDirectory"];
  return unit;
}

bool UnitMarkedForDelete(const UnitStatus& unit) {
  if (IsInactive(unit.active_state)) return false;
  if (unit.load_state == "not-found") return true;
  // Removed but not yet reloaded: systemd still names the file that is gone.
  return !unit.fragment_path.empty() && access(unit.fragment_path.c_str(), F_OK) != 0 &&
         errno == ENOENT;
}

bool UnitExists(const UnitStatus& unit) {
  if (unit.load_state.empty()) return false;
  return unit.load_state != "not-found" || !IsInactive(unit.active_state);
}

Result<int> UnitState(const UnitStatus& unit) {
  const std::string& a = unit.active_state;
  if (a == "inactive" || a == "failed") return kServiceStopped;
  if (a == "activating") return kServiceStartPending;
  if (a == "deactivating") return kServiceStopPending;
  if (a == "active" || a == "reloading") {
    // A frozen unit's processes are suspended: the nearest thing to a paused service.
    if (unit.freezer_state == "freezing") return kServicePausePending;
    if (unit.freezer_state == "frozen") return kServicePaused;
    if (unit.freezer_state == "thawing") return kServiceContinuePending;
    return kServiceRunning;
  }
  return Status::Error(ErrnoCode(EPROTO), "unknown unit state \"" + a + "\"");
}

std::string ExecStartPath(const std::string& exec_start) {
  const size_t at = exec_start.find("path=");
  if (at == std::string::npos) return "";
  const size_t start = at + 5;
  const size_t end = exec_start.find(" ;", start);
  return exec_start.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int StartTypeOf(const std::string& unit_file_state) {
  if (unit_file_state.rfind("enabled", 0) == 0 || unit_file_state == "static" ||
      unit_file_state == "alias" || unit_file_state == "generated") {
    return kStartAuto;
  }
  if (unit_file_state.rfind("masked", 0) == 0) return kStartDisabled;
  return kStartDemand;
}

Status SystemctlFailure(const std::string& what, int exit_code, const std::string& err) {
  // systemctl exits with 4 when polkit refused, and says so in one of these words.
  if (exit_code == 4 || Contains(err, "Access denied") ||
      Contains(err, "authentication required") || Contains(err, "Permission denied")) {
    return ServiceError(kErrorAccessDenied);
  }
  if (Contains(err, "masked")) return ServiceError(kErrorServiceDisabled);
  const bool job_failed = Contains(err, "Job for ") || Contains(err, "job for ");
  // The start job failed because the program ended, or was ended, before it reported running
  // (systemctl's explanations of the results exit-code, signal and core-dump). A job that
  // failed for another reason (the start limit, a timeout, resources, a dependency) has no
  // Windows number: systemctl's words say what it was.
  if (job_failed && (Contains(err, "the control process exited with error code") ||
                     Contains(err, "a fatal signal was delivered"))) {
    return ServiceError(kErrorProcessAborted);
  }
  if (!job_failed && (Contains(err, "not found") || Contains(err, "not loaded") ||
                      Contains(err, "does not exist"))) {
    return ServiceError(kErrorServiceDoesNotExist);
  }
  std::string text = FirstSentence(err);
  if (text.empty()) text = "exit status " + std::to_string(exit_code);
  return Status::Error(ExitStatusCode(exit_code == 0 ? 1 : exit_code), what + ": " + text);
}

std::string OwningPackage(const std::string& out, const std::string& path) {
  // One line "package[, package...]: path" per match; diversions are told in lines of their
  // own ("diversion by ..."), and a pattern may match other paths too.
  std::istringstream in(out);
  std::string line;
  const std::string tail = ": " + path;
  while (std::getline(in, line)) {
    if (line.rfind("diversion by ", 0) == 0) continue;
    if (line.size() <= tail.size() ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
      continue;
    }
    const std::string packages = line.substr(0, line.size() - tail.size());
    return packages.substr(0, packages.find(", "));
  }
  return "";
}

SystemdServices::SystemdServices()
    : unit_dir_(kSystemdUnitDir),
      polkit_dir_(kPolkitRulesDir),
      run_([](const std::vector<std::string>& argv) {
        return RunCommand(argv, kSystemctlTimeoutMs);
      }) {}

std::string SystemdServices::UnitPath(const std::string& name) const {
  return unit_dir_ + "/" + name + ".service";
}

std::string SystemdServices::RulePath(const std::string& name) const {
  return polkit_dir_ + "/50-" + name + ".rules";
}

Result<UnitStatus> SystemdServices::Show(const std::string& name) {
  if (!IsValidServiceName(name)) return ServiceError(kErrorInvalidName);
  Result<CommandResult> shown =
      run_({"systemctl", "show", "--no-pager", "-p", kShowProperties, name + ".service"});
  if (!shown.ok()) return shown.status();
  if (shown->exit_code != 0) {
    return SystemctlFailure("systemctl show", shown->exit_code, shown->err);
  }
  return ParseUnitStatus(shown->out);
}

Result<CommandResult> SystemdServices::RunSystemctl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"systemctl", "--no-ask-password"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_(argv);
}

Status SystemdServices::Systemctl(const std::vector<std::string>& args) {
  Result<CommandResult> ran = RunSystemctl(args);
  if (!ran.ok()) return ran.status();
  if (ran->exit_code != 0)
    return SystemctlFailure("systemctl " + args[0], ran->exit_code, ran->err);
  return Status::Ok();
}

Status SystemdServices::Exists(const std::string& name) {
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  return UnitExists(*unit) ? Status::Ok() : ServiceError(kErrorServiceDoesNotExist);
}

Status SystemdServices::Install(const std::string& name, const std::string& program,
                                const std::string& display_name) {
  if (const char* problem = ProgramPathProblem(program); problem != nullptr) {
    return Status::Error(ErrnoCode(EINVAL), "systemd cannot start " + program + ": " + problem);
  }
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  if (UnitExists(*unit)) {
    return ServiceError(UnitMarkedForDelete(*unit) ? kErrorServiceMarkedForDelete
                                                   : kErrorServiceExists);
  }
  const std::string folder = program.substr(0, std::max<size_t>(program.rfind('/'), 1));
  // The account and the folder first: the unit names the user, and the service writes its
  // folder from its first start. They stay after a later failure, as after an uninstall.
  Result<gid_t> group = EnsureServiceAccount(run_, kServiceAccount);
  if (!group.ok()) return group.status();
  if (Status shared = ShareFolderWithGroup(folder, *group); !shared.ok()) return shared;
  Status s = AsServiceError(MakeFolders(polkit_dir_, 0755));
  if (s.ok()) {
    s = WriteTextFileAtomic(RulePath(name), PolkitRuleText(name + ".service", kServiceAccount),
                            0644);
  }
  bool unit_written = false;
  if (s.ok()) {
    s = WriteTextFileAtomic(UnitPath(name), UnitText(program, folder, display_name), 0644);
    unit_written = s.ok();
  }
  if (s.ok()) s = Systemctl({"daemon-reload"});
  if (s.ok()) s = Systemctl({"enable", name + ".service"});
  if (!s.ok()) {
    // All or nothing: neither the unit nor the rule stays.
    unlink(UnitPath(name).c_str());
    unlink(RulePath(name).c_str());
    if (unit_written) (void)Systemctl({"daemon-reload"});
  }
  return s;
}

Result<ServiceConfig> SystemdServices::QueryConfig(const std::string& name) {
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  if (!UnitExists(*unit)) return ServiceError(kErrorServiceDoesNotExist);
  ServiceConfig config;
  config.binary_path = ExecStartPath(unit->exec_start);
  config.working_directory = unit->working_directory;
  // "!" and "-" prefixes are systemd's flags, not part of the path.
  while (!config.working_directory.empty() &&
         (config.working_directory[0] == '!' || config.working_directory[0] == '-')) {
    config.working_directory.erase(0, 1);
  }
  config.display_name = unit->description;
  config.start_type = StartTypeOf(unit->unit_file_state);
  return config;
}

Result<int> SystemdServices::QueryState(const std::string& name) {
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  if (!UnitExists(*unit)) return ServiceError(kErrorServiceDoesNotExist);
  return UnitState(*unit);
}

Status SystemdServices::Start(const std::string& name) {
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  if (!UnitExists(*unit)) return ServiceError(kErrorServiceDoesNotExist);
  if (UnitMarkedForDelete(*unit)) return ServiceError(kErrorServiceMarkedForDelete);
  if (unit->load_state == "masked") return ServiceError(kErrorServiceDisabled);
  if (!IsInactive(unit->active_state)) return ServiceError(kErrorServiceAlreadyRunning);
  const std::string unit_name = name + ".service";
  // A failed unit may have been given up after its restarts: systemd then keeps the result
  // of the last run ("exit-code"), and a start would meet the limit that they filled. An
  // administrator's start tries afresh, as `systemctl reset-failed` and a start would.
  if (unit->active_state == "failed") {
    if (Status s = Systemctl({"reset-failed", unit_name}); !s.ok()) return s;
  }
  for (int attempt = 1;; ++attempt) {
    // Waits until the program reports running (Type=notify), so a program that cannot start
    // is reported here.
    Result<CommandResult> ran = RunSystemctl({"start", unit_name});
    if (!ran.ok()) return ran.status();
    if (ran->exit_code == 0) return Status::Ok();
    Status failure = SystemctlFailure("systemctl start", ran->exit_code, ran->err);
    if (failure.error().domain == ErrorDomain::kWindows) return failure;
    Result<UnitStatus> after = Show(name);
    const bool limit_hit = Contains(ran->err, "was attempted too often") ||
                           (after.ok() && after->result == kStartLimitHit);
    if (!limit_hit) return failure;
    if (attempt == 2) {
      // systemctl 252 looks the start limit's result up under an older name ("start-limit")
      // and so gives no reason: say it in the words of the systemctl versions that do.
      if (!Contains(failure.description(), " because ")) {
        failure = Status::Error(failure.error(), "systemctl start: Job for " + unit_name +
                                                     " failed because start of the service was "
                                                     "attempted too often.");
      }
      return failure;
    }
    if (Status s = Systemctl({"reset-failed", unit_name}); !s.ok()) return s;
  }
}

Status SystemdServices::Stop(const std::string& name) {
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  if (!UnitExists(*unit)) return ServiceError(kErrorServiceDoesNotExist);
  if (IsInactive(unit->active_state)) return ServiceError(kErrorServiceNotActive);
  // The stop control returns at once, as the built-in one does; the state reads stop
  // pending until the program has ended.
  return Systemctl({"stop", "--no-block", name + ".service"});
}

Status SystemdServices::Delete(const std::string& name) {
  Result<UnitStatus> unit = Show(name);
  if (!unit.ok()) return unit.status();
  if (!UnitExists(*unit)) return ServiceError(kErrorServiceDoesNotExist);
  if (UnitMarkedForDelete(*unit)) return ServiceError(kErrorServiceMarkedForDelete);
  // A unit file of the package's is the package's to remove: apt would bring it back, or
  // complain of the file that is gone.
  const std::string& fragment = unit->fragment_path;
  if (!fragment.empty() && fragment.rfind(unit_dir_ + "/", 0) != 0) {
    if (const std::string package = PackageOf(fragment); !package.empty()) {
      return Status::Error(ErrnoCode(EPERM), name + ".service is installed by the package " +
                                                 package + " (" + fragment +
                                                 "): remove it with apt remove " + package);
    }
  }
  if (Status s = Systemctl({"disable", name + ".service"}); !s.ok()) return s;
  std::string path = UnitPath(name);
  if (access(path.c_str(), F_OK) != 0 && !unit->fragment_path.empty()) path = unit->fragment_path;
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return ServiceErrno(errno, path);
  const std::string rule = RulePath(name);
  if (unlink(rule.c_str()) != 0 && errno != ENOENT) return ServiceErrno(errno, rule);
  // A unit that still runs stays loaded until it stops, and is gone after that.
  return Systemctl({"daemon-reload"});
}

std::string SystemdServices::PackageOf(const std::string& path) {
  Result<CommandResult> ran = run_({"dpkg-query", "-S", path});
  if (!ran.ok() || ran->exit_code != 0) return "";
  return OwningPackage(ran->out, path);
}

}  // namespace tervane::svc
