// Schema versions: upgrading an old file in place, refusing a newer one; the further stations
// and the counters that version 1 adds; the rules for station values.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "store/relay_options.h"
#include "store/station_rules.h"
#include "store/statistics.h"
#include "store/store.h"
#include "store/store_test_util.h"

namespace tervane::store {
namespace {

using testing::RawDb;
using testing::TempDir;

// A file as the programs before schema versions made it: the two tables only, version 0.
void MakeVersion0(const TempDir& dir) {
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  RawDb raw(dir.db());
  ASSERT_EQ(raw.Exec("DROP TABLE ForwardTarget; DROP TABLE RelayStatistics; "
                     "DROP TABLE RelayOption; DROP TABLE StormRule; DROP TABLE SnmpV3User; "
                     "DROP TABLE SnmpEngine; PRAGMA user_version = 0"),
            SQLITE_OK);
}

// Every value of both old tables with its storage class: "integer:162", "text:...".
std::vector<std::vector<std::string>> OldValues(RawDb& raw) {
  auto rows = raw.Query(
      "SELECT typeof(TrapRecvPort) || ':' || quote(TrapRecvPort), quote(TrapRecvIpAddr), "
      "typeof(DebugMode) || ':' || quote(DebugMode), quote(TrapForwIpAddr) FROM General_Setting");
  for (auto& row : raw.Query("SELECT rowid, quote(TrapName), typeof(TrapSourceVarNo) || ':' || "
                             "quote(TrapSourceVarNo), quote(VarName1), quote(TrapNewNumber) "
                             "FROM SnmpTrap ORDER BY rowid")) {
    rows.push_back(row);
  }
  return rows;
}

int Version(const std::string& path) {
  RawDb raw(path, SQLITE_OPEN_READONLY);
  return std::stoi(raw.Query("PRAGMA user_version")[0][0]);
}

TEST(Schema, Version0FileIsUpgradedInPlaceWithEveryValueKeptAndABackup) {
  TempDir dir;
  MakeVersion0(dir);
  // Odd values as an old window or a hand may have left them; the last writes stay in the
  // -wal file, since this connection keeps the file open through the upgrade.
  RawDb other(dir.db());
  ASSERT_EQ(other.Exec("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                       "UPDATE General_Setting SET TrapRecvPort = ' 0162 ', DebugMode = NULL, "
                       "TrapRecvIpAddr = X'3130002E31', TrapForwIpAddr = 2.5;"
                       "INSERT INTO SnmpTrap (TrapName, TrapSourceVarNo, VarName1) VALUES "
                       "('  Link Down\t', '3x', 'caf' || char(233)), (NULL, 1.5, ''), "
                       "('x', -7, NULL);"
                       "DELETE FROM SnmpTrap WHERE TrapName = 'x';"),
            SQLITE_OK);
  const auto before = OldValues(other);
  ASSERT_EQ(before.size(), 3u);

  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  EXPECT_EQ(store->schema_version(), kSchemaVersion);
  EXPECT_EQ(OldValues(other), before);
  EXPECT_EQ(Version(dir.db()), kSchemaVersion);
  EXPECT_TRUE(store->ReadStations()->empty());
  EXPECT_TRUE(store->ReadStatistics()->empty());
  // An upgraded relay sends what it sent before: the device's address is not added.
  ASSERT_EQ(store->ReadRelayOptions()->size(), 2u);
  EXPECT_EQ(RelayOptionsFromRows(*store->ReadRelayOptions())->add_source_address,
            SourceAddressMode::kKeep);

  // The backup holds the file as it was, WAL content included, and opens read-only as a
  // version-0 file.
  const std::string backup = dir.db() + ".v0.bak";
  EXPECT_EQ(testing::Mode(backup), kDatabaseMode);
  {
    RawDb saved(backup, SQLITE_OPEN_READONLY);
    EXPECT_EQ(OldValues(saved), before);
    EXPECT_EQ(saved.Query("PRAGMA user_version")[0][0], "0");
    EXPECT_TRUE(saved.Query("SELECT name FROM sqlite_master WHERE name = 'ForwardTarget'").empty());
  }
  // Opening again changes nothing and makes no new backup.
  std::filesystem::remove(backup);
  EXPECT_TRUE(Store::Open(dir.path()).ok());
  EXPECT_FALSE(std::filesystem::exists(backup));
}

TEST(Schema, OldFileReadOnlyIsReadAsItIsAndFailedBackupLeavesItAlone) {
  TempDir dir;
  MakeVersion0(dir);
  Result<Store> reader = Store::Open(dir.path(), Access::kReadOnly);
  ASSERT_TRUE(reader.ok()) << reader.status().ToString();
  EXPECT_EQ(reader->schema_version(), 0);
  EXPECT_TRUE(reader->ReadStations()->empty());
  EXPECT_TRUE(reader->ReadSettings().ok());

  // A folder in the backup's place: the backup cannot be written, and the upgrade stops.
  ASSERT_TRUE(std::filesystem::create_directory(dir.db() + ".v0.bak"));
  Result<Store> writer = Store::Open(dir.path());
  ASSERT_FALSE(writer.ok());
  EXPECT_NE(writer.status().description().find("Tervix.mdb.v0.bak"), std::string::npos)
      << writer.status().ToString();
  EXPECT_EQ(Version(dir.db()), 0);
  RawDb raw(dir.db(), SQLITE_OPEN_READONLY);
  EXPECT_TRUE(raw.Query("SELECT name FROM sqlite_master WHERE name = 'ForwardTarget'").empty());
}

TEST(Schema, NewerFileIsRefusedNamingBothVersions) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  const int newer = kSchemaVersion + 1;
  ASSERT_EQ(RawDb(dir.db()).Exec("PRAGMA user_version = " + std::to_string(newer)), SQLITE_OK);
  for (Access access : {Access::kReadWrite, Access::kReadOnly}) {
    Result<Store> store = Store::Open(dir.path(), access);
    ASSERT_FALSE(store.ok());
    EXPECT_EQ(store.status().error(), kErrorNewerSchema);
    EXPECT_EQ(store.status().description(),
              "Tervix.mdb has schema version " + std::to_string(newer) +
                  "; this program reads versions 0 to " + std::to_string(kSchemaVersion));
  }
  EXPECT_FALSE(StatisticsWriter::Open(dir.path()).ok());
  EXPECT_EQ(Version(dir.db()), newer);
}

TEST(Schema, TwoProgramsOpeningAnOldFileAtOnceUpgradeItOnce) {
  for (int round = 0; round < 5; ++round) {
    TempDir dir;
    MakeVersion0(dir);
    // Two processes, released together through a pipe; a second upgrade would fail on the
    // tables that the first made.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 2; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        char byte;
        close(go[1]);
        _exit(read(go[0], &byte, 1) == 1 && Store::Open(dir.path()).ok() ? 0 : 1);
      }
      children.push_back(pid);
    }
    close(go[0]);
    ASSERT_EQ(write(go[1], "ab", 2), 2);
    close(go[1]);
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
    EXPECT_EQ(Version(dir.db()), kSchemaVersion);
  }
}

TEST(Stations, AddUpdateDeleteWithinTheLimit) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok());
  std::vector<int64_t> ids;
  for (int i = 0; i < kMaxFurtherStations; ++i) {
    Result<int64_t> id = store->AddStation(
        {{"Address", Value("10.0.0." + std::to_string(i + 1))}, {"Port", Value(162)}});
    ASSERT_TRUE(id.ok()) << id.status().ToString();
    ids.push_back(*id);
  }
  Result<int64_t> extra = store->AddStation({{"Address", Value("10.0.1.1")}});
  ASSERT_FALSE(extra.ok());
  EXPECT_EQ(extra.status().error(), kErrorOverflow);
  EXPECT_FALSE(store->AddStation({{"Nope", Value(1)}}).ok());

  ASSERT_TRUE(
      store->UpdateStation(ids[1], {{"Community", Value("ops")}, {"Enabled", Value(0)}}).ok());
  ASSERT_TRUE(store->DeleteStation(ids[0]).ok());
  EXPECT_EQ(store->DeleteStation(ids[0]).error(), kErrorRowGone);
  EXPECT_EQ(store->UpdateStation(ids[0], {{"Port", Value(1)}}).error(), kErrorRowGone);
  EXPECT_FALSE(store->UpdateStation(ids[1], {{"Id", Value(99)}}).ok());

  Result<std::vector<StationRow>> rows = store->ReadStations();
  ASSERT_TRUE(rows.ok());
  ASSERT_EQ(rows->size(), static_cast<size_t>(kMaxFurtherStations - 1));
  EXPECT_EQ((*rows)[0].id, ids[1]);
  EXPECT_EQ((*rows)[0].address.AsText(), "10.0.0.2");
  EXPECT_EQ((*rows)[0].community.AsText(), "ops");
  EXPECT_EQ((*rows)[0].enabled.AsText(), "0");
  EXPECT_TRUE((*rows)[1].community.is_null());
}

TEST(Statistics, RoundsReplaceTheRowsAndALockedFileIsSkippedAtOnce) {
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  Result<StatisticsWriter> writer = StatisticsWriter::Open(dir.path());
  ASSERT_TRUE(writer.ok()) << writer.status().ToString();
  const std::vector<Counter> first = {{"datagrams_received", "", 5},
                                      {"station_traps_sent", "127.0.0.1:1162", 4}};
  ASSERT_TRUE(writer->Write(first, "2026-12-08T10:00:00Z", "2026-12-08T10:00:10Z").ok());
  const std::vector<Counter> second = {{"datagrams_received", "", 9}};
  StatisticsWriter moved = std::move(*writer);
  ASSERT_TRUE(moved.Write(second, "2026-12-08T10:00:00Z", "2026-12-08T10:00:20Z").ok());

  Result<Store> store = Store::Open(dir.path(), Access::kReadOnly);
  ASSERT_TRUE(store.ok());
  Result<std::vector<StatisticRow>> rows = store->ReadStatistics();
  ASSERT_TRUE(rows.ok());
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ((*rows)[0].name, "datagrams_received");
  EXPECT_EQ((*rows)[0].value, 9);
  EXPECT_EQ((*rows)[0].written, "2026-12-08T10:00:20Z");

  // Another program holds the write lock: the round fails at once instead of waiting.
  RawDb window(dir.db());
  ASSERT_EQ(window.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  const auto start = std::chrono::steady_clock::now();
  Status busy = moved.Write(first, "a", "b");
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::seconds(Store::kBusyTimeoutMs / 2000));
  EXPECT_EQ(busy.error(), kErrorBusy) << busy.ToString();
  ASSERT_EQ(window.Exec("COMMIT"), SQLITE_OK);
  EXPECT_TRUE(moved.Write(first, "a", "b").ok());
  EXPECT_EQ(UtcStamp(0), "1970-01-01T00:00:00Z");
}

TEST(StationRules, RefusesWhatCannotWorkNamingTheStation) {
  SettingsRow settings({Value(0), Value("0.0.0.0"), Value(162), Value("Not Started"),
                        Value("127.0.0.1"), Value(1162), Value(0)});
  auto local = [](const std::string& a) { return a.starts_with("127."); };
  auto row = [](int64_t id, Value address, Value port, Value enabled = Value()) {
    return StationRow{id,      std::move(address), std::move(port), Value(),
                      Value(), std::move(enabled)};
  };
  struct Case {
    std::vector<StationRow> further;
    std::string refusal;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {{row(1, "10.0.0.1", 162), row(2, "junk", "x", 0)}, ""},
      {{row(3, "10.0.0.0.1", 162)},
       "ForwardTarget 3, Address: \"10.0.0.0.1\" is not an IPv4 or IPv6 address (a.b.c.d or "
       "x:x::x)"},
      {{row(4, "0.0.0.0", 162)},
       "ForwardTarget 4, Address: \"0.0.0.0\" means every address (0.0.0.0 or ::), not one that "
       "traps can be sent to"},
      {{row(5, "10.0.0.1", 0)}, "ForwardTarget 5, Port: 0 is not a port number (1 to 65535)"},
      {{row(6, "127.0.0.2", 162)},
       "ForwardTarget 6: 127.0.0.2:162 is this service's own receive address and port; every "
       "trap would be sent back to it"},
      {std::vector<StationRow>(16, row(7, "10.0.0.1", 162)),
       "ForwardTarget: 16 further stations are listed; at most 15 are possible (16 stations in "
       "all)"},
  };
  for (const Case& c : cases) {
    Result<std::vector<Station>> stations =
        StationsToSend(settings, c.further, "0.0.0.0", 162, local);
    if (c.refusal.empty()) {
      ASSERT_TRUE(stations.ok()) << stations.status().ToString();
      ASSERT_EQ(stations->size(), 2u);
      EXPECT_EQ((*stations)[0].Endpoint(), "127.0.0.1:1162");
      EXPECT_EQ((*stations)[1].Endpoint(), "10.0.0.1:162");
      EXPECT_TRUE((*stations)[1].community.empty());
    } else {
      ASSERT_FALSE(stations.ok()) << c.refusal;
      EXPECT_EQ(stations.status().description(), c.refusal);
    }
  }
  EXPECT_EQ(
      CheckAddressText("1.2.3", false, "Further Station, IP Address").description(),
      "Further Station, IP Address: \"1.2.3\" is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)");
  EXPECT_TRUE(CheckAddressText("0.0.0.0", true, "x").ok());
  EXPECT_EQ(ParsePortText("65536", "Further Station, Port").status().description(),
            "Further Station, Port: 65536 is not a port number (1 to 65535)");
  EXPECT_EQ(*ParsePortText("65535", "p"), 65535);
}

TEST(StationRules, OwnEndpointIsOnlyTheListenersOwn) {
  struct Case {
    const char* recv_ip;
    uint16_t recv_port;
    const char* forw_ip;
    uint16_t forw_port;
    bool loops;
  };
  const Case cases[] = {
      {"0.0.0.0", 162, "127.0.0.1", 162, true},   // every address includes loopback
      {"0.0.0.0", 162, "127.0.0.9", 162, true},   // all of 127/8 is this machine
      {"0.0.0.0", 162, "10.0.0.5", 162, true},    // an address of this machine
      {"0.0.0.0", 162, "0.0.0.0", 162, true},     // sent to this machine
      {"0.0.0.0", 162, "192.0.2.1", 162, false},  // another machine
      {"0.0.0.0", 162, "127.0.0.1", 1162, false},
      {"10.0.0.5", 162, "10.0.0.5", 162, true},
      {"10.0.0.5", 162, "127.0.0.1", 162, false},  // the listener is not on loopback
      {"127.0.0.1", 162, "127.0.0.1", 163, false},
      // :: takes both families; ::ffff:a.b.c.d is a.b.c.d; 0.0.0.0 takes no IPv6.
      {"::", 162, "::1", 162, true},
      {"::", 162, "127.0.0.1", 162, true},
      {"::", 162, "::ffff:127.0.0.1", 162, true},
      {"::", 162, "2001:db8::5", 162, true},
      {"::", 162, "2001:db8::9", 162, false},
      {"0.0.0.0", 162, "::1", 162, false},
      {"0.0.0.0", 162, "::ffff:10.0.0.5", 162, true},
      {"10.0.0.5", 162, "::ffff:10.0.0.5", 162, true},
      {"::ffff:10.0.0.5", 162, "10.0.0.5", 162, true},
      {"::1", 162, "::1", 162, true},
      {"::1", 162, "127.0.0.1", 162, false},
  };
  const auto is_local = [](const std::string& ip) {
    return ip.rfind("127.", 0) == 0 || ip == "10.0.0.5" || ip == "0.0.0.0" || ip == "::1" ||
           ip == "2001:db8::5";
  };
  for (const Case& c : cases) {
    Station s;
    s.name = "TrapForwIpAddr";
    s.address = c.forw_ip;
    s.port = c.forw_port;
    const Status checked = CheckNotOwnEndpoint(s, c.recv_ip, c.recv_port, is_local);
    EXPECT_EQ(!checked.ok(), c.loops) << c.recv_ip << " -> " << c.forw_ip << ":" << c.forw_port;
    if (!checked.ok()) {
      EXPECT_EQ(checked.description().rfind(
                    "TrapForwIpAddr: " + snmp::FormatEndpoint(c.forw_ip, c.forw_port) + " ", 0),
                0u)
          << checked.description();
    }
  }
}

}  // namespace
}  // namespace tervane::store

namespace tervane::store {
namespace {

TEST(Schema, RelayOptionsOfNewAndUpgradedFilesAndTheirValues) {
  // A new file adds the device's address; a version-1 file upgraded keeps sending as before.
  TempDir made;
  ASSERT_TRUE(Store::Create(made.db()).ok());
  Result<Store> fresh = Store::Open(made.path());
  ASSERT_TRUE(fresh.ok()) << fresh.status().ToString();
  EXPECT_EQ(RelayOptionsFromRows(*fresh->ReadRelayOptions())->add_source_address,
            SourceAddressMode::kAddWhenMissing);

  TempDir old;
  ASSERT_TRUE(Store::Create(old.db()).ok());
  ASSERT_EQ(RawDb(old.db()).Exec("DROP TABLE RelayOption; DROP TABLE StormRule; DROP TABLE "
                                 "SnmpV3User; DROP TABLE SnmpEngine; PRAGMA user_version = 1"),
            SQLITE_OK);
  Result<Store> reader = Store::Open(old.path(), Access::kReadOnly);
  ASSERT_TRUE(reader.ok());
  EXPECT_TRUE(reader->ReadRelayOptions()->empty());
  EXPECT_FALSE(reader->WriteRelayOption(kOptionAddSourceAddress, "1").ok());
  Result<Store> upgraded = Store::Open(old.path());
  ASSERT_TRUE(upgraded.ok()) << upgraded.status().ToString();
  EXPECT_TRUE(std::filesystem::exists(old.db() + ".v1.bak"));
  EXPECT_EQ(RelayOptionsFromRows(*upgraded->ReadRelayOptions())->add_source_address,
            SourceAddressMode::kKeep);

  // Each text and the mode it stands for, written and read back; a row of an unknown option
  // is left alone; a value the option does not take is refused by name.
  const struct {
    const char* text;
    bool ok;
    SourceAddressMode mode;
  } cases[] = {{"0", true, SourceAddressMode::kKeep},
               {"1", true, SourceAddressMode::kAddWhenMissing},
               {"replace", true, SourceAddressMode::kReplace},
               {"Replace", false, {}},
               {" 1", false, {}},
               {"", false, {}}};
  ASSERT_TRUE(upgraded->WriteRelayOption("SomeLaterOption", "x").ok());
  for (const auto& c : cases) {
    ASSERT_TRUE(upgraded->WriteRelayOption(kOptionAddSourceAddress, c.text).ok());
    Result<std::vector<RelayOption>> rows = upgraded->ReadRelayOptions();
    ASSERT_TRUE(rows.ok());
    EXPECT_EQ(rows->size(), 3u);
    Result<RelayOptions> options = RelayOptionsFromRows(*rows);
    EXPECT_EQ(options.ok(), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(options.status().description(), "RelayOption AddSourceAddress: '" +
                                                    std::string(c.text) +
                                                    "' is not one of 0, 1 or replace");
      continue;
    }
    EXPECT_EQ(options->add_source_address, c.mode);
    EXPECT_EQ(SourceAddressModeText(c.mode), c.text);
  }
}

// A file as version 3 made it: everything but the SNMPv3 tables.
void MakeVersion3(const TempDir& dir) {
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  ASSERT_EQ(RawDb(dir.db()).Exec("DROP TABLE SnmpV3User; DROP TABLE SnmpEngine; "
                                 "PRAGMA user_version = 3"),
            SQLITE_OK);
}

// The engine ID that the file's one SnmpEngine row holds, after checking that row.
std::string EngineIdOf(const std::string& path) {
  RawDb raw(path, SQLITE_OPEN_READONLY);
  const auto rows = raw.Query("SELECT EngineId, Boots FROM SnmpEngine");
  EXPECT_EQ(rows.size(), 1u) << path;
  if (rows.size() != 1) return "";
  EXPECT_EQ(rows[0][1], "0");
  // 80 00 7E D9 05 (enterprise 32473, format 5), then 8 random octets.
  EXPECT_EQ(rows[0][0].size(), 26u) << rows[0][0];
  EXPECT_TRUE(rows[0][0].starts_with("80007ed905")) << rows[0][0];
  return rows[0][0];
}

TEST(Schema, Version3FileGetsTheSnmpV3TablesAndAnEngineOfItsOwnOnce) {
  TempDir dir;
  MakeVersion3(dir);
  RawDb other(dir.db());
  ASSERT_EQ(other.Exec("INSERT INTO SnmpTrap (TrapName, TrapOID) VALUES ('Link Down', '1.3.6');"
                       "INSERT INTO StormRule VALUES ('1.3.6.1.4.1.9', 5, 2, 0);"
                       "UPDATE RelayOption SET Value = '1' WHERE Name = 'StormControl'"),
            SQLITE_OK);
  const std::string kept =
      "SELECT (SELECT group_concat(TrapName || '/' || TrapOID) FROM SnmpTrap), (SELECT "
      "group_concat(OidPrefix || '/' || PerMinute || '/' || Burst || '/' || Enabled, ' ') FROM "
      "StormRule), (SELECT group_concat(Name || '=' || Value) FROM RelayOption)";
  const auto before = other.Query(kept);

  // A table of the new version already there makes the step fail: the file stays as it was.
  ASSERT_EQ(other.Exec("CREATE TABLE SnmpEngine (x)"), SQLITE_OK);
  Result<Store> refused = Store::Open(dir.path());
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.status().description().find("SnmpEngine"), std::string::npos)
      << refused.status().ToString();
  EXPECT_EQ(Version(dir.db()), 3);
  EXPECT_TRUE(other.Query("SELECT name FROM sqlite_master WHERE name = 'SnmpV3User'").empty());
  ASSERT_EQ(other.Exec("DROP TABLE SnmpEngine"), SQLITE_OK);

  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  EXPECT_EQ(Version(dir.db()), 4);
  EXPECT_EQ(other.Query(kept), before);
  EXPECT_EQ(testing::Mode(dir.db() + ".v3.bak"), kDatabaseMode);
  EXPECT_TRUE(store->ReadV3Users()->empty());
  const std::string upgraded = EngineIdOf(dir.db());
  Result<EngineState> engine = store->ReadEngine();
  ASSERT_TRUE(engine.ok()) << engine.status().ToString();
  EXPECT_EQ(snmp::usm::HexText(engine->id), upgraded);

  // Opened again, the engine keeps its ID; two new files get different ones.
  EXPECT_TRUE(Store::Open(dir.path()).ok());
  EXPECT_EQ(EngineIdOf(dir.db()), upgraded);
  TempDir a;
  TempDir b;
  ASSERT_TRUE(Store::Create(a.db()).ok());
  ASSERT_TRUE(Store::Create(b.db()).ok());
  EXPECT_NE(EngineIdOf(a.db()), EngineIdOf(b.db()));

  // Read-only, a version-3 file has no users and no engine.
  TempDir old;
  MakeVersion3(old);
  Result<Store> reader = Store::Open(old.path(), Access::kReadOnly);
  ASSERT_TRUE(reader.ok());
  EXPECT_TRUE(reader->ReadV3Users()->empty());
  EXPECT_EQ(reader->ReadEngine().status().description(),
            old.db() + ": schema version 3 has no table SnmpEngine");
}

}  // namespace
}  // namespace tervane::store
