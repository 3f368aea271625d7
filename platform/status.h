// Status and Result: how every fallible function in Tervane reports failure.
//
// No exception crosses a module boundary. A failure carries an error code and a
// description, because every failure the service reports ends up as the event-log text
// "[" + number + "] " + description + " (Module: ...)". The code is a number within a domain:
// errno values, Windows numbers (the service manager's 5, 1060, ... and the socket numbers
// 10048, 10049), SQLite result codes, a helper program's exit status, or one of Tervane's own
// codes below. Only the number is shown; the domain keeps numbers of different origins apart,
// so that Tervane's "invalid argument" (5) is never taken for "access denied" (5).
#ifndef TERVANE_PLATFORM_STATUS_H_
#define TERVANE_PLATFORM_STATUS_H_

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace tervane {

enum class ErrorDomain : unsigned char { kTervane, kErrno, kWindows, kSqlite, kExitStatus };

struct ErrorCode {
  ErrorDomain domain = ErrorDomain::kTervane;
  int number = 0;
  friend constexpr bool operator==(ErrorCode, ErrorCode) = default;
};

constexpr ErrorCode ErrnoCode(int err) { return {ErrorDomain::kErrno, err}; }
constexpr ErrorCode WindowsCode(int number) { return {ErrorDomain::kWindows, number}; }
constexpr ErrorCode SqliteCode(int rc) { return {ErrorDomain::kSqlite, rc}; }
constexpr ErrorCode ExitStatusCode(int status) { return {ErrorDomain::kExitStatus, status}; }

// Tervane's own codes, for failures that no operating-system call reported. The numbers are
// those the event texts have always shown.
// Malformed input data.
inline constexpr ErrorCode kErrorMalformed{ErrorDomain::kTervane, 1};
// A value that its type does not accept.
inline constexpr ErrorCode kErrorInvalidArgument{ErrorDomain::kTervane, 5};
// A number outside its range.
inline constexpr ErrorCode kErrorOverflow{ErrorDomain::kTervane, 6};
// A value that cannot be converted.
inline constexpr ErrorCode kErrorConversion{ErrorDomain::kTervane, 13};
// A missing file, table, column or row.
inline constexpr ErrorCode kErrorNotFound{ErrorDomain::kTervane, 3265};
// A row that was read, and has since been removed or changed by another program.
inline constexpr ErrorCode kErrorRowGone{ErrorDomain::kTervane, 3021};
// A file that this process may read but not write.
inline constexpr ErrorCode kErrorReadOnly{ErrorDomain::kTervane, 3027};
// A settings database of a schema version newer than this program reads.
inline constexpr ErrorCode kErrorNewerSchema{ErrorDomain::kTervane, 3028};
// A database that another connection is writing, where this one does not wait.
inline constexpr ErrorCode kErrorBusy{ErrorDomain::kTervane, 3218};
// A promise broken inside the program.
inline constexpr ErrorCode kErrorInternal{ErrorDomain::kTervane, -1};

// "errno 13", "windows 1060", ...: for test failure messages.
inline std::ostream& operator<<(std::ostream& out, ErrorCode code) {
  static const char* const kNames[] = {"tervane", "errno", "windows", "sqlite", "exit status"};
  return out << kNames[static_cast<int>(code.domain)] << ' ' << code.number;
}

class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  static Status Ok() { return Status(); }
  // A failure; a code whose number is 0 becomes -1, since 0 means success.
  static Status Error(ErrorCode code, std::string description) {
    Status s;
    s.code_ = code;
    if (s.code_.number == 0) s.code_.number = -1;
    s.description_ = std::move(description);
    return s;
  }

  bool ok() const { return code_.number == 0; }
  explicit operator bool() const { return ok(); }
  ErrorCode error() const { return code_; }
  // The number that event texts and the window show.
  int code() const { return code_.number; }
  const std::string& description() const { return description_; }

  // "[code] description", the frame of every error event.
  std::string ToString() const {
    return ok() ? std::string("OK") : "[" + std::to_string(code_.number) + "] " + description_;
  }

 private:
  ErrorCode code_;
  std::string description_;
};

// A value or the Status that explains why there is none. Reading the value of a Result that
// holds none is a programming error: it ends the process with a message instead of reading
// an empty optional.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT(google-explicit-constructor)
  Result(Status status) : status_(std::move(status)) {  // NOLINT(google-explicit-constructor)
    if (status_.ok()) status_ = Status::Error(kErrorInternal, "no value and no error");
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }

  T& value() & { return Checked(); }
  const T& value() const& { return Checked(); }
  T&& value() && { return std::move(Checked()); }
  T& operator*() & { return Checked(); }
  const T& operator*() const& { return Checked(); }
  T* operator->() { return &Checked(); }
  const T* operator->() const { return &Checked(); }

 private:
  T& Checked() {
    if (!value_) [[unlikely]]
      NoValue();
    return *value_;
  }
  const T& Checked() const {
    if (!value_) [[unlikely]]
      NoValue();
    return *value_;
  }
  [[noreturn]] void NoValue() const {
    std::fprintf(stderr, "Result read without a value: %s\n", status_.ToString().c_str());
    std::abort();
  }

  std::optional<T> value_;
  Status status_;
};

}  // namespace tervane

#endif  // TERVANE_PLATFORM_STATUS_H_
