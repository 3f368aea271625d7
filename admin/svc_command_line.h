// tervane-svc's command line: the command, its options and the service it names. Parsing is a
// pure function over the arguments, so every form that is accepted or refused can be tested
// without a service manager or a database; what the commands do is in service_commands.cc,
// stats_command.cc, check_command.cc, transfer_commands.cc, storm_command.cc and
// v3_commands.cc.
//
//   tervane-svc COMMAND [OPTION...] [NAME]
//   tervane-svc storm|v3user [ACTION] [OPERAND...] [OPTION...]
//
// The options come after the command and NAME (or FILE) comes last; each command takes only
// the options it uses (--wait: start and stop; --folder DIR: unit, stats, check, export,
// import, storm, v3user and engine; --prometheus and --output FILE: stats; --with-keys: export
// to a FILE; --off: storm set; --engine HEX: v3user add and remove; --auth and --priv
// PROTOCOL: v3user add, --priv only with --auth; --set HEX: engine), stats and engine take no
// NAME, export an optional FILE and import a FILE ("-" for standard input) instead. storm and
// v3user take an action word and its operands, with their options anywhere after the
// command's word.
// "--help" or "-h" anywhere asks for the usage.
#ifndef TERVANE_ADMIN_SVC_COMMAND_LINE_H_
#define TERVANE_ADMIN_SVC_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/service_manager.h"

namespace tervane::svc {

// Printed on standard output for --help, on standard error after a usage error.
inline constexpr char kSvcUsage[] =
    "usage: tervane-svc COMMAND [OPTION...] [NAME]\n"
    "The administrator's command of Tervane: controls the service NAME (by default\n"
    "\"Tervane\") through systemd when it is the running init, else through Tervane's\n"
    "built-in service manager, and reads the Tervix.mdb of its program folder.\n"
    "\n"
    "Commands:\n"
    "  query                print the state, e.g. \"Tervane: RUNNING (4)\"\n"
    "  config               print the registration: program, folder, start type, manager\n"
    "  start [--wait]       start the service and print its state\n"
    "  stop [--wait]        ask the service to stop (SIGTERM) and print its state\n"
    "  delete               remove the service, or mark it for delete while it runs\n"
    "  unit [--folder DIR]  print the systemd unit that TervixSrv -install writes for the\n"
    "                       TervixSrv of the program folder\n"
    "  rule                 print the polkit rule that lets the group tervane start, stop,\n"
    "                       restart and reset NAME.service\n"
    "  stats [--prometheus] [--output FILE] [--folder DIR]\n"
    "                       print the counters that the service wrote into Tervix.mdb\n"
    "  check [--folder DIR] the health check for keepalived's vrrp_script: exit 0 when the\n"
    "                       service runs, a UDP socket is bound to its receive address and\n"
    "                       port, and its counters were written within 30 s; else exit 1\n"
    "                       with one line on standard error saying why\n"
    "  export [--with-keys] [--folder DIR] [FILE]\n"
    "                       write the trap definitions, the stations, the options and the\n"
    "                       settings that are not the node's own as JSON to FILE (at once)\n"
    "                       or to standard output; --with-keys adds the SNMPv3 users with\n"
    "                       their keys and the engine ID, and needs FILE (made mode 0600)\n"
    "  import [--folder DIR] FILE\n"
    "                       check every value of an export (FILE \"-\": standard input) and\n"
    "                       replace them in Tervix.mdb in one transaction, or change\n"
    "                       nothing; the service uses them from its next start\n"
    "  storm [list] [--folder DIR]\n"
    "                       print whether storm control is on, and its rules: the default\n"
    "                       rule and those by trap OID prefix\n"
    "  storm on|off [--folder DIR]\n"
    "                       switch storm control on or off (RelayOption StormControl)\n"
    "  storm set PREFIX|default PER_MINUTE BURST [--off] [--folder DIR]\n"
    "                       add or change the rule of the trap OID prefix PREFIX, or the\n"
    "                       default rule: of each kind of trap, BURST go on at once, then\n"
    "                       PER_MINUTE a minute (0: none); --off stores it switched off\n"
    "  storm remove PREFIX [--folder DIR]\n"
    "                       remove the rule of PREFIX; the service uses storm's changes, as\n"
    "                       import's, from its next start\n"
    "  v3user [list] [--folder DIR]\n"
    "                       print the SNMPv3 users: engine, security level, protocols\n"
    "  v3user add NAME [--engine HEX] [--auth PROTOCOL [--priv PROTOCOL]] [--folder DIR]\n"
    "                       add the user NAME, or replace the user of that name and engine;\n"
    "                       the passwords are asked for twice on a terminal, else read as\n"
    "                       one line each from standard input (authentication, then privacy)\n"
    "  v3user remove NAME [--engine HEX] [--folder DIR]\n"
    "                       remove the user NAME of that engine (no --engine: of any engine)\n"
    "  engine [--folder DIR]\n"
    "                       print this relay's engine ID (\"Engine ID: HEX\") and its count of\n"
    "                       starts (\"Boots: N\")\n"
    "  engine --set HEX [--folder DIR]\n"
    "                       set the engine ID (5 to 32 octets) and keep the boots; the relays\n"
    "                       of a pair share one ID, each node keeps its own boots\n"
    "\n"
    "Options:\n"
    "  --wait         after start or stop, wait up to 30 s until the service runs or has\n"
    "                 stopped, then print its state\n"
    "  --folder DIR   the program folder DIR instead of this program's own: unit prints the\n"
    "                 unit for DIR/TervixSrv, the others use DIR/Tervix.mdb\n"
    "  --off          with storm set: store the rule switched off\n"
    "  --with-keys    with export: include the SNMPv3 users and keys and the engine ID\n"
    "  --engine HEX   with v3user add or remove: the user of the device engine HEX only\n"
    "                 (without it: the user of any engine)\n"
    "  --auth PROTOCOL\n"
    "                 with v3user add: MD5, SHA, SHA-224, SHA-256, SHA-384 or SHA-512\n"
    "                 (without it: noAuthNoPriv, no password)\n"
    "  --priv PROTOCOL\n"
    "                 with v3user add and --auth: DES, AES, AES-192, AES-256, AES-192-C\n"
    "                 or AES-256-C\n"
    "  --set HEX      with engine: the new engine ID\n"
    "  --prometheus   print the counters in the Prometheus text format\n"
    "  --output FILE  replace FILE with the text at once (a temporary file, then a rename)\n"
    "                 instead of printing it\n"
    "  -h, --help     print this help\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (\"error <number>: <text>\" on standard error),\n"
    "2 on a usage error.\n";

enum class SvcCommand {
  kHelp,
  kQuery,
  kConfig,
  kStart,
  kStop,
  kDelete,
  kUnit,
  kRule,
  kStats,
  kCheck,
  kExport,
  kImport,
  kStorm,
  kV3User,
  kEngine,
};

// What `tervane-svc storm` does.
enum class StormAction { kList, kOn, kOff, kSet, kRemove };
// What `tervane-svc v3user` does.
enum class V3UserAction { kList, kAdd, kRemove };

struct SvcCommandLine {
  SvcCommand command = SvcCommand::kHelp;
  bool wait = false;        // start, stop: wait until the state has settled
  std::string folder;       // DIR of --folder as given; empty for this program's
  bool prometheus = false;  // stats: the Prometheus text format instead of a table
  std::string output;       // stats: FILE of --output; empty for standard output
  std::string file;         // export, import: FILE; empty (export) or "-" for standard I/O
  StormAction storm = StormAction::kList;     // storm: the action
  std::vector<std::string> operands;          // storm set: PREFIX PER_MINUTE BURST; remove: PREFIX
  bool off = false;                           // storm set: --off
  bool with_keys = false;                     // export: --with-keys
  V3UserAction v3user = V3UserAction::kList;  // v3user: the action
  std::string user;                           // v3user add, remove: NAME
  std::string engine;               // v3user add, remove: HEX of --engine; empty: any engine
  std::string auth;                 // v3user add: PROTOCOL of --auth; empty: none
  std::string priv;                 // v3user add: PROTOCOL of --priv; empty: none
  std::string set_engine;           // engine: HEX of --set; empty: print the engine
  std::string name = kServiceName;  // not checked here: the service manager refuses bad names
};

// `args` are the arguments after the program's name. Nothing for a usage error: no command,
// an unknown command or option, an option that the command does not take or that is given
// twice, an option that takes a value (--folder, --output, --engine, --auth, --priv, --set)
// without one or with an empty one, a NAME given to stats, an empty FILE, import without FILE, or
// an argument after NAME or FILE, export --with-keys without FILE or to "-"; storm or v3user with
// an unknown action, with more or fewer operands than its action takes, or with an empty one,
// v3user add --priv without --auth. The operands and option values of storm and v3user, and
// engine's --set, are checked by the commands (storm_command.h, v3_commands.h), in the rules'
// words.
std::optional<SvcCommandLine> ParseSvcCommandLine(const std::vector<std::string>& args);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_SVC_COMMAND_LINE_H_
