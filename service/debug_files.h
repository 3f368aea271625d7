// The debug files of the program folder, Debug.txt and Debug-Error.txt, and what a failure to
// write them costs: nothing but a report. The relay never loses a trap to its debug log, so
// every writer goes on exactly as with debug mode off after reporting the failure.
//
// A failure is reported as event 106, "[n] description (Module: <procedure>)". A failure
// that repeats (a full disk fails every record alike) is logged the first time at once, then
// at most once a minute, with the number of times it was not logged since.
#ifndef TERVANE_SERVICE_DEBUG_FILES_H_
#define TERVANE_SERVICE_DEBUG_FILES_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/host/event_log.h"

namespace tervane {

inline constexpr char kDebugFile[] = "Debug.txt";
inline constexpr char kDebugErrorFile[] = "Debug-Error.txt";

class DebugFiles {
 public:
  using Clock = std::chrono::steady_clock;
  // Appends a record to a file; AppendToFile unless a test replaces it.
  using Writer = std::function<Status(const std::string& path, std::string_view record)>;

  // How long an identical failure stays quiet after it was logged.
  static constexpr std::chrono::seconds kQuietTime{60};

  DebugFiles(std::string folder, host::EventLog& log);
  DebugFiles(std::string folder, host::EventLog& log, Writer writer,
             std::function<Clock::time_point()> now);

  // Appends `record` to `file` of the program folder, reporting a failure as `module`'s.
  void Append(const char* file, std::string_view record, const char* module);
  // Deletes `file` of the program folder when it exists, reporting a failure as `module`'s.
  void Delete(const char* file, const char* module);

 private:
  struct Repeat {
    std::string text;
    Clock::time_point logged;
    uint64_t not_logged = 0;
  };
  void Report(const Status& failure, const char* module);

  std::string folder_;
  host::EventLog& log_;
  Writer writer_;
  std::function<Clock::time_point()> now_;
  std::vector<Repeat> repeats_;  // the failures logged lately, oldest first
};

}  // namespace tervane

#endif  // TERVANE_SERVICE_DEBUG_FILES_H_
