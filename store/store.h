// Store: the settings database Tervix.mdb that the service and the configuration window
// share, one connection to it.
//
// The file lies in the program folder and is made by the build (tervane_mkdb), never by
// the programs: Open() refuses a missing file and checks that both tables are there with
// their columns in the expected order, because the service reads SnmpTrap's variable
// columns by position. Tables are read whole, in natural order (rowid order); rows are
// written by column name. The connection runs in WAL mode with a busy timeout, so the
// window and the service can both have the file open: a reader never waits, and a writer
// waits for the other's write to finish instead of failing.
//
// A store is opened for reading and writing (the service, and the window of a user who may
// change the settings) or for reading only (the window of a user who may only look). A
// read-write open is refused with kErrorReadOnly when this process could read the file but
// not write it, so the window can offer to open it read-only instead. In WAL mode a writer
// also needs to make Tervix.mdb-wal and Tervix.mdb-shm beside the file, so a folder this
// process may not write in makes the file read-only too. A read-only store reads what the
// writers have committed, as long as the -shm file that they keep is there to read; when it is
// missing and cannot be made, the store falls back to a snapshot: the file as last
// checkpointed (see snapshot()).
//
// The file and its -wal and -shm are never readable by everyone: Create() makes the file
// 0660, in group kDatabaseGroup when that group exists, and SQLite gives the -wal and -shm
// files the database file's permission bits when it makes them.
//
// Every failure comes back as a Status whose description names the file and what was
// missing or what SQLite said; SQLite failures carry SQLite's result code.
#ifndef TERVANE_STORE_STORE_H_
#define TERVANE_STORE_STORE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "store/rows.h"
#include "store/storm_rules.h"
#include "store/v3_users.h"
#include "store/value.h"

struct sqlite3;

namespace tervane::store {

inline constexpr std::string_view kDatabaseFileName = "Tervix.mdb";
// The schema version that this program makes and reads (PRAGMA user_version); files of
// versions 0 to kSchemaVersion - 1 are upgraded in place when opened for writing.
inline constexpr int kSchemaVersion = 4;
// The group that the service runs as (the service account's, svc::kServiceAccount) and whose
// members may use the window: a new database file belongs to it when it exists.
inline constexpr char kDatabaseGroup[] = "tervane";
// Permissions of a new database file: the owner and the group may read and write it, others
// nothing.
inline constexpr int kDatabaseMode = 0660;

// What an open store may do with the file.
enum class Access { kReadWrite, kReadOnly };

// Columns to write, by name, with their new values.
using ColumnValues = std::vector<std::pair<std::string, Value>>;

class Store {
 public:
  // How long a write waits for another connection's write to finish before failing.
  static constexpr int kBusyTimeoutMs = 5000;

  // Opens folder + "/Tervix.mdb". Fails, with nothing left open, when the file
  // - is missing (kErrorNotFound, naming the path);
  // - cannot be read by this process (the errno, EACCES or EPERM, naming the path);
  // - with kReadWrite, can be read but not written by this process, or lies in a folder in
  //   which this process may not make files (kErrorReadOnly, naming the path and why);
  // - is not a database, or lacks a table or a column, or has a column out of place
  //   (kErrorNotFound, naming the table and column);
  // - has a schema version newer than kSchemaVersion (kErrorNewerSchema: "Tervix.mdb has
  //   schema version 3; this program reads versions 0 to 1").
  //
  // A kReadWrite open of an older version upgrades the file in place, one step per version,
  // in one BEGIN IMMEDIATE transaction; before each step from version N the file as it is
  // is written to "Tervix.mdb.vN.bak" beside it with SQLite's online backup. A failed backup
  // or step leaves the file as it was and fails the open. Two programs opening the same old
  // file at once upgrade it once: the second finds it upgraded under the write lock. A
  // kReadOnly open reads an older file as it is (no further stations, no counters).
  //
  // A refused kReadWrite open makes and changes nothing; one that succeeds switches the file
  // to WAL mode. With kReadOnly the connection is read-only: every write through it fails with
  // SQLite's SQLITE_READONLY. In a folder that this process may write in, such a reader makes
  // the -wal and -shm files when they are missing, owned by its user, and leaves them behind
  // when it is the last to close the file, since a reader cannot checkpoint.
  static Result<Store> Open(const std::string& folder, Access access = Access::kReadWrite);

  // Creates the database file `path` from the schema, with the default settings row and no
  // trap definitions. For the build tool and tests; the programs never create the file.
  // The file gets exactly kDatabaseMode whatever the umask, and the group kDatabaseGroup when
  // that group exists and this process may give the file to it; when it may not (a user who
  // is not a member), the file keeps the group it was made with, and Create still succeeds.
  // Refuses (EEXIST) when `path` exists; on any other failure removes what it created.
  static Status Create(const std::string& path);

  Store(Store&& other) noexcept;
  Store& operator=(Store&& other) noexcept;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Path of the open file.
  const std::string& path() const { return path_; }

  // True for a read-only store that reads a snapshot. SQLite finds the changes that writers
  // have made since the last checkpoint through Tervix.mdb-shm; when that file was missing and
  // this process could not make it (a folder it may not write in), or could not read it or
  // Tervix.mdb-wal, the store reads Tervix.mdb alone. It then sees the values as last
  // checkpointed into the file: changes still in the WAL, and those made while it is open,
  // are not seen. SQLite checkpoints when the WAL grows past about 1000 pages and when the
  // last writer closes the file, so with neither the service nor a writing window running the
  // snapshot is the latest state. A checkpoint made while this store reads may make that read
  // fail or return a mix of old and new rows; reading again helps.
  bool snapshot() const { return snapshot_; }

  // The General_Setting row: the first one by rowid. Fails when the table has no row.
  Result<SettingsRow> ReadSettings() const;
  // Writes the named General_Setting columns of that row and leaves the others alone. An
  // unknown column name fails the whole write (kErrorNotFound), and so does a table without a
  // row (kErrorRowGone); nothing is written then.
  Status WriteSettings(const ColumnValues& columns);

  // Every SnmpTrap row in natural order.
  Result<std::vector<TrapRow>> ReadTraps() const;
  // Adds an SnmpTrap row holding the given columns (the others Null) after every existing
  // row, and returns its rowid. An unknown column name fails, and nothing is added.
  Result<int64_t> AddTrap(const ColumnValues& columns);
  // A row is named by the rowid and the TrapName it was read with: SQLite gives a new row the
  // rowid of a deleted last row, so the rowid alone could name a row that another program
  // added after the one read was removed.
  //
  // Writes the named columns of that row. Fails, writing nothing, on an unknown column name
  // (kErrorNotFound) or when no row has that rowid and name any longer (kErrorRowGone).
  Status UpdateTrap(int64_t rowid, const Value& name, const ColumnValues& columns);
  // Deletes that row; fails, deleting nothing, when there is none (kErrorRowGone).
  Status DeleteTrap(int64_t rowid, const Value& name);

  // The schema version of the open file (PRAGMA user_version).
  int schema_version() const { return version_; }

  // Every ForwardTarget row in Id order; none in a file older than version 1.
  Result<std::vector<StationRow>> ReadStations() const;
  // Adds a ForwardTarget row holding the given columns (Address, Port, ConvV2ToV1, Community,
  // Enabled; the others Null) and returns its Id. Refuses (kErrorOverflow, adding nothing)
  // when the table holds kMaxFurtherStations rows already, and an unknown column name.
  Result<int64_t> AddStation(const ColumnValues& columns);
  // Writes the named columns of the row `id`; kErrorRowGone when there is none.
  Status UpdateStation(int64_t id, const ColumnValues& columns);
  // Deletes the row `id`; kErrorRowGone when there is none.
  Status DeleteStation(int64_t id);

  // Every RelayStatistics row in table order; none in a file older than version 1.
  Result<std::vector<StatisticRow>> ReadStatistics() const;

  // Every RelayOption row in Name order; none in a file older than version 2, which reads as
  // if every option had its upgraded value (relay_options.h).
  Result<std::vector<RelayOption>> ReadRelayOptions() const;
  // Sets the option `name` to `value`, adding its row when it has none. The caller checks the
  // value (relay_options.h); fails in a file older than version 2.
  Status WriteRelayOption(std::string_view name, std::string_view value);

  // Replaces what a pair of relays shares, in one BEGIN IMMEDIATE transaction (store_import.cc):
  // writes the named General_Setting columns of `settings` into the settings row, and replaces
  // every SnmpTrap row with `traps`, every ForwardTarget row with `stations` (their columns
  // without the Id; new Ids follow this order), every RelayOption row with `options` and, when
  // `storm_rules` is given, every StormRule row with those (a file older than version 3 then
  // fails); when `v3_users` is given, every SnmpV3User row with those, and when `engine_id` is
  // given, the engine's ID, its Boots kept (either in a file older than version 4 fails). The
  // caller checks the values. Fails, changing nothing, on a column name that is not one of the
  // table's (kErrorNotFound; Id for a station), in a file older than version 2, on a table
  // without its settings row or an SnmpEngine without its row (kErrorRowGone), and on any
  // failure of SQLite's.
  Status ReplaceSharedSettings(const ColumnValues& settings, const std::vector<ColumnValues>& traps,
                               const std::vector<ColumnValues>& stations,
                               const std::vector<RelayOption>& options,
                               const std::vector<StormRuleRow>* storm_rules = nullptr,
                               const std::vector<V3UserRow>* v3_users = nullptr,
                               const std::vector<uint8_t>* engine_id = nullptr);

  // Every StormRule row in the table's order; none in a file older than version 3 (which
  // store/storm_rules.h reads as storm control's default rule switched off).
  Result<std::vector<StormRuleRow>> ReadStormRules() const;
  // Writes `rule` (checked by the caller), in place of the row of its prefix or as a new one.
  // Refuses (kErrorOverflow, writing nothing) a new prefix rule when the table holds
  // kMaxStormPrefixRules of them already; fails in a file older than version 3.
  Status SetStormRule(const StormRule& rule);
  // Deletes the rule of `prefix`; kErrorRowGone when there is none.
  Status RemoveStormRule(std::string_view prefix);

  // Every SnmpV3User row in the table's order; none in a file older than version 4.
  Result<std::vector<V3UserRow>> ReadV3Users() const;
  // Writes `user` (checked by the caller) in place of the row of its name and engine (engine IDs
  // compared as octets, however a row spells them) or as a new row. Refuses (kErrorOverflow,
  // writing nothing) a new user when the table holds kMaxV3Users rows already; fails in a file
  // older than version 4.
  Status SetV3User(const V3User& user);
  // Deletes the user `name` of `engine_id` (empty: the user of any engine); kErrorRowGone when
  // there is none, and nothing is deleted.
  Status RemoveV3User(std::string_view name, std::span<const uint8_t> engine_id);

  // This relay's engine, the one SnmpEngine row, checked (store/v3_users.h). Fails in a file
  // older than version 4 and on a table without its row (kErrorNotFound), or with a value
  // refused, naming it.
  Result<EngineState> ReadEngine() const;
  // Sets the engine ID (5 to 32 octets, else refused with kErrorInvalidArgument) and keeps the
  // boots. kErrorRowGone, writing nothing, when the table has no row.
  Status SetEngineId(std::span<const uint8_t> id);
  // Counts a start of the engine: adds one to Boots in one BEGIN IMMEDIATE transaction and
  // returns the value committed. Once it reaches kMaxEngineBoots it stays there (RFC 3414
  // §2.2.2). Fails, changing nothing, where ReadEngine fails, and on any failure of SQLite's.
  Result<uint32_t> NextEngineBoots();

 private:
  Store(sqlite3* db, std::string path, bool snapshot = false)
      : db_(db), path_(std::move(path)), snapshot_(snapshot) {}

  // Reads the file's schema version into version_; refuses one newer than kSchemaVersion.
  Status ReadVersion();
  // Brings a file older than kSchemaVersion up to it (see Open).
  Status Upgrade();

  // Opens `path` read-only, as a snapshot when `snapshot`, and checks the tables.
  static Result<Store> OpenReadOnly(std::string path, bool snapshot);
  // Checks both tables.
  Status CheckTables();

  // Fails unless `table` exists and starts with `columns`, in that order.
  Status CheckTable(std::string_view table, std::span<const std::string_view> columns);

  sqlite3* db_ = nullptr;
  std::string path_;
  bool snapshot_ = false;
  int version_ = kSchemaVersion;
};

}  // namespace tervane::store

#endif  // TERVANE_STORE_STORE_H_
