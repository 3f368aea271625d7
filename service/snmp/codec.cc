// Message layout handled here:
//   Message ::= SEQUENCE { version INTEGER (0 | 1), community OCTET STRING, pdu }
//   SNMPv1 (version 0): Trap-PDU [4] IMPLICIT SEQUENCE { enterprise OBJECT IDENTIFIER,
//       agent-addr IpAddress, generic-trap INTEGER (0..6), specific-trap INTEGER,
//       time-stamp TimeTicks, variable-bindings }
//   SNMPv2c (version 1): Response-PDU [2], InformRequest-PDU [6], SNMPv2-Trap-PDU [7], each
//       IMPLICIT SEQUENCE { request-id, error-status, error-index INTEGER, variable-bindings }
//   variable-bindings ::= SEQUENCE OF SEQUENCE { name OBJECT IDENTIFIER, value }
// generic-trap is held to 0..6 in both directions: the relay builds a trap OID from it, and
// a value outside the enumeration names no trap at all.
// The SNMPv2 PDUs are read and written here for SNMPv3's ScopedPDU too (pdu_codec.h), with
// the Report-PDU, which only SNMPv3 carries.
#include "service/snmp/codec.h"

#include <charconv>
#include <optional>

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/oid_memo.h"
#include "service/snmp/pdu_codec.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {
namespace {

Status Malformed(const BerReader& reader) {
  return Status::Error(kErrorMalformed, reader.ErrorText());
}

Status Malformed(const std::string& what) { return Status::Error(kErrorMalformed, what); }

std::string Hex(uint8_t tag) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[tag >> 4] + kDigits[tag & 0xF];
}

// The texts one datagram can decode to: a text is at most four times as long as the element
// it comes from (an OID arc of one octet gives at most 4 characters, a number or address
// fewer for the octets it takes with its header), so every text of the largest datagram
// fits, with room left for one text of any size being written.
constexpr size_t kTextCapacity = 4 * kMaxDatagram + kMaxValueText + 64;

std::string_view AsText(std::span<const uint8_t> octets) {
  return {reinterpret_cast<const char*>(octets.data()), octets.size()};
}

// A binding whose three headers are all in the short form, as nearly every binding is:
// SEQUENCE { OBJECT IDENTIFIER, value }, each length below 128.
struct ShortBinding {
  std::span<const uint8_t> name;     // the OID's content
  uint8_t tag;                       // the value's tag
  std::span<const uint8_t> content;  // the value's content
  size_t size;                       // of the whole binding
};

// Reads such a binding from the `avail` bytes at `p`, with the checks the general reader
// makes of it; false for anything else, which the general reader then reads (and refuses
// with its reason where it is wrong). Short headers are the encoder's own form.
bool ReadShortBinding(const uint8_t* p, size_t avail, ShortBinding* out) {
  if (avail < 2 || p[0] != kTagSequence) return false;
  const size_t sequence = p[1];
  if (sequence >= 0x80 || sequence > avail - 2 || sequence < 4) return false;
  const size_t name = p[3];
  if (p[2] != kTagOid || name >= 0x80 || name > sequence - 4) return false;
  const uint8_t* value = p + 4 + name;
  const size_t content = value[1];
  if ((value[0] & 0x1F) == 0x1F || content >= 0x80 || 4 + name + 2 + content != 2 + sequence) {
    return false;
  }
  *out = {{p + 4, name}, value[0], {value + 2, content}, 2 + sequence};
  return true;
}

// Whether the element that starts at `start` and holds `content` has a header in the form
// the encoder writes: the shortest length form.
bool MinimalHeader(const uint8_t* start, std::span<const uint8_t> content) {
  const auto header = static_cast<size_t>(content.data() - start);
  const size_t n = content.size();
  return header == (n < 0x80 ? 2 : n < 0x100 ? 3 : n < 0x10000 ? 4 : 5);
}

}  // namespace

// One run of Decode: the cursor over the datagram and the texts it writes into the
// DecodedMessage. Each text is written at Room() and then kept.
class Decoding {
 public:
  Decoding(DecodedMessage* out, Texts texts)
      : out_(out), text_(out->text_.get()), on_demand_(texts == Texts::kOnDemand) {}

  // Where the next text goes, with kMaxValueText bytes of room; null when the texts are
  // full, which the bound above rules out for any datagram within kMaxDatagram.
  char* Room() const { return kTextCapacity - used_ >= kMaxValueText ? text_ + used_ : nullptr; }
  // Keeps `text`, which a conversion wrote at Room() or which views the datagram.
  std::string_view Keep(std::string_view text) {
    if (text.data() == text_ + used_) used_ += text.size();
    return text;
  }

  Status Run(std::span<const uint8_t> datagram);
  // The PDU of an SNMPv3 ScopedPDU, tagged `pdu_tag`: the SNMPv2 PDUs and the Report.
  Status Scoped(uint8_t pdu_tag, BerReader* pdu);

 private:
  // Whether `name` is a valid OID: known to the memo as one, or else converted (and so
  // remembered) where the next text would go, which is not kept.
  bool KnownOid(std::span<const uint8_t> name) const {
    if (OidMemo::ForThisThread().Known(name)) return true;
    char* room = Room();
    size_t length = 0;
    return room != nullptr && DecodeOidText(name, room, &length) == nullptr;
  }

  Status TrapV1(BerReader* pdu);
  Status V2(BerReader* pdu);
  Status Bindings(BerReader* pdu, bool snmp_v1);
  static Status Full(BerReader* reader) {
    reader->Reject("texts beyond the decoder's room", reader->offset());
    return Malformed(*reader);
  }

  DecodedMessage* out_;
  char* text_;
  size_t used_ = 0;
  bool on_demand_;
};

DecodedMessage::DecodedMessage() : text_(std::make_unique_for_overwrite<char[]>(kTextCapacity)) {}

// Reads the variable-bindings SEQUENCE; the bindings' memory is kept from message to
// message, so that a message decoded into again and again stops allocating.
Status Decoding::Bindings(BerReader* pdu, bool snmp_v1) {
  BerReader list;
  if (!pdu->ReadConstructed(kTagSequence, &list) || !pdu->ExpectEnd()) return Malformed(*pdu);
  std::vector<VariableView>& vars = out_->variables_;
  vars.clear();
  while (!list.empty()) {
    const uint8_t* start = list.position();
    ShortBinding b;
    if (ReadShortBinding(start, list.remaining(), &b)) {
      // The second binding of an SNMPv2 PDU, snmpTrapOID.0, is read by every reader: its
      // texts are always made. The first, sysUpTime.0, is read as a number.
      int32_t type;
      if (on_demand_ && (snmp_v1 || vars.size() != 1) &&
          CanonicalValueType(b.tag, b.content, snmp_v1, &type) && KnownOid(b.name)) {
        // Checked as when the texts are made; they are made when they are wanted.
        VariableView& var = vars.emplace_back();
        var.type = type;
        if (type == kTypeDisplayString || type == kTypeOpaque) var.value = AsText(b.content);
        var.encoding = {start, b.size};
        var.name = {start + 2, b.name.data() + b.name.size()};
        list.Advance(b.size);
        continue;
      }
      const size_t used = used_;
      VariableView& var = vars.emplace_back();
      char* room = Room();
      size_t length = 0;
      if (room != nullptr && DecodeOidText(b.name, room, &length) == nullptr) {
        var.oid = Keep({room, length});
        room = Room();
        std::string_view value;
        if (room != nullptr &&
            ValueTextInto(b.tag, b.content, snmp_v1, &var.type, room, &value) == nullptr) {
          var.value = Keep(value);
          if (CanonicalValue(b.tag, b.content)) var.encoding = {start, b.size};
          var.name = {start + 2, b.name.data() + b.name.size()};
          list.Advance(b.size);
          continue;
        }
      }
      // Read again the general way, which names what is wrong.
      vars.pop_back();
      used_ = used;
    }
    BerReader binding;
    if (!list.ReadConstructed(kTagSequence, &binding)) return Malformed(list);
    const bool texts_wanted = !on_demand_ || (!snmp_v1 && vars.size() == 1);
    VariableView& var = vars.emplace_back();
    const uint8_t* name_start = binding.position();
    const size_t name_at = binding.offset();
    std::span<const uint8_t> name;
    if (!binding.ReadElement(kTagOid, &name)) return Malformed(binding);
    if (!texts_wanted && MinimalHeader(name_start, name) && KnownOid(name)) {
      // As above: a binding in the encoder's form has its texts made on demand.
      const uint8_t* value_start = binding.position();
      BerReader probe = binding;
      uint8_t tag;
      std::span<const uint8_t> content;
      int32_t type;
      if (probe.ReadElement(&tag, &content) && probe.empty() &&
          CanonicalValueType(tag, content, snmp_v1, &type) &&
          MinimalHeader(start, binding.data()) && MinimalHeader(value_start, content)) {
        var.type = type;
        if (type == kTypeDisplayString || type == kTypeOpaque) var.value = AsText(content);
        var.encoding = {start, list.position()};
        var.name = {name_start, name.data() + name.size()};
        continue;
      }
    }
    char* room = Room();
    if (room == nullptr) return Full(&binding);
    size_t length = 0;
    if (const char* why = DecodeOidText(name, room, &length)) {
      binding.Reject(why, name_at);
      return Malformed(binding);
    }
    var.oid = Keep({room, length});
    const uint8_t* value_start = binding.position();
    const size_t at = binding.offset();
    uint8_t tag;
    std::span<const uint8_t> content;
    if (!binding.ReadElement(&tag, &content)) return Malformed(binding);
    room = Room();
    if (room == nullptr) return Full(&binding);
    std::string_view value;
    if (const char* why = ValueTextInto(tag, content, snmp_v1, &var.type, room, &value)) {
      binding.Reject(why, at);
      return Malformed(binding);
    }
    var.value = Keep(value);
    if (!binding.ExpectEnd()) return Malformed(binding);
    if (MinimalHeader(name_start, name)) var.name = {name_start, name.data() + name.size()};
    if (MinimalHeader(start, binding.data()) && MinimalHeader(name_start, name) &&
        MinimalHeader(value_start, content) && CanonicalValue(tag, content)) {
      var.encoding = {start, list.position()};
    }
  }
  out_->view_.variables = vars;
  return Status();
}

Status Decoding::TrapV1(BerReader* pdu) {
  MessageView& view = out_->view_;
  const size_t enterprise_at = pdu->offset();
  std::span<const uint8_t> content;
  if (!pdu->ReadElement(kTagOid, &content)) return Malformed(*pdu);
  char* room = Room();
  if (room == nullptr) return Full(pdu);
  size_t length = 0;
  if (const char* why = DecodeOidText(content, room, &length)) {
    pdu->Reject(why, enterprise_at);
    return Malformed(*pdu);
  }
  view.enterprise = Keep({room, length});
  const size_t at = pdu->offset();
  if (!pdu->ReadElement(kTagIpAddress, &content)) return Malformed(*pdu);
  if (content.size() != 4) {
    pdu->Reject("agent-addr not of 4 octets", at);
    return Malformed(*pdu);
  }
  room = Room();
  if (room == nullptr) return Full(pdu);
  view.agent_address = Keep({room, FormatIpInto(content.first<4>(), room)});
  if (!pdu->ReadInteger32(&view.generic_trap)) return Malformed(*pdu);
  if (view.generic_trap < 0 || view.generic_trap > 6) {
    return Malformed("generic-trap " + std::to_string(view.generic_trap) + " outside 0 to 6");
  }
  if (!pdu->ReadInteger32(&view.specific_trap)) return Malformed(*pdu);
  const size_t stamp_at = pdu->offset();
  if (!pdu->ReadElement(kTagTimeTicks, &content)) return Malformed(*pdu);
  if (const char* why = DecodeUnsigned32(content, &view.time_stamp)) {
    pdu->Reject(why, stamp_at);
    return Malformed(*pdu);
  }
  view.request_id = view.error_status = view.error_index = 0;
  return Bindings(pdu, /*snmp_v1=*/true);
}

Status Decoding::V2(BerReader* pdu) {
  MessageView& view = out_->view_;
  if (!pdu->ReadInteger32(&view.request_id) || !pdu->ReadInteger32(&view.error_status) ||
      !pdu->ReadInteger32(&view.error_index)) {
    return Malformed(*pdu);
  }
  view.enterprise = {};
  view.agent_address = {};
  view.generic_trap = view.specific_trap = 0;
  view.time_stamp = 0;
  return Bindings(pdu, /*snmp_v1=*/false);
}

Status Decoding::Run(std::span<const uint8_t> datagram) {
  MessageView& view = out_->view_;
  view.variables = {};
  // What an SNMPv3 decoding into the same object set is not this message's.
  view.snmpv3 = false;
  view.user_name = {};
  view.security_flags = 0;
  if (datagram.size() > kMaxDatagram) {
    return Malformed("datagram of " + std::to_string(datagram.size()) +
                     " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                     " bytes)");
  }
  BerReader top(datagram);
  BerReader message;
  if (!top.ReadConstructed(kTagSequence, &message) || !top.ExpectEnd()) return Malformed(top);
  int64_t version;
  if (!message.ReadInteger(&version)) return Malformed(message);
  if (version != 0 && version != 1) {
    return Malformed("unsupported SNMP version " + std::to_string(version));
  }
  std::span<const uint8_t> community;
  if (!message.ReadElement(kTagOctetString, &community)) return Malformed(message);
  view.community = AsText(community);
  uint8_t pdu_tag;
  BerReader pdu;
  if (!message.ReadAnyConstructed(&pdu_tag, &pdu) || !message.ExpectEnd()) {
    return Malformed(message);
  }
  if (version == 0) {
    if (pdu_tag != kTagTrapV1Pdu) {
      return Malformed("PDU type " + Hex(pdu_tag) + " in an SNMPv1 message, only Trap-PDU");
    }
    view.kind = kKindTrapV1;
    return TrapV1(&pdu);
  }
  switch (pdu_tag) {
    case kTagTrapV2Pdu:
      view.kind = kKindTrapV2;
      break;
    case kTagInformPdu:
      view.kind = kKindInform;
      break;
    case kTagResponsePdu:
      view.kind = kKindResponse;
      break;
    default:
      return Malformed("PDU type " + Hex(pdu_tag) +
                       " in an SNMPv2c message, only SNMPv2-Trap, InformRequest and Response");
  }
  return V2(&pdu);
}

Status Decoding::Scoped(uint8_t pdu_tag, BerReader* pdu) {
  MessageView& view = out_->view_;
  view.variables = {};
  view.community = {};
  // The caller, which authenticated the message, says whose it is.
  view.snmpv3 = false;
  view.user_name = {};
  view.security_flags = 0;
  switch (pdu_tag) {
    case kTagTrapV2Pdu:
      view.kind = kKindTrapV2;
      break;
    case kTagInformPdu:
      view.kind = kKindInform;
      break;
    case kTagResponsePdu:
      view.kind = kKindResponse;
      break;
    case kTagReportPdu:
      view.kind = kKindReport;
      break;
    default:
      return Malformed("PDU type " + Hex(pdu_tag) +
                       " in an SNMPv3 message, only SNMPv2-Trap, InformRequest, Response and"
                       " Report");
  }
  return V2(pdu);
}

Status DecodeV3Pdu(uint8_t pdu_tag, BerReader* pdu, DecodedMessage* out, Texts texts) {
  return Decoding(out, texts).Scoped(pdu_tag, pdu);
}

Status Decode(std::span<const uint8_t> datagram, DecodedMessage* out, Texts texts) {
  return Decoding(out, texts).Run(datagram);
}

static_assert(kMaxBindingTexts >= 2 * kMaxValueText);

VariableView WithTexts(const VariableView& variable, char* room) {
  if (!variable.oid.empty() || variable.encoding.empty()) return variable;
  // A binding decoded and checked already: the reads cannot fail.
  VariableView made = variable;
  BerReader top(variable.encoding);
  BerReader binding;
  std::span<const uint8_t> name;
  uint8_t tag = 0;
  std::span<const uint8_t> content;
  size_t length = 0;
  if (!top.ReadConstructed(kTagSequence, &binding) || !binding.ReadElement(kTagOid, &name) ||
      !binding.ReadElement(&tag, &content) || DecodeOidText(name, room, &length) != nullptr) {
    return made;
  }
  made.oid = {room, length};
  std::string_view value;
  if (ValueTextInto(tag, content, /*snmp_v1=*/false, &made.type, room + kMaxValueText, &value) ==
      nullptr) {
    made.value = value;
  }
  return made;
}

std::optional<uint64_t> UnsignedNumber(const VariableView& variable) {
  switch (variable.type) {
    case kTypeInteger32:
    case kTypeCounter32:
    case kTypeGauge32:
    case kTypeTimeTicks:
    case kTypeCounter64:
      break;
    default:
      return std::nullopt;
  }
  if (!variable.oid.empty() || variable.encoding.empty()) {
    // The decimal text; an unsigned reading refuses a sign.
    const std::string_view text = variable.value;
    uint64_t number = 0;
    const auto [stop, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || stop != text.data() + text.size() || text.empty()) {
      return std::nullopt;
    }
    return number;
  }
  // A binding decoded and checked already, its value of the type it says. A number's binding
  // in the encoder's form has headers of two octets: SEQUENCE, OID, then the value.
  const std::span<const uint8_t> e = variable.encoding;
  uint8_t tag = 0;
  std::span<const uint8_t> content;
  if (e.size() >= 6 && e[1] < 0x80 && e[3] < 0x80 && size_t{4} + e[3] + 2 <= e.size() &&
      e[5 + e[3]] < 0x80 && e[5 + e[3]] == e.size() - 6 - e[3]) {
    tag = e[4 + e[3]];
    content = e.subspan(6 + e[3]);
  } else {
    BerReader top(e);
    BerReader binding;
    std::span<const uint8_t> name;
    if (!top.ReadConstructed(kTagSequence, &binding) || !binding.ReadElement(kTagOid, &name) ||
        !binding.ReadElement(&tag, &content)) {
      return std::nullopt;
    }
  }
  if (tag == kTagInteger) {
    int64_t number = 0;
    if (DecodeSigned(content, &number) != nullptr || number < 0) return std::nullopt;
    return static_cast<uint64_t>(number);
  }
  // Read as ValueTextInto reads each type, so that both ways give the same number.
  if (tag == kTagCounter64) {
    uint64_t number = 0;
    if (DecodeUnsigned64(content, &number) != nullptr) return std::nullopt;
    return number;
  }
  uint32_t number = 0;
  if (DecodeUnsigned32(content, &number) != nullptr) return std::nullopt;
  return number;
}

Status Decode(std::span<const uint8_t> datagram, Message* out) {
  thread_local DecodedMessage decoded;
  Status status = Decode(datagram, &decoded);
  if (status.ok()) ToMessage(decoded.view(), out);
  return status;
}

void ToMessage(const MessageView& view, Message* out) {
  SetText(&out->community, view.community.data(), view.community.size());
  out->kind = view.kind;
  out->request_id = view.request_id;
  out->error_status = view.error_status;
  out->error_index = view.error_index;
  SetText(&out->enterprise, view.enterprise.data(), view.enterprise.size());
  SetText(&out->agent_address, view.agent_address.data(), view.agent_address.size());
  out->generic_trap = view.generic_trap;
  out->specific_trap = view.specific_trap;
  out->time_stamp = view.time_stamp;
  // The strings of the bindings already there are written over, not made anew.
  out->variables.resize(view.variables.size());
  char room[kMaxBindingTexts];
  for (size_t i = 0; i < view.variables.size(); ++i) {
    const VariableView from = WithTexts(view.variables[i], room);
    Variable& to = out->variables[i];
    SetText(&to.oid, from.oid.data(), from.oid.size());
    to.type = from.type;
    SetText(&to.value, from.value.data(), from.value.size());
  }
}

Message ToMessage(const MessageView& view) {
  Message message;
  ToMessage(view, &message);
  return message;
}

MessageView ViewOf(const Message& message, std::vector<VariableView>* variables) {
  variables->clear();
  for (const Variable& v : message.variables)
    variables->push_back({v.oid, v.type, v.value, {}, {}});
  MessageView view;
  view.community = message.community;
  view.kind = message.kind;
  view.request_id = message.request_id;
  view.error_status = message.error_status;
  view.error_index = message.error_index;
  view.enterprise = message.enterprise;
  view.agent_address = message.agent_address;
  view.generic_trap = message.generic_trap;
  view.specific_trap = message.specific_trap;
  view.time_stamp = message.time_stamp;
  view.variables = *variables;
  return view;
}

}  // namespace tervane::snmp
