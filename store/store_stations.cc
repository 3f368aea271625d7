// The tables of schema version 1: the further management stations and the service's counters.
#include <sqlite3.h>

#include <string>

#include "store/statement.h"
#include "store/store.h"

namespace tervane::store {
namespace {

Status NoColumnToWrite(const std::string& file, const std::string& name) {
  return Status::Error(kErrorNotFound, file + ": table " + std::string(kStationTable) +
                                           " has no column " + name + " to write");
}

// Column names come from kStationColumns, checked before use, never from input.
Result<std::string> StationSetList(const std::string& file, const ColumnValues& columns,
                                   int first_parameter) {
  std::string list;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& name = columns[i].first;
    // The Id names the row and is not the user's to change.
    if (name == kStationColumns[0] || ColumnPosition(kStationColumns, name) < 0) {
      return NoColumnToWrite(file, name);
    }
    if (!list.empty()) list += ", ";
    list += '"';
    list += name;
    list += "\" = ?";
    list += std::to_string(static_cast<int>(i) + first_parameter);
  }
  return list;
}

Status StationGone(const std::string& file, int64_t id) {
  return Status::Error(kErrorRowGone, file + ": table " + std::string(kStationTable) +
                                          " has no station with Id " + std::to_string(id));
}

Status NeedsVersion1(const std::string& file, int version) {
  return Status::Error(kErrorNotFound, file + ": schema version " + std::to_string(version) +
                                           " has no table " + std::string(kStationTable));
}

}  // namespace

Result<std::vector<StationRow>> Store::ReadStations() const {
  std::vector<StationRow> rows;
  if (version_ < 1) return rows;
  Result<Statement> stmt = Statement::Prepare(
      db_, path_,
      "SELECT Id, Address, Port, ConvV2ToV1, Community, Enabled FROM ForwardTarget ORDER BY Id");
  if (!stmt.ok()) return stmt.status();
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return rows;
    rows.push_back({stmt->Column(0).integer(), stmt->Column(1), stmt->Column(2), stmt->Column(3),
                    stmt->Column(4), stmt->Column(5)});
  }
}

Result<int64_t> Store::AddStation(const ColumnValues& columns) {
  if (version_ < 1) return NeedsVersion1(path_, version_);
  Result<std::string> set = StationSetList(path_, columns, 1);
  if (!set.ok()) return set.status();
  std::string names;
  std::string params;
  for (size_t i = 0; i < columns.size(); ++i) {
    names += (i == 0 ? "\"" : ", \"") + columns[i].first + "\"";
    params += (i == 0 ? "?" : ", ?") + std::to_string(i + 1);
  }
  // The count and the insert under one write lock, so that two programs adding at once
  // cannot pass the limit together.
  Result<Statement> begin = Statement::Prepare(db_, path_, "BEGIN IMMEDIATE");
  if (!begin.ok()) return begin.status();
  if (Status begun = begin->Run(); !begun.ok()) return begun;
  auto add = [&]() -> Result<int64_t> {
    Result<Statement> count = Statement::Prepare(db_, path_, "SELECT count(*) FROM ForwardTarget");
    if (!count.ok()) return count.status();
    Result<bool> counted = count->Step();
    if (!counted.ok()) return counted.status();
    if (count->Column(0).integer() >= kMaxFurtherStations) {
      return Status::Error(
          kErrorOverflow, path_ + ": there are " + std::to_string(kMaxFurtherStations) +
                              " further stations already; at most " + std::to_string(kMaxStations) +
                              " stations are possible");
    }
    Result<Statement> insert = Statement::Prepare(
        db_, path_,
        columns.empty() ? std::string("INSERT INTO ForwardTarget DEFAULT VALUES")
                        : "INSERT INTO ForwardTarget (" + names + ") VALUES (" + params + ")");
    if (!insert.ok()) return insert.status();
    for (size_t i = 0; i < columns.size(); ++i) {
      Status bound = insert->Bind(static_cast<int>(i + 1), columns[i].second);
      if (!bound.ok()) return bound;
    }
    if (Status run = insert->Run(); !run.ok()) return run;
    return static_cast<int64_t>(sqlite3_last_insert_rowid(db_));
  };
  Result<int64_t> id = add();
  const char* end = id.ok() ? "COMMIT" : "ROLLBACK";
  if (int rc = sqlite3_exec(db_, end, nullptr, nullptr, nullptr); rc != SQLITE_OK && id.ok()) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return SqliteError(db_, rc, path_, "adding a station");
  }
  return id;
}

Status Store::UpdateStation(int64_t id, const ColumnValues& columns) {
  if (version_ < 1) return NeedsVersion1(path_, version_);
  Result<std::string> set = StationSetList(path_, columns, 2);
  if (!set.ok()) return set.status();
  // An empty list still tells, by its change count, whether the row is there.
  Result<Statement> stmt =
      Statement::Prepare(db_, path_,
                         "UPDATE ForwardTarget SET " +
                             (columns.empty() ? std::string("Id = Id") : *set) + " WHERE Id = ?1");
  if (!stmt.ok()) return stmt.status();
  Status done = stmt->Bind(1, Value(id));
  for (size_t i = 0; done.ok() && i < columns.size(); ++i) {
    done = stmt->Bind(static_cast<int>(i + 2), columns[i].second);
  }
  if (done.ok()) done = stmt->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) return StationGone(path_, id);
  return done;
}

Status Store::DeleteStation(int64_t id) {
  if (version_ < 1) return NeedsVersion1(path_, version_);
  Result<Statement> stmt =
      Statement::Prepare(db_, path_, "DELETE FROM ForwardTarget WHERE Id = ?1");
  if (!stmt.ok()) return stmt.status();
  Status done = stmt->Bind(1, Value(id));
  if (done.ok()) done = stmt->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) return StationGone(path_, id);
  return done;
}

Result<std::vector<StatisticRow>> Store::ReadStatistics() const {
  std::vector<StatisticRow> rows;
  if (version_ < 1) return rows;
  Result<Statement> stmt = Statement::Prepare(
      db_, path_, "SELECT Name, Label, Value, Since, Written FROM RelayStatistics ORDER BY rowid");
  if (!stmt.ok()) return stmt.status();
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return rows;
    // The service writes whole numbers; anything else another program put there reads as 0.
    const Value value = stmt->Column(2);
    rows.push_back({stmt->Column(0).AsText(), stmt->Column(1).AsText(),
                    value.is_integer() ? value.integer() : 0, stmt->Column(3).AsText(),
                    stmt->Column(4).AsText()});
  }
}

}  // namespace tervane::store
