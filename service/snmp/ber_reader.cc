#include "service/snmp/ber_reader.h"

#include <array>
#include <charconv>
#include <cstring>

#include "service/snmp/codec.h"
#include "service/snmp/copy_bytes.h"
#include "service/snmp/oid_memo.h"

namespace tervane::snmp {
namespace {

// The reason given when an element does not carry the tag the grammar requires.
const char* TagMismatch(uint8_t expected) {
  switch (expected) {
    case kTagInteger:
      return "INTEGER expected";
    case kTagOctetString:
      return "OCTET STRING expected";
    case kTagOid:
      return "OBJECT IDENTIFIER expected";
    case kTagSequence:
      return "SEQUENCE expected";
    case kTagIpAddress:
      return "IpAddress expected";
    case kTagTimeTicks:
      return "TimeTicks expected";
    default:
      return "unexpected tag";
  }
}

// ".0" to ".127" padded to 4 bytes, with their lengths: a single-octet sub-identifier, by
// far the most common kind, is then written with one 4-byte copy.
struct ArcText {
  char text[4];
  uint8_t length;
};
constexpr auto kArcTexts = [] {
  std::array<ArcText, 128> table{};
  for (uint32_t v = 0; v < 128; ++v) {
    ArcText& arc = table[v];
    arc.text[0] = '.';
    if (v < 10) {
      arc.text[1] = static_cast<char>('0' + v);
      arc.length = 2;
    } else if (v < 100) {
      arc.text[1] = static_cast<char>('0' + v / 10);
      arc.text[2] = static_cast<char>('0' + v % 10);
      arc.length = 3;
    } else {
      arc.text[1] = '1';
      arc.text[2] = static_cast<char>('0' + v / 10 % 10);
      arc.text[3] = static_cast<char>('0' + v % 10);
      arc.length = 4;
    }
  }
  return table;
}();

// Writes '.' and the decimal digits of `v` at `out`, which has at least 11 bytes of room;
// returns the end.
char* AppendArc(char* out, uint32_t v) {
  if (v < 128) {
    std::memcpy(out, kArcTexts[v].text, 4);
    return out + kArcTexts[v].length;
  }
  *out++ = '.';
  return std::to_chars(out, out + 10, v).ptr;
}

// Writes the dotted text of `content` at `text` (room for kMaxOidText bytes).
const char* ConvertOid(std::span<const uint8_t> content, char* text, size_t* length) {
  if (content.empty()) return "empty OBJECT IDENTIFIER";
  char* out = text;
  const uint8_t* p = content.data();
  const uint8_t* const end = p + content.size();
  size_t count = 0;
  while (p != end) {
    uint32_t sub = *p++;
    if (sub >= 0x80) {
      // Sub-identifiers of several octets; most are single octets and skip this.
      if (sub == 0x80) return "OBJECT IDENTIFIER sub-identifier padded with 0x80";
      sub &= 0x7F;
      while (true) {
        if (p == end) return "OBJECT IDENTIFIER ends inside a sub-identifier";
        if (sub > (UINT32_MAX >> 7)) return "OBJECT IDENTIFIER sub-identifier above 32 bits";
        const uint8_t octet = *p++;
        sub = (sub << 7) | (octet & 0x7F);
        if (octet < 0x80) break;
      }
    }
    if (count == 0) {
      // The first group carries two sub-identifiers: X*40+Y, X in 0..2.
      const uint32_t first = sub < 40 ? 0 : sub < 80 ? 1 : 2;
      *out++ = static_cast<char>('0' + first);
      out = AppendArc(out, sub - first * 40);
      count = 2;
    } else {
      if (++count > kMaxOidSubIds) return "OBJECT IDENTIFIER with too many sub-identifiers";
      out = AppendArc(out, sub);
    }
  }
  *length = static_cast<size_t>(out - text);
  return nullptr;
}

}  // namespace

bool BerReader::Reject(const char* why, size_t at) {
  error_ = why;
  error_offset_ = at;
  return false;
}

std::string BerReader::ErrorText() const {
  if (error_ == nullptr) return "no error";
  return std::string(error_) + " at offset " + std::to_string(error_offset_);
}

bool BerReader::PeekHeaderSlow(uint8_t* tag, size_t* header_length, size_t* content_length) {
  const size_t avail = remaining();
  const uint8_t* p = data_.data() + pos_;
  if (avail == 0) return Reject("element expected but the input ended", offset());
  if ((p[0] & 0x1F) == 0x1F) return Reject("high tag numbers are not used in SNMP", offset());
  if (avail < 2) return Reject("input ended inside an element header", offset());
  const uint8_t first = p[1];
  size_t length = 0;
  size_t header = 2;
  if (first < 0x80) {
    length = first;
  } else if (first == 0x80) {
    return Reject("indefinite length", offset() + 1);
  } else if (first == 0xFF) {
    return Reject("reserved length octet 0xFF", offset() + 1);
  } else {
    const size_t octets = first & 0x7F;
    if (avail - 2 < octets) return Reject("input ended inside a length", offset() + 1);
    header += octets;
    // Leading zero octets are allowed. Stopping as soon as the length passes the input
    // keeps the accumulator far from overflowing whatever the number of octets.
    for (size_t i = 0; i < octets; ++i) {
      length = (length << 8) | p[2 + i];
      if (length > avail) break;
    }
  }
  if (length > avail - header) return Reject("length exceeds the remaining input", offset() + 1);
  *tag = p[0];
  *header_length = header;
  *content_length = length;
  return true;
}

bool BerReader::RejectTag(uint8_t expected) { return Reject(TagMismatch(expected), offset()); }

bool BerReader::ReadAnyConstructed(uint8_t* tag, BerReader* inner) {
  if (empty()) return Reject("element expected but the input ended", offset());
  uint8_t found;
  size_t header, length;
  if (!PeekHeader(&found, &header, &length)) return false;
  if (!OpenInner(found, header, length, inner)) return false;
  *tag = found;
  return true;
}

bool BerReader::ReadInteger(int64_t* value) {
  const size_t at = offset();
  const size_t saved = pos_;
  std::span<const uint8_t> content;
  if (!ReadElement(kTagInteger, &content)) return false;
  if (content.size() == 1) {  // the usual case: version, error-status, small numbers
    *value = static_cast<int8_t>(content[0]);
    return true;
  }
  if (const char* why = DecodeSigned(content, value)) {
    pos_ = saved;
    return Reject(why, at);
  }
  return true;
}

bool BerReader::ReadInteger32(int32_t* value) {
  const size_t at = offset();
  const size_t saved = pos_;
  int64_t wide;
  if (!ReadInteger(&wide)) return false;
  if (wide < INT32_MIN || wide > INT32_MAX) {
    pos_ = saved;
    return Reject("INTEGER outside the 32-bit range", at);
  }
  *value = static_cast<int32_t>(wide);
  return true;
}

bool BerReader::ReadOctetString(std::string* value) {
  std::span<const uint8_t> content;
  if (!ReadElement(kTagOctetString, &content)) return false;
  SetText(value, content.data(), content.size());
  return true;
}

bool BerReader::ReadOid(std::string* dotted) {
  const size_t at = offset();
  const size_t saved = pos_;
  std::span<const uint8_t> content;
  if (!ReadElement(kTagOid, &content)) return false;
  if (const char* why = DecodeOid(content, dotted)) {
    pos_ = saved;
    return Reject(why, at);
  }
  return true;
}

void SetText(std::string* text, const void* bytes, size_t n) {
  if (text->size() != n) text->resize(n);
  CopyBytes(text->data(), bytes, n);
}

const char* DecodeSigned(std::span<const uint8_t> content, int64_t* value) {
  if (content.empty()) return "empty INTEGER";
  if (content.size() > 8) return "INTEGER longer than 8 octets";
  // Sign-extend from the first octet, then shift in the rest; the conversion back to a
  // signed type is modular, so every 8-octet pattern maps to its two's-complement value.
  uint64_t bits = (content[0] & 0x80) != 0 ? ~uint64_t{0} : 0;
  for (uint8_t octet : content) bits = (bits << 8) | octet;
  *value = static_cast<int64_t>(bits);
  return nullptr;
}

const char* DecodeUnsigned32(std::span<const uint8_t> content, uint32_t* value) {
  int64_t wide;
  if (const char* why = DecodeSigned(content, &wide)) return why;
  if (wide < INT32_MIN || wide > int64_t{UINT32_MAX}) return "value outside the 32-bit range";
  *value = static_cast<uint32_t>(wide);
  return nullptr;
}

const char* DecodeUnsigned64(std::span<const uint8_t> content, uint64_t* value) {
  if (content.size() == 9) {
    if (content[0] != 0) return "value outside the 64-bit range";
    uint64_t bits = 0;
    for (uint8_t octet : content.subspan(1)) bits = (bits << 8) | octet;
    *value = bits;
    return nullptr;
  }
  int64_t wide;
  if (const char* why = DecodeSigned(content, &wide)) {
    return content.size() > 9 ? "value outside the 64-bit range" : why;
  }
  *value = static_cast<uint64_t>(wide);
  return nullptr;
}

const char* DecodeOid(std::span<const uint8_t> content, std::string* dotted) {
  char text[kMaxOidText];
  size_t length = 0;
  if (const char* why = DecodeOidText(content, text, &length)) return why;
  SetText(dotted, text, length);
  return nullptr;
}

const char* DecodeOidText(std::span<const uint8_t> content, char* text, size_t* length) {
  OidMemo& memo = OidMemo::ForThisThread();
  if (memo.FindText(content, text, length)) return nullptr;
  if (const char* why = ConvertOid(content, text, length)) return why;
  memo.Remember(content, {text, *length}, /*canonical_text=*/true);
  return nullptr;
}

const char* ValidateOid(std::span<const uint8_t> content) {
  if (content.empty()) return "empty OBJECT IDENTIFIER";
  const uint8_t* p = content.data();
  const uint8_t* const end = p + content.size();
  // The first group carries two sub-identifiers; every later one, one.
  size_t count = 1;
  while (p != end) {
    uint8_t octet = *p++;
    if (octet >= 0x80) {
      if (octet == 0x80) return "OBJECT IDENTIFIER sub-identifier padded with 0x80";
      uint32_t sub = octet & 0x7F;
      while (true) {
        if (p == end) return "OBJECT IDENTIFIER ends inside a sub-identifier";
        if (sub > (UINT32_MAX >> 7)) return "OBJECT IDENTIFIER sub-identifier above 32 bits";
        octet = *p++;
        sub = (sub << 7) | (octet & 0x7F);
        if (octet < 0x80) break;
      }
    }
    if (++count > kMaxOidSubIds) return "OBJECT IDENTIFIER with too many sub-identifiers";
  }
  return nullptr;
}

}  // namespace tervane::snmp
