// The tables of schema version 4: the SNMPv3 users and this relay's own engine.
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include "store/statement.h"
#include "store/store.h"

namespace tervane::store {
namespace {

namespace usm = snmp::usm;

Status NeedsVersion4(const std::string& file, int version, std::string_view table) {
  return Status::Error(kErrorNotFound, file + ": schema version " + std::to_string(version) +
                                           " has no table " + std::string(table));
}

Status NoEngineRow(const std::string& file) {
  return Status::Error(kErrorRowGone,
                       file + ": table " + std::string(kEngineTable) + " has no row");
}

// Runs `write` in one BEGIN IMMEDIATE transaction, committed when it succeeds and rolled back
// when it fails: a count and the write that depends on it happen under one write lock, so two
// programs cannot both pass a limit or both count the same start.
Status InWriteTransaction(sqlite3* db, const std::string& file, std::string_view doing,
                          const std::function<Status()>& write) {
  if (int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
    return SqliteError(db, rc, file, doing);
  }
  Status done = write();
  const char* end = done.ok() ? "COMMIT" : "ROLLBACK";
  if (int rc = sqlite3_exec(db, end, nullptr, nullptr, nullptr); rc != SQLITE_OK && done.ok()) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return SqliteError(db, rc, file, doing);
  }
  return done;
}

// The rowids of the rows of user `name` and `engine_id`, engine IDs compared as octets (a row
// may spell its ID in capitals or after 0x), and the number of rows in the table.
struct Matches {
  std::vector<int64_t> rowids;
  int64_t rows = 0;
};

Result<Matches> FindUser(sqlite3* db, const std::string& file, std::string_view name,
                         std::span<const uint8_t> engine_id) {
  Result<Statement> stmt =
      Statement::Prepare(db, file, "SELECT rowid, UserName, EngineId FROM SnmpV3User");
  if (!stmt.ok()) return stmt.status();
  Matches found;
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return found;
    ++found.rows;
    const Value row_name = stmt->Column(1);
    if (row_name.is_null() || row_name.AsText() != name) continue;
    Result<std::vector<uint8_t>> row_engine = CheckEngineIdText(stmt->Column(2).AsText(), true, "");
    if (row_engine.ok() &&
        std::equal(row_engine->begin(), row_engine->end(), engine_id.begin(), engine_id.end())) {
      found.rowids.push_back(stmt->Column(0).integer());
    }
  }
}

Status BindUser(Statement* stmt, const V3UserRow& row) {
  Status done;
  const Value* values[] = {&row.user_name, &row.engine_id,     &row.auth_protocol,
                           &row.auth_key,  &row.priv_protocol, &row.priv_key};
  for (int i = 0; i < 6 && done.ok(); ++i) done = stmt->Bind(i + 1, *values[i]);
  return done;
}

}  // namespace

Result<std::vector<V3UserRow>> Store::ReadV3Users() const {
  std::vector<V3UserRow> rows;
  if (version_ < 4) return rows;
  Result<Statement> stmt = Statement::Prepare(
      db_, path_,
      "SELECT UserName, EngineId, AuthProtocol, AuthKey, PrivProtocol, PrivKey FROM SnmpV3User "
      "ORDER BY rowid");
  if (!stmt.ok()) return stmt.status();
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return rows;
    rows.push_back({stmt->Column(0), stmt->Column(1), stmt->Column(2), stmt->Column(3),
                    stmt->Column(4), stmt->Column(5)});
  }
}

Status Store::SetV3User(const V3User& user) {
  if (version_ < 4) return NeedsVersion4(path_, version_, kV3UserTable);
  const V3UserRow row = V3UserToRow(user);
  return InWriteTransaction(db_, path_, "writing an SNMPv3 user", [&]() -> Status {
    Result<Matches> found = FindUser(db_, path_, user.name, user.engine_id);
    if (!found.ok()) return found.status();
    // An existing row is updated in place and keeps its position.
    if (!found->rowids.empty()) {
      Result<Statement> update = Statement::Prepare(
          db_, path_,
          "UPDATE SnmpV3User SET UserName = ?1, EngineId = ?2, AuthProtocol = ?3, AuthKey = ?4, "
          "PrivProtocol = ?5, PrivKey = ?6 WHERE rowid = ?7");
      if (!update.ok()) return update.status();
      Status done = BindUser(&*update, row);
      if (done.ok()) done = update->Bind(7, Value(found->rowids.front()));
      return done.ok() ? update->Run() : done;
    }
    if (found->rows >= kMaxV3Users) {
      return Status::Error(kErrorOverflow, path_ + ": there are " + std::to_string(found->rows) +
                                               " SNMPv3 users already; at most " +
                                               std::to_string(kMaxV3Users) + " are possible");
    }
    Result<Statement> insert = Statement::Prepare(
        db_, path_,
        "INSERT INTO SnmpV3User (UserName, EngineId, AuthProtocol, AuthKey, PrivProtocol, "
        "PrivKey) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    if (!insert.ok()) return insert.status();
    Status done = BindUser(&*insert, row);
    return done.ok() ? insert->Run() : done;
  });
}

Status Store::RemoveV3User(std::string_view name, std::span<const uint8_t> engine_id) {
  if (version_ < 4) return NeedsVersion4(path_, version_, kV3UserTable);
  return InWriteTransaction(db_, path_, "removing an SNMPv3 user", [&]() -> Status {
    Result<Matches> found = FindUser(db_, path_, name, engine_id);
    if (!found.ok()) return found.status();
    if (found->rowids.empty()) {
      return Status::Error(kErrorRowGone, path_ + ": table " + std::string(kV3UserTable) +
                                              " has no user " + V3UserLabel(name, engine_id));
    }
    Result<Statement> remove =
        Statement::Prepare(db_, path_, "DELETE FROM SnmpV3User WHERE rowid = ?1");
    if (!remove.ok()) return remove.status();
    for (int64_t rowid : found->rowids) {
      remove->Reset();
      Status done = remove->Bind(1, Value(rowid));
      if (done.ok()) done = remove->Run();
      if (!done.ok()) return done;
    }
    return Status::Ok();
  });
}

Result<EngineState> Store::ReadEngine() const {
  if (version_ < 4) return NeedsVersion4(path_, version_, kEngineTable);
  Result<Statement> stmt =
      Statement::Prepare(db_, path_, "SELECT EngineId, Boots FROM SnmpEngine ORDER BY rowid");
  if (!stmt.ok()) return stmt.status();
  Result<bool> row = stmt->Step();
  if (!row.ok()) return row.status();
  if (!*row) {
    return Status::Error(kErrorNotFound,
                         path_ + ": table " + std::string(kEngineTable) + " has no row");
  }
  Result<EngineState> engine = EngineFromRow(stmt->Column(0), stmt->Column(1));
  if (!engine.ok()) return engine;
  // Two rows would leave it open which ID the relay answers with.
  row = stmt->Step();
  if (!row.ok()) return row.status();
  if (*row) {
    return Status::Error(kErrorInvalidArgument, path_ + ": table " + std::string(kEngineTable) +
                                                    " has more than one row; it holds one");
  }
  return engine;
}

Status Store::SetEngineId(std::span<const uint8_t> id) {
  if (version_ < 4) return NeedsVersion4(path_, version_, kEngineTable);
  if (Status checked = CheckEngineIdOctets(id, std::string(kEngineTable) + ", EngineId");
      !checked.ok()) {
    return checked;
  }
  Result<Statement> update = Statement::Prepare(db_, path_, "UPDATE SnmpEngine SET EngineId = ?1");
  if (!update.ok()) return update.status();
  Status done = update->Bind(1, Value(usm::HexText(id)));
  if (done.ok()) done = update->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) return NoEngineRow(path_);
  return done;
}

Result<uint32_t> Store::NextEngineBoots() {
  if (version_ < 4) return NeedsVersion4(path_, version_, kEngineTable);
  uint32_t boots = 0;
  Status done = InWriteTransaction(db_, path_, "counting the engine's start", [&]() -> Status {
    Result<EngineState> engine = ReadEngine();
    if (!engine.ok()) return engine.status();
    boots = engine->boots < kMaxEngineBoots ? engine->boots + 1 : kMaxEngineBoots;
    Result<Statement> update = Statement::Prepare(db_, path_, "UPDATE SnmpEngine SET Boots = ?1");
    if (!update.ok()) return update.status();
    Status set = update->Bind(1, Value(int64_t{boots}));
    return set.ok() ? update->Run() : set;
  });
  if (!done.ok()) return done;
  return boots;
}

}  // namespace tervane::store
