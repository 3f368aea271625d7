// A trap definition made through the window's rules is what TervixSrv wraps with at its next
// start: the definition is added, its pieces picked from a sample and its fields typed as a
// user does, the window is left with "&Exit", and the service then wraps a real trap by it.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "config/tervix_model.h"
#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using config::Field;
using config::FieldKind;

// Answers the Add New dialog with one name and says yes to nothing else.
class AnsweringDialogs : public config::Dialogs {
 public:
  void Inform(const std::string& text, const std::string&, config::Icon) override {
    messages.push_back(text);
  }
  bool AskYesNo(const std::string& text, const std::string&, config::Icon) override {
    messages.push_back(text);
    return false;
  }
  std::optional<std::string> AskNewTrapName() override { return "portDown"; }
  std::optional<std::string> AskSaveFile(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void OpenFile(const std::string&) override {}
  std::vector<std::string> messages;
};

TEST_F(RelayTest, ADefinitionMadeInTheWindowWrapsAtTheNextStart) {
  ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
  AnsweringDialogs dialogs;
  {
    Result<std::unique_ptr<config::TervixModel>> opened =
        config::TervixModel::Open(folder_.string(), dialogs);
    ASSERT_TRUE(opened.ok()) << opened.status().ToString();
    config::TervixModel& window = **opened;
    auto type = [&](const Field& field, const std::string& text) {
      window.FieldEntered(field);
      window.SetText(field, text);
      window.FieldLeft(field);
    };
    window.cmdAdd_Click();
    type({FieldKind::kTrapOID}, "1.3.6.1.4.1.32473.7.20.1");
    type({FieldKind::kTrapSourceVarNo}, "2");
    window.cboTrapNewNumber_Click("1200");
    window.cboTrapNewVarNo_Click("2");
    // "PORT 042 DOWN": the first four characters, then the three after the blank.
    window.SetText({FieldKind::kValToSplit}, "PORT 042 DOWN");
    window.cmdVar_Click(1, 0, 4);
    window.cmdVar_Click(2, 5, 3);
    window.cboVarType_Click(2, "Integer32");
    type({FieldKind::kVarName, 1}, "portName");
    ASSERT_TRUE(window.cmdExit_Click());
  }
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages[0];

  ASSERT_NO_FATAL_FAILURE(StartRelay());
  Send(V2Trap("1.3.6.1.4.1.32473.7.20.1",
              {{"1.3.6.1.2.1.2.2.1.1.7", snmp::kTypeInteger32, "7"},
               {"1.3.6.1.2.1.2.2.1.2.7", snmp::kTypeDisplayString, "PORT 042 DOWN"}}));
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].message.variables,
            (std::vector<Variable>{
                {snmp::kSysUpTime, snmp::kTypeTimeTicks, "987"},
                {snmp::kSnmpTrapOid, snmp::kTypeObjectId, kWrappedTrapPrefix + std::string("1200")},
                {kNewVarPrefix + std::string("1201"), snmp::kTypeDisplayString, "PORT"},
                {kNewVarPrefix + std::string("1202"), snmp::kTypeInteger32, "42"},
                {"1.3.6.1.2.1.2.2.1.1.7", snmp::kTypeInteger32, "7"}}));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
