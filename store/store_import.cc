// Replacing the settings that a pair of relays shares, for tervane-svc import: the settings
// row's shared columns, the trap definitions, the further stations, the options, the storm
// rules, and the SNMPv3 users and engine ID of an export with keys, all in one transaction, so
// that the service's next start finds the old set or the new one, never a mix.
#include <sqlite3.h>

#include <span>
#include <string>

#include "service/snmp/usm_crypto.h"
#include "store/schema.h"
#include "store/statement.h"
#include "store/store.h"

namespace tervane::store {
namespace {

Status UnknownColumn(const std::string& file, std::string_view table, const std::string& name) {
  return Status::Error(kErrorNotFound, file + ": table " + std::string(table) + " has no column " +
                                           name + " to write");
}

// Fails unless every name of `columns` is one of `known`, not `excluded`. Names checked here
// come from our lists only, so they may be spliced into statement text; values go through
// parameters.
Status CheckNames(const std::string& file, std::string_view table,
                  std::span<const std::string_view> known, const ColumnValues& columns,
                  std::string_view excluded = {}) {
  for (const auto& [name, value] : columns) {
    bool is_known = name != excluded;
    if (is_known) {
      is_known = false;
      for (std::string_view column : known) is_known = is_known || column == name;
    }
    if (!is_known) return UnknownColumn(file, table, name);
  }
  return Status::Ok();
}

Status RunWith(sqlite3* db, const std::string& file, const std::string& sql,
               const ColumnValues& columns) {
  Result<Statement> stmt = Statement::Prepare(db, file, sql);
  if (!stmt.ok()) return stmt.status();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (Status bound = stmt->Bind(static_cast<int>(i + 1), columns[i].second); !bound.ok()) {
      return bound;
    }
  }
  return stmt->Run();
}

Status InsertRow(sqlite3* db, const std::string& file, std::string_view table,
                 const ColumnValues& columns) {
  if (columns.empty()) {
    return RunWith(db, file, "INSERT INTO " + std::string(table) + " DEFAULT VALUES", columns);
  }
  std::string names;
  std::string params;
  for (size_t i = 0; i < columns.size(); ++i) {
    names += (i == 0 ? "\"" : ", \"") + columns[i].first + "\"";
    params += (i == 0 ? "?" : ", ?") + std::to_string(i + 1);
  }
  return RunWith(db, file,
                 "INSERT INTO " + std::string(table) + " (" + names + ") VALUES (" + params + ")",
                 columns);
}

}  // namespace

Status Store::ReplaceSharedSettings(const ColumnValues& settings,
                                    const std::vector<ColumnValues>& traps,
                                    const std::vector<ColumnValues>& stations,
                                    const std::vector<RelayOption>& options,
                                    const std::vector<StormRuleRow>* storm_rules,
                                    const std::vector<V3UserRow>* v3_users,
                                    const std::vector<uint8_t>* engine_id) {
  const bool v3 = v3_users != nullptr || engine_id != nullptr;
  if (version_ < 2 || (v3 && version_ < 4)) {
    return Status::Error(kErrorNotFound,
                         path_ + ": schema version " + std::to_string(version_) + " has no table " +
                             std::string(version_ < 2 ? kOptionTable : kV3UserTable));
  }
  // Every name first, so that a bad one fails before the write lock is taken.
  Status done = CheckNames(path_, kSettingsTable, kSettingsColumns, settings);
  for (size_t i = 0; done.ok() && i < traps.size(); ++i) {
    done = CheckNames(path_, kTrapTable, kTrapColumns, traps[i]);
  }
  for (size_t i = 0; done.ok() && i < stations.size(); ++i) {
    done = CheckNames(path_, kStationTable, kStationColumns, stations[i], kStationColumns[0]);
  }
  if (done.ok() && engine_id != nullptr) {
    done = CheckEngineIdOctets(*engine_id, std::string(kEngineTable) + ", EngineId");
  }
  if (!done.ok()) return done;

  if (Status begun = schema::RunScript(db_, path_, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
  auto write = [&]() -> Status {
    if (!settings.empty()) {
      std::string set;
      for (size_t i = 0; i < settings.size(); ++i) {
        set += (i == 0 ? "\"" : ", \"") + settings[i].first + "\" = ?" + std::to_string(i + 1);
      }
      Status updated =
          RunWith(db_, path_,
                  "UPDATE " + std::string(kSettingsTable) + " SET " + set +
                      " WHERE rowid = (SELECT min(rowid) FROM " + std::string(kSettingsTable) + ")",
                  settings);
      if (!updated.ok()) return updated;
      if (sqlite3_changes64(db_) == 0) {
        return Status::Error(kErrorRowGone,
                             path_ + ": table " + std::string(kSettingsTable) + " has no row");
      }
    }
    for (std::string_view table : {kTrapTable, kStationTable, kOptionTable}) {
      Status emptied = schema::RunScript(db_, path_, "DELETE FROM " + std::string(table));
      if (!emptied.ok()) return emptied;
    }
    for (const ColumnValues& row : traps) {
      if (Status added = InsertRow(db_, path_, kTrapTable, row); !added.ok()) return added;
    }
    for (const ColumnValues& row : stations) {
      if (Status added = InsertRow(db_, path_, kStationTable, row); !added.ok()) return added;
    }
    for (const RelayOption& option : options) {
      Status added = InsertRow(db_, path_, kOptionTable,
                               {{"Name", Value(option.name)}, {"Value", Value(option.value)}});
      if (!added.ok()) return added;
    }
    if (storm_rules != nullptr) {
      Status emptied = schema::RunScript(db_, path_, "DELETE FROM " + std::string(kStormTable));
      if (!emptied.ok()) return emptied;
      for (const StormRuleRow& rule : *storm_rules) {
        Status added = InsertRow(db_, path_, kStormTable,
                                 {{"OidPrefix", rule.oid_prefix},
                                  {"PerMinute", rule.per_minute},
                                  {"Burst", rule.burst},
                                  {"Enabled", rule.enabled}});
        if (!added.ok()) return added;
      }
    }
    if (v3_users != nullptr) {
      Status emptied = schema::RunScript(db_, path_, "DELETE FROM " + std::string(kV3UserTable));
      if (!emptied.ok()) return emptied;
      for (const V3UserRow& user : *v3_users) {
        Status added = InsertRow(db_, path_, kV3UserTable,
                                 {{"UserName", user.user_name},
                                  {"EngineId", user.engine_id},
                                  {"AuthProtocol", user.auth_protocol},
                                  {"AuthKey", user.auth_key},
                                  {"PrivProtocol", user.priv_protocol},
                                  {"PrivKey", user.priv_key}});
        if (!added.ok()) return added;
      }
    }
    if (engine_id != nullptr) {
      // Only the ID: each node counts its own starts.
      Status set = RunWith(db_, path_, "UPDATE " + std::string(kEngineTable) + " SET EngineId = ?1",
                           {{"EngineId", Value(snmp::usm::HexText(*engine_id))}});
      if (!set.ok()) return set;
      if (sqlite3_changes64(db_) == 0) {
        return Status::Error(kErrorRowGone,
                             path_ + ": table " + std::string(kEngineTable) + " has no row");
      }
    }
    return schema::RunScript(db_, path_, "COMMIT");
  };
  done = write();
  // A failed COMMIT leaves the transaction open as well: the ROLLBACK ends it either way.
  if (!done.ok()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return done;
}

}  // namespace tervane::store
