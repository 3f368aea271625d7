// The further stations of page 1 and the counters of page 2, through the window's rules on a
// real Tervix.mdb: the dialog's refusals (in the first station's words), the round trip of
// each change to the file, the limit of fifteen, a station removed meanwhile, the counters as
// the service writes them, and a file newer than this program.
#include <cstdlib>
#include <ctime>

#include "config/model_test_fixture.h"
#include "store/statistics.h"

namespace tervane::config::testing {
namespace {

class StationsModelTest : public ModelTest {
 protected:
  std::vector<store::StationRow> Stations() {
    Result<std::vector<store::StationRow>> rows = Db().ReadStations();
    EXPECT_TRUE(rows.ok()) << rows.status().ToString();
    return rows.ok() ? *rows : std::vector<store::StationRow>();
  }
  void AddDirectly(int count) {
    store::Store db = Db();
    for (int i = 0; i < count; ++i) {
      Result<int64_t> added =
          db.AddStation({{"Address", store::Value("192.0.2.1")}, {"Port", store::Value(2000 + i)}});
      ASSERT_TRUE(added.ok()) << added.status().ToString();
    }
  }
  // The message that the first station's field gives for `text`, when page 1 is left.
  std::string FirstStationMessage(FieldKind kind, const std::string& text) {
    const std::string kept = model_->Text({kind});
    Type({kind}, text);
    EXPECT_FALSE(model_->tab1_Click(kPageTraps));
    Type({kind}, kept);
    std::vector<std::string> messages = dialogs_.TakeMessages();
    EXPECT_EQ(messages.size(), 1u);
    return messages.empty() ? "" : messages[0];
  }
};

// A value the first station refuses is refused in the dialog in the same words, naming the
// dialog's field; the dialog stays open on that field, and the corrected station is stored.
TEST_F(StationsModelTest, TheDialogRefusesWhatTheFirstStationRefuses) {
  struct Case {
    StationField field;
    const char* text;
  };
  const Case cases[] = {
      {StationField::kAddress, ""},         {StationField::kAddress, "10.0.0"},
      {StationField::kAddress, "0.0.0.0"},  {StationField::kAddress, "10.0.0.256"},
      {StationField::kAddress, "host.lan"}, {StationField::kPort, ""},
      {StationField::kPort, "0"},           {StationField::kPort, "65536"},
      {StationField::kPort, "16x"},         {StationField::kPort, "-1"},
  };
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  int stored = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const bool address = c.field == StationField::kAddress;
    std::string expected = FirstStationMessage(
        address ? FieldKind::kTrapForwIpAddr : FieldKind::kTrapForwPort, c.text);
    const std::string first = "Forward Traps To";
    ASSERT_EQ(expected.find(first), std::string("Tervix: ").size()) << expected;
    expected.replace(expected.find(first), first.size(), "Further Station");

    StationFields bad{"192.0.2.7", "1162", false, "", true};
    (address ? bad.address : bad.port) = c.text;
    StationFields good = bad;
    (address ? good.address : good.port) = address ? "192.0.2.7" : "1162";
    dialogs_.verdicts.clear();
    dialogs_.station_tries.push_back({bad, good});
    model_->stations().cmdStationAdd_Click();
    ASSERT_EQ(dialogs_.verdicts.size(), 2u);
    EXPECT_FALSE(dialogs_.verdicts[0].close);
    EXPECT_EQ(dialogs_.verdicts[0].focus, c.field);
    EXPECT_TRUE(dialogs_.verdicts[1].close);
    const std::vector<std::string> messages = dialogs_.TakeMessages();
    ASSERT_EQ(messages.size(), 2u);  // the dialog shown, the refusal
    EXPECT_EQ(messages[1], expected);
    ++stored;
    EXPECT_EQ(Stations().size(), static_cast<size_t>(stored));
    // Room for the next case.
    model_->stations().Select(0);
    dialogs_.answers.push_back(true);
    model_->stations().cmdStationRemove_Click();
    --stored;
    dialogs_.TakeMessages();
  }
}

// Add, Edit and Remove each write their row at once; an edit writes only what the user
// changed, so a value stored by other means is kept; "No" keeps the station.
TEST_F(StationsModelTest, ChangesAreStoredAtOnce) {
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  StationList& stations = model_->stations();
  dialogs_.station_tries.push_back({{"192.0.2.20", "1162", true, "ops", false}});
  stations.cmdStationAdd_Click();
  EXPECT_EQ(dialogs_.TakeMessages(), std::vector<std::string>{"Add Further Station: :162"});
  std::vector<store::StationRow> rows = Stations();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].address, store::Value("192.0.2.20"));
  EXPECT_EQ(rows[0].port, store::Value(1162));
  EXPECT_EQ(rows[0].conv_v2_to_v1, store::Value(1));
  EXPECT_EQ(rows[0].community, store::Value("ops"));
  EXPECT_EQ(rows[0].enabled, store::Value(0));
  EXPECT_EQ(stations.entries(),
            std::vector<std::string>{"192.0.2.20:1162  SNMPv1  community \"ops\"  (disabled)"});
  EXPECT_EQ(stations.selected(), 0);

  ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", "UPDATE ForwardTarget SET Port = 'p1162'"), SQLITE_OK);
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));  // reads the list again
  ASSERT_EQ(stations.selected(), 0);
  dialogs_.station_tries.push_back({{"192.0.2.20", "p1162", true, "", true}});
  stations.cmdStationEdit_Click();
  EXPECT_EQ(dialogs_.TakeMessages(),
            std::vector<std::string>{
                "Edit Further Station: 192.0.2.20:p1162  SNMPv1  community \"ops\"  (disabled)"});
  rows = Stations();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].port, store::Value("p1162"));
  EXPECT_EQ(rows[0].community, store::Value(""));
  EXPECT_EQ(rows[0].enabled, store::Value(1));
  EXPECT_EQ(stations.entries(), std::vector<std::string>{"192.0.2.20:p1162  SNMPv1"});

  dialogs_.answers = {false, true};
  stations.cmdStationRemove_Click();
  EXPECT_EQ(Stations().size(), 1u);
  stations.cmdStationRemove_Click();
  EXPECT_TRUE(Stations().empty());
  EXPECT_TRUE(stations.entries().empty());
  EXPECT_FALSE(stations.can_change());
  // A cancelled dialog stores nothing.
  stations.cmdStationAdd_Click();
  EXPECT_TRUE(Stations().empty());
}

// Addresses of both families in the first station's and the receive fields and in the dialog:
// IPv6 text is stored in its RFC 5952 form and IPv4 text as typed; "::" receives on every
// address but names no station; a zone ID is refused in the shared words. A station's entry
// brackets an IPv6 address.
TEST_F(StationsModelTest, AddressesOfBothFamilies) {
  struct Case {
    FieldKind field;
    const char* typed;
    const char* stored;  // nullptr: refused with `refusal`
    const char* refusal;
  };
  const Case cases[] = {
      {FieldKind::kTrapRecvIpAddr, "::", "::", nullptr},
      {FieldKind::kTrapRecvIpAddr, "0:0::1", "::1", nullptr},
      {FieldKind::kTrapRecvIpAddr, "::FFFF:192.0.2.7", "::ffff:192.0.2.7", nullptr},
      {FieldKind::kTrapForwIpAddr, "2001:DB8:0:0:0:0:0:7", "2001:db8::7", nullptr},
      {FieldKind::kTrapForwIpAddr, "192.0.2.10", "192.0.2.10", nullptr},
      {FieldKind::kTrapForwIpAddr, "::", nullptr,
       "Tervix: Forward Traps To, IP Address: \"::\" means every address (0.0.0.0 or ::), not "
       "one that traps can be sent to."},
      // The store's words for a zone ID.
      {FieldKind::kTrapRecvIpAddr, "fe80::1%eth0", nullptr,
       "Tervix: Receive Traps On, IP Address: \"fe80::1%eth0\" has a zone ID (%...); zone IDs "
       "are not supported: give the address alone."},
  };
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const char* column =
        c.field == FieldKind::kTrapRecvIpAddr ? "TrapRecvIpAddr" : "TrapForwIpAddr";
    const std::string before = Settings().ByName(column).AsText();
    Type({c.field}, c.typed);
    EXPECT_EQ(model_->tab1_Click(kPageTraps), c.stored != nullptr);
    EXPECT_EQ(Settings().ByName(column).AsText(), c.stored != nullptr ? c.stored : before);
    if (c.stored == nullptr) {
      EXPECT_EQ(dialogs_.TakeMessages(), std::vector<std::string>{c.refusal});
      Type({c.field}, before);
    }
    ASSERT_TRUE(model_->tab1_Click(kPageGeneral));
  }
  EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages[0];

  dialogs_.station_tries.push_back(
      {{"fe80::7%eth0", "162", false, "", true}, {"2001:DB8::0:20", "162", false, "", true}});
  model_->stations().cmdStationAdd_Click();
  EXPECT_EQ(dialogs_.TakeMessages(),
            (std::vector<std::string>{"Add Further Station: :162",
                                      "Tervix: Further Station, IP Address: \"fe80::7%eth0\" has a "
                                      "zone ID (%...); zone IDs are not supported: give the "
                                      "address alone."}));
  ASSERT_EQ(Stations().size(), 1u);
  EXPECT_EQ(Stations()[0].address, store::Value("2001:db8::20"));
  EXPECT_EQ(model_->stations().entries(), std::vector<std::string>{"[2001:db8::20]:162"});
}

// Fifteen further stations are the most: "Add..." is then of no use, and an add that another
// program's add overtook is refused and the list shows the fifteen.
TEST_F(StationsModelTest, FifteenFurtherStationsAtMost) {
  ASSERT_NO_FATAL_FAILURE(AddDirectly(store::kMaxFurtherStations - 1));
  ASSERT_NO_FATAL_FAILURE(OpenModel());
  StationList& stations = model_->stations();
  EXPECT_TRUE(stations.can_add());
  ASSERT_NO_FATAL_FAILURE(AddDirectly(1));
  dialogs_.station_tries.push_back({{"192.0.2.30", "162", false, "", true}});
  stations.cmdStationAdd_Click();
  const std::vector<std::string> messages = dialogs_.TakeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].rfind("Tervix: No further station can be added", 0), 0u) << messages[1];
  EXPECT_EQ(stations.size(), store::kMaxFurtherStations);
  EXPECT_FALSE(stations.can_add());
  stations.cmdStationAdd_Click();
  EXPECT_TRUE(dialogs_.TakeMessages().empty());  // no dialog
  EXPECT_EQ(Stations().size(), static_cast<size_t>(store::kMaxFurtherStations));
}

// A station that another program removed after the list was read: editing or removing it says
// so by its address, and the list shows what is stored.
TEST_F(StationsModelTest, AStationRemovedMeanwhileIsReported) {
  for (const bool edit : {true, false}) {
    SCOPED_TRACE(edit ? "edit" : "remove");
    ASSERT_NO_FATAL_FAILURE(AddDirectly(2));
    ASSERT_NO_FATAL_FAILURE(OpenModel());
    StationList& stations = model_->stations();
    stations.Select(1);
    ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", "DELETE FROM ForwardTarget WHERE Port = 2001"),
              SQLITE_OK);
    dialogs_.station_tries.push_back({{"192.0.2.1", "3001", false, "", true}});
    dialogs_.answers.push_back(true);
    if (edit) {
      stations.cmdStationEdit_Click();
    } else {
      stations.cmdStationRemove_Click();
    }
    const std::vector<std::string> messages = dialogs_.TakeMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(),
              "Tervix: The further station 192.0.2.1:2001 is no longer stored: another program "
              "removed it meanwhile. The list now shows the stations as they are stored.");
    EXPECT_EQ(stations.entries(), std::vector<std::string>{"192.0.2.1:2000"});
    EXPECT_EQ(Stations().size(), 1u);
    ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", "DELETE FROM ForwardTarget"), SQLITE_OK);
  }
}

// The counters as the service writes them, with its stamps in local time; before its first
// write the page says so.
TEST_F(StationsModelTest, CountersAreShownAsWritten) {
  const char* tz = std::getenv("TZ");
  const std::optional<std::string> saved = tz ? std::optional<std::string>(tz) : std::nullopt;
  setenv("TZ", "XYZ-2", 1);  // two hours east of UTC
  tzset();
  CountersView view(folder_);
  view.Refresh();
  EXPECT_EQ(view.written(), kNoCountersYet);
  EXPECT_TRUE(view.lines().empty());
  {
    Result<store::StatisticsWriter> writer = store::StatisticsWriter::Open(folder_);
    ASSERT_TRUE(writer.ok()) << writer.status().ToString();
    const store::Counter counters[] = {{"datagrams_received", "", 12},
                                       {"station_traps_sent", "192.0.2.20:1162", 9}};
    ASSERT_TRUE(writer->Write(counters, "2026-12-08T21:00:00Z", "2026-12-08T22:51:48Z").ok());
  }
  view.Refresh();
  EXPECT_EQ(view.lines(),
            (std::vector<CounterLine>{{"datagrams_received", "", "12"},
                                      {"station_traps_sent", "192.0.2.20:1162", "9"}}));
  EXPECT_EQ(view.written(),
            "Written 2026-12-09 00:51:48, counting since the service started 2026-12-08 "
            "23:00:00.");
  EXPECT_EQ(LocalStamp("yesterday"), "yesterday");
  if (saved) {
    setenv("TZ", saved->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// A file of a newer schema is refused with the store's words, and left as it is.
TEST_F(StationsModelTest, ANewerSchemaIsRefused) {
  ASSERT_EQ(RunSql(folder_ + "/Tervix.mdb", "PRAGMA user_version = 9"), SQLITE_OK);
  for (const bool read_only : {false, true}) {
    Result<std::unique_ptr<TervixModel>> model = TervixModel::Open(folder_, dialogs_, read_only);
    ASSERT_FALSE(model.ok());
    EXPECT_EQ(model.status().error(), kErrorNewerSchema);
    EXPECT_NE(model.status().description().find(
                  "Tervix.mdb has schema version 9; this program reads versions 0 to 4"),
              std::string::npos)
        << model.status().description();
  }
}

}  // namespace
}  // namespace tervane::config::testing
