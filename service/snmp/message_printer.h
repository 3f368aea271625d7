// GoogleTest printers for Message and Variable, so that a failed comparison in a test shows
// the fields instead of raw object bytes. Test-only; value texts are shown escaped.
#ifndef TERVANE_SERVICE_SNMP_MESSAGE_PRINTER_H_
#define TERVANE_SERVICE_SNMP_MESSAGE_PRINTER_H_

#include <ostream>

#include "service/snmp/message.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {

inline void PrintTo(const Variable& v, std::ostream* os) {
  *os << "{" << v.oid << " type " << v.type << " " << QuoteText(v.value) << "}";
}

inline void PrintTo(const Message& m, std::ostream* os) {
  *os << "{community " << QuoteText(m.community) << " kind " << m.kind << " request "
      << m.request_id << " error " << m.error_status << "/" << m.error_index << " enterprise "
      << m.enterprise << " agent " << m.agent_address << " generic " << m.generic_trap
      << " specific " << m.specific_trap << " stamp " << m.time_stamp << " bindings [";
  for (const Variable& v : m.variables) PrintTo(v, os);
  *os << "]}";
}

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_MESSAGE_PRINTER_H_
