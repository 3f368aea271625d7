// tervane-svc's command line: the command, its options and the service it names. Parsing is a
// pure function over the arguments, so every form that is accepted or refused can be tested
// without a service manager; what the commands do is in tervane_svc_main.cc.
//
//   tervane-svc COMMAND [--wait] [--folder DIR] [NAME]
//
// The options come after the command and NAME comes last; --wait belongs to start and stop,
// --folder DIR to unit. "--help" or "-h" anywhere asks for the usage.
#ifndef TERVANE_PLATFORM_SVC_COMMAND_LINE_H_
#define TERVANE_PLATFORM_SVC_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/service_manager.h"

namespace tervane::svc {

// Printed on standard output for --help, on standard error after a usage error.
inline constexpr char kSvcUsage[] =
    "usage: tervane-svc COMMAND [--wait] [--folder DIR] [NAME]\n"
    "Controls the service NAME (by default \"Tervane\") through systemd when it is the\n"
    "running init, else through Tervane's built-in service manager.\n"
    "\n"
    "Commands:\n"
    "  query                print the state, e.g. \"Tervane: RUNNING (4)\"\n"
    "  config               print the registration: program, folder, start type, manager\n"
    "  start [--wait]       start the service and print its state\n"
    "  stop [--wait]        ask the service to stop (SIGTERM) and print its state\n"
    "  delete               remove the service, or mark it for delete while it runs\n"
    "  unit [--folder DIR]  print the systemd unit that TervixSrv -install writes for the\n"
    "                       TervixSrv beside this program\n"
    "  rule                 print the polkit rule that lets the group tervane start, stop,\n"
    "                       restart and reset NAME.service\n"
    "\n"
    "Options:\n"
    "  --wait        after start or stop, wait up to 30 s until the service runs or has\n"
    "                stopped, then print its state\n"
    "  --folder DIR  print the unit for DIR/TervixSrv, started in DIR\n"
    "  -h, --help    print this help\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (\"error <number>: <text>\" on standard error),\n"
    "2 on a usage error.\n";

enum class SvcCommand { kHelp, kQuery, kConfig, kStart, kStop, kDelete, kUnit, kRule };

struct SvcCommandLine {
  SvcCommand command = SvcCommand::kHelp;
  bool wait = false;   // start, stop: wait until the state has settled
  std::string folder;  // unit: DIR of --folder as given; empty for this program's folder
  std::string name = kServiceName;  // not checked here: the service manager refuses bad names
};

// `args` are the arguments after the program's name. Nothing for a usage error: no command,
// an unknown command or option, an option that the command does not take or that is given
// twice, --folder without DIR or with an empty one, or an argument after NAME.
std::optional<SvcCommandLine> ParseSvcCommandLine(const std::vector<std::string>& args);

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SVC_COMMAND_LINE_H_
