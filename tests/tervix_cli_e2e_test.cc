// The built Tervix from a shell without a display: `Tervix --generate-mib [FILE]` writes the
// module that the window's button writes, without starting Qt (which would end the program
// without a display), and fails with a clear message and a non-zero status; `--help` lists the
// options. Each test runs a copy of Tervix in a program folder of its own, whose Tervix.mdb
// holds two definitions with the default variable names (so the module has warnings).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/dialogs.h"
#include "config/mib_module.h"
#include "config/tervix_model.h"
#include "platform/file.h"
#include "store/store.h"
#include "tests/subprocess.h"

namespace tervane::testing {
namespace {

namespace fs = std::filesystem;

// No display of any kind: a QApplication made here could not start.
const std::vector<std::string> kNoDisplay = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"};

class NoDialogs : public config::Dialogs {
 public:
  void Inform(const std::string& text, const std::string&, config::Icon) override {
    messages.push_back(text);
  }
  bool AskYesNo(const std::string&, const std::string&, config::Icon) override { return false; }
  std::optional<std::string> AskNewTrapName() override { return std::nullopt; }
  std::optional<std::string> AskSaveFile(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void OpenFile(const std::string& path) override { opened.push_back(path); }
  std::vector<std::string> messages;
  std::vector<std::string> opened;
};

struct Outcome {
  std::optional<int> status;
  std::string out;
  std::string err;
};

// The text with its LAST-UPDATED value, which must be a stamp, replaced by a mark.
std::string WithoutStamp(const std::string& text) {
  const std::string key = "\r\n    LAST-UPDATED \"";
  const size_t at = text.find(key);
  if (at == std::string::npos || text.size() < at + key.size() + 14) return text;
  const std::string stamp = text.substr(at + key.size(), 14);
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), 12u) << stamp;
  EXPECT_EQ(stamp.substr(12), "Z\"");
  return text.substr(0, at + key.size()) + "{stamp}" + text.substr(at + key.size() + 13);
}

class TervixCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    folder_ = dir_.path() / "program";
    fs::create_directories(folder_);
    std::error_code ec;
    fs::copy_file(TERVIX_PATH, folder_ / "Tervix", ec);
    ASSERT_FALSE(ec) << "copying " << TERVIX_PATH << ": " << ec.message();
    ASSERT_TRUE(store::Store::Create((folder_ / "Tervix.mdb").string()).ok());
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok());
    for (const char* name : {"linkDown", "linkUp"}) {
      store::ColumnValues columns = {{"TrapName", store::Value(name)},
                                     {"TrapOID", store::Value("1.3.6.1.6.3.1.1.5.3")},
                                     {"TrapSourceVarNo", store::Value(1)},
                                     {"TrapNewVarNo", store::Value(1)},
                                     {"TrapNewNumber", store::Value(1000)},
                                     {"VarName1", store::Value("var1")},
                                     {"VarType1", store::Value("DisplayString")}};
      ASSERT_TRUE(db->AddTrap(columns).ok());
    }
  }

  // Runs the program folder's Tervix with `args` in the folder `cwd`, without a display;
  // standard output and standard error apart.
  Outcome Run(const std::vector<std::string>& args, const fs::path& cwd) {
    const std::string err_file = (dir_.path() / "stderr.txt").string();
    std::vector<std::string> argv = {
        "/bin/sh", "-c",         R"(cd "$1" && shift && exec "$@" 2>"$0")",
        err_file,  cwd.string(), (folder_ / "Tervix").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    std::unique_ptr<Subprocess> child = Subprocess::Spawn(argv, kNoDisplay, &error);
    EXPECT_NE(child, nullptr) << error;
    if (!child) return {};
    Outcome outcome;
    outcome.status = child->WaitExit(20000);
    outcome.out = child->output();
    Result<std::string> err = ReadFile(err_file);
    outcome.err = err.ok() ? *err : "";
    return outcome;
  }

  TempDir dir_;
  fs::path folder_;
};

TEST_F(TervixCliTest, WritesWithoutADisplayWhatTheButtonWrites) {
  // The window cannot start here: this is a shell without a display.
  const Outcome window = Run({}, dir_.path());
  ASSERT_TRUE(window.status.has_value());
  EXPECT_NE(*window.status, 0) << window.out << window.err;

  // The button's file, then the command line's in its place and under another name.
  NoDialogs dialogs;
  {
    Result<std::unique_ptr<config::TervixModel>> model =
        config::TervixModel::Open(folder_.string(), dialogs);
    ASSERT_TRUE(model.ok()) << model.status().ToString();
    (*model)->tab1_Click(config::kPageGeneral);
    (*model)->cmdGenerateMIB_Click();
  }
  const fs::path mib = folder_ / "Tervix.mib";
  ASSERT_EQ(dialogs.opened, std::vector<std::string>{mib.string()});
  ASSERT_EQ(dialogs.messages.size(), 1u);
  Result<std::string> button = ReadFile(mib.string());
  ASSERT_TRUE(button.ok());

  const std::vector<std::string> warnings = {
      R"(  Trap "linkUp", variable 1: the name "var1" is declared twice (also by Trap "linkDown", variable 1))"};
  const std::string warned =
      std::string("Tervane: ") + config::kMibWarningsIntro + "\n" + warnings[0] + "\n";
  fs::remove(mib);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    fs::path written;
  };
  const Case cases[] = {
      {"the program folder's Tervix.mib", {"--generate-mib"}, mib},
      {"a file named relative to the current folder",
       {"--generate-mib", "mibs/TERVANE.txt"},
       dir_.path() / "mibs" / "TERVANE.txt"},
  };
  fs::create_directory(dir_.path() / "mibs");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = Run(c.args, dir_.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, c.written.string() + "\n");
    EXPECT_EQ(run.err, warned);
    Result<std::string> text = ReadFile(c.written.string());
    ASSERT_TRUE(text.ok()) << text.status().ToString();
    EXPECT_EQ(WithoutStamp(*text), WithoutStamp(*button));
  }
}

TEST_F(TervixCliTest, FailsClearly) {
  std::ofstream(folder_ / "Tervix.mib") << "previous\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string err;  // what standard error starts with
  };
  const std::string failed = "Tervix: The MIB file could not be written: ";
  const Case cases[] = {
      {"a folder that is a file",
       {"--generate-mib", (folder_ / "Tervix.mdb" / "x.mib").string()},
       1,
       failed + (folder_ / "Tervix.mdb" / "x.mib").string() + ": Not a directory\n"},
      {"a folder in the file's place",
       {"--generate-mib", dir_.path().string()},
       1,
       failed + dir_.path().string() + ": Is a directory\n"},
      {"two files",
       {"--generate-mib", "a.mib", "b.mib"},
       2,
       "Tervix: --generate-mib takes one FILE at most\nUsage: Tervix"},
      {"an empty name",
       {"--generate-mib", ""},
       2,
       "Tervix: --generate-mib: the FILE name is empty\nUsage: Tervix"},
      {"no database",
       {"--generate-mib"},
       1,
       failed + "the settings database " + (folder_ / "Tervix.mdb").string() + " does not exist\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "no database") fs::remove(folder_ / "Tervix.mdb");
    const Outcome run = Run(c.args, folder_);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
    Result<std::string> kept = ReadFile((folder_ / "Tervix.mib").string());
    EXPECT_TRUE(kept.ok() && *kept == "previous\r\n");
  }
}

TEST_F(TervixCliTest, HelpListsTheOptions) {
  for (const char* option : {"--help", "-h"}) {
    const Outcome run = Run({option}, folder_);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--generate-mib [FILE]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("-h, --help"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace tervane::testing
