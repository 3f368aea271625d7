// Reading the shared settings back from JSON, every value checked as the window checks it
// (settings_json.h).
#include <algorithm>
#include <nlohmann/json.hpp>

#include "admin/settings_json.h"
#include "service/snmp/value_text.h"
#include "store/definition_rules.h"
#include "store/number_text.h"
#include "store/relay_options.h"
#include "store/storm_rules.h"
#include "store/trap_name.h"
#include "store/v3_users.h"

namespace tervane::svc {
namespace {

using Json = nlohmann::ordered_json;
using store::Value;

constexpr store::NumberRange kFlagRange{0, 1, "is not 0 or 1", kErrorInvalidArgument};

// "SnmpTrap[3].VarPos2": the member `key` of what `owner` names.
std::string Member(const std::string& owner, const std::string& key) {
  std::string what = owner;
  what += '.';
  what += key;
  return what;
}

Status Refuse(const std::string& what, const std::string& why) {
  return Status::Error(kErrorInvalidArgument, what + ": " + why);
}

const char* KindOf(const Json& j) {
  switch (j.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "true or false";
    case Json::value_t::string:
      return "text";
    case Json::value_t::array:
      return "a list";
    case Json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

Status Wrong(const std::string& what, const char* wanted, const Json& j) {
  return Refuse(what, std::string(wanted) + " is wanted, not " + KindOf(j));
}

// The bytes of {"hex": "..."}, nothing for any other object.
std::optional<std::string> HexBytes(const Json& j) {
  if (!j.is_object() || j.size() != 1 || !j.contains("hex") || !j["hex"].is_string()) {
    return std::nullopt;
  }
  const std::string& hex = j["hex"].get_ref<const std::string&>();
  if (hex.size() % 2 != 0) return std::nullopt;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

// A text column: a string, or {"hex": ...}; null when `nullable`.
Result<Value> ReadText(const Json& j, const std::string& what, bool nullable) {
  if (j.is_null() && nullable) return Value();
  if (j.is_string()) return Value(j.get<std::string>());
  if (std::optional<std::string> bytes = HexBytes(j)) return Value(std::move(*bytes));
  return Wrong(what, nullable ? "text or null" : "text", j);
}

// A numeric column: a whole number within `range`, in the words of number_text.h.
Result<int64_t> ReadWhole(const Json& j, const std::string& what, const store::NumberRange& range) {
  if (!j.is_number()) return Wrong(what, "a whole number", j);
  return store::ParseNumberText(j.dump(), store::NumberStyle::kWhole, range, what);
}

// A check box: 0 or 1; null when `nullable` (a station's column that the service reads as
// its default).
Result<Value> ReadFlag(const Json& j, const std::string& what, bool nullable) {
  if (j.is_null() && nullable) return Value();
  if (!j.is_number()) return Wrong(what, nullable ? "0, 1 or null" : "0 or 1", j);
  Result<int64_t> n =
      store::ParseNumberText(j.dump(), store::NumberStyle::kWhole, kFlagRange, what);
  if (!n.ok()) return n.status();
  return Value(*n);
}

// Fails unless `j` is an object whose keys are exactly `keys`; those after the first
// `required` may be missing.
template <size_t N>
Status CheckKeys(const Json& j, const std::array<std::string_view, N>& keys,
                 const std::string& what, size_t required = N) {
  if (!j.is_object()) return Wrong(what, "an object", j);
  for (const auto& [key, value] : j.items()) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
      return Refuse(what, "unknown key " + snmp::QuoteText(key));
    }
  }
  for (size_t i = 0; i < required; ++i) {
    if (!j.contains(keys[i])) {
      return Refuse(what, "the key " + std::string(keys[i]) + " is missing");
    }
  }
  return Status::Ok();
}

Result<store::ColumnValues> ReadGeneral(const Json& j) {
  const std::string table(store::kSettingsTable);
  if (Status keys = CheckKeys(j, kSharedSettingColumns, table); !keys.ok()) return keys;
  store::ColumnValues columns;
  for (std::string_view column : kSharedSettingColumns) {
    const std::string name(column);
    const std::string what = Member(table, name);
    const Json& v = j[name];
    if (name == "DebugMode" || name == "ConvV2ToV1") {
      Result<Value> flag = ReadFlag(v, what, false);
      if (!flag.ok()) return flag.status();
      columns.emplace_back(name, *flag);
    } else if (name == "TrapForwIpAddr") {
      // Every forward address but 0.0.0.0, which names no destination.
      Result<Value> text = ReadText(v, what, false);
      if (!text.ok()) return text.status();
      if (Status s = store::CheckAddressText(text->text(), false, what); !s.ok()) return s;
      columns.emplace_back(name, *text);
    } else {
      Result<int64_t> port = ReadWhole(v, what, store::kPortRange);
      if (!port.ok()) return port.status();
      columns.emplace_back(name, Value(*port));
    }
  }
  return columns;
}

// One SnmpTrap column of a definition, checked by its rule. `used` is the definition's
// TrapNewVarNo: the service reads the position and count of those variables only, so those of
// the others may be Null, as a row written by other means may leave them.
Result<Value> ReadTrapColumn(const Json& v, int position, int64_t used, const std::string& what) {
  const int in_block = position >= 4 && position < 60 ? position % 4 : -1;
  switch (position) {
    case 1:  // TrapOID
      return ReadText(v, what, true);
    case 2:     // TrapSourceVarNo
    case 3:     // TrapNewVarNo
    case 60: {  // TrapNewNumber
      const store::NumberRange& range = position == 2   ? store::kSourceRange
                                        : position == 3 ? store::kNewVarCountRange
                                                        : store::kNewNumberRange;
      Result<int64_t> n = ReadWhole(v, what, range);
      if (!n.ok()) return n.status();
      Status listed = position == 3    ? store::CheckNewVarCount(*n, what)
                      : position == 60 ? store::CheckNewNumber(*n, what)
                                       : Status::Ok();
      if (!listed.ok()) return listed;
      return Value(*n);
    }
    default:
      break;
  }
  if (in_block == static_cast<int>(store::VarField::kName)) return ReadText(v, what, true);
  if (in_block == static_cast<int>(store::VarField::kType)) {
    Result<Value> type = ReadText(v, what, true);
    if (!type.ok() || type->is_null()) return type;
    if (Status s = store::CheckVarType(type->text(), what); !s.ok()) return s;
    return type;
  }
  if (v.is_null() && position / 4 > used) return Value();
  const bool pos = in_block == static_cast<int>(store::VarField::kPos);
  Result<int64_t> n = ReadWhole(v, what, pos ? store::kPositionRange : store::kCountRange);
  if (!n.ok()) return n.status();
  return Value(*n);
}

Result<std::vector<store::ColumnValues>> ReadTraps(const Json& j) {
  const std::string table(store::kTrapTable);
  if (!j.is_array()) return Wrong(table, "a list", j);
  if (j.size() > static_cast<size_t>(store::kMaxDefinitions)) {
    return Refuse(table, std::to_string(j.size()) + " trap definitions; at most " +
                             std::to_string(store::kMaxDefinitions) + " are possible");
  }
  std::vector<store::ColumnValues> traps;
  std::vector<std::string> names;
  for (size_t i = 0; i < j.size(); ++i) {
    std::string row = table + "[" + std::to_string(i) + "]";
    if (Status keys = CheckKeys(j[i], store::kTrapColumns, row); !keys.ok()) return keys;
    Result<Value> name = ReadText(j[i]["TrapName"], row + ".TrapName", false);
    if (!name.ok()) return name.status();
    if (Status s = store::CheckTrapName(name->text(), row + ".TrapName"); !s.ok()) return s;
    for (size_t k = 0; k < names.size(); ++k) {
      if (store::SameTrapName(names[k], name->text())) {
        return Refuse(row + ".TrapName", snmp::QuoteText(name->text()) + " is the name of " +
                                             table + "[" + std::to_string(k) +
                                             "] too (names are compared without regard to case)");
      }
    }
    names.push_back(name->text());
    // From here on the row is named by its name too.
    row += " " + snmp::QuoteText(name->text());
    store::ColumnValues columns = {{"TrapName", *name}};
    int64_t used = 0;  // TrapNewVarNo, read before the variables
    for (size_t p = 1; p < store::kTrapColumns.size(); ++p) {
      const std::string column(store::kTrapColumns[p]);
      Result<Value> value =
          ReadTrapColumn(j[i][column], static_cast<int>(p), used, Member(row, column));
      if (!value.ok()) return value.status();
      if (p == 3) used = value->integer();
      columns.emplace_back(column, std::move(*value));
    }
    traps.push_back(std::move(columns));
  }
  return traps;
}

Result<std::vector<store::ColumnValues>> ReadStations(const Json& j) {
  const std::string table(store::kStationTable);
  if (!j.is_array()) return Wrong(table, "a list", j);
  if (j.size() > static_cast<size_t>(store::kMaxFurtherStations)) {
    return Refuse(table, std::to_string(j.size()) + " further stations; at most " +
                             std::to_string(store::kMaxFurtherStations) + " are possible (" +
                             std::to_string(store::kMaxStations) + " stations in all)");
  }
  std::vector<store::ColumnValues> stations;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string row = table + "[" + std::to_string(i) + "]";
    if (Status keys = CheckKeys(j[i], kSharedStationColumns, row); !keys.ok()) return keys;
    // As the window's station dialog stores them (station_rules.h).
    Result<Value> address = ReadText(j[i]["Address"], row + ".Address", false);
    if (!address.ok()) return address.status();
    if (Status s = store::CheckAddressText(address->text(), false, row + ".Address"); !s.ok()) {
      return s;
    }
    Result<int64_t> port = ReadWhole(j[i]["Port"], row + ".Port", store::kPortRange);
    if (!port.ok()) return port.status();
    Result<Value> to_v1 = ReadFlag(j[i]["ConvV2ToV1"], row + ".ConvV2ToV1", true);
    if (!to_v1.ok()) return to_v1.status();
    Result<Value> community = ReadText(j[i]["Community"], row + ".Community", true);
    if (!community.ok()) return community.status();
    Result<Value> enabled = ReadFlag(j[i]["Enabled"], row + ".Enabled", true);
    if (!enabled.ok()) return enabled.status();
    stations.push_back({{"Address", *address},
                        {"Port", Value(*port)},
                        {"ConvV2ToV1", *to_v1},
                        {"Community", *community},
                        {"Enabled", *enabled}});
  }
  return stations;
}

Result<std::vector<store::RelayOption>> ReadOptions(const Json& j) {
  const std::string table(store::kOptionTable);
  if (!j.is_object()) return Wrong(table, "an object", j);
  std::vector<store::RelayOption> options;
  for (const auto& item : j.items()) {
    const std::string& name = item.key();
    const Json& v = item.value();
    const std::string what = Member(table, name);
    const bool known =
        std::any_of(std::begin(store::kOptionDefaults), std::end(store::kOptionDefaults),
                    [&name](const store::OptionDefault& d) { return d.name == name; });
    if (!known) return Refuse(table, "unknown option " + snmp::QuoteText(name));
    Result<Value> value = ReadText(v, what, false);
    if (!value.ok()) return value.status();
    if (name == store::kOptionAddSourceAddress) {
      Result<store::SourceAddressMode> mode = store::ParseSourceAddressMode(value->text());
      if (!mode.ok()) return mode.status();
    } else if (name == store::kOptionStormControl) {
      Result<bool> on = store::ParseSwitchOption(name, value->text());
      if (!on.ok()) return on.status();
    }
    options.push_back({name, value->text()});
  }
  return options;
}

// Each rule checked as the window and tervane-svc storm check it, named by its place
// ("StormRule[2].PerMinute"); then the rules' own reader judges them together (more than 30
// rules by prefix).
Result<std::vector<store::StormRuleRow>> ReadStormRules(const Json& j) {
  const std::string table(store::kStormTable);
  if (!j.is_array()) return Wrong(table, "a list", j);
  std::vector<store::StormRuleRow> rows;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string row = table + "[" + std::to_string(i) + "]";
    if (Status keys = CheckKeys(j[i], store::kStormColumns, row); !keys.ok()) return keys;
    const std::string what = row + ".OidPrefix";
    Result<Value> prefix = ReadText(j[i]["OidPrefix"], what, false);
    if (!prefix.ok()) return prefix.status();
    const std::string& text = prefix->text();
    if (!text.empty()) {
      if (Status s = store::CheckStormPrefix(text, what); !s.ok()) return s;
    }
    for (size_t k = 0; k < rows.size(); ++k) {
      if (rows[k].oid_prefix.text() != text) continue;
      const std::string other = table + "[" + std::to_string(k) + "]";
      return Refuse(what, text.empty()
                              ? "the default rule (\"\") is " + other + " too"
                              : snmp::QuoteText(text) + " is the prefix of " + other + " too");
    }
    Result<int64_t> rate = ReadWhole(j[i]["PerMinute"], row + ".PerMinute", store::kPerMinuteRange);
    if (!rate.ok()) return rate.status();
    Result<int64_t> burst = ReadWhole(j[i]["Burst"], row + ".Burst", store::kBurstRange);
    if (!burst.ok()) return burst.status();
    Result<Value> enabled = ReadFlag(j[i]["Enabled"], row + ".Enabled", true);
    if (!enabled.ok()) return enabled.status();
    rows.push_back({*prefix, Value(*rate), Value(*burst), *enabled});
  }
  Result<std::vector<store::StormRule>> rules = store::StormRulesFromRows(rows);
  if (!rules.ok()) return rules.status();
  return rows;
}

// A refusal of store::V3UserFromRow, which names the row by its user ("SnmpV3User alice (any
// engine), AuthKey: ..." or "SnmpV3User, UserName: ..."), named by its place instead:
// "SnmpV3User[2].AuthKey: ...". A text in other words keeps them after the place.
Status AtPlace(const Status& refused, const std::string& place, const store::V3UserRow& row) {
  const std::string table(store::kV3UserTable);
  const std::string engine = row.engine_id.AsText();
  const std::string by_user = table + " " + row.user_name.AsText() +
                              (engine.empty() ? " (any engine)" : " (engine " + engine + ")") +
                              ", ";
  const std::string& why = refused.description();
  for (const std::string& name : {by_user, table + ", "}) {
    if (why.starts_with(name)) {
      return Status::Error(refused.error(), place + "." + why.substr(name.size()));
    }
  }
  return Status::Error(refused.error(), place + ": " + why);
}

// Each user checked by the store's own rules, named by its place; then the users together (two
// of one name and engine, more than kMaxV3Users). The rows come back as the store writes them.
Result<std::vector<store::V3UserRow>> ReadV3Users(const Json& j) {
  const std::string table(store::kV3UserTable);
  if (!j.is_array()) return Wrong(table, "a list", j);
  if (j.size() > static_cast<size_t>(store::kMaxV3Users)) {
    return Refuse(table, std::to_string(j.size()) + " users; at most " +
                             std::to_string(store::kMaxV3Users) + " are possible");
  }
  std::vector<store::V3UserRow> rows;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string place = table + "[" + std::to_string(i) + "]";
    if (Status keys = CheckKeys(j[i], store::kV3UserColumns, place); !keys.ok()) return keys;
    std::array<Value, store::kV3UserColumns.size()> values;
    for (size_t c = 0; c < values.size(); ++c) {
      const std::string column(store::kV3UserColumns[c]);
      Result<Value> text = ReadText(j[i][column], Member(place, column), c != 0);
      if (!text.ok()) return text.status();
      values[c] = std::move(*text);
    }
    const store::V3UserRow row = {values[0], values[1], values[2], values[3], values[4], values[5]};
    Result<store::V3User> user = store::V3UserFromRow(row);
    if (!user.ok()) return AtPlace(user.status(), place, row);
    rows.push_back(store::V3UserToRow(*user));
  }
  Result<std::vector<store::V3User>> users = store::V3UsersFromRows(rows);
  if (!users.ok()) return users.status();
  return rows;
}

// {"EngineId": HEX}: no Boots, which are each node's own.
Result<std::vector<uint8_t>> ReadEngine(const Json& j) {
  const std::string table(store::kEngineTable);
  const std::array<std::string_view, 1> keys = {store::kEngineColumns[0]};
  if (Status s = CheckKeys(j, keys, table); !s.ok()) return s;
  const std::string what = Member(table, std::string(keys[0]));
  Result<Value> text = ReadText(j[std::string(keys[0])], what, false);
  if (!text.ok()) return text.status();
  return store::CheckEngineIdText(text->text(), false, what);
}

// The sections; StormRule, added with schema version 3, and SnmpV3User and SnmpEngine, of
// schema version 4 and of an export with keys only, may be missing.
constexpr std::array<std::string_view, 9> kTopKeys = {"format",
                                                      "version",
                                                      store::kSettingsTable,
                                                      store::kTrapTable,
                                                      store::kStationTable,
                                                      store::kOptionTable,
                                                      store::kStormTable,
                                                      store::kV3UserTable,
                                                      store::kEngineTable};
constexpr size_t kRequiredTopKeys = 6;

Result<SharedSettings> ReadDocument(const Json& doc, std::string_view receive_address,
                                    const store::IsLocalAddress& is_local) {
  if (!doc.is_object()) return Wrong("the text", "a JSON object", doc);
  // The format and version first: a newer file is named as such, not by its first new key.
  if (!doc.contains("format") || doc["format"] != kSettingsFormat) {
    return Refuse("format", std::string("this is not a settings export (\"format\": \"") +
                                kSettingsFormat + "\")");
  }
  const Json& version = doc.contains("version") ? doc["version"] : Json();
  if (!version.is_number_integer() || version != kSettingsFormatVersion) {
    return Refuse("version", version.dump() + " is not a version this program reads (" +
                                 std::to_string(kSettingsFormatVersion) + ")");
  }
  if (Status keys = CheckKeys(doc, kTopKeys, "the settings", kRequiredTopKeys); !keys.ok()) {
    return keys;
  }
  SharedSettings shared;
  Result<store::ColumnValues> general = ReadGeneral(doc[std::string(store::kSettingsTable)]);
  if (!general.ok()) return general.status();
  shared.general = std::move(*general);
  Result<std::vector<store::ColumnValues>> traps = ReadTraps(doc[std::string(store::kTrapTable)]);
  if (!traps.ok()) return traps.status();
  shared.traps = std::move(*traps);
  Result<std::vector<store::ColumnValues>> stations =
      ReadStations(doc[std::string(store::kStationTable)]);
  if (!stations.ok()) return stations.status();
  shared.stations = std::move(*stations);
  Result<std::vector<store::RelayOption>> options =
      ReadOptions(doc[std::string(store::kOptionTable)]);
  if (!options.ok()) return options.status();
  shared.options = std::move(*options);
  if (const std::string storm(store::kStormTable); doc.contains(storm)) {
    Result<std::vector<store::StormRuleRow>> rules = ReadStormRules(doc[storm]);
    if (!rules.ok()) return rules.status();
    shared.storm_rules = std::move(*rules);
  }
  if (const std::string users(store::kV3UserTable); doc.contains(users)) {
    Result<std::vector<store::V3UserRow>> rows = ReadV3Users(doc[users]);
    if (!rows.ok()) return rows.status();
    shared.v3_users = std::move(*rows);
  }
  if (const std::string engine(store::kEngineTable); doc.contains(engine)) {
    Result<std::vector<uint8_t>> id = ReadEngine(doc[engine]);
    if (!id.ok()) return id.status();
    shared.engine_id = std::move(*id);
  }

  // The service refuses to start when it would send to itself: so does the import, with this
  // node's receive address and the imported port. A further station's Id is its place + 1.
  std::vector<Value> row(store::kSettingsColumns.size());
  for (size_t i = 0; i < store::kSettingsColumns.size(); ++i) {
    for (const auto& [name, value] : shared.general) {
      if (name == store::kSettingsColumns[i]) row[i] = value;
    }
  }
  row[1] = Value(std::string(receive_address));
  std::vector<store::StationRow> further;
  for (size_t i = 0; i < shared.stations.size(); ++i) {
    const store::ColumnValues& s = shared.stations[i];
    further.push_back({static_cast<int64_t>(i + 1), s[0].second, s[1].second, s[2].second,
                       s[3].second, s[4].second});
  }
  const auto port = static_cast<uint16_t>(row[2].integer());
  Result<std::vector<store::Station>> sent = store::StationsToSend(
      store::SettingsRow(std::move(row)), further, receive_address, port, is_local);
  if (!sent.ok()) return sent.status();
  return shared;
}

}  // namespace

Result<SharedSettings> ParseSharedSettings(std::string_view json, std::string_view receive_address,
                                           const store::IsLocalAddress& is_local) {
  Json doc;
  try {
    doc = Json::parse(json);
  } catch (const Json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 1, column 1: ...": the part after
    // the library's tag.
    std::string why = e.what();
    if (const size_t tag = why.find("] "); tag != std::string::npos) why.erase(0, tag + 2);
    return Status::Error(kErrorMalformed, "not JSON: " + why);
  }
  try {
    return ReadDocument(doc, receive_address, is_local);
  } catch (const Json::exception& e) {
    return Status::Error(kErrorInternal, std::string("reading JSON: ") + e.what());
  }
}

}  // namespace tervane::svc
