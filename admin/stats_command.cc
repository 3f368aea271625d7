#include "admin/stats_command.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "admin/statistics_text.h"
#include "admin/svc_common.h"
#include "platform/file.h"
#include "platform/program_folder.h"
#include "store/store.h"

namespace tervane::svc {
namespace {

// The counters file is no secret: node_exporter, running as prometheus, serves it anyway.
constexpr int kOutputMode = 0644;

}  // namespace

int RunStatsCommand(const SvcCommandLine& line) {
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return Fail(folder.status());
  const std::string source = JoinPath(*folder, std::string(store::kDatabaseFileName));
  Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  Result<std::vector<store::StatisticRow>> rows = db->ReadStatistics();
  if (!rows.ok()) return Fail(rows.status());

  std::string text;
  if (rows->empty()) {
    const std::string notice = NotWrittenNotice(
        source, db->schema_version() == 0 ? "its schema version 0 has no counters; the service "
                                            "upgrades the file when it next starts"
                                          : "");
    // On standard error for a person; into the file only when there is one, where a timer
    // would otherwise log it every round.
    if (line.prometheus) {
      text = "# " + notice + "\n";
    } else if (!line.output.empty()) {
      text = notice + "\n";
    }
    if (line.output.empty()) std::fprintf(stderr, "%s\n", notice.c_str());
  } else {
    text = line.prometheus ? PrometheusText(*rows) : StatisticsTable(*rows, source);
  }
  if (line.output.empty()) {
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0) return Fail(Status::Error(ErrnoCode(errno), "standard output"));
    return 0;
  }
  if (Status s = ReplaceFile(line.output, text, kOutputMode); !s.ok()) return Fail(s);
  return 0;
}

}  // namespace tervane::svc
