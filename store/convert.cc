#include "store/convert.h"

#include <strings.h>

#include <array>
#include <cmath>
#include <optional>
#include <string>

namespace tervane::store {
namespace {

Status Fail(ErrorCode code, std::string_view column, const std::string& what) {
  if (column.empty()) return Status::Error(code, what);
  return Status::Error(code, std::string(column) + ": " + what);
}

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Nearest whole number, a half to the even neighbour, independent of the floating-point
// environment's rounding mode.
double RoundHalfEven(double x) {
  double whole = std::floor(x);
  double fraction = x - whole;  // exact for every finite double
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return whole;
}

// A column's value as a whole number within `range`: Null fails, a stored number is rounded,
// text is read as ParseNumberText reads it.
template <typename Int>
Result<Int> InRange(const Value& value, std::string_view column, const NumberRange& range) {
  if (value.is_null()) return Fail(kErrorConversion, column, "no value");
  if (value.is_text()) {
    Result<int64_t> number = ParseNumberText(value.text(), NumberStyle::kRounded, range, column);
    if (!number.ok()) return number.status();
    return static_cast<Int>(*number);
  }
  if (value.is_integer()) {
    if (value.integer() >= range.min && value.integer() <= range.max) {
      return static_cast<Int>(value.integer());
    }
  } else {
    const double rounded = RoundHalfEven(value.real());
    // Written so that a NaN, which compares false with everything, fails.
    if (static_cast<double>(range.min) <= rounded && rounded <= static_cast<double>(range.max)) {
      return static_cast<Int>(rounded);
    }
  }
  return Fail(range.error, column, value.AsText() + " " + range.refusal);
}

}  // namespace

Result<bool> ToBoolean(const Value& value, std::string_view column) {
  if (value.is_null()) return Fail(kErrorConversion, column, "no value");
  if (value.is_integer()) return value.integer() != 0;
  if (value.is_real()) return value.real() != 0.0;
  std::string_view text = Trim(value.text());
  constexpr std::array<std::string_view, 3> kTrue = {"True", "Yes", "On"};
  constexpr std::array<std::string_view, 3> kFalse = {"False", "No", "Off"};
  for (size_t i = 0; i < kTrue.size(); ++i) {
    if (EqualsIgnoringCase(text, kTrue[i])) return true;
    if (EqualsIgnoringCase(text, kFalse[i])) return false;
  }
  if (std::optional<bool> non_zero = NumberTextIsNonZero(text)) return *non_zero;
  return Fail(kErrorConversion, column,
              "\"" + value.text() +
                  "\" is not a Boolean (True or False, Yes or No, On or Off, or a number)");
}

Result<int16_t> ToInt16(const Value& value, std::string_view column) {
  return InRange<int16_t>(value, column, kInt16Range);
}

Result<int32_t> ToInt32(const Value& value, std::string_view column) {
  return InRange<int32_t>(value, column, kInt32Range);
}

Result<uint16_t> ToPort(const Value& value, std::string_view column) {
  return InRange<uint16_t>(value, column, kPortRange);
}

Result<std::string> ToText(const Value& value, std::string_view column) {
  if (value.is_null()) return Fail(kErrorConversion, column, "no value");
  return value.AsText();
}

}  // namespace tervane::store
