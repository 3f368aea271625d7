// Builds the outgoing traps from the current trap: the wrapped trap of a matching
// definition, and the trap forwarded unchanged, each in its SNMPv1 or SNMPv2 form.
//
// Pure: the result is a message for the agent to send. Each builder fails without a usable
// message when a value does not convert (a piece position below 1 or a negative length, a
// number that is no number).
//
// The message is made of views, as the current trap is: a received binding goes on as the
// same texts, with the encoding it arrived in, and a piece is a view of its source value, so
// building copies nothing and the encoder copies what it can instead of converting it.
//
// A trap that goes on as SNMPv2 ends with snmpTrapAddress.0 (1.3.6.1.6.3.18.1.3.0) as the
// relay option AddSourceAddress says (store::SourceAddressMode). Behind a relay the station
// sees the relay as the sender, so this binding is the only trace of the device left:
// - kKeep: the address the trap carried, when it carried one;
// - kAddWhenMissing: that, or for a trap that carried none the IPv4 address its datagram came
//   from (TrapSourceNetwork), as RFC 3584's proxy adds it;
// - kReplace: always the datagram's source address, in place of what the trap carried.
// A carried 0.0.0.0 or text that is no IPv4 address counts as none, and a source that is no
// IPv4 address (an IPv6 sender) adds and replaces nothing: the object is an IpAddress. An
// IPv4 sender that reached a listener on :: is written as its IPv4 address, so it counts as
// IPv4 here. SNMPv1 traps carry their agent-addr and never this binding; a converted one
// carries V1AgentAddress.
#ifndef TERVANE_SERVICE_RELAY_OUTGOING_H_
#define TERVANE_SERVICE_RELAY_OUTGOING_H_

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/relay/trap_state.h"
#include "service/snmp/codec.h"
#include "service/snmp/message.h"
#include "store/relay_options.h"

namespace tervane::relay {

// The piece of `source` that starts at the 1-based byte `position` and is `length` bytes
// long, cut short at the end of `source`; empty when it starts past the end or `length` is
// 0. A position below 1 or a negative length fails.
Result<std::string_view> CutPiece(std::string_view source, int position, int length);

// How the current trap is sent on: wrapped by the definition in slot `definition` (0: not
// wrapped, forwarded as it is), and whether in its SNMPv1 form.
struct Route {
  int definition = 0;
  bool to_v1 = false;
};

// Looks the trap up in `table` and decides its form. An SNMPv2 trap or inform is converted
// when `convert` is on, unless a binding that the sent trap carries is a Counter64: that has
// no SNMPv1 form, so such a trap goes on as SNMPv2 instead of being lost. A wrapped trap
// does not carry its source binding, which the pieces replace.
Route ChooseRoute(const CurrentTrap& trap, const DefinitionTable& table, bool convert);

// A trap to send: a message of views into the current trap and the definition it was built
// from, and into the few texts it keeps itself (the sysUpTime digits, a wrapped trap's OID).
// Valid while those are unchanged; building into it again reuses its memory. However a
// build ends, the message then holds exactly the bindings that build wrote.
class OutgoingTrap {
 public:
  OutgoingTrap() = default;
  OutgoingTrap(const OutgoingTrap&) = delete;
  OutgoingTrap& operator=(const OutgoingTrap&) = delete;

  const snmp::MessageView& message() const { return message_; }
  // Sends the built trap with `community` (which must outlive the message) in place of the
  // one it was built with: a station's own community string.
  void SetCommunity(std::string_view community) { message_.community = community; }

  // Whether the last binding is a source address that the build added: one the trap would
  // not carry with AddSourceAddress kKeep.
  bool added_source_address() const { return added_source_address_; }

  // Encodes the trap with every binding it was built with by `encode`, a callable that takes
  // the message and returns a Status (the agent's encode, queue or send). When that fails and
  // the trap carries a source address that the build added, it is encoded again without it:
  // a trap that the address would make too large for a datagram goes as it would without the
  // option, instead of being lost (the added binding is a valid IpAddress: its size is all
  // that leaving it off can mend). When that fails too, the trap is left as built and the
  // first failure returned. message() is then what was encoded last.
  template <typename Encode>
  Status EncodeFitting(Encode&& encode) {
    message_.variables = variables_;
    Status status = encode(message());
    if (status.ok() || !added_source_address_) return status;
    message_.variables = message_.variables.first(message_.variables.size() - 1);
    if (Status without = encode(message()); without.ok()) return without;
    message_.variables = variables_;
    return status;
  }

 private:
  friend class Builder;
  snmp::MessageView message_;
  std::vector<snmp::VariableView> variables_;
  bool added_source_address_ = false;
  char uptime_[16] = {};
  std::string trap_oid_;
  // The texts of a wrapped trap's source binding, when they are made on demand.
  std::array<char, snmp::kMaxBindingTexts> source_texts_{};
};

// The agent-addr of the SNMPv1 form of an SNMPv2 trap: the IPv4 address its datagram came
// from (TrapSourceNetwork); for a sender of another family (IPv6), which the field cannot
// hold, the snmpTrapAddress.0 the trap carried when that is an IPv4 address, else 0.0.0.0,
// as RFC 3584 (3.2) has a proxy do.
std::string_view V1AgentAddress(const CurrentTrap& trap);

// The wrapped trap for `definition`: SNMPv1 form when the received trap is SNMPv1 or
// `to_v1` is set (agent address V1AgentAddress then), else the SNMPv2 form, which ends
// with the snmpTrapAddress.0 that `source_address` gives it.
Status BuildWrapped(const CurrentTrap& trap, const TrapDefinition& definition, bool to_v1,
                    store::SourceAddressMode source_address, OutgoingTrap* out);

// The trap forwarded unchanged: its own version, or converted to SNMPv1 when `to_v1`. An
// SNMPv2 trap or inform goes on as an SNMPv2 trap ending with the snmpTrapAddress.0 that
// `source_address` gives it.
Status BuildForwarded(const CurrentTrap& trap, bool to_v1, store::SourceAddressMode source_address,
                      OutgoingTrap* out);

// The same builds into a Message of its own.
Status BuildWrapped(const CurrentTrap& trap, const TrapDefinition& definition, bool to_v1,
                    store::SourceAddressMode source_address, snmp::Message* out);
Status BuildForwarded(const CurrentTrap& trap, bool to_v1, store::SourceAddressMode source_address,
                      snmp::Message* out);

// Enterprise, generic-trap and specific-trap of the SNMPv1 form of an SNMPv2 trap OID: the
// standard traps (1.3.6.1.6.3.1.1.5 and below) by their generic-trap numbers, any other OID
// as an enterprise-specific trap. Fails for an OID that has no such form: a last
// sub-identifier above 2147483647, or too few sub-identifiers to leave an enterprise. The
// enterprise views `trap_oid`, of which it is the start, or a constant text.
struct V1Identity {
  std::string_view enterprise;
  int32_t generic_trap = 0;
  int32_t specific_trap = 0;
};
Result<V1Identity> ConvertTrapOid(std::string_view trap_oid);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_OUTGOING_H_
