// Value text: how a binding's BER value becomes the text that crosses the manager and agent
// interfaces, and back, by type code.
//
//   code  type               wire tag              text
//   0     no value           NULL; on receipt also noSuchObject, noSuchInstance,
//                            endOfMibView          empty
//   1     Integer32          INTEGER               signed decimal, -2147483648..2147483647
//   2     DisplayString      OCTET STRING          the raw octets, one char per byte
//   3     OBJECT IDENTIFIER  OBJECT IDENTIFIER     dotted decimal, at least two sub-ids
//   4     IpAddress          [APPLICATION 0]       dotted quad; exactly 4 octets on the wire
//   5     Counter32          [APPLICATION 1]       unsigned decimal, 0..4294967295
//   6     Gauge32            [APPLICATION 2]       unsigned decimal, 0..4294967295
//   7     TimeTicks          [APPLICATION 3]       unsigned decimal, 0..4294967295
//   8     Counter64          [APPLICATION 6]       unsigned decimal, 0..18446744073709551615
//   9     Opaque             [APPLICATION 4]       the raw octets, one char per byte
//
// Decimal texts are digits only, with a leading '-' for Integer32 alone: no blanks, no '+',
// leading zeros allowed ("042" is 42, as fixed-width pieces of a text often are). Dotted
// texts (OIDs, IpAddress) take the same digit rules per part; an OID may start with one '.'
// as administrators often write them. Every text the decoder produces is accepted by the
// encoder and encodes back to the same value, so decode -> text -> encode is lossless.
// Counter64 and the exception values do not exist in SNMPv1: an SNMPv1 message carrying
// them is malformed, and encoding a Counter64 into one is refused.
#ifndef TERVANE_SERVICE_SNMP_VALUE_TEXT_H_
#define TERVANE_SERVICE_SNMP_VALUE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/codec.h"

namespace tervane::snmp {

// "Integer32", "DisplayString", ...; "no value" for 0 and "unknown type" for other codes.
const char* TypeName(int32_t type);

// Converts a received value element into its type code and text. Returns nullptr on
// success, else the reason (an unknown tag, content that does not fit the type); *type and
// *text are then unspecified. `snmp_v1` refuses the types SNMPv1 does not have.
const char* ValueFromBer(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1, int32_t* type,
                         std::string* text);
// Room that ValueTextInto may write to: the longest text of any value.
inline constexpr size_t kMaxValueText = kMaxOidText;
// As ValueFromBer, without a string of its own: *text views `content` itself for an OCTET
// STRING or Opaque value, and for any other value the text written at `room` (which has
// kMaxValueText bytes).
const char* ValueTextInto(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1,
                          int32_t* type, char* room, std::string_view* text);
// The checks of ValueTextInto alone: the type code of the value, without its text.
const char* ValueType(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1, int32_t* type);
// Whether `content`, received under `tag`, is written back exactly so when its text is
// encoded again: the minimal form of a number (and no negative one for an unsigned type),
// anything for the types whose text is their content. An exception value is not: it is
// encoded again as NULL; nor is anything that is no value of its type (an empty number).
bool CanonicalValue(uint8_t tag, std::span<const uint8_t> content);
// Both checks at once: true, with *type set, exactly when ValueType accepts the value and
// CanonicalValue holds; decided from the octets' count and leading octets, without reading
// the number. Inline: it runs for most bindings of every message decoded.
inline bool CanonicalValueType(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1,
                               int32_t* type) {
  const size_t n = content.size();
  // A minimal number: no leading octet that only repeats the sign of the next.
  const auto minimal = [&] {
    return n == 1 || !((content[0] == 0x00 && content[1] < 0x80) ||
                       (content[0] == 0xFF && content[1] >= 0x80));
  };
  // A minimal number that is not negative, of at most `octets` octets once a leading zero
  // octet (which only a set top bit warrants) is left aside.
  const auto minimal_unsigned = [&](size_t octets) {
    return n != 0 && content[0] < 0x80 && minimal() &&
           (n <= octets || (n == octets + 1 && content[0] == 0x00));
  };
  switch (tag) {
    case kTagInteger:  // minimal, so within the 32-bit range exactly when of 4 octets or less
      if (n == 0 || n > 4 || !minimal()) return false;
      *type = kTypeInteger32;
      return true;
    case kTagOctetString:
      *type = kTypeDisplayString;
      return true;
    case kTagOpaque:
      *type = kTypeOpaque;
      return true;
    case kTagNull:
      if (n != 0) return false;
      *type = kTypeNoValue;
      return true;
    case kTagIpAddress:
      if (n != 4) return false;
      *type = kTypeIpAddress;
      return true;
    case kTagCounter32:
    case kTagGauge32:
    case kTagTimeTicks:
      if (!minimal_unsigned(4)) return false;
      *type = tag == kTagCounter32 ? kTypeCounter32
              : tag == kTagGauge32 ? kTypeGauge32
                                   : kTypeTimeTicks;
      return true;
    case kTagCounter64:
      if (snmp_v1 || !minimal_unsigned(8)) return false;
      *type = kTypeCounter64;
      return true;
    default:  // an OBJECT IDENTIFIER's checks read it whole; the rest are not canonical
      return ValueType(tag, content, snmp_v1, type) == nullptr && CanonicalValue(tag, content);
  }
}

// Prepends the BER value element for `text` of `type` to *writer (which may be null, to
// check the text alone). On failure nothing is written and the Status (kErrorInvalidArgument)
// names the type and the text, e.g. `Integer32 value "12x" is not a decimal number`.
Status ValueToBer(int32_t type, std::string_view text, bool snmp_v1, BerWriter* writer);
// As ValueToBer, for the encoder's hot path: nullptr when the value was written, else a
// short reason (nothing written), which ValueToBer turns into the full description.
const char* PutValue(int32_t type, std::string_view text, bool snmp_v1, BerWriter* writer);

// Most content octets of an OBJECT IDENTIFIER we encode: 5 per 32-bit sub-identifier.
inline constexpr size_t kMaxOidContent = kMaxOidSubIds * 5;
// Converts a dotted OID text into the content octets of its BER encoding, content[0..*length),
// `content` holding kMaxOidContent octets. Returns nullptr on success, else the reason
// (phrased to follow the quoted text); *length is then unspecified.
const char* OidTextToBer(std::string_view text, uint8_t* content, size_t* length);
// Prepends the OBJECT IDENTIFIER element for a dotted OID text to *writer. Returns nullptr
// on success, else the reason, with nothing written.
const char* PutOid(std::string_view text, BerWriter* writer);
// Parses a dotted-quad IPv4 text. Returns nullptr on success, else the reason.
const char* ParseIpText(std::string_view text, uint8_t octets[4]);
// Formats 4 octets as a dotted quad, replacing *text.
void FormatIp(std::span<const uint8_t, 4> octets, std::string* text);
// The same written at `text` (room for 15 bytes); returns its length.
size_t FormatIpInto(std::span<const uint8_t, 4> octets, char* text);

// `"text"` for a description: bytes outside printable ASCII as \xNN, long texts cut short.
std::string QuoteText(std::string_view text);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_VALUE_TEXT_H_
