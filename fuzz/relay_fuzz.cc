// libFuzzer target for the relay's whole per-trap path, run as the service runs it for every
// datagram: Decode, FillCurrentTrap, the null-values and trap-in records, ChooseRoute,
// BuildWrapped or BuildForwarded with conversion to SNMPv1 off and then on, the sent trap's
// record, and Encode and Decode of what was built. The definitions come from the same input
// as SnmpTrap rows whose columns are values of every kind (Null, integer, real, text), so that
// LoadDefinitions' conversions meet whatever the window may have stored.
//
// Input layout (bytes missing at the end read as 0):
//   2 bytes    n, big-endian: the length of the table description that follows
//   n bytes    the table description
//   the rest   the datagram, received from kSourceAddress
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
// The custom mutator at the end changes the decoded datagram as well as its bytes.
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
//     version, OID, agent and the received bindings.
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
#include "service/relay/debug_records.h"
#include "service/relay/definitions.h"
#include "service/relay/intake.h"
#include "service/relay/outgoing.h"
#include "service/relay/trap_state.h"
#include "service/snmp/codec.h"
#include "service/snmp/message.h"
#include "store/relay_options.h"
#include "store/rows.h"
#include "store/value.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

namespace relay = tervane::relay;
namespace snmp = tervane::snmp;
namespace store = tervane::store;

constexpr char kStamp[] = "2024-05-14 03:12:55";
constexpr char kSourceAddress[] = "198.51.100.7";  // the sender, as the socket reports it
constexpr char kReceiveAddress[] = "192.0.2.1";    // the listener's own address

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

using tervane::fuzz::Bytes;
using tervane::fuzz::ReadTable;

// Every line ends in CR LF and holds no other CR, LF, TAB or NUL. `fixed_line` is one line of
// the record's own form that is let through: the null-values record sets the handler's name
// off from the time stamp with a TAB, a constant of the record and no value.
void CheckLines(std::string_view record, std::string_view fixed_line = {}) {
  Check(record.ends_with("\r\n"));
  size_t start = 0;
  while (start < record.size()) {
    const size_t end = record.find("\r\n", start);
    Check(end != std::string_view::npos);
    const std::string_view line = record.substr(start, end - start);
    if (fixed_line.empty() || line != fixed_line) {
      Check(line.find_first_of(std::string_view("\r\n\t\0", 4)) == std::string_view::npos);
    }
    start = end + 2;
  }
}

// A trap record read back: the six head values and the bindings' three values each.
struct Record {
  std::array<std::string_view, 6> head;  // TrapVersion, TrapOid, ... TrapSysUpTime
  std::vector<std::array<std::string_view, 3>> vars;
};
enum { kVersion, kOid, kAgent, kNetwork, kCommunity, kUpTime };

// Reads a record that CheckLines accepted; its views point into `text`.
Record Parse(std::string_view text) {
  static constexpr std::string_view kHead[] = {
      "TrapVersion=",       "TrapOid=",       "TrapSourceAgent=",
      "TrapSourceNetwork=", "TrapCommunity=", "TrapSysUpTime="};
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  Record record;
  Check(lines.size() >= 8);
  for (size_t i = 0; i < record.head.size(); ++i) {
    Check(lines[i + 1].starts_with(kHead[i]));
    record.head[i] = lines[i + 1].substr(kHead[i].size());
  }
  size_t at = 7;
  while (at < lines.size() && !lines[at].empty()) {
    const std::string n = std::to_string(record.vars.size() + 1);
    const std::string names[3] = {
        "TrapVarList.varOid(" + n + ")=", "TrapVarList.varValue(" + n + ")=",
        "TrapVarList.varType(" + n + ")="};
    std::array<std::string_view, 3> var;
    for (size_t j = 0; j < 3; ++j) {
      Check(at < lines.size() && lines[at].starts_with(names[j]));
      var[j] = lines[at++].substr(names[j].size());
    }
    record.vars.push_back(var);
  }
  Check(at < lines.size());  // the empty line that ends the bindings
  return record;
}

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
void CheckAgreement(const Record& in, const Record& sent, const relay::TrapDefinition* d,
                    bool to_v1, const snmp::Message& out) {
  Check(sent.head[kCommunity] == in.head[kCommunity]);
  Check(sent.head[kCommunity] == relay::Printable(out.community));
  Check(sent.head[kUpTime] == in.head[kUpTime]);
  Check(sent.head[kVersion] == (to_v1 ? relay::kVersionV1 : in.head[kVersion]));
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
  CheckAgreement(in, Parse(sent), d, route.to_v1, out);

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
        used.TrapCommunity == fresh.TrapCommunity && used.TrapSysUpTime == fresh.TrapSysUpTime);
  Check(used.TrapVarCount == fresh.TrapVarCount && used.TrapIndex == earlier.TrapIndex);
  Check(used.TrapVarList.varOid == fresh.TrapVarList.varOid &&
        used.TrapVarList.varValue == fresh.TrapVarList.varValue &&
        used.TrapVarList.varType == fresh.TrapVarList.varType);
}

// Where the datagram starts: after the 2 bytes of the table's length and the table.
size_t DatagramOffset(const uint8_t* data, size_t size) {
  if (size < 2) return size;
  return 2 + std::min((size_t{data[0]} << 8) | data[1], size - 2);
}

// `text` changed by one of libFuzzer's own byte mutations.
void MutateText(std::string& text, size_t max_size) {
  if (text.empty()) text.push_back('0');
  const size_t size = text.size();
  text.resize(std::max(size, max_size));
  text.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(text.data()), size, text.size()));
}

// One change to a decoded message: a text, a type, a header field, or the bindings' order
// and number.
void MutateMessage(snmp::Message& m, std::minstd_rand& random) {
  std::vector<snmp::Variable>& vars = m.variables;
  const size_t pick = vars.empty() ? 0 : random() % vars.size();
  switch (random() % 8) {
    case 0:
      MutateText(m.community, 64);
      break;
    case 1:
      if (!vars.empty()) MutateText(vars[pick].oid, 64);
      break;
    case 2:
      if (!vars.empty()) MutateText(vars[pick].value, 128);
      break;
    case 3:
      if (!vars.empty()) vars[pick].type = static_cast<int32_t>(random() % 10);
      break;
    case 4:
      if (!vars.empty()) vars.erase(vars.begin() + static_cast<ptrdiff_t>(pick));
      break;
    case 5:
      if (!vars.empty()) {
        const snmp::Variable copy = vars[pick];
        vars.insert(vars.begin() + static_cast<ptrdiff_t>(random() % (vars.size() + 1)), copy);
      }
      break;
    case 6:
      if (!vars.empty()) std::swap(vars[pick], vars[random() % vars.size()]);
      break;
    default:
      if (m.kind == snmp::kKindTrapV1) {
        MutateText(m.enterprise, 64);
        m.generic_trap = static_cast<int32_t>(random() % 7);
        m.specific_trap = static_cast<int32_t>(random());
      } else {
        m.kind = m.kind == snmp::kKindTrapV2 ? snmp::kKindInform : snmp::kKindTrapV2;
      }
      break;
  }
}

}  // namespace

// Most byte mutations of a datagram break one of its nested BER lengths and end at Decode:
// a trap OID or a binding list of another length is hardly ever reached that way. Half of
// the mutations therefore change the decoded message instead and encode it again; the other
// half, and every one whose message does not decode or encode, are libFuzzer's own, which
// also change the table.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  std::minstd_rand random(seed);
  const size_t datagram_at = DatagramOffset(data, size);
  snmp::Message message;
  std::vector<uint8_t> wire;
  if (random() % 2 == 0 || size < 2 ||
      !snmp::Decode({data + datagram_at, data + size}, &message).ok()) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  MutateMessage(message, random);
  if (!snmp::Encode(message, &wire).ok() || datagram_at + wire.size() > max_size) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  std::memcpy(data + datagram_at, wire.data(), wire.size());
  return datagram_at + wire.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t datagram_at = DatagramOffset(data, size);
  const std::span<const uint8_t> table_bytes(data + std::min<size_t>(size, 2), data + datagram_at);
  const std::span<const uint8_t> datagram(data + datagram_at, data + size);

  // Decoded as the listener decodes it: views, with the bindings' encodings.
  static snmp::DecodedMessage decoded;
  snmp::Message message;
  const bool accepted = snmp::Decode(datagram, &decoded).ok();
  Check(accepted == snmp::Decode(datagram, &message).ok());
  if (!accepted) return 0;  // dropped by the listener
  const snmp::MessageView& view = decoded.view();
  Check(snmp::ToMessage(view) == message);
  relay::CurrentTrap fresh;
  const relay::Intake intake = relay::FillCurrentTrap(view, kSourceAddress, fresh);
  static const relay::CurrentTrap earlier = EarlierTrap();
  relay::CurrentTrap trap = earlier;
  const relay::Intake again = relay::FillCurrentTrap(view, kSourceAddress, trap);
  Check(again.null_list == intake.null_list && again.handled == intake.handled &&
        again.inform == intake.inform && again.malformed == intake.malformed);
  // Decoded as the listener decodes it with debug mode off, with texts made on demand: taken
  // in alike, but for the texts of the bindings, which it leaves unmade.
  static snmp::DecodedMessage on_demand;
  Check(snmp::Decode(datagram, &on_demand, snmp::Texts::kOnDemand).ok());
  relay::CurrentTrap lazy;
  const relay::Intake lazy_intake = relay::FillCurrentTrap(on_demand.view(), kSourceAddress, lazy);
  Check(lazy_intake.null_list == intake.null_list && lazy_intake.handled == intake.handled &&
        lazy_intake.inform == intake.inform && lazy_intake.malformed == intake.malformed);
  if (intake.handled) {
    Check(lazy.TrapVersion == fresh.TrapVersion && lazy.TrapOid == fresh.TrapOid &&
          lazy.TrapSourceAgent == fresh.TrapSourceAgent &&
          lazy.TrapCommunity == fresh.TrapCommunity && lazy.TrapSysUpTime == fresh.TrapSysUpTime &&
          lazy.TrapVarCount == fresh.TrapVarCount &&
          lazy.TrapVarList.varType == fresh.TrapVarList.varType);
  }
  // A message that is not relayed (a Response) sets nothing but empties the bindings, and
  // the service looks no further at the trap.
  if (intake.handled) CheckSameFill(trap, fresh, earlier);
  if (!intake.null_list.empty()) {
    CheckLines(relay::NullValuesRecord(kStamp, intake.null_list),
               std::string(kStamp) + "\tsnmpManager_Trap");
  }
  if (!intake.handled) return 0;
  if (intake.inform) {
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

  Bytes table_reader(table_bytes);
  store::SourceAddressMode mode = store::SourceAddressMode::kKeep;
  const std::vector<store::TrapRow> rows =
      ReadTable(table_reader, std::string(trap.TrapOid), &mode);
  relay::DefinitionTable table;
  // As in the service, a load that fails keeps the slots it filled, and they are used.
  (void)relay::LoadDefinitions(rows, table);
  CheckLines(relay::DefinitionListRecord(table));
  if (!intake.null_list.empty() || intake.malformed) return 0;  // recorded, never sent

  static relay::OutgoingTrap used;  // as the service's is, after earlier traps
  for (bool convert : {false, true}) RelayOnce(trap, lazy, table, convert, mode, in, &used);
  return 0;
}
