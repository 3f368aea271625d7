// Loads the trap definitions from the SnmpTrap rows into the 30 slots of the definition
// table, deriving each new variable's OID and type code.
#ifndef TERVANE_SERVICE_RELAY_DEFINITIONS_H_
#define TERVANE_SERVICE_RELAY_DEFINITIONS_H_

#include <string>
#include <vector>

#include "platform/status.h"
#include "service/relay/trap_state.h"
#include "store/rows.h"

namespace tervane::relay {

// The type code of a type name ("Integer32" 1 ... "TimeTicks" 7), or 0 for any other text.
int16_t TypeCode(const std::string& name);

// Fills slots 1, 2, ... from `rows` in order. Fails on a 31st row, on a TrapNewVarNo above
// 14, on a negative TrapNewNumber of a definition with variables and on a value that does
// not convert; the slots filled before the failure, including the partly filled slot of the
// failing row, stay filled.
Status LoadDefinitions(const std::vector<store::TrapRow>& rows, DefinitionTable& table);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_DEFINITIONS_H_
