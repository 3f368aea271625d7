// The generated MIB module against the tools of the field: smilint finds nothing to report in
// a sound module loaded with VANTREL-ROOT-MIB (and reports what the warning list names in an
// unsound one), net-snmp's snmptranslate resolves every name to the OID that the service
// sends, and snmptrapd, loading both modules, names a trap that TervixSrv has wrapped.
//
// Debian ships no IETF base modules: tests/testdata/mib/smi/ holds stand-ins for SNMPv2-SMI
// and SNMPv2-TC with what the two modules import. Each test copies them, with the program
// folder's VANTREL-ROOT-MIB as the build laid it out, into a MIB folder of its own, and writes
// Tervix.mib there.
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/mib_module.h"
#include "gtest/gtest.h"
#include "platform/file.h"
#include "service/relay/definitions.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

namespace fs = std::filesystem;

// The names of one definition: the notification's, then its variables'.
struct Names {
  std::string trap;
  std::vector<std::string> vars;
};

// The demo's definition (linkDown cut into "PORT" and "042"), one with each of the seven
// syntaxes, and one without variables, whose notification has no OBJECTS clause.
RelayConfig SoundConfig() {
  RelayConfig config;
  config.definitions = {
      Definition("1.3.6.1.6.3.1.1.5.3", 2, {{1, 4}, {6, 3, "Integer32"}}, 1000),
      Definition("1.3.6.1.4.1.32473.7.0.2", 1,
                 {{1, 1, "Integer32"},
                  {1, 1, "DisplayString"},
                  {1, 1, "OBJECT IDENTIFIER"},
                  {1, 1, "IpAddress"},
                  {1, 1, "Counter32"},
                  {1, 1, "Gauge32"},
                  {1, 1, "TimeTicks"}},
                 1100),
      Definition("1.3.6.1.4.1.32473.7.0.3", 1, {}, 1200),
  };
  return config;
}

const std::vector<Names> kSoundNames = {
    {"linkDown", {"portName", "portNumber"}},
    {"allTypes", {"anInteger", "aString", "anOid", "anAddress", "aCounter", "aGauge", "someTicks"}},
    {"bare", {}},
};

class MibModuleTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    mibs_ = dir_.path() / "mibs";
    fs::create_directories(mibs_);
    std::error_code ec;
    for (const char* name : {"SNMPv2-SMI", "SNMPv2-TC"}) {
      fs::copy_file(fs::path(TERVANE_TESTDATA_DIR) / "mib" / "smi" / name, mibs_ / name, ec);
      ASSERT_FALSE(ec) << name << ": " << ec.message();
    }
    fs::copy_file(fs::path(TERVANE_PROGRAM_DIR) / "VANTREL-ROOT-MIB", mibs_ / "VANTREL-ROOT-MIB",
                  ec);
    ASSERT_FALSE(ec) << "the program folder's VANTREL-ROOT-MIB: " << ec.message();
  }

  // Stores `config` with the definitions named `names`, and generates Tervix.mib from it into
  // the MIB folder. Returns the warning list.
  std::vector<std::string> Generate(const RelayConfig& config, const std::vector<Names>& names) {
    Configure(config);
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return {};
    Result<std::vector<store::TrapRow>> rows = db->ReadTraps();
    EXPECT_TRUE(rows.ok() && rows->size() == names.size());
    for (size_t k = 0; rows.ok() && k < rows->size() && k < names.size(); ++k) {
      store::ColumnValues columns = {{"TrapName", store::Value(names[k].trap)}};
      for (size_t i = 0; i < names[k].vars.size(); ++i) {
        columns.emplace_back("VarName" + std::to_string(i + 1), store::Value(names[k].vars[i]));
      }
      const Status renamed =
          db->UpdateTrap((*rows)[k].rowid(), (*rows)[k].ByName("TrapName"), columns);
      EXPECT_TRUE(renamed.ok()) << renamed.ToString();
    }
    Result<std::vector<std::string>> warnings =
        config::GenerateMibFile(folder_.string(), (mibs_ / "Tervix.mib").string());
    EXPECT_TRUE(warnings.ok()) << warnings.status().ToString();
    return warnings.ok() ? *warnings : std::vector<std::string>();
  }

  // Runs a tool of the field with `args` and returns its exit status and output.
  static std::optional<int> Run(const std::string& tool, std::vector<std::string> args,
                                const std::vector<std::string>& env, std::string* output) {
    const std::string path = FindProgram(tool);
    EXPECT_FALSE(path.empty()) << tool << " is not installed (scripts/install-deps.sh)";
    if (path.empty()) return std::nullopt;
    args.insert(args.begin(), path);
    std::string error;
    std::unique_ptr<Subprocess> child = Subprocess::Spawn(args, env, &error);
    EXPECT_NE(child, nullptr) << error;
    if (!child) return std::nullopt;
    const std::optional<int> status = child->WaitExit(20000);
    *output = child->output();
    return status;
  }

  // smilint's reports of severity 0 to 2 (errors) on VANTREL-ROOT-MIB and Tervix.mib, searching
  // modules in the MIB folder alone. The root comes first: smilint reports nothing about a module
  // it has loaded only because another one imports it.
  std::string Smilint() {
    std::string output;
    const std::optional<int> status =
        Run("smilint",
            {"-c", "/dev/null", "-l", "2", "-s", (mibs_ / "VANTREL-ROOT-MIB").string(),
             (mibs_ / "Tervix.mib").string()},
            {"SMIPATH=" + mibs_.string(), "HOME=" + dir_.path().string()}, &output);
    EXPECT_TRUE(status.has_value()) << "smilint did not end";
    return output;
  }

  // Options that make net-snmp's tools load the generated module from the MIB folder alone.
  std::vector<std::string> MibOptions() const {
    return {"-M", mibs_.string(), "-m", "VANTREL-TERVANE-MIB"};
  }

  fs::path mibs_;
};

TEST_F(MibModuleTest, SmilintReportsNothingInASoundModule) {
  EXPECT_EQ(Generate(SoundConfig(), kSoundNames), std::vector<std::string>());
  EXPECT_EQ(Smilint(), "");
  // The root module is checked too: a fault in it is reported.
  Result<std::string> root = ReadFile((mibs_ / "VANTREL-ROOT-MIB").string());
  ASSERT_TRUE(root.ok());
  const size_t status = root->find("STATUS  current");
  ASSERT_NE(status, std::string::npos);
  std::ofstream((mibs_ / "VANTREL-ROOT-MIB").string())
      << root->substr(0, status) << "STATUS  currant" << root->substr(status + 15);
  EXPECT_NE(Smilint().find("VANTREL-ROOT-MIB:"), std::string::npos);
}

// What the warning list names is what smilint rejects: so the quiet run above is smilint's
// verdict, not its silence.
TEST_F(MibModuleTest, SmilintRejectsWhatTheWarningsList) {
  struct Case {
    const char* name;
    std::vector<Names> names;
    const char* report;
  };
  const Case cases[] = {
      {"the default names twice",
       {{"linkDown", {"var1", "var2"}}, {"allTypes", {"var1"}}, {"bare", {}}},
       "redefinition of identifier `var1'"},
      {"a capital letter", {{"LinkDown", {"a", "b"}}, {"c", {"d"}}, {"e", {}}}, "`LinkDown'"},
      {"an underscore", {{"link", {"a_b", "c"}}, {"d", {"e"}}, {"f", {}}}, "`a_b'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelayConfig config = SoundConfig();
    std::vector<Piece>& pieces = config.definitions[1].pieces;
    pieces.erase(pieces.begin() + static_cast<long>(c.names[1].vars.size()), pieces.end());
    EXPECT_FALSE(Generate(config, c.names).empty());
    EXPECT_NE(Smilint().find(c.report), std::string::npos);
  }
}

TEST_F(MibModuleTest, SnmptranslateResolvesEveryNameToTheOidTheServiceSends) {
  ASSERT_TRUE(Generate(SoundConfig(), kSoundNames).empty());
  Result<store::Store> db = store::Store::Open(folder_.string());
  ASSERT_TRUE(db.ok());
  Result<std::vector<store::TrapRow>> rows = db->ReadTraps();
  ASSERT_TRUE(rows.ok());
  relay::DefinitionTable table;
  ASSERT_TRUE(relay::LoadDefinitions(*rows, table).ok());

  std::vector<std::pair<std::string, std::string>> expected;  // name, OID sent
  for (size_t k = 0; k < kSoundNames.size(); ++k) {
    const relay::TrapDefinition& d = table[k + 1];
    expected.emplace_back(kSoundNames[k].trap, relay::kWrappedTrapPrefix + d.TrapNewNumber);
    ASSERT_EQ(d.TrapNewVarNo, static_cast<int>(kSoundNames[k].vars.size()));
    for (size_t i = 0; i < kSoundNames[k].vars.size(); ++i) {
      expected.emplace_back(kSoundNames[k].vars[i], d.NewVarOid[i + 1]);
    }
  }
  ASSERT_EQ(expected.size(), 12u);
  for (const auto& [name, oid] : expected) {
    std::vector<std::string> args = MibOptions();
    args.insert(args.end(), {"-On", "VANTREL-TERVANE-MIB::" + name});
    std::string output;
    EXPECT_EQ(Run("snmptranslate", args, Env(), &output), 0) << output;
    // The answer is the last line; a first run may say before it that it made a folder.
    const std::vector<std::string> lines = snmp::Split(output, "\n");
    EXPECT_TRUE(lines.size() >= 2 && lines.back().empty()) << output;
    EXPECT_EQ(lines.size() >= 2 ? lines[lines.size() - 2] : "", "." + oid) << name;
  }
}

// The demo's trap: TervixSrv wraps linkDown and snmptrapd, with both modules loaded, prints the
// notification and its variables by their names.
TEST_F(MibModuleTest, SnmptrapdNamesTheWrappedTrap) {
  ASSERT_TRUE(Generate(SoundConfig(), kSoundNames).empty());
  uint16_t port = 0;
  std::vector<std::string> options = MibOptions();
  options.emplace_back("-n");
  std::unique_ptr<Subprocess> trapd =
      StartTrapd("disableAuthorization yes\nformat2 V2|%V~%v|END\\n\n", options, &port);
  ASSERT_NE(trapd, nullptr);
  ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapForwPort", store::Value(static_cast<int>(port))));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  Send(V2Trap("1.3.6.1.6.3.1.1.5.3",
              {{"1.3.6.1.2.1.2.2.1.1.7", snmp::kTypeInteger32, "7"},
               {"1.3.6.1.2.1.2.2.1.2.7", snmp::kTypeDisplayString, "PORT 042 DOWN"}}));
  ASSERT_TRUE(trapd->ReadUntil(
      [](const std::string& out) { return out.find("|END\n") != std::string::npos; }, 10000))
      << trapd->output();
  const std::string& out = trapd->output();
  const size_t start = out.find("V2|");
  ASSERT_NE(start, std::string::npos) << out;
  const std::vector<std::string> bindings =
      snmp::Split(out.substr(start + 3, out.find("|END\n", start) - start - 3), "~");
  ASSERT_EQ(bindings.size(), 5u) << out;
  // snmpTrapOID.0 itself is in SNMPv2-MIB, which is not loaded: its value is what counts.
  EXPECT_TRUE(bindings[1].ends_with(".6.3.1.1.4.1.0 = OID: VANTREL-TERVANE-MIB::linkDown")) << out;
  EXPECT_EQ(bindings[2], "VANTREL-TERVANE-MIB::portName = STRING: PORT") << out;
  EXPECT_EQ(bindings[3], "VANTREL-TERVANE-MIB::portNumber = INTEGER: 42") << out;
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
