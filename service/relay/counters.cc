#include "service/relay/counters.h"

#include <cstddef>

namespace tervane::relay {

void CounterRows(const RelayCounters& c, const std::vector<StationCounters>& stations,
                 const std::vector<std::string>& endpoints, std::vector<store::Counter>* out) {
  out->clear();
  out->push_back({"datagrams_received", "", c.datagrams_received});
  out->push_back({"snmpv1_traps_received", "", c.snmpv1_traps_received});
  out->push_back({"snmpv2_traps_received", "", c.snmpv2_traps_received});
  out->push_back({"informs_received", "", c.informs_received});
  out->push_back({"informs_answered", "", c.informs_answered});
  out->push_back({"traps_wrapped", "", c.traps_wrapped});
  out->push_back({"traps_passed_through", "", c.traps_passed_through});
  out->push_back({"traps_converted_to_v1", "", c.traps_converted_to_v1});
  for (size_t r = 0; r < kDropReasons; ++r) {
    out->push_back({"traps_dropped", kDropReasonLabels[r], c.traps_dropped[r]});
  }
  for (size_t i = 0; i < stations.size() && i < endpoints.size(); ++i) {
    out->push_back({"station_traps_sent", endpoints[i], stations[i].traps_sent});
    out->push_back({"station_send_failures", endpoints[i], stations[i].send_failures});
  }
  for (const HeldBackCount& held : c.traps_held_back) {
    out->push_back({"traps_held_back", held.rule, held.traps});
  }
  out->push_back({"snmpv3_traps_received", "", c.snmpv3_traps_received});
  out->push_back({"snmpv3_informs_received", "", c.snmpv3_informs_received});
  for (size_t r = 0; r < kSecurityDrops; ++r) {
    out->push_back({kSecurityDropNames[r], "", c.security_drops[r]});
  }
}

}  // namespace tervane::relay
