// The passwords of an SNMPv3 user for `tervane-svc v3user add`: typed on the terminal without
// echo, each asked for twice, or, when standard input is not a terminal (a script, a pipe),
// one line each from it. Never from the command line, where ps and the shell's history would
// show them. Each password is checked (store::CheckPassword) as soon as it is read, so a short
// one is refused before the next is asked for.
//
// The terminal's settings are restored however the reading ends: a refusal, end of input, or
// SIGINT, SIGTERM, SIGHUP or SIGQUIT, after which the signal ends the process as it would have.
#ifndef TERVANE_ADMIN_PASSWORD_INPUT_H_
#define TERVANE_ADMIN_PASSWORD_INPUT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace tervane::svc {

// A password is read into a buffer of this size reserved beforehand, so that no copy of it is
// left behind by the string growing; a longer one is refused.
inline constexpr size_t kMaxPasswordOctets = 1024;

// What to ask for: the prompt's words ("Authentication password") and the name of the
// password in a refusal ("the authentication password").
struct PasswordQuestion {
  std::string_view prompt;
  std::string_view name;
};

// A password's text that wipes itself when it goes.
class Password {
 public:
  Password() { text_.reserve(kMaxPasswordOctets + 1); }
  Password(Password&& other) noexcept;
  Password& operator=(Password&& other) = delete;
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;
  ~Password();

  std::string_view view() const { return text_; }
  std::string* text() { return &text_; }
  // Overwrites the text with zeros and empties it.
  void Wipe();

 private:
  std::string text_;
};

// Reads one password for each of `questions`, in order, from standard input: on a terminal
// with the prompt and "Again: " on standard error, the two compared; else one line each (its
// line feed and a carriage return before it taken off). Fails, with the terminal as it was,
// on two different entries ("the two authentication passwords differ"), a password that
// CheckPassword refuses or longer than kMaxPasswordOctets, end of input before a password
// ("standard input: the privacy password is missing"), and a failure to read.
Result<std::vector<Password>> ReadPasswords(const std::vector<PasswordQuestion>& questions);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_PASSWORD_INPUT_H_
