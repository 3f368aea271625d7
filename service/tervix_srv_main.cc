// TervixSrv: the relay service, and its own installer.
//
//   TervixSrv                 runs as the service: in the foreground when started by hand, in
//                             the background when a service manager starts it
//   TervixSrv -install        registers this program as the service "Tervane" (any argument
//                             text beginning with "-install" does)
//   TervixSrv -install_noMsg  the same without the success message (what the window runs)
//   TervixSrv -uninstall      removes the registration
//   TervixSrv --help          prints the usage on standard output and exits 0
//
// --help must be the only argument; it touches nothing (no lock, no log), so it is answered
// first, even while another copy runs. For everything else the argument text is the arguments
// joined by single blanks, compared case-sensitively; anything else is refused with
// "Invalid command option.". Only one copy runs per program folder, and that check comes
// before the other arguments are looked at.
//
// Each message is one line "Tervix: <text>", information on standard output and errors on
// standard error. Exit status: 0 after success, 1 after a failure (reported as event 106),
// 2 after an invalid option, 3 when another copy runs in this program folder, 4 when the
// service's configuration cannot work (a setting that does not convert, a forward endpoint
// that is its own receive endpoint).
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/run_state_report.h"
#include "platform/service_manager.h"
#include "platform/single_instance.h"
#include "platform/sys_error.h"
#include "service/host/event_log.h"
#include "service/host/service_host.h"
#include "service/snmp/event_loop.h"
#include "service/tervix_service.h"

namespace tervane {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitInvalidOption = 2;
constexpr int kExitAlreadyRunning = 3;

constexpr char kUsage[] =
    "Usage: TervixSrv [-install | -install_noMsg | -uninstall | --help]\n"
    "The Tervane service, which relays SNMP traps, and its own installer.\n"
    "\n"
    "  (no argument)   run as the service \"Tervane\": in the foreground when started by\n"
    "                  hand (Ctrl-C stops it), in the background when a service manager\n"
    "                  starts it\n"
    "  -install        register this program as the service \"Tervane\", started without\n"
    "                  arguments in this program folder (a systemd unit where systemd runs,\n"
    "                  else Tervane's built-in service manager)\n"
    "  -install_noMsg  the same without the success message\n"
    "  -uninstall      remove the registration\n"
    "  --help          print this help\n"
    "\n"
    "Exit status: 0 success, 1 failure (event 106), 2 invalid option, 3 another copy runs\n"
    "in this program folder, 4 a configuration that cannot work.\n"
    "See man TervixSrv for the files, events and environment.\n";

// The message boxes of a desktop program become lines under the box's title.
void ShowInformation(const char* text) { std::printf("Tervix: %s\n", text); }
void ShowError(const char* text) { std::fprintf(stderr, "Tervix: %s\n", text); }

std::string ArgumentText(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

int ToServiceState(host::RunState state) {
  switch (state) {
    case host::RunState::kStartPending:
      return svc::kServiceStartPending;
    case host::RunState::kRunning:
      return svc::kServiceRunning;
    case host::RunState::kStopPending:
      return svc::kServiceStopPending;
    case host::RunState::kStopped:
      return svc::kServiceStopped;
  }
  return svc::kServiceStopped;
}

// Hands control to the service host until the stop request has been handled; the exit
// status of the process.
Result<int> RunAsService(host::EventLog& log) {
  snmp::EventLoop loop;
  host::ServiceHost host(loop, log);
  TervixService service(ProgramFolder(), loop, host);
  host.SetStateHandler([&service] { service.svcHost_State(); });
  // The manager that started us learns how far we are, and whether the service listens; a
  // failed report only changes what it shows (start pending while we live), never what the
  // service does.
  std::unique_ptr<svc::RunStateReporter> reporter = svc::ReporterFromEnvironment();
  host.SetRunStateObserver([&reporter](host::RunState state, const std::string& text) {
    (void)reporter->Report(ToServiceState(state), text);
  });
  return host.Run();
}

Status Install() {
  Result<std::string> program = ExecutablePath();
  if (!program.ok()) return program.status();
  Result<svc::ServiceManager> scm =
      svc::ServiceManager::Open(svc::kScManagerConnect | svc::kScManagerCreateService);
  if (!scm.ok()) return scm.status();
  return scm->Install(svc::kServiceName, *program, svc::kServiceName);
}

Status Uninstall() {
  Result<svc::ServiceManager> scm = svc::ServiceManager::Open(svc::kScManagerConnect);
  if (!scm.ok()) return scm.status();
  return scm->Uninstall(svc::kServiceName);
}

int Form_Load(const std::string& command, host::EventLog& log) {
  std::string operation;  // selects the failure message
  auto failed = [&](const Status& status) {
    log.Log(host::kEventError, 106, status.ToString() + " (Module: Form_Load)");
    if (operation == "install") ShowError("The Tervane Service failed to install.");
    if (operation == "uninstall") ShowError("The Tervane Service failed to uninstall.");
    return kExitFailed;
  };

  // Held until the program ends, by whichever path it ends.
  InstanceLock instance;
  const std::string folder = ProgramFolder();
  Result<InstanceLock::Outcome> locked = instance.Acquire(folder);
  if (!locked.ok()) return failed(locked.status());
  if (*locked == InstanceLock::Outcome::kHeldByAnother) {
    ShowInformation("The Tervane Service is already running.");
    return kExitAlreadyRunning;
  }

  if (command.compare(0, 8, "-install") == 0) {
    if (chdir(folder.c_str()) != 0) return failed(SysError(errno, folder));
    operation = "install";
    if (Status s = Install(); !s.ok()) return failed(s);
    log.Log(host::kEventInformation, 107, "The service was installed.");
    if (command != "-install_noMsg") ShowInformation("Tervane Service installed successfully.");
    return kExitOk;
  }
  if (command == "-uninstall") {
    operation = "uninstall";
    if (Status s = Uninstall(); !s.ok()) return failed(s);
    log.Log(host::kEventInformation, 107, "The service was uninstalled.");
    ShowInformation("Tervane Service uninstalled successfully.");
    return kExitOk;
  }
  if (!command.empty()) {
    ShowInformation("Invalid command option.");
    return kExitInvalidOption;
  }
  Result<int> ran = RunAsService(log);
  if (!ran.ok()) return failed(ran.status());
  return *ran;
}

}  // namespace
}  // namespace tervane

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(tervane::kUsage, stdout);
    return tervane::kExitOk;
  }
  // The program folder is shared with the administrators' group: what we create there
  // (debug files, the database's -wal and -shm) stays writable for them.
  tervane::KeepGroupWritable();
  tervane::host::SystemEventLog log;
  return tervane::Form_Load(tervane::ArgumentText(argc, argv), log);
}
