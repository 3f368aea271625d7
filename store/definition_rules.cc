#include "store/definition_rules.h"

#include <algorithm>
#include <string>

#include "service/snmp/value_text.h"

namespace tervane::store {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when it starts
// with a byte that begins none (RFC 3629's table of well-formed byte sequences).
size_t SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;   // no overlong forms
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

Status Refused(std::string_view what, const std::string& rest) {
  return Status::Error(kErrorInvalidArgument, std::string(what) + ": " + rest);
}

}  // namespace

bool IsWellFormedUtf8(std::string_view text) {
  while (!text.empty()) {
    const size_t length = SequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

int TrapNameLength(std::string_view name) {
  int units = 0;
  while (!name.empty()) {
    const size_t length = SequenceLength(name);
    // Four bytes hold a code point above U+FFFF: a surrogate pair in UTF-16.
    units += length == 4 ? 2 : 1;
    name.remove_prefix(std::max<size_t>(length, 1));
  }
  return units;
}

Status CheckTrapName(std::string_view name, std::string_view what) {
  if (name.empty()) return Refused(what, "a trap definition needs a name");
  const int length = TrapNameLength(name);
  if (length > kTrapNameLength) {
    return Refused(what, "the name has " + std::to_string(length) + " characters; at most " +
                             std::to_string(kTrapNameLength) + " are possible");
  }
  return Status::Ok();
}

Status CheckNewNumber(int64_t number, std::string_view what) {
  if (number >= kFirstNewNumber && number <= kLastNewNumber &&
      (number - kFirstNewNumber) % kNewNumberStep == 0) {
    return Status::Ok();
  }
  return Refused(what, std::to_string(number) + " is not a trap number of the list (" +
                           std::to_string(kFirstNewNumber) + " to " +
                           std::to_string(kLastNewNumber) + " in steps of " +
                           std::to_string(kNewNumberStep) + ")");
}

Status CheckNewVarCount(int64_t count, std::string_view what) {
  if (count >= 1 && count <= kMaxNewVariables) return Status::Ok();
  return Refused(what, std::to_string(count) + " is not a number of new variables (1 to " +
                           std::to_string(kMaxNewVariables) + ")");
}

Status CheckVarType(std::string_view type, std::string_view what) {
  if (type.empty() ||
      std::find(kVarTypeNames.begin(), kVarTypeNames.end(), type) != kVarTypeNames.end()) {
    return Status::Ok();
  }
  std::string names;
  for (std::string_view name : kVarTypeNames) {
    names += names.empty() ? "" : ", ";
    names += name;
  }
  return Refused(what, snmp::QuoteText(type) + " is not one of the types " + names);
}

}  // namespace tervane::store
