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
#include "store/value.h"

struct sqlite3;

namespace tervane::store {

inline constexpr std::string_view kDatabaseFileName = "Tervix.mdb";

// Columns to write, by name, with their new values.
using ColumnValues = std::vector<std::pair<std::string, Value>>;

class Store {
 public:
  // How long a write waits for another connection's write to finish before failing.
  static constexpr int kBusyTimeoutMs = 5000;

  // Opens folder + "/Tervix.mdb" for reading and writing. Fails, with nothing left open,
  // when the file is missing (kErrorNotFound, naming the path), is not a database, or lacks
  // a table or a column, or has a column out of place (kErrorNotFound, naming the table and
  // column).
  static Result<Store> Open(const std::string& folder);

  // Creates the database file `path` from the schema, with the default settings row and no
  // trap definitions. For the build tool and tests; the programs never create the file.
  // Refuses (EEXIST) when `path` exists; on any other failure removes what it created.
  static Status Create(const std::string& path);

  Store(Store&& other) noexcept;
  Store& operator=(Store&& other) noexcept;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Path of the open file.
  const std::string& path() const { return path_; }

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

 private:
  Store(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

  // Fails unless `table` exists and starts with `columns`, in that order.
  Status CheckTable(std::string_view table, std::span<const std::string_view> columns);

  sqlite3* db_ = nullptr;
  std::string path_;
};

}  // namespace tervane::store

#endif  // TERVANE_STORE_STORE_H_
