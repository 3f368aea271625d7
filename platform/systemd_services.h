// The systemd back end of the service manager, for machines where systemd is the running
// init. Service NAME is the unit NAME.service in /etc/systemd/system, written by Install:
// Type=notify (the program reports running once its start request has been handled, so
// systemd shows it activating until then: start pending), started without arguments in the
// program folder, stopped with SIGTERM, restarted after a crash, enabled at boot.
//
// The unit gives the program no more than it needs: it runs as the system user and group
// "tervane", with CAP_NET_BIND_SERVICE (port 162) as its only capability, on a read-only
// system in which only the program folder is writable, without access to homes, devices,
// kernel settings or other processes, with IPv4 and local sockets only and the system calls
// of an ordinary service. The refusals that would only fail again (exit statuses 2, 3 and 4)
// are not restarted, and a start that keeps failing is given up after five tries a minute
// (systemd's start limit, which an administrator's Start resets).
//
// Everything else goes through systemctl: the state from `systemctl show` (ActiveState,
// SubState, FreezerState mapped to the states 1 to 7), start, stop, reset-failed, enable,
// disable, daemon-reload. Delete disables the unit and removes its file; a unit that still runs
// stays loaded (not-found, but active) until it stops, which is the "marked for delete" of the
// Windows manager. A unit that a Debian package installed (dpkg-query names the owner of its
// file) is the package's to remove, and Delete leaves it alone.
//
// The unit text, the parsing of systemctl's answers and the mappings are pure functions so
// they can be tested without systemd; the back end takes the command runner as a parameter
// for the same reason.
#ifndef TERVANE_PLATFORM_SYSTEMD_SERVICES_H_
#define TERVANE_PLATFORM_SYSTEMD_SERVICES_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "platform/run_command.h"
#include "platform/service_manager.h"

namespace tervane::svc {

inline constexpr char kSystemdUnitDir[] = "/etc/systemd/system";
// Where polkit reads the local administrator's rules; the install's rule for NAME is
// 50-NAME.rules there.
inline constexpr char kPolkitRulesDir[] = "/etc/polkit-1/rules.d";
// The system user and group the unit runs as; administrators who use the window join the
// group.
inline constexpr char kServiceAccount[] = "tervane";

// The properties Show asks systemctl for.
inline constexpr char kShowProperties[] =
    "LoadState,ActiveState,SubState,FreezerState,Result,MainPID,FragmentPath,UnitFileState,"
    "Description,ExecStart,WorkingDirectory";

// What `systemctl show -p <kShowProperties> NAME.service` says about a unit.
struct UnitStatus {
  std::string load_state;    // loaded, not-found, masked, bad-setting, error
  std::string active_state;  // active, reloading, inactive, failed, activating, deactivating
  std::string sub_state;
  std::string freezer_state;  // running, freezing, frozen, thawing (empty before systemd 246)
  // How the last run ended: success, exit-code, signal, core-dump, timeout, start-limit-hit, ...
  std::string result;
  pid_t main_pid = 0;
  std::string fragment_path;
  std::string unit_file_state;  // enabled, disabled, static, masked, ...
  std::string description;
  std::string exec_start;
  std::string working_directory;
};

// Why systemd would refuse `program` as the program of a unit (not absolute, or holding a
// quote, a backslash or a control character), or null when it would not.
const char* ProgramPathProblem(const std::string& program);

// The unit file for `program` (a path ProgramPathProblem accepts), started in
// `working_directory` (the program folder, the only place it may write), described as
// `display_name`.
std::string UnitText(const std::string& program, const std::string& working_directory,
                     const std::string& display_name);

// "Key=Value" lines of `systemctl show` into a map; other lines are skipped.
std::map<std::string, std::string> ParseShowOutput(const std::string& output);
UnitStatus ParseUnitStatus(const std::string& output);

// Whether systemd knows the unit: loaded in any way, or no longer on disk but still active.
bool UnitExists(const UnitStatus& unit);
// Whether its file is gone while it still runs.
bool UnitMarkedForDelete(const UnitStatus& unit);
// The state 1 to 7 of the unit; an error for an ActiveState it does not know.
Result<int> UnitState(const UnitStatus& unit);
// The program of an ExecStart property ("{ path=/x/TervixSrv ; argv[]=... }").
std::string ExecStartPath(const std::string& exec_start);
// kStartAuto for enabled units, kStartDisabled for masked ones, else kStartDemand.
int StartTypeOf(const std::string& unit_file_state);
// The Status for a failed systemctl call `what` that ended with `exit_code` and printed
// `err`: 5 when it was refused for lack of privileges, 1060 for an unknown unit, 1058 for a
// masked one, 1067 for a start job that failed because the program ended before it reported
// running (it exited, or a signal ended it), else the exit status with systemctl's first
// sentence ("systemctl start: Job for Tervane.service failed because a timeout was exceeded.").
Status SystemctlFailure(const std::string& what, int exit_code, const std::string& err);

// The package that `dpkg-query -S <path>` printed (`out`) as the owner of `path`
// ("tervane: /lib/systemd/system/Tervane.service"); empty when it names none.
std::string OwningPackage(const std::string& out, const std::string& path);

class SystemdServices : public ServiceBackEnd {
 public:
  // The system's units through the real systemctl.
  SystemdServices();
  // Units in `unit_dir`, polkit rules in `polkit_dir`; systemctl, getent, groupadd, useradd
  // and dpkg-query through `run` (tests).
  SystemdServices(std::string unit_dir, std::string polkit_dir, CommandRunner run)
      : unit_dir_(std::move(unit_dir)), polkit_dir_(std::move(polkit_dir)), run_(std::move(run)) {}

  const char* Kind() const override { return "systemd"; }
  Status Exists(const std::string& name) override;
  // Besides writing and enabling the unit, creates the account kServiceAccount when it is
  // missing, shares the program folder with its group (ShareFolderWithGroup) and writes the
  // polkit rule that lets the group start and stop the unit (the rules folder is made when
  // missing). A failure leaves neither unit nor rule behind; the account and the folder's
  // group stay.
  Status Install(const std::string& name, const std::string& program,
                 const std::string& display_name) override;
  Result<ServiceConfig> QueryConfig(const std::string& name) override;
  Result<int> QueryState(const std::string& name) override;
  // systemd counts every start against the unit's start limit, successful ones too; an
  // administrator's start is not refused for earlier ones. A failed unit (given up at the limit,
  // or after its restarts) is reset first (reset-failed), and a start that fails for hitting
  // the limit is reset and made once more. Fails as the reset failed when it is refused.
  Status Start(const std::string& name) override;
  Status Stop(const std::string& name) override;
  // Also removes the polkit rule; the account stays. A unit whose file belongs to a package
  // (outside the unit folder, and named by dpkg-query) is refused with EPERM and the package
  // to remove, and nothing is changed.
  Status Delete(const std::string& name) override;

 private:
  Result<UnitStatus> Show(const std::string& name);
  // Runs `systemctl --no-ask-password <args>`; its exit status and output.
  Result<CommandResult> RunSystemctl(const std::vector<std::string>& args);
  // RunSystemctl, with a failure as SystemctlFailure describes it.
  Status Systemctl(const std::vector<std::string>& args);
  // The package that installed the unit file `path`; empty when none did, or when dpkg-query
  // cannot tell.
  std::string PackageOf(const std::string& path);
  std::string UnitPath(const std::string& name) const;
  std::string RulePath(const std::string& name) const;

  std::string unit_dir_;
  std::string polkit_dir_;
  CommandRunner run_;
};

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SYSTEMD_SERVICES_H_
