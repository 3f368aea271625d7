#include "service/snmp/value_text.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "service/snmp/ber_reader.h"
#include "service/snmp/oid_memo.h"

namespace tervane::snmp {
namespace {

enum class Parse { kOk, kNotNumber, kOutOfRange };

// Digits only, at least one; values above `max` are out of range (the scan goes on so that
// a non-digit later in the text still counts as "not a number").
Parse ParseDigits(std::string_view digits, uint64_t max, uint64_t* value) {
  if (digits.empty()) return Parse::kNotNumber;
  const size_t n = digits.size();
  const char* p = digits.data();
  // Up to 19 digits always fit in 64 bits; only longer texts need the overflow test.
  const size_t exact = n < 19 ? n : 19;
  uint64_t v = 0;
  for (size_t i = 0; i < exact; ++i) {
    const auto d = static_cast<uint64_t>(static_cast<unsigned char>(p[i])) - '0';
    if (d > 9) return Parse::kNotNumber;
    v = v * 10 + d;
  }
  bool over = false;
  for (size_t i = exact; i < n; ++i) {
    const auto d = static_cast<uint64_t>(static_cast<unsigned char>(p[i])) - '0';
    if (d > 9) return Parse::kNotNumber;
    if (v > (UINT64_MAX - d) / 10) over = true;
    v = v * 10 + d;
  }
  if (over || v > max) return Parse::kOutOfRange;
  *value = v;
  return Parse::kOk;
}

Status Refuse(int32_t type, std::string_view text, const char* reason) {
  return Status::Error(kErrorInvalidArgument,
                       std::string(TypeName(type)) + " value " + QuoteText(text) + " " + reason);
}

// The decimal text of `value`, written at `room` (24 bytes at least).
template <typename Int>
std::string_view DecimalInto(Int value, char* room) {
  const auto end = std::to_chars(room, room + 24, value).ptr;
  return {room, static_cast<size_t>(end - room)};
}

uint8_t UnsignedTag(int32_t type) {
  return type == kTypeCounter32 ? kTagCounter32
         : type == kTypeGauge32 ? kTagGauge32
                                : kTagTimeTicks;
}

const char* ConvertOidText(std::string_view text, uint8_t* content, size_t* length) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (p != end && *p == '.') ++p;
  uint8_t* out = content;
  size_t count = 0;
  uint32_t first = 0;
  // One pass over the text: each sub-identifier is written as soon as it is read, except
  // the first, which waits for the second to be folded into it (first*40+second).
  while (true) {
    const char* const start = p;
    uint64_t v = 0;
    for (; p != end; ++p) {
      const auto d = static_cast<uint64_t>(static_cast<unsigned char>(*p)) - '0';
      if (d > 9) break;
      v = v * 10 + d;
    }
    if (p == start || (p != end && *p != '.')) return "is not a dotted OID";
    // Up to 19 digits the 64-bit accumulator is exact; a longer run (leading zeros) is
    // judged by its significant digits alone.
    if (p - start > 19) {
      const char* digit = start;
      while (digit != p && *digit == '0') ++digit;
      if (p - digit > 10) {
        v = uint64_t{UINT32_MAX} + 1;
      } else {
        v = 0;
        for (; digit != p; ++digit) v = v * 10 + static_cast<uint64_t>(*digit - '0');
      }
    }
    if (v > UINT32_MAX) return "has a sub-identifier above 4294967295";
    auto sub = static_cast<uint32_t>(v);
    ++count;
    if (count <= 2) {
      if (count == 1) {
        if (sub > 2) return "starts with a sub-identifier other than 0, 1 or 2";
        first = sub;
        if (p == end) break;
        ++p;
        continue;
      }
      if (first < 2 && sub >= 40) return "has a second sub-identifier of 40 or more under 0 or 1";
      if (sub > UINT32_MAX - 80) return "has a second sub-identifier too large to encode";
      sub += first * 40;
    } else if (count > kMaxOidSubIds) {
      return "has more than 128 sub-identifiers";
    }
    if (sub < 0x80) {
      *out++ = static_cast<uint8_t>(sub);
    } else {
      int shift = 28;
      while ((sub >> shift) == 0) shift -= 7;
      for (; shift > 0; shift -= 7) *out++ = static_cast<uint8_t>(0x80 | ((sub >> shift) & 0x7F));
      *out++ = static_cast<uint8_t>(sub & 0x7F);
    }
    if (p == end) break;
    ++p;  // the dot
  }
  if (count < 2) return "has fewer than two sub-identifiers";
  *length = static_cast<size_t>(out - content);
  return nullptr;
}

}  // namespace

const char* TypeName(int32_t type) {
  switch (type) {
    case kTypeNoValue:
      return "no value";
    case kTypeInteger32:
      return "Integer32";
    case kTypeDisplayString:
      return "DisplayString";
    case kTypeObjectId:
      return "OBJECT IDENTIFIER";
    case kTypeIpAddress:
      return "IpAddress";
    case kTypeCounter32:
      return "Counter32";
    case kTypeGauge32:
      return "Gauge32";
    case kTypeTimeTicks:
      return "TimeTicks";
    case kTypeCounter64:
      return "Counter64";
    case kTypeOpaque:
      return "Opaque";
    default:
      return "unknown type";
  }
}

const char* ValueFromBer(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1, int32_t* type,
                         std::string* text) {
  char room[kMaxValueText];
  std::string_view view;
  if (const char* why = ValueTextInto(tag, content, snmp_v1, type, room, &view)) return why;
  SetText(text, view.data(), view.size());
  return nullptr;
}

const char* ValueType(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1, int32_t* type) {
  switch (tag) {
    case kTagInteger: {
      int64_t v;
      if (const char* why = DecodeSigned(content, &v)) return why;
      if (v < INT32_MIN || v > INT32_MAX) return "Integer32 value outside the 32-bit range";
      *type = kTypeInteger32;
      return nullptr;
    }
    case kTagOctetString:
      *type = kTypeDisplayString;
      return nullptr;
    case kTagOpaque:
      *type = kTypeOpaque;
      return nullptr;
    case kTagNull:
      if (!content.empty()) return "NULL with content";
      *type = kTypeNoValue;
      return nullptr;
    case kTagOid:
      if (const char* why = ValidateOid(content)) return why;
      *type = kTypeObjectId;
      return nullptr;
    case kTagIpAddress:
      if (content.size() != 4) return "IpAddress not of 4 octets";
      *type = kTypeIpAddress;
      return nullptr;
    case kTagCounter32:
    case kTagGauge32:
    case kTagTimeTicks: {
      uint32_t v;
      if (const char* why = DecodeUnsigned32(content, &v)) return why;
      *type = tag == kTagCounter32 ? kTypeCounter32
              : tag == kTagGauge32 ? kTypeGauge32
                                   : kTypeTimeTicks;
      return nullptr;
    }
    case kTagCounter64: {
      if (snmp_v1) return "Counter64 value in an SNMPv1 message";
      uint64_t v;
      if (const char* why = DecodeUnsigned64(content, &v)) return why;
      *type = kTypeCounter64;
      return nullptr;
    }
    case kTagNoSuchObject:
    case kTagNoSuchInstance:
    case kTagEndOfMibView:
      if (snmp_v1) return "exception value in an SNMPv1 message";
      if (!content.empty()) return "exception value with content";
      *type = kTypeNoValue;
      return nullptr;
    default:
      return "value of an unknown type";
  }
}

const char* ValueTextInto(uint8_t tag, std::span<const uint8_t> content, bool snmp_v1,
                          int32_t* type, char* room, std::string_view* text) {
  if (tag == kTagOid) {  // its conversion makes the same checks
    size_t length = 0;
    if (const char* why = DecodeOidText(content, room, &length)) return why;
    *type = kTypeObjectId;
    *text = {room, length};
    return nullptr;
  }
  if (const char* why = ValueType(tag, content, snmp_v1, type)) return why;
  switch (*type) {
    case kTypeInteger32: {
      int64_t v = 0;
      (void)DecodeSigned(content, &v);
      *text = DecimalInto(v, room);
      return nullptr;
    }
    case kTypeDisplayString:
    case kTypeOpaque:
      *text = {reinterpret_cast<const char*>(content.data()), content.size()};
      return nullptr;
    case kTypeObjectId: {
      size_t length = 0;
      if (const char* why = DecodeOidText(content, room, &length)) return why;
      *text = {room, length};
      return nullptr;
    }
    case kTypeIpAddress:
      *text = {room, FormatIpInto(content.first<4>(), room)};
      return nullptr;
    case kTypeCounter32:
    case kTypeGauge32:
    case kTypeTimeTicks: {
      uint32_t v = 0;
      (void)DecodeUnsigned32(content, &v);
      *text = DecimalInto(v, room);
      return nullptr;
    }
    case kTypeCounter64: {
      uint64_t v = 0;
      (void)DecodeUnsigned64(content, &v);
      *text = DecimalInto(v, room);
      return nullptr;
    }
    default:  // NULL and the exception values: no value
      *text = {};
      return nullptr;
  }
}

bool CanonicalValue(uint8_t tag, std::span<const uint8_t> content) {
  switch (tag) {
    case kTagInteger:
    case kTagCounter32:
    case kTagGauge32:
    case kTagTimeTicks:
    case kTagCounter64:
      if (content.empty()) return false;  // no number at all
      break;
    default:
      break;
  }
  switch (tag) {
    case kTagInteger:
      // Minimal two's complement: no leading octet that only repeats the sign.
      return content.size() == 1 || !((content[0] == 0x00 && content[1] < 0x80) ||
                                      (content[0] == 0xFF && content[1] >= 0x80));
    case kTagCounter32:
    case kTagGauge32:
    case kTagTimeTicks:
    case kTagCounter64:
      // Minimal, not negative: a leading zero octet only before a set top bit.
      return content[0] < 0x80 && (content.size() == 1 || content[0] != 0 || content[1] >= 0x80);
    case kTagOctetString:
    case kTagOpaque:
    case kTagNull:
    case kTagOid:
    case kTagIpAddress:
      return true;
    default:
      return false;
  }
}

namespace {
// Reasons PutValue gives that ValueToBer words differently.
constexpr char kNotEmpty[] = "not empty";
constexpr char kUnknownType[] = "unknown type";
}  // namespace

const char* PutValue(int32_t type, std::string_view text, bool snmp_v1, BerWriter* writer) {
  switch (type) {
    case kTypeNoValue:
      if (!text.empty()) return kNotEmpty;
      if (writer != nullptr) writer->PutHeader(kTagNull, 0);
      return nullptr;
    case kTypeInteger32: {
      const bool negative = !text.empty() && text[0] == '-';
      uint64_t magnitude = 0;
      switch (ParseDigits(text.substr(negative ? 1 : 0), negative ? 2147483648u : 2147483647u,
                          &magnitude)) {
        case Parse::kNotNumber:
          return "is not a decimal number";
        case Parse::kOutOfRange:
          return "is out of range (-2147483648 to 2147483647)";
        case Parse::kOk:
          break;
      }
      const int64_t value =
          negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
      if (writer != nullptr) writer->PutInteger(kTagInteger, value);
      return nullptr;
    }
    case kTypeDisplayString:
    case kTypeOpaque:
      if (writer != nullptr) {
        writer->PutOctets(type == kTypeDisplayString ? kTagOctetString : kTagOpaque, text);
      }
      return nullptr;
    case kTypeObjectId: {
      if (writer != nullptr) return PutOid(text, writer);
      uint8_t content[kMaxOidContent];
      size_t length = 0;
      return OidTextToBer(text, content, &length);
    }
    case kTypeIpAddress: {
      uint8_t octets[4];
      if (const char* why = ParseIpText(text, octets)) return why;
      if (writer != nullptr) {
        writer->PutOctets(kTagIpAddress, {reinterpret_cast<const char*>(octets), 4});
      }
      return nullptr;
    }
    case kTypeCounter32:
    case kTypeGauge32:
    case kTypeTimeTicks:
    case kTypeCounter64: {
      if (type == kTypeCounter64 && snmp_v1) return "cannot be sent in an SNMPv1 message";
      const bool wide = type == kTypeCounter64;
      uint64_t value = 0;
      switch (ParseDigits(text, wide ? UINT64_MAX : UINT32_MAX, &value)) {
        case Parse::kNotNumber:
          return "is not an unsigned decimal number";
        case Parse::kOutOfRange:
          return wide ? "is out of range (0 to 18446744073709551615)"
                      : "is out of range (0 to 4294967295)";
        case Parse::kOk:
          break;
      }
      if (writer != nullptr) writer->PutUnsigned(wide ? kTagCounter64 : UnsignedTag(type), value);
      return nullptr;
    }
    default:
      return kUnknownType;
  }
}

Status ValueToBer(int32_t type, std::string_view text, bool snmp_v1, BerWriter* writer) {
  const char* why = PutValue(type, text, snmp_v1, writer);
  if (why == nullptr) return Status();
  if (why == kNotEmpty) {
    return Status::Error(
        kErrorInvalidArgument,
        "a binding of type 0 (no value) takes an empty value text, not " + QuoteText(text));
  }
  if (why == kUnknownType) {
    return Status::Error(kErrorInvalidArgument, "unknown type code " + std::to_string(type));
  }
  return Refuse(type, text, why);
}

const char* OidTextToBer(std::string_view text, uint8_t* content, size_t* length) {
  OidMemo& memo = OidMemo::ForThisThread();
  std::span<const uint8_t> known;
  if (memo.FindBer(text, &known)) {
    std::memcpy(content, known.data(), known.size());
    *length = known.size();
    return nullptr;
  }
  if (const char* why = ConvertOidText(text, content, length)) return why;
  memo.Remember({content, *length}, text, /*canonical_text=*/false);
  return nullptr;
}

const char* PutOid(std::string_view text, BerWriter* writer) {
  OidMemo& memo = OidMemo::ForThisThread();
  std::span<const uint8_t> known;
  if (memo.FindBer(text, &known)) {
    writer->PutElement(kTagOid, known);
    return nullptr;
  }
  uint8_t content[kMaxOidContent];
  size_t length = 0;
  if (const char* why = ConvertOidText(text, content, &length)) return why;
  memo.Remember({content, length}, text, /*canonical_text=*/false);
  writer->PutElement(kTagOid, {content, length});
  return nullptr;
}

const char* ParseIpText(std::string_view text, uint8_t octets[4]) {
  uint8_t parsed[4];
  const char* p = text.data();
  const char* const end = p + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i != 0) {
      if (p == end || *p != '.') return "is not a dotted IPv4 address";
      ++p;
    }
    unsigned v = 0;
    int digits = 0;
    for (; p != end && *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) {
      v = v * 10 + static_cast<unsigned>(*p - '0');
    }
    if (digits == 0 || digits > 3 || v > 255) return "is not a dotted IPv4 address";
    parsed[i] = static_cast<uint8_t>(v);
  }
  if (p != end) return "is not a dotted IPv4 address";
  for (int i = 0; i < 4; ++i) octets[i] = parsed[i];
  return nullptr;
}

size_t FormatIpInto(std::span<const uint8_t, 4> octets, char* text) {
  char* p = text;
  for (size_t i = 0; i < 4; ++i) {
    if (i != 0) *p++ = '.';
    unsigned v = octets[i];
    if (v >= 100) {
      *p++ = static_cast<char>('0' + v / 100);
      v %= 100;
      *p++ = static_cast<char>('0' + v / 10);
    } else if (v >= 10) {
      *p++ = static_cast<char>('0' + v / 10);
    }
    *p++ = static_cast<char>('0' + v % 10);
  }
  return static_cast<size_t>(p - text);
}

void FormatIp(std::span<const uint8_t, 4> octets, std::string* text) {
  char buffer[16];
  SetText(text, buffer, FormatIpInto(octets, buffer));
}

std::string QuoteText(std::string_view text) {
  constexpr size_t kShown = 64;
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      quoted += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      quoted += escaped;
    }
  }
  quoted += '"';
  if (text.size() > kShown) quoted += "...";
  return quoted;
}

}  // namespace tervane::snmp
