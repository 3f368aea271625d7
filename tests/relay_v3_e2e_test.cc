// TervixSrv receiving SNMPv3 end to end, with net-snmp's snmptrap and snmpinform as the
// devices: every authentication protocol with every privacy protocol, and noAuthNoPriv, as
// traps from a device's engine and as informs that discover this relay's engine; the messages
// that the security checks drop, each by its counter and by its trap not arriving; an inform
// with stale boots, which the relay's notInTimeWindow Report puts right; and the records of
// SNMPv3 traps and informs.
//
// Every tool run has a persistent directory of its own, so that runs in parallel share no
// file and no run depends on net-snmp state left on the machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "service/relay/counters.h"
#include "service/snmp/usm.h"
#include "service/snmp/usm_crypto.h"
#include "store/store.h"
#include "store/v3_users.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::usm::Auth;
using snmp::usm::Priv;

constexpr char kTrapOid[] = "1.3.6.1.4.1.32473.98.0.1";
// The binding that tells the messages apart at the sink.
constexpr char kMarkerOid[] = "1.3.6.1.4.1.32473.98.1.0";
constexpr char kUptime[] = "987";
// Tool runs at a time, and how long all the runs of one batch may take.
constexpr size_t kParallelRuns = 6;
constexpr auto kBatchTime = std::chrono::seconds(45);
// The time between the starts of two informs. Each inform's discovery asks for a Report, and
// the relay sends at most kReportsPerSecond of them in a second; starting half as many informs
// a second keeps every discovery answered even where two seconds' informs meet in one.
constexpr auto kInformSpacing = std::chrono::milliseconds(2000 / snmp::usm::kReportsPerSecond);

// A device's engine ID: net-snmp's enterprise, format 128 (its own octets), then octets of
// ours; `n` tells the devices apart.
std::string DeviceEngine(int n) {
  char hex[32];
  std::snprintf(hex, sizeof hex, "80001f8880c0ffee%02x", n & 0xff);
  return hex;
}

std::string LevelOf(Auth auth, Priv priv) {
  if (priv != Priv::kNone) return "authPriv";
  return auth != Auth::kNone ? "authNoPriv" : "noAuthNoPriv";
}

// A user as the relay is told of it and as the tool sends for it; the passwords follow from
// the name, so that no two users share a key.
struct V3Sender {
  std::string user;
  Auth auth = Auth::kNone;
  Priv priv = Priv::kNone;
  std::string AuthPassword() const { return "auth:" + user; }
  std::string PrivPassword() const { return "priv:" + user; }
};

// How one message departs from what its user is configured with.
struct Attempt {
  std::string level;          // -l, when not the user's own level
  std::string auth_password;  // -A, when not the user's
  std::string priv_password;  // -X, when not the user's
  std::string engine;         // -e: the device's engine ID; none for an inform that discovers
  std::string boots_time;     // -Z BOOTS,TIME
  bool arrives = false;

  Attempt& AtLevel(std::string v) {
    level = std::move(v);
    return *this;
  }
  Attempt& WithAuthPassword(std::string v) {
    auth_password = std::move(v);
    return *this;
  }
  Attempt& WithPrivPassword(std::string v) {
    priv_password = std::move(v);
    return *this;
  }
  Attempt& FromEngine(std::string v) {
    engine = std::move(v);
    return *this;
  }
  Attempt& WithBootsTime(std::string v) {
    boots_time = std::move(v);
    return *this;
  }
  Attempt& Arrives() {
    arrives = true;
    return *this;
  }
};

struct ToolRun {
  bool inform = false;
  std::vector<std::string> args;  // after the tool's name
  std::string marker;
  std::optional<int> code;
  std::string output;
};

class V3RelayTest : public RelayTest {
 protected:
  // Adds the users of `senders` to the relay's users, each bound to the engine ID (hex) at
  // the same index of `engines` where there is one and it is not empty.
  void AddUsers(const std::vector<V3Sender>& senders,
                const std::vector<std::string>& engines = {}) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    for (size_t i = 0; i < senders.size(); ++i) {
      const V3Sender& sender = senders[i];
      store::V3User user;
      user.name = sender.user;
      user.auth = sender.auth;
      user.priv = sender.priv;
      if (sender.auth != Auth::kNone) {
        user.auth_key = snmp::usm::PasswordToKey(sender.auth, sender.AuthPassword());
      }
      if (sender.priv != Priv::kNone) {
        user.priv_key = snmp::usm::PasswordToKey(sender.auth, sender.PrivPassword());
      }
      if (i < engines.size() && !engines[i].empty()) {
        Result<std::vector<uint8_t>> id = store::CheckEngineIdText(engines[i], false, "engine");
        ASSERT_TRUE(id.ok()) << id.status().ToString();
        user.engine_id = *id;
      }
      const Status set = db->SetV3User(user);
      ASSERT_TRUE(set.ok()) << set.ToString();
    }
  }

  // The tool run that sends `sender`'s message `send` with the binding `marker`.
  ToolRun Run(const V3Sender& sender, const Attempt& send, bool inform,
              const std::string& marker) const {
    ToolRun run;
    run.inform = inform;
    run.marker = marker;
    const std::string level = send.level.empty() ? LevelOf(sender.auth, sender.priv) : send.level;
    run.args = {"-v", "3", "-u", sender.user, "-l", level};
    if (level != "noAuthNoPriv") {
      run.args.insert(run.args.end(),
                      {"-a", std::string(snmp::usm::AuthName(sender.auth)), "-A",
                       send.auth_password.empty() ? sender.AuthPassword() : send.auth_password});
    }
    if (level == "authPriv") {
      run.args.insert(run.args.end(),
                      {"-x", std::string(snmp::usm::PrivName(sender.priv)), "-X",
                       send.priv_password.empty() ? sender.PrivPassword() : send.priv_password});
    }
    if (!send.engine.empty()) run.args.insert(run.args.end(), {"-e", send.engine});
    if (!send.boots_time.empty()) run.args.insert(run.args.end(), {"-Z", send.boots_time});
    // A time-out long enough that a slow build of the relay never makes snmpinform send the
    // inform again, which would relay it twice.
    if (inform) run.args.insert(run.args.end(), {"-r", "2", "-t", "5"});
    run.args.insert(run.args.end(), {Target(), kUptime, kTrapOid, kMarkerOid, "s", marker});
    return run;
  }

  // Runs every one of `runs`, kParallelRuns at a time and informs kInformSpacing apart (the
  // traps go on meanwhile), pumping the sink and the service, until all have ended or
  // kBatchTime has passed (the destructors kill the rest).
  void RunAll(std::vector<ToolRun>& runs) {
    std::vector<std::unique_ptr<Subprocess>> children(runs.size());
    size_t ended = 0;
    size_t running = 0;
    const Clock::time_point deadline = Clock::now() + kBatchTime;
    Clock::time_point next_inform = Clock::now();
    while (ended < runs.size() && Clock::now() < deadline) {
      for (size_t i = 0; i < runs.size() && running < kParallelRuns; ++i) {
        if (children[i]) continue;
        if (runs[i].inform) {
          if (Clock::now() < next_inform) continue;
          next_inform = Clock::now() + kInformSpacing;
        }
        // A persistent directory of its own: net-snmp rewrites its files there at exit.
        const std::filesystem::path persist = dir_.path() / ("persist-" + std::to_string(i));
        std::filesystem::create_directories(persist);
        std::vector<std::string> env = Env();
        for (std::string& entry : env) {
          if (entry.starts_with("SNMP_PERSISTENT_DIR=")) {
            entry = "SNMP_PERSISTENT_DIR=" + persist.string();
          }
        }
        std::vector<std::string> argv = {runs[i].inform ? snmpinform_ : snmptrap_};
        argv.insert(argv.end(), runs[i].args.begin(), runs[i].args.end());
        std::string error;
        children[i] = Subprocess::Spawn(argv, env, &error);
        ASSERT_NE(children[i], nullptr) << error;
        ++running;
      }
      loop_.RunOnce(5);
      relay_->Drain();
      for (size_t i = 0; i < runs.size(); ++i) {
        if (!children[i] || runs[i].code) continue;
        children[i]->Drain();
        runs[i].code = children[i]->TryExit();
        if (runs[i].code) {
          --running;
          ++ended;
        }
      }
    }
    for (size_t i = 0; i < runs.size(); ++i) {
      if (children[i]) runs[i].output = children[i]->output();
      EXPECT_TRUE(runs[i].code.has_value()) << "did not end in time: " << runs[i].marker;
    }
  }

  // The markers that have arrived at the sink, each with how often, after a flush; every
  // message must be an SNMPv2c trap in the community "public" with the sysUpTime.0 and the
  // trap OID that were sent.
  std::map<std::string, int> ArrivedMarkers() {
    std::map<std::string, int> markers;
    const std::optional<std::vector<Received>> got = Flush();
    if (!got) return markers;
    for (const Received& r : *got) {
      const Message& m = r.message;
      EXPECT_EQ(m.kind, snmp::kKindTrapV2);
      EXPECT_EQ(m.community, "public");
      EXPECT_EQ(TrapOidOf(m), kTrapOid);
      EXPECT_EQ(m.variables.size(), 3u);
      if (m.variables.size() != 3) continue;
      EXPECT_EQ(m.variables[0], (Variable{snmp::kSysUpTime, snmp::kTypeTimeTicks, kUptime}));
      EXPECT_EQ(m.variables[2].oid, kMarkerOid);
      ++markers[m.variables[2].value];
    }
    return markers;
  }
};

// Expects each counter of the security checks to read what `expected` says, 0 where it says
// nothing; those `ignored` may read anything.
void ExpectSecurityCounters(std::map<std::string, int64_t> counters,
                            const std::map<std::string, int64_t>& expected,
                            const std::vector<std::string>& ignored = {}) {
  for (const std::string name : relay::kSecurityDropNames) {
    if (std::find(ignored.begin(), ignored.end(), name) != ignored.end()) continue;
    const auto named = expected.find(name);
    EXPECT_EQ(counters[name + "/"], named == expected.end() ? 0 : named->second) << name;
  }
  // What the security counts is not counted again as malformed.
  EXPECT_EQ(counters["traps_dropped/malformed_datagram"], 0);
}

// Every authentication protocol with every privacy protocol, and noAuthNoPriv, as a trap
// from a device's engine and as an inform that discovers the relay's engine: each arrives
// once, and each inform is answered with a Response that net-snmp takes as authentic and
// decrypts, or snmpinform would not exit 0.
TEST_F(V3RelayTest, EveryAuthenticationWithEveryPrivacyAsTrapAndInform) {
  ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
  std::vector<V3Sender> senders = {{"noAuthNoPriv", Auth::kNone, Priv::kNone}};
  for (const Auth auth :
       {Auth::kMd5, Auth::kSha1, Auth::kSha224, Auth::kSha256, Auth::kSha384, Auth::kSha512}) {
    for (const Priv priv : {Priv::kNone, Priv::kDes, Priv::kAes128, Priv::kAes192, Priv::kAes256,
                            Priv::kAes192C, Priv::kAes256C}) {
      const std::string priv_name =
          priv == Priv::kNone ? std::string("none") : std::string(snmp::usm::PrivName(priv));
      senders.push_back({std::string(snmp::usm::AuthName(auth)) + "_" + priv_name, auth, priv});
    }
  }
  ASSERT_EQ(senders.size(), 43u);
  ASSERT_NO_FATAL_FAILURE(AddUsers(senders));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  std::vector<ToolRun> runs;
  for (const V3Sender& sender : senders) {
    runs.push_back(
        Run(sender, Attempt().FromEngine(DeviceEngine(1)), false, "trap " + sender.user));
    runs.push_back(Run(sender, Attempt(), true, "inform " + sender.user));
  }
  ASSERT_NO_FATAL_FAILURE(RunAll(runs));
  for (const ToolRun& run : runs) EXPECT_EQ(run.code, 0) << run.marker << ":\n" << run.output;
  std::map<std::string, int> arrived = ArrivedMarkers();
  for (const ToolRun& run : runs) {
    EXPECT_EQ(arrived[run.marker], 1) << run.marker;
  }
  EXPECT_EQ(arrived.size(), runs.size());

  ASSERT_NO_FATAL_FAILURE(StopRelay());
  std::map<std::string, int64_t> counters = Counters();
  EXPECT_EQ(counters["snmpv3_traps_received/"], 43);
  EXPECT_EQ(counters["snmpv3_informs_received/"], 43);
  EXPECT_EQ(counters["informs_answered/"], 43);
  // Each inform discovers the engine first, once; the discovery's Report carries the boots and
  // time too, so no inform is late. Nothing else is dropped.
  ExpectSecurityCounters(counters, {{"usm_stats_unknown_engine_ids", 43}});
}

// One case of a message that the security checks drop: the user as configured (none when
// `configured` is false), the messages sent in turn, and the counter that the drop counts in.
struct DropCase {
  V3Sender sender;
  bool configured = true;
  std::string bound_engine;  // the configured user's engine ID; empty: any engine
  std::vector<Attempt> sends;
  std::string counter;
};

// Each message that the security checks must drop is counted by its reason and goes nowhere,
// while the message before it from the same user, where there is one, goes on. snmptrap
// exits 0 either way.
TEST_F(V3RelayTest, MessagesThatFailTheSecurityChecksAreCountedAndDropped) {
  const std::vector<DropCase> cases = {
      {{"wrong-password", Auth::kSha1, Priv::kAes128},
       true,
       "",
       {Attempt().WithAuthPassword("not the password")},
       "usm_stats_wrong_digests"},
      {{"unknown", Auth::kSha1, Priv::kNone},
       false,
       "",
       {Attempt()},
       "usm_stats_unknown_user_names"},
      {{"bound", Auth::kSha256, Priv::kNone},
       true,
       DeviceEngine(100),
       {Attempt().FromEngine(DeviceEngine(100)).Arrives(), Attempt()},
       "usm_stats_unknown_user_names"},
      {{"level-too-low", Auth::kSha1, Priv::kAes128},
       true,
       "",
       {Attempt().AtLevel("authNoPriv")},
       "usm_stats_unsupported_sec_levels"},
      {{"lower-boots", Auth::kSha1, Priv::kNone},
       true,
       "",
       {Attempt().WithBootsTime("5,100").Arrives(), Attempt().WithBootsTime("4,100")},
       "usm_stats_not_in_time_windows"},
      {{"outside-window", Auth::kMd5, Priv::kNone},
       true,
       "",
       {Attempt().WithBootsTime("7,1000").Arrives(), Attempt().WithBootsTime("7,100")},
       "usm_stats_not_in_time_windows"},
      {{"wrong-privacy", Auth::kSha1, Priv::kAes128},
       true,
       "",
       {Attempt().WithPrivPassword("not the password")},
       "usm_stats_decryption_errors"},
  };
  ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
  std::vector<V3Sender> users;
  std::vector<std::string> engines;
  for (const DropCase& c : cases) {
    if (!c.configured) continue;
    users.push_back(c.sender);
    engines.push_back(c.bound_engine);
  }
  ASSERT_NO_FATAL_FAILURE(AddUsers(users, engines));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  // The n-th messages of all cases at once, each case from a device engine of its own.
  std::vector<ToolRun> all;
  std::map<std::string, int64_t> expected;
  int64_t arriving = 0;
  for (size_t n = 0; n < 2; ++n) {
    std::vector<ToolRun> runs;
    for (size_t i = 0; i < cases.size(); ++i) {
      if (n >= cases[i].sends.size()) continue;
      Attempt send = cases[i].sends[n];
      if (send.engine.empty()) send.engine = DeviceEngine(static_cast<int>(i) + 1);
      runs.push_back(
          Run(cases[i].sender, send, false, cases[i].sender.user + " " + std::to_string(n + 1)));
      if (send.arrives) {
        ++arriving;
      } else {
        ++expected[cases[i].counter];
      }
    }
    ASSERT_NO_FATAL_FAILURE(RunAll(runs));
    all.insert(all.end(), runs.begin(), runs.end());
  }
  for (const ToolRun& run : all) EXPECT_EQ(run.code, 0) << run.marker << ":\n" << run.output;
  std::map<std::string, int> arrived = ArrivedMarkers();
  for (const DropCase& c : cases) {
    for (size_t n = 0; n < c.sends.size(); ++n) {
      const std::string marker = c.sender.user + " " + std::to_string(n + 1);
      EXPECT_EQ(arrived[marker], c.sends[n].arrives ? 1 : 0) << marker;
    }
  }

  ASSERT_NO_FATAL_FAILURE(StopRelay());
  const std::map<std::string, int64_t> counters = Counters();
  EXPECT_EQ(counters.at("snmpv3_traps_received/"), arriving);
  ExpectSecurityCounters(counters, expected);
  // The first drop of each reason is logged, naming a user dropped for that reason.
  const std::vector<std::string> events = Events();
  for (size_t i = 0; i < relay::kSecurityDropNames.size(); ++i) {
    if (!expected.contains(relay::kSecurityDropNames[i])) continue;
    const std::string why =
        "\": " + std::string(snmp::usm::DropText(static_cast<snmp::usm::Drop>(i))) + ".";
    bool named = false;
    for (const DropCase& c : cases) {
      if (c.counter != relay::kSecurityDropNames[i]) continue;
      for (const std::string& event : events) {
        named = named || event.find("for the user \"" + c.sender.user + why) != std::string::npos;
      }
    }
    EXPECT_TRUE(named) << relay::kSecurityDropNames[i] << ":\n" << relay_->output();
  }
}

// An inform with boots older than the relay's (a device that has not heard of its restart):
// the relay answers with a notInTimeWindow Report, net-snmp takes its boots and time and sends
// the inform again, and it goes on. With DebugMode on, the Trap In records of an SNMPv3 inform
// and trap say so and name the user.
TEST_F(V3RelayTest, StaleInformIsPutRightByTheReportAndRecordsNameTheUser) {
  RelayConfig config;
  config.debug = true;
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  const V3Sender sender = {"router", Auth::kSha256, Priv::kAes128};
  ASSERT_NO_FATAL_FAILURE(AddUsers({sender}));
  std::string engine_id;
  {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    // Earlier starts, so that the boots of this start are above 1.
    for (int n = 0; n < 4; ++n) ASSERT_TRUE(db->NextEngineBoots().ok());
    Result<store::EngineState> engine = db->ReadEngine();
    ASSERT_TRUE(engine.ok()) << engine.status().ToString();
    for (const uint8_t octet : engine->id) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", octet);
      engine_id += hex;
    }
  }
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  {
    Result<store::Store> db = store::Store::Open(folder_.string(), store::Access::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    Result<store::EngineState> engine = db->ReadEngine();
    ASSERT_TRUE(engine.ok()) << engine.status().ToString();
    ASSERT_GT(engine->boots, 1u) << "boots 1 would not be stale";
  }
  std::vector<ToolRun> runs = {
      Run(sender, Attempt().FromEngine(engine_id).WithBootsTime("1,1"), true, "stale inform"),
      Run(sender, Attempt().FromEngine(DeviceEngine(1)), false, "trap")};
  ASSERT_NO_FATAL_FAILURE(RunAll(runs));
  for (const ToolRun& run : runs) EXPECT_EQ(run.code, 0) << run.marker << ":\n" << run.output;
  std::map<std::string, int> arrived = ArrivedMarkers();
  EXPECT_EQ(arrived["stale inform"], 1);
  EXPECT_EQ(arrived["trap"], 1);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  std::map<std::string, int64_t> counters = Counters();
  // One Report: the inform sent again carries the boots and time that it gave.
  ExpectSecurityCounters(counters, {{"usm_stats_not_in_time_windows", 1}});
  EXPECT_EQ(counters["snmpv3_informs_received/"], 1);
  EXPECT_EQ(counters["snmpv3_traps_received/"], 1);

  const std::vector<std::string> lines = FileLines("Debug.txt");
  for (const ToolRun& run : runs) {
    SCOPED_TRACE(run.marker);
    // The Trap In record of that message, whichever came first.
    std::optional<std::vector<std::string>> in;
    for (int nth = 0; nth < 2 && !in; ++nth) {
      in = Record(lines, kTrapInHeader, nth);
      if (in &&
          std::find(in->begin(), in->end(), "TrapVarList.varValue(1)=" + run.marker) == in->end()) {
        in.reset();
      }
    }
    ASSERT_TRUE(in.has_value()) << Escaped(ReadProgramFile("Debug.txt").value_or(""));
    std::vector<std::string> expected = ExpectedDump(
        kTrapInHeader,
        {run.inform ? "SNMPv3Inform" : "SNMPv3Trap", kTrapOid, "0.0.0.0", "127.0.0.1", "", kUptime},
        {{kMarkerOid, snmp::kTypeDisplayString, run.marker}});
    // An SNMPv3 message has no community to show; the user's line follows that line.
    expected.insert(expected.begin() + 6, "TrapUserName=" + sender.user);
    EXPECT_TRUE(LinesMatch(*in, expected));
  }
}

}  // namespace
}  // namespace tervane::testing
