// TervixSrv end to end: how a definition cuts its source binding into pieces, how the
// wrapped trap orders the bindings, which definitions fail a send, and what a table that
// cannot be loaded whole leaves usable.
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeDisplayString;
using snmp::kTypeInteger32;
using snmp::kTypeObjectId;
using snmp::kTypeTimeTicks;

constexpr char kOid1[] = "1.3.6.1.4.1.32473.7.1.1";
constexpr char kOid2[] = "1.3.6.1.4.1.32473.7.1.2";
constexpr char kOid3[] = "1.3.6.1.4.1.32473.7.1.3";

std::string Oid(int trap, int n) {
  return "1.3.6.1.4.1.32473.7." + std::to_string(trap) + "." + std::to_string(n);
}
std::string NewVar(int number) { return kNewVarPrefix + std::to_string(number); }

// The SNMPv2 head of a wrapped trap numbered `number`, then `vars`.
std::vector<Variable> WrappedV2(int number, std::vector<Variable> vars) {
  std::vector<Variable> all = {
      {snmp::kSysUpTime, kTypeTimeTicks, "987"},
      {snmp::kSnmpTrapOid, kTypeObjectId, kWrappedTrapPrefix + std::to_string(number)}};
  all.insert(all.end(), vars.begin(), vars.end());
  return all;
}

// How many error events name `module` as their sender.
int FailureEvents(const std::vector<std::string>& events, const std::string& module) {
  int n = 0;
  for (const std::string& e : events) n += IsFailureEvent(e, module) ? 1 : 0;
  return n;
}

TEST_F(RelayTest, PiecesAreCutByBytePositionAndFollowedByTheOtherBindings) {
  RelayConfig config;
  config.debug = true;
  config.definitions = {
      // overlaps, a gap, a repeat, a piece past the end and a piece of length 0
      Definition(kOid1, 1,
                 {Piece(1, 3), Piece(4, 3), Piece(8, 5), Piece(11, 2), Piece(3, 0), Piece(2, 3),
                  Piece(1, 3)},
                 1000),
      // a source number above the binding count: empty pieces, every binding follows
      Definition(kOid2, 3, {Piece(1, 4), Piece(2, 2)}, 1100),
      // the source binding in the middle is left out, the others keep their order
      Definition(kOid3, 2, {Piece(1, 2, "Integer32")}, 1200),
      Definition(Oid(1, 4), 1, {}, 1300),
      // a later definition of the same OID is never used
      Definition(kOid1, 1, {Piece(1, 1)}, 3900),
      // a trailing blank belongs to the OID: nothing sent with this OID matches
      Definition(Oid(1, 5) + " ", 1, {Piece(1, 1)}, 1500),
  };
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  const Variable source = {"1.3.6.1.4.1.32473.7.9.1", kTypeDisplayString, "ABCDEFGHIJ"};
  const Variable other = {"1.3.6.1.4.1.32473.7.9.2", kTypeInteger32, "5"};
  struct Case {
    const char* name;
    Message sent;
    std::vector<Variable> expected;
  } const cases[] = {
      {"pieces", V2Trap(kOid1, {source, other}),
       WrappedV2(1000, {{NewVar(1001), kTypeDisplayString, "ABC"},
                        {NewVar(1002), kTypeDisplayString, "DEF"},
                        {NewVar(1003), kTypeDisplayString, "HIJ"},
                        {NewVar(1004), kTypeDisplayString, ""},
                        {NewVar(1005), kTypeDisplayString, ""},
                        {NewVar(1006), kTypeDisplayString, "BCD"},
                        {NewVar(1007), kTypeDisplayString, "ABC"},
                        other})},
      {"source above the count", V2Trap(kOid2, {source, other}),
       WrappedV2(1100, {{NewVar(1101), kTypeDisplayString, ""},
                        {NewVar(1102), kTypeDisplayString, ""},
                        source,
                        other})},
      {"source in the middle",
       V2Trap(kOid3, {other,
                      {"1.3.6.1.4.1.32473.7.9.3", kTypeDisplayString, "42 apples"},
                      source,
                      {"1.3.6.1.4.1.32473.7.9.4", kTypeObjectId, "1.3.6.1.4.1.32473"}}),
       WrappedV2(1200, {{NewVar(1201), kTypeInteger32, "42"},
                        other,
                        source,
                        {"1.3.6.1.4.1.32473.7.9.4", kTypeObjectId, "1.3.6.1.4.1.32473"}})},
      {"no new variables", V2Trap(Oid(1, 4), {source, other}), WrappedV2(1300, {other})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Send(c.sent);
    const std::optional<std::vector<Received>> got = Flush();
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 1u);
    EXPECT_EQ((*got)[0].message.kind, snmp::kKindTrapV2);
    EXPECT_EQ((*got)[0].message.variables, c.expected);
  }
  // Not matched because of the blank: passed on unchanged.
  const Message unmatched = V2Trap(Oid(1, 5), {source});
  Send(unmatched);
  std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].message.variables, unmatched.variables);

  // The record numbers the bindings as they follow each other in the wrapped trap.
  const std::optional<std::vector<std::string>> record =
      Record(FileLines("Debug.txt"), kWrappedHeader, 2);
  ASSERT_TRUE(record.has_value());
  EXPECT_TRUE(LinesMatch(
      *record, ExpectedDump(kWrappedHeader,
                            {"SNMPv2Trap", kWrappedTrapPrefix + std::string("1200"), "0.0.0.0",
                             "127.0.0.1", "public", "987"},
                            {{NewVar(1201), kTypeInteger32, "42"},
                             other,
                             source,
                             {"1.3.6.1.4.1.32473.7.9.4", kTypeObjectId, "1.3.6.1.4.1.32473"}})));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// A definition with a piece position below 1 or a negative length, or whose piece does not fit its
// type, fails the send: an error event names the sender and nothing is sent, not even unwrapped.
TEST_F(RelayTest, BrokenDefinitionsFailTheSendWithAnErrorEvent) {
  for (const bool convert : {false, true}) {
    SCOPED_TRACE(convert ? "converting" : "not converting");
    const std::string module = convert ? "SendTrapWrappedAndConvToV1" : "SendTrapWrapped";
    RelayConfig config;
    config.debug = true;
    config.convert = convert;
    config.definitions = {
        Definition(Oid(2, 1), 1, {Piece(1, 3), Piece(0, 3)}, 1000),  // position 0
        Definition(Oid(2, 2), 21, {Piece(1, 3)}, 1100),              // source 21
        Definition(Oid(2, 3), 1, {Piece(2, -1)}, 1200),              // negative length
        Definition(Oid(2, 4), 1, {Piece(1, 3, "Integer32")}, 1300),  // "ABC" is no number
    };
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(StartRelay());
    const Variable source = {"1.3.6.1.4.1.32473.7.9.1", kTypeDisplayString, "ABCDEFGHIJ"};
    for (int n = 1; n <= 4; ++n) {
      SCOPED_TRACE(Oid(2, n));
      Send(V2Trap(Oid(2, n), {source}));
      ASSERT_TRUE(WaitLogged("(Module: " + module + ")\n")) << relay_->output();
      const std::optional<std::vector<Received>> got = Flush();
      ASSERT_TRUE(got.has_value());
      EXPECT_TRUE(got->empty()) << "sent " << got->size() << " traps";
      EXPECT_EQ(FailureEvents(Events(), module), n) << relay_->output();
    }
    // Only the send of the Integer32 piece failed after its record was written; no failure
    // here leaves a record in Debug-Error.txt.
    EXPECT_EQ(CountRecords(FileLines("Debug.txt"), kWrappedHeader), 1);
    EXPECT_FALSE(ReadProgramFile("Debug-Error.txt").has_value());
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    relay_.reset();
    received_.clear();
  }
}

// 31 rows: slots 1 to 30 are loaded and used, the 31st row is not, the failure is an error
// event of ReadSnmpTrapDB, and no definition record is written.
TEST_F(RelayTest, ThirtyFirstDefinitionFailsTheLoadButKeepsThirty) {
  RelayConfig config;
  config.debug = true;
  for (int k = 1; k <= 31; ++k) {
    config.definitions.push_back(
        Definition(Oid(3, k), 1, {Piece(1, 3)}, 1000 + (k - 1) % 30 * 100));
  }
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  EXPECT_EQ(FailureEvents(Events(), "ReadSnmpTrapDB"), 1) << relay_->output();

  const Variable source = {"1.3.6.1.4.1.32473.7.9.1", kTypeDisplayString, "ABCDEF"};
  for (int k : {1, 30, 31}) Send(V2Trap(Oid(3, k), {source}));
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 3u);
  EXPECT_EQ((*got)[0].message.variables,
            WrappedV2(1000, {{NewVar(1001), kTypeDisplayString, "ABC"}}));
  EXPECT_EQ((*got)[1].message.variables,
            WrappedV2(3900, {{NewVar(3901), kTypeDisplayString, "ABC"}}));
  EXPECT_EQ((*got)[2].message.variables, V2Trap(Oid(3, 31), {source}).variables);

  const std::vector<std::string> lines = FileLines("Debug.txt");
  EXPECT_EQ(CountRecords(lines, kTrapDbHeader), 0);
  EXPECT_EQ(CountRecords(lines, "Trap Server Started"), 1);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// TrapNewVarNo 15 in row 2: row 1 is loaded, row 3 is not, and the load reports its failure.
// Row 2 is loaded as far as it goes, but a trap it matches cannot be wrapped as it says:
// the send fails with an error event.
TEST_F(RelayTest, FifteenNewVariablesStopTheLoadAtThatRow) {
  RelayConfig config;
  config.debug = true;
  std::vector<Piece> fourteen;
  for (int n = 1; n <= 14; ++n) fourteen.emplace_back(n, 1);
  config.definitions = {Definition(Oid(4, 1), 1, {Piece(1, 3)}, 1000),
                        Definition(Oid(4, 2), 1, fourteen, 1100, 15),
                        Definition(Oid(4, 3), 1, {Piece(1, 3)}, 1200)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  EXPECT_EQ(FailureEvents(Events(), "ReadSnmpTrapDB"), 1) << relay_->output();

  const Variable source = {"1.3.6.1.4.1.32473.7.9.1", kTypeDisplayString, "ABCDEF"};
  Send(V2Trap(Oid(4, 1), {source}));
  Send(V2Trap(Oid(4, 2), {source}));
  Send(V2Trap(Oid(4, 3), {source}));
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 2u);
  EXPECT_EQ((*got)[0].message.variables,
            WrappedV2(1000, {{NewVar(1001), kTypeDisplayString, "ABC"}}));
  EXPECT_EQ((*got)[1].message.variables, V2Trap(Oid(4, 3), {source}).variables);
  EXPECT_EQ(FailureEvents(Events(), "SendTrapWrapped"), 1) << relay_->output();
  EXPECT_EQ(CountRecords(FileLines("Debug.txt"), kTrapDbHeader), 0);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
