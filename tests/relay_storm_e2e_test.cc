// Storm control end to end: TervixSrv with the option StormControl on and StormRule rows
// holds back a burst of one kind of trap beyond its rule's burst, answers every inform all
// the same, sends the last one held back when the storm is over, and reports it in its events
// and counters.
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "store/storm_rules.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

constexpr char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
constexpr char kIfIndex[] = "1.3.6.1.2.1.2.2.1.1.";
constexpr char kSequenceOid[] = "1.3.6.1.4.1.32473.97.1";
// A rule of its own, slow enough that its storm outlasts the test.
constexpr char kSlowPrefix[] = "1.3.6.1.4.1.32473.7";
constexpr char kSlowTrap[] = "1.3.6.1.4.1.32473.7.0.1";

// linkDown of ifIndex `index`, numbered `n` by a binding after it.
Message LinkDown(int index, int n) {
  return V2Trap(kLinkDown,
                {{kIfIndex + std::to_string(index), snmp::kTypeInteger32, std::to_string(index)},
                 {kSequenceOid, snmp::kTypeInteger32, std::to_string(n)}});
}

// The number a relayed LinkDown carries, or -1.
int SequenceOf(const Message& m) {
  for (const snmp::Variable& v : m.variables) {
    if (v.oid == kSequenceOid) return std::stoi(v.value);
  }
  return -1;
}

class StormTest : public RelayTest {
 protected:
  // Configures the relay with storm control on and `rules` in place of the default one.
  void ConfigureStorms(const std::vector<store::StormRule>& rules) {
    ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const Status on = db->WriteRelayOption(store::kOptionStormControl, "1");
    ASSERT_TRUE(on.ok()) << on.ToString();
    for (const store::StormRule& rule : rules) {
      const Status set = db->SetStormRule(rule);
      ASSERT_TRUE(set.ok()) << set.ToString();
    }
  }

  // Sends `messages` while the service is stopped, so that it takes them in one go.
  void Burst(const std::vector<Message>& messages) {
    ASSERT_EQ(kill(relay_->pid(), SIGSTOP), 0);
    for (const Message& m : messages) ASSERT_NO_FATAL_FAILURE(Send(m));
    ASSERT_EQ(kill(relay_->pid(), SIGCONT), 0);
  }
};

store::StormRule Rule(std::string prefix, uint32_t per_minute, uint32_t burst) {
  store::StormRule rule;
  rule.prefix = std::move(prefix);
  rule.per_minute = per_minute;
  rule.burst = burst;
  return rule;
}

TEST_F(StormTest, HoldsBackABurstAnswersInformsAndSendsTheLastOneWhenItEnds) {
  // Three at once, then one every half second; the slow rule one a minute.
  ASSERT_NO_FATAL_FAILURE(ConfigureStorms({Rule("", 120, 3), Rule(kSlowPrefix, 1, 1)}));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  std::vector<Message> burst;
  burst.reserve(11);
  for (int n = 0; n < 8; ++n) burst.push_back(LinkDown(7, n));
  for (int n = 0; n < 3; ++n)
    burst.push_back(V2Trap(kSlowTrap, {{kIfIndex + std::string("1"), snmp::kTypeInteger32, "1"}}));
  ASSERT_NO_FATAL_FAILURE(Burst(burst));
  // Informs of the same kind are answered, and held back too.
  for (int n = 8; n < 11; ++n) {
    Message inform = LinkDown(7, n);
    inform.kind = snmp::kKindInform;
    inform.request_id = 100 + n;
    const std::optional<Message> answer = Inform(inform);
    ASSERT_TRUE(answer.has_value()) << "inform " << n << " not answered";
    EXPECT_EQ(answer->kind, snmp::kKindResponse);
    EXPECT_EQ(answer->request_id, 100 + n);
  }
  // Another interface's linkDown is another kind of trap.
  ASSERT_NO_FATAL_FAILURE(Send(LinkDown(8, 50)));

  std::optional<std::vector<Received>> before = Flush();
  ASSERT_TRUE(before.has_value());
  std::vector<int> sequence7;
  std::vector<int> sequence8;
  int slow = 0;
  for (const Received& r : *before) {
    if (TrapOidOf(r.message) == kSlowTrap) {
      ++slow;
      continue;
    }
    ASSERT_EQ(TrapOidOf(r.message), kLinkDown);
    const bool seven =
        std::any_of(r.message.variables.begin(), r.message.variables.end(),
                    [](const snmp::Variable& v) { return v.oid == kIfIndex + std::string("7"); });
    (seven ? sequence7 : sequence8).push_back(SequenceOf(r.message));
  }
  EXPECT_EQ(sequence7, (std::vector<int>{0, 1, 2})) << "the burst only";
  EXPECT_EQ(sequence8, std::vector<int>{50});
  EXPECT_EQ(slow, 1);

  // Once the bucket is full again the last one held back, the third inform, goes on.
  std::vector<Received> last = Receive(1);
  ASSERT_EQ(last.size(), 1u) << relay_->output();
  EXPECT_EQ(TrapOidOf(last[0].message), kLinkDown);
  EXPECT_EQ(SequenceOf(last[0].message), 10);
  ASSERT_TRUE(
      WaitLogged("Tervane: information 107: Trap storm ended: 1.3.6.1.6.3.1.1.5.3 from "
                 "127.0.0.1, 8 traps held back in all; the last one was sent on\n"))
      << relay_->output();
  received_.clear();
  before = Flush();
  ASSERT_TRUE(before.has_value());
  EXPECT_TRUE(before->empty()) << "sent once only";

  received_.clear();
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  // The slow storm lasts until the stop, which ends it: its last trap goes on.
  EXPECT_TRUE(
      Logged("Tervane: information 107: Trap storm ended: 1.3.6.1.4.1.32473.7.0.1 from "
             "127.0.0.1, 2 traps held back in all; the last one was sent on\n"))
      << relay_->output();
  last = Receive(1);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(TrapOidOf(last[0].message), kSlowTrap);
  Result<store::Store> db = store::Store::Open(folder_.string());
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  Result<std::vector<store::StatisticRow>> rows = db->ReadStatistics();
  ASSERT_TRUE(rows.ok()) << rows.status().ToString();
  std::vector<std::pair<std::string, int64_t>> held;
  for (const store::StatisticRow& row : *rows) {
    if (row.name == "traps_held_back") held.emplace_back(row.label, row.value);
  }
  EXPECT_EQ(held, (std::vector<std::pair<std::string, int64_t>>{{"default", 8}, {kSlowPrefix, 2}}));
}

// A rule that cannot work ends the start as any bad setting does, naming it; with storm
// control off the rules are not read at all.
TEST_F(StormTest, ABadRuleEndsTheStartOnlyWithStormControlOn) {
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "on" : "off");
    ASSERT_NO_FATAL_FAILURE(ConfigureStorms({}));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "Tervix.mdb").c_str(), &db), SQLITE_OK);
    const std::string sql =
        std::string(
            "INSERT INTO StormRule (OidPrefix, PerMinute, Burst, Enabled) VALUES "
            "('1.3.6.1.4.1.9', 2000000, 5, 1); UPDATE RelayOption SET Value = '") +
        (on ? "1" : "0") + "' WHERE Name = 'StormControl';";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    if (!on) {
      ASSERT_NO_FATAL_FAILURE(StartRelay());
      ASSERT_NO_FATAL_FAILURE(StopRelay());
      continue;
    }
    ASSERT_NO_FATAL_FAILURE(SpawnRelay());
    const std::optional<int> code = relay_->WaitExit(10000);
    ASSERT_TRUE(code.has_value()) << "still running:\n" << relay_->output();
    EXPECT_EQ(*code, 4) << relay_->output();
    EXPECT_TRUE(
        Logged("StormRule 1.3.6.1.4.1.9, PerMinute: 2000000 is not a number of traps per "
               "minute (0 to 1000000)"))
        << relay_->output();
  }
}

TEST_F(StormTest, HoldingBackAllocatesNothing) {
  if (!CountAllocations()) GTEST_SKIP() << kNoAllocationCounter;
  // Two go on per key, the rest are held back for the whole test.
  ASSERT_NO_FATAL_FAILURE(ConfigureStorms({Rule("", 1, 2)}));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  // Eight storming keys, and each round eight new keys that go on.
  int round = 0;
  auto storm = [&] {
    std::vector<Message> burst;
    burst.reserve(72);
    for (int key = 0; key < 8; ++key) {
      for (int n = 0; n < 8; ++n) burst.push_back(LinkDown(key, n));
      burst.push_back(LinkDown(100 + 8 * round + key, 0));
    }
    ++round;
    ASSERT_NO_FATAL_FAILURE(Burst(burst));
    ASSERT_TRUE(Flush().has_value());
  };
  for (int i = 0; i < 2; ++i) ASSERT_NO_FATAL_FAILURE(storm());
  ASSERT_NO_FATAL_FAILURE(ExpectNoAllocationsDuring(
      [&] {
        for (int i = 0; i < 6; ++i) ASSERT_NO_FATAL_FAILURE(storm());
      },
      "holding back traps"));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
