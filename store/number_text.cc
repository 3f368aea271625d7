#include "store/number_text.h"

#include <cstdint>
#include <string>

namespace tervane::store {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string_view Digits(std::string_view text, size_t* i) {
  const size_t start = *i;
  while (*i < text.size() && IsDigit(text[*i])) ++*i;
  return text.substr(start, *i - start);
}

// A number as written: sign, the digits before and after the point, and the exponent, so
// that its value is +-0.(whole fraction) times 10 to the power of (whole.size() + exponent).
struct Decimal {
  bool negative = false;
  std::string_view whole;
  std::string_view fraction;
  int64_t exponent = 0;

  size_t size() const { return whole.size() + fraction.size(); }
  int digit(size_t i) const {
    return (i < whole.size() ? whole[i] : fraction[i - whole.size()]) - '0';
  }
};

std::optional<Decimal> Read(std::string_view text, NumberStyle style) {
  if (style == NumberStyle::kRounded) text = Trim(text);
  Decimal d;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || (text[i] == '+' && style == NumberStyle::kRounded))) {
    d.negative = text[i++] == '-';
  }
  d.whole = Digits(text, &i);
  if (style == NumberStyle::kRounded) {
    if (i < text.size() && text[i] == '.') {
      ++i;
      d.fraction = Digits(text, &i);
    }
    if (d.size() > 0 && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
      ++i;
      bool down = false;
      if (i < text.size() && (text[i] == '-' || text[i] == '+')) down = text[i++] == '-';
      const std::string_view e = Digits(text, &i);
      if (e.empty()) return std::nullopt;
      // Past a million the exponent says "far too large" or "far too small" alike.
      for (char c : e) d.exponent = std::min<int64_t>(d.exponent * 10 + (c - '0'), 1000000);
      if (down) d.exponent = -d.exponent;
    }
  }
  if (d.size() == 0 || i != text.size()) return std::nullopt;
  return d;
}

bool IsZero(const Decimal& d) {
  for (size_t i = 0; i < d.size(); ++i) {
    if (d.digit(i) != 0) return false;
  }
  return true;
}

// The magnitude of `d` rounded to a whole number, half to even; nothing when it has more
// than 19 digits, which no range here holds.
std::optional<uint64_t> RoundedMagnitude(const Decimal& d) {
  if (IsZero(d)) return 0;
  const int64_t n = static_cast<int64_t>(d.size());
  const int64_t point = static_cast<int64_t>(d.whole.size()) + d.exponent;
  uint64_t whole = 0;
  int significant = 0;
  for (int64_t i = 0; i < point; ++i) {
    const int digit = i < n ? d.digit(static_cast<size_t>(i)) : 0;
    if (significant > 0 || digit != 0) ++significant;
    if (significant > 19) return std::nullopt;
    whole = whole * 10 + static_cast<uint64_t>(digit);
  }
  // What follows the point decides the rounding: below, at or above one half. A point
  // before the first digit means a value below one tenth.
  if (point >= 0 && point < n) {
    const int first = d.digit(static_cast<size_t>(point));
    bool more = false;
    for (int64_t i = point + 1; i < n && !more; ++i) more = d.digit(static_cast<size_t>(i)) != 0;
    if (first > 5 || (first == 5 && (more || whole % 2 == 1))) ++whole;
  }
  return whole;
}

}  // namespace

Result<int64_t> ParseNumberText(std::string_view text, NumberStyle style, const NumberRange& range,
                                std::string_view what) {
  auto fail = [&](ErrorCode code, const std::string& why) {
    std::string description(what);
    if (!description.empty()) description += ": ";
    return Status::Error(code, description + why);
  };
  const std::optional<Decimal> d = Read(text, style);
  if (!d) {
    return fail(kErrorConversion,
                "\"" + std::string(text) + "\"" +
                    (style == NumberStyle::kWhole ? " is not a whole number" : " is not a number"));
  }
  const std::optional<uint64_t> magnitude = RoundedMagnitude(*d);
  constexpr uint64_t kLimit = uint64_t{1} << 63;  // the magnitude of INT64_MIN
  if (magnitude && *magnitude <= kLimit && (d->negative || *magnitude < kLimit)) {
    const int64_t value = !d->negative           ? static_cast<int64_t>(*magnitude)
                          : *magnitude == kLimit ? INT64_MIN
                                                 : -static_cast<int64_t>(*magnitude);
    if (value >= range.min && value <= range.max) return value;
  }
  return fail(range.error, std::string(text) + " " + range.refusal);
}

std::optional<bool> NumberTextIsNonZero(std::string_view text) {
  const std::optional<Decimal> d = Read(text, NumberStyle::kRounded);
  if (!d) return std::nullopt;
  return !IsZero(*d);
}

}  // namespace tervane::store
