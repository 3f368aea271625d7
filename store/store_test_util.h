// What the store's tests share: a temporary folder, a plain SQLite connection that plays the
// other program, a file's permission bits, and a child process that runs as nobody.
#ifndef TERVANE_STORE_STORE_TEST_UTIL_H_
#define TERVANE_STORE_STORE_TEST_UTIL_H_

#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "store/store.h"
#include "tests/run_as_nobody.h"

namespace tervane::store::testing {

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/tervane_store_XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string db() const { return path_ + "/Tervix.mdb"; }

 private:
  std::string path_;
};

// A plain SQLite connection, to build broken files and to play the other program.
class RawDb {
 public:
  explicit RawDb(const std::string& path, int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
    sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    sqlite3_busy_timeout(db_, Store::kBusyTimeoutMs);
  }
  ~RawDb() { sqlite3_close_v2(db_); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  int Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }

  // Every row of a query, each column as text ("NULL" for Null).
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        row.emplace_back(text == nullptr ? "NULL" : reinterpret_cast<const char*>(text));
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

// The permission bits of `path`, or -1 when it cannot be stat'ed.
inline int Mode(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

using tervane::testing::RunAsNobody;

}  // namespace tervane::store::testing

#endif  // TERVANE_STORE_STORE_TEST_UTIL_H_
