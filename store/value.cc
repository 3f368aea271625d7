#include "store/value.h"

#include <charconv>
#include <string>

namespace tervane::store {

std::string Value::AsText() const {
  if (is_integer()) return std::to_string(integer());
  if (is_text()) return text();
  if (is_real()) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, real());
    // 64 bytes always hold the shortest form of a double; the check is for completeness.
    return ec == std::errc() ? std::string(buf, end) : std::string();
  }
  return std::string();
}

std::ostream& operator<<(std::ostream& out, const Value& value) {
  if (value.is_null()) return out << "Null";
  if (value.is_text()) return out << '"' << value.text() << '"';
  return out << value.AsText();
}

}  // namespace tervane::store
