#include "admin/svc_command_line.h"

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
  for (const Row& row : rows) {
    std::string label;
    for (const std::string& a : row.args) label += "[" + a + "]";
    SCOPED_TRACE(label);
    std::optional<SvcCommandLine> line = ParseSvcCommandLine(row.args);
    ASSERT_EQ(line.has_value(), row.ok);
    if (!line) continue;
    EXPECT_EQ(line->command, row.command);
    EXPECT_EQ(line->wait, row.wait);
    EXPECT_EQ(line->folder, row.folder);
    EXPECT_EQ(line->name, row.name);
    EXPECT_EQ(line->prometheus, row.prometheus);
    EXPECT_EQ(line->output, row.output);
    EXPECT_EQ(line->file, row.file);
  }
}

}  // namespace
}  // namespace tervane::svc
