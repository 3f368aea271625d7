// A bounds-checked cursor over BER-encoded bytes, for the subset of BER that SNMP uses.
//
// The reader never trusts a length it reads: every read checks that the element lies wholly
// inside the cursor's input, and a read that fails consumes nothing and records a short
// reason with the offset (from the start of the datagram) where it failed. Reads of a
// constructed element (a SEQUENCE, a PDU) hand back a sub-cursor over its content, which the
// caller reads to its end and then closes with ExpectEnd, so a length that is too long or
// too short for its content is always caught.
//
// What the reader accepts:
//   - one-octet tags only; a high tag number (low five bits all ones) is refused;
//   - definite lengths in short or long form, including the non-minimal long forms BER
//     allows (leading zero octets, long form for lengths below 128); the indefinite form
//     (0x80), the reserved octet 0xFF and any length beyond the remaining input are refused;
//   - at most kMaxNesting levels of constructed elements;
//   - INTEGER contents of 1 to 8 octets, non-minimal sign extension included;
//   - OBJECT IDENTIFIER contents that decode to 2..kMaxOidSubIds sub-identifiers of at most
//     32 bits each (the first octet group, X*40+Y, included). A sub-identifier that starts
//     with the octet 0x80 is refused: X.690 forbids that padding and no agent is known to
//     send it, while accepting it would give one OID several encodings.
//
// The element reads are defined here and forced inline: they run several times for every
// binding of every datagram, and the common headers (short form, or 0x81/0x82 long form)
// are decided without a call.
#ifndef TERVANE_SERVICE_SNMP_BER_READER_H_
#define TERVANE_SERVICE_SNMP_BER_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "service/snmp/codec.h"

namespace tervane::snmp {

// Universal and SNMP application tags.
inline constexpr uint8_t kTagInteger = 0x02;
inline constexpr uint8_t kTagOctetString = 0x04;
inline constexpr uint8_t kTagNull = 0x05;
inline constexpr uint8_t kTagOid = 0x06;
inline constexpr uint8_t kTagSequence = 0x30;
inline constexpr uint8_t kTagIpAddress = 0x40;
inline constexpr uint8_t kTagCounter32 = 0x41;
inline constexpr uint8_t kTagGauge32 = 0x42;
inline constexpr uint8_t kTagTimeTicks = 0x43;
inline constexpr uint8_t kTagOpaque = 0x44;
inline constexpr uint8_t kTagCounter64 = 0x46;
// SNMPv2 exception values, context-specific primitive with empty content.
inline constexpr uint8_t kTagNoSuchObject = 0x80;
inline constexpr uint8_t kTagNoSuchInstance = 0x81;
inline constexpr uint8_t kTagEndOfMibView = 0x82;
// PDU tags, context-specific constructed.
inline constexpr uint8_t kTagResponsePdu = 0xA2;
inline constexpr uint8_t kTagTrapV1Pdu = 0xA4;
inline constexpr uint8_t kTagInformPdu = 0xA6;
inline constexpr uint8_t kTagTrapV2Pdu = 0xA7;
inline constexpr uint8_t kTagReportPdu = 0xA8;

class BerReader {
 public:
  // An empty cursor; becomes useful when a constructed read fills it.
  BerReader() = default;
  // A top-level cursor over a whole datagram: offsets count from input[0], depth 0.
  explicit BerReader(std::span<const uint8_t> input) : data_(input) {}

  bool empty() const { return pos_ == data_.size(); }
  size_t remaining() const { return data_.size() - pos_; }
  // Offset of the next unread byte from the start of the datagram.
  size_t offset() const { return base_ + pos_; }
  // The next unread byte itself, and what the cursor covers.
  const uint8_t* position() const { return data_.data() + pos_; }
  std::span<const uint8_t> data() const { return data_; }
  // Consumes `n` bytes that the caller has read itself; `n` must not exceed remaining().
  void Advance(size_t n) { pos_ += n; }

  // Reads the next element whatever its tag: *tag and *content receive it. On failure
  // nothing is consumed and *tag and *content are unchanged.
  [[nodiscard, gnu::always_inline]] bool ReadElement(uint8_t* tag,
                                                     std::span<const uint8_t>* content) {
    size_t header, length;
    if (!PeekHeader(tag, &header, &length)) return false;
    *content = data_.subspan(pos_ + header, length);
    pos_ += header + length;
    return true;
  }
  // Reads the next element, which must carry `tag`. Same failure guarantee.
  [[nodiscard, gnu::always_inline]] bool ReadElement(uint8_t tag,
                                                     std::span<const uint8_t>* content) {
    uint8_t found;
    size_t header, length;
    if (!PeekHeader(&found, &header, &length)) return false;
    if (found != tag) return RejectTag(tag);
    *content = data_.subspan(pos_ + header, length);
    pos_ += header + length;
    return true;
  }
  // Reads a constructed element tagged `tag` and points *inner at its content, one level
  // deeper. On failure nothing is consumed and *inner is unchanged.
  [[nodiscard, gnu::always_inline]] bool ReadConstructed(uint8_t tag, BerReader* inner) {
    uint8_t found;
    size_t header, length;
    if (!PeekHeader(&found, &header, &length)) return false;
    if (found != tag) return RejectTag(tag);
    return OpenInner(found, header, length, inner);
  }
  // As ReadConstructed, for any constructed tag, which *tag receives.
  [[nodiscard]] bool ReadAnyConstructed(uint8_t* tag, BerReader* inner);

  // Typed reads of primitive universal elements. On failure nothing is consumed and the
  // output is unchanged.
  [[nodiscard]] bool ReadInteger(int64_t* value);
  [[nodiscard]] bool ReadInteger32(int32_t* value);  // INTEGER within the signed 32-bit range
  [[nodiscard]] bool ReadOctetString(std::string* value);
  [[nodiscard]] bool ReadOid(std::string* dotted);

  // Succeeds when the cursor has been read to its end; records an error otherwise.
  [[nodiscard]] bool ExpectEnd() {
    return empty() || Reject("unexpected bytes after the last element", offset());
  }

  // Records a failure found in content that this cursor handed out (for example a value
  // of the wrong size) at datagram offset `at`. Always returns false, so callers can write
  // `return reader.Reject(...)`.
  bool Reject(const char* why, size_t at);

  // The reason for the last failed read, or nullptr when no read failed.
  const char* error() const { return error_; }
  size_t error_offset() const { return error_offset_; }
  // "<reason> at offset <n>", for a Status description.
  std::string ErrorText() const;

 private:
  // Parses the tag and length at pos_ without consuming: *header_length is the size of the
  // tag and length octets. The common case, a short-form header whose content fits, is
  // decided here; everything else goes to PeekHeaderSlow, which also records refusals.
  [[gnu::always_inline]] bool PeekHeader(uint8_t* tag, size_t* header_length,
                                         size_t* content_length) {
    const size_t avail = data_.size() - pos_;
    if (avail >= 2) {
      const uint8_t* p = data_.data() + pos_;
      if (p[1] < 0x80 && (p[0] & 0x1F) != 0x1F && p[1] <= avail - 2) {
        *tag = p[0];
        *header_length = 2;
        *content_length = p[1];
        return true;
      }
      // The long forms senders use for lengths of 128 to 65535.
      if ((p[1] == 0x81 || p[1] == 0x82) && (p[0] & 0x1F) != 0x1F) {
        const size_t header = p[1] == 0x81 ? 3 : 4;
        if (avail >= header) {
          const size_t length = header == 3 ? p[2] : size_t{p[2]} << 8 | p[3];
          if (length <= avail - header) {
            *tag = p[0];
            *header_length = header;
            *content_length = length;
            return true;
          }
        }
      }
    }
    return PeekHeaderSlow(tag, header_length, content_length);
  }
  bool PeekHeaderSlow(uint8_t* tag, size_t* header_length, size_t* content_length);
  // Fills *inner for the element whose header PeekHeader just parsed, and consumes it.
  [[gnu::always_inline]] bool OpenInner(uint8_t tag, size_t header, size_t length,
                                        BerReader* inner) {
    if ((tag & 0x20) == 0) return Reject("constructed element expected", offset());
    if (depth_ >= kMaxNesting) return Reject("elements nested too deeply", offset());
    inner->data_ = data_.subspan(pos_ + header, length);
    inner->pos_ = 0;
    inner->base_ = base_ + pos_ + header;
    inner->depth_ = depth_ + 1;
    inner->error_ = nullptr;
    inner->error_offset_ = 0;
    pos_ += header + length;
    return true;
  }
  // Records that the next element does not carry `expected`.
  bool RejectTag(uint8_t expected);

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  size_t base_ = 0;  // datagram offset of data_[0]
  int depth_ = 0;
  const char* error_ = nullptr;
  size_t error_offset_ = 0;
};

// Replaces *text with the `n` bytes at `bytes`. When the length is unchanged, the usual
// case for a Message that is decoded into again and again, this is a plain copy without
// std::string::assign's general bookkeeping.
void SetText(std::string* text, const void* bytes, size_t n);

// Decoders of primitive contents, shared by the reader and the value conversions. Each
// returns nullptr on success, else the reason the content was refused; the output is then
// unchanged.

// Two's-complement INTEGER of 1 to 8 octets.
const char* DecodeSigned(std::span<const uint8_t> content, int64_t* value);
// Unsigned 32-bit value (Counter32, Gauge32, TimeTicks): the INTEGER must lie in
// -2147483648..4294967295. Negative values, which some agents send for unsigned types, are
// taken modulo 2^32, as other SNMP stacks do, rather than dropping the whole trap.
const char* DecodeUnsigned32(std::span<const uint8_t> content, uint32_t* value);
// Unsigned 64-bit value (Counter64): up to 9 octets, the ninth only as a leading 0x00;
// a negative value of up to 8 octets is taken modulo 2^64 for the same reason.
const char* DecodeUnsigned64(std::span<const uint8_t> content, uint64_t* value);
// OBJECT IDENTIFIER content to dotted decimal (replacing *dotted), with the limits above.
const char* DecodeOid(std::span<const uint8_t> content, std::string* dotted);
// The longest dotted text of an OBJECT IDENTIFIER within those limits.
inline constexpr size_t kMaxOidText = kMaxOidSubIds * 11;
// As DecodeOid, writing the text at `text` (room for kMaxOidText bytes); *length receives
// its length.
const char* DecodeOidText(std::span<const uint8_t> content, char* text, size_t* length);
// The checks of DecodeOid alone, without the text: nullptr when `content` is an OID it takes.
const char* ValidateOid(std::span<const uint8_t> content);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_BER_READER_H_
