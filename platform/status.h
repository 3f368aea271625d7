// Status and Result: how every fallible function in Tervane reports failure.
//
// No exception crosses a module boundary. A failure carries an error number and a
// description, because every failure the service reports ends up as the event-log text
// "[" + number + "] " + description + " (Module: ...)". Numbers are errno values, SQLite
// result codes, Windows socket numbers (10048, 10049) or one of the kError* values below;
// the description is always a full, human-readable sentence fragment.
#ifndef TERVANE_PLATFORM_STATUS_H_
#define TERVANE_PLATFORM_STATUS_H_

#include <optional>
#include <string>
#include <utility>

namespace tervane {

// Error numbers of our own, for failures that no operating-system call reported.
inline constexpr int kErrorInvalidArgument = 5;  // a value that its type does not accept
inline constexpr int kErrorNotFound = 3265;      // a missing file, table, column or row
inline constexpr int kErrorConversion = 13;      // a value that cannot be converted
inline constexpr int kErrorOverflow = 6;         // a number outside its range
inline constexpr int kErrorMalformed = 1;        // malformed input data

class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  static Status Ok() { return Status(); }
  static Status Error(int code, std::string description) {
    Status s;
    s.code_ = code == 0 ? -1 : code;
    s.description_ = std::move(description);
    return s;
  }

  bool ok() const { return code_ == 0; }
  explicit operator bool() const { return ok(); }
  int code() const { return code_; }
  const std::string& description() const { return description_; }

  // "[code] description", the frame of every error event.
  std::string ToString() const {
    return ok() ? std::string("OK") : "[" + std::to_string(code_) + "] " + description_;
  }

 private:
  int code_ = 0;
  std::string description_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT(google-explicit-constructor)
  Result(Status status) : status_(std::move(status)) {  // NOLINT(google-explicit-constructor)
    if (status_.ok()) status_ = Status::Error(-1, "no value and no error");
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }

  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace tervane

#endif  // TERVANE_PLATFORM_STATUS_H_
