// The table of schema version 3: storm control's rules.
#include <sqlite3.h>

#include <string>

#include "store/statement.h"
#include "store/store.h"

namespace tervane::store {
namespace {

Status NeedsVersion3(const std::string& file, int version) {
  return Status::Error(kErrorNotFound, file + ": schema version " + std::to_string(version) +
                                           " has no table " + std::string(kStormTable));
}

Status Bound(Statement* stmt, const StormRule& rule) {
  Status done = stmt->BindView(1, rule.prefix);
  if (done.ok()) done = stmt->Bind(2, Value(int64_t{rule.per_minute}));
  if (done.ok()) done = stmt->Bind(3, Value(int64_t{rule.burst}));
  if (done.ok()) done = stmt->Bind(4, Value(rule.enabled ? 1 : 0));
  return done;
}

}  // namespace

Result<std::vector<StormRuleRow>> Store::ReadStormRules() const {
  std::vector<StormRuleRow> rows;
  if (version_ < 3) return rows;
  Result<Statement> stmt = Statement::Prepare(
      db_, path_, "SELECT OidPrefix, PerMinute, Burst, Enabled FROM StormRule ORDER BY rowid");
  if (!stmt.ok()) return stmt.status();
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return rows;
    rows.push_back({stmt->Column(0), stmt->Column(1), stmt->Column(2), stmt->Column(3)});
  }
}

Status Store::SetStormRule(const StormRule& rule) {
  if (version_ < 3) return NeedsVersion3(path_, version_);
  // The count and the write under one write lock, so that two programs adding at once cannot
  // pass the limit together. An existing row is updated in place and keeps its position.
  if (int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
    return SqliteError(db_, rc, path_, "writing a storm rule");
  }
  auto write = [&]() -> Status {
    Result<Statement> update = Statement::Prepare(
        db_, path_,
        "UPDATE StormRule SET PerMinute = ?2, Burst = ?3, Enabled = ?4 WHERE OidPrefix = ?1");
    if (!update.ok()) return update.status();
    Status done = Bound(&*update, rule);
    if (done.ok()) done = update->Run();
    if (!done.ok() || sqlite3_changes64(db_) != 0) return done;
    if (!rule.is_default()) {
      Result<Statement> count =
          Statement::Prepare(db_, path_, "SELECT count(*) FROM StormRule WHERE OidPrefix <> ''");
      if (!count.ok()) return count.status();
      Result<bool> counted = count->Step();
      if (!counted.ok()) return counted.status();
      if (count->Column(0).integer() >= kMaxStormPrefixRules) {
        return Status::Error(kErrorOverflow,
                             path_ + ": there are " + std::to_string(kMaxStormPrefixRules) +
                                 " storm rules by prefix already; at most " +
                                 std::to_string(kMaxStormPrefixRules) + " are possible");
      }
    }
    Result<Statement> insert = Statement::Prepare(
        db_, path_,
        "INSERT INTO StormRule (OidPrefix, PerMinute, Burst, Enabled) VALUES (?1, ?2, ?3, ?4)");
    if (!insert.ok()) return insert.status();
    done = Bound(&*insert, rule);
    return done.ok() ? insert->Run() : done;
  };
  Status done = write();
  const char* end = done.ok() ? "COMMIT" : "ROLLBACK";
  if (int rc = sqlite3_exec(db_, end, nullptr, nullptr, nullptr); rc != SQLITE_OK && done.ok()) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return SqliteError(db_, rc, path_, "writing a storm rule");
  }
  return done;
}

Status Store::RemoveStormRule(std::string_view prefix) {
  if (version_ < 3) return NeedsVersion3(path_, version_);
  Result<Statement> stmt =
      Statement::Prepare(db_, path_, "DELETE FROM StormRule WHERE OidPrefix = ?1");
  if (!stmt.ok()) return stmt.status();
  Status done = stmt->BindView(1, prefix);
  if (done.ok()) done = stmt->Run();
  if (done.ok() && sqlite3_changes64(db_) == 0) {
    return Status::Error(kErrorRowGone,
                         path_ + ": table " + std::string(kStormTable) + " has no rule for " +
                             (prefix.empty() ? std::string("default") : std::string(prefix)));
  }
  return done;
}

}  // namespace tervane::store
