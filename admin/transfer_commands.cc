#include "admin/transfer_commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "admin/settings_json.h"
#include "admin/svc_common.h"
#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/sys_error.h"
#include "service/snmp/socket_util.h"
#include "store/store.h"

namespace tervane::svc {
namespace {

// The export holds the community strings: for its owner only, as Tervix.mdb is for its group.
constexpr int kExportMode = 0600;

Result<std::string> ReadStandardInput() {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SysError(errno, "standard input");
    text.append(buffer, static_cast<size_t>(n));
  }
}

// "12 trap definitions", "1 option".
std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int RunExportCommand(const SvcCommandLine& line) {
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return Fail(folder.status());
  Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  Result<SharedSettings> shared = ReadSharedSettings(*db);
  if (!shared.ok()) return Fail(shared.status());
  Result<std::string> text = SharedSettingsJson(*shared);
  if (!text.ok()) return Fail(text.status());
  if (line.file.empty() || line.file == "-") {
    std::fputs(text->c_str(), stdout);
    if (std::fflush(stdout) != 0) return Fail(Status::Error(ErrnoCode(errno), "standard output"));
    return 0;
  }
  if (Status s = ReplaceFile(line.file, *text, kExportMode); !s.ok()) return Fail(s);
  return 0;
}

int RunImportCommand(const SvcCommandLine& line) {
  const bool from_stdin = line.file == "-";
  const std::string source = from_stdin ? "standard input" : line.file;
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return Fail(folder.status());
  Result<std::string> text = from_stdin ? ReadStandardInput() : ReadFile(line.file);
  if (!text.ok()) return Fail(text.status());
  Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadWrite);
  if (!db.ok()) return Fail(db.status());
  Result<store::SettingsRow> kept = db->ReadSettings();
  if (!kept.ok()) return Fail(kept.status());
  Result<SharedSettings> shared =
      ParseSharedSettings(*text, kept->ByName("TrapRecvIpAddr").AsText(), snmp::IsLocalAddress);
  if (!shared.ok()) {
    return Fail(
        Status::Error(shared.status().error(), source + ": " + shared.status().description()));
  }
  const std::vector<store::StormRuleRow>* rules =
      shared->storm_rules ? &*shared->storm_rules : nullptr;
  Status written = db->ReplaceSharedSettings(shared->general, shared->traps, shared->stations,
                                             shared->options, rules);
  if (!written.ok()) return Fail(written);
  // "12 trap definitions, 2 stations and 1 option", with ", 2 options and 3 storm rules" when
  // the text had storm rules.
  std::string counts = Count(shared->traps.size(), "trap definition", "trap definitions") + ", " +
                       Count(shared->stations.size(), "station", "stations");
  const std::string options = Count(shared->options.size(), "option", "options");
  if (rules != nullptr) {
    counts += ", " + options + " and " + Count(rules->size(), "storm rule", "storm rules");
  } else {
    counts += " and " + options;
  }
  std::printf("Imported %s into %s; the service uses them from its next start\n", counts.c_str(),
              db->path().c_str());
  return 0;
}

}  // namespace tervane::svc
