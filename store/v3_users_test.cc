// The SNMPv3 users' rows and this relay's engine: the rules every reader applies, and the
// tables of schema version 4 written and read through a real file.
#include "store/v3_users.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "store/store.h"
#include "store/store_test_util.h"

namespace tervane::store {
namespace {

using snmp::usm::Auth;
using snmp::usm::Priv;
using testing::RawDb;
using testing::TempDir;

// `octets` hex digits of the pattern 0123456789abcdef..., for a key's text.
std::string Digits(size_t octets) {
  std::string text;
  for (size_t i = 0; i < 2 * octets; ++i) text += "0123456789abcdef"[i % 16];
  return text;
}

V3UserRow Row(Value name, Value engine, Value auth, Value auth_key, Value priv = "",
              Value priv_key = "") {
  return {std::move(name),     std::move(engine), std::move(auth),
          std::move(auth_key), std::move(priv),   std::move(priv_key)};
}

TEST(V3Users, RowsAreCheckedAndRefusedByName) {
  struct Case {
    V3UserRow row;
    std::string refusal;  // empty: accepted
  };
  const std::string alice = "SnmpV3User alice (any engine)";
  const Case cases[] = {
      {Row("alice", Value(), Value(), Value()), ""},
      {Row("alice", "0x80007ED9050102030405060708", "sha-256", Digits(32), "AES-256-C", Digits(32)),
       ""},
      {Row("bob", "", "MD5", Digits(16), "DES", Digits(16)), ""},
      {Row(Value(), "", "", ""), "SnmpV3User: a row's UserName is Null"},
      {Row("", "", "", ""),
       "SnmpV3User, UserName: \"\" is not an SNMPv3 user name (1 to 32 octets, no control "
       "characters)"},
      {Row(std::string(33, 'a'), "", "", ""),
       "SnmpV3User, UserName: \"" + std::string(33, 'a') +
           "\" is not an SNMPv3 user name (1 to 32 octets, no control characters)"},
      {Row("al\nice", "", "", ""),
       "SnmpV3User, UserName: \"al\\x0Aice\" is not an SNMPv3 user name (1 to 32 octets, no "
       "control characters)"},
      {Row("alice", "80007ed9", "", ""),
       "SnmpV3User alice (engine 80007ed9), EngineId: \"80007ed9\" is not an engine ID (5 to 32 "
       "octets as hex digits, such as 80007ed90512345678abcdef01)"},
      {Row("alice", "80:00:7e:d9:05", "", ""),
       "SnmpV3User alice (engine 80:00:7e:d9:05), EngineId: \"80:00:7e:d9:05\" is not an engine "
       "ID (5 to 32 octets as hex digits, such as 80007ed90512345678abcdef01)"},
      {Row("alice", "", "SHA1", Digits(20)),
       alice + ", AuthProtocol: \"SHA1\" is not one of MD5, SHA, SHA-224, SHA-256, SHA-384 or "
               "SHA-512 (empty for none)"},
      {Row("alice", "", "SHA", Digits(16)),
       alice + ", AuthKey: is not a SHA key (20 octets as 40 hex digits)"},
      {Row("alice", "", "MD5", Digits(16).substr(1) + "x"),
       alice + ", AuthKey: is not an MD5 key (16 octets as 32 hex digits)"},
      {Row("alice", "", "", Digits(16)), alice + ", AuthKey: holds a key but its protocol is none"},
      {Row("alice", "", "SHA-512", Digits(64), "AES-128", Digits(64)),
       alice + ", PrivProtocol: \"AES-128\" is not one of DES, AES, AES-192, AES-256, AES-192-C "
               "or AES-256-C (empty for none)"},
      {Row("alice", "", "", "", "AES", Digits(16)),
       alice + ", PrivProtocol: privacy needs authentication, and AuthProtocol is none"},
      // The privacy Ku is made with the authentication hash: SHA-224's length, not AES's 16.
      {Row("alice", "", "SHA-224", Digits(28), "AES", Digits(16)),
       alice + ", PrivKey: is not a SHA-224 key (28 octets as 56 hex digits)"},
      {Row("alice", "", "SHA", Digits(20), "", Digits(20)),
       alice + ", PrivKey: holds a key but its protocol is none"},
  };
  for (const Case& c : cases) {
    Result<V3User> user = V3UserFromRow(c.row);
    if (!c.refusal.empty()) {
      ASSERT_FALSE(user.ok()) << c.refusal;
      EXPECT_EQ(user.status().description(), c.refusal);
      continue;
    }
    ASSERT_TRUE(user.ok()) << user.status().ToString();
    // Written back in the store's spelling, the row reads as the same user.
    Result<V3User> again = V3UserFromRow(V3UserToRow(*user));
    ASSERT_TRUE(again.ok()) << again.status().ToString();
    EXPECT_EQ(*again, *user);
  }

  Result<V3User> full = V3UserFromRow(cases[1].row);
  ASSERT_TRUE(full.ok());
  EXPECT_EQ(full->engine_id,
            (std::vector<uint8_t>{0x80, 0x00, 0x7E, 0xD9, 0x05, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(full->priv, Priv::kAes256C);
  EXPECT_EQ(full->level(), SecurityLevel::kAuthPriv);
  EXPECT_EQ(full->Label(), "alice (engine 80007ed9050102030405060708)");
  EXPECT_EQ(V3UserToRow(*full).engine_id, Value("80007ed9050102030405060708"));
  EXPECT_EQ(V3UserFromRow(cases[0].row)->level(), SecurityLevel::kNoAuthNoPriv);
  EXPECT_EQ(SecurityLevelName(V3UserFromRow(cases[2].row)->level()), "authPriv");
}

TEST(V3Users, TableIsRefusedForATwiceListedUserOrTooManyAndPasswordsForTheirLength) {
  // The same engine however spelled is one user; another engine, or any engine, is another.
  const std::vector<V3UserRow> two_engines = {Row("alice", "", "", ""),
                                              Row("alice", "8000000001", "", "")};
  ASSERT_TRUE(V3UsersFromRows(two_engines).ok());
  std::vector<V3UserRow> twice = two_engines;
  twice.push_back(Row("alice", "0X8000000001", "", ""));
  EXPECT_EQ(V3UsersFromRows(twice).status().description(),
            "SnmpV3User alice (engine 8000000001): the user has two rows");

  std::vector<V3UserRow> many;
  for (int i = 0; i <= kMaxV3Users; ++i) many.push_back(Row("u" + std::to_string(i), "", "", ""));
  EXPECT_EQ(V3UsersFromRows(many).status().description(),
            "SnmpV3User: 1001 users are listed; at most 1000 are possible");
  many.pop_back();
  EXPECT_EQ(V3UsersFromRows(many)->size(), 1000u);

  EXPECT_TRUE(CheckPassword("12345678", "Authentication password").ok());
  EXPECT_TRUE(CheckPassword("éééééééé", "p").ok());
  // Seven characters are too few, however many octets they take.
  for (std::string_view short_one : {"", "1234567", "ééééééé"}) {
    EXPECT_EQ(CheckPassword(short_one, "Privacy password").description(),
              "Privacy password must be at least 8 characters long")
        << short_one;
  }
  EXPECT_EQ(CheckEngineIdOctets(std::vector<uint8_t>(33), "Engine ID").description(),
            "Engine ID: an engine ID of 33 octets; it has 5 to 32");
  EXPECT_EQ(CheckEngineIdText(std::string(64, 'F'), false, "e")->size(), 32u);
  EXPECT_FALSE(CheckEngineIdText(std::string(66, 'F'), false, "e").ok());
  EXPECT_FALSE(CheckEngineIdText("", false, "e").ok());
}

TEST(V3Users, UsersAreSetInPlaceAddedWithinTheBoundAndRemovedByNameAndEngine) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  EXPECT_TRUE(store->ReadV3Users()->empty());

  V3User alice = *V3UserFromRow(Row("alice", "", "SHA", Digits(20), "AES", Digits(20)));
  V3User bound = *V3UserFromRow(Row("alice", "80007ed90511", "MD5", Digits(16)));
  ASSERT_TRUE(store->SetV3User(alice).ok());
  ASSERT_TRUE(store->SetV3User(bound).ok());
  // A row spelled by hand in capitals is the same engine: replaced in place, not added.
  ASSERT_EQ(RawDb(dir.db()).Exec("UPDATE SnmpV3User SET EngineId = '0X80007ED90511' WHERE "
                                 "EngineId <> ''"),
            SQLITE_OK);
  alice.priv = Priv::kNone;
  ASSERT_TRUE(store->SetV3User(alice).ok());
  bound.auth = Auth::kNone;
  ASSERT_TRUE(store->SetV3User(bound).ok());
  Result<std::vector<V3User>> users = V3UsersFromRows(*store->ReadV3Users());
  ASSERT_TRUE(users.ok()) << users.status().ToString();
  ASSERT_EQ(users->size(), 2u);
  EXPECT_EQ((*users)[0], *V3UserFromRow(V3UserToRow(alice)));
  EXPECT_EQ((*users)[1].Label(), "alice (engine 80007ed90511)");
  EXPECT_EQ((*users)[1].level(), SecurityLevel::kNoAuthNoPriv);

  // The bound counts every row; replacing one at the bound is still allowed.
  ASSERT_EQ(RawDb(dir.db()).Exec("WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n "
                                 "WHERE i < 1000) INSERT INTO SnmpV3User (UserName, EngineId) "
                                 "SELECT 'u' || i, '' FROM n"),
            SQLITE_OK);
  V3User extra = alice;
  extra.name = "carol";
  EXPECT_EQ(store->SetV3User(extra).error(), kErrorOverflow);
  EXPECT_TRUE(store->SetV3User(alice).ok());
  ASSERT_EQ(store->ReadV3Users()->size(), 1000u);

  const std::vector<uint8_t> engine = {0x80, 0x00, 0x7E, 0xD9, 0x05, 0x11};
  EXPECT_TRUE(store->RemoveV3User("alice", engine).ok());
  const Status gone = store->RemoveV3User("alice", engine);
  EXPECT_EQ(gone.error(), kErrorRowGone);
  EXPECT_EQ(gone.description(),
            dir.db() + ": table SnmpV3User has no user alice (engine 80007ed90511)");
  EXPECT_EQ(store->RemoveV3User("Alice", {}).error(), kErrorRowGone);
  EXPECT_TRUE(store->RemoveV3User("alice", {}).ok());
  EXPECT_EQ(store->ReadV3Users()->size(), 998u);

  // A write that SQLite refuses is reported, and nothing is written.
  Result<Store> reader = Store::Open(dir.path(), Access::kReadOnly);
  ASSERT_TRUE(reader.ok());
  const Status refused = reader->SetV3User(alice);
  EXPECT_EQ(refused.error().domain, ErrorDomain::kSqlite) << refused.ToString();
  EXPECT_EQ(refused.code() & 0xFF, SQLITE_READONLY) << refused.ToString();
  EXPECT_EQ(reader->RemoveV3User("u3", {}).code() & 0xFF, SQLITE_READONLY);
  EXPECT_EQ(store->ReadV3Users()->size(), 998u);
}

TEST(V3Users, EngineBootsCountEachStartCommittedAndStayAtTheirLimit) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  {
    Result<Store> store = Store::Open(dir.path());
    ASSERT_TRUE(store.ok());
    EXPECT_EQ(store->ReadEngine()->boots, 0u);
    Result<uint32_t> first = store->NextEngineBoots();
    ASSERT_TRUE(first.ok()) << first.status().ToString();
    EXPECT_EQ(*first, 1u);
    EXPECT_EQ(*store->NextEngineBoots(), 2u);
  }
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok());
  EXPECT_EQ(store->ReadEngine()->boots, 2u);

  const std::vector<uint8_t> id = {1, 2, 3, 4, 5};
  ASSERT_TRUE(store->SetEngineId(id).ok());
  EXPECT_EQ(store->SetEngineId(std::vector<uint8_t>(4)).error(), kErrorInvalidArgument);
  ASSERT_EQ(RawDb(dir.db()).Exec("UPDATE SnmpEngine SET Boots = 2147483646"), SQLITE_OK);
  EXPECT_EQ(*store->NextEngineBoots(), 2147483647u);
  EXPECT_EQ(*store->NextEngineBoots(), 2147483647u);
  Result<EngineState> engine = Store::Open(dir.path(), Access::kReadOnly)->ReadEngine();
  ASSERT_TRUE(engine.ok());
  EXPECT_EQ(engine->id, id);
  EXPECT_EQ(engine->boots, 2147483647u);

  // A write that fails (here a trigger of the file's) is reported and counts nothing.
  ASSERT_EQ(RawDb(dir.db()).Exec("UPDATE SnmpEngine SET Boots = 7; CREATE TRIGGER refuse BEFORE "
                                 "UPDATE ON SnmpEngine BEGIN SELECT RAISE(ABORT, 'no'); END"),
            SQLITE_OK);
  Result<uint32_t> boots = store->NextEngineBoots();
  ASSERT_FALSE(boots.ok());
  EXPECT_EQ(boots.status().error().domain, ErrorDomain::kSqlite);
  EXPECT_EQ(store->ReadEngine()->boots, 7u);

  // A bad row or none is refused, naming it.
  struct Case {
    const char* sql;
    std::string refusal;
  };
  const Case cases[] = {
      {"UPDATE SnmpEngine SET Boots = -1",
       "SnmpEngine, Boots: -1 is not a number of starts (0 to 2147483647)"},
      {"UPDATE SnmpEngine SET EngineId = 'abc'",
       "SnmpEngine, EngineId: \"abc\" is not an engine ID (5 to 32 octets as hex digits, such as "
       "80007ed90512345678abcdef01)"},
      {"INSERT INTO SnmpEngine SELECT * FROM SnmpEngine",
       dir.db() + ": table SnmpEngine has more than one row; it holds one"},
      {"DELETE FROM SnmpEngine", dir.db() + ": table SnmpEngine has no row"},
  };
  ASSERT_EQ(RawDb(dir.db()).Exec("DROP TRIGGER refuse"), SQLITE_OK);
  for (const Case& c : cases) {
    ASSERT_EQ(RawDb(dir.db()).Exec(std::string("UPDATE SnmpEngine SET Boots = 7, EngineId = "
                                               "'0102030405';") +
                                   c.sql),
              SQLITE_OK)
        << c.sql;
    EXPECT_EQ(store->ReadEngine().status().description(), c.refusal);
    EXPECT_EQ(store->NextEngineBoots().status().description(), c.refusal);
  }
  EXPECT_EQ(store->SetEngineId(id).error(), kErrorRowGone);
}

}  // namespace
}  // namespace tervane::store
