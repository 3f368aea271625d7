// The event log: where the service reports its start, stop and failures. Each entry has a
// type (1 error, 2 warning, 4 information), an event number and an optional text.
//
// The Linux log writes every entry to syslog (ident "Tervane", facility daemon) and as one
// line to standard error, so a foreground run, a service manager's log file and the
// systemd journal all show it. When standard error already is the journal, syslog is
// skipped so that the journal does not get every entry twice.
#ifndef TERVANE_SERVICE_HOST_EVENT_LOG_H_
#define TERVANE_SERVICE_HOST_EVENT_LOG_H_

#include <string>

namespace tervane::host {

inline constexpr int kEventError = 1;
inline constexpr int kEventWarning = 2;
inline constexpr int kEventInformation = 4;

class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void Log(int type, int number, const std::string& text) = 0;
};

// The one line an entry is written as: "Tervane: <type> <number>[: <text>]", with line
// breaks in the text shown as blanks.
std::string EventLine(int type, int number, const std::string& text);

class SystemEventLog : public EventLog {
 public:
  SystemEventLog();
  ~SystemEventLog() override;
  void Log(int type, int number, const std::string& text) override;

 private:
  bool use_syslog_;
};

}  // namespace tervane::host

#endif  // TERVANE_SERVICE_HOST_EVENT_LOG_H_
