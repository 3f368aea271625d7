#include "admin/settings_json.h"

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "gtest/gtest.h"
#include "store/store.h"

namespace tervane::svc {
namespace {

using Json = nlohmann::ordered_json;
using store::Value;

// A program folder under /tmp with a fresh Tervix.mdb, removed with everything in it.
class Folder {
 public:
  Folder() {
    char name[] = "/tmp/tervane_admin_XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
    created_ = store::Store::Create(path_ + "/Tervix.mdb");
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  const Status& created() const { return created_; }

 private:
  std::string path_;
  Status created_;
};

bool NeverLocal(const std::string&) { return false; }

// The columns of a new definition, as the window's "Add" stores them.
store::ColumnValues NewTrap(const std::string& name) {
  store::ColumnValues columns = {{"TrapName", Value(name)},
                                 {"TrapSourceVarNo", Value(1)},
                                 {"TrapNewNumber", Value(1000)},
                                 {"TrapNewVarNo", Value(3)}};
  for (int i = 1; i <= 14; ++i) {
    const std::string n = std::to_string(i);
    columns.emplace_back("VarName" + n, Value("var" + n));
    columns.emplace_back("VarPos" + n, Value(1));
    columns.emplace_back("VarChar" + n, Value(0));
    columns.emplace_back("VarType" + n, Value("DisplayString"));
  }
  return columns;
}

Result<std::string> Export(const std::string& folder) {
  Result<store::Store> db = store::Store::Open(folder, store::Access::kReadOnly);
  if (!db.ok()) return db.status();
  Result<SharedSettings> shared = ReadSharedSettings(*db);
  if (!shared.ok()) return shared.status();
  return SharedSettingsJson(*shared);
}

TEST(SettingsJson, ExportAndImportKeepEveryValueAndItsKind) {
  Folder from, to;
  ASSERT_TRUE(from.created().ok() && to.created().ok());
  {
    Result<store::Store> db = store::Store::Open(from.path());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE(db->WriteSettings({{"DebugMode", Value(1)},
                                   {"TrapRecvPort", Value(10162)},
                                   {"TrapForwIpAddr", Value("10.0.0.9")},
                                   {"TrapForwPort", Value(162)},
                                   {"ConvV2ToV1", Value(1)}})
                    .ok());
    store::ColumnValues odd = NewTrap("überTrap");
    odd.emplace_back("TrapOID", Value("1.3.6.1.4.1.9.9.41.2.0.1"));
    odd[4].second = Value("quote \" backslash \\ line\r\nfeed\ttab \xF0\x9F\x98\x80");
    odd[8].second = Value();                                     // VarName2: Null
    odd[12].second = Value(std::string("\xFF\xFEraw\x00z", 7));  // VarName3: not UTF-8, a NUL
    odd[15].second = Value("");                                  // VarType3: empty
    odd[19].second = Value();                                    // VarType4: Null
    odd[57].second = Value();  // VarPos14, of a variable not in use (3): Null
    ASSERT_TRUE(db->AddTrap(odd).ok());
    ASSERT_TRUE(db->AddTrap(NewTrap("second")).ok());  // TrapOID Null
    ASSERT_TRUE(db->AddStation({{"Address", Value("10.0.0.10")},
                                {"Port", Value(1162)},
                                {"ConvV2ToV1", Value(1)},
                                {"Community", Value("pr\xE9ve")},
                                {"Enabled", Value(0)}})
                    .ok());
    ASSERT_TRUE(db->AddStation({{"Address", Value("10.0.0.11")}, {"Port", Value(162)}}).ok());
    ASSERT_TRUE(db->WriteRelayOption("AddSourceAddress", "replace").ok());
    ASSERT_TRUE(db->WriteRelayOption("StormControl", "1").ok());
    ASSERT_TRUE(db->SetStormRule({"1.3.6.1.4.1.9", 600, 100, false}).ok());
    ASSERT_TRUE(db->SetStormRule({"", 0, 1, true}).ok());
  }
  Result<std::string> text = Export(from.path());
  ASSERT_TRUE(text.ok()) << text.status().ToString();
  const Json doc = Json::parse(*text);
  EXPECT_EQ(doc["SnmpTrap"][0]["VarName2"], nullptr);
  EXPECT_EQ(doc["SnmpTrap"][0]["VarName3"], Json::parse(R"({"hex": "fffe726177007a"})"));
  EXPECT_EQ(doc["ForwardTarget"][0]["Community"], Json::parse(R"({"hex": "7072e97665"})"));
  EXPECT_EQ(doc["ForwardTarget"][1]["Enabled"], nullptr);
  EXPECT_EQ(doc["SnmpTrap"][0].size(), 61u);
  EXPECT_EQ(doc["StormRule"], Json::parse(R"([
      {"OidPrefix": "", "PerMinute": 0, "Burst": 1, "Enabled": 1},
      {"OidPrefix": "1.3.6.1.4.1.9", "PerMinute": 600, "Burst": 100, "Enabled": 0}])"));

  Result<store::Store> target = store::Store::Open(to.path());
  ASSERT_TRUE(target.ok());
  ASSERT_TRUE(target->WriteSettings({{"TrapRecvIpAddr", Value("10.0.0.2")}}).ok());
  Result<SharedSettings> parsed = ParseSharedSettings(*text, "10.0.0.2", NeverLocal);
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  ASSERT_TRUE(parsed->storm_rules.has_value());
  ASSERT_TRUE(target
                  ->ReplaceSharedSettings(parsed->general, parsed->traps, parsed->stations,
                                          parsed->options, &*parsed->storm_rules)
                  .ok());
  Result<SharedSettings> was = ReadSharedSettings(*store::Store::Open(from.path()));
  Result<SharedSettings> now = ReadSharedSettings(*target);
  ASSERT_TRUE(was.ok() && now.ok());
  EXPECT_EQ(now->general, was->general);
  EXPECT_EQ(now->traps, was->traps);
  EXPECT_EQ(now->stations, was->stations);
  ASSERT_EQ(now->options.size(), 2u);
  EXPECT_EQ(now->options[0].value, "replace");
  EXPECT_EQ(now->options[1].value, "1");
  // The node's own columns stay.
  Result<store::SettingsRow> own = target->ReadSettings();
  EXPECT_EQ(own->ByName("TrapRecvIpAddr"), Value("10.0.0.2"));
  EXPECT_EQ(own->ByName("TrapRecvStatus"), Value("Not Started"));
  // And the second export is the first, byte for byte.
  Result<std::string> again = Export(to.path());
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *text);

  // An export of a file older than version 3 has no storm rules; importing it leaves them.
  Json older = doc;
  older.erase("StormRule");
  older["RelayOption"].erase("StormControl");
  Result<SharedSettings> old = ParseSharedSettings(older.dump(), "10.0.0.2", NeverLocal);
  ASSERT_TRUE(old.ok()) << old.status().ToString();
  EXPECT_FALSE(old->storm_rules.has_value());
}

TEST(SettingsJson, ImportRefusesTheFirstBadValueNamingIt) {
  Folder folder;
  ASSERT_TRUE(folder.created().ok());
  {
    Result<store::Store> db = store::Store::Open(folder.path());
    ASSERT_TRUE(db->AddTrap(NewTrap("linkDown")).ok());
    ASSERT_TRUE(db->AddTrap(NewTrap("linkUp")).ok());
    ASSERT_TRUE(db->AddStation({{"Address", Value("10.0.0.10")},
                                {"Port", Value(162)},
                                {"ConvV2ToV1", Value(0)},
                                {"Community", Value("")},
                                {"Enabled", Value(1)}})
                    .ok());
  }
  Result<std::string> text = Export(folder.path());
  ASSERT_TRUE(text.ok());
  const Json base = Json::parse(*text);
  ASSERT_TRUE(ParseSharedSettings(*text, "0.0.0.0", NeverLocal).ok());

  using Edit = std::function<void(Json&)>;
  const std::string trap0 = "SnmpTrap[0] \"linkDown\".";
  const struct {
    const char* name;
    Edit edit;
    std::string refusal;
  } cases[] = {
      {"format", [](Json& j) { j["format"] = "other"; },
       "format: this is not a settings export (\"format\": \"tervane-settings\")"},
      {"version", [](Json& j) { j["version"] = 2; },
       "version: 2 is not a version this program reads (1)"},
      {"unknown section", [](Json& j) { j["RelayStatistics"] = Json::array(); },
       "the settings: unknown key \"RelayStatistics\""},
      {"missing section", [](Json& j) { j.erase("RelayOption"); },
       "the settings: the key RelayOption is missing"},
      {"node's own address", [](Json& j) { j["General_Setting"]["TrapRecvIpAddr"] = "1.2.3.4"; },
       "General_Setting: unknown key \"TrapRecvIpAddr\""},
      {"receive port", [](Json& j) { j["General_Setting"]["TrapRecvPort"] = 0; },
       "General_Setting.TrapRecvPort: 0 is not a port number (1 to 65535)"},
      {"port as text", [](Json& j) { j["General_Setting"]["TrapForwPort"] = "162"; },
       "General_Setting.TrapForwPort: a whole number is wanted, not text"},
      {"forward address", [](Json& j) { j["General_Setting"]["TrapForwIpAddr"] = "10.1"; },
       "General_Setting.TrapForwIpAddr: \"10.1\" is not an IPv4 or IPv6 address (a.b.c.d or "
       "x:x::x)"},
      {"forward to every address",
       [](Json& j) { j["General_Setting"]["TrapForwIpAddr"] = "0.0.0.0"; },
       "General_Setting.TrapForwIpAddr: \"0.0.0.0\" means every address (0.0.0.0 or ::), not one "
       "that traps can be sent to"},
      {"flag", [](Json& j) { j["General_Setting"]["DebugMode"] = 2; },
       "General_Setting.DebugMode: 2 is not 0 or 1"},
      {"flag as Boolean", [](Json& j) { j["General_Setting"]["ConvV2ToV1"] = true; },
       "General_Setting.ConvV2ToV1: 0 or 1 is wanted, not true or false"},
      {"31 definitions",
       [](Json& j) {
         for (int i = 0; i < 29; ++i) {
           j["SnmpTrap"].push_back(j["SnmpTrap"][0]);
           j["SnmpTrap"].back()["TrapName"] = "t" + std::to_string(i);
         }
       },
       "SnmpTrap: 31 trap definitions; at most 30 are possible"},
      {"missing column", [](Json& j) { j["SnmpTrap"][1].erase("VarPos3"); },
       "SnmpTrap[1]: the key VarPos3 is missing"},
      {"unknown column", [](Json& j) { j["SnmpTrap"][0]["VarPos15"] = 1; },
       "SnmpTrap[0]: unknown key \"VarPos15\""},
      {"empty name", [](Json& j) { j["SnmpTrap"][0]["TrapName"] = ""; },
       "SnmpTrap[0].TrapName: a trap definition needs a name"},
      {"null name", [](Json& j) { j["SnmpTrap"][0]["TrapName"] = nullptr; },
       "SnmpTrap[0].TrapName: text is wanted, not null"},
      {"long name", [](Json& j) { j["SnmpTrap"][0]["TrapName"] = "abcdefghijklmnopqrstu"; },
       "SnmpTrap[0].TrapName: the name has 21 characters; at most 20 are possible"},
      {"long name in UTF-16 units",
       [](Json& j) {
         j["SnmpTrap"][0]["TrapName"] = "a\xF0\x9F\x98\x80\xF0\x9F\x98\x80" + std::string(16, 'b');
       },
       "SnmpTrap[0].TrapName: the name has 21 characters; at most 20 are possible"},
      {"same name in another case", [](Json& j) { j["SnmpTrap"][1]["TrapName"] = "LINKDOWN"; },
       "SnmpTrap[1].TrapName: \"LINKDOWN\" is the name of SnmpTrap[0] too (names are compared "
       "without regard to case)"},
      {"position", [](Json& j) { j["SnmpTrap"][0]["VarPos2"] = 0; },
       trap0 + "VarPos2: 0 is not a position (1 to 32767)"},
      {"the first bad value",
       [](Json& j) {
         j["SnmpTrap"][0]["VarChar5"] = -1;
         j["SnmpTrap"][0]["VarPos2"] = 40000;
       },
       trap0 + "VarPos2: 40000 is not a position (1 to 32767)"},
      {"count", [](Json& j) { j["SnmpTrap"][0]["VarChar14"] = -1; },
       trap0 + "VarChar14: -1 is not a number of characters (0 to 32767)"},
      {"fraction", [](Json& j) { j["SnmpTrap"][0]["VarPos1"] = 1.5; },
       trap0 + "VarPos1: \"1.5\" is not a whole number"},
      {"null number", [](Json& j) { j["SnmpTrap"][0]["TrapSourceVarNo"] = nullptr; },
       trap0 + "TrapSourceVarNo: a whole number is wanted, not null"},
      // The service reads the pieces of the variables in use (3): theirs may not be Null.
      {"null position in use", [](Json& j) { j["SnmpTrap"][0]["VarPos3"] = nullptr; },
       trap0 + "VarPos3: a whole number is wanted, not null"},
      {"source", [](Json& j) { j["SnmpTrap"][0]["TrapSourceVarNo"] = 21; },
       trap0 + "TrapSourceVarNo: 21 is not a binding the service keeps (1 to 20)"},
      {"new variables", [](Json& j) { j["SnmpTrap"][0]["TrapNewVarNo"] = 15; },
       trap0 + "TrapNewVarNo: 15 is not a number of new variables (1 to 14)"},
      {"trap number", [](Json& j) { j["SnmpTrap"][0]["TrapNewNumber"] = 1050; },
       trap0 +
           "TrapNewNumber: 1050 is not a trap number of the list (1000 to 3900 in steps of 100)"},
      {"type", [](Json& j) { j["SnmpTrap"][0]["VarType7"] = "String"; },
       trap0 + "VarType7: \"String\" is not one of the types Integer32, DisplayString, OBJECT "
               "IDENTIFIER, IpAddress, Counter32, Gauge32, TimeTicks"},
      {"bad hex",
       [](Json& j) {
         j["SnmpTrap"][0]["VarName1"] = {{"hex", "zz"}};
       },
       trap0 + "VarName1: text or null is wanted, not an object"},
      {"16 further stations",
       [](Json& j) {
         for (int i = 0; i < 15; ++i) j["ForwardTarget"].push_back(j["ForwardTarget"][0]);
       },
       "ForwardTarget: 16 further stations; at most 15 are possible (16 stations in all)"},
      {"station port", [](Json& j) { j["ForwardTarget"][0]["Port"] = 70000; },
       "ForwardTarget[0].Port: 70000 is not a port number (1 to 65535)"},
      {"station address", [](Json& j) { j["ForwardTarget"][0]["Address"] = "0.0.0.0"; },
       "ForwardTarget[0].Address: \"0.0.0.0\" means every address (0.0.0.0 or ::), not one that "
       "traps can be sent to"},
      {"station flag", [](Json& j) { j["ForwardTarget"][0]["Enabled"] = 2; },
       "ForwardTarget[0].Enabled: 2 is not 0 or 1"},
      {"station Id", [](Json& j) { j["ForwardTarget"][0]["Id"] = 1; },
       "ForwardTarget[0]: unknown key \"Id\""},
      {"option value", [](Json& j) { j["RelayOption"]["AddSourceAddress"] = "2"; },
       "RelayOption AddSourceAddress: '2' is not one of 0, 1 or replace"},
      {"unknown option", [](Json& j) { j["RelayOption"]["FloodGate"] = "0"; },
       "RelayOption: unknown option \"FloodGate\""},
      {"switch value", [](Json& j) { j["RelayOption"]["StormControl"] = "yes"; },
       "RelayOption StormControl: 'yes' is not 0 or 1"},
      {"storm rules not a list", [](Json& j) { j["StormRule"] = Json::object(); },
       "StormRule: a list is wanted, not an object"},
      {"storm rate", [](Json& j) { j["StormRule"][0]["PerMinute"] = 2000000; },
       "StormRule[0].PerMinute: 2000000 is not a number of traps per minute (0 to 1000000)"},
      {"storm burst", [](Json& j) { j["StormRule"][0]["Burst"] = 0; },
       "StormRule[0].Burst: 0 is not a burst of traps (1 to 100000)"},
      {"storm switch", [](Json& j) { j["StormRule"][0]["Enabled"] = 2; },
       "StormRule[0].Enabled: 2 is not 0 or 1"},
      {"storm key", [](Json& j) { j["StormRule"][0].erase("Burst"); },
       "StormRule[0]: the key Burst is missing"},
      {"storm prefix",
       [](Json& j) {
         j["StormRule"].push_back(j["StormRule"][0]);
         j["StormRule"][1]["OidPrefix"] = "1.3.6.1.4.1.99.";
       },
       "StormRule[1].OidPrefix: \"1.3.6.1.4.1.99.\" is not an OID prefix (1 to 128 numbers "
       "separated by dots, such as 1.3.6.1.4.1.9)"},
      {"two rules of a prefix",
       [](Json& j) {
         for (int i = 0; i < 2; ++i) {
           j["StormRule"].push_back(j["StormRule"][0]);
           j["StormRule"].back()["OidPrefix"] = "1.3.6";
         }
       },
       "StormRule[2].OidPrefix: \"1.3.6\" is the prefix of StormRule[1] too"},
      {"two default rules", [](Json& j) { j["StormRule"].push_back(j["StormRule"][0]); },
       "StormRule[1].OidPrefix: the default rule (\"\") is StormRule[0] too"},
      {"31 rules by prefix",
       [](Json& j) {
         for (int i = 1; i <= 31; ++i) {
           j["StormRule"].push_back(j["StormRule"][0]);
           j["StormRule"].back()["OidPrefix"] = "1.3.6." + std::to_string(i);
         }
       },
       "StormRule: more than 30 rules by prefix are listed"},
      {"to itself",
       [](Json& j) {
         j["ForwardTarget"][0]["Address"] = "10.0.0.1";
         j["ForwardTarget"][0]["Port"] = j["General_Setting"]["TrapRecvPort"];
       },
       "ForwardTarget 1: 10.0.0.1:162 is this service's own receive address and port; every "
       "trap would be sent back to it"},
  };
  const auto local = [](const std::string& address) { return address == "10.0.0.1"; };
  ASSERT_EQ(base["StormRule"].size(), 1u);  // the default rule of a new file
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Json doc = base;
    c.edit(doc);
    Result<SharedSettings> parsed = ParseSharedSettings(doc.dump(), "0.0.0.0", local);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.status().description(), c.refusal);
  }
  Result<SharedSettings> not_json = ParseSharedSettings("{\"format\":", "0.0.0.0", local);
  ASSERT_FALSE(not_json.ok());
  EXPECT_EQ(not_json.status().description().rfind("not JSON: parse error at line 1, column 11", 0),
            0u)
      << not_json.status().description();
}

}  // namespace
}  // namespace tervane::svc
