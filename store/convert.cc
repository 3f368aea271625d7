#include "store/convert.h"

#include <strings.h>

#include <array>
#include <charconv>
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

// The number in `text`: blanks around it, an optional sign, digits with an optional
// fraction and exponent. A number too large for a double comes back as an infinity, so that
// range checks refuse it as out of range rather than as "not a number".
std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  const char* end = text.data() + text.size();
  double number = 0;
  auto [stop, ec] = std::from_chars(text.data(), end, number);
  if (stop != end) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Either too large or too small in magnitude; a negative exponent means too small.
    size_t e = text.find_first_of("eE");
    if (e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-') return 0.0;
    return text.front() == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  // from_chars also reads "inf" and "nan", which are not numbers a user means.
  if (ec != std::errc() || !std::isfinite(number)) return std::nullopt;
  return number;
}

// Nearest whole number, a half to the even neighbour, independent of the floating-point
// environment's rounding mode.
double RoundHalfEven(double x) {
  double whole = std::floor(x);
  double fraction = x - whole;  // exact for every finite double
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return whole;
}

// The value as a rounded whole number (possibly infinite, for range checks to refuse), or
// the failure for Null and for text that is not a number.
Result<double> WholeNumber(const Value& value, std::string_view column) {
  if (value.is_null()) return Fail(kErrorConversion, column, "no value");
  if (value.is_integer()) return static_cast<double>(value.integer());
  if (value.is_real()) return RoundHalfEven(value.real());
  std::optional<double> number = ParseNumber(value.text());
  if (!number) return Fail(kErrorConversion, column, "\"" + value.text() + "\" is not a number");
  return std::isfinite(*number) ? RoundHalfEven(*number) : *number;
}

template <typename Int>
Result<Int> InRange(const Value& value, std::string_view column, double low, double high,
                    ErrorCode code, const char* range_text) {
  Result<double> number = WholeNumber(value, column);
  if (!number.ok()) return number.status();
  // Written so that a NaN, which compares false with everything, is refused too.
  if (!(low <= *number && *number <= high)) {
    return Fail(code, column, value.AsText() + " " + range_text);
  }
  return static_cast<Int>(*number);
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
  std::optional<double> number = ParseNumber(text);
  if (number) return *number != 0.0;
  return Fail(kErrorConversion, column,
              "\"" + value.text() +
                  "\" is not a Boolean (True or False, Yes or No, On or Off, or a number)");
}

Result<int16_t> ToInt16(const Value& value, std::string_view column) {
  return InRange<int16_t>(value, column, -32768, 32767, kErrorOverflow,
                          "is outside the 16-bit range (-32768 to 32767)");
}

Result<int32_t> ToInt32(const Value& value, std::string_view column) {
  return InRange<int32_t>(value, column, -2147483648.0, 2147483647.0, kErrorOverflow,
                          "is outside the 32-bit range (-2147483648 to 2147483647)");
}

Result<uint16_t> ToPort(const Value& value, std::string_view column) {
  return InRange<uint16_t>(value, column, 1, 65535, kErrorInvalidArgument,
                           "is not a port number (1 to 65535)");
}

Result<std::string> ToText(const Value& value, std::string_view column) {
  if (value.is_null()) return Fail(kErrorConversion, column, "no value");
  return value.AsText();
}

}  // namespace tervane::store
