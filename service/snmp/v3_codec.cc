// The header is read in the order RFC 3412 §7.2 counts its faults: a message that is not an
// SNMPv3Message at all is malformed whatever else it holds, then an unknown security model,
// then the values that parse but make no sense (msgMaxSize, msgFlags). The USM parameters
// sit inside an OCTET STRING; they are read with a cursor of their own, whose offsets are
// turned back into datagram offsets for the error texts and for auth_params_offset.
#include "service/snmp/v3_codec.h"

#include <algorithm>
#include <limits>
#include <string>

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/pdu_codec.h"

namespace tervane::snmp {
namespace {

constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();
// The smallest msgMaxSize RFC 3412 allows: every SNMP engine takes 484-octet messages.
constexpr int64_t kMinMaxSize = 484;

Status Malformed(const std::string& what) { return Status::Error(kErrorMalformed, what); }

// The failure a cursor recorded; `base` is the datagram offset of the cursor's input, for a
// cursor over an OCTET STRING's content.
Status Malformed(const BerReader& reader, size_t base = 0) {
  if (reader.error() == nullptr) return Malformed("malformed SNMPv3 message");
  return Malformed(std::string(reader.error()) + " at offset " +
                   std::to_string(base + reader.error_offset()));
}

Status Refused(const std::string& what) { return Status::Error(kErrorInvalidArgument, what); }

std::string_view AsText(std::span<const uint8_t> octets) {
  return {reinterpret_cast<const char*>(octets.data()), octets.size()};
}

// Reads an INTEGER that must lie in 0..2147483647; `what` names it in the refusal.
bool ReadNonNegative32(BerReader* reader, const char* what, int64_t* value) {
  const size_t at = reader->offset();
  if (!reader->ReadInteger(value)) return false;
  if (*value < 0 || *value > kMaxInt32) return reader->Reject(what, at);
  return true;
}

// Reads an OCTET STRING of at most `limit` octets.
bool ReadOctets(BerReader* reader, size_t limit, const char* what,
                std::span<const uint8_t>* content) {
  const size_t at = reader->offset();
  if (!reader->ReadElement(kTagOctetString, content)) return false;
  if (content->size() > limit) return reader->Reject(what, at);
  return true;
}

// Decodes the USM SEQUENCE inside msgSecurityParameters, whose content starts at datagram
// offset `base`.
Status DecodeUsm(std::span<const uint8_t> params, size_t base, V3Header* header) {
  BerReader top(params);
  BerReader usm;
  if (!top.ReadConstructed(kTagSequence, &usm) || !top.ExpectEnd()) return Malformed(top, base);
  int64_t boots = 0;
  int64_t time = 0;
  if (!ReadOctets(&usm, kMaxEngineId, "engine ID longer than 32 octets", &header->engine_id) ||
      !ReadNonNegative32(&usm, "engine boots outside 0 to 2147483647", &boots) ||
      !ReadNonNegative32(&usm, "engine time outside 0 to 2147483647", &time) ||
      !ReadOctets(&usm, kMaxUserName, "user name longer than 32 octets", &header->user_name)) {
    return Malformed(usm, base);
  }
  std::span<const uint8_t> auth;
  if (!usm.ReadElement(kTagOctetString, &auth) ||
      !usm.ReadElement(kTagOctetString, &header->priv_params) || !usm.ExpectEnd()) {
    return Malformed(usm, base);
  }
  header->engine_boots = static_cast<uint32_t>(boots);
  header->engine_time = static_cast<uint32_t>(time);
  header->auth_params = auth;
  header->auth_params_offset = base + static_cast<size_t>(auth.data() - params.data());
  return Status();
}

}  // namespace

bool IsV3(std::span<const uint8_t> datagram) {
  BerReader top(datagram);
  BerReader message;
  std::span<const uint8_t> version;
  int64_t number = 0;
  return top.ReadConstructed(kTagSequence, &message) &&
         message.ReadElement(kTagInteger, &version) && DecodeSigned(version, &number) == nullptr &&
         number == 3;
}

Status DecodeV3Header(std::span<const uint8_t> datagram, V3Header* header, V3Fault* fault) {
  *header = V3Header();
  *fault = V3Fault::kMalformed;
  if (datagram.size() > kMaxDatagram) {
    return Malformed("datagram of " + std::to_string(datagram.size()) +
                     " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                     " bytes)");
  }
  BerReader top(datagram);
  BerReader message;
  if (!top.ReadConstructed(kTagSequence, &message) || !top.ExpectEnd()) return Malformed(top);
  int64_t version = 0;
  if (!message.ReadInteger(&version)) return Malformed(message);
  if (version != 3) return Malformed("unsupported SNMP version " + std::to_string(version));

  BerReader global;
  int64_t msg_id = 0;
  int64_t max_size = 0;
  if (!message.ReadConstructed(kTagSequence, &global) ||
      !ReadNonNegative32(&global, "msgID outside 0 to 2147483647", &msg_id) ||
      !global.ReadInteger(&max_size)) {
    return Malformed(global.error() != nullptr ? global : message);
  }
  header->msg_id = static_cast<int32_t>(msg_id);
  header->max_size = static_cast<int32_t>(std::clamp<int64_t>(max_size, 0, kMaxInt32));
  const size_t flags_at = global.offset();
  std::span<const uint8_t> flags;
  if (!global.ReadElement(kTagOctetString, &flags)) return Malformed(global);
  if (flags.size() != 1) {
    global.Reject("msgFlags not of 1 octet", flags_at);
    return Malformed(global);
  }
  header->flags = flags[0];
  const size_t model_at = global.offset();
  int32_t model = 0;
  if (!global.ReadInteger32(&model)) return Malformed(global);
  if (model < 1) {
    global.Reject("msgSecurityModel outside 1 to 2147483647", model_at);
    return Malformed(global);
  }
  if (!global.ExpectEnd()) return Malformed(global);
  header->security_model = model;

  std::span<const uint8_t> params;
  if (!message.ReadElement(kTagOctetString, &params)) return Malformed(message);
  const bool priv = (header->flags & kFlagPriv) != 0;
  if (priv) {
    if (!message.ReadElement(kTagOctetString, &header->data)) return Malformed(message);
  } else {
    const uint8_t* start = message.position();
    BerReader scoped;
    if (!message.ReadConstructed(kTagSequence, &scoped)) return Malformed(message);
    header->data = {start, message.position()};
  }
  if (!message.ExpectEnd()) return Malformed(message);

  if (model != kSecurityModelUsm) {
    *fault = V3Fault::kUnknownSecurityModel;
    return Malformed("unknown security model " + std::to_string(model));
  }
  Status usm = DecodeUsm(params, static_cast<size_t>(params.data() - datagram.data()), header);
  if (!usm.ok()) return usm;
  if (max_size < kMinMaxSize || max_size > kMaxInt32) {
    *fault = V3Fault::kInvalid;
    return Malformed("msgMaxSize " + std::to_string(max_size) + " outside 484 to 2147483647");
  }
  if (priv && (header->flags & kFlagAuth) == 0) {
    *fault = V3Fault::kInvalid;
    return Malformed("msgFlags with privacy but without authentication");
  }
  *fault = V3Fault::kNone;
  return Status();
}

Status DecodeScopedPdu(std::span<const uint8_t> scoped, size_t padding, DecodedMessage* out,
                       ScopedContext* context, Texts texts) {
  out->ClearVariables();
  if (scoped.size() > kMaxDatagram) {
    return Malformed("ScopedPDU of " + std::to_string(scoped.size()) +
                     " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                     " bytes)");
  }
  BerReader top(scoped);
  BerReader sequence;
  if (!top.ReadConstructed(kTagSequence, &sequence)) return Malformed(top);
  if (top.remaining() > padding) {
    return Malformed(std::to_string(top.remaining()) + " octets after the ScopedPDU, at most " +
                     std::to_string(padding) + " allowed");
  }
  std::span<const uint8_t> engine_id;
  std::span<const uint8_t> name;
  uint8_t pdu_tag = 0;
  BerReader pdu;
  if (!sequence.ReadElement(kTagOctetString, &engine_id) ||
      !sequence.ReadElement(kTagOctetString, &name) ||
      !sequence.ReadAnyConstructed(&pdu_tag, &pdu) || !sequence.ExpectEnd()) {
    return Malformed(sequence);
  }
  context->engine_id = AsText(engine_id);
  context->name = AsText(name);
  return DecodeV3Pdu(pdu_tag, &pdu, out, texts);
}

Status EncodeScopedPdu(const MessageView& pdu, const ScopedContext& context, BerWriter* writer) {
  writer->Clear();
  Status status = PutPdu(pdu, /*scoped=*/true, writer);
  if (!status.ok()) {
    writer->Clear();
    return status;
  }
  writer->PutOctets(kTagOctetString, context.name);
  writer->PutOctets(kTagOctetString, context.engine_id);
  writer->PutHeader(kTagSequence, writer->size());
  if (writer->size() > kMaxDatagram) {
    const size_t size = writer->size();
    writer->Clear();
    return Refused("encoded ScopedPDU of " + std::to_string(size) +
                   " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                   " bytes)");
  }
  return Status();
}

namespace {

// What EncodeV3 refuses before writing anything: whatever DecodeV3Header would not take back.
Status CheckV3Out(const V3Out& out, std::span<const uint8_t> data) {
  if (out.msg_id < 0) return Refused("msgID " + std::to_string(out.msg_id) + " is negative");
  if (out.max_size < kMinMaxSize) {
    return Refused("msgMaxSize " + std::to_string(out.max_size) + " is below 484");
  }
  if ((out.flags & kFlagPriv) != 0 && (out.flags & kFlagAuth) == 0) {
    return Refused("privacy without authentication");
  }
  if (out.engine_id.size() > kMaxEngineId) {
    return Refused("engine ID of " + std::to_string(out.engine_id.size()) +
                   " octets, more than 32");
  }
  if (out.user_name.size() > kMaxUserName) {
    return Refused("user name of " + std::to_string(out.user_name.size()) +
                   " octets, more than 32");
  }
  if (out.engine_boots > kMaxInt32 || out.engine_time > kMaxInt32) {
    return Refused("engine boots or time above 2147483647");
  }
  if ((out.flags & kFlagPriv) == 0 && (data.empty() || data[0] != kTagSequence)) {
    return Refused("the plaintext ScopedPDU is not a SEQUENCE element");
  }
  return Status();
}

}  // namespace

Status EncodeV3(const V3Out& out, std::span<const uint8_t> data, BerWriter* writer,
                size_t* mac_offset) {
  writer->Clear();
  *mac_offset = 0;
  Status status = CheckV3Out(out, data);
  if (!status.ok()) return status;
  const bool auth = (out.flags & kFlagAuth) != 0;
  const bool priv = (out.flags & kFlagPriv) != 0;
  // Back to front: msgData first, msgVersion last.
  if (priv) {
    writer->PutElement(kTagOctetString, data);
  } else {
    writer->PutBytes(data);
  }
  const size_t usm_mark = writer->size();
  writer->PutOctets(kTagOctetString, priv ? AsText(out.priv_params) : std::string_view());
  const size_t mac_length = auth ? out.mac_length : 0;
  static constexpr uint8_t kZeros[64] = {};
  for (size_t left = mac_length; left > 0;) {
    const size_t n = std::min(left, sizeof kZeros);
    writer->PutBytes({kZeros, n});
    left -= n;
  }
  // The MAC's first octet lies this far before the end of the datagram.
  const size_t mac_from_end = writer->size();
  writer->PutHeader(kTagOctetString, mac_length);
  writer->PutOctets(kTagOctetString, out.user_name);
  writer->PutInteger(kTagInteger, out.engine_time);
  writer->PutInteger(kTagInteger, out.engine_boots);
  writer->PutOctets(kTagOctetString, AsText(out.engine_id));
  writer->PutHeader(kTagSequence, writer->size() - usm_mark);
  writer->PutHeader(kTagOctetString, writer->size() - usm_mark);
  const size_t global_mark = writer->size();
  writer->PutInteger(kTagInteger, kSecurityModelUsm);
  const char flags = static_cast<char>(out.flags);
  writer->PutOctets(kTagOctetString, {&flags, 1});
  writer->PutInteger(kTagInteger, out.max_size);
  writer->PutInteger(kTagInteger, out.msg_id);
  writer->PutHeader(kTagSequence, writer->size() - global_mark);
  writer->PutInteger(kTagInteger, 3);
  writer->PutHeader(kTagSequence, writer->size());
  if (writer->size() > kMaxDatagram) {
    const size_t size = writer->size();
    writer->Clear();
    return Refused("encoded message of " + std::to_string(size) +
                   " bytes exceeds the largest datagram (" + std::to_string(kMaxDatagram) +
                   " bytes)");
  }
  *mac_offset = writer->size() - mac_from_end;
  return Status();
}

}  // namespace tervane::snmp
