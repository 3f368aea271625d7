// Turns a received message into the current trap: version, OID, SNMPv1 header fields,
// source addresses, community, sysUpTime and up to 20 bindings.
//
// Pure: no socket, no file. The trap handler decides what to do with the outcome
// (acknowledge, record, look up, send).
#ifndef TERVANE_SERVICE_RELAY_INTAKE_H_
#define TERVANE_SERVICE_RELAY_INTAKE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/relay/trap_state.h"
#include "service/snmp/message.h"

namespace tervane::relay {

struct Intake {
  // The OIDs of the bindings that carry no value, each followed by CR LF, in arrival order.
  std::string null_list;
  // The message is an SNMPv1 trap, SNMPv2 trap or inform; anything else is not relayed.
  bool handled = false;
  // An inform, to be acknowledged.
  bool inform = false;
  // An SNMPv2 message whose first two bindings are not sysUpTime.0 holding a TimeTicks value
  // (a number from 0 to 4294967295) and snmpTrapOID.0 holding an OID: it is acknowledged and
  // recorded but never looked up or sent. What it lacks is not taken from the previous trap:
  // a missing OID is emptied, a missing sysUpTime is none.
  bool malformed = false;
};

// The encoded OIDs of the bindings that head an SNMPv2 trap and of snmpTrapAddress.0, made
// once: a binding whose texts are made on demand is known, and a head binding written, by
// its encoded OID.
struct KnownNames {
  std::vector<uint8_t> sys_up_time;
  std::vector<uint8_t> trap_oid;
  std::vector<uint8_t> trap_address;
};
const KnownNames& EncodedNames();

// Fills `trap` from `message`, received from `source_address`. The variable arrays are
// emptied first and then view the bindings of `message`, which must stay unchanged while the
// trap is used; the other fields are overwritten where the message sets them and keep their
// earlier values otherwise (SNMPv1 header fields on an SNMPv2 message). Every message can be
// taken in: what is wrong with it is said in the Intake.
Intake FillCurrentTrap(const snmp::MessageView& message, std::string_view source_address,
                       CurrentTrap& trap);
// The same for a Message, which the trap's bindings then view.
Intake FillCurrentTrap(const snmp::Message& message, std::string_view source_address,
                       CurrentTrap& trap);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_INTAKE_H_
