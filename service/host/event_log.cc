#include "service/host/event_log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tervane::host {
namespace {

const char* TypeName(int type) {
  switch (type) {
    case kEventError:
      return "error";
    case kEventWarning:
      return "warning";
    case kEventInformation:
      return "information";
    default:
      return "event";
  }
}

int SyslogPriority(int type) {
  switch (type) {
    case kEventError:
      return LOG_ERR;
    case kEventWarning:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

// systemd sets JOURNAL_STREAM to "device:inode" of the stream it connected to stderr.
bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  struct stat st {};
  if (fstat(STDERR_FILENO, &st) != 0) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
  return dev == static_cast<unsigned long long>(st.st_dev) &&
         ino == static_cast<unsigned long long>(st.st_ino);
}

}  // namespace

std::string EventLine(int type, int number, const std::string& text) {
  std::string line = "Tervane: ";
  line += TypeName(type);
  line += ' ';
  line += std::to_string(number);
  if (!text.empty()) {
    line += ": ";
    for (char c : text) line += (c == '\r' || c == '\n' || c == '\0') ? ' ' : c;
  }
  return line;
}

SystemEventLog::SystemEventLog() : use_syslog_(!StderrIsJournal()) {
  if (use_syslog_) openlog("Tervane", LOG_PID | LOG_NDELAY, LOG_DAEMON);
}

SystemEventLog::~SystemEventLog() {
  if (use_syslog_) closelog();
}

void SystemEventLog::Log(int type, int number, const std::string& text) {
  std::string line = EventLine(type, number, text);
  if (use_syslog_) syslog(SyslogPriority(type), "%s", line.c_str() + 9);  // without "Tervane: "
  line += '\n';
  // One write per entry so lines from a busy service never interleave.
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

}  // namespace tervane::host
