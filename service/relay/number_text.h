// Numbers given as text: the definitions store numbers that the window may have written as
// text, and the current trap keeps every number as the text it was received as. Senders
// turn them back into numbers here.
#ifndef TERVANE_SERVICE_RELAY_NUMBER_TEXT_H_
#define TERVANE_SERVICE_RELAY_NUMBER_TEXT_H_

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace tervane::relay {

// Parses decimal text with an optional sign and an optional fraction ("12", "-3",
// "1000.5"), rounding a fraction to the nearest integer and a half to the even neighbour.
// Fails when the text is not such a number or the result lies outside [min, max]; the
// description names `what`.
Result<int64_t> ParseNumberText(const std::string& text, int64_t min, int64_t max,
                                const std::string& what);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_NUMBER_TEXT_H_
