// tervane-svc's service commands, in the manner of Windows' sc: query, config, start, stop,
// delete, and the texts that an install writes (unit, rule). They use the same back end as
// TervixSrv and the window: systemd when it is the running init, else the built-in registry
// (TERVANE_SERVICE_DIR moves it and selects it).
#ifndef TERVANE_ADMIN_SERVICE_COMMANDS_H_
#define TERVANE_ADMIN_SERVICE_COMMANDS_H_

#include "admin/svc_command_line.h"

namespace tervane::svc {

// Runs `line`'s command, one of kQuery, kConfig, kStart, kStop, kDelete, kUnit, kRule, and
// returns the exit status: 0 after success, 1 after a failure, which it has printed as
// "error <number>: <text>" on standard error.
//
//   query    "Tervane: RUNNING (4)"
//   config   the registration: program, folder, start type, manager
//   start    starts it and prints the state: "Tervane: START_PENDING (2)"; with --wait, waits
//            up to 30 s until it runs (service_wait.h) and prints that state
//   stop     asks it to stop (SIGTERM) and prints the state; --wait as for start
//   delete   removes it, or marks it for delete while it runs
//   unit     the systemd unit that TervixSrv -install writes for the TervixSrv of the program
//            folder (--folder DIR for another), for review and for packaging
//   rule     the polkit rule that TervixSrv -install writes
int RunServiceCommand(const SvcCommandLine& line);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_SERVICE_COMMANDS_H_
