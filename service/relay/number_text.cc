#include "service/relay/number_text.h"

#include <cstdint>
#include <string>

namespace tervane::relay {

Result<int64_t> ParseNumberText(const std::string& text, int64_t min, int64_t max,
                                const std::string& what) {
  auto fail = [&](const char* why) -> Status {
    return Status::Error(kErrorConversion, what + ": \"" + text + "\" " + why);
  };
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  size_t digits_start = i;
  uint64_t whole = 0;
  bool too_big = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (whole > (UINT64_MAX - 9) / 10) too_big = true;
    if (!too_big) whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  bool have_whole = i > digits_start;
  // The fraction decides the rounding: below, at or above one half.
  int half = -1;  // -1 no fraction or below half, 0 exactly half, 1 above half
  bool have_fraction = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    size_t frac_start = i;
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      half = text[i] > '5' ? 1 : (text[i] == '5' ? 0 : -1);
      ++i;
      for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (half == 0 && text[i] != '0') half = 1;
      }
    }
    have_fraction = i > frac_start;
  }
  if (i != text.size() || (!have_whole && !have_fraction)) return fail("is not a number");
  if (half == 1 || (half == 0 && (whole % 2) == 1)) ++whole;
  if (too_big || whole > static_cast<uint64_t>(INT64_MAX)) return fail("is out of range");
  int64_t value = negative ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole);
  if (value < min || value > max) {
    return fail(
        ("is out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")").c_str());
  }
  return value;
}

}  // namespace tervane::relay
