#include "service/relay/definitions.h"

#include <string>

#include "service/snmp/codec.h"
#include "store/convert.h"

namespace tervane::relay {

int16_t TypeCode(const std::string& name) {
  static const char* const kNames[] = {"Integer32", "DisplayString", "OBJECT IDENTIFIER",
                                       "IpAddress", "Counter32",     "Gauge32",
                                       "TimeTicks"};
  for (int16_t code = 1; code <= 7; ++code) {
    if (name == kNames[code - 1]) return code;
  }
  return 0;
}

Status LoadDefinitions(const std::vector<store::TrapRow>& rows, DefinitionTable& table) {
  int k = 0;
  for (const store::TrapRow& row : rows) {
    if (++k > kMaxDefinitions) {
      return Status::Error(kErrorOverflow, "SnmpTrap holds more than 30 trap definitions");
    }
    TrapDefinition& d = table[k];
    d.TrapOID = row.ByName("TrapOID").AsText();
    Result<int16_t> source = store::ToInt16(row.ByName("TrapSourceVarNo"), "TrapSourceVarNo");
    if (!source.ok()) return source.status();
    d.TrapSourceVarNo = *source;
    Result<int16_t> count = store::ToInt16(row.ByName("TrapNewVarNo"), "TrapNewVarNo");
    if (!count.ok()) return count.status();
    d.TrapNewVarNo = *count;
    d.TrapNewNumber = row.ByName("TrapNewNumber").AsText();
    // The variables' OIDs add their number to the trap number, so a definition with
    // variables needs it as a number, and as one from 0: no OID has a negative part. One
    // without variables only needs it for the SNMPv1 form, which fails on its own when it is
    // none.
    Result<int32_t> number = store::ToInt32(row.ByName("TrapNewNumber"), "TrapNewNumber");
    if (number.ok()) d.new_number = *number;
    if (d.TrapNewVarNo >= 1) {
      if (!number.ok()) return number.status();
      if (*number < 0) {
        return Status::Error(kErrorOverflow,
                             "TrapNewNumber: " + std::to_string(*number) +
                                 " is negative; the new variables' OIDs need 0 to 2147483647");
      }
    }
    for (int n = 1; n <= d.TrapNewVarNo; ++n) {
      if (n > kMaxNewVars) {
        return Status::Error(kErrorOverflow, "trap definition " + d.TrapOID + " has " +
                                                 std::to_string(d.TrapNewVarNo) +
                                                 " new variables; at most 14 are possible");
      }
      d.NewVarOid[n] = kNewVarPrefix + std::to_string(int64_t{*d.new_number} + n);
      Result<int16_t> pos =
          store::ToInt16(row.Var(n, store::VarField::kPos), "VarPos" + std::to_string(n));
      if (!pos.ok()) return pos.status();
      d.NewVarPos[n] = *pos;
      Result<int16_t> len =
          store::ToInt16(row.Var(n, store::VarField::kChar), "VarChar" + std::to_string(n));
      if (!len.ok()) return len.status();
      d.NewVarChar[n] = *len;
      d.NewVarType[n] = TypeCode(row.Var(n, store::VarField::kType).AsText());
      (void)snmp::EncodeName(d.NewVarOid[n], &d.new_var_names[n]);
    }
    // A trap number that is no OID's last part leaves it empty: wrapping then fails as it
    // always did, when the trap is encoded.
    d.wrapped_trap_oid = kWrappedTrapPrefix + d.TrapNewNumber;
    (void)snmp::EncodeBinding({kSnmpTrapOid, snmp::kTypeObjectId, d.wrapped_trap_oid, {}, {}},
                              &d.wrapped_trap_oid_encoding);
  }
  return Status::Ok();
}

}  // namespace tervane::relay
