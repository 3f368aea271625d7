// libFuzzer target for the relay's whole per-trap path, run as the service runs it for every
// datagram: Decode, FillCurrentTrap, the null-values and trap-in records, ChooseRoute,
// BuildWrapped or BuildForwarded with conversion to SNMPv1 off and then on, the sent trap's
// record, and Encode and Decode of what was built. The definitions come from the same input
// as SnmpTrap rows whose columns are values of every kind (Null, integer, real, text), so that
// LoadDefinitions' conversions meet whatever the window may have stored.
//
// SNMPv3 messages go through the User-based Security Model (UserSecurity::Receive, with fixed
// users of every level, see v3_peer.h) first, and what it accepts takes the same path; an
// inform is answered by UserSecurity::EncodeResponse.
//
// Input layout (bytes missing at the end read as 0):
//   2 bytes    n, big-endian: the length of the table description that follows
//   n bytes    the table description
//   the rest   the datagram, received from kSourceAddress; or, where it does not start with
//              0x30 (a SEQUENCE), an SNMPv3 description (see v3_peer.h): a message that the
//              fuzzer makes, encrypts and signs as one of its users would, so that mutated
//              plaintext reaches past the MAC check
// The table description, read byte by byte:
//   1 byte     the number of rows, modulo 33 (LoadDefinitions refuses a 31st); the byte
//              divided by 33, modulo 3, is the option AddSourceAddress: 0 "0", 1 "1",
//              2 "replace"
//   per row    TrapOID, TrapSourceVarNo, TrapNewVarNo and TrapNewNumber as values; one byte
//              k modulo 15; then k blocks of VarPos<i>, VarChar<i> and VarType<i> values
//   a value    one kind byte, modulo 8, and its content:
//                0 integer: 1 signed byte        4 real: 8 bytes, an IEEE double
//                1 Null                         5 text: a length byte, then that many bytes
//                2 integer: 8 bytes big-endian   6 text: the received trap's OID
//                3 real: 1 signed byte / 4       7 text: a type name (1 byte, modulo 8)
// Kind 6 lets a definition match the datagram, without which wrapping is never reached.
// Zero bytes read as the integer 0, so a short table of many rows still loads: a 31st row
// is reached.
// The custom mutator (relay_mutator.cc) changes the decoded datagram, or the description's
// ScopedPDU, as well as its bytes.
//
// Properties; a broken one stops the run at once with __builtin_trap, so libFuzzer keeps the
// input:
//   - nothing crashes, hangs or invokes undefined behaviour (the sanitizers watch that);
//   - the current trap that an earlier trap used is filled by a relayed message as a fresh
//     one is, but for the SNMPv1 header that an SNMPv2 message keeps;
//   - the datagram is decoded as the listener decodes it, into views whose bindings carry
//     their encoding where it is the encoder's own; the message that the views make equals
//     the one that Decode makes;
//   - building into the service's used outgoing trap gives what building into a fresh one
//     gives;
//   - encoding a built trap gives the same bytes with the received bindings' encodings (and
//     the encoded OIDs the definitions keep) as without, from the texts alone, or fails
//     alike: a binding sent on as it came is exactly what encoding it would send;
//   - with the texts made on demand (as the service decodes with debug mode off), the trap
//     is taken in alike and every build sends the same bytes, or fails alike;
//   - a built message has the shape its route says: its head, the pieces of the definition,
//     the received bindings but the source one in order, and a trailing snmpTrapAddress.0
//     exactly when the option's rule for it holds, with the address that rule names; so at
//     most 2 + 14 + 19 + 1 bindings (see CheckShape);
//   - an inform's acknowledgement encodes and decodes back to the same message, and its
//     encoding from the views is the same;
//   - a forwarded trap, made only of what the decoder produced, always encodes as the
//     service encodes it (EncodeFitting, which leaves off a source address that it added
//     where the datagram would be too large with it); a wrapped one is refused only for the
//     stored text it passes on; a built message that Encode accepts decodes back to the same
//     message;
//   - every debug record is lines that each end in CR LF and hold no other CR, LF, TAB or NUL;
//   - the trap-in record and the sent record of the trap agree: community, sysUpTime,
//     version, OID, agent and the received bindings; an SNMPv3 trap's record has its user
//     and no community, and it goes on as SNMPv2c with the community "public";
//   - UserSecurity counts one reason for each message it drops and none for one it takes or
//     that is malformed, and a Report answers only a dropped message; a message the fuzzer
//     made is taken or dropped, for the reason, as v3_peer.cc works out on its own, and is
//     taken as the PDU it was made of; any datagram it takes, also one as it came in the
//     input, is authentic: its MAC verifies with its user's key localized to its engine;
//     taken again (a copy within the time window), with the texts made on demand, it gives
//     the same message;
//   - a taken SNMPv3 inform is answered once, by a Response from this relay's engine at its
//     level and with its msgID, that verifies and decrypts with the user's keys and holds the
//     inform's PDU.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_table.h"
#include "fuzz/trap_record.h"
#include "fuzz/v3_peer.h"
#include "service/relay/debug_records.h"
#include "service/relay/definitions.h"
#include "service/relay/intake.h"
#include "service/relay/outgoing.h"
#include "service/relay/trap_state.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/codec.h"
#include "service/snmp/message.h"
#include "service/snmp/usm.h"
#include "service/snmp/v3_codec.h"
#include "store/relay_options.h"
#include "store/rows.h"
#include "store/value.h"

namespace {

namespace relay = tervane::relay;
namespace snmp = tervane::snmp;
namespace store = tervane::store;
namespace usm = tervane::snmp::usm;

constexpr char kStamp[] = "2024-05-14 03:12:55";
constexpr char kSourceAddress[] = "198.51.100.7";  // the sender, as the socket reports it
constexpr char kReceiveAddress[] = "192.0.2.1";    // the listener's own address

using tervane::fuzz::Bytes;
using tervane::fuzz::DatagramOffset;
using tervane::fuzz::kNowMs;
using enum tervane::fuzz::Head;
using tervane::fuzz::Check;
using tervane::fuzz::CheckLines;
using tervane::fuzz::Parse;
using tervane::fuzz::ReadTable;
using tervane::fuzz::Record;

// The text the decoder gives for a value text the encoder accepted. The encoder takes numbers
// with leading zeros ("042", as fixed-width pieces of a text often hold them), "-0" and an OID
// with a leading dot on purpose; the decoder writes every number plainly.
std::string PlainNumber(std::string_view digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? "0" : std::string(digits.substr(first));
}

std::string PlainDotted(std::string_view text) {
  if (text.starts_with('.')) text.remove_prefix(1);
  std::string plain;
  while (true) {
    const size_t dot = text.find('.');
    plain += PlainNumber(text.substr(0, dot));
    if (dot == std::string_view::npos) return plain;
    plain += '.';
    text.remove_prefix(dot + 1);
  }
}

std::string PlainValue(int32_t type, const std::string& text) {
  switch (type) {
    case snmp::kTypeInteger32: {
      if (!text.starts_with('-')) return PlainNumber(text);
      const std::string magnitude = PlainNumber(std::string_view(text).substr(1));
      return magnitude == "0" ? magnitude : "-" + magnitude;
    }
    case snmp::kTypeCounter32:
    case snmp::kTypeGauge32:
    case snmp::kTypeTimeTicks:
    case snmp::kTypeCounter64:
      return PlainNumber(text);
    case snmp::kTypeObjectId:
    case snmp::kTypeIpAddress:
      return PlainDotted(text);
    default:
      return text;
  }
}

snmp::Message Plain(snmp::Message m) {
  if (m.kind == snmp::kKindTrapV1) {
    m.enterprise = PlainDotted(m.enterprise);
    m.agent_address = PlainDotted(m.agent_address);
  }
  for (snmp::Variable& v : m.variables) {
    v.oid = PlainDotted(v.oid);
    v.value = PlainValue(v.type, v.value);
  }
  return m;
}

// The bindings of `out` against the trap and the definition `d` (null: forwarded): the head
// of its form, the pieces, the received bindings but the wrapped one, in order, and the
// snmpTrapAddress.0 of an SNMPv2 trap: the received one when it names an address, or the
// datagram's source as `mode` says. `added` says whether the build added one.
// The source number lies within 1 to 20 (BuildWrapped refuses any other) and a trap keeps at
// most 20 bindings, so a wrapped trap drops one of 20 or keeps at most 19: at most
// 2 + 14 + 19 + 1 bindings wrapped, 2 + 20 + 1 forwarded, and 3 fewer in the SNMPv1 form.
void CheckShape(const relay::CurrentTrap& trap, const relay::TrapDefinition* d, bool to_v1,
                store::SourceAddressMode mode, bool added, const snmp::Message& out) {
  const bool v1 = to_v1 || !trap.IsV2();
  const std::vector<snmp::Variable>& vars = out.variables;
  Check(out.kind == (v1 ? snmp::kKindTrapV1 : snmp::kKindTrapV2));
  Check(out.community == trap.TrapCommunity);
  Check(trap.TrapSysUpTime.has_value());
  size_t at = 0;
  if (v1) {
    Check(out.time_stamp == *trap.TrapSysUpTime);
    if (d != nullptr) {
      Check(out.enterprise == relay::kWrappedEnterprise && out.generic_trap == 6);
      Check(d->new_number.has_value() && out.specific_trap == *d->new_number);
    }
    Check(out.agent_address == (to_v1 ? trap.TrapSourceNetwork : trap.TrapSourceAgent));
  } else {
    const std::string oid =
        d != nullptr ? relay::kWrappedTrapPrefix + d->TrapNewNumber : std::string(trap.TrapOid);
    Check(vars.size() >= 2);
    Check(vars[0] == snmp::Variable{relay::kSysUpTimeOid, snmp::kTypeTimeTicks,
                                    std::to_string(*trap.TrapSysUpTime)});
    Check(vars[1] == snmp::Variable{relay::kSnmpTrapOid, snmp::kTypeObjectId, oid});
    at = 2;
  }
  if (d != nullptr) {
    const std::string_view source = trap.TrapVarList.varValue[d->TrapSourceVarNo];
    for (int n = 1; n <= d->TrapNewVarNo; ++n) {
      Check(at < vars.size());
      const snmp::Variable& piece = vars[at++];
      Check(piece.oid == d->NewVarOid[n] && piece.type == d->NewVarType[n]);
      const tervane::Result<std::string_view> cut =
          relay::CutPiece(source, d->NewVarPos[n], d->NewVarChar[n]);
      Check(cut.ok() && piece.value == *cut);
    }
  }
  for (int i = 1; i <= trap.TrapVarCount; ++i) {
    if (d != nullptr && i == d->TrapSourceVarNo) continue;
    Check(at < vars.size());
    Check(vars[at++] == snmp::Variable{std::string(trap.TrapVarList.varOid[i]),
                                       trap.TrapVarList.varType[i],
                                       std::string(trap.TrapVarList.varValue[i])});
  }
  const bool names_agent = trap.TrapSourceAgent != "0.0.0.0" &&
                           snmp::ValidateValue(snmp::kTypeIpAddress, trap.TrapSourceAgent).ok();
  const bool from_datagram =
      snmp::ValidateValue(snmp::kTypeIpAddress, trap.TrapSourceNetwork).ok() &&
      (mode == store::SourceAddressMode::kReplace ||
       (mode == store::SourceAddressMode::kAddWhenMissing && !names_agent));
  if (!v1 && (names_agent || from_datagram)) {
    Check(at < vars.size());
    Check(vars[at++] == snmp::Variable{relay::kSnmpTrapAddressOid, snmp::kTypeIpAddress,
                                       std::string(from_datagram ? trap.TrapSourceNetwork
                                                                 : trap.TrapSourceAgent)});
  }
  Check(added == (!v1 && from_datagram && !names_agent));
  Check(at == vars.size());
  const size_t received = d != nullptr ? relay::kMaxVars - 1 : relay::kMaxVars;
  const size_t pieces = d != nullptr ? relay::kMaxNewVars : 0;
  Check(vars.size() <= (v1 ? 0 : 2) + pieces + received + (v1 ? 0 : 1));
}

// The sent record against the trap-in record and the message it lists.
// An SNMPv3 trap is recorded with its user and no community, and goes on as SNMPv2c with the
// community kV3Community.
void CheckAgreement(const relay::CurrentTrap& trap, const Record& in, const Record& sent,
                    const relay::TrapDefinition* d, bool to_v1, const snmp::Message& out) {
  Check(sent.head[kCommunity] == relay::Printable(trap.TrapCommunity));
  Check(trap.IsV3() ? trap.TrapCommunity == relay::kV3Community
                    : sent.head[kCommunity] == in.head[kCommunity]);
  Check(sent.head[kCommunity] == relay::Printable(out.community));
  Check(!sent.user_name.has_value());
  Check(sent.head[kUpTime] == in.head[kUpTime]);
  Check(in.head[kVersion] == trap.TrapVersion);
  Check(sent.head[kVersion] == (to_v1 ? relay::kVersionV1 : trap.SentVersion()));
  Check(sent.head[kAgent] == (to_v1 ? in.head[kNetwork] : in.head[kAgent]));
  Check(sent.head[kNetwork] == kReceiveAddress);
  if (d != nullptr) {
    Check(sent.head[kOid] == relay::kWrappedTrapPrefix + relay::Printable(d->TrapNewNumber));
  } else {
    Check(sent.head[kOid] == in.head[kOid]);
  }
  if (out.kind == snmp::kKindTrapV1) {
    Check(sent.head[kUpTime] == std::to_string(out.time_stamp));
  } else {
    Check(sent.head[kUpTime] == out.variables[0].value);
    Check(sent.head[kOid] == relay::Printable(out.variables[1].value));
  }
  // The record lists what was sent: the pieces, then the received bindings but the wrapped
  // one, as the trap-in record lists them, then at most the snmpTrapAddress.0.
  const std::vector<relay::DumpVar> listed = relay::MessageVars(out);
  Check(sent.vars.size() == listed.size());
  size_t at = d != nullptr ? static_cast<size_t>(std::max<int>(d->TrapNewVarNo, 0)) : 0;
  for (size_t i = 0; i < in.vars.size(); ++i) {
    if (d != nullptr && static_cast<int>(i) + 1 == d->TrapSourceVarNo) continue;
    Check(at < sent.vars.size() && sent.vars[at++] == in.vars[i]);
  }
  Check(sent.vars.size() - at <= 1);
}

// The encoding of `message` as it is, and from its texts alone: without the encodings the
// bindings carry and without the encoded OIDs (a binding sent as it came, whose texts are made
// on demand, gets them first). Both must give the same bytes or both fail.
void CheckSameEncoding(const snmp::MessageView& message) {
  std::vector<uint8_t> as_is;
  const tervane::Status encoded = snmp::Encode(message, &as_is);
  std::vector<snmp::VariableView> bare(message.variables.begin(), message.variables.end());
  std::vector<std::array<char, snmp::kMaxBindingTexts>> rooms(bare.size());
  for (size_t i = 0; i < bare.size(); ++i) {
    bare[i] = snmp::WithTexts(bare[i], rooms[i].data());
    bare[i].encoding = bare[i].name = {};
  }
  snmp::MessageView texts = message;
  texts.variables = bare;
  std::vector<uint8_t> from_texts;
  Check(snmp::Encode(texts, &from_texts).ok() == encoded.ok());
  Check(as_is == from_texts);
}

// One route of the trap, as the service's senders take it; `used` is the service's outgoing
// trap, which holds whatever was built in it before.
void RelayOnce(const relay::CurrentTrap& trap, const relay::CurrentTrap& lazy,
               const relay::DefinitionTable& table, bool convert, store::SourceAddressMode mode,
               const Record& in, relay::OutgoingTrap* used) {
  const relay::Route route = relay::ChooseRoute(trap, table, convert);
  Check(route.definition == relay::FindDefinition(table, trap.TrapOid));
  Check(!route.to_v1 || (convert && trap.IsV2()));
  const relay::TrapDefinition* d = route.definition != 0 ? &table[route.definition] : nullptr;
  auto build = [&](relay::OutgoingTrap* t) {
    return d != nullptr ? relay::BuildWrapped(trap, *d, route.to_v1, mode, t)
                        : relay::BuildForwarded(trap, route.to_v1, mode, t);
  };
  const tervane::Status built = build(used);
  relay::OutgoingTrap fresh;
  const tervane::Status built_fresh = build(&fresh);
  Check(built.ok() == built_fresh.ok());
  // The same trap with its texts made on demand routes and sends alike.
  const relay::Route lazy_route = relay::ChooseRoute(lazy, table, convert);
  Check(lazy_route.definition == route.definition && lazy_route.to_v1 == route.to_v1);
  relay::OutgoingTrap lazy_out;
  const tervane::Status lazy_built =
      d != nullptr ? relay::BuildWrapped(lazy, *d, route.to_v1, mode, &lazy_out)
                   : relay::BuildForwarded(lazy, route.to_v1, mode, &lazy_out);
  Check(lazy_built.ok() == built.ok());
  if (built.ok()) {
    std::vector<uint8_t> bytes, lazy_bytes;
    const bool encoded = snmp::Encode(used->message(), &bytes).ok();
    Check(snmp::Encode(lazy_out.message(), &lazy_bytes).ok() == encoded);
    Check(bytes == lazy_bytes);
  }
  if (!built.ok()) {
    if (d == nullptr) {  // the service records a lost forwarded trap
      const char* module = route.to_v1 ? "SendTrapNotWrappedAndConvToV1" : "SendTrapNotWrapped";
      const std::string lost = relay::NotSentRecord(kStamp, trap, route.to_v1, kReceiveAddress,
                                                    module, built.description());
      CheckLines(lost);
      Check(Parse(lost).vars == in.vars);
    }
    return;
  }
  const snmp::Message out = snmp::ToMessage(used->message());
  Check(out == snmp::ToMessage(fresh.message()));
  CheckShape(trap, d, route.to_v1, mode, used->added_source_address(), out);
  CheckSameEncoding(used->message());

  const std::string sent = relay::SentRecord(kStamp, trap, d, route.to_v1, kReceiveAddress,
                                             relay::MessageVars(used->message()));
  CheckLines(sent);
  CheckAgreement(trap, in, Parse(sent), d, route.to_v1, out);

  // Encoded as the service encodes it; what it then lists and sends is message().
  std::vector<uint8_t> wire;
  const tervane::Status encoded =
      used->EncodeFitting([&](const snmp::MessageView& m) { return snmp::Encode(m, &wire); });
  if (!encoded.ok()) {
    // A forwarded trap holds nothing the decoder did not produce. A wrapped one may be
    // refused only for the stored text it passes on as it is: a piece that its type does not
    // take, and in the SNMPv2 form the trap OID that ends with the stored trap number. With
    // those made acceptable, what the relay made itself (the pieces' OIDs among them) and
    // the received bindings encode.
    Check(d != nullptr);
    snmp::Message tamed = out;
    size_t first_piece = 0;
    if (tamed.kind != snmp::kKindTrapV1) {
      tamed.variables[1].value = std::string(relay::kWrappedTrapPrefix) + "1";
      first_piece = 2;
    }
    for (int n = 0; n < d->TrapNewVarNo; ++n) {
      tamed.variables[first_piece + static_cast<size_t>(n)].type = snmp::kTypeDisplayString;
    }
    Check(snmp::Encode(tamed, &wire).ok());
    return;
  }
  snmp::Message back;
  Check(snmp::Decode(wire, &back).ok());
  Check(back == Plain(snmp::ToMessage(used->message())));
  // Only an added address is ever left off, and only the last binding.
  if (used->message().variables.size() != out.variables.size()) {
    Check(used->added_source_address() && !out.variables.empty() &&
          used->message().variables.size() == out.variables.size() - 1);
    Check(out.variables.back().oid == relay::kSnmpTrapAddressOid);
  }
}

// The service keeps one current trap for the whole process: this is what an earlier trap,
// an SNMPv1 one that sets every field, left in it. Its message lives on, as the trap views it.
relay::CurrentTrap EarlierTrap() {
  static snmp::Message m;
  m.kind = snmp::kKindTrapV1;
  m.community = "earlier";
  m.enterprise = "1.3.6.1.4.1.99";
  m.agent_address = "10.0.0.1";
  m.generic_trap = 6;
  m.specific_trap = 7;
  m.time_stamp = 55;
  for (int i = 1; i <= relay::kMaxVars; ++i) {
    m.variables.push_back({"1.3.6.1.4.1.99.1." + std::to_string(i), snmp::kTypeInteger32, "1"});
  }
  relay::CurrentTrap trap;
  relay::FillCurrentTrap(m, "10.0.0.2", trap);
  trap.TrapIndex = 3;
  return trap;
}

// Filling the used trap gives what filling a fresh one gives, but for the SNMPv1 header
// fields that an SNMPv2 message leaves as they were and the slot of the last definition.
void CheckSameFill(const relay::CurrentTrap& used, const relay::CurrentTrap& fresh,
                   const relay::CurrentTrap& earlier) {
  const relay::CurrentTrap& header = fresh.IsV2() ? earlier : fresh;
  Check(used.TrapVersion == fresh.TrapVersion && used.TrapOid == fresh.TrapOid);
  Check(used.TrapEnterprise == header.TrapEnterprise && used.TrapGeneric == header.TrapGeneric &&
        used.TrapSpecific == header.TrapSpecific);
  Check(used.TrapSourceAgent == fresh.TrapSourceAgent &&
        used.TrapSourceNetwork == fresh.TrapSourceNetwork &&
        used.TrapCommunity == fresh.TrapCommunity && used.TrapUserName == fresh.TrapUserName &&
        used.TrapSysUpTime == fresh.TrapSysUpTime);
  Check(used.TrapVarCount == fresh.TrapVarCount && used.TrapIndex == earlier.TrapIndex);
  Check(used.TrapVarList.varOid == fresh.TrapVarList.varOid &&
        used.TrapVarList.varValue == fresh.TrapVarList.varValue &&
        used.TrapVarList.varType == fresh.TrapVarList.varType);
}

// How UserSecurity took an SNMPv3 message.
struct V3Received {
  usm::UserSecurity* security = nullptr;
  std::span<const uint8_t> datagram;  // as it came, before decrypting
  size_t user = 0;                    // the user it was taken as, in Users()
};

// The per-trap path from the listener's decoding on: `view` as the listener decodes with
// debug mode on, every text made, and `lazy_view` the same datagram with the texts made on
// demand. `v3` is null but for an SNMPv3 message, whose inform UserSecurity::EncodeResponse
// answers; any other inform is answered by encoding it as a Response.

void RelayMessage(const snmp::MessageView& view, const snmp::MessageView& lazy_view,
                  std::span<const uint8_t> table_bytes, const V3Received* v3) {
  const snmp::Message message = snmp::ToMessage(view);
  Check(view.snmpv3 == (v3 != nullptr));
  relay::CurrentTrap fresh;
  const relay::Intake intake = relay::FillCurrentTrap(view, kSourceAddress, fresh);
  static const relay::CurrentTrap earlier = EarlierTrap();
  relay::CurrentTrap trap = earlier;
  const relay::Intake again = relay::FillCurrentTrap(view, kSourceAddress, trap);
  Check(again.null_list == intake.null_list && again.handled == intake.handled &&
        again.inform == intake.inform && again.malformed == intake.malformed);
  // Decoded as the listener decodes it with debug mode off, with texts made on demand: taken
  // in alike, but for the texts of the bindings, which it leaves unmade.
  relay::CurrentTrap lazy;
  const relay::Intake lazy_intake = relay::FillCurrentTrap(lazy_view, kSourceAddress, lazy);
  Check(lazy_intake.null_list == intake.null_list && lazy_intake.handled == intake.handled &&
        lazy_intake.inform == intake.inform && lazy_intake.malformed == intake.malformed);
  if (intake.handled) {
    Check(lazy.TrapVersion == fresh.TrapVersion && lazy.TrapOid == fresh.TrapOid &&
          lazy.TrapSourceAgent == fresh.TrapSourceAgent &&
          lazy.TrapCommunity == fresh.TrapCommunity && lazy.TrapUserName == fresh.TrapUserName &&
          lazy.TrapSysUpTime == fresh.TrapSysUpTime && lazy.TrapVarCount == fresh.TrapVarCount &&
          lazy.TrapVarList.varType == fresh.TrapVarList.varType);
  }
  // A message that is not relayed (a Response) sets nothing but empties the bindings, and
  // the service looks no further at the trap.
  if (intake.handled) CheckSameFill(trap, fresh, earlier);
  if (!intake.null_list.empty()) {
    CheckLines(relay::NullValuesRecord(kStamp, intake.null_list),
               std::string(kStamp) + "\tsnmpManager_Trap");
  }
  if (!intake.handled) return;
  if (intake.inform && v3 != nullptr) {
    // UserSecurity answers the inform it accepted last, once, signed and encrypted at its level.
    snmp::MessageView answer = view;
    answer.kind = snmp::kKindResponse;
    static snmp::BerWriter response;
    Check(v3->security->EncodeResponse(answer, kNowMs, &response).ok());
    tervane::fuzz::CheckResponse(response.data(), v3->datagram, v3->user, view);
    Check(!v3->security->EncodeResponse(answer, kNowMs, &response).ok());
  } else if (intake.inform) {
    // The listener acknowledges an inform with the received message as a Response.
    snmp::Message response = message;
    response.kind = snmp::kKindResponse;
    std::vector<uint8_t> wire;
    snmp::Message back;
    Check(snmp::Encode(response, &wire).ok() && snmp::Decode(wire, &back).ok());
    Check(back == response);
    snmp::MessageView answer = view;
    answer.kind = snmp::kKindResponse;
    std::vector<uint8_t> from_view;
    Check(snmp::Encode(answer, &from_view).ok() && from_view == wire);
  }
  const std::string trap_in = relay::TrapInRecord(kStamp, trap);
  CheckLines(trap_in);
  const Record in = Parse(trap_in);
  Check(static_cast<int>(in.vars.size()) == trap.TrapVarCount);
  Check(in.head[kCommunity] == (trap.IsV3() ? "" : relay::Printable(trap.TrapCommunity)));
  Check(in.user_name.has_value() == trap.IsV3());
  if (trap.IsV3()) Check(*in.user_name == relay::Printable(trap.TrapUserName));

  Bytes table_reader(table_bytes);
  store::SourceAddressMode mode = store::SourceAddressMode::kKeep;
  const std::vector<store::TrapRow> rows =
      ReadTable(table_reader, std::string(trap.TrapOid), &mode);
  relay::DefinitionTable table;
  // As in the service, a load that fails keeps the slots it filled, and they are used.
  (void)relay::LoadDefinitions(rows, table);
  CheckLines(relay::DefinitionListRecord(table));
  if (!intake.null_list.empty() || intake.malformed) return;  // recorded, never sent

  static relay::OutgoingTrap used;  // as the service's is, after earlier traps
  for (bool convert : {false, true}) RelayOnce(trap, lazy, table, convert, mode, in, &used);
}

// The datagram as the listener takes it, SNMPv1 or SNMPv2c: decoded into views, with the
// bindings' encodings, and again with the texts made on demand.
void ReceiveCommunity(std::span<const uint8_t> datagram, std::span<const uint8_t> table_bytes) {
  static snmp::DecodedMessage decoded, on_demand;
  snmp::Message message;
  const bool accepted = snmp::Decode(datagram, &decoded).ok();
  Check(accepted == snmp::Decode(datagram, &message).ok());
  if (!accepted) return;  // dropped by the listener
  Check(snmp::ToMessage(decoded.view()) == message);
  Check(snmp::Decode(datagram, &on_demand, snmp::Texts::kOnDemand).ok());
  RelayMessage(decoded.view(), on_demand.view(), table_bytes, nullptr);
}

// An SNMPv3 datagram as the listener takes it: through a UserSecurity of the fixed users,
// fresh for each input so that no engine's boots and time outlive it (the keys' cost is in
// the users' Ku, made once). `expected` says what it must make of it, when the fuzzer made the
// message; a datagram as it came in the input is only known to be authentic once taken.
void ReceiveV3(std::span<const uint8_t> datagram, std::span<const uint8_t> table_bytes,
               const tervane::fuzz::Expected* expected) {
  usm::UserSecurity security(tervane::fuzz::RelayEngine(), tervane::fuzz::Users());
  static std::vector<uint8_t> first, again;  // decrypted in place: the views lie in them
  first.assign(datagram.begin(), datagram.end());
  static snmp::DecodedMessage decoded, on_demand;
  const usm::UserSecurity::Outcome outcome = security.Receive(first, kNowMs, &decoded);
  uint64_t counted = 0;
  for (uint64_t n : security.drops()) counted += n;
  Check(counted == (outcome.counted ? 1 : 0) && !(outcome.accepted && outcome.counted));
  if (outcome.counted) Check(security.drops(outcome.drop) == 1);
  // A Report answers only a dropped message that asks for one.
  Check(outcome.report.empty() || (outcome.counted && snmp::IsV3(outcome.report)));
  if (expected != nullptr) {
    Check(outcome.accepted == expected->accepted);
    Check(outcome.counted == expected->drop.has_value());
    if (expected->drop) Check(outcome.drop == *expected->drop);
    // Each of the reasons the fuzzer's messages meet is a usmStats counter that a Report
    // carries; the first Report of a second is never held back.
    const bool reportable = (expected->flags & snmp::kFlagReportable) != 0;
    Check(outcome.report.empty() == !(reportable && expected->drop.has_value()));
  }
  Check(snmp::IsV3(datagram) || (!outcome.accepted && !outcome.counted));
  if (!outcome.accepted) return;
  const size_t user = tervane::fuzz::CheckAuthentic(datagram);
  const snmp::MessageView& view = decoded.view();
  Check(view.snmpv3 && view.user_name == tervane::fuzz::Users()[user].name);
  if (expected != nullptr) {
    Check(user == expected->user);
    Check(view.security_flags == (expected->flags & (snmp::kFlagAuth | snmp::kFlagPriv)));
    // The PDU is the one that was sent.
    static snmp::DecodedMessage sent;
    snmp::ScopedContext context;
    Check(snmp::DecodeScopedPdu(expected->plaintext, expected->padding, &sent, &context).ok());
    Check(snmp::ToMessage(sent.view()) == snmp::ToMessage(view));
  }
  // Sent again within the window, it is taken again alike: with the texts made on demand.
  again.assign(datagram.begin(), datagram.end());
  Check(security.Receive(again, kNowMs, &on_demand, snmp::Texts::kOnDemand).accepted);
  Check(snmp::ToMessage(on_demand.view()) == snmp::ToMessage(view));
  const V3Received v3{&security, datagram, user};
  RelayMessage(view, on_demand.view(), table_bytes, &v3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t datagram_at = DatagramOffset(data, size);
  const std::span<const uint8_t> table_bytes(data + std::min<size_t>(size, 2), data + datagram_at);
  const std::span<const uint8_t> datagram(data + datagram_at, data + size);
  if (tervane::fuzz::IsDescription(datagram)) {
    static std::vector<uint8_t> made;
    tervane::fuzz::Expected expected;
    if (tervane::fuzz::MakeMessage(datagram, &made, &expected)) {
      ReceiveV3(made, table_bytes, &expected);
    }
    return 0;
  }
  // Every datagram goes to the security model too: one that is not an authentic SNMPv3
  // message, as good as every mutated one, is dropped there.
  ReceiveV3(datagram, table_bytes, nullptr);
  if (!snmp::IsV3(datagram)) ReceiveCommunity(datagram, table_bytes);
  return 0;
}
