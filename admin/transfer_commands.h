// `tervane-svc export` and `import`: the settings that the relays of an active/standby pair
// share (settings_json.h), out of one node's Tervix.mdb and into the other's.
#ifndef TERVANE_ADMIN_TRANSFER_COMMANDS_H_
#define TERVANE_ADMIN_TRANSFER_COMMANDS_H_

#include "admin/svc_command_line.h"

namespace tervane::svc {

// Reads the program folder's Tervix.mdb (--folder DIR for another) read-only and prints its
// shared settings as JSON; with FILE, replaces FILE with them instead, at once (a temporary
// file beside it, then a rename) and with mode 0600, since the text holds the stations'
// community strings. With --with-keys (to a FILE only: the parser refuses standard output), the
// SNMPv3 users with their keys and the engine ID go with them, and FILE is 0600 from the moment
// it is made, before a byte of it is written. Exit status 1, with "error <number>: <text>" on
// standard error and FILE as it was, when the database cannot be read or a value has no JSON
// form, or FILE cannot be written.
int RunExportCommand(const SvcCommandLine& line);

// Reads FILE ("-": standard input), checks every value, and replaces the shared settings of
// the program folder's Tervix.mdb with them in one transaction; TrapRecvIpAddr and
// TrapRecvStatus, this node's own, stay as they are, and so do the storm rules when the text
// has none (an export of a file older than version 3), and the SNMPv3 users and the engine ID
// when it has none of them (an export without keys); the engine's boots always do. Prints
//   "Imported 12 trap definitions, 2 stations, 2 options and 3 storm rules into
//    /opt/tervane/Tervix.mdb; the service uses them from its next start"
// ("... 2 stations and 2 options into ..." without storm rules; "..., 3 storm rules, 2 SNMPv3
// users and the engine ID into ..." with keys).
// A refused value, or a failure to read FILE or write the database, changes nothing, and
// exits 1 with "error <number>: FILE: <text>" on standard error, the text naming the first bad
// value ("SnmpTrap[3] \"linkDown\".VarPos2: 0 is not a position (1 to 32767)").
int RunImportCommand(const SvcCommandLine& line);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_TRANSFER_COMMANDS_H_
