// `tervane-svc v3user` and `engine`: the SNMPv3 users (table SnmpV3User, store/v3_users.h) and
// this relay's own engine ID (table SnmpEngine) in the program folder's Tervix.mdb, listed and
// edited from a shell. Routers that send informs without discovering the receiver's engine are
// configured with its ID, which `engine` prints. The service reads both when it starts, so a
// change takes effect from its next start, as an import's does.
//
// Passwords are read as password_input.h says and only their keys (Ku) are stored; nothing
// here prints a password or a key.
#ifndef TERVANE_ADMIN_V3_COMMANDS_H_
#define TERVANE_ADMIN_V3_COMMANDS_H_

#include <string>
#include <string_view>
#include <vector>

#include "admin/svc_command_line.h"
#include "store/v3_users.h"

namespace tervane::svc {

// The list of `v3user` (`v3user list`), headed by `source`, the database file read; `note`,
// when not empty, follows the heading in parentheses. "-" is no protocol:
//
//   SNMPv3 users in /opt/tervane/Tervix.mdb
//
//   User   Engine              Level         Auth     Priv
//   alice  any                 authPriv      SHA-256  AES
//   bob    80007ed905a1b2c3d4  noAuthNoPriv  -        -
//
// Without users: "SNMPv3 users in /opt/tervane/Tervix.mdb: none".
std::string V3UserTable(const std::vector<store::V3User>& users, const std::string& source,
                        std::string_view note);

// Runs `v3user` with the action of `line`. list opens the file read-only (an older file has no
// users); add and remove open it for writing (which upgrades an older file, as import does)
// and print one line saying what changed, e.g.
//   "Added the SNMPv3 user alice (any engine) to /opt/tervane/Tervix.mdb; the service uses the
//    change from its next start"
// ("Replaced the SNMPv3 user ... in ..." for a user of that name and engine already there).
// add checks the name, the engine ID and the protocols before it asks for a password. A
// refusal or a failure exits 1 with "error <number>: <text>" on standard error and the file as
// it was: a short password, two that differ, a 1001st user, a user to remove that is not there.
int RunV3UserCommand(const SvcCommandLine& line);

// Runs `engine`: without --set, opens the file read-only and prints two lines, for people and
// scripts alike:
//   Engine ID: 80007ed905a1b2c3d4e5f60718
//   Boots: 12
// With --set HEX, checks HEX (5 to 32 octets), sets the engine ID, keeps the boots, and says
// that the service uses it from its next start and that the relays of a pair share one ID.
int RunEngineCommand(const SvcCommandLine& line);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_V3_COMMANDS_H_
