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
#include "service/snmp/codec.h"

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {
namespace {

Status Malformed(const BerReader& reader) {
  return Status::Error(kErrorMalformed, reader.ErrorText());
}

Status Malformed(const std::string& what) { return Status::Error(kErrorMalformed, what); }

Status Refused(const std::string& what) { return Status::Error(kErrorInvalidArgument, what); }

std::string Hex(uint8_t tag) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[tag >> 4] + kDigits[tag & 0xF];
}

// Reads the variable-bindings SEQUENCE into out->variables, reusing the strings already
// there so that a Message decoded into again and again stops allocating.
Status DecodeBindings(BerReader* pdu, bool snmp_v1, Message* out) {
  BerReader list;
  if (!pdu->ReadConstructed(kTagSequence, &list) || !pdu->ExpectEnd()) return Malformed(*pdu);
  std::vector<Variable>& vars = out->variables;
  size_t n = 0;
  while (!list.empty()) {
    BerReader binding;
    if (!list.ReadConstructed(kTagSequence, &binding)) return Malformed(list);
    if (n == vars.size()) vars.emplace_back();
    Variable& var = vars[n];
    if (!binding.ReadOid(&var.oid)) return Malformed(binding);
    const size_t at = binding.offset();
    uint8_t tag;
    std::span<const uint8_t> content;
    if (!binding.ReadElement(&tag, &content)) return Malformed(binding);
    if (const char* why = ValueFromBer(tag, content, snmp_v1, &var.type, &var.value)) {
      binding.Reject(why, at);
      return Malformed(binding);
    }
    if (!binding.ExpectEnd()) return Malformed(binding);
    ++n;
  }
  vars.resize(n);
  return Status();
}

Status DecodeTrapV1(BerReader* pdu, Message* out) {
  if (!pdu->ReadOid(&out->enterprise)) return Malformed(*pdu);
  const size_t at = pdu->offset();
  std::span<const uint8_t> content;
  if (!pdu->ReadElement(kTagIpAddress, &content)) return Malformed(*pdu);
  if (content.size() != 4) {
    pdu->Reject("agent-addr not of 4 octets", at);
    return Malformed(*pdu);
  }
  FormatIp(content.first<4>(), &out->agent_address);
  if (!pdu->ReadInteger32(&out->generic_trap)) return Malformed(*pdu);
  if (out->generic_trap < 0 || out->generic_trap > 6) {
    return Malformed("generic-trap " + std::to_string(out->generic_trap) + " outside 0 to 6");
  }
  if (!pdu->ReadInteger32(&out->specific_trap)) return Malformed(*pdu);
  const size_t stamp_at = pdu->offset();
  if (!pdu->ReadElement(kTagTimeTicks, &content)) return Malformed(*pdu);
  if (const char* why = DecodeUnsigned32(content, &out->time_stamp)) {
    pdu->Reject(why, stamp_at);
    return Malformed(*pdu);
  }
  out->request_id = out->error_status = out->error_index = 0;
  return DecodeBindings(pdu, /*snmp_v1=*/true, out);
}

Status DecodeV2(BerReader* pdu, Message* out) {
  if (!pdu->ReadInteger32(&out->request_id) || !pdu->ReadInteger32(&out->error_status) ||
      !pdu->ReadInteger32(&out->error_index)) {
    return Malformed(*pdu);
  }
  out->enterprise.clear();
  out->agent_address.clear();
  out->generic_trap = out->specific_trap = 0;
  out->time_stamp = 0;
  return DecodeBindings(pdu, /*snmp_v1=*/false, out);
}

// Checks, in message order, everything Encode checks; used to name the first fault when
// the back-to-front encoding has run into one (it meets them last to first).
Status FirstProblem(const Message& message) {
  const bool v1 = message.kind == kKindTrapV1;
  uint8_t oid[kMaxOidContent];
  size_t length;
  if (v1) {
    if (const char* why = OidTextToBer(message.enterprise, oid, &length)) {
      return Refused("enterprise " + QuoteText(message.enterprise) + " " + why);
    }
    uint8_t octets[4];
    if (const char* why = ParseIpText(message.agent_address, octets)) {
      return Refused("agent address " + QuoteText(message.agent_address) + " " + why);
    }
    if (message.generic_trap < 0 || message.generic_trap > 6) {
      return Refused("generic-trap " + std::to_string(message.generic_trap) + " is outside 0 to 6");
    }
  }
  for (size_t i = 0; i < message.variables.size(); ++i) {
    const Variable& var = message.variables[i];
    const std::string where = "binding " + std::to_string(i + 1);
    if (const char* why = OidTextToBer(var.oid, oid, &length)) {
      return Refused(where + " OID " + QuoteText(var.oid) + " " + why);
    }
    Status status = ValueToBer(var.type, var.value, v1, nullptr);
    if (!status.ok()) return Refused(where + " (" + var.oid + "): " + status.description());
  }
  return Status();
}

// The Status for a message the back-to-front pass could not encode.
Status Fault(const Message& message) {
  Status status = FirstProblem(message);
  return status.ok() ? Refused("message refused by the encoder") : status;
}

Status EncodeInto(const Message& message, BerWriter* w) {
  uint8_t pdu_tag;
  switch (message.kind) {
    case kKindTrapV1:
      pdu_tag = kTagTrapV1Pdu;
      break;
    case kKindTrapV2:
      pdu_tag = kTagTrapV2Pdu;
      break;
    case kKindInform:
      pdu_tag = kTagInformPdu;
      break;
    case kKindResponse:
      pdu_tag = kTagResponsePdu;
      break;
    default:
      return Refused("unknown message kind " + std::to_string(message.kind));
  }
  const bool v1 = message.kind == kKindTrapV1;
  // Back to front: the last binding first, the message header last. What is written before
  // a refusal is simply dropped with the writer's content.
  for (size_t i = message.variables.size(); i-- > 0;) {
    const Variable& var = message.variables[i];
    const size_t mark = w->size();
    if (PutValue(var.type, var.value, v1, w) != nullptr || PutOid(var.oid, w) != nullptr) {
      return Fault(message);
    }
    w->PutHeader(kTagSequence, w->size() - mark);
  }
  w->PutHeader(kTagSequence, w->size());
  if (v1) {
    uint8_t octets[4];
    if (ParseIpText(message.agent_address, octets) != nullptr || message.generic_trap < 0 ||
        message.generic_trap > 6) {
      return Fault(message);
    }
    w->PutUnsigned(kTagTimeTicks, message.time_stamp);
    w->PutInteger(kTagInteger, message.specific_trap);
    w->PutInteger(kTagInteger, message.generic_trap);
    w->PutOctets(kTagIpAddress, {reinterpret_cast<const char*>(octets), 4});
    if (PutOid(message.enterprise, w) != nullptr) return Fault(message);
  } else {
    w->PutInteger(kTagInteger, message.error_index);
    w->PutInteger(kTagInteger, message.error_status);
    w->PutInteger(kTagInteger, message.request_id);
  }
  w->PutHeader(pdu_tag, w->size());
  w->PutOctets(kTagOctetString, message.community);
  w->PutInteger(kTagInteger, v1 ? 0 : 1);
  w->PutHeader(kTagSequence, w->size());
  if (w->size() > kMaxDatagram) {
    return Refused("encoded message of " + std::to_string(w->size()) +
                   " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                   " bytes)");
  }
  return Status();
}

}  // namespace

Status Decode(std::span<const uint8_t> datagram, Message* out) {
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
  if (!message.ReadOctetString(&out->community)) return Malformed(message);
  uint8_t pdu_tag;
  BerReader pdu;
  if (!message.ReadAnyConstructed(&pdu_tag, &pdu) || !message.ExpectEnd()) {
    return Malformed(message);
  }
  if (version == 0) {
    if (pdu_tag != kTagTrapV1Pdu) {
      return Malformed("PDU type " + Hex(pdu_tag) + " in an SNMPv1 message, only Trap-PDU");
    }
    out->kind = kKindTrapV1;
    return DecodeTrapV1(&pdu, out);
  }
  switch (pdu_tag) {
    case kTagTrapV2Pdu:
      out->kind = kKindTrapV2;
      break;
    case kTagInformPdu:
      out->kind = kKindInform;
      break;
    case kTagResponsePdu:
      out->kind = kKindResponse;
      break;
    default:
      return Malformed("PDU type " + Hex(pdu_tag) +
                       " in an SNMPv2c message, only SNMPv2-Trap, InformRequest and Response");
  }
  return DecodeV2(&pdu, out);
}

Status Encode(const Message& message, std::vector<uint8_t>* out) {
  // One writer per thread keeps its buffer from message to message.
  thread_local BerWriter writer;
  writer.Clear();
  Status status = EncodeInto(message, &writer);
  if (!status.ok()) {
    out->clear();
    return status;
  }
  const std::span<const uint8_t> data = writer.data();
  out->assign(data.begin(), data.end());
  return status;
}

Status ValidateValue(int32_t type, const std::string& text) {
  return ValueToBer(type, text, /*snmp_v1=*/false, nullptr);
}

}  // namespace tervane::snmp
