#include <gtest/gtest.h>

#include "store/store.h"
#include "store/store_test_util.h"

namespace tervane::store {
namespace {

using testing::RawDb;
using testing::TempDir;

// Every row of the shared tables and the settings row, as text.
std::vector<std::vector<std::string>> Rows(RawDb& raw) {
  std::vector<std::vector<std::string>> all;
  for (const char* query : {"SELECT * FROM General_Setting", "SELECT rowid, * FROM SnmpTrap",
                            "SELECT * FROM ForwardTarget", "SELECT * FROM RelayOption"}) {
    for (auto& row : raw.Query(query)) all.push_back(std::move(row));
    all.push_back({"--"});
  }
  return all;
}

TEST(StoreImport, ReplacesTheSharedRowsAndKeepsTheNodesOwnColumns) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> db = Store::Open(dir.path());
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE(db->AddTrap({{"TrapName", Value("old")}}).ok());
  ASSERT_TRUE(db->AddStation({{"Address", Value("10.0.0.1")}, {"Port", Value(162)}}).ok());
  ASSERT_TRUE(db->WriteSettings({{"TrapRecvIpAddr", Value("10.0.0.2")}}).ok());

  ASSERT_TRUE(db->ReplaceSharedSettings(
                    {{"TrapForwPort", Value(2162)}},
                    {{{"TrapName", Value("a")}, {"VarPos1", Value(3)}}, {{"TrapName", Value("b")}}},
                    {{{"Address", Value("10.0.0.5")}, {"Port", Value(1162)}}},
                    {{"AddSourceAddress", "replace"}})
                  .ok());
  RawDb raw(dir.db());
  EXPECT_EQ(raw.Query("SELECT TrapRecvIpAddr, TrapRecvStatus, TrapForwPort FROM General_Setting"),
            (std::vector<std::vector<std::string>>{{"10.0.0.2", "Not Started", "2162"}}));
  EXPECT_EQ(raw.Query("SELECT rowid, TrapName, VarPos1 FROM SnmpTrap"),
            (std::vector<std::vector<std::string>>{{"1", "a", "3"}, {"2", "b", "NULL"}}));
  EXPECT_EQ(raw.Query("SELECT Id, Address, Port FROM ForwardTarget"),
            (std::vector<std::vector<std::string>>{{"1", "10.0.0.5", "1162"}}));
  EXPECT_EQ(raw.Query("SELECT Name, Value FROM RelayOption"),
            (std::vector<std::vector<std::string>>{{"AddSourceAddress", "replace"}}));
}

TEST(StoreImport, AFailureChangesNothing) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> db = Store::Open(dir.path());
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE(db->AddTrap({{"TrapName", Value("kept")}}).ok());
  ASSERT_TRUE(db->AddStation({{"Address", Value("10.0.0.1")}, {"Port", Value(162)}}).ok());
  RawDb raw(dir.db());
  // The last write of the transaction fails: everything before it must go back.
  ASSERT_EQ(raw.Exec("CREATE TRIGGER refuse BEFORE INSERT ON RelayOption "
                     "BEGIN SELECT RAISE(ABORT, 'injected failure'); END"),
            SQLITE_OK);
  const auto before = Rows(raw);
  const struct {
    const char* name;
    ColumnValues settings;
    std::vector<ColumnValues> traps;
    std::vector<ColumnValues> stations;
    const char* failure;
  } cases[] = {
      {"the last insert fails",
       {{"TrapForwPort", Value(9)}},
       {{{"TrapName", Value("new")}}},
       {{{"Address", Value("10.0.0.9")}}},
       "injected failure"},
      {"an unknown column",
       {},
       {{{"TrapName", Value("new")}}, {{"Bogus", Value(1)}}},
       {},
       "table SnmpTrap has no column Bogus to write"},
      {"a station's Id", {}, {}, {{{"Id", Value(7)}}}, "table ForwardTarget has no column Id"},
      {"a node's column that is no column",
       {{"TrapRecvIp", Value("1.2.3.4")}},
       {},
       {},
       "table General_Setting has no column TrapRecvIp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status s =
        db->ReplaceSharedSettings(c.settings, c.traps, c.stations, {{"AddSourceAddress", "0"}});
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.description().find(c.failure), std::string::npos) << s.description();
    EXPECT_EQ(Rows(raw), before);
  }
  // The connection is usable afterwards: no transaction was left open.
  EXPECT_TRUE(db->AddTrap({{"TrapName", Value("after")}}).ok());
}

TEST(StoreImport, ReplacesTheV3UsersAndTheEngineIdOnlyWhenGivenAndKeepsTheBoots) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> db = Store::Open(dir.path());
  ASSERT_TRUE(db.ok());
  Result<V3User> alice = V3UserFromRow(
      {Value("alice"), Value(""), Value("MD5"), Value(std::string(32, 'a')), Value(""), Value("")});
  ASSERT_TRUE(alice.ok()) << alice.status().description();
  ASSERT_TRUE(db->SetV3User(*alice).ok());
  ASSERT_TRUE(db->NextEngineBoots().ok());
  RawDb raw(dir.db());
  const auto users = [&raw] { return raw.Query("SELECT * FROM SnmpV3User"); };
  const auto engine = [&raw] { return raw.Query("SELECT * FROM SnmpEngine"); };
  const auto old_users = users();
  const auto old_engine = engine();
  const std::vector<V3UserRow> bob = {{Value("bob"), Value("80007ed90501020304"), Value("SHA"),
                                       Value(std::string(40, 'b')), Value("AES"),
                                       Value(std::string(40, 'c'))}};
  const std::vector<uint8_t> id = {0x80, 0x00, 0x7e, 0xd9, 0x05, 0xaa};

  // Without them, both stay.
  ASSERT_TRUE(db->ReplaceSharedSettings({}, {}, {}, {}).ok());
  EXPECT_EQ(users(), old_users);
  EXPECT_EQ(engine(), old_engine);

  // A failure late in the transaction leaves users and engine as they were.
  ASSERT_EQ(raw.Exec("CREATE TRIGGER refuse BEFORE UPDATE ON SnmpEngine "
                     "BEGIN SELECT RAISE(ABORT, 'injected failure'); END"),
            SQLITE_OK);
  const Status refused = db->ReplaceSharedSettings({}, {}, {}, {}, nullptr, &bob, &id);
  EXPECT_NE(refused.description().find("injected failure"), std::string::npos)
      << refused.description();
  EXPECT_EQ(users(), old_users);
  EXPECT_EQ(engine(), old_engine);
  ASSERT_EQ(raw.Exec("DROP TRIGGER refuse"), SQLITE_OK);

  ASSERT_TRUE(db->ReplaceSharedSettings({}, {}, {}, {}, nullptr, &bob, &id).ok());
  EXPECT_EQ(users(), (std::vector<std::vector<std::string>>{{"bob", "80007ed90501020304", "SHA",
                                                             std::string(40, 'b'), "AES",
                                                             std::string(40, 'c')}}));
  EXPECT_EQ(engine(), (std::vector<std::vector<std::string>>{{"80007ed905aa", old_engine[0][1]}}));

  // An ID that is no engine's is refused before anything is written.
  const std::vector<uint8_t> short_id = {0x80, 0x00};
  EXPECT_FALSE(db->ReplaceSharedSettings({}, {}, {}, {}, nullptr, nullptr, &short_id).ok());
  EXPECT_EQ(engine()[0][0], "80007ed905aa");
}

}  // namespace
}  // namespace tervane::store
