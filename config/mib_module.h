// The MIB module VANTREL-TERVANE-MIB that describes the wrapped traps: one notification per
// stored trap definition and one object per new variable of it, at exactly the OIDs that the
// service puts on the traps it sends (notification 1.3.6.1.4.1.32473.1.100.2.0.n, variable i
// at 1.3.6.1.4.1.32473.1.100.1.(n+i), n being the definition's TrapNewNumber). It imports
// `products` from VANTREL-ROOT-MIB, which lies beside it in the program folder.
//
// The text is a pure function of the SnmpTrap rows, in their natural order. Names, types and
// OIDs are written as stored, unchecked and unescaped, because what the user stored is what
// the file must show; what a management station will not load in it is listed apart
// (MibWarnings), so the user can correct it. Only the number of object blocks is bounded: a
// TrapNewVarNo that is empty, no number or negative counts as 0 and one above 14 as 14, as the
// columns of a row hold 14 variables; a notification without objects has no OBJECTS clause.
//
// The file is written whole or not at all (GenerateMibFile): a failure leaves the previous
// file as it was.
#ifndef TERVANE_CONFIG_MIB_MODULE_H_
#define TERVANE_CONFIG_MIB_MODULE_H_

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "store/rows.h"

namespace tervane::config {

inline constexpr char kMibFileName[] = "Tervix.mib";

// The opening of the message that lists what will not load; the list follows it.
inline constexpr char kMibWarningsIntro[] =
    "Tervix.mib was written, but a management station will not load it as the service sends "
    "the traps until these are corrected:";

// The module's LAST-UPDATED value for the moment `when`: its UTC date and time as YYYYMMDDHHMM
// followed by "Z", as "200612061131Z".
std::string MibStamp(std::time_t when);

// The module for `rows`, every line ended by CR LF, with the LAST-UPDATED value `stamp`.
std::string MibModuleText(const std::vector<store::TrapRow>& rows, std::string_view stamp);

// Whether `name` is an SMIv2 descriptor: a lowercase letter first, then letters, digits and
// hyphens, no hyphen last and none doubled ("--" opens a comment), at most 64 characters.
bool IsMibDescriptor(std::string_view name);

// What in the module for `rows` a management station will not load, or will not match with
// the traps the service sends, one line each in row order: a name that is no descriptor or
// is declared twice, a trap number that is empty or no whole number from 0, a type that is
// none of the seven, a source OID that would end its DESCRIPTION early, a TrapNewVarNo other
// than 0 to 14. Empty when the module is sound.
std::vector<std::string> MibWarnings(const std::vector<store::TrapRow>& rows);

// Reads SnmpTrap of the Tervix.mdb in `folder` and writes the module, stamped with the current
// time, to `path`: under a temporary name beside it, then renamed over it, so that `path`
// holds the previous file or the whole new one, never a part. Returns the module's warnings.
// Fails, with `path` unchanged, when the database cannot be read or the file not written; the
// description names the file and the reason.
Result<std::vector<std::string>> GenerateMibFile(const std::string& folder,
                                                 const std::string& path);

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_MIB_MODULE_H_
