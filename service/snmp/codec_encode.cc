// Encoding of whole SNMP messages (codec.h) and of the PDUs that SNMPv3's ScopedPDU carries
// (pdu_codec.h), back to front: the last binding first, the message header last.
#include <string>
#include <vector>

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/codec.h"
#include "service/snmp/oid_memo.h"
#include "service/snmp/pdu_codec.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {
namespace {

Status Refused(const std::string& what) { return Status::Error(kErrorInvalidArgument, what); }

// Checks, in message order, everything Encode checks; used to name the first fault when
// the back-to-front encoding has run into one (it meets them last to first).
Status FirstProblem(const MessageView& message) {
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
    char room[kMaxBindingTexts];
    const VariableView var = WithTexts(message.variables[i], room);
    const std::string where = "binding " + std::to_string(i + 1);
    if (const char* why = OidTextToBer(var.oid, oid, &length)) {
      return Refused(where + " OID " + QuoteText(var.oid) + " " + why);
    }
    Status status = ValueToBer(var.type, var.value, v1, nullptr);
    if (!status.ok()) {
      return Refused(where + " (" + std::string(var.oid) + "): " + status.description());
    }
  }
  return Status();
}

// Prepends one binding; false, with what was written of it left in the writer, when its
// texts are refused.
bool PutBinding(const VariableView& var, bool v1, BerWriter* w) {
  // A binding that arrived in the form written here goes as it came; SNMPv1 still refuses
  // a Counter64 below.
  if (!var.encoding.empty() && !(v1 && var.type == kTypeCounter64)) {
    w->PutBytes(var.encoding);
    return true;
  }
  const size_t mark = w->size();
  if (PutValue(var.type, var.value, v1, w) != nullptr) return false;
  if (!var.name.empty()) {
    w->PutBytes(var.name);
  } else if (PutOid(var.oid, w) != nullptr) {
    return false;
  }
  w->PutHeader(kTagSequence, w->size() - mark);
  return true;
}

// The Status for a message the back-to-front pass could not encode.
Status Fault(const MessageView& message) {
  Status status = FirstProblem(message);
  return status.ok() ? Refused("message refused by the encoder") : status;
}

// PutPdu's body, forced inline into EncodeInto, which runs for every message sent.
[[gnu::always_inline]] inline Status PutPduInline(const MessageView& message, bool scoped,
                                                  BerWriter* w) {
  uint8_t pdu_tag;
  switch (message.kind) {
    case kKindTrapV1:
      if (scoped) return Refused("an SNMPv1 Trap-PDU cannot go in an SNMPv3 message");
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
    case kKindReport:
      if (scoped) {
        pdu_tag = kTagReportPdu;
        break;
      }
      [[fallthrough]];
    default:
      return Refused("unknown message kind " + std::to_string(message.kind));
  }
  const bool v1 = message.kind == kKindTrapV1;
  const size_t mark = w->size();
  // Back to front: the last binding first, the PDU header last. What is written before
  // a refusal is simply dropped with the writer's content.
  for (size_t i = message.variables.size(); i-- > 0;) {
    // Bindings that go as they came and lay one after the other in their datagram go in
    // one copy.
    const VariableView& var = message.variables[i];
    if (!var.encoding.empty() && !(v1 && var.type == kTypeCounter64)) {
      const uint8_t* first = var.encoding.data();
      const uint8_t* const end = first + var.encoding.size();
      for (; i > 0; --i) {
        const VariableView& before = message.variables[i - 1];
        if (before.encoding.empty() || (v1 && before.type == kTypeCounter64) ||
            before.encoding.data() + before.encoding.size() != first) {
          break;
        }
        first = before.encoding.data();
      }
      w->PutBytes({first, end});
      continue;
    }
    if (!PutBinding(var, v1, w)) return Fault(message);
  }
  w->PutHeader(kTagSequence, w->size() - mark);
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
  w->PutHeader(pdu_tag, w->size() - mark);
  return Status();
}

Status EncodeInto(const MessageView& message, BerWriter* w) {
  Status pdu = PutPduInline(message, /*scoped=*/false, w);
  if (!pdu.ok()) return pdu;
  w->PutOctets(kTagOctetString, message.community);
  w->PutInteger(kTagInteger, message.kind == kKindTrapV1 ? 0 : 1);
  w->PutHeader(kTagSequence, w->size());
  if (w->size() > kMaxDatagram) {
    return Refused("encoded message of " + std::to_string(w->size()) +
                   " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                   " bytes)");
  }
  return Status();
}

}  // namespace

Status PutPdu(const MessageView& message, bool scoped, BerWriter* writer) {
  return PutPduInline(message, scoped, writer);
}

Status EncodeInPlace(const MessageView& message, std::span<const uint8_t>* datagram) {
  // One writer per thread keeps its buffer from message to message.
  thread_local BerWriter writer;
  writer.Clear();
  Status status = EncodeInto(message, &writer);
  *datagram = status.ok() ? writer.data() : std::span<const uint8_t>();
  return status;
}

Status Encode(const MessageView& message, BerWriter* writer) {
  writer->Clear();
  return EncodeInto(message, writer);
}

Status Encode(const MessageView& message, std::vector<uint8_t>* out) {
  std::span<const uint8_t> datagram;
  Status status = EncodeInPlace(message, &datagram);
  out->assign(datagram.begin(), datagram.end());
  return status;
}

Status Encode(const Message& message, std::vector<uint8_t>* out) {
  thread_local std::vector<VariableView> variables;
  return Encode(ViewOf(message, &variables), out);
}

Status EncodeName(std::string_view oid, std::vector<uint8_t>* out) {
  out->clear();
  BerWriter writer;
  if (const char* why = PutOid(oid, &writer)) return Refused("OID " + QuoteText(oid) + " " + why);
  out->assign(writer.data().begin(), writer.data().end());
  return Status();
}

Status EncodeBinding(const VariableView& variable, std::vector<uint8_t>* out) {
  out->clear();
  VariableView bare = variable;
  bare.encoding = {};
  BerWriter writer;
  if (!PutBinding(bare, /*v1=*/false, &writer)) {
    MessageView message;
    message.kind = kKindTrapV2;
    message.variables = {&bare, 1};
    return Fault(message);
  }
  out->assign(writer.data().begin(), writer.data().end());
  return Status();
}

Status ValidateValue(int32_t type, std::string_view text) {
  return ValueToBer(type, text, /*snmp_v1=*/false, nullptr);
}

}  // namespace tervane::snmp
