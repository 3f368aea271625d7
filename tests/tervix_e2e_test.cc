// The built Tervix on a real X server: Xvfb, started by the test on a display number it picks
// itself (-displayfd), and Tervix on the xcb platform in a program folder of the test's own.
// The window is found by its title and closed by WM_DELETE_WINDOW, as a window manager's
// close box does; the exit status tells how the program ended.
//
// Skipped only when Xvfb is not installed (scripts/install-deps.sh installs it). Every wait
// is bounded, and Tervix and Xvfb are killed when the test ends, whatever happened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "store/store.h"
#include "tests/subprocess.h"
#include "tests/x_display.h"

namespace tervane::testing {
namespace {

constexpr int kWaitMs = 10000;

// The display number that Xvfb -displayfd writes on a line of its own once it accepts
// clients; its warnings share the pipe.
std::optional<std::string> DisplayNumber(const std::string& output) {
  size_t start = 0;
  while (start < output.size()) {
    const size_t end = output.find('\n', start);
    if (end == std::string::npos) break;
    const std::string line = output.substr(start, end - start);
    bool digits = !line.empty();
    for (const char c : line) digits &= std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (digits) return line;
    start = end + 1;
  }
  return std::nullopt;
}

class TervixE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string xvfb = FindProgram("Xvfb");
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(dir_.ok());
    std::string error;
    xvfb_ = Subprocess::Spawn(
        {xvfb, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"}, {}, &error);
    ASSERT_NE(xvfb_, nullptr) << error;
    ASSERT_TRUE(xvfb_->ReadUntil(
        [](const std::string& out) { return DisplayNumber(out).has_value(); }, kWaitMs))
        << "Xvfb did not start:\n"
        << xvfb_->output();
    display_name_ = ":" + *DisplayNumber(xvfb_->output());
    x_ = XDisplay::Open(display_name_);
    ASSERT_NE(x_, nullptr) << "cannot connect to " << display_name_;

    folder_ = dir_.path() / "program";
    std::filesystem::create_directories(folder_);
    // The XDG runtime folder that Qt wants: private to its user.
    std::filesystem::create_directories(dir_.path() / "runtime");
    std::filesystem::permissions(dir_.path() / "runtime", std::filesystem::perms::owner_all);
    std::error_code ec;
    std::filesystem::copy_file(TERVIX_PATH, folder_ / "Tervix", ec);
    ASSERT_FALSE(ec) << "copying " << TERVIX_PATH << ": " << ec.message();
    std::filesystem::permissions(folder_ / "Tervix", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
  }

  void TearDown() override {
    tervix_.reset();  // kills and reaps what still runs
    x_.reset();
    if (xvfb_ && !xvfb_->TryExit()) {
      kill(xvfb_->pid(), SIGTERM);
      xvfb_->WaitExit(5000);
    }
    xvfb_.reset();
  }

  void StartTervix() {
    std::string error;
    tervix_ = Subprocess::Spawn({(folder_ / "Tervix").string()},
                                {"DISPLAY=" + display_name_, "QT_QPA_PLATFORM=xcb",
                                 "XDG_RUNTIME_DIR=" + (dir_.path() / "runtime").string()},
                                &error);
    ASSERT_NE(tervix_, nullptr) << error;
  }

  // Waits until a window titled `title` is mapped, or Tervix has ended, or time is up.
  std::optional<unsigned long> WaitForWindow(const std::string& title) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::optional<unsigned long> window = x_->FindWindow(title)) return window;
      tervix_->Drain();
      if (tervix_->TryExit()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return x_->FindWindow(title);
  }

  // Starts Tervix, which is to show only a message box titled "Tervix" and, once the box is
  // closed, end with status 1.
  void ExplainedThenExitStatusOne() {
    ASSERT_NO_FATAL_FAILURE(StartTervix());
    const std::optional<unsigned long> box = WaitForWindow("Tervix");
    ASSERT_TRUE(box.has_value()) << "windows: " << Titles() << "\nTervix:\n" << tervix_->output();
    EXPECT_FALSE(x_->FindWindow("Tervane 1.10").has_value());
    ASSERT_TRUE(x_->RequestClose(*box));
    const std::optional<int> status = tervix_->WaitExit(kWaitMs);
    ASSERT_TRUE(status.has_value()) << "Tervix did not end:\n" << tervix_->output();
    EXPECT_EQ(*status, 1) << tervix_->output();
  }

  std::string Titles() {
    std::string titles;
    for (const std::string& t : x_->Titles()) titles += "\"" + t + "\" ";
    return titles;
  }

  TempDir dir_;
  std::filesystem::path folder_;
  std::string display_name_;
  std::unique_ptr<Subprocess> xvfb_;
  std::unique_ptr<XDisplay> x_;
  std::unique_ptr<Subprocess> tervix_;
};

TEST_F(TervixE2eTest, WindowShownAndEndedByItsCloseBox) {
  const Status created = store::Store::Create((folder_ / "Tervix.mdb").string());
  ASSERT_TRUE(created.ok()) << created.ToString();
  ASSERT_NO_FATAL_FAILURE(StartTervix());
  const std::optional<unsigned long> window = WaitForWindow("Tervane 1.10");
  ASSERT_TRUE(window.has_value()) << "windows: " << Titles() << "\nTervix:\n" << tervix_->output();
  ASSERT_TRUE(x_->RequestClose(*window));
  const std::optional<int> status = tervix_->WaitExit(kWaitMs);
  ASSERT_TRUE(status.has_value()) << "Tervix did not end on its close box:\n" << tervix_->output();
  EXPECT_EQ(*status, 0) << tervix_->output();
  // Nothing was edited, so nothing was written: the settings are the default row still.
  Result<store::Store> db = store::Store::Open(folder_.string());
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  Result<store::SettingsRow> row = db->ReadSettings();
  ASSERT_TRUE(row.ok()) << row.status().ToString();
  EXPECT_EQ(row->ByName("TrapRecvPort").AsText(), "162");
}

// Without Tervix.mdb the program says why in a message box titled "Tervix", and ends with
// status 1 once the box is closed.
TEST_F(TervixE2eTest, MissingDatabaseExplainedThenExitStatusOne) {
  ASSERT_NO_FATAL_FAILURE(ExplainedThenExitStatusOne());
}

// A Tervix.mdb of a schema version newer than this program reads: the store's message in a box
// titled "Tervix", exit status 1, and the file left at its version.
TEST_F(TervixE2eTest, NewerSchemaExplainedThenExitStatusOne) {
  const std::string path = (folder_ / "Tervix.mdb").string();
  ASSERT_TRUE(store::Store::Create(path).ok());
  auto version = [&path](const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    int value = -1;
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
  };
  version("PRAGMA user_version = 5");
  ASSERT_EQ(version("PRAGMA user_version"), 5);
  ASSERT_NO_FATAL_FAILURE(ExplainedThenExitStatusOne());
  EXPECT_EQ(version("PRAGMA user_version"), 5);
}

}  // namespace
}  // namespace tervane::testing
