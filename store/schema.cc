#include "store/schema.h"

#include <fcntl.h>
#include <grp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/file.h"
#include "platform/sys_error.h"
#include "store/relay_options.h"
#include "store/statement.h"
#include "store/store.h"
#include "store/v3_users.h"

namespace tervane::store::schema {
namespace {

// Version 1: the further management stations and the service's counters.
constexpr std::string_view kVersion1 = R"sql(
CREATE TABLE ForwardTarget (
  Id INTEGER PRIMARY KEY,
  Address TEXT,
  Port INTEGER,
  ConvV2ToV1 INTEGER,
  Community TEXT,
  Enabled INTEGER
);
CREATE TABLE RelayStatistics (
  Name TEXT,
  Label TEXT,
  Value INTEGER,
  Since TEXT,
  Written TEXT
);
)sql";

// Version 2: the relay-wide options.
constexpr std::string_view kVersion2 = R"sql(
CREATE TABLE RelayOption (
  Name TEXT PRIMARY KEY,
  Value TEXT
);
)sql";

// Version 3: the storm rules, with the default rule (the empty prefix). StormControl is off
// until an administrator switches it on, so the rule holds nothing back before then.
constexpr std::string_view kVersion3 = R"sql(
CREATE TABLE StormRule (
  OidPrefix TEXT PRIMARY KEY,
  PerMinute INTEGER,
  Burst INTEGER,
  Enabled INTEGER
);
INSERT INTO StormRule (OidPrefix, PerMinute, Burst, Enabled) VALUES ('', 30, 10, 1);
)sql";

// Version 4: the SNMPv3 users and this relay's own engine. A user is one per name and engine
// (empty EngineId: any engine); the keys are hex Ku. SnmpEngine holds exactly one row, made by
// ToVersion4 with a new engine ID.
constexpr std::string_view kVersion4 = R"sql(
CREATE TABLE SnmpV3User (
  UserName TEXT,
  EngineId TEXT,
  AuthProtocol TEXT,
  AuthKey TEXT,
  PrivProtocol TEXT,
  PrivKey TEXT,
  UNIQUE (UserName, EngineId)
);
CREATE TABLE SnmpEngine (
  EngineId TEXT,
  Boots INTEGER
);
)sql";

using Step = Status (*)(sqlite3* db, const std::string& path);

Status ToVersion1(sqlite3* db, const std::string& path) { return RunScript(db, path, kVersion1); }

// An upgraded relay goes on doing what it did: every option starts at its upgraded value.
Status ToVersion2(sqlite3* db, const std::string& path) {
  if (Status made = RunScript(db, path, kVersion2); !made.ok()) return made;
  return WriteOptionDefaults(db, path, 2);
}

Status ToVersion3(sqlite3* db, const std::string& path) {
  if (Status made = RunScript(db, path, kVersion3); !made.ok()) return made;
  return WriteOptionDefaults(db, path, 3);
}

// The engine ID is made here, once, inside the upgrade's transaction: a new file and an
// upgraded one each get their own, and two programs upgrading at once cannot make two.
Status ToVersion4(sqlite3* db, const std::string& path) {
  if (Status made = RunScript(db, path, kVersion4); !made.ok()) return made;
  Result<std::vector<uint8_t>> id = MakeEngineId();
  if (!id.ok()) return Status::Error(id.status().error(), path + ": " + id.status().description());
  Result<Statement> insert =
      Statement::Prepare(db, path, "INSERT INTO SnmpEngine (EngineId, Boots) VALUES (?1, 0)");
  if (!insert.ok()) return insert.status();
  Status done = insert->Bind(1, Value(snmp::usm::HexText(*id)));
  return done.ok() ? insert->Run() : done;
}

// kSteps[N] takes a file from version N to N + 1.
constexpr std::array<Step, kSchemaVersion> kSteps = {ToVersion1, ToVersion2, ToVersion3,
                                                     ToVersion4};

// Writes the options `new_file` or upgraded values; only those of `version` unless it is 0.
Status WriteOptions(sqlite3* db, const std::string& path, int version, bool new_file) {
  Result<Statement> stmt = Statement::Prepare(
      db, path, "INSERT OR REPLACE INTO RelayOption (Name, Value) VALUES (?1, ?2)");
  if (!stmt.ok()) return stmt.status();
  for (const OptionDefault& option : kOptionDefaults) {
    if (version != 0 && option.version != version) continue;
    stmt->Reset();
    Status done = stmt->BindView(1, option.name);
    if (done.ok()) done = stmt->BindView(2, new_file ? option.new_file : option.upgraded);
    if (done.ok()) done = stmt->Run();
    if (!done.ok()) return done;
  }
  return Status::Ok();
}

// The id of the group `name`, or nothing when there is no such group or it cannot be looked up.
std::optional<gid_t> GroupId(const char* name) {
  const long hint = sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
  for (;;) {
    struct group entry {};
    struct group* found = nullptr;
    const int err = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found);
    if (err == ERANGE && buffer.size() < (size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (err != 0 || found == nullptr) return std::nullopt;
    return found->gr_gid;
  }
}

// Removes `path` when it is there.
Status RemoveIfThere(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
  return SysError(errno, path);
}

// Writes the file `path` as last committed to `target`, a new file. It reads through a
// connection of its own: the upgrading connection, which holds the write lock, may not be the
// source of a backup, and a reader in WAL mode is not held up by that lock.
Status Backup(const std::string& path, const std::string& target) {
  // A journal left beside an earlier backup would be rolled back into the new one.
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    if (Status removed = RemoveIfThere(target + suffix); !removed.ok()) return removed;
  }
  if (Status made = MakeFile(target); !made.ok()) return made;
  sqlite3* source = nullptr;
  sqlite3* copy = nullptr;
  Status done;
  int rc = sqlite3_open_v2(path.c_str(), &source, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    done = SqliteError(source, rc, path, "opening for the backup");
  } else if (rc = sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READWRITE, nullptr);
             rc != SQLITE_OK) {
    done = SqliteError(copy, rc, target, "opening the backup");
  } else if (sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source, "main");
             backup == nullptr) {
    done = SqliteError(copy, sqlite3_errcode(copy), target, "backing up " + path);
  } else {
    sqlite3_busy_timeout(source, Store::kBusyTimeoutMs);
    rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) done = SqliteError(copy, sqlite3_errcode(copy), target, "backing up");
  }
  if (sqlite3_close(copy) != SQLITE_OK && done.ok()) {
    done = SqliteError(copy, sqlite3_errcode(copy), target, "closing the backup");
  }
  sqlite3_close(source);
  if (!done.ok()) unlink(target.c_str());
  return done;
}

}  // namespace

Status RunScript(sqlite3* db, const std::string& path, std::string_view script) {
  while (!script.empty()) {
    Result<Statement> stmt = Statement::Prepare(db, path, script, &script);
    if (!stmt.ok()) return stmt.status();
    if (Status run = stmt->Run(); !run.ok()) return run;
  }
  return Status::Ok();
}

Status WriteOptionDefaults(sqlite3* db, const std::string& path, int version) {
  return WriteOptions(db, path, version, /*new_file=*/false);
}

Status SetNewFileOptions(sqlite3* db, const std::string& path) {
  return WriteOptions(db, path, 0, /*new_file=*/true);
}

Result<int> ReadVersion(sqlite3* db, const std::string& path) {
  Result<Statement> stmt = Statement::Prepare(db, path, "PRAGMA user_version");
  if (!stmt.ok()) return stmt.status();
  Result<bool> row = stmt->Step();
  if (!row.ok()) return row.status();
  return *row ? static_cast<int>(stmt->Column(0).integer()) : 0;
}

Status NewerVersionError(const std::string& path, int version) {
  const size_t slash = path.rfind('/');
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  return Status::Error(kErrorNewerSchema, file + " has schema version " + std::to_string(version) +
                                              "; this program reads versions 0 to " +
                                              std::to_string(kSchemaVersion));
}

Status Upgrade(sqlite3* db, const std::string& path, int version, bool backup) {
  if (version < 0) return Status::Error(kErrorInternal, path + ": negative schema version");
  if (backup && version < kSchemaVersion) {
    Status saved = Backup(path, path + ".v" + std::to_string(version) + ".bak");
    if (!saved.ok()) return saved;
  }
  for (; version < kSchemaVersion; ++version) {
    if (Status stepped = kSteps[static_cast<size_t>(version)](db, path); !stepped.ok()) {
      return stepped;
    }
    Status set = RunScript(db, path, "PRAGMA user_version = " + std::to_string(version + 1));
    if (!set.ok()) return set;
  }
  return Status::Ok();
}

Status MakeFile(const std::string& path) {
  // O_EXCL makes "refuses an existing file" race-free; SQLite takes an empty file as an empty
  // database.
  Result<UniqueFd> fd = OpenFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, kDatabaseMode);
  if (!fd.ok()) return fd.status();
  std::optional<gid_t> group = GroupId(kDatabaseGroup);
  if (group && fchown(fd->get(), static_cast<uid_t>(-1), *group) != 0) {
    // Only root and the group's members may give the file to the group; for anyone else it
    // keeps the group it was made with (the folder's, when the folder is set-group-ID).
  }
  // The umask may have taken bits away from the mode given to open(). SQLite gives the -wal
  // and -shm files it makes later the file's bits.
  Status owned = fchmod(fd->get(), kDatabaseMode) == 0 ? Status::Ok() : SysError(errno, path);
  if (owned.ok()) owned = fd->Close(path);
  if (!owned.ok()) unlink(path.c_str());
  return owned;
}

}  // namespace tervane::store::schema
