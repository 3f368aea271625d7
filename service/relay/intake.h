// Turns a received message into the current trap: version, OID, SNMPv1 header fields,
// source addresses, community, sysUpTime and up to 20 bindings.
//
// Pure: no socket, no file. The trap handler decides what to do with the outcome
// (acknowledge, record, look up, send).
#ifndef TERVANE_SERVICE_RELAY_INTAKE_H_
#define TERVANE_SERVICE_RELAY_INTAKE_H_

#include <string>

#include "platform/status.h"
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
  // An SNMPv2 message whose first two bindings are not sysUpTime.0 and snmpTrapOID.0: it is
  // acknowledged and recorded but never looked up or sent. The OID and sysUpTime of the
  // previous trap are not reused: both are emptied.
  bool malformed = false;
};

// Fills `trap` from `message`, received from `source_address`. The variable arrays are
// emptied first; the other fields are overwritten where the message sets them and keep
// their earlier values otherwise (SNMPv1 header fields on an SNMPv2 message).
// Fails (leaving `trap` partly filled) when a sysUpTime value is not a number.
Status FillCurrentTrap(const snmp::Message& message, const std::string& source_address,
                       CurrentTrap& trap, Intake* intake);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_INTAKE_H_
