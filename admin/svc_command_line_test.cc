#include "admin/svc_command_line.h"

#include "admin/svc_command_line_fixture.h"
#include "gtest/gtest.h"

namespace tervane::svc {
namespace {

TEST(SvcCommandLine, AcceptsTheDocumentedFormsAndRefusesTheRest) {
  using C = SvcCommand;
  struct Row {
    std::vector<std::string> args;
    bool ok;
    SvcCommand command = C::kHelp;
    bool wait = false;
    std::string folder{};
    std::string name = "Tervane";
    bool prometheus = false;
    std::string output{};
    std::string file{};
  };
  const std::vector<Row> rows = {
      {{"query"}, true, C::kQuery},
      {{"config", "Other"}, true, C::kConfig, false, "", "Other"},
      {{"delete"}, true, C::kDelete},
      {{"start"}, true, C::kStart},
      {{"start", "--wait"}, true, C::kStart, true},
      {{"stop", "--wait", "Other"}, true, C::kStop, true, "", "Other"},
      {{"unit"}, true, C::kUnit},
      {{"unit", "--folder", "/opt/tervane"}, true, C::kUnit, false, "/opt/tervane"},
      {{"unit", "--folder", "rel", "Other"}, true, C::kUnit, false, "rel", "Other"},
      // An empty NAME is the service manager's to refuse (123), as before the options.
      {{"query", ""}, true, C::kQuery, false, "", ""},
      {{"--help"}, true, C::kHelp},
      {{"-h"}, true, C::kHelp},
      {{"start", "--help"}, true, C::kHelp},
      {{"bogus", "-h"}, true, C::kHelp},
      {{}, false},
      {{"restart"}, false},
      {{"--wait", "start"}, false},
      {{"query", "Tervane", "extra"}, false},
      {{"start", "Tervane", "--wait"}, false},
      {{"start", "--wait", "--wait"}, false},
      {{"query", "--wait"}, false},
      {{"unit", "--wait"}, false},
      {{"stop", "--folder", "/x"}, false},
      {{"unit", "--folder"}, false},
      {{"unit", "--folder", ""}, false},
      {{"unit", "--folder", "/a", "--folder", "/b"}, false},
      {{"query", "--name"}, false},
      {{"query", "-Tervane"}, false},
      {{"stats"}, true, C::kStats},
      {{"stats", "--prometheus", "--output", "t.prom", "--folder", "/f"},
       true,
       C::kStats,
       false,
       "/f",
       "Tervane",
       true,
       "t.prom"},
      {{"stats", "--output", "t.txt"}, true, C::kStats, false, "", "Tervane", false, "t.txt"},
      {{"stats", "Tervane"}, false},
      {{"stats", "--prometheus", "--prometheus"}, false},
      {{"stats", "--output"}, false},
      {{"stats", "--output", ""}, false},
      {{"stats", "--wait"}, false},
      {{"query", "--prometheus"}, false},
      {{"unit", "--output", "x"}, false},
      {{"check"}, true, C::kCheck},
      {{"check", "--folder", "/f", "Other"}, true, C::kCheck, false, "/f", "Other"},
      {{"check", "--wait"}, false},
      {{"export"}, true, C::kExport},
      {{"export", "--folder", "/f", "out.json"},
       true,
       C::kExport,
       false,
       "/f",
       "Tervane",
       false,
       "",
       "out.json"},
      {{"export", "-"}, true, C::kExport, false, "", "Tervane", false, "", "-"},
      {{"export", "a.json", "b.json"}, false},
      {{"export", ""}, false},
      {{"export", "--output", "x"}, false},
      {{"import", "in.json"}, true, C::kImport, false, "", "Tervane", false, "", "in.json"},
      {{"import", "--folder", "/f", "-"}, true, C::kImport, false, "/f", "Tervane", false, "", "-"},
      {{"import"}, false},
      {{"import", "--folder", "/f"}, false},
      {{"import", "-x"}, false},
      {{"query", "-"}, false},
  };
  ParseEachRow(rows, [](const SvcCommandLine& line, const Row& row) {
    EXPECT_EQ(line.command, row.command);
    EXPECT_EQ(line.wait, row.wait);
    EXPECT_EQ(line.folder, row.folder);
    EXPECT_EQ(line.name, row.name);
    EXPECT_EQ(line.prometheus, row.prometheus);
    EXPECT_EQ(line.output, row.output);
    EXPECT_EQ(line.file, row.file);
  });
}

TEST(SvcCommandLine, ExportWithKeysNeedsAFile) {
  struct Row {
    std::vector<std::string> args;
    bool ok;
    bool with_keys = false;
  };
  const std::vector<Row> rows = {
      {{"export", "--with-keys", "keys.json"}, true, true},
      {{"export", "--folder", "/f", "--with-keys", "keys.json"}, true, true},
      {{"export", "keys.json"}, true, false},
      {{"export", "--with-keys"}, false},
      {{"export", "--with-keys", "-"}, false},
      {{"export", "--with-keys", "--with-keys", "k.json"}, false},
      {{"import", "--with-keys", "k.json"}, false},
  };
  ParseEachRow(rows, [](const SvcCommandLine& line, const Row& row) {
    EXPECT_EQ(line.command, SvcCommand::kExport);
    EXPECT_EQ(line.with_keys, row.with_keys);
  });
}

TEST(SvcCommandLine, ParsesTheV3UserAndEngineForms) {
  using A = V3UserAction;
  struct Row {
    std::vector<std::string> args;
    bool ok;
    SvcCommand command = SvcCommand::kV3User;
    A action = A::kList;
    std::string user{};
    std::string engine{};
    std::string auth{};
    std::string priv{};
    std::string set_engine{};
    std::string folder{};
  };
  const std::vector<Row> rows = {
      {{"v3user"}, true},
      {{"v3user", "list", "--folder", "/f"},
       true,
       SvcCommand::kV3User,
       A::kList,
       "",
       "",
       "",
       "",
       "",
       "/f"},
      {{"v3user", "add", "alice"}, true, SvcCommand::kV3User, A::kAdd, "alice"},
      // The options anywhere after the command's word, as storm takes them.
      {{"v3user", "--auth", "sha-256", "add", "alice", "--priv", "AES", "--engine", "80007ed905"},
       true,
       SvcCommand::kV3User,
       A::kAdd,
       "alice",
       "80007ed905",
       "sha-256",
       "AES"},
      {{"v3user", "remove", "bob", "--engine", "0x8000"},
       true,
       SvcCommand::kV3User,
       A::kRemove,
       "bob",
       "0x8000"},
      {{"engine"}, true, SvcCommand::kEngine, A::kList},
      {{"engine", "--set", "80007ed905", "--folder", "/f"},
       true,
       SvcCommand::kEngine,
       A::kList,
       "",
       "",
       "",
       "",
       "80007ed905",
       "/f"},
      // Privacy keys are made with the authentication hash: --priv alone is refused.
      {{"v3user", "add", "alice", "--priv", "AES"}, false},
      {{"v3user", "add"}, false},
      {{"v3user", "add", "alice", "bob"}, false},
      {{"v3user", "list", "alice"}, false},
      {{"v3user", "show"}, false},
      {{"v3user", "add", "alice", "--auth"}, false},
      {{"v3user", "add", "alice", "--auth", ""}, false},
      {{"v3user", "add", "alice", "--auth", "MD5", "--auth", "SHA"}, false},
      {{"v3user", "remove", "bob", "--auth", "MD5"}, false},
      {{"v3user", "list", "--engine", "80007ed905"}, false},
      {{"v3user", "add", "alice", "--set", "80007ed905"}, false},
      {{"v3user", "add", "-alice"}, false},
      {{"v3user", "add", "alice", "--password", "secret12"}, false},
      {{"engine", "--set"}, false},
      {{"engine", "--set", ""}, false},
      {{"engine", "80007ed905"}, false},
      {{"engine", "--engine", "80007ed905"}, false},
      {{"query", "--set", "80007ed905"}, false},
  };
  ParseEachRow(rows, [](const SvcCommandLine& line, const Row& row) {
    EXPECT_EQ(line.command, row.command);
    EXPECT_EQ(line.v3user, row.action);
    EXPECT_EQ(line.user, row.user);
    EXPECT_EQ(line.engine, row.engine);
    EXPECT_EQ(line.auth, row.auth);
    EXPECT_EQ(line.priv, row.priv);
    EXPECT_EQ(line.set_engine, row.set_engine);
    EXPECT_EQ(line.folder, row.folder);
  });
}

}  // namespace
}  // namespace tervane::svc
