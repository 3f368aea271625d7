// `tervane-svc storm`: storm control's switch (RelayOption StormControl) and its rules (table
// StormRule, store/storm_rules.h) in the program folder's Tervix.mdb, listed and edited from a
// shell. The window edits the switch and the default rule; the rules by trap OID prefix, up to
// 30 of them, are edited here. The service reads both when it starts, so a change takes effect
// from its next start, as an import's does.
//
// The texts are pure functions over the rules, testable without a database; RunStormCommand
// reads and writes the file.
#ifndef TERVANE_ADMIN_STORM_COMMAND_H_
#define TERVANE_ADMIN_STORM_COMMAND_H_

#include <string>
#include <string_view>
#include <vector>

#include "admin/svc_command_line.h"
#include "platform/status.h"
#include "store/storm_rules.h"

namespace tervane::svc {

// The word that names the default rule on the command line and in the lists.
inline constexpr char kDefaultRuleWord[] = "default";

// The rule of `storm set PREFIX|default PER_MINUTE BURST [--off]` (the three operands in that
// order), checked by the rules' own reader, so that it is refused in the words the window and
// the service use: "StormRule 1.3.6.1.4.1.9, PerMinute: 2000000 is not a number of traps per
// minute (0 to 1000000)".
Result<store::StormRule> StormRuleFromOperands(const std::vector<std::string>& operands, bool off);

// The list of `storm` (`storm list`): the switch and every rule, the default rule first,
// headed by `source`, the database file read; `note`, when not empty, follows the switch's
// state in parentheses. A rule that the file does not hold (`has_default` false: the default
// rule's row is missing, which limits nothing) shows "-" for its numbers:
//
//   Storm rules in /opt/tervane/Tervix.mdb
//   Storm control: on
//
//   OidPrefix      PerMinute  Burst  Enabled
//   default               30     10  on
//   1.3.6.1.4.1.9        600    100  off
std::string StormTable(bool control_on, const std::vector<store::StormRule>& rules,
                       bool has_default, const std::string& source, std::string_view note);

// Runs `storm` with the action of `line`: list opens the file read-only (an older file is
// read as it is: storm control off, no rules); on, off, set and remove open it for writing
// (which upgrades an older file, as import does) and print one line saying what changed, e.g.
//   "Added storm rule 1.3.6.1.4.1.9 (600 a minute, burst 100, on) to /opt/tervane/Tervix.mdb;
//    the service uses the change from its next start"
// A refused operand or a failure exits 1 with "error <number>: <text>" on standard error and
// the file as it was: a 31st rule by prefix, the removal of a rule that is not there or of the
// default rule (switch it off instead).
int RunStormCommand(const SvcCommandLine& line);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_STORM_COMMAND_H_
