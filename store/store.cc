#include "store/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <optional>
#include <span>
#include <sstream>
#include <vector>

#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/sys_error.h"
#include "store/connection.h"
#include "store/schema.h"
#include "store/schema_sql.h"
#include "store/statement.h"

namespace tervane::store {
namespace {

// kErrorNotFound, described as "<file>: " followed by `parts`.
Status NotFound(std::string_view file, std::initializer_list<std::string_view> parts) {
  std::string description(file);
  description += ": ";
  for (std::string_view part : parts) description += part;
  return Status::Error(kErrorNotFound, std::move(description));
}

// Column names come from our own fixed lists (checked before use), never from input, so
// they can be spliced into statement text; values always go through parameters.
std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string SelectList(std::span<const std::string_view> columns) {
  std::string list;
  for (std::string_view column : columns) {
    if (!list.empty()) list += ", ";
    list += Quoted(column);
  }
  return list;
}

// "A" = ?1, "B" = ?2, ... for the given columns, after checking each is one of `known`. An
// empty list assigns the first column to itself, so that the statement still tells, by its
// change count, whether the row exists.
Result<std::string> SetList(const std::string& file, std::string_view table,
                            std::span<const std::string_view> known, const ColumnValues& columns) {
  if (columns.empty()) return Quoted(known[0]) + " = " + Quoted(known[0]);
  std::string list;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& name = columns[i].first;
    bool is_known = false;
    for (std::string_view column : known) is_known = is_known || column == name;
    if (!is_known) return NotFound(file, {"table ", table, " has no column ", name});
    if (!list.empty()) list += ", ";
    list += Quoted(name);
    list += " = ?";
    list += std::to_string(i + 1);
  }
  return list;
}

Status BindValues(Statement& stmt, const ColumnValues& columns) {
  for (size_t i = 0; i < columns.size(); ++i) {
    Status bound = stmt.Bind(static_cast<int>(i + 1), columns[i].second);
    if (!bound.ok()) return bound;
  }
  return Status::Ok();
}

// The SnmpTrap row read with that rowid and name is no longer there.
Status RowGone(const std::string& file, int64_t rowid, const Value& name) {
  std::ostringstream description;
  description << file << ": table " << kTrapTable << " has no row with rowid " << rowid << " named "
              << name;
  return Status::Error(kErrorRowGone, description.str());
}

bool EqualNames(std::string_view a, std::string_view b) {
  // SQLite compares column names without regard to ASCII case, so we do too.
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// errno values with which the system refuses an access that the file's or folder's
// permissions, or a read-only file system, do not allow.
bool Refused(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// The system's text for errno `err`.
std::string ErrnoText(int err) { return SysError(err, "").description(); }

Status ReadOnlyError(const std::string& path, std::string_view why) {
  std::string description = "the settings database " + path + " can be read but not written: ";
  description += why;
  return Status::Error(kErrorReadOnly, std::move(description));
}

// 0 when this process may use `path` as `mode` (R_OK, W_OK, ...) says, judged by its effective
// user and groups as open() judges them, else the errno. Asked of the system rather than tried
// with open(): closing a descriptor of the database file would drop every POSIX lock that this
// process's SQLite connections hold on it, and another program could then take this process
// for gone and remove the WAL under it.
int AccessError(const std::string& path, int mode) {
  return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

// Fails with kErrorReadOnly unless this process may write `path` and make its -wal and -shm
// files in `folder`.
Status CheckWritable(const std::string& folder, const std::string& path) {
  if (int err = AccessError(path, W_OK); err != 0) {
    return Refused(err) ? ReadOnlyError(path, ErrnoText(err)) : SysError(err, path);
  }
  const std::string dir = folder.empty() ? "." : folder;
  if (int err = AccessError(dir, W_OK | X_OK); err != 0) {
    if (!Refused(err)) return SysError(err, dir);
    return ReadOnlyError(path, "this user may not make its -wal and -shm files in the folder " +
                                   dir + " (" + ErrnoText(err) + ")");
  }
  return Status::Ok();
}

// The file: URI of `path`. Everything but the characters that a URI path may hold as they are
// is percent-escaped, so '?', '#' and '%' in a folder name stay part of the name. An absolute
// path gets an empty authority ("file://"), so that a path beginning with "//" is not taken
// for one.
std::string FileUri(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
}

}  // namespace

void PersistWalInStickyFolder(sqlite3* db, const std::string& folder) {
  struct stat dir_info {};
  if (stat(folder.empty() ? "." : folder.c_str(), &dir_info) == 0 &&
      (dir_info.st_mode & S_ISVTX) != 0) {
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
}

Result<Store> Store::Open(const std::string& folder, Access access) {
  std::string path = JoinPath(folder, std::string(kDatabaseFileName));
  // SQLite's own answer for a missing or unreadable file is a bare "unable to open database
  // file"; the administrator, and the window, need to know which file and why.
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return Status::Error(kErrorNotFound, "the settings database " + path + " does not exist");
    }
    return SysError(errno, path);
  }
  if (int err = AccessError(path, R_OK); err != 0) return SysError(err, path);

  if (access == Access::kReadOnly) {
    // In WAL mode a reader finds the writers' latest changes through Tervix.mdb-shm. When that
    // file is missing and this process may not make it, the first read fails with
    // SQLITE_READONLY ("attempt to write a readonly database"); when the -shm or -wal file is
    // there but this process may not read it, with SQLITE_CANTOPEN. The file itself is
    // readable, so read it alone, as last checkpointed.
    Result<Store> store = OpenReadOnly(path, /*snapshot=*/false);
    if (store.ok() || store.status().error().domain != ErrorDomain::kSqlite) return store;
    const int rc = store.status().code() & 0xFF;  // the primary result code
    if (rc != SQLITE_READONLY && rc != SQLITE_CANTOPEN) return store;
    return OpenReadOnly(std::move(path), /*snapshot=*/true);
  }

  if (Status writable = CheckWritable(folder, path); !writable.ok()) return writable;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  Store store(db, std::move(path));  // closes the connection on every early return
  if (rc != SQLITE_OK) return SqliteError(db, rc, store.path_, "opening");
  // SQLite opens a file that it may not write for reading only, without failing; the checks
  // above catch that unless something besides the permissions forbids the write.
  if (sqlite3_db_readonly(db, "main") == 1) {
    return ReadOnlyError(store.path_, "SQLite could open it for reading only");
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // In a sticky folder (the shared program folder) the last connection to close leaves
  // Tervix.mdb-wal and -shm in place, emptied, instead of deleting them: there they belong to
  // the folder's owner, whom the kernel requires as the owner of other users' files that
  // SQLite opens with O_CREAT (fs.protected_regular = 2).
  PersistWalInStickyFolder(db, folder);
  // Checked before the switch to WAL mode, so that a file refused is left as it was.
  if (Status read = store.ReadVersion(); !read.ok()) return read;
  if (Status checked = store.CheckTables(); !checked.ok()) return checked;
  if (store.version_ < kSchemaVersion) {
    if (Status upgraded = store.Upgrade(); !upgraded.ok()) return upgraded;
  }
  for (const char* pragma : {"PRAGMA journal_mode = WAL", "PRAGMA journal_size_limit = 1048576"}) {
    Result<Statement> set = Statement::Prepare(db, store.path_, pragma);
    if (!set.ok()) return set.status();
    if (Status run = set->Run(); !run.ok()) return run;
  }
  return store;
}

Result<Store> Store::OpenReadOnly(std::string path, bool snapshot) {
  // immutable: SQLite takes no locks and reads neither the WAL nor the -shm file, so it needs
  // nothing beside the file.
  const std::string uri = FileUri(path) + (snapshot ? "?mode=ro&immutable=1" : "?mode=ro");
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  Store store(db, std::move(path), snapshot);
  if (rc != SQLITE_OK) return SqliteError(db, rc, store.path_, "opening");
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // SQLite opens the -wal and -shm files only when it first reads: the version is that read.
  if (Status read = store.ReadVersion(); !read.ok()) return read;
  if (Status checked = store.CheckTables(); !checked.ok()) return checked;
  return store;
}

Status Store::Create(const std::string& path) {
  Status made = schema::MakeFile(path);
  if (!made.ok()) return made;
  {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Store store(db, path);
    if (rc != SQLITE_OK) {
      made = SqliteError(db, rc, store.path_, "opening");
    } else {
      // Version 0 from the schema, then every step: a new file has the layout that an
      // upgraded one has.
      made = schema::RunScript(db, store.path_, "BEGIN IMMEDIATE");
      if (made.ok()) made = schema::RunScript(db, store.path_, kSchemaSql);
      if (made.ok()) made = schema::Upgrade(db, store.path_, 0, /*backup=*/false);
      if (made.ok()) made = schema::SetNewFileOptions(db, store.path_);
      if (made.ok()) made = schema::RunScript(db, store.path_, "COMMIT");
      if (made.ok()) made = schema::RunScript(db, store.path_, "PRAGMA journal_mode = WAL");
    }
  }  // closed here, before any clean-up below
  if (!made.ok()) {
    unlink(path.c_str());
    unlink((path + "-wal").c_str());
    unlink((path + "-shm").c_str());
  }
  return made;
}

Store::Store(Store&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      path_(std::move(other.path_)),
      snapshot_(other.snapshot_),
      version_(other.version_) {}

Store& Store::operator=(Store&& other) noexcept {
  if (this != &other) {
    sqlite3_close_v2(db_);
    db_ = std::exchange(other.db_, nullptr);
    path_ = std::move(other.path_);
    snapshot_ = other.snapshot_;
    version_ = other.version_;
  }
  return *this;
}

Store::~Store() { sqlite3_close_v2(db_); }

Status Store::CheckTables() {
  Status checked = CheckTable(kSettingsTable, kSettingsColumns);
  if (checked.ok()) checked = CheckTable(kTrapTable, kTrapColumns);
  if (checked.ok() && version_ >= 1) checked = CheckTable(kStationTable, kStationColumns);
  if (checked.ok() && version_ >= 1) checked = CheckTable(kStatisticsTable, kStatisticsColumns);
  if (checked.ok() && version_ >= 2) checked = CheckTable(kOptionTable, kOptionColumns);
  if (checked.ok() && version_ >= 3) checked = CheckTable(kStormTable, kStormColumns);
  if (checked.ok() && version_ >= 4) checked = CheckTable(kV3UserTable, kV3UserColumns);
  if (checked.ok() && version_ >= 4) checked = CheckTable(kEngineTable, kEngineColumns);
  return checked;
}

Status Store::ReadVersion() {
  Result<int> version = schema::ReadVersion(db_, path_);
  if (!version.ok()) return version.status();
  if (*version > kSchemaVersion) return schema::NewerVersionError(path_, *version);
  version_ = *version;
  return Status::Ok();
}

Status Store::Upgrade() {
  // Under the write lock the version is read again: another program may have upgraded the
  // file since it was first read, and then there is nothing left to do.
  if (Status begun = schema::RunScript(db_, path_, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
  Status done = ReadVersion();
  if (done.ok()) done = schema::Upgrade(db_, path_, version_, /*backup=*/true);
  if (done.ok()) done = schema::RunScript(db_, path_, "COMMIT");
  if (!done.ok()) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return done;
  }
  version_ = kSchemaVersion;
  return CheckTables();
}

Status Store::CheckTable(std::string_view table, std::span<const std::string_view> columns) {
  Result<Statement> stmt =
      Statement::Prepare(db_, path_, "SELECT name FROM pragma_table_info(?1) ORDER BY cid");
  if (!stmt.ok()) return stmt.status();
  Status bound = stmt->Bind(1, table);
  if (!bound.ok()) return bound;
  std::vector<std::string> actual;
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) break;
    actual.push_back(stmt->Column(0).AsText());
  }
  if (actual.empty()) return NotFound(path_, {"table ", table, " is missing"});
  // Columns after the expected ones do no harm; a missing or moved one would make a read by
  // position take the wrong column.
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i < actual.size() && EqualNames(actual[i], columns[i])) continue;
    for (size_t j = 0; j < actual.size(); ++j) {
      if (EqualNames(actual[j], columns[i])) {
        return NotFound(path_, {"column ", columns[i], " of table ", table, " is at position ",
                                std::to_string(j), " instead of ", std::to_string(i)});
      }
    }
    return NotFound(path_, {"table ", table, " has no column ", columns[i]});
  }
  return Status::Ok();
}

Result<SettingsRow> Store::ReadSettings() const {
  Result<Statement> stmt =
      Statement::Prepare(db_, path_,
                         "SELECT " + SelectList(kSettingsColumns) + " FROM " +
                             std::string(kSettingsTable) + " ORDER BY rowid LIMIT 1");
  if (!stmt.ok()) return stmt.status();
  Result<bool> row = stmt->Step();
  if (!row.ok()) return row.status();
  if (!*row) {
    return NotFound(path_, {"table ", kSettingsTable, " has no row"});
  }
  std::vector<Value> values;
  for (size_t i = 0; i < kSettingsColumns.size(); ++i) {
    values.push_back(stmt->Column(static_cast<int>(i)));
  }
  return SettingsRow(std::move(values));
}

Status Store::WriteSettings(const ColumnValues& columns) {
  const std::string table(kSettingsTable);
  Result<std::string> set = SetList(path_, table, kSettingsColumns, columns);
  if (!set.ok()) return set.status();
  Result<Statement> stmt = Statement::Prepare(
      db_, path_,
      "UPDATE " + table + " SET " + *set + " WHERE rowid = (SELECT min(rowid) FROM " + table + ")");
  if (!stmt.ok()) return stmt.status();
  Status done = BindValues(*stmt, columns);
  if (done.ok()) done = stmt->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) {
    return Status::Error(kErrorRowGone, path_ + ": table " + table + " has no row");
  }
  return done;
}

Result<std::vector<TrapRow>> Store::ReadTraps() const {
  Result<Statement> stmt =
      Statement::Prepare(db_, path_,
                         "SELECT rowid, " + SelectList(kTrapColumns) + " FROM " +
                             std::string(kTrapTable) + " ORDER BY rowid");
  if (!stmt.ok()) return stmt.status();
  std::vector<TrapRow> rows;
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return rows;
    std::vector<Value> values;
    values.reserve(kTrapColumns.size());
    for (size_t i = 0; i < kTrapColumns.size(); ++i) {
      values.push_back(stmt->Column(static_cast<int>(i + 1)));
    }
    rows.emplace_back(stmt->Column(0).integer(), std::move(values));
  }
}

Result<int64_t> Store::AddTrap(const ColumnValues& columns) {
  const std::string table(kTrapTable);
  // Checks the names; the assignment list itself is not needed for an insert.
  Result<std::string> set = SetList(path_, table, kTrapColumns, columns);
  if (!set.ok()) return set.status();
  std::string names;
  std::string params;
  for (size_t i = 0; i < columns.size(); ++i) {
    names += (i == 0 ? "" : ", ") + Quoted(columns[i].first);
    params += (i == 0 ? "?" : ", ?") + std::to_string(i + 1);
  }
  Result<Statement> stmt = Statement::Prepare(
      db_, path_,
      columns.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                      : "INSERT INTO " + table + " (" + names + ") VALUES (" + params + ")");
  if (!stmt.ok()) return stmt.status();
  Status done = BindValues(*stmt, columns);
  if (done.ok()) done = stmt->Run();
  if (!done.ok()) return done;
  return static_cast<int64_t>(sqlite3_last_insert_rowid(db_));
}

Status Store::UpdateTrap(int64_t rowid, const Value& name, const ColumnValues& columns) {
  const std::string table(kTrapTable);
  Result<std::string> set = SetList(path_, table, kTrapColumns, columns);
  if (!set.ok()) return set.status();
  const std::string key = std::to_string(columns.size() + 1);
  const std::string name_key = std::to_string(columns.size() + 2);
  // IS, not =: a name read as Null matches only Null.
  Result<Statement> stmt =
      Statement::Prepare(db_, path_,
                         "UPDATE " + table + " SET " + *set + " WHERE rowid = ?" + key +
                             " AND TrapName IS ?" + name_key);
  if (!stmt.ok()) return stmt.status();
  Status done = BindValues(*stmt, columns);
  if (done.ok()) done = stmt->Bind(static_cast<int>(columns.size() + 1), Value(rowid));
  if (done.ok()) done = stmt->Bind(static_cast<int>(columns.size() + 2), name);
  if (done.ok()) done = stmt->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) return RowGone(path_, rowid, name);
  return done;
}

Status Store::DeleteTrap(int64_t rowid, const Value& name) {
  const std::string table(kTrapTable);
  Result<Statement> stmt = Statement::Prepare(
      db_, path_, "DELETE FROM " + table + " WHERE rowid = ?1 AND TrapName IS ?2");
  if (!stmt.ok()) return stmt.status();
  Status done = stmt->Bind(1, Value(rowid));
  if (done.ok()) done = stmt->Bind(2, name);
  if (done.ok()) done = stmt->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) return RowGone(path_, rowid, name);
  return done;
}

}  // namespace tervane::store
