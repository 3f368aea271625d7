#include "platform/service_account.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/service_manager.h"

namespace tervane::svc {
namespace {

// getent's exit status for a key that is not in the database.
constexpr int kGetentNotFound = 2;

// A helper program that ran and failed: its first line of complaint.
Status ToolFailure(const std::string& tool, const CommandResult& ran) {
  if (ran.err.find("Permission denied") != std::string::npos) {
    return ServiceError(kErrorAccessDenied);
  }
  std::string text = ran.err.substr(0, ran.err.find('\n'));
  if (text.empty()) text = "exit status " + std::to_string(ran.exit_code);
  return Status::Error(ExitStatusCode(ran.exit_code == 0 ? 1 : ran.exit_code), tool + ": " + text);
}

// Whether `getent database key` finds an entry; its line in *entry.
Result<bool> Lookup(const CommandRunner& run, const char* database, const std::string& key,
                    std::string* entry) {
  Result<CommandResult> ran = run({"getent", database, key});
  if (!ran.ok()) return ran.status();
  if (ran->exit_code == kGetentNotFound) return false;
  if (ran->exit_code != 0) return ToolFailure("getent", *ran);
  *entry = ran->out;
  return true;
}

Status Create(const CommandRunner& run, const std::vector<std::string>& argv) {
  Result<CommandResult> ran = run(argv);
  if (!ran.ok()) return ran.status();
  if (ran->exit_code != 0) return ToolFailure(argv[0], *ran);
  return Status::Ok();
}

// The id field of a group line "name:password:gid:members".
Result<gid_t> GroupId(const std::string& entry) {
  const size_t first = entry.find(':');
  const size_t second = first == std::string::npos ? first : entry.find(':', first + 1);
  const size_t third = second == std::string::npos ? second : entry.find(':', second + 1);
  if (third == std::string::npos || third == second + 1) {
    return Status::Error(kErrorMalformed, "getent group: no group id in \"" + entry + "\"");
  }
  const std::string field = entry.substr(second + 1, third - second - 1);
  char* end = nullptr;
  errno = 0;
  const unsigned long id = std::strtoul(field.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || field[0] == '-' || id > static_cast<gid_t>(-2)) {
    return Status::Error(kErrorMalformed, "getent group: no group id in \"" + entry + "\"");
  }
  return static_cast<gid_t>(id);
}

// `text` as a JavaScript string literal.
std::string JsString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Gives the open file `fd` to group `gid` (and to user `owner` unless that is -1) and adds
// `bits` to its mode. The descriptor, not the name, is changed, so a link put in place of the
// file meanwhile changes nothing.
Status GiveToGroup(int fd, const std::string& path, uid_t owner, gid_t gid, mode_t bits) {
  if (fchown(fd, owner, gid) != 0) return ServiceErrno(errno, path);
  // Read after the change: a change of owner or group may have cleared set-ID bits, which must
  // stay off.
  struct stat st {};
  if (fstat(fd, &st) != 0) return ServiceErrno(errno, path);
  if (fchmod(fd, (st.st_mode & 07777) | bits) != 0) return ServiceErrno(errno, path);
  return Status::Ok();
}

// The files SQLite opens beside the database, and the lock: made empty where missing.
constexpr const char* kPlaceholders[] = {"Tervix.mdb-wal", "Tervix.mdb-shm", ".TervixSrv.lock"};

}  // namespace

Result<gid_t> EnsureServiceAccount(const CommandRunner& run, const std::string& account) {
  std::string group;
  Result<bool> found = Lookup(run, "group", account, &group);
  if (!found.ok()) return found.status();
  if (!*found) {
    if (Status s = Create(run, {"groupadd", "--system", account}); !s.ok()) return s;
    found = Lookup(run, "group", account, &group);
    if (!found.ok()) return found.status();
    if (!*found) return Status::Error(kErrorNotFound, "groupadd made no group " + account);
  }
  Result<gid_t> gid = GroupId(group);
  if (!gid.ok()) return gid.status();

  std::string user;
  found = Lookup(run, "passwd", account, &user);
  if (!found.ok()) return found.status();
  if (!*found) {
    Status s = Create(run, {"useradd", "--system", "--gid", account, "--no-create-home",
                            "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
                            "--comment", "Tervane SNMP trap relay", account});
    if (!s.ok()) return s;
  }
  return *gid;
}

Status ShareFolderWithGroup(const std::string& folder, gid_t gid) {
  Result<UniqueFd> dir = OpenFile(folder, O_RDONLY | O_DIRECTORY);
  if (!dir.ok()) return dir.status();
  if (Status s =
          GiveToGroup(dir->get(), folder, static_cast<uid_t>(-1), gid, S_IRWXG | S_ISGID | S_ISVTX);
      !s.ok()) {
    return s;
  }
  struct stat folder_st {};
  if (fstat(dir->get(), &folder_st) != 0) return ServiceErrno(errno, folder);
  const bool root = geteuid() == 0;
  // Root hands the files to the folder's owner: the kernel lets anyone open with O_CREAT,
  // as SQLite does, only files of the opener or of the folder's owner in a sticky folder.
  const uid_t owner = root ? folder_st.st_uid : static_cast<uid_t>(-1);
  const bool has_database = faccessat(dir->get(), "Tervix.mdb", F_OK, AT_SYMLINK_NOFOLLOW) == 0;
  for (const char* name : kPlaceholders) {
    if (!root || !has_database) break;
    const std::string path = JoinPath(folder, name);
    // O_EXCL: never through a link, never over a file that is there.
    const int fd =
        openat(dir->get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd >= 0) {
      close(fd);
    } else if (errno != EEXIST) {
      return ServiceErrno(errno, path);
    }
  }
  for (const char* name : kSharedFiles) {
    const std::string path = JoinPath(folder, name);
    // Not through a link, and without waiting on a FIFO or taking a terminal.
    Result<UniqueFd> file = OpenFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!file.ok()) {
      const ErrorCode code = file.status().error();
      if (code == ErrnoCode(ENOENT) || code == ErrnoCode(ELOOP)) continue;
      return code == ErrnoCode(EACCES) ? ServiceError(kErrorAccessDenied) : file.status();
    }
    struct stat st {};
    if (fstat(file->get(), &st) != 0) return ServiceErrno(errno, path);
    if (!S_ISREG(st.st_mode)) continue;
    if (Status s = GiveToGroup(file->get(), path, owner, gid, S_IRGRP | S_IWGRP); !s.ok()) {
      return s;
    }
  }
  return Status::Ok();
}

std::string PolkitRuleText(const std::string& unit, const std::string& group) {
  const std::string u = JsString(unit), g = JsString(group);
  // "reset-failed" is systemd's verb for ResetFailedUnit: a start that the unit's start limit
  // refused is reset with it and made again.
  std::ostringstream rule;
  rule << "// The rule of the service Tervane, from TervixSrv -install or its package.\n"
       << "// Members of the group " << g << " may start, stop and restart " << u
       << ", and reset its failed state, without being root.\n"
       << "polkit.addRule(function(action, subject) {\n"
       << "    if (action.id == \"org.freedesktop.systemd1.manage-units\" &&\n"
       << "        action.lookup(\"unit\") == " << u << " &&\n"
       << "        subject.isInGroup(" << g << ")) {\n"
       << "        var verb = action.lookup(\"verb\");\n"
       << "        if (verb == \"start\" || verb == \"stop\" || verb == \"restart\" ||\n"
       << "            verb == \"reset-failed\") {\n"
       << "            return polkit.Result.YES;\n"
       << "        }\n"
       << "    }\n"
       << "});\n";
  return rule.str();
}

}  // namespace tervane::svc
