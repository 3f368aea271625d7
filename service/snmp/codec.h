// Encoding and decoding of whole SNMP messages: SNMPv1 (version 0) Trap-PDU and SNMPv2c
// (version 1) SNMPv2-Trap-PDU, InformRequest-PDU and Response-PDU, to and from Message.
//
// Both directions are pure functions over bytes and values. Decoding is strict about
// structure and bounded in everything it accepts (datagram size, nesting depth, OID length,
// sub-identifier size); the datagram's size bounds the number of bindings, so a well-formed
// message is never refused for its count. A datagram it refuses must be dropped, never
// half-used. Encoding refuses a value text that its type does not accept.
//
// Both directions hold SNMPv1 to what SNMPv1 has: generic-trap 0 to 6, no Counter64 and no
// exception values (an SNMPv1 message carrying them is malformed; encoding a Counter64
// binding into kind 36 is refused, so a converting sender must drop such bindings first).
// Every datagram Decode accepts encodes again, and decodes back to an equal Message.
// value_text.h lists the value text of each type code.
#ifndef TERVANE_SERVICE_SNMP_CODEC_H_
#define TERVANE_SERVICE_SNMP_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/snmp/message.h"

namespace tervane::snmp {

class BerWriter;

// Largest datagram that is decoded at all; larger ones are refused.
inline constexpr size_t kMaxDatagram = 65507;
// Limits applied while decoding.
inline constexpr size_t kMaxOidSubIds = 128;
inline constexpr int kMaxNesting = 8;

// Decodes one datagram into *out. On failure *out is left in an unspecified but valid
// state and the Status names what was wrong (code kErrorMalformed).
Status Decode(std::span<const uint8_t> datagram, Message* out);

// A decoded message as views (see MessageView): the community and OCTET STRING and Opaque
// values view the datagram, every other text (OIDs, numbers, addresses) views text that the
// decoding wrote and this object keeps. Every variable whose binding arrived in the form that
// Encode writes for its texts carries that binding as its encoding, so that it can be sent
// on as it came. Valid while the datagram and this object are unchanged; decoding into it
// again replaces it and reuses its memory, and so does not allocate for a steady stream.
class DecodedMessage {
 public:
  DecodedMessage();
  DecodedMessage(DecodedMessage&&) noexcept = default;
  DecodedMessage& operator=(DecodedMessage&&) noexcept = default;

  const MessageView& view() const { return view_; }
  // Empties the variable list, keeping its memory.
  void ClearVariables() { view_.variables = {}; }
  // Marks the message as an SNMPv3 one, authenticated as `user_name` (which must outlive the
  // view) at the security level of `flags`; decoding again clears the mark.
  void MarkSnmpV3(std::string_view user_name, uint8_t flags) {
    view_.snmpv3 = true;
    view_.user_name = user_name;
    view_.security_flags = flags;
  }

 private:
  friend class Decoding;
  MessageView view_;
  std::vector<VariableView> variables_;
  std::unique_ptr<char[]> text_;  // kTextCapacity bytes
};

// Which texts a decoding into views makes. kOnDemand leaves the OID and value texts of every
// binding that carries its encoding unmade (but the value of an OCTET STRING or Opaque,
// which costs nothing): its `oid` stays empty, which no made OID text is, and WithTexts
// makes them when they are wanted. A relay that sends such bindings on as they came never
// needs most of them. The checks are the same either way.
enum class Texts { kAll, kOnDemand };

// As Decode above, into views. On failure *out is left in an unspecified but valid state.
// Every binding whose OID element is in the encoder's form carries it as its `name`.
Status Decode(std::span<const uint8_t> datagram, DecodedMessage* out, Texts texts = Texts::kAll);

// Room for the texts of one binding: its OID and its value.
inline constexpr size_t kMaxBindingTexts = 2 * kMaxOidSubIds * 11;
// `variable` with its texts: as it is when it has them, else made from its encoding and
// written at `room` (kMaxBindingTexts bytes), which the texts then view.
VariableView WithTexts(const VariableView& variable, char* room);

// The number that a binding of type Integer32, Counter32, Gauge32, TimeTicks or Counter64
// holds, read from its text or, when that was not made, straight from its encoding. Nothing
// for the other types and for a negative Integer32.
std::optional<uint64_t> UnsignedNumber(const VariableView& variable);

// Encodes `message` (its kind selects the version and PDU) and appends nothing else:
// *out is replaced by the datagram. On failure *out is cleared and the Status describes
// which binding or field was refused (code kErrorInvalidArgument).
Status Encode(const Message& message, std::vector<uint8_t>* out);
Status Encode(const MessageView& message, std::vector<uint8_t>* out);
// As Encode, into a buffer of the calling thread's: *datagram views the datagram until the
// thread's next Encode. Nothing is copied, which suits a caller that copies it anyway.
Status EncodeInPlace(const MessageView& message, std::span<const uint8_t>* datagram);
// As Encode, into *writer, which is emptied first: the datagram is writer->data().
Status Encode(const MessageView& message, BerWriter* writer);

// The encodings a VariableView may carry, made as Encode makes them in an SNMPv2c message:
// the OBJECT IDENTIFIER element of `oid`, and the whole binding of `variable`. Each fails,
// leaving *out empty, where Encode would refuse the text.
Status EncodeName(std::string_view oid, std::vector<uint8_t>* out);
Status EncodeBinding(const VariableView& variable, std::vector<uint8_t>* out);

// Checks that `text` is a valid value text for `type` without encoding a message; the
// same rules Encode applies to each variable.
Status ValidateValue(int32_t type, std::string_view text);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_CODEC_H_
