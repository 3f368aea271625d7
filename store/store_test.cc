#include "store/store.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "store/rows.h"
#include "store/store_test_util.h"
#include "store/value.h"

namespace tervane::store {
namespace {

using testing::Mode;
using testing::RawDb;
using testing::TempDir;

// Runs a program and returns its exit status, or -1 if it did not end within 10 s (it is
// then killed). The child is always reaped.
int RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  for (int i = 0; i < 1000; ++i) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// The SnmpTrap columns as the file must hold them, derived from the naming rule rather
// than taken from the store's own list.
std::vector<std::pair<std::string, std::string>> ExpectedTrapColumns() {
  std::vector<std::pair<std::string, std::string>> columns = {{"TrapName", "TEXT"},
                                                              {"TrapOID", "TEXT"},
                                                              {"TrapSourceVarNo", "INTEGER"},
                                                              {"TrapNewVarNo", "INTEGER"}};
  for (int i = 1; i <= 14; ++i) {
    const std::string n = std::to_string(i);
    columns.insert(columns.end(), {{"VarName" + n, "TEXT"},
                                   {"VarPos" + n, "INTEGER"},
                                   {"VarChar" + n, "INTEGER"},
                                   {"VarType" + n, "TEXT"}});
  }
  columns.emplace_back("TrapNewNumber", "INTEGER");
  return columns;
}

const std::vector<std::pair<std::string, std::string>> kExpectedSettingsColumns = {
    {"DebugMode", "INTEGER"},   {"TrapRecvIpAddr", "TEXT"}, {"TrapRecvPort", "INTEGER"},
    {"TrapRecvStatus", "TEXT"}, {"TrapForwIpAddr", "TEXT"}, {"TrapForwPort", "INTEGER"},
    {"ConvV2ToV1", "INTEGER"}};

std::vector<std::pair<std::string, std::string>> TableInfo(RawDb& db, const std::string& table) {
  std::vector<std::pair<std::string, std::string>> columns;
  for (const auto& row :
       db.Query("SELECT name, type FROM pragma_table_info('" + table + "') ORDER BY cid")) {
    columns.emplace_back(row[0], row[1]);
  }
  return columns;
}

// The default settings row, in column order, with the kind of each value.
const std::vector<Value> kDefaultSettings = {0,           "0.0.0.0", 162, "Not Started",
                                             "127.0.0.1", 1162,      0};

void ExpectDefaultSettings(const Store& store) {
  Result<SettingsRow> settings = store.ReadSettings();
  ASSERT_TRUE(settings.ok()) << settings.status().ToString();
  for (size_t i = 0; i < kExpectedSettingsColumns.size(); ++i) {
    const std::string& name = kExpectedSettingsColumns[i].first;
    EXPECT_EQ(settings->ByName(name), kDefaultSettings[i]) << name;
    EXPECT_EQ(settings->At(static_cast<int>(i)), kDefaultSettings[i]) << name;
  }
}

TEST(Store, BuildToolMakesTheDefaultDatabaseAndNeverOverwritesIt) {
  TempDir dir;
  ASSERT_EQ(RunProgram({TERVANE_MKDB_PATH, dir.db()}), 0);
  {
    Result<Store> store = Store::Open(dir.path());
    ASSERT_TRUE(store.ok()) << store.status().ToString();
    ExpectDefaultSettings(*store);
    Result<std::vector<TrapRow>> traps = store->ReadTraps();
    ASSERT_TRUE(traps.ok()) << traps.status().ToString();
    EXPECT_TRUE(traps->empty());
    ASSERT_TRUE(store->WriteSettings({{"TrapRecvPort", 2162}}).ok());
  }
  EXPECT_EQ(Mode(dir.db()), 0660);  // the build tool's umask does not matter
  {
    RawDb raw(dir.db());
    EXPECT_EQ(raw.Query("PRAGMA journal_mode"), (std::vector<std::vector<std::string>>{{"wal"}}));
    EXPECT_EQ(raw.Query("SELECT count(*) FROM General_Setting")[0][0], "1");
  }
  // A rebuild runs the tool again: the user's port stays.
  ASSERT_EQ(RunProgram({TERVANE_MKDB_PATH, dir.db()}), 0);
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  EXPECT_EQ(store->ReadSettings()->ByName("TrapRecvPort"), Value(2162));
}

TEST(Store, DeliveredAndCreatedFilesHaveBothTablesInColumnOrder) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  const std::string delivered = TERVANE_DELIVERED_DB;
  for (const std::string& path : {delivered, dir.db()}) {
    SCOPED_TRACE(path);
    {
      RawDb raw(path, SQLITE_OPEN_READONLY);
      EXPECT_EQ(TableInfo(raw, "General_Setting"), kExpectedSettingsColumns);
      EXPECT_EQ(TableInfo(raw, "SnmpTrap"), ExpectedTrapColumns());
      // Made at the newest schema version, with the tables of every step.
      EXPECT_EQ(raw.Query("PRAGMA user_version")[0][0], std::to_string(kSchemaVersion));
      EXPECT_EQ(raw.Query("SELECT count(*) FROM ForwardTarget")[0][0], "0");
      EXPECT_EQ(raw.Query("SELECT count(*) FROM RelayStatistics")[0][0], "0");
    }
    Result<Store> store = Store::Open(std::filesystem::path(path).parent_path().string());
    EXPECT_TRUE(store.ok()) << store.status().ToString();
  }
  // The store's own list agrees with the file.
  auto expected = ExpectedTrapColumns();
  ASSERT_EQ(expected.size(), kTrapColumns.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(kTrapColumns[i], expected[i].first);
}

TEST(Store, CreateRefusesAnExistingFileAndLeavesItAlone) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  {
    Result<Store> store = Store::Open(dir.path());
    ASSERT_TRUE(store.ok());
    ExpectDefaultSettings(*store);
    ASSERT_TRUE(store->WriteSettings({{"DebugMode", 1}}).ok());
  }
  Status again = Store::Create(dir.db());
  EXPECT_EQ(again.error(), ErrnoCode(EEXIST));
  EXPECT_NE(again.description().find(dir.db()), std::string::npos) << again.description();
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok());
  EXPECT_EQ(store->ReadSettings()->ByName("DebugMode"), Value(1));

  Status nowhere = Store::Create(dir.path() + "/no/such/folder/Tervix.mdb");
  EXPECT_EQ(nowhere.error(), ErrnoCode(ENOENT));
}

std::vector<std::string> TrapNames(const Store& store) {
  std::vector<std::string> names;
  Result<std::vector<TrapRow>> rows = store.ReadTraps();
  EXPECT_TRUE(rows.ok()) << rows.status().ToString();
  if (rows.ok()) {
    for (const TrapRow& row : *rows) names.push_back(row.ByName("TrapName").AsText());
  }
  return names;
}

TEST(Store, NewTrapRowsComeLastInNaturalOrder) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  std::map<std::string, int64_t> rowid;
  for (const char* name : {"alpha", "bravo", "charlie"}) {
    Result<int64_t> added = store->AddTrap({{"TrapName", name}});
    ASSERT_TRUE(added.ok()) << added.status().ToString();
    rowid[name] = *added;
  }
  ASSERT_EQ(TrapNames(*store), (std::vector<std::string>{"alpha", "bravo", "charlie"}));

  ASSERT_TRUE(store->DeleteTrap(rowid["bravo"], "bravo").ok());
  Result<int64_t> delta = store->AddTrap({{"TrapName", "delta"}});
  ASSERT_TRUE(delta.ok()) << delta.status().ToString();
  rowid["delta"] = *delta;
  EXPECT_EQ(TrapNames(*store), (std::vector<std::string>{"alpha", "charlie", "delta"}));

  // Updating a row keeps its place; the row is named by the name it was read with.
  ASSERT_TRUE(store->UpdateTrap(rowid["alpha"], "alpha", {{"TrapName", "able"}}).ok());
  EXPECT_EQ(TrapNames(*store), (std::vector<std::string>{"able", "charlie", "delta"}));

  // SQLite hands the rowid of a deleted last row to the next row added: "echo" gets delta's.
  ASSERT_TRUE(store->DeleteTrap(rowid["delta"], "delta").ok());
  Result<int64_t> echo = store->AddTrap({{"TrapName", "echo"}, {"TrapOID", "1.3.6.5"}});
  ASSERT_TRUE(echo.ok()) << echo.status().ToString();
  ASSERT_EQ(*echo, rowid["delta"]);

  // A deleted, renamed or reused row is gone for updates and deletes alike, and nothing
  // changes.
  struct Gone {
    int64_t rowid;
    const char* name;
  };
  for (const Gone& gone : {Gone{rowid["bravo"], "bravo"}, Gone{rowid["alpha"], "alpha"},
                           Gone{rowid["delta"], "delta"}}) {
    SCOPED_TRACE(gone.name);
    for (const Status& missing : {store->DeleteTrap(gone.rowid, gone.name),
                                  store->UpdateTrap(gone.rowid, gone.name, {{"TrapOID", "1.3.6"}}),
                                  store->UpdateTrap(gone.rowid, gone.name, {})}) {
      EXPECT_EQ(missing.error(), kErrorRowGone);
      EXPECT_NE(
          missing.description().find("SnmpTrap has no row with rowid " +
                                     std::to_string(gone.rowid) + " named \"" + gone.name + "\""),
          std::string::npos)
          << missing.description();
    }
  }
  EXPECT_TRUE(store->UpdateTrap(rowid["charlie"], "charlie", {}).ok());
  EXPECT_EQ(TrapNames(*store), (std::vector<std::string>{"able", "charlie", "echo"}));
  Result<std::vector<TrapRow>> rows = store->ReadTraps();
  ASSERT_TRUE(rows.ok());
  EXPECT_EQ(rows->back().ByName("TrapOID"), Value("1.3.6.5"));
  // A row whose name is Null is named by Null.
  Result<int64_t> unnamed = store->AddTrap({{"TrapOID", "1.3.6.6"}});
  ASSERT_TRUE(unnamed.ok());
  EXPECT_EQ(store->UpdateTrap(*unnamed, "", {}).error(), kErrorRowGone);
  EXPECT_TRUE(store->UpdateTrap(*unnamed, Value(), {{"TrapName", "foxtrot"}}).ok());
}

TEST(Store, VariableColumnsAreAtTheirPositions) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();

  ColumnValues columns = {{"TrapName", "linkDown"},
                          {"TrapOID", "1.3.6.1.6.3.1.1.5.3"},
                          {"TrapSourceVarNo", 3},
                          {"TrapNewVarNo", 14},
                          {"TrapNewNumber", 3900}};
  for (int i = 1; i <= 14; ++i) {
    const std::string n = std::to_string(i);
    columns.insert(columns.end(), {{"VarName" + n, "var" + n},
                                   {"VarPos" + n, 100 + i},
                                   {"VarChar" + n, 200 + i},
                                   {"VarType" + n, "Type" + n}});
  }
  Result<int64_t> rowid = store->AddTrap(columns);
  ASSERT_TRUE(rowid.ok()) << rowid.status().ToString();
  // Written by name, VarPos3 must land at position 13 of the file's column order.
  ASSERT_TRUE(store->UpdateTrap(*rowid, "linkDown", {{"VarPos3", 7}}).ok());

  Result<std::vector<TrapRow>> rows = store->ReadTraps();
  ASSERT_TRUE(rows.ok()) << rows.status().ToString();
  ASSERT_EQ(rows->size(), 1u);
  const TrapRow& row = rows->front();
  EXPECT_EQ(row.rowid(), *rowid);
  EXPECT_EQ(row.At(13), Value(7));
  EXPECT_EQ(row.Var(3, VarField::kPos), Value(7));
  EXPECT_EQ(row.ByName("VarPos3"), Value(7));
  EXPECT_EQ(row.At(0), Value("linkDown"));
  EXPECT_EQ(row.ByName("TrapOID"), Value("1.3.6.1.6.3.1.1.5.3"));
  EXPECT_EQ(row.ByName("TrapSourceVarNo"), Value(3));
  EXPECT_EQ(row.ByName("TrapNewVarNo"), Value(14));
  EXPECT_EQ(row.At(60), Value(3900));
  for (int i = 1; i <= 14; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(row.At(4 * i), Value("var" + n));
    EXPECT_EQ(row.At(4 * i + 1), i == 3 ? Value(7) : Value(100 + i));
    EXPECT_EQ(row.At(4 * i + 2), Value(200 + i));
    EXPECT_EQ(row.At(4 * i + 3), Value("Type" + n));
  }
  EXPECT_TRUE(row.At(61).is_null());
  EXPECT_TRUE(row.ByName("NoSuchColumn").is_null());

  // An independent reader sees the same file positions.
  RawDb raw(dir.db());
  auto all = raw.Query("SELECT * FROM SnmpTrap");
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0][13], "7");
  EXPECT_EQ(all[0][58], "214");
  EXPECT_EQ(all[0][60], "3900");
}

TEST(Store, ValuesKeepTheirKind) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  // What the user typed goes in as text; numeric columns keep numbers as numbers and
  // anything else as it was typed.
  Result<int64_t> rowid = store->AddTrap({{"TrapName", "t"},
                                          {"VarPos1", "12"},
                                          {"VarPos2", "2.5"},
                                          {"VarPos3", "abc"},
                                          {"VarChar1", ""},
                                          {"VarName1", 12}});
  ASSERT_TRUE(rowid.ok()) << rowid.status().ToString();
  Result<std::vector<TrapRow>> rows = store->ReadTraps();
  ASSERT_TRUE(rows.ok());
  const TrapRow& row = rows->front();
  EXPECT_EQ(row.ByName("VarPos1"), Value(12));
  EXPECT_EQ(row.ByName("VarPos2"), Value(2.5));
  EXPECT_EQ(row.ByName("VarPos3"), Value("abc"));
  EXPECT_EQ(row.ByName("VarChar1"), Value(""));
  EXPECT_EQ(row.ByName("VarName1"), Value("12"));
  EXPECT_TRUE(row.ByName("TrapOID").is_null());  // columns not given stay Null
  EXPECT_TRUE(row.ByName("TrapNewNumber").is_null());
}

TEST(Store, WriteSettingsChangesOnlyTheNamedColumnsOfTheFirstRow) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  {
    // A second row, put in by other means, is not the settings row.
    RawDb raw(dir.db());
    ASSERT_EQ(raw.Exec("INSERT INTO General_Setting (TrapRecvPort) VALUES (999)"), SQLITE_OK);
  }
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  ASSERT_TRUE(store->WriteSettings({{"TrapRecvPort", 2000}, {"TrapForwIpAddr", Value()}}).ok());

  Status unknown = store->WriteSettings({{"DebugMode", 1}, {"TrapRecvPortX", 1}});
  EXPECT_EQ(unknown.error(), kErrorNotFound);
  EXPECT_NE(unknown.description().find("General_Setting has no column TrapRecvPortX"),
            std::string::npos)
      << unknown.description();

  Result<SettingsRow> settings = store->ReadSettings();
  ASSERT_TRUE(settings.ok()) << settings.status().ToString();
  EXPECT_EQ(settings->ByName("TrapRecvPort"), Value(2000));
  EXPECT_TRUE(settings->ByName("TrapForwIpAddr").is_null());
  EXPECT_EQ(settings->ByName("DebugMode"), Value(0));  // the refused write wrote nothing
  EXPECT_EQ(settings->ByName("TrapRecvStatus"), Value("Not Started"));
  EXPECT_EQ(settings->ByName("TrapForwPort"), Value(1162));
  RawDb raw(dir.db());
  EXPECT_EQ(raw.Query("SELECT TrapRecvPort FROM General_Setting ORDER BY rowid")[1][0], "999");
}

TEST(Store, TwoConnectionsReadAndWriteAtOnce) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();

  // The other program holds a write transaction open.
  RawDb other(dir.db());
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  ASSERT_EQ(other.Exec("UPDATE General_Setting SET TrapForwPort = 2000"), SQLITE_OK);

  // Reading does not wait and sees the last committed value.
  Result<SettingsRow> before = store->ReadSettings();
  ASSERT_TRUE(before.ok()) << before.status().ToString();
  EXPECT_EQ(before->ByName("TrapForwPort"), Value(1162));

  // Writing waits for the other's commit instead of failing, and neither write is lost.
  std::atomic<int> commit_rc{-1};
  std::thread committer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    commit_rc = other.Exec("COMMIT");
  });
  Status written = store->WriteSettings({{"TrapRecvPort", 2162}});
  committer.join();
  EXPECT_TRUE(written.ok()) << written.ToString();
  EXPECT_EQ(commit_rc.load(), SQLITE_OK);

  Result<SettingsRow> after = store->ReadSettings();
  ASSERT_TRUE(after.ok()) << after.status().ToString();
  EXPECT_EQ(after->ByName("TrapForwPort"), Value(2000));
  EXPECT_EQ(after->ByName("TrapRecvPort"), Value(2162));
}

// CREATE TABLE text for `table` with the given columns, all without a declared type.
std::string CreateTable(const std::string& table, const std::vector<std::string>& columns) {
  std::string sql = "CREATE TABLE " + table + " (";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i == 0 ? "" : ", ") + columns[i];
  return sql + ");";
}

std::vector<std::string> Names(const std::vector<std::pair<std::string, std::string>>& columns) {
  std::vector<std::string> names;
  names.reserve(columns.size());
  for (const auto& column : columns) names.push_back(column.first);
  return names;
}

TEST(Store, BrokenFilesAreRefusedWithTheMissingThingNamed) {
  const std::string settings = CreateTable("General_Setting", Names(kExpectedSettingsColumns));
  const std::string traps = CreateTable("SnmpTrap", Names(ExpectedTrapColumns()));
  std::vector<std::string> without_varpos3 = Names(ExpectedTrapColumns());
  without_varpos3.erase(without_varpos3.begin() + 13);
  std::vector<std::string> swapped = Names(ExpectedTrapColumns());
  std::swap(swapped[13], swapped[14]);

  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;  // empty: no file at all
    ErrorCode code;
    std::vector<std::string> mentions;
  };
  auto sql = [](const std::string& text) {
    return [text](const std::string& path) { ASSERT_EQ(RawDb(path).Exec(text), SQLITE_OK); };
  };
  const std::vector<Case> cases = {
      {"missing file", nullptr, kErrorNotFound, {"does not exist"}},
      {"not a database",
       [](const std::string& path) { std::ofstream(path) << std::string(4096, 'x'); },
       SqliteCode(SQLITE_NOTADB),
       {"not a database"}},
      {"no tables",
       sql("CREATE TABLE Other (x);"),
       kErrorNotFound,
       {"table General_Setting is missing"}},
      {"no SnmpTrap", sql(settings), kErrorNotFound, {"table SnmpTrap is missing"}},
      {"no General_Setting", sql(traps), kErrorNotFound, {"table General_Setting is missing"}},
      {"no VarPos3",
       sql(settings + CreateTable("SnmpTrap", without_varpos3)),
       kErrorNotFound,
       {"table SnmpTrap has no column VarPos3"}},
      {"VarPos3 after VarChar3",
       sql(settings + CreateTable("SnmpTrap", swapped)),
       kErrorNotFound,
       {"column VarPos3 of table SnmpTrap is at position 14 instead of 13"}},
      {"no ConvV2ToV1",
       sql(traps + "CREATE TABLE General_Setting (DebugMode, TrapRecvIpAddr, TrapRecvPort, "
                   "TrapRecvStatus, TrapForwIpAddr, TrapForwPort);"),
       kErrorNotFound,
       {"table General_Setting has no column ConvV2ToV1"}},
  };
  for (const Access access : {Access::kReadWrite, Access::kReadOnly}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (access == Access::kReadOnly ? ", read-only" : ""));
      TempDir dir;
      if (c.make) c.make(dir.db());
      Result<Store> store = Store::Open(dir.path(), access);
      ASSERT_FALSE(store.ok());
      EXPECT_EQ(store.status().error(), c.code);
      // Every description names the file, then what is wrong with it.
      EXPECT_NE(store.status().description().find(dir.db()), std::string::npos)
          << store.status().description();
      for (const std::string& mention : c.mentions) {
        EXPECT_NE(store.status().description().find(mention), std::string::npos)
            << store.status().description();
      }
      // A refused file is left as it was, not switched to WAL mode.
      if (c.make && c.code == kErrorNotFound) {
        EXPECT_EQ(RawDb(dir.db()).Query("PRAGMA journal_mode")[0][0], "delete");
      }
    }
  }
}

TEST(Store, EmptySettingsTableIsReportedOnReadAndWrite) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  ASSERT_EQ(RawDb(dir.db()).Exec("DELETE FROM General_Setting"), SQLITE_OK);
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  Result<SettingsRow> read = store->ReadSettings();
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.status().error(), kErrorNotFound);
  EXPECT_EQ(read.status().description(), dir.db() + ": table General_Setting has no row");
  Status written = store->WriteSettings({{"TrapRecvStatus", "Not Started"}});
  EXPECT_EQ(written.error(), kErrorRowGone);
  EXPECT_EQ(written.description(), dir.db() + ": table General_Setting has no row");
}

TEST(Store, MovedStoreKeepsItsConnection) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> opened = Store::Open(dir.path());
  ASSERT_TRUE(opened.ok()) << opened.status().ToString();
  Store first = std::move(*opened);
  Store second = std::move(first);
  ExpectDefaultSettings(second);
  first = std::move(second);
  ExpectDefaultSettings(first);
  EXPECT_EQ(first.path(), dir.db());
}

}  // namespace
}  // namespace tervane::store
