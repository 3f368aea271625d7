#include "service/debug_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tervane {
namespace {

class RecordingLog : public host::EventLog {
 public:
  void Log(int type, int number, const std::string& text) override {
    lines.push_back(host::EventLine(type, number, text));
  }
  std::vector<std::string> lines;
};

TEST(DebugFiles, ARepeatedFailureIsLoggedAtOnceThenOnceAMinuteWithItsCount) {
  RecordingLog log;
  DebugFiles::Clock::time_point now{};
  Status failure = Status::Error(ErrnoCode(ENOSPC), "/p/Debug.txt: No space left on device");
  std::vector<std::string> written;
  DebugFiles files(
      "/p", log,
      [&](const std::string& path, std::string_view record) {
        if (!failure.ok()) return failure;
        written.push_back(path + ":" + std::string(record));
        return Status::Ok();
      },
      [&] { return now; });
  const std::string full =
      "Tervane: error 106: [28] /p/Debug.txt: No space left on device (Module: snmpManager_Trap)";

  // Step by step: seconds since the start, the module writing, what is logged then.
  struct Step {
    int at;
    const char* module;
    std::vector<std::string> logged;
  };
  const Step steps[] = {
      {0, "snmpManager_Trap", {full}},
      {1, "snmpManager_Trap", {}},
      {30, "snmpManager_Trap", {}},
      {30,
       "SendTrapWrapped",  // another procedure's failure is news
       {"Tervane: error 106: [28] /p/Debug.txt: No space left on device (Module: "
        "SendTrapWrapped)"}},
      {59, "snmpManager_Trap", {}},
      {60, "snmpManager_Trap", {full + " (3 more like it since it was last logged)"}},
      {61, "snmpManager_Trap", {}},
      {121, "snmpManager_Trap", {full + " (1 more like it since it was last logged)"}},
  };
  size_t seen = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at);
    now = DebugFiles::Clock::time_point{} + std::chrono::seconds(step.at);
    files.Append(kDebugFile, "record\r\n", step.module);
    const std::vector<std::string> logged(log.lines.begin() + static_cast<long>(seen),
                                          log.lines.end());
    EXPECT_EQ(logged, step.logged);
    seen = log.lines.size();
  }
  EXPECT_TRUE(written.empty());

  // Once the disk has room again, records are written and nothing is logged.
  failure = Status::Ok();
  files.Append(kDebugErrorFile, "kept\r\n", "SendTrapNotWrapped");
  EXPECT_EQ(written, std::vector<std::string>{"/p/Debug-Error.txt:kept\r\n"});
  EXPECT_EQ(log.lines.size(), seen);
}

}  // namespace
}  // namespace tervane
