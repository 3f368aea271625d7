#include "admin/password_input.h"

#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/sys_error.h"
#include "store/v3_users.h"

namespace tervane::svc {
namespace {

// The terminal's settings before echo was switched off, for the signal handler to put back.
// Written before the handlers are installed and only read after.
termios g_saved_terminal{};

constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreTerminalAndEnd(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  // SA_RESETHAND made the action the default again: once this handler returns, the signal,
  // blocked while it runs, ends the process as it would have without us.
  raise(signal_number);
}

// Echo off on the terminal of standard input for as long as it lives, and the handlers that
// switch it back on when a signal ends the process meanwhile.
class EchoOff {
 public:
  EchoOff() = default;
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() { Restore(); }

  Status Start() {
    termios quiet{};
    if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return SysError(errno, "the terminal");
    quiet = g_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
    struct sigaction restore {};
    restore.sa_handler = RestoreTerminalAndEnd;
    restore.sa_flags = SA_RESETHAND;
    sigemptyset(&restore.sa_mask);
    for (size_t i = 0; i < kEndingSignals.size(); ++i) {
      sigaction(kEndingSignals[i], &restore, &previous_[i]);
    }
    installed_ = true;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
      const int err = errno;
      Restore();
      return SysError(err, "the terminal");
    }
    return Status::Ok();
  }

 private:
  void Restore() {
    if (!installed_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    for (size_t i = 0; i < kEndingSignals.size(); ++i) {
      sigaction(kEndingSignals[i], &previous_[i], nullptr);
    }
    installed_ = false;
  }

  bool installed_ = false;
  std::array<struct sigaction, kEndingSignals.size()> previous_{};
};

void WriteError(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// One line of standard input into `line`, read an octet at a time so that nothing after it is
// taken; its line feed, and a carriage return before that, are not kept. False at end of input
// before any octet; an empty line is a password, too short.
Result<bool> ReadLine(Password* line, std::string_view name) {
  std::string* text = line->text();
  bool any = false;
  for (;;) {
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SysError(errno, "standard input");
    if (n == 0) break;
    any = true;
    if (c == '\n') break;
    if (text->size() == kMaxPasswordOctets) {
      return Status::Error(
          kErrorInvalidArgument,
          std::string(name) + " is longer than " + std::to_string(kMaxPasswordOctets) + " octets");
    }
    text->push_back(c);
  }
  if (!text->empty() && text->back() == '\r') text->pop_back();
  return any;
}

Status Missing(std::string_view source, std::string_view name) {
  return Status::Error(kErrorInvalidArgument, std::string(source) + ": " + std::string(name) +
                                                  " is missing (one line for each password)");
}

// "the authentication password" -> "the two authentication passwords differ".
Status Differ(std::string_view name) {
  std::string_view kind = name;
  if (kind.starts_with("the ")) kind.remove_prefix(4);
  return Status::Error(kErrorInvalidArgument, "the two " + std::string(kind) + "s differ");
}

Status ReadFromTerminal(const PasswordQuestion& question, Password* password) {
  EchoOff echo_off;
  if (Status s = echo_off.Start(); !s.ok()) return s;
  Password again;
  for (Password* entry : {password, &again}) {
    WriteError(entry == password ? std::string(question.prompt) + ": " : "Again: ");
    Result<bool> read = ReadLine(entry, question.name);
    WriteError("\n");  // the line feed typed was not echoed
    if (!read.ok()) return read.status();
    if (!*read) return Missing("the terminal", question.name);
    if (entry == password) {
      if (Status s = store::CheckPassword(password->view(), question.name); !s.ok()) return s;
    }
  }
  if (password->view() != again.view()) return Differ(question.name);
  return Status::Ok();
}

}  // namespace

Password::Password(Password&& other) noexcept : text_(std::move(other.text_)) { other.Wipe(); }

Password::~Password() { Wipe(); }

void Password::Wipe() {
  // explicit_bzero: a store the compiler may not drop for being dead.
  explicit_bzero(text_.data(), text_.size());
  text_.clear();
}

Result<std::vector<Password>> ReadPasswords(const std::vector<PasswordQuestion>& questions) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  std::vector<Password> passwords;
  passwords.reserve(questions.size());
  for (const PasswordQuestion& question : questions) {
    passwords.emplace_back();
    Password* password = &passwords.back();
    if (terminal) {
      if (Status s = ReadFromTerminal(question, password); !s.ok()) return s;
      continue;
    }
    Result<bool> read = ReadLine(password, question.name);
    if (!read.ok()) return read.status();
    if (!*read) return Missing("standard input", question.name);
    if (Status s = store::CheckPassword(password->view(), question.name); !s.ok()) return s;
  }
  return passwords;
}

}  // namespace tervane::svc
