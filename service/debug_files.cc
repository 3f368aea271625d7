#include "service/debug_files.h"

#include <algorithm>
#include <utility>

#include "platform/file.h"
#include "platform/program_folder.h"

namespace tervane {
namespace {

// Distinct failures remembered at once; a text beyond these is logged as new.
constexpr size_t kMaxRepeats = 16;

}  // namespace

DebugFiles::DebugFiles(std::string folder, host::EventLog& log)
    : DebugFiles(std::move(folder), log, AppendToFile, Clock::now) {}

DebugFiles::DebugFiles(std::string folder, host::EventLog& log, Writer writer,
                       std::function<Clock::time_point()> now)
    : folder_(std::move(folder)), log_(log), writer_(std::move(writer)), now_(std::move(now)) {}

void DebugFiles::Append(const char* file, std::string_view record, const char* module) {
  if (Status s = writer_(JoinPath(folder_, file), record); !s.ok()) Report(s, module);
}

void DebugFiles::Delete(const char* file, const char* module) {
  if (Status s = DeleteFileIfExists(JoinPath(folder_, file)); !s.ok()) Report(s, module);
}

void DebugFiles::Report(const Status& failure, const char* module) {
  std::string text = failure.ToString() + " (Module: " + module + ")";
  const Clock::time_point now = now_();
  auto same = std::find_if(repeats_.begin(), repeats_.end(),
                           [&](const Repeat& r) { return r.text == text; });
  if (same != repeats_.end() && now - same->logged < kQuietTime) {
    ++same->not_logged;
    return;
  }
  uint64_t not_logged = 0;
  if (same != repeats_.end()) {
    not_logged = same->not_logged;
    repeats_.erase(same);
  } else if (repeats_.size() == kMaxRepeats) {
    repeats_.erase(repeats_.begin());
  }
  repeats_.push_back({text, now, 0});
  if (not_logged > 0) {
    text += " (" + std::to_string(not_logged) + " more like it since it was last logged)";
  }
  log_.Log(host::kEventError, 106, text);
}

}  // namespace tervane
