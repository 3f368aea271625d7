// Conversions that the service applies to the settings and trap definitions it reads.
//
// The window stores what the user typed, so a column may hold Null, a number, or text that
// may or may not be a number. The service needs Booleans, 16- and 32-bit integers, ports
// and text, and must refuse what does not convert with a description fit for an event-log
// line, naming the column: "TrapRecvPort: 70000 is not a port number (1 to 65535)".
// `column` is that name; when it is empty the description starts with the value.
//
// Numbers: an integer, a real, or text holding one as number_text.h's kRounded style reads
// it (blanks around it allowed, a sign, a fraction and an exponent too). A fraction is
// rounded to the nearest whole number, a half to the even neighbour (2.5 -> 2, 3.5 -> 4,
// -2.5 -> -2).
//
// Error codes: kErrorConversion for Null and for what is not a number or Boolean,
// kErrorOverflow for a number outside its type's range, kErrorInvalidArgument for a port
// outside 1 to 65535.
#ifndef TERVANE_STORE_CONVERT_H_
#define TERVANE_STORE_CONVERT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "store/number_text.h"
#include "store/value.h"

namespace tervane::store {

// A number is true when it is not zero; text may also be "True"/"False", "Yes"/"No" or
// "On"/"Off" in any case. Null, empty text and other text fail.
Result<bool> ToBoolean(const Value& value, std::string_view column);

// A number, rounded, within -32768 to 32767.
Result<int16_t> ToInt16(const Value& value, std::string_view column);

// A number, rounded, within -2147483648 to 2147483647.
Result<int32_t> ToInt32(const Value& value, std::string_view column);

// A number, rounded as ToInt16 does, within 1 to 65535. Ports above 32767 are valid here
// although a 16-bit signed number cannot hold them; port 0 and negative ports are not.
Result<uint16_t> ToPort(const Value& value, std::string_view column);

// Any non-Null value as the window shows it (Value::AsText); Null fails, because a setting
// such as an address must not silently become empty. Where an empty text is a fine answer
// for Null (the TrapOID and TrapNewNumber of a definition), use Value::AsText instead.
Result<std::string> ToText(const Value& value, std::string_view column);

}  // namespace tervane::store

#endif  // TERVANE_STORE_CONVERT_H_
