// Value: one field of a settings row as the database holds it.
//
// A column of the settings database can hold Null, a whole number, a real number or text,
// whatever its declared type: the window stores what the user typed, and SQLite keeps a
// number typed as text as a number only where the column is numeric. Value keeps exactly
// what was stored, so that the service can tell a missing setting (Null) from an empty one
// and convert with rules of its own (store/convert.h), and the window can show any of them.
#ifndef TERVANE_STORE_VALUE_H_
#define TERVANE_STORE_VALUE_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <variant>

namespace tervane::store {

class Value {
 public:
  Value() = default;                            // Null
  Value(int v) : v_(int64_t{v}) {}              // NOLINT(google-explicit-constructor)
  Value(int64_t v) : v_(v) {}                   // NOLINT(google-explicit-constructor)
  Value(double v) : v_(v) {}                    // NOLINT(google-explicit-constructor)
  Value(std::string v) : v_(std::move(v)) {}    // NOLINT(google-explicit-constructor)
  Value(const char* v) : v_(std::string(v)) {}  // NOLINT(google-explicit-constructor)

  bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
  bool is_integer() const { return std::holds_alternative<int64_t>(v_); }
  bool is_real() const { return std::holds_alternative<double>(v_); }
  bool is_text() const { return std::holds_alternative<std::string>(v_); }

  // The stored value; each may only be called when the matching is_...() is true.
  int64_t integer() const { return std::get<int64_t>(v_); }
  double real() const { return std::get<double>(v_); }
  const std::string& text() const { return std::get<std::string>(v_); }

  // What a field of the window shows: Null as empty text, a whole number in decimal, a real
  // number in the shortest form that reads back to the same number ("2.5", "1e+20"), text
  // as it is.
  std::string AsText() const;

  // Equal when of the same kind and value: the integer 1 and the real 1.0 differ, as they
  // do in the database.
  friend bool operator==(const Value& a, const Value& b) = default;

 private:
  std::variant<std::monostate, int64_t, double, std::string> v_;
};

// "Null", a number, or text in double quotes; for test failure messages and debugging.
std::ostream& operator<<(std::ostream& out, const Value& value);

}  // namespace tervane::store

#endif  // TERVANE_STORE_VALUE_H_
