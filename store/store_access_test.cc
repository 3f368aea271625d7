// Who may open Tervix.mdb how: the modes of the files the store makes, read-only opens, and a
// user without write access (a child process that becomes nobody), refused for writing and
// reading what it may.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "store/rows.h"
#include "store/store.h"
#include "store/store_test_util.h"
#include "store/value.h"

namespace tervane::store {
namespace {

using testing::Mode;
using testing::RawDb;
using testing::RunAsNobody;
using testing::TempDir;

TEST(Store, CreatedFileAndItsWalFilesAreNotForOthers) {
  const struct group* tervane = getgrnam(kDatabaseGroup);
  for (mode_t mask : {0000, 0022, 0077}) {
    SCOPED_TRACE(mask);
    TempDir dir;
    // The WAL files are made by the first read and write, while the store stays open.
    const mode_t old_mask = umask(mask);
    Status made = Store::Create(dir.db());
    Result<Store> store = made.ok() ? Store::Open(dir.path()) : Result<Store>(made);
    Status written = store.ok() ? store->WriteSettings({{"TrapRecvPort", 2162}}) : store.status();
    umask(old_mask);
    ASSERT_TRUE(written.ok()) << written.ToString();
    for (const std::string& file : {dir.db(), dir.db() + "-wal", dir.db() + "-shm"}) {
      EXPECT_EQ(Mode(file), 0660) << file;
    }
    struct stat info {};
    ASSERT_EQ(stat(dir.db().c_str(), &info), 0);
    if (tervane != nullptr) {
      EXPECT_EQ(info.st_gid, tervane->gr_gid);
    }
  }
}

// In a sticky folder only the folder's owner may remove the -wal and -shm files that root
// made for everyone; there the last connection empties them and leaves them. Elsewhere it
// removes them, as SQLite does.
TEST(Store, LastConnectionLeavesTheWalFilesInPlaceEmptiedInAStickyFolder) {
  for (mode_t folder_mode : {01770, 0770}) {
    SCOPED_TRACE(folder_mode);
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), folder_mode), 0);
    ASSERT_TRUE(Store::Create(dir.db()).ok());
    for (int port : {2162, 2163}) {
      Result<Store> store = Store::Open(dir.path());
      ASSERT_TRUE(store.ok()) << store.status().ToString();
      ASSERT_TRUE(store->WriteSettings({{"TrapRecvPort", port}}).ok());
    }
    struct stat wal {};
    const bool kept = stat((dir.db() + "-wal").c_str(), &wal) == 0;
    EXPECT_EQ(kept, (folder_mode & S_ISVTX) != 0);
    EXPECT_EQ(std::filesystem::exists(dir.db() + "-shm"), kept);
    if (kept) {
      EXPECT_EQ(wal.st_size, 0);
    }
    RawDb raw(dir.db(), SQLITE_OPEN_READONLY);
    EXPECT_EQ(raw.Query("SELECT TrapRecvPort FROM General_Setting"),
              (std::vector<std::vector<std::string>>{{"2163"}}));
  }
}

TEST(Store, ReadOnlyOpenFindsFoldersWhoseNamesNeedEscaping) {
  TempDir dir;
  const std::string relative =
      std::filesystem::relative(dir.path(), std::filesystem::current_path()).string();
  for (const std::string& folder :
       {dir.path() + "/a%41b", dir.path() + "/q?mode=rw#x", dir.path() + "/sp ace;&=+'\"%",
        "/" + dir.path() + "/lead", relative + "/relative", dir.path() + "/\xC3\xA9t\xC3\xA9"}) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    ASSERT_TRUE(Store::Create(folder + "/Tervix.mdb").ok());
    ASSERT_TRUE(Store::Open(folder)->WriteSettings({{"TrapRecvPort", 2162}}).ok());
    Result<Store> reader = Store::Open(folder, Access::kReadOnly);
    ASSERT_TRUE(reader.ok()) << reader.status().ToString();
    EXPECT_EQ(reader->path(), folder + "/Tervix.mdb");
    EXPECT_FALSE(reader->snapshot());
    EXPECT_EQ(reader->ReadSettings()->ByName("TrapRecvPort"), Value(2162));
    EXPECT_EQ(reader->WriteSettings({{"TrapRecvPort", 9}}).error(), SqliteCode(SQLITE_READONLY));
  }
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// What this process finds when it opens the database of `folder` for reading and writing, then
// for reading only, and what it reads and writes through the read-only store: one line each.
std::string OpenBothWays(const std::string& folder) {
  std::ostringstream out;
  const std::set<std::string> before = FolderEntries(folder);
  Status rw = Store::Open(folder).status();  // closed again at once
  out << rw.error() << ": " << rw.description()
      << "\nfolder unchanged: " << (FolderEntries(folder) == before) << "\n";
  Result<Store> ro = Store::Open(folder, Access::kReadOnly);
  out << ro.status().error() << ": " << ro.status().description() << "\n";
  if (!ro.ok()) return out.str();
  Result<std::vector<TrapRow>> traps = ro->ReadTraps();
  out << "snapshot " << ro->snapshot() << ", port "
      << ro->ReadSettings()->ByName("TrapRecvPort").AsText() << ", traps";
  for (const TrapRow& row : *traps) out << " " << row.ByName("TrapName").AsText();
  out << ", write " << ro->WriteSettings({{"TrapRecvPort", 9}}).error() << "\n";
  return out.str();
}

TEST(Store, UserWithoutWriteAccessIsRefusedForWritingAndReadsWhatItMay) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run a child as another user";
  // What the child reports; {db} and {dir} stand for the paths.
  const std::string opened = "tervane 0: \n";
  const std::string unreadable = "errno 13: {db}: Permission denied\n";
  const std::string refused =
      "tervane 3027: the settings database {db} can be read but not "
      "written: ";
  const std::string file_refused = refused + "Permission denied\n";
  const std::string folder_refused =
      refused +
      "this user may not make its -wal and -shm files in the folder {dir} (Permission "
      "denied)\n";
  const std::string kept = "folder unchanged: 1\n";
  const std::string snapshot = "snapshot 1, port 2162, traps linkDown, write sqlite 8\n";
  const std::string latest = "snapshot 0, port 2162, traps linkDown, write sqlite 8\n";
  struct Case {
    const char* name;
    mode_t file, folder;
    mode_t wal;  // 0: no connection open; else one of ours keeps a change in the WAL, this mode
    std::string report;
  };
  const Case cases[] = {
      {"unreadable file", 0660, 0755, 0, unreadable + kept + unreadable},
      {"read-only file and folder", 0664, 0755, 0, file_refused + kept + opened + snapshot},
      {"read-only file and folder, writer open", 0664, 0755, 0664,
       file_refused + kept + opened +
           "snapshot 0, port 3162, traps linkDown linkUp, write sqlite 8\n"},
      {"writer open, WAL unreadable", 0664, 0755, 0660, file_refused + kept + opened + snapshot},
      {"read-only folder", 0666, 0755, 0, folder_refused + kept + opened + snapshot},
      {"read-only file", 0664, 0777, 0, file_refused + kept + opened + latest},
      {"writable file and folder", 0666, 0777, 0, opened + kept + opened + latest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_TRUE(Store::Create(dir.db()).ok());
    {
      Result<Store> store = Store::Open(dir.path());
      ASSERT_TRUE(store.ok()) << store.status().ToString();
      ASSERT_TRUE(store->WriteSettings({{"TrapRecvPort", 2162}}).ok());
      ASSERT_TRUE(store->AddTrap({{"TrapName", "linkDown"}}).ok());
    }
    // Closed by its last connection, the file holds everything and the WAL files are gone.
    ASSERT_FALSE(std::filesystem::exists(dir.db() + "-shm"));
    ASSERT_EQ(chmod(dir.db().c_str(), c.file), 0);
    std::optional<Store> writer;
    if (c.wal != 0) {
      Result<Store> store = Store::Open(dir.path());
      ASSERT_TRUE(store.ok()) << store.status().ToString();
      writer.emplace(std::move(*store));
      ASSERT_TRUE(writer->WriteSettings({{"TrapRecvPort", 3162}}).ok());
      ASSERT_TRUE(writer->AddTrap({{"TrapName", "linkUp"}}).ok());
      EXPECT_EQ(Mode(dir.db() + "-shm"), static_cast<int>(c.file));
      ASSERT_EQ(chmod((dir.db() + "-wal").c_str(), c.wal), 0);
      // The change is in the WAL only: the file alone still holds the old port.
      RawDb file_alone("file:" + dir.db() + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
      ASSERT_EQ(file_alone.Query("SELECT TrapRecvPort FROM General_Setting")[0][0], "2162");
    }
    ASSERT_EQ(chmod(dir.path().c_str(), c.folder), 0);

    std::string report = c.report;
    for (const auto& [key, value] : {std::pair{"{db}", dir.db()}, std::pair{"{dir}", dir.path()}}) {
      for (size_t at; (at = report.find(key)) != std::string::npos;)
        report.replace(at, std::strlen(key), value);
    }
    EXPECT_EQ(RunAsNobody([&] { return OpenBothWays(dir.path()); }), report);
  }
}

}  // namespace
}  // namespace tervane::store
