// SNMPv3 messages (RFC 3412 §6) with the User-based Security Model's parameters (RFC 3414
// §2.4), to and from bytes. Pure, like codec.h, and as strict and bounded:
//
//   SNMPv3Message ::= SEQUENCE {
//     msgVersion INTEGER (3),
//     msgGlobalData SEQUENCE { msgID INTEGER (0..2147483647), msgMaxSize INTEGER
//       (484..2147483647), msgFlags OCTET STRING (SIZE(1)), msgSecurityModel INTEGER (1..) },
//     msgSecurityParameters OCTET STRING,  -- for USM (model 3):
//       SEQUENCE { msgAuthoritativeEngineID OCTET STRING (0..32), msgAuthoritativeEngineBoots
//         INTEGER (0..2147483647), msgAuthoritativeEngineTime INTEGER (0..2147483647),
//         msgUserName OCTET STRING (0..32), msgAuthenticationParameters OCTET STRING,
//         msgPrivacyParameters OCTET STRING }
//     msgData CHOICE { plaintext ScopedPDU, encryptedPDU OCTET STRING } }
//   ScopedPDU ::= SEQUENCE { contextEngineID OCTET STRING, contextName OCTET STRING, PDU }
//
// The header is decoded first, on its own, so that the security checks run before anything
// of the PDU is looked at; the ScopedPDU (the plaintext, or what decrypting gave) is decoded
// afterwards into the same DecodedMessage views as SNMPv2c messages.
#ifndef TERVANE_SERVICE_SNMP_V3_CODEC_H_
#define TERVANE_SERVICE_SNMP_V3_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/status.h"
#include "service/snmp/codec.h"
#include "service/snmp/message.h"

namespace tervane::snmp {

class BerWriter;

// msgFlags bits.
inline constexpr uint8_t kFlagAuth = 0x01;
inline constexpr uint8_t kFlagPriv = 0x02;
inline constexpr uint8_t kFlagReportable = 0x04;
// msgSecurityModel of USM.
inline constexpr int32_t kSecurityModelUsm = 3;
// The largest engine ID and user name USM takes.
inline constexpr size_t kMaxEngineId = 32;
inline constexpr size_t kMaxUserName = 32;

// Whether `datagram` starts as an SNMPv3 message does (a SEQUENCE whose first element is the
// INTEGER 3); cheap, for choosing the decoder.
bool IsV3(std::span<const uint8_t> datagram);

// An SNMPv3 message's header, viewing the datagram.
struct V3Header {
  int32_t msg_id = 0;
  int32_t max_size = 0;
  uint8_t flags = 0;
  int32_t security_model = 0;
  // The USM parameters; empty and 0 unless security_model is kSecurityModelUsm.
  std::span<const uint8_t> engine_id;
  uint32_t engine_boots = 0;
  uint32_t engine_time = 0;
  std::span<const uint8_t> user_name;
  std::span<const uint8_t> auth_params;
  size_t auth_params_offset = 0;  // where auth_params lie in the datagram
  std::span<const uint8_t> priv_params;
  // msgData: with kFlagPriv the content of the encryptedPDU OCTET STRING, else the whole
  // plaintext ScopedPDU element (its SEQUENCE header included).
  std::span<const uint8_t> data;
};

// Which of the header's faults it was: RFC 3412 and 3414 count them apart.
enum class V3Fault {
  kNone,
  kMalformed,             // not a message at all: snmpInASNParseErrs
  kInvalid,               // a bad msgFlags (priv without auth) or msgMaxSize: snmpInvalidMsgs
  kUnknownSecurityModel,  // snmpUnknownSecurityModels
};

// Decodes the header of an SNMPv3 datagram. The USM parameters are decoded when the model is
// USM; another model's are left alone and the fault is kUnknownSecurityModel. On failure
// *fault says which kind it was and the Status what.
Status DecodeV3Header(std::span<const uint8_t> datagram, V3Header* header, V3Fault* fault);

// The ScopedPDU's context, viewing the bytes it was decoded from.
struct ScopedContext {
  std::string_view engine_id;
  std::string_view name;
};

// Decodes a ScopedPDU element at the start of `scoped`: its context into *context and its PDU
// (an SNMPv2-Trap, InformRequest, Response or Report) into *out, as Decode does for the PDU of
// an SNMPv2c message; the view's community is empty. At most `padding` octets may follow the
// element (a DES plaintext's padding), and are ignored. On failure *out is in an unspecified
// but valid state.
Status DecodeScopedPdu(std::span<const uint8_t> scoped, size_t padding, DecodedMessage* out,
                       ScopedContext* context, Texts texts = Texts::kAll);

// What an SNMPv3 message to be encoded carries besides its PDU.
struct V3Out {
  int32_t msg_id = 0;
  int32_t max_size = static_cast<int32_t>(kMaxDatagram);
  uint8_t flags = 0;
  std::span<const uint8_t> engine_id;
  uint32_t engine_boots = 0;
  uint32_t engine_time = 0;
  std::string_view user_name;
  size_t mac_length = 0;  // with kFlagAuth: msgAuthenticationParameters of that many zeros
  std::span<const uint8_t> priv_params;  // with kFlagPriv: the salt, 8 octets
  ScopedContext context;
};

// Encodes the ScopedPDU of `pdu` (kind kKindTrapV2, kKindInform, kKindResponse or
// kKindReport) with `context` into *writer, emptied first: what Encrypt takes.
Status EncodeScopedPdu(const MessageView& pdu, const ScopedContext& context, BerWriter* writer);

// Encodes a whole SNMPv3 message into *writer, emptied first, around `data`: the plaintext
// ScopedPDU element as EncodeScopedPdu wrote it, or, with kFlagPriv, the ciphertext, which goes
// into an encryptedPDU OCTET STRING. *mac_offset receives where the zeroed
// msgAuthenticationParameters lie in the datagram, for signing. Refuses a message larger than
// kMaxDatagram.
Status EncodeV3(const V3Out& out, std::span<const uint8_t> data, BerWriter* writer,
                size_t* mac_offset);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_V3_CODEC_H_
