// `tervane-svc stats`: the counters that the service wrote into the program folder's
// Tervix.mdb, as a table or in the Prometheus text format (statistics_text.h), printed or
// written into a file at once.
#ifndef TERVANE_ADMIN_STATS_COMMAND_H_
#define TERVANE_ADMIN_STATS_COMMAND_H_

#include "admin/svc_command_line.h"

namespace tervane::svc {

// Opens the program folder's Tervix.mdb (--folder DIR for another) read-only, so that reading
// never upgrades an old file, and prints its counters; with --output FILE, replaces FILE with
// them instead (mode 0644: node_exporter reads it as its own user), through a temporary file
// beside it, so that a reader sees the old text or the new one, never a part.
//
// A file without counters (the service has not written any yet, or the file predates them)
// is no failure: the command says so and exits 0, so that a timer that runs it before the
// service ever started does not fail every round. The notice goes to standard error, and with
// --prometheus also into the text as a comment; with --output, into the file only.
//
// Exit status 1, with "error <number>: <text>" on standard error, when the file cannot be
// opened or read (a newer schema: "error 3028: Tervix.mdb has schema version 4; this program
// reads versions 0 to 3") or FILE cannot be written; FILE is then as it was.
int RunStatsCommand(const SvcCommandLine& line);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_STATS_COMMAND_H_
