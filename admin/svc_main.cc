// tervane-svc: the administrator's command. It drives the service manager from a shell, in the
// manner of Windows' sc (service_commands.h), and reads the counters that the service writes
// into the program folder's Tervix.mdb (stats_command.h), checks the relay's health for
// keepalived (check_command.h), and moves the settings that the relays of a pair share between
// their Tervix.mdb files (transfer_commands.h), edits storm control's rules (storm_command.h)
// and the SNMPv3 users, and prints or sets the engine ID (v3_commands.h). The usage is in
// svc_command_line.h.
// Exit status: 0 on success, 1 on failure, 2 on a usage error.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "admin/check_command.h"
#include "admin/service_commands.h"
#include "admin/stats_command.h"
#include "admin/storm_command.h"
#include "admin/svc_command_line.h"
#include "admin/transfer_commands.h"
#include "admin/v3_commands.h"

int main(int argc, char** argv) {
  using tervane::svc::SvcCommand;
  const std::optional<tervane::svc::SvcCommandLine> line =
      tervane::svc::ParseSvcCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!line) {
    std::fputs(tervane::svc::kSvcUsage, stderr);
    return 2;
  }
  switch (line->command) {
    case SvcCommand::kHelp:
      std::fputs(tervane::svc::kSvcUsage, stdout);
      return 0;
    case SvcCommand::kStats:
      return tervane::svc::RunStatsCommand(*line);
    case SvcCommand::kCheck:
      return tervane::svc::RunCheckCommand(*line);
    case SvcCommand::kExport:
      return tervane::svc::RunExportCommand(*line);
    case SvcCommand::kImport:
      return tervane::svc::RunImportCommand(*line);
    case SvcCommand::kStorm:
      return tervane::svc::RunStormCommand(*line);
    case SvcCommand::kV3User:
      return tervane::svc::RunV3UserCommand(*line);
    case SvcCommand::kEngine:
      return tervane::svc::RunEngineCommand(*line);
    default:
      return tervane::svc::RunServiceCommand(*line);
  }
}
