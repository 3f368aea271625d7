// What the tests of the window's rules share: Dialogs answered from queues, a program folder of
// the test's own with a real Tervix.mdb, and helpers that play the user and the other program.
#ifndef TERVANE_CONFIG_MODEL_TEST_FIXTURE_H_
#define TERVANE_CONFIG_MODEL_TEST_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config/mib_module.h"
#include "config/tervix_model.h"
#include "platform/file.h"
#include "store/store.h"
#include "store/store_test_util.h"

namespace tervane::config::testing {

namespace fs = std::filesystem;

// Runs `sql` on the database file `path` as another program would.
inline int RunSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc;
}

// Answers the window's questions from queues and remembers every message.
class FakeDialogs : public Dialogs {
 public:
  void Inform(const std::string& text, const std::string& title, Icon) override {
    messages.push_back(title + ": " + text);
  }
  bool AskYesNo(const std::string& text, const std::string& title, Icon) override {
    messages.push_back(title + "? " + text);
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  std::optional<std::string> AskNewTrapName() override {
    std::optional<std::string> name;
    if (!names.empty()) {
      name = names.front();
      names.pop_front();
    }
    return name;
  }
  std::optional<std::string> AskSaveFile(const std::string& title,
                                         const std::string& suggested) override {
    messages.push_back(title + "? " + suggested);
    return save_as;
  }
  void OpenFile(const std::string& path) override { opened.push_back(path); }
  // Each station dialog takes the next list of tries, handed to "&OK" one by one until one
  // closes it; when they run out it is cancelled.
  void EditStation(const std::string& title, const StationFields& fields,
                   const StationAccept& accept) override {
    messages.push_back(title + ": " + StationEntry(fields));
    std::vector<StationFields> tries;
    if (!station_tries.empty()) {
      tries = station_tries.front();
      station_tries.pop_front();
    }
    for (const StationFields& t : tries) {
      verdicts.push_back(accept(t));
      if (verdicts.back().close) return;
    }
  }

  std::vector<std::string> TakeMessages() { return std::exchange(messages, {}); }

  std::vector<std::string> messages;
  std::deque<bool> answers;
  std::deque<std::optional<std::string>> names;
  std::optional<std::string> save_as;
  std::vector<std::string> opened;
  std::deque<std::vector<StationFields>> station_tries;
  std::vector<StationVerdict> verdicts;
};

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tervix-model-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ASSERT_TRUE(store::Store::Create(folder_ + "/Tervix.mdb").ok());
    // Page 2 asks the service manager: the built-in one, with an empty registry of our own.
    ASSERT_EQ(setenv("TERVANE_SERVICE_DIR", (folder_ + "/services").c_str(), 1), 0);
  }
  void TearDown() override {
    unsetenv("TERVANE_SERVICE_DIR");
    model_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  store::Store Db() {
    Result<store::Store> db = store::Store::Open(folder_);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    return std::move(*db);
  }
  // Rows as the window adds them, with these names, straight into the database.
  void AddRows(const std::vector<std::string>& names) {
    store::Store db = Db();
    for (const std::string& name : names) {
      store::ColumnValues columns = {{"TrapName", store::Value(name)},
                                     {"TrapOID", store::Value("1.3.6.1.4.1.9.0." + name)},
                                     {"TrapSourceVarNo", store::Value(1)},
                                     {"TrapNewNumber", store::Value(1000)},
                                     {"TrapNewVarNo", store::Value(3)}};
      for (int i = 1; i <= kVarRows; ++i) {
        const std::string n = std::to_string(i);
        columns.emplace_back("VarName" + n, store::Value("var" + n));
        columns.emplace_back("VarPos" + n, store::Value(i));
        columns.emplace_back("VarChar" + n, store::Value(0));
        columns.emplace_back("VarType" + n, store::Value("DisplayString"));
      }
      ASSERT_TRUE(db.AddTrap(columns).ok());
    }
  }
  void OpenModel() {
    Result<std::unique_ptr<TervixModel>> model = TervixModel::Open(folder_, dialogs_);
    ASSERT_TRUE(model.ok()) << model.status().ToString();
    model_ = std::move(*model);
    // No window: its waits need not take time.
    model_->service_page().SetWaitWithEvents([](int) {});
  }
  std::vector<store::TrapRow> Rows() {
    Result<std::vector<store::TrapRow>> rows = Db().ReadTraps();
    EXPECT_TRUE(rows.ok());
    return rows.ok() ? *rows : std::vector<store::TrapRow>();
  }
  store::SettingsRow Settings() {
    Result<store::SettingsRow> row = Db().ReadSettings();
    EXPECT_TRUE(row.ok());
    return row.ok() ? *row : store::SettingsRow();
  }
  // Types `text` into `field` as a user does: focus in, edit, focus out.
  void Type(const Field& field, const std::string& text) {
    model_->FieldEntered(field);
    model_->SetText(field, text);
    model_->FieldLeft(field);
  }

  std::string folder_;
  FakeDialogs dialogs_;
  std::unique_ptr<TervixModel> model_;
};

}  // namespace tervane::config::testing

#endif  // TERVANE_CONFIG_MODEL_TEST_FIXTURE_H_
