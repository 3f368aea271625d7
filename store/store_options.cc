// The table of schema version 2: the relay-wide options.
#include <string>

#include "store/statement.h"
#include "store/store.h"

namespace tervane::store {

Result<std::vector<RelayOption>> Store::ReadRelayOptions() const {
  std::vector<RelayOption> rows;
  if (version_ < 2) return rows;
  Result<Statement> stmt =
      Statement::Prepare(db_, path_, "SELECT Name, Value FROM RelayOption ORDER BY Name");
  if (!stmt.ok()) return stmt.status();
  for (;;) {
    Result<bool> row = stmt->Step();
    if (!row.ok()) return row.status();
    if (!*row) return rows;
    rows.push_back({stmt->Column(0).AsText(), stmt->Column(1).AsText()});
  }
}

Status Store::WriteRelayOption(std::string_view name, std::string_view value) {
  if (version_ < 2) {
    return Status::Error(kErrorNotFound, path_ + ": schema version " + std::to_string(version_) +
                                             " has no table " + std::string(kOptionTable));
  }
  Result<Statement> stmt = Statement::Prepare(
      db_, path_, "INSERT OR REPLACE INTO RelayOption (Name, Value) VALUES (?1, ?2)");
  if (!stmt.ok()) return stmt.status();
  if (Status bound = stmt->BindView(1, name); !bound.ok()) return bound;
  if (Status bound = stmt->BindView(2, value); !bound.ok()) return bound;
  return stmt->Run();
}

}  // namespace tervane::store
