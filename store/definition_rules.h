// The rules for the values of a trap definition (an SnmpTrap row): what the window lets a user
// store, and what tervane-svc import accepts, in the same words. The window checks a field
// when the user leaves it or stores the row; the import checks every value of every row before
// it writes any.
//
// `what` names the value in a refusal, as the window's caption does
// ("Trap \"linkDown\", variable 2, Pos") or an import's path does ("traps[3].VarPos2"):
// "<what>: 0 is not a position (1 to 32767)".
#ifndef TERVANE_STORE_DEFINITION_RULES_H_
#define TERVANE_STORE_DEFINITION_RULES_H_

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/status.h"
#include "store/number_text.h"

namespace tervane::store {

// The service has 30 slots for definitions.
inline constexpr int kMaxDefinitions = 30;
// A name is at most this many characters, counted as the window's name field counts them
// (UTF-16 code units: a letter outside the Basic Multilingual Plane counts twice).
inline constexpr int kTrapNameLength = 20;

// The ranges the service can use: a source binding it keeps (1 to 20), a piece position from 1
// and a count from 0, both within 16 bits.
inline constexpr NumberRange kSourceRange{1, 20, "is not a binding the service keeps (1 to 20)",
                                          kErrorInvalidArgument};
inline constexpr NumberRange kPositionRange{1, 32767, "is not a position (1 to 32767)",
                                            kErrorInvalidArgument};
inline constexpr NumberRange kCountRange{0, 32767, "is not a number of characters (0 to 32767)",
                                         kErrorInvalidArgument};
// What the window's lists store: a column that the user picks from a list is written as a
// whole number within these (an entry kept from a row written by other means is never written
// back).
inline constexpr NumberRange kNewNumberRange = kInt32Range;
inline constexpr NumberRange kNewVarCountRange = kInt16Range;

// The entries of the window's lists: trap numbers kFirstNewNumber to kLastNewNumber in steps
// of kNewNumberStep, new-variable counts 1 to kMaxNewVariables, and the type names in the
// editor's order.
inline constexpr int kFirstNewNumber = 1000;
inline constexpr int kLastNewNumber = 3900;
inline constexpr int kNewNumberStep = 100;
inline constexpr int kMaxNewVariables = 14;
inline constexpr std::array<std::string_view, 7> kVarTypeNames = {
    "Integer32", "DisplayString", "OBJECT IDENTIFIER", "IpAddress",
    "Counter32", "Gauge32",       "TimeTicks"};

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates, code points above
// U+10FFFF or truncated sequences): text that the window stores, and that JSON can carry as
// it is.
bool IsWellFormedUtf8(std::string_view text);

// The length of `name` as the window's name field counts it (see kTrapNameLength); a byte
// that is not part of well-formed UTF-8 counts as one character, as the window shows it.
int TrapNameLength(std::string_view name);

// A name a new definition may have: not empty, at most kTrapNameLength characters.
// kErrorInvalidArgument otherwise. Whether it is taken is SameTrapName's (trap_name.h).
Status CheckTrapName(std::string_view name, std::string_view what);

// A trap number that the window's list offers. kErrorInvalidArgument otherwise.
Status CheckNewNumber(int64_t number, std::string_view what);

// A number of new variables that the window's list offers (1 to 14).
Status CheckNewVarCount(int64_t count, std::string_view what);

// One of kVarTypeNames, compared exactly, or empty (a variable whose type was never chosen).
Status CheckVarType(std::string_view type, std::string_view what);

}  // namespace tervane::store

#endif  // TERVANE_STORE_DEFINITION_RULES_H_
