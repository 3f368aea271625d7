#include "admin/transfer_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// Writes an export with keys to `path` as ReplaceFile does, a temporary file beside it renamed
// over it, but where that file has mode 0600 from its creation on, before a byte is written (and
// is made so should it exist already), and where a file that cannot be replaced (another
// user's, in a sticky folder) is written in place only once it has been made 0600, which only
// its owner may do: the keys are never readable by anyone else, not even for a moment. On
// failure `path` is unchanged and the temporary file is gone.
Status WriteKeyFile(const std::string& path, std::string_view text) {
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  Status s;
  {
    Result<UniqueFd> fd = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, kExportMode);
    if (!fd.ok()) return fd.status();
    if (fchmod(fd->get(), kExportMode) != 0) s = SysError(errno, temp);
    if (s.ok()) s = WriteAll(fd->get(), text, temp);
    if (s.ok()) s = fd->Close(temp);
  }
  if (s.ok() && rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    s = SysError(err, path);
    if (err == EPERM || err == EACCES) {
      Result<UniqueFd> fd = OpenFile(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
      struct stat st {};
      if (fd.ok() && fstat(fd->get(), &st) == 0 && S_ISREG(st.st_mode) &&
          fchmod(fd->get(), kExportMode) == 0) {
        s = ftruncate(fd->get(), 0) == 0 ? WriteAll(fd->get(), text, path) : SysError(errno, path);
        if (s.ok()) s = fd->Close(path);
      }
    }
  }
  unlink(temp.c_str());
  return s;
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
  Result<SharedSettings> shared = ReadSharedSettings(*db, line.with_keys);
  if (!shared.ok()) return Fail(shared.status());
  Result<std::string> text = SharedSettingsJson(*shared);
  if (!text.ok()) return Fail(text.status());
  if (line.file.empty() || line.file == "-") {
    std::fputs(text->c_str(), stdout);
    if (std::fflush(stdout) != 0) return Fail(Status::Error(ErrnoCode(errno), "standard output"));
    return 0;
  }
  // The parser has made sure that keys go to a FILE only.
  Status s =
      line.with_keys ? WriteKeyFile(line.file, *text) : ReplaceFile(line.file, *text, kExportMode);
  if (!s.ok()) return Fail(s);
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
  const std::vector<store::V3UserRow>* users = shared->v3_users ? &*shared->v3_users : nullptr;
  const std::vector<uint8_t>* engine_id = shared->engine_id ? &*shared->engine_id : nullptr;
  Status written = db->ReplaceSharedSettings(shared->general, shared->traps, shared->stations,
                                             shared->options, rules, users, engine_id);
  if (!written.ok()) return Fail(written);
  // "12 trap definitions, 2 stations and 1 option", with ", 3 storm rules", ", 2 SNMPv3 users"
  // and "the engine ID" for what the text had of them.
  std::vector<std::string> parts = {
      Count(shared->traps.size(), "trap definition", "trap definitions"),
      Count(shared->stations.size(), "station", "stations"),
      Count(shared->options.size(), "option", "options")};
  if (rules != nullptr) parts.push_back(Count(rules->size(), "storm rule", "storm rules"));
  if (users != nullptr) parts.push_back(Count(users->size(), "SNMPv3 user", "SNMPv3 users"));
  if (engine_id != nullptr) parts.emplace_back("the engine ID");
  std::string counts = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    counts += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
  }
  std::printf("Imported %s into %s; the service uses them from its next start\n", counts.c_str(),
              db->path().c_str());
  return 0;
}

}  // namespace tervane::svc
