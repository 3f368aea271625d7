// Reading the shared settings out of a store and writing them as JSON (settings_json.h).
#include <cmath>
#include <nlohmann/json.hpp>

#include "admin/settings_json.h"
#include "service/snmp/usm_crypto.h"
#include "store/definition_rules.h"

namespace tervane::svc {
namespace {

using Json = nlohmann::ordered_json;

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

// `value` with its kind; `where` names it when JSON cannot hold it.
Result<Json> ValueJson(const store::Value& value, const std::string& where) {
  if (value.is_null()) return Json(nullptr);
  if (value.is_integer()) return Json(value.integer());
  if (value.is_real()) {
    // nlohmann would write an infinity as null, which reads back as Null.
    if (!std::isfinite(value.real())) {
      return Status::Error(kErrorInvalidArgument,
                           where + ": the real number " + value.AsText() + " has no JSON form");
    }
    return Json(value.real());
  }
  if (store::IsWellFormedUtf8(value.text())) return Json(value.text());
  Json bytes = Json::object();
  bytes["hex"] = HexOf(value.text());
  return bytes;
}

Result<Json> RowJson(const store::ColumnValues& columns, const std::string& where) {
  Json row = Json::object();
  for (const auto& [name, value] : columns) {
    std::string what = where;
    what += ", ";
    what += name;
    Result<Json> j = ValueJson(value, what);
    if (!j.ok()) return j.status();
    row[name] = std::move(*j);
  }
  return row;
}

}  // namespace

Result<SharedSettings> ReadSharedSettings(const store::Store& db, bool with_keys) {
  SharedSettings shared;
  Result<store::SettingsRow> settings = db.ReadSettings();
  if (!settings.ok()) return settings.status();
  for (std::string_view column : kSharedSettingColumns) {
    shared.general.emplace_back(std::string(column), settings->ByName(column));
  }
  Result<std::vector<store::TrapRow>> traps = db.ReadTraps();
  if (!traps.ok()) return traps.status();
  for (const store::TrapRow& trap : *traps) {
    store::ColumnValues row;
    for (size_t i = 0; i < store::kTrapColumns.size(); ++i) {
      row.emplace_back(std::string(store::kTrapColumns[i]), trap.At(static_cast<int>(i)));
    }
    shared.traps.push_back(std::move(row));
  }
  Result<std::vector<store::StationRow>> stations = db.ReadStations();
  if (!stations.ok()) return stations.status();
  for (const store::StationRow& s : *stations) {
    shared.stations.push_back({{"Address", s.address},
                               {"Port", s.port},
                               {"ConvV2ToV1", s.conv_v2_to_v1},
                               {"Community", s.community},
                               {"Enabled", s.enabled}});
  }
  Result<std::vector<store::RelayOption>> options = db.ReadRelayOptions();
  if (!options.ok()) return options.status();
  shared.options = std::move(*options);
  // An older file read as it is has no StormRule table: its export leaves a node's rules alone.
  if (db.schema_version() >= 3) {
    Result<std::vector<store::StormRuleRow>> rules = db.ReadStormRules();
    if (!rules.ok()) return rules.status();
    shared.storm_rules = std::move(*rules);
  }
  if (with_keys && db.schema_version() >= 4) {
    Result<std::vector<store::V3UserRow>> users = db.ReadV3Users();
    if (!users.ok()) return users.status();
    shared.v3_users = std::move(*users);
    Result<store::EngineState> engine = db.ReadEngine();
    if (!engine.ok()) return engine.status();
    shared.engine_id = std::move(engine->id);
  }
  return shared;
}

Result<std::string> SharedSettingsJson(const SharedSettings& settings) {
  Json out = Json::object();
  out["format"] = kSettingsFormat;
  out["version"] = kSettingsFormatVersion;
  Result<Json> general = RowJson(settings.general, std::string(store::kSettingsTable));
  if (!general.ok()) return general.status();
  out[std::string(store::kSettingsTable)] = std::move(*general);
  Json traps = Json::array();
  for (size_t i = 0; i < settings.traps.size(); ++i) {
    Result<Json> row =
        RowJson(settings.traps[i], std::string(store::kTrapTable) + "[" + std::to_string(i) + "]");
    if (!row.ok()) return row.status();
    traps.push_back(std::move(*row));
  }
  out[std::string(store::kTrapTable)] = std::move(traps);
  Json stations = Json::array();
  for (size_t i = 0; i < settings.stations.size(); ++i) {
    Result<Json> row = RowJson(settings.stations[i],
                               std::string(store::kStationTable) + "[" + std::to_string(i) + "]");
    if (!row.ok()) return row.status();
    stations.push_back(std::move(*row));
  }
  out[std::string(store::kStationTable)] = std::move(stations);
  Json options = Json::object();
  for (const store::RelayOption& option : settings.options) {
    Result<Json> value =
        ValueJson(store::Value(option.value), std::string(store::kOptionTable) + " " + option.name);
    if (!value.ok()) return value.status();
    // A name is a key: JSON keys are strings too, so one that is not UTF-8 cannot be one.
    if (!store::IsWellFormedUtf8(option.name)) {
      return Status::Error(kErrorInvalidArgument, std::string(store::kOptionTable) +
                                                      ": an option's name is not UTF-8 text");
    }
    options[option.name] = std::move(*value);
  }
  out[std::string(store::kOptionTable)] = std::move(options);
  if (settings.storm_rules) {
    Json rules = Json::array();
    for (size_t i = 0; i < settings.storm_rules->size(); ++i) {
      const store::StormRuleRow& r = (*settings.storm_rules)[i];
      const store::ColumnValues columns = {{std::string(store::kStormColumns[0]), r.oid_prefix},
                                           {std::string(store::kStormColumns[1]), r.per_minute},
                                           {std::string(store::kStormColumns[2]), r.burst},
                                           {std::string(store::kStormColumns[3]), r.enabled}};
      Result<Json> row =
          RowJson(columns, std::string(store::kStormTable) + "[" + std::to_string(i) + "]");
      if (!row.ok()) return row.status();
      rules.push_back(std::move(*row));
    }
    out[std::string(store::kStormTable)] = std::move(rules);
  }
  if (settings.v3_users) {
    Json users = Json::array();
    for (size_t i = 0; i < settings.v3_users->size(); ++i) {
      const store::V3UserRow& u = (*settings.v3_users)[i];
      const store::Value* values[] = {&u.user_name, &u.engine_id,     &u.auth_protocol,
                                      &u.auth_key,  &u.priv_protocol, &u.priv_key};
      store::ColumnValues columns;
      for (size_t c = 0; c < store::kV3UserColumns.size(); ++c) {
        columns.emplace_back(std::string(store::kV3UserColumns[c]), *values[c]);
      }
      Result<Json> row =
          RowJson(columns, std::string(store::kV3UserTable) + "[" + std::to_string(i) + "]");
      if (!row.ok()) return row.status();
      users.push_back(std::move(*row));
    }
    out[std::string(store::kV3UserTable)] = std::move(users);
  }
  if (settings.engine_id) {
    // Only the ID: the boots are each node's own.
    Json engine = Json::object();
    engine[std::string(store::kEngineColumns[0])] = snmp::usm::HexText(*settings.engine_id);
    out[std::string(store::kEngineTable)] = std::move(engine);
  }
  try {
    return out.dump(2) + "\n";
  } catch (const Json::exception& e) {
    // Every text was checked above; this is a broken promise, not bad data.
    return Status::Error(kErrorInternal, std::string("writing JSON: ") + e.what());
  }
}

}  // namespace tervane::svc
