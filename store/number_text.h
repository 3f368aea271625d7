// Numbers written as text: the one reader of them for the store, the service and the window.
//
// The settings database holds what a user typed, so a numeric column may hold text. Two
// readings of such text:
//   - kRounded, how the service converts a stored value: blanks around it, a sign, digits
//     with an optional fraction and exponent ("12", " -3 ", "1000.5", "1e3"); a fraction is
//     rounded to the nearest whole number, a half to the even neighbour (2.5 -> 2,
//     3.5 -> 4, -2.5 -> -2);
//   - kWhole, what the window accepts from a user's keyboard for a whole number: digits with
//     an optional leading minus, nothing else.
// Both are exact: the text is never passed through a floating-point number, so a value just
// inside a range ("2147483647.4999999999999") is never rounded out of it, and digits beyond
// a double's precision still count.
#ifndef TERVANE_STORE_NUMBER_TEXT_H_
#define TERVANE_STORE_NUMBER_TEXT_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/status.h"

namespace tervane::store {

enum class NumberStyle { kRounded, kWhole };

// The numbers a column takes, and how a number outside them is refused.
struct NumberRange {
  int64_t min;
  int64_t max;
  const char* refusal;  // follows the number in the description: "<what>: 70000 <refusal>"
  ErrorCode error;
};

inline constexpr NumberRange kInt16Range{
    -32768, 32767, "is outside the 16-bit range (-32768 to 32767)", kErrorOverflow};
inline constexpr NumberRange kInt32Range{INT32_MIN, INT32_MAX,
                                         "is outside the 32-bit range (-2147483648 to 2147483647)",
                                         kErrorOverflow};
inline constexpr NumberRange kUint32Range{0, UINT32_MAX, "is outside the range 0 to 4294967295",
                                          kErrorOverflow};
inline constexpr NumberRange kPortRange{1, 65535, "is not a port number (1 to 65535)",
                                        kErrorInvalidArgument};

// The whole number that `text` holds, read in `style`, within `range`. Fails with
// kErrorConversion ("<what>: \"12abc\" is not a number", "... is not a whole number" in the
// kWhole style) when the text is not a number in that style, and with range.error ("<what>: 70000
// <refusal>") when it lies outside the range. With `what` empty the description starts with the
// value.
Result<int64_t> ParseNumberText(std::string_view text, NumberStyle style, const NumberRange& range,
                                std::string_view what);

// Whether `text` is a number in the kRounded style that is not zero before any rounding
// ("0.4" is not zero); nothing when it is no such number. What a Boolean column's number
// text means.
std::optional<bool> NumberTextIsNonZero(std::string_view text);

}  // namespace tervane::store

#endif  // TERVANE_STORE_NUMBER_TEXT_H_
